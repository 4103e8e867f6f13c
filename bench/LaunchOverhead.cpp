// Launch overhead: the whole-process time of a packaged launcher up to its call of
// JNI_CreateJavaVM (the jvm.dll ends the process there), run as a service, against
// an empty program and a minimal service. The jvm.dll is the one that does nothing
// but end the process: loading the strict stand-in (a C++ runtime and JNI tables
// of test machinery) is no work of the launcher's. ZANTO_BENCH_FULL_STANDIN=1
// measures with the strict stand-in instead.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "BlockWriter.h"
#include "JavaHomeFixture.h"
#include "Settings.h"

using namespace zanto;
using namespace zanto::fixture;

namespace {

using bench::nowMs;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double runProcess(const std::wstring& exe) { return bench::processMs(L"\"" + exe + L"\""); }

DWORD lastWin32ExitCode;

// From StartService to the end of the service's process. The stand-in ends the
// launcher's process inside JNI_CreateJavaVM, before any stop is reported.
double runService(SC_HANDLE service) {
  double start = nowMs();
  if (!StartServiceA(service, 0, nullptr)) return -1;
  SERVICE_STATUS_PROCESS status{};
  DWORD need = 0;
  HANDLE process = nullptr;
  while (!process && nowMs() - start < 30000) {
    if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                             &need) &&
        status.dwProcessId) {
      process = OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId);
      if (!process) break;  // already gone
    } else if (status.dwCurrentState == SERVICE_STOPPED && nowMs() - start > 5) {
      break;
    }
  }
  if (process) {
    WaitForSingleObject(process, 30000);
    CloseHandle(process);
  }
  double took = nowMs() - start;
  // Let the control manager notice the end before the next start.
  for (int i = 0; i < 3000; ++i) {
    QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status, &need);
    if (status.dwCurrentState == SERVICE_STOPPED) break;
    Sleep(1);
  }
  lastWin32ExitCode = status.dwWin32ExitCode;
  return took;
}

SC_HANDLE createService(SC_HANDLE manager, const char* name, const std::wstring& exe) {
  SC_HANDLE old = OpenServiceA(manager, name, DELETE);
  if (old) {
    DeleteService(old);
    CloseServiceHandle(old);
  }
  std::string path = "\"" + narrow(exe) + "\"";
  return CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                        SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(3, atoi(argv[1])) : 21;
  TempDirectory dir(L"bench-launch");
  JavaHome jdk(dir / L"jdk");
  jdk.addJava();
  const char* full = std::getenv("ZANTO_BENCH_FULL_STANDIN");
  if (full && std::strcmp(full, "1") == 0) {
    jdk.addJvm(L"bin", L"client");
    jdk.setJvmControl(L"bin", L"client", "end_at_create=0\n");
  } else {
    jdk.addJvm(L"bin", L"client", JvmKind::EndsAtCreate);
  }
  BlockModel model;
  model.narrow[setting::ApplicationName] = "zanto-bench-launcher";
  model.narrow[setting::JvmSearchSequence] = "A" + narrow(jdk.root());
  model.narrow[setting::MinJavaVersion] = "1.6";
  // As zanto-pack writes them: the start protocol and the executable's folder.
  model.narrow[setting::StartPending] = "1";
  model.narrow[setting::WorkingDirectory] = ".";
  // ZANTO_BENCH_OUTPUT_LOG=1: with an output log, whose folder checks run at each start.
  const char* withLog = std::getenv("ZANTO_BENCH_OUTPUT_LOG");
  if (withLog && std::strcmp(withLog, "1") == 0) model.narrow[setting::OutputLog] = "logs\\out.log";
  Bytes launcher;
  std::string error;
  const std::wstring exe = dir / L"launcher.exe";
  if (!readFileBytes(std::filesystem::path(fromTests(ZANTO_LAUNCHER_FROM_TESTS)), launcher, error) ||
      !writeLauncherCopy(launcher, model, std::filesystem::path(exe), error)) {
    std::fprintf(stderr, "cannot make the launcher copy: %s\n", error.c_str());
    return 2;
  }
  const std::wstring empty = testProgramDirectory() + L"\\bench_empty_program.exe";
  const std::wstring minimal = testProgramDirectory() + L"\\bench_minimal_service.exe";

  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE launcherService = manager ? createService(manager, "zanto-bench-launcher", exe) : nullptr;
  SC_HANDLE minimalService = manager ? createService(manager, "zanto-bench-minimal", minimal) : nullptr;
  if (!launcherService || !minimalService) {
    std::fprintf(stderr, "cannot create the services (%lu)\n", GetLastError());
    return 2;
  }
  // Warm-up: the first run fills the version cache and the file cache.
  runService(launcherService);
  runService(minimalService);
  runProcess(empty);

  // Each round times both services back to back, in turns first, and the ratio is
  // the median of the rounds' own ratios: a slow stretch of the machine (the
  // control manager, the wine server, a neighbour on the host) then weighs on both
  // sides of a round instead of on whichever side it happened to fall.
  std::vector<double> tLauncher, tMinimal, tEmpty, ratios;
  DWORD launcherExit = 0;
  for (int i = 0; i < rounds; ++i) {
    double launcher = 0, minimal = 0;
    for (int turn = 0; turn < 2; ++turn) {
      const bool ours = (turn == 0) == (i % 2 == 0);
      const double took = runService(ours ? launcherService : minimalService);
      if (took < 0) {
        std::fprintf(stderr, "cannot start the %s service (%lu)\n", ours ? "launcher" : "minimal", GetLastError());
        return 1;
      }
      if (ours && !launcherExit) launcherExit = lastWin32ExitCode;
      (ours ? launcher : minimal) = took;
    }
    tLauncher.push_back(launcher);
    tMinimal.push_back(minimal);
    ratios.push_back(launcher / minimal);
    tEmpty.push_back(runProcess(empty));
  }
  // Only the warm-up may have run java.exe -version; a launcher that failed before
  // JNI_CreateJavaVM would have reported Win32 exit code 1 itself.
  const bool cacheWarm = jdk.javaCalls().size() <= 1;
  double launcherMs = median(tLauncher), minimalMs = median(tMinimal), emptyMs = median(tEmpty);
  std::printf("rounds: %d (median ms)\n", rounds);
  std::printf("launcher service up to JNI_CreateJavaVM: %.1f\n", launcherMs);
  std::printf("minimal service:                         %.1f\n", minimalMs);
  std::printf("empty program (process):                 %.1f\n", emptyMs);
  std::printf("ratio launcher / minimal service:        %.3f (median of the rounds' ratios; aim <= 1.10)\n",
              median(ratios));
  std::printf("ratio of the medians:                    %.3f\n", launcherMs / minimalMs);
  std::printf("version cache warm: %s (java.exe runs: %zu); launcher's Win32 exit code: %lu\n",
              cacheWarm ? "yes" : "no", jdk.javaCalls().size(), launcherExit);
  DeleteService(launcherService);
  DeleteService(minimalService);
  // A launcher that failed before JNI_CreateJavaVM measured something else.
  if (launcherExit != 0) {
    std::fprintf(stderr, "the launcher did not reach JNI_CreateJavaVM (Win32 exit code %lu)\n", launcherExit);
    return 1;
  }
  return 0;
}

// Stop latency: from the stop request to the service reported stopped, for an
// application whose main has returned and for one whose main still blocks
// (stopped from another thread), against the stand-in's own exit (the
// application calling System.exit(0) itself, from that call to stopped) and the
// control manager's own share (a minimal service that reports stopped at once).
#include <windows.h>

#include <algorithm>
#include <cstdio>
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

constexpr char kName[] = "zanto-bench-stop";
constexpr char kMainCalled[] = "call [com/zanto/runtime/WinLauncher] [main]";

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

DWORD state(SC_HANDLE service, DWORD* win32ExitCode = nullptr) {
  SERVICE_STATUS status{};
  if (!QueryServiceStatus(service, &status)) return 0;
  if (win32ExitCode) *win32ExitCode = status.dwWin32ExitCode;
  return status.dwCurrentState;
}

// Polls (1 ms) until the service is stopped; the time at that moment.
double stoppedAt(SC_HANDLE service, DWORD* win32ExitCode) {
  double start = nowMs();
  while (state(service, win32ExitCode) != SERVICE_STOPPED && nowMs() - start < 60000) Sleep(1);
  return nowMs();
}

bool waitForRecord(const JavaHome& jdk, const char* line, double limitMs = 30000) {
  double start = nowMs();
  while (nowMs() - start < limitMs) {
    if (jdk.jvmRecord(L"bin", L"client").count(line)) return true;
    Sleep(1);
  }
  return false;
}

struct Scenario {
  const char* what;
  const char* control;
  const char* readyLine;  // the record line after which the stop comes
  bool byStop;            // false: the application's own System.exit(0)
};

// One run: -1 when something did not happen as planned.
double runOnce(SC_HANDLE service, const JavaHome& jdk, const Scenario& s, DWORD* win32ExitCode) {
  DeleteFileW(jdk.jvmRecordPath(L"bin", L"client").c_str());
  if (!StartServiceA(service, 0, nullptr)) return -1;
  if (!waitForRecord(jdk, s.readyLine)) return -1;
  double start;
  if (s.byStop) {
    Sleep(50);  // the launcher is past the line: waiting for a stop, or inside main
    start = nowMs();
    SERVICE_STATUS status;
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) return -1;
  } else {
    if (!waitForRecord(jdk, "exit 0 application")) return -1;
    start = nowMs();
  }
  return stoppedAt(service, win32ExitCode) - start;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(3, atoi(argv[1])) : 11;
  TempDirectory dir(L"bench-stop");
  JavaHome jdk(dir / L"jdk");
  jdk.addJava();
  jdk.addJvm(L"bin", L"client");
  writeJar(dir / L"rt.jar", {"com/zanto/runtime/WinLauncher"});
  BlockModel model;
  model.narrow[setting::ApplicationName] = kName;
  model.narrow[setting::JvmSearchSequence] = "A" + narrow(jdk.root());
  model.narrow[setting::MinJavaVersion] = "1.6";
  model.narrow[setting::ClassPath] = "A1" + narrow(dir / L"rt.jar");
  Bytes launcher;
  std::string error;
  const std::wstring exe = dir / L"service.exe";
  if (!readFileBytes(std::filesystem::path(fromTests(ZANTO_LAUNCHER_FROM_TESTS)), launcher, error) ||
      !writeLauncherCopy(launcher, model, std::filesystem::path(exe), error)) {
    std::fprintf(stderr, "cannot make the launcher copy: %s\n", error.c_str());
    return 2;
  }
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE old = manager ? OpenServiceA(manager, kName, DELETE) : nullptr;
  if (old) {
    DeleteService(old);
    CloseServiceHandle(old);
  }
  const std::string path = "\"" + narrow(exe) + "\"";
  SC_HANDLE service = manager ? CreateServiceA(manager, kName, kName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                               SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path.c_str(), nullptr,
                                               nullptr, nullptr, nullptr, nullptr)
                              : nullptr;
  if (!service) {
    std::fprintf(stderr, "cannot create the service (%lu)\n", GetLastError());
    return 2;
  }
  const Scenario scenarios[] = {
      {"main returned, stop    ", "main=return\n", "ExceptionOccurred", true},
      {"main blocks, stop      ", "main=block\nmain_delay_ms=600000\n", kMainCalled, true},
      {"stand-in's own exit(0) ", "main=exit-later\nmain_delay_ms=300\nmain_exit_code=0\n", "ExceptionOccurred", false},
  };
  const std::string minimalPath = "\"" + narrow(testProgramDirectory() + L"\\bench_minimal_service.exe") + "\" wait";
  SC_HANDLE oldMinimal = OpenServiceA(manager, "zanto-bench-stop-minimal", DELETE);
  if (oldMinimal) {
    DeleteService(oldMinimal);
    CloseServiceHandle(oldMinimal);
  }
  SC_HANDLE minimal = CreateServiceA(
      manager, "zanto-bench-stop-minimal", "zanto-bench-stop-minimal", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
      SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, minimalPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  if (!minimal) {
    std::fprintf(stderr, "cannot create the minimal service (%lu)\n", GetLastError());
    return 2;
  }
  std::vector<double> roundTrips;
  for (int i = 0; i <= rounds; ++i) {
    if (!StartServiceA(minimal, 0, nullptr)) return 2;
    double start = nowMs();
    while (state(minimal) != SERVICE_RUNNING && nowMs() - start < 30000) Sleep(1);
    Sleep(50);
    start = nowMs();
    SERVICE_STATUS status;
    if (!ControlService(minimal, SERVICE_CONTROL_STOP, &status)) return 2;
    DWORD exitCode = 0;
    double took = stoppedAt(minimal, &exitCode) - start;
    if (i > 0) roundTrips.push_back(took);  // the first one warms up
    Sleep(100);                             // the process ends after its report
  }
  DeleteService(minimal);
  const double roundTrip = median(roundTrips);

  std::printf("rounds: %d (median ms, stop request or System.exit to stopped)\n", rounds);
  std::printf("control manager round trip (minimal service) %.1f\n", roundTrip);
  // Interleaved, round by round, so that a change of the machine's load falls on
  // every scenario alike.
  std::vector<double> times[3];
  for (int i = 0; i <= rounds; ++i) {
    for (int k = 0; k < 3; ++k) {
      const Scenario& s = scenarios[k];
      jdk.setJvmControl(L"bin", L"client", s.control);
      DWORD exitCode = 0;
      double t = runOnce(service, jdk, s, &exitCode);
      if (t < 0 || exitCode != 0) {
        std::fprintf(stderr, "%s: round %d failed (exit code %lu)\n", s.what, i, exitCode);
        return 1;
      }
      if (i > 0) times[k].push_back(t);  // round 0 warms up the caches
    }
  }
  double medians[3] = {};
  for (int k = 0; k < 3; ++k) {
    medians[k] = median(times[k]);
    std::printf("%s %.1f (min %.1f, max %.1f)\n", scenarios[k].what, medians[k],
                *std::min_element(times[k].begin(), times[k].end()),
                *std::max_element(times[k].begin(), times[k].end()));
  }
  std::printf("ratio blocking / returned:   %.3f (aim <= 1.2)\n", medians[1] / medians[0]);
  std::printf("ratio returned / (round trip + own exit):   %.3f (aim <= 1.2)\n", medians[0] / (roundTrip + medians[2]));
  std::printf("ratio blocking / (round trip + own exit):   %.3f (aim <= 1.2)\n", medians[1] / (roundTrip + medians[2]));
  DeleteService(service);
  return 0;
}

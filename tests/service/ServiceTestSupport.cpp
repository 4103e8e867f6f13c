// Helpers for the service tests (see ServiceTestSupport.h).
#include "ServiceTestSupport.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "DeletionQueue.h"
#include "JavaHomeFixture.h"

using namespace zanto::fixture;

namespace zanto::test {

void writeService(const std::wstring& exe, const BlockModel& model, const char* from) {
  static std::map<std::string, Bytes> launchers;
  if (!from) from = ZANTO_LAUNCHER_FROM_TESTS;
  Bytes& launcher = launchers[from];
  std::string error;
  if (launcher.empty()) {
    ASSERT_TRUE(zanto::readFileBytes(std::filesystem::path(fromTests(from)), launcher, error)) << error;
  }
  createDirectories(parentOf(exe));
  // A service reported stopped may still be ending its process, which holds the file.
  bool written = false;
  for (int i = 0; i < 100 && !(written = writeLauncherCopy(launcher, model, std::filesystem::path(exe), error)); ++i)
    Sleep(50);
  ASSERT_TRUE(written) << error;
}

LauncherRun runLauncher(const std::wstring& exe, const std::string& tail, DWORD timeoutMs) {
  LauncherRun run;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
    ADD_FAILURE() << "no pipe";
    return run;
  }
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = writeEnd;
  startup.hStdError = nul;
  std::wstring commandLine = L"\"" + exe + L"\"" + (tail.empty() ? L"" : L" " + widen(tail));
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot start " << narrow(commandLine) << ": " << GetLastError();
    CloseHandle(writeEnd);
  } else {
    CloseHandle(writeEnd);
    char chunk[4096];
    DWORD got = 0;
    // Read to the end: the texts must reach the pipe before the process is
    // gone.
    while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0) run.out.append(chunk, got);
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_TIMEOUT) {
      run.timedOut = true;
      TerminateProcess(process.hProcess, 99);
      WaitForSingleObject(process.hProcess, INFINITE);
    }
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    // printf writes "\n" as CRLF on a stream in text mode; compare the lines
    // only.
    std::string lines;
    for (size_t i = 0; i < run.out.size(); ++i)
      if (!(run.out[i] == '\r' && i + 1 < run.out.size() && run.out[i + 1] == '\n')) lines += run.out[i];
    run.out = lines;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  CloseHandle(readEnd);
  CloseHandle(nul);
  return run;
}

namespace {

struct Handles {
  SC_HANDLE manager = nullptr, service = nullptr;
  Handles(const std::string& name, DWORD access) {
    manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager) service = OpenServiceA(manager, name.c_str(), access);
  }
  ~Handles() {
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
  }
};

}  // namespace

ServiceConfig queryConfig(const std::string& name) {
  ServiceConfig config;
  Handles h(name, SERVICE_QUERY_CONFIG);
  if (!h.service) return config;
  DWORD need = 0;
  QueryServiceConfigA(h.service, nullptr, 0, &need);
  std::vector<char> buffer(need + 16);
  auto* q = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  if (!QueryServiceConfigA(h.service, q, static_cast<DWORD>(buffer.size()), &need)) return config;
  config.found = true;
  config.serviceType = q->dwServiceType;
  config.startType = q->dwStartType;
  config.errorControl = q->dwErrorControl;
  config.binaryPath = q->lpBinaryPathName ? q->lpBinaryPathName : "";
  config.displayName = q->lpDisplayName ? q->lpDisplayName : "";
  config.account = q->lpServiceStartName ? q->lpServiceStartName : "";
  // Wine's QueryServiceConfig leaves the dependencies out; the control manager
  // keeps them in the service's key.
  const std::string key = "System\\CurrentControlSet\\Services\\" + name;
  char list[8192] = {};
  DWORD size = sizeof list - 2, type = 0;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), "DependOnService", RRF_RT_REG_MULTI_SZ, &type, list, &size) ==
      ERROR_SUCCESS)
    for (const char* d = list; *d; d += strlen(d) + 1) config.dependencies += std::string(d) + "|";
  need = 0;
  QueryServiceConfig2W(h.service, SERVICE_CONFIG_DESCRIPTION, nullptr, 0, &need);
  std::vector<BYTE> description(need + 16);
  auto* d = reinterpret_cast<SERVICE_DESCRIPTIONW*>(description.data());
  if (QueryServiceConfig2W(h.service, SERVICE_CONFIG_DESCRIPTION, description.data(),
                           static_cast<DWORD>(description.size()), &need) &&
      d->lpDescription && *d->lpDescription) {
    config.hasDescription = true;
    config.description = d->lpDescription;
  }
  return config;
}

ServiceKey readServiceKey(const std::string& name) {
  ServiceKey service;
  const std::wstring key = L"System\\CurrentControlSet\\Services\\" + widen(name);
  HKEY h;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return service;
  service.found = true;
  auto text = [&](const wchar_t* value) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    if (RegGetValueW(h, nullptr, value, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) return std::wstring();
    return std::wstring(buffer);
  };
  auto number = [&](const wchar_t* value) {
    DWORD n = 0, size = sizeof n;
    RegGetValueW(h, nullptr, value, RRF_RT_REG_DWORD, nullptr, &n, &size);
    return n;
  };
  service.objectName = text(L"ObjectName");
  service.displayName = text(L"DisplayName");
  service.start = number(L"Start");
  service.type = number(L"Type");
  RegCloseKey(h);
  return service;
}

bool registryTreeHolds(HKEY root, const std::wstring& key, const std::string& text) {
  HKEY h;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  const std::wstring wide = widen(text);
  const std::string wideBytes(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
  bool found = false;
  for (DWORD i = 0; !found; ++i) {
    wchar_t name[512];
    DWORD nameSize = 512, type = 0, size = 0;
    if (RegEnumValueW(h, i, name, &nameSize, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
    std::string data(size, '\0');
    nameSize = 512;
    if (RegEnumValueW(h, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) ==
        ERROR_SUCCESS)
      found = data.find(wideBytes) != std::string::npos || data.find(text) != std::string::npos;
  }
  for (DWORD i = 0; !found; ++i) {
    wchar_t sub[512];
    DWORD subSize = 512;
    if (RegEnumKeyExW(h, i, sub, &subSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    found = registryTreeHolds(root, key + L"\\" + sub, text);
  }
  RegCloseKey(h);
  return found;
}

ScopedVariable::ScopedVariable(const char* name, const char* value) : name_(name) {
  std::vector<char> buffer(32768);
  DWORD n = GetEnvironmentVariableA(name, buffer.data(), static_cast<DWORD>(buffer.size()));
  had_ = n > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  old_.assign(buffer.data(), n < buffer.size() ? n : 0);
  SetEnvironmentVariableA(name, value);
}

ScopedVariable::~ScopedVariable() { SetEnvironmentVariableA(name_.c_str(), had_ ? old_.c_str() : nullptr); }

bool queryStatus(const std::string& name, SERVICE_STATUS_PROCESS& status) {
  Handles h(name, SERVICE_QUERY_STATUS);
  DWORD need = 0;
  return h.service && QueryServiceStatusEx(h.service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                           sizeof status, &need);
}

bool waitForState(const std::string& name, DWORD state, SERVICE_STATUS_PROCESS& status, DWORD limitMs) {
  DWORD start = GetTickCount();
  do {
    if (queryStatus(name, status) && status.dwCurrentState == state) return true;
    Sleep(50);
  } while (GetTickCount() - start < limitMs);
  return false;
}

bool startWithArguments(const std::string& name, const std::vector<std::string>& arguments) {
  Handles h(name, SERVICE_START);
  std::vector<const char*> pointers;
  for (const auto& a : arguments) pointers.push_back(a.c_str());
  return h.service &&
         StartServiceA(h.service, static_cast<DWORD>(pointers.size()), pointers.empty() ? nullptr : pointers.data());
}

bool sendControl(const std::string& name, DWORD control, SERVICE_STATUS& status) {
  Handles h(name, SERVICE_STOP | SERVICE_INTERROGATE | SERVICE_QUERY_STATUS | SERVICE_USER_DEFINED_CONTROL);
  return h.service && ControlService(h.service, control, &status);
}

void removeService(const std::string& name) {
  // What "uninstall" would remove besides.
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, ("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + name).c_str());
  Handles h(name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
  if (!h.service) return;
  SERVICE_STATUS status;
  if (ControlService(h.service, SERVICE_CONTROL_STOP, &status)) {
    SERVICE_STATUS_PROCESS p;
    waitForState(name, SERVICE_STOPPED, p, 30000);
  }
  DeleteService(h.service);
}

bool createServiceDirectly(const std::string& name, const std::string& binaryPath) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return false;
  SC_HANDLE service = CreateServiceA(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, binaryPath.c_str(), nullptr, nullptr,
                                     nullptr, nullptr, nullptr);
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return service != nullptr;
}

std::string uniqueName(const char* base) {
  return std::string("zanto-") + base + "-" + std::to_string(GetCurrentProcessId());
}

std::vector<std::string> queuedDirectories() {
  std::string value;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kDeletionQueueKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    char buffer[32768];
    DWORD size = sizeof buffer, type = 0;
    if (RegQueryValueExA(key, "delete_dir", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS)
      value.assign(buffer, strnlen(buffer, size));
    RegCloseKey(key);
  }
  std::vector<std::string> entries;
  size_t start = 0;
  while (start < value.size()) {
    size_t end = value.find(';', start);
    if (end == std::string::npos) end = value.size();
    if (end > start) entries.push_back(value.substr(start, end - start));
    start = end + 1;
  }
  return entries;
}

namespace {

// Wine's form of a wide string in a trace, after its L": \n, \r, \t, \\ and \"
// escaped (the tests' texts are ASCII).
std::string traceString(const std::string& line) {
  std::string text;
  for (size_t i = 0; i < line.size() && line[i] != '"'; ++i) {
    char e = line[i] == '\\' && i + 1 < line.size() ? line[++i] : 0;
    text += !e ? line[i] : e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
  }
  return text;
}

bool underWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// From byte `offset` on (the trace grows with every service start of the run).
std::string readText(const std::wstring& path, int64_t offset = 0) {
  std::string text;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  LARGE_INTEGER at;
  at.QuadPart = offset;
  SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  CloseHandle(file);
  std::string lines;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lines += text[i];
  return lines;
}

}  // namespace

EventTrace::EventTrace() {
  if (!underWine()) return;
  const char* prefix = std::getenv("ZANTO_WINEPREFIX");
  if (!prefix) {
    ADD_FAILURE() << "ZANTO_WINEPREFIX names no prefix: no trace of the event log";
    return;
  }
  // The Unix path through Wine's drive for the whole file system.
  path_ = L"Z:" + widen(prefix) + L"/services.stderr";
  for (wchar_t& c : path_)
    if (c == L'/') c = L'\\';
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data))
    start_ = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

std::vector<std::string> EventTrace::texts() const { return find(":err:eventlog:ReportEventW L\""); }

std::vector<std::string> EventTrace::warnings() const { return find(":warn:eventlog:ReportEventW L\""); }

// The box's text is the first quoted argument, after the window handle.
std::vector<std::string> EventTrace::messageBoxes() const { return find("Call user32.MessageBoxA("); }

std::vector<std::string> EventTrace::find(const std::string& marker) const {
  std::vector<std::string> found;
  if (path_.empty()) return found;
  const std::string trace = readText(path_, static_cast<int64_t>(start_));
  size_t at = 0;
  while ((at = trace.find(marker, at)) != std::string::npos) {
    at += marker.size();
    size_t end = trace.find('\n', at);
    if (marker.back() != '"') {
      size_t quote = trace.find('"', at);
      if (quote != std::string::npos && quote < end) at = quote + 1;
    }
    found.push_back(traceString(trace.substr(at, end == std::string::npos ? end : end - at)));
  }
  return found;
}

std::wstring eventMessageFile(const std::string& name) {
  const std::wstring key = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + widen(name);
  wchar_t file[MAX_PATH * 4] = {};
  DWORD size = sizeof file - sizeof(wchar_t);
  RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"EventMessageFile", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, file,
               &size);
  return file;
}

LauncherRun runInNewConsole(const std::wstring& exe, const std::string& tail,
                            const std::function<void(const PROCESS_INFORMATION&)>& whileRunning, DWORD timeoutMs) {
  LauncherRun run;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const std::wstring outPath = exe + L".out.txt", errPath = exe + L".err.txt";
  HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           CREATE_ALWAYS, 0, nullptr);
  HANDLE err = CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           CREATE_ALWAYS, 0, nullptr);
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                           nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = out;
  startup.hStdError = err;
  std::wstring commandLine = L"\"" + exe + L"\"" + (tail.empty() ? L"" : L" " + widen(tail));
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                      &startup, &process)) {
    ADD_FAILURE() << "cannot start " << narrow(commandLine) << ": " << GetLastError();
  } else {
    whileRunning(process);
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_TIMEOUT) {
      run.timedOut = true;
      TerminateProcess(process.hProcess, 99);
      WaitForSingleObject(process.hProcess, INFINITE);
    }
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  CloseHandle(out);
  CloseHandle(err);
  CloseHandle(nul);
  run.out = readText(outPath);
  run.err = readText(errPath);
  return run;
}

bool sendCtrlCToConsoleOf(DWORD processId) {
  HANDLE saved[3] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_ERROR_HANDLE)};
  FreeConsole();
  bool sent = false;
  if (AttachConsole(processId)) {
    SetConsoleCtrlHandler(nullptr, TRUE);
    sent = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    // The event reaches this process too, on a thread of its own: let it pass
    // before the default handling is back.
    Sleep(500);
    FreeConsole();
    SetConsoleCtrlHandler(nullptr, FALSE);
  }
  SetStdHandle(STD_INPUT_HANDLE, saved[0]);
  SetStdHandle(STD_OUTPUT_HANDLE, saved[1]);
  SetStdHandle(STD_ERROR_HANDLE, saved[2]);
  return sent;
}

std::string launcherPathForm(const std::wstring& path) {
  wchar_t shortName[MAX_PATH * 4];
  DWORD n = GetShortPathNameW(path.c_str(), shortName, MAX_PATH * 4);
  std::string text = narrow(n ? std::wstring(shortName, n) : path);
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace zanto::test

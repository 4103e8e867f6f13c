// The custom actions of the MSI packages zanto-pack builds: they register and remove the
// service by running the installed executable's own install and uninstall, so that a
// package makes exactly the service that command makes. Deferred, without impersonation;
// their data come through CustomActionData, fields separated by '|', the password last
// (it may hold any character), which these actions never log.
#include <windows.h>
// After windows.h, which they need.
#include <msi.h>
#include <msiquery.h>

#include <cstring>
#include <cwchar>

namespace {

constexpr DWORD kCommandWaitMs = 180000;
constexpr DWORD kStopWaitMs = 120000;
constexpr int kMaxFields = 8;
constexpr DWORD kDataUnits = 32768;

// The action's data and its fields, in place; the buffer is zeroed at the end, as it
// may hold the password.
struct ActionData {
  wchar_t text[kDataUnits] = {};
  const wchar_t* field[kMaxFields] = {};
  int count = 0;
  ~ActionData() { SecureZeroMemory(text, sizeof text); }

  // Splits into at most `fields` fields: the last takes the rest, separators and all.
  bool read(MSIHANDLE install, int fields) {
    DWORD units = kDataUnits;
    if (MsiGetPropertyW(install, L"CustomActionData", text, &units) != ERROR_SUCCESS) return false;
    wchar_t* p = text;
    while (count < fields) {
      field[count++] = p;
      if (count == fields) break;
      wchar_t* bar = std::wcschr(p, L'|');
      if (!bar) break;
      *bar = L'\0';
      p = bar + 1;
    }
    return count == fields;
  }
};

// A line in the installation's log (msiexec /l*v).
void logLine(MSIHANDLE install, const wchar_t* text) {
  PMSIHANDLE record = MsiCreateRecord(1);
  MsiRecordSetStringW(record, 0, text);
  MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
}

void logPrintf(MSIHANDLE install, const wchar_t* format, const wchar_t* a, unsigned long b = 0) {
  wchar_t line[1024];
  _snwprintf(line, 1023, format, a, b);
  line[1023] = L'\0';
  logLine(install, line);
}

// Runs `"exe" word` with no window, its output into the installation's log; the exit
// code, or -1 when it did not run or end in time.
long runExecutable(MSIHANDLE install, const wchar_t* exe, const wchar_t* word) {
  wchar_t command[4096];
  if (_snwprintf(command, 4096, L"\"%ls\" %ls", exe, word) < 0) return -1;
  command[4095] = L'\0';
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return -1;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION process{};
  BOOL started =
      CreateProcessW(exe, command, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
  CloseHandle(writeEnd);
  if (!started) {
    logPrintf(install, L"zanto: could not run %ls (error %lu)", exe, GetLastError());
    CloseHandle(readEnd);
    return -1;
  }
  // Read while it runs, so that a full pipe never blocks it, and stop waiting at the
  // limit even if it hangs; output past the buffer is cut.
  static char output[16384];
  DWORD used = 0, waited = 0;
  bool ended = false;
  while (!ended) {
    ended = WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0;
    waited += 50;
    DWORD available = 0, got = 0;
    char rest[512];
    while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available) {
      char* into = used < sizeof output - 1 ? output + used : rest;
      DWORD room = used < sizeof output - 1 ? static_cast<DWORD>(sizeof output - 1 - used) : sizeof rest;
      if (!ReadFile(readEnd, into, available < room ? available : room, &got, nullptr) || !got) break;
      if (into != rest) used += got;
    }
    if (!ended && waited >= kCommandWaitMs) {
      logPrintf(install, L"zanto: %ls did not end in time", exe);
      TerminateProcess(process.hProcess, static_cast<UINT>(-1));
      break;
    }
  }
  output[used] = '\0';
  for (char* line = output; *line;) {
    char* end = std::strchr(line, '\n');
    if (end) *end = '\0';
    if (char* cr = std::strchr(line, '\r')) *cr = '\0';
    wchar_t text[1100];
    _snwprintf(text, 1099, L"zanto: %.1000hs", line);
    text[1099] = L'\0';
    logLine(install, text);
    if (!end) break;
    line = end + 1;
  }
  CloseHandle(readEnd);
  DWORD code = static_cast<DWORD>(-1);
  if (!ended || !GetExitCodeProcess(process.hProcess, &code)) code = static_cast<DWORD>(-1);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return static_cast<long>(code);
}

// True when the service `name` runs `exe` (compared in their long forms: install
// registers a short one); false for a service of that name made from elsewhere.
bool serviceRuns(const wchar_t* name, const wchar_t* exe) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager ? OpenServiceW(manager, name, SERVICE_QUERY_CONFIG) : nullptr;
  static BYTE buffer[8192];
  DWORD needed = 0;
  bool queried =
      service && QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer), sizeof buffer, &needed);
  if (service) CloseServiceHandle(service);
  if (manager) CloseServiceHandle(manager);
  if (!queried) return false;
  const wchar_t* binary = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer)->lpBinaryPathName;
  if (!binary) return false;
  wchar_t path[MAX_PATH + 1], registered[MAX_PATH + 1], own[MAX_PATH + 1];
  size_t length = 0;
  const wchar_t* p = binary[0] == L'"' ? binary + 1 : binary;
  while (*p && *p != L'"' && length < MAX_PATH) path[length++] = *p++;
  path[length] = L'\0';
  DWORD a = GetLongPathNameW(path, registered, MAX_PATH + 1), b = GetLongPathNameW(exe, own, MAX_PATH + 1);
  return a && a <= MAX_PATH && b && b <= MAX_PATH && !_wcsicmp(registered, own);
}

// True when another product of the same upgrade code is installed: this removal is
// then the end of an upgrade, whose new version keeps the service.
bool relatedProductInstalled(const wchar_t* upgradeCode, const wchar_t* ownProduct) {
  wchar_t product[39];
  for (DWORD i = 0; MsiEnumRelatedProductsW(upgradeCode, 0, i, product) == ERROR_SUCCESS; ++i)
    if (_wcsicmp(product, ownProduct) != 0) return true;
  return false;
}

// Removes a folder and what is below it; links are removed, never followed.
void removeTree(const wchar_t* folder) {
  wchar_t pattern[MAX_PATH + 4];
  if (_snwprintf(pattern, MAX_PATH + 2, L"%ls\\*", folder) < 0) return;
  pattern[MAX_PATH + 2] = L'\0';
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(pattern, &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (!std::wcscmp(found.cFileName, L".") || !std::wcscmp(found.cFileName, L"..")) continue;
      wchar_t path[MAX_PATH + 4];
      if (_snwprintf(path, MAX_PATH + 2, L"%ls\\%ls", folder, found.cFileName) < 0) continue;
      path[MAX_PATH + 2] = L'\0';
      bool directory = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
      bool link = found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
      SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
      if (directory && !link)
        removeTree(path);
      else if (directory)
        RemoveDirectoryW(path);
      else
        DeleteFileW(path);
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  RemoveDirectoryW(folder);
}

// The system's own folders, which an INSTALLFOLDER given on the command line might
// name: never removed as a whole.
bool sharedFolder(const wchar_t* folder) {
  const wchar_t* names[] = {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432",       L"SystemRoot",
                            L"ProgramData",  L"ALLUSERSPROFILE",   L"CommonProgramFiles", L"USERPROFILE"};
  for (const wchar_t* name : names) {
    wchar_t value[MAX_PATH + 1];
    DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH + 1);
    if (n && n <= MAX_PATH && !_wcsicmp(value, folder)) return true;
  }
  return false;
}

}  // namespace

// Data: start (1 or 0)|service name|executable|account|password. The service of this
// executable already there (an upgrade or a repair) keeps its registration, account and
// password: it is only started again. One of that name made from another executable is
// replaced, as install replaces it.
extern "C" __declspec(dllexport) UINT __stdcall ZantoServiceInstall(MSIHANDLE install) {
  ActionData data;
  if (!data.read(install, 5)) return ERROR_INSTALL_FAILURE;
  const wchar_t *start = data.field[0], *name = data.field[1], *exe = data.field[2], *account = data.field[3],
                *password = data.field[4];
  bool exists = serviceRuns(name, exe);
  if (!exists) {
    // The executable's install reads both and removes the password from its
    // environment; this process forgets it below.
    SetEnvironmentVariableW(L"ZANTO_SERVICE_ACCOUNT", account[0] ? account : nullptr);
    SetEnvironmentVariableW(L"ZANTO_SERVICE_PASSWORD", password[0] ? password : nullptr);
    long code = runExecutable(install, exe, L"/install");
    SetEnvironmentVariableW(L"ZANTO_SERVICE_PASSWORD", nullptr);
    SetEnvironmentVariableW(L"ZANTO_SERVICE_ACCOUNT", nullptr);
    if (code != 0) {
      logPrintf(install, L"zanto: %ls install failed with exit code %lu", exe, static_cast<unsigned long>(code));
      // What it made goes with the rest of the installation.
      if (serviceRuns(name, exe)) runExecutable(install, exe, L"/uninstall");
      return ERROR_INSTALL_FAILURE;
    }
  } else {
    logPrintf(install, L"zanto: service %ls is installed already; it keeps its account and start type", name);
  }
  // A service that does not start is reported, not a failed installation: its files
  // and registration are right, and its log says why.
  if (start[0] == L'1' && runExecutable(install, exe, L"/start") != 0)
    logPrintf(install, L"zanto: service %ls did not start", name);
  return ERROR_SUCCESS;
}

// Data: removing (1 or 0)|upgrade code|product code|service name. Stops the service
// before its files are replaced or removed; the removal of the old version at the end
// of an upgrade leaves the new version's service running.
extern "C" __declspec(dllexport) UINT __stdcall ZantoServiceStop(MSIHANDLE install) {
  ActionData data;
  if (!data.read(install, 4)) return ERROR_INSTALL_FAILURE;
  if (data.field[0][0] == L'1' && relatedProductInstalled(data.field[1], data.field[2])) return ERROR_SUCCESS;
  const wchar_t* name = data.field[3];
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager ? OpenServiceW(manager, name, SERVICE_STOP | SERVICE_QUERY_STATUS) : nullptr;
  if (service) {
    SERVICE_STATUS status{};
    if (ControlService(service, SERVICE_CONTROL_STOP, &status) || status.dwCurrentState != SERVICE_STOPPED) {
      logPrintf(install, L"zanto: stopping service %ls", name);
      for (DWORD waited = 0;
           waited < kStopWaitMs && QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED;
           waited += 250)
        Sleep(250);
    }
    CloseServiceHandle(service);
  }
  if (manager) CloseServiceHandle(manager);
  return ERROR_SUCCESS;
}

// Data: upgrade code|product code|executable. Removes the service with the
// executable's uninstall (the service, its event source and keys), unless a related
// product stays installed.
extern "C" __declspec(dllexport) UINT __stdcall ZantoServiceRemove(MSIHANDLE install) {
  ActionData data;
  if (!data.read(install, 3)) return ERROR_INSTALL_FAILURE;
  if (relatedProductInstalled(data.field[0], data.field[1])) {
    logLine(install, L"zanto: another version of this product is installed; the service stays");
    return ERROR_SUCCESS;
  }
  if (runExecutable(install, data.field[2], L"/uninstall") != 0)
    logPrintf(install, L"zanto: %ls uninstall found no service to remove", data.field[2]);
  return ERROR_SUCCESS;
}

// Data: upgrade code|product code|installation folder. After the package's files are
// gone, removes what the service made in its folder (logs, the files it wrote), then
// the folder; never a drive's root.
extern "C" __declspec(dllexport) UINT __stdcall ZantoRemoveFolder(MSIHANDLE install) {
  ActionData data;
  if (!data.read(install, 3)) return ERROR_INSTALL_FAILURE;
  if (relatedProductInstalled(data.field[0], data.field[1])) return ERROR_SUCCESS;
  wchar_t folder[MAX_PATH + 1];
  size_t length = std::wcslen(data.field[2]);
  if (length < 4 || length > MAX_PATH) return ERROR_SUCCESS;
  std::wmemcpy(folder, data.field[2], length + 1);
  while (length > 3 && folder[length - 1] == L'\\') folder[--length] = L'\0';
  if (length <= 3 || sharedFolder(folder)) return ERROR_SUCCESS;
  removeTree(folder);
  logPrintf(install, L"zanto: removed %ls", folder);
  // The manufacturer's folder above it, when nothing else is left there.
  if (wchar_t* slash = std::wcsrchr(folder, L'\\'); slash && slash - folder > 3) {
    *slash = L'\0';
    RemoveDirectoryW(folder);
  }
  return ERROR_SUCCESS;
}

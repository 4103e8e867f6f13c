// Shared helpers of the Windows test programs (see WinTestSupport.h).
#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "Log.h"

namespace zanto::test {

namespace {
// Logging must be requested before the first log call of the process.
struct LogOn : ::testing::Environment {
  void SetUp() override { SetEnvironmentVariableA("ZANTO_LOG", "yes"); }
};
const auto* const logOn = ::testing::AddGlobalTestEnvironment(new LogOn);
}  // namespace

std::string scratchDirectory(const char* name) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string dir = std::string(temp) + "zanto-test-" + name;
  removeTree(dir);
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void removeTree(const std::string& path) {
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA((path + "\\*").c_str(), &data);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      std::string full = path + "\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        removeTree(full);
      else {
        SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(full.c_str());
      }
    } while (FindNextFileA(h, &data));
    FindClose(h);
  }
  RemoveDirectoryA(path.c_str());
}

void deleteRegistryTree(HKEY root, const char* key) { RegDeleteTreeA(root, key); }

std::string readRegistryString(HKEY root, const char* key, const char* value, bool* found) {
  char buf[40000];
  DWORD size = sizeof buf;
  LSTATUS r = RegGetValueA(root, key, value, RRF_RT_REG_SZ, nullptr, buf, &size);
  if (found) *found = r == ERROR_SUCCESS;
  return r == ERROR_SUCCESS ? std::string(buf) : std::string();
}

bool runningUnderWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

namespace {

// Wine's own export: the Unix name of a Windows path (freed with HeapFree).
std::string unixName(const std::string& path) {
  using Convert = char*(CDECL*)(const wchar_t*);
  auto convert = reinterpret_cast<Convert>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!convert) return {};
  std::wstring wide(path.begin(), path.end());
  char* name = convert(wide.c_str());
  if (!name) return {};
  std::string out = name;
  HeapFree(GetProcessHeap(), 0, name);
  return out;
}

// Wine starts a Unix program by its path; it is not waited for, so the caller
// waits for its effect.
bool runUnix(const std::string& commandLine, bool (*done)(const std::string&), const std::string& path) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int i = 0; i < 200 && !done(path); ++i) Sleep(25);
  return done(path);
}

bool isLink(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

bool makeLink(const std::string& link, const std::string& target) {
  if (!runningUnderWine()) {
    DWORD flags = GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_DIRECTORY ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
    return CreateSymbolicLinkA(link.c_str(), target.c_str(), flags) && isLink(link);
  }
  std::string from = unixName(target), to = unixName(link);
  return !from.empty() && !to.empty() && runUnix("/bin/ln -s \"" + from + "\" \"" + to + "\"", isLink, link);
}

void removeLink(const std::string& link) {
  if (!runningUnderWine()) {
    if (!RemoveDirectoryA(link.c_str())) DeleteFileA(link.c_str());
    return;
  }
  std::string name = unixName(link);
  if (!name.empty())
    runUnix(
        "/bin/rm -f \"" + name + "\"", [](const std::string&) { return true; }, link);
  // rm is not waited for: its effect is.
  for (int i = 0; i < 200; ++i) {
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(link.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return;
    FindClose(h);
    Sleep(25);
  }
}

std::string logText() {
  logMessage("--");  // opens the log if nothing did yet
  const char* path = getLogPath();
  return path ? readFile(path) : std::string();
}

}  // namespace zanto::test

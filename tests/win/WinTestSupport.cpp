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

std::string logText() {
  logMessage("--");  // opens the log if nothing did yet
  const char* path = getLogPath();
  return path ? readFile(path) : std::string();
}

}  // namespace zanto::test

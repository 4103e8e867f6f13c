// Deletion queue under HKCU (see DeletionQueue.h). Every read-modify-write of the
// queue runs under one named mutex, so two launchers scheduling at the same moment
// cannot lose an entry, and the start-up processing reads each value whole.
#include "DeletionQueue.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "Log.h"
#include "Paths.h"
#include "Settings.h"

namespace zanto {

namespace {

std::vector<std::string> exitDeleteFiles;
std::vector<std::string> exitDeleteDirectories;
std::vector<HANDLE> lockedFiles;

class QueueLock {
 public:
  QueueLock() {
    // Global first, so that launchers in other sessions share the lock; an account
    // that may not create global objects still serialises within its session.
    mutex_ = CreateMutexA(nullptr, FALSE, "Global\\zanto-deletion-queue");
    if (!mutex_) mutex_ = CreateMutexA(nullptr, FALSE, "Local\\zanto-deletion-queue");
    if (mutex_) {
      DWORD r = WaitForSingleObject(mutex_, 10000);
      owned_ = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
    }
  }
  ~QueueLock() {
    if (owned_) ReleaseMutex(mutex_);
    if (mutex_) CloseHandle(mutex_);
  }
  QueueLock(const QueueLock&) = delete;
  QueueLock& operator=(const QueueLock&) = delete;

 private:
  HANDLE mutex_ = nullptr;
  bool owned_ = false;
};

// Reads a REG_SZ value whole; a missing or unreadable value is the empty text.
// `storedSize` is the byte count the registry reports (terminator included).
std::string readQueueValue(HKEY key, const char* name, DWORD* storedSize) {
  *storedSize = 0;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || size == 0) return {};
  std::string value(size, '\0');
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS)
    return {};
  *storedSize = size;
  value.resize(strnlen(value.data(), size));
  return value;
}

void storeQueueValue(HKEY key, const char* name, const std::string& value) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
}

std::vector<std::string> splitEntries(const std::string& value) {
  std::vector<std::string> entries;
  size_t start = 0;
  while (start <= value.size()) {
    size_t end = value.find(';', start);
    if (end == std::string::npos) end = value.size();
    if (end > start) entries.push_back(value.substr(start, end - start));
    start = end + 1;
  }
  return entries;
}

}  // namespace

void registerExitFile(const char* path) { exitDeleteFiles.emplace_back(path); }
void registerExitDirectory(const char* path) { exitDeleteDirectories.emplace_back(path); }

void runExitCleanup() {
  for (const std::string& path : exitDeleteFiles) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) lockedFiles.push_back(h);
    scheduleDeletion(path.c_str(), "delete_file");
  }
  for (const std::string& path : exitDeleteDirectories) scheduleDeletion(path.c_str(), "delete_dir");
}

void scheduleDeletion(const char* path, const char* valueName) {
  QueueLock lock;
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kDeletionQueueKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  DWORD size = 0;
  std::string list = readQueueValue(key, valueName, &size);
  if (size + std::strlen(path) + 2 > kQueueValueLimit) {
    logMessage("couldn't schedule for deletion in %s: %s", valueName, path);
  } else {
    list += path;
    list += ';';
    storeQueueValue(key, valueName, list);
    logMessage("schedule for deletion in %s: %s", valueName, path);
  }
  RegCloseKey(key);
}

bool canOpenExclusively(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

void emptyDirectory(const char* path) {
  if (path[0] == '\0' || path[0] == '.') return;
  logMessage("emptying %s", path);
  std::string base = path;
  if (base.back() != '\\') base += '\\';
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA((base + "*.*").c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0) continue;
    std::string full = base + data.cFileName;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      logMessage("attempting to remove %s", full.c_str());
      RemoveDirectoryA(full.c_str());
    } else {
      logMessage("attempting to delete %s", full.c_str());
      DeleteFileA(full.c_str());
    }
  } while (FindNextFileA(h, &data));
  FindClose(h);
}

void processDeletionQueue() {
  QueueLock lock;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kDeletionQueueKey, 0, KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, &key) !=
      ERROR_SUCCESS)
    return;
  DWORD size;
  std::string remaining;
  for (const std::string& entry : splitEntries(readQueueValue(key, "delete_file", &size))) {
    if (canOpenExclusively(entry.c_str())) {
      logMessage("delete file %s", entry.c_str());
      DeleteFileA(entry.c_str());
    }
    if (fileExists(entry.c_str())) {
      logMessage("didn't delete %s", entry.c_str());
      remaining += entry + ';';
    }
  }
  storeQueueValue(key, "delete_file", remaining);

  remaining.clear();
  std::string dirs = readQueueValue(key, "delete_dir", &size);
  logMessage("delete queue %s", dirs.c_str());
  for (const std::string& entry : splitEntries(dirs)) {
    if (entry[0] == '.') continue;
    emptyDirectory(entry.c_str());
    RemoveDirectoryA(entry.c_str());
    logMessage("delete dir %s", entry.c_str());
    if (fileExists(entry.c_str())) {
      logMessage("didn't delete %s", entry.c_str());
      remaining += entry + ';';
    }
  }
  storeQueueValue(key, "delete_dir", remaining);
  RegCloseKey(key);
}

}  // namespace zanto

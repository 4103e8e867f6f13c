// Deletion queue under HKCU (see DeletionQueue.h). Every read-modify-write of the
// queue runs under the account's lock, so two launchers scheduling at the same moment
// cannot lose an entry, and the start-up processing reads each value whole. Only
// entries of the launcher's own form are processed, each through a handle to what the
// name itself is: a link is removed as a link, its target never entered.
#include "DeletionQueue.h"

#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "Log.h"
#include "Paths.h"
#include "PrivateSecurity.h"
#include "ProcessState.h"
#include "QueueEntryRules.h"
#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

namespace {

std::vector<std::string> exitDeleteFiles;
std::vector<std::string> exitDeleteDirectories;
std::vector<HANDLE> lockedFiles;

class QueueLock {
 public:
  QueueLock() {
    mutex_ = openDeletionQueueLock();
    if (mutex_) {
      DWORD r = WaitForSingleObject(mutex_, 10000);
      owned_ = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
    }
    if (!owned_) logError("deletion queue: no lock held");
  }
  ~QueueLock() {
    if (owned_) ReleaseMutex(mutex_);
    if (mutex_) CloseHandle(mutex_);
  }
  QueueLock(const QueueLock&) = delete;
  QueueLock& operator=(const QueueLock&) = delete;
  bool held() const { return owned_; }

 private:
  HANDLE mutex_ = nullptr;
  bool owned_ = false;
};

// SYSTEM, Administrators and the token's user: who may own or open the lock.
struct LockPrincipals {
  BYTE user[SECURITY_MAX_SID_SIZE];
  BYTE system[SECURITY_MAX_SID_SIZE];
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  bool trusted(PSID sid) const {
    return EqualSid(sid, const_cast<BYTE*>(user)) || EqualSid(sid, const_cast<BYTE*>(system)) ||
           EqualSid(sid, const_cast<BYTE*>(administrators));
  }
};

bool lockPrincipals(LockPrincipals& p) {
  DWORD size = sizeof p.system, adminSize = sizeof p.administrators;
  return currentUserSid(p.user, sizeof p.user) && CreateWellKnownSid(WinLocalSystemSid, nullptr, p.system, &size) &&
         CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, p.administrators, &adminSize);
}

// The object's owner and every entry that allows anything must be trusted: an
// object made by anyone else could be held by them for ever.
bool isTrustedLock(HANDLE mutex, const LockPrincipals& p) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                      &dacl, nullptr, &sd) != ERROR_SUCCESS)
    return false;
  bool trusted = owner && dacl && p.trusted(owner);
  for (DWORD i = 0; trusted && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) {
      trusted = false;
      break;
    }
    auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    trusted = header->AceType == ACCESS_ALLOWED_ACE_TYPE &&
              p.trusted(reinterpret_cast<PSID>(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart));
  }
  LocalFree(sd);
  return trusted;
}

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

// Registered with the first file: a report that ends the process queues them too.
void registerExitFile(const char* path) {
  exitDeleteFiles.emplace_back(path);
  setExitCleanup(runExitCleanup);
}
void registerExitDirectory(const char* path) {
  exitDeleteDirectories.emplace_back(path);
  setExitCleanup(runExitCleanup);
}

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
  // Without the lock an entry may be lost to another launcher; none is ever acted on.
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

HANDLE openDeletionQueueLock() {
  LockPrincipals principals;
  const bool known = lockPrincipals(principals);
  char* sidText = nullptr;
  if (!known || !ConvertSidToStringSidA(principals.user, &sidText)) {
    logError("deletion queue lock: the account is unknown, error %lu", GetLastError());
    return nullptr;
  }
  // Made so that only SYSTEM, Administrators and this account may open it.
  BYTE aclBuffer[sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)];
  ACL* acl = reinterpret_cast<ACL*>(aclBuffer);
  SECURITY_DESCRIPTOR descriptor;
  bool built = InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION) &&
               AddAccessAllowedAce(acl, ACL_REVISION, MUTEX_ALL_ACCESS, principals.system) &&
               AddAccessAllowedAce(acl, ACL_REVISION, MUTEX_ALL_ACCESS, principals.administrators) &&
               (EqualSid(principals.user, principals.system) ||
                AddAccessAllowedAce(acl, ACL_REVISION, MUTEX_ALL_ACCESS, principals.user)) &&
               InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
               SetSecurityDescriptorOwner(&descriptor, principals.user, FALSE) &&
               SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
  HANDLE found = nullptr;
  // One per account, as the queue in its HKCU is; "Global\" reaches every session of
  // it, "Local\" is for accounts that may not make global objects.
  for (const char* scope : {"Global", "Local"}) {
    if (!built) break;
    char name[128 + SECURITY_MAX_SID_SIZE * 4];
    formatText(name, sizeof name, "%s\\zanto-deletion-queue-%s", scope, sidText);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    HANDLE mutex = CreateMutexA(&attributes, FALSE, name);
    if (!mutex) {
      logMessage("deletion queue lock %s not opened, error %lu", name, GetLastError());
      continue;
    }
    if (isTrustedLock(mutex, principals)) {
      found = mutex;
      break;
    }
    logError("deletion queue lock %s was made by another account: not used", name);
    CloseHandle(mutex);
  }
  LocalFree(sidText);
  return found;
}

DeletionQueueCalls deletionQueueCalls = {&CloseHandle};

namespace {

// Gone: removed now, never queued again whatever the name shows later; Kept: ours
// and still there (in use, not empty); Dropped: not to be touched, or already gone.
enum class Outcome { Gone, Kept, Dropped };

std::wstring widen(const std::string& text) {
  int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(n > 0 ? n : 1, L'\0');
  if (n <= 0 || !MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), n)) return {};
  wide.resize(n - 1);
  return wide;
}

std::string narrow(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n : 1, '\0');
  if (n <= 0 || !WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr)) return "?";
  out.resize(n - 1);
  return out;
}

bool isGone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// What the name is itself: a link is opened as the link, not as its target.
HANDLE openAsItself(const std::wstring& path, DWORD access, DWORD share) {
  return CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, share, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

ULONGLONG fileId(const BY_HANDLE_FILE_INFORMATION& info) {
  return (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

// Marks what the handle holds for deletion and closes it; false when it stays.
bool deleteOpened(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition{TRUE};
  bool marked = SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
  deletionQueueCalls.closeDeleted(handle);
  return marked;
}

// A link shows its reparse point on the name and, opened as itself, on the handle.
// A handle without it under a name with it holds the link's target (Wine opens links
// so): nothing is done through it.
bool opensThroughLink(DWORD nameAttributes, const BY_HANDLE_FILE_INFORMATION& opened) {
  return (nameAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !(opened.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// One element of a queued directory: a file, a link (as a link), or a subdirectory
// that is empty; the queue empties one level only. Opened without sharing, so a file
// in use stays, and compared with what the listing showed.
void removeChild(const std::wstring& path, DWORD listedAttributes, ULONGLONG listedId) {
  std::string shown = narrow(path);
  bool directory = (listedAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(listedAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  logMessage("%s %s", directory ? "attempting to remove" : "attempting to delete", shown.c_str());
  HANDLE h = openAsItself(path, DELETE, 0);
  if (h == INVALID_HANDLE_VALUE) return;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info) || fileId(info) != listedId || opensThroughLink(listedAttributes, info)) {
    logError("left %s: what opens is not what the directory lists (a link?)", shown.c_str());
    CloseHandle(h);
    return;
  }
  deleteOpened(h);
}

void emptyOpenedDirectory(HANDLE directory, const std::wstring& path) {
  alignas(8) static BYTE buffer[64 * 1024];
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(directory, kind, buffer, sizeof buffer)) {
    kind = FileIdBothDirectoryInfo;
    for (BYTE* at = buffer;;) {
      auto* entry = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(at);
      std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..")
        removeChild(path + L"\\" + name, entry->FileAttributes, static_cast<ULONGLONG>(entry->FileId.QuadPart));
      if (!entry->NextEntryOffset) break;
      at += entry->NextEntryOffset;
    }
  }
}

Outcome removeQueuedDirectory(const std::string& entry) {
  std::wstring path = widen(entry);
  DWORD nameAttributes = GetFileAttributesW(path.c_str());
  // Held without delete sharing while it is emptied: nobody renames it or puts a
  // link in its place meanwhile.
  HANDLE dir = openAsItself(path, DELETE | FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (dir == INVALID_HANDLE_VALUE) return isGone(GetLastError()) ? Outcome::Dropped : Outcome::Kept;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(dir, &info) || nameAttributes == INVALID_FILE_ATTRIBUTES) {
    CloseHandle(dir);
    return Outcome::Kept;
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    logMessage("remove link %s", entry.c_str());
    return deleteOpened(dir) ? Outcome::Gone : Outcome::Kept;
  }
  if (opensThroughLink(nameAttributes, info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    logError("dropped from the deletion queue: %s (a link or no directory; left as it is)", entry.c_str());
    CloseHandle(dir);
    return Outcome::Dropped;
  }
  logMessage("emptying %s", entry.c_str());
  emptyOpenedDirectory(dir, path);
  logMessage("delete dir %s", entry.c_str());
  // The handle decides, not the name: a directory made anew under it is not ours.
  return deleteOpened(dir) ? Outcome::Gone : Outcome::Kept;
}

Outcome removeQueuedFile(const std::string& entry) {
  std::wstring path = widen(entry);
  DWORD nameAttributes = GetFileAttributesW(path.c_str());
  HANDLE h = openAsItself(path, DELETE, 0);
  if (h == INVALID_HANDLE_VALUE) return isGone(GetLastError()) ? Outcome::Dropped : Outcome::Kept;
  BY_HANDLE_FILE_INFORMATION info;
  bool known = GetFileInformationByHandle(h, &info) != 0 && nameAttributes != INVALID_FILE_ATTRIBUTES;
  if (known && (opensThroughLink(nameAttributes, info) || ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                                           !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)))) {
    logError("dropped from the deletion queue: %s (a link or no file; left as it is)", entry.c_str());
    CloseHandle(h);
    return Outcome::Dropped;
  }
  logMessage("delete file %s", entry.c_str());
  return deleteOpened(h) ? Outcome::Gone : Outcome::Kept;
}

// Acts on each entry of one value; entries of another form are logged and dropped.
std::string processValue(HKEY key, const char* valueName, QueueEntryKind kind, const char* tempFolder) {
  DWORD size;
  std::string remaining;
  for (const std::string& entry : splitEntries(readQueueValue(key, valueName, &size))) {
    QueueEntryCheck check = checkQueueEntry(entry.c_str(), tempFolder, kind);
    if (!check.accepted) {
      logError("dropped from the deletion queue: %s (%s)", entry.c_str(), check.reason);
      continue;
    }
    Outcome outcome = kind == QueueEntryKind::File ? removeQueuedFile(entry) : removeQueuedDirectory(entry);
    if (outcome == Outcome::Kept) {
      logMessage("didn't delete %s", entry.c_str());
      remaining += entry + ';';
    }
  }
  return remaining;
}

// Whether either list holds an entry (an empty list is a lone terminator).
bool queueHasEntries() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kDeletionQueueKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  bool any = false;
  for (const char* name : {"delete_file", "delete_dir"}) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && size > 1) any = true;
  }
  RegCloseKey(key);
  return any;
}

}  // namespace

void processDeletionQueue() {
  // The usual start: nothing queued, so neither the lock nor a write. An entry
  // queued right after this look is processed at the next start.
  if (!queueHasEntries()) return;
  QueueLock lock;
  // Unserialised, a second launcher could act on the same entries meanwhile.
  if (!lock.held()) return;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kDeletionQueueKey, 0, KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, &key) !=
      ERROR_SUCCESS)
    return;
  // The running account's own: entries below another folder were not made by it.
  char tempFolder[kTextBufferSize];
  DWORD n = GetTempPathA(sizeof tempFolder, tempFolder);
  if (n == 0 || n >= sizeof tempFolder) tempFolder[0] = '\0';
  storeQueueValue(key, "delete_file", processValue(key, "delete_file", QueueEntryKind::File, tempFolder));
  storeQueueValue(key, "delete_dir", processValue(key, "delete_dir", QueueEntryKind::Directory, tempFolder));
  RegCloseKey(key);
}

}  // namespace zanto

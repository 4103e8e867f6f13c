// The output capture (see OutputCapture.h). A privileged process writes, renames and
// deletes log files only inside a log folder that it holds open (so that nobody can
// rename it away or put a link in its place meanwhile), that is where its name says
// and that no less privileged user may change; each file it acts on is checked
// through its own handle to be a plain file directly inside that folder. The drain
// sends a token of its own down each pipe after flushing: once the reader has taken
// it out of the stream, everything written before it is in the file, whoever wrote
// it and whichever copies of the pipe's handle exist. Nothing the drain does waits
// without a bound: the flush and the token's write, which block on a full pipe
// whose writer hangs, run on a thread of their own.
#include "OutputCapture.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ConfigBlock.h"
#include "ErrorReport.h"
#include "FileTrust.h"
#include "LaunchText.h"
#include "Log.h"
#include "PathText.h"
#include "Paths.h"
#include "PrivateSecurity.h"
#include "ProcessState.h"
#include "RollingLog.h"
#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

namespace {

constexpr DWORD kPipeBuffer = 1 << 20;
constexpr DWORD kReadSize = 1 << 16;
constexpr DWORD kDrainBoundMs = 5000;
constexpr DWORD kGatherMs = 2;

std::string finalPathOf(HANDLE handle) {
  char path[kTextBufferSize];
  DWORD n = GetFinalPathNameByHandleA(handle, path, sizeof path, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  return n > 0 && n < sizeof path ? std::string(path) : std::string();
}

std::string folderOf(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash == 2 && path[1] == ':' ? 3 : slash);
}

// What a log's checks found; Refused means the log is not to be used at all.
enum class LogCheck { Trusted, Unavailable, Refused };

class WinLogFiles : public LogFiles {
 public:
  // Privileged: the folder of `path` is opened and kept open, and the log is
  // refused (`why`, 8192 bytes) when the folder or an existing file fails the
  // checks. Unavailable: the folder cannot be opened now (it is tried again at
  // each open). Unprivileged processes keep plain file operations.
  LogCheck guard(const std::string& path, char* why) {
    guarded_ = true;
    LogCheck check = openFolder(path, why);
    if (check != LogCheck::Trusted) return check;
    HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return LogCheck::Trusted;  // made inside the folder at the first output
    char shown[kTextBufferSize];
    longPathOr(path.c_str(), shown, sizeof shown);
    bool plain = plainFileInside(file, shown, why, true);
    CloseHandle(file);
    return plain ? LogCheck::Trusted : LogCheck::Refused;
  }

  bool open(const std::string& path, bool truncate) override {
    if (!guarded_) {
      file_ = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          truncate ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file_ == INVALID_HANDLE_VALUE) {
        file_ = nullptr;
        return failed();
      }
      SetFilePointer(file_, 0, nullptr, FILE_END);
      return true;
    }
    // Each channel's reader thread rolls its own file: nothing here is shared.
    char why[kTextBufferSize];
    file_ = nullptr;
    if (!folder_) {
      LogCheck check = openFolder(path, why);
      if (check == LogCheck::Refused) reportOnce(why);
      if (check != LogCheck::Trusted)
        return failed(check == LogCheck::Refused ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
    }
    // Emptied only once it is known to be a plain file of the folder: CREATE_ALWAYS
    // would truncate whatever a name leads to before anything could be checked.
    file_ = CreateFileA(path.c_str(), GENERIC_WRITE | READ_CONTROL | FILE_READ_ATTRIBUTES,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) {
      file_ = nullptr;
      return failed();
    }
    if (!plainFileInside(file_, path, why, true)) {
      reportOnce(why);
      CloseHandle(file_);
      file_ = nullptr;
      return failed(ERROR_ACCESS_DENIED);
    }
    if (truncate) {
      SetFilePointer(file_, 0, nullptr, FILE_BEGIN);
      SetEndOfFile(file_);
    }
    SetFilePointer(file_, 0, nullptr, FILE_END);
    return true;
  }
  size_t write(const char* data, size_t size) override {
    size_t done = 0;
    while (done < size) {
      DWORD piece = static_cast<DWORD>(size - done > (1u << 30) ? (1u << 30) : size - done), written = 0;
      if (!WriteFile(file_, data + done, piece, &written, nullptr) || written == 0) {
        error_ = GetLastError();
        break;
      }
      done += written;
    }
    return done;
  }
  void close() override {
    if (file_) CloseHandle(file_);
    file_ = nullptr;
  }
  int64_t size(const std::string& path) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  uint32_t modifiedDay(const std::string& path) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    FILETIME local;
    SYSTEMTIME time;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        !FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToSystemTime(&local, &time))
      return 0;
    return time.wYear * 10000u + time.wMonth * 100u + time.wDay;
  }
  bool rename(const std::string& from, const std::string& to) override {
    if (!guarded_) {
      if (MoveFileA(from.c_str(), to.c_str())) return true;
      return failed();
    }
    // Within the folder only, by the handle of the file checked, to the name in the
    // folder as it was found (the final path, which no link on the way can change).
    if (folderOf(from) != folderOf(to)) return failed(ERROR_ACCESS_DENIED);
    HANDLE file = openChecked(from);
    if (!file) return false;
    std::string target = folderFinal_;
    if (target.rfind("\\\\?\\", 0) == 0) target.replace(0, 4, "\\??\\");
    if (target.back() != '\\') target += '\\';
    target += to.substr(to.find_last_of('\\') + 1);
    std::vector<wchar_t> wide(kTextBufferSize);
    int units = MultiByteToWideChar(fileApiCodePage(), 0, target.c_str(), -1, wide.data(), kTextBufferSize);
    // Zeroed: ReplaceIfExists stays 0, a file that is there is never replaced.
    std::vector<uint64_t> buffer((sizeof(FILE_RENAME_INFO) + kTextBufferSize * sizeof(wchar_t)) / 8 + 1, 0);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    bool renamed = false;
    if (units > 1) {
      info->FileNameLength = static_cast<DWORD>(units - 1) * sizeof(wchar_t);
      std::memcpy(info->FileName, wide.data(), info->FileNameLength);
      renamed = SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size() * 8)) != 0;
    }
    if (!renamed) error_ = units > 1 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
    CloseHandle(file);
    return renamed;
  }
  bool remove(const std::string& path) override {
    if (!guarded_) return DeleteFileA(path.c_str()) != 0 || failed();
    HANDLE file = openChecked(path);
    if (!file) return false;
    FILE_DISPOSITION_INFO info{TRUE};
    bool removed = SetFileInformationByHandle(file, FileDispositionInfo, &info, sizeof info) != 0;
    if (!removed) error_ = GetLastError();
    CloseHandle(file);
    return removed;
  }
  void list(const std::string& directory, std::vector<std::string>& names) override {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  unsigned long lastError() override { return error_; }
  void report(const std::string& line) override { logError("%s", line.c_str()); }

 private:
  static constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

  bool failed(DWORD error = GetLastError()) {
    error_ = error;
    return false;
  }

  // Once: every later output tries the file again.
  void reportOnce(const char* why) {
    if (reported_) return;
    reported_ = true;
    report(std::string("output log not written: ") + why);
  }

  // Held open without delete sharing for the life of the process: the folder
  // cannot be renamed or removed, and with it nothing on its path, while it is open.
  LogCheck openFolder(const std::string& path, char* why) {
    const std::string folder = folderOf(path);
    HANDLE handle = CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      formatText(why, kTextBufferSize, "its folder %s cannot be opened (error %lu)", folder.c_str(), GetLastError());
      return LogCheck::Unavailable;
    }
    char named[kTextBufferSize];
    longPathOr(folder.c_str(), named, sizeof named);
    BY_HANDLE_FILE_INFORMATION info;
    const std::string final = finalPathOf(handle);
    bool trusted = false;
    if (!GetFileInformationByHandle(handle, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      // A file where the folder should be: the log cannot be written, as without privilege.
      formatText(why, kTextBufferSize, "%s is no folder", named);
      CloseHandle(handle);
      return LogCheck::Unavailable;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
      formatText(why, kTextBufferSize, "its folder %s is a link or junction", named);
    else if (!finalPathIsNamed(named, final.c_str()))
      formatText(why, kTextBufferSize, "its folder %s leads to %s", named, namedFormOfFinalPath(final.c_str()).c_str());
    else
      trusted = openedMayBeTrusted(handle, named, why);
    if (!trusted) {
      CloseHandle(handle);
      return LogCheck::Refused;
    }
    folder_ = handle;
    folderFinal_ = final;
    return LogCheck::Trusted;
  }

  // A plain file (no link, junction or second name) directly inside the folder
  // and, with `trust`, one that no one else may change.
  bool plainFileInside(HANDLE file, const std::string& path, char* why, bool trust) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) {
      formatText(why, kTextBufferSize, "%s cannot be read (error %lu)", path.c_str(), GetLastError());
      return false;
    }
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) {
      formatText(why, kTextBufferSize, "%s is a link, junction or folder", path.c_str());
      return false;
    }
    if (info.nNumberOfLinks > 1) {
      formatText(why, kTextBufferSize, "%s has %lu names (hard links)", path.c_str(), info.nNumberOfLinks);
      return false;
    }
    const std::string final = finalPathOf(file);
    if (!finalPathIsDirectlyInside(folderFinal_.c_str(), final.c_str())) {
      formatText(why, kTextBufferSize, "%s leads to %s", path.c_str(), namedFormOfFinalPath(final.c_str()).c_str());
      return false;
    }
    return !trust || openedMayBeTrusted(file, path.c_str(), why);
  }

  // A rolled file to rename or delete, open for that; null (reported) when it is
  // not a plain file of the folder.
  HANDLE openChecked(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      error_ = GetLastError();
      return nullptr;
    }
    char why[kTextBufferSize];
    if (!folder_ || !plainFileInside(file, path, why, false)) {
      if (folder_) report("output log: " + std::string(why) + "; left alone");
      CloseHandle(file);
      error_ = ERROR_ACCESS_DENIED;
      return nullptr;
    }
    return file;
  }

  HANDLE file_ = nullptr;
  DWORD error_ = 0;
  bool guarded_ = false;
  bool reported_ = false;
  HANDLE folder_ = nullptr;
  std::string folderFinal_;
};

class LocalClock : public LogClock {
 public:
  uint32_t today() override {
    SYSTEMTIME time;
    GetLocalTime(&time);
    return time.wYear * 10000u + time.wMonth * 100u + time.wDay;
  }
};

struct Channel {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  HANDLE console = nullptr;  // a console run shows the output there too
  HANDLE drained = nullptr;  // set whenever the reader has taken tokens out or ended
  HANDLE thread = nullptr;
  // Counted rather than signalled: the token of a drain that gave up still comes
  // through later and must not end the next drain early.
  LONG tokensSent = 0;
  volatile LONG tokensSeen = 0;
  volatile LONG ended = 0;
  WinLogFiles systemFiles;
  LogFiles* files = &systemFiles;
  RollingLog* log = nullptr;
  StreamMarker* marker = nullptr;
};

Channel channels[2];
int channelCount = 0;
std::string drainToken;
HANDLE drainLock = nullptr;  // a mutex: taken with a time limit
LocalClock localClock;
LogFiles* (*replacedFiles)(LogFiles& system) = nullptr;

DWORD WINAPI readChannel(void* parameter) {
  Channel& channel = *static_cast<Channel*>(parameter);
  char* buffer = new char[kReadSize];
  auto out = [&channel](const char* data, size_t size) {
    if (channel.console) {
      DWORD written;
      WriteFile(channel.console, data, static_cast<DWORD>(size), &written, nullptr);
    }
    channel.log->write(data, size);
  };
  DWORD n;
  while (ReadFile(channel.read, buffer, kReadSize, &n, nullptr)) {
    if (int found = channel.marker->feed(buffer, n, out)) {
      InterlockedExchangeAdd(&channel.tokensSeen, found);
      SetEvent(channel.drained);
    }
    // After a small read, let the output gather in the pipe's buffer for a moment:
    // one read and one file write per line of a busy application would cost more
    // than the application's own writes.
    if (n < kReadSize / 4) Sleep(kGatherMs);
  }
  channel.marker->finish(out);
  InterlockedExchange(&channel.ended, 1);
  SetEvent(channel.drained);
  return 0;
}

// A folder on the way to a log that does not exist yet. A privileged process makes
// it closed to others (SYSTEM, Administrators and its own account, handed on to
// the files inside): whoever may write a log folder steers what the service
// writes, renames and deletes. Nothing is made with weaker security.
void makeLogFolder(const char* path) {
  if (!runningPrivileged()) {
    CreateDirectoryA(path, nullptr);
    return;
  }
  PrivateSecurity security;
  if (!buildPrivateSecurity(security, true)) return;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &security.descriptor, FALSE};
  CreateDirectoryA(path, &attributes);
}

// The name of a log setting as a full path (relative to the executable's folder,
// variables expanded), with its folders created; false when it is empty.
bool configuredLogPath(int32_t id, const char* what, char* full) {
  static char text[kTextBufferSize];
  readTextSetting(id, text, what);
  if (!text[0]) return false;
  expandLaunchText(text, what);
  fullLaunchPath(full, text, true, what);
  // Every folder on the way, from the root down; existing ones fail harmlessly.
  size_t start = 3;
  if (full[0] == '\\' && full[1] == '\\') {
    const char* share = std::strchr(full + 2, '\\');
    share = share ? std::strchr(share + 1, '\\') : nullptr;
    start = share ? static_cast<size_t>(share - full) + 1 : std::strlen(full);
  }
  for (size_t i = start; full[i]; ++i) {
    if (full[i] != '\\') continue;
    full[i] = '\0';
    makeLogFolder(full);
    full[i] = '\\';
  }
  return true;
}

// Privileged: false (reported once) when the log's folder or file fails the
// checks; the process runs on without that log.
bool mayWriteLog(Channel& channel, const char* path, const char* what) {
  if (!runningPrivileged()) return true;
  static char why[kTextBufferSize], text[kTextBufferSize], shown[kTextBufferSize];
  if (channel.systemFiles.guard(path, why) != LogCheck::Refused) return true;
  // Named as an administrator typed it: the folder's long form and the file's name.
  const std::string folder = folderOf(path);
  DWORD n = getLongPath(folder.c_str(), shown, sizeof shown);
  if (n == 0 || n >= sizeof shown || !appendText(shown, sizeof shown, path + folder.size()))
    copyText(shown, sizeof shown, path);
  path = shown;
  formatText(text, sizeof text,
             "The %s %s is not written: %s. Only SYSTEM, Administrators and the service's account may own or change "
             "a log's folder and files, and neither may be a link.",
             what, path, why);
  showWarning(text);
  return false;
}

LogPolicy logPolicy() {
  LogPolicy policy;
  static char text[kTextBufferSize];
  getStringSetting(setting::LogMode, text, sizeof text);
  if (!parseLogMode(text, policy.mode)) logError("LogMode \"%s\" unknown, appending", text);
  getStringSetting(setting::LogSizeThreshold, text, sizeof text);
  if (text[0] && !parseLogSize(text, policy.threshold)) logError("LogSizeThreshold \"%s\" invalid, using 10M", text);
  if (configStore().narrow.count(setting::LogKeepFiles)) policy.keep = getIntSetting(setting::LogKeepFiles);
  return policy;
}

// A random token, unlikely in any output, that begins with a NUL byte so that the
// reader's search for its start rarely stops in text.
void makeDrainToken() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  uint64_t seed = static_cast<uint64_t>(counter.QuadPart) ^ (uint64_t{GetCurrentProcessId()} << 32) ^ GetTickCount();
  drainToken.assign(1, '\0');
  for (int i = 0; i < 15; ++i) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    drainToken += static_cast<char>(seed >> 56);
  }
}

bool openChannel(Channel& channel, const char* path, const LogPolicy& policy, HANDLE console) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  // The write end is inheritable: child processes the application starts with its
  // standard handles write into the log as well.
  if (!CreatePipe(&channel.read, &channel.write, &inherit, kPipeBuffer)) {
    logError("output capture: CreatePipe failed (%lu)", GetLastError());
    return false;
  }
  SetHandleInformation(channel.read, HANDLE_FLAG_INHERIT, 0);
  channel.console = console;
  channel.drained = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (replacedFiles) channel.files = replacedFiles(channel.systemFiles);
  channel.log = new RollingLog(*channel.files, localClock, path, policy);
  channel.log->start();
  channel.marker = new StreamMarker(drainToken);
  channel.thread = CreateThread(nullptr, 0, readChannel, &channel, 0, nullptr);
  if (!channel.thread) {
    logError("output capture: CreateThread failed (%lu)", GetLastError());
    CloseHandle(channel.read);
    CloseHandle(channel.write);
    return false;
  }
  return true;
}

HANDLE copyHandle(HANDLE handle) {
  HANDLE copy = nullptr;
  if (!handle || handle == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
    return nullptr;
  return copy;
}

// The calls of one C runtime that point its descriptors elsewhere.
struct RuntimeCalls {
  int(__cdecl* open)(intptr_t, int);
  int(__cdecl* dup2)(int, int);
  int(__cdecl* close)(int);
};

// Points a C runtime's descriptor at the pipe through a copy of its handle; the
// descriptor keeps text mode, as it has on a console or file.
bool pointDescriptor(const RuntimeCalls& runtime, int fd, HANDLE pipe) {
  HANDLE copy;
  if (!DuplicateHandle(GetCurrentProcess(), pipe, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
    return false;
  int temporary = runtime.open(reinterpret_cast<intptr_t>(copy), _O_TEXT);
  if (temporary < 0) {
    CloseHandle(copy);
    return false;
  }
  runtime.dup2(temporary, fd);
  runtime.close(temporary);
  return true;
}

void pointDescriptor(int fd, HANDLE pipe) { pointDescriptor(RuntimeCalls{_open_osfhandle, _dup2, _close}, fd, pipe); }

// A process started without console handles (a service) has its standard streams
// bound to no descriptor at all (-2), so that _dup2 on 1 and 2 does not reach them:
// bind them to the descriptors. msvcrt's FILE is open for this (freopen would
// close the missing descriptor first and fails).
void bindStream(std::FILE* stream, int fd) {
  if (_fileno(stream) >= 0) return;
  stream->_file = fd;
}

// The C runtimes a JVM may bring: each keeps its own stream buffers and descriptors.
const char* const kRuntimes[] = {"ucrtbase.dll", "msvcr120.dll", "msvcr110.dll", "msvcr100.dll",
                                 "msvcr90.dll",  "msvcr80.dll",  "msvcr71.dll",  "ucrtbased.dll"};

void flushRuntimes() {
  std::fflush(nullptr);
  for (const char* name : kRuntimes) {
    HMODULE runtime = GetModuleHandleA(name);
    if (!runtime) continue;
    using Flush = int(__cdecl*)(FILE*);
    if (auto flush = reinterpret_cast<Flush>(reinterpret_cast<void*>(GetProcAddress(runtime, "fflush"))))
      flush(nullptr);
  }
}

// The drain's blocking part: flushes the C runtimes and sends a token down each
// pipe, either of which waits while the pipe is full.
DWORD WINAPI sendTokens(void*) {
  flushRuntimes();
  for (int i = 0; i < channelCount; ++i) {
    DWORD written;
    WriteFile(channels[i].write, drainToken.data(), static_cast<DWORD>(drainToken.size()), &written, nullptr);
  }
  return 0;
}

}  // namespace

void startOutputCapture(bool console) {
  if (channelCount > 0) return;
  if (console && getIntSetting(setting::ConsoleLog) == 0) return;
  static char outputPath[kTextBufferSize], errorPath[kTextBufferSize];
  if (!configuredLogPath(setting::OutputLog, "OutputLog", outputPath)) return;
  bool separate = configuredLogPath(setting::ErrorLog, "ErrorLog", errorPath) && lstrcmpiA(outputPath, errorPath) != 0;
  // Standard error goes to the output log when its own file is refused.
  if (!mayWriteLog(channels[0], outputPath, "output log")) return;
  if (separate && !mayWriteLog(channels[1], errorPath, "error log")) separate = false;
  LogPolicy policy = logPolicy();
  makeDrainToken();
  drainLock = CreateMutexA(nullptr, FALSE, nullptr);
  if (!drainLock) {
    logError("output capture: CreateMutex failed (%lu)", GetLastError());
    return;
  }
  // Copies: pointing descriptors 1 and 2 elsewhere closes the handles they held,
  // which are the standard handles themselves.
  HANDLE consoleOut = console ? copyHandle(GetStdHandle(STD_OUTPUT_HANDLE)) : nullptr;
  HANDLE consoleErr = console ? copyHandle(GetStdHandle(STD_ERROR_HANDLE)) : nullptr;
  // The console run flushes what the launcher printed so far before the handles change.
  std::fflush(stdout);
  std::fflush(stderr);
  if (!openChannel(channels[0], outputPath, policy, consoleOut)) return;
  channelCount = 1;
  // Reports on any floor end the process through the drain from now on.
  setOutputDrain(drainOutputCapture);
  if (separate && openChannel(channels[1], errorPath, policy, consoleErr)) channelCount = 2;
  HANDLE errorPipe = channels[channelCount - 1].write;
  SetStdHandle(STD_OUTPUT_HANDLE, channels[0].write);
  SetStdHandle(STD_ERROR_HANDLE, errorPipe);
  pointDescriptor(1, channels[0].write);
  pointDescriptor(2, errorPipe);
  bindStream(stdout, 1);
  bindStream(stderr, 2);
  logMessage("output capture: %s%s%s", outputPath, channelCount == 2 ? ", errors: " : "",
             channelCount == 2 ? errorPath : "");
  std::atexit(drainOutputCapture);
}

void bindRuntimeDescriptors() {
  if (channelCount == 0) return;
  using GetHandle = intptr_t(__cdecl*)(int);
  const HANDLE pipes[2] = {channels[0].write, channels[channelCount - 1].write};
  // Handles of this process that lead into the capture: a runtime that holds one
  // of them already writes there (it was loaded after the capture began, or its
  // stale handle value was given to one of ours). Its _dup2 would close it.
  const HANDLE ours[] = {channels[0].write, channels[1].write, channels[0].read, channels[1].read,
                         reinterpret_cast<HANDLE>(_get_osfhandle(1)), reinterpret_cast<HANDLE>(_get_osfhandle(2)),
                         channels[0].console, channels[1].console};
  for (const char* name : kRuntimes) {
    HMODULE runtime = GetModuleHandleA(name);
    if (!runtime) continue;
    auto get = reinterpret_cast<GetHandle>(reinterpret_cast<void*>(GetProcAddress(runtime, "_get_osfhandle")));
    RuntimeCalls calls;
    calls.open = reinterpret_cast<decltype(calls.open)>(reinterpret_cast<void*>(GetProcAddress(runtime, "_open_osfhandle")));
    calls.dup2 = reinterpret_cast<decltype(calls.dup2)>(reinterpret_cast<void*>(GetProcAddress(runtime, "_dup2")));
    calls.close = reinterpret_cast<decltype(calls.close)>(reinterpret_cast<void*>(GetProcAddress(runtime, "_close")));
    if (!get || !calls.open || !calls.dup2 || !calls.close) continue;
    for (int fd = 1; fd <= 2; ++fd) {
      HANDLE held = reinterpret_cast<HANDLE>(get(fd));
      bool shared = false;
      for (HANDLE own : ours) shared |= own && held == own;
      DWORD flags;
      // A live handle that is not ours may by now be any object of the process:
      // closing it could break what uses it, so that descriptor is left alone.
      // -2: no handle at all (a process started without standard handles).
      const bool live = held != INVALID_HANDLE_VALUE && held != reinterpret_cast<HANDLE>(-2) &&
                        GetHandleInformation(held, &flags);
      if (shared || live) {
        logMessage("output capture: descriptor %d of %s left as it is", fd, name);
        continue;
      }
      if (!pointDescriptor(calls, fd, pipes[fd - 1])) continue;
      logMessage("output capture: descriptor %d of %s bound", fd, name);
    }
  }
}

void drainOutputCapture() { drainOutputCaptureWithin(kDrainBoundMs); }

void drainOutputCaptureWithin(unsigned long boundMs) {
  if (channelCount == 0) {
    std::fflush(stdout);
    std::fflush(stderr);
    return;
  }
  const DWORD start = GetTickCount();
  // Abandoned: a thread that held it has ended; the mutex is ours all the same.
  if (WaitForSingleObject(drainLock, boundMs) == WAIT_TIMEOUT) {
    logError("output capture: an earlier drain still waits; not waiting for it beyond %lu ms", boundMs);
    return;
  }
  LONG targets[2];
  for (int i = 0; i < channelCount; ++i) targets[i] = ++channels[i].tokensSent;
  HANDLE sender = CreateThread(nullptr, 0, sendTokens, nullptr, 0, nullptr);
  if (!sender) {
    logError("output capture: CreateThread failed (%lu); not drained", GetLastError());
    ReleaseMutex(drainLock);
    return;
  }
  CloseHandle(sender);
  for (int i = 0; i < channelCount; ++i) {
    while (channels[i].tokensSeen < targets[i] && !channels[i].ended) {
      DWORD spent = GetTickCount() - start;
      if (spent >= boundMs) {
        logError("output capture: the log files did not take the output within %lu ms", boundMs);
        i = channelCount;
        break;
      }
      WaitForSingleObject(channels[i].drained, boundMs - spent);
    }
  }
  ReleaseMutex(drainLock);
}

void replaceCaptureFiles(LogFiles* (*replacement)(LogFiles& system)) { replacedFiles = replacement; }

}  // namespace zanto

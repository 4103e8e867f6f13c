// The output capture (see OutputCapture.h). The drain sends a token of its own down
// each pipe after flushing: once the reader has taken it out of the stream,
// everything written before it is in the file, whoever wrote it and whichever
// copies of the pipe's handle exist. Nothing the drain does waits without a bound:
// the flush and the token's write, which block on a full pipe whose writer hangs,
// run on a thread of their own.
#include "OutputCapture.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ConfigBlock.h"
#include "LaunchText.h"
#include "Log.h"
#include "Paths.h"
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

class WinLogFiles : public LogFiles {
 public:
  bool open(const std::string& path, bool truncate) override {
    file_ = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        truncate ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) {
      error_ = GetLastError();
      file_ = nullptr;
      return false;
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
    if (MoveFileA(from.c_str(), to.c_str())) return true;
    error_ = GetLastError();
    return false;
  }
  bool remove(const std::string& path) override { return DeleteFileA(path.c_str()) != 0; }
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
  HANDLE file_ = nullptr;
  DWORD error_ = 0;
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
    CreateDirectoryA(full, nullptr);
    full[i] = '\\';
  }
  return true;
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

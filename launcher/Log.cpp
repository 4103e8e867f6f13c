// Log file (see Log.h). Lines are written whole under a lock, so the service and
// control threads cannot interleave them, and the one-time opening is guarded too.
// The log holds every JVM option and path the launcher saw: it is a file of its
// own with a random name, made new (never one that someone put there first) and
// closed to everyone but SYSTEM, Administrators and the account. There is no
// fixed fall-back name: a predictable file in a shared folder is one anyone may
// make first, link elsewhere or read.
#include "Log.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// RtlGenRandom (advapi32's SystemFunction036): the system's random source.
#include <ntsecapi.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "PrivateSecurity.h"
#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

namespace {

bool logOpened = false;
FILE* logFile = nullptr;
const char* logPath = nullptr;
char madePath[kTextBufferSize];
SRWLOCK logLock = SRWLOCK_INIT;
// A name that is taken already is passed over for another this often.
constexpr int kLogNameAttempts = 16;

bool requested(const char* name) {
  char value[kTextBufferSize];
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value && std::strcmp(value, "yes") == 0;
}

// A new file "vmr_nlog_" + 16 random hex digits in the account's temporary
// folder (TMP as the system gives it, no other); null when none can be made.
FILE* createPrivateLog(char* path) {
  char directory[kTextBufferSize];
  DWORD n = GetTempPathA(sizeof directory, directory);
  if (n == 0 || n >= sizeof directory) return nullptr;
  static PrivateSecurity security;
  if (!buildPrivateSecurity(security, false)) return nullptr;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &security.descriptor, FALSE};
  const char* separator = directory[n - 1] == '\\' ? "" : "\\";
  for (int attempt = 0; attempt < kLogNameAttempts; ++attempt) {
    unsigned long unique[2] = {0, 0};
    if (!RtlGenRandom(unique, sizeof unique) ||
        !formatText(path, kTextBufferSize, "%s%svmr_nlog_%08lx%08lx", directory, separator, unique[0], unique[1]))
      return nullptr;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS) continue;
      return nullptr;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_TEXT);
    if (fd < 0) {
      CloseHandle(file);
      return nullptr;
    }
    if (FILE* stream = _fdopen(fd, "w")) return stream;
    _close(fd);
    return nullptr;
  }
  return nullptr;
}

void openLog() {
  if (logOpened) return;
  logOpened = true;
  if (!requested("ZANTO_LOG") && !requested("VELMORA_LOG")) return;
  logFile = createPrivateLog(madePath);
  if (!logFile) return;
  logPath = madePath;
  char module[kTextBufferSize];
  DWORD n = GetModuleFileNameA(nullptr, module, sizeof module);
  if (n == 0 || n >= sizeof module) module[0] = '\0';
  time_t now = std::time(nullptr);
  const char* when = std::ctime(&now);
  printTo(logFile, "Started executable %s at %s\n", module, when ? when : "\n");
  std::fflush(logFile);
}

void writeLine(const char* prefix, const char* format, va_list args) {
  AcquireSRWLockExclusive(&logLock);
  openLog();
  if (logFile) {
    if (prefix) std::fputs(prefix, logFile);
    printToV(logFile, format, args);
    std::fputs("\n", logFile);
    std::fflush(logFile);
  }
  ReleaseSRWLockExclusive(&logLock);
}

}  // namespace

void logMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  writeLine(nullptr, format, args);
  va_end(args);
}

void logError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  writeLine("ERROR: ", format, args);
  va_end(args);
}

const char* getLogPath() { return logPath; }

}  // namespace zanto

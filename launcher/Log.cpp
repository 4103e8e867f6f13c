// Log file (see Log.h). Lines are written whole under a lock, so the service and
// control threads cannot interleave them, and the one-time opening is guarded too.
#include "Log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

namespace {

bool logOpened = false;
FILE* logFile = nullptr;
const char* logPath = nullptr;
SRWLOCK logLock = SRWLOCK_INIT;
const char kFallbackLog[] = "c:\\vmr_nlog";

bool requested(const char* name) {
  char value[kTextBufferSize];
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value && std::strcmp(value, "yes") == 0;
}

void openLog() {
  if (logOpened) return;
  logOpened = true;
  if (!requested("ZANTO_LOG") && !requested("VELMORA_LOG")) return;
  logPath = _tempnam("c:\\", "vmr_nlog_");
  if (logPath) logFile = std::fopen(logPath, "w");
  if (!logFile) {
    logPath = kFallbackLog;
    logFile = std::fopen(logPath, "w");
    if (!logFile) return;
  }
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

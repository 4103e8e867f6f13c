// Error reporting and exit (see ErrorReport.h). The process ends with ExitProcess;
// standard output is flushed first so that a text printed before a fatal report
// (such as "error %d") is not lost in a pipe's buffer.
#include "ErrorReport.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "ConfigBlock.h"
#include "EventLog.h"
#include "Log.h"
#include "Paths.h"
#include "ProcessState.h"
#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

void showMessageBox(const char* text, const char* caption) {
  if (isEventLogMode()) return;
  HMODULE user32 = LoadLibraryA("user32.dll");
  if (!user32) return;
  using MessageBoxFn = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
  auto box = reinterpret_cast<MessageBoxFn>(reinterpret_cast<void*>(GetProcAddress(user32, "MessageBoxA")));
  if (box) box(nullptr, text, caption, MB_OK | MB_ICONERROR);
}

void showError(const char* text) {
  runExitCleanupAtEnd();
  static char report[kTextBufferSize];
  if (const char* log = getLogPath()) {
    static char longLog[kTextBufferSize];
    longPathOr(log, longLog, sizeof longLog);
    formatText(report, sizeof report, "%s\n\nLog: %s", text, longLog);
  } else {
    copyText(report, sizeof report, text);
  }
  if (isEventLogMode()) {
    // A service: the event log, the last failure and the launcher's log are where
    // an administrator looks.
    logError("%s", report);
    reportFailureEvent(report);
  } else if (!isConsoleErrorMode()) {
    static char caption[kTextBufferSize];
    getStringSetting(message::ErrorCaption, caption, sizeof caption);
    showMessageBox(report, caption);
  } else {
    std::fputs(report, stderr);
    std::fputs("\n", stderr);
    std::fflush(stderr);
  }
}

void showWarning(const char* text) {
  logError("%s", text);
  if (isEventLogMode()) {
    reportWarningEvent(text);
  } else if (isConsoleErrorMode()) {
    std::fputs(text, stderr);
    std::fputs("\n", stderr);
    std::fflush(stderr);
  }
}

void replaceFirstMarker(char* text, const char* marker, const char* replacement) {
  if (!marker || !*marker) return;
  char* at = std::strstr(text, marker);
  if (!at) return;
  static char tail[kTextBufferSize];
  copyText(tail, sizeof tail, at + std::strlen(marker));
  *at = '\0';
  appendText(text, kTextBufferSize, replacement ? replacement : "");
  appendText(text, kTextBufferSize, tail);
}

void showConfiguredError(int32_t messageId, const char* marker, const char* replacement, const char* detail) {
  static char text[kTextBufferSize];
  noteFailureCode(messageId);
  getStringSetting(messageId, text, sizeof text);
  replaceFirstMarker(text, marker, replacement);
  if (detail && *detail) {
    appendText(text, sizeof text, "\n");
    appendText(text, sizeof text, detail);
  }
  showError(text);
}

[[noreturn]] static void endProcess(unsigned exitCode) {
  drainOutputAtEnd();  // flushes the streams too, within its bound
  ExitProcess(exitCode);
}

// The service, if this is one, is reported stopped with exit code 1 first: a
// process that just ends leaves it running for the control manager of Wine, and
// unexplained (1067) for that of Windows.
[[noreturn]] static void endFatally() {
  reportFailedStart();
  endProcess(1);
}

void fatalError(const char* text) {
  showError(text);
  endFatally();
}

void fatalConfiguredError(int32_t messageId, const char* marker, const char* replacement) {
  showConfiguredError(messageId, marker, replacement);
  endFatally();
}

void fatalInternalError(int code) {
  char digits[16];
  formatText(digits, sizeof digits, "%d", code);
  fatalConfiguredError(message::InternalError, "%ERROR_CODE%", digits);
}

void exitLauncher(unsigned exitCode) {
  runExitCleanupAtEnd();
  endProcess(exitCode);
}

}  // namespace zanto

// Error reports: configured messages with one marker replaced, shown in a message
// box (windowed kinds) or on standard error, with the log's path appended.
#pragma once

#include <cstdint>

#include "ProcessState.h"

namespace zanto {

void showError(const char* text);
// Something the launcher goes on without: into its log and, in service mode, a
// warning event; on standard error when reports go to the console. Never a box,
// never the end of the process.
void showWarning(const char* text);
// `detail`, when given, follows the configured text on a line of its own (what
// failed and the Windows error, which a configured text cannot carry).
void showConfiguredError(int32_t messageId, const char* marker, const char* replacement,
                         const char* detail = nullptr);
[[noreturn]] void fatalError(const char* text);
[[noreturn]] void fatalConfiguredError(int32_t messageId, const char* marker, const char* replacement);
// Message 1009 with the internal error code.
[[noreturn]] void fatalInternalError(int code);
[[noreturn]] void exitLauncher(unsigned exitCode);
// MessageBoxA, with user32 loaded only when a box is really shown. Never in
// service mode: a box there is on a desktop nobody sees and never returns.
void showMessageBox(const char* text, const char* caption);
// Replaces the first occurrence of marker in text (8192-byte buffer), cutting.
void replaceFirstMarker(char* text, const char* marker, const char* replacement);

}  // namespace zanto

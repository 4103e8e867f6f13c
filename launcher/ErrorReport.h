// Error reports: configured messages with one marker replaced, shown in a message
// box (windowed kinds) or on standard error, with the log's path appended.
#pragma once

#include <cstdint>

namespace zanto {

void useConsoleErrors();
bool isConsoleErrorMode();
void showError(const char* text);
// Something the launcher goes on without: into its log and, in service mode, a
// warning event; on standard error when reports go to the console. Never a box,
// never the end of the process.
void showWarning(const char* text);
// `detail`, when given, follows the configured text on a line of its own (what
// failed and the Windows error, which a configured text cannot carry).
void showConfiguredError(int32_t messageId, const char* marker, const char* replacement,
                         const char* detail = nullptr);
// The id of the last configured message reported, or the code a report without
// one noted (0: none): the service-specific exit code of a failed start.
int32_t lastReportedMessageId();
void noteFailureCode(int32_t code);
// Failure codes of reports that carry no configured message.
constexpr int32_t kFailureBlockUnreadable = 1020;
constexpr int32_t kFailureFirstRun = 1021;
constexpr int32_t kFailureNoTempDirectory = 1022;
constexpr int32_t kFailureUntrustedFile = 1023;
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

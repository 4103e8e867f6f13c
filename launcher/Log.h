// The optional diagnostic log: on when ZANTO_LOG or VELMORA_LOG is exactly "yes",
// opened on the first log call, every line flushed at once.
#pragma once

namespace zanto {

void logMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The log file's name (a private file in the account's TMP), or null before the
// first log call, when logging is off, or when no file could be made.
const char* getLogPath();

}  // namespace zanto

// Checked text steps of the Java launch: settings, expansion, path resolution and
// code-page conversion into the fixed 8192-byte buffers. A text that would not fit
// is refused (internal error), never cut: a cut path or option starts the wrong thing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "Settings.h"

namespace zanto {

// Internal error code (message 1009) of the Java launch beyond the JNI core's 14,
// 15 and 21: a setting, expanded text, resolved path, ".vmoptions" line, property
// or converted argument would exceed its 8192-byte buffer (31). The class path,
// the ClassPath list, VmParameters and environment values behind "E" entries have
// no fixed buffer: they grow as needed (a large application lists hundreds of jars).
constexpr int kTextTooLong = 31;

// Logs "text too long: <what>" and ends with message 1009 and kTextTooLong.
[[noreturn]] void refuseTooLongText(const char* what);

// The 8-bit setting into 8192 bytes; refused when its value is longer.
void readTextSetting(int32_t id, char* buffer, const char* what);
// The whole 8-bit setting, up to its first NUL; empty when absent.
std::string wholeTextSetting(int32_t id);
// Expands the launcher variables and ${NAME} references in place (8192 bytes).
void expandLaunchText(char* text, const char* what);
// The same without a fixed size: the result is as long as the expansion makes it.
std::string expandWholeText(const std::string& text, const char* what);
// resolvePath into 8192 bytes, refused when the joined path would not fit.
void resolveLaunchPath(char* destination, const char* path, const char* what);
// getFullPath into 8192 bytes, refused likewise.
void fullLaunchPath(char* destination, const char* path, bool keepCase, const char* what);

// CP_ACP (or the given code page) <-> UTF-16; refused when longer than `maxUnits`.
std::u16string toWideText(const char* text, unsigned codePage, const char* what,
                          size_t maxUnits = kTextBufferSize - 1);
// UTF-16 -> CP_ACP (or the given code page), "?" for what does not map (as the
// runtime's "%S" does). UTF-8 (65001, also as the ANSI code page of systems set to
// "Use Unicode UTF-8") takes no default character: Windows fails such a call.
// Should the conversion fail anyway, ASCII stays and the rest becomes "?", so an
// option is never lost.
std::string toNarrowText(const char16_t* text, size_t units, unsigned codePage = 0);

// The code page of the block's 8-bit texts: its CodePage record when the system
// knows that code page, else the ANSI code page (blocks of other tools).
unsigned blockCodePage();

}  // namespace zanto

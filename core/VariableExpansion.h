// Expansion of the launcher's own variables (%ZANTO_EXEDIR% and the like) and of
// ${NAME} environment references in configured texts, in place in a fixed buffer.
// Portable: the caller supplies the values and the 8-bit environment block.
#pragma once

#include <cstddef>

namespace zanto {

enum class ExpandStatus {
  Ok,
  // A replacement would not have fitted into the buffer. That occurrence and every
  // later one of the same pattern were left as written; the text is never cut.
  TooLong,
};

// Replaces every occurrence of `pattern` in the text (a NUL-terminated string in a
// buffer of `size` bytes), case-sensitively. The search resumes after each
// inserted replacement, so a replacement holding its own pattern does not loop.
// An empty pattern replaces nothing. A text not terminated within `size` is left
// alone and reported as TooLong.
ExpandStatus replaceAll(char* text, size_t size, const char* pattern, const char* replacement);

struct ExpansionValues {
  const char* exeDir = "";   // the executable's directory, ending in a backslash
  const char* tempDir = "";  // extraction directory; empty when nothing was extracted
  const char* jvmHome = "";  // the Java executable's directory followed by ".."
};

// The sixteen launcher variables, then every ${NAME} of the environment block
// (NAME=VALUE\0...\0\0, as GetEnvironmentStrings gives it; null for none) spelled
// as in the block and in upper case. A block entry whose name is empty or which
// holds no '=' is skipped; Windows' hidden per-drive entries ("=C:=C:\dir") are
// named by their leading '=' and the text up to the next one ("=C:").
// Every replacement is tried even after one did not fit; the status says whether
// all did.
ExpandStatus expandVariables(char* text, size_t size, const ExpansionValues& values,
                             const char* environmentBlock);

}  // namespace zanto

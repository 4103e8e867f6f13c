// Bounded text helpers (see TextBuffer.h).
#include "TextBuffer.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace zanto {

bool copyText(char* dst, size_t size, const char* src) {
  if (size == 0) return src[0] == '\0';
  size_t n = std::strlen(src);
  bool fits = n < size;
  if (!fits) n = size - 1;
  std::memcpy(dst, src, n);
  dst[n] = '\0';
  return fits;
}

bool appendText(char* dst, size_t size, const char* src) {
  size_t used = strnlen(dst, size);
  if (used >= size) return src[0] == '\0';
  return copyText(dst + used, size - used, src);
}

bool formatTextV(char* dst, size_t size, const char* format, va_list args) {
  if (size == 0) return false;
#if defined(_WIN32)
  // The system runtime's formatter: the C99 one of mingw adds a lot of code.
  int n = _vsnprintf(dst, size, format, args);
#else
  int n = std::vsnprintf(dst, size, format, args);
#endif
  // The Windows runtime returns -1 on truncation and may leave no terminator.
  if (n < 0 || static_cast<size_t>(n) >= size) {
    dst[size - 1] = '\0';
    return false;
  }
  return true;
}

bool formatText(char* dst, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  bool ok = formatTextV(dst, size, format, args);
  va_end(args);
  return ok;
}

void printToV(std::FILE* stream, const char* format, va_list args) {
  char text[8192];
  va_list again;
  va_copy(again, args);
  if (formatTextV(text, sizeof text, format, args)) {
    std::fputs(text, stream);
  } else {
    // Longer than the buffer: a log line (a long class path, say) is written whole.
#if defined(_WIN32)
    va_list measure;
    va_copy(measure, again);
    int n = _vscprintf(format, measure);
    va_end(measure);
#else
    va_list measure;
    va_copy(measure, again);
    int n = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
#endif
    std::string whole(n > 0 ? static_cast<size_t>(n) + 1 : 0, '\0');
    if (n > 0 && formatTextV(whole.data(), whole.size(), format, again))
      std::fputs(whole.c_str(), stream);
    else
      std::fputs(text, stream);
  }
  va_end(again);
}

void printTo(std::FILE* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  printToV(stream, format, args);
  va_end(args);
}

size_t wideLength(const char16_t* s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

bool copyWide(char16_t* dst, size_t units, const char16_t* src) {
  if (units == 0) return src[0] == 0;
  size_t n = wideLength(src);
  bool fits = n < units;
  if (!fits) n = units - 1;
  std::memcpy(dst, src, n * sizeof(char16_t));
  dst[n] = 0;
  return fits;
}

}  // namespace zanto

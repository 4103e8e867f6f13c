// Bounded text helpers for the launcher's fixed-size buffers: every copy, append
// and format cuts at the buffer's end and always terminates. Portable.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>

namespace zanto {

// Copies src into dst (size bytes), cutting; returns false when src was cut.
bool copyText(char* dst, size_t size, const char* src);
// Appends src to the text already in dst; returns false when it was cut.
bool appendText(char* dst, size_t size, const char* src);
// printf into dst, cutting; returns false when the result was cut.
bool formatText(char* dst, size_t size, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
bool formatTextV(char* dst, size_t size, const char* format, va_list args);

// printf to a stream through formatText, whole however long. The launcher writes
// all its formatted output this way: the C99 printf of the mingw runtime would
// link a second formatter into the executable.
void printTo(std::FILE* stream, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void printToV(std::FILE* stream, const char* format, va_list args);

// The same for UTF-16 text in char16_t units.
size_t wideLength(const char16_t* s);
bool copyWide(char16_t* dst, size_t units, const char16_t* src);

}  // namespace zanto

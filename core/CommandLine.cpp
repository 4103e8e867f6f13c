// Command-line rules (see CommandLine.h).
#include "CommandLine.h"

#include <cstring>

#include "TextBuffer.h"

namespace zanto {

namespace {
bool isBlank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

const char* commandTail(const char* p) {
  while (isBlank(*p)) ++p;
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p && !isBlank(*p)) ++p;
  }
  while (isBlank(*p)) ++p;
  return p;
}

bool splitCommandWord(const char* tail, char* word, char* serviceName, size_t size) {
  if (*tail != '/' && *tail != '-') return false;
  ++tail;
  if (*tail == '-') ++tail;
  const char* blank = std::strchr(tail, ' ');
  if (blank && blank[1] != '\0') copyText(serviceName, size, blank + 1);
  size_t length = blank ? static_cast<size_t>(blank - tail) : std::strlen(tail);
  if (length >= size) length = size - 1;
  std::memcpy(word, tail, length);
  word[length] = '\0';
  return true;
}

}  // namespace zanto

// libFuzzer target for variable expansion. Input: one byte choosing the buffer
// size, the text up to a 0x01 byte, then environment entries separated by '\n'.
// The buffer is exactly that size, so AddressSanitizer sees any overrun.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "VariableExpansion.h"

using zanto::ExpandStatus;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t bufferSize = 1 + static_cast<size_t>(data[0]) * 33;  // 1 .. 8416
  const char* begin = reinterpret_cast<const char*>(data + 1);
  const char* end = reinterpret_cast<const char*>(data + size);
  const char* split = static_cast<const char*>(std::memchr(begin, 1, static_cast<size_t>(end - begin)));
  std::string text(begin, split ? split : end);
  text = text.substr(0, std::strlen(text.c_str()));
  if (text.size() >= bufferSize) text.resize(bufferSize - 1);

  std::string block;
  if (split) {
    for (const char* p = split + 1; p < end; ++p) block.push_back(*p == '\n' ? '\0' : *p);
    // An entry may hold NUL bytes from the input: that just makes more entries.
    block.push_back('\0');
    block.push_back('\0');
  }

  std::vector<char> buffer(bufferSize);
  std::memcpy(buffer.data(), text.c_str(), text.size() + 1);
  zanto::ExpansionValues values;
  values.exeDir = "C:\\app\\";
  values.tempDir = "C:\\tmp\\zto1\\";
  values.jvmHome = "C:\\jre\\bin\\..";
  ExpandStatus status = zanto::expandVariables(buffer.data(), buffer.size(), values, split ? block.data() : nullptr);

  size_t length = strnlen(buffer.data(), buffer.size());
  if (length >= buffer.size()) abort();  // always terminated inside the buffer
  // Only references are rewritten: a text without '%' or '$' stays as it was.
  if (text.find_first_of("%$") == std::string::npos &&
      (status != ExpandStatus::Ok || std::string(buffer.data()) != text))
    abort();

  // replaceAll with a pattern and replacement taken from the text itself.
  if (text.size() >= 2) {
    std::string pattern = text.substr(0, 1 + data[0] % 3);
    std::string replacement = text.substr(text.size() / 2);
    std::vector<char> again(bufferSize);
    std::memcpy(again.data(), text.c_str(), text.size() + 1);
    ExpandStatus s = zanto::replaceAll(again.data(), again.size(), pattern.c_str(), replacement.c_str());
    if (strnlen(again.data(), again.size()) >= again.size()) abort();
    // When all fitted and the replacement cannot rebuild the pattern, none is left.
    if (s == ExpandStatus::Ok && !replacement.empty() && replacement.find_first_of(pattern) == std::string::npos &&
        std::strstr(again.data(), pattern.c_str()))
      abort();
  }
  return 0;
}

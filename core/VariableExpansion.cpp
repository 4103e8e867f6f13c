// Variable expansion in configured texts (see VariableExpansion.h).
#include "VariableExpansion.h"

#include <cstring>
#include <string>

namespace zanto {

ExpandStatus replaceAll(char* text, size_t size, const char* pattern, const char* replacement) {
  size_t length = strnlen(text, size);
  if (length >= size) return ExpandStatus::TooLong;
  size_t patternLength = std::strlen(pattern);
  if (patternLength == 0) return ExpandStatus::Ok;
  size_t replacementLength = std::strlen(replacement);

  char* hit = std::strstr(text, pattern);
  while (hit) {
    size_t newLength = length - patternLength + replacementLength;
    // Once one does not fit, no later one will: each hit grows the text alike.
    if (newLength >= size) return ExpandStatus::TooLong;
    size_t tail = length - static_cast<size_t>(hit - text) - patternLength;
    std::memmove(hit + replacementLength, hit + patternLength, tail + 1);
    std::memcpy(hit, replacement, replacementLength);
    length = newLength;
    hit = std::strstr(hit + replacementLength, pattern);
  }
  return ExpandStatus::Ok;
}

namespace {

struct FixedVariable {
  const char* pattern;
  const char* ExpansionValues::*value;  // null: the path-list separator
};

// Order matters: text inserted by one step is seen by the later ones.
constexpr FixedVariable kFixedVariables[] = {
    {"%ZANTO_EXEDIR%", &ExpansionValues::exeDir},
    {"%VELMORA_EXEDIR%", &ExpansionValues::exeDir},
    {"%ZANTO_TEMPDIR%", &ExpansionValues::tempDir},
    {"%VELMORA_TEMPDIR%", &ExpansionValues::tempDir},
    {"%ZANTO_PATHLIST_SEPARATOR%", nullptr},
    {"%VELMORA_PATHLIST_SEPARATOR%", nullptr},
    {"%ZANTO_JVM_HOME%", &ExpansionValues::jvmHome},
    {"%VELMORA_JVM_HOME%", &ExpansionValues::jvmHome},
    {"${ZANTO_EXEDIR}", &ExpansionValues::exeDir},
    {"${VELMORA_EXEDIR}", &ExpansionValues::exeDir},
    {"${ZANTO_TEMPDIR}", &ExpansionValues::tempDir},
    {"${VELMORA_TEMPDIR}", &ExpansionValues::tempDir},
    {"${ZANTO_PATHLIST_SEPARATOR}", nullptr},
    {"${VELMORA_PATHLIST_SEPARATOR}", nullptr},
    {"${ZANTO_JVM_HOME}", &ExpansionValues::jvmHome},
    {"${VELMORA_JVM_HOME}", &ExpansionValues::jvmHome},
};

// ASCII only, as the "C" locale upper-cases.
void upperCase(std::string& s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
}

}  // namespace

ExpandStatus expandVariables(char* text, size_t size, const ExpansionValues& values,
                             const char* environmentBlock) {
  bool allFitted = true;
  auto replace = [&](const char* pattern, const char* value) {
    if (replaceAll(text, size, pattern, value ? value : "") != ExpandStatus::Ok) allFitted = false;
  };

  for (const FixedVariable& v : kFixedVariables) replace(v.pattern, v.value ? values.*(v.value) : ";");

  if (environmentBlock) {
    std::string pattern;
    for (const char* entry = environmentBlock; *entry; entry += std::strlen(entry) + 1) {
      // The name is taken from the block in place, so no entry is ever cut; a
      // leading '=' belongs to the name of the hidden per-drive entries.
      const char* equals = std::strchr(entry + 1, '=');
      if (!equals) continue;
      pattern.assign("${");
      pattern.append(entry, equals);
      pattern.append("}");
      replace(pattern.c_str(), equals + 1);
      // For a name already in upper case a second pass would expand the
      // references that the first one just inserted.
      std::string upper = pattern;
      upperCase(upper);
      if (upper != pattern) replace(upper.c_str(), equals + 1);
    }
  }
  return allFitted ? ExpandStatus::Ok : ExpandStatus::TooLong;
}

}  // namespace zanto

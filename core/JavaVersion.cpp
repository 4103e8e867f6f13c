// Java version texts (see JavaVersion.h). No allocation: every result is written
// into the caller's buffer or points into the caller's text.
#include "JavaVersion.h"

#include <cstring>

namespace zanto {

namespace {

// Copies `length` bytes as the version; refuses what does not fit whole.
bool takeVersion(const char* text, size_t length, char* version, size_t size) {
  if (size == 0) return false;
  version[0] = '\0';
  if (length == 0 || length >= size) return false;
  std::memcpy(version, text, length);
  version[length] = '\0';
  return true;
}

// The text from `start` up to the next double quote on the line.
bool takeQuoted(const char* start, char* version, size_t size) {
  const char* end = start;
  while (*end && *end != '"' && *end != '\n') ++end;
  if (*end != '"') {
    if (size) version[0] = '\0';
    return false;
  }
  return takeVersion(start, static_cast<size_t>(end - start), version, size);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isSeparator(char c) { return c == '.' || c == '_' || c == '-' || c == '+'; }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Compares two digit runs by value, whatever their length and leading zeros.
int compareDigits(VersionPart a, VersionPart b) {
  while (a.length > 1 && a.text[0] == '0') ++a.text, --a.length;
  while (b.length > 1 && b.text[0] == '0') ++b.text, --b.length;
  if (a.length == 0 || b.length == 0) return (a.length > 0) - (b.length > 0);
  if (a.length != b.length) return a.length < b.length ? -1 : 1;
  int c = std::memcmp(a.text, b.text, a.length);
  return (c > 0) - (c < 0);
}

bool digitsEqual(VersionPart part, const char* value) {
  VersionPart v{value, std::strlen(value)};
  return compareDigits(part, v) == 0;
}

// A whole qualifier such as "ea", "rc2", "beta", "0beta1" (any case).
bool isMarker(const char* text, size_t length) {
  size_t i = 0;
  while (i < length && isDigit(text[i])) ++i;
  static const char* const kMarkers[] = {"beta", "ea", "rc"};
  for (const char* marker : kMarkers) {
    size_t n = std::strlen(marker);
    if (length - i < n) continue;
    bool same = true;
    for (size_t k = 0; k < n; ++k) same = same && lower(text[i + k]) == marker[k];
    if (!same) continue;
    size_t j = i + n;
    while (j < length && isDigit(text[j])) ++j;
    if (j == length) return true;
  }
  return false;
}

// Compares the first `count` numbers of two versions; missing ones count as 0.
int compareNumbers(const NumericVersion& a, const NumericVersion& b, size_t count) {
  static const char kZero[] = "0";
  const VersionPart zero{kZero, 1};
  for (size_t i = 0; i < count; ++i) {
    VersionPart x = i < a.numberCount ? a.numbers[i] : zero;
    VersionPart y = i < b.numberCount ? b.numbers[i] : zero;
    int c = compareDigits(x, y);
    if (c) return c;
  }
  return 0;
}

size_t larger(size_t a, size_t b) { return a > b ? a : b; }
size_t smaller(size_t a, size_t b) { return a < b ? a : b; }

enum class LimitKind { Min, Max };

// Inclusive prefix check of one limit; `shorter` compares over the smaller count.
bool withinLimit(const NumericVersion& v, bool versionParsed, const char* limit, LimitKind kind,
                 bool shorter) {
  if (limit[0] == '\0') return true;
  NumericVersion l;
  if (!parseNumericVersion(limit, &l) || !versionParsed) return false;
  size_t count = shorter ? smaller(v.numberCount, l.numberCount) : l.numberCount;
  int c = compareNumbers(v, l, count);
  return kind == LimitKind::Min ? c >= 0 : c <= 0;
}

}  // namespace

bool hasBetaMarker(const char* version) {
  return std::strstr(version, "beta") || std::strstr(version, "ea") || std::strstr(version, "rc");
}

bool versionInRange(const char* version, const char* min, const char* max, bool allowBeta,
                    bool allowBetaSetting) {
  if (!allowBeta && !allowBetaSetting && hasBetaMarker(version)) return false;
  if (std::strncmp(version, min, std::strlen(min)) < 0) return false;
  if (std::strncmp(version, max, std::strlen(max)) > 0) return false;
  return true;
}

bool keyInRange(const char* name, const char* min, const char* max) {
  size_t nameLength = std::strlen(name);
  if (std::strncmp(name, min, smaller(nameLength, std::strlen(min))) < 0) return false;
  if (std::strncmp(name, max, smaller(nameLength, std::strlen(max))) > 0) return false;
  return true;
}

bool parseVersionLine(const char* line, char* version, size_t size) {
  if (std::strncmp(line, kJavaVersionPrefix, kJavaVersionPrefixLength) != 0) {
    if (size) version[0] = '\0';
    return false;
  }
  return takeQuoted(line + kJavaVersionPrefixLength, version, size);
}

bool parseVersionLineAnyVendor(const char* line, char* version, size_t size) {
  static const char kMiddle[] = " version \"";
  const char* p = line;
  while (*p && *p != ' ' && *p != '"' && static_cast<unsigned char>(*p) > 0x20 && *p != 0x7f) ++p;
  if (p == line || std::strncmp(p, kMiddle, sizeof(kMiddle) - 1) != 0) {
    if (size) version[0] = '\0';
    return false;
  }
  return takeQuoted(p + sizeof(kMiddle) - 1, version, size);
}

bool parseReleaseFileVersion(const char* content, size_t length, char* version, size_t size) {
  static const char kKey[] = "JAVA_VERSION=";
  const size_t keyLength = sizeof(kKey) - 1;
  if (size) version[0] = '\0';
  size_t pos = 0;
  if (length >= 3 && std::memcmp(content, "\xEF\xBB\xBF", 3) == 0) pos = 3;
  while (pos < length) {
    size_t end = pos;
    while (end < length && content[end] != '\n') ++end;
    size_t lineEnd = end;
    if (lineEnd > pos && content[lineEnd - 1] == '\r') --lineEnd;
    if (lineEnd - pos >= keyLength && std::memcmp(content + pos, kKey, keyLength) == 0) {
      const char* value = content + pos + keyLength;
      size_t valueLength = lineEnd - pos - keyLength;
      if (valueLength > 0 && value[0] == '"') {
        const void* close = std::memchr(value + 1, '"', valueLength - 1);
        if (!close) return false;
        return takeVersion(value + 1,
                           static_cast<size_t>(static_cast<const char*>(close) - value - 1),
                           version, size);
      }
      while (valueLength > 0 && (value[valueLength - 1] == ' ' || value[valueLength - 1] == '\t'))
        --valueLength;
      return takeVersion(value, valueLength, version, size);
    }
    pos = end + 1;
  }
  return false;
}

bool parseNumericVersion(const char* text, NumericVersion* out) {
  *out = NumericVersion{};
  bool inNumbers = true;
  bool afterPlus = false;
  char separatorAfterFirst = 0;
  const char* p = text;
  for (;;) {
    const char* start = p;
    while (*p && !isSeparator(*p)) ++p;
    size_t length = static_cast<size_t>(p - start);
    if (length == 0) return false;
    size_t digits = 0;
    while (digits < length && isDigit(start[digits])) ++digits;
    if (afterPlus && out->build.length == 0 && digits > 0) out->build = {start, digits};
    if (inNumbers && !afterPlus && digits > 0) {
      if (out->numberCount == NumericVersion::kMaxNumbers) return false;
      out->numbers[out->numberCount++] = {start, digits};
      if (out->numberCount == 1) separatorAfterFirst = *p;
    }
    if (digits < length) {
      inNumbers = false;
      if (isMarker(start, length)) out->preRelease = true;
    }
    if (*p == '\0') break;
    if (*p == '+') {
      afterPlus = true;
      inNumbers = false;
    }
    ++p;
  }
  if (out->numberCount == 0) return false;
  // 1.8 is Java 8; 1.1 and 1.0 keep their major.
  if (out->numberCount >= 2 && separatorAfterFirst == '.' && digitsEqual(out->numbers[0], "1") &&
      compareDigits(out->numbers[1], VersionPart{"2", 1}) >= 0) {
    for (size_t i = 1; i < out->numberCount; ++i) out->numbers[i - 1] = out->numbers[i];
    --out->numberCount;
  }
  return true;
}

bool isPreRelease(const char* version) {
  NumericVersion v;
  if (parseNumericVersion(version, &v)) return v.preRelease;
  // Without a leading number, still look for a whole marker component.
  const char* p = version;
  while (*p) {
    const char* start = p;
    while (*p && !isSeparator(*p)) ++p;
    if (p > start && isMarker(start, static_cast<size_t>(p - start))) return true;
    if (*p) ++p;
  }
  return false;
}

int compareVersionsNumeric(const char* a, const char* b) {
  NumericVersion x, y;
  bool okX = parseNumericVersion(a, &x);
  bool okY = parseNumericVersion(b, &y);
  if (!okX || !okY) return static_cast<int>(okX) - static_cast<int>(okY);
  int c = compareNumbers(x, y, larger(x.numberCount, y.numberCount));
  if (c) return c;
  if (x.preRelease != y.preRelease) return x.preRelease ? -1 : 1;
  return compareDigits(x.build, y.build);
}

bool versionInRangeNumeric(const char* version, const char* min, const char* max, bool allowBeta,
                           bool allowBetaSetting) {
  if (!allowBeta && !allowBetaSetting && isPreRelease(version)) return false;
  NumericVersion v;
  bool parsed = parseNumericVersion(version, &v);
  return withinLimit(v, parsed, min, LimitKind::Min, false) &&
         withinLimit(v, parsed, max, LimitKind::Max, false);
}

bool keyInRangeNumeric(const char* name, const char* min, const char* max) {
  NumericVersion v;
  bool parsed = parseNumericVersion(name, &v);
  return withinLimit(v, parsed, min, LimitKind::Min, true) &&
         withinLimit(v, parsed, max, LimitKind::Max, true);
}

bool parseVersionLineBy(bool numeric, const char* line, char* version, size_t size) {
  return numeric ? parseVersionLineAnyVendor(line, version, size)
                 : parseVersionLine(line, version, size);
}

bool versionAccepted(bool numeric, const char* version, const char* min, const char* max,
                     bool allowBeta, bool allowBetaSetting) {
  return numeric ? versionInRangeNumeric(version, min, max, allowBeta, allowBetaSetting)
                 : versionInRange(version, min, max, allowBeta, allowBetaSetting);
}

bool keyAccepted(bool numeric, const char* name, const char* min, const char* max) {
  return numeric ? keyInRangeNumeric(name, min, max) : keyInRange(name, min, max);
}

int compareVersions(bool numeric, const char* a, const char* b) {
  if (numeric) return compareVersionsNumeric(a, b);
  int c = std::strcmp(a, b);
  return (c > 0) - (c < 0);
}

const char* keyVersionText(const char* name) {
  while (*name && !isDigit(*name)) ++name;
  return name;
}

}  // namespace zanto

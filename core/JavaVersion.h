// Java version texts: taking the version from a runtime's "-version" line or its
// `release` file, and checking it against the configured limits, either by
// characters (the classic rule) or by number (the opt-in rule). Portable.
#pragma once

#include <cstddef>

namespace zanto {

// The classic rule: only this line start yields a version.
constexpr char kJavaVersionPrefix[] = "java version \"";
constexpr size_t kJavaVersionPrefixLength = sizeof(kJavaVersionPrefix) - 1;  // 14

// --- Classic rule: versions are texts, compared byte by byte ---

// True when the version contains "beta", "ea" or "rc" anywhere (case-sensitive).
bool hasBetaMarker(const char* version);

// Limits are inclusive prefixes compared over the limit's own length; an empty
// limit accepts everything. A beta version is refused unless either flag is set.
bool versionInRange(const char* version, const char* min, const char* max, bool allowBeta,
                    bool allowBetaSetting);

// For registry key names: each limit is compared over the shorter of the two
// lengths, so a family key such as 1.4 passes a minimum of 1.4.2. No beta check.
bool keyInRange(const char* name, const char* min, const char* max);

// Takes the version from a first output line that starts with `java version "`:
// the text up to the closing quote, whatever follows it (a line feed, a carriage
// return, a release date, nothing at the end of the file). No closing quote, an
// empty version or one that does not fit `size` yields false and leaves
// `version` empty.
bool parseVersionLine(const char* line, char* version, size_t size);

// --- Numeric rule ---

// Accepts `<word> version "<text>"` from any vendor ("java", "openjdk", ...):
// the word is one or more characters other than blanks, quotes and control
// characters, followed by exactly one blank, "version", one blank and a quote.
// The version is the text up to the closing quote, as in parseVersionLine.
bool parseVersionLineAnyVendor(const char* line, char* version, size_t size);

// Takes JAVA_VERSION from the content of a runtime's `release` file
// (JAVA_VERSION="17.0.2"; quotes optional; LF or CRLF lines). The content need
// not be terminated.
bool parseReleaseFileVersion(const char* content, size_t length, char* version, size_t size);

// One component of a version text, pointing into the text.
struct VersionPart {
  const char* text = nullptr;
  size_t length = 0;
};

// A version as the numeric rule sees it. Components are split at '.', '_', '-'
// and '+'; the leading digit runs form `numbers`, with "1." dropped before a
// major of 2 or more; what follows the digits of a component ends the numbers.
// A pre-release marker ("ea", "rc", "beta", optionally with digits around it,
// any case) counts only as a whole qualifier. The digits after '+' are the build.
struct NumericVersion {
  static constexpr size_t kMaxNumbers = 12;
  VersionPart numbers[kMaxNumbers];
  size_t numberCount = 0;
  bool preRelease = false;
  VersionPart build;
};

// False for a text without a leading number, with an empty component or with
// more than kMaxNumbers numbers (refused rather than cut: a cut version would
// compare wrongly).
bool parseNumericVersion(const char* text, NumericVersion* out);

// True when the numeric rule finds a pre-release marker.
bool isPreRelease(const char* version);

// Orders two versions by number, then a pre-release below its release, then by
// build; <0, 0 or >0. A text that does not parse sorts below every version.
int compareVersionsNumeric(const char* a, const char* b);

// Limits are inclusive prefixes by components: maximum 11 accepts every 11.x,
// maximum 1.8 accepts 1.8.0_x and 8.x but not 9; an empty limit accepts
// everything. A non-empty limit that does not parse accepts nothing, and a
// version that does not parse passes only when both limits are empty.
bool versionInRangeNumeric(const char* version, const char* min, const char* max, bool allowBeta,
                           bool allowBetaSetting);

// The numeric counterpart of keyInRange: each limit is compared over the shorter
// of the two component counts. No pre-release check.
bool keyInRangeNumeric(const char* name, const char* min, const char* max);

// --- The rule in force ---
// The launcher takes, checks and orders versions only through these, so one flag
// (`numeric`) switches a launch between the classic rule and the numeric one.

bool parseVersionLineBy(bool numeric, const char* line, char* version, size_t size);
bool versionAccepted(bool numeric, const char* version, const char* min, const char* max,
                     bool allowBeta, bool allowBetaSetting);
bool keyAccepted(bool numeric, const char* name, const char* min, const char* max);
// <0, 0 or >0; the classic rule compares bytes, as strcmp does.
int compareVersions(bool numeric, const char* a, const char* b);

// The version part of a vendor's registry key name: the text from its first digit
// on ("zulu-17" gives "17", "17.0.2.8" itself); the empty end when it has none.
const char* keyVersionText(const char* name);

}  // namespace zanto

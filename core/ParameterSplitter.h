// Splits configured parameter strings (VM parameters, application arguments) into
// single arguments, and assembles the argument list handed to the Java-side
// launcher class. Portable: UTF-16 as char16_t, no <windows.h>, no code pages.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zanto {

// A parameter string must fit into a buffer of 8192 UTF-16 units with its
// terminator; longer texts are refused whole rather than cut, because a cut can
// fall inside a quoted part and change every token after it.
constexpr size_t kMaxParameterUnits = 8191;

enum class SplitStatus {
  Ok,
  UnmatchedQuote,  // the caller reports the wrong-parameter-usage message
  TooLong,         // more than kMaxParameterUnits (or the given limit) units
};

// Appends the tokens of `text` to `out`, in order. Blanks (U+0020 only) separate;
// ' and " quote, each closed only by the same character; there is no escape.
// On any status but Ok nothing is appended.
// `maxUnits` raises the limit for texts that have no fixed buffer (JVM options).
SplitStatus splitParameters(const char16_t* text, std::vector<std::u16string>& out,
                            size_t maxUnits = kMaxParameterUnits);

// One quoted token: `quote` is the opening quote, `tokenStart` where the token
// began (equal to `quote` unless the quote stands inside a word). The token is the
// text before the quote followed by the text between the quotes. Returns where
// splitting goes on (after the closing quote and at most one blank after it), or
// null when the quote is never closed; then nothing is appended.
const char16_t* takeQuotedToken(std::vector<std::u16string>& out, const char16_t* quote,
                                const char16_t* tokenStart, char16_t quoteChar);

// The five leading arguments addressed to the Java-side launcher class.
struct LauncherPrefixValues {
  bool windowed = false;   // kind flag, "true" for the windowed executable type
  std::u16string mainClass;
  std::u16string stderrFile;  // empty: no redirection
  std::u16string stdoutFile;  // empty: no redirection
  bool append = false;
};

// The argument list of the launcher class's main: the five prefix values, the first
// launch argument (the service name under the service control manager), the
// configured argument tokens, then the other launch arguments; with
// `passVmArguments` those beginning with "-J" are left out (they became JVM options).
std::vector<std::u16string> buildMainArgumentList(const LauncherPrefixValues& prefix,
                                                  const std::vector<std::u16string>& launchArguments,
                                                  const std::vector<std::u16string>& configuredArguments,
                                                  bool passVmArguments);

// The JVM options carried by the launch arguments: with `passVmArguments`, every
// launch argument (the first one included) that begins with "-J" (case-sensitive),
// without those two characters. Empty when the flag is off.
std::vector<std::u16string> vmArgumentsFromLaunchArgs(const std::vector<std::u16string>& launchArguments,
                                                      bool passVmArguments);

}  // namespace zanto

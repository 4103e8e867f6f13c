// Parameter splitting and the launcher class's argument list (see ParameterSplitter.h).
#include "ParameterSplitter.h"

namespace zanto {

namespace {

constexpr char16_t kBlank = u' ';
constexpr char16_t kDoubleQuote = u'"';
constexpr char16_t kSingleQuote = u'\'';

const char16_t* findUnit(const char16_t* from, const char16_t* end, char16_t unit) {
  for (const char16_t* p = from; p < end; ++p) {
    if (*p == unit) return p;
  }
  return nullptr;
}

// Length of `text`, or kMaxParameterUnits + 1 when it is longer than that; never
// reads beyond the first unit past the limit.
size_t boundedLength(const char16_t* text, size_t maxUnits) {
  size_t n = 0;
  while (n <= maxUnits && text[n]) ++n;
  return n;
}

bool startsWithJ(const std::u16string& arg) { return arg.size() >= 2 && arg[0] == u'-' && arg[1] == u'J'; }

}  // namespace

const char16_t* takeQuotedToken(std::vector<std::u16string>& out, const char16_t* quote,
                                const char16_t* tokenStart, char16_t quoteChar) {
  const char16_t* close = quote + 1;
  while (*close && *close != quoteChar) ++close;
  if (!*close) return nullptr;
  // Text before an inner quote belongs to the token (as in -Dname="a b"), the
  // quotes themselves do not.
  std::u16string token(tokenStart, quote);
  token.append(quote + 1, close);
  out.push_back(std::move(token));
  const char16_t* next = close + 1;
  if (*next == kBlank) ++next;
  return next;
}

SplitStatus splitParameters(const char16_t* text, std::vector<std::u16string>& out, size_t maxUnits) {
  size_t length = boundedLength(text, maxUnits);
  if (length > maxUnits) return SplitStatus::TooLong;

  std::vector<std::u16string> tokens;
  const char16_t* rest = text;
  const char16_t* end = text + length;
  while (rest < end) {
    if (*rest == kBlank) {
      ++rest;
      continue;
    }
    const char16_t* dq = findUnit(rest, end, kDoubleQuote);
    const char16_t* sq = findUnit(rest, end, kSingleQuote);
    const char16_t* blank = findUnit(rest, end, kBlank);
    if (blank && (!dq || blank < dq) && (!sq || blank < sq)) {
      tokens.emplace_back(rest, blank);
      rest = blank + 1;
    } else if (dq && (!sq || dq < sq)) {
      rest = takeQuotedToken(tokens, dq, rest, kDoubleQuote);
      if (!rest) return SplitStatus::UnmatchedQuote;
    } else if (sq) {
      rest = takeQuotedToken(tokens, sq, rest, kSingleQuote);
      if (!rest) return SplitStatus::UnmatchedQuote;
    } else {
      tokens.emplace_back(rest, end);
      rest = end;
    }
  }
  for (auto& token : tokens) out.push_back(std::move(token));
  return SplitStatus::Ok;
}

std::vector<std::u16string> buildMainArgumentList(const LauncherPrefixValues& prefix,
                                                  const std::vector<std::u16string>& launchArguments,
                                                  const std::vector<std::u16string>& configuredArguments,
                                                  bool passVmArguments) {
  std::vector<std::u16string> list;
  list.reserve(5 + launchArguments.size() + configuredArguments.size());
  list.push_back(prefix.windowed ? u"true" : u"false");
  list.push_back(prefix.mainClass);
  list.push_back(prefix.stderrFile);
  list.push_back(prefix.stdoutFile);
  list.push_back(prefix.append ? u"true" : u"false");
  if (!launchArguments.empty()) list.push_back(launchArguments.front());
  list.insert(list.end(), configuredArguments.begin(), configuredArguments.end());
  for (size_t i = 1; i < launchArguments.size(); ++i) {
    if (passVmArguments && startsWithJ(launchArguments[i])) continue;
    list.push_back(launchArguments[i]);
  }
  return list;
}

std::vector<std::u16string> vmArgumentsFromLaunchArgs(const std::vector<std::u16string>& launchArguments,
                                                      bool passVmArguments) {
  std::vector<std::u16string> options;
  if (!passVmArguments) return options;
  for (const auto& arg : launchArguments) {
    if (startsWithJ(arg)) options.push_back(arg.substr(2));
  }
  return options;
}

}  // namespace zanto

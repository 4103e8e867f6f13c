// Splitting of parameter strings by the quoting rules, the order of the launcher
// class's argument list, and the rules for options the JVM drops or refuses.
#include "ParameterSplitter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "VmOptionRules.h"

namespace zanto {
namespace {

using Tokens = std::vector<std::u16string>;

struct SplitCase {
  const char16_t* text;
  SplitStatus status;
  Tokens tokens;
};

class SplitTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTable, Splits) {
  const SplitCase& c = GetParam();
  // Tokens are appended after what the list already holds, and a failed split
  // leaves the list as it was.
  Tokens out{u"kept"};
  EXPECT_EQ(c.status, splitParameters(c.text, out));
  Tokens expected{u"kept"};
  if (c.status == SplitStatus::Ok) expected.insert(expected.end(), c.tokens.begin(), c.tokens.end());
  EXPECT_EQ(expected, out);
}

INSTANTIATE_TEST_SUITE_P(
    Quoting, SplitTable,
    ::testing::Values(
        SplitCase{u"", SplitStatus::Ok, {}}, SplitCase{u"   ", SplitStatus::Ok, {}},
        SplitCase{u"a  b", SplitStatus::Ok, {u"a", u"b"}},
        SplitCase{u"  a b  ", SplitStatus::Ok, {u"a", u"b"}},
        SplitCase{u"single", SplitStatus::Ok, {u"single"}},
        SplitCase{u"'a b' c", SplitStatus::Ok, {u"a b", u"c"}},
        SplitCase{u"\"a b\" c", SplitStatus::Ok, {u"a b", u"c"}},
        SplitCase{u"'x'  y", SplitStatus::Ok, {u"x", u"y"}},
        // A closing quote ends its token even without a blank after it.
        SplitCase{u"\"a\"b", SplitStatus::Ok, {u"a", u"b"}},
        SplitCase{u"\"\"", SplitStatus::Ok, {u""}}, SplitCase{u"\"\"''", SplitStatus::Ok, {u"", u""}},
        SplitCase{u"\"a\" \"b\"", SplitStatus::Ok, {u"a", u"b"}},
        // Each quote is closed only by its own character.
        SplitCase{u"\"it's\"", SplitStatus::Ok, {u"it's"}},
        SplitCase{u"'a\"b' \"c'd\"", SplitStatus::Ok, {u"a\"b", u"c'd"}},
        SplitCase{u"it's a test", SplitStatus::UnmatchedQuote, {}},
        SplitCase{u"\"unclosed", SplitStatus::UnmatchedQuote, {}},
        SplitCase{u"a b \"", SplitStatus::UnmatchedQuote, {}},
        SplitCase{u"'a' 'b", SplitStatus::UnmatchedQuote, {}},
        // Only U+0020 separates; a tab is an ordinary character.
        SplitCase{u"a\tb c", SplitStatus::Ok, {u"a\tb", u"c"}},
        SplitCase{u"\u3000x y", SplitStatus::Ok, {u"\u3000x", u"y"}},
        // No escapes: a backslash is kept and does not protect a quote.
        SplitCase{u"a\\ b\\", SplitStatus::Ok, {u"a\\", u"b\\"}},
        SplitCase{u"\"a\\\"b", SplitStatus::Ok, {u"a\\", u"b"}},
        SplitCase{u"C:\\dir\\ \"D:\\x y\\\"", SplitStatus::Ok, {u"C:\\dir\\", u"D:\\x y\\"}},
        // A quote inside a word: the text before it stays, the quotes go, and the
        // closing quote ends the token.
        SplitCase{u"-Dx=\"a b\" -Dy=c", SplitStatus::Ok, {u"-Dx=a b", u"-Dy=c"}},
        SplitCase{u"a\"b c\"d", SplitStatus::Ok, {u"ab c", u"d"}},
        SplitCase{u"--name='x y'", SplitStatus::Ok, {u"--name=x y"}},
        SplitCase{u"x a'b c'", SplitStatus::Ok, {u"x", u"ab c"}},
        // A blank after a quote that comes later does not end the word early.
        SplitCase{u"ab'c d' e", SplitStatus::Ok, {u"abc d", u"e"}},
        SplitCase{u"\u4e2d\u6587 \U0001F600x", SplitStatus::Ok, {u"\u4e2d\u6587", u"\U0001F600x"}}));

TEST(TakeQuotedToken, ContinuesAfterTheQuoteAndOneBlank) {
  struct Case {
    const char16_t* text;
    size_t tokenStart, quote;
    char16_t quoteChar;
    const char16_t* token;
    const char16_t* rest;  // null: unmatched
  };
  const Case cases[] = {
      {u"'a b'  c", 0, 0, u'\'', u"a b", u" c"},
      {u"\"a\"b", 0, 0, u'"', u"a", u"b"},
      {u"k=\"v\" z", 0, 2, u'"', u"k=v", u"z"},
      {u"'open", 0, 0, u'\'', nullptr, nullptr},
      {u"'ab\"", 0, 0, u'\'', nullptr, nullptr},
  };
  for (const Case& c : cases) {
    Tokens out;
    const char16_t* next = takeQuotedToken(out, c.text + c.quote, c.text + c.tokenStart, c.quoteChar);
    if (!c.rest) {
      EXPECT_EQ(nullptr, next);
      EXPECT_TRUE(out.empty());
      continue;
    }
    ASSERT_NE(nullptr, next);
    EXPECT_EQ(std::u16string(c.rest), std::u16string(next));
    EXPECT_EQ(Tokens{c.token}, out);
  }
}

TEST(SplitParameters, LengthLimitRefusesWholeText) {
  std::u16string fits(kMaxParameterUnits - 2, u'a');
  fits = u"'" + fits.substr(0, fits.size() - 1) + u"' ";
  ASSERT_EQ(kMaxParameterUnits, fits.size());
  Tokens out;
  EXPECT_EQ(SplitStatus::Ok, splitParameters(fits.c_str(), out));
  ASSERT_EQ(1u, out.size());
  EXPECT_EQ(kMaxParameterUnits - 3, out[0].size());

  // One unit more is refused, not cut: a cut would split differently.
  std::u16string tooLong = fits + u"b";
  out.clear();
  EXPECT_EQ(SplitStatus::TooLong, splitParameters(tooLong.c_str(), out));
  EXPECT_TRUE(out.empty());

  // A text without terminator is not read past the limit (AddressSanitizer
  // watches the end of this exactly sized array).
  std::vector<char16_t> unterminated(kMaxParameterUnits + 1, u'x');
  EXPECT_EQ(SplitStatus::TooLong, splitParameters(unterminated.data(), out));
}

LauncherPrefixValues prefix(bool windowed, bool append, const char16_t* err = u"") {
  LauncherPrefixValues p;
  p.windowed = windowed;
  p.mainClass = u"com.example.Main";
  p.stderrFile = err;
  p.stdoutFile = u"C:\\logs\\out.log";
  p.append = append;
  return p;
}

TEST(BuildMainArgumentList, OrderAndFilters) {
  struct Case {
    Tokens launch;
    Tokens configured;
    bool passVm;
    Tokens tail;  // what follows the five prefix arguments
  };
  const Case cases[] = {
      {{}, {u"x", u"y"}, false, {u"x", u"y"}},
      {{}, {}, true, {}},
      {{u"Svc"}, {}, false, {u"Svc"}},
      {{u"Svc", u"a", u"b"}, {u"c1", u"c2"}, false, {u"Svc", u"c1", u"c2", u"a", u"b"}},
      {{u"Svc", u"-J-Xmx64m", u"a"}, {u"c"}, true, {u"Svc", u"c", u"a"}},
      {{u"Svc", u"-J-Xmx64m", u"a"}, {u"c"}, false, {u"Svc", u"c", u"-J-Xmx64m", u"a"}},
      // Case-sensitive, and only as the first two characters.
      {{u"Svc", u"-j-Xmx64m", u"x-J"}, {}, true, {u"Svc", u"-j-Xmx64m", u"x-J"}},
      // The first launch argument is the service name and always reaches main.
      {{u"-Jodd", u"-J"}, {}, true, {u"-Jodd"}},
      {{u"", u""}, {u""}, false, {u"", u"", u""}},
  };
  for (const Case& c : cases) {
    Tokens got = buildMainArgumentList(prefix(false, false), c.launch, c.configured, c.passVm);
    Tokens expected{u"false", u"com.example.Main", u"", u"C:\\logs\\out.log", u"false"};
    expected.insert(expected.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(expected, got);
  }
}

TEST(BuildMainArgumentList, PrefixFlags) {
  for (bool windowed : {false, true}) {
    for (bool append : {false, true}) {
      Tokens got = buildMainArgumentList(prefix(windowed, append, u"e.log"), {}, {}, false);
      ASSERT_EQ(5u, got.size());
      EXPECT_EQ(windowed ? u"true" : u"false", got[0]);
      EXPECT_EQ(u"e.log", got[2]);
      EXPECT_EQ(append ? u"true" : u"false", got[4]);
    }
  }
}

TEST(VmArgumentsFromLaunchArgs, TakesEveryDashJ) {
  Tokens launch{u"-J-first", u"svc", u"-J-Xmx512m", u"-j-Xss1m", u"-JJ", u"-J-Da=b c"};
  EXPECT_EQ((Tokens{u"-first", u"-Xmx512m", u"J", u"-Da=b c"}), vmArgumentsFromLaunchArgs(launch, true));
  EXPECT_TRUE(vmArgumentsFromLaunchArgs(launch, false).empty());
}

// Each option the JVM drops or refuses, split as the launcher splits VmParameters
// (or, with `lines`, one option a line as in a .vmoptions file), checked for a
// minimum of 1.8 (never refused) and 11.
struct RuleCase {
  const char* text;
  bool lines;
  std::vector<std::string> found;  // the findings' options, in order
  const char* instead;             // of the first finding
  bool refusedFrom9;
};

TEST(VmOptionRules, FindsWhatTheJvmDropsOrRefuses) {
  const RuleCase cases[] = {
      {"-Xmx1g -cp lib/a.jar", false, {"-cp lib/a.jar"}, "list the entries in ClassPath", false},
      {"-classpath a;b", false, {"-classpath a;b"}, "list the entries in ClassPath", false},
      {"--class-path a", false, {"--class-path a"}, "list the entries in ClassPath", false},
      {"--class-path=a", false, {"--class-path=a"}, "list the entries in ClassPath", false},
      {"-jar app.jar", false, {"-jar app.jar"}, "put the jar on ClassPath and name its main class in MainClass", false},
      {"-server -client", false, {"-server", "-client"}, "set PreferredVmType = \"server\"", false},
      {"@opts.txt",
       false,
       {"@opts.txt"},
       "put its options into the .vmoptions file beside the executable, one a line",
       false},
      {"--add-opens java.base/java.lang=ALL-UNNAMED",
       false,
       {"--add-opens java.base/java.lang=ALL-UNNAMED"},
       "write --add-opens=java.base/java.lang=ALL-UNNAMED",
       false},
      {"--add-exports a/b=c", false, {"--add-exports a/b=c"}, "write --add-exports=a/b=c", false},
      {"--add-reads a=b", false, {"--add-reads a=b"}, "write --add-reads=a=b", false},
      {"--add-modules a,b", false, {"--add-modules a,b"}, "write --add-modules=a,b", false},
      {"--module-path mods", false, {"--module-path mods"}, "write --module-path=mods", false},
      {"-p 'my mods'", false, {"-p my mods"}, "write --module-path=my mods", false},
      {"--upgrade-module-path u", false, {"--upgrade-module-path u"}, "write --upgrade-module-path=u", false},
      {"--limit-modules m", false, {"--limit-modules m"}, "write --limit-modules=m", false},
      {"--patch-module m=p.jar", false, {"--patch-module m=p.jar"}, "write --patch-module=m=p.jar", false},
      {"-Xss1m --add-opens", false, {"--add-opens"}, "write --add-opens=VALUE", false},
      // The second word is the option's, whatever it looks like.
      {"-cp @list -server", false, {"-cp @list", "-server"}, "list the entries in ClassPath", false},
      {"-Djava.ext.dirs=lib", false, {"-Djava.ext.dirs=lib"}, "put the jars on ClassPath", true},
      {"-Djava.endorsed.dirs=e",
       false,
       {"-Djava.endorsed.dirs=e"},
       "put the jars on ClassPath, or upgradeable modules on --upgrade-module-path=DIR",
       true},
      {"-Xbootclasspath/p:x.jar",
       false,
       {"-Xbootclasspath/p:x.jar"},
       "write --patch-module=MODULE=PATH, or -Xbootclasspath/a: to append",
       true},
      // A .vmoptions line holds both words.
      {"-Dname=a b\n--add-opens  a/b=c\n-cp x.jar",
       true,
       {"--add-opens  a/b=c", "-cp x.jar"},
       "write --add-opens=a/b=c",
       false},
      // What the JVM takes as it is.
      {"--add-opens=X -Dfoo=-cp -Xmx1g -Dmail=a@b '-Dx=a @b' -Djava.ext.dirs -Xbootclasspath/a:x.jar -cpx -XX:+UseG1GC",
       false,
       {},
       nullptr,
       false},
      {"-Dfoo=-cp\n-Dx=a @b\n-Xmx1g", true, {}, nullptr, false},
  };
  for (const RuleCase& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<std::string> options;
    std::string text = c.text;
    if (c.lines) {
      for (size_t start = 0, end; start <= text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        options.push_back(text.substr(start, end - start));
      }
    } else {
      Tokens tokens;
      ASSERT_EQ(splitParameters(std::u16string(text.begin(), text.end()).c_str(), tokens), SplitStatus::Ok);
      for (const auto& t : tokens) options.emplace_back(t.begin(), t.end());
    }
    for (const char* min : {"1.8", "11"}) {
      std::vector<VmOptionFinding> findings = checkVmOptions(options, min);
      std::vector<std::string> found;
      for (const auto& f : findings) {
        found.push_back(f.option);
        EXPECT_EQ(f.refused, c.refusedFrom9 && std::string(min) == "11") << f.option << " " << min;
        EXPECT_FALSE(f.why.empty());
        EXPECT_EQ(options[f.index].substr(0, 2), f.option.substr(0, 2)) << "index of " << f.option;
      }
      EXPECT_EQ(found, c.found) << min;
      if (c.instead && !findings.empty()) {
        EXPECT_EQ(findings[0].instead, c.instead);
      }
    }
  }
}

TEST(VmOptionRules, FeatureVersionOfTheMinimum) {
  const std::pair<const char*, int> cases[] = {
      {"", 0},        {"abc", 0}, {"1.8", 8}, {"1.8.0_202", 8},       {"8", 8}, {"1.6", 6}, {"9-ea", 9},
      {"11.0.2", 11}, {"17", 17}, {"1", 1},   {"99999999999", 100000}};
  for (const auto& [text, feature] : cases) EXPECT_EQ(javaFeatureVersion(text), feature) << text;
  // A minimum of 9 and later refuses; an unknown one may still admit Java 8.
  EXPECT_TRUE(checkVmOptions(std::vector<std::string>{"-Djava.ext.dirs=x"}, "9")[0].refused);
  EXPECT_FALSE(checkVmOptions(std::vector<std::string>{"-Djava.ext.dirs=x"}, "")[0].refused);
}

}  // namespace
}  // namespace zanto

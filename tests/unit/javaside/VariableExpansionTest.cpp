// Variable expansion: the replacement loop, the launcher variables, environment
// references and what happens when a text would not fit its buffer.
#include "VariableExpansion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zanto {
namespace {

constexpr size_t kBuffer = 8192;

// An environment block from NAME=VALUE entries, ended by the empty entry.
std::string block(std::initializer_list<std::string> entries) {
  std::string b;
  for (const auto& e : entries) {
    b += e;
    b.push_back('\0');
  }
  b.push_back('\0');
  return b;
}

struct ReplaceCase {
  const char* text;
  const char* pattern;
  const char* replacement;
  size_t size;
  const char* expected;
  ExpandStatus status;
};

class ReplaceAllTable : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceAllTable, Replaces) {
  const ReplaceCase& c = GetParam();
  // Exactly `size` bytes, so AddressSanitizer sees any write past the end.
  std::vector<char> buf(c.size, '#');
  std::string text(c.text);
  ASSERT_LT(text.size(), c.size);
  text.copy(buf.data(), text.size());
  buf[text.size()] = '\0';
  EXPECT_EQ(c.status, replaceAll(buf.data(), buf.size(), c.pattern, c.replacement));
  EXPECT_STREQ(c.expected, buf.data());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceAllTable,
    ::testing::Values(ReplaceCase{"aXbXc", "X", "YY", kBuffer, "aYYbYYc", ExpandStatus::Ok},
                      ReplaceCase{"none", "X", "Y", kBuffer, "none", ExpandStatus::Ok},
                      ReplaceCase{"x", "X", "Y", kBuffer, "x", ExpandStatus::Ok},
                      // The search resumes after the inserted text: no loop, no re-match.
                      ReplaceCase{"X", "X", "XX", kBuffer, "XX", ExpandStatus::Ok},
                      ReplaceCase{"XX", "X", "aXa", kBuffer, "aXaaXa", ExpandStatus::Ok},
                      ReplaceCase{"${A}", "${A}", "<${A}>", kBuffer, "<${A}>", ExpandStatus::Ok},
                      ReplaceCase{"aaa", "aa", "b", kBuffer, "ba", ExpandStatus::Ok},
                      ReplaceCase{"abab", "ab", "", kBuffer, "", ExpandStatus::Ok},
                      ReplaceCase{"abc", "", "z", kBuffer, "abc", ExpandStatus::Ok},
                      // A result of size - 1 bytes still fits.
                      ReplaceCase{"aX", "X", "123456", 8, "a123456", ExpandStatus::Ok},
                      // One byte more does not: that occurrence and the later ones stay.
                      ReplaceCase{"aX", "X", "1234567", 8, "aX", ExpandStatus::TooLong},
                      ReplaceCase{"aXbXc", "X", "YYY", 8, "aYYYbXc", ExpandStatus::TooLong},
                      // Shrinking replacements always fit.
                      ReplaceCase{"LONGLONG", "LONG", "s", 9, "ss", ExpandStatus::Ok}));

TEST(ReplaceAll, UnterminatedTextIsLeftAlone) {
  char buf[4] = {'a', 'X', 'c', 'X'};
  EXPECT_EQ(ExpandStatus::TooLong, replaceAll(buf, sizeof buf, "X", "Y"));
  EXPECT_EQ(0, std::string(buf, 4).compare("aXcX"));
}

struct ExpandCase {
  const char* text;
  std::string env;  // empty: no block at all
  const char* expected;
};

class ExpandTable : public ::testing::TestWithParam<ExpandCase> {};

TEST_P(ExpandTable, Expands) {
  const ExpandCase& c = GetParam();
  ExpansionValues values;
  values.exeDir = "C:\\app\\";
  values.tempDir = "";
  values.jvmHome = "C:\\jre\\bin\\..";
  std::vector<char> buf(kBuffer);
  std::string(c.text).copy(buf.data(), kBuffer - 1);
  EXPECT_EQ(ExpandStatus::Ok, expandVariables(buf.data(), buf.size(), values, c.env.empty() ? nullptr : c.env.data()));
  EXPECT_STREQ(c.expected, buf.data());
}

INSTANTIATE_TEST_SUITE_P(
    Variables, ExpandTable,
    ::testing::Values(
        ExpandCase{"%ZANTO_EXEDIR%lib", "", "C:\\app\\lib"},
        ExpandCase{"%ZANTO_EXEDIR%\\lib", "", "C:\\app\\\\lib"},
        ExpandCase{"%VELMORA_EXEDIR%a;${ZANTO_EXEDIR}b;${VELMORA_EXEDIR}c", "", "C:\\app\\a;C:\\app\\b;C:\\app\\c"},
        ExpandCase{"[%ZANTO_TEMPDIR%][${VELMORA_TEMPDIR}]", "", "[][]"},
        ExpandCase{"a%ZANTO_PATHLIST_SEPARATOR%b${VELMORA_PATHLIST_SEPARATOR}c", "", "a;b;c"},
        ExpandCase{"%VELMORA_JVM_HOME%\\lib ${ZANTO_JVM_HOME}", "", "C:\\jre\\bin\\..\\lib C:\\jre\\bin\\.."},
        // Names are case-sensitive; the per-cent form never reaches the environment.
        ExpandCase{"%zanto_exedir% %PATH%", block({"PATH=p"}), "%zanto_exedir% %PATH%"},
        ExpandCase{"${Path}|${PATH}|${path}", block({"Path=C:\\w"}), "C:\\w|C:\\w|${path}"},
        ExpandCase{"${lower}|${LOWER}|${Lower}", block({"lower=v"}), "v|v|${Lower}"},
        ExpandCase{"${UNKNOWN} ${}", block({"A=1"}), "${UNKNOWN} ${}"},
        // Only the first '=' separates; the value may hold more.
        ExpandCase{"${OPTS}", block({"OPTS=-Da=b"}), "-Da=b"},
        // A value's own reference is expanded only by a variable later in the block.
        ExpandCase{"${A}", block({"A=${B}", "B=bee"}), "bee"},
        ExpandCase{"${A}", block({"B=bee", "A=${B}"}), "${B}"},
        // A name in upper case already is replaced once, not once per spelling.
        ExpandCase{"${X}", block({"X=<${X}>"}), "<${X}>"},
        ExpandCase{"${x}|${X}", block({"x=<${X}>"}), "<<${X}>>|<${X}>"},
        // Text joined by a replacement is seen by the later steps only.
        ExpandCase{"%ZANTO_%ZANTO_TEMPDIR%EXEDIR%", "", "%ZANTO_EXEDIR%"},
        ExpandCase{"$%ZANTO_TEMPDIR%{HOME}|%ZANTO_TEMPDIR%${ZANTO_EXEDIR}", block({"HOME=h"}), "h|C:\\app\\"},
        // Windows' hidden per-drive entries are named with their leading '='; entries
        // without a name or without '=' are skipped.
        ExpandCase{"${=C:}|${}|${NOEQ}", block({"=C:=C:\\dir", "=", "=x", "NOEQ", "E="}), "C:\\dir|${}|${NOEQ}"},
        ExpandCase{"[${E}]", block({"E="}), "[]"},
        ExpandCase{"", block({"A=1"}), ""}));

TEST(ExpandVariables, EmptyBlockAndNullValues) {
  char buf[64] = "${A}%ZANTO_EXEDIR%";
  ExpansionValues none;
  none.exeDir = nullptr;
  std::string empty(1, '\0');
  EXPECT_EQ(ExpandStatus::Ok, expandVariables(buf, sizeof buf, none, empty.data()));
  EXPECT_STREQ("${A}", buf);
}

TEST(ExpandVariables, TooLongValuesAreRefusedNotCut) {
  ExpansionValues values;
  std::string longDir(100, 'd');
  values.exeDir = longDir.c_str();
  // 48 bytes: the directory does not fit, the separator still does.
  std::vector<char> small(48);
  std::string("%ZANTO_EXEDIR%|%ZANTO_PATHLIST_SEPARATOR%").copy(small.data(), 47);
  EXPECT_EQ(ExpandStatus::TooLong, expandVariables(small.data(), small.size(), values, nullptr));
  EXPECT_STREQ("%ZANTO_EXEDIR%|;", small.data());

  // An environment value longer than any buffer: the reference stays, nothing
  // overflows, and the entries after it still expand.
  std::string big = "BIG=" + std::string(3 * kBuffer, 'v');
  std::string env = block({big, "AFTER=ok"});
  std::vector<char> buf(kBuffer);
  std::string("${BIG} ${AFTER}").copy(buf.data(), kBuffer - 1);
  EXPECT_EQ(ExpandStatus::TooLong, expandVariables(buf.data(), buf.size(), ExpansionValues{}, env.data()));
  EXPECT_STREQ("${BIG} ok", buf.data());

  // A text that fills the buffer exactly still takes shrinking replacements.
  std::string full(kBuffer - 1 - 6, 'x');
  full = "${S}" + full + "${S}";
  ASSERT_EQ(kBuffer - 1 + 2, full.size());
  full.resize(kBuffer - 1);
  std::vector<char> exact(full.begin(), full.end());
  exact.push_back('\0');
  std::string envS = block({"S=s"});
  EXPECT_EQ(ExpandStatus::Ok, expandVariables(exact.data(), exact.size(), ExpansionValues{}, envS.data()));
  EXPECT_EQ('s', exact[0]);
  EXPECT_EQ(kBuffer - 1 - 3, std::string(exact.data()).size());
}

}  // namespace
}  // namespace zanto

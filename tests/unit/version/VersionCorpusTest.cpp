// Drives every first line of the version-line corpus (tests/data) through both
// line parsers, the numeric pre-release rule and the verdict of each rule in force,
// as a launcher reading it would.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "JavaVersion.h"

namespace zanto {
namespace {

#include "VersionCorpus.inc"

struct CorpusRow {
  int lineNumber;
  std::string line, classic, numeric, pre, verdicts, note;
};

std::vector<std::string> splitTabs(const std::string& text) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t tab = text.find('\t', start);
    fields.push_back(
        text.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

std::vector<CorpusRow> readCorpus() {
  std::vector<CorpusRow> rows;
  std::string text = kVersionCorpus;
  size_t start = 0;
  int number = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line[0] == '#') continue;
    auto f = splitTabs(line);
    EXPECT_EQ(f.size(), 6u) << "corpus line " << number << " needs six tab-separated fields";
    if (f.size() != 6) continue;
    rows.push_back({number, f[0], f[1], f[2], f[3], f[4], f[5]});
  }
  return rows;
}

std::string parsed(bool (*parse)(const char*, char*, size_t), const std::string& line) {
  char version[100];
  return parse(line.c_str(), version, sizeof version) ? version : "-";
}

TEST(VersionCorpus, EveryLineGivesTheExpectedVersionUnderBothRules) {
  auto rows = readCorpus();
  ASSERT_GE(rows.size(), 90u);
  std::set<std::string> seen;
  size_t classicTaken = 0, numericTaken = 0;
  for (const auto& r : rows) {
    SCOPED_TRACE("corpus line " + std::to_string(r.lineNumber) + ": " + r.line + " (" + r.note +
                 ")");
    EXPECT_TRUE(seen.insert(r.line).second) << "duplicate line";
    // As read in text mode (line feed), as the last line of a file, and raw CRLF.
    for (const char* ending : {"\n", "", "\r\n"}) {
      EXPECT_EQ(parsed(parseVersionLine, r.line + ending), r.classic);
      EXPECT_EQ(parsed(parseVersionLineAnyVendor, r.line + ending), r.numeric);
    }
    if (r.classic != "-") {
      ++classicTaken;
      // What the classic rule takes, the numeric rule takes the same.
      EXPECT_EQ(r.numeric, r.classic);
    }
    if (r.numeric == "-") {
      EXPECT_EQ(r.pre, "-");
      continue;
    }
    ++numericTaken;
    ASSERT_TRUE(r.pre == "pre" || r.pre == "ga") << "pre-release column: " << r.pre;
    EXPECT_EQ(isPreRelease(r.numeric.c_str()), r.pre == "pre");
    NumericVersion v;
    EXPECT_TRUE(parseNumericVersion(r.numeric.c_str(), &v)) << "every real version compares";
  }
  // The corpus must show both: lines only the numeric rule takes, and lines none takes.
  EXPECT_GT(numericTaken, classicTaken);
  EXPECT_GT(rows.size(), numericTaken);
}

// What a launcher with minimum 1.8 makes of each line under the rule in force:
// the line parsed by that rule, then its verdict ("-" when no version is taken).
std::string verdict(bool numeric, const std::string& line) {
  char version[100];
  if (!parseVersionLineBy(numeric, (line + "\n").c_str(), version, sizeof version)) return "-";
  return versionAccepted(numeric, version, "1.8", "", false, false) ? "yes" : "no";
}

TEST(VersionCorpus, VerdictsWithMinimum18UnderEachRule) {
  size_t vendorLines = 0;
  for (const auto& r : readCorpus()) {
    SCOPED_TRACE("corpus line " + std::to_string(r.lineNumber) + ": " + r.line);
    EXPECT_EQ(verdict(false, r.line) + "/" + verdict(true, r.line), r.verdicts);
    // Every vendor's word other than "java": taken by the new rule, never by the classic one.
    if (r.numeric != "-" && r.line.rfind("java version \"", 0) != 0) {
      ++vendorLines;
      EXPECT_EQ(verdict(false, r.line), "-");
      EXPECT_NE(verdict(true, r.line), "-");
    }
  }
  EXPECT_GE(vendorLines, 30u);
}

TEST(VersionCorpus, OpenJdkLinesAreRefusedByTheClassicRuleAndAcceptedByNumber) {
  for (const auto& r : readCorpus()) {
    if (r.line.rfind("openjdk version \"", 0) != 0 || r.numeric == "-") continue;
    SCOPED_TRACE(r.line);
    EXPECT_EQ(r.classic, "-");
    EXPECT_TRUE(versionInRangeNumeric(r.numeric.c_str(), "1.8", "", true, false));
  }
}

}  // namespace
}  // namespace zanto

// Tables of version texts against both rules: the character comparison with its
// beta markers, the numeric comparison, and the line and release-file parsers.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "JavaVersion.h"

namespace zanto {
namespace {

// A heap copy of exactly the text's length plus its terminator, so that the
// sanitizer sees any read past the end.
std::unique_ptr<char[]> exactCopy(const std::string& text, bool terminate = true) {
  std::unique_ptr<char[]> copy(new char[text.size() + (terminate ? 1 : 0)]);
  std::memcpy(copy.get(), text.data(), text.size());
  if (terminate) copy[text.size()] = '\0';
  return copy;
}

struct RangeCase {
  const char* version;
  const char* min;
  const char* max;
  bool allowBeta;
  bool allowBetaSetting;
  bool accepted;
};

TEST(VersionInRange, CharacterComparisonWithInclusivePrefixes) {
  const RangeCase cases[] = {
      {"1.4.2_06", "1.4", "", false, false, true},
      {"1.5.0_06", "", "1.5", false, false, true},
      {"1.5.0", "", "1.4", false, false, false},
      {"1.10.0", "1.4", "", false, false, false},  // by characters, "1.1" < "1.4"
      {"1.4", "1.4", "", false, false, true},
      {"1.3.1_20", "1.4", "", false, false, false},
      {"1.5", "1.5.0_06", "", false, false, false},  // shorter than the minimum
      {"1.6.0", "1.4", "1.5", false, false, false},
      {"1.5.0_22", "1.4", "1.5", false, false, true},
      {"9", "", "1.8", false, false, false},
      {"11.0.2", "1.8", "", false, false, true},
      {"11.0.2", "9", "", false, false, false},  // "1" < "9"
      {"17.0.2", "", "", false, false, true},
      {"", "", "", false, false, true},
      {"", "1.4", "", false, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(versionInRange(c.version, c.min, c.max, c.allowBeta, c.allowBetaSetting), c.accepted)
        << c.version << " [" << c.min << ", " << c.max << "]";
  }
}

TEST(VersionInRange, BetaMarkersAnywhereUnlessAllowed) {
  struct Case {
    const char* version;
    bool marked;
  };
  const Case
      cases[] =
          {
              {"1.6.0_10-rc2", true},      {"1.7.0-ea", true},
              {"1.4.0-beta3", true},       {"9-ea", true},
              {"1.8.0_202", false},        {"17.0.9", false},
              {"1.8.0_242-release", true},  // the classic rule finds "ea" inside a word
              {"1.8.0-source", true},      {"1.6.0-RC", false},  // case-sensitive
              {"1.4.0-Beta", false},
          };
  for (const auto& c : cases) {
    EXPECT_EQ(hasBetaMarker(c.version), c.marked) << c.version;
    EXPECT_EQ(versionInRange(c.version, "", "", false, false), !c.marked) << c.version;
    EXPECT_TRUE(versionInRange(c.version, "", "", true, false)) << c.version;
    EXPECT_TRUE(versionInRange(c.version, "", "", false, true)) << c.version;
  }
  // Allowing beta does not lift the limits.
  EXPECT_FALSE(versionInRange("1.7.0-ea", "1.8", "", true, true));
}

TEST(KeyInRange, ComparesOverTheShorterLength) {
  const RangeCase cases[] = {
      {"1.4", "1.4.2", "", false, false, true},
      {"1.3.1", "1.4", "", false, false, false},
      {"1.4.2", "1.4", "", false, false, true},
      {"1.5.0", "1.4", "", false, false, true},
      {"1.5.0", "", "1.4", false, false, false},
      {"1.4.2_06", "", "1.4", false, false, true},
      {"1.5", "", "1.5.0_06", false, false, true},
      {"1.6.0_10-rc2", "", "", false, false, true},  // no beta check on keys
      {"1.10", "1.4", "", false, false, false},
      {"", "1.4", "1.5", false, false, true},  // nothing to compare
  };
  for (const auto& c : cases) {
    EXPECT_EQ(keyInRange(c.version, c.min, c.max), c.accepted)
        << c.version << " [" << c.min << ", " << c.max << "]";
  }
}

struct LineCase {
  const char* line;
  const char* version;  // null: no version
};

void expectLines(bool (*parse)(const char*, char*, size_t), const LineCase* cases, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const auto& c = cases[i];
    auto line = exactCopy(c.line);
    char version[100];
    std::memset(version, 'x', sizeof version);
    bool taken = parse(line.get(), version, sizeof version);
    EXPECT_EQ(taken, c.version != nullptr) << '[' << c.line << ']';
    EXPECT_STREQ(version, c.version ? c.version : "") << '[' << c.line << ']';
  }
}

TEST(ParseVersionLine, TakesTheTextUpToTheClosingQuote) {
  const LineCase cases[] = {
      {"java version \"1.6.0_45\"\n", "1.6.0_45"},
      {"java version \"1.6.0_45\"", "1.6.0_45"},  // last line, no line feed
      {"java version \"1.6.0_45\"\r\n", "1.6.0_45"},
      {"java version \"11.0.2\" 2019-01-15 LTS\n", "11.0.2"},
      {"java version \"1\"\n", "1"},
      {"java version \"1\"", "1"},
      {"java version \"", nullptr},  // the prefix alone
      {"java version \"\n", nullptr},
      {"java version \"\"", nullptr},
      {"java version \"\"\n", nullptr},
      {"java version \"1", nullptr},
      {"java version \"1.8.0_202\n", nullptr},  // no closing quote on the line
      {"java version \"1.8\n\"", nullptr},
      {"java version", nullptr},
      {"", nullptr},
      {"openjdk version \"17.0.2\" 2022-01-18\n", nullptr},
      {" java version \"1.8.0\"\n", nullptr},
      {"Java version \"1.8.0\"\n", nullptr},
  };
  expectLines(parseVersionLine, cases, std::size(cases));
}

TEST(ParseVersionLineAnyVendor, AcceptsAnyProductWord) {
  const LineCase cases[] = {
      {"openjdk version \"17.0.2\" 2022-01-18\n", "17.0.2"},
      {"java version \"1.8.0_202\"\n", "1.8.0_202"},
      {"openjdk version \"22-ea\" 2024-03-19", "22-ea"},
      {"Java version \"1.8.0\"\r\n", "1.8.0"},
      {"openjdk version \"\"\n", nullptr},
      {"openjdk version \"17\n", nullptr},
      {"version \"17\"\n", nullptr},  // no product word
      {" version \"17\"\n", nullptr},
      {"openjdk  version \"17\"\n", nullptr},
      {"java full version \"1.8.0_202-b08\"\n", nullptr},
      {"\"java\" version \"17\"\n", nullptr},
      {"Picked up _JAVA_OPTIONS: -Xmx512m\n", nullptr},
      {"openjdk version \"", nullptr},
      {"openjdk", nullptr},
      {"", nullptr},
  };
  expectLines(parseVersionLineAnyVendor, cases, std::size(cases));
}

TEST(ParseVersionLine, RefusesAVersionThatDoesNotFitInsteadOfCuttingIt) {
  for (auto parse : {parseVersionLine, parseVersionLineAnyVendor}) {
    char version[6];
    EXPECT_TRUE(parse("java version \"1.8.0\"\n", version, sizeof version));
    EXPECT_STREQ(version, "1.8.0");
    EXPECT_FALSE(parse("java version \"1.8.0_\"\n", version, sizeof version));
    EXPECT_STREQ(version, "");
    EXPECT_FALSE(parse("java version \"1\"\n", version, 0));
  }
}

TEST(ParseReleaseFileVersion, TakesJavaVersionFromAnyLine) {
  const LineCase cases[] = {
      {"JAVA_VERSION=\"17.0.2\"\n", "17.0.2"},
      {"IMPLEMENTOR=\"Eclipse "
       "Adoptium\"\nJAVA_VERSION=\"17.0.2\"\nJAVA_VERSION_DATE=\"2022-01-18\"\n",
       "17.0.2"},
      {"JAVA_VERSION_DATE=\"2022-01-18\"\nJAVA_VERSION=\"11.0.21\"\r\n", "11.0.21"},
      {"JAVA_VERSION=\"1.8.0_392\"", "1.8.0_392"},  // no final line feed
      {"\xEF\xBB\xBFJAVA_VERSION=\"21\"\n", "21"},
      {"JAVA_VERSION=17.0.2  \r\n", "17.0.2"},
      {"JAVA_VERSION_DATE=\"2022-01-18\"\n", nullptr},
      {" JAVA_VERSION=\"17\"\n", nullptr},
      {"JAVA_VERSION=\"17.0.2\nMODULES=\"java.base\"\n", nullptr},
      {"JAVA_VERSION=\"\"\n", nullptr},
      {"JAVA_VERSION=\"\n", nullptr},
      {"JAVA_VERSION=\n", nullptr},
      {"JAVA_VERSION=", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    std::string content = c.line;
    auto bytes = exactCopy(content, false);  // not terminated
    char version[100];
    EXPECT_EQ(parseReleaseFileVersion(bytes.get(), content.size(), version, sizeof version),
              c.version != nullptr)
        << '[' << c.line << ']';
    EXPECT_STREQ(version, c.version ? c.version : "") << '[' << c.line << ']';
  }
}

TEST(CompareVersionsNumeric, OrdersByNumber) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  };
  const Case cases[] = {
      {"1.8", "8", 0},
      {"1.8.0_392", "8.0.392", 0},
      {"1.8.0", "1.8", 0},
      {"11", "1.8", 1},
      {"1.10", "1.4", 1},
      {"1.10.0", "1.9.0", 1},
      {"9", "1.8.0_392", 1},
      {"25", "17", 1},
      {"17.0.10", "17.0.9", 1},
      {"17.0.2+8", "17.0.2", 1},
      {"17.0.2+8", "17.0.3", -1},
      {"17.0.2+8", "17.0.2.1", -1},  // the build ranks after every version number
      {"17.0.2+8", "17.0.2+10", -1},
      {"21-ea", "21", -1},
      {"21-ea", "20.0.2", 1},
      {"1.6.0_10-rc2", "1.6.0_10", -1},
      {"1.6.0_10-rc2", "1.6.0_9", 1},
      {"1.1.8", "1.2", -1},  // 1.1 keeps its major
      {"1.0", "1", 0},
      {"010", "10", 0},
      {"99999999999999999999999", "9", 1},  // no overflow
      {"1.8.0_242-release", "1.8.0_242", 0},
      {"abc", "1.4", -1},
      {"", "1.4", -1},
      {"abc", "", 0},
  };
  for (const auto& c : cases) {
    int forward = compareVersionsNumeric(c.a, c.b);
    int backward = compareVersionsNumeric(c.b, c.a);
    EXPECT_EQ((forward > 0) - (forward < 0), c.sign) << c.a << " vs " << c.b;
    EXPECT_EQ((backward > 0) - (backward < 0), -c.sign) << c.b << " vs " << c.a;
  }
}

TEST(VersionInRangeNumeric, LimitsArePrefixesByComponents) {
  const RangeCase cases[] = {
      {"1.8.0_392", "", "1.8", false, false, true},
      {"8.0.392", "", "1.8", false, false, true},
      {"1.8.0_392", "8", "8", false, false, true},
      {"9", "", "1.8", false, false, false},
      {"9.0.4", "", "1.8", false, false, false},
      {"25", "17", "", false, false, true},
      {"17", "17", "", false, false, true},
      {"16.0.2", "17", "", false, false, false},
      {"11.0.21", "", "11", false, false, true},
      {"12", "", "11", false, false, false},
      {"1.10.0", "1.4", "", false, false, true},
      {"1.4.2_06", "1.4", "", false, false, true},
      {"1.5.0_06", "", "1.5", false, false, true},
      {"1.5.0", "", "1.4", false, false, false},
      {"1.3.1_20", "1.4", "", false, false, false},
      {"17.0.2+8", "17.0.2", "17.0.2", false, false, true},
      {"17.0.1", "17.0.2", "", false, false, false},
      {"11", "11.0.2", "", false, false, false},  // 11 is 11.0.0
      {"21-ea", "21", "", false, false, false},
      {"21-ea", "21", "", true, false, true},
      {"21-ea", "21", "", false, true, true},
      {"21-ea", "", "20", true, true, false},
      {"1.8.0_242-release", "1.8", "1.8", false, false, true},
      {"1.8.0-alphabetical", "", "", false, false, true},  // "beta" inside a word
      {"17.0.1-beta", "", "", false, false, false},
      {"17", "abc", "", false, false, false},  // a limit that is no version
      {"17", "", "1..8", false, false, false},
      {"abc", "", "", false, false, true},
      {"abc", "1.4", "", false, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(versionInRangeNumeric(c.version, c.min, c.max, c.allowBeta, c.allowBetaSetting),
              c.accepted)
        << c.version << " [" << c.min << ", " << c.max << "] beta " << c.allowBeta
        << c.allowBetaSetting;
  }
}

TEST(KeyInRangeNumeric, ComparesOverTheShorterComponentCount) {
  const RangeCase cases[] = {
      {"1.8", "1.8.0_202", "", false, false, true},
      {"11", "11.0.2", "", false, false, true},
      {"1.7", "1.8.0_202", "", false, false, false},
      {"17", "", "11", false, false, false},
      {"1.10", "1.4", "", false, false, true},
      {"9", "", "1.8", false, false, false},
      {"1.8.0_202", "", "1.8", false, false, true},
      {"21-ea", "", "21", false, false, true},  // no pre-release check on keys
      {"25", "17", "21", false, false, false},
      {"CurrentVersion", "1.4", "", false, false, false},
      {"CurrentVersion", "", "", false, false, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(keyInRangeNumeric(c.version, c.min, c.max), c.accepted)
        << c.version << " [" << c.min << ", " << c.max << "]";
  }
}

TEST(IsPreRelease, MarkersOnlyAsWholeComponents) {
  struct Case {
    const char* version;
    bool pre;
  };
  const Case cases[] = {
      {"21-ea", true},
      {"9-ea+148", true},
      {"1.6.0_10-rc2", true},
      {"1.4.0-beta3", true},
      {"1.5.0-beta", true},
      {"17-RC1", true},
      {"1.4.1beta", true},
      {"11.0.2-ea+7", true},
      {"ea", true},
      {"1.8.0_242-release", false},
      {"1.8.0-alphabetical", false},
      {"17.0.9-internal", false},
      {"1.5.0-search", false},
      {"1.8.0_392-b08", false},
      {"17.0.2+8", false},
      {"beta-1", true},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isPreRelease(c.version), c.pre) << c.version;
}

TEST(ParseNumericVersion, RefusesWhatItCannotCompare) {
  NumericVersion v;
  ASSERT_TRUE(parseNumericVersion("1.2.3.4.5.6.7.8.9.10.11.12", &v));
  EXPECT_EQ(v.numberCount, 11u);  // the leading 1. is dropped
  ASSERT_TRUE(parseNumericVersion("2.3.4.5.6.7.8.9.10.11.12.13", &v));
  EXPECT_EQ(v.numberCount, NumericVersion::kMaxNumbers);
  EXPECT_FALSE(parseNumericVersion("2.3.4.5.6.7.8.9.10.11.12.13.14", &v));
  for (const char* bad : {"", "17..2", "21-", ".8", "+8", "ea", "x17"})
    EXPECT_FALSE(parseNumericVersion(bad, &v)) << bad;
  ASSERT_TRUE(parseNumericVersion("9-ea+148", &v));
  EXPECT_EQ(v.numberCount, 1u);
  EXPECT_TRUE(v.preRelease);
  EXPECT_EQ(std::string(v.build.text, v.build.length), "148");
  ASSERT_TRUE(parseNumericVersion("1.8.0_392-b08", &v));
  ASSERT_EQ(v.numberCount, 3u);
  EXPECT_EQ(std::string(v.numbers[2].text, v.numbers[2].length), "392");
}

// The cases the launcher's two rules disagree on, through the functions the
// launcher calls with the NumericVersionCheck flag: each row gives both answers.
TEST(VersionRules, OrderingUnderBothRules) {
  struct Case {
    const char* a;
    const char* b;
    int classic, numeric;  // sign of compareVersions(rule, a, b)
  };
  const Case cases[] = {
      {"1.8", "8", -1, 0},
      {"11", "1.8", 1, 1},
      {"1.10", "1.4", -1, 1},
      {"17.0.2+8", "17.0.2", 1, 1},
      {"17.0.2+8", "17.0.10", 1, -1},
      {"21-ea", "21", 1, -1},  // the classic rule sees only a longer text
      {"9", "1.8.0_392", 1, 1},
      {"25", "17", 1, 1},
      {"17", "9", -1, 1},
      {"1.8.0_392", "1.8.0_41", -1, 1},
      {"8.0.392", "1.8.0_392", 1, 0},
  };
  auto sign = [](int v) { return (v > 0) - (v < 0); };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    EXPECT_EQ(sign(compareVersions(false, c.a, c.b)), c.classic);
    EXPECT_EQ(sign(compareVersions(false, c.b, c.a)), -c.classic);
    EXPECT_EQ(sign(compareVersions(true, c.a, c.b)), c.numeric);
    EXPECT_EQ(sign(compareVersions(true, c.b, c.a)), -c.numeric);
  }
}

TEST(VersionRules, LimitsUnderBothRules) {
  struct Case {
    const char* version;
    const char* min;
    const char* max;
    bool classic, numeric;  // versionAccepted(rule, ...) without beta permission
  };
  const Case cases[] = {
      {"8", "1.8", "", true, true},
      {"1.8.0_392", "8", "", false, true},  // "1" < "8" by bytes
      {"11.0.21", "1.8", "", true, true},
      {"1.10.0", "1.4", "", false, true},
      {"9", "", "1.8", false, false},
      {"9.0.4", "", "1.8", false, false},
      {"1.8.0_392", "", "1.8", true, true},
      {"8.0.392", "", "1.8", false, true},
      {"25", "17", "", true, true},
      {"9", "17", "", true, false},  // '9' > '1' by bytes
      {"17.0.2+8", "17", "17", true, true},
      {"11.0.21", "", "11", true, true},
      {"12", "", "11", false, false},
      {"21-ea", "17", "", false, false},              // pre-release under both rules
      {"1.8.0_242-release", "1.8", "", false, true},  // "ea" inside a word
      {"17.0.9-internal", "17", "", true, true},
      {"1.7.0_80", "1.8", "", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.version) + " [" + c.min + ", " + c.max + "]");
    EXPECT_EQ(versionAccepted(false, c.version, c.min, c.max, false, false), c.classic);
    EXPECT_EQ(versionAccepted(true, c.version, c.min, c.max, false, false), c.numeric);
  }
}

TEST(VersionRules, RegistryKeyNamesUnderBothRules) {
  struct Case {
    const char* name;  // a registry subkey name as an installer writes it
    const char* version;
    const char* min;
    const char* max;
    bool classic, numeric;
  };
  const Case cases[] = {
      {"17.0.2", "17.0.2", "1.8", "", true, true},
      {"17.0.2.8", "17.0.2.8", "11", "17", true, true},  // Adoptium's four components
      {"zulu-17", "17", "1.8", "", true, true},
      {"zulu-8", "8", "1.8", "", true, true},
      {"zulu-11-jre", "11-jre", "", "1.8", false, false},
      {"1.8", "1.8", "1.8.0_202", "", true, true},
      {"9", "9", "", "1.8", false, false},
      {"1.10", "1.10", "1.4", "", false, true},
      {"21-ea", "21-ea", "", "21", true, true},  // no pre-release check on keys
      {"25", "25", "17", "", true, true},
      {"11", "11", "17", "", false, false},
      {"CurrentVersion", "", "", "", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " [" + c.min + ", " + c.max + "]");
    EXPECT_STREQ(keyVersionText(c.name), c.version);
    EXPECT_EQ(keyAccepted(false, keyVersionText(c.name), c.min, c.max), c.classic);
    EXPECT_EQ(keyAccepted(true, keyVersionText(c.name), c.min, c.max), c.numeric);
  }
}

}  // namespace
}  // namespace zanto

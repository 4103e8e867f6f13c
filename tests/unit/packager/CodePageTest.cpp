// Code page 1252 and UTF-16 conversions of the packager.
#include <gtest/gtest.h>

#include "CodePage.h"

namespace zanto {
namespace {

struct Pair {
  const char* utf8;
  const char* cp1252;
};

// Characters whose byte differs from their code point, the five undefined bytes,
// and the ends of the Latin-1 range.
const Pair kPairs[] = {
    {"plain ASCII ~", "plain ASCII ~"},
    {"\xE2\x82\xAC", "\x80"},  // €
    {"\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D", "\x81\x8D\x8F\x90\x9D"},
    {"\xE2\x80\x9E\xE2\x80\x9C", "\x84\x93"},      // „ “
    {"\xC5\xB8", "\x9F"},                          // Ÿ
    {"\xC2\xA0\xC3\xA9\xC3\xBF", "\xA0\xE9\xFF"},  // no-break space é ÿ
    {"", ""},
};

TEST(CodePage, ConvertsBothWays) {
  for (const Pair& p : kPairs) {
    std::string bytes, error;
    ASSERT_TRUE(utf8ToCp1252(p.utf8, bytes, error)) << p.utf8 << ": " << error;
    EXPECT_EQ(bytes, p.cp1252);
    EXPECT_EQ(cp1252ToUtf8(p.cp1252), p.utf8);
  }
}

TEST(CodePage, EveryByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  std::string back, error;
  ASSERT_TRUE(utf8ToCp1252(cp1252ToUtf8(all), back, error)) << error;
  EXPECT_EQ(back, all);
}

struct Refused {
  const char* utf8;
  const char* message;  // part of the error
};

TEST(CodePage, RefusesWhatTheCodePageCannotHold) {
  const Refused cases[] = {
      {"ab\xC4\x80", "U+0100 '\xC4\x80' (character 3)"},  // Ā
      {"\xE4\xB8\xAD", "U+4E2D"},                         // a CJK character
      {"x\xF0\x9F\x98\x80", "U+1F600"},                   // outside the BMP
      {"\xC2\x80", "U+0080"},                             // a C1 control that 1252 gives a glyph byte
      {"\xC3", "not valid UTF-8"},                        // cut sequence
      {"\xC0\xAF", "not valid UTF-8"},                    // overlong
      {"\xED\xA0\x80", "not valid UTF-8"},                // encoded surrogate
  };
  for (const Refused& c : cases) {
    std::string bytes, error;
    EXPECT_FALSE(utf8ToCp1252(c.utf8, bytes, error)) << c.utf8;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

TEST(CodePage, OtherCodePagesBothWaysAndRefusals) {
  struct Case {
    uint32_t codePage;
    const char* utf8;
    const char* bytes;  // null: refused, with `bytes` naming... nothing
    const char* message;
  };
  const Case cases[] = {
      {1251, "\xE2\x82\xAC\xD0\xAF", "\x88\xDF", ""},      // € Я
      {1251, "a\xC3\xA4", nullptr, "U+00E4 '\xC3\xA4' (character 2) cannot be written in code page 1251"},
      {1250, "\xC5\x91", "\xF5", ""},                        // ő
      {932, "\xE6\x97\xA5x", "\x93\xFAx", ""},              // 日
      {932, "\xF0\x9F\x98\x80", nullptr, "U+1F600"},
      {936, "\xE4\xB8\xAD", "\xD6\xD0", ""},                // 中
      {874, "\xC3\xA9", nullptr, "code page 874"},
      {65001, "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", ""},
      {65001, "\xC3", nullptr, "not valid UTF-8"},
      {0, "\xE2\x82\xAC", "\x80", ""},                       // no record: 1252
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    EXPECT_TRUE(isBlockCodePage(c.codePage));
    std::string bytes, error, back;
    EXPECT_EQ(utf8ToCodePage(c.codePage, c.utf8, bytes, error), c.bytes != nullptr) << c.utf8;
    if (!c.bytes) {
      EXPECT_NE(error.find(c.message), std::string::npos) << error;
      continue;
    }
    EXPECT_EQ(bytes, c.bytes);
    ASSERT_TRUE(codePageToUtf8(c.codePage, bytes, back));
    EXPECT_EQ(back, c.utf8);
  }
  for (uint32_t other : {437u, 850u, 1200u, 1259u, 65000u}) EXPECT_FALSE(isBlockCodePage(other)) << other;
  std::string out;
  EXPECT_FALSE(codePageToUtf8(932, "\x81", out)) << "a lead byte without its second byte";
}

TEST(CodePage, Utf16RoundTripAndUnpairedSurrogates) {
  std::u16string units;
  ASSERT_TRUE(utf8ToUtf16("A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", units));
  EXPECT_EQ(units, (std::u16string{u'A', 0xE9, 0x20AC, 0xD83D, 0xDE00}));
  std::string utf8;
  ASSERT_TRUE(utf16ToUtf8(units, utf8));
  EXPECT_EQ(utf8, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  for (std::u16string bad : {std::u16string{0xD800}, std::u16string{u'a', 0xDC00}, std::u16string{0xD800, u'b'}})
    EXPECT_FALSE(utf16ToUtf8(bad, utf8));
  EXPECT_FALSE(utf8ToUtf16("\xF4\x90\x80\x80", units));  // above U+10FFFF
}

}  // namespace
}  // namespace zanto

// The block parser and the getters on byte buffers.
#include <gtest/gtest.h>

#include <cstring>

#include "BlockBytes.h"
#include "ConfigStore.h"
#include "PeLayout.h"

namespace zanto {
namespace {

using test::Bytes;

BlockError parse(const Bytes& b, ConfigStore& store, int64_t* offset) {
  MemorySource src(b.data.data(), b.data.size());
  return parseConfigBlock(src, store, offset);
}

TEST(ConfigBlockParser, EmptyBlockEndsBehindTheSecondCount) {
  Bytes b;
  b.magic().i32(0).i32(0).raw("padding");
  ConfigStore store;
  int64_t offset = -1;
  ASSERT_EQ(parse(b, store, &offset), BlockError::None);
  EXPECT_EQ(offset, 12);
  EXPECT_TRUE(store.narrow.empty());
  char buf[16];
  getStringSetting(store, 101, buf, sizeof buf);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(getIntSetting(store, 107), 0);
}

TEST(ConfigBlockParser, RecordsLaterWinsSeparateSpacesNegativeCounts) {
  Bytes b;
  b.magic().i32(3).narrow(101, "first").narrow(102, "").narrow(101, "second").i32(1).wide(101, u"wide\u00e9");
  ConfigStore store;
  int64_t offset;
  ASSERT_EQ(parse(b, store, &offset), BlockError::None);
  EXPECT_EQ(offset, static_cast<int64_t>(b.data.size()));
  EXPECT_EQ(store.narrow.at(101), "second");
  EXPECT_EQ(store.narrow.at(102), "");
  EXPECT_EQ(store.wide.at(101), u"wide\u00e9");

  Bytes negative;
  negative.magic().i32(-5).i32(-1);
  ConfigStore empty;
  ASSERT_EQ(parse(negative, empty, &offset), BlockError::None);
  EXPECT_EQ(offset, 12);
}

TEST(ConfigBlockParser, TruncationAtEveryOffsetGivesTheRightText) {
  Bytes b;
  b.magic().i32(2).narrow(101, "abc").narrow(122, "de").i32(1).wide(20017, u"xy");
  // Where each byte offset falls decides the text: counts, ids and lengths are
  // integers; a value cut short is a string.
  std::vector<BlockError> expected(b.data.size(), BlockError::ReadInt);
  auto mark = [&](size_t from, size_t to, BlockError e) {
    for (size_t i = from; i < to; ++i) expected[i] = e;
  };
  mark(0, 4, BlockError::ReadInt);
  mark(16, 19, BlockError::ReadString);  // "abc": bytes 16..18
  mark(27, 29, BlockError::ReadString);  // "de"
  mark(41, 45, BlockError::ReadWString);  // u"xy"
  for (size_t cut = 0; cut < b.data.size(); ++cut) {
    ConfigStore store;
    int64_t offset;
    MemorySource src(b.data.data(), cut);
    EXPECT_EQ(parseConfigBlock(src, store, &offset), expected[cut]) << "cut at " << cut;
  }
}

TEST(ConfigBlockParser, BadMagicAndAbsurdLengths) {
  struct Case {
    const char* name;
    Bytes bytes;
    BlockError expected;
  };
  std::vector<Case> cases;
  cases.push_back({"magic", Bytes().i32(0x12345678).i32(0).i32(0), BlockError::Magic});
  cases.push_back({"huge narrow", Bytes().magic().i32(1).i32(101).i32(0x7fffffff).raw("x"), BlockError::ReadString});
  cases.push_back({"negative narrow", Bytes().magic().i32(1).i32(101).i32(-4).raw("xxxx"), BlockError::ReadString});
  cases.push_back({"huge wide", Bytes().magic().i32(0).i32(1).i32(1).i32(0x40000000), BlockError::ReadWString});
  cases.push_back({"huge count", Bytes().magic().i32(0x7fffffff).narrow(1, "a"), BlockError::ReadInt});
  for (const Case& c : cases) {
    ConfigStore store;
    int64_t offset;
    EXPECT_EQ(parse(c.bytes, store, &offset), c.expected) << c.name;
  }
  EXPECT_STREQ(blockErrorText(BlockError::Magic), "Internal Error: magic");
  EXPECT_STREQ(blockErrorText(BlockError::ReadWString), "Internal Error: readWString");
}

TEST(ConfigBlockParser, OddWideLengthDropsTheLastByte) {
  Bytes b;
  b.magic().i32(0).i32(1).i32(7).i32(3).raw(std::string("a\0b", 3));
  ConfigStore store;
  int64_t offset;
  ASSERT_EQ(parse(b, store, &offset), BlockError::None);
  EXPECT_EQ(store.wide.at(7), u"a");
  EXPECT_EQ(offset, static_cast<int64_t>(b.data.size()));
}

TEST(ConfigGetters, IntegersLikeAtoi) {
  struct Case {
    const char* text;
    int value;
  } cases[] = {{"4", 4},   {"", 0},           {"12abc", 12}, {"  -7", -7},          {"+3", 3},
               {"abc", 0}, {"99999999999", 2147483647}, {"\t5", 5}, {"-99999999999", -2147483647 - 1}};
  for (const Case& c : cases) {
    ConfigStore store;
    store.narrow[107] = c.text;
    EXPECT_EQ(getIntSetting(store, 107), c.value) << c.text;
  }
  ConfigStore none;
  EXPECT_EQ(getIntSetting(none, 107), 0);
  EXPECT_TRUE(none.narrow.empty()) << "a look-up must not insert";
}

TEST(ConfigGetters, StringsAreCutToTheBuffer) {
  ConfigStore store;
  store.narrow[2001] = "efg";
  store.narrow[3] = std::string(9000, 'x');
  store.wide[20017] = std::u16string(9000, u'y');
  char two[2];
  getStringSetting(store, 2001, two, sizeof two);
  EXPECT_STREQ(two, "e");
  static char big[8192];
  getStringSetting(store, 3, big, sizeof big);
  EXPECT_EQ(std::strlen(big), 8191u);
  static char16_t wide[8192];
  getWideStringSetting(store, 20017, wide, 8192);
  EXPECT_EQ(wide[8190], u'y');
  EXPECT_EQ(wide[8191], 0);
  getWideStringSetting(store, 999, wide, 8192);
  EXPECT_EQ(wide[0], 0);
}

// A minimal PE image: DOS header, PE signature, file header, optional header of
// the given size, and section headers (raw size, raw pointer).
std::vector<uint8_t> peImage(uint16_t machine, uint16_t optionalSize,
                             const std::vector<std::pair<uint32_t, uint32_t>>& sections, size_t total) {
  std::vector<uint8_t> img(total, 0);
  img[0] = 'M';
  img[1] = 'Z';
  uint32_t pe = 0x80;
  std::memcpy(&img[0x3c], &pe, 4);
  std::memcpy(&img[pe], "PE\0\0", 4);
  std::memcpy(&img[pe + 4], &machine, 2);
  uint16_t count = static_cast<uint16_t>(sections.size());
  std::memcpy(&img[pe + 6], &count, 2);
  std::memcpy(&img[pe + 20], &optionalSize, 2);
  size_t table = pe + 24 + optionalSize;
  for (size_t i = 0; i < sections.size(); ++i) {
    std::memcpy(&img[table + 40 * i + 16], &sections[i].first, 4);
    std::memcpy(&img[table + 40 * i + 20], &sections[i].second, 4);
  }
  return img;
}

TEST(PeLayoutTest, LastSectionEndWhateverTheHeaderOrder) {
  struct Case {
    const char* name;
    uint16_t machine, optionalSize;
    std::vector<std::pair<uint32_t, uint32_t>> sections;
    int64_t end;
  } cases[] = {
      {"five sections, PE32", kMachineI386, 224, {{0x200, 0x400}, {0x200, 0x600}, {0x200, 0x800}, {0, 0}, {0x100, 0xa00}}, 0xb00},
      {"PE32+ out of order", kMachineAmd64, 240, {{0x400, 0x1000}, {0x200, 0x400}, {0x600, 0x600}}, 0x1400},
      {"one section", kMachineI386, 224, {{0x10, 0x400}}, 0x410},
  };
  for (const Case& c : cases) {
    auto img = peImage(c.machine, c.optionalSize, c.sections, 0x1800);
    MemorySource src(img.data(), img.size());
    PeInfo info;
    ASSERT_TRUE(readPeInfo(src, &info)) << c.name;
    EXPECT_EQ(info.lastSectionEnd, c.end) << c.name;
    EXPECT_EQ(info.machine, c.machine) << c.name;
  }
}

TEST(PeLayoutTest, BlockBehindTheLastSectionAndBrokenImages) {
  auto img = peImage(kMachineI386, 224, {{0x200, 0x400}}, 0x600);
  Bytes block;
  block.magic().i32(1).narrow(101, "svc").i32(0);
  img.insert(img.end(), block.data.begin(), block.data.end());
  MemorySource src(img.data(), img.size());
  ConfigStore store;
  int64_t offset;
  ASSERT_EQ(readConfigBlockFrom(src, store, &offset), BlockError::None);
  EXPECT_EQ(store.narrow.at(101), "svc");

  std::vector<uint8_t> notPe(0x400, 0);
  MemorySource bad(notPe.data(), notPe.size());
  EXPECT_EQ(readConfigBlockFrom(bad, store, &offset), BlockError::ReadInt);
  auto noBlock = peImage(kMachineI386, 224, {{0x200, 0x400}}, 0x600);
  MemorySource plain(noBlock.data(), noBlock.size());
  EXPECT_EQ(readConfigBlockFrom(plain, store, &offset), BlockError::ReadInt);
}

}  // namespace
}  // namespace zanto

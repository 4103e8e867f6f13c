// Resource tree, version information and icon formats: what the writers make the
// readers give back, and what the readers refuse (every cut of a valid input runs
// under the sanitizers, so an overrun shows).
#include <gtest/gtest.h>

#include <algorithm>

#include "Resources.h"

namespace zanto {
namespace {

ByteVector bytes(std::initializer_list<int> list) {
  ByteVector out;
  for (int b : list) out.push_back(static_cast<uint8_t>(b));
  return out;
}

Resource resource(ResourceId type, ResourceId name, uint16_t language, ByteVector data, uint32_t codePage = 0) {
  Resource r;
  r.type = std::move(type), r.name = std::move(name), r.language = language, r.data = std::move(data);
  r.codePage = codePage;
  return r;
}

ResourceId id(uint16_t n) { return {n, {}}; }
ResourceId named(std::u16string s) { return {0, std::move(s)}; }

// Given in an order the directory does not keep: the reader returns the directory's.
std::vector<Resource> sampleTree() {
  return {resource(id(24), id(1), 0x409, bytes({'<', 'x', '/', '>'})),
          resource(id(11), id(1), 0x409, ByteVector(37, 0xAB), 1252),
          resource(named(u"M\u00C4NIFEST"), named(u"\u65E5\u672C"), 0x411, bytes({1, 2, 3})),
          resource(id(11), id(1), 0x407, bytes({})),
          resource(named(u"DATA"), id(7), 0, ByteVector(5, 7)),
          resource(id(14), named(u"APP"), 0, bytes({9}))};
}

bool inDirectoryOrder(const Resource& a, const Resource& b) {
  if (!(a.type == b.type)) return a.type < b.type;
  if (!(a.name == b.name)) return a.name < b.name;
  return a.language < b.language;
}

TEST(ResourceTree, WrittenTreeReadsBackInDirectoryOrder) {
  for (uint32_t rva : {0x1000u, 0xF0000u}) {
    std::vector<Resource> tree = sampleTree();
    ByteVector bytes = writeResourceTree(tree, rva);
    std::vector<Resource> back;
    std::string error;
    ASSERT_TRUE(readResourceTree(bytes.data(), bytes.size(), rva, back, error)) << error;
    std::stable_sort(tree.begin(), tree.end(), inDirectoryOrder);
    EXPECT_EQ(back, tree);
    // Names first, then ids ascending: what the loader's binary search needs.
    EXPECT_EQ(back.front().type, named(u"DATA"));
    EXPECT_EQ(back.back().type, id(24));
    // The same tree mapped elsewhere cannot be read at the wrong address.
    EXPECT_FALSE(readResourceTree(bytes.data(), bytes.size(), rva + 0x1000, back, error));
  }
}

TEST(ResourceTree, EveryCutOfAValidTreeIsRefusedOrReadWithinBounds) {
  ByteVector whole = writeResourceTree(sampleTree(), 0x2000);
  for (size_t n = 0; n < whole.size(); ++n) {
    ByteVector cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    std::vector<Resource> back;
    std::string error;
    // The data of the last resource is padding away from the end: cuts into the
    // padding still read; a cut into anything used is refused.
    if (readResourceTree(cut.data(), cut.size(), 0x2000, back, error)) {
      EXPECT_EQ(back.size(), 6u) << n;
    }
  }
}

TEST(ResourceTree, RefusesTreesTheLoaderWouldMisread) {
  auto patched = [](size_t at, std::initializer_list<int> with) {
    ByteVector tree = writeResourceTree(
        {resource(id(16), id(1), 0x409, ByteVector(8, 1)), resource(id(16), id(2), 0x409, ByteVector(8, 2))}, 0x1000);
    for (int b : with) tree[at++] = static_cast<uint8_t>(b);
    return tree;
  };
  // Layout: root (16 + 8), type 16 at 0x18 (16 + 16), language directories at 0x38
  // and 0x50 (16 + 8 each), data entries at 0x68 and 0x78, data from 0x88.
  struct Case {
    const char* what;
    ByteVector tree;
  } cases[] = {
      {"a name entry pointing back at the root", patched(0x18 + 16 + 4, {0, 0, 0, 0x80})},
      {"two names with the same id", patched(0x18 + 16 + 8, {1, 0, 0, 0})},
      {"data before the section", patched(0x68, {0, 0x0F, 0, 0})},
      {"data behind the section", patched(0x68 + 4, {0, 0, 1, 0})},
      {"a type leading straight to data", patched(16 + 4, {0x68, 0, 0, 0})},
      {"a language leading to a directory", patched(0x38 + 16 + 4, {0x18, 0, 0, 0x80})},
      {"an id above 65535", patched(16, {0, 0, 1, 0})},
      {"a name outside the section", patched(16, {0, 0x10, 0, 0x80})},
      {"more entries than the section holds", patched(14, {200, 0})},
  };
  for (const Case& c : cases) {
    std::vector<Resource> back;
    std::string error;
    EXPECT_FALSE(readResourceTree(c.tree.data(), c.tree.size(), 0x1000, back, error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
}

TEST(VersionInfo, NumbersTakeTwoToFourParts) {
  struct Case {
    const char* text;
    bool ok;
    uint16_t parts[4];
  } cases[] = {
      {"1.4.2", true, {1, 4, 2, 0}},
      {"1.4.2.7", true, {1, 4, 2, 7}},
      {"1.4", true, {1, 4, 0, 0}},
      {"65535.0.007.1", true, {65535, 0, 7, 1}},
      {"1", false, {}},
      {"1.4.2.7.1", false, {}},
      {"1..2", false, {}},
      {"1.4.", false, {}},
      {".1.4", false, {}},
      {"1.65536", false, {}},
      {"1.4-beta", false, {}},
      {" 1.4", false, {}},
      {"1.+4", false, {}},
      {"", false, {}},
      {"1.99999999999", false, {}},
  };
  for (const Case& c : cases) {
    uint16_t parts[4] = {9, 9, 9, 9};
    EXPECT_EQ(parseVersionNumbers(c.text, parts), c.ok) << c.text;
    if (c.ok) {
      EXPECT_TRUE(std::equal(parts, parts + 4, c.parts)) << c.text;
    } else {
      EXPECT_EQ(parts[0], 9) << "a refused version leaves the output alone: " << c.text;
    }
  }
}

VersionInfo sampleVersion() {
  VersionInfo v;
  parseVersionNumbers("1.4.2.7", v.fileVersion);
  parseVersionNumbers("2.0", v.productVersion);
  v.strings = {{u"CompanyName", u"M\u00FCller & S\u00F6hne GmbH"},
               {u"FileDescription", u"Dienst \U0001F600 \u65E5\u672C"},
               {u"FileVersion", u"1.4.2.7"},
               {u"InternalName", u"odd"},  // odd lengths exercise the padding
               {u"LegalCopyright", u"\u00A9 2026"},
               {u"OriginalFilename", u"svc.exe"},
               {u"ProductName", u""},
               {u"ProductVersion", u"2.0"}};
  return v;
}

TEST(VersionInfo, BuiltResourceReadsBackWithEveryField) {
  VersionInfo v = sampleVersion();
  ByteVector data;
  ASSERT_TRUE(buildVersionResource(v, data));
  EXPECT_EQ(data.size() % 4, 0u);
  EXPECT_EQ(data[0] | data[1] << 8, static_cast<int>(data.size())) << "the root's length is the whole resource";
  VersionInfo back;
  std::string error;
  ASSERT_TRUE(readVersionResource(data.data(), data.size(), back, error)) << error;
  EXPECT_EQ(back, v);
  for (size_t n = 0; n < data.size(); ++n) {
    ByteVector cut(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_FALSE(readVersionResource(cut.data(), cut.size(), back, error)) << n;
  }
}

TEST(VersionInfo, TextsBeyondTheSixteenBitLengthAreRefused) {
  VersionInfo v = sampleVersion();
  ByteVector data;
  v.strings.emplace_back(u"Comments", std::u16string(32000, u'x'));
  EXPECT_TRUE(buildVersionResource(v, data));
  v.strings.emplace_back(u"Comments", std::u16string(1000, u'x'));
  EXPECT_FALSE(buildVersionResource(v, data)) << "the string table would pass 65535 bytes";
}

// A bitmap image: a BITMAPINFOHEADER and some pixel bytes.
ByteVector bitmap(uint8_t fill, size_t pixels) {
  ByteVector b = bytes({40, 0, 0, 0});
  b.resize(40 + pixels, fill);
  return b;
}

std::vector<IconImage> sampleIcon() {
  IconImage png{0, 0, 0, 1, 32, bytes({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13})};
  IconImage big{48, 48, 0, 1, 32, bitmap(0x33, 48 * 48 * 4)};
  IconImage small{16, 16, 16, 1, 4, bitmap(0x11, 129)};
  return {png, big, small};
}

TEST(Icon, FileAndGroupRoundTripWithSeveralImages) {
  std::vector<IconImage> icon = sampleIcon();
  ByteVector file = iconFileBytes(icon);
  std::vector<IconImage> back;
  std::string error;
  ASSERT_TRUE(parseIconFile(file.data(), file.size(), back, error)) << error;
  EXPECT_EQ(back, icon);
  ByteVector group = iconGroupBytes(icon, 5);
  std::vector<std::pair<IconImage, uint16_t>> entries;
  ASSERT_TRUE(parseIconGroup(group.data(), group.size(), entries, error)) << error;
  ASSERT_EQ(entries.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(entries[i].second, 5 + i);
    IconImage header = icon[i];
    header.data.clear();
    EXPECT_EQ(entries[i].first, header);
  }
}

TEST(Icon, MalformedFilesAreRefusedWithTheReason) {
  ByteVector good = iconFileBytes(sampleIcon());
  auto with = [&](size_t at, std::initializer_list<int> patch) {
    ByteVector b = good;
    for (int v : patch) b[at++] = static_cast<uint8_t>(v);
    return b;
  };
  struct Case {
    ByteVector file;
    const char* reason;
  } cases[] = {
      {{}, "no icon header"},
      {bytes({'P', 'K', 3, 4, 0, 0}), "no icon header"},
      {with(2, {2}), "a cursor file"},
      {with(4, {0, 0}), "holds no image"},
      {ByteVector(good.begin(), good.begin() + 30), "cut short: its directory lists 3 images"},
      {with(6 + 16 + 8, {0, 0, 0, 0}), "image 2 of the icon file is empty"},
      {with(6 + 16 + 12, {0xFF, 0xFF, 0, 0}), "image 2 of the icon file lies outside the file"},
      {ByteVector(good.begin(), good.end() - 1), "image 3 of the icon file lies outside the file"},
      {with(6 + 48, {'G', 'I', 'F', '8'}), "image 1 of the icon file is neither a PNG nor a bitmap"},
      {with(6 + 16 + 12, {6 + 48, 0, 0, 0}), "image 2 of the icon file overlaps another image"},
  };
  for (const Case& c : cases) {
    std::vector<IconImage> images;
    std::string error;
    EXPECT_FALSE(parseIconFile(c.file.data(), c.file.size(), images, error)) << c.reason;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

TEST(Identity, ReplacesVersionAndIconsAndKeepsEverythingElse) {
  std::vector<Resource> resources = {
      resource(id(11), id(1), 0x409, ByteVector(20, 1)),                         // the event messages
      resource(id(24), id(1), 0x409, bytes({'<', '/', '>'})),                    // a manifest
      resource(id(16), id(1), 0x407, ByteVector(4, 0)),                          // an old version
      resource(id(14), named(u"MAINICON"), 0, iconGroupBytes(sampleIcon(), 7)),  // an old icon group
      resource(id(3), id(7), 0, ByteVector(3, 3))};
  ExeIdentity identity;
  identity.hasVersion = true;
  identity.version = sampleVersion();
  identity.icon = sampleIcon();
  ASSERT_TRUE(applyIdentity(resources, identity));
  ASSERT_EQ(resources.size(), 2u + 1 + 1 + 3);
  EXPECT_EQ(resources[0].type, id(11));
  EXPECT_EQ(resources[1].type, id(24));
  for (const Resource& r : resources) EXPECT_NE(r.name, named(u"MAINICON"));

  ByteVector tree = writeResourceTree(resources, 0x3000);
  std::vector<Resource> back;
  std::string error;
  ASSERT_TRUE(readResourceTree(tree.data(), tree.size(), 0x3000, back, error)) << error;
  ExeIdentity read;
  ASSERT_TRUE(readIdentity(back, read, error)) << error;
  EXPECT_TRUE(read.hasVersion);
  EXPECT_EQ(read.version, identity.version);
  EXPECT_EQ(read.icon, identity.icon);

  // Without an icon the old icons stay; a group naming a missing image is refused.
  ExeIdentity versionOnly;
  versionOnly.hasVersion = true;
  std::vector<Resource> kept = {resource(id(14), id(1), 0, iconGroupBytes(sampleIcon(), 1))};
  ASSERT_TRUE(applyIdentity(kept, versionOnly));
  EXPECT_EQ(kept.size(), 2u);
  // Version texts beyond the format's 16-bit lengths change nothing.
  versionOnly.version.strings.assign(3, {u"Comments", std::u16string(12000, u'x')});
  EXPECT_FALSE(applyIdentity(kept, versionOnly));
  EXPECT_EQ(kept.size(), 2u);
  EXPECT_FALSE(readIdentity(kept, read, error));
  EXPECT_NE(error.find("names icon 1, which is missing"), std::string::npos) << error;
}

TEST(PeChecksum, PiecesOfAnyLengthGiveTheSameSum) {
  ByteVector data(1001);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + 7);
  PeChecksum whole;
  whole.add(data.data(), data.size());
  for (size_t piece : {1u, 3u, 4u, 7u, 500u}) {
    PeChecksum pieces;
    for (size_t at = 0; at < data.size(); at += piece) pieces.add(data.data() + at, std::min(piece, data.size() - at));
    EXPECT_EQ(pieces.value(), whole.value()) << piece;
  }
  // Words, folded with their carries, plus the length: 0xFFFF + 0x0002 + 0x0001 folds to 0x0003.
  PeChecksum small;
  small.add(bytes({0xFF, 0xFF, 0x02, 0x00, 0x01}).data(), 5);
  EXPECT_EQ(small.value(), 0x0003u + 5);
}

}  // namespace
}  // namespace zanto

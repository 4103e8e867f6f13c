// The block writer against the launcher's own parser: layout, order, mask, the PE
// cut, atomic output and reading copies back.
#include "BlockWriter.h"
#include "ConfigStore.h"
#include "PeLayout.h"
#include "Resources.h"
#include "Settings.h"
#include "TestSupport.h"

namespace zanto {
namespace {

using test::makePe;
using test::sampleLauncher;
using test::ScratchDir;

BlockModel sampleModel() {
  BlockModel m;
  m.narrow = {{124, "a b"}, {101, "demo"}, {-7, ""}, {1000, std::string("E\0r", 3)}};
  m.wide = {{20017, u"Dienst \u20AC"}, {101, u"same id, other table"}, {3, u""}};
  m.files = {{"zanto-runtime.jar", {1, 2, 3}}, {"app.jar", {0x00, kContentMask, 0xFF}}, {"empty.txt", {}}};
  return m;
}

TEST(BlockWriter, LauncherParserReadsWhatWasWritten) {
  BlockModel m = sampleModel();
  Bytes block = serializeBlock(m);
  MemorySource src(block.data(), block.size());
  ConfigStore store;
  int64_t dataOffset = 0;
  ASSERT_EQ(parseConfigBlock(src, store, &dataOffset), BlockError::None);
  std::map<int32_t, std::string> expected = m.narrow;
  expected[setting::IncludedFileCount] = "3";
  expected[setting::IncludedFileNames] = "zanto-runtime.jar;app.jar;empty.txt";
  EXPECT_EQ(store.narrow, expected);
  EXPECT_EQ(store.wide, m.wide);
  EXPECT_EQ(getIntSetting(store, setting::IncludedFileCount), 3);

  // File data: size, then the masked content, in storage order.
  Bytes data(block.begin() + dataOffset, block.end());
  const uint8_t k = kContentMask;
  auto masked = [k](int b) { return static_cast<uint8_t>(b ^ k); };
  // clang-format off
  const Bytes expectedData = {
      3, 0, 0, 0,  masked(1), masked(2), masked(3),
      3, 0, 0, 0,  k, 0, masked(0xFF),
      0, 0, 0, 0,
  };
  // clang-format on
  EXPECT_EQ(data, expectedData);
}

TEST(BlockWriter, ExactLayoutInAscendingIdOrder) {
  BlockModel m;
  m.narrow[300] = "b";  // inserted before the lower id
  m.narrow[-1] = "a";
  m.wide[5] = u"\u00E9";
  // No files, so no IncludedFileCount/Names records and no file data.
  // clang-format off
  const Bytes expected = {
      0xD5, 0x13, 0xE4, 0xE8,  2, 0, 0, 0,
      0xFF, 0xFF, 0xFF, 0xFF,  1, 0, 0, 0,  'a',
      0x2C, 0x01, 0, 0,        1, 0, 0, 0,  'b',
      1, 0, 0, 0,
      5, 0, 0, 0,              2, 0, 0, 0,  0xE9, 0x00,
  };
  // clang-format on
  EXPECT_EQ(serializeBlock(m), expected);
}

TEST(BlockWriter, RoundTripGivesTheIdenticalBlock) {
  BlockModel m = sampleModel();
  Bytes copy;
  std::string error;
  ASSERT_TRUE(makeLauncherCopy(sampleLauncher(), m, copy, error)) << error;
  LauncherCopy back;
  ASSERT_TRUE(readLauncherCopy(copy, back, error)) << error;
  EXPECT_EQ(back.model.files.size(), 3u);
  EXPECT_EQ(back.model.files[1].content, m.files[1].content);
  Bytes again;
  // The read model holds the file records; serializing keeps them as they are.
  EXPECT_EQ(serializeBlock(back.model), Bytes(copy.begin() + 0x600, copy.end()));
  back.model.narrow.erase(setting::IncludedFileCount);
  back.model.narrow.erase(setting::IncludedFileNames);
  ASSERT_TRUE(makeLauncherCopy(sampleLauncher(), back.model, again, error)) << error;
  EXPECT_EQ(again, copy);
}

TEST(BlockWriter, FileRecordsComeFromTheFilesUnlessSetForATest) {
  BlockModel m;
  EXPECT_EQ(serializeBlock(m).size(), 12u);  // magic and two zero counts
  m.files = {{"a", {7}}};
  m.narrow[setting::IncludedFileCount] = "2";  // a test of a disagreeing block
  Bytes block = serializeBlock(m);
  MemorySource src(block.data(), block.size());
  ConfigStore store;
  int64_t offset;
  ASSERT_EQ(parseConfigBlock(src, store, &offset), BlockError::None);
  EXPECT_EQ(store.narrow[setting::IncludedFileCount], "2");
  EXPECT_EQ(store.narrow[setting::IncludedFileNames], "a");
  // Packaging refuses such a model.
  EXPECT_NE(modelProblem(m), "");
  std::string error;
  Bytes copy;
  EXPECT_FALSE(makeLauncherCopy(sampleLauncher(), m, copy, error));
  EXPECT_NE(error.find("IncludedFileCount"), std::string::npos);
}

TEST(BlockWriter, IncludedFileNames) {
  struct Case {
    std::string name;
    const char* problem;  // part of the reason, or null when the name is fine
  };
  const Case cases[] = {
      {"app.jar", nullptr},
      {"con2.jar", nullptr},
      {"console.txt", nullptr},
      {"\xE9t\xE9.jar", nullptr},
      {".hidden", nullptr},
      {std::string(255, 'x'), nullptr},
      {"", "empty"},
      {"a;b", "';'"},
      {"lib/a.jar", "'/'"},
      {"lib\\a.jar", "'\\'"},
      {"c:a", "':'"},
      {"a*", "'*'"},
      {"a\tb", "control"},
      {"..", "ends with"},
      {"a.jar.", "ends with"},
      {"a ", "ends with"},
      {"CON", "device"},
      {"nul.txt", "device"},
      {"Com1.jar", "device"},
      {"lpt\xB9", "device"},
      {"aux .x", "device"},
      {std::string(256, 'x'), "255"},
  };
  for (const Case& c : cases) {
    std::string problem = includedFileNameProblem(c.name);
    if (!c.problem)
      EXPECT_EQ(problem, "") << c.name;
    else
      EXPECT_NE(problem.find(c.problem), std::string::npos) << c.name << ": " << problem;
  }
}

TEST(BlockWriter, RefusesNamesThatCollideOnWindows) {
  const std::pair<const char*, const char*> clashes[] = {
      {"App.jar", "app.JAR"}, {"\xC9.jar", "\xE9.jar"}, {"\x8A", "\x9A"}, {"\x9F", "\xFF"}};
  for (auto [a, b] : clashes) {
    BlockModel m;
    m.files = {{a, {}}, {b, {}}};
    EXPECT_NE(modelProblem(m).find("taken"), std::string::npos) << a << " " << b;
  }
  BlockModel distinct;
  distinct.files = {{"a.jar", {}}, {"b.jar", {}}, {"\xD7", {}}, {"\xF7", {}}};  // × and ÷ are no case pair
  EXPECT_EQ(modelProblem(distinct), "");
}

TEST(BlockWriter, RefusesNamesTheLauncherWouldCut) {
  // 32 names of 255 bytes joined by ';' fill the launcher's 8191 bytes exactly.
  BlockModel m;
  for (int i = 0; i < 32; ++i) m.files.push_back({std::string(253, 'n') + std::to_string(10 + i), {}});
  EXPECT_EQ(includedFileNamesText(m.files).size(), 8191u);
  EXPECT_EQ(modelProblem(m), "");
  m.files.push_back({"z", {}});
  EXPECT_NE(modelProblem(m).find("8191"), std::string::npos);
}

struct PeCase {
  const char* what;
  bool pe32plus;
  std::vector<test::Section> sections;
  size_t trailing;
  size_t end;  // where the block must start
};

TEST(BlockWriter, CutsTheLauncherAtTheEndOfItsLastSection) {
  const PeCase cases[] = {
      {"PE32, headers in file order", false, {{0x200, 0x200}, {0x400, 0x200}, {0x600, 0x80}}, 0, 0x680},
      {"PE32, headers not in file order", false, {{0x600, 0x100}, {0x200, 0x200}, {0x400, 0x200}}, 0x33, 0x700},
      {"PE32+, last header not last in file", true, {{0x400, 0x400}, {0x800, 0x200}, {0x200, 0x200}}, 0x1000, 0xA00},
      {"PE32+, empty section placed furthest", true, {{0x200, 0x200}, {0x5000, 0}, {0x400, 0x10}}, 7, 0x410},
  };
  for (const PeCase& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes launcher = makePe(c.pe32plus, c.sections, c.trailing);
    ASSERT_EQ(launcher.size(), c.end + c.trailing);
    BlockModel m = sampleModel();
    Bytes copy;
    std::string error;
    ASSERT_TRUE(makeLauncherCopy(launcher, m, copy, error)) << error;
    EXPECT_TRUE(std::equal(launcher.begin(), launcher.begin() + c.end, copy.begin()));
    EXPECT_EQ(Bytes(copy.begin() + c.end, copy.end()), serializeBlock(m));
    // The launcher's own look-up finds the block there.
    MemorySource src(copy.data(), copy.size());
    ConfigStore store;
    int64_t offset;
    ASSERT_EQ(readConfigBlockFrom(src, store, &offset), BlockError::None);
    EXPECT_EQ(store.narrow[101], "demo");
    LauncherCopy back;
    ASSERT_TRUE(readLauncherCopy(copy, back, error)) << error;
    EXPECT_EQ(back.blockOffset, static_cast<int64_t>(c.end));
    EXPECT_EQ(back.machine, c.pe32plus ? kMachineAmd64 : kMachineI386);
  }
}

TEST(BlockWriter, RepackagingACopyReplacesItsBlock) {
  BlockModel first = sampleModel(), second;
  second.narrow[101] = "other";
  Bytes copy, again, direct;
  std::string error;
  ASSERT_TRUE(makeLauncherCopy(sampleLauncher(), first, copy, error));
  ASSERT_TRUE(makeLauncherCopy(copy, second, again, error));
  ASSERT_TRUE(makeLauncherCopy(sampleLauncher(), second, direct, error));
  EXPECT_EQ(again, direct);
}

// What a signing tool does to an image: the header's data directories (16, as
// a linker writes), the linker's checksum, then 8-byte alignment, a certificate
// table named by directory entry 4, and the checksum of the signed file.
Bytes withDirectories(Bytes image, bool pe32plus) {
  const size_t optional = 0x80 + 24, count = optional + (pe32plus ? 108 : 92);
  image[count] = 16;
  uint32_t sum = peChecksum(image.data(), image.size(), optional + 64);
  for (int i = 0; i < 4; ++i) image[optional + 64 + i] = static_cast<uint8_t>(sum >> (8 * i));
  return image;
}

Bytes signedImage(Bytes image, bool pe32plus, const Bytes& table) {
  const size_t optional = 0x80 + 24, entry = optional + (pe32plus ? 112 : 96) + 4 * 8;
  image.resize((image.size() + 7) / 8 * 8, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) image[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(entry, static_cast<uint32_t>(image.size()));
  put32(entry + 4, static_cast<uint32_t>(table.size()));
  image.insert(image.end(), table.begin(), table.end());
  put32(optional + 64, 0x12345);
  return image;
}

// WIN_CERTIFICATE: length, revision 2.0, type 2 (PKCS#7), then not a signature.
Bytes certificateTable() {
  Bytes table = {24, 0, 0, 0, 0, 2, 2, 0};
  table.resize(24, 0x30);
  return table;
}

TEST(BlockWriter, PackagingOverASignedLauncherRemovesTheSignatureWhole) {
  for (bool pe32plus : {false, true}) {
    SCOPED_TRACE(pe32plus ? "PE32+" : "PE32");
    const Bytes launcher = withDirectories(sampleLauncher(pe32plus), pe32plus);
    Bytes packaged, direct, copy;
    std::string error;
    ASSERT_TRUE(makeLauncherCopy(launcher, sampleModel(), packaged, error)) << error;
    ASSERT_TRUE(makeLauncherCopy(launcher, BlockModel(), direct, error)) << error;
    // A signed launcher and a signed copy both package to what the unsigned
    // launcher gives: no table, a zero entry, the linker's checksum again.
    for (const Bytes& signedOne :
         {signedImage(launcher, pe32plus, certificateTable()), signedImage(packaged, pe32plus, certificateTable())}) {
      ASSERT_TRUE(makeLauncherCopy(signedOne, BlockModel(), copy, error)) << error;
      EXPECT_EQ(copy, direct);
      MemorySource src(copy.data(), copy.size());
      PeInfo pe;
      ASSERT_TRUE(readPeInfo(src, &pe));
      EXPECT_EQ(pe.certificateOffset, 0u);
      EXPECT_EQ(pe.certificateSize, 0u);
    }
    // Version information written over a signed launcher drops the signature too.
    const Bytes signedOne = signedImage(launcher, pe32plus, certificateTable());
    std::vector<Resource> resources;
    ASSERT_TRUE(readImageResources(signedOne.data(), signedOne.size(), resources, error)) << error;
    Bytes withSection;
    ASSERT_TRUE(withResourceSection(signedOne.data(), signedOne.size(), resources, withSection, error)) << error;
    ASSERT_TRUE(makeLauncherCopy(withSection, BlockModel(), copy, error)) << error;
    MemorySource src(copy.data(), copy.size());
    PeInfo pe;
    ASSERT_TRUE(readPeInfo(src, &pe));
    EXPECT_EQ(pe.certificateSize, 0u);
  }
  // A table the cut would not remove is refused, not left behind.
  Bytes inside = withDirectories(sampleLauncher(), true);
  inside[0x80 + 24 + 112 + 32 + 1] = 0x02;  // offset 0x200, in the first section
  inside[0x80 + 24 + 112 + 36] = 0x10;
  Bytes copy;
  std::string error;
  EXPECT_FALSE(makeLauncherCopy(inside, sampleModel(), copy, error));
  EXPECT_NE(error.find("certificate table (offset 512) lies inside its sections"), std::string::npos) << error;
}

TEST(BlockWriter, ReadingASignedCopyStopsAtItsCertificateTable) {
  const Bytes launcher = withDirectories(sampleLauncher(), true);
  BlockModel model = sampleModel();
  Bytes packaged;
  std::string error;
  ASSERT_TRUE(makeLauncherCopy(launcher, model, packaged, error)) << error;
  const Bytes table = certificateTable();
  Bytes signedCopy = signedImage(packaged, true, table);
  LauncherCopy back;
  ASSERT_TRUE(readLauncherCopy(signedCopy, back, error)) << error;
  EXPECT_EQ(back.certificateOffset, static_cast<int64_t>((packaged.size() + 7) / 8 * 8));
  EXPECT_EQ(back.certificateSize, static_cast<int64_t>(table.size()));
  EXPECT_EQ(back.dataLimit, back.certificateOffset);
  EXPECT_EQ(back.signer, "(the signature is no readable PKCS#7 SignedData)");
  ASSERT_EQ(back.model.files.size(), model.files.size());
  EXPECT_EQ(back.model.files[1].content, model.files[1].content);

  // A last file that claims more than lies before the table (but less than
  // the table holds): refused, never filled with the signature's bytes.
  Bytes claims = packaged;
  claims[claims.size() - 4] = 50;  // the empty file's size record
  Bytes bigTable = certificateTable();
  bigTable.resize(200, 0x30);
  bigTable[0] = 200;
  EXPECT_FALSE(readLauncherCopy(signedImage(claims, true, bigTable), back, error));
  EXPECT_NE(error.find("left in the executable"), std::string::npos) << error;
  model.narrow[124] = std::string(16, 'x');
  Bytes longRecord;
  ASSERT_TRUE(makeLauncherCopy(launcher, model, longRecord, error));
  longRecord.resize(0x600 + 40);  // inside the records, before the table
  // Zeros behind would read as empty records: the launcher must stop at the table.
  Bytes signedLong = signedImage(longRecord, true, Bytes(200, 0));
  MemorySource src(signedLong.data(), signedLong.size());
  ConfigStore store;
  int64_t offset, limit;
  EXPECT_EQ(readConfigBlockFrom(src, store, &offset, &limit), BlockError::ReadString);
  EXPECT_EQ(limit, static_cast<int64_t>(longRecord.size()));
}

TEST(BlockWriter, RefusesLaunchersThatAreNoUsableImage) {
  Bytes cut = sampleLauncher();
  cut.resize(0x500);  // the last section ends at 0x600
  Bytes noPe = sampleLauncher();
  noPe[0x81] = 'X';
  const std::pair<Bytes, const char*> cases[] = {
      {test::bytesOf("just text, no MZ header at all"), "not a Windows executable"},
      {noPe, "not a Windows executable"},
      {Bytes(), "not a Windows executable"},
      {cut, "cut short"},
  };
  for (const auto& [launcher, message] : cases) {
    Bytes copy;
    std::string error;
    EXPECT_FALSE(makeLauncherCopy(launcher, sampleModel(), copy, error));
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
}

TEST(BlockWriter, FailedWritesLeaveEverythingAsItWas) {
  ScratchDir dir;
  const Bytes old = test::bytesOf("the earlier executable");
  test::writeFile(dir / "out.exe", old);
  std::filesystem::create_directory(dir / "adir");
  struct Case {
    const char* what;
    Bytes launcher;
    std::filesystem::path output;
  };
  const Case cases[] = {
      {"output in a missing directory", sampleLauncher(), dir / "missing" / "out.exe"},
      {"launcher that is not a PE image", test::bytesOf("MZ but nothing more"), dir / "out.exe"},
      {"output is a directory", sampleLauncher(), dir / "adir"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(writeLauncherCopy(c.launcher, sampleModel(), c.output, error)) << c.what;
    EXPECT_NE(error, "") << c.what;
    EXPECT_EQ(test::readFile(dir / "out.exe"), old) << c.what;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"adir", "out.exe"})) << c.what;
    EXPECT_TRUE(std::filesystem::is_empty(dir / "adir")) << c.what;
  }
  // A successful write replaces the earlier file and leaves no temporary file.
  std::string error;
  ASSERT_TRUE(writeLauncherCopy(sampleLauncher(), sampleModel(), dir / "out.exe", error)) << error;
  Bytes expected;
  ASSERT_TRUE(makeLauncherCopy(sampleLauncher(), sampleModel(), expected, error));
  EXPECT_EQ(test::readFile(dir / "out.exe"), expected);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"adir", "out.exe"}));
}

// The file is written piece by piece: the pieces must join to the files as the
// launcher reads them, and to the image built in memory, also for files that span
// several pieces.
TEST(BlockWriter, StreamedCopyEqualsTheImageInMemory) {
  ScratchDir dir;
  for (size_t size : {size_t{65535}, size_t{65536}, size_t{3 * 65536 + 7}}) {
    BlockModel model = sampleModel();
    Bytes big(size);
    for (size_t i = 0; i < size; ++i) big[i] = static_cast<uint8_t>(i * 131 + (i >> 16));
    model.files.insert(model.files.begin() + 1, IncludedFile{"big.bin", big});
    std::string error;
    ASSERT_TRUE(writeLauncherCopy(sampleLauncher(), model, dir / "out.exe", error)) << error;
    Bytes expected;
    ASSERT_TRUE(makeLauncherCopy(sampleLauncher(), model, expected, error));
    const Bytes written = test::readFile(dir / "out.exe");
    EXPECT_EQ(written, expected) << size;
    LauncherCopy copy;
    ASSERT_TRUE(readLauncherCopy(written, copy, error)) << error;
    ASSERT_EQ(copy.model.files.size(), model.files.size());
    for (size_t i = 0; i < model.files.size(); ++i) {
      EXPECT_EQ(copy.model.files[i].name, model.files[i].name);
      EXPECT_EQ(copy.model.files[i].content, model.files[i].content) << size << " " << model.files[i].name;
    }
    EXPECT_EQ(copy.dataEnd, copy.fileSize);
  }
}

// Files that refer to their source are read while the copy is written: the same
// bytes as a model holding the content; a source that changes size in between
// fails the write and leaves the earlier output as it was.
TEST(BlockWriter, FilesAreStreamedFromTheirSources) {
  ScratchDir dir;
  Bytes big(2 * 65536 + 3);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7 + 1);
  BlockModel held = sampleModel();
  held.files.push_back(IncludedFile("big.bin", big));
  Bytes expected;
  std::string error;
  ASSERT_TRUE(makeLauncherCopy(sampleLauncher(), held, expected, error)) << error;

  struct Case {
    const char* what;
    Bytes changedTo;  // what the source holds when the copy is written
    bool removed;
    std::string errorEnd;  // empty: the write succeeds
  };
  Bytes shorter(big.begin(), big.end() - 1), longer = big;
  longer.push_back(0);
  const Case cases[] = {
      {"unchanged", big, false, ""},
      {"shorter", shorter, false, "became shorter while it was packaged"},
      {"longer", longer, false, "grew while it was packaged"},
      {"removed", {}, true, "cannot read " + pathText(dir / "big.bin")},
  };
  const Bytes old = test::bytesOf("the earlier executable");
  for (const Case& c : cases) {
    test::writeFile(dir / "out.exe", old);
    test::writeFile(dir / "big.bin", big);
    BlockModel model = sampleModel();
    IncludedFile file;
    ASSERT_TRUE(includedFileFrom(dir / "big.bin", "big.bin", file, error)) << error;
    EXPECT_EQ(includedFileSize(file), big.size());
    model.files.push_back(file);
    if (c.removed)
      std::filesystem::remove(dir / "big.bin");
    else
      test::writeFile(dir / "big.bin", c.changedTo);
    error.clear();
    bool ok = writeLauncherCopy(sampleLauncher(), model, dir / "out.exe", error);
    EXPECT_EQ(ok, c.errorEnd.empty()) << c.what;
    if (ok) {
      EXPECT_EQ(test::readFile(dir / "out.exe"), expected) << c.what;
    } else {
      EXPECT_TRUE(error.ends_with(c.errorEnd)) << c.what << ": " << error;
      EXPECT_EQ(test::readFile(dir / "out.exe"), old) << c.what;
    }
    std::vector<std::string> left = dir.entries();
    EXPECT_EQ(std::count_if(left.begin(), left.end(), [](const std::string& n) { return n.ends_with(".tmp"); }), 0)
        << c.what;
  }
  // A directory or a missing path is refused when the model is made.
  IncludedFile refused;
  EXPECT_FALSE(includedFileFrom(dir.path(), "d", refused, error));
  EXPECT_TRUE(error.starts_with("not a regular file: ")) << error;
  EXPECT_FALSE(includedFileFrom(dir / "missing", "m", refused, error));
  EXPECT_TRUE(error.starts_with("not found: ")) << error;
}

// A launcher image followed by `tail`, for blocks built by hand.
Bytes withTail(const Bytes& tail) {
  Bytes image = sampleLauncher();
  image.insert(image.end(), tail.begin(), tail.end());
  return image;
}

TEST(BlockWriter, ReadingRefusesDamagedCopies) {
  Bytes block = serializeBlock(sampleModel());
  MemorySource src(block.data(), block.size());
  ConfigStore store;
  int64_t dataOffset;
  ASSERT_EQ(parseConfigBlock(src, store, &dataOffset), BlockError::None);
  auto cutAt = [&](size_t n) { return withTail(Bytes(block.begin(), block.begin() + static_cast<ptrdiff_t>(n))); };
  const std::pair<Bytes, const char*> cases[] = {
      {test::bytesOf("not an executable"), "not a Windows executable"},
      {sampleLauncher(), "nothing follows the last section"},
      {withTail(test::bytesOf("\xD5\x13\xE4\xE9rest")), "magic number"},
      {cutAt(2), "readInt"},
      {cutAt(6), "readInt"},
      {cutAt(26), "readString"},  // inside "demo", behind the empty record -7
      {cutAt(dataOffset - 2), "readWString"},
      {cutAt(dataOffset + 2), "ends before its size"},
      {cutAt(dataOffset + 5), "3 bytes announced, 1 left"},
  };
  for (const auto& [image, message] : cases) {
    LauncherCopy copy;
    std::string error;
    EXPECT_FALSE(readLauncherCopy(image, copy, error)) << message;
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
}

TEST(BlockWriter, ReadsFilesAsTheLauncherExtractsThem) {
  struct Case {
    const char* count;
    const char* names;
    std::vector<int32_t> sizes;  // as stored; content bytes follow positive sizes
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"2", "a;b;c", {1, 1, 1}, {"a", "b"}},
      {"3", "a;b", {1, 1}, {"a", "b"}},
      {"2", ";a;;b;", {2, 1}, {"a", "b"}},
      {"3", "a;b;c", {0, -5, 1}, {"a", "b", "c"}},  // no content bytes behind sizes <= 0
      {"0", "a", {1}, {}},
      {"x", "a", {1}, {}},
  };
  for (const Case& c : cases) {
    BlockModel m;
    m.narrow = {{setting::IncludedFileCount, c.count}, {setting::IncludedFileNames, c.names}};
    Bytes tail = serializeBlock(m);
    for (int32_t size : c.sizes) {
      for (int i = 0; i < 4; ++i) tail.push_back(static_cast<uint8_t>(static_cast<uint32_t>(size) >> (8 * i)));
      for (int32_t i = 0; i < size; ++i) tail.push_back(static_cast<uint8_t>('0' + i) ^ kContentMask);
    }
    LauncherCopy copy;
    std::string error;
    ASSERT_TRUE(readLauncherCopy(withTail(tail), copy, error)) << c.names << ": " << error;
    std::vector<std::string> names;
    for (const IncludedFile& f : copy.model.files) names.push_back(f.name);
    EXPECT_EQ(names, c.expected) << c.names;
    for (size_t i = 0; i < copy.model.files.size(); ++i)
      EXPECT_EQ(copy.model.files[i].content.size(), static_cast<size_t>(std::max(0, c.sizes[i]))) << c.names;
  }
}

}  // namespace
}  // namespace zanto

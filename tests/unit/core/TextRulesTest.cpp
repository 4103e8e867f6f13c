// Path text rules, command-line rules and the bounded text helpers.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "FileTrustRules.h"
#include "PathText.h"
#include "TextBuffer.h"

namespace zanto {
namespace {

TEST(PathTextTest, RelativeOrAbsolute) {
  struct Case {
    const char* path;
    bool relative;
  } cases[] = {{"ab", true},          {"c:\\x", false},   {"\\\\srv\\share", false}, {"\\dir", true},
               {"c:dir", true},       {"\"c:\\x", false}, {"\"\\\\srv", false},      {"\"ab", true},
               {"/usr", true},        {"", true},         {"c:", true},             {"lib\\a.jar", true}};
  for (const Case& c : cases) EXPECT_EQ(isRelativePath(c.path), c.relative) << c.path;
}

TEST(PathTextTest, OnlyAbsolutePathEntriesAreSearched) {
  struct Case {
    const char* path;
    std::vector<std::string> entries;
  } const cases[] = {
      {"c:\\jdk\\bin;;.;bin;\\\\srv\\java\\bin\\", {"c:\\jdk\\bin", "\\\\srv\\java\\bin"}},
      {"\"c:\\program files\\java\\bin\";c:\\", {"c:\\program files\\java\\bin", "c:\\"}},
      // Unexpanded, drive-relative, rooted without a drive, a stray quote: looked up
      // from the current directory, or nowhere sure.
      {"%JAVA_HOME%\\bin;c:jdk\\bin;\\jdk\\bin;\"c:\\a;c:\\b\"", {}},
      {"", {}},
      {"c:\\a\\\\;c:\\b", {"c:\\a", "c:\\b"}},
  };
  for (const Case& c : cases) EXPECT_EQ(absolutePathEntries(c.path), c.entries) << c.path;
}

// Who owns a file and whom its access list lets change it decide whether a
// privileged service may read its configuration from it.
TEST(FileTrustTest, OwnerAndEntriesDecide) {
  const std::string self = "S-1-5-21-1-2-3-1000", everyone = "S-1-1-0", users = "S-1-5-32-545";
  const std::vector<std::string> trusted = {kSidSystem, kSidAdministrators, kSidTrustedInstaller, self};
  constexpr uint32_t kRead = 0x120089, kWrite = 0x0002, kAppend = 0x0004, kDelete = 0x00010000,
                     kWriteDac = 0x00040000, kOwner = 0x00080000, kGenericAll = 0x10000000,
                     kGenericWrite = 0x40000000, kDeleteChild = 0x0040, kAttributes = 0x0100;
  struct Case {
    const char* what;
    SecurityView view;
    bool trusted;
    std::string principal;
  } const cases[] = {
      {"owner and SYSTEM only", {self, true, {{true, false, kSidSystem, kGenericAll}, {true, false, self, 0x1F01FF}}},
       true, ""},
      {"everyone may read", {kSidAdministrators, true, {{true, false, everyone, kRead}}}, true, ""},
      {"everyone may write", {self, true, {{true, false, everyone, kRead | kWrite}}}, false, everyone},
      {"users may append", {self, true, {{true, false, users, kAppend}}}, false, users},
      {"users may delete", {self, true, {{true, false, users, kDelete}}}, false, users},
      {"users may delete children", {self, true, {{true, false, users, kDeleteChild}}}, false, users},
      {"users may change the permissions", {self, true, {{true, false, users, kWriteDac}}}, false, users},
      {"users may take ownership", {self, true, {{true, false, users, kOwner}}}, false, users},
      {"generic write", {self, true, {{true, false, users, kGenericWrite}}}, false, users},
      {"generic all", {self, true, {{true, false, users, kGenericAll}}}, false, users},
      {"attributes only", {self, true, {{true, false, users, kRead | kAttributes}}}, true, ""},
      {"owned by another user", {"S-1-5-21-1-2-3-1001", true, {}}, false, "S-1-5-21-1-2-3-1001"},
      {"owner unknown", {"", true, {}}, false, ""},
      {"a null access list", {self, false, {}}, false, ""},
      {"denied first", {self, true, {{false, false, everyone, kWrite}, {true, false, everyone, kRead | kWrite}}},
       true, ""},
      {"denied after: too late",
       {self, true, {{true, false, everyone, kRead | kWrite}, {false, false, everyone, kWrite}}}, false, everyone},
      {"a deny of another right", {self, true, {{false, false, users, kAppend}, {true, false, users, kWrite}}}, false,
       users},
      {"inherit-only: for children", {self, true, {{true, true, "S-1-3-0", kGenericAll}}}, true, ""},
  };
  for (const Case& c : cases) {
    TrustVerdict verdict = evaluateTrust(c.view, trusted);
    EXPECT_EQ(verdict.trusted, c.trusted) << c.what;
    if (!c.trusted) {
      EXPECT_EQ(verdict.principal, c.principal) << c.what;
    }
  }
  EXPECT_EQ(principalName(everyone), "Everyone (S-1-1-0)");
}

TEST(PathTextTest, BackslashRuns) {
  struct Case {
    const char16_t* in;
    const char16_t* out;
  } cases[] = {{u"\\\\server\\\\share", u"\\\\server\\share"},
               {u"c:\\\\a\\\\\\b", u"c:\\a\\b"},
               {u"\\\\\\x", u"\\\\x"},
               {u"", u""},
               {u"a\\", u"a\\"}};
  for (const Case& c : cases) {
    std::u16string s(c.in);
    s.push_back(0);
    collapseBackslashRuns(s.data());
    EXPECT_EQ(std::u16string(s.c_str()), c.out);
  }
}

TEST(PathTextTest, DriveRootsAndPlainNames) {
  for (const char* root : {"c:\\", "C:\\.", "d:\\.\\."}) EXPECT_TRUE(isDriveRootText(root)) << root;
  for (const char* other : {"c:", "c:\\x", "c:\\..", ""}) EXPECT_FALSE(isDriveRootText(other)) << other;
  for (const char* ok : {"app.jar", "a b.txt", ".hidden"}) EXPECT_TRUE(isPlainFileName(ok)) << ok;
  for (const char* bad : {"", ".", "..", "..\\x", "a/b", "c:x", "dir\\f"}) EXPECT_FALSE(isPlainFileName(bad)) << bad;
}

// A log folder or file a privileged service writes is used only where its final
// path is what its name says: a link or junction on the way shows as another path.
TEST(PathTextTest, FinalPathsMatchTheirNames) {
  struct Case {
    const char* named;
    const char* finalPath;
    bool same;
  } const cases[] = {
      {"C:\\app\\logs", "\\\\?\\C:\\app\\logs", true},
      {"c:\\APP\\Logs\\", "\\\\?\\C:\\app\\logs", true},
      {"C:\\", "\\\\?\\C:\\", true},
      {"\\\\srv\\share\\logs", "\\\\?\\UNC\\srv\\share\\logs", true},
      {"C:\\app\\logs", "C:\\app\\logs", true},
      // A junction or symbolic link: the handle's path is the target's.
      {"C:\\app\\logs", "\\\\?\\C:\\Windows\\System32", false},
      {"C:\\app\\logs", "\\\\?\\D:\\app\\logs", false},
      {"C:\\app\\logs", "\\\\?\\C:\\app\\logs2", false},
      {"C:\\app\\logs", "\\\\?\\C:\\app", false},
      {"C:\\app\\logs", "\\\\?\\UNC\\C:\\app\\logs", false},
      // Only ASCII letters fold: other case pairs are refused rather than guessed.
      {"C:\\app\\\xc4rger", "\\\\?\\C:\\app\\\xe4rger", false},
      {"", "", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(finalPathIsNamed(c.named, c.finalPath), c.same) << c.named << " / " << c.finalPath;

  struct Inside {
    const char* folder;
    const char* file;
    bool inside;
  } const inside[] = {
      {"\\\\?\\C:\\app\\logs", "\\\\?\\C:\\app\\logs\\out.0001.log", true},
      {"C:\\app\\logs\\", "\\\\?\\c:\\APP\\LOGS\\out.log", true},
      {"\\\\?\\C:\\", "\\\\?\\C:\\out.log", true},
      {"\\\\?\\UNC\\srv\\share\\logs", "\\\\?\\UNC\\srv\\share\\logs\\out.log", true},
      // A link inside the folder leads elsewhere; deeper, beside or a stream is no plain entry.
      {"\\\\?\\C:\\app\\logs", "\\\\?\\C:\\Windows\\System32\\config\\SAM", false},
      {"\\\\?\\C:\\app\\logs", "\\\\?\\C:\\app\\logs\\sub\\out.log", false},
      {"\\\\?\\C:\\app\\logs", "\\\\?\\C:\\app\\logs2\\out.log", false},
      {"\\\\?\\C:\\app\\logs", "\\\\?\\C:\\app\\out.log", false},
      {"\\\\?\\C:\\app\\logs", "\\\\?\\C:\\app\\logs\\out.log:hidden", false},
      {"\\\\?\\C:\\app\\logs", "\\\\?\\C:\\app\\logs\\", false},
      {"\\\\?\\C:\\app\\logs", "\\\\?\\C:\\app\\logs\\..", false},
      {"\\\\?\\C:\\app\\logs", "\\\\?\\C:\\app\\logs", false},
      {"", "\\\\?\\C:\\out.log", false},
  };
  for (const Inside& c : inside)
    EXPECT_EQ(finalPathIsDirectlyInside(c.folder, c.file), c.inside) << c.folder << " / " << c.file;
}

TEST(PathTextTest, EmptyListElementsDropped) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{"a;b;", "a;b"}, {";;a;;;b;;", "a;b"}, {";", ""}, {"", ""}, {"a", "a"}, {"a b;c", "a b;c"}};
  for (const Case& c : cases) {
    std::string s(c.in);
    dropEmptyListElements(s.data());
    EXPECT_STREQ(s.c_str(), c.out) << c.in;
  }
}

TEST(CommandLineTest, TailAfterTheProgramName) {
  struct Case {
    const char* line;
    const char* tail;
  } cases[] = {{"prog.exe /install", "/install"},
               {"  \"c:\\my dir\\p.exe\"\t  -start x", "-start x"},
               {"\"unterminated", ""},
               {"prog", ""},
               {"\"p.exe\"/stop", "/stop"}};
  for (const Case& c : cases) EXPECT_STREQ(commandTail(c.line), c.tail) << c.line;
}

TEST(CommandLineTest, WordsPrefixesAndServiceNames) {
  struct Case {
    const char* tail;
    bool isWord;
    const char* word;
    const char* service;
  } cases[] = {
      {"-start", true, "start", "cfg"},       {"--start", true, "start", "cfg"},
      {"/start", true, "start", "cfg"},       {"/-start", true, "start", "cfg"},
      {"start", false, "", "cfg"},            {"/Install", true, "Install", "cfg"},
      {"/install my service", true, "install", "my service"},
      {"/install ", true, "install", "cfg"},  {"/foo bar", true, "foo", "bar"},
      {"", false, "", "cfg"},
  };
  for (const Case& c : cases) {
    char word[64] = "", service[64] = "cfg";
    EXPECT_EQ(splitCommandWord(c.tail, word, service, sizeof word), c.isWord) << c.tail;
    EXPECT_STREQ(word, c.word) << c.tail;
    EXPECT_STREQ(service, c.service) << c.tail;
  }
  char word[4], service[4] = "";
  ASSERT_TRUE(splitCommandWord("/uninstall long name", word, service, sizeof word));
  EXPECT_STREQ(word, "uni") << "a word longer than its buffer is cut";
  EXPECT_STREQ(service, "lon");
}

TEST(TextBufferTest, CopiesAppendsAndFormatsAreCut) {
  char small[6];
  EXPECT_TRUE(copyText(small, sizeof small, "abc"));
  EXPECT_FALSE(appendText(small, sizeof small, "defg"));
  EXPECT_STREQ(small, "abcde");
  EXPECT_FALSE(formatText(small, sizeof small, "%s-%d", "xyz", 1234));
  EXPECT_STREQ(small, "xyz-1");
  EXPECT_TRUE(formatText(small, sizeof small, "%d", 42));
  EXPECT_STREQ(small, "42");
  char16_t wide[3];
  EXPECT_FALSE(copyWide(wide, 3, u"abcd"));
  EXPECT_EQ(std::u16string(wide), u"ab");
}

TEST(TextBufferTest, StreamOutputIsWrittenWholeBeyondTheBuffer) {
  for (size_t length : {8000u, 8191u, 8192u, 100000u}) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const std::string value(length, 'v');
    printTo(file, "<%s>%d", value.c_str(), 7);
    std::rewind(file);
    std::string back(length + 16, '\0');
    back.resize(std::fread(back.data(), 1, back.size(), file));
    std::fclose(file);
    EXPECT_EQ(back, "<" + value + ">7") << length;
  }
}

}  // namespace
}  // namespace zanto

// Path utilities against the real file system under Wine.
#include <gtest/gtest.h>

#include <cstring>

#include "Paths.h"
#include "WinTestSupport.h"

namespace zanto {
namespace {

TEST(Paths, ExecutablePathIsShortLowerCaseAndCached) {
  const char* path = getExecutablePath();
  ASSERT_GT(std::strlen(path), 4u);
  EXPECT_STREQ(path + std::strlen(path) - 4, ".exe");
  for (const char* p = path; *p; ++p) EXPECT_FALSE(*p >= 'A' && *p <= 'Z') << path;
  EXPECT_EQ(getExecutablePath(), path);
  const char* dir = getExecutableDirectory();
  EXPECT_EQ(std::strncmp(path, dir, std::strlen(dir)), 0);
  EXPECT_EQ(dir[std::strlen(dir) - 1], '\\');
}

TEST(Paths, ResolveKeepsDotsFullPathRemovesThem) {
  static char resolved[8192], full[8192], expected[8192];
  resolvePath(resolved, ".\\lib\\a.jar");
  std::strcpy(expected, getExecutableDirectory());
  std::strcat(expected, ".\\lib\\a.jar");
  EXPECT_STREQ(resolved, expected);
  getFullPath(full, ".\\lib\\a.jar", false);
  std::strcpy(expected, getExecutableDirectory());
  std::strcat(expected, "lib\\a.jar");
  EXPECT_STREQ(full, expected);
  resolvePath(resolved, "c:\\\\abs\\\\x");
  EXPECT_STREQ(resolved, "c:\\abs\\x");
  getFullPath(full, "C:\\Some\\Mixed\\CASE", true);
  EXPECT_STREQ(full, "C:\\Some\\Mixed\\CASE");
  getFullPath(full, "C:\\Some\\Mixed\\CASE", false);
  EXPECT_STREQ(full, "c:\\some\\mixed\\case");
}

TEST(Paths, PathListsResolveEachEntry) {
  static char out[8192];
  resolvePathList(out, "c:\\a;;rel;");
  std::string expected = std::string("c:\\a;") + getExecutableDirectory() + "rel";
  EXPECT_EQ(std::string(out), expected);
}

TEST(Paths, ExistenceRootsTrailingBackslashWildcards) {
  std::string dir = test::scratchDirectory("exists");
  test::writeFile(dir + "\\f.txt", "x");
  struct Case {
    std::string path;
    bool exists;
  } cases[] = {{"c:\\", true},           {"q:\\", true},           {dir, true},
               {dir + "\\", false},      {dir + "\\f.txt", true},  {dir + "\\*.txt", true},
               {dir + "\\none", false},  {dir + "\\*.jar", false}};
  for (const Case& c : cases) EXPECT_EQ(fileExists(c.path.c_str()), c.exists) << c.path;
  FILETIME t{};
  EXPECT_TRUE(findFile((dir + "\\f.txt").c_str(), &t));
  EXPECT_NE(t.dwHighDateTime, 0u);
  EXPECT_FALSE(findFile("c:\\", nullptr)) << "the root rule is fileExists' alone";
}

TEST(Paths, ListFilesWithOrWithoutTheDot) {
  std::string dir = test::scratchDirectory("list");
  for (const char* name : {"a.jar", "b.jar", "c.zip", "d.txt"}) test::writeFile(dir + "\\" + name, "x");
  std::vector<std::string> plain, dotted;
  EXPECT_EQ(listFiles(dir.c_str(), "jar", plain), 2u);
  EXPECT_EQ(listFiles(dir.c_str(), ".jar", dotted), 2u);
  EXPECT_EQ(plain, dotted);
  std::vector<std::string> none;
  EXPECT_EQ(listFiles((dir + "\\missing").c_str(), "jar", none), 0u);
}

TEST(Paths, LongPathOfShortAndMissingPaths) {
  std::string dir = test::scratchDirectory("Long Directory Name");
  char shortForm[MAX_PATH], longForm[8192];
  ASSERT_GT(GetShortPathNameA(dir.c_str(), shortForm, sizeof shortForm), 0u);
  DWORD n = getLongPath(shortForm, longForm, sizeof longForm);
  ASSERT_GT(n, 0u);
  EXPECT_NE(std::string(longForm).find("Long Directory Name"), std::string::npos) << longForm;
  EXPECT_EQ(getLongPath((dir + "\\missing").c_str(), longForm, sizeof longForm), 0u);
}

TEST(Paths, LossyConversionsLeaveThePathAlone) {
  char path[] = "C:\\ABC\\\\DEF";
  lowerCasePath(path);
  EXPECT_STREQ(path, "c:\\abc\\\\def");
  collapseBackslashes(path);
  EXPECT_STREQ(path, "c:\\abc\\def");
  wchar_t wide[] = L"c:\\\x4e2d\x6587";
  char narrow[64];
  EXPECT_FALSE(toNarrowPathLossless(wide, narrow, sizeof narrow)) << "CJK is not in code page 1252";
}

}  // namespace
}  // namespace zanto

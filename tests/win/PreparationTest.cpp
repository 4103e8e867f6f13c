// PATH prefix and working directory as the start-up preparation sets them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "Paths.h"
#include "Preparation.h"
#include "WinTestSupport.h"

namespace zanto {
namespace {

std::string systemPath() {
  static char value[40000];
  DWORD n = GetEnvironmentVariableA("PATH", value, sizeof value);
  return n ? std::string(value) : std::string();
}

class PathPrefix : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = systemPath(); }
  void TearDown() override {
    SetEnvironmentVariableA("PATH", saved_.c_str());
    _putenv_s("PATH", saved_.c_str());
  }
  std::string saved_;
};

TEST_F(PathPrefix, EntriesResolvedInFrontOfBothViews) {
  struct Case {
    const char* prefix;
    std::string front;
  } cases[] = {
      {"c:\\tools;rel\\bin", std::string("c:\\tools;") + getExecutableDirectory() + "rel\\bin;"},
      {"c:\\already;", "c:\\already;"},
      {";;c:\\x;;", "c:\\x;"},
  };
  for (const Case& c : cases) {
    SetEnvironmentVariableA("PATH", "c:\\windows");
    applyPathPrefix(c.prefix);
    EXPECT_EQ(systemPath(), c.front + "c:\\windows") << c.prefix;
    EXPECT_EQ(std::string(std::getenv("PATH")), c.front + "c:\\windows") << "the runtime's own view";
  }
  SetEnvironmentVariableA("PATH", "c:\\unchanged");
  applyPathPrefix("");
  EXPECT_EQ(systemPath(), "c:\\unchanged");
}

TEST_F(PathPrefix, ALongPathIsKeptBehindThePrefix) {
  std::string longPath;
  while (longPath.size() < 12000) longPath += "c:\\some\\long\\directory;";
  SetEnvironmentVariableA("PATH", longPath.c_str());
  applyPathPrefix("c:\\first");
  EXPECT_TRUE(systemPath() == "c:\\first;" + longPath) << "not cut to the prefix alone";
}

TEST(WorkingDirectory, FullPathMadeCurrentEmptyAndMissingIgnored) {
  char before[MAX_PATH];
  GetCurrentDirectoryA(sizeof before, before);
  std::string dir = test::scratchDirectory("WorkDir");
  applyWorkingDirectory("");
  char now[MAX_PATH];
  GetCurrentDirectoryA(sizeof now, now);
  EXPECT_STREQ(now, before);
  applyWorkingDirectory((dir + "\\.\\").c_str());
  GetCurrentDirectoryA(sizeof now, now);
  EXPECT_EQ(_stricmp(now, dir.c_str()), 0) << now;
  applyWorkingDirectory("c:\\no-such-working-directory");
  GetCurrentDirectoryA(sizeof now, now);
  EXPECT_EQ(_stricmp(now, dir.c_str()), 0) << "a failed change is ignored";
  // What zanto-pack writes by default: the executable's folder.
  applyWorkingDirectory(".");
  GetCurrentDirectoryA(sizeof now, now);
  EXPECT_EQ(_stricmp((std::string(now) + "\\").c_str(), getExecutableDirectory()), 0) << now;
  SetCurrentDirectoryA(before);
}

}  // namespace
}  // namespace zanto

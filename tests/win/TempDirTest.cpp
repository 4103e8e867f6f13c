// Temporary directory choice and names, with TMP pointed at unusable places.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ErrorReport.h"
#include "TempDir.h"
#include "WinTestSupport.h"

namespace zanto {
namespace {

class TempDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = GetEnvironmentVariableA("TMP", savedValue_, sizeof savedValue_) > 0;
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    windowsTemp_ = std::string(windows) + "\\temp";
    CreateDirectoryA(windowsTemp_.c_str(), nullptr);
  }
  void TearDown() override { SetEnvironmentVariableA("TMP", saved_ ? savedValue_ : nullptr); }
  std::string chosen() {
    static char out[8192];
    getTempDirectory(out);
    return out;
  }
  bool saved_ = false;
  char savedValue_[MAX_PATH];
  std::string windowsTemp_;
};

TEST_F(TempDirectory, SystemPathAsGivenWithoutATest) {
  std::string dir = test::scratchDirectory("Temp Dir With Blanks");
  char shortForm[MAX_PATH];
  ASSERT_GT(GetShortPathNameA(dir.c_str(), shortForm, sizeof shortForm), 0u);
  SetEnvironmentVariableA("TMP", shortForm);
  EXPECT_EQ(chosen(), std::string(shortForm) + "\\");
}

TEST_F(TempDirectory, UnwritableNamesAndMissingDirectoriesFallBack) {
  std::wstring wide;
  {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    wide = std::wstring(temp, temp + std::strlen(temp)) + L"zanto-\x4e2d\x6587";
  }
  CreateDirectoryW(wide.c_str(), nullptr);
  wchar_t shortName[MAX_PATH];
  DWORD n = GetShortPathNameW(wide.c_str(), shortName, MAX_PATH);
  ASSERT_GT(n, 0u);
  SetEnvironmentVariableW(L"TMP", shortName);
  EXPECT_EQ(chosen(), windowsTemp_) << "the long form holds characters 1252 cannot";

  SetEnvironmentVariableA("TMP", "c:\\no-such-zanto-dir");
  EXPECT_EQ(chosen(), windowsTemp_) << "a missing directory cannot receive files";
  RemoveDirectoryW(wide.c_str());
}

TEST_F(TempDirectory, LeftoverProbeIsRemoved) {
  std::string dir = test::scratchDirectory("probe");
  CreateDirectoryA((dir + "\\zto_w_testdir").c_str(), nullptr);
  EXPECT_TRUE(isWritableDirectory(dir.c_str()));
  EXPECT_FALSE(test::exists(dir + "\\zto_w_testdir"));
  EXPECT_FALSE(isWritableDirectory((dir + "\\missing").c_str()));
}

TEST_F(TempDirectory, TempFilesAndTheProcessFileName) {
  std::string dir = test::scratchDirectory("names");
  SetEnvironmentVariableA("TMP", dir.c_str());
  char file[8192];
  createTempFile(file);
  EXPECT_EQ(std::string(file).rfind(dir + "\\zto", 0), 0u) << file;
  EXPECT_TRUE(test::exists(file));
  getProcessTempFileName(file, 1234);
  EXPECT_EQ(std::string(file), dir + "\\zto_p1234.tmp");
}

TEST(ErrorText, OnlyTheFirstMarkerIsReplacedAndTheTextIsCut) {
  struct Case {
    const char* text;
    const char* marker;
    const char* replacement;
    const char* result;
  } cases[] = {
      {"The %ENV_VAR_NAME% and %ENV_VAR_NAME%", "%ENV_VAR_NAME%", "JAVA_HOME", "The JAVA_HOME and %ENV_VAR_NAME%"},
      {"code %ERROR_CODE%.", "%ERROR_CODE%", "16", "code 16."},
      {"no marker", "%FILE_NAME%", "x", "no marker"},
      {"%DEFINED_PATH%", "%DEFINED_PATH%", "", ""},
  };
  for (const Case& c : cases) {
    static char text[8192];
    std::strcpy(text, c.text);
    replaceFirstMarker(text, c.marker, c.replacement);
    EXPECT_STREQ(text, c.result);
  }
  static char text[8192];
  std::strcpy(text, "%FILE_NAME%!");
  std::string huge(9000, 'h');
  replaceFirstMarker(text, "%FILE_NAME%", huge.c_str());
  EXPECT_EQ(std::strlen(text), 8191u) << "a replacement longer than the buffer is cut";
}

}  // namespace
}  // namespace zanto

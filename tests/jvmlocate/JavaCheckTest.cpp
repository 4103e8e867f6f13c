// The check of one Java executable: version limits and beta markers by source,
// the HKCU version cache, the quoted -version child and its 60-second limit,
// RequireJdk and the windowed kind's javaw.exe. Stand-in runtimes under Wine.
#include <cstring>

#include "ConfigBlock.h"
#include "JavaCheck.h"
#include "JvmLocateSupport.h"
#include "Settings.h"

namespace zanto::jvmtest {
namespace {

using CheckTest = JvmLocateTest;

struct VersionCase {
  const char* output;  // the stand-in's standard error
  int exitCode;
  const char* min;
  const char* max;
  bool allowBeta;
  bool allowBetaSetting;
  bool accepted;
  const char* version;  // what the version buffer holds afterwards
};

TEST_F(CheckTest, VersionsAgainstLimitsAndBetaMarkers) {
  const VersionCase cases[] = {
      {"java version \"1.4.2_06\"\n", 0, "1.4", "", false, false, true, "1.4.2_06"},
      {"java version \"1.5.0_06\"\n", 0, "1.4", "1.5", false, false, true, "1.5.0_06"},
      {"java version \"1.5.0\"\n", 0, "", "1.4", false, false, false, "1.5.0"},
      {"java version \"1.10.0\"\n", 0, "1.4", "", false, false, false, "1.10.0"},
      {"java version \"1.7.0-ea\"\n", 0, "1.4", "", false, false, false, "1.7.0-ea"},
      {"java version \"1.7.0-ea\"\n", 0, "1.4", "", true, false, true, "1.7.0-ea"},
      {"java version \"1.7.0-ea\"\n", 0, "1.4", "", false, true, true, "1.7.0-ea"},
      {"java version \"1.6.0-rc\"\n", 0, "", "", false, false, false, "1.6.0-rc"},
      {"java version \"1.8.0_202\"\r\nJava(TM) SE Runtime Environment\r\n", 0, "1.8", "1.8", false,
       false, true, "1.8.0_202"},
      {"openjdk version \"11.0.2\" 2019-01-15\n", 0, "", "", false, false, false, ""},
      {"java version \"1.8.0_202\"\n", 1, "", "", false, false, false, ""},
      {"java version \"\n", 0, "", "", false, false, false, ""},
      {"java version \"1\n", 0, "", "", false, false, false, ""},
  };
  int row = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "row " << row << ": " << c.output);
    configStore().narrow[setting::AllowBetaJava] = c.allowBetaSetting ? "1" : "0";
    JavaHome home(dir_ / (L"v" + std::to_wstring(row++)));
    std::wstring java = home.addJava();
    home.setVersionOutput(L"bin", c.output, c.exitCode);
    char exe[kTextBufferSize], version[kVersionBufferSize] = "junk";
    std::strcpy(exe, narrow(java).c_str());
    markLog();
    EXPECT_EQ(checkJavaExe(exe, version, c.min, c.max, c.allowBeta), c.accepted);
    EXPECT_STREQ(version, c.version);
    EXPECT_EQ(exe, fullLow(java));
    auto log = newLog();
    // The verdict is logged on every path, also without a version.
    EXPECT_EQ(log.back(), std::string("checkJavaExe returning ") + (c.accepted ? "1" : "0"));
    if (!*c.version) {
      EXPECT_TRUE(contains(log, "couldn't get version"));
    }
    EXPECT_TRUE(contains(log, "Exit Code " + std::to_string(c.exitCode)));
  }
}

TEST_F(CheckTest, CacheIsKeyedByLastWriteTimeAndSparesTheChild) {
  JavaHome home(dir_ / L"java home");  // a blank, for the quoting
  std::wstring java = home.addJava();
  home.setVersionOutput(L"bin", "java version \"1.6.0_45\"\n");
  char exe[kTextBufferSize], version[kVersionBufferSize];
  auto check = [&] {
    std::strcpy(exe, narrow(java).c_str());
    markLog();
    return checkJavaExe(exe, version, "1.6", "", false);
  };

  ASSERT_TRUE(check());
  EXPECT_EQ(newLog(), (std::vector<std::string>{
                          "checkJavaExe (" + narrow(java) + ", [out], 1.6, , 0)", "file exists",
                          "Exit Code 0", "Java version: 1.6.0_45",
                          "got version from execution 1.6.0_45", "checkJavaExe returning 1"}));
  std::string cached;
  std::vector<uint8_t> stamp;
  ASSERT_TRUE(readVersionCache(java, &cached, &stamp));
  // Written without a terminator; the registry may add one (Windows does when a
  // NUL follows the data), so the reader must not rely on either.
  EXPECT_STREQ(cached.c_str(), "1.6.0_45");
  FILETIME now = lastWriteTime(java);
  ASSERT_EQ(stamp.size(), 8u);
  EXPECT_EQ(std::memcmp(stamp.data(), &now, 8), 0);
  // The child's command line quotes the executable; its error stream is a file.
  ASSERT_EQ(home.javaCalls().size(), 1u);
  const std::string call = home.javaCalls()[0];
  EXPECT_EQ(call.front(), '"') << call;
  EXPECT_EQ(call.substr(call.size() - 10), "\" -version") << call;
  EXPECT_EQ(home.javaCallDetails()[0].substr(0, 22), "flags=0x101 show=0 std");
  EXPECT_NE(home.javaCallDetails()[0].find("stderr=disk"), std::string::npos);

  for (int again = 0; again < 3; ++again) {
    ASSERT_TRUE(check());
    EXPECT_EQ(newLog(), (std::vector<std::string>{
                            "checkJavaExe (" + narrow(java) + ", [out], 1.6, , 0)", "file exists",
                            "got version from registry 1.6.0_45", "checkJavaExe returning 1"}));
  }
  EXPECT_EQ(home.javaCalls().size(), 1u);

  ASSERT_TRUE(touchFile(java));
  home.setVersionOutput(L"bin", "java version \"1.5.0_22\"\n");
  EXPECT_FALSE(check());
  EXPECT_TRUE(contains(newLog(), "got version from execution 1.5.0_22"));
  EXPECT_EQ(home.javaCalls().size(), 2u);
  ASSERT_TRUE(readVersionCache(java, &cached, &stamp));
  EXPECT_STREQ(cached.c_str(), "1.5.0_22");
}

TEST_F(CheckTest, DamagedCacheEntriesAreMeasuredAgain) {
  JavaHome home(dir_ / L"damaged");
  std::wstring java = home.addJava();
  char exe[kTextBufferSize], version[kVersionBufferSize];
  std::strcpy(exe, narrow(java).c_str());
  ASSERT_TRUE(checkJavaExe(exe, version, "", "", false));
  // A stamp of the wrong length, then an empty version: neither is trusted.
  HKEY key;
  ASSERT_EQ(
      RegOpenKeyExW(HKEY_CURRENT_USER, versionCacheKey(java).c_str(), 0, KEY_ALL_ACCESS, &key),
      ERROR_SUCCESS);
  FILETIME now = lastWriteTime(java);
  RegSetValueExW(key, L"LastWriteTime", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&now), 4);
  std::strcpy(exe, narrow(java).c_str());
  markLog();
  ASSERT_TRUE(checkJavaExe(exe, version, "", "", false));
  EXPECT_TRUE(contains(newLog(), "got version from execution 1.8.0_202"));
  RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), 0);
  std::strcpy(exe, narrow(java).c_str());
  markLog();
  ASSERT_TRUE(checkJavaExe(exe, version, "", "", false));
  EXPECT_TRUE(contains(newLog(), "got version from execution 1.8.0_202"));
  RegCloseKey(key);
  EXPECT_EQ(home.javaCalls().size(), 3u);
}

TEST_F(CheckTest, HangingJavaIsEndedAfterSixtySeconds) {
  JavaHome home(dir_ / L"hang");
  std::wstring java = home.addJava();
  home.setJavaControl(L"bin", "stderr=java version \"1.8.0_1\"\\n\nhang=1\n");
  char exe[kTextBufferSize], version[kVersionBufferSize];
  std::strcpy(exe, narrow(java).c_str());
  EXPECT_FALSE(checkJavaExe(exe, version, "", "", false));
  EXPECT_TRUE(containsInOrder(
      newLog(), {"file exists", "Exit Code 259", "Terminating process", "couldn't get version",
                 "checkJavaExe returning 0"}));
  EXPECT_STREQ(version, "");
  EXPECT_FALSE(readVersionCache(java, nullptr, nullptr));
}

// The version run gets its output file and nothing else: an inheritable pipe of the
// launcher (the output capture's, say) does not reach the child.
TEST_F(CheckTest, TheVersionRunInheritsOnlyItsOutputFile) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  ASSERT_TRUE(CreatePipe(&read, &write, &inheritable, 0));
  JavaHome home(dir_ / L"handles");
  std::wstring java = home.addJava();
  home.setJavaControl(L"bin", "probe_handle=" + std::to_string(reinterpret_cast<INT_PTR>(write)) + "\n");
  char exe[kTextBufferSize], version[kVersionBufferSize];
  std::strcpy(exe, narrow(java).c_str());
  EXPECT_TRUE(checkJavaExe(exe, version, "", "", false));
  CloseHandle(read);
  CloseHandle(write);
  EXPECT_STREQ(version, "1.8.0_202") << "the output file is inherited";
  EXPECT_EQ(readLines(home.path(L"bin\\standin-java-probe.log")), std::vector<std::string>{"none"});
}

TEST_F(CheckTest, JavaExeFromHomeLayouts) {
  // javac: bin\javac.exe, the mark of a Java 9+ JDK; numeric: the numeric rule on.
  struct Case {
    bool jre, bin, tools, javac, numeric, requireJdk;
    bool qualifies;
    const wchar_t* exe;
  } cases[] = {
      {true, true, false, false, false, false, true, L"jre\\bin\\java.exe"},
      {false, true, false, false, false, false, true, L"bin\\java.exe"},
      {false, false, false, false, false, false, true, L"bin\\java.exe"},
      {true, true, false, false, false, true, false, L"jre\\bin\\java.exe"},
      {false, true, true, false, false, true, true, L"jre\\bin\\java.exe"},
      {true, true, true, false, false, true, true, L"jre\\bin\\java.exe"},
      // A Java 17 JDK: a JDK only under the numeric rule.
      {false, true, false, true, false, true, false, L"jre\\bin\\java.exe"},
      {false, true, false, true, true, true, true, L"bin\\java.exe"},
      {false, true, false, false, true, true, false, L"jre\\bin\\java.exe"},
      // A JDK 8 stays in its jre form under the numeric rule too.
      {true, true, true, true, true, true, true, L"jre\\bin\\java.exe"},
  };
  int row = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(row);
    configStore().narrow[setting::RequireJdk] = c.requireJdk ? "1" : "0";
    configStore().narrow[setting::NumericVersionCheck] = c.numeric ? "1" : "0";
    JavaHome home(dir_ / (L"layout" + std::to_wstring(row++)));
    if (c.jre) home.addJre();
    if (c.bin) home.addJava();
    if (c.tools) home.addToolsJar();
    if (c.javac) writeFile(home.path(L"bin\\javac.exe"), "MZ");
    char exe[kTextBufferSize];
    EXPECT_EQ(javaExeFromHome(exe, narrow(home.root()).c_str()), c.qualifies);
    EXPECT_EQ(std::string(exe), narrow(home.path(c.exe)));
  }
  // A home with neither executable passes, and the check then finds no file.
  configStore().narrow[setting::RequireJdk] = "0";
  configStore().narrow[setting::NumericVersionCheck] = "0";
  char exe[kTextBufferSize], version[kVersionBufferSize];
  std::strcpy(exe, narrow(dir_ / L"layout2\\bin\\java.exe").c_str());
  markLog();
  EXPECT_FALSE(checkJavaExe(exe, version, "", "", false));
  auto log = newLog();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "file doesn't exist");
  EXPECT_EQ(log.back(), "checkJavaExe returning 0");
}

TEST_F(CheckTest, VersionRunThatCannotStartSaysWhy) {
  // A java.exe that is no program: the child cannot be created.
  JavaHome home(dir_ / L"noprogram");
  home.addFile(L"bin\\java.exe", "not a program");
  char exe[kTextBufferSize], version[kVersionBufferSize];
  std::strcpy(exe, narrow(home.path(L"bin\\java.exe")).c_str());
  markLog();
  EXPECT_FALSE(checkJavaExe(exe, version, "", "", false));
  auto log = newLog();
  bool named = false;
  for (const auto& line : log)
    if (line.rfind("ERROR: version run failed: CreateProcess (error ", 0) == 0 && line != "ERROR: version run failed: CreateProcess (error 0)")
      named = true;
  EXPECT_TRUE(named) << ::testing::PrintToString(log);
  EXPECT_TRUE(containsInOrder(log, {"couldn't get version", "checkJavaExe returning 0"}));
}

TEST_F(CheckTest, WindowedKindHandsOnJavaw) {
  configStore().narrow[setting::ExecutableType] = "1";
  JavaHome with(dir_ / L"with"), without(dir_ / L"without");
  std::wstring java = with.addJava();
  std::wstring bare = without.addJava(L"bin", false);
  char exe[kTextBufferSize], version[kVersionBufferSize];
  std::strcpy(exe, narrow(java).c_str());
  markLog();
  EXPECT_TRUE(checkJavaExe(exe, version, "", "", false));
  EXPECT_EQ(exe, fullLow(with.path(L"bin\\javaw.exe")));
  EXPECT_FALSE(contains(newLog(), "checkJavaExe returning 1"));
  std::strcpy(exe, narrow(bare).c_str());
  EXPECT_FALSE(checkJavaExe(exe, version, "", "", false));
  // Out of range: the java.exe path stays and the verdict is logged.
  std::strcpy(exe, narrow(java).c_str());
  markLog();
  EXPECT_FALSE(checkJavaExe(exe, version, "9", "", false));
  EXPECT_EQ(exe, fullLow(java));
  EXPECT_EQ(newLog().back(), "checkJavaExe returning 0");
}

}  // namespace
}  // namespace zanto::jvmtest

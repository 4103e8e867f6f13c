// launchProgram against the strict stand-in jvm.dll (not a JVM): what reaches
// JNI_CreateJavaVM and main, the first-run hook, the failure paths and the log
// lines. One JVM per process, so every case runs in a child (gtest death test).
#include "LaunchTestSupport.h"
// After windows.h: jni_md.h relies on its calling-convention keywords.
#include <jni.h>

#include <algorithm>
#include <cstdlib>

#include "JavaVMLauncher.h"
#include "JvmEntry.h"

using namespace zanto;
using namespace zanto::test;

namespace {

void JNICALL exitHook(jint status) { ExitProcess(40 + static_cast<UINT>(status)); }

class JvmLaunchTest : public LaunchTest {
 protected:
  void SetUp() override {
    LaunchTest::SetUp();
    ASSERT_TRUE(copyFile(standinDirectory() + L"\\jvm.dll", widen(path("vm\\jvm.dll"))));
    writeClassFile(widen(path("classes")), kLauncherClass);
    createDirectories(widen(path("tmp")));
    set(setting::ClassPath, "D1" + path("classes"));
  }
  void control(const std::string& ini) { writeFile(widen(path("vm\\standin-jvm.ini")), ini); }
  StandinRecord record() const { return StandinRecord::read(widen(path("vm\\standin-jvm-record.txt"))); }

  // In the child: logging into <dir>\tmp, the stand-in as the JVM, then the launch;
  // exit code 0 when it succeeded, 1 when it returned false.
  [[noreturn]] void launch(const std::vector<std::wstring>& args, bool destroy = false, bool hook = false,
                           bool shutdown = false) {
    _putenv(("TMP=" + path("tmp")).c_str());
    _putenv("ZANTO_LOG=yes");
    HMODULE jvm = LoadLibraryA(path("vm\\jvm.dll").c_str());
    if (!jvm) ExitProcess(101);
    createJavaVmEntry =
        reinterpret_cast<CreateJavaVmFunction>(reinterpret_cast<void*>(GetProcAddress(jvm, "JNI_CreateJavaVM")));
    bool ok = launchProgram(args, destroy, hook ? &exitHook : nullptr) == LaunchResult::Started;
    if (ok && shutdown) shutdownJvm();
    ExitProcess(ok ? 0 : 1);
  }

  // The log the child wrote, without its header line (the only vmr* file: Wine
  // keeps three letters of a _tempnam prefix).
  std::vector<std::string> logLines() const {
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(path("tmp\\vmr*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return {"no log"};
    FindClose(h);
    auto lines = readLines(widen(path("tmp\\") + data.cFileName));
    if (!lines.empty()) lines.erase(lines.begin());
    return lines;
  }
  // True when `expected` appear in the log in this order (other lines between).
  ::testing::AssertionResult logHasInOrder(const std::vector<std::string>& expected) const {
    auto lines = logLines();
    size_t at = 0;
    for (const auto& line : lines)
      if (at < expected.size() && line == expected[at]) ++at;
    if (at == expected.size()) return ::testing::AssertionSuccess();
    std::string all;
    for (const auto& l : lines) all += "  " + l + "\n";
    return ::testing::AssertionFailure() << "missing \"" << expected[at] << "\" in:\n" << all;
  }
};

TEST_F(JvmLaunchTest, OptionsAndArgumentsReachTheJvmInOrder) {
  writeVmOptions(false, "-Xvmopt\n");
  set(setting::VmParameters, "-Xparam '-Dp=a b'");
  set(setting::PassVmArguments, "1");
  set(setting::ProcessCommFile, "1");
  set(setting::Arguments, "conf1 'conf 2'");
  EXPECT_EXIT(launch({L"svc", L"-J-Xjarg", L"app\u4e2d"}), ::testing::ExitedWithCode(0), "");
  auto r = record();
  const std::string tmp = path("tmp") + "\\zto";
  auto o = r.options();
  ASSERT_EQ(o.size(), 8u) << r.lines.size();
  EXPECT_EQ(o[0], std::string("-Dzanto.moduleName=") + getExecutablePath());
  EXPECT_EQ(o[1].rfind("-Dzanto.processCommFile=" + tmp, 0), 0u) << o[1];
  EXPECT_NE(o[1].find("_dir\\zto_p"), std::string::npos) << "in a private directory: " << o[1];
  EXPECT_EQ(o[1].substr(o[1].size() - 4), ".tmp");
  EXPECT_EQ(std::vector<std::string>(o.begin() + 2, o.end()),
            (std::vector<std::string>{"-Dzanto.tempDir=", "-Xvmopt", "-Djava.class.path=" + path("classes"),
                                      "-Xparam", "-Dp=a b", "-Xjarg"}));
  EXPECT_TRUE(r.has("create version=0x00010002 ignoreUnrecognized=1 nOptions=8"));
  EXPECT_EQ(r.mainArguments(), (std::vector<std::string>{"false", "com.example.App", "", "", "false", "svc", "conf1",
                                                         "conf 2", "app\xe4\xb8\xad"}));
  EXPECT_EQ(r.count("warning"), 0u);
  EXPECT_TRUE(logHasInOrder({"launching program", "vmoption count 8",
                             std::string("vmoption 0: -Dzanto.moduleName=") + getExecutablePath(),
                             "vmoption 7: -Xjarg", "Creating JVM", "JVM created",
                             "main class: com/zanto/runtime/WinLauncher", "param count: 9", "param 0: false",
                             "param 1: com.example.App", "param 8: app?", "calling main", "main returned",
                             "launch done"}));
}

// .vmoptions lines the JVM drops or refuses reach it as written, and the log says
// what to write instead.
TEST_F(JvmLaunchTest, VmOptionsLinesTheJvmDropsOrRefusesAreLogged) {
  writeVmOptions(false, "-cp lib\\a.jar\n-Xvmopt\n-Djava.ext.dirs=x\n");
  set(setting::MinJavaVersion, "11");
  EXPECT_EXIT(launch({L"svc"}), ::testing::ExitedWithCode(0), "");
  auto o = record().options();
  for (const char* line : {"-cp lib\\a.jar", "-Xvmopt", "-Djava.ext.dirs=x"})
    EXPECT_NE(std::find(o.begin(), o.end(), line), o.end()) << line;
  EXPECT_TRUE(
      logHasInOrder({"warning: .vmoptions line \"-cp lib\\a.jar\": only the java command understands it; the "
                     "JVM ignores it: list the entries in ClassPath",
                     "warning: .vmoptions line \"-Djava.ext.dirs=x\": Java 9 and later refuse it and create no "
                     "JVM: put the jars on ClassPath",
                     "launch done"}));
  auto lines = logLines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("warning:", 0) == 0; }),
            2);
}

// A large application: 300 listed entries, a scanned folder of 1,200 jars, a long
// CLASSPATH-like variable and long VmParameters (well over 100 KB in all) reach the
// JVM whole and are logged whole.
TEST_F(JvmLaunchTest, LargeClassPathAndOptionsReachTheJvmAndTheLogWhole) {
  std::string list = "D1" + path("classes");
  std::string expected = path("classes");
  for (int i = 0; i < 300; ++i) {
    const std::string jar = path("listed\\application-library-number-" + std::to_string(i) + ".jar");
    list += ";A0" + jar;
    expected += ";" + jar;
  }
  for (int i = 0; i < 1200; ++i)
    ASSERT_TRUE(writeFile(widen(path("scan\\scanned-module-library-" + std::to_string(i) + ".jar")), "jar"));
  list += ";S1" + path("scan");
  WIN32_FIND_DATAA found;  // the order the file system enumerates them in
  HANDLE h = FindFirstFileA(path("scan\\*.jar").c_str(), &found);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  do expected += ";" + path("scan\\") + found.cFileName;
  while (FindNextFileA(h, &found));
  FindClose(h);
  const std::string variable(20000, 'e');
  SetEnvironmentVariableA("JL_LONG", variable.c_str());
  list += ";E0JL_LONG";
  expected += ";" + variable;
  set(setting::ClassPath, list);
  const std::string parameter = "-Dlong=" + std::string(20000, 'p');
  set(setting::VmParameters, "-Xfirst " + parameter);
  ASSERT_GT(expected.size(), 100000u);

  EXPECT_EXIT(launch({L"svc"}), ::testing::ExitedWithCode(0), "");
  auto o = record().options();
  ASSERT_EQ(o.size(), 5u);
  EXPECT_TRUE(o[2] == "-Djava.class.path=" + expected) << o[2].size() << " bytes, expected " << expected.size() + 18;
  EXPECT_EQ(o[4], parameter);
  EXPECT_TRUE(logHasInOrder({"vmoption 2: -Djava.class.path=" + expected, "vmoption 4: " + parameter}));
}

TEST_F(JvmLaunchTest, ExitHookOptionReachesTheJvm) {
  control("main=exit\nmain_exit_code=2\n");
  EXPECT_EXIT(launch({}, false, true), ::testing::ExitedWithCode(42), "");
  auto r = record();
  ASSERT_FALSE(r.options().empty());
  EXPECT_EQ(r.options().back(), "exit");
  EXPECT_TRUE(r.has("option 3 [exit] extraInfo"));
  EXPECT_TRUE(r.has("exit 2 application"));
}

TEST_F(JvmLaunchTest, DestroyAfterMainAndShutdown) {
  EXPECT_EXIT(launch({}, true), ::testing::ExitedWithCode(0), "");
  EXPECT_TRUE(record().has("DestroyJavaVM"));
  EXPECT_TRUE(logHasInOrder({"main returned", "dest JVM", "launch done"}));

  removeTree(widen(path("tmp")));
  createDirectories(widen(path("tmp")));
  DeleteFileW(widen(path("vm\\standin-jvm-record.txt")).c_str());
  EXPECT_EXIT(launch({}, false, false, true), ::testing::ExitedWithCode(0), "");
  auto r = record();
  EXPECT_TRUE(r.has("call [java/lang/System] [exit] 0"));
  EXPECT_FALSE(r.has("DestroyJavaVM"));
}

struct FirstRunCase {
  const char* name;
  bool marker;
  const char* control;
  int exitCode;
  bool mainCalled;
  bool firstRunCalled;
  const char* stderrText;
};

class FirstRunTest : public JvmLaunchTest, public ::testing::WithParamInterface<FirstRunCase> {};

// The velmora flavour: FirstRun comes from the runtime archive below InstallRoot,
// so its presence on the class path is part of the check.
TEST_P(FirstRunTest, Outcome) {
  const FirstRunCase& c = GetParam();
  flavour("i");
  set(setting::InstallRoot, path("Install"));
  writeJar(widen(path("install\\.velmora\\vmrruntime.jar")), {kFirstRunClass});
  if (c.marker) writeFirstRunMarker(widen(path("Install")));
  control(c.control);
  EXPECT_EXIT(launch({L"svc"}), ::testing::ExitedWithCode(c.exitCode), literal(c.stderrText));
  auto r = record();
  EXPECT_EQ(r.options()[0], "-Dzanto.isVelmora=true");
  EXPECT_EQ(r.find("call [com/velmora/runtime/FirstRun]") >= 0, c.firstRunCalled);
  EXPECT_EQ(r.find("call [com/zanto/runtime/WinLauncher]") >= 0, c.mainCalled);
  if (c.firstRunCalled && !c.mainCalled && c.exitCode == 1) {
    EXPECT_TRUE(logHasInOrder({"checkFirstRun stopped further execution", "ERROR: could not call main"}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FirstRunTest,
    ::testing::Values(FirstRunCase{"no_marker", false, "first_run=false\n", 0, true, false, ""},
                      FirstRunCase{"returns_true", true, "first_run=true\n", 0, true, true, ""},
                      // A start that firstRun stops is a failed start, and the report says why.
                      FirstRunCase{"returns_false", true, "first_run=false\n", 1, false, true,
                                   "The first-run step stopped the start: FirstRun.firstRun returned false.\n"},
                      FirstRunCase{"throws", true, "first_run=throw\n", 1, false, true,
                                   "The first-run step failed: FirstRun.firstRun threw an exception.\n"},
                      FirstRunCase{"class_missing", true, "missing_class=com/velmora/runtime/FirstRun\n", 1, false,
                                   false, "internal error 14\n"},
                      FirstRunCase{"method_missing", true, "missing_method=firstRun\n", 1, false, false,
                                   "internal error 15\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct FailureCase {
  const char* name;
  const char* control;
  int exitCode;
  const char* stderrText;
  std::vector<std::string> logLines;
  const char* arguments = "";  // Arguments setting
};

class LaunchFailureTest : public JvmLaunchTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(LaunchFailureTest, Outcome) {
  const FailureCase& c = GetParam();
  control(c.control);
  if (*c.arguments) set(setting::Arguments, c.arguments);
  EXPECT_EXIT(launch({L"svc", L"a", L"b"}), ::testing::ExitedWithCode(c.exitCode), literal(c.stderrText));
  EXPECT_TRUE(logHasInOrder(c.logLines));
}

INSTANTIATE_TEST_SUITE_P(
    Table, LaunchFailureTest,
    ::testing::Values(
        FailureCase{"main_class_missing", "missing_class=com/zanto/runtime/WinLauncher\n", 1, "no main class\n",
                    {"JVM created", "ERROR: could not find main class"}},
        // The class is looked up before main's arguments are built.
        FailureCase{"main_class_missing_before_bad_arguments", "missing_class=com/zanto/runtime/WinLauncher\n", 1,
                    "no main class\n", {"main class: com/zanto/runtime/WinLauncher", "ERROR: could not find main class"},
                    "it's"},
        FailureCase{"bad_arguments_after_lookup", "", 1, "unmatched quote", {"main class: com/zanto/runtime/WinLauncher"},
                    "it's"},
        FailureCase{"main_method_missing", "missing_method=main\n", 1, "no main method\n",
                    {"ERROR: could not find main method"}},
        FailureCase{"main_throws", "main=throw\n", 1, "",
                    {"calling main", "main returned", "ERROR: an exception occured", "ERROR: could not call main"}},
        FailureCase{"create_fails", "create_result=-1\n", 1, "jvm start failed\n",
                    {"Creating JVM", "ERROR: could not initialize JVM"}},
        FailureCase{"no_object_array", "null_object_array=1\n", 1, "internal error 21\n", {"param count: 8"}},
        FailureCase{"no_string", "null_string_at=3\n", 1, "internal error 21\n", {"param 2: ", "param 3: "}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

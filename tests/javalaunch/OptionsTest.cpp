// The JVM options, class path, system properties and main arguments as the launch
// assembles them, checked in process (no JVM); fatal outcomes run in a child.
#include <cstdlib>
#include <cstring>

#include "ClassPath.h"
#include "JavaVMLauncher.h"
#include "LaunchText.h"
#include "LaunchTestSupport.h"
#include "Paths.h"
#include "QueueEntryRules.h"
#include "TempDir.h"

using namespace zanto;
using namespace zanto::test;

namespace {

std::vector<std::string> options(const std::vector<std::wstring>& args = {}) {
  std::vector<std::string> out;
  buildVmOptionList(out, args);
  return out;
}

std::string classPathOption() {
  for (const auto& o : options())
    if (o.rfind("-Djava.class.path=", 0) == 0) return o;
  return "none";
}

std::vector<std::string> utf8(const std::vector<std::u16string>& list) {
  std::vector<std::string> out;
  for (const auto& s : list) out.push_back(narrow(std::wstring(s.begin(), s.end())));
  return out;
}

using OptionsTest = LaunchTest;

TEST_F(OptionsTest, VmOptionsLinesFollowTheLineRules) {
  writeVmOptions(false,
                 "   -Xmx256m   \r\n"
                 "   # a comment\n"
                 "\n"
                 "    \n"
                 "-Dname=a b\n"
                 "-Dx=1#2\n"
                 "\t-Dtab \n"
                 "-Dnot=%ZANTO_EXEDIR%'\"\n"
                 "-Dlast");
  auto o = options();
  ASSERT_EQ(o.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(o.begin(), o.begin() + 6),
            (std::vector<std::string>{"-Xmx256m", "-Dname=a b", "-Dx=1#2", "\t-Dtab", "-Dnot=%ZANTO_EXEDIR%'\"",
                                      "-Dlast"}));
  EXPECT_EQ(o[6], "-Djava.class.path=");
}

TEST_F(OptionsTest, VmOptionsFileChoice) {
  struct Case {
    bool plain, withExe;
    std::vector<std::string> expected;
  };
  for (const Case& c : {Case{true, true, {"-Dfrom=plain"}}, Case{false, true, {"-Dfrom=exe"}},
                        Case{true, false, {"-Dfrom=plain"}}, Case{false, false, {}}}) {
    removeVmOptions();
    if (c.plain) writeVmOptions(false, "-Dfrom=plain\n");
    if (c.withExe) writeVmOptions(true, "-Dfrom=exe\n");
    auto o = options();
    o.pop_back();  // the class path option
    EXPECT_EQ(o, c.expected) << c.plain << c.withExe;
  }
}

TEST_F(OptionsTest, VmOptionsLineOfFullReadLengthIsKeptLongerIsRefused) {
  writeVmOptions(false, "-D" + std::string(8189, 'x') + "\n-Dnext\n");
  auto o = options();
  ASSERT_EQ(o.size(), 3u);
  EXPECT_EQ(o[0].size(), 8191u);
  EXPECT_EQ(o[1], "-Dnext");
  writeVmOptions(false, "-D" + std::string(8190, 'x') + "\n");
  EXPECT_EXIT(options(), ::testing::ExitedWithCode(1), "internal error 31");
}

struct ClassPathCase {
  const char* name;
  const char* flavour;
  bool extracted;
  const char* classPath;  // {dir}: the scratch directory
  const char* expected;   // {exe}: executable directory, {dir}, {root}: InstallRoot lower case
};

class ClassPathTest : public LaunchTest, public ::testing::WithParamInterface<ClassPathCase> {};

TEST_P(ClassPathTest, Assembles) {
  const ClassPathCase& c = GetParam();
  writeFile(widen(path("lib\\a.jar")), "jar");
  writeFile(widen(path("scan\\b.jar")), "jar");
  writeFile(widen(path("scan\\c.zip")), "zip");
  writeFile(widen(path("scan\\d.txt")), "txt");
  createDirectories(widen(path("empty")));
  writeFile(widen(path("x\\e.jar")), "jar");
  writeFile(widen(path("x\\f.zip")), "zip");
  SetEnvironmentVariableA("JL_QUOTED", "\"C:\\q d\\q.jar\"");
  SetEnvironmentVariableA("JL_ENDS", "C:\\e.jar;");
  SetEnvironmentVariableA("JL_DIR", root_.c_str());
  SetEnvironmentVariableA("JL_UNSET", nullptr);
  SetEnvironmentVariableA("JL_GAPS", ";C:\\g.jar;;C:\\h.jar;");
  SetEnvironmentVariableA("JL_SEP", ";");
  flavour(c.flavour);
  set(setting::InstallRoot, path("Install"));
  if (c.extracted) std::strcpy(extractionDirectory, path("x").c_str());
  set(setting::ClassPath, fill(c.classPath, {{"dir", root_}}));
  const std::string expected =
      "-Djava.class.path=" +
      fill(c.expected, {{"exe", getExecutableDirectory()}, {"dir", root_}, {"root", lower(path("install"))}});
  EXPECT_EQ(classPathOption(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ClassPathTest,
    ::testing::Values(
        ClassPathCase{"relative_archive", "", false, "A0.\\lib\\a.jar;", "{exe}.\\lib\\a.jar"},
        ClassPathCase{"missing_optional_kept", "", false, "A0{dir}\\none.jar;D0{dir}\\nodir",
                      "{dir}\\none.jar;{dir}\\nodir"},
        ClassPathCase{"required_found", "", false, "A1{dir}\\lib\\a.jar;D1{dir}\\lib", "{dir}\\lib\\a.jar;{dir}\\lib"},
        ClassPathCase{"backslashes_merged", "", false, "A0{dir}\\\\lib\\\\\\a.jar", "{dir}\\lib\\a.jar"},
        ClassPathCase{"scanned_jar_then_zip", "", false, "S1{dir}\\scan", "{dir}\\scan\\b.jar;{dir}\\scan\\c.zip"},
        ClassPathCase{"scanned_empty_or_missing", "", false, "S1{dir}\\empty;S0{dir}\\nowhere", ""},
        ClassPathCase{"environment", "", false, "E0JL_QUOTED;E1JL_ENDS;E0JL_UNSET",
                      "C:\\q d\\q.jar;C:\\e.jar"},
        // Empty elements would name the current directory.
        ClassPathCase{"no_empty_element", "", false, "E0JL_GAPS;E0JL_SEP", "C:\\g.jar;C:\\h.jar"},
        ClassPathCase{"expanded_entries", "", false, "A0%ZANTO_EXEDIR%lib\\y.jar;A0${JL_DIR}\\z.jar;E0${JL_NONE}",
                      "{exe}lib\\y.jar;{dir}\\z.jar"},
        ClassPathCase{"empty_short_unknown_skipped", "", false, ";;A;X1what;A0{dir}\\lib\\a.jar;;",
                      "{dir}\\lib\\a.jar"},
        ClassPathCase{"extracted_first_then_runtime", "i", true, "A0{dir}\\lib\\a.jar",
                      "{dir}\\x\\e.jar;{dir}\\x\\f.zip;{root}\\.velmora\\vmrruntime.jar;{dir}\\lib\\a.jar"},
        ClassPathCase{"runtime_only_for_velmora", "j", true, "", "{dir}\\x\\e.jar;{dir}\\x\\f.zip"}),
    [](const auto& info) { return std::string(info.param.name); });

struct FatalCase {
  const char* name;
  const char* classPath;  // {dir}
  const char* message;    // {dir}
};

class ClassPathFailureTest : public LaunchTest, public ::testing::WithParamInterface<FatalCase> {};

TEST_P(ClassPathFailureTest, StopsWithMessage) {
  const FatalCase& c = GetParam();
  SetEnvironmentVariableA("JL_DIR", root_.c_str());
  SetEnvironmentVariableA("JL_UNSET", nullptr);
  SetEnvironmentVariableA("JL_EMPTYISH", "");
  set(setting::ClassPath, fill(c.classPath, {{"dir", root_}}));
  EXPECT_EXIT(options(), ::testing::ExitedWithCode(1), literal(fill(c.message, {{"dir", root_}})));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ClassPathFailureTest,
    ::testing::Values(FatalCase{"archive", "A1${JL_DIR}\\gone.jar", "missing file: {dir}\\gone.jar\n"},
                      FatalCase{"relative_named_as_configured", "A1.\\gone.jar", "missing file: .\\gone.jar\n"},
                      FatalCase{"directory", "D1{dir}\\gone", "missing file: {dir}\\gone\n"},
                      FatalCase{"scanned", "S1{dir}\\gone", "missing file: {dir}\\gone\n"},
                      FatalCase{"environment", "E1JL_UNSET", "undefined variable: JL_UNSET\n"},
                      FatalCase{"later_entries_not_reached", "A1{dir}\\first.jar;E1JL_UNSET",
                                "missing file: {dir}\\first.jar\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OptionsTest, VmParametersExpandedAndSplit) {
  SetEnvironmentVariableA("JL_HEAP", "128m");
  set(setting::VmParameters, "-Xmx${JL_HEAP}  \"-Dq=a b\" '-Ds=\"c\" d' -Dexe=%ZANTO_EXEDIR% -Dv=\"x y\" -Dcaf\xe9");
  auto o = options();
  EXPECT_EQ(std::vector<std::string>(o.begin() + 1, o.end()),
            (std::vector<std::string>{"-Xmx128m", "-Dq=a b", "-Ds=\"c\" d",
                                      std::string("-Dexe=") + getExecutableDirectory(), "-Dv=x y", "-Dcaf\xe9"}));
  set(setting::VmParameters, "-Da it's");
  EXPECT_EXIT(options(), ::testing::ExitedWithCode(1), "unmatched quote");
}

TEST_F(OptionsTest, JArgumentsBecomeOptionsOnlyWithPassVmArguments) {
  const std::vector<std::wstring> args{L"-J-Xfirst", L"svc", L"-J-Xmx512m", L"-j-Xlower", L"app", L"-J"};
  struct Case {
    const char* pass;
    std::vector<std::string> extraOptions;
    std::vector<std::string> mainTail;
  };
  for (const Case& c : {Case{"1", {"-Xfirst", "-Xmx512m", ""}, {"-J-Xfirst", "x", "svc", "-j-Xlower", "app"}},
                        Case{"0", {}, {"-J-Xfirst", "x", "svc", "-J-Xmx512m", "-j-Xlower", "app", "-J"}}}) {
    set(setting::PassVmArguments, c.pass);
    set(setting::Arguments, "x");
    auto o = options(args);
    EXPECT_EQ(std::vector<std::string>(o.begin() + 1, o.end()), c.extraOptions) << c.pass;
    auto m = utf8(buildMainArguments(args));
    EXPECT_EQ(std::vector<std::string>(m.begin() + 5, m.end()), c.mainTail) << c.pass;
  }
}

// The comm file lies in a private directory of the launcher's own: the extraction
// directory, else one made for it below the temporary folder, never that folder.
TEST_F(OptionsTest, PropertiesByFlavourAndCommFileSetting) {
  char temp[MAX_PATH + 1];
  GetTempPathA(sizeof temp, temp);
  const std::string module = std::string("-Dzanto.moduleName=") + getExecutablePath();
  const std::string commName = "\\zto_p" + std::to_string(GetCurrentProcessId()) + ".tmp";
  struct Case {
    const char* flavour;
    const char* commFile;
    bool extracted;
    std::vector<std::string> expected;
  };
  for (const Case& c : {
           Case{"i", "1", true, {"-Dzanto.isVelmora=true", module, "{comm}", "-Dzanto.tempDir={x}"}},
           Case{"i", "0", false, {"-Dzanto.isVelmora=true", module, "-Dzanto.tempDir="}},
           Case{"j", "7", false, {module, "{comm}", "-Dzanto.tempDir="}},
           Case{"", "", true, {module, "-Dzanto.tempDir={x}"}},
       }) {
    flavour(c.flavour);
    set(setting::ProcessCommFile, c.commFile);
    std::strcpy(extractionDirectory, c.extracted ? path("x").c_str() : "");
    const std::string own = ownFilesDirectory();
    if (!c.extracted) {
      EXPECT_TRUE(checkQueueEntry(own.c_str(), temp, QueueEntryKind::Directory).accepted) << own;
      EXPECT_TRUE(GetFileAttributesA(own.c_str()) & FILE_ATTRIBUTE_DIRECTORY) << own;
    }
    std::vector<std::string> expected;
    for (const auto& e : c.expected)
      expected.push_back(fill(e, {{"x", path("x")}, {"comm", "-Dzanto.processCommFile=" + own + commName}}));
    EXPECT_EQ(buildSystemProperties(), expected) << c.flavour << c.commFile;
  }
}

TEST_F(OptionsTest, FiveLeadingArguments) {
  struct Case {
    const char* type;
    const char* redirectErr;
    const char* errFile;
    const char* redirectOut;
    const char* outFile;
    const char* append;
    std::vector<std::string> expected;  // {exe}, {dir}
  };
  for (const Case& c : {
           Case{"1", "1", "logs\\Err.TXT", "1", "{dir}\\Out.log", "1",
                {"true", "com.example.Caf\xc3\xa9", "{exe}logs\\Err.TXT", "{dir}\\Out.log", "true"}},
           Case{"0", "0", "err.txt", "1", "out\\\\o.txt", "0",
                {"false", "com.example.Caf\xc3\xa9", "", "{exe}out\\o.txt", "false"}},
           Case{"5", "", "", "0", "out.txt", "", {"false", "com.example.Caf\xc3\xa9", "", "", "false"}},
       }) {
    set(setting::MainClass, "com.example.Caf\xe9");
    set(setting::ExecutableType, c.type);
    set(setting::RedirectStderr, c.redirectErr);
    set(setting::StderrFile, fill(c.errFile, {{"dir", root_}}));
    set(setting::RedirectStdout, c.redirectOut);
    set(setting::StdoutFile, fill(c.outFile, {{"dir", root_}}));
    set(setting::RedirectAppend, c.append);
    std::vector<std::string> expected;
    for (const auto& e : c.expected) expected.push_back(fill(e, {{"exe", getExecutableDirectory()}, {"dir", root_}}));
    EXPECT_EQ(utf8(buildMainArguments({})), expected) << c.type;
  }
}

// What reaches Java as UTF-16 is read in the code page the block records; without
// the record in the machine's (1252 under Wine), whatever the texts were meant in.
TEST_F(OptionsTest, TextsAreReadInTheRecordedCodePage) {
  struct Case {
    const char* codePage;  // the CodePage record; null: none
    const char* mainClass;
    const char* arguments;
    const char* vmParameters;
    std::vector<std::string> expected;  // main class, the argument (UTF-8), the JVM option (ANSI)
  };
  const Case cases[] = {
      {nullptr, "app.M\xE4in\x80", "\x80uro", "-Dx=\xC3\xA9", {"app.M\xC3\xA4in\xE2\x82\xAC", "\xE2\x82\xACuro", "-Dx=\xC3\xA9"}},
      {"1252", "app.M\xE4in\x80", "\x80uro", "-Dx=\xE9", {"app.M\xC3\xA4in\xE2\x82\xAC", "\xE2\x82\xACuro", "-Dx=\xE9"}},
      {"1251", "app.M\xE4in\x80", "\x88uro \xCF", "-Dx=\xC0",
       {"app.M\xD0\xB4in\xD0\x82", "\xE2\x82\xACuro", "\xD0\x9F", "-Dx=?"}},
      {"65001", "app.\xE4\xB8\xAD", "\xF0\x9F\x98\x80", "-Dx=\xC3\xA9", {"app.\xE4\xB8\xAD", "\xF0\x9F\x98\x80", "-Dx=\xE9"}},
      {"99999", "app.M\xE4in", "a", "-Dx", {"app.M\xC3\xA4in", "a", "-Dx"}},  // unknown: the machine's
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage ? c.codePage : "no record");
    configStore().narrow.erase(setting::CodePage);
    if (c.codePage) set(setting::CodePage, c.codePage);
    set(setting::MainClass, c.mainClass);
    set(setting::Arguments, c.arguments);
    set(setting::VmParameters, c.vmParameters);
    auto m = utf8(buildMainArguments({}));
    std::vector<std::string> got{m[1]};
    got.insert(got.end(), m.begin() + 5, m.end());
    got.push_back(options().back());
    EXPECT_EQ(got, c.expected);
  }
}

// The narrow conversion of options: UTF-8 without a default character (Windows
// refuses one there), and ASCII kept whenever a conversion fails.
TEST_F(OptionsTest, NarrowConversionNeverLosesAnOption) {
  struct Case {
    unsigned codePage;
    const char16_t* text;
    const char* expected;
  };
  const Case cases[] = {
      {CP_UTF8, u"-Dcaf\u00e9=\u20ac\u4e2d", "-Dcaf\xC3\xA9=\xE2\x82\xAC\xE4\xB8\xAD"},
      {1252, u"-Dcaf\u00e9=\u4e2d", "-Dcaf\xE9=?"},
      {1251, u"-D\u0416=\u00e9", "-D\xC6=?"},
      {12345, u"-Xmx64m -D\u00e9", "-Xmx64m -D?"},  // no such code page: the call fails
      {CP_ACP, u"-Xss1m", "-Xss1m"},
  };
  for (const Case& c : cases) {
    std::u16string text(c.text);
    EXPECT_EQ(toNarrowText(text.data(), text.size(), c.codePage), c.expected) << c.codePage;
  }
}

TEST_F(OptionsTest, MainArgumentOrder) {
  SetEnvironmentVariableA("JL_WORD", "env word");
  set(setting::Arguments, "  'a b' ${JL_WORD} \"\" c\"d e\"  ");
  set(setting::PassVmArguments, "1");
  auto m = utf8(buildMainArguments({L"svc", L"one", L"-J-Xa", L"caf\u00e9 \u4e2d"}));
  EXPECT_EQ(std::vector<std::string>(m.begin() + 5, m.end()),
            (std::vector<std::string>{"svc", "a b", "env", "word", "", "cd e", "one", "caf\xc3\xa9 \xe4\xb8\xad"}));
  set(setting::Arguments, "it's a test");
  EXPECT_EXIT(buildMainArguments({}), ::testing::ExitedWithCode(1), "unmatched quote");
}

// Over-long inputs are refused whole with message 1009 and the documented code.
// The class path, the ClassPath list, VmParameters and "E" values grow instead.
struct TooLongCase {
  const char* name;
  int32_t id;
  // {big}: ${JL_BIG} (5000 characters); {huge}: 9000 characters inline; {pad}: as many as make
  // {big}{pad} fit 8192 bytes alone but not behind the executable's directory.
  const char* value;
  bool mainArguments;  // checked through main's arguments instead of the options
  int code;
};

class TooLongTest : public LaunchTest, public ::testing::WithParamInterface<TooLongCase> {};

TEST_P(TooLongTest, Refused) {
  const TooLongCase& c = GetParam();
  SetEnvironmentVariableA("JL_BIG", std::string(5000, 'b').c_str());
  SetEnvironmentVariableA("JL_HUGE", std::string(9000, 'h').c_str());
  set(c.id, fill(c.value, {{"big", "${JL_BIG}"}, {"huge", std::string(9000, 'x')}, {"pad", std::string(8191 - 5000 - std::strlen(getExecutableDirectory()) / 2, 'a')}}));
  EXPECT_EXIT(c.mainArguments ? (void)buildMainArguments({}) : (void)options(), ::testing::ExitedWithCode(1),
              "internal error " + std::to_string(c.code));
}

INSTANTIATE_TEST_SUITE_P(
    Table, TooLongTest,
    ::testing::Values(
        TooLongCase{"expanded_entry", setting::ClassPath, "A0{big}{big}", false, 31},
        // Fits after expansion (8150 bytes), not once joined to the executable directory.
        TooLongCase{"resolved_entry", setting::ClassPath, "A0{big}{pad}", false, 31},
        TooLongCase{"entry", setting::ClassPath, "A0{huge}", false, 31},
        TooLongCase{"arguments", setting::Arguments, "{big} {big}", true, 31},
        TooLongCase{"main_class", setting::MainClass, "{huge}", true, 31}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

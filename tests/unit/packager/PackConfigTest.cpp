// The TOML configuration and the build command: accepted values, and the table of
// errors, each of which must name the file and line and write nothing.
#include <array>
#include <functional>

#include "Pack.h"
#include "PackConfig.h"
#include "Resources.h"
#include "ParameterSplitter.h"
#include "Settings.h"
#include "TestSupport.h"
#include "Vocabulary.h"

namespace zanto {
namespace {

using test::ScratchDir;

TEST(PackConfig, ConvertsEachKindOfValue) {
  const char* text = R"(
[package]
arch = "x86"
runtime = false

[settings]
ApplicationName = "demo"
ExecutableType = 4
RedirectStderr = true
RedirectStdout = false
PassVmArguments = 7
ErrorCaption = "Fehler: Gr\u00F6\u00DFe \u20AC"
MinJavaVersion = ""
ServiceDescription = "D\u00E9mo \U0001F600"

[raw.narrow]
"108" = "0"
"-3" = "nul \u0000 inside"
"20017" = "narrow and wide ids are separate"

[raw.wide]
"20013" = "w"
"7" = [55296, 65]

[[include]]
source = "lib/app.jar"

[[include]]
source = "../other/x.bin"
name = "data.bin"
)";
  PackConfig config;
  std::string error;
  ASSERT_TRUE(parsePackConfig(text, "conf/demo.toml", config, error)) << error;
  EXPECT_EQ(config.arch, Arch::X86);
  EXPECT_FALSE(config.runtime);
  std::map<int32_t, std::string> narrow = {{101, "demo"},
                                           {107, "4"},
                                           {102, "1"},
                                           {104, "0"},
                                           {125, "7"},
                                           {1000,
                                            "Fehler: Gr\xF6\xDF"
                                            "e \x80"},
                                           {126, ""},
                                           {108, "0"},
                                           {-3, std::string("nul \0 inside", 12)},
                                           {20017, "narrow and wide ids are separate"}};
  EXPECT_EQ(config.narrow, narrow);
  std::map<int32_t, std::u16string> wide = {
      {20017, u"D\u00E9mo \U0001F600"}, {20013, u"w"}, {7, std::u16string{0xD800, u'A'}}};
  EXPECT_EQ(config.wide, wide);
  ASSERT_EQ(config.includes.size(), 2u);
  EXPECT_EQ(config.includes[0].source, std::filesystem::path("conf/lib/app.jar"));
  EXPECT_EQ(config.includes[0].name, "app.jar");
  EXPECT_EQ(config.includes[0].line, 25u);
  EXPECT_EQ(config.includes[1].source, std::filesystem::path("conf/../other/x.bin"));
  EXPECT_EQ(config.includes[1].name, "data.bin");
}

TEST(PackConfig, DefaultsAndLimits) {
  PackConfig config;
  std::string error;
  ASSERT_TRUE(parsePackConfig("", "empty.toml", config, error)) << error;
  EXPECT_FALSE(config.arch.has_value());
  EXPECT_TRUE(config.runtime);
  // The longest text the launcher reads into its buffer is accepted under
  // [settings]; any length is stored under [raw], and for the settings the launcher
  // reads whole (ClassPath, VmParameters).
  std::string longest(kTextBufferSize - 1, 'x');
  std::string text = "[settings]\nMainClass = \"" + longest + "\"\nClassPath = \"" + longest + longest +
                     "\"\nVmParameters = \"" + longest + "z\"\n[raw.narrow]\n\"5\" = \"" + longest + "yy\"\n";
  ASSERT_TRUE(parsePackConfig(text, "long.toml", config, error)) << error;
  EXPECT_EQ(config.narrow[122], longest);
  EXPECT_EQ(config.narrow[121].size(), 2 * longest.size());
  EXPECT_EQ(config.narrow[123].size(), kTextBufferSize);
  EXPECT_EQ(config.narrow[5].size(), kTextBufferSize + 1);
  text = "[settings]\nArguments = \"" + longest + "z\"\n";
  EXPECT_FALSE(parsePackConfig(text, "long.toml", config, error));
  EXPECT_NE(error.find("Arguments: the text is 8192 bytes long"), std::string::npos) << error;
  EXPECT_FALSE(config.version.has_value());
  // [version] texts: the limit counts UTF-16 units (a character outside the BMP takes two); beyond it they are refused.
  std::string limit(kVersionTextLimit - 2, 'c');
  ASSERT_TRUE(parsePackConfig("[version]\nversion = \"1.4\"\ncopyright = \"" + limit + "\U0001F600\"\n", "v.toml",
                              config, error))
      << error;
  EXPECT_EQ(config.version->copyright.size(), kVersionTextLimit);
  EXPECT_EQ(config.version->numbers[1], 4);
  EXPECT_FALSE(parsePackConfig("[version]\nversion = \"1.4\"\ncopyright = \"" + limit + "\U0001F600c\"\n", "v.toml",
                               config, error));
  EXPECT_NE(error.find("v.toml:3: copyright: the text is 1025 UTF-16 units long; at most 1024"), std::string::npos)
      << error;
}

TEST(PackConfig, RecoverySettingsByNameAtTheirLimits) {
  PackConfig config;
  std::string error;
  const char* text =
      "[settings]\nRestartOnFailure = true\nRestartDelayFirst = 0\nRestartDelaySecond = 4294967\n"
      "RestartDelayLater = 60\nFailureResetPeriod = 2147483647\nRestartOnNonCrashFailure = true\n"
      "DelayedAutoStart = false\n";
  ASSERT_TRUE(parsePackConfig(text, "recovery.toml", config, error)) << error;
  const std::map<int32_t, std::string> expected = {
      {30010, "1"}, {30011, "0"}, {30012, "4294967"}, {30013, "60"}, {30014, "2147483647"}, {30015, "1"}, {30016, "0"}};
  EXPECT_EQ(config.narrow, expected);
}

TEST(PackConfig, LogSettingsByName) {
  PackConfig config;
  std::string error;
  const char* text =
      "[settings]\nOutputLog = \"logs\\\\service.log\"\nErrorLog = \"%TEMP%\\\\err.log\"\nLogMode = "
      "\"roll-by-size\"\nLogSizeThreshold = \"10M\"\nLogKeepFiles = 9999\nConsoleLog = true\n";
  ASSERT_TRUE(parsePackConfig(text, "log.toml", config, error)) << error;
  const std::map<int32_t, std::string> expected = {{30050, "logs\\service.log"},
                                                   {30051, "%TEMP%\\err.log"},
                                                   {30052, "roll-by-size"},
                                                   {30053, "10M"},
                                                   {30054, "9999"},
                                                   {30055, "1"}};
  EXPECT_EQ(config.narrow, expected);
  ASSERT_TRUE(parsePackConfig("[settings]\nLogSizeThreshold = 4096\n", "log.toml", config, error)) << error;
  EXPECT_EQ(config.narrow[30053], "4096");
}

struct ErrorCase {
  const char* toml;
  unsigned line;
  const char* message;  // part of the error
};

const ErrorCase kErrors[] = {
    {"[settings]\nApplicationName = \"demo\n", 2, ""},                          // TOML syntax: unterminated string
    {"[settings]\nApplicationName = \"a\"\nApplicationName = \"b\"\n", 3, ""},  // TOML: key given twice
    {"[settings]\nApplicatonName = \"demo\"\n", 2, "unknown setting 'ApplicatonName'"},
    {"[settings]\nExecutableType = \"4\"\n", 2, "ExecutableType must be an integer, not a string"},
    {"[settings]\nExecutableType = true\n", 2, "must be an integer, not a boolean"},
    {"[settings]\nRequireJdk = 1.0\n", 2, "must be a boolean or an integer, not a floating-point number"},
    {"[settings]\nMainClass = 12\n", 2, "MainClass must be a string, not an integer"},
    {"[settings]\nServiceDescription = false\n", 2, "ServiceDescription must be a string"},
    {"[settings]\nExecutableType = 2147483648\n", 2, "out of the 32-bit integer range"},
    {"[settings]\nRestartDelayFirst = -1\n", 2, "RestartDelayFirst must be from 0 to 4294967, not -1"},
    {"[settings]\nRestartDelayLater = 4294968\n", 2, "must be from 0 to 4294967, not 4294968"},
    {"[settings]\nFailureResetPeriod = -5\n", 2, "FailureResetPeriod must be from 0 to 2147483647"},
    {"[settings]\nRestartOnFailure = \"yes\"\n", 2, "must be a boolean or an integer, not a string"},
    {"[settings]\nLogMode = \"daily\"\n", 2,
     "LogMode must be append, truncate, roll-by-size or roll-by-day, not \"daily\""},
    {"[settings]\nLogSizeThreshold = \"10MB\"\n", 2, "LogSizeThreshold must be a size from 1K to 1024G"},
    {"[settings]\nLogSizeThreshold = 100\n", 2, "LogSizeThreshold must be a size from 1K"},
    {"[settings]\nLogKeepFiles = 0\n", 2, "LogKeepFiles must be from 1 to 9999, not 0"},
    {"[settings]\nLogKeepFiles = 10000\n", 2, "must be from 1 to 9999, not 10000"},
    {"[settings]\n\nMainClass = \"a\\u0000b\"\n", 3, "NUL"},
    {"[settings]\nIncludedFileCount = 1\n", 2, "set by zanto-pack"},
    {"[settings]\nIncludedFileNames = \"a\"\n", 2, "set by zanto-pack"},
    {"[settings]\nErrorCaption = \"\\u0100\"\n", 2, "U+0100"},
    {"[raw.narrow]\n\"7\" = \"\xE4\xB8\xAD\"\n", 2, "cannot be written in code page 1252"},
    {"[raw.narrow]\nabc = \"x\"\n", 2, "raw id \"abc\" is not an integer id"},
    {"[raw.narrow]\n\"0108\" = \"x\"\n", 2, "not an integer id"},
    {"[raw.wide]\n\"1.5\" = \"x\"\n", 2, "not an integer id"},
    {"[raw.narrow]\n\"4294967397\" = \"x\"\n", 2, "not an integer id"},
    {"[raw.narrow]\n\"2002\" = \"1\"\n", 2, "set by zanto-pack"},
    {"[raw.narrow]\n\"7\" = 1\n", 2, "must be a string"},
    {"[raw.wide]\n\"7\" = [1, 65536]\n", 2, "UTF-16 units"},
    {"[version]\nversion = \"1\"\n", 2, "version \"1\" is not two to four numbers from 0 to 65535"},
    {"[version]\nversion = \"1.4.2.7.1\"\n", 2, "not two to four numbers"},
    {"[version]\nversion = \"1.4.2-beta\"\n", 2, "not two to four numbers"},
    {"[version]\nversion = \"1.65536\"\n", 2, "not two to four numbers"},
    {"[version]\nversion = 1.4\n", 2, "version must be a string, not a floating-point number"},
    {"\n[version]\nproduct = \"p\"\n", 2, "[version] needs a version"},
    {"[version]\nversion = \"1.0\"\nname = \"x\"\n", 3, "unknown key 'name' in [version]"},
    {"[version]\nversion = \"1.0\"\ncompany = \"a\\u0000b\"\n", 3, "company: the text contains a NUL"},
    {"[version]\nversion = [\"1.0\"]\n", 2, "version must be a string, not an array"},
    {"version = \"1.0\"\n", 1, "'version' must be a table"},
    {"[package]\nicon = 3\n", 2, "icon must be the name of an .ico file"},
    {"[raw.wide]\n\"7\" = 3\n", 2, "string or an array"},
    {"[raw.other]\n\"7\" = \"x\"\n", 1, "unknown table [raw.other]"},
    // [raw] sorts before [settings]; the clash is found all the same.
    {"[raw.narrow]\n\"101\" = \"x\"\n[settings]\nApplicationName = \"y\"\n", 2,
     "already given as ApplicationName in [settings] (line 4)"},
    {"[settings]\nServiceDescription = \"y\"\n[raw.wide]\n\"20017\" = \"x\"\n", 4,
     "already given as ServiceDescription"},
    {"[package]\narch = \"arm64\"\n", 2, "arch must be \"x86\" or \"x64\""},
    {"[package]\nruntime = \"yes\"\n", 2, "runtime must be a boolean"},
    {"[package]\nlauncher = \"x\"\n", 2, "unknown key 'launcher' in [package]"},
    {"[package]\ncodepage = 437\n", 2, "codepage must be a Windows ANSI code page"},
    {"[package]\ncodepage = \"1251\"\n", 2, "codepage must be"},
    {"[package]\ncodepage = 1251\n[settings]\nCodePage = 1251\n", 4, "set by zanto-pack from [package] codepage"},
    {"[package]\ncodepage = 1251\n[raw.narrow]\n\"30030\" = \"1251\"\n", 4, "set by zanto-pack from [package]"},
    // A text the configured code page cannot hold names the setting, the file and the line.
    {"[package]\ncodepage = 1251\n[settings]\n\nMainClass = \"app.M\u00E4in\"\n", 5,
     "MainClass: character U+00E4 '\xC3\xA4' (character 6) cannot be written in code page 1251"},
    {"[package]\ncodepage = 932\n[[include]]\nsource = \"a.jar\"\nname = \"\u00E9.jar\"\n", 5, "code page 932"},
    {"[setings]\n", 1, "unknown table or key 'setings'"},
    {"[include]\nsource = \"a\"\n", 1, "array of tables"},
    {"[[include]]\nname = \"a.jar\"\n", 1, "needs a source file"},
    {"[[include]]\nsource = \"a.jar\"\nsize = 3\n", 3, "unknown key 'size' in [[include]]"},
    {"[[include]]\nsource = \"a.jar\"\nname = \"a;b.jar\"\n", 3, "';'"},
    {"[[include]]\nsource = \"a.jar\"\nname = \"lib/b.jar\"\n", 3, "'/'"},
    {"[[include]]\nsource = \"a.jar\"\nname = \"..\\\\b.jar\"\n", 3, "'\\'"},
    {"[[include]]\nsource = \"a.jar\"\nname = \"\xE4\xB8\xAD.jar\"\n", 3, "code page 1252"},
    {"[[include]]\nsource = \"lib/\"\n", 1, "the name is empty"},
    {"[[include]]\nsource = \"x/A.jar\"\n\n[[include]]\nsource = \"y/a.jar\"\n", 4, "taken by \"A.jar\" (line 1)"},
    {"[service]\nstart = \"manual\"\n", 2, "service.start must be \"auto\", \"demand\" or \"delayed\""},
    {"[service]\nrecovery = 3\n", 2, "'service.recovery' must be a table"},
    {"[service]\ndependencies = \"Tcpip\"\n", 2, "service.dependencies must be a list of strings"},
    {"[service]\ndependencies = [\"a,b\"]\n", 2, "no service name"},
    {"[service]\nstop_timeout = \"30\"\n", 2, "service.stop_timeout must be an integer, not a string"},
    {"[service.recovery]\nrestart = [1, 2, 3, 4]\n", 2, "one to three delays"},
    {"[service.recovery]\nrestart = true\n", 2, "one to three delays"},
    {"[service.recovery]\nrestart = [-1]\n", 2, "service.recovery.restart must be from 0 to 4294967, not -1"},
    {"[service.recovery]\non_exit_code = 1\n", 2, "must be true or false, not an integer"},
    {"[java]\nversion = 17\n", 2, "java.version must be a string"},
    {"[java]\nsearch = [\"env:\"]\n", 2, "is no search word"},
    {"[java]\noptions = [\"it's \\\"x\\\"\"]\n", 2, "holds both"},
    {"[java]\noptions = [3]\n", 2, "an item is an integer"},
    {"[app]\nmain_class = \"\"\n", 2, "app.main_class is empty"},
    {"[app]\nmainclass = \"x\"\n", 2, "did you mean 'main_class'?"},
    {"[app]\nmain_class = \"\\u0100\"\n", 2, "app.main_class: character U+0100"},
    {"[logs]\nkeep = 0\n", 2, "logs.keep must be from 1 to 9999"},
    {"[logs]\nsize = \"1\"\n", 2, "logs.size must be a size"},
    {"[app]\nmain_class = \"a\"\n[raw.narrow]\n\"122\" = \"b\"\n", 4, "already given as app.main_class (line 2)"},
    {"[settings]\nMinJavaVersion = \"9\"\n[java]\nversion = \"11+\"\n", 4,
     "java.version and MinJavaVersion in [settings] (line 2) both give MinJavaVersion"},
    {"[service]\nstart = \"delayed\"\n[settings]\nDelayedAutoStart = false\n", 2, "both give DelayedAutoStart"},
    {"[vesion]\n", 1, "did you mean 'version'?"},
};

TEST(PackConfig, ErrorsNameFileAndLine) {
  for (const ErrorCase& c : kErrors) {
    PackConfig config;
    std::string error;
    EXPECT_FALSE(parsePackConfig(c.toml, "dir/bad.toml", config, error)) << c.toml;
    std::string where = "dir/bad.toml:" + std::to_string(c.line) + ":";
    EXPECT_EQ(error.rfind(where, 0), 0u) << c.toml << "\n -> " << error;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.toml << "\n -> " << error;
  }
}

TEST(PackConfig, TextsInTheConfiguredCodePage) {
  struct Case {
    const char* package;  // [package] lines
    const char* value;    // MainClass, UTF-8
    std::string stored;
  };
  const Case cases[] = {
      {"", "app.M\xC3\xA4in\xE2\x82\xAC", "app.M\xE4in\x80"},                  // 1252 by default
      {"codepage = 0\n", "app.M\xC3\xA4in\xE2\x82\xAC", "app.M\xE4in\x80"},   // no record: still 1252
      {"codepage = 1251\n", "\xD0\x9F\xD1\x80\xD0\xB8 \xE2\x82\xAC", "\xCF\xF0\xE8 \x88"},  // При €
      {"codepage = 932\n", "\xE6\x97\xA5\xE6\x9C\xAC", "\x93\xFA\x96\x7B"},                // 日本
      {"codepage = 65001\n", "\xE4\xB8\xAD\xF0\x9F\x98\x80", "\xE4\xB8\xAD\xF0\x9F\x98\x80"},
  };
  for (const Case& c : cases) {
    PackConfig config;
    std::string error;
    std::string text = std::string("[package]\n") + c.package + "[settings]\nMainClass = \"" + c.value + "\"\n";
    ASSERT_TRUE(parsePackConfig(text, "cp.toml", config, error)) << c.package << error;
    EXPECT_EQ(config.narrow[122], c.stored) << c.package;
  }
}

// Each readable key and the records it stands for.
TEST(PackConfig, ReadableKeysGiveTheirSettings) {
  struct Case {
    const char* table;
    const char* line;  // key = value
    std::map<int32_t, std::string> narrow;
    std::map<int32_t, std::u16string> wide;
  };
  const Case cases[] = {
      {"service", "name = \"svc\"", {{101, "svc"}}, {}},
      {"service", "display_name = \"Svc \u00E9\"", {}, {{30041, u"Svc \u00E9"}}},
      {"service", "description = \"d\"", {}, {{20017, u"d"}}},
      {"service", "account = \"LocalService\"", {{30040, "LocalService"}}, {}},
      {"service", "start = \"auto\"", {{107, "4"}}, {}},
      {"service", "start = \"demand\"", {{107, "0"}}, {}},
      {"service", "start = \"delayed\"", {{107, "4"}, {30016, "1"}}, {}},
      {"service", "stop_timeout = 45", {{30020, "45"}}, {}},
      {"service", "dependencies = [\"Tcpip\", \"Dnscache\"]", {{149, "Tcpip,Dnscache"}}, {}},
      {"service.recovery", "restart = [10, 60, 300]", {{30010, "1"}, {30011, "10"}, {30012, "60"}, {30013, "300"}}, {}},
      {"service.recovery", "restart = [5]", {{30010, "1"}, {30011, "5"}, {30012, "5"}, {30013, "5"}}, {}},
      {"service.recovery", "restart = false", {{30010, "0"}}, {}},
      {"service.recovery", "reset = 3600", {{30014, "3600"}}, {}},
      {"service.recovery", "on_exit_code = true", {{30015, "1"}}, {}},
      {"java", "version = \"17\"", {{126, "17"}, {127, "17"}}, {}},
      {"java", "version = \"11..21\"", {{126, "11"}, {127, "21"}}, {}},
      {"java", "version = \"1.8+\"", {{126, "1.8"}}, {}},
      {"java", "search = [\"JAVA_HOME\", \"env:MY_JDK\", \"registry\", \"path\", \"jre\"]",
       {{128, "EJAVA_HOME;EMY_JDK;Y;S;Ajre"}}, {}},
      {"java", "options = [\"-Xmx1g\", \"-Dname=a b\", \"-Dq=say \\\"hi\\\"\", \"\"]",
       {{123, "-Xmx1g \"-Dname=a b\" '-Dq=say \"hi\"' \"\""}}, {}},
      {"java", "jdk_only = true", {{131, "1"}}, {}},
      {"app", "main_class = \"com.example.Main\"", {{122, "com.example.Main"}}, {}},
      {"app", "classpath = [\"${ZANTO_EXEDIR}conf\\\\\", \"C:\\\\lib\\\\*.jar\", \"\\\\\\\\srv\\\\x.jar\"]",
       {{121, "D1${ZANTO_EXEDIR}conf;S1C:\\lib;A1\\\\srv\\x.jar"}}, {}},
      {"app", "args = [\"one\", \"two words\", \"it's\"]", {{124, "one \"two words\" \"it's\""}}, {}},
      {"app", "working_dir = \"data\"", {{146, "data"}}, {}},
      {"logs", "file = \"logs\\\\a.log\"", {{30050, "logs\\a.log"}}, {}},
      {"logs", "error_file = \"logs\\\\e.log\"", {{30051, "logs\\e.log"}}, {}},
      {"logs", "mode = \"roll-by-size\"", {{30052, "roll-by-size"}}, {}},
      {"logs", "size = \"20M\"", {{30053, "20M"}}, {}},
      {"logs", "keep = 3", {{30054, "3"}}, {}},
      {"logs", "console = false", {{30055, "0"}}, {}},
  };
  for (const Case& c : cases) {
    PackConfig config;
    std::string error;
    std::string text = std::string("[") + c.table + "]\n" + c.line + "\n";
    ASSERT_TRUE(parsePackConfig(text, "r.toml", config, error)) << text << error;
    EXPECT_EQ(config.narrow, c.narrow) << text;
    EXPECT_EQ(config.wide, c.wide) << text;
    // Every record is covered by the one key.
    for (const auto& [id, value] : c.narrow) EXPECT_NE(readableKeyOf(id, false), nullptr) << id;
  }
}

// The launcher's splitter cuts the joined options back into the very items.
TEST(PackConfig, JoinedParametersSplitBackIntoTheItems) {
  const std::vector<std::string> lists[] = {
      {"-Xmx1g", "-Dname=a b", "-Dq=say \"hi\"", "", "it's", "a\tb"}, {}, {"x y z"}};
  for (const auto& items : lists) {
    std::string joined, problem;
    ASSERT_TRUE(joinParameters(items, joined, problem)) << problem;
    std::u16string units(joined.begin(), joined.end());
    std::vector<std::u16string> tokens;
    ASSERT_EQ(splitParameters(units.c_str(), tokens), SplitStatus::Ok) << joined;
    std::vector<std::string> back;
    for (const std::u16string& t : tokens) back.emplace_back(t.begin(), t.end());
    EXPECT_EQ(back, items) << joined;
  }
  std::string joined, problem;
  EXPECT_FALSE(joinParameters({"both ' and \""}, joined, problem));
}

TEST(PackConfig, JavaVersionRanges) {
  struct Case {
    const char* text;
    const char* minimum;  // null: refused
    const char* maximum;
  };
  const Case cases[] = {{"17", "17", "17"},     {"11..21", "11", "21"},   {"1.8+", "1.8", ""},
                        {"1.8..11", "1.8", "11"}, {"11.0.2+", "11.0.2", ""}, {"21..11", nullptr, nullptr},
                        {"", nullptr, nullptr},  {"+", nullptr, nullptr},  {"17-ea", nullptr, nullptr},
                        {"..21", nullptr, nullptr}, {"11..", nullptr, nullptr}, {"1..8..9", nullptr, nullptr},
                        {"8.", nullptr, nullptr}};
  for (const Case& c : cases) {
    std::string minimum, maximum, problem;
    bool ok = parseJavaVersionRange(c.text, minimum, maximum, problem);
    EXPECT_EQ(ok, c.minimum != nullptr) << c.text;
    if (ok && c.minimum) {
      EXPECT_EQ(minimum, c.minimum) << c.text;
      EXPECT_EQ(maximum, c.maximum) << c.text;
    }
  }
}

// Class path items beside the configuration are packaged; patterns and folders are
// read from the disk, in name order.
TEST(PackConfig, ClassPathPatternsAgainstAFolder) {
  ScratchDir dir;
  std::filesystem::create_directories(dir / "lib/sub");
  std::filesystem::create_directories(dir / "empty");
  for (const char* f : {"lib/b.jar", "lib/a.jar", "lib/notes.txt", "lib/c.zip", "lib/sub/d.jar", "empty/.keep", "app.jar"})
    test::writeFile(dir / f, std::string("x"));
  struct Case {
    const char* items;
    std::vector<std::string> included;  // file names, in order
    const char* classPath;              // null: no ClassPath record
    const char* error;                  // null: accepted
  };
  const Case cases[] = {
      {"\"app.jar\", \"lib/*.jar\"", {"app.jar", "a.jar", "b.jar"}, nullptr, nullptr},
      {"\"lib\"", {"a.jar", "b.jar", "c.zip"}, nullptr, nullptr},
      {"\"lib/?.zip\", \"${ZANTO_EXEDIR}ext\\\\*.jar\"", {"c.zip"}, "S1${ZANTO_EXEDIR}ext", nullptr},
      {"\"missing.jar\"", {"missing.jar"}, nullptr, nullptr},  // read (and refused) by the build
      {"\"lib/*.war\"", {}, nullptr, "matches no file"},
      {"\"empty\"", {}, nullptr, "holds no .jar or .zip"},
      {"\"lib/*\"", {}, nullptr, "notes.txt is no .jar or .zip"},
      {"\"*/a.jar\"", {}, nullptr, "only the file name"},
      {"\"lib/a.jar\", \"app.jar\", \"lib/../lib/a.jar\"", {}, nullptr, "taken by \"a.jar\""},
      {"\"a;b.jar\"", {}, nullptr, "with ';'"},
      {"\"C:\\\\x\\\\*.war\"", {}, nullptr, "FOLDER\\*.jar"},
  };
  for (const Case& c : cases) {
    PackConfig config;
    std::string error;
    std::string text = std::string("[app]\nclasspath = [") + c.items + "]\n";
    bool ok = parsePackConfig(text, dir / "app.toml", config, error);
    EXPECT_EQ(ok, c.error == nullptr) << text << error;
    if (c.error) {
      EXPECT_NE(error.find(c.error), std::string::npos) << text << error;
      continue;
    }
    std::vector<std::string> names;
    for (const IncludeEntry& e : config.includes) names.push_back(e.name);
    EXPECT_EQ(names, c.included) << text;
    EXPECT_EQ(config.narrow.count(121), c.classPath ? 1u : 0u) << text;
    if (c.classPath) {
      EXPECT_EQ(config.narrow[121], c.classPath) << text;
    }
  }
}

// One run reports every error, each with its line, in line order.
TEST(PackConfig, ReportsEveryError) {
  const char* text =
      "[service]\n"
      "name = \"svc\"\n"
      "strat = \"auto\"\n"
      "[settings]\n"
      "ApplicationName = \"other\"\n"
      "MainClas = \"x\"\n"
      "[java]\n"
      "version = \"21..11\"\n"
      "[logs]\n"
      "mode = \"daily\"\n"
      "[pakage]\n";
  PackConfig config;
  std::string error;
  ASSERT_FALSE(parsePackConfig(text, "e.toml", config, error));
  const char* expected[] = {
      "e.toml:2: service.name and ApplicationName in [settings] (line 5) both give ApplicationName",
      "e.toml:3: unknown key 'strat' in [service] (did you mean 'start'?)",
      "e.toml:6: unknown setting 'MainClas' (did you mean 'MainClass'?)",
      "e.toml:8: java.version: \"21..11\" ends below its start",
      "e.toml:10: logs.mode must be append, truncate, roll-by-size or roll-by-day, not \"daily\"",
      "e.toml:11: unknown table or key 'pakage' (did you mean 'package'?)",
  };
  std::vector<std::string> lines;
  for (size_t start = 0, end; start <= error.size(); start = end + 1) {
    end = error.find('\n', start);
    if (end == std::string::npos) end = error.size();
    lines.push_back(error.substr(start, end - start));
  }
  ASSERT_EQ(lines.size(), std::size(expected)) << error;
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].rfind(expected[i], 0), 0u) << lines[i];
}

TEST(PackConfig, MisspellingHints) {
  const std::vector<std::string> keys = {"name", "display_name", "description", "start", "stop_timeout"};
  const std::pair<const char*, const char*> cases[] = {
      {"nmae", "name"},           {"Name", "name"},           {"displayname", "display_name"},
      {"descripton", "description"}, {"stop_timout", "stop_timeout"}, {"strt", "start"},
      {"account", nullptr},       {"x", nullptr},             {"timeout", nullptr}};
  for (auto [typo, meant] : cases) {
    std::string hint = didYouMean(typo, keys);
    EXPECT_EQ(hint, meant ? std::string(" (did you mean '") + meant + "'?)" : std::string()) << typo;
  }
}

TEST(PackConfig, RawIds) {
  const std::pair<const char*, std::optional<int32_t>> cases[] = {{"0", 0},
                                                                  {"108", 108},
                                                                  {"-5", -5},
                                                                  {"2147483647", INT32_MAX},
                                                                  {"-2147483648", INT32_MIN},
                                                                  {"", std::nullopt},
                                                                  {"+5", std::nullopt},
                                                                  {"05", std::nullopt},
                                                                  {"-0", std::nullopt},
                                                                  {"2147483648", std::nullopt},
                                                                  {"1e3", std::nullopt},
                                                                  {" 1", std::nullopt}};
  for (auto [key, id] : cases) EXPECT_EQ(parseRawId(key), id) << key;
}

// A build set-up: a launcher, a runtime jar and one included file in a scratch
// directory, and a configuration written per case.
struct BuildFixture : ::testing::Test {
  ScratchDir dir;
  BuildRequest request;
  void SetUp() override {
    test::writeFile(dir / "zanto-launcher-x64.exe", test::sampleLauncher(true));
    test::writeFile(dir / "zanto-launcher-x86.exe", test::sampleLauncher(false));
    test::writeFile(dir / "zanto-runtime.jar", std::string("runtime classes"));
    test::writeFile(dir / "app.jar", std::string("application classes"));
    request.config = dir / "app.toml";
    request.output = dir / "out.exe";
    request.toolDirectory = dir.path();
  }
  std::vector<std::string> warnings;  // of the last build
  bool build(const char* toml, std::string& error) {
    if (toml) test::writeFile(request.config, std::string(toml));
    warnings.clear();
    return buildPackage(request, warnings, error);
  }
};

TEST_F(BuildFixture, PutsTheRuntimeJarFirst) {
  std::string error;
  ASSERT_TRUE(build("[settings]\nApplicationName = \"demo\"\n[[include]]\nsource = \"app.jar\"\n", error)) << error;
  LauncherCopy copy;
  ASSERT_TRUE(readLauncherCopy(test::readFile(request.output), copy, error)) << error;
  EXPECT_EQ(copy.machine, 0x8664);
  ASSERT_EQ(copy.model.files.size(), 2u);
  EXPECT_EQ(copy.model.files[0].name, kRuntimeJarName);
  EXPECT_EQ(copy.model.files[0].content, test::bytesOf("runtime classes"));
  EXPECT_EQ(copy.model.files[1].name, "app.jar");
  EXPECT_EQ(copy.model.narrow[101], "demo");

  // [package] arch picks the launcher; --arch wins over it.
  ASSERT_TRUE(build("[package]\narch = \"x86\"\nruntime = false\n", error)) << error;
  ASSERT_TRUE(readLauncherCopy(test::readFile(request.output), copy, error));
  EXPECT_EQ(copy.machine, 0x014c);
  EXPECT_TRUE(copy.model.files.empty());
  request.arch = Arch::X64;
  ASSERT_TRUE(build("[package]\narch = \"x86\"\n", error)) << error;
  ASSERT_TRUE(readLauncherCopy(test::readFile(request.output), copy, error));
  EXPECT_EQ(copy.machine, 0x8664);
}

// New configurations get the opt-in Java rules and EndWithApplication on, and start
// pending, no interactive flag and the executable's folder as current directory;
// each one can be given otherwise by name or raw id, and [package] modern_java = false
// and service_defaults = false leave out each group (and only that one).
TEST_F(BuildFixture, DefaultsAreOnUnlessTurnedOff) {
  struct Case {
    const char* toml;
    // stored records of 30001, 30002, 30003, 30021, 30022, 30042 and 146; null: absent
    std::array<const char*, 7> records;
  };
  const Case cases[] = {
      {"", {"1", "1", "1", "1", "1", "0", "."}},
      {"[settings]\nNumericVersionCheck = false\n", {"0", "1", "1", "1", "1", "0", "."}},
      {"[settings]\nReleaseFileVersion = 0\nWideRegistrySearch = true\n", {"1", "0", "1", "1", "1", "0", "."}},
      {"[raw.narrow]\n\"30003\" = \"\"\n", {"1", "1", "", "1", "1", "0", "."}},
      {"[settings]\nEndWithApplication = false\n", {"1", "1", "1", "0", "1", "0", "."}},
      {"[package]\nmodern_java = false\n", {nullptr, nullptr, nullptr, nullptr, "1", "0", "."}},
      {"[package]\nmodern_java = false\n[settings]\nWideRegistrySearch = true\n",
       {nullptr, nullptr, "1", nullptr, "1", "0", "."}},
      {"[package]\nmodern_java = true\n", {"1", "1", "1", "1", "1", "0", "."}},
      {"[settings]\nStartPending = false\nInteractiveService = true\nWorkingDirectory = \"\"\n",
       {"1", "1", "1", "1", "0", "1", ""}},
      {"[raw.narrow]\n\"146\" = \"d:\\\\data\"\n", {"1", "1", "1", "1", "1", "0", "d:\\data"}},
      {"[package]\nservice_defaults = false\n", {"1", "1", "1", "1", nullptr, nullptr, nullptr}},
      {"[package]\nservice_defaults = false\n[settings]\nStartPending = true\n",
       {"1", "1", "1", "1", "1", nullptr, nullptr}},
  };
  const int32_t ids[] = {setting::NumericVersionCheck, setting::ReleaseFileVersion, setting::WideRegistrySearch,
                         setting::EndWithApplication,  setting::StartPending,       setting::InteractiveService,
                         setting::WorkingDirectory};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.toml);
    std::string error;
    ASSERT_TRUE(build(c.toml, error)) << error;
    LauncherCopy copy;
    ASSERT_TRUE(readLauncherCopy(test::readFile(request.output), copy, error)) << error;
    for (int i = 0; i < 7; ++i) {
      auto it = copy.model.narrow.find(ids[i]);
      if (!c.records[i])
        EXPECT_EQ(it, copy.model.narrow.end()) << ids[i];
      else if (it == copy.model.narrow.end())
        ADD_FAILURE() << ids[i] << " missing";
      else
        EXPECT_EQ(it->second, c.records[i]) << ids[i];
    }
  }
  // The code page is recorded, unless the block is to have no record (0).
  for (const auto& [toml, record] : std::vector<std::pair<const char*, const char*>>{
           {"", "1252"}, {"[package]\ncodepage = 1251\n", "1251"}, {"[package]\ncodepage = 0\n", nullptr}}) {
    std::string error;
    ASSERT_TRUE(build(toml, error)) << error;
    LauncherCopy copy;
    ASSERT_TRUE(readLauncherCopy(test::readFile(request.output), copy, error)) << error;
    auto it = copy.model.narrow.find(setting::CodePage);
    std::string stored = it == copy.model.narrow.end() ? "(none)" : it->second;
    EXPECT_EQ(stored, record ? record : "(none)") << toml;
  }
  std::string error;
  EXPECT_FALSE(build("[package]\nmodern_java = \"yes\"\n", error));
  EXPECT_NE(error.find("app.toml:2: modern_java must be a boolean"), std::string::npos) << error;
  EXPECT_FALSE(build("[package]\n\nservice_defaults = 0\n", error));
  EXPECT_NE(error.find("app.toml:3: service_defaults must be a boolean"), std::string::npos) << error;
}

// VmParameters split as the launcher splits it: what the JVM drops is a warning
// naming the file and line and what to write instead; texts are read in the
// configured code page.
TEST_F(BuildFixture, VmParametersTheJvmDropsAreWarnings) {
  const std::string at = "app.toml:2: VmParameters: ";
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"[settings]\nVmParameters = \"-Xmx1g -cp lib/a.jar --add-opens a/b=ALL-UNNAMED\"\n",
       {at + "-cp lib/a.jar: only the java command understands it; the JVM ignores it: list the entries in ClassPath",
        at + "--add-opens a/b=ALL-UNNAMED: a two-word form of the java command; the JVM ignores both words: write "
             "--add-opens=a/b=ALL-UNNAMED"}},
      // Java 8 takes it, so only a warning.
      {"[settings]\nVmParameters = \"-Djava.ext.dirs=lib\"\nMinJavaVersion = \"1.8\"\n",
       {at + "-Djava.ext.dirs=lib: Java 9 and later refuse it and create no JVM: put the jars on ClassPath"}},
      {"[raw.narrow]\n\"123\" = \"-server\"\n",
       {"app.toml:2: VmParameters: -server: the java command chooses the VM with it; the JVM ignores it: set "
        "PreferredVmType = \"server\""}},
      {"[package]\ncodepage = 1251\n[settings]\nVmParameters = \"-Dn=\u0416 @\u0416.txt\"\n",
       {"app.toml:4: VmParameters: @\xD0\x96.txt: an argument file of the java command; the JVM ignores it: put its "
        "options into the .vmoptions file beside the executable, one a line"}},
      {"[settings]\nVmParameters = \"-Dx='open\"\n",
       {at + "a quote is not closed; the launcher stops with WrongParameterMessage"}},
      {"[settings]\nVmParameters = \"--add-opens=a/b=c -Dfoo=-cp -Dmail=a@b\"\nMinJavaVersion = \"11\"\n", {}},
  };
  const std::string file = request.config.parent_path().string() + "/";
  for (const auto& [toml, expected] : cases) {
    std::string error;
    EXPECT_TRUE(build(toml, error)) << error;
    std::vector<std::string> named;
    for (const std::string& w : expected) named.push_back(file + w);
    EXPECT_EQ(warnings, named) << toml;
  }
}

TEST_F(BuildFixture, ErrorsWriteNothing) {
  test::writeFile(dir / "not-pe.exe", std::string("MZ..."));
  test::writeFile(dir / "crowded.exe", test::makePe(true, {{0x200, 0x200}, {0x400, 0x200}, {0x600, 0x200}}));
  struct Case {
    const char* toml;
    std::function<void(BuildRequest&)> setUp;
    const char* message;
  };
  const Case cases[] = {
      {"[settings]\nMainClass = 1\n", nullptr, "app.toml:2: MainClass must be a string"},
      {"\n[[include]]\nsource = \"missing.jar\"\n", nullptr, "app.toml:2: included file not found: "},
      {"[[include]]\nsource = \"lib\"\n", [&](BuildRequest&) { std::filesystem::create_directory(dir / "lib"); },
       "app.toml:1: included file not a regular file"},
      {"[[include]]\nsource = \"app.jar\"\nname = \"Zanto-Runtime.jar\"\n", nullptr,
       "app.toml:1: the name zanto-runtime.jar is taken by the runtime jar"},
      {"", [&](BuildRequest& r) { r.launcher = dir / "nowhere.exe"; }, "launcher not found: "},
      {"[package]\narch = \"x86\"\n", [&](BuildRequest& r) { r.toolDirectory = dir / "empty"; },
       "zanto-launcher-x86.exe (give one with --launcher PATH)"},
      {"", [&](BuildRequest& r) { r.launcher = dir / "not-pe.exe"; }, "not-pe.exe is not a Windows executable"},
      {"[package]\narch = \"x86\"\n", [&](BuildRequest& r) { r.launcher = dir / "zanto-launcher-x64.exe"; },
       "is built for x64, not for x86"},
      {"", [&](BuildRequest& r) { r.runtimeJar = dir / "no.jar"; }, "runtime jar not found"},
      {nullptr, [&](BuildRequest& r) { r.config = dir / "none.toml"; }, "configuration not found"},
      {"[package]\nicon = \"missing.ico\"\n", nullptr, "app.toml:2: icon "},
      {"[version]\nversion = \"1.0\"\n[package]\nicon = \"app.jar\"\n", nullptr, "app.toml:4: icon "},
      {"[settings]\nMinJavaVersion = \"11\"\nVmParameters = \"-Xmx1g -Djava.endorsed.dirs=e\"\n", nullptr,
       "app.toml:3: VmParameters: -Djava.endorsed.dirs=e: Java 9 and later refuse it and create no JVM, and "
       "MinJavaVersion 11 admits no earlier Java: put the jars on ClassPath, or upgradeable modules on "
       "--upgrade-module-path=DIR"},
      {"[raw.narrow]\n\"123\" = \"-Xbootclasspath/p:x.jar\"\n\"126\" = \"1.9\"\n", nullptr,
       "app.toml:2: VmParameters: -Xbootclasspath/p:x.jar: Java 9 and later refuse it"},
      {"[version]\nversion = \"1.0\"\n", [&](BuildRequest& r) { r.launcher = dir / "crowded.exe"; },
       "launcher: the executable's headers have no room for another section header"},
  };
  const Bytes old = test::bytesOf("earlier output");
  for (const Case& c : cases) {
    BuildRequest saved = request;
    if (c.setUp) c.setUp(request);
    test::writeFile(dir / "out.exe", old);
    std::string error;
    EXPECT_FALSE(build(c.toml, error)) << c.message;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_EQ(test::readFile(dir / "out.exe"), old) << c.message;
    request = saved;
  }
  // Without an existing output, none is created either.
  std::filesystem::remove(dir / "out.exe");
  std::string error;
  EXPECT_FALSE(build("[settings]\nFoo = 1\n", error));
  EXPECT_FALSE(std::filesystem::exists(dir / "out.exe"));
}

// The PE checksum as CheckSumMappedFile defines it, word by word, for comparison.
uint32_t referenceChecksum(Bytes file, size_t field) {
  std::fill(file.begin() + static_cast<std::ptrdiff_t>(field), file.begin() + static_cast<std::ptrdiff_t>(field) + 4,
            0);
  const uint32_t length = static_cast<uint32_t>(file.size());
  if (file.size() % 2) file.push_back(0);
  uint32_t sum = 0;
  for (size_t i = 0; i < file.size(); i += 2) {
    sum += file[i] | file[i + 1] << 8;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return ((sum & 0xFFFF) + (sum >> 16)) + length;
}

uint32_t le32(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24);
}

// An .ico with a PNG and a bitmap image.
Bytes sampleIco() {
  std::vector<IconImage> images(2);
  images[0] = {0, 0, 0, 1, 32, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 1, 2, 3}};
  images[1] = {16, 16, 0, 1, 32, Bytes(40 + 16 * 16 * 4 + 64, 0x22)};
  images[1].data[0] = 40, images[1].data[1] = images[1].data[2] = images[1].data[3] = 0;
  return iconFileBytes(images);
}

TEST_F(BuildFixture, VersionAndIconGoIntoANewLastSectionBeforeTheBlock) {
  test::writeFile(dir / "app.ico", sampleIco());
  const char* config = R"([package]
icon = "app.ico"
[settings]
ApplicationName = "D\u00E9mo"
[version]
version = "1.4.2.7"
product = "Gr\u00FC\u00DFe \u65E5\u672C"
company = "ACME"
copyright = "\u00A9 2026 ACME"
[[include]]
source = "app.jar"
)";
  std::string error;
  ASSERT_TRUE(build(config, error)) << error;
  Bytes out = test::readFile(request.output);
  Bytes launcher = test::sampleLauncher(true);
  const size_t optional = 0x80 + 24, table = optional + 240;
  EXPECT_EQ(out[0x80 + 6], 3) << "one section more";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&out[table + 80]), 6), ".rsrc2");
  EXPECT_EQ(le32(out, table + 80 + 12), 0x3000u) << "mapped behind the last section";
  EXPECT_EQ(le32(out, table + 80 + 20), 0x600u) << "stored behind the last section";
  EXPECT_EQ(le32(out, table + 80 + 16) % 0x200, 0u);
  EXPECT_EQ(le32(out, optional + 56), 0x4000u) << "the image size covers the new section";
  EXPECT_EQ(le32(out, optional + 112 + 16), 0x3000u) << "the resource directory points at it";
  EXPECT_EQ(le32(out, optional + 64), referenceChecksum(out, optional + 64));
  EXPECT_TRUE(std::equal(launcher.begin() + 0x200, launcher.begin() + 0x600, out.begin() + 0x200))
      << "the launcher's sections are unchanged";

  LauncherCopy copy;
  ASSERT_TRUE(readLauncherCopy(out, copy, error)) << error;
  EXPECT_EQ(copy.blockOffset, 0x600 + le32(out, table + 80 + 16));
  EXPECT_EQ(copy.model.files.at(1).content, test::bytesOf("application classes"));
  std::vector<Resource> resources;
  ASSERT_TRUE(readImageResources(out.data(), out.size(), resources, error)) << error;
  ExeIdentity identity;
  ASSERT_TRUE(readIdentity(resources, identity, error)) << error;
  const Bytes ico = sampleIco();
  EXPECT_EQ(iconFileBytes(identity.icon), ico);
  EXPECT_EQ(identity.version.fileVersion[3], 7);
  EXPECT_EQ(identity.version.productVersion[2], 2);
  using Strings = std::vector<std::pair<std::u16string, std::u16string>>;
  EXPECT_EQ(identity.version.strings,
            (Strings{{u"CompanyName", u"ACME"},
                     {u"FileDescription", u"D\u00E9mo"},  // the service name, as no description is given
                     {u"FileVersion", u"1.4.2.7"},
                     {u"InternalName", u"D\u00E9mo"},
                     {u"LegalCopyright", u"\u00A9 2026 ACME"},
                     {u"OriginalFilename", u"D\u00E9mo.exe"},
                     {u"ProductName", u"Gr\u00FC\u00DFe \u65E5\u672C"},
                     {u"ProductVersion", u"1.4.2.7"}}));

  // A packaged executable used as launcher again gets its section replaced, not a second one.
  request.launcher = request.output;
  request.output = dir / "again.exe";
  ASSERT_TRUE(build(nullptr, error)) << error;
  EXPECT_EQ(test::readFile(request.output), out);

  // Without a service name the output's name is the file's; without [version] and
  // icon the launcher is taken as it is.
  request.launcher.reset();
  ASSERT_TRUE(build("[version]\nversion = \"2.0\"\ndescription = \"Mine\"\n", error)) << error;
  ASSERT_TRUE(readImageResources(test::readFile(request.output).data(), test::readFile(request.output).size(),
                                 resources, error));
  ASSERT_TRUE(readIdentity(resources, identity, error)) << error;
  EXPECT_TRUE(identity.icon.empty());
  EXPECT_EQ(identity.version.strings.at(0), (std::pair<std::u16string, std::u16string>{u"FileDescription", u"Mine"}));
  EXPECT_EQ(identity.version.strings.at(3),
            (std::pair<std::u16string, std::u16string>{u"OriginalFilename", u"again.exe"}));
  // The description falls back on what the services console shows.
  ASSERT_TRUE(build("[settings]\nDisplayName = \"Shown \u00E9\"\n[version]\nversion = \"2.0\"\n", error)) << error;
  ASSERT_TRUE(readImageResources(test::readFile(request.output).data(), test::readFile(request.output).size(),
                                 resources, error));
  ASSERT_TRUE(readIdentity(resources, identity, error)) << error;
  EXPECT_EQ(identity.version.strings.at(0),
            (std::pair<std::u16string, std::u16string>{u"FileDescription", u"Shown \u00E9"}));
  ASSERT_TRUE(build("", error)) << error;
  Bytes plain = test::readFile(request.output);
  EXPECT_TRUE(std::equal(launcher.begin(), launcher.end(), plain.begin())) << "launcher bytes as they are";
}

TEST_F(BuildFixture, ExplicitLauncherGivesTheArchitecture) {
  request.launcher = dir / "zanto-launcher-x86.exe";
  std::string error;
  ASSERT_TRUE(build("", error)) << error;
  LauncherCopy copy;
  ASSERT_TRUE(readLauncherCopy(test::readFile(request.output), copy, error));
  EXPECT_EQ(copy.machine, 0x014c);
}

}  // namespace
}  // namespace zanto

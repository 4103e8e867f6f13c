// inspect: the printed configuration packages to the identical block, for blocks
// zanto-pack writes and for foreign blocks whose records [settings] cannot hold.
#include "CodePage.h"
#include "Inspect.h"
#include "Pack.h"
#include "Resources.h"
#include "Settings.h"
#include "TestSupport.h"

namespace zanto {
namespace {

using test::ScratchDir;

// Packages the output of inspect --extract again with the same launcher, in both
// forms: the readable tables (`readableOut`) and --raw (`tomlOut`); both must give
// the same executable, which is returned.
Bytes repackage(const Bytes& copy, const ScratchDir& dir, std::string* tomlOut = nullptr,
                std::string* readableOut = nullptr) {
  test::writeFile(dir / "launcher.exe", test::sampleLauncher());
  Bytes built[2];
  for (bool raw : {false, true}) {
    std::string toml, error;
    std::filesystem::path extract = dir / "extracted";
    EXPECT_TRUE(inspectLauncherCopy(copy, "in.exe", &extract, toml, error, raw)) << error;
    if (std::string* out = raw ? tomlOut : readableOut) *out = toml;
    test::writeFile(dir / "again.toml", toml);
    BuildRequest request;
    request.config = dir / "again.toml";
    request.output = dir / "again.exe";
    request.launcher = dir / "launcher.exe";
    request.toolDirectory = dir / "nowhere";  // the runtime jar must not be looked for
    std::vector<std::string> warnings;
    EXPECT_TRUE(buildPackage(request, warnings, error)) << error << "\n" << toml;
    built[raw] = test::readFile(dir / "again.exe");
  }
  EXPECT_EQ(built[0], built[1]) << "the readable and the --raw form package differently";
  return built[1];
}

TEST(Inspect, ExtractedConfigurationPackagesToTheSameBytes) {
  ScratchDir dir;
  std::filesystem::create_directory(dir / "lib");
  test::writeFile(dir / "lib" / "app.jar", std::string("PK\x03\x04 app"));
  test::writeFile(dir / "lib" / "empty.dat", std::string());
  test::writeFile(dir / "zanto-runtime.jar", std::string("runtime"));
  test::writeFile(dir / "zanto-launcher-x64.exe", test::sampleLauncher());
  std::vector<IconImage> icon(3, IconImage{16, 16, 0, 1, 32, Bytes(40 + 64, 0x40)});
  for (size_t i = 0; i < icon.size(); ++i) {
    icon[i].width = icon[i].height = static_cast<uint8_t>(16 << i);
    icon[i].data[0] = 40, icon[i].data[1] = icon[i].data[2] = icon[i].data[3] = 0;  // a bitmap's header size
  }
  test::writeFile(dir / "app.ico", iconFileBytes(icon));
  test::writeFile(dir / "first.toml", std::string(R"(
[package]
icon = "app.ico"
[version]
version = "1.4.2"
company = "M\u00FCller \"&\" S\u00F6hne"
description = "Dienst \U0001F600"
[settings]
ApplicationName = "d\u00E9mo \"quoted\"\ttab"
ExecutableType = -4
RedirectStderr = true
RedirectStdout = false
PassVmArguments = 12
ErrorCaption = "\u20AC\u0081\r\nnext"
ServiceDescription = "Dienst \U0001F600"
ClassPath = "A1lib\\*.jar;D0x"
[raw.narrow]
"108" = "0"
"150" = ""
[raw.wide]
"20013" = "wide raw"
[[include]]
source = "lib/app.jar"
[[include]]
source = "lib/empty.dat"
name = "\u00E9mpty.dat"
[[include]]
source = "app.ico"
name = "ICON.ico"
)"));
  BuildRequest request;
  request.config = dir / "first.toml";
  request.output = dir / "first.exe";
  request.toolDirectory = dir.path();
  std::vector<std::string> warnings;
  std::string error;
  ASSERT_TRUE(buildPackage(request, warnings, error)) << error;
  EXPECT_EQ(warnings.size(), 1u);  // the empty file
  Bytes first = test::readFile(dir / "first.exe");

  std::string toml;
  EXPECT_EQ(repackage(first, dir, &toml), first);
  EXPECT_NE(toml.find("ExecutableType = -4\n"), std::string::npos) << toml;
  EXPECT_NE(toml.find("RedirectStderr = true\n"), std::string::npos) << toml;
  EXPECT_NE(toml.find("ErrorCaption = \"\xE2\x82\xAC\\u0081\\r\\nnext\"\n"), std::string::npos) << toml;
  EXPECT_NE(toml.find("name = \"zanto-runtime.jar\""), std::string::npos) << toml;
  EXPECT_NE(toml.find("StartPending = true\nInteractiveService = false\n"), std::string::npos) << toml;
  EXPECT_NE(toml.find("WorkingDirectory = \".\"\n"), std::string::npos) << toml;
  EXPECT_EQ(toml.find("IncludedFile"), std::string::npos) << toml;
  EXPECT_EQ(test::readFile(dir / "extracted" / "\xC3\xA9mpty.dat"), Bytes());
  EXPECT_EQ(test::readFile(dir / "extracted" / "app.jar"), test::bytesOf(std::string("PK\x03\x04 app")));
  // The icon goes beside the included files under a name none of them has.
  EXPECT_EQ(test::readFile(dir / "extracted" / "icon-1.ico"), test::readFile(dir / "app.ico"));
  EXPECT_NE(toml.find("icon-1.ico\"  # 3 images\n"), std::string::npos) << toml;
  EXPECT_NE(toml.find("\n[version]\nversion = \"1.4.2\"\ncompany = \"M\xC3\xBCller \\\"&\\\" S\xC3\xB6hne\"\n"
                      "description = \"Dienst \xF0\x9F\x98\x80\"\n# product version 1.4.2.0; InternalName "),
            std::string::npos)
      << toml;
  // Without --extract the icon is only mentioned.
  ASSERT_TRUE(inspectLauncherCopy(first, "in.exe", nullptr, toml, error)) << error;
  EXPECT_NE(toml.find("# icon: set, 3 images (--extract DIR writes it)\n"), std::string::npos) << toml;
}

// A configuration in the readable tables packages, is shown in them again, and that
// output packages to the identical executable; records no key can give stay in [settings].
TEST(Inspect, ReadableConfigurationRoundTrips) {
  ScratchDir dir;
  std::filesystem::create_directories(dir / "lib");
  test::writeFile(dir / "lib/a.jar", std::string("PK a"));
  test::writeFile(dir / "lib/b.jar", std::string("PK b"));
  test::writeFile(dir / "launcher.exe", test::sampleLauncher());
  test::writeFile(dir / "first.toml", std::string(R"(
[package]
runtime = false
[service]
name = "svc"
display_name = "The Service"
description = "does things"
account = "NT AUTHORITY\\LocalService"
start = "delayed"
stop_timeout = 40
dependencies = ["Tcpip", "Dnscache"]
[service.recovery]
restart = [10, 60]
reset = 3600
on_exit_code = true
[java]
version = "11..21"
search = ["JAVA_HOME", "env:MY_JDK", "registry", "path", "jre"]
options = ["-Xmx1g", "-Dname=a b"]
jdk_only = false
[app]
main_class = "com.example.Main"
classpath = ["lib/*.jar", "${ZANTO_EXEDIR}conf\\", "C:\\ext\\*.jar"]
args = ["one", "two words"]
[logs]
file = "logs\\svc.log"
mode = "roll-by-size"
size = "20M"
keep = 3
console = true
[settings]
ExecutableType = 4
ProductFlavor = "e"
)"));
  std::string error;
  std::vector<std::string> warnings;
  BuildRequest request;
  request.config = dir / "first.toml";
  request.output = dir / "first.exe";
  request.launcher = dir / "launcher.exe";
  request.toolDirectory = dir / "nowhere";
  // ExecutableType both ways is refused; without the [settings] line the build goes through.
  EXPECT_FALSE(buildPackage(request, warnings, error));
  EXPECT_NE(error.find("first.toml:9: service.start and ExecutableType in [settings] (line 32) both give ExecutableType"),
            std::string::npos)
      << error;
  Bytes config = test::readFile(dir / "first.toml");
  std::string text(config.begin(), config.end());
  text.erase(text.find("ExecutableType = 4\n"), 19);
  test::writeFile(dir / "first.toml", text);
  ASSERT_TRUE(buildPackage(request, warnings, error)) << error;
  Bytes first = test::readFile(dir / "first.exe");
  std::string raw, readable;
  EXPECT_EQ(repackage(first, dir, &raw, &readable), first);
  const char* lines[] = {
      "[service]\nname = \"svc\"\ndisplay_name = \"The Service\"\ndescription = \"does things\"\n"
      "account = \"NT AUTHORITY\\\\LocalService\"\nstart = \"delayed\"\nstop_timeout = 40\n"
      "dependencies = [\"Tcpip\", \"Dnscache\"]\n",
      "[service.recovery]\nrestart = [10, 60, 60]\nreset = 3600\non_exit_code = true\n",
      "[java]\nversion = \"11..21\"\nsearch = [\"JAVA_HOME\", \"env:MY_JDK\", \"registry\", \"path\", \"jre\"]\n"
      "options = [\"-Xmx1g\", \"-Dname=a b\"]\njdk_only = false\n",
      "[app]\nmain_class = \"com.example.Main\"\nclasspath = [\"${ZANTO_EXEDIR}conf\\\\\", \"C:\\\\ext\\\\*.jar\"]\n"
      "args = [\"one\", \"two words\"]\nworking_dir = \".\"\n",
      "[logs]\nfile = \"logs\\\\svc.log\"\nmode = \"roll-by-size\"\nsize = \"20M\"\nkeep = 3\nconsole = true\n",
      "[settings]\nProductFlavor = \"e\"\nNumericVersionCheck = true\n",
      "name = \"a.jar\"", "name = \"b.jar\""};
  for (const char* line : lines) EXPECT_NE(readable.find(line), std::string::npos) << line << "\n" << readable;
  for (const char* name : {"ApplicationName", "MainClass", "RestartDelayFirst", "MinJavaVersion", "OutputLog"}) {
    EXPECT_EQ(readable.find(std::string(name) + " ="), std::string::npos) << name << "\n" << readable;
    EXPECT_NE(raw.find(std::string(name) + " ="), std::string::npos) << name << "\n" << raw;
  }
}

TEST(Inspect, ForeignRecordsGoUnderRawAndStillRoundTrip) {
  BlockModel m;
  m.narrow = {{101, std::string("nul\0inside", 10)},  // the launcher would cut it
              {107, "12abc"},                         // not a plain integer
              {102, "01"},                            // a flag, but not as written by zanto-pack
              {131, "2"},                             // a flag as an integer
              {122, std::string(kTextBufferSize, 'm')},
              {-9, "\x81\x8D\x8F\x90\x9D\xFF"}};
  m.wide = {{20017, std::u16string{u'a', 0xDC00}},  // unpaired surrogate
            {4, u"plain"}};
  m.files = {{"a.bin", {1, 2}}};
  Bytes copy;
  std::string error;
  ASSERT_TRUE(makeLauncherCopy(test::sampleLauncher(), m, copy, error)) << error;
  ScratchDir dir;
  std::string toml;
  EXPECT_EQ(repackage(copy, dir, &toml), copy);
  EXPECT_NE(toml.find("\"101\" = \"nul\\u0000inside\"  # ApplicationName: "), std::string::npos) << toml;
  EXPECT_NE(toml.find("\"107\" = \"12abc\"  # ExecutableType: not a plain integer"), std::string::npos) << toml;
  EXPECT_NE(toml.find("RequireJdk = 2\n"), std::string::npos) << toml;
  EXPECT_NE(toml.find("\"20017\" = [97, 56320]  # ServiceDescription: not valid UTF-16"), std::string::npos) << toml;
}

TEST(Inspect, ReportsFileRecordsThatDisagreeWithTheData) {
  BlockModel m;
  m.narrow = {{setting::IncludedFileCount, "3"}, {setting::IncludedFileNames, "a;b"}};
  m.files = {{"a", {1}}, {"b", {2}}};
  Bytes block = serializeBlock(m), image = test::sampleLauncher();
  image.insert(image.end(), block.begin(), block.end());
  std::string toml, error;
  ASSERT_TRUE(inspectLauncherCopy(image, "x.exe", nullptr, toml, error)) << error;
  EXPECT_NE(toml.find("# stored IncludedFileCount = \"3\"; packaging again writes \"2\""), std::string::npos) << toml;
  EXPECT_EQ(toml.find("stored IncludedFileNames"), std::string::npos) << toml;
  EXPECT_EQ(toml.find("source ="), std::string::npos);
}

// A block of another tool has no opt-in Java rules and none of the defaults of a new
// configuration: inspect says what the launcher does without them and its output
// packages without them again; stored ones are shown as they are.
TEST(Inspect, ShowsTheDefaultsABlockLacks) {
  ScratchDir dir;
  const std::pair<std::map<int32_t, std::string>, std::vector<const char*>> cases[] = {
      {{},
       {"# NumericVersionCheck: not in the block, off\n", "# ReleaseFileVersion: not in the block, off\n",
        "# WideRegistrySearch: not in the block, off\n", "# EndWithApplication: not in the block, off\n",
        "# StartPending: not in the block, off: the service reports running at once\n",
        "# InteractiveService: not in the block, a LocalSystem service is installed interactive (type 0x110)\n",
        "# WorkingDirectory: not in the block, the current directory stays as started (System32 for a service)\n"}},
      {{{setting::NumericVersionCheck, "1"},
        {setting::WideRegistrySearch, "0"},
        {setting::StartPending, "0"},
        {setting::WorkingDirectory, ""}},
       {"NumericVersionCheck = true\n", "WideRegistrySearch = false\n", "# ReleaseFileVersion: not in the block, off\n",
        "StartPending = false\n", "WorkingDirectory = \"\"\n", "# InteractiveService: not in the block"}},
  };
  for (const auto& [records, lines] : cases) {
    BlockModel m;
    m.narrow = records;
    m.narrow[setting::ApplicationName] = "other";
    Bytes block = serializeBlock(m), image = test::sampleLauncher();
    image.insert(image.end(), block.begin(), block.end());
    std::string toml;
    EXPECT_EQ(repackage(image, dir, &toml), image);
    EXPECT_NE(toml.find("modern_java = false"), std::string::npos) << toml;
    EXPECT_NE(toml.find("service_defaults = false"), std::string::npos) << toml;
    EXPECT_NE(toml.find("# icon: none\n"), std::string::npos) << toml;
    EXPECT_EQ(toml.find("[version]"), std::string::npos) << toml;
    for (const char* line : lines) EXPECT_NE(toml.find(line), std::string::npos) << line << "\n" << toml;
  }
}

// Texts are read back in the code page the block records; a block without the
// record (or with one zanto-pack does not write) says so and packages without it.
TEST(Inspect, ReadsTextsInTheRecordedCodePage) {
  struct Case {
    std::map<int32_t, std::string> records;
    std::vector<std::string> lines;  // in the printed configuration
  };
  const Case cases[] = {
      {{{setting::CodePage, "1251"}, {setting::MainClass, "\xCF\xF0\xE8"}},
       {"codepage = 1251\n", "MainClass = \"\xD0\x9F\xD1\x80\xD0\xB8\"\n", "name = \"\xD0\x9F.jar\""}},
      {{{setting::CodePage, "932"}, {setting::MainClass, "\x93\xFA\x96\x7B"}},
       {"codepage = 932\n", "MainClass = \"\xE6\x97\xA5\xE6\x9C\xAC\"\n"}},
      {{{setting::MainClass, "\x80"}}, {"codepage = 0  # no CodePage record", "MainClass = \"\xE2\x82\xAC\"\n"}},
      {{{setting::CodePage, "437"}, {setting::MainClass, "x"}},
       {"codepage = 0", "\"30030\" = \"437\"  # CodePage: not a code page zanto-pack writes\n"}},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    BlockModel m;
    m.narrow = c.records;
    m.files = {{"\xCF.jar", {7}}};
    Bytes block = serializeBlock(m), image = test::sampleLauncher();
    image.insert(image.end(), block.begin(), block.end());
    std::string toml;
    EXPECT_EQ(repackage(image, dir, &toml), image);
    for (const auto& line : c.lines) EXPECT_NE(toml.find(line), std::string::npos) << line << "\n" << toml;
    EXPECT_EQ(toml.find("CodePage = "), std::string::npos) << toml;
  }
}

TEST(Inspect, ExtractsNoNameThatLeavesTheDirectory) {
  ScratchDir dir;
  for (const char* name : {"..\\evil.txt", "../evil.txt", "nul", "FINE.TXT"}) {
    BlockModel m;  // serializeBlock writes what modelProblem would refuse
    m.files = {{"fine.txt", {1}}, {name, {2}}};
    Bytes block = serializeBlock(m), image = test::sampleLauncher();
    image.insert(image.end(), block.begin(), block.end());
    std::string toml, error;
    std::filesystem::path out = dir / "out" / "deeper";
    EXPECT_FALSE(inspectLauncherCopy(image, "x.exe", &out, toml, error)) << name;
    EXPECT_NE(error.find("cannot extract"), std::string::npos) << error;
    EXPECT_EQ(dir.entries(), std::vector<std::string>()) << name;
    EXPECT_TRUE(inspectLauncherCopy(image, "x.exe", nullptr, toml, error)) << name;  // printing is fine
  }
}

TEST(Inspect, TomlStrings) {
  const std::pair<std::string, const char*> cases[] = {
      {"plain", "\"plain\""},
      {"q\"b\\", "\"q\\\"b\\\\\""},
      {std::string("\0\x01\x1F\x7F", 4), "\"\\u0000\\u0001\\u001F\\u007F\""},
      {"\t\r\n", "\"\\t\\r\\n\""},
      {"\xC2\x81\xC2\x9F\xC2\xA0\xC3\xA9", "\"\\u0081\\u009F\xC2\xA0\xC3\xA9\""},
  };
  for (const auto& [text, quoted] : cases) EXPECT_EQ(tomlString(text), quoted);
}

}  // namespace
}  // namespace zanto

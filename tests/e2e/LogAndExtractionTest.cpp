// The launcher's log (naming, header, lines), the extraction of included files (also
// from a signed copy), and the version information and icon of a packaged copy, run as
// real processes under Wine.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <unistd.h>

#include "LauncherFixture.h"
#include "Pack.h"
#include "Resources.h"
#include "PeLayout.h"
#include "Settings.h"

namespace zanto::e2e {
namespace {

namespace fs = std::filesystem;

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::vector<std::string> named(const std::string& dir, const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& n : listDirectory(dir))
    if (n.rfind(prefix, 0) == 0) out.push_back(n);
  return out;
}

TEST_F(LauncherTest, LogIsOnOnlyForExactlyYes) {
  std::string exe = package("log.exe", blockOf({{setting::ExecutableType, "4"}}));
  struct Case {
    const char* zanto;
    const char* velmora;
    bool on;
  } cases[] = {{nullptr, nullptr, false}, {"YES", nullptr, false}, {"yes ", nullptr, false},
               {"yesno", nullptr, false},  {nullptr, "yes", true},   {"yes", nullptr, true},
               {"no", "yes", true}};
  int i = 0;
  for (const Case& c : cases) {
    std::string tmp = scratch("tmp" + std::to_string(i++));
    Environment env{{"TMP", windowsPath(tmp)}, {"ZANTO_LOG", std::nullopt}, {"VELMORA_LOG", std::nullopt}};
    if (c.zanto) env["ZANTO_LOG"] = c.zanto;
    if (c.velmora) env["VELMORA_LOG"] = c.velmora;
    RunResult r = runUnderWine(exe, {}, env);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(named(tmp, kLogPrefix).size(), c.on ? 1u : 0u) << (c.zanto ? c.zanto : "-") << "/"
                                                              << (c.velmora ? c.velmora : "-");
  }
}

TEST_F(LauncherTest, LogHeaderAndLinesInTmp) {
  std::string exe = package("header.exe", blockOf({{setting::ExecutableType, "4"}}));
  std::string tmp = scratch("tmp");
  RunResult r = runUnderWine(exe, {}, {{"TMP", windowsPath(tmp)}, {"ZANTO_LOG", "yes"}});
  EXPECT_EQ(r.exitCode, 0);
  auto logs = named(tmp, kLogPrefix);
  ASSERT_EQ(logs.size(), 1u);
  // A random name nobody can make first, and a file closed to others (Wine gives
  // its access list as the Unix mode: nothing for "others" is no entry for Everyone).
  EXPECT_EQ(logs[0].rfind("vmr_nlog_", 0), 0u);
  EXPECT_EQ(logs[0].size(), 9u + 16u) << logs[0];
  EXPECT_EQ(logs[0].find_first_not_of("0123456789abcdef", 9), std::string::npos) << logs[0];
  EXPECT_EQ(fs::status(tmp + "/" + logs[0]).permissions() & fs::perms::others_all, fs::perms::none);
  std::string log = readText(tmp + "/" + logs[0]);
  EXPECT_EQ(log.rfind("Started executable " + windowsPath(exe) + " at ", 0), 0u) << log;
  size_t firstEnd = log.find("\r\n");
  ASSERT_NE(firstEnd, std::string::npos);
  // ctime's own newline, then the header's: an empty line follows the header.
  EXPECT_EQ(log.substr(firstEnd, 4), "\r\n\r\n");
  EXPECT_EQ(log.substr(firstEnd + 4), "extracting files\r\nIncluded files: 0\r\n");
}

// The log lives only in the account's TMP: without that folder there is none, and
// nothing is made on c:\, where anyone may have made the name first or read it.
TEST_F(LauncherTest, LogIsOffWhenTmpIsNoDirectory) {
  std::string exe = package("croot.exe", blockOf({{setting::ExecutableType, "4"}}));
  for (const std::string& old : named(driveC(), kLogPrefix)) fs::remove(driveC(old));
  RunResult r = runUnderWine(exe, {}, {{"TMP", "c:\\no-such-directory"}, {"ZANTO_LOG", "yes"}});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(named(driveC(), kLogPrefix), std::vector<std::string>{});
}

// Keeps a directory immutable while it lives: not even root can create files in
// it, which is how a drive root that nobody may write to looks to the launcher.
class ImmutableDirectory {
 public:
  explicit ImmutableDirectory(std::string dir) : dir_(std::move(dir)) { set("+i"); }
  ~ImmutableDirectory() { set("-i"); }
  ImmutableDirectory(const ImmutableDirectory&) = delete;
  ImmutableDirectory& operator=(const ImmutableDirectory&) = delete;

 private:
  void set(const char* flag) { EXPECT_EQ(std::system(("chattr " + std::string(flag) + " '" + dir_ + "'").c_str()), 0); }
  std::string dir_;
};

// Started by the control manager with no temporary folder it may write (its TMP
// gone, c:\, the Windows folder and its temp immutable): the privilege check
// fails the start where an administrator can see why, and shows no box.
TEST_F(LauncherTest, AServiceWithoutATemporaryFolderStopsWithItsCodeAndNoBox) {
  const std::string name = "zanto-e2e-notemp-" + std::to_string(::getpid());
  BlockModel model =
      blockOf({{setting::ApplicationName, name}, {setting::ExecutableType, "1"}, {setting::StartPending, "1"}});
  model.files.push_back({"a.txt", Bytes{'a'}});  // to be extracted: a temporary folder is needed
  const std::string exe = package("notemp.exe", model);
  ASSERT_EQ(runUnderWine(exe, {"/install"}).exitCode, 0);
  std::string userTemp;
  for (const std::string& user : listDirectory(driveC("users")))
    if (fs::is_directory(driveC("users/" + user + "/Temp"))) userTemp = driveC("users/" + user + "/Temp");
  ASSERT_FALSE(userTemp.empty());
  const std::string trace = std::string(std::getenv("ZANTO_WINEPREFIX")) + "/services.stderr";
  const uintmax_t traced = fs::exists(trace) ? fs::file_size(trace) : 0;
  RunResult status;
  {
    fs::rename(userTemp, userTemp + ".away");
    ImmutableDirectory root(driveC()), windows(driveC("windows")), windowsTemp(driveC("windows/temp"));
    RunResult start = runUnderWine(exe, {"/start"});
    EXPECT_EQ(start.exitCode, 0) << start.out;
    for (int i = 0; i < 100; ++i) {
      status = runUnderWine(exe, {"/status"});
      if (status.out.find(" is stopped ") != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  }
  fs::rename(userTemp + ".away", userTemp);
  runUnderWine(exe, {"/uninstall"});
  EXPECT_EQ(status.out, "Service '" + name +
                            "' is stopped (exit code 1066, service-specific exit code 1022).\r\n"
                            "I am sorry, but you must be at least Poweruser to run this program.\r\n\r\n");
  std::ifstream in(trace, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(traced));
  std::string since((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(since.find("Call user32.MessageBoxA("), std::string::npos) << "a service showed a message box";
  EXPECT_NE(since.find("Poweruser"), std::string::npos) << "no event was written";
}

// No fixed fall-back: a file someone left at c:\vmr_nlog is neither truncated nor
// written, and a report names no log when none was made.
TEST_F(LauncherTest, LogNeverTakesTheFixedNameOnDriveC) {
  // An extraction that fails (code 16) makes the launcher report, naming its log.
  BlockModel model = blockOf({{setting::ExecutableType, "4"},
                              {message::InternalError, "An internal error occurred (error code: %ERROR_CODE%)"},
                              {setting::IncludedFileCount, "1"},
                              {setting::IncludedFileNames, "..\\x"}});
  model.files = {{"placeholder", Bytes(3, 1)}};
  std::string exe = packageUnchecked("fixed.exe", model);
  std::string fixed = driveC("vmr_nlog");
  for (const std::string& old : named(driveC(), kLogPrefix)) fs::remove(driveC(old));
  writeFile(fixed, "a file someone else made");
  RunResult r = runUnderWine(exe, {}, {{"TMP", "c:\\no-such-directory"}, {"ZANTO_LOG", "yes"}});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("An internal error occurred (error code: 16)"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Log: "), std::string::npos) << r.err;
  EXPECT_EQ(readText(fixed), "a file someone else made");
  EXPECT_EQ(named(driveC(), kLogPrefix), std::vector<std::string>{"vmr_nlog"});
  fs::remove(fixed);

  // With a TMP, the report names the log made there.
  std::string tmp = scratch("tmp");
  r = runUnderWine(exe, {}, {{"TMP", windowsPath(tmp)}, {"ZANTO_LOG", "yes"}});
  EXPECT_EQ(r.exitCode, 1);
  auto logs = named(tmp, kLogPrefix);
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_NE(r.err.find("\r\n\r\nLog: " + windowsPath(tmp + "/" + logs[0]) + "\r\n"), std::string::npos) << r.err;
  EXPECT_NE(readText(tmp + "/" + logs[0]).find("Included files: 1"), std::string::npos);
}

Bytes pattern(size_t size) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(i * 7 + i / 251);
  b[0] = 0;
  if (size > 1) b[1] = kContentMask;  // stored as 0, must come back as the mask
  return b;
}

std::string extractionDir(const std::string& tmp) {
  auto dirs = named(tmp, "zto");
  EXPECT_EQ(dirs.size(), 1u);
  return dirs.empty() ? "" : tmp + "/" + dirs[0];
}

TEST_F(LauncherTest, ExtractsFilesWholeLargeOnesInChunks) {
  BlockModel model = blockOf({{setting::ExecutableType, "4"}});
  model.files = {{"big.jar", pattern(20000)}, {"empty.txt", {}}, {"small.bin", pattern(3)},
                 {"exact.bin", pattern(8192)}};
  std::string exe = package("files.exe", model);
  std::string tmp = scratch("tmp");
  RunResult r = runUnderWine(exe, {}, {{"TMP", windowsPath(tmp)}, {"ZANTO_LOG", "yes"}});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::string dir = extractionDir(tmp);
  const std::string leaf = dir.substr(dir.rfind('/') + 1);
  EXPECT_EQ(leaf.size(), 3u + 16 + 4) << leaf;  // zto, 16 random hex digits, _dir
  EXPECT_EQ(leaf.substr(leaf.size() - 4), "_dir") << leaf;
  EXPECT_EQ(listDirectory(dir), (std::vector<std::string>{"big.jar", "exact.bin", "small.bin"}))
      << "a file of size 0 is not created";
  for (const auto& f : model.files) {
    if (f.content.empty()) continue;
    std::string got = readText(dir + "/" + f.name);
    EXPECT_TRUE(got == std::string(f.content.begin(), f.content.end())) << f.name;
  }
  std::string log = readText(tmp + "/" + named(tmp, kLogPrefix).at(0));
  std::string winDir = windowsPath(dir);
  for (const std::string& line : std::vector<std::string>{"Included files: 4", "extracting " + winDir + "\\big.jar (size: 20000)",
                           "extracting " + winDir + "\\empty.txt (size: 0)", "extracting files done"})
    EXPECT_NE(log.find(line + "\r\n"), std::string::npos) << line << "\n" << log;
  EXPECT_NE(log.find("Temp dir: "), std::string::npos);
}

TEST_F(LauncherTest, CountAndNamesDecideWhatIsExtracted) {
  struct Case {
    const char* count;
    const char* names;
    std::vector<std::string> extracted;
  } cases[] = {{"2", "a.txt;b.txt;c.txt", {"a.txt", "b.txt"}},
               {"3", "a.txt;;b.txt", {"a.txt", "b.txt"}},
               {"0", "a.txt", {}}};
  int i = 0;
  for (const Case& c : cases) {
    BlockModel model = blockOf({{setting::ExecutableType, "4"}, {setting::IncludedFileCount, c.count},
                                {setting::IncludedFileNames, c.names}});
    model.files = {{"a.txt", pattern(10)}, {"b.txt", pattern(20)}, {"c.txt", pattern(30)}};
    std::string exe = packageUnchecked("count" + std::to_string(i) + ".exe", model);
    std::string tmp = scratch("tmp" + std::to_string(i++));
    RunResult r = runUnderWine(exe, {}, {{"TMP", windowsPath(tmp)}});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    if (c.extracted.empty()) {
      EXPECT_TRUE(named(tmp, "zto").empty()) << "nothing included: no directory";
      continue;
    }
    std::string dir = extractionDir(tmp);
    EXPECT_EQ(listDirectory(dir), c.extracted) << c.count << " " << c.names;
    EXPECT_EQ(readText(dir + "/b.txt").size(), 20u);
  }
}

TEST_F(LauncherTest, ExtractionFailuresEndWithTheirCodes) {
  const std::string internal = "An internal error occurred (error code: %ERROR_CODE%)";
  struct Case {
    const char* name;
    std::string fileName;
    std::string tmp;
    const char* code;
    const char* count = "1";
  } cases[] = {
      {"output cannot be created", "bad<name>.txt", "", "11"},
      {"name leaving the directory", "..\\escaped.txt", "", "16"},
      // The second file finds one of its name: it is never written into.
      {"file of the same name exists", "same.txt;same.txt", "", "11", "2"},
  };
  for (const Case& c : cases) {
    BlockModel model = blockOf({{setting::ExecutableType, "4"}, {message::InternalError, internal},
                                {setting::IncludedFileNames, c.fileName}, {setting::IncludedFileCount, c.count}});
    model.files = {{"placeholder", pattern(5)}, {"other", pattern(7)}};
    std::string exe = packageUnchecked("fail.exe", model);
    std::string tmp = c.tmp.empty() ? scratch("tmp") : c.tmp;
    RunResult r = runUnderWine(exe, {}, {{"TMP", windowsPath(tmp)}});
    EXPECT_EQ(r.exitCode, 1) << c.name;
    EXPECT_EQ(r.err, "An internal error occurred (error code: " + std::string(c.code) + ")\r\n") << c.name;
    EXPECT_FALSE(fs::exists(tmp + "/escaped.txt")) << c.name;
    if (std::string(c.count) == "2") {
      EXPECT_EQ(readText(extractionDir(tmp) + "/same.txt").size(), 5u);
    }
  }
}

// An icon image as Windows decodes it: a 32-bit bitmap of `size` pixels square
// (its header counts the mask's rows too) and the 1-bit mask, rows padded to 4 bytes.
IconImage bitmapIcon(uint8_t size) {
  IconImage image{size, size, 0, 1, 32, {}};
  Bytes& b = image.data;
  auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  put32(40), put32(size), put32(2u * size), put32(1 | 32 << 16);
  b.resize(40, 0);
  b.resize(40 + 4u * size * size, 0x80);
  b.resize(b.size() + (size + 31u) / 32 * 4 * size, 0);
  return image;
}

TEST_F(LauncherTest, PackagedVersionAndIconAsWindowsReadsThemAndTheCopyStillWorks) {
  std::string tmp = scratch("tmp");
  Bytes ico = iconFileBytes({bitmapIcon(32), bitmapIcon(16)});
  std::ofstream(dir_ + "/app.ico", std::ios::binary)
      .write(reinterpret_cast<const char*>(ico.data()), static_cast<std::streamsize>(ico.size()));
  Bytes jar = pattern(30000);
  std::ofstream(dir_ + "/app.jar", std::ios::binary)
      .write(reinterpret_cast<const char*>(jar.data()), static_cast<std::streamsize>(jar.size()));
  writeFile(dir_ + "/app.toml", R"([package]
runtime = false
icon = "app.ico"
[settings]
ApplicationName = "zanto-e2e-identity"
ExecutableType = 4
[version]
version = "1.4.2"
product = "Zanto \u20AC Probe"
company = "M\u00FCller GmbH"
copyright = "\u00A9 2026"
description = "Dienst \u65E5\u672C \U0001F600"
[[include]]
source = "app.jar"
)");
  BuildRequest request;
  request.config = dir_ + "/app.toml";
  request.output = dir_ + "/identity.exe";
  request.launcher = std::getenv("ZANTO_LAUNCHER");
  std::vector<std::string> warnings;
  std::string error;
  ASSERT_TRUE(buildPackage(request, warnings, error)) << error;
  std::string exe = request.output.string();

  RunResult query = runUnderWine(std::getenv("ZANTO_VERSIONQUERY"), {windowsPath(exe)});
  std::erase(query.out, '\r');
  EXPECT_EQ(query.out,
            "Fixed=1.4.2.0/1.4.2.0\n"
            "Translation=\\StringFileInfo\\040904b0\\\n"
            "CompanyName=M\xC3\xBCller GmbH\n"
            "FileDescription=Dienst \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80\n"
            "FileVersion=1.4.2\n"
            "InternalName=zanto-e2e-identity\n"
            "LegalCopyright=\xC2\xA9 2026\n"
            "OriginalFilename=zanto-e2e-identity.exe\n"
            "ProductName=Zanto \xE2\x82\xAC Probe\n"
            "ProductVersion=1.4.2\n"
            "Icons=1\n"
            "FirstIcon=large+small\n"
            "Checksum=valid\n")
      << query.err;

  // It still extracts its files, finds its block, installs and uninstalls.
  RunResult r = runUnderWine(exe, {}, {{"TMP", windowsPath(tmp)}});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(readText(extractionDir(tmp) + "/app.jar") == std::string(jar.begin(), jar.end()));
  r = runUnderWine(exe, {"/install"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  r = runUnderWine(exe, {"/status"});
  EXPECT_EQ(r.out, "Service 'zanto-e2e-identity' is stopped (exit code 1077, service-specific exit code 0).\r\n");
  r = runUnderWine(exe, {"/uninstall"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
}

TEST_F(LauncherTest, TwoLaunchersAtOnceExtractIntoTwoDirectories) {
  BlockModel model = blockOf({{setting::ExecutableType, "4"}});
  model.files = {{"app.jar", pattern(300000)}};
  std::string exe = package("twice.exe", model);
  std::string tmp = scratch("tmp");
  RunResult results[2];
  std::thread other([&] { results[1] = runUnderWine(exe, {}, {{"TMP", windowsPath(tmp)}}); });
  results[0] = runUnderWine(exe, {}, {{"TMP", windowsPath(tmp)}});
  other.join();
  EXPECT_EQ(results[0].exitCode, 0) << results[0].err;
  EXPECT_EQ(results[1].exitCode, 0) << results[1].err;
  auto dirs = named(tmp, "zto");
  ASSERT_EQ(dirs.size(), 2u);
  for (const auto& d : dirs) EXPECT_EQ(readText(tmp + "/" + d + "/app.jar").size(), 300000u) << d;
}

// A file that claims more bytes than lie before a signature's certificate
// table fails the extraction instead of taking the signature as its content.
TEST_F(LauncherTest, ExtractionStopsAtTheCertificateTable) {
  BlockModel model = blockOf({{setting::ExecutableType, "4"},
                              {message::InternalError, "An internal error occurred (error code: %ERROR_CODE%)"}});
  model.files = {{"a.bin", pattern(10)}};
  Bytes image;
  std::string error;
  ASSERT_TRUE(makeLauncherCopy(launcherImage(), model, image, error)) << error;
  image[image.size() - 10 - 4] = 40;  // the size record: 30 bytes more than it has
  image.resize((image.size() + 7) / 8 * 8, 0);
  MemorySource src(image.data(), image.size());
  PeInfo pe;
  ASSERT_TRUE(readPeInfo(src, &pe));
  ASSERT_NE(pe.securityEntry, 0);
  const uint32_t offset = static_cast<uint32_t>(image.size()), size = 64;
  for (int i = 0; i < 4; ++i) {
    image[pe.securityEntry + i] = static_cast<uint8_t>(offset >> (8 * i));
    image[pe.securityEntry + 4 + i] = static_cast<uint8_t>(size >> (8 * i));
  }
  image.resize(image.size() + size, 0x30);
  const std::string exe = dir_ + "/table.exe";
  std::ofstream(exe, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  std::string tmp = scratch("tmp");
  RunResult r = runUnderWine(exe, {}, {{"TMP", windowsPath(tmp)}});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "An internal error occurred (error code: 16)\r\n");
  std::string dir = extractionDir(tmp);
  EXPECT_FALSE(fs::exists(dir + "/a.bin"));
}

// A Linux command's exit status and its output (both streams).
int shell(const std::string& command, std::string* output = nullptr) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, n);
  int status = pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Signed after packaging, as a user signs: with osslsigncode and a certificate
// made here with openssl. The stand-in jvm.dll (not a JVM) ends with the
// application's status 7.
TEST_F(LauncherTest, SignedCopyRunsExtractsInspectsAndPackagesBackUnsigned) {
  const char* standins = std::getenv("ZANTO_STANDINS");
  ASSERT_NE(standins, nullptr) << "ZANTO_STANDINS names the stand-in runtimes";
  const std::string jdk = scratch("jdk");
  fs::create_directories(jdk + "/bin/client");
  fs::copy_file(std::string(standins) + "/java.exe", jdk + "/bin/java.exe");
  fs::copy_file(std::string(standins) + "/jvm.dll", jdk + "/bin/client/jvm.dll");
  writeFile(jdk + "/bin/client/standin-jvm.ini", "main=exit\nmain_delay_ms=0\nmain_exit_code=7\n");
  const std::string classes = scratch("classes");
  fs::create_directories(classes + "/com/zanto/runtime");
  writeFile(classes + "/com/zanto/runtime/WinLauncher.class", "\xCA\xFE\xBA\xBE");
  BlockModel model = blockOf({{setting::ApplicationName, "signed-app"},
                              {setting::JvmSearchSequence, "A" + windowsPath(jdk)},
                              {setting::MinJavaVersion, "1.6"},
                              {setting::ClassPath, "A1" + windowsPath(classes)},
                              {setting::MainClass, "com.example.Demo"},
                              {message::NoJvm, "no JVM"}});
  model.files = {{"notes.bin", pattern(5000)}};
  const std::string app = package("app.exe", model), signedApp = dir_ + "/signed.exe";

  std::string out;
  ASSERT_EQ(shell("cd '" + dir_ + "' && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout key.pem -out " +
                      "cert.pem -subj '/CN=zanto test signer/O=Zanto Tests'",
                  &out),
            0)
      << out;
  ASSERT_EQ(shell("osslsigncode sign -certs '" + dir_ + "/cert.pem' -key '" + dir_ + "/key.pem' -in '" + app +
                      "' -out '" + signedApp + "'",
                  &out),
            0)
      << out;
  EXPECT_EQ(shell("osslsigncode verify -CAfile '" + dir_ + "/cert.pem' -in '" + signedApp + "'", &out), 0) << out;
  EXPECT_NE(out.find("Signature verification: ok"), std::string::npos) << out;

  std::string tmp = scratch("tmp");
  RunResult r = runUnderWine(signedApp, {"/run"}, {{"TMP", windowsPath(tmp)}});
  EXPECT_EQ(r.exitCode, 7) << r.err;
  std::string dir = extractionDir(tmp);
  std::string got = readText(dir + "/notes.bin");
  EXPECT_TRUE(got == std::string(model.files[0].content.begin(), model.files[0].content.end()));
  std::string record = readText(jdk + "/bin/client/standin-jvm-record.txt");
  EXPECT_NE(record.find("[-Dzanto.tempDir=" + windowsPath(dir) + "]"), std::string::npos) << record;

  ASSERT_EQ(shell(std::string(ZANTO_PACK_EXE) + " inspect '" + signedApp + "' --extract '" + dir_ + "/files' > '" +
                      dir_ + "/again.toml'",
                  &out),
            0)
      << out;
  std::string toml = readText(dir_ + "/again.toml");
  EXPECT_NE(toml.find("# signed: Authenticode certificate table at offset "), std::string::npos) << toml;
  EXPECT_NE(toml.find(" signer \"CN=zanto test signer, O=Zanto Tests\"\n"), std::string::npos) << toml;
  EXPECT_EQ(toml.find("bytes behind the included file data"), std::string::npos) << "the table's alignment is no data";

  // Packaged again over the signed copy: the unsigned executable, byte for byte.
  const std::string again = dir_ + "/again.exe";
  ASSERT_EQ(shell(std::string(ZANTO_PACK_EXE) + " build '" + dir_ + "/again.toml' -o '" + again + "' --launcher '" +
                      signedApp + "'",
                  &out),
            0)
      << out;
  EXPECT_TRUE(readText(again) == readText(app));
  EXPECT_NE(shell("osslsigncode verify -in '" + again + "'", &out), 0);
  EXPECT_NE(out.find("No signature found"), std::string::npos) << out;
  // The linker's checksum, which packaging over a signed launcher restores.
  const Bytes& image = launcherImage();
  MemorySource src(image.data(), image.size());
  PeInfo pe;
  ASSERT_TRUE(readPeInfo(src, &pe));
  uint32_t stored = image[pe.checksumField] | image[pe.checksumField + 1] << 8 | image[pe.checksumField + 2] << 16 |
                    static_cast<uint32_t>(image[pe.checksumField + 3]) << 24;
  EXPECT_EQ(peChecksum(image.data(), image.size(), pe.checksumField), stored);
}

// A newcomer's path: init on a jar the JDK's tools made, one edit (the runtime's
// folder, the stand-in), build, install and start with parameters. The launcher
// hands the Java side the jar's main class and the parameters as given, in order.
TEST_F(LauncherTest, ServiceFromInitsConfigurationRunsMainWithItsArguments) {
  const Bytes& image = launcherImage();
  MemorySource src(image.data(), image.size());
  PeInfo pe;
  ASSERT_TRUE(readPeInfo(src, &pe));
  if (pe.machine != 0x8664) GTEST_SKIP() << "init configures the 64-bit launcher";
  const char* standins = std::getenv("ZANTO_STANDINS");
  ASSERT_NE(standins, nullptr) << "ZANTO_STANDINS names the stand-in runtimes";
  const std::string jdk = scratch("init-jdk"), app = scratch("init-app");
  fs::create_directories(jdk + "/bin/server");
  fs::copy_file(std::string(standins) + "/java.exe", jdk + "/bin/java.exe");
  fs::copy_file(std::string(standins) + "/jvm.dll", jdk + "/bin/server/jvm.dll");
  writeFile(jdk + "/bin/standin-java.ini", "stderr=openjdk version \"17.0.9\" 2023-10-17\\r\\n\n");
  writeFile(jdk + "/bin/server/standin-jvm.ini", "main=exit\nmain_delay_ms=0\nmain_exit_code=0\n");
  fs::create_directories(app + "/src/hello");
  writeFile(app + "/src/hello/Main.java", "package hello; public class Main { public static void main(String[] a) {} }");
  const std::string name = "zanto-e2e-init-" + std::to_string(::getpid()), tools = ZANTO_JDK_BIN;
  std::string out;
  ASSERT_EQ(shell("cd '" + app + "' && " + tools + "/javac -d classes src/hello/Main.java && " + tools +
                      "/jar --create --file " + name + ".jar --main-class hello.Main -C classes .",
                  &out),
            0)
      << out;
  ASSERT_EQ(shell(std::string(ZANTO_PACK_EXE) + " init '" + app + "/" + name + ".jar' -o '" + app + "/app.toml'", &out),
            0)
      << out;
  // The one edit: the search names the stand-in's folder instead of JAVA_HOME, the registry and PATH.
  std::string config = readText(app + "/app.toml");
  const std::string search = "search = [\"JAVA_HOME\", \"registry\", \"path\"]";
  const size_t at = config.find(search);
  ASSERT_NE(at, std::string::npos) << config;
  std::string folder = windowsPath(jdk);
  for (size_t i = 0; (i = folder.find('\\', i)) != std::string::npos; i += 2) folder.insert(i, "\\");
  config.replace(at, search.size(), "search = [\"" + folder + "\"]");
  writeFile(app + "/app.toml", config);
  const std::string exe = app + "/" + name + ".exe";
  ASSERT_EQ(shell(std::string(ZANTO_PACK_EXE) + " build '" + app + "/app.toml' -o '" + exe + "' --launcher '" +
                      std::getenv("ZANTO_LAUNCHER") + "' --runtime-jar '" + ZANTO_RUNTIME_JAR + "'",
                  &out),
            0)
      << out;

  ASSERT_EQ(runUnderWine(exe, {"/install"}).exitCode, 0);
  RunResult start = runUnderWine(driveC("windows/system32/sc.exe"), {"start", name, "one", "two words", "three"});
  RunResult status;
  for (int i = 0; i < 100; ++i) {
    status = runUnderWine(exe, {"/status"});
    if (status.out.find(" is stopped ") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  runUnderWine(exe, {"/uninstall"});
  EXPECT_EQ(start.exitCode, 0) << start.out;
  EXPECT_EQ(status.out.rfind("Service '" + name + "' is stopped (exit code 0,", 0), 0u) << status.out;
  std::vector<std::string> args;
  std::ifstream record(jdk + "/bin/server/standin-jvm-record.txt");
  for (std::string line; std::getline(record, line);)
    if (line.rfind("arg ", 0) == 0) args.push_back(line.substr(line.find(' ', 4) + 1));
  // The Java side's protocol: flags, the main class, two texts, a flag, then the
  // service's name and its start parameters.
  const std::vector<std::string> expected = {"[false]", "[hello.Main]", "[]",  "[]",          "[false]",
                                             "[" + name + "]", "[one]",  "[two words]", "[three]"};
  EXPECT_EQ(args, expected);
  EXPECT_TRUE(fs::is_directory(app + "/logs")) << "init's output log beside the executable";
}

// Wine's user is an administrator, so a launcher run by hand is privileged: its JVM
// options and the Java location come only from files that no one else may change
// (Wine gives a file's access list from its Unix mode: o+w is Everyone's write).
// A stand-in Java home whose main exits with 7 after `control`, and a class folder
// with the Java-side launcher class.
void makeStandinRuntime(const std::string& jdk, const std::string& classes, const std::string& control) {
  const char* standins = std::getenv("ZANTO_STANDINS");
  ASSERT_NE(standins, nullptr) << "ZANTO_STANDINS names the stand-in runtimes";
  fs::create_directories(jdk + "/bin/client");
  fs::copy_file(std::string(standins) + "/java.exe", jdk + "/bin/java.exe");
  fs::copy_file(std::string(standins) + "/jvm.dll", jdk + "/bin/client/jvm.dll");
  writeFile(jdk + "/bin/client/standin-jvm.ini", control + "main=exit\nmain_delay_ms=0\nmain_exit_code=7\n");
  fs::create_directories(classes + "/com/zanto/runtime");
  writeFile(classes + "/com/zanto/runtime/WinLauncher.class", "\xCA\xFE\xBA\xBE");
}

size_t occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST_F(LauncherTest, ConfigurationOthersMayChangeIsRefusedByName) {
  const std::string jdk = scratch("trust-jdk"), classes = scratch("trust-classes");
  makeStandinRuntime(jdk, classes, "");
  if (HasFatalFailure()) return;
  struct {
    const char* what;
    std::string search, file, content, used;
  } const cases[] = {
      {"JVM options file", "A" + windowsPath(jdk), "trust.vmoptions", "-Dfrom.file=1\n", "[-Dfrom.file=1]"},
      {"Java location file", "A" + windowsPath(dir_ + "/no-jdk"), ".velmora/pref_jre.cfg", windowsPath(jdk) + "\n",
       "created"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string exe = package("trust.exe", blockOf({{setting::JvmSearchSequence, c.search},
                                                          {setting::MinJavaVersion, "1.6"},
                                                          {setting::ClassPath, "A1" + windowsPath(classes)},
                                                          {setting::MainClass, "com.example.Demo"}}));
    const std::string file = dir_ + "/" + c.file;
    fs::create_directories(fs::path(file).parent_path());
    writeFile(file, c.content);
    const std::string record = jdk + "/bin/client/standin-jvm-record.txt";
    for (bool othersMayWrite : {false, true}) {
      fs::remove(record);
      fs::permissions(file, fs::perms::others_write,
                      othersMayWrite ? fs::perm_options::add : fs::perm_options::remove);
      RunResult r = runUnderWine(exe, {"/run"});
      if (othersMayWrite) {
        EXPECT_EQ(r.exitCode, 1);
        // Named as the launcher resolves its own folder: in lower case.
        std::string err = r.err, named = "The " + std::string(c.what) + " " + windowsPath(file) + " is not used";
        for (std::string* text : {&err, &named})
          for (char& ch : *text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_NE(err.find(named), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("may be changed by Everyone (S-1-1-0)"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(record)) << "the runtime was started";
      } else {
        EXPECT_EQ(r.exitCode, 7) << r.err;
        EXPECT_NE(readText(record).find(c.used), std::string::npos) << readText(record);
      }
    }
    fs::remove(file);
  }
  // install refuses a folder others may add files to (DLLs beside the executable).
  const std::string name = "zanto-e2e-openfolder-" + std::to_string(::getpid());
  const std::string exe = package("open.exe", blockOf({{setting::ApplicationName, name}}));
  fs::permissions(dir_, fs::perms::others_write, fs::perm_options::add);
  RunResult install = runUnderWine(exe, {"/install"});
  fs::permissions(dir_, fs::perms::others_write, fs::perm_options::remove);
  EXPECT_EQ(install.exitCode, 1);
  std::string said = install.out, expected = "Not installed: " + windowsPath(dir_) + " may be changed by Everyone";
  for (std::string* text : {&said, &expected})
    for (char& ch : *text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  EXPECT_EQ(said.rfind(expected, 0), 0u) << install.out;
  EXPECT_NE(install.out.find("icacls"), std::string::npos) << "it says how to fix it";
  EXPECT_EQ(runUnderWine(exe, {"/status"}).out, "Service '" + name + "' is not installed.\r\n");
}

// A log folder or file that others may change, or a log folder that is a link, is
// not written by a privileged launcher (under Wine every process is): it says so
// once and runs on without that log. Nothing where a link leads is written, rolled
// or deleted, though keep-N deletion would take the rolled files there.
TEST_F(LauncherTest, LogFoldersOthersMaySteerAreNotWritten) {
  const std::string jdk = scratch("log-jdk"), classes = scratch("log-classes");
  makeStandinRuntime(jdk, classes, "print_lines=60\n");
  if (HasFatalFailure()) return;
  const std::string exe = package("logs.exe", blockOf({{setting::JvmSearchSequence, "A" + windowsPath(jdk)},
                                                       {setting::MinJavaVersion, "1.6"},
                                                       {setting::ClassPath, "A1" + windowsPath(classes)},
                                                       {setting::MainClass, "com.example.Demo"},
                                                       {setting::OutputLog, "logs\\out.log"},
                                                       {setting::LogMode, "roll-by-size"},
                                                       {setting::LogSizeThreshold, "1K"},
                                                       {setting::LogKeepFiles, "1"},
                                                       {setting::ConsoleLog, "1"}}));
  const std::string logs = dir_ + "/logs", elsewhere = dir_ + "/elsewhere";
  const std::vector<std::string> planted = {"out.0001.log", "out.0002.log", "out.0003.log", "out.log"};
  enum class Setup { None, EveryoneFolder, EveryoneFile, Link };
  struct {
    const char* what;
    Setup setup;
    const char* why;
  } const cases[] = {
      {"a folder the launcher makes", Setup::None, nullptr},
      {"a folder Everyone may change", Setup::EveryoneFolder, "logs may be changed by Everyone (S-1-1-0)"},
      {"a log file Everyone may change", Setup::EveryoneFile, "out.log may be changed by Everyone (S-1-1-0)"},
      {"a folder that is a link to another", Setup::Link, "elsewhere"},
  };
  int run = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(logs);
    fs::remove_all(elsewhere);
    fs::create_directories(elsewhere);
    std::string where = logs;  // where the planted files lie
    if (c.setup == Setup::Link) {
      fs::create_directory_symlink(elsewhere, logs);
      where = elsewhere;
    } else if (c.setup != Setup::None) {
      fs::create_directories(logs);
    }
    if (c.setup != Setup::None)
      for (const std::string& name : planted) writeFile(where + "/" + name, "planted " + name);
    if (c.setup == Setup::EveryoneFolder) fs::permissions(logs, fs::perms::others_write, fs::perm_options::add);
    if (c.setup == Setup::EveryoneFile)
      fs::permissions(logs + "/out.log", fs::perms::others_write, fs::perm_options::add);
    const std::string tmp = scratch("log-tmp" + std::to_string(run++));
    RunResult r = runUnderWine(exe, {"/run"}, {{"TMP", windowsPath(tmp)}, {"ZANTO_LOG", "yes"}});
    EXPECT_EQ(r.exitCode, 7) << "main did not run: " << r.err;
    auto launcherLogs = named(tmp, kLogPrefix);
    ASSERT_EQ(launcherLogs.size(), 1u);
    const std::string launcherLog = readText(tmp + "/" + launcherLogs[0]);
    const std::string refusal = " is not written: ";
    std::vector<std::string> files = listDirectory(where);
    std::sort(files.begin(), files.end());
    if (c.setup == Setup::None) {
      EXPECT_EQ(r.err.find(refusal), std::string::npos) << r.err;
      // Rolled twice or more; one rolled file kept beside the current one.
      ASSERT_EQ(files.size(), 2u);
      EXPECT_EQ(files[1], "out.log");
      EXPECT_FALSE(readText(where + "/out.log").empty());
      continue;
    }
    EXPECT_EQ(occurrences(r.err, refusal), 1u) << r.err;
    EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
    EXPECT_EQ(occurrences(launcherLog, refusal), 1u) << launcherLog;
    EXPECT_EQ(files, planted);
    for (const std::string& name : planted) EXPECT_EQ(readText(where + "/" + name), "planted " + name) << name;
  }
  fs::remove_all(logs);
}

}  // namespace
}  // namespace zanto::e2e

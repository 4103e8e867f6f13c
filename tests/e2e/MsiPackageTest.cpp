// A service's MSI packages under Wine's msiexec, in one life: a quiet installation with
// an account, an upgrade, a refused downgrade and the removal. The packages are built by
// the packager (wixl) from the launcher under test and the custom-action DLL of the same
// build (ZANTO_MSI_ACTIONS); the service runs on the stand-in Java runtime.
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "LauncherFixture.h"
#include "Msi.h"

namespace zanto::e2e {
namespace {

namespace fs = std::filesystem;

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// The values below a registry key (its subkeys included), one "name type value" line
// each, as reg query prints them.
std::map<std::string, std::string> keyValues(const std::string& key, const char* view = "/reg:64") {
  RunResult r = runUnderWine("reg", {"query", key, "/s", view});
  std::map<std::string, std::string> values;
  std::string section;
  size_t start = 0;
  std::erase(r.out, '\r');
  while (start < r.out.size()) {
    size_t end = r.out.find('\n', start);
    if (end == std::string::npos) end = r.out.size();
    std::string line = r.out.substr(start, end - start);
    start = end + 1;
    if (line.rfind("HKEY_", 0) == 0)
      section = line;
    else if (line.rfind("    ", 0) == 0)
      values[section.substr(std::min(section.size(), key.size())) + ":" + line.substr(4)] = line;
  }
  return values;
}

std::string value(const std::map<std::string, std::string>& values, const std::string& name) {
  for (const auto& [key, line] : values)
    if (key.rfind(":" + name + " ", 0) == 0 || key.find(":" + name + "    ") != std::string::npos) {
      size_t type = line.find("REG_");
      size_t at = line.find("    ", type);
      return at == std::string::npos ? "" : line.substr(at + 4);
    }
  return "(none)";
}

class MsiPackageTest : public LauncherTest {
 protected:
  // Builds the package of `version` into DIR/VERSION.msi.
  std::string buildPackage(const std::string& version) {
    writeFile(dir_ + "/app.toml", config_ + "[version]\nversion = \"" + version + "\"\n" + identity_);
    MsiRequest request;
    request.build.config = dir_ + "/app.toml";
    request.build.output = dir_ + "/" + version + ".msi";
    request.build.launcher = std::getenv("ZANTO_LAUNCHER");
    request.actions = std::getenv("ZANTO_MSI_ACTIONS");
    std::vector<std::string> warnings;
    std::string error;
    EXPECT_TRUE(buildMsi(request, warnings, error)) << error;
    return request.build.output.string();
  }
  RunResult msiexec(const std::vector<std::string>& args) { return runUnderWine("msiexec", args, {}, 300); }
  std::string status() {
    RunResult r = runUnderWine(exe_, {"/status"});
    std::erase(r.out, '\r');
    return r.out;
  }
  bool waitUntilRunning() {
    for (int i = 0; i < 100; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(200)))
      if (status() == "Service '" + name_ + "' is running.\n") return true;
    return false;
  }
  // The products Windows Installer keeps registered under this product name.
  int registeredProducts() {
    int count = 0;
    for (const auto& [key, line] : keyValues("HKLM\\Software\\Classes\\Installer\\Products"))
      if (line.find("ProductName") != std::string::npos && line.find(product_) != std::string::npos) ++count;
    return count;
  }
  // The service's key and its event source: what install writes.
  std::map<std::string, std::string> registration() {
    auto values = keyValues("HKLM\\System\\CurrentControlSet\\Services\\" + name_);
    for (auto& kv : keyValues("HKLM\\System\\CurrentControlSet\\Services\\EventLog\\Application\\" + name_))
      values.insert({"event source" + kv.first, kv.second});
    return values;
  }

  std::string name_ = "zanto-e2e-msi-" + std::to_string(::getpid());
  std::string product_ = "Zanto MSI Probe " + std::to_string(::getpid());
  std::string config_, identity_, exe_;
};

TEST_F(MsiPackageTest, InstallUpgradeRefusedDowngradeAndRemoval) {
  const char* standins = std::getenv("ZANTO_STANDINS");
  ASSERT_NE(standins, nullptr) << "ZANTO_STANDINS names the stand-in runtimes";
  ASSERT_NE(std::getenv("ZANTO_MSI_ACTIONS"), nullptr) << "ZANTO_MSI_ACTIONS names the custom-action DLL";
  const std::string jdk = scratch("jdk");
  fs::create_directories(jdk + "/bin/client");
  fs::copy_file(std::string(standins) + "/java.exe", jdk + "/bin/java.exe");
  fs::copy_file(std::string(standins) + "/jvm.dll", jdk + "/bin/client/jvm.dll");
  // main blocks, as a server's does.
  writeFile(jdk + "/bin/client/standin-jvm.ini", "main=block\nmain_delay_ms=600000\n");
  const std::string classes = scratch("classes");
  fs::create_directories(classes + "/com/zanto/runtime");
  writeFile(classes + "/com/zanto/runtime/WinLauncher.class", "\xCA\xFE\xBA\xBE");
  fs::create_directories(dir_ + "/conf/sub");
  writeFile(dir_ + "/conf/app.properties", "a=1\n");
  writeFile(dir_ + "/conf/sub/more.txt", "more\n");
  auto tomlPath = [](std::string path) {
    std::string out;
    for (char c : path) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return out;
  };
  config_ = "[package]\nruntime = false\n[service]\nname = \"" + name_ +
            "\"\ndescription = \"zanto MSI probe\"\nstart = \"auto\"\n[settings]\nJvmSearchSequence = \"A" +
            tomlPath(windowsPath(jdk)) + "\"\nMinJavaVersion = \"1.6\"\nClassPath = \"A1" +
            tomlPath(windowsPath(classes)) + "\"\nMainClass = \"com.example.Demo\"\n";
  // A product of its own per run: a prefix that kept another run's packages changes nothing.
  char upgradeCode[40];
  std::snprintf(upgradeCode, sizeof upgradeCode, "3d0f6a52-8e1b-4c7a-9f25-%012x", static_cast<unsigned>(::getpid()));
  identity_ = "company = \"Zanto Tests\"\nproduct = \"" + product_ + "\"\n[msi]\nupgrade_code = \"" + upgradeCode +
              "\"\nfiles = [\"conf\"]\n";
  const std::string first = buildPackage("1.2.0"), second = buildPackage("1.3.0"), older = buildPackage("1.1.0");
  ASSERT_FALSE(HasFailure());

  const bool x64 = std::string(std::getenv("ZANTO_LAUNCHER")).find("x64") != std::string::npos;
  const std::string programFiles =
      x64 || !fs::exists(driveC("Program Files (x86)")) ? "Program Files" : "Program Files (x86)";
  const std::string manufacturerFolder = driveC(programFiles + "/Zanto Tests");
  const std::string folder = manufacturerFolder + "/" + product_;
  // Run by its C: path, as the package's custom action runs it (the Z: one is another
  // path to the service's control manager).
  exe_ = "C:\\" + programFiles + "\\Zanto Tests\\" + product_ + "\\" + name_ + ".exe";
  const char* view = x64 ? "/reg:64" : "/reg:32";
  const std::string remembered = "HKLM\\Software\\Zanto Tests\\" + product_;
  struct passwd* user = getpwuid(getuid());
  ASSERT_NE(user, nullptr);
  const std::string account = ".\\" + std::string(user->pw_name);
  const std::string password = "pw|msi-7c1e-not-to-be-kept";

  // A service of that name installed by hand from another folder, before there was a
  // package: the package's installation replaces it with its own.
  BuildRequest byHand;
  byHand.config = dir_ + "/app.toml";
  byHand.output = scratch("by-hand") + "/" + name_ + ".exe";
  byHand.launcher = std::getenv("ZANTO_LAUNCHER");
  std::vector<std::string> warnings;
  std::string error;
  ASSERT_TRUE(zanto::buildPackage(byHand, warnings, error)) << error;
  ASSERT_EQ(runUnderWine(byHand.output.string(), {"/install"}).exitCode, 0);

  // 1. A quiet installation with an account.
  RunResult r = msiexec({"/i", windowsPath(first), "/qn", "/l*v", windowsPath(dir_ + "/install.log"),
                         "SERVICE_ACCOUNT=" + account, "SERVICE_PASSWORD=" + password});
  ASSERT_EQ(r.exitCode, 0) << readText(dir_ + "/install.log");
  for (const char* file : {"", "/conf/app.properties", "/conf/sub/more.txt"}) {
    EXPECT_TRUE(fs::exists(folder + file)) << folder + file;
  }
  EXPECT_TRUE(waitUntilRunning()) << status();
  auto installed = registration();
  EXPECT_EQ(value(installed, "ObjectName"), account);
  EXPECT_EQ(value(installed, "Start"), "0x2");
  EXPECT_EQ(value(installed, "Description"), "zanto MSI probe");
  EXPECT_NE(value(installed, "EventMessageFile"), "(none)");
  auto choices = keyValues(remembered, view);
  EXPECT_EQ(value(choices, "ServiceAccount"), account);
  EXPECT_EQ(value(choices, "Version"), "001.002.00000");
  // Nowhere in the registry nor the installed files. (Wine's msiexec ignores
  // MsiHiddenProperties and writes it into its own log; Windows does not.)
  for (const char* root : {"HKLM", "HKCU"}) {
    const std::string exported = dir_ + "/" + root + ".reg";
    ASSERT_EQ(runUnderWine("reg", {"export", root, windowsPath(exported), "/y"}).exitCode, 0);
    std::string text = readText(exported), utf8;
    for (size_t i = 0; i + 1 < text.size(); i += 2) utf8 += text[i];  // reg export writes UTF-16
    EXPECT_EQ(utf8.find("msi-7c1e"), std::string::npos) << root;
    fs::remove(exported);
  }
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    EXPECT_EQ(readText(entry.path()).find("msi-7c1e"), std::string::npos) << entry.path();
  }

  // The same service as the executable's own install registers, value for value.
  ASSERT_EQ(runUnderWine(exe_, {"/stop"}).exitCode, 0);
  ASSERT_EQ(runUnderWine(exe_, {"/uninstall"}).exitCode, 0);
  r = runUnderWine(exe_, {"/install"}, {{"ZANTO_SERVICE_ACCOUNT", account}, {"ZANTO_SERVICE_PASSWORD", password}});
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(registration(), installed);
  ASSERT_EQ(runUnderWine(exe_, {"/start"}).exitCode, 0);
  ASSERT_TRUE(waitUntilRunning()) << status();

  // 2. The upgrade: the service stopped, the new executable in place, the same service
  // and account, running again; one product registered.
  const std::string record = jdk + "/bin/client/standin-jvm-record.txt";
  fs::remove(record);
  r = msiexec({"/i", windowsPath(second), "/qn", "/l*v", windowsPath(dir_ + "/upgrade.log")});
  ASSERT_EQ(r.exitCode, 0) << readText(dir_ + "/upgrade.log");
  EXPECT_TRUE(waitUntilRunning()) << status();
  RunResult query = runUnderWine(std::getenv("ZANTO_VERSIONQUERY"), {exe_});
  EXPECT_NE(query.out.find("FileVersion=1.3.0"), std::string::npos) << query.out;
  EXPECT_EQ(registration(), installed) << "the upgrade keeps the registration and its account";
  EXPECT_EQ(registeredProducts(), 1);
  EXPECT_EQ(value(keyValues(remembered, view), "Version"), "001.003.00000");
  for (int i = 0; i < 100 && readText(record).find("call [com/zanto/runtime/WinLauncher] [main]") == std::string::npos;
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_NE(readText(record).find("call [com/zanto/runtime/WinLauncher] [main]"), std::string::npos)
      << "main runs again: " << readText(record);

  // 3. A lower version is refused and changes nothing.
  r = msiexec({"/i", windowsPath(older), "/qn", "/l*v", windowsPath(dir_ + "/downgrade.log")});
  EXPECT_EQ(r.exitCode, 1603 & 0xFF) << "ERROR_INSTALL_FAILURE, as Wine's exit status keeps it";
  query = runUnderWine(std::getenv("ZANTO_VERSIONQUERY"), {exe_});
  EXPECT_NE(query.out.find("FileVersion=1.3.0"), std::string::npos) << query.out;
  EXPECT_EQ(status(), "Service '" + name_ + "' is running.\n");
  EXPECT_EQ(registeredProducts(), 1);

  // 4. The removal leaves no service, event source, file, folder or remembered choice.
  r = msiexec({"/x", windowsPath(second), "/qn", "/l*v", windowsPath(dir_ + "/remove.log")});
  ASSERT_EQ(r.exitCode, 0) << readText(dir_ + "/remove.log");
  EXPECT_TRUE(registration().empty());
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_FALSE(fs::exists(manufacturerFolder));
  EXPECT_TRUE(keyValues(remembered, view).empty());
  EXPECT_EQ(registeredProducts(), 0);
  RunResult gone = runUnderWine("sc", {"query", name_});
  EXPECT_EQ(gone.out.find("SERVICE_NAME"), std::string::npos) << gone.out;
}

}  // namespace
}  // namespace zanto::e2e

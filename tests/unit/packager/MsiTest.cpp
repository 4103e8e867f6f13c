// The msi command: the WiX source it writes, read back with expat and checked element
// by element; the configurations it refuses, each error with file and line; and the
// toolchain run (wixl, when installed) and its absence.
#include <expat.h>

#include <functional>
#include <map>

#include "Msi.h"
#include "PackConfig.h"
#include "TestSupport.h"

namespace zanto {
namespace {

using test::ScratchDir;

// An element of the source: its path of names from the root, attributes and text.
struct Element {
  std::string path;
  std::map<std::string, std::string> attributes;
  std::string text;
};

std::vector<Element> parseXml(const std::string& xml) {
  struct State {
    std::vector<Element> elements;
    std::vector<size_t> open;
    std::vector<std::string> names;
  } state;
  XML_Parser parser = XML_ParserCreate("UTF-8");
  XML_SetUserData(parser, &state);
  XML_SetElementHandler(
      parser,
      [](void* data, const XML_Char* name, const XML_Char** attributes) {
        auto& s = *static_cast<State*>(data);
        s.names.push_back(name);
        Element e;
        for (const std::string& n : s.names) e.path += (e.path.empty() ? "" : "/") + n;
        for (int i = 0; attributes[i]; i += 2) e.attributes[attributes[i]] = attributes[i + 1];
        s.open.push_back(s.elements.size());
        s.elements.push_back(std::move(e));
      },
      [](void* data, const XML_Char*) {
        auto& s = *static_cast<State*>(data);
        s.names.pop_back();
        s.open.pop_back();
      });
  XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* text, int length) {
    auto& s = *static_cast<State*>(data);
    if (!s.open.empty()) s.elements[s.open.back()].text.append(text, static_cast<size_t>(length));
  });
  bool ok = XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), 1) == XML_STATUS_OK;
  XML_ParserFree(parser);
  EXPECT_TRUE(ok) << xml;
  return state.elements;
}

// The elements at `path` whose attributes include all of `wanted`.
std::vector<const Element*> find(const std::vector<Element>& all, const std::string& path,
                                 const std::map<std::string, std::string>& wanted) {
  std::vector<const Element*> out;
  for (const Element& e : all) {
    if (e.path != path) continue;
    bool match = true;
    for (const auto& [k, v] : wanted) {
      auto it = e.attributes.find(k);
      match = match && it != e.attributes.end() && it->second == v;
    }
    if (match) out.push_back(&e);
  }
  return out;
}

constexpr char kService[] = R"(
[service]
name = "HelloService"
display_name = "Hello [Service]"
[version]
version = "2.5.17"
company = "Example & Sons"
product = "Hello [1]"
)";

struct MsiFixture : ::testing::Test {
  ScratchDir dir;
  PackConfig config;
  MsiModel model;
  std::vector<std::string> warnings;
  std::string error;

  bool modelOf(const std::string& toml, Arch arch = Arch::X64) {
    config = PackConfig();
    if (!parsePackConfig(toml, dir / "app.toml", config, error)) return false;
    return msiModel(config, arch, dir / "build" / "HelloService.exe", dir / "actions.dll", model, warnings, error);
  }
};

const std::string kRoot = "Wix/Product";
const std::string kFolder = kRoot + "/Directory/Directory/Directory/Directory";

TEST_F(MsiFixture, WixSourceElementByElement) {
  std::filesystem::create_directories(dir / "jre" / "bin");
  test::writeFile(dir / "jre" / "bin" / "java.dll", std::string("j"));
  test::writeFile(dir / "jre" / "release", std::string("r"));
  test::writeFile(dir / "app.properties", std::string("p"));
  ASSERT_TRUE(modelOf(std::string(kService) +
                      "[msi]\nupgrade_code = \"7f3c2a9e-51b0-4d6e-9a4b-2c8e1f0d3b57\"\nfolder = \"Hello Server\"\n"
                      "files = [\"jre\", \"app.properties\"]\n"))
      << error;
  model.sourceBase = dir / "build";
  const std::vector<Element> xml = parseXml(wixSource(model));
  const std::string code = "{7F3C2A9E-51B0-4D6E-9A4B-2C8E1F0D3B57}";
  const std::string service = "HelloService";
  struct Row {
    std::string path;
    std::map<std::string, std::string> attributes;
    const char* text;  // null: not compared
  } const rows[] = {
      {kRoot,
       {{"Name", "Hello [1]"}, {"Manufacturer", "Example & Sons"}, {"Version", "2.5.17"}, {"UpgradeCode", code}},
       nullptr},
      {kRoot + "/Package", {{"InstallScope", "perMachine"}, {"Compressed", "yes"}}, nullptr},
      {kRoot + "/Upgrade", {{"Id", code}}, nullptr},
      {kRoot + "/Upgrade/UpgradeVersion",
       {{"Minimum", "2.5.17"}, {"IncludeMinimum", "no"}, {"OnlyDetect", "yes"}, {"Property", "NEWERFOUND"}},
       nullptr},
      {kRoot + "/Upgrade/UpgradeVersion",
       {{"Maximum", "2.5.17"}, {"IncludeMaximum", "no"}, {"Property", "OLDERFOUND"}},
       nullptr},
      {kRoot + "/Condition", {}, "Installed OR (NOT NEWERFOUND AND NOT (ZANTO_INSTALLED_VERSION > \"002.005.00017\"))"},
      {kRoot + "/Property",
       {{"Id", "MsiHiddenProperties"}, {"Value", "SERVICE_PASSWORD;ZantoServiceInstall"}},
       nullptr},
      {kRoot + "/Property/RegistrySearch",
       {{"Key", "Software\\Example & Sons\\Hello (1)"}, {"Name", "InstallFolder"}, {"Win64", "yes"}},
       nullptr},
      {kRoot + "/Property/RegistrySearch", {{"Name", "ServiceAccount"}}, nullptr},
      {kRoot + "/Property/RegistrySearch", {{"Name", "Version"}}, nullptr},
      {kRoot + "/Binary", {{"Id", "ZantoActions"}, {"SourceFile", "../actions.dll"}}, nullptr},
      // The password is the last field: it may hold '|'.
      {kRoot + "/CustomAction",
       {{"Property", "ZantoServiceInstall"},
        {"Value", "1|" + service + "|[INSTALLFOLDER]" + service + ".exe|[SERVICE_ACCOUNT]|[SERVICE_PASSWORD]"}},
       nullptr},
      {kRoot + "/CustomAction",
       {{"Property", "ZantoServiceStop"}, {"Value", "1|" + code + "|[ProductCode]|" + service}},
       nullptr},
      {kRoot + "/CustomAction",
       {{"Property", "ZantoServiceRemove"}, {"Value", code + "|[ProductCode]|[INSTALLFOLDER]" + service + ".exe"}},
       nullptr},
      {kRoot + "/CustomAction",
       {{"Id", "ZantoServiceInstall"},
        {"DllEntry", "ZantoServiceInstall"},
        {"Execute", "deferred"},
        {"Impersonate", "no"},
        {"Return", "check"}},
       nullptr},
      {kRoot + "/CustomAction", {{"Id", "ZantoServiceStop"}, {"Execute", "deferred"}, {"Impersonate", "no"}}, nullptr},
      {kRoot + "/CustomAction",
       {{"Id", "ZantoServiceRemove"}, {"Execute", "deferred"}, {"Impersonate", "no"}},
       nullptr},
      {kRoot + "/CustomAction", {{"Id", "ZantoRemoveFolder"}, {"Execute", "deferred"}, {"Impersonate", "no"}}, nullptr},
      // Stop before the files change (InstallFiles 4000, RemoveFiles 3500), uninstall
      // while the executable is there, the folder after the files, install before
      // InstallFinalize (6600), the old version removed after it.
      {kRoot + "/InstallExecuteSequence/Custom", {{"Action", "ZantoServiceStop"}, {"Sequence", "1520"}}, ""},
      {kRoot + "/InstallExecuteSequence/Custom",
       {{"Action", "ZantoServiceRemove"}, {"Sequence", "1540"}},
       "REMOVE~=\"ALL\""},
      {kRoot + "/InstallExecuteSequence/Custom",
       {{"Action", "ZantoRemoveFolder"}, {"Sequence", "3520"}},
       "REMOVE~=\"ALL\""},
      {kRoot + "/InstallExecuteSequence/Custom",
       {{"Action", "ZantoServiceInstall"}, {"Sequence", "6590"}},
       "NOT REMOVE~=\"ALL\""},
      {kRoot + "/InstallExecuteSequence/RemoveExistingProducts", {{"After", "InstallFinalize"}}, nullptr},
      {kRoot + "/Directory/Directory", {{"Id", "ProgramFiles64Folder"}}, nullptr},
      {kRoot + "/Directory/Directory/Directory", {{"Id", "MANUFACTURERFOLDER"}, {"Name", "Example & Sons"}}, nullptr},
      {kFolder, {{"Id", "INSTALLFOLDER"}, {"Name", "Hello Server"}}, nullptr},
      {kFolder + "/Component/File",
       {{"Name", service + ".exe"}, {"Source", "HelloService.exe"}, {"KeyPath", "yes"}},
       nullptr},
      {kFolder + "/Component/RegistryValue",
       {{"Root", "HKLM"}, {"Name", "InstallFolder"}, {"Value", "[INSTALLFOLDER]"}},
       nullptr},
      {kFolder + "/Component/RegistryValue", {{"Name", "ServiceAccount"}, {"Value", "[SERVICE_ACCOUNT]"}}, nullptr},
      {kFolder + "/Component/RegistryValue", {{"Name", "Version"}, {"Value", "002.005.00017"}}, nullptr},
      {kFolder + "/Component/File", {{"Name", "app.properties"}, {"Source", "../app.properties"}}, nullptr},
      {kFolder + "/Directory", {{"Name", "jre"}}, nullptr},
      {kFolder + "/Directory/Component/File", {{"Name", "release"}, {"Source", "../jre/release"}}, nullptr},
      {kFolder + "/Directory/Directory", {{"Name", "bin"}}, nullptr},
      {kFolder + "/Directory/Directory/Component/File",
       {{"Name", "java.dll"}, {"Source", "../jre/bin/java.dll"}},
       nullptr},
  };
  for (const Row& row : rows) {
    std::string shown = row.path;
    for (const auto& [k, v] : row.attributes) shown += " " + k + "=" + v;
    std::vector<const Element*> found = find(xml, row.path, row.attributes);
    ASSERT_EQ(found.size(), 1u) << shown;
    if (row.text) {
      EXPECT_EQ(found[0]->text, row.text) << shown;
    }
  }
  // Every component is in the feature, once; each file is a component of its own.
  std::vector<const Element*> components;
  for (const Element& e : xml) {
    if (e.path.size() > 10 && e.path.compare(e.path.size() - 10, 10, "/Component") == 0) components.push_back(&e);
  }
  ASSERT_EQ(components.size(), 5u);
  EXPECT_EQ(find(xml, kRoot + "/Feature/ComponentRef", {}).size(), components.size());
  for (const Element* c : components) {
    EXPECT_EQ(find(xml, kRoot + "/Feature/ComponentRef", {{"Id", c->attributes.at("Id")}}).size(), 1u);
    EXPECT_EQ(c->attributes.at("Win64"), "yes");
  }
  // Brackets in a name are no property references: the message shows the name as it is.
  std::vector<const Element*> condition = find(xml, kRoot + "/Condition", {});
  EXPECT_NE(condition[0]->attributes.at("Message").find("A newer version of Hello [\\[]1[\\]] is installed"),
            std::string::npos)
      << condition[0]->attributes.at("Message");

  // The next version: another product, the same components (which an upgrade then
  // replaces in place); x86: the 32-bit Program Files, no 64-bit components.
  std::map<std::string, std::string> guids;
  for (const Element* c : components) {
    guids[c->attributes.at("Id")] = c->attributes.at("Guid");
  }
  const std::string productCode = model.productCode;
  std::string next = std::string(kService);
  next.replace(next.find("2.5.17"), 6, "2.6.0");
  ASSERT_TRUE(
      modelOf(next + "[msi]\nupgrade_code = \"" + code + "\"\nfiles = [\"jre\", \"app.properties\"]\n", Arch::X86))
      << error;
  EXPECT_NE(model.productCode, productCode);
  EXPECT_EQ(canonicalGuid(model.productCode), model.productCode);
  const std::vector<Element> x86 = parseXml(wixSource(model));
  EXPECT_EQ(find(x86, kRoot + "/Directory/Directory", {{"Id", "ProgramFilesFolder"}}).size(), 1u);
  EXPECT_EQ(find(x86, kFolder, {{"Id", "INSTALLFOLDER"}, {"Name", "Hello [1]"}}).size(), 1u) << "folder: the product";
  for (const Element& e : x86) {
    EXPECT_EQ(e.attributes.count("Win64"), 0u) << e.path;
  }
  ASSERT_TRUE(modelOf(next + "[msi]\nupgrade_code = \"" + code + "\"\nfiles = [\"jre\", \"app.properties\"]\n"))
      << error;
  for (const Element& e : parseXml(wixSource(model))) {
    if (e.path.size() > 10 && e.path.compare(e.path.size() - 10, 10, "/Component") == 0) {
      EXPECT_EQ(e.attributes.at("Guid"), guids[e.attributes.at("Id")]) << e.attributes.at("Id");
    }
  }
}

TEST_F(MsiFixture, DefaultsFromVersionAndService) {
  struct {
    std::string toml;
    const char *product, *manufacturer, *folder;
    bool start;
  } const cases[] = {
      {std::string(kService) + "[msi]\nupgrade_code = \"{7f3c2a9e-51b0-4d6e-9a4b-2c8e1f0d3b57}\"\n", "Hello [1]",
       "Example & Sons", "Hello [1]", true},
      {"[service]\nname = \"svc\"\ndisplay_name = \"Shown\"\n[version]\nversion = \"1.0\"\n[msi]\n"
       "upgrade_code = \"7f3c2a9e-51b0-4d6e-9a4b-2c8e1f0d3b57\"\nmanufacturer = \"M\"\nstart = false\n",
       "Shown", "M", "Shown", false},
      {"[service]\nname = \"svc\"\n[version]\nversion = \"1.0\"\ncompany = \"C\"\n[msi]\n"
       "upgrade_code = \"7f3c2a9e-51b0-4d6e-9a4b-2c8e1f0d3b57\"\nproduct = \"P\"\nfolder = \"F\"\n",
       "P", "C", "F", true},
      {"[service]\nname = \"svc\"\n[version]\nversion = \"1.0\"\ncompany = \"C\"\n[msi]\n"
       "upgrade_code = \"7f3c2a9e-51b0-4d6e-9a4b-2c8e1f0d3b57\"\n",
       "svc", "C", "svc", true},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(modelOf(c.toml)) << error;
    EXPECT_EQ(model.product, c.product) << c.toml;
    EXPECT_EQ(model.manufacturer, c.manufacturer) << c.toml;
    EXPECT_EQ(model.folder, c.folder) << c.toml;
    EXPECT_EQ(model.start, c.start) << c.toml;
    EXPECT_EQ(model.upgradeCode, "{7F3C2A9E-51B0-4D6E-9A4B-2C8E1F0D3B57}");
  }
  // The fourth number is not compared by Windows Installer: a warning.
  ASSERT_TRUE(
      modelOf("[service]\nname = \"svc\"\n[version]\nversion = \"1.2.3.4\"\ncompany = \"C\"\n[msi]\n"
              "upgrade_code = \"7f3c2a9e-51b0-4d6e-9a4b-2c8e1f0d3b57\"\n"))
      << error;
  EXPECT_EQ(model.version, "1.2.3");
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("app.toml:3: version 1.2.3.4: Windows Installer compares only the first three"),
            std::string::npos)
      << warnings[0];
}

TEST_F(MsiFixture, RefusedConfigurationsNameFileAndLine) {
  const std::string head = "[service]\nname = \"svc\"\n[version]\nversion = \"1.0\"\ncompany = \"C\"\n";
  const std::string code = "upgrade_code = \"7f3c2a9e-51b0-4d6e-9a4b-2c8e1f0d3b57\"\n";
  struct {
    std::string toml;
    std::vector<const char*> messages;
  } const cases[] = {
      {head,
       {"app.toml:1: an MSI needs an [msi] table with upgrade_code, the GUID that ties the versions of one "
        "product together: make one once (uuidgen, or [guid]::NewGuid() in PowerShell), such as upgrade_code = "}},
      {head + "[msi]\nproduct = \"P\"\n",
       {"app.toml:6: [msi] needs upgrade_code", "and keep it for every later version"}},
      {head + "[msi]\nupgrade_code = \"7f3c2a9e-51b0-4d6e-9a4b-2c8e1f0d3b5\"\n",
       {"app.toml:7: upgrade_code \"7f3c2a9e-51b0-4d6e-9a4b-2c8e1f0d3b5\" is not a GUID"}},
      {head + "[msi]\nupgrade_code = \"{7f3c2a9e-51b0-4d6e-9a4b+2c8e1f0d3b57}\"\n", {"app.toml:7: upgrade_code "}},
      {head + "[msi]\nupgrade_code = \"7f3c2a9e-51b0-4d6e-9a4b-2c8e1f0d3b57}\"\n", {"app.toml:7: upgrade_code "}},
      {"[service]\nname = \"svc\"\n[msi]\nmanufacturer = \"M\"\n" + code,
       {"app.toml:1: an MSI needs [version] version, which Windows Installer compares for upgrades"}},
      {"[service]\nname = \"svc\"\n[version]\nversion = \"256.1\"\ncompany = \"C\"\n[msi]\n" + code,
       {"app.toml:3: version 256.1: Windows Installer takes at most 255 for the first two numbers"}},
      {"[service]\nname = \"svc\"\n[version]\nversion = \"1.0\"\n[msi]\n" + code,
       {"app.toml:5: an MSI needs a manufacturer: [msi] manufacturer or [version] company"}},
      {"[version]\nversion = \"1.0\"\ncompany = \"C\"\n[msi]\n" + code,
       {"app.toml:1: an MSI installs a service: give its name ([service] name)"}},
      {head + "[msi]\n" + code + "strat = true\n",
       {"app.toml:8: unknown key 'strat' in [msi] (did you mean 'start'?)"}},
      {head + "[msi]\n" + code + "start = \"yes\"\n", {"app.toml:8: start must be a boolean, not a string"}},
      {head + "[msi]\n" + code + "folder = \"a\\\\b\"\n", {"app.toml:8: folder must be one folder name"}},
      {head + "[msi]\n" + code + "files = [\"conf\",\n  \"missing.txt\"]\n",
       {"app.toml:9: files: ", "missing.txt does not exist"}},
      {head + "[msi]\n" + code + "files = \"conf\"\n", {"app.toml:8: files must be an array"}},
      {head + "[msi]\n" + code + "files = [\"svc.exe\"]\n", {"would be installed twice (or over svc.exe)"}},
  };
  std::filesystem::create_directories(dir / "conf");
  test::writeFile(dir / "conf" / "a.txt", std::string("a"));
  test::writeFile(dir / "svc.exe", std::string("x"));
  for (const auto& c : cases) {
    EXPECT_FALSE(modelOf(c.toml)) << c.toml;
    for (const char* m : c.messages) EXPECT_NE(error.find(m), std::string::npos) << error;
  }
  // The GUID offered for a missing upgrade code is one, and new each time.
  ASSERT_FALSE(modelOf(head));
  const size_t at = error.find("upgrade_code = \"") + 16;
  const std::string offered = error.substr(at, 36);
  EXPECT_EQ(canonicalGuid(offered).size(), 38u) << error;
  ASSERT_FALSE(modelOf(head));
  EXPECT_EQ(error.find(offered), std::string::npos);
}

// The command itself with Debian's wixl (install-deps.sh installs it), and without any
// toolchain on PATH.
TEST(MsiCommand, BuildsWithWixlAndSaysWhatToInstallWithoutIt) {
  ScratchDir dir;
  test::writeFile(dir / "launcher.exe", test::sampleLauncher(false));
  test::writeFile(dir / "actions.dll", test::sampleLauncher(false));
  test::writeFile(dir / "rt.jar", std::string("rt"));
  test::writeFile(dir / "app.toml",
                  std::string(kService) + "[msi]\nupgrade_code = \"7f3c2a9e-51b0-4d6e-9a4b-2c8e1f0d3b57\"\n");
  const std::string args = " msi " + (dir / "app.toml").string() + " -o " + (dir / "app.msi").string() +
                           " --launcher " + (dir / "launcher.exe").string() + " --runtime-jar " +
                           (dir / "rt.jar").string() + " --actions " + (dir / "actions.dll").string() + " 2>" +
                           (dir / "err").string();
  auto errors = [&] {
    Bytes b = test::readFile(dir / "err");
    return std::string(b.begin(), b.end());
  };
  test::writeFile(dir / "app.msi", std::string("earlier package"));
  int status = std::system(("PATH=/nonexistent " + std::string(ZANTO_PACK_EXE) + args).c_str());
  EXPECT_NE(WEXITSTATUS(status), 0);
  EXPECT_NE(errors().find("no MSI toolchain found on PATH: install wixl (Debian and Ubuntu: apt-get install wixl"),
            std::string::npos)
      << errors();
  EXPECT_EQ(test::readFile(dir / "app.msi"), test::bytesOf("earlier package"));
  EXPECT_EQ(dir.entries(),
            (std::vector<std::string>{"actions.dll", "app.msi", "app.toml", "err", "launcher.exe", "rt.jar"}))
      << "the scratch folder is gone";
  status = std::system((std::string(ZANTO_PACK_EXE) + args).c_str());
  ASSERT_EQ(WEXITSTATUS(status), 0) << errors();
  // msiinfo (msitools) reads the package back: what Windows Installer will see.
  const std::string property = (dir / "property").string();
  ASSERT_EQ(std::system(("msiinfo export " + (dir / "app.msi").string() + " Property >" + property).c_str()), 0);
  Bytes table = test::readFile(property);
  const std::string text(table.begin(), table.end());
  for (const char* row : {"ProductVersion\t2.5.17", "UpgradeCode\t{7F3C2A9E-51B0-4D6E-9A4B-2C8E1F0D3B57}",
                          "MsiHiddenProperties\tSERVICE_PASSWORD;ZantoServiceInstall", "ALLUSERS\t1"})
    EXPECT_NE(text.find(row), std::string::npos) << row << "\n" << text;
  // An executable given with --exe must be this configuration's service.
  test::writeFile(dir / "other.toml", std::string("[service]\nname = \"other\"\n"));
  ASSERT_EQ(std::system((std::string(ZANTO_PACK_EXE) + " build " + (dir / "other.toml").string() + " -o " +
                         (dir / "other.exe").string() + " --launcher " + (dir / "launcher.exe").string() +
                         " --runtime-jar " + (dir / "rt.jar").string())
                            .c_str()),
            0);
  status = std::system((std::string(ZANTO_PACK_EXE) + args + " --exe " + (dir / "other.exe").string()).c_str());
  EXPECT_NE(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace zanto

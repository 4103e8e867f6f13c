// The opt-in rules for today's Java runtimes under Wine: any vendor's -version
// line and numeric limits, the version from a runtime's release file without a
// child process, and the wider registry search over each vendor's key layout in
// both registry views. Without the settings the specified search must stay.
#include <cstring>

#include "ConfigBlock.h"
#include "JavaCheck.h"
#include "JvmLocateSupport.h"
#include "Settings.h"
#include "WinLoader.h"

namespace zanto::jvmtest {
namespace {

constexpr bool k64 = sizeof(void*) == 8;
constexpr RegistryView kOwnView = k64 ? RegistryView::Bits64 : RegistryView::Bits32;
constexpr RegistryView kOtherView = k64 ? RegistryView::Bits32 : RegistryView::Bits64;

// Where installers register a runtime: <key>\<subkey>[\<below>], value <value>.
struct Layout {
  const wchar_t* key;
  const wchar_t* subkey;
  const wchar_t* below;
  const wchar_t* value;
  const char* version;  // what the runtime's java.exe says
};

const Layout kLayouts[] = {
    {L"SOFTWARE\\JavaSoft\\JDK", L"17.0.2", L"", L"JavaHome", "17.0.2"},
    {L"SOFTWARE\\JavaSoft\\JRE", L"11.0.21", L"", L"JavaHome", "11.0.21"},
    {L"SOFTWARE\\Eclipse Adoptium\\JDK", L"17.0.9.9", L"hotspot\\MSI", L"Path", "17.0.9"},
    {L"SOFTWARE\\Eclipse Adoptium\\JRE", L"21.0.1.12", L"hotspot\\MSI", L"Path", "21.0.1"},
    {L"SOFTWARE\\AdoptOpenJDK\\JDK", L"11.0.11.9", L"hotspot\\MSI", L"Path", "11.0.11"},
    {L"SOFTWARE\\AdoptOpenJDK\\JRE", L"8.0.292.10", L"hotspot\\MSI", L"Path", "1.8.0_292"},
    {L"SOFTWARE\\Microsoft\\JDK", L"21.0.2.13", L"hotspot\\MSI", L"Path", "21.0.2"},
    {L"SOFTWARE\\Azul Systems\\Zulu", L"zulu-17", L"", L"InstallationPath", "17.0.10"},
};

// Only what the tests write: SOFTWARE\Microsoft itself is left alone.
const wchar_t* const kVendorTrees[] = {L"SOFTWARE\\Eclipse Adoptium", L"SOFTWARE\\AdoptOpenJDK",
                                       L"SOFTWARE\\Microsoft\\JDK", L"SOFTWARE\\Azul Systems"};

std::wstring keyOf(const Layout& l) {
  std::wstring key = std::wstring(l.key) + L"\\" + l.subkey;
  if (*l.below) key += std::wstring(L"\\") + l.below;
  return key;
}

class ModernJavaTest : public JvmLocateTest {
 public:
  void SetUp() override {
    JvmLocateTest::SetUp();
    clearVendors();
  }
  void TearDown() override {
    clearVendors();
    JvmLocateTest::TearDown();
  }
  static void clearVendors() {
    for (RegistryView view : {RegistryView::Bits32, RegistryView::Bits64})
      for (const wchar_t* tree : kVendorTrees) deleteRegistryTree(HKEY_LOCAL_MACHINE, tree, view);
  }
  void allRules(bool on) {
    for (int32_t id :
         {setting::NumericVersionCheck, setting::ReleaseFileVersion, setting::WideRegistrySearch})
      setSetting(id, on ? "1" : "0");
  }
  // A home whose java.exe prints an OpenJDK line, registered as an installer would
  // (with a trailing backslash).
  JavaHome registered(const Layout& l, const std::wstring& name, RegistryView view) {
    JavaHome home(dir_ / name);
    home.addJava();
    home.setVersionOutput(L"bin",
                          std::string("openjdk version \"") + l.version + "\" 2024-01-16\n");
    EXPECT_TRUE(
        setRegistryString(HKEY_LOCAL_MACHINE, keyOf(l), l.value, home.root() + L"\\", view));
    return home;
  }
  JvmOrigin search(std::string* exe) {
    static char javaExe[kTextBufferSize], location[kTextBufferSize];
    javaExe[0] = location[0] = '\0';
    markLog();
    JvmOrigin origin = searchJvm(javaExe, location);
    *exe = lower(javaExe);
    return origin;
  }
};

TEST_F(ModernJavaTest, EachVendorLayoutIsReadInTheLaunchersViewOnly) {
  allRules(true);
  setSetting(setting::JvmSearchSequence, "Y");
  int n = 0;
  for (const Layout& l : kLayouts) {
    for (RegistryView view : {kOwnView, kOtherView}) {
      const bool own = view == kOwnView;
      SCOPED_TRACE(narrow(keyOf(l)) + (own ? " in the launcher's view" : " in the other view"));
      clearJavaSoft(RegistryView::Bits32);
      clearJavaSoft(RegistryView::Bits64);
      clearVendors();
      JavaHome home = registered(l, L"h" + std::to_wstring(n++), view);
      std::string exe;
      JvmOrigin origin = search(&exe);
      auto log = newLog();
      const std::string javaExe = fullLow(home.path(L"bin\\java.exe"));
      if (own) {
        EXPECT_EQ(origin, ORIGIN_REGISTRY);
        EXPECT_EQ(exe, javaExe);
        EXPECT_TRUE(containsInOrder(
            log,
            {"Testing registry key " + narrow(keyOf(l)),
             "got version from execution " + std::string(l.version), "checkJavaExe returning 1",
             "Registry candidate " + javaExe + " (version " + l.version + ") from " +
                 narrow(keyOf(l)),
             "Using registry runtime " + javaExe + " from " + narrow(keyOf(l))}));
      } else {
        EXPECT_EQ(origin, ORIGIN_NONE);
        for (const auto& line : log)
          EXPECT_EQ(line.find("Testing registry key"), std::string::npos);
        EXPECT_TRUE(home.javaCalls().empty());
      }
    }
  }
}

// One runtime per source; the limits decide which is the newest acceptable one.
TEST_F(ModernJavaTest, NewestAcceptableRuntimeOfAllLayoutsWins) {
  JavaHome classic(dir_ / L"classic");
  classic.addJava();
  classic.setVersionOutput(L"bin", "openjdk version \"1.8.0_392\"\n");
  addJavaSoftVersion(kJavaSoftJre, L"1.8.0_392", classic.root());
  JavaHome jdk17 = registered(kLayouts[0], L"jdk17", kOwnView);      // JavaSoft\JDK 17.0.2
  JavaHome temurin = registered(kLayouts[3], L"temurin", kOwnView);  // Adoptium JRE 21.0.1
  JavaHome zulu = registered(kLayouts[7], L"zulu", kOwnView);        // Zulu 17.0.10
  JavaHome oldAdopt = registered(kLayouts[5], L"adopt8", kOwnView);  // AdoptOpenJDK JRE 8u292
  struct Case {
    const char *min, *max;
    const JavaHome* winner;
    const char* from;
  };
  const std::string adoptiumKey = narrow(keyOf(kLayouts[3]));
  const Case cases[] = {
      {"", "", &temurin, "SOFTWARE\\Eclipse Adoptium\\JRE\\21.0.1.12\\hotspot\\MSI"},
      {"1.8", "17", &zulu, "SOFTWARE\\Azul Systems\\Zulu\\zulu-17"},
      {"17", "17.0.2", &jdk17, "SOFTWARE\\JavaSoft\\JDK\\17.0.2"},
      {"1.8", "1.8", &classic, "SOFTWARE\\JavaSoft"},  // 1.8.0_392 beats 8u292
      {"8.0.300", "8", &classic, "SOFTWARE\\JavaSoft"},
      {"22", "", nullptr, ""},
  };
  allRules(true);
  setSetting(setting::JvmSearchSequence, "Y");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("[") + c.min + ", " + c.max + "]");
    setSetting(setting::MinJavaVersion, c.min);
    setSetting(setting::MaxJavaVersion, c.max);
    std::string exe;
    JvmOrigin origin = search(&exe);
    if (!c.winner) {
      EXPECT_EQ(origin, ORIGIN_NONE);
      continue;
    }
    EXPECT_EQ(origin, ORIGIN_REGISTRY);
    EXPECT_EQ(exe, fullLow(c.winner->path(L"bin\\java.exe")));
    EXPECT_TRUE(contains(newLog(), "Using registry runtime " + exe + " from " + c.from));
  }
  // The located-runtime list still wins a tie, as in the specified search.
  addLocatedJvm(HKEY_CURRENT_USER, temurin.path(L"bin\\java.exe"));
  setSetting(setting::MinJavaVersion, "21");
  setSetting(setting::MaxJavaVersion, "");
  std::string exe;
  EXPECT_EQ(search(&exe), ORIGIN_REGISTRY);
  EXPECT_TRUE(contains(newLog(), "Using registry runtime " + exe + " from the located runtimes"));
}

// A block without the settings (written by another tool) keeps the specified search:
// the newer keys are never read, and OpenJDK's line gives no version.
TEST_F(ModernJavaTest, WithoutTheSettingsTheSpecifiedSearchStays) {
  JavaHome openjdk(dir_ / L"openjdk");
  openjdk.addJava();
  openjdk.setVersionOutput(L"bin", "openjdk version \"17.0.9\" 2023-10-17\n");
  openjdk.writeRelease("17.0.9");
  addJavaSoftVersion(kJavaSoftJre, L"17.0.9", openjdk.root());
  std::vector<JavaHome> vendors;
  for (size_t i = 0; i < std::size(kLayouts); ++i)
    vendors.push_back(registered(kLayouts[i], L"v" + std::to_wstring(i), kOwnView));
  setSetting(setting::JvmSearchSequence, "Y");
  for (bool explicitOff : {false, true}) {
    SCOPED_TRACE(explicitOff ? "settings 0" : "settings absent");
    if (explicitOff) allRules(false);
    clearVersionCache();
    std::string exe;
    EXPECT_EQ(search(&exe), ORIGIN_NONE);
    auto log = newLog();
    EXPECT_TRUE(containsInOrder(log, {"Testing location  (type Y)", "Exit Code 0",
                                      "couldn't get version", "Search sequence finished"}));
    for (const auto& line : log) {
      EXPECT_EQ(line.find("Testing registry key"), std::string::npos) << line;
      EXPECT_EQ(line.find("release file"), std::string::npos) << line;
    }
    for (const auto& home : vendors) EXPECT_TRUE(home.javaCalls().empty());
  }
  EXPECT_EQ(openjdk.javaCalls().size(), 2u);
}

// Cold cache, every runtime with a release file and one in each source: versions
// come from the files, no java.exe is started, and the next search takes them
// from the cache.
TEST_F(ModernJavaTest, ColdSearchOverReleaseFilesStartsNoChild) {
  struct Home {
    const wchar_t* name;
    const wchar_t* bin;
    const char* version;  // in the release file
    Layout where;
  };
  const Home homes[] = {
      // JDK 8 layout: release in the home, not in jre.
      {L"jdk8",
       L"jre\\bin",
       "1.8.0_392",
       {L"SOFTWARE\\JavaSoft\\Java Development Kit", L"1.8.0_392", L"", L"JavaHome", ""}},
      {L"jdk11", L"bin", "11.0.21", kLayouts[1]},
      {L"jdk17", L"bin", "17.0.9", kLayouts[2]},
      {L"jdk21", L"bin", "21.0.1", {L"SOFTWARE\\JavaSoft\\JDK", L"21.0.1", L"", L"JavaHome", ""}},
      {L"zulu21ea",
       L"bin",
       "21-ea",  // refused as a pre-release, still without a child
       {L"SOFTWARE\\Azul Systems\\Zulu", L"zulu-21", L"", L"InstallationPath", ""}},
  };
  std::vector<JavaHome> made;
  for (const Home& h : homes) {
    JavaHome home(dir_ / h.name);
    home.addJava(h.bin);
    home.setVersionOutput(h.bin, "openjdk version \"99\"\n");  // would win if it ran
    home.writeRelease(h.version);
    setRegistryString(HKEY_LOCAL_MACHINE, keyOf(h.where), h.where.value, home.root(), kOwnView);
    made.push_back(home);
  }
  allRules(true);
  setSetting(setting::MinJavaVersion, "1.8");
  setSetting(setting::MaxJavaVersion, "21");
  setSetting(setting::JvmSearchSequence, "Y");
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "cold" : "warm");
    std::string exe;
    EXPECT_EQ(search(&exe), ORIGIN_REGISTRY);
    EXPECT_EQ(exe, fullLow(made[3].path(L"bin\\java.exe")));
    auto log = newLog();
    for (const Home& h : homes)
      EXPECT_TRUE(contains(log, std::string(round == 0 ? "got version from release file "
                                                       : "got version from registry ") +
                                    h.version))
          << h.version;
    for (size_t i = 0; i < made.size(); ++i) EXPECT_TRUE(made[i].javaCalls(homes[i].bin).empty());
  }
}

struct ReleaseCase {
  const char* name;
  std::string release;  // empty: no release file
  const char* expected;
  bool childRuns;
};

TEST_F(ModernJavaTest, ReleaseFileOrTheVersionRun) {
  // A JAVA_VERSION line cut by the 16384-byte read limit is dropped, not taken
  // short: "17.0.25" would otherwise be read as "17.0.2".
  const std::string modules = "MODULES=\"" + std::string(16354, 'm') + "\"\n";
  ASSERT_EQ(modules.size() + std::strlen("JAVA_VERSION=17.0.2"), 16384u);
  const ReleaseCase cases[] = {
      {"release file", "JAVA_VERSION=\"17.0.25\"\n", "17.0.25", false},
      {"no release file", "", "17.0.25", true},
      {"release without JAVA_VERSION", "IMPLEMENTOR=\"x\"\n", "17.0.25", true},
      {"empty JAVA_VERSION", "JAVA_VERSION=\"\"\n", "17.0.25", true},
      {"cut by the read limit", modules + "JAVA_VERSION=17.0.25\n", "17.0.25", true},
      {"within the read limit", "JAVA_VERSION=17.0.25\n" + modules, "17.0.25", false},
  };
  allRules(true);
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    JavaHome home(dir_ / (L"r" + std::to_wstring(n++)));
    std::wstring java = home.addJava();
    home.setVersionOutput(L"bin", "openjdk version \"17.0.25\" 2025-01-21\n");
    if (!c.release.empty()) home.addFile(L"release", c.release);
    char exe[kTextBufferSize], version[kVersionBufferSize];
    std::strcpy(exe, narrow(java).c_str());
    markLog();
    EXPECT_TRUE(checkJavaExe(exe, version, "17", "17", false));
    EXPECT_STREQ(version, c.expected);
    EXPECT_EQ(home.javaCalls().size(), c.childRuns ? 1u : 0u);
    EXPECT_TRUE(contains(newLog(), std::string(c.childRuns ? "got version from execution "
                                                           : "got version from release file ") +
                                       c.expected));
  }
}

// A launcher with the opt-in rules and one without (another tool's block) share
// the cache: what only the opt-in rules can read must not reach the other, in
// either order, and what both read the same way is measured once.
TEST_F(ModernJavaTest, OptInVersionsKeepCacheValuesOfTheirOwn) {
  struct Case {
    const char* line;
    const char* release;  // empty: no release file
    const char* modernFrom;   // how the launcher with the rules got its version
    const char* classicFrom;  // then the one without them ("" : no version)
    const char* specifiedValue;  // "Version" afterwards ("" : absent)
  };
  const Case cases[] = {
      {"openjdk version \"17.0.2\"", "", "execution", "", ""},
      {"openjdk version \"17.0.2\"", "JAVA_VERSION=\"17.0.2\"", "release file", "", ""},
      {"java version \"1.8.0_202\"", "", "execution", "registry", "1.8.0_202"},
      {"java version \"1.8.0_202\"", "JAVA_VERSION=\"1.8.0_202\"", "release file", "execution", "1.8.0_202"},
      {"java version \"25\" 2025-09-16 LTS", "", "execution", "registry", "25"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.line) + " / " + c.release);
    JavaHome home(dir_ / (L"c" + std::to_wstring(n++)));
    std::wstring java = home.addJava();
    home.setVersionOutput(L"bin", std::string(c.line) + "\n");
    if (*c.release) home.addFile(L"release", std::string(c.release) + "\n");
    char exe[kTextBufferSize], version[kVersionBufferSize];
    auto check = [&](bool rules, const char* from) {
      allRules(rules);
      std::strcpy(exe, narrow(java).c_str());
      markLog();
      bool accepted = checkJavaExe(exe, version, "", "", false);
      EXPECT_EQ(accepted, *from != '\0') << rules;
      if (*from) {
        EXPECT_TRUE(contains(newLog(), std::string("got version from ") + from + " " + version)) << rules;
      }
    };
    for (int round = 0; round < 2; ++round) {
      check(true, round == 0 ? c.modernFrom : "registry");
      check(false, round == 0 || !*c.classicFrom ? c.classicFrom : "registry");
    }
    std::string specified;
    EXPECT_EQ(readVersionCache(java, &specified, nullptr), *c.specifiedValue != '\0');
    EXPECT_STREQ(specified.c_str(), c.specifiedValue);
  }
}

// The launcher's own check with the numeric rule: any vendor's line, limits by number.
TEST_F(ModernJavaTest, NumericCheckOfTheVersionRun) {
  struct Case {
    const char* line;
    const char *min, *max;
    bool numeric, accepted;
  };
  const Case cases[] = {
      {"openjdk version \"17.0.9\" 2023-10-17", "1.8", "", false, false},
      {"openjdk version \"17.0.9\" 2023-10-17", "1.8", "", true, true},
      {"openjdk version \"1.8.0_392\"", "", "1.8", true, true},
      {"openjdk version \"9.0.4\"", "", "1.8", true, false},
      {"java version \"1.10.0\"", "1.4", "", false, false},
      {"java version \"1.10.0\"", "1.4", "", true, true},
      {"openjdk version \"21-ea\" 2023-09-19", "17", "", true, false},
      {"openjdk version \"1.8.0_242-release\"", "1.8", "", true, true},
      {"java version \"25\" 2025-09-16 LTS", "17", "", true, true},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    setSetting(setting::NumericVersionCheck, c.numeric ? "1" : "0");
    JavaHome home(dir_ / (L"n" + std::to_wstring(n++)));
    std::wstring java = home.addJava();
    home.setVersionOutput(L"bin", std::string(c.line) + "\n");
    char exe[kTextBufferSize], version[kVersionBufferSize];
    std::strcpy(exe, narrow(java).c_str());
    markLog();
    EXPECT_EQ(checkJavaExe(exe, version, c.min, c.max, false), c.accepted);
    EXPECT_EQ(contains(newLog(), "couldn't get version"), !c.numeric && c.line[0] == 'o');
  }
}

}  // namespace
}  // namespace zanto::jvmtest

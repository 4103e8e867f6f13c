// The search sequence: location files, A/R/B/E/S/Y entries, the product variable
// and the relative pass in their order; the JavaSoft keys and the located-runtime
// lists. Stand-in runtimes under Wine; the log is asserted line by line.
#include <cstring>
#include <functional>

#include "ConfigBlock.h"
#include "JavaCheck.h"
#include "JvmLocateSupport.h"
#include "Settings.h"
#include "WinLoader.h"

namespace zanto::jvmtest {
namespace {

using SearchTest = JvmLocateTest;

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct Found {
  JvmOrigin origin;
  std::string exe, location;
};

Found search(const char* before = "") {
  static char exe[kTextBufferSize], location[kTextBufferSize];
  exe[0] = '\0';
  std::strcpy(location, before);
  JvmOrigin origin = searchJvm(exe, location);
  return {origin, exe, location};
}

// Every source rejects its runtime, in the order of the frame around the entries,
// until the relative pass takes the first relative directory whose java.exe exists.
TEST_F(SearchTest, EverySourceInOrderThenTheRelativePass) {
  const std::wstring root = dir_ / L"install";
  JavaHome pref = makeHome(dir_ / L"pref", "1.4.2"), absA = makeHome(dir_ / L"absA", "1.7.0");
  JavaHome env = makeHome(dir_ / L"env", "1.6.0-ea"), path = makeHome(dir_ / L"path", "1.3.1");
  JavaHome located = makeHome(dir_ / L"located", "1.8.0"), velmora = makeHome(dir_ / L"vel", "1.7");
  JavaHome zanto = makeHome(dir_ / L"zanto", "1.5.0"), inst = makeHome(dir_ / L"inst", "1.4");
  JavaHome rel = makeHome(relativeRoot_ + L"\\r", "1.4.1");
  const std::wstring absB = dir_ / L"missing";
  writeLocationFile(root, LocationFile::Preferred, narrow(pref.root()) + "\r\n\r\nignored\r\n");
  writeLocationFile(root, LocationFile::Installer, narrow(inst.root()) + "\n");
  std::string envValue = narrow(env.root());
  for (auto& c : envValue)
    if (c == '\\') c = '/';
  setEnv("MYJAVA", envValue);
  setEnv("VELMORA_JAVA_HOME", narrow(velmora.root()));
  setEnv("ZANTO_JAVA_HOME", narrow(zanto.root()));  // not this flavour's variable
  // A runtime, not a java.exe copy on PATH: its version is asked.
  path.addJvm(L"bin", L"client");
  prependPath(path.path(L"bin"));
  addLocatedJvm(HKEY_CURRENT_USER, located.path(L"bin\\java.exe"));
  setSetting(setting::InstallRoot, narrow(root));
  setSetting(setting::MinJavaVersion, "1.5");
  setSetting(setting::MaxJavaVersion, "1.6");
  setSetting(setting::ProductFlavor, "i");
  setSetting(setting::JvmSearchSequence, "A" + narrow(absA.root()) + ";;B" + narrow(absB) +
                                             ";Rjvmlocate-rel\\r;EJAVA_HOME;EMYJAVA;Sabc;Y;Qjunk;");

  Found found = search();
  EXPECT_EQ(found.origin, ORIGIN_DEFINED_PATH);
  EXPECT_EQ(found.location, "jvmlocate-rel\\r");
  const std::string relExe = launcherDirectory() + "jvmlocate-rel\\r\\bin\\java.exe";
  EXPECT_EQ(lower(found.exe), relExe);

  const auto bin = [](const JavaHome& h) { return fullLow(h.root()) + "\\bin\\java.exe"; };
  const auto expected =
      std::vector<std::string>{"Searching for a JVM",
                               "Has preferred location " + narrow(pref.root())} +
      measured(bin(pref), "1.5", "1.6", 1, "1.4.2", 0) +
      std::vector<std::string>{"Testing location " + narrow(absA.root()) + " (type A)"} +
      measured(bin(absA), "1.5", "1.6", 1, "1.7.0", 0) +
      std::vector<std::string>{
          "Testing location " + narrow(absB) + " (type B)",
          "checkJavaExe (" + fullLow(absB) + "\\bin\\java.exe, [out], 1.5, 1.6, 1)",
          "file doesn't exist", "checkJavaExe returning 0", "Testing location jvmlocate-rel\\r (type R)"} +
      measured(relExe, "1.5", "1.6", 1, "1.4.1", 0) +
      std::vector<std::string>{"Testing location JAVA_HOME (type E)",
                               "Testing location MYJAVA (type E)"} +
      measured(narrow(env.root()) + "\\bin\\java.exe", "1.5", "1.6", 0, "1.6.0-ea", 0) +
      std::vector<std::string>{"Testing location abc (type S)"} +
      measured(narrow(path.path(L"bin\\java.exe")), "1.5", "1.6", 0, "1.3.1", 0) +
      std::vector<std::string>{"Testing location  (type Y)"} +
      measured(narrow(located.path(L"bin\\java.exe")), "1.5", "1.6", 1, "1.8.0", 0) +
      std::vector<std::string>{"Testing location junk (type Q)", "Search sequence finished"} +
      measured(narrow(velmora.root()) + "\\bin\\java.exe", "1.5", "1.6", 0, "1.7", 0) +
      std::vector<std::string>{"Has installer location " + narrow(inst.root())} +
      measured(bin(inst), "1.5", "1.6", 1, "1.4", 0) +
      std::vector<std::string>{"Testing relative location " + narrow(absB),
                               "Testing relative location jvmlocate-rel\\r", relExe + " exists"};
  auto log = newLog();
  ASSERT_EQ(log.size(), expected.size()) << ::testing::PrintToString(log);
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lower(log[i]), lower(expected[i])) << i;
  EXPECT_TRUE(zanto.javaCalls().empty());
}

struct SourceCase {
  const char* name;
  std::function<void(JvmLocateTest&, const JavaHome& good, const JavaHome& old)> arrange;
  std::string sequence, flavour;
  JvmOrigin origin;
  std::function<std::string(const JavaHome& good)> location;  // expected definedLocation
  std::vector<std::string> lines;                             // in this order
};

class SourceTest : public JvmLocateTest {
 public:
  void writeFile(LocationFile which, const JavaHome& home) {
    writeLocationFile(dir_ / L"install", which, narrow(home.root()) + "\r\n");
  }
};

TEST_F(SourceTest, EachSourceAcceptsItsRuntime) {
  auto text = [](const char* s) { return [s](const JavaHome&) { return std::string(s); }; };
  auto homeText = [](const JavaHome& h) { return narrow(h.root()); };
  const SourceCase cases[] = {
      {"preferred file wins over the entries",
       [](JvmLocateTest& t, const JavaHome& g, const JavaHome&) {
         static_cast<SourceTest&>(t).writeFile(LocationFile::Preferred, g);
       },
       "A%GOOD%",
       "",
       ORIGIN_DEFINED_PATH,
       homeText,
       {"Using preferred location"}},
      {"absolute A",
       nullptr,
       "Xnothing;A%GOOD%",
       "",
       ORIGIN_DEFINED_PATH,
       homeText,
       {"Testing location nothing (type X)", "checkJavaExe returning 1"}},
      {"absolute A out of range is not retried",
       nullptr,
       "A%OLD%",
       "",
       ORIGIN_NONE,
       text(""),
       {"Search sequence finished"}},
      {"absolute B out of range is retried",
       nullptr,
       "B%OLD%",
       "",
       ORIGIN_DEFINED_PATH,
       [](const JavaHome&) { return std::string("%OLD%"); },
       {"checkJavaExe returning 0", "Search sequence finished", "Testing relative location %OLD%"}},
      {"relative R",
       nullptr,
       "Rjvmlocate-rel\\good",
       "",
       ORIGIN_DEFINED_PATH,
       text("jvmlocate-rel\\good"),
       {"checkJavaExe returning 1"}},
      {"relative A out of range, taken in the relative pass",
       nullptr,
       "Ajvmlocate-rel\\old",
       "",
       ORIGIN_DEFINED_PATH,
       text("jvmlocate-rel\\old"),
       {"checkJavaExe returning 0", "Testing relative location jvmlocate-rel\\old"}},
      {"relative B",
       nullptr,
       "Bjvmlocate-rel\\good",
       "",
       ORIGIN_DEFINED_PATH,
       text("jvmlocate-rel\\good"),
       {"checkJavaExe returning 1"}},
      {"environment entry",
       [](JvmLocateTest&, const JavaHome& g, const JavaHome&) {
         SetEnvironmentVariableA("MYJAVA", narrow(g.root()).c_str());
       },
       "EMYJAVA",
       "",
       ORIGIN_ENV_VAR,
       text("MYJAVA"),
       {"checkJavaExe returning 1"}},
      {"search order with a value",
       [](JvmLocateTest& t, const JavaHome& g, const JavaHome&) {
         g.addJvm(L"bin", L"client");
         static_cast<SourceTest&>(t).prependPath(g.path(L"bin"));
       },
       "Sgiven",
       "",
       ORIGIN_SEARCH_PATH,
       text("given"),
       {"Testing location given (type S)"}},
      {"registry leaves the location alone",
       [](JvmLocateTest&, const JavaHome& g, const JavaHome&) {
         addLocatedJvm(HKEY_LOCAL_MACHINE, g.path(L"bin\\java.exe"));
       },
       "Y",
       "",
       ORIGIN_REGISTRY,
       text("before"),
       {"checkJavaExe returning 1"}},
      {"product variable, flavour e",
       [](JvmLocateTest&, const JavaHome& g, const JavaHome&) {
         SetEnvironmentVariableA("ZANTO_JAVA_HOME", narrow(g.root()).c_str());
       },
       "",
       "e",
       ORIGIN_ENV_VAR,
       text("ZANTO_JAVA_HOME"),
       {"Search sequence finished"}},
      {"product variable, flavour i",
       [](JvmLocateTest&, const JavaHome& g, const JavaHome&) {
         SetEnvironmentVariableA("VELMORA_JAVA_HOME", narrow(g.root()).c_str());
       },
       "",
       "i",
       ORIGIN_ENV_VAR,
       text("VELMORA_JAVA_HOME"),
       {"Search sequence finished"}},
      {"flavour e ignores VELMORA_JAVA_HOME",
       [](JvmLocateTest&, const JavaHome& g, const JavaHome&) {
         SetEnvironmentVariableA("VELMORA_JAVA_HOME", narrow(g.root()).c_str());
       },
       "",
       "e",
       ORIGIN_NONE,
       text(""),
       {"Search sequence finished"}},
      {"empty sequence: preferred, product variable, then installer file",
       [](JvmLocateTest& t, const JavaHome& g, const JavaHome& o) {
         static_cast<SourceTest&>(t).writeFile(LocationFile::Preferred, o);
         static_cast<SourceTest&>(t).writeFile(LocationFile::Installer, g);
         SetEnvironmentVariableA("ZANTO_JAVA_HOME", narrow(o.root()).c_str());
       },
       "",
       "e",
       ORIGIN_DEFINED_PATH,
       homeText,
       {"Searching for a JVM", "checkJavaExe returning 0", "Search sequence finished",
        "checkJavaExe returning 0", "checkJavaExe returning 1", "Using installer location"}},
  };
  int row = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    removeTree(dir_ / L"install");
    const std::wstring tag = std::to_wstring(row++);
    JavaHome good = makeHome(dir_ / (L"good" + tag), "1.6.0_10");
    JavaHome old = makeHome(dir_ / (L"old" + tag), "1.4.2");
    makeHome(relativeRoot_ + L"\\good", "1.6.0_10");
    makeHome(relativeRoot_ + L"\\old", "1.4.2");
    auto fill = [&](std::string s) {
      for (auto [key, home] : {std::pair{"%GOOD%", &good}, std::pair{"%OLD%", &old}})
        for (size_t at; (at = s.find(key)) != std::string::npos;)
          s.replace(at, std::strlen(key), narrow(home->root()));
      return s;
    };
    setSetting(setting::InstallRoot, narrow(dir_ / L"install"));
    setSetting(setting::MinJavaVersion, "1.5");
    setSetting(setting::JvmSearchSequence, fill(c.sequence));
    setSetting(setting::ProductFlavor, c.flavour);
    if (c.arrange) c.arrange(*this, good, old);
    markLog();
    Found found = search("before");
    EXPECT_EQ(found.origin, c.origin);
    EXPECT_EQ(found.location, fill(c.origin == ORIGIN_NONE ? "before" : c.location(good)));
    std::vector<std::string> lines;
    for (const auto& l : c.lines) lines.push_back(fill(l));
    EXPECT_TRUE(containsInOrder(newLog(), lines));
    if (c.origin != ORIGIN_NONE) {
      EXPECT_TRUE(exists(widen(found.exe))) << found.exe;
    }
  }
}

TEST_F(SearchTest, LocationFileFirstLineOnly) {
  const std::wstring root = dir_ / L"install";
  setSetting(setting::InstallRoot, narrow(root));
  char line[kTextBufferSize];
  const struct {
    const char* content;
    bool found;
    const char* line;
  } cases[] = {{"c:\\jre\r\n\r\nsecond\r\n", true, "c:\\jre"},
               {"c:\\jre", true, "c:\\jre"},
               {"\r\n", true, ""},
               {"", false, ""}};
  for (const auto& c : cases) {
    writeLocationFile(root, LocationFile::Installer, c.content);
    line[0] = '\0';
    EXPECT_EQ(readLocationFile(line, "\\.velmora\\inst_jre.cfg"), c.found) << c.content;
    EXPECT_STREQ(line, c.line);
  }
  EXPECT_FALSE(readLocationFile(line, "\\.velmora\\pref_jre.cfg"));
  // An over-long variable is refused, not cut.
  setEnv("MYJAVA", std::string(9000, 'x'));
  char exe[kTextBufferSize];
  EXPECT_FALSE(checkEnvJavaHome(exe, "MYJAVA", "", ""));
}

// JavaSoft subkeys are filtered by name and examined newest first.
TEST_F(SearchTest, JavaSoftScanNewestFirstWithKeyFilter) {
  JavaHome h131 = makeHome(dir_ / L"j131", "1.3.1"), h142 = makeHome(dir_ / L"j142", "1.4.2_19");
  const std::wstring h150 = dir_ / L"j150";  // registered, but its java.exe is gone
  addJavaSoftVersion(kJavaSoftJre, L"1.3.1", h131.root());
  addJavaSoftVersion(kJavaSoftJre, L"1.4.2", h142.root());
  addJavaSoftVersion(kJavaSoftJre, L"1.5.0", h150);
  addJavaSoftVersion(kJavaSoftJre, L"1.4", h142.root());
  char exe[kTextBufferSize], version[kVersionBufferSize];
  ASSERT_TRUE(searchJavaSoft(exe, version, "1.4.2", ""));
  EXPECT_EQ(lower(exe), fullLow(h142.path(L"bin\\java.exe")));
  EXPECT_STREQ(version, "1.4.2_19");
  auto log = newLog();
  EXPECT_TRUE(containsInOrder(
      log, {"checkJavaExe (" + narrow(h150) + "\\bin\\java.exe, [out], 1.4.2, , 0)",
            "file doesn't exist",
            "checkJavaExe (" + narrow(h142.root()) + "\\bin\\java.exe, [out], 1.4.2, , 0)",
            "checkJavaExe returning 1"}));
  EXPECT_TRUE(h131.javaCalls().empty());
  // 1.4 passes a minimum of 1.4.2 as a key, but 1.4.2 (sorted after it) came first.
  EXPECT_EQ(h142.javaCalls().size(), 1u);
}

TEST_F(SearchTest, JavaSoftCurrentVersionChoiceAndRequireJdk) {
  JavaHome jre = makeHome(dir_ / L"jre", "1.5.0_22"), jdk = makeHome(dir_ / L"jdk", "1.6.0_45");
  JavaHome other = makeHome(dir_ / L"other", "1.6.0_45");
  jdk.addToolsJar();
  jdk.addJre();
  jdk.setVersionOutput(L"jre\\bin", "java version \"1.6.0_45\"\n");
  addJavaSoftVersion(kJavaSoftJre, L"1.5", jre.root());
  addJavaSoftVersion(kJavaSoftJre, L"1.6", other.root());
  addJavaSoftVersion(kJavaSoftJdk, L"1.6", jdk.root());
  char exe[kTextBufferSize], version[kVersionBufferSize];
  struct {
    const wchar_t *jreCurrent, *jdkCurrent;
    const char *min, *max;
    bool requireJdk;
    std::wstring expected;
  } cases[] = {
      {L"1.5", L"1.6", "", "", false, jdk.path(L"jre\\bin\\java.exe")},   // JDK text greater
      {L"1.5", L"1.6", "", "1.5", false, jre.path(L"bin\\java.exe")},     // JDK out of range
      {L"1.6", L"1.6", "", "", false, other.path(L"bin\\java.exe")},      // equal: the JRE
      {L"1.5", nullptr, "1.6", "", false, other.path(L"bin\\java.exe")},  // JRE out: scans
      {nullptr, nullptr, "", "", false, other.path(L"bin\\java.exe")},    // no CurrentVersion
      {L"1.5", nullptr, "", "", true, jdk.path(L"jre\\bin\\java.exe")},   // JRE key skipped
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(narrow(c.expected));
    clearJavaSoft();
    addJavaSoftVersion(kJavaSoftJre, L"1.5", jre.root());
    addJavaSoftVersion(kJavaSoftJre, L"1.6", other.root());
    addJavaSoftVersion(kJavaSoftJdk, L"1.6", jdk.root());
    if (c.jreCurrent) setJavaSoftCurrentVersion(kJavaSoftJre, c.jreCurrent);
    if (c.jdkCurrent) setJavaSoftCurrentVersion(kJavaSoftJdk, c.jdkCurrent);
    configStore().narrow[setting::RequireJdk] = c.requireJdk ? "1" : "0";
    ASSERT_TRUE(searchJavaSoft(exe, version, c.min, c.max));
    EXPECT_EQ(lower(exe), fullLow(c.expected));
  }
}

TEST_F(SearchTest, LocatedRuntimeChoice) {
  JavaHome a = makeHome(dir_ / L"a", "1.6.0_10"), b = makeHome(dir_ / L"b", "1.6.0_10");
  JavaHome c = makeHome(dir_ / L"c", "1.7.0"), ea = makeHome(dir_ / L"d", "1.8.0-ea");
  char exe[kTextBufferSize], version[kVersionBufferSize];
  const std::wstring ja = a.path(L"bin\\java.exe"), jb = b.path(L"bin\\java.exe"),
                     jc = c.path(L"bin\\java.exe"), jea = ea.path(L"bin\\java.exe");
  struct {
    std::vector<std::wstring> user, machine;
    const char* max;
    std::wstring expected;
  } cases[] = {
      {{ja}, {jb}, "", jb},       // equal versions: HKLM
      {{jc}, {jb}, "", jc},       // greater in HKCU
      {{ja, jb}, {}, "", ja},     // first of equal versions in one list
      {{ja, jc}, {}, "1.6", ja},  // the greater is out of range
      {{jea}, {jc}, "", jea},     // located runtimes allow beta versions
      {{}, {}, "", L""},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(narrow(k.expected));
    clearLocatedJvms(HKEY_CURRENT_USER);
    clearLocatedJvms(HKEY_LOCAL_MACHINE);
    for (const auto& j : k.user) addLocatedJvm(HKEY_CURRENT_USER, j);
    for (const auto& j : k.machine) addLocatedJvm(HKEY_LOCAL_MACHINE, j);
    bool found = searchLocatedJvms(exe, version, "", k.max);
    EXPECT_EQ(found, !k.expected.empty());
    if (found) {
      EXPECT_EQ(lower(exe), fullLow(k.expected));
    }
  }
  // Both registry sources with the same version: the located runtime wins.
  clearLocatedJvms(HKEY_CURRENT_USER);
  addLocatedJvm(HKEY_CURRENT_USER, ja);
  addJavaSoftVersion(kJavaSoftJre, L"1.6", b.root());
  ASSERT_TRUE(searchRegistryJvm(exe, "", ""));
  EXPECT_EQ(lower(exe), fullLow(ja));
  addJavaSoftVersion(kJavaSoftJre, L"1.7", c.root());
  ASSERT_TRUE(searchRegistryJvm(exe, "", ""));
  EXPECT_EQ(lower(exe), fullLow(jc));
}

}  // namespace
}  // namespace zanto::jvmtest

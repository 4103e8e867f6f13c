// Packed runtimes (order, markers, a missing unpack200) and LoadDLL: the VM type
// order, the ..\jre\bin fall-back, jvmHome, the bitness skip, the search for
// jvm.dll's own imports, runtimes passed over, and exactly one message per failing
// origin. Each LoadDLL case runs in a child process of its own (a loaded jvm.dll
// stays for the process); the child writes its log and results to a file that the
// test reads.
#include <cstdio>
#include <cstring>
#include <functional>

#include "ConfigBlock.h"
#include "ErrorReport.h"
#include "JvmEntry.h"
#include "JvmLocateSupport.h"
#include "PackedJre.h"
#include "Settings.h"
#include "WinLoader.h"

namespace zanto::jvmtest {
namespace {

class PackedTest : public JvmLocateTest {};

TEST_F(PackedTest, PackedRuntimeIsRestoredJarByJarInOrder) {
  JavaHome home(dir_ / L"packed jre");  // a blank: every path is quoted
  home.addUnpack200();
  home.addPackedJars(packedJarNames());
  const std::string h = narrow(home.root());
  ::testing::internal::CaptureStdout();
  prepareJre(h.c_str());
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Preparing JRE ...\n");
  std::vector<std::string> expectedLog{"Unpacking JRE"}, expectedCalls;
  for (const auto& jar : packedJarNames()) {
    const std::string target = h + "\\" + narrow(jar), pack = target + ".pack";
    expectedLog.insert(expectedLog.end(), {"Unpacking " + pack + " to " + target,
                                           "waiting for unpack200 to finish", "unpack done"});
    expectedCalls.push_back("\"" + h + "\\bin\\unpack200.exe\" -r \"" + pack + "\" \"" + target +
                            "\"");
    EXPECT_EQ(readFileBytes(home.path(jar)), "packed " + narrow(jar) + "\r\n");
    EXPECT_FALSE(exists(home.path(jar + L".pack")));
  }
  expectedLog.push_back("Unpacking JRE done");
  EXPECT_EQ(newLog(), expectedLog);
  EXPECT_EQ(home.unpackCalls(), expectedCalls);

  // Prepared now: never touched again.
  markLog();
  prepareJre(h.c_str());
  EXPECT_TRUE(newLog().empty());
  EXPECT_EQ(home.unpackCalls().size(), 6u);
}

TEST_F(PackedTest, MarkersDecideAndMissingPacksAreSkipped) {
  struct {
    std::vector<std::wstring> packed, present;
    size_t calls;
  } cases[] = {
      {{L"lib\\rt.jar", L"lib\\deploy.jar"}, {}, 2},
      {{L"lib\\rt.jar", L"lib\\charsets.jar"}, {L"lib\\jsse.jar"}, 0},  // prepared already
      {{L"lib\\charsets.jar"}, {}, 0},                                  // not in the packed state
  };
  int row = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(row);
    JavaHome home(dir_ / (L"p" + std::to_wstring(row++)));
    home.addUnpack200();
    home.addPackedJars(c.packed);
    for (const auto& p : c.present) home.addFile(p, "jar");
    markLog();
    ::testing::internal::CaptureStdout();
    prepareJre(narrow(home.root()).c_str());
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(home.unpackCalls().size(), c.calls);
    auto log = newLog();
    size_t skipped = 0;
    for (const auto& l : log) skipped += l == "pack path doesn't exists";
    EXPECT_EQ(skipped, c.calls ? 6 - c.calls : 0);
    EXPECT_EQ(out, c.calls ? "Preparing JRE ...\n" : "");
  }
}

// An unpack200 that never ends is ended at the limit and its runtime not used; the
// jars after it are not tried.
TEST_F(PackedTest, HangingUnpack200IsEndedAtTheLimit) {
  JavaHome home(dir_ / L"hanging");
  home.addUnpack200();
  home.addPackedJars(packedJarNames());
  home.setUnpackControl(L"bin", "hang=1\n");
  const unsigned long saved = unpack200TimeLimitMs;
  unpack200TimeLimitMs = 500;
  markLog();
  ::testing::internal::CaptureStdout();
  bool prepared = prepareJre(narrow(home.root()).c_str());
  ::testing::internal::GetCapturedStdout();
  unpack200TimeLimitMs = saved;
  EXPECT_FALSE(prepared);
  EXPECT_EQ(home.unpackCalls().size(), 1u);
  EXPECT_TRUE(
      containsInOrder(newLog(), {"waiting for unpack200 to finish",
                                 "ERROR: unpack200 did not finish within 500 ms: ended, the runtime is not used"}));
  // Its file is free again: the process is gone, not left running.
  EXPECT_TRUE(DeleteFileW(home.path(L"bin\\standin-unpack200-running").c_str())) << GetLastError();
  EXPECT_FALSE(exists(home.path(L"lib\\jsse.jar")));
}

TEST_F(PackedTest, MissingUnpack200IsInternalError20) {
  configStore().narrow[message::InternalError] = "Internal failure %ERROR_CODE% here";
  JavaHome home(dir_ / L"nounpack");
  home.addPackedJars({L"lib\\rt.jar"});
  const std::string h = narrow(home.root());
  EXPECT_EXIT(
      {
        useConsoleErrors();
        prepareJre(h.c_str());
      },
      ::testing::ExitedWithCode(1), "Internal failure 20 here");
  EXPECT_TRUE(exists(home.path(L"lib\\rt.jar.pack")));
}

// --- LoadDLL, one child process per case ---

class LoadTest : public JvmLocateTest {
 protected:
  void SetUp() override {
    JvmLocateTest::SetUp();
    configStore().narrow[message::NoJvm] = "m1001 no runtime";
    configStore().narrow[message::SearchPathJvmDamaged] = "m1002 path runtime damaged";
    configStore().narrow[message::EnvVarJvmBroken] = "m1003 variable %ENV_VAR_NAME% broken";
    configStore().narrow[message::DefinedPathJvmDamaged] = "m1004 directory %DEFINED_PATH% damaged";
    configStore().narrow[message::JvmStartFailed] = "m1005 registry runtime damaged";
  }

  // Runs LoadDLL in a child; returns the child's log lines (after the mark), then
  // "result=", "jvmHome=" and "entry=" lines, and its standard error.
  struct Outcome {
    std::vector<std::string> log;
    bool result = false;
    std::string jvmHome, stderrText;
    bool entry = false;
  };
  // create: also creates the VM (with no options), as the Java launch would.
  Outcome load(bool showErrors = true, bool create = false) {
    const std::wstring resultFile = fixedDir_.path() + L"\\result.txt";
    const std::wstring errFile = fixedDir_.path() + L"\\stderr.txt";
    DeleteFileW(resultFile.c_str());
    EXPECT_EXIT(
        {
          std::freopen(narrow(errFile).c_str(), "w", stderr);
          useConsoleErrors();
          bool ok = LoadDLL(showErrors);
          if (ok && create) {
            JavaVMInitArgs args;
            args.version = JNI_VERSION_1_2;
            args.nOptions = 0;
            args.options = nullptr;
            args.ignoreUnrecognized = JNI_TRUE;
            JavaVM* vm = nullptr;
            void* env = nullptr;
            createJavaVmEntry(&vm, &env, &args);
          }
          std::string text;
          for (const auto& l : newLog()) text += l + "\n";
          text += std::string("result=") + (ok ? "1" : "0") + "\njvmHome=" + jvmHome +
                  "\nentry=" + (createJavaVmEntry ? "1" : "0") + "\n";
          writeFile(resultFile, text);
          std::fflush(stderr);
          _exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    Outcome o;
    auto lines = readLines(resultFile);
    for (const auto& l : lines) {
      if (l.rfind("result=", 0) == 0)
        o.result = l == "result=1";
      else if (l.rfind("jvmHome=", 0) == 0)
        o.jvmHome = l.substr(8);
      else if (l.rfind("entry=", 0) == 0)
        o.entry = l == "entry=1";
      else if (l != "-- mark")
        o.log.push_back(l);
    }
    // Standard error is in text mode.
    for (char c : readFileBytes(errFile))
      if (c != '\r') o.stderrText += c;
    return o;
  }

  TempDirectory fixedDir_{L"jvmlocate-load", true};
};

std::vector<std::string> tried(const std::string& bin,
                               std::vector<std::pair<const char*, int>> types) {
  std::vector<std::string> out;
  for (auto [type, exists] : types)
    out.push_back("Trying " + bin + type + "\\jvm.dll (exists " + std::to_string(exists) + ")");
  return out;
}

TEST_F(LoadTest, PreferredTypeFirstThenTheFixedOrder) {
  JavaHome home = makeHome(fixedDir_ / L"jre", "1.8.0_202");
  home.addJvm(L"bin", L"classic");
  setSetting(setting::JvmSearchSequence, "A" + narrow(home.root()));
  setSetting(setting::PreferredVmType, "server");
  Outcome o = load();
  EXPECT_TRUE(o.result);
  EXPECT_TRUE(o.entry);
  const std::string bin = fullLow(home.root()) + "\\bin\\";
  std::vector<std::string> expected{"Trying to load JVM-DLL from " + bin + "java.exe"};
  for (auto& l :
       tried(bin, {{"server", 0}, {"hotspot", 0}, {"client", 0}, {"server", 0}, {"classic", 1}}))
    expected.push_back(l);
  expected.push_back("Loading of JVM-DLL successful");
  EXPECT_TRUE(containsInOrder(o.log, expected));
  EXPECT_EQ(o.log.front(), "LoadDLL (1, (null), 0)");
  EXPECT_EQ(o.log.back(), "Loading of JVM-DLL successful");
  EXPECT_EQ(o.jvmHome, bin + "..");
  EXPECT_EQ(o.stderrText, "");
}

TEST_F(LoadTest, JdkWithoutVmInItsBinUsesItsPrivateJre) {
  JavaHome jdk = makeHome(fixedDir_ / L"jdk", "1.6.0_45");
  jdk.addJvm(L"jre\\bin", L"client");
  setSetting(setting::JvmSearchSequence, "B" + narrow(jdk.root()));
  Outcome o = load();
  EXPECT_TRUE(o.result);
  const std::string bin = fullLow(jdk.root()) + "\\bin\\";
  std::vector<std::string> expected =
      tried(bin, {{"hotspot", 0}, {"client", 0}, {"server", 0}, {"classic", 0}, {"jrockit", 0}});
  for (auto& l : tried(bin + "..\\jre\\bin\\", {{"hotspot", 0}, {"client", 1}}))
    expected.push_back(l);
  EXPECT_TRUE(containsInOrder(o.log, expected));
  EXPECT_EQ(o.jvmHome, bin + "..");  // from the chosen java.exe, not the private JRE
}

TEST_F(LoadTest, WindowedKindLoadsTheSameLibrary) {
  JavaHome home = makeHome(fixedDir_ / L"jre", "1.8.0_202");
  home.addJvm(L"bin", L"client");
  setSetting(setting::JvmSearchSequence, "A" + narrow(home.root()));
  setSetting(setting::ExecutableType, "1");
  Outcome o = load();
  EXPECT_TRUE(o.result);
  const std::string bin = fullLow(home.root()) + "\\bin\\";
  EXPECT_TRUE(containsInOrder(o.log, {"Trying to load JVM-DLL from " + bin + "javaw.exe",
                                      "Trying " + bin + "client\\jvm.dll (exists 1)"}));
  EXPECT_EQ(o.jvmHome, bin + "..");
}

TEST_F(LoadTest, LibraryOfTheOtherBitnessIsSkipped) {
  if (otherBitnessStandinDirectory().empty()) GTEST_SKIP() << "the other bitness is not built";
  JavaHome home = makeHome(fixedDir_ / L"jre", "1.8.0_202");
  home.addJvm(L"bin", L"client", JvmKind::OtherBitness);
  home.addJvm(L"bin", L"server");
  setSetting(setting::JvmSearchSequence, "A" + narrow(home.root()));
  Outcome o = load();
  EXPECT_TRUE(o.result);
  const std::string bin = fullLow(home.root()) + "\\bin\\";
  const bool wide = sizeof(void*) == 8;
  EXPECT_TRUE(containsInOrder(
      o.log, {"Trying " + bin + "client\\jvm.dll (exists 1)",
              "Skipping " + bin + "client\\jvm.dll: machine type " +
                  (wide ? "0x014c does not match this 64-bit launcher"
                        : "0x8664 does not match this 32-bit launcher"),
              "Trying " + bin + "server\\jvm.dll (exists 1)", "Loading of JVM-DLL successful"}));
}

TEST_F(LoadTest, DecoratedEntryPointIn32Bits) {
  if (sizeof(void*) == 8) GTEST_SKIP() << "names are not decorated in 64 bits";
  JavaHome home = makeHome(fixedDir_ / L"jre", "1.8.0_202");
  home.addJvm(L"bin", L"client", JvmKind::Decorated);
  setSetting(setting::JvmSearchSequence, "A" + narrow(home.root()));
  Outcome o = load();
  EXPECT_TRUE(o.result);
  EXPECT_TRUE(o.entry);
}

// What the test process would find for a DLL name by the ordinary search (the
// executable's folder, system folders, current directory, PATH); empty: nothing.
std::wstring searchedDll(const wchar_t* name) {
  wchar_t found[MAX_PATH * 4];
  DWORD n = SearchPathW(nullptr, name, nullptr, MAX_PATH * 4, found, nullptr);
  return n > 0 && n < MAX_PATH * 4 ? std::wstring(found, n) : L"";
}

struct LoadCase {
  const char* name;
  // Lays out runtimes below `root` and the settings; returns the log lines
  // expected in this order.
  std::function<std::vector<std::string>(LoadTest& test, const std::wstring& root)> arrange;
  // With a VM created: the stand-in's load_library record line expected.
  std::function<std::string(const std::wstring& root)> loadLibraryLine;
};

// Each runtime that the search would take either loads or is passed over, with the
// reason in the log, and the search goes on.
TEST_F(LoadTest, RuntimesLoadWithTheirOwnDllsOrAreLeftForTheNext) {
  auto good = [](const std::wstring& root, const std::wstring& type = L"client") {
    JavaHome home(root + L"\\good");
    home.addJava();
    home.setVersionOutput(L"bin", "java version \"1.8.0_202\"\n");
    home.addJvm(L"bin", type);
    return home;
  };
  auto bin = [](const JavaHome& h, const wchar_t* b = L"bin") { return fullLow(h.path(b)) + "\\"; };
  const std::wstring exeFolderDll = testProgramDirectory() + L"\\zantodep1.dll";
  const LoadCase cases[] = {
      {"a java.exe copy on PATH before a registry runtime",
       [&](LoadTest& t, const std::wstring& root) {
         JavaHome copy(root + L"\\javapath");  // as Oracle's installers put it on PATH
         copy.addJava(L".", false);
         t.prependPath(copy.root());
         JavaHome runtime = good(root);
         addJavaSoftVersion(kJavaSoftJre, L"1.8", runtime.root());
         t.setSetting(setting::JvmSearchSequence, "S;Y");
         return std::vector<std::string>{
             "Testing location  (type S)",
             "Skipping " + lower(narrow(copy.root())) + "\\java.exe: no VM library beside it",
             "Testing location  (type Y)", "Trying to load JVM-DLL from " + bin(runtime) + "java.exe",
             "Loading of JVM-DLL successful"};
       },
       nullptr},
      {"a runtime that does not load gives way to the next entry",
       [&](LoadTest& t, const std::wstring& root) {
         JavaHome broken(root + L"\\broken");
         broken.addJava();
         broken.addJvm(L"bin", L"client", JvmKind::NotAnImage);
         JavaHome runtime = good(root);
         t.setSetting(setting::JvmSearchSequence, "A" + narrow(broken.root()) + ";B" + narrow(runtime.root()));
         const std::string lib = bin(broken) + "client\\jvm.dll";
         return std::vector<std::string>{
             "Trying " + lib + " (exists 1)",
             "ERROR: " + lib + ": error 193: not a library of this launcher's bitness, or damaged",
             "Passing over " + bin(broken) + "java.exe",
             "Testing location " + narrow(runtime.root()) + " (type B)",
             "Trying to load JVM-DLL from " + bin(runtime) + "java.exe",
             "Loading of JVM-DLL successful"};
       },
       nullptr},
      {"jvm.dll imports a DLL that lies only in its runtime's bin",
       [&](LoadTest& t, const std::wstring& root) {
         JavaHome home(root + L"\\jre");
         home.addJava();
         home.setVersionOutput(L"bin", "java version \"1.8.0_202\"\n");
         home.addJvm(L"bin", L"server", JvmKind::Importing);
         copyFile(standinDependency(), home.path(L"bin\\zantodep1.dll"));
         t.setSetting(setting::JvmSearchSequence, "A" + narrow(home.root()));
         EXPECT_EQ(searchedDll(L"zantodep1.dll"), L"");
         return std::vector<std::string>{"Trying " + bin(home) + "server\\jvm.dll (exists 1)",
                                         "Loading of JVM-DLL successful"};
       },
       nullptr},
      {"a JDK 8's jvm.dll in jre\\bin imports a DLL of that jre\\bin",
       [&](LoadTest& t, const std::wstring& root) {
         JavaHome jdk(root + L"\\jdk");
         jdk.addJava();
         jdk.setVersionOutput(L"bin", "java version \"1.8.0_202\"\n");
         jdk.addJvm(L"jre\\bin", L"server", JvmKind::Importing);
         copyFile(standinDependency(), jdk.path(L"jre\\bin\\zantodep1.dll"));
         t.setSetting(setting::JvmSearchSequence, "A" + narrow(jdk.root()));
         return std::vector<std::string>{"Trying " + bin(jdk) + "..\\jre\\bin\\server\\jvm.dll (exists 1)",
                                         "Loading of JVM-DLL successful"};
       },
       nullptr},
      {"a native library loaded after creation finds its DLL in the executable's folder",
       [&](LoadTest& t, const std::wstring& root) {
         JavaHome runtime = good(root);
         copyFile(standinNativeLibrary(), root + L"\\app\\zantonative1.dll");
         copyFile(standinDependency(), exeFolderDll);
         runtime.setJvmControl(L"bin", L"client", "load_library=" + narrow(root) + "\\app\\zantonative1.dll\n");
         t.setSetting(setting::JvmSearchSequence, "A" + narrow(runtime.root()));
         return std::vector<std::string>{"Loading of JVM-DLL successful"};
       },
       [](const std::wstring& root) { return "load_library [" + narrow(root) + "\\app\\zantonative1.dll] loaded"; }},
      {"a native library loaded after creation finds its DLL on PATH",
       [&](LoadTest& t, const std::wstring& root) {
         JavaHome runtime = good(root);
         copyFile(standinNativeLibrary(), root + L"\\app\\zantonative1.dll");
         copyFile(standinDependency(), root + L"\\onpath\\zantodep1.dll");
         t.prependPath(root + L"\\onpath");
         runtime.setJvmControl(L"bin", L"client", "load_library=" + narrow(root) + "\\app\\zantonative1.dll\n");
         t.setSetting(setting::JvmSearchSequence, "A" + narrow(runtime.root()));
         return std::vector<std::string>{"Loading of JVM-DLL successful"};
       },
       [](const std::wstring& root) { return "load_library [" + narrow(root) + "\\app\\zantonative1.dll] loaded"; }},
  };
  int row = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    const std::wstring root = fixedDir_ / (L"row" + std::to_wstring(row++));
    createDirectories(root);
    auto expected = c.arrange(*this, root);
    Outcome o = load(true, c.loadLibraryLine != nullptr);
    DeleteFileW(exeFolderDll.c_str());
    EXPECT_TRUE(o.result);
    EXPECT_TRUE(o.entry);
    EXPECT_EQ(o.stderrText, "");
    EXPECT_TRUE(containsInOrder(o.log, expected));
    if (c.loadLibraryLine) {
      StandinRecord record = StandinRecord::read(root + L"\\good\\bin\\client\\standin-jvm-record.txt");
      EXPECT_TRUE(record.has(c.loadLibraryLine(root))) << ::testing::PrintToString(record.lines);
    }
    EXPECT_TRUE(JavaHome(root + L"\\javapath").javaCalls(L".").empty());  // never asked -version
  }
}

struct FailureCase {
  const char* name;
  std::string sequence, flavour;
  JvmKind kind;
  bool withLibrary;
  const char* message;  // %HOME% is the runtime's home as configured, %BIN% its bin folder
  const char* detail;   // the line after it: what failed
  std::vector<std::string> errors;
};

TEST_F(LoadTest, ExactlyOneMessagePerFailingOrigin) {
  const std::string getHandle = "ERROR: Could not get DLL-Handle.", functions = "ERROR: Could not load functions",
                    noneLoaded = "ERROR: No JVM could be loaded";
  const char* const noLibrary = "no jvm.dll in a VM type folder below %BIN%\\";
  const char* const noEntry = "%BIN%\\client\\jvm.dll: no JNI_CreateJavaVM in it, not a Java VM library";
  auto missing = [&](std::string d) {
    return std::vector<std::string>{"ERROR: " + d, getHandle, functions, noneLoaded};
  };
  auto noEntryErrors = std::vector<std::string>{functions, std::string("ERROR: ") + noEntry, noneLoaded};
  const FailureCase cases[] = {
      {"none", "", "", JvmKind::Standin, false, "m1001 no runtime", "", {"ERROR: No JVM found"}},
      // A java.exe on PATH with no VM library beside it is no runtime (see above).
      {"search order", "S", "", JvmKind::NoEntryPoint, true, "m1002 path runtime damaged", noEntry, noEntryErrors},
      {"environment entry", "EMYJAVA", "", JvmKind::Standin, false, "m1003 variable MYJAVA broken", noLibrary,
       missing(noLibrary)},
      {"product variable", "", "e", JvmKind::Standin, false, "m1003 variable ZANTO_JAVA_HOME broken", noLibrary,
       missing(noLibrary)},
      {"directory", "A%HOME%", "", JvmKind::NoEntryPoint, true, "m1004 directory %HOME% damaged", noEntry,
       noEntryErrors},
      {"not an image", "A%HOME%", "", JvmKind::NotAnImage, true, "m1004 directory %HOME% damaged",
       "%BIN%\\client\\jvm.dll: error 193: not a library of this launcher's bitness, or damaged",
       missing("%BIN%\\client\\jvm.dll: error 193: not a library of this launcher's bitness, or damaged")},
      {"a DLL that jvm.dll imports is nowhere", "A%HOME%", "", JvmKind::Importing, true,
       "m1004 directory %HOME% damaged", "%BIN%\\client\\jvm.dll: error 126: a DLL that jvm.dll needs is missing",
       missing("%BIN%\\client\\jvm.dll: error 126: a DLL that jvm.dll needs is missing")},
      // Later failures (another runtime, the same one again) leave the first's message.
      {"the first failed origin",
       "A%HOME%;EOTHERJAVA;EMYJAVA;Y",
       "",
       JvmKind::NoEntryPoint,
       true,
       "m1004 directory %HOME% damaged",
       noEntry,
       {functions, std::string("ERROR: ") + noEntry, "ERROR: no jvm.dll in a VM type folder below %OTHER%\\", getHandle,
        functions, noneLoaded}},
      {"registry", "Y", "", JvmKind::Standin, false, "m1005 registry runtime damaged", noLibrary, missing(noLibrary)},
  };
  JavaHome other = makeHome(fixedDir_ / L"other", "1.8.0_202");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    JavaHome home = makeHome(fixedDir_ / L"broken", "1.8.0_202");
    if (c.withLibrary) home.addJvm(L"bin", L"client", c.kind);
    const std::string h = narrow(home.root());
    auto fill = [&](std::string s) {
      for (auto [key, value] : {std::pair<const char*, std::string>{"%HOME%", h},
                                {"%BIN%", fullLow(home.path(L"bin"))},
                                {"%OTHER%", fullLow(other.path(L"bin"))}})
        for (size_t at; (at = s.find(key)) != std::string::npos;) s.replace(at, std::strlen(key), value);
      return s;
    };
    SetEnvironmentVariableA("MYJAVA", h.c_str());
    SetEnvironmentVariableA("OTHERJAVA", narrow(other.root()).c_str());
    if (c.flavour == "e") SetEnvironmentVariableA("ZANTO_JAVA_HOME", h.c_str());
    clearLocatedJvms(HKEY_CURRENT_USER);
    if (c.sequence.find('Y') != std::string::npos) addLocatedJvm(HKEY_CURRENT_USER, home.path(L"bin\\java.exe"));
    char savedPath[32768];
    DWORD n = GetEnvironmentVariableA("PATH", savedPath, sizeof savedPath);
    if (c.sequence == "S") prependPath(home.path(L"bin"));
    setSetting(setting::JvmSearchSequence, fill(c.sequence));
    setSetting(setting::ProductFlavor, c.flavour);
    Outcome o = load();
    SetEnvironmentVariableA("PATH", n > 0 && n < sizeof savedPath ? savedPath : nullptr);
    SetEnvironmentVariableA("ZANTO_JAVA_HOME", nullptr);
    SetEnvironmentVariableA("OTHERJAVA", nullptr);
    EXPECT_FALSE(o.result);
    EXPECT_FALSE(o.entry);
    // One report: the message, what failed on its own line, the log's path, nothing else.
    const std::string message = fill(c.message) + (*c.detail ? "\n" + fill(c.detail) : std::string()) + "\n\nLog: ";
    EXPECT_EQ(lower(o.stderrText.substr(0, message.size())), lower(message)) << o.stderrText;
    EXPECT_EQ(o.stderrText.find("m10", 1), std::string::npos) << o.stderrText;
    std::vector<std::string> errors, expected;
    for (const auto& l : o.log)
      if (l.rfind("ERROR: ", 0) == 0) errors.push_back(lower(l));
    for (const auto& e : c.errors) expected.push_back(lower(fill(e)));
    EXPECT_EQ(errors, expected);
    removeTree(home.root());
  }
  // Without showErrors: the same log, no message.
  Outcome quiet = load(false);
  EXPECT_FALSE(quiet.result);
  EXPECT_EQ(quiet.stderrText, "");
  EXPECT_TRUE(contains(quiet.log, "ERROR: No JVM found"));
}

}  // namespace
}  // namespace zanto::jvmtest

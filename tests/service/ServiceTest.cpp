// The service under Wine's service control manager: packaged launcher copies
// are installed, started, controlled, stopped and removed, and what the control
// manager and the stand-in JVM saw is checked. The stand-in jvm.dll is not a
// JVM.
#include <gtest/gtest.h>
// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
// clang-format on

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

#include "AccountRights.h"
#include "DeletionQueue.h"
#include "EventLog.h"
#include "JavaHomeFixture.h"
#include "LauncherMain.h"
#include "ServiceCommands.h"
#include "ServiceMain.h"
#include "ServiceTestSupport.h"
#include "Settings.h"
#include "StandinRecord.h"
#include "TextBuffer.h"

using namespace zanto;
using namespace zanto::fixture;
using namespace zanto::test;

namespace {

// --- pieces of the commands, called directly ---

struct DependencyCase {
  const char* setting;
  size_t size;
  const char* expected;  // zero bytes shown as '|'; null: no list
};

TEST(ServiceCommandParts, DependencyListSkipsEmptyPiecesAndCutsWholePieces) {
  const DependencyCase cases[] = {
      {"A,,B", 8192, "A|B||"}, {"", 8192, nullptr},      {",,", 8192, nullptr},          {"Tcpip", 8192, "Tcpip||"},
      {",A,", 8192, "A||"},    {"abc,defg", 6, "abc||"}, {"abc,defg", 10, "abc|defg||"}, {"abcdef", 6, nullptr},
  };
  for (const auto& c : cases) {
    char buffer[8193];
    std::memset(buffer, 'x', sizeof buffer);
    const char* list = buildDependencyList(c.setting, buffer, c.size);
    if (!c.expected) {
      EXPECT_EQ(list, nullptr) << c.setting;
      continue;
    }
    ASSERT_NE(list, nullptr) << c.setting;
    std::string shown;
    size_t i = 0;
    for (; i < c.size; ++i) {
      shown += list[i] ? list[i] : '|';
      if (i > 0 && !list[i] && !list[i - 1]) break;
    }
    EXPECT_EQ(shown, c.expected) << c.setting;
    EXPECT_EQ(buffer[c.size], 'x') << "written past the buffer for " << c.setting;
  }
}

TEST(ServiceCommandParts, BinaryPathIsQuotedWhenItHoldsABlank) {
  struct {
    std::string path;
    size_t size;
    bool fits;
    std::string expected;
  } const cases[] = {
      {"c:\\svc\\app.exe", 8194, true, "c:\\svc\\app.exe"},
      {"c:\\program files\\app.exe", 8194, true, "\"c:\\program files\\app.exe\""},
      {"c:\\a b.exe", 13, true, "\"c:\\a b.exe\""},
      {"c:\\a b.exe", 12, false, ""},  // no room for the closing quote: refused, not cut
      {"c:\\ab.exe", 9, false, ""},
  };
  for (const auto& c : cases) {
    char out[8194];
    EXPECT_EQ(serviceBinaryPath(c.path.c_str(), out, c.size), c.fits) << c.path;
    EXPECT_EQ(std::string(out), c.expected) << c.path;
  }
}

TEST(ServiceCommandParts, ConsoleEventsNeverEndTheProcess) {
  for (DWORD event : {CTRL_C_EVENT, CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT})
    EXPECT_TRUE(consoleCtrlHandler(event)) << event;
}

// The event viewer renders an event through the executable's message table:
// the one message must give back its insertion string as it is, with no line
// break added.
TEST(ServiceCommandParts, AVirtualAccountIsTheServiceSid) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  // Windows' own service SID of TrustedInstaller; the name compares upper-cased.
  for (const wchar_t* account : {L"NT SERVICE\\TrustedInstaller", L"NT SERVICE\\trustedinstaller"}) {
    ASSERT_EQ(serviceAccountSid(AccountKind::Virtual, account, sid), 0u);
    char* text = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidA(sid, &text));
    EXPECT_STREQ(text, "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464");
    LocalFree(text);
  }
}

TEST(EventLogParts, TheMessageTableRendersTheReportAsItIs) {
  const std::wstring exe = fromTests(ZANTO_LAUNCHER_FROM_TESTS);
  HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr) << narrow(exe);
  const wchar_t* report = L"No Java found.\r\n\r\nLog: c:\\temp\\vmr_nlog_1 (100% %2)";
  const DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(report)};
  wchar_t shown[512] = {};
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, kEventTextMessage,
                           MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), shown, 512,
                           reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(arguments)));
  EXPECT_GT(n, 0u) << GetLastError();
  EXPECT_EQ(std::wstring(shown), report);
  FreeLibrary(module);
}

// Registry keys are named after the service: a name that does not fit or holds
// a backslash (no service's does) is refused, never cut into another key.
TEST(EventLogParts, KeysAreWrittenOnlyUnderTheWholeNameOfAnInstalledService) {
  const std::string installed = uniqueName("failure"), missing = uniqueName("failure-missing");
  ServiceGuard guard(installed);
  ASSERT_TRUE(createServiceDirectly(installed, "c:\\no\\such.exe"));
  struct {
    std::string name;
    LONG registered;
    const char* kept;  // the last failure after a report
  } const cases[] = {
      {installed, ERROR_SUCCESS, "stand-in report"},
      {missing, ERROR_SUCCESS, ""},  // no service key is made for it
      {"a\\b", ERROR_INVALID_NAME, ""},
      {"", ERROR_INVALID_NAME, ""},                      // not the Services key itself
      {std::string(9000, 'n'), ERROR_INVALID_NAME, ""},  // longer than any key path
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name.substr(0, 40));
    EXPECT_EQ(registerEventSource(c.name.c_str()), c.registered);
    EXPECT_EQ(launcherPathForm(eventMessageFile(c.name)),
              c.registered ? "" : launcherPathForm(fromTests("zanto_service_tests.exe")));
    EXPECT_EQ(removeEventSource(c.name.c_str()), c.registered);
    EXPECT_TRUE(eventMessageFile(c.name).empty());

    copyText(serviceName, kTextBufferSize, c.name.c_str());
    reportFailureEvent("stand-in report");
    EXPECT_EQ(readLastFailure(c.name.c_str()), c.kept);
    clearLastFailure();
    EXPECT_EQ(readLastFailure(c.name.c_str()), "");
  }
  HKEY key;
  EXPECT_NE(
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, ("SYSTEM\\CurrentControlSet\\Services\\" + missing).c_str(), 0, KEY_READ, &key),
      ERROR_SUCCESS);
  // A value longer than any report, written by someone else, is read whole.
  const std::string parameters = "SYSTEM\\CurrentControlSet\\Services\\" + installed + "\\Parameters";
  const std::string longText(20000, 'x');
  ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, parameters.c_str(), "LastFailure", REG_SZ, longText.c_str(),
                            static_cast<DWORD>(longText.size() + 1)),
            ERROR_SUCCESS);
  EXPECT_EQ(readLastFailure(installed.c_str()), longText);
  serviceName[0] = '\0';
}

// --- the commands against the control manager ---

struct InstallCase {
  const char* word;
  const char* executableType;
  DWORD startType;
  const char* dependencies;
  const char* expectedDependencies;
  std::u16string description;
  const char* stopTimeout;  // null: not in the block
  DWORD preshutdownMs;      // 0: the control manager's own
};

DWORD preshutdownTimeout(const std::string& name) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_CONFIG);
  SERVICE_PRESHUTDOWN_INFO info{0};
  DWORD need = 0;
  if (!service || !QueryServiceConfig2W(service, SERVICE_CONFIG_PRESHUTDOWN_INFO, reinterpret_cast<BYTE*>(&info),
                                        sizeof info, &need))
    info.dwPreshutdownTimeout = 0xFFFFFFFFu;
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return info.dwPreshutdownTimeout;
}

TEST(ServiceInstall, CreatesTheServiceAsConfigured) {
  const InstallCase cases[] = {
      {"install", "0", SERVICE_DEMAND_START, "A,,B", "A|B|", u"Demo service \u00e9t\u00e9", nullptr, 45000},
      {"install", "4", SERVICE_AUTO_START, "", "", u"", "5", 20000},
      {"install-auto", "0", SERVICE_AUTO_START, "Tcpip", "Tcpip|", u"", "0", 0},
      {"-install-demand", "4", SERVICE_DEMAND_START, ",", "", u"second", "-3", 0},
  };
  // What the control manager gives a service nobody set it for.
  const std::string plain = uniqueName("install-plain");
  ServiceGuard plainGuard(plain);
  ASSERT_TRUE(createServiceDirectly(plain, "c:\\plain.exe"));
  const DWORD managersOwn = preshutdownTimeout(plain);
  ASSERT_NE(managersOwn, 0xFFFFFFFFu) << "the pre-shutdown timeout cannot be read";
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.word) + " type " + c.executableType);
    ServicePackage package(L"svc-install");
    ServiceGuard guard(uniqueName("install") + "-" + std::to_string(index++));
    package.model().narrow[setting::ExecutableType] = c.executableType;
    package.model().narrow[setting::ServiceDependencies] = c.dependencies;
    if (!c.description.empty()) package.model().wide[setting::ServiceDescription] = c.description;
    if (c.stopTimeout) package.model().narrow[setting::StopTimeout] = c.stopTimeout;
    package.write(guard.name());
    std::string word = c.word[0] == '-' ? c.word : std::string("/") + c.word;
    LauncherRun run = runLauncher(package.exe(), word);
    EXPECT_EQ(run.out, "Installed service '" + guard.name() + "'.\n");
    EXPECT_EQ(run.exitCode, 0u);
    ServiceConfig config = queryConfig(guard.name());
    ASSERT_TRUE(config.found);
    EXPECT_EQ(config.serviceType, 0x110u);
    EXPECT_EQ(config.startType, c.startType);
    EXPECT_EQ(config.errorControl, 1u);
    EXPECT_EQ(config.displayName, guard.name());
    EXPECT_EQ(config.binaryPath, launcherPathForm(package.exe()));
    EXPECT_EQ(config.dependencies, c.expectedDependencies);
    EXPECT_EQ(config.hasDescription, !c.description.empty());
    EXPECT_EQ(config.description, std::wstring(c.description.begin(), c.description.end()));
    // The executable is the message file of its event source.
    EXPECT_EQ(launcherPathForm(eventMessageFile(guard.name())), launcherPathForm(package.exe()));
    EXPECT_EQ(preshutdownTimeout(guard.name()), c.preshutdownMs ? c.preshutdownMs : managersOwn);
  }
}

// Who besides SYSTEM and the Administrators may set values of the key that keeps
// a service's last failure, as SID texts.
std::vector<std::string> lastFailureWriters(const std::string& name) {
  std::vector<std::string> writers;
  HKEY key;
  const std::string path = "SYSTEM\\CurrentControlSet\\Services\\" + name + "\\Parameters";
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL, &key) != ERROR_SUCCESS) {
    writers.push_back("no key");
    return writers;
  }
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                      &descriptor) == ERROR_SUCCESS &&
      dacl) {
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      ACCESS_ALLOWED_ACE* ace = nullptr;
      if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
          !(ace->Mask & KEY_SET_VALUE))
        continue;
      char* text = nullptr;
      if (!ConvertSidToStringSidA(&ace->SidStart, &text)) continue;
      if (std::strcmp(text, "S-1-5-18") && std::strcmp(text, "S-1-5-32-544")) writers.push_back(text);
      LocalFree(text);
    }
  }
  if (descriptor) LocalFree(descriptor);
  RegCloseKey(key);
  return writers;
}

// The account, display name and start type as the control manager wrote them
// to the service's key. "%s" in an account stands for the service name. Wine
// keeps the account without checking it and grants the logon right to its own
// user only; a group managed account needs a domain on Windows.
TEST(ServiceInstall, AccountDisplayNameAndStartTypeAsRegistered) {
  wchar_t user[256];
  DWORD userSize = 256;
  ASSERT_TRUE(GetUserNameW(user, &userSize));
  const std::string localUser = ".\\" + narrow(user);
  const char* const password = "pw-5f3a9c-not-to-be-kept";
  struct {
    const char* word;
    std::string setting;
    const char* variable;  // ZANTO_SERVICE_ACCOUNT, null: unset
    std::u16string displayName;
    DWORD start, type;
    std::string objectName;
    const char* interactive;  // InteractiveService; null: not in the block
    // The SID (or its first part) that may write the last failure; "": none
    // beyond those who may anyway; null: it cannot be resolved here (no domain).
    const char* failureWriter;
  } const cases[] = {
      {"install", "", nullptr, u"", SERVICE_DEMAND_START, 0x110, "LocalSystem", nullptr, ""},
      {"install", "", nullptr, u"", SERVICE_DEMAND_START, 0x10, "LocalSystem", "0", ""},
      {"install", "", nullptr, u"", SERVICE_DEMAND_START, 0x110, "LocalSystem", "1", ""},
      {"install-auto", "LocalService", nullptr, u"Hello Service \u00e9t\u00e9", SERVICE_AUTO_START, 0x10,
       "NT AUTHORITY\\LocalService", "1", "S-1-5-19"},
      {"install", "NetworkService", nullptr, u"", SERVICE_DEMAND_START, 0x10, "NT AUTHORITY\\NetworkService", nullptr,
       "S-1-5-20"},
      {"install", "NT SERVICE\\%s", nullptr, u"Virtual", SERVICE_DEMAND_START, 0x10, "NT SERVICE\\%s", nullptr,
       "S-1-5-80-"},
      {"install-demand", "CORP\\svc-hello$", nullptr, u"", SERVICE_DEMAND_START, 0x10, "CORP\\svc-hello$", nullptr,
       nullptr},
      {"install", "LocalService", "NetworkService", u"", SERVICE_DEMAND_START, 0x10, "NT AUTHORITY\\NetworkService",
       nullptr, "S-1-5-20"},
      {"install", "", "LocalSystem", u"", SERVICE_DEMAND_START, 0x110, "LocalSystem", nullptr, ""},
      {"install", localUser, nullptr, u"As a user", SERVICE_DEMAND_START, 0x10, localUser, nullptr, "S-1-5-21-"},
  };
  int index = 0;
  for (const auto& c : cases) {
    ServicePackage package(L"svc-account");
    ServiceGuard guard(uniqueName("account") + "-" + std::to_string(index++));
    auto named = [&](std::string text) {
      if (size_t at = text.find("%s"); at != std::string::npos) text.replace(at, 2, guard.name());
      return text;
    };
    SCOPED_TRACE(std::string(c.word) + " " + named(c.setting));
    package.model().narrow[setting::ServiceAccount] = named(c.setting);
    if (c.interactive) package.model().narrow[setting::InteractiveService] = c.interactive;
    if (!c.displayName.empty()) package.model().wide[setting::DisplayName] = c.displayName;
    package.write(guard.name());
    TempDirectory tmp(L"svc-account-tmp");
    ScopedVariable variable("ZANTO_SERVICE_ACCOUNT", c.variable);
    ScopedVariable secret("ZANTO_SERVICE_PASSWORD", password);
    ScopedVariable log("ZANTO_LOG", "yes");
    ScopedVariable temp("TMP", narrow(tmp.path()).c_str());
    LauncherRun run = runLauncher(package.exe(), "/" + std::string(c.word));
    const bool user = named(c.objectName) == localUser;
    // An account that does not resolve here (no domain) leaves its key as it is.
    const std::string unresolved = "The service's account may not be able to record why a start failed (error 1332).\n";
    if (!c.failureWriter && run.out.rfind(unresolved, 0) == 0) run.out.erase(0, unresolved.size());
    EXPECT_EQ(run.out,
                           (user ? "Granted 'Log on as a service' to '" + localUser + "'.\n" : std::string()) +
                           "Installed service '" + guard.name() + "'.\n");
    EXPECT_EQ(run.exitCode, 0u);
    ServiceKey key = readServiceKey(guard.name());
    ASSERT_TRUE(key.found);
    EXPECT_EQ(narrow(key.objectName), named(c.objectName));
    const std::u16string display = c.displayName.empty() ? u"" : c.displayName;
    EXPECT_EQ(key.displayName, display.empty() ? widen(guard.name()) : std::wstring(display.begin(), display.end()));
    EXPECT_EQ(key.start, c.start);
    EXPECT_EQ(key.type, c.type) << "only LocalSystem may interact with the desktop, and only when asked";
    if (c.failureWriter) {
      std::vector<std::string> writers = lastFailureWriters(guard.name());
      if (!*c.failureWriter) {
        EXPECT_TRUE(writers.empty()) << writers.front();
      } else {
        ASSERT_EQ(writers.size(), 1u);
        EXPECT_EQ(writers[0].rfind(c.failureWriter, 0), 0u) << writers[0];
      }
    }
    // The password went to the control manager and nowhere else.
    const std::wstring serviceKey = L"System\\CurrentControlSet\\Services\\" + widen(guard.name());
    EXPECT_FALSE(registryTreeHolds(HKEY_LOCAL_MACHINE, serviceKey, password));
    EXPECT_FALSE(registryTreeHolds(HKEY_CURRENT_USER, L"SOFTWARE\\harnwick", password));
    Bytes exe;
    std::string error;
    ASSERT_TRUE(readFileBytes(std::filesystem::path(package.exe()), exe, error)) << error;
    EXPECT_EQ(std::string(exe.begin(), exe.end()).find(password), std::string::npos);
    std::string logs;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((tmp / L"vmr*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
      Bytes bytes;
      if (readFileBytes(std::filesystem::path(tmp / found.cFileName), bytes, error))
        logs.append(bytes.begin(), bytes.end());
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    EXPECT_NE(logs.find("installing service '" + guard.name() + "' as "), std::string::npos) << logs;
    EXPECT_EQ(logs.find(password), std::string::npos);
  }
}

// A refused account loses nothing: the service installed before stays as it was.
TEST(ServiceInstall, AccountsThatCannotBeUsedAreRefusedBeforeAnythingIsRemoved) {
  ServicePackage package(L"svc-refuse");
  ServiceGuard guard(uniqueName("refuse"));
  package.write(guard.name());
  ASSERT_EQ(runLauncher(package.exe(), "/install").exitCode, 0u);
  const std::string tooLong(8192, 'a');
  struct {
    std::string setting;
    const char* variable;  // ZANTO_SERVICE_ACCOUNT
    const char* password;  // ZANTO_SERVICE_PASSWORD
    std::string out;
  } const cases[] = {
      {".\\bob", nullptr, nullptr,
       "Service account '.\\bob' needs a password: set ZANTO_SERVICE_PASSWORD or enter it when asked.\n"},
      {"CORP\\alice", nullptr, "",
       "Service account 'CORP\\alice' needs a password: set ZANTO_SERVICE_PASSWORD or enter it when asked.\n"},
      // Longer than the launcher's buffer: refused, not cut.
      {"CORP\\alice", nullptr, tooLong.c_str(),
       "Service account 'CORP\\alice' needs a password: set ZANTO_SERVICE_PASSWORD or enter it when asked.\n"},
      {"", "CORP\\alice", nullptr,
       "Service account 'CORP\\alice' needs a password: set ZANTO_SERVICE_PASSWORD or enter it when asked.\n"},
      {"alice", nullptr, "pw",
       "Service account 'alice' cannot be used: write a user account as DOMAIN\\user or .\\user.\n"},
      {"NT SERVICE\\someone-else", nullptr, nullptr,
       "Service account 'NT SERVICE\\someone-else' cannot be used: a virtual account is NT SERVICE\\ and the "
       "service's own name.\n"},
      {"LocalService", tooLong.c_str(), nullptr, "ZANTO_SERVICE_ACCOUNT is too long.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setting + " / " + (c.variable ? std::string(c.variable).substr(0, 20) : "-"));
    package.model().narrow[setting::ServiceAccount] = c.setting;
    package.write(guard.name());
    ScopedVariable variable("ZANTO_SERVICE_ACCOUNT", c.variable);
    ScopedVariable secret("ZANTO_SERVICE_PASSWORD", c.password);
    LauncherRun run = runLauncher(package.exe(), "/install-auto");
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.exitCode, 1u);
    ServiceKey key = readServiceKey(guard.name());
    ASSERT_TRUE(key.found);
    EXPECT_EQ(key.objectName, L"LocalSystem");
    EXPECT_EQ(key.start, static_cast<DWORD>(SERVICE_DEMAND_START));
  }
}

TEST(ServiceInstall, ReinstallStopsTheRunningServiceFirst) {
  ServicePackage package(L"svc-reinstall");
  ServiceGuard guard(uniqueName("reinstall"));
  package.write(guard.name());
  ASSERT_EQ(runLauncher(package.exe(), "/install").exitCode, 0u);
  LauncherRun start = runLauncher(package.exe(), "/start");
  EXPECT_EQ(start.out, "Starting service '" + guard.name() + "'.\n");
  SERVICE_STATUS_PROCESS status;
  ASSERT_TRUE(waitForState(guard.name(), SERVICE_RUNNING, status));
  ASSERT_TRUE(package.waitForMain(1));
  LauncherRun again = runLauncher(package.exe(), "/install");
  EXPECT_EQ(again.out,
            "Stopping service '" + guard.name() + "'.\nService stopped\nInstalled service '" + guard.name() + "'.\n");
  EXPECT_EQ(again.exitCode, 0u);
  ASSERT_TRUE(queryStatus(guard.name(), status));
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
}

TEST(ServiceCommands, FailuresPrintTheirTextsAndGiveExitCodeOne) {
  ServicePackage package(L"svc-fail");
  ServiceGuard guard(uniqueName("fail"));
  package.write(guard.name());
  struct {
    bool installed;
    const char* tail;
    std::string out;
    DWORD exitCode;
  } const cases[] = {
      {false, "/uninstall", "Could not delete service.\n", 1},
      {false, "/stop", "Could not stop service.\n", 1},
      {false, "/start", "Could not start service.\n", 1},
      {true, "/stop", "Could not stop service.\n", 1},  // installed, not running
      {true, "/uninstall", "Uninstalled service '" + guard.name() + "'.\n", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tail);
    removeService(guard.name());
    if (c.installed) {
      ASSERT_EQ(runLauncher(package.exe(), "/install").exitCode, 0u);
    }
    LauncherRun run = runLauncher(package.exe(), c.tail);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.exitCode, c.exitCode);
  }
  EXPECT_FALSE(queryConfig(guard.name()).found);
  EXPECT_TRUE(eventMessageFile(guard.name()).empty());
}

TEST(ServiceCommands, TailDecidesCommandAndServiceName) {
  ServicePackage package(L"svc-tail");
  ServiceGuard guard(uniqueName("tail"));
  const std::string other = uniqueName("tail other");
  ServiceGuard otherGuard(other);
  package.write(guard.name());
  ASSERT_EQ(runLauncher(package.exe(), "/install").exitCode, 0u);
  const std::string starting = "Starting service '" + guard.name() + "'.\n";
  struct {
    std::string tail;
    std::string out;
    bool runs;  // the configured service ends up running
  } const cases[] = {
      {"-start", starting, true},
      {"--start", starting, true},
      {"/start", starting, true},
      {"/-start", starting, true},
      {"start", "", false},
      {"/Install", "", false},
      {"/foo bar", "", false},
      {"/install " + other, "Installed service '" + other + "'.\n", false},
      {"/install ", "Installed service '" + guard.name() + "'.\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tail);
    LauncherRun run = runLauncher(package.exe(), c.tail);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.exitCode, 0u);
    SERVICE_STATUS_PROCESS status;
    if (c.runs) {
      EXPECT_TRUE(waitForState(guard.name(), SERVICE_RUNNING, status));
      SERVICE_STATUS stop;
      ASSERT_TRUE(sendControl(guard.name(), SERVICE_CONTROL_STOP, stop));
      ASSERT_TRUE(waitForState(guard.name(), SERVICE_STOPPED, status));
    } else {
      ASSERT_TRUE(queryStatus(guard.name(), status));
      EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    }
  }
  EXPECT_TRUE(queryConfig(other).found);
}

// --- the service run ---

class ServiceRun : public ::testing::Test {
 protected:
  void install(const char* base) {
    name_ = uniqueName(base);
    guard_ = std::make_unique<ServiceGuard>(name_);
    package_.write(name_);
    ASSERT_EQ(runLauncher(package_.exe(), "/install").exitCode, 0u);
  }
  void startRunning(const std::vector<std::string>& arguments = {}) {
    ASSERT_TRUE(startWithArguments(name_, arguments));
    SERVICE_STATUS_PROCESS status;
    ASSERT_TRUE(waitForState(name_, SERVICE_RUNNING, status));
    ASSERT_TRUE(package_.waitForMain(++mainCalls_));
  }
  ServicePackage package_{L"svc-run"};
  std::string name_;
  std::unique_ptr<ServiceGuard> guard_;
  size_t mainCalls_ = 0;
};

TEST_F(ServiceRun, StopEndsStoppedWithExitCodeZeroAndQueuesTheExtraction) {
  install("run");
  startRunning({"extra one", "-Jx"});
  std::vector<std::string> args = package_.record().mainArguments();
  ASSERT_GE(args.size(), 6u);  // the record leaves empty arguments out
  EXPECT_NE(std::find(args.begin(), args.end(), "com.example.Demo"), args.end());
  // The service name the control manager passes, the configured arguments, then
  // the start parameters.
  const std::vector<std::string> tail(args.end() - 5, args.end());
  EXPECT_EQ(tail, (std::vector<std::string>{name_, "alpha", "beta gamma", "extra one", "-Jx"}));

  const std::vector<std::string> before = queuedDirectories();
  LauncherRun stop = runLauncher(package_.exe(), "/stop");
  EXPECT_EQ(stop.out, "Stopping service '" + name_ + "'.\nService stopped\n");
  EXPECT_EQ(stop.exitCode, 0u);
  SERVICE_STATUS_PROCESS status;
  ASSERT_TRUE(queryStatus(name_, status));
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(status.dwWin32ExitCode, 0u);
  EXPECT_EQ(status.dwServiceSpecificExitCode, 0u);
  // The stand-in ends the process without the launcher's exit handlers: the
  // report came from the exit hook.
  StandinRecord record = package_.record();
  EXPECT_TRUE(record.has("call [java/lang/System] [exit] 0"));
  EXPECT_TRUE(record.has("exit hook 0"));

  std::vector<std::string> added;
  for (const auto& entry : queuedDirectories())
    if (std::find(before.begin(), before.end(), entry) == before.end()) added.push_back(entry);
  ASSERT_EQ(added.size(), 1u) << "the extraction directory is queued once";
  const std::wstring extraction = widen(added[0]);
  EXPECT_TRUE(exists(extraction + L"\\notes.txt"));

  startRunning();  // the next start processes the queue before the JVM is loaded
  EXPECT_FALSE(exists(extraction));
  SERVICE_STATUS control;
  ASSERT_TRUE(sendControl(name_, SERVICE_CONTROL_STOP, control));
  EXPECT_TRUE(waitForState(name_, SERVICE_STOPPED, status));
}

TEST_F(ServiceRun, InterrogateReReportsTheRunningStatus) {
  install("control");
  startRunning();
  SERVICE_STATUS status;
  ASSERT_TRUE(sendControl(name_, SERVICE_CONTROL_INTERROGATE, status));
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(status.dwControlsAccepted,
            static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN));
  EXPECT_EQ(status.dwWaitHint, 50000u);
  EXPECT_EQ(status.dwCheckPoint, 0u);

  SERVICE_STATUS_PROCESS process;
  ASSERT_TRUE(queryStatus(name_, process));
  EXPECT_EQ(process.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(package_.record().count("call [java/lang/System] [exit]"), 0u);
}

// A client may not send the shutdown control (Wine refuses it with error 87, as
// Windows does), so the handler's effect on the status record is checked here,
// in this process, where no control manager receives the reports.
TEST(ServiceControlHandler, StopAndShutdownSetStopPendingOnlyShutdownMovesTheCheckPoint) {
  struct {
    DWORD control;
    DWORD state;
    DWORD checkPoint;
  } const cases[] = {
      {SERVICE_CONTROL_INTERROGATE, SERVICE_RUNNING, 0},   {SERVICE_CONTROL_STOP, SERVICE_STOP_PENDING, 0},
      {SERVICE_CONTROL_SHUTDOWN, SERVICE_STOP_PENDING, 1}, {SERVICE_CONTROL_PRESHUTDOWN, SERVICE_STOP_PENDING, 1},
      {SERVICE_CONTROL_PARAMCHANGE, SERVICE_RUNNING, 0},
  };
  for (const auto& c : cases) {
    serviceStatus = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, 5, 0, 0, 0, 50000};
    serviceControlHandler(c.control, 0, nullptr, nullptr);
    EXPECT_EQ(serviceStatus.dwCurrentState, c.state) << c.control;
    EXPECT_EQ(serviceStatus.dwCheckPoint, c.checkPoint) << c.control;
    EXPECT_EQ(serviceStatus.dwWaitHint, 50000u) << c.control;
  }
}

// A failed start says why where an administrator looks: an error event under
// the service's name, and a second line of "status" until a start succeeds.
TEST_F(ServiceRun, FailedStartEndsStoppedAndSaysWhy) {
  install("nojvm");
  const std::string runtime = package_.model().narrow[setting::JvmSearchSequence];
  const std::string classPath = package_.model().narrow[setting::ClassPath];
  writeJar(package_.dir() / L"other.jar", {"com/example/Other"});
  const std::string noJvm = "A" + narrow(package_.dir() / L"no such jdk");
  const std::map<int32_t, std::string> pending{{setting::StartPending, "1"}};
  struct {
    const char* what;
    std::string searchSequence, classPath;
    const char* jvmControl;
    std::map<int32_t, std::string> settings;
    bool truncated;  // the block is cut short
    DWORD win32ExitCode, specificExitCode;
    const char* text;  // null: the start succeeds
    size_t jvmsCreated;
  } const cases[] = {
      {"no JVM", noJvm, classPath, "", {}, false, 1, 0, "stand-in message 1001", 0},
      {"a start that succeeds", runtime, classPath, "", {}, false, 0, 0, nullptr, 1},
      // A fatal report ends the process, which must not leave the service running.
      {"no launcher class", runtime, "A1" + narrow(package_.dir() / L"other.jar"), "", {}, false, 1, 0,
       "stand-in message 1010", 2},
      {"the JVM refuses to be created", runtime, classPath, "create_result=-1\n", {}, false, 1, 0,
       "stand-in message 1005", 2},
      // With StartPending the failure says why in its code, never "Incorrect function".
      {"StartPending: no JVM", noJvm, classPath, "", pending, false, ERROR_SERVICE_SPECIFIC_ERROR, 1001,
       "stand-in message 1001", 2},
      {"StartPending: no launcher class", runtime, "A1" + narrow(package_.dir() / L"other.jar"), "", pending, false,
       ERROR_SERVICE_SPECIFIC_ERROR, 1010, "stand-in message 1010", 3},
      {"StartPending: the JVM refuses to be created", runtime, classPath, "create_result=-1\n", pending, false,
       ERROR_SERVICE_SPECIFIC_ERROR, 1005, "stand-in message 1005", 3},
      // Windowed kinds report in a box elsewhere; a service's box is never seen.
      {"a windowed kind without a JVM", noJvm, classPath, "", {{setting::ExecutableType, "1"}}, false, 1, 0,
       "stand-in message 1001", 3},
      {"a windowed kind without a JVM, StartPending", noJvm, classPath, "",
       {{setting::ExecutableType, "5"}, {setting::StartPending, "1"}}, false, ERROR_SERVICE_SPECIFIC_ERROR, 1001,
       "stand-in message 1001", 3},
      {"a block cut short", runtime, classPath, "", {}, true, ERROR_SERVICE_SPECIFIC_ERROR, 1020,
       "Internal Error: readInt", 3},
  };
  const uintmax_t launcherSize = std::filesystem::file_size(std::filesystem::path(fromTests(ZANTO_LAUNCHER_FROM_TESTS)));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    package_.jdk().setJvmControl(L"bin", L"client", c.jvmControl);
    package_.model().narrow[setting::JvmSearchSequence] = c.searchSequence;
    package_.model().narrow[setting::ClassPath] = c.classPath;
    package_.model().narrow.erase(setting::StartPending);
    package_.model().narrow.erase(setting::ExecutableType);
    for (const auto& [id, value] : c.settings) package_.model().narrow[id] = value;
    package_.write(name_);
    // Past the magic, inside the first record's length.
    if (c.truncated) std::filesystem::resize_file(std::filesystem::path(package_.exe()), launcherSize + 6);
    EventTrace trace;
    SERVICE_STATUS_PROCESS status;
    bool sawRunning = false;
    if (c.text) {
      ASSERT_TRUE(startWithArguments(name_, {}));
      for (int i = 0; i < 1200 && queryStatus(name_, status) && status.dwCurrentState != SERVICE_STOPPED; ++i) {
        sawRunning |= status.dwCurrentState == SERVICE_RUNNING;
        Sleep(25);
      }
    } else {
      startRunning();
      SERVICE_STATUS stop;
      ASSERT_TRUE(sendControl(name_, SERVICE_CONTROL_STOP, stop));
    }
    ASSERT_TRUE(waitForState(name_, SERVICE_STOPPED, status, 30000));
    EXPECT_EQ(status.dwWin32ExitCode, c.win32ExitCode);
    EXPECT_EQ(status.dwServiceSpecificExitCode, c.specificExitCode);
    if (c.settings.count(setting::StartPending)) {
      EXPECT_FALSE(sawRunning) << "a failed start was reported running";
    }
    EXPECT_EQ(package_.record().count("created"), c.jvmsCreated);
    const std::string statusLine = "Service '" + name_ + "' is stopped (exit code " + std::to_string(c.win32ExitCode) +
                                   ", service-specific exit code " + std::to_string(c.specificExitCode) + ").\n";
    if (c.truncated) {
      EXPECT_EQ(readLastFailure(name_.c_str()), c.text);
    } else {
      LauncherRun run = runLauncher(package_.exe(), "/status");
      EXPECT_EQ(run.out, statusLine + (c.text ? std::string(c.text) + "\n" : ""));
    }
    if (trace.available()) {
      EXPECT_EQ(trace.texts(), c.text ? std::vector<std::string>{c.text} : std::vector<std::string>{});
      EXPECT_EQ(trace.messageBoxes(), std::vector<std::string>{});
    }
  }
}

// StartPending: net start and dependent services wait until main is called, and
// a stop during that time ends the start.
TEST(ServiceStart, StartPendingLastsUntilMainIsCalled) {
  // A runtime no earlier start has checked, so its version is not cached.
  ServicePackage package_(L"svc-pending");
  const std::string name_ = uniqueName("pending");
  ServiceGuard guard(name_);
  package_.model().narrow[setting::StartPending] = "1";
  // As zanto-pack writes it: the executable's folder, not System32.
  package_.model().narrow[setting::WorkingDirectory] = ".";
  // The runtime check takes seconds; main blocks as a server's does.
  package_.jdk().setJavaControl(L"bin", "sleep_ms=5000\n");
  package_.jdk().setJvmControl(L"bin", L"client", "main=block\nmain_delay_ms=600000\n");
  package_.write(name_);
  ASSERT_EQ(runLauncher(package_.exe(), "/install").exitCode, 0u);
  ASSERT_TRUE(startWithArguments(name_, {}));
  static const char kMain[] = "call [com/zanto/runtime/WinLauncher] [main]";
  SERVICE_STATUS_PROCESS status{};
  DWORD firstCheckPoint = 0, lastCheckPoint = 0, waitHint = 0;
  bool sawPending = false;
  for (int i = 0; i < 1200; ++i) {
    // The record first: once main is recorded, the service must already be running.
    const bool mainCalled = package_.record().count(kMain) > 0;
    ASSERT_TRUE(queryStatus(name_, status));
    if (status.dwCurrentState != SERVICE_START_PENDING) break;
    EXPECT_FALSE(mainCalled) << "main runs while the start is still pending";
    if (!sawPending) firstCheckPoint = status.dwCheckPoint;
    sawPending = true;
    lastCheckPoint = status.dwCheckPoint;
    waitHint = status.dwWaitHint;
    Sleep(50);
  }
  EXPECT_TRUE(sawPending);
  EXPECT_GE(lastCheckPoint, firstCheckPoint + 2) << "the check point must move every 2 seconds";
  EXPECT_GE(waitHint, 4000u);
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  // The stand-in records the working directory right after the call of main.
  const std::string cwd = "main cwd [" + launcherPathForm(parentOf(package_.exe())) + "]";
  for (int i = 0; i < 600 && !package_.record().count(cwd); ++i) Sleep(50);
  EXPECT_EQ(package_.record().count(kMain), 1u);
  EXPECT_EQ(package_.record().count(cwd), 1u);
  SERVICE_STATUS control;
  ASSERT_TRUE(sendControl(name_, SERVICE_CONTROL_STOP, control));
  ASSERT_TRUE(waitForState(name_, SERVICE_STOPPED, status));

  // A stop while the start waits for the deletion queue's lock: no JVM, a clean stop.
  HANDLE queueLock = openDeletionQueueLock();
  ASSERT_NE(queueLock, nullptr);
  ASSERT_EQ(WaitForSingleObject(queueLock, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(startWithArguments(name_, {}));
  EXPECT_TRUE(waitForState(name_, SERVICE_START_PENDING, status));
  EXPECT_TRUE(sendControl(name_, SERVICE_CONTROL_STOP, control));
  Sleep(500);
  ReleaseMutex(queueLock);
  CloseHandle(queueLock);
  ASSERT_TRUE(waitForState(name_, SERVICE_STOPPED, status, 30000));
  EXPECT_EQ(status.dwWin32ExitCode, 0u);
  EXPECT_EQ(package_.record().count("created"), 1u);
}

TEST_F(ServiceRun, ApplicationExitIsReportedTheWindowsWay) {
  struct {
    const char* control;
    DWORD win32ExitCode, specificExitCode;
  } const cases[] = {
      {"main=exit-later\nmain_delay_ms=300\nmain_exit_code=3\n", ERROR_SERVICE_SPECIFIC_ERROR, 3},
      {"main=exit-later\nmain_delay_ms=300\nmain_exit_code=0\n", NO_ERROR, 0},
      {"main=exit\nmain_delay_ms=100\nmain_exit_code=-2\n", ERROR_SERVICE_SPECIFIC_ERROR, 0xFFFFFFFEu},
  };
  install("appexit");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.control);
    package_.jdk().setJvmControl(L"bin", L"client", c.control);
    const std::vector<std::string> before = queuedDirectories();
    ASSERT_TRUE(startWithArguments(name_, {}));
    SERVICE_STATUS_PROCESS status;
    ASSERT_TRUE(waitForState(name_, SERVICE_STOPPED, status));
    EXPECT_EQ(status.dwWin32ExitCode, c.win32ExitCode);
    EXPECT_EQ(status.dwServiceSpecificExitCode, c.specificExitCode);
    // The extracted files are queued for the next run as after a stop.
    size_t added = 0;
    for (const auto& entry : queuedDirectories())
      if (std::find(before.begin(), before.end(), entry) == before.end()) ++added;
    EXPECT_EQ(added, 1u);
  }
}

// Who owns a folder and whom its access list names, as SID texts ("SID mask").
struct FolderSecurity {
  std::string owner;
  std::vector<std::string> entries;
};

FolderSecurity folderSecurity(const std::wstring& path) {
  FolderSecurity out;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return out;
  auto text = [](PSID sid) {
    char* t = nullptr;
    std::string s = sid && ConvertSidToStringSidA(sid, &t) ? t : "?";
    if (t) LocalFree(t);
    return s;
  };
  out.owner = text(owner);
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)))
      out.entries.push_back(text(&ace->SidStart) + " " + std::to_string(ace->Mask));
  }
  LocalFree(descriptor);
  return out;
}

std::string tokenUser() {
  HANDLE token;
  alignas(TOKEN_USER) BYTE info[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD length = 0;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  bool ok = GetTokenInformation(token, TokenUser, info, sizeof info, &length);
  CloseHandle(token);
  char* text = nullptr;
  if (!ok || !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(info)->User.Sid, &text)) return {};
  std::string out = text;
  LocalFree(text);
  return out;
}

// Lets Everyone change a folder, as a user's folder made before the service's first
// start may (Wine turns the entry into the Unix mode o+w).
bool letEveryoneChange(const std::wstring& path) {
  BYTE everyone[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof everyone;
  if (!CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size)) return false;
  EXPLICIT_ACCESSW entry{};
  entry.grfAccessPermissions = GENERIC_ALL;
  entry.grfAccessMode = GRANT_ACCESS;
  entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry.Trustee.ptstrName = reinterpret_cast<LPWSTR>(everyone);
  PACL current = nullptr, updated = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  bool done = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &current,
                                    nullptr, &descriptor) == ERROR_SUCCESS &&
              SetEntriesInAclW(1, &entry, current, &updated) == ERROR_SUCCESS &&
              SetNamedSecurityInfoW(const_cast<LPWSTR>(path.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, updated, nullptr) == ERROR_SUCCESS;
  if (updated) LocalFree(updated);
  if (descriptor) LocalFree(descriptor);
  return done;
}

// The log files named `stem*.log` in a directory, oldest first: rolled names sort
// before the current one.
std::vector<std::wstring> logFiles(const std::wstring& directory, const std::wstring& stem) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((directory + L"\\" + stem + L"*.log").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do names.push_back(found.cFileName);
  while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(ServiceRun, CapturedOutputReachesTheLogFilesWholeAndInOrder) {
  struct {
    const char* what;
    std::map<int32_t, std::string> settings;
    const char* control;
    bool stop;             // stopped by the control manager, else System.exit right after the last write
    const wchar_t* error;  // the error log beside the output log; null: errors in the output log
    bool rolls;
  } const cases[] = {
      {"a relative name; System.exit right after a buffered write",
       {{setting::OutputLog, "logs\\out.log"}},
       "print_lines=300\nprint_errors=7\nmain=exit\n",
       false,
       nullptr,
       false},
      {"a separate error log named by a variable; a stop while the JVM runs",
       {{setting::OutputLog, "logs\\out.log"},
        {setting::ErrorLog, "%ZANTO_EXEDIR%logs\\err.log"},
        {setting::LogMode, "truncate"}},
       "print_lines=300\nprint_errors=4\nmain=return\nucrt_write=through the runtime's own descriptor\n",
       true,
       L"err.log",
       false},
      {"rolling by size during the run",
       {{setting::OutputLog, "logs\\out.log"},
        {setting::LogMode, "roll-by-size"},
        {setting::LogSizeThreshold, "4K"},
        {setting::LogKeepFiles, "3"}},
       "print_lines=400\nprint_width=61\nmain=exit\n",
       false,
       nullptr,
       true},
  };
  install("capture");
  const std::wstring logs = parentOf(package_.exe()) + L"\\logs";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    removeTree(logs);
    for (const auto& [id, value] : c.settings) package_.model().narrow[id] = value;
    package_.write(name_);
    package_.jdk().setJvmControl(L"bin", L"client", c.control);
    ASSERT_TRUE(startWithArguments(name_, {}));
    SERVICE_STATUS_PROCESS status;
    if (c.stop) {
      ASSERT_TRUE(package_.waitForMain(++mainCalls_));
      SERVICE_STATUS control;
      ASSERT_TRUE(sendControl(name_, SERVICE_CONTROL_STOP, control));
    }
    ASSERT_TRUE(waitForState(name_, SERVICE_STOPPED, status));
    EXPECT_EQ(status.dwWin32ExitCode, 0u);

    const std::string control = c.control;
    auto number = [&](const char* key, int otherwise) {
      size_t at = control.find(key);
      return at == std::string::npos ? otherwise : std::atoi(control.c_str() + at + std::strlen(key));
    };
    std::string out, err;
    // What the stand-in wrote through ucrtbase's descriptor 1 (text mode) comes first.
    if (size_t at = control.find("ucrt_write="); at != std::string::npos) {
      size_t end = control.find('\n', at);
      out = control.substr(at + 11, end - at - 11) + "\r\n";
      EXPECT_EQ(package_.record().count("ucrt write loaded_before="), 1u);
    }
    for (int i = 0, n = number("print_lines=", 0); i < n; ++i) {
      PrintedLine line = standinPrintedLine(i, number("print_width=", 60), number("print_errors=", 0));
      (line.toError && c.error ? err : out) += line.text;
    }
    std::vector<std::wstring> files = logFiles(logs, L"out");
    std::string all;
    for (const std::wstring& name : files) {
      std::string content = readFileBytes(logs + L"\\" + name);
      if (c.rolls) {
        EXPECT_LE(content.size(), 4096u + 1024u) << narrow(name);
        EXPECT_EQ(content.substr(content.size() - 2), "\r\n") << narrow(name) << " ends inside a line";
      }
      all += content;
    }
    if (c.rolls) {
      const std::vector<std::wstring> expected = {L"out.0003.log", L"out.0004.log", L"out.0005.log", L"out.log"};
      EXPECT_EQ(files, expected);
      ASSERT_LE(all.size(), out.size());
      EXPECT_EQ(all, out.substr(out.size() - all.size()));  // the newest output, every byte in order
    } else {
      EXPECT_EQ(all, out);
    }
    if (c.error) {
      EXPECT_EQ(readFileBytes(logs + L"\\" + c.error), err);
    }
    // The launcher made the folder (a privileged service): owned by its account
    // (LocalSystem; under Wine every process's user) and open to nobody but SYSTEM,
    // Administrators and that account. Windows keeps the whole list; Wine 8 keeps the
    // owner and some of the entries, but adds none.
    const FolderSecurity made = folderSecurity(logs);
    const std::string user = tokenUser();
    EXPECT_TRUE(made.owner == "S-1-5-18" || made.owner == user) << made.owner;
    ASSERT_FALSE(made.entries.empty());
    for (const std::string& entry : made.entries) {
      const std::string sid = entry.substr(0, entry.find(' '));
      EXPECT_TRUE(sid == "S-1-5-18" || sid == "S-1-5-32-544" || sid == user) << entry;
    }
    for (const auto& setting : c.settings) package_.model().narrow.erase(setting.first);
  }
}

TEST_F(ServiceRun, AnUnwritableOutputLogNeverStopsTheStart) {
  // A file stands where the log's folder would have to be.
  ASSERT_TRUE(writeFile(parentOf(package_.exe()) + L"\\blocked", "a file"));
  package_.model().narrow[setting::OutputLog] = "blocked\\out.log";
  package_.jdk().setJvmControl(L"bin", L"client", "print_lines=50\n");
  install("unwritable");
  startRunning();
  SERVICE_STATUS control;
  ASSERT_TRUE(sendControl(name_, SERVICE_CONTROL_STOP, control));
  SERVICE_STATUS_PROCESS status;
  ASSERT_TRUE(waitForState(name_, SERVICE_STOPPED, status));
  EXPECT_EQ(status.dwWin32ExitCode, 0u);
  EXPECT_TRUE(package_.record().has("exit hook 0"));

  // Run in a console with ConsoleLog: the output is still shown, and the launcher's
  // log says why the file has none of it.
  package_.model().narrow[setting::ConsoleLog] = "1";
  package_.jdk().setJvmControl(L"bin", L"client", "print_lines=5\nmain=exit\n");
  package_.write(name_);
  const std::wstring logDir = package_.dir() / L"launcher-log";
  createDirectories(logDir);
  wchar_t tmp[MAX_PATH] = L"";
  GetEnvironmentVariableW(L"TMP", tmp, MAX_PATH);
  SetEnvironmentVariableW(L"TMP", logDir.c_str());
  SetEnvironmentVariableW(L"ZANTO_LOG", L"yes");
  LauncherRun run = runInNewConsole(package_.exe(), "/run", [](const PROCESS_INFORMATION&) {});
  SetEnvironmentVariableW(L"ZANTO_LOG", nullptr);
  SetEnvironmentVariableW(L"TMP", tmp);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_NE(run.out.find("out 4 WriteFile"), std::string::npos) << run.out;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((logDir + L"\\vmr*").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE) << "no launcher log";
  std::string log = readFileBytes(logDir + L"\\" + found.cFileName);
  FindClose(search);
  // Once, though every line of output tried the file again.
  const std::string report = "\\blocked\\out.log (error 3); output is kept for the next try";
  size_t at = log.find(report);
  EXPECT_NE(at, std::string::npos) << log;
  EXPECT_EQ(log.find(report, at + 1), std::string::npos) << log;
  EXPECT_NE(log.find("ERROR: cannot open output log "), std::string::npos) << log;

  // A log folder that Everyone may change, made before the first start: whoever may
  // write there steers what the service writes, rolls and deletes. The service runs
  // on without that log and says so once, as a warning, not as a failure.
  const std::wstring open = parentOf(package_.exe()) + L"\\open";
  createDirectories(open);
  ASSERT_TRUE(letEveryoneChange(open));
  package_.model().narrow[setting::OutputLog] = "open\\out.log";
  package_.model().narrow.erase(setting::ConsoleLog);
  package_.jdk().setJvmControl(L"bin", L"client", "print_lines=50\n");
  package_.write(name_);
  EventTrace trace;
  startRunning();
  ASSERT_TRUE(sendControl(name_, SERVICE_CONTROL_STOP, control));
  ASSERT_TRUE(waitForState(name_, SERVICE_STOPPED, status));
  EXPECT_EQ(status.dwWin32ExitCode, 0u);
  EXPECT_EQ(logFiles(open, L"out"), std::vector<std::wstring>{});
  if (trace.available()) {
    const std::vector<std::string> warnings = trace.warnings();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("\\open\\out.log is not written: "), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("may be changed by Everyone (S-1-1-0)"), std::string::npos) << warnings[0];
    EXPECT_EQ(trace.texts(), std::vector<std::string>{});
  }
}

// How a run ends: stopped while main blocks, by a stop that hangs, by a failed
// first-run step, or by the application itself under EndWithApplication.
TEST_F(ServiceRun, EndsStoppedWithTheCodeOfHowItEnded) {
  static const char kMain[] = "call [com/zanto/runtime/WinLauncher] [main]";
  struct {
    const char* what;
    std::map<int32_t, std::string> settings;
    const char* control;
    const char* stopAfter;  // a stop once the record has this line; null: none
    DWORD win32ExitCode, specificExitCode;
    DWORD checkPoints;  // the stop pending check point reached at least this
    std::vector<std::string> recorded;
    std::vector<std::string> notRecorded;
    const char* launcher;  // relative to the tests; null: this build's
  } const cases[] = {
      {"main blocks: the stop exits the JVM from another thread",
       {},
       "main=block\nmain_delay_ms=600000\n",
       kMain,
       NO_ERROR,
       0,
       0,
       {"AttachCurrentThread", "call [java/lang/System] [exit] 0", "exit hook 0"},
       {"ExceptionOccurred"},
       nullptr},
      {"the stop hangs: ended at StopTimeout with 1053",
       {{setting::StopTimeout, "5"}},
       "exit_hang=1\n",
       "ExceptionOccurred",
       ERROR_SERVICE_REQUEST_TIMEOUT,
       0,
       2,
       {"exit hangs"},
       {"exit hook 0"},
       nullptr},
      // The pipes fill while the capture's writer hangs: the drain at the end must
      // not wait for them (the control manager is told 1053 before the process ends,
      // so the process itself is watched).
      {"the capture's writer hangs and the stop hangs: still ended at StopTimeout with 1053",
       {{setting::StopTimeout, "5"}, {setting::OutputLog, "logs\\out.log"}},
       "print_lines=3000\nprint_width=1000\nexit_hang=1\n",
       kMain,
       ERROR_SERVICE_REQUEST_TIMEOUT,
       0,
       2,
       {"exit hangs"},
       {"exit hook 0", "ExceptionOccurred"},
       ZANTO_STALLED_LAUNCHER_FROM_TESTS},
      {"firstRun throws: a failed start, main never runs",
       {{setting::ProductFlavor, "i"}, {setting::InstallRoot, narrow(package_.dir().path())}},
       "first_run=throw\n",
       nullptr,
       1,
       0,
       0,
       {"call [com/velmora/runtime/FirstRun] [firstRun] -> throw"},
       {kMain},
       nullptr},
      {"EndWithApplication: main returns, the service ends",
       {{setting::EndWithApplication, "1"}},
       "main=return\n",
       nullptr,
       NO_ERROR,
       0,
       0,
       {"DestroyJavaVM"},
       {"call [java/lang/System] [exit]"},
       nullptr},
      {"EndWithApplication: the application's own exit keeps its code",
       {{setting::EndWithApplication, "1"}},
       "main=exit-later\nmain_delay_ms=300\nmain_exit_code=3\n",
       nullptr,
       ERROR_SERVICE_SPECIFIC_ERROR,
       3,
       0,
       {"DestroyJavaVM", "exit 3 application"},
       {},
       nullptr},
      // HotSpot's handler, added at creation, would end the service on the event.
      {"a console event while main runs: the launcher's handler is asked first",
       {},
       "main=block\nmain_delay_ms=600000\nconsole_event=1\n",
       "console event sent",
       NO_ERROR,
       0,
       0,
       {"console event sent 1"},
       {"console event 0"},
       nullptr},
      {"EndWithApplication: a stop while the application's threads run",
       {{setting::EndWithApplication, "1"}},
       "main=exit-later\nmain_delay_ms=600000\n",
       "DestroyJavaVM",
       NO_ERROR,
       0,
       0,
       {"DestroyJavaVM", "AttachCurrentThread", "exit hook 0"},
       {"exit 0 application"},
       nullptr},
  };
  writeFirstRunMarker(package_.dir().path());
  install("ends");
  const std::wstring recordPath = package_.jdk().jvmRecordPath(L"bin", L"client");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    package_.model().narrow.erase(setting::StopTimeout);
    package_.model().narrow.erase(setting::EndWithApplication);
    package_.model().narrow.erase(setting::ProductFlavor);
    package_.model().narrow.erase(setting::OutputLog);
    package_.useLauncher(c.launcher);
    for (const auto& [id, value] : c.settings) package_.model().narrow[id] = value;
    package_.write(name_);
    package_.jdk().setJvmControl(L"bin", L"client", c.control);
    DeleteFileW(recordPath.c_str());
    ASSERT_TRUE(startWithArguments(name_, {}));
    SERVICE_STATUS_PROCESS status{};
    HANDLE process = nullptr;
    for (int i = 0; i < 600 && !process && queryStatus(name_, status) && status.dwCurrentState != SERVICE_STOPPED;
         ++i) {
      if (status.dwProcessId)
        process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, status.dwProcessId);
      if (!process) Sleep(25);
    }
    if (c.stopAfter) {
      for (int i = 0; i < 600 && !package_.record().count(c.stopAfter); ++i) Sleep(50);
      ASSERT_EQ(package_.record().count(c.stopAfter), 1u);
      SERVICE_STATUS control;
      ASSERT_TRUE(sendControl(name_, SERVICE_CONTROL_STOP, control));
    }
    DWORD checkPoint = 0;
    for (int i = 0; i < 1200 && queryStatus(name_, status) && status.dwCurrentState != SERVICE_STOPPED; ++i) {
      if (status.dwCurrentState == SERVICE_STOP_PENDING) checkPoint = std::max(checkPoint, status.dwCheckPoint);
      Sleep(25);
    }
    ASSERT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWin32ExitCode, c.win32ExitCode);
    EXPECT_EQ(status.dwServiceSpecificExitCode, c.specificExitCode);
    EXPECT_GE(checkPoint, c.checkPoints);
    if (process) {
      EXPECT_EQ(WaitForSingleObject(process, 30000), WAIT_OBJECT_0) << "the service's process did not end";
      DWORD exitCode = 0;
      GetExitCodeProcess(process, &exitCode);
      if (c.win32ExitCode == ERROR_SERVICE_REQUEST_TIMEOUT) {
        EXPECT_EQ(exitCode, c.win32ExitCode);
      }
      CloseHandle(process);
    }
    StandinRecord record = package_.record();
    for (const auto& line : c.recorded) EXPECT_GE(record.count(line), 1u) << line;
    for (const auto& line : c.notRecorded) EXPECT_EQ(record.count(line), 0u) << line;
  }
}

TEST_F(ServiceRun, WithoutEndWithApplicationAReturnedMainKeepsTheServiceRunning) {
  install("stays");
  startRunning();
  Sleep(1000);
  SERVICE_STATUS_PROCESS status;
  ASSERT_TRUE(queryStatus(name_, status));
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(package_.record().count("DestroyJavaVM"), 0u);
}

// A stop while the start still waits for the deletion queue's lock ends the
// start there: no JVM is created and the stop is a clean one.
TEST_F(ServiceRun, StopBeforeTheJvmExistsEndsTheStartStoppedWithZero) {
  install("early");
  HANDLE queueLock = openDeletionQueueLock();
  ASSERT_NE(queueLock, nullptr);
  ASSERT_EQ(WaitForSingleObject(queueLock, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(startWithArguments(name_, {}));
  SERVICE_STATUS_PROCESS status;
  EXPECT_TRUE(waitForState(name_, SERVICE_RUNNING, status));
  SERVICE_STATUS control;
  EXPECT_TRUE(sendControl(name_, SERVICE_CONTROL_STOP, control));
  Sleep(500);
  ReleaseMutex(queueLock);
  CloseHandle(queueLock);
  ASSERT_TRUE(waitForState(name_, SERVICE_STOPPED, status, 30000));
  EXPECT_EQ(status.dwWin32ExitCode, 0u);
  EXPECT_EQ(package_.record().count("create"), 0u);
}

// Whoever may start a service chooses its start parameters: with PassVmArguments
// they still reach main, never the JVM's options.
TEST_F(ServiceRun, StartParametersNeverBecomeJvmOptions) {
  package_.model().narrow[setting::PassVmArguments] = "1";
  install("no-j");
  startRunning({"-J-agentpath:c:\\evil.dll", "plain"});
  StandinRecord record = package_.record();
  const std::vector<std::string> options = record.options();
  EXPECT_EQ(std::find(options.begin(), options.end(), "-agentpath:c:\\evil.dll"), options.end())
      << "a start parameter became a JVM option";
  const std::vector<std::string> args = record.mainArguments();
  ASSERT_FALSE(args.empty());
  EXPECT_EQ(args.back(), "plain");
  SERVICE_STATUS control;
  ASSERT_TRUE(sendControl(name_, SERVICE_CONTROL_STOP, control));
  SERVICE_STATUS_PROCESS status;
  EXPECT_TRUE(waitForState(name_, SERVICE_STOPPED, status));
}

// Installed under a name of its own ("install NAME"), the service is that service
// at run time: its failure is kept under that name, not under the configured one.
TEST_F(ServiceRun, AServiceInstalledUnderAnotherNameReportsUnderThatName) {
  name_ = uniqueName("other name");
  guard_ = std::make_unique<ServiceGuard>(name_);
  const std::string configured = uniqueName("configured");
  ServiceGuard configuredGuard(configured);
  package_.model().narrow[setting::JvmSearchSequence] = "A" + narrow(package_.dir() / L"no such jdk");
  package_.write(configured);
  ASSERT_EQ(runLauncher(package_.exe(), "/install " + name_).exitCode, 0u);
  ASSERT_TRUE(createServiceDirectly(configured, "c:\\other.exe"));  // a service of that name exists
  EventTrace trace;
  ASSERT_TRUE(startWithArguments(name_, {}));
  SERVICE_STATUS_PROCESS status;
  ASSERT_TRUE(waitForState(name_, SERVICE_STOPPED, status));
  EXPECT_EQ(readLastFailure(name_.c_str()), "stand-in message 1001");
  EXPECT_EQ(readLastFailure(configured.c_str()), "");
}

TEST_F(ServiceRun, ServiceNameComesFromTheTailOfTheBinaryPath) {
  // Registered by hand with the tail "/foo <name>": the word is no command, so
  // the launcher serves under the name after it, not under ApplicationName.
  name_ = uniqueName("foo tail");
  guard_ = std::make_unique<ServiceGuard>(name_);
  package_.write(uniqueName("configured"));
  ASSERT_TRUE(createServiceDirectly(name_, "\"" + narrow(package_.exe()) + "\" /foo " + name_));
  startRunning();
  SERVICE_STATUS status;
  ASSERT_TRUE(sendControl(name_, SERVICE_CONTROL_STOP, status));
  SERVICE_STATUS_PROCESS process;
  ASSERT_TRUE(waitForState(name_, SERVICE_STOPPED, process));
  EXPECT_EQ(process.dwWin32ExitCode, 0u);
}

}  // namespace

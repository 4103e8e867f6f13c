// What administrators do with an installed or packaged service: "status",
// "restart", "run" in a console with a console control event, and installation
// with recovery and delayed start. Under Wine's control manager with the
// stand-in jvm.dll, which is not a JVM.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

#include "AccountRights.h"
#include "ConfigBlock.h"
#include "LauncherMain.h"
#include "ServiceCommands.h"
#include "ServiceMain.h"
#include "ServiceTestSupport.h"
#include "TextBuffer.h"
// clang-format off
#include <sddl.h>  // needs <windows.h> first
// clang-format on

using namespace zanto;
using namespace zanto::test;

namespace {

class Operation : public ::testing::Test {
 protected:
  void install(const char* base, const char* word = "/install") {
    name_ = uniqueName(base);
    guard_ = std::make_unique<ServiceGuard>(name_);
    package_.write(name_);
    ASSERT_EQ(runLauncher(package_.exe(), word).exitCode, 0u);
  }
  std::string status() {
    LauncherRun run = runLauncher(package_.exe(), "/status");
    EXPECT_EQ(run.exitCode, 0u) << run.out;
    return run.out;
  }
  std::string said(const std::string& rest) { return "Service '" + name_ + "' is " + rest + "\n"; }
  ServicePackage package_{L"svc-ops"};
  std::string name_;
  std::unique_ptr<ServiceGuard> guard_;
};

// --- status ---

TEST_F(Operation, StatusShowsTheStateAndTheExitCodesWhenStopped) {
  package_.write(uniqueName("missing"));
  LauncherRun missing = runLauncher(package_.exe(), "-status");
  EXPECT_EQ(missing.out, "Service '" + uniqueName("missing") + "' is not installed.\n");
  EXPECT_EQ(missing.exitCode, 1u);

  install("status");
  EXPECT_EQ(status(), said("stopped (exit code 1077, service-specific exit code 0)."));  // never started
  ASSERT_TRUE(startWithArguments(name_, {}));
  SERVICE_STATUS_PROCESS process;
  ASSERT_TRUE(waitForState(name_, SERVICE_RUNNING, process));
  ASSERT_TRUE(package_.waitForMain(1));
  EXPECT_EQ(status(), said("running."));
  ASSERT_EQ(runLauncher(package_.exe(), "/stop").exitCode, 0u);
  EXPECT_EQ(status(), said("stopped (exit code 0, service-specific exit code 0)."));

  package_.jdk().setJvmControl(L"bin", L"client", "main=exit-later\nmain_delay_ms=200\nmain_exit_code=3\n");
  ASSERT_TRUE(startWithArguments(name_, {}));
  ASSERT_TRUE(waitForState(name_, SERVICE_STOPPED, process));
  EXPECT_EQ(status(), said("stopped (exit code 1066, service-specific exit code 3)."));

  // The name after the word, as for every command; the word is case-sensitive.
  LauncherRun other = runLauncher(package_.exe(), "--status " + uniqueName("other"));
  EXPECT_EQ(other.out, "Service '" + uniqueName("other") + "' is not installed.\n");
  EXPECT_EQ(other.exitCode, 1u);
  const std::vector<std::string> before = queuedDirectories();
  LauncherRun upper = runLauncher(package_.exe(), "/Status");
  EXPECT_EQ(upper.out, "");  // service mode, outside the control manager
  EXPECT_EQ(upper.exitCode, 0u);
  // As a double-click: the files it extracted are queued for deletion.
  std::vector<std::string> added;
  for (const auto& entry : queuedDirectories())
    if (std::find(before.begin(), before.end(), entry) == before.end()) added.push_back(entry);
  ASSERT_EQ(added.size(), 1u);
  EXPECT_TRUE(exists(widen(added[0]) + L"\\notes.txt"));
}

TEST(ServiceStateName, EveryStateHasItsWord) {
  const std::pair<DWORD, const char*> cases[] = {
      {SERVICE_STOPPED, "stopped"},
      {SERVICE_START_PENDING, "starting"},
      {SERVICE_STOP_PENDING, "stopping"},
      {SERVICE_RUNNING, "running"},
      {SERVICE_CONTINUE_PENDING, "continuing"},
      {SERVICE_PAUSE_PENDING, "pausing"},
      {SERVICE_PAUSED, "paused"},
      {0, "in an unknown state"},
      {99, "in an unknown state"},
  };
  for (const auto& [state, word] : cases) EXPECT_STREQ(serviceStateName(state), word) << state;
}

// --- restart ---

TEST_F(Operation, RestartStopsAsStopDoesThenStarts) {
  install("restart");
  const std::string starting = "Starting service '" + name_ + "'.\n";
  const std::string stopping = "Stopping service '" + name_ + "'.\nService stopped\n";
  struct {
    bool runningBefore;
    std::string out;
  } const cases[] = {
      {false, starting},            // a stopped service is only started
      {true, stopping + starting},  // a running one is stopped first
  };
  size_t mainCalls = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out);
    SERVICE_STATUS_PROCESS process;
    ASSERT_TRUE(queryStatus(name_, process));
    ASSERT_EQ(process.dwCurrentState == SERVICE_RUNNING, c.runningBefore);
    LauncherRun run = runLauncher(package_.exe(), "/restart");
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_TRUE(waitForState(name_, SERVICE_RUNNING, process));
    ASSERT_TRUE(package_.waitForMain(++mainCalls));
  }
  // The stop of the restart told the JVM to exit once.
  EXPECT_EQ(package_.record().count("call [java/lang/System] [exit] 0"), 1u);

  removeService(name_);
  LauncherRun missing = runLauncher(package_.exe(), "/restart");
  EXPECT_EQ(missing.out, "Could not stop service.\n");
  EXPECT_EQ(missing.exitCode, 1u);
}

// --- run in the console ---

TEST_F(Operation, RunEndsWithTheApplicationsStatusOrOneWhenTheLaunchFails) {
  name_ = uniqueName("run-exit");
  struct {
    const char* what;
    const char* control;  // null: no JVM at all
    DWORD exitCode;
    const char* err;  // part of standard error
  } const cases[] = {
      {"System.exit(3) by the application", "main=exit\nmain_delay_ms=100\nmain_exit_code=3\n", 3, ""},
      {"System.exit(0) by the application", "main=exit-later\nmain_delay_ms=100\nmain_exit_code=0\n", 0, ""},
      {"main throws", "main=throw\n", 1, ""},
      {"no JVM", nullptr, 1, "stand-in message 1001"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.control) {
      package_.jdk().setJvmControl(L"bin", L"client", c.control);
    } else {
      package_.model().narrow[setting::JvmSearchSequence] = "A" + narrow(package_.dir() / L"no such jdk");
    }
    package_.write(name_);
    LauncherRun run = runInNewConsole(package_.exe(), "/run", [](const PROCESS_INFORMATION&) {});
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
  }
  // The run never touches the control manager.
  EXPECT_FALSE(queryConfig(name_).found);
}

TEST_F(Operation, RunShowsTheOutputOnTheConsoleAndWithConsoleLogInTheLogToo) {
  name_ = uniqueName("run-log");
  package_.model().narrow[setting::OutputLog] = "run.log";
  package_.jdk().setJvmControl(L"bin", L"client", "print_lines=40\nmain=exit\n");
  std::string expected, shown;  // shown: as runInNewConsole reads it, with LF line ends
  for (int i = 0; i < 40; ++i) {
    std::string text = standinPrintedLine(i, 60, 0).text;
    expected += text;
    shown += text.substr(0, text.size() - 2) + "\n";
  }
  const std::wstring log = parentOf(package_.exe()) + L"\\run.log";
  for (bool consoleLog : {false, true}) {
    SCOPED_TRACE(consoleLog ? "ConsoleLog" : "console only");
    DeleteFileW(log.c_str());
    package_.model().narrow[setting::ConsoleLog] = consoleLog ? "1" : "0";
    package_.write(name_);
    LauncherRun run = runInNewConsole(package_.exe(), "/run", [](const PROCESS_INFORMATION&) {});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.out, shown);
    EXPECT_EQ(exists(log), consoleLog);
    if (consoleLog) {
      EXPECT_EQ(readFileBytes(log), expected);
    }
  }
}

TEST_F(Operation, RunIsStoppedByCtrlCAsAServiceByItsStop) {
  name_ = uniqueName("run-ctrl");
  const struct {
    const char* what;
    const char* control;
    const char* stopAfter;  // the record line after which Ctrl+C comes
  } cases[] = {
      {"main has returned", "main=return\n", "ExceptionOccurred"},
      {"main still runs", "main=block\nmain_delay_ms=600000\n", "call [com/zanto/runtime/WinLauncher] [main]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    package_.jdk().setJvmControl(L"bin", L"client", c.control);
    DeleteFileW(package_.jdk().jvmRecordPath(L"bin", L"client").c_str());
    package_.write(name_);
    const std::vector<std::string> before = queuedDirectories();
    bool sent = false;
    LauncherRun run = runInNewConsole(package_.exe(), "/run", [&](const PROCESS_INFORMATION& process) {
      for (int i = 0; i < 600 && !package_.record().count(c.stopAfter); ++i) Sleep(50);
      Sleep(200);  // the launcher is past the line: waiting for the stop, or inside main
      sent = sendCtrlCToConsoleOf(process.dwProcessId);
    });
    ASSERT_TRUE(sent) << "Wine did not take the console control event";
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0u);
    StandinRecord record = package_.record();
    EXPECT_TRUE(record.has("call [java/lang/System] [exit] 0"));
    EXPECT_TRUE(record.has("exit hook 0"));
    // main got what it gets in the service: the service name stands where the
    // control manager's first argument would.
    std::vector<std::string> args = record.mainArguments();
    ASSERT_GE(args.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(args.end() - 3, args.end()),
              (std::vector<std::string>{name_, "alpha", "beta gamma"}));
    // The extracted files are queued for deletion as at a service stop.
    size_t added = 0;
    for (const auto& entry : queuedDirectories())
      if (std::find(before.begin(), before.end(), entry) == before.end()) {
        ++added;
        EXPECT_TRUE(exists(widen(entry) + L"\\notes.txt")) << entry;
      }
    EXPECT_EQ(added, 1u);
  }
}

// Wine delivers Ctrl+C to another console but refuses Ctrl+Break (error 6) and
// cannot close a console, so the handler's answer to each event is checked in a
// child process of its own: the stop request is made once, at the first event.
TEST(ConsoleRunHandler, EveryStopEventRequestsTheStop) {
  for (DWORD event : {CTRL_C_EVENT, CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT}) {
    EXPECT_EXIT(
        {
          installConsoleStop();
          // A close event holds the handler until the system ends the process,
          // so it runs on a thread of its own.
          std::thread([event] { consoleRunCtrlHandler(event); }).detach();
          bool pending = false;
          for (int i = 0; i < 100 && !(pending = stopRequestCount() == 1); ++i) Sleep(20);
          bool again = event == CTRL_CLOSE_EVENT || (consoleRunCtrlHandler(event), stopRequestCount() == 1);
          std::fflush(stdout);
          _exit(pending && again ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "")
        << event;
  }
}

// --- recovery and delayed start ---

struct RecordedChange {
  DWORD level;
  DWORD reset = 0, actions = 0, types[3] = {}, delays[3] = {}, flag = 0;
};
std::vector<RecordedChange> recorded;
DWORD refusedLevel;

BOOL WINAPI recordChange(SC_HANDLE, DWORD level, LPVOID info) {
  RecordedChange change{level};
  if (level == SERVICE_CONFIG_FAILURE_ACTIONS) {
    auto* actions = static_cast<SERVICE_FAILURE_ACTIONSW*>(info);
    change.reset = actions->dwResetPeriod;
    change.actions = actions->cActions;
    for (DWORD i = 0; i < actions->cActions && i < 3; ++i) {
      change.types[i] = actions->lpsaActions[i].Type;
      change.delays[i] = actions->lpsaActions[i].Delay;
    }
  } else if (level == SERVICE_CONFIG_FAILURE_ACTIONS_FLAG) {
    change.flag = static_cast<SERVICE_FAILURE_ACTIONS_FLAG*>(info)->fFailureActionsOnNonCrashFailures;
  } else if (level == SERVICE_CONFIG_DELAYED_AUTO_START_INFO) {
    change.flag = static_cast<SERVICE_DELAYED_AUTO_START_INFO*>(info)->fDelayedAutostart;
  }
  recorded.push_back(change);
  if (level != refusedLevel) return TRUE;
  SetLastError(ERROR_INVALID_LEVEL);
  return FALSE;
}

TEST(RecoveryCalls, SettingsBecomeTheCallsAndARefusalIsOnlyAWarning) {
  struct {
    const char* what;
    std::map<int32_t, std::string> settings;
    DWORD startType, refused;
    std::vector<DWORD> levels;
    std::string out;
  } const cases[] = {
      {"nothing configured", {}, SERVICE_AUTO_START, 0, {}, ""},
      {"all, automatic start",
       {{setting::RestartOnFailure, "1"},
        {setting::RestartDelayFirst, "5"},
        {setting::RestartDelaySecond, "60"},
        {setting::RestartDelayLater, "300"},
        {setting::FailureResetPeriod, "3600"},
        {setting::RestartOnNonCrashFailure, "1"},
        {setting::DelayedAutoStart, "1"}},
       SERVICE_AUTO_START,
       0,
       {SERVICE_CONFIG_FAILURE_ACTIONS, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, SERVICE_CONFIG_DELAYED_AUTO_START_INFO},
       ""},
      {"delayed start refused",
       {{setting::RestartOnFailure, "1"},
        {setting::RestartDelayFirst, "5"},
        {setting::RestartDelaySecond, "60"},
        {setting::RestartDelayLater, "300"},
        {setting::FailureResetPeriod, "3600"},
        {setting::DelayedAutoStart, "1"}},
       SERVICE_AUTO_START,
       SERVICE_CONFIG_DELAYED_AUTO_START_INFO,
       {SERVICE_CONFIG_FAILURE_ACTIONS, SERVICE_CONFIG_DELAYED_AUTO_START_INFO},
       "Delayed automatic start not applied (error 124).\n"},
      {"flag refused, delayed start not asked for on demand start",
       {{setting::RestartOnNonCrashFailure, "1"}, {setting::DelayedAutoStart, "1"}},
       SERVICE_DEMAND_START,
       SERVICE_CONFIG_FAILURE_ACTIONS_FLAG,
       {SERVICE_CONFIG_FAILURE_ACTIONS_FLAG},
       "Restart on non-crash failures not applied (error 124).\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    configStore() = ConfigStore();
    for (const auto& [id, value] : c.settings) configStore().narrow[id] = value;
    recorded.clear();
    refusedLevel = c.refused;
    ::testing::internal::CaptureStdout();
    applyRecovery(nullptr, recordChange, c.startType);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.out);
    std::vector<DWORD> levels;
    for (const auto& r : recorded) levels.push_back(r.level);
    EXPECT_EQ(levels, c.levels);
    for (const auto& r : recorded) {
      if (r.level == SERVICE_CONFIG_FAILURE_ACTIONS) {
        EXPECT_EQ(r.reset, 3600u);
        ASSERT_EQ(r.actions, 3u);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(r.types[i], static_cast<DWORD>(SC_ACTION_RESTART));
        EXPECT_EQ(std::vector<DWORD>(r.delays, r.delays + 3), (std::vector<DWORD>{5000, 60000, 300000}));
      } else {
        EXPECT_EQ(r.flag, 1u) << r.level;
      }
    }
  }
  // Without ChangeServiceConfig2W on the system every asked-for part is named.
  configStore() = ConfigStore();
  configStore().narrow[setting::RestartOnFailure] = "1";
  ::testing::internal::CaptureStdout();
  applyRecovery(nullptr, nullptr, SERVICE_AUTO_START);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Recovery actions not applied (error 127).\n");
  configStore() = ConfigStore();
}

// What the control manager keeps of the recovery settings, as far as it can
// say. Wine 8.0 accepts the failure actions without keeping them (no
// "FailureActions" value, and no way to read them back) and refuses the flag and
// delayed start with error 124; Windows keeps and shows them all.
TEST_F(Operation, InstallWithRecoverySettingsSucceedsWhateverTheManagerRefuses) {
  package_.model().narrow[setting::RestartOnFailure] = "1";
  package_.model().narrow[setting::RestartDelayFirst] = "5";
  package_.model().narrow[setting::RestartDelaySecond] = "60";
  package_.model().narrow[setting::RestartDelayLater] = "300";
  package_.model().narrow[setting::FailureResetPeriod] = "3600";
  package_.model().narrow[setting::RestartOnNonCrashFailure] = "1";
  package_.model().narrow[setting::DelayedAutoStart] = "1";
  name_ = uniqueName("recovery");
  guard_ = std::make_unique<ServiceGuard>(name_);
  package_.write(name_);
  LauncherRun run = runLauncher(package_.exe(), "/install-auto");
  EXPECT_EQ(run.exitCode, 0u);
  const std::string installed = "Installed service '" + name_ + "'.\n";
  ASSERT_GE(run.out.size(), installed.size());
  EXPECT_EQ(run.out.substr(run.out.size() - installed.size()), installed);
  ServiceConfig config = queryConfig(name_);
  ASSERT_TRUE(config.found);
  EXPECT_EQ(config.startType, static_cast<DWORD>(SERVICE_AUTO_START));

  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceA(manager, name_.c_str(), SERVICE_QUERY_CONFIG);
  ASSERT_NE(service, nullptr);
  // Each optional part is either kept by the manager or named as not applied.
  struct {
    DWORD level;
    const char* line;
  } const parts[] = {
      {SERVICE_CONFIG_FAILURE_ACTIONS, "Recovery actions not applied"},
      {SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, "Restart on non-crash failures not applied"},
      {SERVICE_CONFIG_DELAYED_AUTO_START_INFO, "Delayed automatic start not applied"},
  };
  for (const auto& part : parts) {
    SCOPED_TRACE(part.line);
    alignas(8) BYTE buffer[4096] = {};
    DWORD need = 0;
    bool readable = QueryServiceConfig2W(service, part.level, buffer, sizeof buffer, &need);
    bool named = run.out.find(part.line) != std::string::npos;
    if (part.level == SERVICE_CONFIG_FAILURE_ACTIONS) {
      auto* actions = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buffer);
      EXPECT_FALSE(named) << "accepted by Wine and Windows";
      if (readable && actions->cActions) {
        EXPECT_EQ(actions->dwResetPeriod, 3600u);
        ASSERT_EQ(actions->cActions, 3u);
        EXPECT_EQ(actions->lpsaActions[2].Delay, 300000u);
      }
    } else if (readable) {
      EXPECT_EQ(*reinterpret_cast<BOOL*>(buffer), TRUE);
      EXPECT_FALSE(named);
    } else {
      EXPECT_TRUE(named) << run.out;
      EXPECT_NE(run.out.find(std::string(part.line) + " (error 124)"), std::string::npos) << run.out;
    }
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  // Where the manager keeps the actions: a "FailureActions" binary value in the
  // service's key, reset period first; Wine writes none.
  const std::string key = "System\\CurrentControlSet\\Services\\" + name_;
  BYTE stored[256];
  DWORD size = sizeof stored;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), "FailureActions", RRF_RT_REG_BINARY, nullptr, stored, &size) ==
      ERROR_SUCCESS) {
    ASSERT_GE(size, 4u);
    DWORD reset;
    std::memcpy(&reset, stored, 4);
    EXPECT_EQ(reset, 3600u);
  }
}

// --- the logon right of a user account ---

// Wine implements no account rights, so the calls are recorded here.
std::vector<std::string> logonCalls;
bool lookupFails;
NTSTATUS openStatus, addStatus;
const LSA_HANDLE kPolicy = reinterpret_cast<LSA_HANDLE>(0x5a5a);
const NTSTATUS kAccessDenied = static_cast<NTSTATUS>(0xC0000022);
const NTSTATUS kNoSuchPrivilege = static_cast<NTSTATUS>(0xC0000060);

BOOL WINAPI recordLookup(LPCWSTR system, LPCWSTR account, PSID sid, LPDWORD sidSize, LPWSTR, LPDWORD,
                         PSID_NAME_USE use) {
  logonCalls.push_back("LookupAccountName " + std::string(system ? "remote " : "") + narrow(account));
  if (lookupFails) {
    SetLastError(ERROR_NONE_MAPPED);
    return FALSE;
  }
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID made = nullptr;
  AllocateAndInitializeSid(&nt, 5, 21, 1, 2, 3, 1001, 0, 0, 0, &made);
  BOOL copied = CopySid(*sidSize, sid, made);
  FreeSid(made);
  *use = SidTypeUser;
  return copied;
}

NTSTATUS NTAPI recordOpen(PLSA_UNICODE_STRING system, PLSA_OBJECT_ATTRIBUTES, ACCESS_MASK access, PLSA_HANDLE policy) {
  char line[64];
  std::snprintf(line, sizeof line, "LsaOpenPolicy %saccess=0x%lx", system ? "remote " : "", access);
  logonCalls.push_back(line);
  *policy = kPolicy;
  return openStatus;
}

NTSTATUS NTAPI recordAdd(LSA_HANDLE policy, PSID sid, PLSA_UNICODE_STRING rights, ULONG count) {
  char* sidText = nullptr;
  ConvertSidToStringSidA(sid, &sidText);
  std::string line = std::string("LsaAddAccountRights ") + (policy == kPolicy ? "policy " : "other ") +
                     (sidText ? sidText : "?") + " " + std::to_string(count);
  LocalFree(sidText);
  for (ULONG i = 0; i < count; ++i) line += " " + narrow(std::wstring(rights[i].Buffer, rights[i].Length / 2));
  logonCalls.push_back(line);
  return addStatus;
}

NTSTATUS NTAPI recordClose(LSA_HANDLE policy) {
  logonCalls.push_back(policy == kPolicy ? "LsaClose policy" : "LsaClose other");
  return 0;
}

class LogonRight : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = logonRightCalls;
    logonRightCalls = {recordLookup, recordOpen, recordAdd, recordClose};
    logonCalls.clear();
    lookupFails = false;
    openStatus = addStatus = 0;
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    ASSERT_TRUE(GetComputerNameW(name, &size));
    computer_ = narrow(name);
  }
  void TearDown() override {
    logonRightCalls = saved_;
    configStore() = ConfigStore();
  }
  LogonRightCalls saved_;
  std::string computer_;
};

TEST_F(LogonRight, GrantingMakesTheseCallsAndNamesTheFailingOne) {
  const std::string add = "LsaAddAccountRights policy S-1-5-21-1-2-3-1001 1 SeServiceLogonRight";
  const std::string open = "LsaOpenPolicy access=0x810";  // POLICY_LOOKUP_NAMES | POLICY_CREATE_ACCOUNT
  const std::vector<std::string> all = {"LookupAccountName CORP\\alice", open, add, "LsaClose policy"};
  struct {
    const wchar_t* account;
    bool lookupFails;
    NTSTATUS openStatus, addStatus;
    DWORD result;
    std::vector<std::string> calls;  // "%c" stands for this computer's name
  } const cases[] = {
      {L".\\bob", false, 0, 0, 0, {"LookupAccountName %c\\bob", open, add, "LsaClose policy"}},
      {L"CORP\\alice", false, 0, 0, 0, all},
      {L"CORP\\nobody", true, 0, 0, ERROR_NONE_MAPPED, {"LookupAccountName CORP\\nobody"}},
      {L"CORP\\alice", false, kAccessDenied, 0, ERROR_ACCESS_DENIED, {"LookupAccountName CORP\\alice", open}},
      {L"CORP\\alice", false, 0, kNoSuchPrivilege, ERROR_NO_SUCH_PRIVILEGE, all},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(narrow(c.account) + " result " + std::to_string(c.result));
    logonCalls.clear();
    lookupFails = c.lookupFails;
    openStatus = c.openStatus;
    addStatus = c.addStatus;
    EXPECT_EQ(grantServiceLogonRight(c.account), c.result);
    std::vector<std::string> expected = c.calls;
    for (std::string& line : expected)
      if (size_t at = line.find("%c"); at != std::string::npos) line.replace(at, 2, computer_);
    EXPECT_EQ(logonCalls, expected);
  }
}

// A refused right fails the command, yet the service stays installed with its
// account: an administrator can grant the right by hand.
TEST_F(LogonRight, InstallSaysWhetherTheRightWasGranted) {
  ServiceGuard guard(uniqueName("logon-right"));
  copyText(serviceName, kTextBufferSize, guard.name().c_str());
  ScopedVariable account("ZANTO_SERVICE_ACCOUNT", nullptr);
  struct {
    NTSTATUS addStatus;
    std::string line;
    int result;
  } const cases[] = {
      {0, "Granted 'Log on as a service' to 'CORP\\alice'.\n", 0},
      {kAccessDenied,
       "Could not grant 'Log on as a service' to 'CORP\\alice' (error 5); the service cannot start until the account "
       "holds that right.\n",
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    configStore() = ConfigStore();
    configStore().narrow[setting::ServiceAccount] = "CORP\\alice";
    logonCalls.clear();
    addStatus = c.addStatus;
    ScopedVariable secret("ZANTO_SERVICE_PASSWORD", "pw");
    ::testing::internal::CaptureStdout();
    int result = installService(SERVICE_DEMAND_START);
    // Read and gone: nothing the installation starts later inherits it.
    EXPECT_EQ(GetEnvironmentVariableA("ZANTO_SERVICE_PASSWORD", nullptr, 0), 0u);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.line + "Installed service '" + guard.name() + "'.\n");
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(logonCalls.size(), 4u);
    EXPECT_EQ(readServiceKey(guard.name()).objectName, L"CORP\\alice");
  }
}

}  // namespace

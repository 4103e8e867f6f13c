// The service under Wine's service control manager: packaged launcher copies
// are installed, started, controlled, stopped and removed, and what the control
// manager and the stand-in JVM saw is checked. The stand-in jvm.dll is not a
// JVM.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

#include "DeletionQueue.h"
#include "JavaHomeFixture.h"
#include "ServiceCommands.h"
#include "ServiceMain.h"
#include "ServiceTestSupport.h"
#include "Settings.h"
#include "StandinRecord.h"

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

// --- the commands against the control manager ---

struct InstallCase {
  const char* word;
  const char* executableType;
  DWORD startType;
  const char* dependencies;
  const char* expectedDependencies;
  std::u16string description;
};

TEST(ServiceInstall, CreatesTheServiceAsConfigured) {
  const InstallCase cases[] = {
      {"install", "0", SERVICE_DEMAND_START, "A,,B", "A|B|", u"Demo service \u00e9t\u00e9"},
      {"install", "4", SERVICE_AUTO_START, "", "", u""},
      {"install-auto", "0", SERVICE_AUTO_START, "Tcpip", "Tcpip|", u""},
      {"-install-demand", "4", SERVICE_DEMAND_START, ",", "", u"second"},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.word) + " type " + c.executableType);
    ServicePackage package(L"svc-install");
    ServiceGuard guard(uniqueName("install") + "-" + std::to_string(index++));
    package.model().narrow[setting::ExecutableType] = c.executableType;
    package.model().narrow[setting::ServiceDependencies] = c.dependencies;
    if (!c.description.empty()) package.model().wide[setting::ServiceDescription] = c.description;
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
  EXPECT_EQ(status.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN));
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
      {SERVICE_CONTROL_INTERROGATE, SERVICE_RUNNING, 0},
      {SERVICE_CONTROL_STOP, SERVICE_STOP_PENDING, 0},
      {SERVICE_CONTROL_SHUTDOWN, SERVICE_STOP_PENDING, 1},
      {SERVICE_CONTROL_PARAMCHANGE, SERVICE_RUNNING, 0},
  };
  for (const auto& c : cases) {
    serviceStatus = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, 5, 0, 0, 0, 50000};
    serviceControlHandler(c.control);
    EXPECT_EQ(serviceStatus.dwCurrentState, c.state) << c.control;
    EXPECT_EQ(serviceStatus.dwCheckPoint, c.checkPoint) << c.control;
    EXPECT_EQ(serviceStatus.dwWaitHint, 50000u) << c.control;
  }
}

TEST_F(ServiceRun, MissingJvmEndsStoppedWithExitCodeOne) {
  package_.model().narrow[setting::JvmSearchSequence] = "A" + narrow(package_.dir() / L"no such jdk");
  install("nojvm");
  ASSERT_TRUE(startWithArguments(name_, {}));
  SERVICE_STATUS_PROCESS status;
  ASSERT_TRUE(waitForState(name_, SERVICE_STOPPED, status, 30000));
  EXPECT_EQ(status.dwWin32ExitCode, 1u);
  EXPECT_EQ(package_.record().count("create"), 0u);
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
       "print_lines=300\nprint_errors=4\nmain=return\n",
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

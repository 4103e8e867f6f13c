// Helpers for the service tests: packaged launcher copies, child runs with
// their standard output read through a pipe, and direct questions to the
// control manager.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "BlockWriter.h"
#include "JavaHomeFixture.h"
#include "Settings.h"
#include "StandinRecord.h"

namespace zanto::test {

using namespace ::zanto::fixture;

struct LauncherRun {
  DWORD exitCode = 0;
  std::string out;
  std::string err;  // runInNewConsole only
  bool timedOut = false;
};

// Runs `exe` in a console of its own (the only way Wine delivers a console
// control event to it), standard output and error into files; `whileRunning`
// is called once it has started. Ends it with exit code 99 at the limit.
LauncherRun runInNewConsole(const std::wstring& exe, const std::string& tail,
                            const std::function<void(const PROCESS_INFORMATION&)>& whileRunning,
                            DWORD timeoutMs = 60000);
// Ctrl+C to every process of the console of `processId`, as a user's key press
// there; this process ignores it and is back in its own state afterwards.
bool sendCtrlCToConsoleOf(DWORD processId);

// Writes a copy of the launcher of this build (or of `launcher`, a path relative to
// the tests), configured by `model`, to `exe`.
void writeService(const std::wstring& exe, const BlockModel& model, const char* launcher = nullptr);
// Runs `exe` with the command-line tail `tail`; standard output through a pipe.
LauncherRun runLauncher(const std::wstring& exe, const std::string& tail, DWORD timeoutMs = 120000);

struct ServiceConfig {
  bool found = false;
  DWORD serviceType = 0, startType = 0, errorControl = 0;
  std::string binaryPath, displayName, account;
  std::string dependencies;  // the list with its zero bytes turned into '|'
  std::wstring description;
  bool hasDescription = false;
};
ServiceConfig queryConfig(const std::string& name);
// What the control manager wrote to the service's key.
struct ServiceKey {
  bool found = false;
  std::wstring objectName, displayName;
  DWORD start = 0, type = 0;
};
ServiceKey readServiceKey(const std::string& name);
// True when a value below `key` (its subkeys included) holds `text` as UTF-16
// or as 8-bit text.
bool registryTreeHolds(HKEY root, const std::wstring& key, const std::string& text);
// Sets an environment variable of this process (inherited by the launchers it
// starts) and restores the earlier state at the end of the scope.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value);
  ~ScopedVariable();
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  std::string name_, old_;
  bool had_ = false;
};
bool queryStatus(const std::string& name, SERVICE_STATUS_PROCESS& status);
// Polls until the service is in `state` (or gone, for stopped); false at the
// limit.
bool waitForState(const std::string& name, DWORD state, SERVICE_STATUS_PROCESS& status, DWORD limitMs = 60000);
bool startWithArguments(const std::string& name, const std::vector<std::string>& arguments);
bool sendControl(const std::string& name, DWORD control, SERVICE_STATUS& status);
// Stops and deletes the service if it exists, and its event source; quiet.
void removeService(const std::string& name);
bool createServiceDirectly(const std::string& name, const std::string& binaryPath);

// The launcher's short, lower-case form of a path, as it registers itself.
std::string launcherPathForm(const std::wstring& path);

// Removes a service by name at the end of a test.
class ServiceGuard {
 public:
  explicit ServiceGuard(std::string name) : name_(std::move(name)) { removeService(name_); }
  ~ServiceGuard() { removeService(name_); }
  ServiceGuard(const ServiceGuard&) = delete;
  ServiceGuard& operator=(const ServiceGuard&) = delete;
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

// The texts of the error events that services write from its construction on,
// and of their message boxes.
// Wine keeps no event log: it traces each text of ReportEventW on the standard
// error of its control manager, which restart-wine-server.sh keeps in the
// prefix's services.stderr. Empty outside Wine, where there is no such trace.
class EventTrace {
 public:
  EventTrace();
  std::vector<std::string> texts() const;
  // The texts of the warning events (Wine traces them on its warn:eventlog channel).
  std::vector<std::string> warnings() const;
  // The texts of the message boxes services called for (none may be shown there).
  std::vector<std::string> messageBoxes() const;
  bool available() const { return !path_.empty(); }

 private:
  std::vector<std::string> find(const std::string& marker) const;
  std::wstring path_;
  uint64_t start_ = 0;
};
// The Application log's event source `name`: its message file, empty when not
// registered.
std::wstring eventMessageFile(const std::string& name);

std::string uniqueName(const char* base);
// The entries of the deletion queue's directory list.
std::vector<std::string> queuedDirectories();

// A service package: its own directory with a stand-in Java home and a class
// path jar holding the Java-side launcher class, and one included file.
class ServicePackage {
 public:
  explicit ServicePackage(const std::wstring& label) : dir_(label), jdk_(dir_ / L"jdk") {
    jdk_.addJava();
    jdk_.addJvm(L"bin", L"client");
    writeJar(dir_ / L"rt.jar", {"com/zanto/runtime/WinLauncher", "com/velmora/runtime/FirstRun"});
    exe_ = dir_ / L"app\\service.exe";
    model_.narrow[setting::JvmSearchSequence] = "A" + narrow(jdk_.root());
    model_.narrow[setting::MinJavaVersion] = "1.6";
    model_.narrow[setting::ClassPath] = "A1" + narrow(dir_ / L"rt.jar");
    model_.narrow[setting::MainClass] = "com.example.Demo";
    model_.narrow[setting::Arguments] = "alpha \"beta gamma\"";
    for (int32_t id = message::ErrorCaption; id <= message::MainMethodNotFound; ++id)
      model_.narrow[id] = "stand-in message " + std::to_string(id);
    model_.files.push_back({"notes.txt", Bytes{'n', 'o', 't', 'e', 's'}});
  }
  BlockModel& model() { return model_; }
  const JavaHome& jdk() const { return jdk_; }
  const std::wstring& exe() const { return exe_; }
  const TempDirectory& dir() const { return dir_; }
  void write(const std::string& name) {
    model_.narrow[setting::ApplicationName] = name;
    writeService(exe_, model_, launcher_);
  }
  // Packages the launcher at `launcher` (relative to the tests) from now on; null: this build's.
  void useLauncher(const char* launcher) { launcher_ = launcher; }
  StandinRecord record() const { return jdk_.jvmRecord(L"bin", L"client"); }
  // Waits until main has run `times` times in all.
  bool waitForMain(size_t times) const {
    for (int i = 0; i < 600; ++i) {
      if (record().count("ExceptionOccurred") >= times) return true;  // written once main has returned
      Sleep(50);
    }
    return false;
  }

 private:
  TempDirectory dir_;
  JavaHome jdk_;
  std::wstring exe_;
  BlockModel model_;
  const char* launcher_ = nullptr;
};

}  // namespace zanto::test

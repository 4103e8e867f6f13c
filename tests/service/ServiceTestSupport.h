// Helpers for the service tests: packaged launcher copies, child runs with
// their standard output read through a pipe, and direct questions to the
// control manager.
#pragma once

#include <windows.h>

#include <string>

#include "BlockWriter.h"

namespace zanto::test {

struct LauncherRun {
  DWORD exitCode = 0;
  std::string out;
  bool timedOut = false;
};

// Writes a copy of the launcher of this build, configured by `model`, to `exe`.
void writeService(const std::wstring& exe, const BlockModel& model);
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
bool queryStatus(const std::string& name, SERVICE_STATUS_PROCESS& status);
// Polls until the service is in `state` (or gone, for stopped); false at the
// limit.
bool waitForState(const std::string& name, DWORD state, SERVICE_STATUS_PROCESS& status, DWORD limitMs = 60000);
bool startWithArguments(const std::string& name, const std::vector<std::string>& arguments);
bool sendControl(const std::string& name, DWORD control, SERVICE_STATUS& status);
// Stops and deletes the service if it exists; quiet.
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

}  // namespace zanto::test

// The launcher as the service tests run it when the capture's writer must hang: every
// write to a log file waits for ever, as on a share that stopped answering. Built for
// the tests only; the launcher that ships has no such switch.
#include <windows.h>

#include "CommandLine.h"
#include "LauncherMain.h"
#include "OutputCapture.h"
#include "RollingLog.h"

namespace {

class StalledFiles : public zanto::LogFiles {
 public:
  explicit StalledFiles(zanto::LogFiles& system) : system_(system) {}
  bool open(const std::string& path, bool truncate) override { return system_.open(path, truncate); }
  size_t write(const char*, size_t) override {
    Sleep(INFINITE);
    return 0;
  }
  void close() override { system_.close(); }
  int64_t size(const std::string& path) override { return system_.size(path); }
  uint32_t modifiedDay(const std::string& path) override { return system_.modifiedDay(path); }
  bool rename(const std::string& from, const std::string& to) override { return system_.rename(from, to); }
  bool remove(const std::string& path) override { return system_.remove(path); }
  void list(const std::string& directory, std::vector<std::string>& names) override { system_.list(directory, names); }
  unsigned long lastError() override { return system_.lastError(); }
  void report(const std::string& line) override { system_.report(line); }

 private:
  zanto::LogFiles& system_;
};

zanto::LogFiles* stalled(zanto::LogFiles& system) { return new StalledFiles(system); }

}  // namespace

int main() {
  zanto::replaceCaptureFiles(stalled);
  return zanto::launcherMain(GetModuleHandleA(nullptr), zanto::commandTail(GetCommandLineA()));
}

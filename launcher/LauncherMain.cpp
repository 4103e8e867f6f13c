// Preparation and dispatch (see LauncherMain.h).
#include "LauncherMain.h"

#include <cstdlib>
#include <cstring>

#include "CommandLine.h"
#include "ConfigBlock.h"
#include "DeletionQueue.h"
#include "ErrorReport.h"
#include "EventLog.h"
#include "Extraction.h"
#include "Paths.h"
#include "Preparation.h"
#include "ServiceCommands.h"
#include "ServiceMain.h"
#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

char serviceName[kTextBufferSize];

namespace {

constexpr int kExtractionFailed = 16;
constexpr int kNoCommand = -1;

// As for service mode; the Java application may rely on its included files.
void extractForLaunch() {
  if (!extractIncludedFiles(extractionDirectory)) fatalInternalError(kExtractionFailed);
}

// The command's result, or kNoCommand when the word names none (service mode).
int runCommandWord(const char* word) {
  if (!std::strcmp(word, "install"))
    return installService(getIntSetting(setting::ExecutableType) == 4 ? SERVICE_AUTO_START : SERVICE_DEMAND_START);
  if (!std::strcmp(word, "install-auto")) return installService(SERVICE_AUTO_START);
  if (!std::strcmp(word, "install-demand")) return installService(SERVICE_DEMAND_START);
  if (!std::strcmp(word, "uninstall")) return uninstallService(true);
  if (!std::strcmp(word, "stop")) return stopInstalledService(true);
  if (!std::strcmp(word, "start")) return startInstalledService();
  if (!std::strcmp(word, "status")) return printServiceStatus();
  if (!std::strcmp(word, "restart")) return restartInstalledService();
  if (!std::strcmp(word, "run")) {
    extractForLaunch();
    return runInConsole();
  }
  return kNoCommand;
}

}  // namespace

void prepareLauncher(HINSTANCE) {
  readConfigBlock();
  loadProductFlavor();
  static char configured[kTextBufferSize];
  getStringSetting(setting::PathPrefix, configured, sizeof configured);
  applyPathPrefix(configured);
  getStringSetting(setting::WorkingDirectory, configured, sizeof configured);
  applyWorkingDirectory(configured);
}

int launcherMain(HINSTANCE instance, const char* tail) {
  prepareLauncher(instance);
  getStringSetting(setting::ApplicationName, serviceName, kTextBufferSize);
  char word[kTextBufferSize];
  if (splitCommandWord(tail, word, serviceName, kTextBufferSize)) {
    int result = runCommandWord(word);
    if (result != kNoCommand) return result;
  }
  useEventLog();
  extractForLaunch();
  SERVICE_TABLE_ENTRYA table[] = {{serviceName, serviceMain}, {nullptr, nullptr}};
  // Started by hand (no control manager to reach): the files just extracted
  // are queued for deletion like at any other end, or each start would leave a
  // copy behind.
  if (!StartServiceCtrlDispatcherA(table)) runExitCleanup();
  return 0;
}

}  // namespace zanto

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

namespace {

// Reports what tryReadConfigBlock found and ends the process.
[[noreturn]] void failConfigBlock(const char* problem) {
  if (problem != kExecutableNotOpened && std::strcmp(problem, blockErrorText(BlockError::ReadInt)) == 0)
    printTo(stdout, "error %lu\n", configBlockReadError());
  noteFailureCode(kFailureBlockUnreadable);
  fatalError(problem);
}

bool isCommandWord(const char* word) {
  static const char* const kWords[] = {"install", "install-auto", "install-demand", "uninstall", "stop",
                                       "start",   "status",       "restart",        "run"};
  for (const char* known : kWords)
    if (!std::strcmp(word, known)) return true;
  return false;
}

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
  extractIncludedFilesOrFail();
  return runInConsole();
}

// The settings, PATH and working directory, once the block is read.
void prepareFromBlock() {
  loadProductFlavor();
  static char configured[kTextBufferSize];
  getStringSetting(setting::PathPrefix, configured, sizeof configured);
  applyPathPrefix(configured);
  getStringSetting(setting::WorkingDirectory, configured, sizeof configured);
  applyWorkingDirectory(configured);
}

}  // namespace

void prepareLauncher(HINSTANCE) {
  if (const char* problem = tryReadConfigBlock()) failConfigBlock(problem);
  prepareFromBlock();
}

int launcherMain(HINSTANCE, const char* tail) {
  // A block that cannot be read is reported at once for a command word; started
  // by the control manager, the service connects first and reports it there, since
  // the start would otherwise time out with the cause lost.
  const char* blockProblem = tryReadConfigBlock();
  if (!blockProblem) {
    prepareFromBlock();
    getStringSetting(setting::ApplicationName, serviceName, kTextBufferSize);
  }
  char word[kTextBufferSize];
  if (splitCommandWord(tail, word, serviceName, kTextBufferSize) && isCommandWord(word)) {
    if (blockProblem) failConfigBlock(blockProblem);
    return runCommandWord(word);
  }
  if (blockProblem) {
    if (serveUnreadableBlock(blockProblem)) return 0;
    failConfigBlock(blockProblem);  // started by hand: reported as before
  }
  SERVICE_TABLE_ENTRYA table[] = {{serviceName, serviceMain}, {nullptr, nullptr}};
  // Started by hand (no control manager to reach): the files are extracted and
  // queued for deletion like at any other end, or each start would leave a copy
  // behind. As a service, serviceMain extracts them once it is connected.
  if (!StartServiceCtrlDispatcherA(table)) {
    extractIncludedFilesOrFail();
    runExitCleanup();
  }
  return 0;
}

}  // namespace zanto

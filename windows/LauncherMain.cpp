// Preparation and dispatch (see LauncherMain.h).
#include "LauncherMain.h"

#include <cstdlib>
#include <cstring>

#include "CommandLine.h"
#include "ConfigBlock.h"
#include "ErrorReport.h"
#include "Extraction.h"
#include "Paths.h"
#include "ServiceCommands.h"
#include "ServiceMain.h"
#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

char serviceName[kTextBufferSize];

namespace {

constexpr int kExtractionFailed = 16;
constexpr int kNoCommand = -1;

// The command's result, or kNoCommand when the word names none (service mode).
int runCommandWord(const char* word) {
  if (!std::strcmp(word, "install"))
    return installService(getIntSetting(setting::ExecutableType) == 4 ? SERVICE_AUTO_START : SERVICE_DEMAND_START);
  if (!std::strcmp(word, "install-auto")) return installService(SERVICE_AUTO_START);
  if (!std::strcmp(word, "install-demand")) return installService(SERVICE_DEMAND_START);
  if (!std::strcmp(word, "uninstall")) return uninstallService(true);
  if (!std::strcmp(word, "stop")) return stopInstalledService(true);
  if (!std::strcmp(word, "start")) return startInstalledService();
  return kNoCommand;
}

void preparePath() {
  static char prefix[kTextBufferSize], path[kTextBufferSize];
  getStringSetting(setting::PathPrefix, prefix, sizeof prefix);
  if (!prefix[0]) return;
  resolvePathList(path, prefix);
  size_t used = std::strlen(path);
  if (used && path[used - 1] != ';') appendText(path, sizeof path, ";");
  used = std::strlen(path);
  // PATH itself goes behind the prefix; one too long for the rest of the buffer is
  // read into a buffer of its own size instead of being dropped.
  DWORD need = GetEnvironmentVariableA("PATH", nullptr, 0);
  if (need > 0) {
    char* current = static_cast<char*>(std::malloc(need));
    if (current && GetEnvironmentVariableA("PATH", current, need) < need) {
      size_t total = used + std::strlen(current) + 1;
      char* joined = static_cast<char*>(std::malloc(total));
      if (joined) {
        std::memcpy(joined, path, used);
        std::strcpy(joined + used, current);
        SetEnvironmentVariableA("PATH", joined);
        size_t putLength = total + 5;
        char* put = static_cast<char*>(std::malloc(putLength));
        if (put) {
          std::strcpy(put, "PATH=");
          std::strcat(put, joined);
          _putenv(put);  // the runtime keeps this string; it lives until exit
        }
        std::free(joined);
        std::free(current);
        return;
      }
    }
    std::free(current);
  }
  SetEnvironmentVariableA("PATH", path);
  static char put[kTextBufferSize + 8];
  formatText(put, sizeof put, "PATH=%s", path);
  _putenv(put);
}

void prepareWorkingDirectory() {
  static char configured[kTextBufferSize], full[kTextBufferSize];
  getStringSetting(setting::WorkingDirectory, configured, sizeof configured);
  if (!configured[0]) return;
  getFullPath(full, configured, false);
  SetCurrentDirectoryA(full);
}

}  // namespace

void prepareLauncher(HINSTANCE) {
  readConfigBlock();
  loadProductFlavor();
  preparePath();
  prepareWorkingDirectory();
}

int launcherMain(HINSTANCE instance, const char* tail) {
  prepareLauncher(instance);
  getStringSetting(setting::ApplicationName, serviceName, kTextBufferSize);
  char word[kTextBufferSize];
  if (splitCommandWord(tail, word, serviceName, kTextBufferSize)) {
    int result = runCommandWord(word);
    if (result != kNoCommand) return result;
  }
  if (!extractIncludedFiles(extractionDirectory)) fatalInternalError(kExtractionFailed);
  SERVICE_TABLE_ENTRYA table[] = {{serviceName, serviceMain}, {nullptr, nullptr}};
  StartServiceCtrlDispatcherA(table);
  return 0;
}

}  // namespace zanto

// Preparation and dispatch (see LauncherMain.h).
#include "LauncherMain.h"

#include <cstdlib>
#include <cstring>

#include "CommandLine.h"
#include "ConfigBlock.h"
#include "ErrorReport.h"
#include "Extraction.h"
#include "Paths.h"
#include "Preparation.h"
#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

char serviceName[kTextBufferSize];

namespace {

constexpr int kExtractionFailed = 16;

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
    // No command words yet: an unknown word leads to service mode.
  }
  if (!extractIncludedFiles(extractionDirectory)) fatalInternalError(kExtractionFailed);
  return 0;
}

}  // namespace zanto

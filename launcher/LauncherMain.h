// The launcher's front door: preparation from the configuration block, the
// command word, and service mode.
#pragma once

#include <windows.h>

namespace zanto {

extern char serviceName[];
void prepareLauncher(HINSTANCE instance);
int launcherMain(HINSTANCE instance, const char* tail);
// Extracts the included files, or ends the process with internal error 16.
void extractIncludedFilesOrFail();

}  // namespace zanto

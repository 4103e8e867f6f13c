// The launcher's front door: preparation from the configuration block, the
// command word, and service mode.
#pragma once

#include <windows.h>

#include "ProcessState.h"  // serviceName

namespace zanto {

void prepareLauncher(HINSTANCE instance);
int launcherMain(HINSTANCE instance, const char* tail);

}  // namespace zanto

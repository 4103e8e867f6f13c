// Process entry: hands the command-line tail to the launcher; its result is the
// exit code.
#include <windows.h>

#include <cstdlib>

#include "CommandLine.h"
#include "LauncherMain.h"

int main() { return zanto::launcherMain(GetModuleHandleA(nullptr), zanto::commandTail(GetCommandLineA())); }

// The default terminate handler demangles the exception's type name, which links a
// whole demangler into the executable; the launcher throws nothing it catches, so
// a plain abort is all it needs.
namespace __gnu_cxx {
void __verbose_terminate_handler() { abort(); }
}  // namespace __gnu_cxx

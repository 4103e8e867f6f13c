// Process entry: hands the command-line tail to the launcher; its result is the
// exit code.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "CommandLine.h"
#include "LauncherMain.h"

int main() { return zanto::launcherMain(GetModuleHandleA(nullptr), zanto::commandTail(GetCommandLineA())); }

// The launcher is built without exceptions. The standard library's throw helpers
// would still link the whole unwinder (and with it a thread library); in their
// place, an allocation or length failure ends the process with a fixed text.
[[noreturn]] static void endWith(const char* text) {
  std::fputs(text, stderr);
  ExitProcess(1);
}
[[noreturn]] static void outOfMemory() { endWith("Internal Error: out of memory\n"); }
[[noreturn]] static void brokenInvariant() { endWith("Internal Error: invariant\n"); }

// The library's operator new throws std::bad_alloc, which links the unwinder too.
void* operator new(size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) outOfMemory();
  return p;
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace std {
void __throw_bad_alloc() { outOfMemory(); }
void __throw_bad_array_new_length() { outOfMemory(); }
void __throw_length_error(const char*) { outOfMemory(); }
void __throw_logic_error(const char*) { brokenInvariant(); }
void __throw_out_of_range_fmt(const char*, ...) { brokenInvariant(); }
}  // namespace std

// The default terminate handler demangles the exception's type name, which links a
// whole demangler into the executable.
namespace __gnu_cxx {
void __verbose_terminate_handler() { brokenInvariant(); }
}  // namespace __gnu_cxx

// The temporary directory: the first usable of the system's temp path and a fixed
// list of fall-backs, and private directories below it.
#pragma once

#include <windows.h>

#include "PrivateSecurity.h"

namespace zanto {

// The system calls that make a private directory, replaceable so that tests can
// see their exact arguments (Wine keeps only part of a file's security) and force
// name collisions.
struct PrivateDirectoryCalls {
  BOOLEAN(WINAPI* genRandom)(PVOID buffer, ULONG length);
  BOOL(WINAPI* createDirectory)(LPCSTR path, LPSECURITY_ATTRIBUTES attributes);
};
extern PrivateDirectoryCalls privateDirectoryCalls;

// A new directory below the temporary directory that only SYSTEM, Administrators
// and the launching account may use (full control, nothing inherited, owned by the
// launching account), named "zto" + 16 random hex digits + "_dir"; a name that
// exists already is passed over for another. False (out empty) when it cannot be
// made; the directory is never made with weaker security.
bool createPrivateDirectory(char* out);  // 8192 bytes

bool isWritableDirectory(const char* directory);
void getTempDirectory(char* out);  // 8192 bytes; does not return when none is usable

}  // namespace zanto

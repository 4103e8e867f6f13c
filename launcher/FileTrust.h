// Files and folders a privileged service reads its configuration from are used
// only when no one but SYSTEM, the Administrators, TrustedInstaller and the
// service's own account may change them (the rules: core/FileTrustRules.h).
#pragma once

namespace zanto {

// LocalSystem, or a token whose Administrators membership is in force.
bool runningPrivileged();
// True when `path` may configure this process: it is not privileged, or the file
// passes the rules. Otherwise `why` (8192 bytes) says who may change it.
bool mayConfigure(const char* path, char* why);
// Stops the start, naming `path` and who may change it, unless mayConfigure;
// `what` says what the file is ("JVM options file", ...).
void requireTrusted(const char* path, const char* what);
// The executable's folder, checked once per process by requireTrusted.
void requireTrustedExecutableFolder();
// The same rules for install, privileged or not: false with the reason in `why`.
bool folderMayHoldService(const char* folder, char* why);
// The same rules for a file or folder open with READ_CONTROL, privileged or not;
// `path` names it in `why`.
bool openedMayBeTrusted(void* handle, const char* path, char* why);

}  // namespace zanto

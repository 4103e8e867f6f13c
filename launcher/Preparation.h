// Start-up preparation: PATH gets the configured directories in front (for both
// the system's and the C runtime's view), and the configured working directory is
// made current.
#pragma once

namespace zanto {

// Resolves the ";"-separated entries against the executable's directory and puts
// them in front of PATH; an empty prefix leaves PATH alone.
void applyPathPrefix(const char* prefix);
// Makes the full path of a non-empty directory current; failure is ignored.
void applyWorkingDirectory(const char* configured);

}  // namespace zanto

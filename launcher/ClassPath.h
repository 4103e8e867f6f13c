// The JVM options that follow the launcher's system properties: ".vmoptions" lines,
// the class path option, the configured VmParameters and the "-J" launch arguments.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zanto {

// Appends the four groups in their fixed order. Missing required class path
// entries end the launcher with message 1006 or 1008, an unmatched quote in
// VmParameters with 1007, a text that does not fit its buffer with 1009 (31).
void buildVmOptionList(std::vector<std::string>& options, const std::vector<std::wstring>& launchArguments);

// <name>.vmoptions, else <name>.exe.vmoptions beside the executable (long path form).
FILE* readVmOptionsFile();
// The option lines of an open ".vmoptions" file; a line longer than 8191
// characters is refused.
void readVmOptionLines(FILE* file, std::vector<std::string>& options);

// Appends every class path element with a ";" after it to `text` (already
// holding "-Djava.class.path="); the option drops the empty elements. The text
// grows as needed.
void buildClassPath(std::string& text);
// Every <directory>\*.<extension> as a resolved path; false when the directory
// does not exist.
bool appendArchivesOfDirectory(std::string& text, const char* directory, const char* extension);
// The velmora runtime archive below InstallRoot (flavour "i" only).
void appendRuntimeJar(std::string& text);

}  // namespace zanto

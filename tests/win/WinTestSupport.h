// Helpers shared by the Windows test programs: scratch directories, files, the
// registry, and the text of this process's launcher log.
#pragma once

#include <windows.h>

#include <string>

namespace zanto::test {

std::string scratchDirectory(const char* name);  // fresh, empty, under the temp path
void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);
bool exists(const std::string& path);
void removeTree(const std::string& path);
void deleteRegistryTree(HKEY root, const char* key);
std::string readRegistryString(HKEY root, const char* key, const char* value, bool* found = nullptr);
// A symbolic link at `link` to `target`, and its removal (the link only). Under Wine,
// whose CreateSymbolicLink makes nothing, a Unix link made by /bin/ln: Windows code
// sees it as a reparse point.
bool makeLink(const std::string& link, const std::string& target);
void removeLink(const std::string& link);
bool runningUnderWine();
// The log of this process (logging is switched on for every test program).
std::string logText();

}  // namespace zanto::test

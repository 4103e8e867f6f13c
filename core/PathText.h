// Path text rules that need no operating system: which paths count as relative,
// and the merging of backslash runs. Portable.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zanto {

// Relative unless it starts with a drive and ":\", with "\\", or with a double
// quote before either; short paths (2 characters or fewer) are relative.
bool isRelativePath(const char* path);

// Merges runs of backslashes in UTF-16 text, in place; a leading "\\" stays.
void collapseBackslashRuns(char16_t* text);

// True for a path that is a drive root ("c:\", "c:\.", "c:\.\."): never searched.
bool isDriveRootText(const char* path);

// An included file name must stay inside the extraction directory.
bool isPlainFileName(const char* name);

// Removes the empty elements of a ";"-separated list in place (leading, doubled
// and trailing separators): Java reads an empty class path element as the
// current directory.
void dropEmptyListElements(char* list);

// The entries of a PATH value that name a folder by an absolute path, in order,
// without surrounding double quotes and trailing backslashes: a relative entry
// ("", ".", "bin", "%VAR%\\x") would be looked up from the current directory.
std::vector<std::string> absolutePathEntries(const char* pathValue);

}  // namespace zanto

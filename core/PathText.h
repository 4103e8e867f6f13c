// Path text rules that need no operating system: which paths count as relative,
// the merging of backslash runs, and what the final path of an opened file says
// about the name it was opened by. Portable.
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

// A final path as the system gives it for an open handle ("\\?\C:\x",
// "\\?\UNC\srv\share\x") in the form paths are named ("C:\x", "\\srv\share\x"),
// without a closing backslash (a drive root keeps its own).
std::string namedFormOfFinalPath(const char* finalPath);

// True when the folder or file opened by the name `named` (its long form) is
// where that name says: its final path is the same text, ignoring the case of
// ASCII letters, the "\\?\" form and a closing backslash. A link or junction on
// the way, or a substituted drive, makes them differ.
bool finalPathIsNamed(const char* named, const char* finalPath);

// True when `fileFinal` names an entry directly inside the folder whose final
// path is `folderFinal` (same comparison): one more element, not empty, without
// a stream (":") or anything that could climb out.
bool finalPathIsDirectlyInside(const char* folderFinal, const char* fileFinal);

}  // namespace zanto

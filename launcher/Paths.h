// The launcher's own path and the path helpers every subsystem uses: 8-bit paths in
// the file-function code page, held in 8192-byte buffers.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "PathText.h"

namespace zanto {

UINT fileApiCodePage();
// 8-bit (file code page) <-> UTF-16; the narrowing one fails when a character
// would need the replacement "?".
bool toWidePath(const char* path, wchar_t* out, int units);
bool toNarrowPathLossless(const wchar_t* path, char* out, int size);

const char* getExecutablePath();
// The same in long form, for names made from it (the .vmoptions file): the
// module's own name when no part of it is a short (8.3) name, which spares
// looking up every folder of the path, else the long form of the short path.
const char* getExecutableLongPath();
const char* getExecutableDirectory();  // ends in a backslash
bool isNtPlatform();
void lowerCasePath(char* path);
void collapseBackslashes(char* path);
void resolvePath(char* destination, const char* path);
void getFullPath(char* destination, const char* path, bool keepCase);
bool fileExists(const char* path);
bool findFile(const char* path, FILETIME* lastWriteTime);
void resolvePathList(char* destination, const char* list);
size_t listFiles(const char* directory, const char* extension, std::vector<std::string>& names);
DWORD getLongPath(const char* path, char* destination, DWORD size);
// The long form of `path` into `destination`, or `path` itself (cut to fit) when
// it has none: for names shown to people and compared with final paths.
void longPathOr(const char* path, char* destination, DWORD size);

}  // namespace zanto

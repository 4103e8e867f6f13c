// Extraction of the files carried behind the configuration block into a new
// directory under the temporary directory, kept open for the life of the process.
#pragma once

#include <windows.h>

namespace zanto {

// The directory of extracted files; empty when nothing is included.
extern char extractionDirectory[];
// Where the launcher's own files go (the process comm file, the output of
// java -version): the extraction directory, else a private directory made at the
// first use and queued for deletion like it. Never the shared temporary folder;
// null when no private directory can be made.
const char* ownFilesDirectory();
// Both in that directory; empty (false) when there is none.
void createTempFile(char* out);  // MAX_PATH bytes at least
bool getProcessTempFileName(char* out, int number);  // 8192 bytes
bool extractIncludedFiles(char* directory);
// The same into extractionDirectory, or the process ends with internal error 16:
// the Java application may rely on its included files.
void extractIncludedFilesOrFail();
bool extractFile(HANDLE executable, const char* path);
bool copyFileData(HANDLE input, HANDLE output, DWORD count, bool transform);

}  // namespace zanto

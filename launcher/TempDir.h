// The temporary directory: the first usable of the system's temp path and a fixed
// list of fall-backs, named temporary files, and the per-process file name.
#pragma once

namespace zanto {

bool isWritableDirectory(const char* directory);
void getTempDirectory(char* out);  // 8192 bytes; does not return when none is usable
void createTempFile(char* out);    // MAX_PATH bytes at least
void getProcessTempFileName(char* out, int number);

}  // namespace zanto

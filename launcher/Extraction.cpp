// Included file extraction (see Extraction.h). A name that would leave the
// extraction directory (a path separator, a drive, "." or "..") fails the
// extraction instead of writing elsewhere on the disk.
#include "Extraction.h"

#include <cstdio>
#include <cstring>

#include "ConfigBlock.h"
#include "DeletionQueue.h"
#include "ErrorReport.h"
#include "Log.h"
#include "PathText.h"
#include "Settings.h"
#include "TempDir.h"
#include "TextBuffer.h"

namespace zanto {

char extractionDirectory[kTextBufferSize];

namespace {
constexpr int kDirectoryNotCreated = 7;
constexpr int kOutputNotCreated = 11;
constexpr int kWriteFailed = 13;
}  // namespace

const char* ownFilesDirectory() {
  if (extractionDirectory[0]) return extractionDirectory;
  static char made[kTextBufferSize];
  if (!made[0]) {
    if (!createPrivateDirectory(made)) {
      logError("no private directory for the launcher's own files, error %lu", GetLastError());
      return nullptr;
    }
    registerExitDirectory(made);
  }
  return made;
}

// In the shared temporary folder anyone could make such a name first, or read it.
void createTempFile(char* out) {
  const char* directory = ownFilesDirectory();
  if (!directory || !GetTempFileNameA(directory, "zto", 0, out)) out[0] = '\0';
}

bool getProcessTempFileName(char* out, int number) {
  const char* directory = ownFilesDirectory();
  if (directory && formatText(out, kTextBufferSize, "%s\\zto_p%d.tmp", directory, number)) return true;
  out[0] = '\0';
  return false;
}

bool copyFileData(HANDLE input, HANDLE output, DWORD count, bool transform) {
  static BYTE buffer[kTextBufferSize];
  DWORD done = 0;
  while (done < count) {
    DWORD want = count - done < sizeof buffer ? count - done : static_cast<DWORD>(sizeof buffer);
    DWORD got = 0;
    if (!ReadFile(input, buffer, want, &got, nullptr) || got == 0) {
      logError("ReadFile failed");
      return false;
    }
    if (transform)
      for (DWORD i = 0; i < got; ++i) buffer[i] ^= kContentMask;
    DWORD written = 0;
    while (written < got) {
      DWORD n = 0;
      if (!WriteFile(output, buffer + written, got - written, &n, nullptr)) {
        logError("WriteFile failed %lu", got - written);
        fatalInternalError(kWriteFailed);
      }
      written += n;
    }
    done += got;
  }
  return true;
}

bool extractFile(HANDLE executable, const char* path) {
  FileSource src(executable);
  int32_t size;
  if (!readInt(src, &size)) {
    printTo(stdout, "error %lu\n", GetLastError());
    fatalError("Internal Error: readInt");
  }
  logMessage("extracting %s (size: %d)", path, size);
  if (size <= 0) return true;
  // A signature's certificate table is no file's content.
  if (size > embeddedDataLimit() - src.position()) {
    logError("%s: %d bytes announced, the included file data ends before", path, size);
    return false;
  }
  // Never into a file that exists: whoever made it could change what the JVM loads.
  HANDLE out = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    logError("CreateFile failed %lu: %s", GetLastError(), path);
    fatalInternalError(kOutputNotCreated);
  }
  if (!copyFileData(executable, out, static_cast<DWORD>(size), true)) return false;
  CloseHandle(out);
  return true;
}

bool extractIncludedFiles(char* directory) {
  logMessage("extracting files");
  int count = getIntSetting(setting::IncludedFileCount);
  logMessage("Included files: %d", count);
  if (count <= 0) {
    directory[0] = '\0';
    return true;
  }
  HANDLE exe = openExecutable();
  if (exe == INVALID_HANDLE_VALUE) fatalError(kExecutableNotOpened);
  FileSource(exe).seek(embeddedDataOffset());

  // A service's temporary directory is usually C:\Windows\Temp, where every user
  // may create files: the directory is private, its name unpredictable.
  if (!createPrivateDirectory(directory)) {
    logError("CreateDirectory failed %lu", GetLastError());
    fatalInternalError(kDirectoryNotCreated);
  }
  logMessage("Temp dir: %s", directory);

  static char names[kTextBufferSize];
  getStringSetting(setting::IncludedFileNames, names, sizeof names);
  int handled = 0;
  char path[kTextBufferSize];
  for (char* name = std::strtok(names, ";"); name && handled < count; name = std::strtok(nullptr, ";"), ++handled) {
    bool named = formatText(path, sizeof path, "%s\\%s", directory, name);
    if (!named || !isPlainFileName(name)) {
      logError("Failed to extract %s", path);
      return false;
    }
    if (!extractFile(exe, path)) {
      logError("Failed to extract %s", path);
      return false;
    }
    // Held open until the process ends, sharing only reading: nobody can change,
    // rename or delete it meanwhile (the directory's security covers the moment
    // between writing and this open).
    CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  registerExitDirectory(directory);
  CloseHandle(exe);
  logMessage("extracting files done");
  return true;
}

void extractIncludedFilesOrFail() {
  constexpr int kExtractionFailed = 16;
  if (!extractIncludedFiles(extractionDirectory)) fatalInternalError(kExtractionFailed);
}

}  // namespace zanto

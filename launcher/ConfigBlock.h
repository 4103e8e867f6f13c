// The launcher's own configuration block, read once at start-up into the
// process-wide settings store, and the getters every subsystem uses.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "ConfigStore.h"

namespace zanto {

// Reads the block: null when it was read, else the text a report shows.
const char* tryReadConfigBlock();
// The Windows error of a block that ended at an integer read (0 otherwise).
DWORD configBlockReadError();
// Set in the block (absent settings read as empty or 0).
bool hasSetting(int32_t id);
void loadProductFlavor();
char productFlavor();
// The executable for reading; INVALID_HANDLE_VALUE (logged) when it cannot be
// opened, which is reported with this text.
HANDLE openExecutable();
extern const char kExecutableNotOpened[];
int64_t embeddedDataOffset();
// Where the included file data must end: a signed file's certificate table, else
// the end of the file.
int64_t embeddedDataLimit();

// The process's store; tests fill it directly instead of reading a block.
ConfigStore& configStore();

void getStringSetting(int32_t id, char* buffer, size_t size);
int getIntSetting(int32_t id);
void getWideStringSetting(int32_t id, wchar_t* buffer);  // 8192 units

// A ByteSource over an open Win32 file.
class FileSource : public ByteSource {
 public:
  explicit FileSource(HANDLE file) : file_(file) {}
  bool seek(int64_t offset) override;
  int64_t position() const override;
  int64_t size() const override;
  int64_t read(void* dst, uint32_t count) override;

 private:
  HANDLE file_;
};

}  // namespace zanto

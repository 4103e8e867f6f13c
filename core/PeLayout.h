// Where the configuration block starts in a PE image: at the end of the raw data
// of the image's last section. Read from the headers, so any number of sections
// and both PE32 and PE32+ work. Portable.
#pragma once

#include <cstdint>

#include "ConfigStore.h"

namespace zanto {

struct PeInfo {
  uint16_t machine = 0;        // IMAGE_FILE_MACHINE_I386 (0x14c) or _AMD64 (0x8664)
  uint16_t sectionCount = 0;
  int64_t lastSectionEnd = 0;  // file offset just behind the last section's raw data
};

constexpr uint16_t kMachineI386 = 0x014c;
constexpr uint16_t kMachineAmd64 = 0x8664;

// False when the source does not hold a readable PE header and section table.
bool readPeInfo(ByteSource& src, PeInfo* info);

}  // namespace zanto

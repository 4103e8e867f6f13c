// Where the configuration block starts in a PE image: at the end of the raw data
// of the image's last section. Read from the headers, so any number of sections
// and both PE32 and PE32+ work. Portable.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ConfigStore.h"

namespace zanto {

struct PeInfo {
  uint16_t machine = 0;        // IMAGE_FILE_MACHINE_I386 (0x14c) or _AMD64 (0x8664)
  uint16_t sectionCount = 0;
  int64_t lastSectionEnd = 0;  // file offset just behind the last section's raw data
  // The Authenticode certificate table (data directory entry 4, a file offset,
  // not an address): 0/0 when unsigned. A signing tool appends it at the end of
  // the file, behind the block and the included files.
  int64_t securityEntry = 0;  // file offset of that directory entry; 0 when the header has none
  int64_t checksumField = 0;  // file offset of the optional header's CheckSum; 0 when there is none
  uint32_t certificateOffset = 0, certificateSize = 0;
};

// The PE checksum (the one CheckSumMappedFile computes), fed piece by piece: the
// 16-bit little-endian words of the file with the field itself read as 0, folded,
// plus the file's length.
class PeChecksum {
 public:
  void add(const uint8_t* data, size_t size);
  uint32_t value() const;

 private:
  uint64_t sum_ = 0, length_ = 0;
};

// The PE checksum of `image` as the linker computes it: 16-bit sums with the
// carry folded back, the CheckSum field counted as zero, plus the length.
uint32_t peChecksum(const uint8_t* image, size_t size, int64_t checksumField);

// Where the block and its included files end: at the certificate table when
// one lies behind the last section, else at `fileSize`.
int64_t blockDataLimit(const PeInfo& info, int64_t fileSize);

constexpr uint16_t kMachineI386 = 0x014c;
constexpr uint16_t kMachineAmd64 = 0x8664;

// False when the source does not hold a readable PE header and section table.
bool readPeInfo(ByteSource& src, PeInfo* info);

}  // namespace zanto

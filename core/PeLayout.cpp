// PE header reading for the block position (see PeLayout.h).
#include "PeLayout.h"

#include <algorithm>

namespace zanto {

namespace {

bool readAt(ByteSource& src, int64_t offset, void* dst, uint32_t n) {
  return src.seek(offset) && src.read(dst, n) == n;
}

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

void PeChecksum::add(const uint8_t* data, size_t size) {
  size_t i = 0;
  if (size && (length_ & 1)) sum_ += static_cast<uint64_t>(data[i++]) << 8;
  // 2^16 is 1 modulo 0xFFFF, so 32-bit pieces sum to what their 16-bit words sum to
  // once folded: four times fewer additions, which keeps packaging at disk speed.
  for (; i + 8 <= size; i += 8) {
    uint64_t lo = le32(data + i), hi = le32(data + i + 4);
    sum_ += lo + hi;
  }
  for (; i + 2 <= size; i += 2) sum_ += le16(data + i);
  if (i < size) sum_ += data[i];
  length_ += size;
}

uint32_t PeChecksum::value() const {
  uint64_t s = sum_;
  while (s >> 16) s = (s & 0xFFFF) + (s >> 16);
  return static_cast<uint32_t>(s + length_);
}

bool readPeInfo(ByteSource& src, PeInfo* info) {
  uint8_t dos[64];
  if (!readAt(src, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
  int64_t pe = le32(dos + 0x3c);
  uint8_t hdr[24];  // signature + file header
  if (!readAt(src, pe, hdr, sizeof hdr) || hdr[0] != 'P' || hdr[1] != 'E' || hdr[2] || hdr[3]) return false;
  info->machine = le16(hdr + 4);
  info->sectionCount = le16(hdr + 6);
  uint16_t optionalSize = le16(hdr + 20);
  int64_t table = pe + 24 + optionalSize;
  // The data directories follow the fixed part of the optional header, whose
  // size depends on PE32 or PE32+; the security entry is the fifth of them.
  uint8_t magic[2];
  if (optionalSize >= 68) info->checksumField = pe + 24 + 64;
  if (optionalSize >= 2 && readAt(src, pe + 24, magic, 2)) {
    uint32_t fixed = le16(magic) == 0x20b ? 112 : 96;
    uint8_t count[4], entry[8];
    if (optionalSize >= fixed + 5 * 8 && readAt(src, pe + 24 + fixed - 4, count, 4) && le32(count) > 4 &&
        readAt(src, pe + 24 + fixed + 4 * 8, entry, 8)) {
      info->securityEntry = pe + 24 + fixed + 4 * 8;
      info->certificateOffset = le32(entry);
      info->certificateSize = le32(entry + 4);
    }
  }
  // The last section in the file is the one whose raw data ends last; the order of
  // the headers need not follow the file order.
  int64_t end = 0;
  for (uint16_t i = 0; i < info->sectionCount; ++i) {
    uint8_t sec[40];
    if (!readAt(src, table + 40 * static_cast<int64_t>(i), sec, sizeof sec)) return false;
    uint32_t rawSize = le32(sec + 16), rawPointer = le32(sec + 20);
    if (rawSize == 0) continue;
    int64_t sectionEnd = static_cast<int64_t>(rawPointer) + rawSize;
    if (sectionEnd > end) end = sectionEnd;
  }
  if (info->sectionCount == 0 || end == 0) return false;
  info->lastSectionEnd = end;
  return true;
}

uint32_t peChecksum(const uint8_t* image, size_t size, int64_t checksumField) {
  // The one summing rule (PeChecksum); the field itself counts as 0.
  PeChecksum sum;
  if (checksumField < 0 || static_cast<uint64_t>(checksumField) >= size) {
    sum.add(image, size);
    return sum.value();
  }
  static const uint8_t zero[4] = {};
  size_t field = static_cast<size_t>(checksumField), after = std::min(size, field + 4);
  sum.add(image, field);
  sum.add(zero, after - field);
  sum.add(image + after, size - after);
  return sum.value();
}

int64_t blockDataLimit(const PeInfo& info, int64_t fileSize) {
  if (info.certificateSize && info.certificateOffset >= info.lastSectionEnd && info.certificateOffset < fileSize)
    return info.certificateOffset;
  return fileSize;
}

}  // namespace zanto

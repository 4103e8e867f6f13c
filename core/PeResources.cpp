// The resources of a PE image (see Resources.h): the tree the resource directory
// points at, and a replacement written as a new last section, so that anything
// appended behind the last section (the configuration block) still follows it.
// Apart from PeLayout.cpp, so that the launcher, which only reads its block, links none of it.
#include <algorithm>
#include <cstring>

#include "Resources.h"

namespace zanto {

namespace {

uint16_t rd16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t rd32(const uint8_t* p) { return static_cast<uint32_t>(rd16(p)) | static_cast<uint32_t>(rd16(p + 2)) << 16; }
void wr16(uint8_t* p, uint16_t v) { p[0] = static_cast<uint8_t>(v), p[1] = static_cast<uint8_t>(v >> 8); }
void wr32(uint8_t* p, uint32_t v) { wr16(p, static_cast<uint16_t>(v)), wr16(p + 2, static_cast<uint16_t>(v >> 16)); }

bool fail(std::string& error, const std::string& message) {
  error = message;
  return false;
}
bool inside(size_t size, uint64_t offset, uint64_t length) { return offset <= size && length <= size - offset; }
uint64_t alignUp(uint64_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

constexpr char kSectionName[8] = {'.', 'r', 's', 'r', 'c', '2', 0, 0};
constexpr uint32_t kResourceSectionFlags = 0x40000040;  // initialized data, readable

struct Headers {
  size_t optional = 0, table = 0, dataDirs = 0;
  uint16_t sections = 0;
  uint32_t dirCount = 0, sectionAlignment = 0, fileAlignment = 0, sizeOfHeaders = 0;
};

bool readHeaders(const uint8_t* image, size_t size, Headers& h, std::string& error) {
  if (size < 64 || image[0] != 'M' || image[1] != 'Z') return fail(error, "not a Windows executable (no PE image)");
  uint32_t pe = rd32(image + 0x3c);
  if (!inside(size, pe, 24) || std::memcmp(image + pe, "PE\0\0", 4) != 0)
    return fail(error, "not a Windows executable (no PE header)");
  h.sections = rd16(image + pe + 6);
  uint16_t optionalSize = rd16(image + pe + 20);
  h.optional = pe + 24;
  uint16_t magic = optionalSize >= 2 && inside(size, h.optional, 2) ? rd16(image + h.optional) : 0;
  size_t dirsAt = magic == 0x10b ? 96 : magic == 0x20b ? 112 : 0;
  if (!dirsAt || optionalSize < dirsAt || !inside(size, h.optional, optionalSize))
    return fail(error, "the executable's optional header is unknown or cut short");
  const uint8_t* opt = image + h.optional;
  h.dataDirs = h.optional + dirsAt;
  h.dirCount = std::min<uint32_t>(rd32(opt + dirsAt - 4), (optionalSize - dirsAt) / 8);
  h.sectionAlignment = rd32(opt + 32);
  h.fileAlignment = rd32(opt + 36);
  h.sizeOfHeaders = rd32(opt + 60);
  h.table = h.optional + optionalSize;
  if (!inside(size, h.table, 40ull * h.sections)) return fail(error, "the executable's section table is cut short");
  return true;
}

}  // namespace

bool readImageResources(const uint8_t* image, size_t size, std::vector<Resource>& out, std::string& error) {
  out.clear();
  Headers h;
  if (!readHeaders(image, size, h, error)) return false;
  if (h.dirCount <= 2) return true;
  uint32_t rva = rd32(image + h.dataDirs + 16), length = rd32(image + h.dataDirs + 20);
  if (rva == 0 || length == 0) return true;
  for (uint16_t i = 0; i < h.sections; ++i) {
    const uint8_t* sec = image + h.table + 40 * i;
    uint32_t va = rd32(sec + 12), virtualSize = rd32(sec + 8), rawSize = rd32(sec + 16), pointer = rd32(sec + 20);
    if (rva < va || rva - va >= std::max(virtualSize, rawSize)) continue;
    uint64_t start = static_cast<uint64_t>(pointer) + (rva - va);
    uint64_t available = rawSize > rva - va ? rawSize - (rva - va) : 0;
    if (start > size) return fail(error, "the resource section lies behind the end of the file");
    available = std::min<uint64_t>(available, size - start);
    return readResourceTree(image + start, static_cast<size_t>(available), rva, out, error);
  }
  return fail(error, "the resource directory lies in no section");
}

bool withResourceSection(const uint8_t* image, size_t size, const std::vector<Resource>& resources, ByteVector& out,
                         std::string& error) {
  Headers h;
  if (!readHeaders(image, size, h, error)) return false;
  if (h.dirCount <= 2) return fail(error, "the executable has no resource directory entry");
  auto powerOfTwo = [](uint32_t v) { return v != 0 && (v & (v - 1)) == 0; };
  // The format allows a file alignment up to 64 KB; a larger one would pad the copy
  // by as much.
  if (!powerOfTwo(h.sectionAlignment) || !powerOfTwo(h.fileAlignment) || h.fileAlignment > 0x10000)
    return fail(error, "the executable's section or file alignment is no power of two up to 64 KB");
  auto section = [&](uint16_t i) { return image + h.table + 40 * i; };
  uint16_t count = h.sections;
  if (count > 1 && std::memcmp(section(count - 1), kSectionName, 8) == 0) --count;  // an earlier run's
  uint64_t fileEnd = 0, virtualEnd = 0, firstRaw = UINT64_MAX;
  for (uint16_t i = 0; i < count; ++i) {
    const uint8_t* sec = section(i);
    uint64_t rawSize = rd32(sec + 16), pointer = rd32(sec + 20), va = rd32(sec + 12);
    virtualEnd = std::max(virtualEnd, va + std::max<uint64_t>(rd32(sec + 8), rawSize));
    if (rawSize == 0) continue;
    fileEnd = std::max(fileEnd, pointer + rawSize);
    firstRaw = std::min(firstRaw, pointer);
  }
  if (fileEnd == 0) return fail(error, "the executable has no section with data");
  if (fileEnd > size) return fail(error, "the executable is cut short inside its last section");
  uint64_t header = h.table + 40ull * count;
  if (header + 40 > h.sizeOfHeaders || header + 40 > firstRaw)
    return fail(error, "the executable's headers have no room for another section header");
  uint64_t rva = alignUp(virtualEnd, h.sectionAlignment);
  ByteVector tree = writeResourceTree(resources, static_cast<uint32_t>(rva));
  uint64_t pointer = alignUp(fileEnd, h.fileAlignment), rawSize = alignUp(tree.size(), h.fileAlignment);
  uint64_t imageSize = alignUp(rva + tree.size(), h.sectionAlignment);
  if (imageSize > UINT32_MAX || pointer + rawSize > UINT32_MAX)
    return fail(error, "the executable would grow beyond 4 GiB");

  out.assign(image, image + fileEnd);
  out.resize(pointer, 0);
  out.insert(out.end(), tree.begin(), tree.end());
  out.resize(pointer + rawSize, 0);
  uint8_t* sec = out.data() + header;
  std::fill(sec, sec + 40, 0);
  std::memcpy(sec, kSectionName, 8);
  wr32(sec + 8, static_cast<uint32_t>(tree.size()));
  wr32(sec + 12, static_cast<uint32_t>(rva));
  wr32(sec + 16, static_cast<uint32_t>(rawSize));
  wr32(sec + 20, static_cast<uint32_t>(pointer));
  wr32(sec + 36, kResourceSectionFlags);
  wr16(out.data() + h.optional - 24 + 6, static_cast<uint16_t>(count + 1));
  wr32(out.data() + h.optional + 56, static_cast<uint32_t>(imageSize));
  wr32(out.data() + h.optional + 64, 0);  // the checksum, to be computed over the finished file
  wr32(out.data() + h.dataDirs + 16, static_cast<uint32_t>(rva));
  wr32(out.data() + h.dataDirs + 20, static_cast<uint32_t>(tree.size()));
  // A signature behind the sections is cut off with them; its entry must not name
  // what is now the new section.
  if (h.dirCount > 4) std::fill_n(out.data() + h.dataDirs + 32, 8, 0);
  return true;
}

bool peChecksumOffset(const uint8_t* image, size_t size, size_t& offset) {
  Headers h;
  std::string ignored;
  if (!readHeaders(image, size, h, ignored)) return false;
  offset = h.optional + 64;
  return true;
}

}  // namespace zanto

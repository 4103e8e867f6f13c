// Helpers of the packager tests: synthetic PE images with a chosen section layout,
// scratch directories, and file access in a line.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "BlockWriter.h"

namespace zanto::test {

struct Section {
  uint32_t pointer, size;  // raw data position and size
};

// A DOS header, PE signature, file and optional header (PE32 or PE32+) and the
// section table in the given order, then each section's raw data filled with its
// index + 1, and `trailing` bytes of 0xEE behind everything. Section i is mapped
// at 0x1000 * (i + 1); the headers take 0x200 bytes (room for three sections).
inline Bytes makePe(bool pe32plus, const std::vector<Section>& sections, size_t trailing = 0) {
  const size_t peOffset = 0x80, optionalSize = pe32plus ? 240 : 224;
  size_t end = peOffset + 24 + optionalSize + 40 * sections.size();
  for (const Section& s : sections)
    if (s.size) end = std::max<size_t>(end, s.pointer + s.size);
  Bytes image(end + trailing, 0);
  auto put16 = [&](size_t at, uint16_t v) { image[at] = v & 0xFF, image[at + 1] = v >> 8; };
  auto put32 = [&](size_t at, uint32_t v) { put16(at, v & 0xFFFF), put16(at + 2, v >> 16); };
  image[0] = 'M', image[1] = 'Z';
  put32(0x3c, peOffset);
  image[peOffset] = 'P', image[peOffset + 1] = 'E';
  put16(peOffset + 4, pe32plus ? 0x8664 : 0x014c);
  put16(peOffset + 6, static_cast<uint16_t>(sections.size()));
  put16(peOffset + 20, static_cast<uint16_t>(optionalSize));
  const size_t optional = peOffset + 24;
  put16(optional, pe32plus ? 0x20b : 0x10b);
  put32(optional + 32, 0x1000);  // section alignment
  put32(optional + 36, 0x200);   // file alignment
  put32(optional + 56, static_cast<uint32_t>(0x1000 * (sections.size() + 1)));
  put32(optional + 60, 0x200);   // size of headers
  put32(optional + 64, 0x1234);  // a checksum the packager must not leave stale
  put32(optional + (pe32plus ? 108 : 92), 16);
  size_t table = peOffset + 24 + optionalSize;
  for (size_t i = 0; i < sections.size(); ++i) {
    put32(table + 40 * i + 8, sections[i].size);
    put32(table + 40 * i + 12, static_cast<uint32_t>(0x1000 * (i + 1)));
    put32(table + 40 * i + 16, sections[i].size);
    put32(table + 40 * i + 20, sections[i].pointer);
    for (uint32_t b = 0; b < sections[i].size; ++b) image[sections[i].pointer + b] = static_cast<uint8_t>(i + 1);
  }
  std::fill(image.end() - static_cast<ptrdiff_t>(trailing), image.end(), 0xEE);
  return image;
}

// A launcher stand-in: a PE image whose last section ends at 0x600.
inline Bytes sampleLauncher(bool pe32plus = true, size_t trailing = 0) {
  return makePe(pe32plus, {{0x400, 0x200}, {0x200, 0x200}}, trailing);
}

// A fresh directory, removed with everything in it at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() / ("zanto-pack-test-" + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // Names of the entries, so a test can see that nothing stray was left.
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path path_;
};

inline void writeFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}
inline void writeFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
inline Bytes readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
inline Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace zanto::test

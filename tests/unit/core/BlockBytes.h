// Builds configuration block bytes by hand for the parser tests, independently of
// the packager's writer, so that the two sides check each other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zanto::test {

struct Bytes {
  std::vector<uint8_t> data;
  Bytes& i32(int32_t v) {
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    return *this;
  }
  Bytes& raw(const std::string& s) {
    data.insert(data.end(), s.begin(), s.end());
    return *this;
  }
  Bytes& narrow(int32_t id, const std::string& s) { return i32(id).i32(static_cast<int32_t>(s.size())).raw(s); }
  Bytes& wide(int32_t id, const std::u16string& s) {
    i32(id).i32(static_cast<int32_t>(2 * s.size()));
    for (char16_t c : s) {
      data.push_back(static_cast<uint8_t>(c));
      data.push_back(static_cast<uint8_t>(c >> 8));
    }
    return *this;
  }
  Bytes& magic() { return i32(static_cast<int32_t>(0xE8E413D5u)); }
};

}  // namespace zanto::test

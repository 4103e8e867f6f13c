// Configuration block parsing and the settings getters (see ConfigStore.h).
#include "ConfigStore.h"

#include <climits>
#include <cstring>

#include "PeLayout.h"
#include "Settings.h"

namespace zanto {

bool MemorySource::seek(int64_t offset) {
  if (offset < 0 || static_cast<uint64_t>(offset) > size_) return false;
  pos_ = static_cast<size_t>(offset);
  return true;
}

int64_t MemorySource::read(void* dst, uint32_t count) {
  size_t n = size_ - pos_;
  if (count < n) n = count;
  if (n) std::memcpy(dst, data_ + pos_, n);
  pos_ += n;
  return static_cast<int64_t>(n);
}

int64_t LimitedSource::read(void* dst, uint32_t count) {
  int64_t at = inner_.position();
  if (at < 0) return -1;
  int64_t left = at < limit_ ? limit_ - at : 0;
  return inner_.read(dst, count < left ? count : static_cast<uint32_t>(left));
}

const char* blockErrorText(BlockError error) {
  switch (error) {
    case BlockError::None: return "";
    case BlockError::ReadInt: return "Internal Error: readInt";
    case BlockError::Magic: return "Internal Error: magic";
    case BlockError::ReadString: return "Internal Error: readString";
    case BlockError::ReadWString: return "Internal Error: readWString";
  }
  return "";
}

bool readInt(ByteSource& src, int32_t* value) {
  uint8_t b[4];
  if (src.read(b, 4) != 4) return false;
  *value = static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                                static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24);
  return true;
}

namespace {

// A record length is usable only if the source still holds that many bytes; an
// absurd length must fail like the short read it would end in, not allocate.
bool lengthFits(const ByteSource& src, int32_t length) {
  if (length < 0) return false;
  int64_t total = src.size();
  return total < 0 || length <= total - src.position();
}

bool readBytes(ByteSource& src, void* dst, int32_t length) {
  if (length == 0) return true;
  return src.read(dst, static_cast<uint32_t>(length)) >= length;
}

}  // namespace

BlockError parseConfigBlock(ByteSource& src, ConfigStore& store, int64_t* embeddedDataOffset) {
  int32_t magic;
  if (!readInt(src, &magic)) return BlockError::ReadInt;
  if (static_cast<uint32_t>(magic) != kBlockMagic) return BlockError::Magic;

  int32_t count;
  if (!readInt(src, &count)) return BlockError::ReadInt;
  for (int32_t i = 0; i < count; ++i) {
    int32_t id, length;
    if (!readInt(src, &id) || !readInt(src, &length)) return BlockError::ReadInt;
    if (!lengthFits(src, length)) return BlockError::ReadString;
    std::string value(static_cast<size_t>(length), '\0');
    if (!readBytes(src, value.data(), length)) return BlockError::ReadString;
    store.narrow[id] = std::move(value);
  }

  if (!readInt(src, &count)) return BlockError::ReadInt;
  for (int32_t i = 0; i < count; ++i) {
    int32_t id, length;
    if (!readInt(src, &id) || !readInt(src, &length)) return BlockError::ReadInt;
    if (!lengthFits(src, length)) return BlockError::ReadWString;
    std::string raw(static_cast<size_t>(length), '\0');
    if (!readBytes(src, raw.data(), length)) return BlockError::ReadWString;
    // An odd trailing byte is read with the rest and dropped, as the unit count is L / 2.
    std::u16string value(static_cast<size_t>(length) / 2, u'\0');
    for (size_t u = 0; u < value.size(); ++u)
      value[u] = static_cast<char16_t>(static_cast<uint8_t>(raw[2 * u]) |
                                       static_cast<uint8_t>(raw[2 * u + 1]) << 8);
    store.wide[id] = std::move(value);
  }

  *embeddedDataOffset = src.position();
  return BlockError::None;
}

BlockError readConfigBlockFrom(ByteSource& src, ConfigStore& store, int64_t* embeddedDataOffset, int64_t* dataLimit) {
  PeInfo pe;
  if (!readPeInfo(src, &pe)) return BlockError::ReadInt;
  int64_t size = src.size();
  LimitedSource data(src, size < 0 ? INT64_MAX : blockDataLimit(pe, size));
  if (dataLimit) *dataLimit = data.size();
  // Past the end there is nothing to read: the magic read fails there.
  if (!data.seek(pe.lastSectionEnd)) return BlockError::ReadInt;
  return parseConfigBlock(data, store, embeddedDataOffset);
}

void getStringSetting(const ConfigStore& store, int32_t id, char* buffer, size_t size) {
  if (size == 0) return;
  auto it = store.narrow.find(id);
  if (it == store.narrow.end()) {
    buffer[0] = '\0';
    return;
  }
  // Values may hold NUL bytes; like a C string copy, the first one ends the text.
  size_t n = strnlen(it->second.data(), it->second.size());
  if (n > size - 1) n = size - 1;
  std::memcpy(buffer, it->second.data(), n);
  buffer[n] = '\0';
}

int parseLeadingInt(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  long long value = 0;
  while (*p >= '0' && *p <= '9') {
    value = value * 10 + (*p++ - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

int getIntSetting(const ConfigStore& store, int32_t id) {
  char buffer[kTextBufferSize];
  getStringSetting(store, id, buffer, sizeof buffer);
  return parseLeadingInt(buffer);
}

void getWideStringSetting(const ConfigStore& store, int32_t id, char16_t* buffer, size_t units) {
  if (units == 0) return;
  auto it = store.wide.find(id);
  size_t n = 0;
  if (it != store.wide.end()) {
    const std::u16string& v = it->second;
    while (n < v.size() && v[n] != 0) ++n;
    if (n > units - 1) n = units - 1;
    std::memcpy(buffer, v.data(), n * sizeof(char16_t));
  }
  buffer[n] = 0;
}

}  // namespace zanto

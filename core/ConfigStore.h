// The settings store filled from the configuration block, and the block parser
// that fills it from any byte source (the launcher's own file, or a byte buffer in
// tests and the fuzzer). Portable: no <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace zanto {

// A positioned byte stream. `read` returns the number of bytes delivered (0 at
// the end) or -1 on a failed read; `size` is the total length, or -1 if unknown.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual bool seek(int64_t offset) = 0;
  virtual int64_t position() const = 0;
  virtual int64_t size() const = 0;
  virtual int64_t read(void* dst, uint32_t count) = 0;
};

class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool seek(int64_t offset) override;
  int64_t position() const override { return pos_; }
  int64_t size() const override { return static_cast<int64_t>(size_); }
  int64_t read(void* dst, uint32_t count) override;

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// The first `limit` bytes of another source: what lies behind (a certificate
// table) cannot be read through it.
class LimitedSource : public ByteSource {
 public:
  LimitedSource(ByteSource& inner, int64_t limit) : inner_(inner), limit_(limit) {}
  bool seek(int64_t offset) override { return offset <= limit_ && inner_.seek(offset); }
  int64_t position() const override { return inner_.position(); }
  int64_t size() const override { return limit_; }
  int64_t read(void* dst, uint32_t count) override;

 private:
  ByteSource& inner_;
  int64_t limit_;
};

// Which fatal text a failed block read ends with.
enum class BlockError { None, ReadInt, Magic, ReadString, ReadWString };
const char* blockErrorText(BlockError error);

struct ConfigStore {
  std::map<int32_t, std::string> narrow;
  std::map<int32_t, std::u16string> wide;
};

// Reads an int32 as little-endian; false on a short read.
bool readInt(ByteSource& src, int32_t* value);

// Parses the records of a block whose magic starts at the source's position (the
// magic is checked here). On success fills `store` and `embeddedDataOffset`.
// Lengths beyond what the source holds fail as a short read would, before any
// allocation; the error says which record kind it was.
BlockError parseConfigBlock(ByteSource& src, ConfigStore& store, int64_t* embeddedDataOffset);

// Finds the block behind the last section of the PE image in `src` (any header
// layout), then parses it, reading no further than the certificate table of a
// signed image (`dataLimit`, when given, receives that end). An image whose
// headers cannot be read fails as a short integer read would.
BlockError readConfigBlockFrom(ByteSource& src, ConfigStore& store, int64_t* embeddedDataOffset,
                               int64_t* dataLimit = nullptr);

// Getters with the launcher's semantics: absent ids give empty text or 0, values
// are cut to the caller's buffer.
void getStringSetting(const ConfigStore& store, int32_t id, char* buffer, size_t size);
int getIntSetting(const ConfigStore& store, int32_t id);
void getWideStringSetting(const ConfigStore& store, int32_t id, char16_t* buffer, size_t units);

// atoi as the runtime does it, without its overflow behaviour: saturates.
int parseLeadingInt(const char* text);

}  // namespace zanto

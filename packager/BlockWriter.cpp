// Block writing and reading (see BlockWriter.h). The layout is the one the
// launcher's parser in core/ConfigStore reads; the reader below uses that
// parser, so both sides are checked against the same code.
#include "BlockWriter.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>

#include "ConfigStore.h"
#include "PeLayout.h"
#include "Resources.h"
#include "Settings.h"
#include "Signature.h"

namespace zanto {

namespace fs = std::filesystem;

std::string includedFileCountText(const std::vector<IncludedFile>& files) {
  return files.empty() ? std::string() : std::to_string(files.size());
}

std::string includedFileNamesText(const std::vector<IncludedFile>& files) {
  std::string names;
  for (const IncludedFile& f : files) {
    if (!names.empty()) names += ';';
    names += f.name;
  }
  return names;
}

namespace {

// Lower case for comparing names as Windows file systems do, on 1252 bytes.
std::string foldName(const std::string& name) {
  std::string out = name;
  for (char& ch : out) {
    uint8_t b = static_cast<uint8_t>(ch);
    if ((b >= 'A' && b <= 'Z') || (b >= 0xC0 && b <= 0xDE && b != 0xD7))
      b += 0x20;
    else if (b == 0x8A || b == 0x8C || b == 0x8E)
      b += 0x10;  // Š Œ Ž
    else if (b == 0x9F)
      b = 0xFF;  // Ÿ
    ch = static_cast<char>(b);
  }
  return out;
}

bool isDeviceName(const std::string& name) {
  std::string base = foldName(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  if (base == "con" || base == "prn" || base == "aux" || base == "nul" || base == "conin$" || base == "conout$")
    return true;
  // COM1..COM9 and LPT1..LPT9, also with the superscript digits of 1252.
  return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
         std::strchr("123456789\xB9\xB2\xB3", base[3]) != nullptr;
}

void putInt(Bytes& out, int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

std::string includedFileNameProblem(const std::string& name) {
  if (name.empty()) return "the name is empty";
  if (name.size() > 255) return "the name is longer than 255 characters";
  for (char ch : name) {
    uint8_t b = static_cast<uint8_t>(ch);
    if (b < 0x20) return "the name contains a control character";
    if (ch == ';') return "the name contains ';', which separates the names in the block";
    if (std::strchr("<>:\"/\\|?*", ch))
      return std::string("the name contains '") + ch + "', which a Windows file name cannot hold";
  }
  if (name.back() == '.' || name.back() == ' ') return "the name ends with '.' or a blank, which Windows drops";
  if (isDeviceName(name)) return "the name is a Windows device name";
  return {};
}

std::string modelProblem(const BlockModel& model) {
  if (model.narrow.count(setting::IncludedFileCount) || model.narrow.count(setting::IncludedFileNames))
    return "IncludedFileCount and IncludedFileNames are set from the included files, not by hand";
  std::map<std::string, std::string> seen;
  for (const IncludedFile& f : model.files) {
    std::string problem = includedFileNameProblem(f.name);
    if (!problem.empty()) return "included file \"" + f.name + "\": " + problem;
    auto [it, fresh] = seen.emplace(foldName(f.name), f.name);
    if (!fresh) return "included file \"" + f.name + "\": the name is taken by \"" + it->second + "\"";
    if (includedFileSize(f) > static_cast<uint64_t>(INT32_MAX))
      return "included file \"" + f.name + "\" is larger than 2 GiB - 1 byte";
  }
  // The launcher reads the names into a buffer of that size and would cut them.
  if (includedFileNamesText(model.files).size() > kTextBufferSize - 1)
    return "the included file names, joined by ';', are longer than " + std::to_string(kTextBufferSize - 1) + " bytes";
  return {};
}

namespace {

// The records of the block (magic up to the last wide record), without the
// included file data.
Bytes serializeRecords(const BlockModel& model) {
  std::map<int32_t, std::string> narrow = model.narrow;
  if (!model.files.empty()) {
    narrow.emplace(setting::IncludedFileCount, includedFileCountText(model.files));
    narrow.emplace(setting::IncludedFileNames, includedFileNamesText(model.files));
  }
  Bytes out;
  putInt(out, static_cast<int32_t>(kBlockMagic));
  putInt(out, static_cast<int32_t>(narrow.size()));
  for (const auto& [id, value] : narrow) {
    putInt(out, id);
    putInt(out, static_cast<int32_t>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
  }
  putInt(out, static_cast<int32_t>(model.wide.size()));
  for (const auto& [id, value] : model.wide) {
    putInt(out, id);
    putInt(out, static_cast<int32_t>(value.size() * 2));
    for (char16_t u : value) {
      out.push_back(static_cast<uint8_t>(u & 0xFF));
      out.push_back(static_cast<uint8_t>(u >> 8));
    }
  }
  return out;
}

void maskInto(uint8_t* to, const uint8_t* from, size_t n) {
  for (size_t i = 0; i < n; ++i) to[i] = from[i] ^ kContentMask;
}

// Feeds the included file data (size, masked content) to `sink` in pieces of a
// fixed size, so that large files are never held a second time. Files with a
// source are read here when `readSources` (else written as empty).
template <typename Sink>
bool emitFileData(const std::vector<IncludedFile>& files, bool readSources, Sink&& sink, std::string& error) {
  constexpr size_t kChunk = 1 << 16;
  uint8_t chunk[kChunk];
  for (const IncludedFile& f : files) {
    const bool fromSource = readSources && !f.source.empty();
    const uint64_t size = fromSource ? f.sourceSize : f.content.size();
    Bytes sizeRecord;
    putInt(sizeRecord, static_cast<int32_t>(size));
    if (!sink(sizeRecord.data(), sizeRecord.size())) return false;
    std::ifstream in;
    if (fromSource) {
      in.open(f.source, std::ios::binary);
      if (!in) {
        error = "cannot read " + pathText(f.source);
        return false;
      }
    }
    for (uint64_t at = 0; at < size; at += kChunk) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, size - at));
      if (fromSource) {
        in.read(reinterpret_cast<char*>(chunk), static_cast<std::streamsize>(n));
        if (static_cast<size_t>(in.gcount()) != n) {
          error = pathText(f.source) + " became shorter while it was packaged";
          return false;
        }
        maskInto(chunk, chunk, n);
      } else {
        maskInto(chunk, f.content.data() + at, n);
      }
      if (!sink(chunk, n)) return false;
    }
    // The size record is written already: more bytes would not fit it.
    if (fromSource && in.peek() != std::ifstream::traits_type::eof()) {
      error = pathText(f.source) + " grew while it was packaged";
      return false;
    }
  }
  return true;
}

// The launcher's image up to the end of its last section, or an error. A
// signature of the launcher is dropped whole: its certificate table lies behind
// the sections and its directory entry is zeroed, as a stale entry would name
// bytes of the new block as a signature.
bool launcherPrefix(const Bytes& launcher, Bytes& prefix, std::string& error) {
  // An empty vector's data may be null, which MemorySource must not be given.
  MemorySource src(launcher.data(), launcher.size());
  PeInfo pe;
  if (launcher.empty() || !readPeInfo(src, &pe)) {
    error = "the launcher is not a Windows executable (no PE image)";
    return false;
  }
  if (pe.lastSectionEnd > static_cast<int64_t>(launcher.size())) {
    error = "the launcher is cut short: its last section ends at offset " + std::to_string(pe.lastSectionEnd) +
            ", the file has " + std::to_string(launcher.size()) + " bytes";
    return false;
  }
  if (pe.certificateSize && pe.certificateOffset < pe.lastSectionEnd) {
    error = "the launcher's certificate table (offset " + std::to_string(pe.certificateOffset) +
            ") lies inside its sections, where it cannot be removed";
    return false;
  }
  prefix.assign(launcher.begin(), launcher.begin() + static_cast<std::ptrdiff_t>(pe.lastSectionEnd));
  if (pe.certificateSize && pe.securityEntry + 8 <= pe.lastSectionEnd) {
    std::fill_n(prefix.begin() + pe.securityEntry, 8, 0);
    // The signing tool summed the signed file; the sum of the image without
    // the signature is the one the linker gave the unsigned launcher.
    if (pe.checksumField && pe.checksumField + 4 <= pe.lastSectionEnd) {
      uint32_t sum = peChecksum(prefix.data(), prefix.size(), pe.checksumField);
      for (int i = 0; i < 4; ++i)
        prefix[static_cast<size_t>(pe.checksumField) + i] = static_cast<uint8_t>(sum >> (8 * i));
    }
  }
  return true;
}

// Runs `write` on a temporary file beside `path` and renames it over `path`.
// A writer that returns false has set `error` itself.
bool writeAtomically(const fs::path& path, std::string& error,
                     const std::function<bool(std::ofstream&)>& write) {
  std::random_device random;
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
  fs::path name = ".";
  name += path.filename();
  name += suffix;
  fs::path temp = path.parent_path() / name;
  {
    errno = 0;
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    error.clear();
    bool written = out && write(out);
    out.close();  // also when it failed: Windows removes no open file
    if (!written && !error.empty()) {
      std::error_code ignored;
      fs::remove(temp, ignored);
      return false;
    }
    if (!out) {
      int reason = errno;  // the streams keep none; the C library's is the best there is
      std::error_code ignored;
      fs::remove(temp, ignored);
      error = "cannot write " + pathText(path) + (reason ? ": " + std::generic_category().message(reason) : "");
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temp, path, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    error = "cannot write " + pathText(path) + ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace

Bytes serializeBlock(const BlockModel& model) {
  Bytes out = serializeRecords(model);
  size_t fileBytes = 0;
  for (const IncludedFile& f : model.files) fileBytes += 4 + f.content.size();
  out.reserve(out.size() + fileBytes);
  std::string ignored;  // nothing is read, nothing can fail
  emitFileData(
      model.files, false,
      [&](const uint8_t* data, size_t n) {
        out.insert(out.end(), data, data + n);
        return true;
      },
      ignored);
  return out;
}

bool writeFileAtomically(const fs::path& path, const Bytes& content, std::string& error) {
  return writeAtomically(path, error, [&](std::ofstream& out) {
    out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    return static_cast<bool>(out);
  });
}

bool makeLauncherCopy(const Bytes& launcher, const BlockModel& model, Bytes& out, std::string& error) {
  error = modelProblem(model);
  Bytes prefix;
  if (!error.empty() || !launcherPrefix(launcher, prefix, error)) return false;
  Bytes block = serializeBlock(model);
  out = std::move(prefix);
  out.insert(out.end(), block.begin(), block.end());
  return true;
}

// Streams the copy to the file: the included files are masked piece by piece
// instead of being copied into one image first.
bool writeLauncherCopy(const Bytes& launcher, const BlockModel& model, const fs::path& output, std::string& error,
                       bool setChecksum) {
  error = modelProblem(model);
  Bytes prefix;
  size_t checksumAt = 0;
  if (!error.empty() || !launcherPrefix(launcher, prefix, error)) return false;
  if (setChecksum && (!peChecksumOffset(prefix.data(), prefix.size(), checksumAt) || checksumAt + 4 > prefix.size())) {
    error = "the launcher has no PE checksum field";
    return false;
  }
  Bytes records = serializeRecords(model);
  PeChecksum checksum;
  return writeAtomically(output, error, [&](std::ofstream& out) {
    auto write = [&](const uint8_t* data, size_t n) {
      out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(n));
      if (setChecksum) checksum.add(data, n);
      return static_cast<bool>(out);
    };
    if (!setChecksum) {
      write(prefix.data(), prefix.size());
    } else {  // the field itself counts as 0
      static const uint8_t zero[4] = {};
      write(prefix.data(), checksumAt);
      write(zero, 4);
      write(prefix.data() + checksumAt + 4, prefix.size() - checksumAt - 4);
    }
    write(records.data(), records.size());
    if (!emitFileData(model.files, true, write, error)) return false;
    if (!setChecksum) return static_cast<bool>(out);
    uint32_t sum = checksum.value();
    uint8_t field[4] = {static_cast<uint8_t>(sum), static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum >> 16),
                        static_cast<uint8_t>(sum >> 24)};
    out.seekp(static_cast<std::streamoff>(checksumAt));
    out.write(reinterpret_cast<const char*>(field), 4);
    return static_cast<bool>(out);
  });
}

bool readLauncherCopy(const Bytes& image, LauncherCopy& copy, std::string& error) {
  copy = LauncherCopy();
  copy.fileSize = static_cast<int64_t>(image.size());
  MemorySource src(image.data(), image.size());
  PeInfo pe;
  if (image.empty() || !readPeInfo(src, &pe)) {
    error = "not a Windows executable (no PE image)";
    return false;
  }
  copy.machine = pe.machine;
  copy.blockOffset = pe.lastSectionEnd;
  // A signature's certificate table is no part of the block or its files.
  copy.dataLimit = blockDataLimit(pe, copy.fileSize);
  if (copy.dataLimit < copy.fileSize) {
    copy.certificateOffset = pe.certificateOffset;
    copy.certificateSize = static_cast<int64_t>(pe.certificateSize);
    copy.signer =
        authenticodeSigner(image.data() + copy.dataLimit, static_cast<size_t>(copy.fileSize - copy.dataLimit));
  }
  if (pe.lastSectionEnd >= copy.dataLimit) {
    error = pe.lastSectionEnd > copy.fileSize ? "the executable is cut short inside its last section"
                                              : "no configuration block: nothing follows the last section";
    return false;
  }
  LimitedSource data(src, copy.dataLimit);
  data.seek(pe.lastSectionEnd);
  ConfigStore store;
  BlockError result = parseConfigBlock(data, store, &copy.dataOffset);
  if (result == BlockError::Magic) {
    error = "no configuration block: the bytes behind the last section (offset " + std::to_string(pe.lastSectionEnd) +
            ") do not start with the block's magic number";
    return false;
  }
  if (result != BlockError::None) {
    error = std::string("the configuration block is cut short (") + blockErrorText(result) + ")";
    return false;
  }
  copy.model.narrow = store.narrow;
  copy.model.wide = store.wide;

  // As the launcher extracts: names as its getter delivers them, at most `count`.
  int count = getIntSetting(store, setting::IncludedFileCount);
  std::vector<char> buffer(kTextBufferSize);
  getStringSetting(store, setting::IncludedFileNames, buffer.data(), buffer.size());
  std::vector<std::string> names;
  for (const char* p = buffer.data(); *p;) {
    const char* end = std::strchr(p, ';');
    size_t n = end ? static_cast<size_t>(end - p) : std::strlen(p);
    if (n) names.emplace_back(p, n);
    p += n + (end ? 1 : 0);
  }
  for (size_t i = 0; i < names.size() && static_cast<int64_t>(i) < count; ++i) {
    IncludedFile file{names[i], {}};
    int32_t size;
    if (!readInt(data, &size)) {
      error = "included file \"" + file.name + "\": the data ends before its size";
      return false;
    }
    if (size > 0) {
      int64_t left = copy.dataLimit - data.position();
      if (size > left) {
        error = "included file \"" + file.name + "\": " + std::to_string(size) + " bytes announced, " +
                std::to_string(left) + " left in the executable";
        return false;
      }
      file.content.resize(static_cast<size_t>(size));
      data.read(file.content.data(), static_cast<uint32_t>(size));
      for (uint8_t& b : file.content) b ^= kContentMask;
    }
    copy.model.files.push_back(std::move(file));
  }
  copy.dataEnd = data.position();
  return true;
}

uint64_t includedFileSize(const IncludedFile& file) {
  return file.source.empty() ? file.content.size() : file.sourceSize;
}

namespace {

bool isRegularFile(const fs::path& path, std::string& error) {
  std::error_code ec;
  if (fs::is_regular_file(path, ec)) return true;
  error = (fs::exists(path, ec) ? "not a regular file: " : "not found: ") + pathText(path);
  return false;
}

}  // namespace

bool includedFileFrom(const fs::path& path, const std::string& name, IncludedFile& file, std::string& error) {
  if (!isRegularFile(path, error)) return false;
  std::error_code ec;
  uintmax_t size = fs::file_size(path, ec);
  if (ec || !std::ifstream(path, std::ios::binary)) {
    error = "cannot read " + pathText(path);
    return false;
  }
  file = IncludedFile(name, {});
  file.source = path;
  file.sourceSize = static_cast<uint64_t>(size);
  return true;
}

bool readFileBytes(const fs::path& path, Bytes& out, std::string& error) {
  if (!isRegularFile(path, error)) return false;
  std::error_code ec;
  std::ifstream in(path, std::ios::binary);
  uintmax_t size = fs::file_size(path, ec);
  if (in && !ec) {
    out.resize(static_cast<size_t>(size));
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size));
  }
  if (!in || ec) {
    error = "cannot read " + pathText(path);
    return false;
  }
  return true;
}

std::string pathText(const fs::path& path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace zanto

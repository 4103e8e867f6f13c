// Writes and reads the configuration block and included file data that make a
// copy of the generic launcher an application's own executable. Used by the
// packager and by the launcher's tests (also in the mingw builds).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace zanto {

using Bytes = std::vector<uint8_t>;

struct IncludedFile {
  IncludedFile() = default;
  IncludedFile(std::string fileName, Bytes fileContent) : name(std::move(fileName)), content(std::move(fileContent)) {}

  std::string name;  // 8-bit code page, as stored in IncludedFileNames
  Bytes content;     // plain content; the mask is applied when written
  // When set, the content is this file's (content stays empty): writeLauncherCopy
  // reads it piece by piece, so a large file is never held in memory. Its size is
  // taken when the model is made; a file that changes size meanwhile fails the write.
  std::filesystem::path source;
  uint64_t sourceSize = 0;
};

// The size of the file's content, from `content` or from `source`.
uint64_t includedFileSize(const IncludedFile& file);
// An included file that refers to `path` instead of holding its content; false
// (and `error`) when it is no readable regular file.
bool includedFileFrom(const std::filesystem::path& path, const std::string& name, IncludedFile& file,
                      std::string& error);

// What a block carries. Maps, so every id occurs once and the records come out in
// ascending id order: the same model always gives the same bytes.
struct BlockModel {
  std::map<int32_t, std::string> narrow;   // 8-bit texts in the system code page
  std::map<int32_t, std::u16string> wide;  // UTF-16 texts
  std::vector<IncludedFile> files;         // in storage order
};

// The IncludedFileCount and IncludedFileNames values the files imply; both empty
// when there are no files (the writer then leaves the records out).
std::string includedFileCountText(const std::vector<IncludedFile>& files);
std::string includedFileNamesText(const std::vector<IncludedFile>& files);

// Why `name` cannot be an included file name, or empty when it can. The launcher
// joins it to its extraction directory, so a name must be one plain Windows file
// name: no separators, no ';', no device name, nothing the file system rewrites.
std::string includedFileNameProblem(const std::string& name);

// Why the model cannot be packaged, or empty: bad or duplicate file names, names
// too long for the launcher's buffer, files too large for an int32 size, or
// IncludedFileCount/IncludedFileNames set by hand.
std::string modelProblem(const BlockModel& model);

// The block and the file data behind it, for files that hold their content (a
// file with a `source` is written as empty here: only writeLauncherCopy reads it). IncludedFileCount and IncludedFileNames
// are derived from the files, unless the model holds them already: tests use
// that to build blocks whose records disagree with the data.
Bytes serializeBlock(const BlockModel& model);

// Writes `content` to a temporary file beside `path` and renames it over `path`,
// so a failure leaves neither a partial file nor a damaged earlier one.
bool writeFileAtomically(const std::filesystem::path& path, const Bytes& content, std::string& error);

// The launcher image up to the end of its last section's raw data (anything
// behind, such as an earlier block or a signature, is dropped, and the header's
// certificate table entry is zeroed), then the block of `model`.
bool makeLauncherCopy(const Bytes& launcher, const BlockModel& model, Bytes& out, std::string& error);
// makeLauncherCopy, written with writeFileAtomically; files with a `source` are
// read from it while writing. Nothing is written on error. With `setChecksum` the
// PE checksum is computed over the whole file as written and stored in its header.
bool writeLauncherCopy(const Bytes& launcher, const BlockModel& model, const std::filesystem::path& output,
                       std::string& error, bool setChecksum = false);

struct LauncherCopy {
  BlockModel model;         // narrow holds IncludedFileCount/Names as stored
  uint16_t machine = 0;     // PE machine field
  int64_t blockOffset = 0;  // where the magic is
  int64_t dataOffset = 0;   // where the included file data starts
  int64_t dataEnd = 0;      // just behind the last included file read
  int64_t dataLimit = 0;    // where block and files must end: the certificate table, else the file's end
  int64_t fileSize = 0;
  int64_t certificateOffset = 0, certificateSize = 0;  // 0: not signed
  std::string signer;                                  // the signing certificate's subject, or why it is unknown
};

// Reads a configured launcher back (a signed one too: up to its certificate
// table). Files are read as the launcher extracts them:
// the names of IncludedFileNames (empty pieces skipped), as many as
// IncludedFileCount allows; a size of 0 or less is an empty file.
bool readLauncherCopy(const Bytes& image, LauncherCopy& copy, std::string& error);

bool readFileBytes(const std::filesystem::path& path, Bytes& out, std::string& error);
// A path as UTF-8 text, for messages and TOML output.
std::string pathText(const std::filesystem::path& path);

}  // namespace zanto

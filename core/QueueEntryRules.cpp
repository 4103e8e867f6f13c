// Deletion-queue entry rules (see QueueEntryRules.h). Anything the launcher did not
// write is refused before the file system is touched: a queue entry names what a
// privileged process deletes.
#include "QueueEntryRules.h"

#include <cstring>

#include "Settings.h"

namespace zanto {

namespace {

constexpr char kPrefix[] = "zto";
constexpr char kSuffix[] = "_dir";
constexpr size_t kHexDigits = 16;

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// "x:\" and more, with no element that Windows would reinterpret: no "/" (a
// separator too), no ":" past the drive (a stream), no empty, "." or ".." element,
// no element ending in a dot or blank (stripped when opened).
const char* absoluteDrivePathProblem(const char* path, size_t length) {
  if (length < 3 || !isLetter(path[0]) || path[1] != ':' || path[2] != '\\') return "not an absolute drive path";
  size_t start = 3;
  for (size_t i = 3; i <= length; ++i) {
    if (i < length && path[i] == '/') return "a '/' in the path";
    if (i < length && path[i] == ':') return "a ':' past the drive";
    if (i < length && path[i] != '\\') continue;
    size_t n = i - start;
    const char* element = path + start;
    if (n == 0 && !(i == length && length == 3)) return "an empty path element";  // "x:\" alone is whole
    if ((n == 1 && element[0] == '.') || (n == 2 && element[0] == '.' && element[1] == '.'))
      return "a '.' or '..' element";
    if (n > 0 && (element[n - 1] == '.' || element[n - 1] == ' ')) return "an element ending in a dot or blank";
    start = i + 1;
  }
  return nullptr;
}

}  // namespace

bool isPrivateDirectoryName(const char* name, size_t length) {
  const size_t prefix = sizeof kPrefix - 1, suffix = sizeof kSuffix - 1;
  if (length != prefix + kHexDigits + suffix) return false;
  for (size_t i = 0; i < prefix; ++i)
    if (lowerAscii(name[i]) != kPrefix[i]) return false;
  for (size_t i = prefix; i < prefix + kHexDigits; ++i)
    if (!isHexDigit(name[i])) return false;
  for (size_t i = 0; i < suffix; ++i)
    if (lowerAscii(name[prefix + kHexDigits + i]) != kSuffix[i]) return false;
  return true;
}

QueueEntryCheck checkQueueEntry(const char* entry, const char* tempFolder, QueueEntryKind kind) {
  size_t length = std::strlen(entry), folderLength = std::strlen(tempFolder);
  // Longer than any path the launcher makes: refused whole, never cut to another name.
  if (length >= kTextBufferSize) return {false, "longer than the launcher writes"};
  if (folderLength > 3 && tempFolder[folderLength - 1] == '\\') --folderLength;
  if (absoluteDrivePathProblem(tempFolder, folderLength))
    return {false, "the temporary folder is not an absolute drive path"};
  if (tempFolder[folderLength - 1] == '\\') --folderLength;  // a drive root: compared without it
  if (const char* problem = absoluteDrivePathProblem(entry, length)) return {false, problem};
  if (length <= folderLength + 1 || entry[folderLength] != '\\') return {false, "outside the temporary folder"};
  for (size_t i = 0; i < folderLength; ++i)
    if (lowerAscii(entry[i]) != lowerAscii(tempFolder[i])) return {false, "outside the temporary folder"};
  const char* rest = entry + folderLength + 1;
  const char* separator = std::strchr(rest, '\\');
  size_t directoryLength = separator ? static_cast<size_t>(separator - rest) : std::strlen(rest);
  if (!isPrivateDirectoryName(rest, directoryLength)) return {false, "not a name the launcher writes"};
  if (kind == QueueEntryKind::Directory) {
    if (separator) return {false, "not a name the launcher writes"};
    return {true, ""};
  }
  if (!separator || separator[1] == '\0' || std::strchr(separator + 1, '\\'))
    return {false, "not a name the launcher writes"};
  return {true, ""};
}

}  // namespace zanto

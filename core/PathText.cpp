// Path text rules (see PathText.h).
#include "PathText.h"

#include <cstring>

namespace zanto {

bool isRelativePath(const char* path) {
  size_t n = std::strlen(path);
  if (n <= 2) return true;
  if (path[0] == '"') {
    if (n <= 3) return true;
    if (path[2] == ':' && path[3] == '\\') return false;
    if (path[1] == '\\' && path[2] == '\\') return false;
    return true;
  }
  if (path[1] == ':' && path[2] == '\\') return false;
  if (path[0] == '\\' && path[1] == '\\') return false;
  return true;
}

void collapseBackslashRuns(char16_t* text) {
  if (text[0] == 0) return;
  size_t out = 1;
  for (size_t in = 1; text[in]; ++in) {
    if (text[in] == u'\\' && text[out - 1] == u'\\' && out - 1 != 0) continue;
    text[out++] = text[in];
  }
  text[out] = 0;
}

bool isDriveRootText(const char* path) {
  if (std::strlen(path) < 2) return false;
  const char* rest = path + 1;
  return std::strcmp(rest, ":\\") == 0 || std::strcmp(rest, ":\\.") == 0 || std::strcmp(rest, ":\\.\\.") == 0;
}

bool isPlainFileName(const char* name) {
  if (name[0] == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  return std::strpbrk(name, "\\/:") == nullptr;
}

void dropEmptyListElements(char* list) {
  char* out = list;
  for (const char* in = list; *in; ++in) {
    if (*in == ';' && (out == list || out[-1] == ';')) continue;
    *out++ = *in;
  }
  if (out != list && out[-1] == ';') --out;
  *out = '\0';
}

std::vector<std::string> absolutePathEntries(const char* pathValue) {
  std::vector<std::string> entries;
  const std::string value = pathValue ? pathValue : "";
  size_t start = 0;
  while (start <= value.size()) {
    size_t end = value.find(';', start);
    if (end == std::string::npos) end = value.size();
    std::string entry = value.substr(start, end - start);
    start = end + 1;
    if (entry.size() >= 2 && entry.front() == '"' && entry.back() == '"') entry = entry.substr(1, entry.size() - 2);
    // A folder's trailing backslashes, not a drive root's only one.
    while (entry.size() > 3 && entry.back() == '\\') entry.pop_back();
    if (entry.find('"') != std::string::npos || isRelativePath(entry.c_str())) continue;
    entries.push_back(entry);
  }
  return entries;
}

std::string namedFormOfFinalPath(const char* finalPath) {
  std::string path = finalPath;
  if (path.rfind("\\\\?\\UNC\\", 0) == 0)
    path = "\\\\" + path.substr(8);
  else if (path.rfind("\\\\?\\", 0) == 0)
    path.erase(0, 4);
  // "C:\" keeps its backslash; "C:\x\" and "\\srv\share\" lose theirs.
  while (path.size() > 1 && path.back() == '\\' && !(path.size() == 3 && path[1] == ':')) path.pop_back();
  return path;
}

namespace {

char foldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameFolded(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (foldAscii(a[i]) != foldAscii(b[i])) return false;
  return true;
}

}  // namespace

bool finalPathIsNamed(const char* named, const char* finalPath) {
  const std::string a = namedFormOfFinalPath(named), b = namedFormOfFinalPath(finalPath);
  return !a.empty() && sameFolded(a, b);
}

bool finalPathIsDirectlyInside(const char* folderFinal, const char* fileFinal) {
  const std::string folder = namedFormOfFinalPath(folderFinal), file = namedFormOfFinalPath(fileFinal);
  const size_t slash = file.find_last_of('\\');
  if (folder.empty() || slash == std::string::npos) return false;
  const std::string name = file.substr(slash + 1), parent = file.substr(0, slash == 2 && file[1] == ':' ? 3 : slash);
  if (name.empty() || name == "." || name == ".." || name.find_first_of(":/") != std::string::npos) return false;
  return sameFolded(parent, folder);
}

}  // namespace zanto

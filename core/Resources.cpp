// Resource tree, version information and icon formats (see Resources.h). Every
// length read from the input is checked against what is left before it is used.
#include "Resources.h"

#include <algorithm>
#include <map>
#include <set>

namespace zanto {

namespace {

uint16_t rd16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t rd32(const uint8_t* p) { return static_cast<uint32_t>(rd16(p)) | static_cast<uint32_t>(rd16(p + 2)) << 16; }

void put16(ByteVector& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(ByteVector& out, uint32_t v) {
  put16(out, static_cast<uint16_t>(v));
  put16(out, static_cast<uint16_t>(v >> 16));
}
void set16(ByteVector& out, size_t at, uint16_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}
void padTo(ByteVector& out, size_t alignment) {
  while (out.size() % alignment) out.push_back(0);
}

bool fail(std::string& error, const std::string& message) {
  error = message;
  return false;
}

// Whether [offset, offset + length) lies inside a buffer of `size` bytes.
bool inside(size_t size, uint64_t offset, uint64_t length) { return offset <= size && length <= size - offset; }

constexpr uint32_t kHighBit = 0x80000000u;

class TreeReader {
 public:
  TreeReader(const uint8_t* tree, size_t size, uint32_t rva, std::vector<Resource>& out, std::string& error)
      : tree_(tree), size_(size), rva_(rva), out_(out), error_(error) {}

  bool directory(uint32_t offset, int level, Resource& path) {
    if (!seen_.insert(offset).second) return fail(error_, "a resource directory is referenced twice");
    if (!inside(size_, offset, 16)) return fail(error_, "a resource directory lies outside the section");
    const uint8_t* dir = tree_ + offset;
    uint32_t count = static_cast<uint32_t>(rd16(dir + 12)) + rd16(dir + 14);
    if (!inside(size_, offset + 16ull, 8ull * count))
      return fail(error_, "a resource directory's entries are cut short");
    std::set<std::pair<bool, std::u16string>> names;
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* entry = dir + 16 + 8 * i;
      ResourceId id;
      if (!name(rd32(entry), id)) return false;
      if (!names.emplace(!id.name.empty(), id.name.empty() ? std::u16string(1, char16_t(id.id)) : id.name).second)
        return fail(error_, "a resource directory holds one id twice");
      uint32_t target = rd32(entry + 4);
      if (level == 2) {
        if (!id.name.empty()) return fail(error_, "a resource language is a name, not a number");
        path.language = id.id;
        if (target & kHighBit) return fail(error_, "the resource tree is deeper than type, name and language");
        if (!data(target, path)) return false;
        continue;
      }
      (level == 0 ? path.type : path.name) = id;
      if (!(target & kHighBit)) return fail(error_, "a resource type or name leads to data, not to a directory");
      if (!directory(target & ~kHighBit, level + 1, path)) return false;
    }
    return true;
  }

 private:
  bool name(uint32_t field, ResourceId& id) {
    if (!(field & kHighBit)) {
      if (field > 0xFFFF) return fail(error_, "a resource id is larger than 65535");
      id.id = static_cast<uint16_t>(field);
      return true;
    }
    uint32_t offset = field & ~kHighBit;
    if (!inside(size_, offset, 2)) return fail(error_, "a resource name lies outside the section");
    uint16_t length = rd16(tree_ + offset);
    if (length == 0) return fail(error_, "a resource name is empty");
    if (!inside(size_, offset + 2ull, 2ull * length)) return fail(error_, "a resource name is cut short");
    for (uint16_t i = 0; i < length; ++i) id.name += static_cast<char16_t>(rd16(tree_ + offset + 2 + 2 * i));
    return true;
  }

  bool data(uint32_t offset, const Resource& path) {
    if (!inside(size_, offset, 16)) return fail(error_, "a resource data entry lies outside the section");
    const uint8_t* entry = tree_ + offset;
    uint32_t rva = rd32(entry), length = rd32(entry + 4);
    if (rva < rva_ || !inside(size_, rva - rva_, length)) return fail(error_, "resource data lies outside the section");
    // Data of a sound tree never overlaps, so in all it is no larger than the section.
    total_ += length;
    if (total_ > size_) return fail(error_, "resource data overlaps");
    Resource r = path;
    r.codePage = rd32(entry + 8);
    r.data.assign(tree_ + (rva - rva_), tree_ + (rva - rva_) + length);
    out_.push_back(std::move(r));
    return true;
  }

  const uint8_t* tree_;
  size_t size_;
  uint32_t rva_;
  std::vector<Resource>& out_;
  std::string& error_;
  std::set<uint32_t> seen_;
  uint64_t total_ = 0;
};

}  // namespace

bool operator<(const ResourceId& a, const ResourceId& b) {
  if (a.name.empty() != b.name.empty()) return !a.name.empty();
  return a.name.empty() ? a.id < b.id : a.name < b.name;
}

bool readResourceTree(const uint8_t* tree, size_t size, uint32_t rva, std::vector<Resource>& out, std::string& error) {
  out.clear();
  Resource path;
  return TreeReader(tree, size, rva, out, error).directory(0, 0, path);
}

ByteVector writeResourceTree(std::vector<Resource> resources, uint32_t rva) {
  std::stable_sort(resources.begin(), resources.end(), [](const Resource& a, const Resource& b) {
    if (!(a.type == b.type)) return a.type < b.type;
    if (!(a.name == b.name)) return a.name < b.name;
    return a.language < b.language;
  });
  // Directories: the root, one per type, one per (type, name); each entry of the
  // last level is one resource.
  struct Dir {
    std::vector<std::pair<ResourceId, size_t>> entries;  // id, child directory or resource index
    size_t offset = 0;
  };
  std::vector<Dir> dirs(1);
  for (size_t i = 0; i < resources.size(); ++i) {
    const Resource& r = resources[i];
    if (i == 0 || !(r.type == resources[i - 1].type)) {
      dirs[0].entries.emplace_back(r.type, dirs.size());
      dirs.emplace_back();
    }
    Dir& typeDir = dirs[dirs[0].entries.back().second];
    if (i == 0 || !(r.type == resources[i - 1].type) || !(r.name == resources[i - 1].name)) {
      typeDir.entries.emplace_back(r.name, dirs.size());
      dirs.emplace_back();
    }
  }
  // Language directories go after the others: tools list the tree level by level.
  std::vector<size_t> languageDir(resources.size());
  {
    size_t t = 0, n = 0;
    for (size_t i = 0; i < resources.size(); ++i) {
      if (i > 0 && !(resources[i].type == resources[i - 1].type))
        ++t, n = 0;
      else if (i > 0 && !(resources[i].name == resources[i - 1].name))
        ++n;
      size_t d = dirs[dirs[0].entries[t].second].entries[n].second;
      dirs[d].entries.emplace_back(ResourceId{resources[i].language, {}}, i);
      languageDir[i] = d;
    }
  }
  size_t at = 0;
  std::vector<bool> isLanguageDir(dirs.size(), false);
  for (size_t d : languageDir) isLanguageDir[d] = true;
  for (int pass = 0; pass < 2; ++pass)
    for (size_t d = 0; d < dirs.size(); ++d)
      if (isLanguageDir[d] == (pass == 1)) {
        dirs[d].offset = at;
        at += 16 + 8 * dirs[d].entries.size();
      }
  const size_t dataEntries = at;
  at += 16 * resources.size();
  std::map<std::u16string, size_t> names;
  for (const Dir& d : dirs)
    for (const auto& [id, child] : d.entries)
      if (!id.name.empty()) names.emplace(id.name, 0);
  for (auto& [name, offset] : names) {
    offset = at;
    at += 2 + 2 * name.size();
  }
  at = (at + 7) & ~size_t(7);
  std::vector<size_t> dataAt(resources.size());
  for (size_t i = 0; i < resources.size(); ++i) {
    dataAt[i] = at;
    at = (at + resources[i].data.size() + 7) & ~size_t(7);
  }

  ByteVector out;
  out.reserve(at);
  for (int pass = 0; pass < 2; ++pass)
    for (size_t d = 0; d < dirs.size(); ++d) {
      if (isLanguageDir[d] != (pass == 1)) continue;
      put32(out, 0), put32(out, 0), put32(out, 0);  // characteristics, time stamp, version
      uint16_t named = 0;
      for (const auto& e : dirs[d].entries) named += !e.first.name.empty();
      put16(out, named);
      put16(out, static_cast<uint16_t>(dirs[d].entries.size() - named));
      for (const auto& [id, child] : dirs[d].entries) {
        put32(out, id.name.empty() ? id.id : static_cast<uint32_t>(names[id.name]) | kHighBit);
        put32(out, isLanguageDir[d] ? static_cast<uint32_t>(dataEntries + 16 * child)
                                    : static_cast<uint32_t>(dirs[child].offset) | kHighBit);
      }
    }
  for (size_t i = 0; i < resources.size(); ++i) {
    put32(out, rva + static_cast<uint32_t>(dataAt[i]));
    put32(out, static_cast<uint32_t>(resources[i].data.size()));
    put32(out, resources[i].codePage);
    put32(out, 0);
  }
  for (const auto& [name, offset] : names) {
    out.resize(offset);
    put16(out, static_cast<uint16_t>(name.size()));
    for (char16_t u : name) put16(out, u);
  }
  for (size_t i = 0; i < resources.size(); ++i) {
    out.resize(dataAt[i]);
    out.insert(out.end(), resources[i].data.begin(), resources[i].data.end());
  }
  out.resize(at);
  return out;
}

// ---- Version information ----

bool parseVersionNumbers(std::string_view text, uint16_t out[4]) {
  uint16_t parts[4] = {};
  size_t count = 0, at = 0;
  while (true) {
    if (count == 4) return false;
    size_t digits = 0;
    uint32_t value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      value = value * 10 + static_cast<uint32_t>(text[at++] - '0');
      if (value > 0xFFFF) return false;
      ++digits;
    }
    if (digits == 0) return false;
    parts[count++] = static_cast<uint16_t>(value);
    if (at == text.size()) break;
    if (text[at++] != '.') return false;
  }
  if (count < 2) return false;
  std::copy(parts, parts + 4, out);
  return true;
}

namespace {

constexpr uint32_t kFixedSignature = 0xFEEF04BD;
const std::u16string kStringTableKey = u"040904B0";

// Opens a block (length, value length, type, key, padding); close() sets its length.
size_t openBlock(ByteVector& out, const std::u16string& key, uint16_t valueLength, uint16_t type) {
  padTo(out, 4);
  size_t start = out.size();
  put16(out, 0), put16(out, valueLength), put16(out, type);
  for (char16_t u : key) put16(out, u);
  put16(out, 0);
  padTo(out, 4);
  return start;
}
bool closeBlock(ByteVector& out, size_t start) {
  size_t length = out.size() - start;
  if (length > 0xFFFF) return false;
  set16(out, start, static_cast<uint16_t>(length));
  return true;
}

// One block read back: its key and where its value and children lie.
struct VersionBlock {
  uint16_t valueLength = 0, type = 0;
  std::u16string key;
  size_t value = 0, end = 0;  // value start, block end (absolute offsets)
};

bool readBlock(const uint8_t* data, size_t limit, size_t at, VersionBlock& b) {
  if (!inside(limit, at, 6)) return false;
  uint16_t length = rd16(data + at);
  if (length < 6 || !inside(limit, at, length)) return false;
  b.end = at + length;
  b.valueLength = rd16(data + at + 2);
  b.type = rd16(data + at + 4);
  b.key.clear();
  size_t p = at + 6;
  for (;; p += 2) {
    if (p + 2 > b.end) return false;
    char16_t u = rd16(data + p);
    if (!u) break;
    b.key += u;
  }
  b.value = std::min((p + 2 + 3) & ~size_t(3), b.end);
  return true;
}

// The children of a block: after its value, each starting 4-aligned.
template <typename Visit>
bool children(const uint8_t* data, size_t from, size_t end, Visit&& visit) {
  for (size_t at = (from + 3) & ~size_t(3); at < end;) {
    VersionBlock child;
    if (!readBlock(data, end, at, child) || !visit(child)) return false;
    at = (child.end + 3) & ~size_t(3);
  }
  return true;
}

}  // namespace

bool buildVersionResource(const VersionInfo& info, ByteVector& out) {
  out.clear();
  size_t root = openBlock(out, u"VS_VERSION_INFO", 52, 0);
  auto ms = [](const uint16_t* v) { return static_cast<uint32_t>(v[0]) << 16 | v[1]; };
  auto ls = [](const uint16_t* v) { return static_cast<uint32_t>(v[2]) << 16 | v[3]; };
  for (uint32_t v : {kFixedSignature, 0x00010000u, ms(info.fileVersion), ls(info.fileVersion), ms(info.productVersion),
                     ls(info.productVersion), 0x3Fu, 0u, 0x00040004u /* NT, Win32 */, 1u /* application */, 0u, 0u, 0u})
    put32(out, v);
  size_t stringInfo = openBlock(out, u"StringFileInfo", 0, 1);
  size_t table = openBlock(out, kStringTableKey, 0, 1);
  for (const auto& [key, value] : info.strings) {
    if (value.size() >= 0xFFFF) return false;
    size_t s = openBlock(out, key, static_cast<uint16_t>(value.size() + 1), 1);
    for (char16_t u : value) put16(out, u);
    put16(out, 0);
    if (!closeBlock(out, s)) return false;
  }
  if (!closeBlock(out, table) || !closeBlock(out, stringInfo)) return false;
  size_t varInfo = openBlock(out, u"VarFileInfo", 0, 1);
  size_t translation = openBlock(out, u"Translation", 4, 0);
  put16(out, kLanguageEnglishUs), put16(out, 1200);
  return closeBlock(out, translation) && closeBlock(out, varInfo) && closeBlock(out, root);
}

bool readVersionResource(const uint8_t* data, size_t size, VersionInfo& info, std::string& error) {
  info = VersionInfo();
  VersionBlock root;
  if (!readBlock(data, size, 0, root) || root.key != u"VS_VERSION_INFO")
    return fail(error, "the version information does not start with VS_VERSION_INFO");
  if (root.valueLength < 52 || !inside(root.end, root.value, 52) || rd32(data + root.value) != kFixedSignature)
    return fail(error, "the version information has no fixed part");
  const uint8_t* fixed = data + root.value;
  for (int i = 0; i < 2; ++i) {
    uint16_t* v = i == 0 ? info.fileVersion : info.productVersion;
    uint32_t msw = rd32(fixed + 8 + 8 * i), lsw = rd32(fixed + 12 + 8 * i);
    v[0] = static_cast<uint16_t>(msw >> 16), v[1] = static_cast<uint16_t>(msw);
    v[2] = static_cast<uint16_t>(lsw >> 16), v[3] = static_cast<uint16_t>(lsw);
  }
  bool tableSeen = false;
  bool ok = children(data, root.value + root.valueLength, root.end, [&](const VersionBlock& b) {
    if (b.key != u"StringFileInfo") return true;
    return children(data, b.value, b.end, [&](const VersionBlock& table) {
      if (tableSeen) return true;  // the first string table only
      tableSeen = true;
      return children(data, table.value, table.end, [&](const VersionBlock& s) {
        std::u16string value;
        for (size_t p = s.value; p + 2 <= s.end && rd16(data + p); p += 2)
          value += static_cast<char16_t>(rd16(data + p));
        info.strings.emplace_back(s.key, std::move(value));
        return true;
      });
    });
  });
  return ok || fail(error, "the version information's texts are cut short");
}

// ---- Icons ----

namespace {

bool isImage(const uint8_t* data, size_t size) {
  static const uint8_t png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (size >= 8 && std::equal(png, png + 8, data)) return true;
  // A bitmap starts with its info header: BITMAPINFOHEADER or a later version.
  if (size < 4) return false;
  uint32_t header = rd32(data);
  return (header == 40 || header == 108 || header == 124) && size >= header;
}

void putIconHeader(ByteVector& out, const IconImage& image) {
  out.push_back(image.width), out.push_back(image.height), out.push_back(image.colorCount), out.push_back(0);
  put16(out, image.planes), put16(out, image.bitCount);
  put32(out, static_cast<uint32_t>(image.data.size()));
}

IconImage iconHeader(const uint8_t* entry) {
  IconImage image;
  image.width = entry[0], image.height = entry[1], image.colorCount = entry[2];
  image.planes = rd16(entry + 4), image.bitCount = rd16(entry + 6);
  return image;
}

}  // namespace

bool parseIconFile(const uint8_t* data, size_t size, std::vector<IconImage>& images, std::string& error) {
  images.clear();
  if (size < 6 || rd16(data) != 0 || (rd16(data + 2) != 1 && rd16(data + 2) != 2))
    return fail(error, "not an icon file (.ico): no icon header");
  if (rd16(data + 2) == 2) return fail(error, "a cursor file (.cur), not an icon file (.ico)");
  uint16_t count = rd16(data + 4);
  if (count == 0) return fail(error, "the icon file holds no image");
  if (!inside(size, 6, 16ull * count))
    return fail(error, "the icon file is cut short: its directory lists " + std::to_string(count) + " images");
  std::vector<std::pair<uint64_t, uint16_t>> spans;  // offset, image index
  for (uint16_t i = 0; i < count; ++i) {
    const uint8_t* entry = data + 6 + 16 * i;
    uint32_t length = rd32(entry + 8), offset = rd32(entry + 12);
    std::string which = "image " + std::to_string(i + 1) + " of the icon file";
    if (length == 0) return fail(error, which + " is empty");
    if (!inside(size, offset, length)) return fail(error, which + " lies outside the file");
    if (!isImage(data + offset, length)) return fail(error, which + " is neither a PNG nor a bitmap");
    spans.emplace_back(offset, i);
  }
  // Images of a sound file do not overlap; shared bytes would multiply the copy.
  std::sort(spans.begin(), spans.end());
  for (size_t k = 1; k < spans.size(); ++k)
    if (spans[k].first < spans[k - 1].first + rd32(data + 6 + 16 * spans[k - 1].second + 8))
      return fail(error, "image " + std::to_string(spans[k].second + 1) + " of the icon file overlaps another image");
  for (uint16_t i = 0; i < count; ++i) {
    const uint8_t* entry = data + 6 + 16 * i;
    IconImage image = iconHeader(entry);
    image.data.assign(data + rd32(entry + 12), data + rd32(entry + 12) + rd32(entry + 8));
    images.push_back(std::move(image));
  }
  return true;
}

ByteVector iconFileBytes(const std::vector<IconImage>& images) {
  ByteVector out;
  put16(out, 0), put16(out, 1), put16(out, static_cast<uint16_t>(images.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
  for (const IconImage& image : images) {
    putIconHeader(out, image);
    put32(out, offset);
    offset += static_cast<uint32_t>(image.data.size());
  }
  for (const IconImage& image : images) out.insert(out.end(), image.data.begin(), image.data.end());
  return out;
}

ByteVector iconGroupBytes(const std::vector<IconImage>& images, uint16_t firstId) {
  ByteVector out;
  put16(out, 0), put16(out, 1), put16(out, static_cast<uint16_t>(images.size()));
  for (size_t i = 0; i < images.size(); ++i) {
    putIconHeader(out, images[i]);
    put16(out, static_cast<uint16_t>(firstId + i));
  }
  return out;
}

bool parseIconGroup(const uint8_t* data, size_t size, std::vector<std::pair<IconImage, uint16_t>>& entries,
                    std::string& error) {
  entries.clear();
  if (size < 6 || rd16(data) != 0 || rd16(data + 2) != 1) return fail(error, "the icon group has no icon header");
  uint16_t count = rd16(data + 4);
  if (!inside(size, 6, 14ull * count)) return fail(error, "the icon group is cut short");
  for (uint16_t i = 0; i < count; ++i)
    entries.emplace_back(iconHeader(data + 6 + 14 * i), rd16(data + 6 + 14 * i + 12));
  return true;
}

// ---- The identity of an executable ----

bool applyIdentity(std::vector<Resource>& resources, const ExeIdentity& identity) {
  auto drop = [&](uint16_t type) {
    std::erase_if(resources, [&](const Resource& r) { return r.type.name.empty() && r.type.id == type; });
  };
  auto add = [&](uint16_t type, uint16_t id, ByteVector data) {
    Resource r;
    r.type.id = type;
    r.name.id = id;
    r.language = kLanguageEnglishUs;
    r.data = std::move(data);
    resources.push_back(std::move(r));
  };
  ByteVector version;
  if (identity.hasVersion && !buildVersionResource(identity.version, version)) return false;
  if (identity.hasVersion) {
    drop(kResourceVersion);
    add(kResourceVersion, 1, std::move(version));
  }
  if (!identity.icon.empty()) {
    drop(kResourceGroupIcon);
    drop(kResourceIcon);
    add(kResourceGroupIcon, 1, iconGroupBytes(identity.icon, 1));
    for (size_t i = 0; i < identity.icon.size(); ++i)
      add(kResourceIcon, static_cast<uint16_t>(i + 1), identity.icon[i].data);
  }
  return true;
}

bool readIdentity(const std::vector<Resource>& resources, ExeIdentity& identity, std::string& error) {
  identity = ExeIdentity();
  std::vector<Resource> sorted = resources;
  std::stable_sort(sorted.begin(), sorted.end(), [](const Resource& a, const Resource& b) {
    return !(a.name == b.name) ? a.name < b.name : a.language < b.language;
  });
  auto ofType = [](const Resource& r, uint16_t type) { return r.type.name.empty() && r.type.id == type; };
  for (const Resource& r : sorted)
    if (ofType(r, kResourceVersion)) {
      if (!readVersionResource(r.data.data(), r.data.size(), identity.version, error)) return false;
      identity.hasVersion = true;
      break;
    }
  for (const Resource& group : sorted) {
    if (!ofType(group, kResourceGroupIcon)) continue;
    std::vector<std::pair<IconImage, uint16_t>> entries;
    if (!parseIconGroup(group.data.data(), group.data.size(), entries, error)) return false;
    std::set<uint16_t> ids;
    for (auto& [image, id] : entries) {
      if (!ids.insert(id).second) return fail(error, "the icon group names icon " + std::to_string(id) + " twice");
      const Resource* found = nullptr;
      for (const Resource& r : sorted)
        if (ofType(r, kResourceIcon) && r.name.name.empty() && r.name.id == id &&
            (!found || r.language == group.language))
          found = &r;
      if (!found) return fail(error, "the icon group names icon " + std::to_string(id) + ", which is missing");
      image.data = found->data;
      identity.icon.push_back(std::move(image));
    }
    break;
  }
  return true;
}

}  // namespace zanto

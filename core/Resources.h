// Windows resources without Windows: the resource tree of a PE image (reader and
// writer), the version information resource and icons (.ico files and icon groups).
// The packager runs on Linux, where no resource-update calls exist. Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "PeLayout.h"  // PeChecksum

namespace zanto {

using ByteVector = std::vector<uint8_t>;

// A resource type, name or language: a number, or a text when `name` is not empty.
struct ResourceId {
  uint16_t id = 0;
  std::u16string name;
  bool operator==(const ResourceId&) const = default;
};
// The order of a resource directory: names (by UTF-16 units) before numbers.
bool operator<(const ResourceId& a, const ResourceId& b);

struct Resource {
  ResourceId type, name;
  uint16_t language = 0;
  uint32_t codePage = 0;
  ByteVector data;
  bool operator==(const Resource&) const = default;
};

constexpr uint16_t kResourceIcon = 3, kResourceGroupIcon = 14, kResourceVersion = 16;
constexpr uint16_t kLanguageEnglishUs = 0x0409;

// Reads the three-level tree (type, name, language) whose root directory is at
// `tree[0]`, mapped at `rva`. Data must lie inside `tree`; a directory referenced
// twice, a duplicate id, a named language or overlapping data are refused, so
// the work is bounded by the input's size.
bool readResourceTree(const uint8_t* tree, size_t size, uint32_t rva, std::vector<Resource>& out, std::string& error);
// The tree of `resources` (unique type, name and language), mapped at `rva`:
// directories in the loader's order, then data entries, names and data.
ByteVector writeResourceTree(std::vector<Resource> resources, uint32_t rva);

// Version information (VS_VERSIONINFO): the fixed numbers and the texts of one
// string table, written for US English and UTF-16 (040904B0).
struct VersionInfo {
  uint16_t fileVersion[4] = {}, productVersion[4] = {};
  std::vector<std::pair<std::u16string, std::u16string>> strings;  // key, value
  bool operator==(const VersionInfo&) const = default;
};
// "1.4" to "1.4.2.7": two to four decimal numbers from 0 to 65535; missing parts are 0.
bool parseVersionNumbers(std::string_view text, uint16_t out[4]);
// False when the structure would not fit its 16-bit length.
bool buildVersionResource(const VersionInfo& info, ByteVector& out);
bool readVersionResource(const uint8_t* data, size_t size, VersionInfo& info, std::string& error);

// One image of an icon, with the header fields that .ico files and icon groups share.
struct IconImage {
  uint8_t width = 0, height = 0, colorCount = 0;
  uint16_t planes = 0, bitCount = 0;
  ByteVector data;  // PNG or a bitmap (DIB without file header)
  bool operator==(const IconImage&) const = default;
};
bool parseIconFile(const uint8_t* data, size_t size, std::vector<IconImage>& images, std::string& error);
ByteVector iconFileBytes(const std::vector<IconImage>& images);
// The RT_GROUP_ICON of images stored as RT_ICON ids firstId, firstId + 1, ...
ByteVector iconGroupBytes(const std::vector<IconImage>& images, uint16_t firstId);
// The entries of a group: each image's header fields (no data) and its RT_ICON id.
bool parseIconGroup(const uint8_t* data, size_t size, std::vector<std::pair<IconImage, uint16_t>>& entries,
                    std::string& error);

// What the packager sets in an executable: version information and an icon.
struct ExeIdentity {
  bool hasVersion = false;
  VersionInfo version;
  std::vector<IconImage> icon;  // empty: no icon
};
// Replaces every version resource (with a version) and every icon and icon group
// (with an icon) by the identity's, as resource 1 in US English. False, with
// `resources` unchanged, when the version information is too large for its format.
bool applyIdentity(std::vector<Resource>& resources, const ExeIdentity& identity);
// The first version resource and the first icon group (the one Explorer shows).
bool readIdentity(const std::vector<Resource>& resources, ExeIdentity& identity, std::string& error);

// The resources of a PE image; none when its resource directory is empty.
bool readImageResources(const uint8_t* image, size_t size, std::vector<Resource>& out, std::string& error);
// The image up to the end of its last section, then `resources` in a new last
// section ".rsrc2" that the resource directory points at; image size and section
// count follow. A last ".rsrc2" of an earlier run is replaced, not kept.
bool withResourceSection(const uint8_t* image, size_t size, const std::vector<Resource>& resources, ByteVector& out,
                         std::string& error);

// The file offset of an image's CheckSum field; false without a readable header.
bool peChecksumOffset(const uint8_t* image, size_t size, size_t& offset);

}  // namespace zanto

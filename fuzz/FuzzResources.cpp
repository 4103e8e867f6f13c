// libFuzzer target for the resource readers: a whole image when the input starts
// with "MZ", else a resource tree mapped at 0x1000, also read as version
// information and as an .ico file. What a reader accepts must survive being
// written and read again unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Resources.h"

namespace {

void sortTree(std::vector<zanto::Resource>& tree) {
  std::stable_sort(tree.begin(), tree.end(), [](const zanto::Resource& a, const zanto::Resource& b) {
    if (!(a.type == b.type)) return a.type < b.type;
    if (!(a.name == b.name)) return a.name < b.name;
    return a.language < b.language;
  });
}

void rewriteTree(std::vector<zanto::Resource> tree) {
  zanto::ByteVector bytes = zanto::writeResourceTree(tree, 0x5000);
  std::vector<zanto::Resource> back;
  std::string error;
  if (!zanto::readResourceTree(bytes.data(), bytes.size(), 0x5000, back, error)) abort();
  sortTree(tree);
  if (back != tree) abort();
  zanto::ExeIdentity identity;
  (void)zanto::readIdentity(back, identity, error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<zanto::Resource> tree;
  std::string error;
  if (size >= 2 && data[0] == 'M' && data[1] == 'Z') {
    if (!zanto::readImageResources(data, size, tree, error)) return 0;
    zanto::ByteVector image;
    if (zanto::withResourceSection(data, size, tree, image, error)) {
      std::vector<zanto::Resource> back;
      if (!zanto::readImageResources(image.data(), image.size(), back, error)) abort();
      sortTree(tree);
      if (back != tree) abort();
    }
    return 0;
  }
  if (zanto::readResourceTree(data, size, 0x1000, tree, error)) rewriteTree(tree);
  zanto::VersionInfo version;
  if (zanto::readVersionResource(data, size, version, error)) {
    zanto::ByteVector built;
    zanto::VersionInfo back;
    if (zanto::buildVersionResource(version, built) &&
        (!zanto::readVersionResource(built.data(), built.size(), back, error) || !(back == version)))
      abort();
  }
  std::vector<zanto::IconImage> icon;
  if (zanto::parseIconFile(data, size, icon, error)) {
    zanto::ByteVector file = zanto::iconFileBytes(icon);
    std::vector<zanto::IconImage> back;
    if (!zanto::parseIconFile(file.data(), file.size(), back, error) || back != icon) abort();
  }
  return 0;
}

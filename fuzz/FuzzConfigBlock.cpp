// libFuzzer target for the configuration block parser and the settings getters:
// the input is a block (or, when it starts with "MZ", a whole image).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ConfigStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zanto::MemorySource src(data, size);
  zanto::ConfigStore store;
  int64_t embedded = -1;
  bool image = size >= 2 && data[0] == 'M' && data[1] == 'Z';
  zanto::BlockError error = image ? zanto::readConfigBlockFrom(src, store, &embedded)
                                  : zanto::parseConfigBlock(src, store, &embedded);
  if (error != zanto::BlockError::None) return 0;
  if (embedded < 0 || static_cast<uint64_t>(embedded) > size) abort();

  char small[16];
  for (const auto& [id, value] : store.narrow) {
    zanto::getStringSetting(store, id, small, sizeof small);
    if (strnlen(small, sizeof small) >= sizeof small) abort();
    (void)zanto::getIntSetting(store, id);
  }
  char16_t wide[8];
  for (const auto& [id, value] : store.wide) {
    zanto::getWideStringSetting(store, id, wide, 8);
    size_t n = 0;
    while (n < 8 && wide[n]) ++n;
    if (n >= 8) abort();
  }
  return 0;
}

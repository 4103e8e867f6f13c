// `inspect`: renders a configured launcher as a packager configuration. With an
// extraction directory the included files are written there and the output
// points at them, so packaging it again gives the same block and data.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "BlockWriter.h"

namespace zanto {

// `extractDir` may be null. On error nothing is extracted. The records go under the
// readable tables where they can, or with `raw` all under [settings] and [raw].
bool inspectLauncherCopy(const Bytes& image, const std::string& exeName, const std::filesystem::path* extractDir,
                         std::string& toml, std::string& error, bool raw = false);

// A TOML basic string holding `utf8`; control characters (C1 included) escaped.
std::string tomlString(std::string_view utf8);

}  // namespace zanto

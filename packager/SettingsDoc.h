// The settings reference in Markdown, made from the settings table; `zanto-pack
// settings` prints it and docs/settings.md is a checked-in copy.
#pragma once

#include <string>

namespace zanto {

std::string settingsReference();

}  // namespace zanto

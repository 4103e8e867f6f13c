// `build`: a configuration, a launcher and the included files in; a configured
// launcher copy out. Every check runs before anything is written.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "PackConfig.h"

namespace zanto {

constexpr const char* kRuntimeJarName = "zanto-runtime.jar";

struct BuildRequest {
  std::filesystem::path config;
  std::filesystem::path output;
  std::optional<std::filesystem::path> launcher;    // default: beside the tool, by arch
  std::optional<Arch> arch;                         // overrides [package] arch
  std::optional<std::filesystem::path> runtimeJar;  // default: beside the tool
  std::filesystem::path toolDirectory;
};

// The launcher file a build uses when none is given.
std::filesystem::path defaultLauncherPath(const std::filesystem::path& toolDirectory, Arch arch);

bool buildPackage(const BuildRequest& request, std::vector<std::string>& warnings, std::string& error);

}  // namespace zanto

// `msi`: the service executable (built as `build` builds it, or given with --exe) in a
// Windows Installer package, written as WiX source and built by the MSI toolchain
// found on the machine (wixl on Linux, the WiX toolset on Windows).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Pack.h"

namespace zanto {

// What the WiX source is made from, every default settled.
struct MsiModel {
  std::string product, manufacturer, folder, serviceName, exeName;  // UTF-8
  std::string version;                                              // "major.minor.build"
  // The version as digits of fixed widths, so that text order is version order: the
  // form a launch condition can compare.
  std::string versionKey;
  std::string upgradeCode, productCode;  // "{...}"
  Arch arch = Arch::X64;
  bool start = true;
  std::filesystem::path exeSource, actionsSource;
  // Source paths are written relative to it (wixl takes no absolute ones): the WiX
  // source's folder.
  std::filesystem::path sourceBase;
  struct File {
    std::filesystem::path source;
    std::vector<std::string> path;  // folders and name below the installation folder
  };
  std::vector<File> files;
};

// The model of a configuration; the errors name file and line. `exe` and `actions` are
// the files the package will carry.
bool msiModel(const PackConfig& config, Arch arch, const std::filesystem::path& exe,
              const std::filesystem::path& actions, MsiModel& model, std::vector<std::string>& warnings,
              std::string& error);
std::string wixSource(const MsiModel& model);

// A GUID from a name in a namespace GUID: the same inputs give the same GUID, so that
// the components of one product keep their identity from version to version.
std::string derivedGuid(const std::string& space, const std::string& name);

struct MsiRequest {
  BuildRequest build;                            // build.output is the MSI
  std::optional<std::filesystem::path> exe;      // a service executable already built
  std::optional<std::filesystem::path> actions;  // default: zanto-msi-actions-ARCH.dll beside the tool
  std::optional<std::filesystem::path> wxs;      // also keep the WiX source there
};

bool buildMsi(const MsiRequest& request, std::vector<std::string>& warnings, std::string& error);

}  // namespace zanto

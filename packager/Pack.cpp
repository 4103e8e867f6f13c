// The build command (see Pack.h).
#include "Pack.h"

#include <cstdint>

#include "BlockWriter.h"
#include "CodePage.h"
#include "ParameterSplitter.h"
#include "PeLayout.h"
#include "Resources.h"
#include "Settings.h"
#include "VmOptionRules.h"

namespace zanto {

namespace fs = std::filesystem;

fs::path defaultLauncherPath(const fs::path& toolDirectory, Arch arch) {
  return toolDirectory / (std::string("zanto-launcher-") + archName(arch) + ".exe");
}

namespace {

// Reads the launcher and settles the architecture: the request, then the
// configuration, then (with an explicit launcher) the launcher's own, else x64.
bool loadLauncher(const BuildRequest& request, const PackConfig& config, Bytes& image, std::string& error) {
  std::optional<Arch> arch = request.arch ? request.arch : config.arch;
  fs::path path =
      request.launcher ? *request.launcher : defaultLauncherPath(request.toolDirectory, arch.value_or(Arch::X64));
  if (!readFileBytes(path, image, error)) {
    error = "launcher " + error + (request.launcher ? "" : " (give one with --launcher PATH)");
    return false;
  }
  MemorySource src(image.data(), image.size());
  PeInfo pe;
  if (image.empty() || !readPeInfo(src, &pe)) {
    error = "launcher " + pathText(path) + " is not a Windows executable (no PE image)";
    return false;
  }
  if (arch && archMachine(*arch) != pe.machine) {
    std::optional<Arch> actual = archFromMachine(pe.machine);
    error = "launcher " + pathText(path) + " is built for " + (actual ? archName(*actual) : "another machine") +
            ", not for " + archName(*arch);
    return false;
  }
  return true;
}

bool addFile(BlockModel& model, const fs::path& source, const std::string& name, std::vector<std::string>& warnings,
             std::string& error) {
  IncludedFile file;
  if (!includedFileFrom(source, name, file, error)) return false;
  if (includedFileSize(file) == 0)
    warnings.push_back("included file \"" + cp1252ToUtf8(name) + "\" is empty; the launcher creates no empty files");
  model.files.push_back(std::move(file));
  return true;
}

// The version information and icon of the configuration as resources of a new
// last section of the launcher; the launcher stays as it is without them.
bool applyIdentityTo(Bytes& launcher, const PackConfig& config, const fs::path& output, std::string& error) {
  ExeIdentity identity;
  if (config.icon) {
    Bytes file;
    std::string problem;
    if (!readFileBytes(*config.icon, file, problem) ||
        !parseIconFile(file.data(), file.size(), identity.icon, problem)) {
      error = configError(config.file, config.iconLine, "icon " + pathText(*config.icon) + ": " + problem);
      return false;
    }
  }
  if (const std::optional<VersionSettings>& v = config.version) {
    identity.hasVersion = true;
    std::copy(v->numbers, v->numbers + 4, identity.version.fileVersion);
    std::copy(v->numbers, v->numbers + 4, identity.version.productVersion);
    // The service name names the file; without one, the output's own name does.
    std::u16string service, stem, fileName, shown;
    if (auto it = config.narrow.find(setting::ApplicationName); it != config.narrow.end()) {
      std::string utf8;
      if (codePageToUtf8(config.codePage, it->second, utf8)) utf8ToUtf16(utf8, service);
    }
    utf8ToUtf16(pathText(output.stem()), stem);
    utf8ToUtf16(pathText(output.filename()), fileName);
    const std::u16string& name = service.empty() ? stem : service;
    // The description defaults to what the services console shows.
    if (auto it = config.wide.find(setting::DisplayName); it != config.wide.end()) shown = it->second;
    std::pair<const char16_t*, std::u16string> strings[] = {
        {u"CompanyName", v->company},
        {u"FileDescription", !v->description.empty() ? v->description : !shown.empty() ? shown : name},
        {u"FileVersion", v->version},      {u"InternalName", name},
        {u"LegalCopyright", v->copyright}, {u"OriginalFilename", service.empty() ? fileName : service + u".exe"},
        {u"ProductName", v->product},      {u"ProductVersion", v->version}};
    for (auto& [key, value] : strings)
      if (!value.empty()) identity.version.strings.emplace_back(key, std::move(value));
  }
  std::vector<Resource> resources;
  Bytes image;
  if (!readImageResources(launcher.data(), launcher.size(), resources, error)) {
    error = "launcher: " + error;
    return false;
  }
  // The configuration's limits keep the texts below 64 KB (three of 8191 units at most,
  // five of 1024); checked all the same.
  if (!applyIdentity(resources, identity)) {
    error = configError(config.file, config.version->line, "the version information passes 64 KB");
    return false;
  }
  if (!withResourceSection(launcher.data(), launcher.size(), resources, image, error)) {
    error = "launcher: " + error;
    return false;
  }
  launcher = std::move(image);
  return true;
}

// VmParameters split as the launcher splits it: the java command's own options are
// warnings (the JVM drops them), an option every acceptable runtime refuses is an
// error, since that service could never start.
bool checkVmParameters(const PackConfig& config, std::vector<std::string>& warnings, std::string& error) {
  auto it = config.narrow.find(setting::VmParameters);
  if (it == config.narrow.end()) return true;
  auto text = [&](const std::string& bytes) {
    std::string utf8;
    return codePageToUtf8(config.codePage, bytes, utf8) ? utf8 : cp1252ToUtf8(bytes);
  };
  std::u16string units;
  utf8ToUtf16(text(it->second), units);
  auto line = config.narrowLines.find(setting::VmParameters);
  const std::string where =
      configError(config.file, line == config.narrowLines.end() ? 0 : line->second, "VmParameters: ");
  std::vector<std::u16string> tokens;
  if (splitParameters(units.c_str(), tokens, SIZE_MAX) != SplitStatus::Ok) {
    warnings.push_back(where + "a quote is not closed; the launcher stops with WrongParameterMessage");
    return true;
  }
  std::vector<std::string> options;
  for (const std::u16string& token : tokens) utf16ToUtf8(token, options.emplace_back());
  auto min = config.narrow.find(setting::MinJavaVersion);
  const std::string minimum = min == config.narrow.end() ? std::string() : text(min->second);
  for (const VmOptionFinding& f : checkVmOptions(options, minimum.c_str())) {
    if (f.refused) {
      error =
          where + f.option + ": " + f.why + ", and MinJavaVersion " + minimum + " admits no earlier Java: " + f.instead;
      return false;
    }
    warnings.push_back(where + f.option + ": " + f.why + ": " + f.instead);
  }
  return true;
}

}  // namespace

bool buildPackage(const BuildRequest& request, std::vector<std::string>& warnings, std::string& error) {
  PackConfig config;
  if (!loadPackConfig(request.config, config, error)) return false;
  if (!checkVmParameters(config, warnings, error)) return false;
  Bytes launcher;
  if (!loadLauncher(request, config, launcher, error)) return false;

  BlockModel model;
  model.narrow = config.narrow;
  model.wide = config.wide;
  // A value given in [settings] or [raw.narrow] stays as given.
  if (config.modernJava)
    for (int32_t id : kModernJavaSettings) model.narrow.emplace(id, "1");
  if (config.serviceDefaults)
    for (const DefaultSetting& d : kServiceDefaults) model.narrow.emplace(d.id, d.value);
  // The launcher reads the texts in the code page they were written in, whatever
  // the machine's own.
  if (config.codePage != 0) model.narrow[setting::CodePage] = std::to_string(config.codePage);
  if (config.runtime) {
    fs::path jar = request.runtimeJar ? *request.runtimeJar : request.toolDirectory / kRuntimeJarName;
    if (!addFile(model, jar, kRuntimeJarName, warnings, error)) {
      error = "runtime jar " + error + " (give it with --runtime-jar PATH, or set runtime = false in [package])";
      return false;
    }
  }
  for (const IncludeEntry& entry : config.includes) {
    BlockModel pair;  // the runtime jar's name, compared as Windows compares names
    pair.files = {{kRuntimeJarName, {}}, {entry.name, {}}};
    if (config.runtime && !modelProblem(pair).empty())
      error = "the name " + std::string(kRuntimeJarName) +
              " is taken by the runtime jar (set runtime = false in [package] to include your own)";
    else if (!addFile(model, entry.source, entry.name, warnings, error))
      error = "included file " + error;
    else
      continue;
    error = configError(config.file, entry.line, error);
    return false;
  }
  if (std::string problem = modelProblem(model); !problem.empty()) {
    error = pathText(config.file) + ": " + problem;
    return false;
  }
  const bool identity = config.version || config.icon;
  if (identity && !applyIdentityTo(launcher, config, request.output, error)) return false;
  return writeLauncherCopy(launcher, model, request.output, error, identity);
}

}  // namespace zanto

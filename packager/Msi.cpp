// The msi command (see Msi.h). The package calls the installed executable's own
// install and uninstall through the custom-action DLL zanto-msi-actions-ARCH.dll, so that
// the service is the one `install` makes; its rows are written here as WiX source.
#include "Msi.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "BlockWriter.h"
#include "CodePage.h"
#include "PeLayout.h"
#include "Settings.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace zanto {

namespace fs = std::filesystem;

namespace {

// Windows Installer compares three numbers: major and minor to 255, build to 65535.
constexpr uint16_t kMsiMajorMinorLimit = 255;

std::string guidFromBytes(const uint8_t b[16]) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += hex[b[i] >> 4];
    out += hex[b[i] & 15];
  }
  return out + "}";
}

// A fresh GUID to offer in the message for a missing upgrade code.
std::string randomGuid() {
  std::random_device random;
  uint8_t b[16];
  for (auto& x : b) x = static_cast<uint8_t>(random());
  b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
  std::string g = guidFromBytes(b);
  return g.substr(1, 36);
}

std::string xmlEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Text for a Formatted column (messages, custom action data): brackets are literal.
std::string formattedLiteral(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '[' ? "[\\[]" : c == ']' ? "[\\]]" : std::string(1, c);
  return out;
}

std::string utf8Of(const std::u16string& units) {
  std::string out;
  utf16ToUtf8(units, out);
  return out;
}

// Files and folders of [msi] files, each below the installation folder by its own name.
bool collectFiles(const PackConfig& config, MsiModel& model, std::string& error) {
  for (const MsiFileEntry& entry : config.msi->files) {
    std::error_code ec;
    fs::file_status status = fs::status(entry.source, ec);
    const std::string top = pathText(entry.source.filename());
    if (ec || !fs::exists(status)) {
      error = configError(config.file, entry.line, "files: " + pathText(entry.source) + " does not exist");
      return false;
    }
    if (top.empty() || top == "." || top == "..") {
      error = configError(config.file, entry.line, "files: " + pathText(entry.source) + " has no name of its own");
      return false;
    }
    if (fs::is_regular_file(status)) {
      model.files.push_back({entry.source, {top}});
      continue;
    }
    std::vector<MsiModel::File> found;
    for (fs::recursive_directory_iterator it(entry.source, ec), end; !ec && it != end; it.increment(ec)) {
      if (!it->is_regular_file()) continue;
      MsiModel::File file{it->path(), {top}};
      for (const fs::path& part : fs::relative(it->path(), entry.source)) file.path.push_back(pathText(part));
      found.push_back(std::move(file));
    }
    if (ec) {
      error = configError(config.file, entry.line, "files: " + pathText(entry.source) + ": " + ec.message());
      return false;
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    for (auto& f : found) model.files.push_back(std::move(f));
  }
  // Windows compares names without case: two that differ only in case would be one file.
  std::vector<std::string> seen;
  for (const MsiModel::File& f : model.files) {
    std::string key;
    for (const std::string& p : f.path) key += p + "\\";
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (key == std::string(model.exeName) + "\\" || std::find(seen.begin(), seen.end(), key) != seen.end()) {
      error = pathText(config.file) + ": [msi] files: " + pathText(f.source) + " would be installed twice (or over " +
              model.exeName + ")";
      return false;
    }
    seen.push_back(key);
  }
  return true;
}

// The installation folder's tree: a folder's files and subfolders.
struct Folder {
  std::vector<const MsiModel::File*> files;
  std::vector<std::pair<std::string, Folder>> folders;
  Folder& sub(const std::string& name) {
    for (auto& [n, f] : folders)
      if (n == name) return f;
    return folders.emplace_back(name, Folder()).second;
  }
};

class WixWriter {
 public:
  explicit WixWriter(const MsiModel& model) : m_(model) {}

  std::string source() {
    const bool x64 = m_.arch == Arch::X64;
    const std::string win64 = x64 ? " Win64=\"yes\"" : "";
    const std::string product = xmlEscaped(m_.product), manufacturer = xmlEscaped(m_.manufacturer);
    // Registry keys are formatted text in one table and not in the other: no brackets.
    auto plain = [](std::string text) {
      for (char& c : text) c = c == '[' ? '(' : c == ']' ? ')' : c;
      return text;
    };
    const std::string rememberKey = xmlEscaped("Software\\" + plain(m_.manufacturer) + "\\" + plain(m_.product));
    line(0, "<?xml version=\"1.0\" encoding=\"utf-8\"?>");
    line(0, "<!-- Written by zanto-pack msi; built with wixl or the WiX toolset. -->");
    line(0, "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">");
    line(1, "<Product Id=\"" + m_.productCode + "\" Name=\"" + product + "\" Manufacturer=\"" + manufacturer +
                "\" Version=\"" + m_.version + "\" UpgradeCode=\"" + m_.upgradeCode + "\" Language=\"1033\">");
    line(2, "<Package InstallerVersion=\"500\" Compressed=\"yes\" InstallScope=\"perMachine\" Description=\"" +
                product + " " + m_.version + "\" Manufacturer=\"" + manufacturer + "\"/>");
    line(2, "<Media Id=\"1\" Cabinet=\"product.cab\" EmbedCab=\"yes\"/>");
    // Higher versions are only detected, to refuse a downgrade; lower ones are replaced.
    // Wine's removal of the old version of an upgrade takes the upgrade code's
    // registration away from the new one too, so the installed version is also
    // remembered beside the administrator's choices and compared.
    line(2, "<Upgrade Id=\"" + m_.upgradeCode + "\">");
    line(3, "<UpgradeVersion Minimum=\"" + m_.version +
                "\" IncludeMinimum=\"no\" OnlyDetect=\"yes\" Property=\"NEWERFOUND\"/>");
    line(3, "<UpgradeVersion Minimum=\"0.0.0\" IncludeMinimum=\"yes\" Maximum=\"" + m_.version +
                "\" IncludeMaximum=\"no\" Property=\"OLDERFOUND\"/>");
    line(2, "</Upgrade>");
    line(2,
         "<Condition Message=\"" +
             xmlEscaped(formattedLiteral("A newer version of " + m_.product + " is installed. Version " + m_.version +
                                         " cannot replace it; remove it first to go back.")) +
             "\">" +
             xmlEscaped("Installed OR (NOT NEWERFOUND AND NOT (ZANTO_INSTALLED_VERSION > \"" + m_.versionKey + "\"))") +
             "</Condition>");
    // Neither the password nor the data that carries it appear in a log.
    line(2, "<Property Id=\"MsiHiddenProperties\" Value=\"SERVICE_PASSWORD;ZantoServiceInstall\"/>");
    line(2, "<Property Id=\"ARPNOMODIFY\" Value=\"1\"/>");
    // What the administrator chose at installation, read back for an upgrade.
    remembered("INSTALLFOLDER", "InstallFolder", rememberKey, win64);
    remembered("SERVICE_ACCOUNT", "ServiceAccount", rememberKey, win64);
    remembered("ZANTO_INSTALLED_VERSION", "Version", rememberKey, win64);
    line(2, "<Binary Id=\"ZantoActions\" SourceFile=\"" + sourcePath(m_.actionsSource) + "\"/>");
    const std::string service = formattedLiteral(m_.serviceName);
    const std::string owner = m_.upgradeCode + "|[ProductCode]|";
    const std::string exe = "[INSTALLFOLDER]" + formattedLiteral(m_.exeName);
    data("ZantoServiceStopOnRemoval", "ZantoServiceStop", "1|" + owner + service);
    data("ZantoServiceStopData", "ZantoServiceStop", "0|" + owner + service);
    data("ZantoServiceRemoveData", "ZantoServiceRemove", owner + exe);
    data("ZantoRemoveFolderData", "ZantoRemoveFolder", owner + "[INSTALLFOLDER]");
    data("ZantoServiceInstallData", "ZantoServiceInstall",
         std::string(m_.start ? "1" : "0") + "|" + service + "|" + exe + "|[SERVICE_ACCOUNT]|[SERVICE_PASSWORD]");
    for (const char* action : {"ZantoServiceStop", "ZantoServiceRemove", "ZantoRemoveFolder", "ZantoServiceInstall"})
      line(2, std::string("<CustomAction Id=\"") + action + "\" BinaryKey=\"ZantoActions\" DllEntry=\"" + action +
                  "\" Execute=\"deferred\" Impersonate=\"no\" Return=\"check\"/>");
    // Stop before files change; the executable's uninstall while it is still there,
    // the folder after the files; install once files and registry are in place. The
    // old version of an upgrade goes last, so that its removal finds the new one
    // installed and leaves the service.
    const char* removing = "REMOVE~=\"ALL\"";
    const char* notRemoving = "NOT REMOVE~=\"ALL\"";
    line(2, "<InstallExecuteSequence>");
    custom("ZantoServiceStopOnRemoval", 1510, removing);
    custom("ZantoServiceStopData", 1511, notRemoving);
    custom("ZantoServiceStop", 1520, nullptr);
    custom("ZantoServiceRemoveData", 1530, removing);
    custom("ZantoServiceRemove", 1540, removing);
    custom("ZantoRemoveFolderData", 3510, removing);
    custom("ZantoRemoveFolder", 3520, removing);
    custom("ZantoServiceInstallData", 6580, notRemoving);
    custom("ZantoServiceInstall", 6590, notRemoving);
    line(3, "<RemoveExistingProducts After=\"InstallFinalize\"/>");
    line(2, "</InstallExecuteSequence>");

    line(2, "<Directory Id=\"TARGETDIR\" Name=\"SourceDir\">");
    line(3, std::string("<Directory Id=\"") + (x64 ? "ProgramFiles64Folder" : "ProgramFilesFolder") + "\">");
    line(4, "<Directory Id=\"MANUFACTURERFOLDER\" Name=\"" + manufacturer + "\">");
    line(5, "<Directory Id=\"INSTALLFOLDER\" Name=\"" + xmlEscaped(m_.folder) + "\">");
    component(6, "ServiceExecutable", "exe", win64);
    line(7, "<File Id=\"ServiceExe\" Name=\"" + xmlEscaped(m_.exeName) + "\" Source=\"" + sourcePath(m_.exeSource) +
                "\" KeyPath=\"yes\"/>");
    line(7, "<RemoveFolder Id=\"RemoveInstallFolder\" On=\"uninstall\"/>");
    line(6, "</Component>");
    component(6, "RememberedChoices", "registry", win64);
    line(7, "<RegistryValue Root=\"HKLM\" Key=\"" + rememberKey +
                "\" Name=\"InstallFolder\" Type=\"string\" Value=\"[INSTALLFOLDER]\" KeyPath=\"yes\"/>");
    line(7, "<RegistryValue Root=\"HKLM\" Key=\"" + rememberKey +
                "\" Name=\"ServiceAccount\" Type=\"string\" Value=\"[SERVICE_ACCOUNT]\"/>");
    line(7, "<RegistryValue Root=\"HKLM\" Key=\"" + rememberKey + "\" Name=\"Version\" Type=\"string\" Value=\"" +
                m_.versionKey + "\"/>");
    line(6, "</Component>");
    Folder root;
    for (const MsiModel::File& f : m_.files) {
      Folder* at = &root;
      for (size_t i = 0; i + 1 < f.path.size(); ++i) at = &at->sub(f.path[i]);
      at->files.push_back(&f);
    }
    folder(root, 6, win64);
    line(5, "</Directory>");
    line(4, "</Directory>");
    line(3, "</Directory>");
    line(2, "</Directory>");
    line(2, "<Feature Id=\"Service\" Level=\"1\" Title=\"" + product + "\">");
    for (const std::string& id : components_) line(3, "<ComponentRef Id=\"" + id + "\"/>");
    line(2, "</Feature>");
    line(1, "</Product>");
    line(0, "</Wix>");
    return out_;
  }

 private:
  std::string sourcePath(const fs::path& file) const {
    std::error_code ec;
    fs::path path = fs::absolute(file, ec);
    if (!m_.sourceBase.empty()) {
      fs::path relative = fs::relative(path, m_.sourceBase, ec);
      if (!ec && !relative.empty()) path = relative;
    }
    return xmlEscaped(pathText(path));
  }

  void line(int depth, const std::string& text) { out_ += std::string(depth * 2, ' ') + text + "\n"; }

  void remembered(const std::string& property, const std::string& value, const std::string& key,
                  const std::string& win64) {
    line(2, "<Property Id=\"" + property + "\">");
    line(3, "<RegistrySearch Id=\"Remembered" + value + "\" Root=\"HKLM\" Key=\"" + key + "\" Name=\"" + value +
                "\" Type=\"raw\"" + win64 + "/>");
    line(2, "</Property>");
  }

  void data(const std::string& id, const std::string& property, const std::string& value) {
    line(2, "<CustomAction Id=\"" + id + "\" Property=\"" + property + "\" Value=\"" + xmlEscaped(value) + "\"/>");
  }

  void custom(const char* action, int sequence, const char* condition) {
    std::string head = std::string("<Custom Action=\"") + action + "\" Sequence=\"" + std::to_string(sequence) + "\"";
    if (!condition) return line(3, head + "/>");
    line(3, head + ">" + xmlEscaped(condition) + "</Custom>");
  }

  // A component whose GUID follows its role or file, the same in every version.
  void component(int depth, const std::string& id, const std::string& role, const std::string& win64) {
    components_.push_back(id);
    line(depth, "<Component Id=\"" + id + "\" Guid=\"" + derivedGuid(m_.upgradeCode, archName(m_.arch) + role) + "\"" +
                    win64 + ">");
  }

  void folder(const Folder& f, int depth, const std::string& win64) {
    for (const MsiModel::File* file : f.files) {
      const std::string n = std::to_string(++files_);
      std::string relative;
      for (const std::string& p : file->path) relative += (relative.empty() ? "" : "\\") + p;
      component(depth, "File" + n, "file:" + relative, win64);
      line(depth + 1, "<File Id=\"File" + n + "\" Name=\"" + xmlEscaped(file->path.back()) + "\" Source=\"" +
                          sourcePath(file->source) + "\" KeyPath=\"yes\"/>");
      line(depth, "</Component>");
    }
    for (const auto& [name, sub] : f.folders) {
      line(depth, "<Directory Id=\"Folder" + std::to_string(++folders_) + "\" Name=\"" + xmlEscaped(name) + "\">");
      folder(sub, depth + 1, win64);
      line(depth, "</Directory>");
    }
  }

  const MsiModel& m_;
  std::string out_;
  std::vector<std::string> components_;
  int files_ = 0, folders_ = 0;
};

std::string shellQuoted(const std::string& word) {
#ifdef _WIN32
  return "\"" + word + "\"";
#else
  std::string out = "'";
  for (char c : word) out += c == '\'' ? "'\\''" : std::string(1, c);
  return out + "'";
#endif
}

// Runs a command line; its output (both streams) in `output`, false unless it exits 0.
bool runTool(const std::vector<std::string>& words, std::string& output) {
  std::string command;
  for (const std::string& w : words) command += (command.empty() ? "" : " ") + shellQuoted(w);
  command += " 2>&1";
#ifdef _WIN32
  command = "\"" + command + "\"";  // cmd /c takes off the outer quotes
  std::wstring wide = pathFromUtf8(command).wstring();
  FILE* pipe = _wpopen(wide.c_str(), L"rb");
#else
  FILE* pipe = popen(command.c_str(), "r");
#endif
  if (!pipe) return false;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
#ifdef _WIN32
  return _pclose(pipe) == 0;
#else
  return pclose(pipe) == 0;
#endif
}

// A program on PATH, or empty.
fs::path onPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (!path) return {};
#ifdef _WIN32
  const char separator = ';';
  const std::string file = name + ".exe";
#else
  const char separator = ':';
  const std::string file = name;
#endif
  std::string all = path;
  for (size_t start = 0, end; start <= all.size(); start = end + 1) {
    end = all.find(separator, start);
    if (end == std::string::npos) end = all.size();
    if (end == start) continue;
    fs::path candidate = pathFromUtf8(all.substr(start, end - start)) / file;
    std::error_code ec;
    if (fs::is_regular_file(candidate, ec)) return candidate;
  }
  return {};
}

bool runToolchain(const fs::path& wxs, const fs::path& msi, Arch arch, std::string& error) {
  const std::string a = archName(arch), source = pathText(wxs), out = pathText(msi);
  std::string output;
  bool ok;
  fs::path tool;
  if (!(tool = onPath("wixl")).empty()) {
    ok = runTool({pathText(tool), "-a", a, "-o", out, source}, output);
  } else if (!(tool = onPath("wix")).empty()) {
    // WiX 4 and later read this source once converted to their own schema.
    runTool({pathText(tool), "convert", source}, output);
    output.clear();
    ok = runTool({pathText(tool), "build", "-arch", a, "-o", out, source}, output);
  } else if (!(tool = onPath("candle")).empty() && !onPath("light").empty()) {
    fs::path object = wxs;
    object.replace_extension(".wixobj");
    ok = runTool({pathText(tool), "-nologo", "-arch", a, "-o", pathText(object), source}, output) &&
         runTool({pathText(onPath("light")), "-nologo", "-o", out, pathText(object)}, output);
  } else {
    error =
        "no MSI toolchain found on PATH: install wixl (Debian and Ubuntu: apt-get install wixl; Fedora: dnf install "
        "msitools), or on Windows the WiX toolset (wix.exe 4 or later: dotnet tool install --global wix; or "
        "candle.exe and light.exe of WiX 3)";
    return false;
  }
  if (!ok) error = pathText(tool) + " failed:\n" + output;
  return ok;
}

// A scratch folder beside the output, removed however the build ends.
struct ScratchFolder {
  fs::path path;
  ~ScratchFolder() {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
  }
};

}  // namespace

std::string derivedGuid(const std::string& space, const std::string& name) {
  // Two FNV-1a hashes of different bases: stable across builds and platforms.
  uint64_t h[2] = {0xcbf29ce484222325ULL, 0x84222325cbf29ce4ULL};
  for (uint64_t& x : h)
    for (char c : space + "\n" + name) x = (x ^ static_cast<uint8_t>(c)) * 0x100000001b3ULL;
  uint8_t b[16];
  for (int i = 0; i < 16; ++i) b[i] = static_cast<uint8_t>(h[i / 8] >> (8 * (i % 8)));
  b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x50);
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
  return guidFromBytes(b);
}

bool msiModel(const PackConfig& config, Arch arch, const fs::path& exe, const fs::path& actions, MsiModel& model,
              std::vector<std::string>& warnings, std::string& error) {
  model = MsiModel();
  std::vector<std::string> errors;
  auto problem = [&](uint32_t line, const std::string& message) {
    errors.push_back(configError(config.file, line, message));
  };
  const uint32_t msiLine = config.msi ? config.msi->line : 1;
  if (!config.msi || config.msi->upgradeCode.empty())
    problem(msiLine,
            std::string(config.msi ? "[msi] needs" : "an MSI needs an [msi] table with") +
                " upgrade_code, the GUID that ties the versions of one product together: make one once (uuidgen, "
                "or [guid]::NewGuid() in PowerShell), such as upgrade_code = \"" +
                randomGuid() + "\", and keep it for every later version");
  if (!config.version) {
    problem(1,
            "an MSI needs [version] version, which Windows Installer compares for upgrades, such as "
            "version = \"1.4.2\"");
  } else {
    const uint16_t* n = config.version->numbers;
    if (n[0] > kMsiMajorMinorLimit || n[1] > kMsiMajorMinorLimit)
      problem(config.version->line, "version " + utf8Of(config.version->version) +
                                        ": Windows Installer takes at most 255 for the first two numbers");
    if (n[3] != 0)
      warnings.push_back(configError(config.file, config.version->line,
                                     "version " + utf8Of(config.version->version) +
                                         ": Windows Installer compares only the first three numbers; a package that "
                                         "differs only in the fourth is no upgrade"));
    model.version = std::to_string(n[0]) + "." + std::to_string(n[1]) + "." + std::to_string(n[2]);
    char key[32];
    std::snprintf(key, sizeof key, "%03u.%03u.%05u", unsigned(n[0]), unsigned(n[1]), unsigned(n[2]));
    model.versionKey = key;
  }
  if (auto it = config.narrow.find(setting::ApplicationName); it != config.narrow.end())
    codePageToUtf8(config.codePage, it->second, model.serviceName);
  if (model.serviceName.empty())
    problem(1, "an MSI installs a service: give its name ([service] name)");
  else if (model.serviceName.find('|') != std::string::npos)
    problem(config.narrowLines.count(setting::ApplicationName) ? config.narrowLines.at(setting::ApplicationName) : 1,
            "an MSI's service name has no '|'");
  std::string displayName;
  if (auto it = config.wide.find(setting::DisplayName); it != config.wide.end()) displayName = utf8Of(it->second);
  const MsiSettings none;
  const MsiSettings& msi = config.msi ? *config.msi : none;
  model.manufacturer = !msi.manufacturer.empty() ? msi.manufacturer
                       : config.version          ? utf8Of(config.version->company)
                                                 : "";
  if (model.manufacturer.empty())
    problem(msiLine, "an MSI needs a manufacturer: [msi] manufacturer or [version] company");
  model.product = !msi.product.empty()                                 ? msi.product
                  : config.version && !config.version->product.empty() ? utf8Of(config.version->product)
                  : !displayName.empty()                               ? displayName
                                                                       : model.serviceName;
  model.folder = !msi.folder.empty() ? msi.folder : model.product;
  if (model.folder.find_first_of("\\/:*?\"<>|") != std::string::npos)
    problem(msiLine, "the installation folder's name \"" + model.folder +
                         "\" (the product's) holds one of \\ / : * ? \" < > |: give [msi] folder");
  model.arch = arch;
  model.start = msi.start;
  model.upgradeCode = msi.upgradeCode;
  model.exeSource = exe;
  model.actionsSource = actions;
  model.exeName = model.serviceName + ".exe";
  if (!errors.empty()) {
    error.clear();
    for (const std::string& e : errors) error += (error.empty() ? "" : "\n") + e;
    return false;
  }
  model.productCode = derivedGuid(model.upgradeCode, std::string(archName(arch)) + " " + model.version);
  return collectFiles(config, model, error);
}

std::string wixSource(const MsiModel& model) { return WixWriter(model).source(); }

bool buildMsi(const MsiRequest& request, std::vector<std::string>& warnings, std::string& error) {
  PackConfig config;
  if (!loadPackConfig(request.build.config, config, error)) return false;
  std::optional<Arch> arch = request.build.arch ? request.build.arch : config.arch;
  Bytes image;
  if (request.exe) {
    LauncherCopy copy;
    if (!readFileBytes(*request.exe, image, error) || !readLauncherCopy(image, copy, error)) {
      error = "--exe " + pathText(*request.exe) + ": " + error;
      return false;
    }
    std::optional<Arch> built = archFromMachine(copy.machine);
    if (!built || (arch && *arch != *built)) {
      error = "--exe " + pathText(*request.exe) + " is not built for " + archName(arch.value_or(Arch::X64));
      return false;
    }
    arch = built;
    auto name = copy.model.narrow.find(setting::ApplicationName), own = config.narrow.find(setting::ApplicationName);
    if (name == copy.model.narrow.end() || own == config.narrow.end() || name->second != own->second) {
      error = "--exe " + pathText(*request.exe) + " is not the service of " + pathText(request.build.config) +
              " (another service name)";
      return false;
    }
  }
  // As build: an explicit launcher gives the architecture when nothing else does.
  if (!arch && request.build.launcher) {
    Bytes launcher;
    std::string ignored;
    PeInfo info;
    if (readFileBytes(*request.build.launcher, launcher, ignored)) {
      MemorySource image(launcher.data(), launcher.size());
      if (readPeInfo(image, &info)) arch = archFromMachine(info.machine);
    }
  }
  const Arch a = arch.value_or(Arch::X64);
  fs::path actions = request.actions
                         ? *request.actions
                         : request.build.toolDirectory / (std::string("zanto-msi-actions-") + archName(a) + ".dll");
  Bytes dll;
  if (!readFileBytes(actions, dll, error)) {
    error = "custom actions " + error + (request.actions ? "" : " (give them with --actions PATH)");
    return false;
  }
  MemorySource src(dll.data(), dll.size());
  PeInfo pe;
  if (!readPeInfo(src, &pe) || pe.machine != archMachine(a)) {
    error = "custom actions " + pathText(actions) + " are not a DLL for " + archName(a);
    return false;
  }

  ScratchFolder scratch;
  std::error_code ec;
  fs::path output = fs::absolute(request.build.output, ec);
  scratch.path = output.parent_path() / ("." + pathText(output.filename()) + ".zanto-msi");
  fs::remove_all(scratch.path, ec);
  if (!fs::create_directories(scratch.path, ec)) {
    error = "cannot make " + pathText(scratch.path) + ": " + ec.message();
    return false;
  }
  MsiModel model;
  fs::path exe = request.exe ? fs::absolute(*request.exe, ec) : fs::path();
  if (!msiModel(config, a, exe, fs::absolute(actions, ec), model, warnings, error)) return false;
  if (!request.exe) {
    BuildRequest build = request.build;
    build.arch = a;
    build.output = scratch.path / pathFromUtf8(model.exeName);
    if (!buildPackage(build, warnings, error)) return false;
    model.exeSource = build.output;
  }
  model.sourceBase = scratch.path;
  const std::string text = wixSource(model);
  const Bytes source(text.begin(), text.end());
  fs::path wxs = scratch.path / "package.wxs";
  if (!writeFileAtomically(wxs, source, error)) return false;
  if (request.wxs && !writeFileAtomically(*request.wxs, source, error)) return false;
  // Built beside the output and renamed over it: a failed build leaves an earlier one.
  const fs::path built = scratch.path / "package.msi";
  if (!runToolchain(wxs, built, a, error)) return false;
  fs::rename(built, output, ec);
  if (ec) error = "cannot write " + pathText(output) + ": " + ec.message();
  return !ec;
}

}  // namespace zanto

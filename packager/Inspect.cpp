// Rendering a launcher copy as TOML (see Inspect.h). A record goes under a readable
// key or [settings] only when they would take it back unchanged; everything else
// is printed under [raw], so every record packages to the same bytes again.
#include "Inspect.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <set>

#include "CodePage.h"
#include "PackConfig.h"
#include "Resources.h"
#include "Settings.h"
#include "Vocabulary.h"

namespace zanto {

namespace fs = std::filesystem;

std::string tomlString(std::string_view utf8) {
  std::string out = "\"";
  for (size_t i = 0; i < utf8.size(); ++i) {
    uint8_t b = static_cast<uint8_t>(utf8[i]);
    unsigned control = b;
    bool c1 = b == 0xC2 && i + 1 < utf8.size() && static_cast<uint8_t>(utf8[i + 1]) < 0xA0;
    if (c1) control = static_cast<uint8_t>(utf8[++i]);
    if (b == '"')
      out += "\\\"";
    else if (b == '\\')
      out += "\\\\";
    else if (b == '\n')
      out += "\\n";
    else if (b == '\r')
      out += "\\r";
    else if (b == '\t')
      out += "\\t";
    else if (b < 0x20 || b == 0x7F || c1) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", control);
      out += escape;
    } else {
      out += static_cast<char>(b);
    }
  }
  return out + "\"";
}

namespace {

// `"id" = `, built by appending: GCC 12 at -O3 warns falsely on "\"" + string.
std::string rawKey(int32_t id) {
  std::string key(1, '"');
  key.append(std::to_string(id)).append("\" = ");
  return key;
}

struct Rendered {
  std::string settings, rawNarrow, rawWide;
  uint32_t codePage = 0;  // of the block's 8-bit texts (0: none recorded, read as 1252)
};

// A text of the block as UTF-8; bytes that are no text of its code page are shown
// as 1252, which is how a block without a record is read too.
std::string blockText(const Rendered& r, const std::string& bytes) {
  std::string utf8;
  return codePageToUtf8(r.codePage, bytes, utf8) ? utf8 : cp1252ToUtf8(bytes);
}

// The recorded code page when packaging with it writes the record back unchanged.
uint32_t recordedCodePage(const BlockModel& model) {
  auto it = model.narrow.find(setting::CodePage);
  if (it == model.narrow.end()) return 0;
  std::optional<int32_t> value = parseRawId(it->second);
  return value && *value > 0 && isBlockCodePage(static_cast<uint32_t>(*value)) ? static_cast<uint32_t>(*value) : 0;
}

// The [settings] form of a narrow value of a named setting, or empty when the
// value must go under [raw] (with the reason in `why`).
std::string settingsValue(const Rendered& r, const SettingInfo& info, const std::string& bytes, std::string& why) {
  if (info.id == setting::CodePage) {
    why = "not a code page zanto-pack writes";
    return {};
  }
  switch (info.kind) {
    case SettingKind::Flag:
      if (bytes == "1") return "true";
      if (bytes == "0") return "false";
      [[fallthrough]];
    case SettingKind::Int:
      if (parseRawId(bytes)) return bytes;
      why = "not a plain integer";
      return {};
    default:
      why = narrowSettingProblem(bytes, info.id);
      return why.empty() ? tomlString(blockText(r, bytes)) : std::string();
  }
}

void renderNarrow(Rendered& r, int32_t id, const std::string& bytes) {
  const SettingInfo* info = findSettingById(id, false);
  std::string why;
  if (info) {
    std::string value = settingsValue(r, *info, bytes, why);
    if (!value.empty()) {
      r.settings += std::string(info->name) + " = " + value + "\n";
      return;
    }
  }
  r.rawNarrow += rawKey(id) + tomlString(blockText(r, bytes));
  if (info) r.rawNarrow += std::string("  # ") + info->name + ": " + why;
  r.rawNarrow += "\n";
}

void renderWide(Rendered& r, int32_t id, const std::u16string& units) {
  const SettingInfo* info = findSettingById(id, true);
  std::string utf8;
  bool valid = utf16ToUtf8(units, utf8);
  std::string why = valid ? wideSettingProblem(units) : "not valid UTF-16";
  if (info && why.empty()) {
    r.settings += std::string(info->name) + " = " + tomlString(utf8) + "\n";
    return;
  }
  r.rawWide += rawKey(id);
  if (valid) {
    r.rawWide += tomlString(utf8);
  } else {
    r.rawWide += "[";
    for (size_t i = 0; i < units.size(); ++i) r.rawWide += (i ? ", " : "") + std::to_string(units[i]);
    r.rawWide += "]";
  }
  if (info) r.rawWide += std::string("  # ") + info->name + ": " + why;
  r.rawWide += "\n";
}

// Records the writer derives from the files; a comment when the stored ones differ.
std::string fileRecordNote(const BlockModel& model) {
  std::string note;
  for (int32_t id : {setting::IncludedFileCount, setting::IncludedFileNames}) {
    auto it = model.narrow.find(id);
    std::string derived =
        id == setting::IncludedFileCount ? includedFileCountText(model.files) : includedFileNamesText(model.files);
    bool stored = it != model.narrow.end();
    if (stored == !model.files.empty() && (!stored || it->second == derived)) continue;
    note += std::string("# stored ") + findSettingById(id, false)->name + " = " +
            (stored ? tomlString(cp1252ToUtf8(it->second)) : "(none)") + "; packaging again writes " +
            (derived.empty() ? "(none)" : tomlString(cp1252ToUtf8(derived))) + "\n";
  }
  return note;
}

bool extractFiles(const BlockModel& model, const Rendered& r, const fs::path& dir, std::string& error) {
  BlockModel files;
  files.files = model.files;
  if (std::string problem = modelProblem(files); !problem.empty()) {
    error = "cannot extract: " + problem;
    return false;
  }
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    error = "cannot create " + pathText(dir) + ": " + ec.message();
    return false;
  }
  for (const IncludedFile& f : model.files)
    if (!writeFileAtomically(dir / pathFromUtf8(blockText(r, f.name)), f.content, error)) return false;
  return true;
}

// The [version] table that gives the executable's version information again, and a
// comment with what packaging derives by itself.
std::string versionTable(const VersionInfo& info) {
  std::map<std::u16string, std::u16string> strings(info.strings.begin(), info.strings.end());
  auto text = [&](const char16_t* key) {
    auto it = strings.find(key);
    std::string utf8;
    return it != strings.end() && utf16ToUtf8(it->second, utf8) ? std::optional<std::string>(utf8) : std::nullopt;
  };
  auto numbers = [](const uint16_t* v) {
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
  };
  std::string out = "\n[version]\n";
  std::optional<std::string> version = text(u"FileVersion");
  uint16_t parsed[4];
  if (version && parseVersionNumbers(*version, parsed) && std::equal(parsed, parsed + 4, info.fileVersion))
    out += "version = " + tomlString(*version) + "\n";
  else
    out += "version = " + tomlString(numbers(info.fileVersion)) + "  # the fixed file version\n";
  const std::pair<const char*, const char16_t*> keys[] = {{"product", u"ProductName"},
                                                          {"company", u"CompanyName"},
                                                          {"copyright", u"LegalCopyright"},
                                                          {"description", u"FileDescription"}};
  for (const auto& [key, name] : keys)
    if (std::optional<std::string> value = text(name)) out += std::string(key) + " = " + tomlString(*value) + "\n";
  out += "# product version " + numbers(info.productVersion);
  for (const char16_t* name : {u"InternalName", u"OriginalFilename"}) {
    std::u16string key(name);
    std::string keyText(key.begin(), key.end());
    if (std::optional<std::string> value = text(name)) out += "; " + keyText + " " + tomlString(*value);
  }
  return out + "\n";
}

// A name for the extracted icon that no included file has.
std::string iconFileName(const BlockModel& model) {
  for (int n = 0;; ++n) {
    std::string name = n ? "icon-" + std::to_string(n) + ".ico" : "icon.ico";
    BlockModel pair;
    pair.files = {{name, {}}};
    bool taken = false;
    for (const IncludedFile& f : model.files) {
      pair.files.resize(1);
      pair.files.push_back({f.name, {}});
      taken = taken || !modelProblem(pair).empty();
    }
    if (!taken) return name;
  }
}

}  // namespace

bool inspectLauncherCopy(const Bytes& image, const std::string& exeName, const fs::path* extractDir, std::string& toml,
                         std::string& error, bool raw) {
  LauncherCopy copy;
  if (!readLauncherCopy(image, copy, error)) {
    error = exeName + ": " + error;
    return false;
  }
  const BlockModel& model = copy.model;
  // Resources a reader cannot make sense of are no reason to hide the block.
  std::vector<Resource> resources;
  ExeIdentity identity;
  std::string resourceProblem;
  if (!readImageResources(image.data(), image.size(), resources, resourceProblem) ||
      !readIdentity(resources, identity, resourceProblem))
    identity = ExeIdentity();
  Rendered r;
  r.codePage = recordedCodePage(model);
  if (extractDir && !extractFiles(model, r, *extractDir, error)) return false;
  std::string iconPath;
  if (extractDir && !identity.icon.empty()) {
    fs::path path = fs::absolute(*extractDir / iconFileName(model));
    if (!writeFileAtomically(path, iconFileBytes(identity.icon), error)) return false;
    iconPath = pathText(path);
  }

  auto shownHere = [&](int32_t id) {
    return id != setting::IncludedFileCount && id != setting::IncludedFileNames &&
           !(id == setting::CodePage && r.codePage != 0);
  };
  // The records that [settings] would take back; the readable tables cover what they can of them.
  std::set<std::pair<bool, int32_t>> used;
  std::string readable;
  if (!raw) {
    std::map<std::pair<bool, int32_t>, ShownRecord> shown;
    for (const auto& [id, bytes] : model.narrow) {
      const SettingInfo* info = findSettingById(id, false);
      std::string why;
      if (!info || !shownHere(id)) continue;
      if (std::string literal = settingsValue(r, *info, bytes, why); !literal.empty())
        shown[{false, id}] = {literal, blockText(r, bytes)};
    }
    for (const auto& [id, units] : model.wide) {
      std::string utf8;
      if (findSettingById(id, true) && utf16ToUtf8(units, utf8) && wideSettingProblem(units).empty())
        shown[{true, id}] = {tomlString(utf8), utf8};
    }
    readable = readableTablesOf(shown, used);
  }
  for (const auto& [id, bytes] : model.narrow)
    if (shownHere(id) && !used.count({false, id})) renderNarrow(r, id, bytes);
  for (const auto& [id, units] : model.wide)
    if (!used.count({true, id})) renderWide(r, id, units);

  char machine[8];
  std::snprintf(machine, sizeof machine, "0x%04x", copy.machine);
  toml = "# zanto-pack inspect " + exeName + "\n# configuration block at offset " + std::to_string(copy.blockOffset) +
         ", included file data at offset " + std::to_string(copy.dataOffset) + "\n";
  // A signing tool aligns its table to 8 bytes with zeros: no data of anyone's.
  int64_t behind = copy.dataLimit - copy.dataEnd;
  bool padding =
      copy.certificateSize && behind < 8 &&
      std::all_of(image.begin() + copy.dataEnd, image.begin() + copy.dataLimit, [](uint8_t b) { return !b; });
  if (behind > 0 && !padding)
    toml += "# " + std::to_string(behind) + " bytes behind the included file data, not read\n";
  if (copy.certificateSize)
    toml += "# signed: Authenticode certificate table at offset " + std::to_string(copy.certificateOffset) + " (" +
            std::to_string(copy.certificateSize) + " bytes), signer " +
            (copy.signer.rfind("(", 0) == 0 ? copy.signer : tomlString(copy.signer)) +
            "\n# (the signature is not checked here; packaging again removes it)\n";
  toml += "\n[package]\n";
  std::optional<Arch> arch = archFromMachine(copy.machine);
  toml += arch ? "arch = \"" + std::string(archName(*arch)) + "\"\n"
               : "# arch: unknown PE machine " + std::string(machine) + "\n";
  toml += "runtime = false  # every included file is listed below\n";
  toml += "modern_java = false  # the block's own records are listed below\n";
  toml += "service_defaults = false  # the same\n";
  std::string images = std::to_string(identity.icon.size()) + (identity.icon.size() == 1 ? " image" : " images");
  if (!iconPath.empty())
    toml += "icon = " + tomlString(iconPath) + "  # " + images + "\n";
  else if (!identity.icon.empty())
    toml += "# icon: set, " + images + " (--extract DIR writes it)\n";
  else
    toml += "# icon: none\n";
  if (!resourceProblem.empty()) toml += "# resources not readable: " + resourceProblem + "\n";
  toml += r.codePage != 0 ? "codepage = " + std::to_string(r.codePage) + "\n"
                          : "codepage = 0  # no CodePage record: the launcher reads the texts in the machine's ANSI "
                            "code page (shown as 1252)\n";
  // Blocks of other tools lack the opt-in rules; say that the launcher keeps them off.
  std::string absent;
  for (int32_t id : kModernJavaSettings)
    if (!model.narrow.count(id))
      absent += std::string("# ") + findSettingById(id, false)->name + ": not in the block, off\n";
  // What the launcher does without the records a new configuration gets.
  const std::pair<int32_t, const char*> serviceAbsent[] = {
      {setting::StartPending, "off: the service reports running at once"},
      {setting::InteractiveService, "a LocalSystem service is installed interactive (type 0x110)"},
      {setting::WorkingDirectory, "the current directory stays as started (System32 for a service)"}};
  for (const auto& [id, meaning] : serviceAbsent)
    if (!model.narrow.count(id))
      absent += std::string("# ") + findSettingById(id, false)->name + ": not in the block, " + meaning + "\n";
  toml += readable;
  if (!r.settings.empty() || !absent.empty()) toml += "\n[settings]\n" + r.settings + absent;
  if (!r.rawNarrow.empty()) toml += "\n[raw.narrow]\n" + r.rawNarrow;
  if (!r.rawWide.empty()) toml += "\n[raw.wide]\n" + r.rawWide;
  if (identity.hasVersion) toml += versionTable(identity.version);
  if (std::string note = fileRecordNote(model); !note.empty()) toml += "\n" + note;
  if (!extractDir && !model.files.empty())
    toml += "\n# --extract DIR writes the included files and adds their source\n";
  for (const IncludedFile& f : model.files) {
    std::string name = blockText(r, f.name);
    toml += "\n[[include]]\nname = " + tomlString(name) + "\n";
    if (extractDir) toml += "source = " + tomlString(pathText(fs::absolute(*extractDir / pathFromUtf8(name)))) + "\n";
    toml += "# " + std::to_string(f.content.size()) + " bytes\n";
  }
  return true;
}

}  // namespace zanto

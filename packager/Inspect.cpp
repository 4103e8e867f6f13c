// Rendering a launcher copy as TOML (see Inspect.h). A record goes under
// [settings] only when [settings] would take it back unchanged; everything else
// is printed under [raw], so every record packages to the same bytes again.
#include "Inspect.h"

#include <algorithm>
#include <cstdio>

#include "CodePage.h"
#include "PackConfig.h"
#include "Settings.h"

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
};

// The [settings] form of a narrow value of a named setting, or empty when the
// value must go under [raw] (with the reason in `why`).
std::string settingsValue(const SettingInfo& info, const std::string& bytes, std::string& why) {
  switch (info.kind) {
    case SettingKind::Flag:
      if (bytes == "1") return "true";
      if (bytes == "0") return "false";
      [[fallthrough]];
    case SettingKind::Int:
      if (parseRawId(bytes)) return bytes;
      why = "not a plain integer";
      return {};
    default: why = narrowSettingProblem(bytes); return why.empty() ? tomlString(cp1252ToUtf8(bytes)) : std::string();
  }
}

void renderNarrow(Rendered& r, int32_t id, const std::string& bytes) {
  const SettingInfo* info = findSettingById(id, false);
  std::string why;
  if (info) {
    std::string value = settingsValue(*info, bytes, why);
    if (!value.empty()) {
      r.settings += std::string(info->name) + " = " + value + "\n";
      return;
    }
  }
  r.rawNarrow += rawKey(id) + tomlString(cp1252ToUtf8(bytes));
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

bool extractFiles(const BlockModel& model, const fs::path& dir, std::string& error) {
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
    if (!writeFileAtomically(dir / pathFromUtf8(cp1252ToUtf8(f.name)), f.content, error)) return false;
  return true;
}

}  // namespace

bool inspectLauncherCopy(const Bytes& image, const std::string& exeName, const fs::path* extractDir, std::string& toml,
                         std::string& error) {
  LauncherCopy copy;
  if (!readLauncherCopy(image, copy, error)) {
    error = exeName + ": " + error;
    return false;
  }
  const BlockModel& model = copy.model;
  if (extractDir && !extractFiles(model, *extractDir, error)) return false;

  Rendered r;
  for (const auto& [id, bytes] : model.narrow)
    if (id != setting::IncludedFileCount && id != setting::IncludedFileNames) renderNarrow(r, id, bytes);
  for (const auto& [id, units] : model.wide) renderWide(r, id, units);

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
  // Blocks of other tools lack the opt-in rules; say that the launcher keeps them off.
  std::string absent;
  for (int32_t id : kModernJavaSettings)
    if (!model.narrow.count(id))
      absent += std::string("# ") + findSettingById(id, false)->name + ": not in the block, off\n";
  if (!r.settings.empty() || !absent.empty()) toml += "\n[settings]\n" + r.settings + absent;
  if (!r.rawNarrow.empty()) toml += "\n[raw.narrow]\n" + r.rawNarrow;
  if (!r.rawWide.empty()) toml += "\n[raw.wide]\n" + r.rawWide;
  if (std::string note = fileRecordNote(model); !note.empty()) toml += "\n" + note;
  if (!extractDir && !model.files.empty())
    toml += "\n# --extract DIR writes the included files and adds their source\n";
  for (const IncludedFile& f : model.files) {
    std::string name = cp1252ToUtf8(f.name);
    toml += "\n[[include]]\nname = " + tomlString(name) + "\n";
    if (extractDir) toml += "source = " + tomlString(pathText(fs::absolute(*extractDir / pathFromUtf8(name)))) + "\n";
    toml += "# " + std::to_string(f.content.size()) + " bytes\n";
  }
  return true;
}

}  // namespace zanto

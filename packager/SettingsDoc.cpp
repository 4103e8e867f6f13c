// Settings reference rendering (see SettingsDoc.h).
#include "SettingsDoc.h"

#include "Settings.h"
#include "Vocabulary.h"

namespace zanto {

namespace {

const char* tomlType(SettingKind kind) {
  switch (kind) {
    case SettingKind::Int: return "integer";
    case SettingKind::Flag: return "boolean or integer";
    default: return "string";
  }
}

std::string cell(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p) out += *p == '|' ? std::string("\\|") : std::string(1, *p);
  return out;
}

bool isMessage(const SettingInfo& s) { return s.id >= 1000 && s.id < 2000; }
bool isDerived(const SettingInfo& s) {
  return s.id == setting::IncludedFileCount || s.id == setting::IncludedFileNames;
}

std::string readable(const SettingInfo& s) {
  const char* key = readableKeyOf(s.id, s.kind == SettingKind::Wide);
  return key ? std::string("`") + key + "`" : std::string();
}

void row(std::string& out, const SettingInfo& s) {
  std::string range;
  int64_t minimum, maximum;
  if (intSettingRange(s.id, minimum, maximum))
    range = " (from " + std::to_string(minimum) + " to " + std::to_string(maximum) + ")";
  out += "| " + std::to_string(s.id) + " | `" + s.name + "` | " + settingKindName(s.kind) + " | " +
         (isDerived(s)                        ? "(none)"
          : s.id == setting::LogSizeThreshold ? "string or integer"
                                              : tomlType(s.kind)) +
         range + " | " + readable(s) + " | " + cell(s.meaning) + " |\n";
}

}  // namespace

std::string settingsReference() {
  std::string out =
      "# zanto settings reference\n"
      "\n"
      "This file is the output of `zanto-pack settings`; change the settings table, not this file.\n"
      "\n"
      "A packaged launcher reads its settings from the configuration block that `zanto-pack build`\n"
      "writes. In the configuration file, give a setting by name in `[settings]`:\n"
      "\n"
      "| Kind | TOML value | Stored as |\n"
      "|---|---|---|\n"
      "| text | string | 8-bit text in the code page of `[package] codepage` (1252 unless set) |\n"
      "| list | string, entries separated as the meaning says | 8-bit text, as text |\n"
      "| int | integer (32-bit) | decimal text |\n"
      "| flag | boolean or integer | `true` as 1, `false` as 0, an integer as decimal text |\n"
      "| wide | string | UTF-16 text |\n"
      "\n"
      "A text the launcher would cut is refused: more than " +
      std::to_string(kTextBufferSize - 1) +
      " bytes (wide: UTF-16 units), or a NUL character; `ClassPath` and `VmParameters` are read whole, "
      "at any length.\n"
      "Records with ids that no name covers go in `[raw.narrow]` and `[raw.wide]`, keyed by the id.\n"
      "\n"
      "Most settings can also be given by a readable key (the column Key: `service.name` is `name` in\n"
      "`[service]`), as packager/README.md describes; a setting given both ways is an error.\n"
      "\n"
      "## Settings\n"
      "\n"
      "| Id | Name | Kind | TOML value | Key | Meaning |\n"
      "|---|---|---|---|---|---|\n";
  for (size_t i = 0; i < kSettingCount; ++i)
    if (!isMessage(kSettings[i]) && !isDerived(kSettings[i])) row(out, kSettings[i]);
  out +=
      "\n"
      "## Messages\n"
      "\n"
      "Texts the launcher shows; the block supplies them all, the launcher has no defaults.\n"
      "The marker in per-cent signs is replaced when the message is shown.\n"
      "\n"
      "| Id | Name | Kind | TOML value | Key | Meaning |\n"
      "|---|---|---|---|---|---|\n";
  for (size_t i = 0; i < kSettingCount; ++i)
    if (isMessage(kSettings[i])) row(out, kSettings[i]);
  out +=
      "\n"
      "## Set by zanto-pack\n"
      "\n"
      "Derived from the `[[include]]` entries (and the runtime jar); they cannot be given by hand.\n"
      "\n"
      "| Id | Name | Kind | TOML value | Key | Meaning |\n"
      "|---|---|---|---|---|---|\n";
  for (size_t i = 0; i < kSettingCount; ++i)
    if (isDerived(kSettings[i])) row(out, kSettings[i]);
  return out;
}

}  // namespace zanto

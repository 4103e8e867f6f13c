// The packager's TOML configuration: [package], [settings] by name, [raw.narrow]
// and [raw.wide] by id, [[include]] files and the executable's [version]. Parsing checks everything it can
// without touching other files; every error names the file and line.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zanto {

enum class Arch { X86, X64 };
const char* archName(Arch arch);
uint16_t archMachine(Arch arch);
std::optional<Arch> archFromName(std::string_view name);
std::optional<Arch> archFromMachine(uint16_t machine);

struct IncludeEntry {
  std::filesystem::path source;  // resolved against the configuration's directory
  std::string name;              // in the configuration's code page
  uint32_t line = 0;
};

// The [version] table: the texts of the executable's version information.
struct VersionSettings {
  std::u16string version, product, company, copyright, description;  // empty: not given
  uint16_t numbers[4] = {};
  uint32_t line = 0;
};

// The longest text [version] takes: all of them together stay far below the 64 KB
// that the version resource's 16-bit lengths allow.
constexpr size_t kVersionTextLimit = 1024;

// The [msi] table: what `zanto-pack msi` needs beyond the executable. Texts in UTF-8;
// empty: the default (see Msi.h).
struct MsiFileEntry {
  std::filesystem::path source;  // a file or a folder, resolved against the configuration's directory
  uint32_t line = 0;
};
struct MsiSettings {
  std::string upgradeCode;  // "{XXXXXXXX-...}" in upper case; empty: not given
  std::string manufacturer, product, folder;
  bool start = true;
  std::vector<MsiFileEntry> files;
  uint32_t line = 0;
};

// A GUID in the forms Windows tools print, braces optional, in the upper-case braced
// form Windows Installer keeps; empty when it is none.
std::string canonicalGuid(std::string_view text);

struct PackConfig {
  std::filesystem::path file;  // as given, for messages
  std::optional<Arch> arch;
  bool runtime = true;
  // Turns on the settings of kModernJavaSettings that [settings] and [raw] leave out.
  bool modernJava = true;
  // Writes the values of kServiceDefaults that [settings] and [raw] leave out.
  bool serviceDefaults = true;
  // The code page of the 8-bit texts, recorded as CodePage; 0: no record (1252,
  // read by the launcher in the machine's ANSI code page).
  uint32_t codePage = 1252;
  std::map<int32_t, std::string> narrow;  // in codePage
  std::map<int32_t, uint32_t> narrowLines;  // where each narrow record was given
  std::map<int32_t, std::u16string> wide;
  std::vector<IncludeEntry> includes;
  std::optional<VersionSettings> version;
  std::optional<std::filesystem::path> icon;  // resolved against the configuration's directory
  uint32_t iconLine = 0;
  std::optional<MsiSettings> msi;
};

// The opt-in rules for today's Java runtimes, and the end of the service with the
// application, that a new configuration gets on; blocks of other tools lack them.
constexpr int32_t kModernJavaSettings[] = {30001, 30002, 30003, 30021};

// What a new configuration gets unless it says otherwise: start pending until main
// runs, no interactive flag, and the executable's folder as current directory (the
// launcher resolves "." against it), so that crash logs, heap dumps and relative
// paths stay out of System32. Blocks of other tools lack them.
struct DefaultSetting {
  int32_t id;
  const char* value;
};
constexpr DefaultSetting kServiceDefaults[] = {{30022, "1"}, {30042, "0"}, {146, "."}};

// "FILE:LINE: message", the form of every configuration error.
std::string configError(const std::filesystem::path& file, uint32_t line, const std::string& message);

bool parsePackConfig(std::string_view text, const std::filesystem::path& file, PackConfig& config, std::string& error);
bool loadPackConfig(const std::filesystem::path& file, PackConfig& config, std::string& error);

// Why a value cannot be given for a named setting, or empty: the launcher reads
// settings into fixed buffers and stops at a NUL, so such a value would arrive
// cut. Raw records are stored as they are.
std::string narrowSettingProblem(const std::string& bytes, int32_t id = 0);
std::string wideSettingProblem(const std::u16string& units);

// The form of a setting id as a [raw] key; other spellings are refused.
std::optional<int32_t> parseRawId(std::string_view key);

std::filesystem::path pathFromUtf8(std::string_view utf8);

}  // namespace zanto

// Parsing and checking of the packager's TOML configuration (see PackConfig.h).
// With Vocabulary.cpp the only files that include toml++, which keeps the build time down.
#define TOML_EXCEPTIONS 0
#include "PackConfig.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>

#include "BlockWriter.h"
#include "CodePage.h"
#include "Resources.h"
#include "Settings.h"
#include "Vocabulary.h"

static_assert(zanto::kModernJavaSettings[0] == zanto::setting::NumericVersionCheck &&
              zanto::kModernJavaSettings[1] == zanto::setting::ReleaseFileVersion &&
              zanto::kModernJavaSettings[2] == zanto::setting::WideRegistrySearch &&
              zanto::kModernJavaSettings[3] == zanto::setting::EndWithApplication);
static_assert(zanto::kServiceDefaults[0].id == zanto::setting::StartPending &&
              zanto::kServiceDefaults[1].id == zanto::setting::InteractiveService &&
              zanto::kServiceDefaults[2].id == zanto::setting::WorkingDirectory);

namespace zanto {

namespace fs = std::filesystem;

const char* archName(Arch arch) { return arch == Arch::X86 ? "x86" : "x64"; }
uint16_t archMachine(Arch arch) { return arch == Arch::X86 ? 0x014c : 0x8664; }

std::optional<Arch> archFromName(std::string_view name) {
  if (name == "x86") return Arch::X86;
  if (name == "x64") return Arch::X64;
  return std::nullopt;
}

std::optional<Arch> archFromMachine(uint16_t machine) {
  if (machine == 0x014c) return Arch::X86;
  if (machine == 0x8664) return Arch::X64;
  return std::nullopt;
}

std::string configError(const fs::path& file, uint32_t line, const std::string& message) {
  return pathText(file) + ":" + std::to_string(line) + ": " + message;
}

std::string narrowSettingProblem(const std::string& bytes, int32_t id) {
  if (bytes.find('\0') != std::string::npos) return "the text contains a NUL character, where the launcher's text ends";
  if (bytes.size() > kTextBufferSize - 1 && !settingReadWhole(id))
    return "the text is " + std::to_string(bytes.size()) + " bytes long; the launcher reads at most " +
           std::to_string(kTextBufferSize - 1);
  return {};
}

std::string wideSettingProblem(const std::u16string& units) {
  if (units.find(u'\0') != std::u16string::npos)
    return "the text contains a NUL character, where the launcher's text ends";
  if (units.size() > kTextBufferSize - 1)
    return "the text is " + std::to_string(units.size()) + " UTF-16 units long; the launcher reads at most " +
           std::to_string(kTextBufferSize - 1);
  return {};
}

std::optional<int32_t> parseRawId(std::string_view key) {
  int32_t id;
  auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), id);
  if (ec != std::errc() || end != key.data() + key.size() || key.empty() || std::to_string(id) != key)
    return std::nullopt;
  return id;
}

fs::path pathFromUtf8(std::string_view utf8) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string canonicalGuid(std::string_view text) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  if (text.size() != 36) return {};
  std::string out = "{";
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? c != '-' : !std::isxdigit(static_cast<unsigned char>(c))) return {};
    out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return out + "}";
}

namespace {

class Parser {
 public:
  Parser(const fs::path& file, PackConfig& config, std::string& error) : file_(file), config_(config), error_(error) {}

  // Reads every table and key it can, so that one run reports every error.
  bool run(const toml::table& root) {
    std::vector<std::string> tables = {"package", "settings", "raw", "include", "version", "msi"};
    for (const char* t : kReadableTables)
      if (std::string_view(t).find('.') == std::string_view::npos) tables.push_back(t);
    for (auto&& [key, node] : root) {
      std::string name(key.str());
      if (std::find(tables.begin(), tables.end(), name) == tables.end())
        fail(key, "unknown table or key '" + name + "'" + didYouMean(name, tables) +
                      " (expected [package], [settings], [raw.narrow], [raw.wide], [[include]], [version], [service], "
                      "[java], [app], [logs], [msi])");
      else if (key == "include" ? !node.is_array_of_tables() : !node.is_table())
        fail(key, key == "include" ? "'include' must be an array of tables: [[include]]"
                                   : "'" + name + "' must be a table");
    }
    // Tables iterate in key order; [settings] and the readable tables come before
    // [raw] for the check that no id is given twice.
    if (auto* t = root["package"].as_table()) package(*t);
    if (auto* t = root["settings"].as_table()) settings(*t);
    vocabulary(root);
    if (auto* t = root["raw"].as_table()) raw(*t);
    if (auto* t = root["version"].as_table()) version(*t);
    if (auto* t = root["msi"].as_table()) msi(*t);
    if (auto* a = root["include"].as_array())
      for (auto&& entry : *a)
        if (entry.is_table()) include(*entry.as_table());
    std::stable_sort(errors_.begin(), errors_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    error_.clear();
    for (const auto& [line, message] : errors_) error_ += (error_.empty() ? "" : "\n") + configError(file_, line, message);
    return errors_.empty();
  }

 private:
  template <typename At>
  bool fail(const At& at, const std::string& message) {
    return failAt(at.source().begin.line, message);
  }
  bool failAt(uint32_t line, const std::string& message) {
    errors_.emplace_back(line, message);
    return false;
  }

  bool expectTable(const toml::key& key, const toml::node& node) {
    return node.is_table() || fail(key, "'" + std::string(key.str()) + "' must be a table");
  }

  void package(const toml::table& table) {
    for (auto&& [key, node] : table) packageKey(key, node);
  }

  bool packageKey(const toml::key& key, const toml::node& node) {
    if (key == "arch") {
      auto arch = node.is_string() ? archFromName(node.as_string()->get()) : std::nullopt;
      if (!arch) return fail(node, "arch must be \"x86\" or \"x64\"");
      config_.arch = arch;
    } else if (key == "codepage") {
      int64_t value = node.is_integer() ? node.as_integer()->get() : -1;
      if (value < 0 || value > UINT32_MAX || !isBlockCodePage(static_cast<uint32_t>(value)))
        return fail(node, "codepage must be a Windows ANSI code page (874, 932, 936, 949, 950, 1250 to 1258), "
                          "65001 or 0 (no record)");
      config_.codePage = static_cast<uint32_t>(value);
    } else if (key == "runtime" || key == "modern_java" || key == "service_defaults") {
      std::string name(key.str());
      if (!node.is_boolean()) return fail(node, name + " must be a boolean, not " + tomlTypeName(node));
      (key == "runtime"       ? config_.runtime
       : key == "modern_java" ? config_.modernJava
                              : config_.serviceDefaults) = node.as_boolean()->get();
    } else if (key == "icon") {
      if (!node.is_string() || node.as_string()->get().empty())
        return fail(node, "icon must be the name of an .ico file");
      config_.icon = config_.file.parent_path() / pathFromUtf8(node.as_string()->get());
      config_.iconLine = node.source().begin.line;
    } else {
      std::string name(key.str());
      return fail(key, "unknown key '" + name + "' in [package]" +
                           didYouMean(name, {"arch", "runtime", "modern_java", "service_defaults", "codepage", "icon"}) +
                           " (expected arch, runtime, modern_java, service_defaults, codepage, icon)");
    }
    return true;
  }

  bool narrowText(const toml::node& node, uint32_t line, const std::string& what, std::string& out) {
    std::string problem;
    if (utf8ToCodePage(config_.codePage, node.as_string()->get(), out, problem)) return true;
    return failAt(line, what + ": " + problem);
  }

  static const std::vector<std::string>& settingNames() {
    static const std::vector<std::string> names = [] {
      std::vector<std::string> n;
      for (size_t i = 0; i < kSettingCount; ++i) n.push_back(kSettings[i].name);
      return n;
    }();
    return names;
  }

  void settings(const toml::table& table) {
    for (auto&& [key, node] : table) {
      std::string name(key.str());
      const SettingInfo* info = findSettingByName(name.c_str());
      if (!info) {
        fail(key, "unknown setting '" + name + "'" + didYouMean(name, settingNames()) +
                      " (zanto-pack settings lists them; use [raw] for ids)");
        continue;
      }
      if (info->id == setting::IncludedFileCount || info->id == setting::IncludedFileNames) {
        fail(key, name + " is set by zanto-pack from the [[include]] entries");
        continue;
      }
      if (info->id == setting::CodePage) {
        fail(key, name + " is set by zanto-pack from [package] codepage");
        continue;
      }
      bool wide = info->kind == SettingKind::Wide;
      settingLines_[wide][info->id] = key.source().begin.line;
      givenAs_[wide][info->id] = name + " in [settings]";
      setting(*info, name, node, key.source().begin.line, node.source().begin.line);
    }
  }

  // One value for a setting, given by name or through a readable key (`shown`).
  bool setting(const SettingInfo& info, const std::string& name, const toml::node& node, uint32_t keyLine,
               uint32_t line) {
    if (info.kind == SettingKind::Wide) {
      if (!node.is_string()) return failAt(line, name + " must be a string, not " + tomlTypeName(node));
      std::u16string units;
      utf8ToUtf16(node.as_string()->get(), units);  // toml++ has checked the UTF-8
      if (std::string problem = wideSettingProblem(units); !problem.empty()) return failAt(line, name + ": " + problem);
      config_.wide[info.id] = std::move(units);
      return true;
    }
    std::string bytes;
    if (info.id == setting::LogSizeThreshold && node.is_integer()) {
      // A plain byte count may be given as a number too.
      bytes = std::to_string(node.as_integer()->get());
      if (const char* problem = textSettingProblem(info.id, bytes.c_str())) return failAt(line, name + " " + problem);
    } else if (info.kind == SettingKind::Text || info.kind == SettingKind::List) {
      if (!node.is_string()) return failAt(line, name + " must be a string, not " + tomlTypeName(node));
      if (!narrowText(node, line, name, bytes)) return false;
      if (const char* problem = textSettingProblem(info.id, bytes.c_str()))
        return failAt(line, name + " " + problem + ", not \"" + node.as_string()->get() + "\"");
    } else if (info.kind == SettingKind::Flag && node.is_boolean()) {
      bytes = node.as_boolean()->get() ? "1" : "0";
    } else {
      bool flag = info.kind == SettingKind::Flag;
      if (!node.is_integer())
        return failAt(line, name + " must be " + (flag ? "a boolean or an integer" : "an integer") + ", not " +
                                tomlTypeName(node));
      int64_t value = node.as_integer()->get();
      if (value < INT32_MIN || value > INT32_MAX) return failAt(line, name + " is out of the 32-bit integer range");
      int64_t minimum, maximum;
      if (intSettingRange(info.id, minimum, maximum) && (value < minimum || value > maximum))
        return failAt(line, name + " must be from " + std::to_string(minimum) + " to " + std::to_string(maximum) +
                                ", not " + std::to_string(value));
      bytes = std::to_string(value);
    }
    if (std::string problem = narrowSettingProblem(bytes, info.id); !problem.empty())
      return failAt(line, name + ": " + problem);
    config_.narrow[info.id] = std::move(bytes);
    config_.narrowLines[info.id] = keyLine;
    return true;
  }

  // The readable tables: each key's settings, checked as [settings] checks them; a
  // setting given both ways names both lines.
  void vocabulary(const toml::table& root) {
    VocabularyResult result;
    readVocabulary(root, config_.file.parent_path(), result);
    for (auto& [line, message] : result.errors) failAt(line, message);
    for (const MappedSetting& m : result.settings) {
      const SettingInfo* info = findSettingById(m.id, m.wide);
      auto given = givenAs_[m.wide].find(m.id);
      if (given != givenAs_[m.wide].end()) {
        if (given->second != m.key)
          failAt(m.line, m.key + " and " + given->second + " (line " + std::to_string(settingLines_[m.wide][m.id]) +
                             ") both give " + info->name);
        continue;
      }
      settingLines_[m.wide][m.id] = m.line;
      givenAs_[m.wide][m.id] = m.key;
      setting(*info, m.key, *m.value, m.line, m.line);
    }
    for (const ClassPathFile& f : result.includes) addInclude(f.source, pathText(f.source.filename()), nullptr, f.line);
  }

  void raw(const toml::table& table) {
    for (auto&& [key, node] : table) {
      bool wide = key == "wide";
      if (!wide && key != "narrow") {
        fail(key, "unknown table [raw." + std::string(key.str()) + "] (expected [raw.narrow], [raw.wide])");
        continue;
      }
      if (!expectTable(key, node)) continue;
      for (auto&& [idKey, value] : *node.as_table()) rawRecord(wide, idKey, value);
    }
  }

  bool rawRecord(bool wide, const toml::key& key, const toml::node& node) {
    std::optional<int32_t> id = parseRawId(key.str());
    if (!id) return fail(key, "raw id \"" + std::string(key.str()) + "\" is not an integer id");
    if (!wide && (*id == setting::IncludedFileCount || *id == setting::IncludedFileNames))
      return fail(key, "id " + std::to_string(*id) + " is set by zanto-pack from the [[include]] entries");
    if (!wide && *id == setting::CodePage && config_.codePage != 0)
      return fail(key, "id " + std::to_string(*id) + " is set by zanto-pack from [package] codepage (0 leaves it to [raw])");
    if (auto it = settingLines_[wide].find(*id); it != settingLines_[wide].end())
      return fail(key, "id " + std::to_string(*id) + " is already given as " + givenAs_[wide][*id] + " (line " +
                           std::to_string(it->second) + ")");
    if (!wide) {
      if (!node.is_string())
        return fail(node, "a [raw.narrow] value must be a string, not " + std::string(tomlTypeName(node)));
      config_.narrowLines[*id] = key.source().begin.line;
      return narrowText(node, node.source().begin.line, "raw id " + std::to_string(*id), config_.narrow[*id]);
    }
    std::u16string units;
    if (node.is_string()) {
      utf8ToUtf16(node.as_string()->get(), units);
    } else if (node.is_array()) {
      // The form for texts that are not valid UTF-16 (an unpaired surrogate).
      for (auto&& unit : *node.as_array()) {
        if (!unit.is_integer() || unit.as_integer()->get() < 0 || unit.as_integer()->get() > 0xFFFF)
          return fail(unit, "a [raw.wide] array holds UTF-16 units: integers from 0 to 65535");
        units += static_cast<char16_t>(unit.as_integer()->get());
      }
    } else {
      return fail(
          node, "a [raw.wide] value must be a string or an array of UTF-16 units, not " + std::string(tomlTypeName(node)));
    }
    config_.wide[*id] = std::move(units);
    return true;
  }

  void version(const toml::table& table) {
    VersionSettings v;
    v.line = table.source().begin.line;
    bool ok = true;
    for (auto&& [key, node] : table) ok = versionKey(v, key, node) && ok;
    if (v.version.empty()) {
      if (ok) fail(table, "[version] needs a version, such as version = \"1.4.2\"");
      return;
    }
    if (ok) config_.version = std::move(v);
  }

  bool versionKey(VersionSettings& v, const toml::key& key, const toml::node& node) {
    std::string name(key.str());
    std::u16string* field = name == "version"       ? &v.version
                            : name == "product"     ? &v.product
                            : name == "company"     ? &v.company
                            : name == "copyright"   ? &v.copyright
                            : name == "description" ? &v.description
                                                    : nullptr;
    if (!field)
      return fail(key, "unknown key '" + name + "' in [version]" +
                           didYouMean(name, {"version", "product", "company", "copyright", "description"}) +
                           " (expected version, product, company, copyright, description)");
    if (!node.is_string()) return fail(node, name + " must be a string, not " + tomlTypeName(node));
    const std::string& text = node.as_string()->get();
    utf8ToUtf16(text, *field);
    if (field->find(u'\0') != std::u16string::npos) return fail(node, name + ": the text contains a NUL character");
    if (field->size() > kVersionTextLimit)
      return fail(node, name + ": the text is " + std::to_string(field->size()) + " UTF-16 units long; at most " +
                            std::to_string(kVersionTextLimit) + " are taken");
    if (field == &v.version && !parseVersionNumbers(text, v.numbers))
      return fail(node, "version " + tomlQuoted(text) +
                            " is not two to four numbers from 0 to 65535 separated by dots (such as 1.4.2 or 1.4.2.7)");
    return true;
  }

  void msi(const toml::table& table) {
    MsiSettings m;
    m.line = table.source().begin.line;
    bool ok = true;
    for (auto&& [key, node] : table) ok = msiKey(m, key, node) && ok;
    if (ok) config_.msi = std::move(m);
  }

  bool msiKey(MsiSettings& m, const toml::key& key, const toml::node& node) {
    std::string name(key.str());
    if (name == "start") {
      if (!node.is_boolean()) return fail(node, std::string("start must be a boolean, not ") + tomlTypeName(node));
      m.start = node.as_boolean()->get();
      return true;
    }
    if (name == "files") {
      if (!node.is_array()) return fail(node, std::string("files must be an array of file and folder names, not ") + tomlTypeName(node));
      for (auto&& item : *node.as_array()) {
        if (!item.is_string() || item.as_string()->get().empty())
          return fail(item, "files holds the names of files and folders (strings), relative to the configuration");
        m.files.push_back({config_.file.parent_path() / pathFromUtf8(item.as_string()->get()), item.source().begin.line});
      }
      return true;
    }
    std::string* field = name == "upgrade_code"   ? &m.upgradeCode
                         : name == "manufacturer" ? &m.manufacturer
                         : name == "product"      ? &m.product
                         : name == "folder"       ? &m.folder
                                                  : nullptr;
    if (!field)
      return fail(key, "unknown key '" + name + "' in [msi]" +
                           didYouMean(name, {"upgrade_code", "manufacturer", "product", "folder", "start", "files"}) +
                           " (expected upgrade_code, manufacturer, product, folder, start, files)");
    if (!node.is_string()) return fail(node, name + " must be a string, not " + tomlTypeName(node));
    const std::string& text = node.as_string()->get();
    if (text.find('\0') != std::string::npos) return fail(node, name + ": the text contains a NUL character");
    if (text.size() > kVersionTextLimit)
      return fail(node, name + ": the text is " + std::to_string(text.size()) + " bytes long; at most " +
                            std::to_string(kVersionTextLimit) + " are taken");
    if (field == &m.upgradeCode) {
      m.upgradeCode = canonicalGuid(text);
      if (m.upgradeCode.empty())
        return fail(node, "upgrade_code " + tomlQuoted(text) +
                              " is not a GUID (32 hexadecimal digits in groups of 8-4-4-4-12, such as "
                              "\"7f3c2a9e-51b0-4d6e-9a4b-2c8e1f0d3b57\")");
      return true;
    }
    // Folder names: one name below Program Files\<manufacturer>.
    if (field == &m.folder && (text.empty() || text.find_first_of("\\/:*?\"<>|") != std::string::npos ||
                               text == "." || text == ".."))
      return fail(node, "folder must be one folder name, without \\ / : * ? \" < > |");
    *field = text;
    return true;
  }

  static std::string tomlQuoted(const std::string& text) { return "\"" + text + "\""; }

  void include(const toml::table& table) {
    const toml::node* nameNode = nullptr;
    std::string source;
    bool ok = true;
    for (auto&& [key, node] : table) {
      if (key != "source" && key != "name") {
        std::string name(key.str());
        ok = fail(key, "unknown key '" + name + "' in [[include]]" + didYouMean(name, {"source", "name"}) +
                           " (expected source, name)");
      } else if (!node.is_string()) {
        ok = fail(node, std::string(key.str()) + " must be a string, not " + tomlTypeName(node));
      } else if (key == "source") {
        source = node.as_string()->get();
      } else {
        nameNode = &node;
      }
    }
    if (!ok) return;
    if (source.empty()) {
      fail(table, "[[include]] needs a source file");
      return;
    }
    std::string name = nameNode ? nameNode->as_string()->get() : pathText(pathFromUtf8(source).filename());
    addInclude(config_.file.parent_path() / pathFromUtf8(source), name,
               nameNode ? nameNode : static_cast<const toml::node*>(&table), table.source().begin.line);
  }

  // An included file by its UTF-8 name; `at` is where a bad name is reported.
  bool addInclude(const fs::path& source, const std::string& name, const toml::node* at, uint32_t line) {
    IncludeEntry entry;
    entry.line = line;
    entry.source = source;
    std::string problem;
    const uint32_t nameLine = at ? at->source().begin.line : line;
    if (!utf8ToCodePage(config_.codePage, name, entry.name, problem) ||
        !(problem = includedFileNameProblem(entry.name)).empty())
      return failAt(nameLine, "included file name \"" + name + "\": " + problem);
    for (const IncludeEntry& other : config_.includes) {
      BlockModel pair;
      pair.files = {{other.name, {}}, {entry.name, {}}};
      if (std::string clash = modelProblem(pair); !clash.empty())
        return failAt(line, clash + " (line " + std::to_string(other.line) + ")");
    }
    config_.includes.push_back(std::move(entry));
    return true;
  }

  const fs::path& file_;
  PackConfig& config_;
  std::string& error_;
  std::vector<std::pair<uint32_t, std::string>> errors_;
  std::map<int32_t, uint32_t> settingLines_[2];  // narrow, wide: id to line
  std::map<int32_t, std::string> givenAs_[2];    // narrow, wide: id to "Name in [settings]" or the readable key
};

}  // namespace

bool parsePackConfig(std::string_view text, const fs::path& file, PackConfig& config, std::string& error) {
  config = PackConfig();
  config.file = file;
  toml::parse_result result = toml::parse(text, pathText(file));
  if (!result) {
    const toml::parse_error& e = result.error();
    error = pathText(file) + ":" + std::to_string(e.source().begin.line) + ":" +
            std::to_string(e.source().begin.column) + ": " + std::string(e.description());
    return false;
  }
  return Parser(file, config, error).run(result.table());
}

bool loadPackConfig(const fs::path& file, PackConfig& config, std::string& error) {
  Bytes bytes;
  if (!readFileBytes(file, bytes, error)) {
    error = "configuration " + error;
    return false;
  }
  return parsePackConfig(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), file, config,
                         error);
}

}  // namespace zanto

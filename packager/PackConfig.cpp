// Parsing and checking of the packager's TOML configuration (see PackConfig.h).
// The only file that includes toml++, which keeps the build time down.
#define TOML_EXCEPTIONS 0
#include "PackConfig.h"

#include <toml++/toml.h>

#include <charconv>
#include <climits>

#include "BlockWriter.h"
#include "CodePage.h"
#include "Resources.h"
#include "Settings.h"

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

namespace {

const char* typeName(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::string: return "a string";
    case toml::node_type::integer: return "an integer";
    case toml::node_type::floating_point: return "a floating-point number";
    case toml::node_type::boolean: return "a boolean";
    case toml::node_type::table: return "a table";
    case toml::node_type::array: return "an array";
    default: return "a date or time";
  }
}

class Parser {
 public:
  Parser(const fs::path& file, PackConfig& config, std::string& error) : file_(file), config_(config), error_(error) {}

  bool run(const toml::table& root) {
    for (auto&& [key, node] : root) {
      if (key != "package" && key != "settings" && key != "raw" && key != "include" && key != "version")
        return fail(key, "unknown table or key '" + std::string(key.str()) +
                             "' (expected [package], [settings], [raw.narrow], [raw.wide], [[include]], [version])");
      if (key == "include" ? !node.is_array_of_tables() : !node.is_table())
        return fail(key, key == "include" ? "'include' must be an array of tables: [[include]]"
                                          : "'" + std::string(key.str()) + "' must be a table");
    }
    // Tables iterate in key order; [settings] must come before [raw] for the
    // check that no id is given in both.
    if (auto* t = root["package"].as_table(); t && !package(*t)) return false;
    if (auto* t = root["settings"].as_table(); t && !settings(*t)) return false;
    if (auto* t = root["raw"].as_table(); t && !raw(*t)) return false;
    if (auto* t = root["version"].as_table(); t && !version(*t)) return false;
    if (auto* a = root["include"].as_array())
      for (auto&& entry : *a)
        if (!include(*entry.as_table())) return false;
    return true;
  }

 private:
  template <typename At>
  bool fail(const At& at, const std::string& message) {
    error_ = configError(file_, at.source().begin.line, message);
    return false;
  }

  bool expectTable(const toml::key& key, const toml::node& node) {
    return node.is_table() || fail(key, "'" + std::string(key.str()) + "' must be a table");
  }

  bool package(const toml::table& table) {
    for (auto&& [key, node] : table) {
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
        if (!node.is_boolean()) return fail(node, name + " must be a boolean, not " + typeName(node));
        (key == "runtime"       ? config_.runtime
         : key == "modern_java" ? config_.modernJava
                                : config_.serviceDefaults) = node.as_boolean()->get();
      } else if (key == "icon") {
        if (!node.is_string() || node.as_string()->get().empty())
          return fail(node, "icon must be the name of an .ico file");
        config_.icon = config_.file.parent_path() / pathFromUtf8(node.as_string()->get());
        config_.iconLine = node.source().begin.line;
      } else {
        return fail(key, "unknown key '" + std::string(key.str()) +
                             "' in [package] (expected arch, runtime, modern_java, service_defaults, codepage, icon)");
      }
    }
    return true;
  }

  bool narrowText(const toml::node& node, const std::string& what, std::string& out) {
    std::string problem;
    if (utf8ToCodePage(config_.codePage, node.as_string()->get(), out, problem)) return true;
    return fail(node, what + ": " + problem);
  }

  bool settings(const toml::table& table) {
    for (auto&& [key, node] : table) {
      std::string name(key.str());
      const SettingInfo* info = findSettingByName(name.c_str());
      if (!info) return fail(key, "unknown setting '" + name + "' (zanto-pack settings lists them; use [raw] for ids)");
      if (info->id == setting::IncludedFileCount || info->id == setting::IncludedFileNames)
        return fail(key, name + " is set by zanto-pack from the [[include]] entries");
      if (info->id == setting::CodePage) return fail(key, name + " is set by zanto-pack from [package] codepage");
      bool wide = info->kind == SettingKind::Wide;
      settingLines_[wide][info->id] = key.source().begin.line;
      if (wide) {
        if (!node.is_string()) return fail(node, name + " must be a string, not " + typeName(node));
        std::u16string units;
        utf8ToUtf16(node.as_string()->get(), units);  // toml++ has checked the UTF-8
        if (std::string problem = wideSettingProblem(units); !problem.empty()) return fail(node, name + ": " + problem);
        config_.wide[info->id] = std::move(units);
        continue;
      }
      std::string bytes;
      if (info->id == setting::LogSizeThreshold && node.is_integer()) {
        // A plain byte count may be given as a number too.
        bytes = std::to_string(node.as_integer()->get());
        if (const char* problem = textSettingProblem(info->id, bytes.c_str())) return fail(node, name + " " + problem);
      } else if (info->kind == SettingKind::Text || info->kind == SettingKind::List) {
        if (!node.is_string()) return fail(node, name + " must be a string, not " + typeName(node));
        if (!narrowText(node, name, bytes)) return false;
        if (const char* problem = textSettingProblem(info->id, bytes.c_str()))
          return fail(node, name + " " + problem + ", not \"" + node.as_string()->get() + "\"");
      } else if (info->kind == SettingKind::Flag && node.is_boolean()) {
        bytes = node.as_boolean()->get() ? "1" : "0";
      } else {
        bool flag = info->kind == SettingKind::Flag;
        if (!node.is_integer())
          return fail(
              node, name + " must be " + (flag ? "a boolean or an integer" : "an integer") + ", not " + typeName(node));
        int64_t value = node.as_integer()->get();
        if (value < INT32_MIN || value > INT32_MAX) return fail(node, name + " is out of the 32-bit integer range");
        int64_t minimum, maximum;
        if (intSettingRange(info->id, minimum, maximum) && (value < minimum || value > maximum))
          return fail(node, name + " must be from " + std::to_string(minimum) + " to " + std::to_string(maximum) +
                                ", not " + std::to_string(value));
        bytes = std::to_string(value);
      }
      if (std::string problem = narrowSettingProblem(bytes, info->id); !problem.empty())
        return fail(node, name + ": " + problem);
      config_.narrow[info->id] = std::move(bytes);
      config_.narrowLines[info->id] = key.source().begin.line;
    }
    return true;
  }

  bool raw(const toml::table& table) {
    for (auto&& [key, node] : table) {
      bool wide = key == "wide";
      if (!wide && key != "narrow")
        return fail(key, "unknown table [raw." + std::string(key.str()) + "] (expected [raw.narrow], [raw.wide])");
      if (!expectTable(key, node)) return false;
      for (auto&& [idKey, value] : *node.as_table())
        if (!rawRecord(wide, idKey, value)) return false;
    }
    return true;
  }

  bool rawRecord(bool wide, const toml::key& key, const toml::node& node) {
    std::optional<int32_t> id = parseRawId(key.str());
    if (!id) return fail(key, "raw id \"" + std::string(key.str()) + "\" is not an integer id");
    if (!wide && (*id == setting::IncludedFileCount || *id == setting::IncludedFileNames))
      return fail(key, "id " + std::to_string(*id) + " is set by zanto-pack from the [[include]] entries");
    if (!wide && *id == setting::CodePage && config_.codePage != 0)
      return fail(key, "id " + std::to_string(*id) + " is set by zanto-pack from [package] codepage (0 leaves it to [raw])");
    if (auto it = settingLines_[wide].find(*id); it != settingLines_[wide].end())
      return fail(key, "id " + std::to_string(*id) + " is already given as " + findSettingById(*id, wide)->name +
                           " in [settings] (line " + std::to_string(it->second) + ")");
    if (!wide) {
      if (!node.is_string())
        return fail(node, "a [raw.narrow] value must be a string, not " + std::string(typeName(node)));
      config_.narrowLines[*id] = key.source().begin.line;
      return narrowText(node, "raw id " + std::to_string(*id), config_.narrow[*id]);
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
          node, "a [raw.wide] value must be a string or an array of UTF-16 units, not " + std::string(typeName(node)));
    }
    config_.wide[*id] = std::move(units);
    return true;
  }

  bool version(const toml::table& table) {
    VersionSettings v;
    v.line = table.source().begin.line;
    for (auto&& [key, node] : table) {
      std::string name(key.str());
      std::u16string* field = name == "version"       ? &v.version
                              : name == "product"     ? &v.product
                              : name == "company"     ? &v.company
                              : name == "copyright"   ? &v.copyright
                              : name == "description" ? &v.description
                                                      : nullptr;
      if (!field)
        return fail(key, "unknown key '" + name +
                             "' in [version] (expected version, product, company, copyright, description)");
      if (!node.is_string()) return fail(node, name + " must be a string, not " + typeName(node));
      const std::string& text = node.as_string()->get();
      utf8ToUtf16(text, *field);
      if (field->find(u'\0') != std::u16string::npos) return fail(node, name + ": the text contains a NUL character");
      if (field->size() > kVersionTextLimit)
        return fail(node, name + ": the text is " + std::to_string(field->size()) + " UTF-16 units long; at most " +
                              std::to_string(kVersionTextLimit) + " are taken");
      if (field == &v.version && !parseVersionNumbers(text, v.numbers))
        return fail(node,
                    "version " + tomlQuoted(text) +
                        " is not two to four numbers from 0 to 65535 separated by dots (such as 1.4.2 or 1.4.2.7)");
    }
    if (v.version.empty()) return fail(table, "[version] needs a version, such as version = \"1.4.2\"");
    config_.version = std::move(v);
    return true;
  }

  static std::string tomlQuoted(const std::string& text) { return "\"" + text + "\""; }

  bool include(const toml::table& table) {
    IncludeEntry entry;
    entry.line = table.source().begin.line;
    const toml::node* nameNode = nullptr;
    std::string source;
    for (auto&& [key, node] : table) {
      if (key != "source" && key != "name")
        return fail(key, "unknown key '" + std::string(key.str()) + "' in [[include]] (expected source, name)");
      if (!node.is_string()) return fail(node, std::string(key.str()) + " must be a string, not " + typeName(node));
      if (key == "source")
        source = node.as_string()->get();
      else
        nameNode = &node;
    }
    if (source.empty()) return fail(table, "[[include]] needs a source file");
    entry.source = config_.file.parent_path() / pathFromUtf8(source);
    std::string name = nameNode ? nameNode->as_string()->get() : pathText(pathFromUtf8(source).filename());
    std::string problem;
    if (!utf8ToCodePage(config_.codePage, name, entry.name, problem) ||
        !(problem = includedFileNameProblem(entry.name)).empty())
      return fail(nameNode ? *nameNode : static_cast<const toml::node&>(table),
                  "included file name \"" + name + "\": " + problem);
    for (const IncludeEntry& other : config_.includes) {
      BlockModel pair;
      pair.files = {{other.name, {}}, {entry.name, {}}};
      if (std::string clash = modelProblem(pair); !clash.empty())
        return fail(table, clash + " (line " + std::to_string(other.line) + ")");
    }
    config_.includes.push_back(std::move(entry));
    return true;
  }

  const fs::path& file_;
  PackConfig& config_;
  std::string& error_;
  std::map<int32_t, uint32_t> settingLines_[2];  // narrow, wide: id to line
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

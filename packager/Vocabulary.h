// The readable configuration tables ([service], [service.recovery], [java], [app],
// [logs]) and how each key maps onto the settings of the one settings table, both
// ways: a configuration into records, and records back into readable keys for inspect.
#pragma once

#ifndef TOML_EXCEPTIONS
#define TOML_EXCEPTIONS 0
#endif
#include <toml++/toml.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zanto {

// The tables of the readable form, in the order inspect prints them.
constexpr const char* kReadableTables[] = {"service", "service.recovery", "java", "app", "logs"};

// The readable key ("service.name") that gives a setting, or null.
const char* readableKeyOf(int32_t id, bool wide);

// A setting value made from a readable key, to be checked as [settings] checks its values.
struct MappedSetting {
  int32_t id;
  bool wide;
  std::string key;  // the readable key, for messages: "logs.mode"
  std::unique_ptr<toml::node> value;
  uint32_t line;
};

struct ClassPathFile {
  std::filesystem::path source;
  uint32_t line;
};

struct VocabularyResult {
  std::vector<MappedSetting> settings;
  std::vector<ClassPathFile> includes;  // class path files packaged into the executable
  std::vector<std::pair<uint32_t, std::string>> errors;  // line, message
};

bool isReadableTable(std::string_view name);

// Maps the readable tables of `root`; relative class path entries are read against
// `configDirectory` (folders and patterns are listed here, files are read by the build).
void readVocabulary(const toml::table& root, const std::filesystem::path& configDirectory, VocabularyResult& out);

// JVM options or arguments as one string that the launcher's splitter cuts back into
// exactly these items; false (and why) when an item holds both kinds of quote.
bool joinParameters(const std::vector<std::string>& items, std::string& joined, std::string& problem);

// "17" (that version only), "11..21" (both inclusive), "1.8+" (that or later).
bool parseJavaVersionRange(std::string_view text, std::string& minimum, std::string& maximum, std::string& problem);

// " (did you mean 'X'?)" for the nearest candidate a typo could have come from, or empty.
std::string didYouMean(std::string_view name, const std::vector<std::string>& candidates);

// A record as inspect can show it under [settings]: its TOML literal and its text (UTF-8).
struct ShownRecord {
  std::string literal, text;
};

// The readable tables that give back exactly the records of `shown` they cover; the
// records they cover are added to `used` (narrow false, wide true, and the id).
std::string readableTablesOf(const std::map<std::pair<bool, int32_t>, ShownRecord>& shown,
                             std::set<std::pair<bool, int32_t>>& used);

// "a string", "an integer", ...: the kind of a TOML value, for error texts.
const char* tomlTypeName(const toml::node& node);

}  // namespace zanto

// The readable configuration vocabulary (see Vocabulary.h). Every key is one row of
// kKeys; composite keys (lists, the version range, the start kind, the restart
// delays) are turned into the text of their settings here, and back for inspect.
#include "Vocabulary.h"

#include <algorithm>
#include <cctype>

#include "BlockWriter.h"
#include "CodePage.h"
#include "Inspect.h"
#include "JavaVersion.h"
#include "PackConfig.h"
#include "ParameterSplitter.h"
#include "Settings.h"

namespace zanto {

namespace fs = std::filesystem;

namespace {

enum class Form {
  Direct,        // the value as [settings] takes it
  Boolean,       // a flag, given as true or false only
  Start,         // ExecutableType and DelayedAutoStart
  Restart,       // RestartOnFailure and the three delays
  Dependencies,  // a list joined by ','
  Version,       // MinJavaVersion and MaxJavaVersion
  Search,        // JvmSearchSequence
  Parameters,    // a list joined for the launcher's splitter
  ClassPath,     // ClassPath and included files
};

struct Key {
  const char* table;
  const char* name;
  Form form;
  int32_t id;
  bool wide;
};

using namespace setting;
const Key kKeys[] = {
    {"service", "name", Form::Direct, ApplicationName, false},
    {"service", "display_name", Form::Direct, DisplayName, true},
    {"service", "description", Form::Direct, ServiceDescription, true},
    {"service", "account", Form::Direct, ServiceAccount, false},
    {"service", "start", Form::Start, ExecutableType, false},
    {"service", "stop_timeout", Form::Direct, StopTimeout, false},
    {"service", "dependencies", Form::Dependencies, ServiceDependencies, false},
    {"service.recovery", "restart", Form::Restart, RestartOnFailure, false},
    {"service.recovery", "reset", Form::Direct, FailureResetPeriod, false},
    {"service.recovery", "on_exit_code", Form::Boolean, RestartOnNonCrashFailure, false},
    {"java", "version", Form::Version, MinJavaVersion, false},
    {"java", "search", Form::Search, JvmSearchSequence, false},
    {"java", "options", Form::Parameters, VmParameters, false},
    {"java", "jdk_only", Form::Boolean, RequireJdk, false},
    {"app", "main_class", Form::Direct, MainClass, false},
    {"app", "classpath", Form::ClassPath, setting::ClassPath, false},
    {"app", "args", Form::Parameters, Arguments, false},
    {"app", "working_dir", Form::Direct, WorkingDirectory, false},
    {"logs", "file", Form::Direct, OutputLog, false},
    {"logs", "error_file", Form::Direct, ErrorLog, false},
    {"logs", "mode", Form::Direct, LogMode, false},
    {"logs", "size", Form::Direct, LogSizeThreshold, false},
    {"logs", "keep", Form::Direct, LogKeepFiles, false},
    {"logs", "console", Form::Boolean, ConsoleLog, false},
};

// The settings a composite key writes besides its own id.
std::vector<int32_t> extraIds(Form form) {
  switch (form) {
    case Form::Start: return {DelayedAutoStart};
    case Form::Restart: return {RestartDelayFirst, RestartDelaySecond, RestartDelayLater};
    case Form::Version: return {MaxJavaVersion};
    default: return {};
  }
}

std::string fullKey(const Key& k) { return std::string(k.table) + "." + k.name; }

std::unique_ptr<toml::node> text(std::string value) { return std::make_unique<toml::value<std::string>>(std::move(value)); }
std::unique_ptr<toml::node> number(int64_t value) { return std::make_unique<toml::value<int64_t>>(value); }
std::unique_ptr<toml::node> flag(bool value) { return std::make_unique<toml::value<bool>>(value); }

std::unique_ptr<toml::node> copyOf(const toml::node& node) {
  return node.visit([](auto&& v) -> std::unique_ptr<toml::node> {
    return std::make_unique<std::remove_cvref_t<decltype(v)>>(v);
  });
}


bool endsWithNoCase(std::string_view text, std::string_view end) {
  if (text.size() < end.size()) return false;
  for (size_t i = 0; i < end.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[text.size() - end.size() + i])) != end[i]) return false;
  return true;
}

// A path on the machine the service runs on, not a file to package: it names a
// variable, a drive or a network share.
bool isTargetPath(std::string_view p) {
  return p.find("${") != std::string_view::npos || p.find('%') != std::string_view::npos ||
         (p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':') ||
         p.rfind("\\\\", 0) == 0;
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// A target class path item as a ClassPath entry: folder\*.jar is the folder's
// archives (S), a trailing separator a class folder (D), anything else a file (A).
bool targetEntry(std::string_view item, std::string& entry, std::string& problem) {
  if (endsWithNoCase(item, "*.jar") && item.size() > 6 && isSeparator(item[item.size() - 6])) {
    entry = "S1" + std::string(item.substr(0, item.size() - 6));
  } else if (isSeparator(item.back()) && item.size() > 1) {
    entry = "D1" + std::string(item.substr(0, item.size() - 1));
  } else {
    entry = "A1" + std::string(item);
  }
  if (entry.find_first_of("*?", 2) != std::string::npos) {
    problem = "a path on the target machine takes a pattern only as FOLDER\\*.jar";
    return false;
  }
  return true;
}

bool matches(std::string_view pattern, std::string_view name) {
  if (pattern.empty()) return name.empty();
  if (pattern[0] == '*')
    return matches(pattern.substr(1), name) || (!name.empty() && matches(pattern, name.substr(1)));
  return !name.empty() && (pattern[0] == '?' || pattern[0] == name[0]) && matches(pattern.substr(1), name.substr(1));
}

bool isArchive(const fs::path& p) {
  std::string name = pathText(p.filename());
  return endsWithNoCase(name, ".jar") || endsWithNoCase(name, ".zip");
}

// The files of a folder whose names match, sorted, so that the same folder always
// packages the same way.
std::vector<fs::path> listMatching(const fs::path& dir, std::string_view pattern, std::string& problem) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = pathText(it->path().filename());
    if (it->is_regular_file() && (pattern.empty() ? isArchive(it->path()) : matches(pattern, name)))
      found.push_back(it->path());
  }
  if (ec) problem = "cannot read the folder " + pathText(dir) + ": " + ec.message();
  std::sort(found.begin(), found.end());
  return found;
}

class Reader {
 public:
  Reader(const fs::path& dir, VocabularyResult& out) : dir_(dir), out_(out) {}

  void table(const std::string& name, const toml::table& t) {
    std::vector<std::string> known;
    for (const Key& k : kKeys)
      if (name == k.table) known.push_back(k.name);
    if (name == "service") known.push_back("recovery");
    for (auto&& [key, node] : t) {
      std::string keyName(key.str());
      if (name == "service" && keyName == "recovery") {
        if (!node.is_table()) error(key.source().begin.line, "'service.recovery' must be a table");
        continue;  // read as a table of its own
      }
      const Key* k = nullptr;
      for (const Key& candidate : kKeys)
        if (name == candidate.table && keyName == candidate.name) k = &candidate;
      if (!k) {
        error(key.source().begin.line,
              "unknown key '" + keyName + "' in [" + name + "]" + didYouMean(keyName, known) + " (expected " +
                  joined(known) + ")");
        continue;
      }
      entry(*k, node, key.source().begin.line);
    }
  }

 private:
  static std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
    return out;
  }

  void error(uint32_t line, std::string message) { out_.errors.emplace_back(line, std::move(message)); }

  void put(const Key& k, int32_t id, std::unique_ptr<toml::node> value, uint32_t line, bool wide = false) {
    out_.settings.push_back({id, wide, fullKey(k), std::move(value), line});
  }

  // The items of a list of strings, or an error.
  bool strings(const Key& k, const toml::node& node, uint32_t line, std::vector<std::string>& items) {
    const toml::array* a = node.as_array();
    if (!a) {
      error(line, fullKey(k) + " must be a list of strings, not " + tomlTypeName(node));
      return false;
    }
    for (auto&& item : *a) {
      if (!item.is_string()) {
        error(item.source().begin.line ? item.source().begin.line : line,
              fullKey(k) + " must be a list of strings; an item is " + tomlTypeName(item));
        return false;
      }
      items.push_back(item.as_string()->get());
    }
    return true;
  }

  void entry(const Key& k, const toml::node& node, uint32_t line) {
    const std::string key = fullKey(k);
    std::vector<std::string> items;
    switch (k.form) {
      case Form::Direct:
        if (k.id == MainClass && node.is_string() && node.as_string()->get().empty())
          return error(line, key + " is empty: name the class whose main method starts the application");
        return put(k, k.id, copyOf(node), line, k.wide);
      case Form::Boolean:
        if (!node.is_boolean()) return error(line, key + " must be true or false, not " + tomlTypeName(node));
        return put(k, k.id, copyOf(node), line);
      case Form::Start: {
        std::string start = node.is_string() ? node.as_string()->get() : "";
        if (start != "auto" && start != "demand" && start != "delayed")
          return error(line, key + " must be \"auto\", \"demand\" or \"delayed\"");
        put(k, ExecutableType, number(start == "demand" ? 0 : 4), line);
        if (start == "delayed") put(k, DelayedAutoStart, flag(true), line);
        return;
      }
      case Form::Restart: {
        if (node.is_boolean() && !node.as_boolean()->get()) return put(k, RestartOnFailure, flag(false), line);
        const toml::array* a = node.as_array();
        bool ok = a && !a->empty() && a->size() <= 3;
        for (size_t i = 0; ok && i < a->size(); ++i) ok = (*a)[i].is_integer();
        if (!ok)
          return error(line, key + " must be false or a list of one to three delays in seconds, such as [10, 60, 300]");
        put(k, RestartOnFailure, flag(true), line);
        // The last delay given stands for the failures after it.
        const int32_t ids[] = {RestartDelayFirst, RestartDelaySecond, RestartDelayLater};
        for (size_t i = 0; i < 3; ++i)
          put(k, ids[i], number((*a)[std::min(i, a->size() - 1)].as_integer()->get()), line);
        return;
      }
      case Form::Dependencies: {
        if (!strings(k, node, line, items)) return;
        std::string list;
        for (const std::string& item : items) {
          if (item.empty() || item.find(',') != std::string::npos)
            return error(line, key + ": \"" + item + "\" is no service name (empty or with ',')");
          list += (list.empty() ? "" : ",") + item;
        }
        return put(k, ServiceDependencies, text(list), line);
      }
      case Form::Version: {
        std::string minimum, maximum, problem;
        if (!node.is_string()) return error(line, key + " must be a string, such as \"17\", \"11..21\" or \"1.8+\"");
        if (!parseJavaVersionRange(node.as_string()->get(), minimum, maximum, problem))
          return error(line, key + ": " + problem);
        put(k, MinJavaVersion, text(minimum), line);
        if (!maximum.empty()) put(k, MaxJavaVersion, text(maximum), line);
        return;
      }
      case Form::Search: {
        if (!strings(k, node, line, items)) return;
        std::string sequence;
        for (const std::string& word : items) {
          std::string entry;
          if (word == "JAVA_HOME") entry = "EJAVA_HOME";
          else if (word.rfind("env:", 0) == 0 && word.size() > 4) entry = "E" + word.substr(4);
          else if (word == "registry") entry = "Y";
          else if (word == "path") entry = "S";
          else if (!word.empty() && word != "env:") entry = "A" + word;  // a folder, relative to the executable's
          if (entry.empty() || word.find(';') != std::string::npos)
            return error(line, key + ": \"" + word +
                                   "\" is no search word (\"JAVA_HOME\", \"env:NAME\", \"registry\", \"path\" or a "
                                   "folder without ';')");
          sequence += (sequence.empty() ? "" : ";") + entry;
        }
        return put(k, JvmSearchSequence, text(sequence), line);
      }
      case Form::Parameters: {
        std::string joinedText, problem;
        if (!strings(k, node, line, items)) return;
        if (!joinParameters(items, joinedText, problem)) return error(line, key + ": " + problem);
        return put(k, k.id, text(joinedText), line);
      }
      case Form::ClassPath: return classPath(k, node, line);
    }
  }

  void classPath(const Key& k, const toml::node& node, uint32_t line) {
    std::vector<std::string> items;
    if (!strings(k, node, line, items)) return;
    const std::string key = fullKey(k);
    std::string list;
    for (const std::string& item : items) {
      std::string problem, entry;
      if (item.empty() || item.find(';') != std::string::npos) {
        error(line, key + ": \"" + item + "\" is no class path item (empty or with ';')");
        continue;
      }
      if (isTargetPath(item)) {
        if (!targetEntry(item, entry, problem)) error(line, key + ": \"" + item + "\": " + problem);
        list += (list.empty() ? "" : ";") + entry;
        continue;
      }
      // A file, folder or pattern here, packaged into the executable.
      fs::path path = dir_ / pathFromUtf8(item);
      std::string last = pathText(path.filename());
      std::vector<fs::path> files;
      std::error_code ec;
      if (pathText(path.parent_path()).find_first_of("*?") != std::string::npos) {
        error(line, key + ": \"" + item + "\": only the file name may hold * or ?");
        continue;
      }
      if (last.find_first_of("*?") != std::string::npos) {
        files = listMatching(path.parent_path(), last, problem);
        if (problem.empty() && files.empty()) problem = "matches no file";
      } else if (fs::is_directory(path, ec)) {
        files = listMatching(path, "", problem);
        if (problem.empty() && files.empty()) problem = "the folder holds no .jar or .zip file";
      } else {
        files.push_back(path);
      }
      for (const fs::path& f : files)
        if (problem.empty() && !isArchive(f))
          problem = pathText(f.filename()) +
                    " is no .jar or .zip: the launcher puts only included archives on the class path (give other "
                    "files as [[include]])";
      if (!problem.empty()) {
        error(line, key + ": \"" + item + "\": " + problem);
        continue;
      }
      for (fs::path& f : files) out_.includes.push_back({std::move(f), line});
    }
    if (!list.empty()) put(k, setting::ClassPath, text(list), line);
  }

  fs::path dir_;
  VocabularyResult& out_;
};

}  // namespace

const char* readableKeyOf(int32_t id, bool wide) {
  static std::map<std::pair<bool, int32_t>, std::string> keys = [] {
    std::map<std::pair<bool, int32_t>, std::string> m;
    for (const Key& k : kKeys) {
      m[{k.wide, k.id}] = fullKey(k);
      for (int32_t extra : extraIds(k.form)) m[{false, extra}] = fullKey(k);
    }
    return m;
  }();
  auto it = keys.find({wide, id});
  return it == keys.end() ? nullptr : it->second.c_str();
}

bool isReadableTable(std::string_view name) { return name == "service" || name == "java" || name == "app" || name == "logs"; }

void readVocabulary(const toml::table& root, const fs::path& configDirectory, VocabularyResult& out) {
  Reader reader(configDirectory, out);
  for (const char* name : kReadableTables) {
    std::string_view n(name);
    const toml::node* node = n == "service.recovery" ? root.at_path("service.recovery").node() : root.get(n);
    if (const toml::table* t = node ? node->as_table() : nullptr) reader.table(name, *t);
  }
}

bool joinParameters(const std::vector<std::string>& items, std::string& joined, std::string& problem) {
  joined.clear();
  for (const std::string& item : items) {
    if (!joined.empty()) joined += ' ';
    // The splitter separates at blanks and takes ' and " as quotes, with no escape.
    if (!item.empty() && item.find_first_of(" '\"") == std::string::npos)
      joined += item;
    else if (item.find('"') == std::string::npos)
      joined += '"' + item + '"';
    else if (item.find('\'') == std::string::npos)
      joined += '\'' + item + '\'';
    else {
      problem = "the item " + item + " holds both ' and \", which the launcher cannot pass in one item";
      return false;
    }
  }
  return true;
}

namespace {

bool plainVersion(std::string_view v) {
  if (v.empty() || v.front() == '.' || v.back() == '.' || v.find("..") != std::string_view::npos) return false;
  return std::all_of(v.begin(), v.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

}  // namespace

bool parseJavaVersionRange(std::string_view text, std::string& minimum, std::string& maximum, std::string& problem) {
  minimum.clear();
  maximum.clear();
  if (size_t dots = text.find(".."); dots != std::string_view::npos) {
    minimum = text.substr(0, dots);
    maximum = text.substr(dots + 2);
  } else if (!text.empty() && text.back() == '+') {
    minimum = text.substr(0, text.size() - 1);
  } else {
    minimum = maximum = text;
  }
  const bool range = text.find("..") != std::string_view::npos;
  if (!plainVersion(minimum) || ((range || !maximum.empty()) && !plainVersion(maximum))) {
    problem = "\"" + std::string(text) + "\" is no version: give \"17\", \"11..21\" or \"1.8+\"";
    return false;
  }
  if (!maximum.empty() && compareVersionsNumeric(minimum.c_str(), maximum.c_str()) > 0) {
    problem = "\"" + std::string(text) + "\" ends below its start";
    return false;
  }
  return true;
}

std::string didYouMean(std::string_view name, const std::vector<std::string>& candidates) {
  // Optimal string alignment distance, ignoring case: a swap of two letters is one typo.
  auto distance = [](std::string_view a, std::string_view b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
    for (size_t i = 1; i <= a.size(); ++i)
      for (size_t j = 1; j <= b.size(); ++j) {
        size_t cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
        d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
        if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) && lower(a[i - 2]) == lower(b[j - 1]))
          d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    return d[a.size()][b.size()];
  };
  const size_t limit = std::max<size_t>(1, std::min<size_t>(3, name.size() / 3));
  const std::string* best = nullptr;
  size_t bestDistance = limit + 1;
  for (const std::string& c : candidates)
    if (size_t d = distance(name, c); d < bestDistance) {
      best = &c;
      bestDistance = d;
    }
  return best ? " (did you mean '" + *best + "'?)" : std::string();
}

namespace {

// The readable value of one key for the records it covers, or empty when they
// cannot be given this way.
std::string readableValue(const Key& k, const std::map<std::pair<bool, int32_t>, ShownRecord>& shown) {
  auto get = [&](int32_t id, bool wide = false) -> const ShownRecord* {
    auto it = shown.find({wide, id});
    return it == shown.end() ? nullptr : &it->second;
  };
  const ShownRecord* own = get(k.id, k.wide);
  auto list = [](const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + tomlString(items[i]);
    return out + "]";
  };
  auto split = [](const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1)
      parts.push_back(text.substr(start, end - start));
    parts.push_back(text.substr(start));
    return parts;
  };
  switch (k.form) {
    case Form::Direct:
      if (!own) return {};
      if (k.id == MainClass && own->text.empty()) return {};
      // An int setting shows as an integer, a text as a string: as [settings] would.
      return own->literal;
    case Form::Boolean:
      return own && (own->literal == "true" || own->literal == "false") ? own->literal : std::string();
    case Form::Start: {
      const ShownRecord* delayed = get(DelayedAutoStart);
      if (!own) return {};
      if (own->literal == "4" && !delayed) return "\"auto\"";
      if (own->literal == "4" && delayed && delayed->literal == "true") return "\"delayed\"";
      if (own->literal == "0" && !delayed) return "\"demand\"";
      return {};
    }
    case Form::Restart: {
      const ShownRecord *a = get(RestartDelayFirst), *b = get(RestartDelaySecond), *c = get(RestartDelayLater);
      if (!own) return {};
      if (own->literal == "false" && !a && !b && !c) return "false";
      if (own->literal != "true" || !a || !b || !c) return {};
      for (const ShownRecord* r : {a, b, c})
        if (r->literal.empty() || r->literal[0] == '"') return {};
      return "[" + a->literal + ", " + b->literal + ", " + c->literal + "]";
    }
    case Form::Dependencies: {
      if (!own || own->text.empty()) return {};
      std::vector<std::string> parts = split(own->text, ',');
      for (const std::string& p : parts)
        if (p.empty()) return {};
      return list(parts);
    }
    case Form::Version: {
      const ShownRecord* max = get(MaxJavaVersion);
      if (!own) return {};
      std::string range = !max ? own->text + "+" : own->text == max->text ? own->text : own->text + ".." + max->text;
      std::string minimum, maximum, problem;
      if (!parseJavaVersionRange(range, minimum, maximum, problem) || minimum != own->text ||
          maximum != (max ? max->text : ""))
        return {};
      return tomlString(range);
    }
    case Form::Search: {
      if (!own || own->text.empty()) return {};
      std::vector<std::string> words;
      for (const std::string& e : split(own->text, ';')) {
        if (e == "EJAVA_HOME") words.push_back("JAVA_HOME");
        else if (e.size() > 1 && e[0] == 'E') words.push_back("env:" + e.substr(1));
        else if (e == "Y") words.push_back("registry");
        else if (e == "S") words.push_back("path");
        else if (e.size() > 1 && e[0] == 'A' && e.substr(1) != "JAVA_HOME" && e.substr(1) != "registry" &&
                 e.substr(1) != "path" && e.rfind("Aenv:", 0) != 0)
          words.push_back(e.substr(1));
        else return {};
      }
      return list(words);
    }
    case Form::Parameters: {
      if (!own) return {};
      std::u16string units;
      utf8ToUtf16(own->text, units);
      std::vector<std::u16string> tokens;
      if (splitParameters(units.c_str(), tokens, SIZE_MAX) != SplitStatus::Ok) return {};
      std::vector<std::string> items;
      for (const std::u16string& t : tokens) utf16ToUtf8(t, items.emplace_back());
      std::string again, problem;
      return joinParameters(items, again, problem) && again == own->text ? list(items) : std::string();
    }
    case Form::ClassPath: {
      if (!own || own->text.empty()) return {};
      std::vector<std::string> items;
      for (const std::string& e : split(own->text, ';')) {
        std::string item = e.size() > 2 ? e.substr(2) : "", entry, problem;
        if (e.rfind("S1", 0) == 0) item += "\\*.jar";
        else if (e.rfind("D1", 0) == 0) item += "\\";
        else if (e.rfind("A1", 0) != 0) return {};
        if (!isTargetPath(item) || !targetEntry(item, entry, problem) || entry != e) return {};
        items.push_back(item);
      }
      return list(items);
    }
  }
  return {};
}

}  // namespace

std::string readableTablesOf(const std::map<std::pair<bool, int32_t>, ShownRecord>& shown,
                             std::set<std::pair<bool, int32_t>>& used) {
  std::string out;
  for (const char* table : kReadableTables) {
    std::string lines;
    for (const Key& k : kKeys) {
      if (std::string_view(k.table) != table) continue;
      std::string value = readableValue(k, shown);
      if (value.empty()) continue;
      lines += std::string(k.name) + " = " + value + "\n";
      used.insert({k.wide, k.id});
      for (int32_t extra : extraIds(k.form)) used.insert({false, extra});
    }
    if (!lines.empty()) out += "\n[" + std::string(table) + "]\n" + lines;
  }
  return out;
}

const char* tomlTypeName(const toml::node& node) {
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

}  // namespace zanto

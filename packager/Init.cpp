// The init command (see Init.h). The jar is read with libzip where the build has it
// (the native packager); the configuration text itself needs nothing but the facts.
#include "Init.h"

#include <algorithm>
#include <cctype>

#include "BlockWriter.h"
#include "Inspect.h"
#include "PackConfig.h"
#include "Resources.h"

#ifdef ZANTO_HAVE_LIBZIP
#include <zip.h>
#endif

namespace zanto {

namespace fs = std::filesystem;

std::string javaVersionOfClassMajor(int major) {
  // Class file 49 is Java 5 ("1.5"), 52 Java 8; from 53 (Java 9) the number is the version.
  if (major < 53) return "1." + std::to_string(std::max(major, 45) - 44);
  return std::to_string(major - 44);
}

namespace {

// The main section of a manifest: "Name: value" lines, continued by lines that
// begin with one blank, up to the first empty line.
[[maybe_unused]] std::map<std::string, std::string> parseManifest(const std::string& text) {
  std::map<std::string, std::string> out;
  std::string last;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    if (line.empty()) break;
    if (line[0] == ' ') {
      if (!last.empty()) out[last] += line.substr(1);
      continue;
    }
    size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    last = line.substr(0, colon);
    out[last] = line.substr(colon + 2);
  }
  return out;
}

const std::string* attribute(const JarFacts& facts, const char* name) {
  for (const auto& [key, value] : facts.manifest) {
    if (key.size() != std::char_traits<char>::length(name)) continue;
    if (std::equal(key.begin(), key.end(), name,
                   [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b)); }))
      return &value;
  }
  return nullptr;
}

std::string relativeItem(const fs::path& file, const fs::path& configDir) {
  std::error_code ec;
  fs::path rel = fs::relative(fs::absolute(file, ec), fs::absolute(configDir.empty() ? "." : configDir, ec), ec);
  return pathText((ec || rel.empty() ? file : rel).generic_string());
}

std::string serviceNameOf(const fs::path& jar) {
  std::string name;
  for (char c : pathText(jar.stem())) name += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' ? c : '-';
  return name.empty() ? "service" : name;
}

}  // namespace

#ifdef ZANTO_HAVE_LIBZIP
bool initAvailable() { return true; }

bool readJarFacts(const fs::path& jar, JarFacts& facts, std::string& error) {
  facts = JarFacts();
  int code = 0;
  zip_t* archive = zip_open(pathText(jar).c_str(), ZIP_RDONLY, &code);
  if (!archive) {
    zip_error_t e;
    zip_error_init_with_code(&e, code);
    error = pathText(jar) + ": " + zip_error_strerror(&e);
    zip_error_fini(&e);
    return false;
  }
  auto read = [&](zip_int64_t index, size_t limit, std::string& out) {
    zip_file_t* f = zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0);
    if (!f) return false;
    out.assign(limit, '\0');
    zip_int64_t n = zip_fread(f, out.data(), limit);
    zip_fclose(f);
    if (n < 0) return false;
    out.resize(static_cast<size_t>(n));
    return true;
  };
  zip_int64_t manifest = zip_name_locate(archive, "META-INF/MANIFEST.MF", ZIP_FL_NOCASE);
  std::string text;
  // A manifest is small; one far larger is no manifest a jar tool writes.
  if (manifest >= 0 && read(manifest, 1 << 20, text)) facts.manifest = parseManifest(text);
  zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* name = zip_get_name(archive, static_cast<zip_uint64_t>(i), 0);
    std::string_view n = name ? name : "";
    // Classes for later releases of a multi-release jar are not what it needs.
    if (n.size() < 6 || n.substr(n.size() - 6) != ".class" || n.rfind("META-INF/", 0) == 0) continue;
    std::string header;
    if (!read(i, 8, header) || header.size() < 8 || header.compare(0, 4, "\xCA\xFE\xBA\xBE") != 0) continue;
    int major = static_cast<uint8_t>(header[6]) << 8 | static_cast<uint8_t>(header[7]);
    facts.classMajor = std::max(facts.classMajor, major);
  }
  zip_discard(archive);
  return true;
}
#else
bool initAvailable() { return false; }

bool readJarFacts(const fs::path&, JarFacts&, std::string& error) {
  error = "init is not available in this build of zanto-pack (it reads jars with libzip, which the Windows "
          "build does not link); run it with the Linux zanto-pack";
  return false;
}
#endif

std::string initConfiguration(const fs::path& jar, const fs::path& config, const JarFacts& facts) {
  const fs::path configDir = config.parent_path();
  const std::string name = serviceNameOf(jar);
  auto attr = [&](const char* key) {
    const std::string* v = attribute(facts, key);
    return v ? *v : std::string();
  };
  const std::string mainClass = attr("Main-Class"), title = attr("Implementation-Title"),
                    version = attr("Implementation-Version"), module = attr("Automatic-Module-Name");
  // The runtime jar zanto-pack includes is built for Java 8.
  const int major = std::max(facts.classMajor, 52);
  std::string out;
  out += "# zanto service configuration for " + pathText(jar.filename()) + ", written by zanto-pack init.\n";
  out += "# Build it:  zanto-pack build " + pathText(config) + " -o " + name + ".exe\n";
  out += "# Run it:    " + name + ".exe /run   (or /install, then /start, as a service)\n";
  if (!module.empty()) out += "# The jar's module name: " + module + "\n";
  out += "\n[package]\n";
  out += "arch = \"x64\"          # the launcher for today's 64-bit Java runtimes\n";
  out += "modern_java = true    # every vendor's Java, versions compared by number\n";
  out += "\n[service]\n";
  out += "name = " + tomlString(name) + "   # the service name, from the jar's name\n";
  if (!title.empty()) out += "display_name = " + tomlString(title) + "   # Implementation-Title\n";
  else out += "# display_name = \"" + name + "\"   # what the services console shows\n";
  out += "# description = \"What this service does\"\n";
  out += "start = \"auto\"        # auto, demand or delayed\n";
  out += "# account = \"NT AUTHORITY\\\\LocalService\"   # default: LocalSystem\n";
  out += "\n[service.recovery]     # Windows restarts the service after a failure\n";
  out += "restart = [10, 60, 300]   # seconds before the first, second and later restarts\n";
  out += "reset = 86400             # a day without failure starts the count again\n";
  out += "on_exit_code = true       # System.exit(n), n not 0, counts as a failure\n";
  out += "\n[java]\n";
  out += "version = \"" + javaVersionOfClassMajor(major) + "+\"   # " +
         (facts.classMajor ? "the jar's classes need Java " + javaVersionOfClassMajor(facts.classMajor) +
                                 " (class file version " + std::to_string(facts.classMajor) + ")"
                           : "no classes found; the runtime needs Java 8") +
         "\n";
  out += "search = [\"JAVA_HOME\", \"registry\", \"path\"]   # or a folder beside the executable, such as \"jre\"\n";
  out += "# options = [\"-Xmx512m\"]   # JVM options, one per item\n";
  out += "\n[app]\n";
  if (!mainClass.empty())
    out += "main_class = " + tomlString(mainClass) + "   # Main-Class\n";
  else
    out += "main_class = \"\"   # FILL IN: the jar has no Main-Class; name the class whose main starts the service\n";
  std::string items = tomlString(relativeItem(jar, configDir)), missing;
  // Class-Path names further jars relative to the jar, separated by blanks.
  std::string classPath = attr("Class-Path");
  for (size_t start = 0; start < classPath.size();) {
    size_t end = classPath.find(' ', start);
    if (end == std::string::npos) end = classPath.size();
    std::string entry = classPath.substr(start, end - start);
    start = end + 1;
    if (entry.empty()) continue;
    fs::path file = jar.parent_path() / pathFromUtf8(entry);
    std::error_code ec;
    if (entry.find(':') == std::string::npos && fs::is_regular_file(file, ec))
      items += ", " + tomlString(relativeItem(file, configDir));
    else
      missing += "# Class-Path entry " + tomlString(entry) + " is not a file beside the jar; add it if it is needed\n";
  }
  out += "classpath = [" + items + "]   # packaged into the executable\n" + missing;
  out += "# args = [\"--port\", \"8080\"]   # the arguments of main, one per item\n";
  out += "working_dir = \".\"      # the executable's folder\n";
  out += "\n[logs]\n";
  out += "file = " + tomlString("logs\\" + name + ".log") + "   # everything the process writes, beside the executable\n";
  out += "mode = \"roll-by-day\"   # one file per day\n";
  out += "keep = 14\n";
  uint16_t numbers[4];
  if (!version.empty() && parseVersionNumbers(version, numbers))
    out += "\n[version]\nversion = " + tomlString(version) + "   # Implementation-Version\n" +
           (title.empty() ? "" : "product = " + tomlString(title) + "\n");
  else if (!version.empty())
    out += "\n# Implementation-Version " + tomlString(version) +
           " is no Windows file version (two to four numbers);\n# [version] version = \"1.0.0\" gives the "
           "executable one\n";
  return out;
}

bool initCommand(const fs::path& jar, const fs::path& config, std::string& next, std::string& error) {
  std::error_code ec;
  if (fs::exists(config, ec)) {
    error = pathText(config) + " exists; init does not replace it (give another with -o CONFIG)";
    return false;
  }
  JarFacts facts;
  if (!readJarFacts(jar, facts, error)) return false;
  std::string text = initConfiguration(jar, config, facts);
  if (!writeFileAtomically(config, Bytes(text.begin(), text.end()), error)) return false;
  std::string name = serviceNameOf(jar);
  next = "wrote " + pathText(config) + (attribute(facts, "Main-Class") ? "" : " (fill in app.main_class: the jar has no Main-Class)") +
         "\n  zanto-pack build " + pathText(config) + " -o " + name + ".exe\n  " + name + ".exe /run\n";
  return true;
}

}  // namespace zanto

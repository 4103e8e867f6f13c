// JVM options and class path assembly (see ClassPath.h). Every text is checked
// against its buffer before it is written; the class path is refused whole rather
// than cut, since a cut entry would name another file.
#include "ClassPath.h"

#include <windows.h>

#include <cstdint>
#include <cstring>

#include "ConfigBlock.h"
#include "ErrorReport.h"
#include "EventLog.h"
#include "Extraction.h"
#include "FileTrust.h"
#include "LaunchText.h"
#include "Log.h"
#include "ParameterSplitter.h"
#include "PathText.h"
#include "Paths.h"
#include "Settings.h"
#include "TextBuffer.h"
#include "VmOptionRules.h"

namespace zanto {

namespace {

bool endsWith(const std::string& text, char c) { return !text.empty() && text.back() == c; }

// One "E" entry: the variable's value, without one pair of enclosing quotes. The
// value is read whole (a CLASSPATH-like variable may be long).
void appendEnvironmentEntry(std::string& text, const char* name, bool required) {
  std::string value(kTextBufferSize, '\0');
  SetLastError(ERROR_SUCCESS);
  DWORD n = GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
  if (n >= value.size()) {
    value.assign(n, '\0');
    n = GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
    if (n >= value.size()) refuseTooLongText("class path environment value");
  }
  if (n == 0) {
    if (required && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
      fatalConfiguredError(message::EnvVarUndefined, "%ENV_VAR_NAME%", name);
    return;
  }
  value.resize(n);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  text += value;
  if (!endsWith(value, ';')) text += ';';
}

void appendEntry(std::string& text, const std::string& entry) {
  // An entry needs its type letter and flag; shorter ones name nothing.
  if (entry.size() < 2) {
    logError("class path entry ignored: %s", entry.c_str());
    return;
  }
  static char expanded[kTextBufferSize];
  static char resolved[kTextBufferSize];
  // A path, so it keeps the buffer of one; refused whole rather than cut.
  if (!copyText(expanded, sizeof expanded, entry.c_str() + 2)) refuseTooLongText("class path entry");
  expandLaunchText(expanded, "class path entry");
  const bool required = entry[1] == '1';
  bool found = false;
  switch (entry[0]) {
    case 'A':
    case 'D':
      resolveLaunchPath(resolved, expanded, "class path entry");
      found = fileExists(resolved);
      text += resolved;
      text += ';';
      break;
    case 'S': {
      resolveLaunchPath(resolved, expanded, "class path directory");
      bool jars = appendArchivesOfDirectory(text, resolved, "jar");
      bool zips = appendArchivesOfDirectory(text, resolved, "zip");
      found = jars || zips;
      break;
    }
    case 'E':
      appendEnvironmentEntry(text, expanded, required);
      return;
    default:
      return;
  }
  if (required && !found) fatalConfiguredError(message::FileNotFound, "%FILE_NAME%", expanded);
}

// Logged, not refused: a file edited by hand must not stop a service that ran before.
void logVmOptionFindings(std::span<const std::string> lines) {
  static char minimum[kTextBufferSize];
  getStringSetting(setting::MinJavaVersion, minimum, sizeof minimum);
  for (const VmOptionFinding& f : checkVmOptions(lines, minimum))
    logMessage("warning: .vmoptions line \"%s\": %s: %s", f.option.c_str(), f.why.c_str(), f.instead.c_str());
}

}  // namespace

bool appendArchivesOfDirectory(std::string& text, const char* directory, const char* extension) {
  if (!fileExists(directory)) return false;
  std::vector<std::string> names;
  listFiles(directory, extension, names);
  static char joined[kTextBufferSize];
  static char resolved[kTextBufferSize];
  for (const auto& name : names) {
    if (!formatText(joined, sizeof joined, "%s\\%s", directory, name.c_str()))
      refuseTooLongText("class path archive");
    resolveLaunchPath(resolved, joined, "class path archive");
    text += resolved;
    text += ';';
  }
  return true;
}

void appendRuntimeJar(std::string& text) {
  if (productFlavor() != 'i') return;
  static char root[kTextBufferSize];
  static char full[kTextBufferSize];
  readTextSetting(setting::InstallRoot, root, "InstallRoot");
  fullLaunchPath(full, root, false, "InstallRoot");
  text += full;
  if (!endsWith(text, '\\')) text += '\\';
  text += ".velmora\\vmrruntime.jar;";
}

void buildClassPath(std::string& text) {
  appendArchivesOfDirectory(text, extractionDirectory, "jar");
  appendArchivesOfDirectory(text, extractionDirectory, "zip");
  appendRuntimeJar(text);

  // The configured list is read whole: hundreds of entries do not fit 8192 bytes.
  const std::string list = wholeTextSetting(setting::ClassPath);
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    if (end > start) appendEntry(text, list.substr(start, end - start));
    start = end + 1;
  }
}

namespace {

// JVM options become code of this process (-agentpath, -XX:OnOutOfMemoryError):
// the file and the folder it lies in must be safe from others.
FILE* trustedVmOptions(FILE* file, const char* path) {
  if (!file) return nullptr;
  requireTrusted(path, "JVM options file");
  requireTrustedExecutableFolder();
  return file;
}

}  // namespace

FILE* readVmOptionsFile() {
  static char candidate[kTextBufferSize];
  const char* longPath = getExecutableLongPath();
  size_t length = std::strlen(longPath);
  if (length >= 4) {
    copyText(candidate, sizeof candidate, longPath);
    candidate[length - 4] = '\0';
    if (appendText(candidate, sizeof candidate, ".vmoptions"))
      if (FILE* file = std::fopen(candidate, "rt")) return trustedVmOptions(file, candidate);
  }
  if (!formatText(candidate, sizeof candidate, "%s.vmoptions", longPath)) return nullptr;
  return trustedVmOptions(std::fopen(candidate, "rt"), candidate);
}

void readVmOptionLines(FILE* file, std::vector<std::string>& options) {
  static char line[kTextBufferSize];
  while (std::fgets(line, sizeof line, file)) {
    size_t length = std::strlen(line);
    // A full buffer without the line's end: the line is longer than a read, and
    // its pieces would become options of their own.
    if (length == sizeof line - 1 && line[length - 1] != '\n') {
      int next = std::fgetc(file);
      if (next != EOF && next != '\n') refuseTooLongText(".vmoptions line");
    }
    while (length > 0 && (line[length - 1] == '\r' || line[length - 1] == '\n')) line[--length] = '\0';
    const char* start = line;
    while (*start == ' ') ++start;
    while (length > 0 && line + length > start && line[length - 1] == ' ') line[--length] = '\0';
    if (*start == '\0' || *start == '#') continue;
    options.emplace_back(start);
  }
}

void buildVmOptionList(std::vector<std::string>& options, const std::vector<std::wstring>& launchArguments) {
  if (FILE* file = readVmOptionsFile()) {
    const size_t first = options.size();
    readVmOptionLines(file, options);
    std::fclose(file);
    logVmOptionFindings(std::span<const std::string>(options).subspan(first));
  }

  static const char kPrefix[] = "-Djava.class.path=";
  std::string classPath = kPrefix;
  buildClassPath(classPath);
  // No empty element, the trailing one included: Java would search the current
  // directory (system32 for a service) for classes and service files.
  dropEmptyListElements(classPath.data() + sizeof kPrefix - 1);
  classPath.resize(std::strlen(classPath.c_str()));
  options.push_back(std::move(classPath));

  // JVM options have no fixed buffer either; the JVM takes options of any length.
  const std::string parameters = expandWholeText(wholeTextSetting(setting::VmParameters), "VmParameters");
  // From the block's code page to UTF-16, then to the ANSI code page the JVM reads options in.
  std::u16string wide = toWideText(parameters.c_str(), blockCodePage(), "VmParameters", SIZE_MAX);
  std::vector<std::u16string> tokens;
  switch (splitParameters(wide.c_str(), tokens, SIZE_MAX)) {
    case SplitStatus::Ok: break;
    case SplitStatus::UnmatchedQuote: fatalConfiguredError(message::WrongParameterUsage, nullptr, nullptr);
    case SplitStatus::TooLong: refuseTooLongText("VmParameters");
  }
  for (const auto& token : tokens) options.push_back(toNarrowText(token.data(), token.size()));

  std::vector<std::u16string> launch;
  for (const auto& arg : launchArguments)
    launch.emplace_back(reinterpret_cast<const char16_t*>(arg.data()), arg.size());
  const bool pass = getIntSetting(setting::PassVmArguments) != 0;
  for (const auto& option : vmArgumentsFromLaunchArgs(launch, pass)) {
    // Whoever may start a service (operators often may only that) would choose the
    // options of a JVM that runs as its account.
    if (isEventLogMode()) {
      logMessage("start parameter -J%s ignored: a service takes no JVM options from its start parameters",
                 toNarrowText(option.data(), option.size()).c_str());
      continue;
    }
    options.push_back(toNarrowText(option.data(), option.size()));
  }
}

}  // namespace zanto

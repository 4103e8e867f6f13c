// Shared set-up of the JVM-location tests (see JvmLocateSupport.h).
#include "JvmLocateSupport.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "ConfigBlock.h"
#include "Log.h"

namespace zanto::jvmtest {

namespace {
struct LogOn : ::testing::Environment {
  void SetUp() override { SetEnvironmentVariableA("ZANTO_LOG", "yes"); }
};
const auto* const logOn = ::testing::AddGlobalTestEnvironment(new LogOn);

const char* const kTouchedVariables[] = {"ZANTO_JAVA_HOME", "VELMORA_JAVA_HOME", "JAVA_HOME",
                                         "MYJAVA", "PATH"};
}  // namespace

std::string lower(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string fullLow(const std::wstring& path) { return lower(narrow(fullPath(path))); }

std::string launcherDirectory() {
  wchar_t shortPath[MAX_PATH * 4];
  std::wstring dir = testProgramDirectory();
  DWORD n = GetShortPathNameW(dir.c_str(), shortPath, MAX_PATH * 4);
  if (n > 0 && n < MAX_PATH * 4) dir.assign(shortPath, n);
  return lower(narrow(fullPath(dir))) + "\\";
}

std::vector<std::string> measured(const std::string& exe, const std::string& min,
                                  const std::string& max, int allowBeta, const std::string& version,
                                  int verdict) {
  return {"checkJavaExe (" + exe + ", [out], " + min + ", " + max + ", " +
              std::to_string(allowBeta) + ")",
          "file exists",
          "Exit Code 0",
          "Java version: " + version,
          "got version from execution " + version,
          "checkJavaExe returning " + std::to_string(verdict)};
}

void JvmLocateTest::SetUp() {
  clearVersionCache();
  clearLocatedJvms(HKEY_CURRENT_USER);
  clearLocatedJvms(HKEY_LOCAL_MACHINE);
  clearJavaSoft(RegistryView::Bits32);
  clearJavaSoft(RegistryView::Bits64);
  configStore().narrow.clear();
  configStore().wide.clear();
  loadProductFlavor();
  for (const char* name : kTouchedVariables) {
    char value[32768];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    savedEnv_.emplace_back(name, n > 0 && n < sizeof value ? std::string(value, n) : "");
    if (std::string(name) != "PATH") SetEnvironmentVariableA(name, nullptr);
  }
  relativeRoot_ = testProgramDirectory() + L"\\jvmlocate-rel";
  removeTree(relativeRoot_);
  markLog();
}

void JvmLocateTest::TearDown() {
  for (const auto& [name, value] : savedEnv_)
    SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
  savedEnv_.clear();
  removeTree(relativeRoot_);
  clearVersionCache();
  clearLocatedJvms(HKEY_CURRENT_USER);
  clearLocatedJvms(HKEY_LOCAL_MACHINE);
  clearJavaSoft(RegistryView::Bits32);
  clearJavaSoft(RegistryView::Bits64);
}

void JvmLocateTest::setSetting(int32_t id, const std::string& value) {
  configStore().narrow[id] = value;
  loadProductFlavor();
}

JavaHome JvmLocateTest::makeHome(const std::wstring& where, const std::string& version,
                                 const std::wstring& bin) const {
  JavaHome home(where);
  if (!version.empty()) {
    home.addJava(bin);
    home.setVersionOutput(bin, "java version \"" + version + "\"\n");
  }
  return home;
}

void JvmLocateTest::setEnv(const char* name, const std::string& value) {
  SetEnvironmentVariableA(name, value.c_str());
}

void JvmLocateTest::prependPath(const std::wstring& dir) {
  char value[32768];
  DWORD n = GetEnvironmentVariableA("PATH", value, sizeof value);
  std::string path = narrow(dir) + ";" + (n > 0 && n < sizeof value ? value : "");
  SetEnvironmentVariableA("PATH", path.c_str());
}

void JvmLocateTest::markLog() {
  logMessage("-- mark");
  const char* path = getLogPath();
  logMark_ = 0;
  if (!path) return;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (GetFileAttributesExA(path, GetFileExInfoStandard, &data)) logMark_ = data.nFileSizeLow;
}

std::vector<std::string> JvmLocateTest::newLog() const {
  std::vector<std::string> lines;
  const char* path = getLogPath();
  if (!path) return lines;
  std::string text = readFileBytes(widen(path));
  if (static_cast<long long>(text.size()) < logMark_) return lines;
  text = text.substr(static_cast<size_t>(logMark_));
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

::testing::AssertionResult containsInOrder(const std::vector<std::string>& log,
                                           const std::vector<std::string>& expected) {
  size_t at = 0;
  for (const auto& line : expected) {
    while (at < log.size() && lower(log[at]) != lower(line)) ++at;
    if (at == log.size()) {
      std::string all;
      for (const auto& l : log) all += "\n  " + l;
      return ::testing::AssertionFailure() << "missing (in order): " << line << "\nlog:" << all;
    }
    ++at;
  }
  return ::testing::AssertionSuccess();
}

bool contains(const std::vector<std::string>& log, const std::string& line) {
  return std::any_of(log.begin(), log.end(),
                     [&](const std::string& l) { return lower(l) == lower(line); });
}

}  // namespace zanto::jvmtest

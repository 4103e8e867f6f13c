// Shared set-up of the Java launch tests: a fresh settings store with message
// texts, a fixed scratch directory per test (gtest death tests repeat the set-up in
// the child), and the ".vmoptions" files beside the test program.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ConfigBlock.h"
#include "ErrorReport.h"
#include "Extraction.h"
#include "JavaHomeFixture.h"
#include "Paths.h"
#include "Settings.h"

namespace zanto::test {

using namespace zanto::fixture;

// gtest's simple regular expressions: every punctuation character escaped.
inline std::string literal(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::strchr("^$.[](){}|*+?\\", c)) out += '\\';
    out += c;
  }
  return out;
}

inline std::string testName() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "-" + info->name();
  for (char& c : name)
    if (c == '/') c = '-';
  return name;
}

// Test paths are ASCII; the launcher works in the ANSI code page.
inline std::string ansi(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += static_cast<char>(c);
  return out;
}

inline std::string lower(std::string text) {
  CharLowerBuffA(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

// Replaces every "{key}" by its value.
inline std::string fill(std::string text, const std::vector<std::pair<std::string, std::string>>& values) {
  for (const auto& [key, value] : values) {
    const std::string pattern = "{" + key + "}";
    for (size_t at = text.find(pattern); at != std::string::npos; at = text.find(pattern, at + value.size()))
      text.replace(at, pattern.size(), value);
  }
  return text;
}

// The executable path without ".exe" (the launcher's own view: short, lower case).
inline std::string vmOptionsBase() {
  char longPath[8192];
  DWORD n = GetLongPathNameA(getExecutablePath(), longPath, sizeof longPath);
  std::string exe = n > 0 && n < sizeof longPath ? longPath : getExecutablePath();
  return exe;
}

class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    dir_ = std::make_unique<TempDirectory>(widen(testName()), true);
    root_ = ansi(dir_->path());
    configStore().narrow.clear();
    configStore().wide.clear();
    set(message::FileNotFound, "missing file: %FILE_NAME%");
    set(message::WrongParameterUsage, "unmatched quote");
    set(message::EnvVarUndefined, "undefined variable: %ENV_VAR_NAME%");
    set(message::InternalError, "internal error %ERROR_CODE%");
    set(message::MainClassNotFound, "no main class");
    set(message::JvmStartFailed, "jvm start failed");
    set(message::MainMethodNotFound, "no main method");
    set(setting::MainClass, "com.example.App");
    loadProductFlavor();
    extractionDirectory[0] = '\0';
    useConsoleErrors();
    removeVmOptions();
  }
  void TearDown() override { removeVmOptions(); }

  static void removeVmOptions() {
    const std::string exe = vmOptionsBase();
    DeleteFileA((exe.substr(0, exe.size() - 4) + ".vmoptions").c_str());
    DeleteFileA((exe + ".vmoptions").c_str());
  }
  static void writeVmOptions(bool withExe, const std::string& content) {
    const std::string exe = vmOptionsBase();
    const std::string path = withExe ? exe + ".vmoptions" : exe.substr(0, exe.size() - 4) + ".vmoptions";
    ASSERT_TRUE(writeFile(widen(path), content)) << path;
  }

  static void set(int32_t id, const std::string& value) { configStore().narrow[id] = value; }
  static void flavour(const char* letter) {
    set(setting::ProductFlavor, letter);
    loadProductFlavor();
  }
  std::string path(const std::string& relative) const { return root_ + "\\" + relative; }

  std::unique_ptr<TempDirectory> dir_;
  std::string root_;
};

}  // namespace zanto::test

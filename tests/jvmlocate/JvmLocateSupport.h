// Shared set-up of the JVM-location tests: a clean registry and settings per
// test, Java homes made from the stand-ins, and the launcher log of this process
// read from a mark on.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "JavaHomeFixture.h"

namespace zanto::jvmtest {

using namespace zanto::fixture;

// Lower case, as getFullPath gives paths.
std::string lower(std::string text);
// The full, lower-case form of a path the test made.
std::string fullLow(const std::wstring& path);
// The launcher's own directory form (short names, lower case, trailing backslash).
std::string launcherDirectory();

// The lines checkJavaExe writes for an executable whose version is measured.
std::vector<std::string> measured(const std::string& exe, const std::string& min,
                                  const std::string& max, int allowBeta, const std::string& version,
                                  int verdict);

class JvmLocateTest : public ::testing::Test {
 public:
  void SetUp() override;
  void TearDown() override;

  void setSetting(int32_t id, const std::string& value);
  // A home with <bin>\java.exe answering `version` (empty: no java.exe at all).
  JavaHome makeHome(const std::wstring& where, const std::string& version,
                    const std::wstring& bin = L"bin") const;
  void setEnv(const char* name, const std::string& value);
  void prependPath(const std::wstring& dir);

  // Log lines written since SetUp (or the last markLog).
  std::vector<std::string> newLog() const;
  void markLog();

  TempDirectory dir_{L"jvmlocate"};
  std::wstring relativeRoot_;  // below the test program's directory, for relative entries

 private:
  long long logMark_ = 0;
  std::vector<std::pair<std::string, std::string>> savedEnv_;
};

// Asserts that `expected` occurs in `log` in this order (other lines between allowed).
::testing::AssertionResult containsInOrder(const std::vector<std::string>& log,
                                           const std::vector<std::string>& expected);
bool contains(const std::vector<std::string>& log, const std::string& line);

}  // namespace zanto::jvmtest

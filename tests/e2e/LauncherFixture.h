// Configured launcher copies for the end-to-end tests: made with the packager's
// block writer from the launcher under test (ZANTO_LAUNCHER), in a scratch
// directory that Wine sees through its Z: drive.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "BlockWriter.h"
#include "WineRunner.h"

namespace zanto::e2e {

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override;
  // Writes a copy configured by `model`; returns its Linux path.
  std::string package(const std::string& name, const BlockModel& model);
  // The same without the packager's checks, for blocks whose records disagree with
  // their data or name files the packager would refuse.
  std::string packageUnchecked(const std::string& name, const BlockModel& model);
  // A fresh scratch directory (Linux path) below this test's directory.
  std::string scratch(const std::string& name);
  static const Bytes& launcherImage();

 public:
  static const Bytes& launcherImageForHelpers() { return launcherImage(); }

 protected:
  std::string dir_;
};

// The log's name comes from the runtime's _tempnam with the prefix "vmr_nlog_";
// Wine's keeps only the first three letters of a prefix, as GetTempFileName does.
inline constexpr char kLogPrefix[] = "vmr";

// Narrow records from a list of (id, text).
BlockModel blockOf(std::initializer_list<std::pair<int32_t, std::string>> narrow);
std::string readText(const std::string& path);
std::vector<std::string> listDirectory(const std::string& path);

}  // namespace zanto::e2e

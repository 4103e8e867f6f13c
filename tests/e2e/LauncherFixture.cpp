// Launcher copies for the end-to-end tests (see LauncherFixture.h).
#include "LauncherFixture.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "PeLayout.h"

namespace zanto::e2e {

namespace fs = std::filesystem;

const Bytes& LauncherTest::launcherImage() {
  static Bytes image = [] {
    const char* path = std::getenv("ZANTO_LAUNCHER");
    Bytes bytes;
    std::string error;
    if (!path || !readFileBytes(path, bytes, error)) ADD_FAILURE() << "ZANTO_LAUNCHER unreadable: " << error;
    return bytes;
  }();
  return image;
}

void LauncherTest::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const char* base = std::getenv("ZANTO_E2E_DIR");
  dir_ = std::string(base ? base : "/tmp/zanto-e2e") + "/" + info->test_suite_name() + "." + info->name();
  fs::remove_all(dir_);
  fs::create_directories(dir_);
}

std::string LauncherTest::package(const std::string& name, const BlockModel& model) {
  std::string path = dir_ + "/" + name;
  std::string error;
  EXPECT_TRUE(writeLauncherCopy(launcherImage(), model, path, error)) << error;
  return path;
}

std::string LauncherTest::packageUnchecked(const std::string& name, const BlockModel& model) {
  std::string path = dir_ + "/" + name;
  const Bytes& image = launcherImage();
  MemorySource src(image.data(), image.size());
  PeInfo pe;
  EXPECT_TRUE(readPeInfo(src, &pe));
  Bytes copy(image.begin(), image.begin() + pe.lastSectionEnd);
  Bytes block = serializeBlock(model);
  copy.insert(copy.end(), block.begin(), block.end());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(copy.data()),
                                              static_cast<std::streamsize>(copy.size()));
  return path;
}

std::string LauncherTest::scratch(const std::string& name) {
  std::string path = dir_ + "/" + name;
  fs::remove_all(path);
  fs::create_directories(path);
  return path;
}

BlockModel blockOf(std::initializer_list<std::pair<int32_t, std::string>> narrow) {
  BlockModel model;
  for (const auto& [id, text] : narrow) model.narrow[id] = text;
  return model;
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> listDirectory(const std::string& path) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(path, ec)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace zanto::e2e

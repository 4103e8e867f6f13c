// The launcher reading its own block: every fatal text with exit code 1, and error
// reports on standard error or in a message box, with and without the log's path.
#include <filesystem>
#include <fstream>

#include "ConfigStore.h"
#include "LauncherFixture.h"
#include "Settings.h"

namespace zanto::e2e {
namespace {

namespace fs = std::filesystem;

constexpr char kInternal[] = "An internal error occurred (error code: %ERROR_CODE%)";

TEST_F(LauncherTest, PlainLauncherWithoutBlockStopsWithReadInt) {
  std::string exe = dir_ + "/plain.exe";
  std::ofstream(exe, std::ios::binary)
      .write(reinterpret_cast<const char*>(launcherImage().data()), static_cast<std::streamsize>(launcherImage().size()));
  std::vector<MessageBox> boxes;
  RunResult r = runTracingMessageBoxes(exe, {}, {}, boxes);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out.rfind("error ", 0), 0u) << r.out;
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Internal Error: readInt");
}

TEST_F(LauncherTest, BlockTruncatedAtEveryOffset) {
  BlockModel model = blockOf({{setting::ApplicationName, "svc"}, {setting::ExecutableType, "4"}});
  model.wide[setting::ServiceDescription] = u"desc";
  Bytes block = serializeBlock(model);
  Bytes copy;
  std::string error;
  ASSERT_TRUE(makeLauncherCopy(launcherImage(), model, copy, error)) << error;
  size_t prefix = copy.size() - block.size();
  // Every copy stays until the end, so that no copy reuses the inode of the one
  // run just before: a rare run here ended as if Wine had started an earlier image.
  std::vector<std::string> copies;
  for (size_t cut = 0; cut < block.size(); ++cut) {
    ConfigStore store;
    int64_t offset;
    MemorySource src(block.data(), cut);
    BlockError expected = parseConfigBlock(src, store, &offset);
    ASSERT_NE(expected, BlockError::None);
    std::string exe = dir_ + "/cut" + std::to_string(cut) + ".exe";
    std::ofstream(exe, std::ios::binary).write(reinterpret_cast<const char*>(copy.data()),
                                               static_cast<std::streamsize>(prefix + cut));
    std::vector<MessageBox> boxes;
    RunResult r = runTracingMessageBoxes(exe, {}, {}, boxes);
    EXPECT_EQ(r.exitCode, 1) << "cut " << cut << ": " << r.err;
    ASSERT_EQ(boxes.size(), 1u) << "cut " << cut << ": reports during block reading are message boxes; " << r.err;
    EXPECT_EQ(boxes[0].text, blockErrorText(expected)) << "cut " << cut;
    copies.push_back(exe);
  }
  for (const std::string& exe : copies) fs::remove(exe);
}

TEST_F(LauncherTest, BadMagicAndAbsurdLengths) {
  Bytes copy;
  std::string error;
  BlockModel model = blockOf({{setting::ApplicationName, "svc"}});
  ASSERT_TRUE(makeLauncherCopy(launcherImage(), model, copy, error)) << error;
  size_t blockAt = copy.size() - serializeBlock(model).size();
  struct Case {
    const char* name;
    size_t offset;
    std::vector<uint8_t> bytes;
    const char* text;
  } cases[] = {
      {"magic", 0, {0x00, 0x13, 0xE4, 0xE8}, "Internal Error: magic"},
      // The length of the only narrow record (behind magic, count and id).
      {"huge length", 12, {0xff, 0xff, 0xff, 0x7f}, "Internal Error: readString"},
      {"negative length", 12, {0xfe, 0xff, 0xff, 0xff}, "Internal Error: readString"},
  };
  for (const Case& c : cases) {
    Bytes bad = copy;
    std::copy(c.bytes.begin(), c.bytes.end(), bad.begin() + static_cast<long>(blockAt + c.offset));
    std::string exe = dir_ + "/" + c.name + ".exe";
    std::ofstream(exe, std::ios::binary).write(reinterpret_cast<const char*>(bad.data()),
                                               static_cast<std::streamsize>(bad.size()));
    std::vector<MessageBox> boxes;
    RunResult r = runTracingMessageBoxes(exe, {}, {}, boxes);
    EXPECT_EQ(r.exitCode, 1) << c.name;
    ASSERT_EQ(boxes.size(), 1u) << c.name;
    EXPECT_EQ(boxes[0].text, c.text) << c.name;
  }
}

// Extraction failure 16 is the first report after the block is read: an included
// file whose data ends early. It shows the chosen output and the "Log:" line.
std::string writeFailingExtraction(const std::string& exe, const char* executableType) {
  BlockModel model = blockOf({{setting::ExecutableType, executableType},
                              {message::ErrorCaption, "Zanto Caption"},
                              {message::InternalError, kInternal}});
  model.files.push_back({"short.jar", Bytes(100, 7)});
  Bytes copy;
  std::string error;
  EXPECT_TRUE(makeLauncherCopy(LauncherTest::launcherImageForHelpers(), model, copy, error)) << error;
  std::ofstream(exe, std::ios::binary).write(reinterpret_cast<const char*>(copy.data()),
                                             static_cast<std::streamsize>(copy.size() - 40));
  return exe;
}

std::vector<std::string> logsIn(const std::string& dir) {
  std::vector<std::string> logs;
  for (const std::string& name : listDirectory(dir))
    if (name.rfind(kLogPrefix, 0) == 0) logs.push_back(name);
  return logs;
}

TEST_F(LauncherTest, ReportsGoToStandardErrorOrAMessageBox) {
  struct Case {
    const char* type;
    bool box;
    bool log;
  } cases[] = {{"4", false, false}, {"0", false, true}, {"1", true, false}, {"5", true, true}};
  for (const Case& c : cases) {
    std::string tmp = scratch(std::string("tmp") + c.type);
    std::string exe = writeFailingExtraction(dir_ + "/report" + c.type + ".exe", c.type);
    Environment env{{"TMP", windowsPath(tmp)}, {"ZANTO_LOG", c.log ? "yes" : "no"}};
    std::vector<MessageBox> boxes;
    RunResult r = runTracingMessageBoxes(exe, {}, env, boxes);
    EXPECT_EQ(r.exitCode, 1) << c.type;
    std::string expected = "An internal error occurred (error code: 16)";
    std::string shown = c.box ? (boxes.empty() ? "" : boxes[0].text) : r.err;
    // Standard error is a text-mode stream: every line feed reaches the pipe as CR LF.
    for (size_t at; !c.box && (at = shown.find("\r\n")) != std::string::npos;) shown.erase(at, 1);
    std::vector<std::string> logs = logsIn(tmp);
    if (c.log) {
      ASSERT_EQ(logs.size(), 1u) << c.type;
      EXPECT_EQ(shown.rfind(expected + "\n\nLog: ", 0), 0u) << shown;
      EXPECT_NE(shown.find(logs[0]), std::string::npos) << shown;
      std::string log = readText(tmp + "/" + logs[0]);
      // The cut file is refused by its announced size, before anything is read.
      EXPECT_NE(log.find(" bytes announced, the included file data ends before\r\n"), std::string::npos) << log;
      EXPECT_NE(log.find("ERROR: Failed to extract "), std::string::npos) << log;
    } else {
      EXPECT_TRUE(logs.empty());
      EXPECT_EQ(shown, c.box ? expected : expected + "\n") << c.type;
    }
    if (c.box) {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].caption, "Zanto Caption");
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_TRUE(boxes.empty()) << c.type;
    }
  }
}

}  // namespace
}  // namespace zanto::e2e

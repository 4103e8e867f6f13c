// The registry deletion queue: scheduling, processing and the exit-time lists.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "DeletionQueue.h"
#include "WinTestSupport.h"

namespace zanto {
namespace {

constexpr char kKey[] = "SOFTWARE\\harnwick\\zanto\\temp";

std::string queued(const char* value) { return test::readRegistryString(HKEY_CURRENT_USER, kKey, value); }
void setQueue(const char* value, const std::string& text) {
  RegSetKeyValueA(HKEY_CURRENT_USER, kKey, value, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

class DeletionQueue : public ::testing::Test {
 protected:
  void SetUp() override { test::deleteRegistryTree(HKEY_CURRENT_USER, kKey); }
};

TEST_F(DeletionQueue, FirstRunDoesNothingThenScheduleCreatesTheKey) {
  processDeletionQueue();
  bool found = true;
  test::readRegistryString(HKEY_CURRENT_USER, kKey, "delete_file", &found);
  EXPECT_FALSE(found);
  scheduleDeletion("c:\\x\\a.tmp", "delete_file");
  EXPECT_EQ(queued("delete_file"), "c:\\x\\a.tmp;");
  scheduleDeletion("c:\\x\\b.tmp", "delete_file");
  EXPECT_EQ(queued("delete_file"), "c:\\x\\a.tmp;c:\\x\\b.tmp;");
  EXPECT_NE(test::logText().find("schedule for deletion in delete_file: c:\\x\\b.tmp"), std::string::npos);
}

TEST_F(DeletionQueue, FilesDeletedLockedKeptMissingDropped) {
  std::string dir = test::scratchDirectory("queue-files");
  std::string loose = dir + "\\loose.tmp", locked = dir + "\\locked.tmp", gone = dir + "\\gone.tmp";
  test::writeFile(loose, "1");
  test::writeFile(locked, "2");
  HANDLE hold = CreateFileA(locked.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(hold, INVALID_HANDLE_VALUE);
  setQueue("delete_file", loose + ";" + locked + ";" + gone + ";" + loose + ";");
  processDeletionQueue();
  CloseHandle(hold);
  EXPECT_FALSE(test::exists(loose));
  EXPECT_TRUE(test::exists(locked));
  EXPECT_EQ(queued("delete_file"), locked + ";");
  std::string log = test::logText();
  EXPECT_NE(log.find("delete file " + loose), std::string::npos);
  EXPECT_NE(log.find("didn't delete " + locked), std::string::npos);
  EXPECT_EQ(log.find("didn't delete " + gone), std::string::npos);
}

TEST_F(DeletionQueue, DirectoriesOneLevelDotEntriesAndDuplicates) {
  std::string root = test::scratchDirectory("queue-dirs");
  std::string flat = root + "\\flat", nested = root + "\\nested", emptySub = root + "\\emptysub";
  CreateDirectoryA(flat.c_str(), nullptr);
  test::writeFile(flat + "\\a", "a");
  test::writeFile(flat + "\\b", "b");
  CreateDirectoryA(nested.c_str(), nullptr);
  CreateDirectoryA((nested + "\\sub").c_str(), nullptr);
  test::writeFile(nested + "\\sub\\deep", "d");
  CreateDirectoryA(emptySub.c_str(), nullptr);
  CreateDirectoryA((emptySub + "\\sub").c_str(), nullptr);
  setQueue("delete_dir", flat + ";" + nested + ";.\\rel;" + emptySub + ";" + flat + ";" + flat + ";");
  processDeletionQueue();
  EXPECT_FALSE(test::exists(flat));
  EXPECT_FALSE(test::exists(emptySub)) << "an empty subdirectory is removed with its parent";
  EXPECT_TRUE(test::exists(nested + "\\sub\\deep"));
  EXPECT_EQ(queued("delete_dir"), nested + ";");
  EXPECT_EQ(test::logText().find("emptying .\\rel"), std::string::npos);
}

TEST_F(DeletionQueue, ValuesLongerThanTheReadBufferAreProcessedWhole) {
  std::string root = test::scratchDirectory("queue-long");
  std::string list;
  std::vector<std::string> files;
  for (int i = 0; list.size() < 12000; ++i) {
    std::string f = root + "\\file-with-a-rather-long-name-" + std::to_string(i) + ".tmp";
    test::writeFile(f, "x");
    files.push_back(f);
    list += f + ";";
  }
  setQueue("delete_file", list);
  processDeletionQueue();
  for (const std::string& f : files) EXPECT_FALSE(test::exists(f)) << f;
  EXPECT_EQ(queued("delete_file"), "");
}

TEST_F(DeletionQueue, TheLimitLeavesTheValueUnchanged) {
  // The stored size counts the terminator: size + length + 2 must stay within 32767.
  std::string filler(32755, 'f');
  setQueue("delete_dir", filler);
  scheduleDeletion("0123456789", "delete_dir");  // 32756 + 10 + 2 = 32768 > 32767
  EXPECT_EQ(queued("delete_dir").size(), filler.size());
  EXPECT_NE(test::logText().find("couldn't schedule for deletion in delete_dir: 0123456789"), std::string::npos);
  std::string fits(32754, 'f');  // exactly at the limit: 32755 + 10 + 2 = 32767
  setQueue("delete_dir", fits);
  scheduleDeletion("0123456789", "delete_dir");
  EXPECT_TRUE(queued("delete_dir") == fits + "0123456789;");
}

TEST_F(DeletionQueue, ConcurrentSchedulersLoseNothing) {
  constexpr int kThreads = 4, kEach = 40;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kEach; ++i)
        scheduleDeletion(("c:\\t" + std::to_string(t) + "-" + std::to_string(i)).c_str(), "delete_file");
    });
  for (auto& th : threads) th.join();
  std::string value = queued("delete_file");
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kEach; ++i)
      EXPECT_NE(value.find("c:\\t" + std::to_string(t) + "-" + std::to_string(i) + ";"), std::string::npos);
}

TEST_F(DeletionQueue, ExitCleanupQueuesEverythingRegisteredEachTime) {
  std::string dir = test::scratchDirectory("queue-exit");
  std::string file = dir + "\\held.tmp";
  test::writeFile(file, "x");
  registerExitFile(file.c_str());
  registerExitDirectory(dir.c_str());
  runExitCleanup();
  runExitCleanup();
  EXPECT_EQ(queued("delete_file"), file + ";" + file + ";");
  EXPECT_EQ(queued("delete_dir"), dir + ";" + dir + ";");
  EXPECT_FALSE(canOpenExclusively(file.c_str())) << "the queued file is held open";
}

}  // namespace
}  // namespace zanto

// The registry deletion queue: scheduling, processing, the exit-time lists, and
// what it refuses: entries it did not write, links, recreated names, foreign locks.
#include <gtest/gtest.h>
#include <windows.h>

#include <sddl.h>

#include <cstdio>
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

// A name of the form the launcher queues, in the temporary folder.
std::string queueName(unsigned n) {
  char temp[MAX_PATH], name[MAX_PATH + 32];
  GetTempPathA(sizeof temp, temp);
  std::snprintf(name, sizeof name, "%szto00000000%08x_dir", temp, n);
  return name;
}

std::string queueDirectory(unsigned n) {
  std::string name = queueName(n);
  test::removeTree(name);
  CreateDirectoryA(name.c_str(), nullptr);
  return name;
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
  std::string dir = queueDirectory(1);
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
  std::string flat = queueDirectory(2), nested = queueDirectory(3), emptySub = queueDirectory(4);
  test::writeFile(flat + "\\a", "a");
  test::writeFile(flat + "\\b", "b");
  CreateDirectoryA((nested + "\\sub").c_str(), nullptr);
  test::writeFile(nested + "\\sub\\deep", "d");
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
  std::string root = queueDirectory(5);
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
  // Other tests of this program may have registered a directory of their own before.
  std::string dirs = queued("delete_dir");
  size_t first = dirs.find(dir + ";"), second = dirs.find(dir + ";", first + 1);
  EXPECT_TRUE(first != std::string::npos && second != std::string::npos) << dirs;
  EXPECT_FALSE(canOpenExclusively(file.c_str())) << "the queued file is held open";
}

// Whatever the queue holds, only the launcher's own names below the temporary folder
// are acted on; the others are logged and dropped, their files untouched.
TEST_F(DeletionQueue, EntriesTheLauncherDidNotWriteAreDroppedUntouched) {
  std::string foreign = test::scratchDirectory("queue-foreign");
  test::writeFile(foreign + "\\keep", "k");
  std::string own = queueDirectory(6);
  std::string back = own + "\\..\\zanto-test-queue-foreign";
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string plain = std::string(temp) + "zanto-test-queue-foreign";
  struct {
    const char* value;
    std::string entry;
    std::string survivor;
  } const cases[] = {
      {"delete_dir", foreign, foreign + "\\keep"},
      {"delete_dir", back, foreign + "\\keep"},
      {"delete_dir", "c:" + foreign.substr(2), foreign + "\\keep"},
      {"delete_file", foreign + "\\keep", foreign + "\\keep"},
      {"delete_file", own + "\\..\\zanto-test-queue-foreign\\keep", foreign + "\\keep"},
      {"delete_dir", plain, plain + "\\keep"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    setQueue(c.value, c.entry + ";");
    processDeletionQueue();
    EXPECT_TRUE(test::exists(c.survivor));
    EXPECT_EQ(queued(c.value), "");
    EXPECT_NE(test::logText().find("dropped from the deletion queue: " + c.entry + " ("), std::string::npos);
  }
}

// A queued directory that is now a link, and links inside a queued directory: the
// targets keep everything. Wine opens a Unix link only as its target, so there the
// links stay; on Windows they are removed as links. Wine shows a link to a file as
// the file itself, no reparse point: that case is Windows' only.
TEST_F(DeletionQueue, LinksAreNeverFollowed) {
  // Links left by an earlier run go first: removing a tree follows them.
  const std::string linked = queueName(7), holder = queueName(8);
  const std::vector<std::string> links = {linked, holder + "\\sub", holder + "\\emptysub", holder + "\\file"};
  for (const std::string& link : links) test::removeLink(link);
  std::string target = test::scratchDirectory("queue-link-target");
  test::writeFile(target + "\\precious", "p");
  std::string emptyTarget = test::scratchDirectory("queue-link-empty");
  queueDirectory(8);
  RemoveDirectoryA(linked.c_str());
  ASSERT_TRUE(test::makeLink(linked, target));
  test::writeFile(holder + "\\plain", "x");
  ASSERT_TRUE(test::makeLink(holder + "\\sub", target));
  ASSERT_TRUE(test::makeLink(holder + "\\emptysub", emptyTarget));
  const bool fileLink = !test::runningUnderWine();
  if (fileLink) {
    ASSERT_TRUE(test::makeLink(holder + "\\file", target + "\\precious"));
  }
  setQueue("delete_dir", linked + ";" + holder + ";");
  if (fileLink) setQueue("delete_file", holder + "\\file;");
  processDeletionQueue();
  EXPECT_EQ(test::readFile(target + "\\precious"), "p");
  EXPECT_TRUE(test::exists(emptyTarget)) << "an empty target is no empty subdirectory of the queued one";
  EXPECT_FALSE(test::exists(holder + "\\plain"));
  if (!test::runningUnderWine()) {
    for (const std::string& link : links) EXPECT_EQ(GetFileAttributesA(link.c_str()), INVALID_FILE_ATTRIBUTES) << link;
    EXPECT_EQ(queued("delete_dir"), "");
  }
  EXPECT_EQ(queued("delete_dir").find(linked), std::string::npos) << "a link is never queued again";
  for (const std::string& link : links) test::removeLink(link);
}

// A directory made anew under a queued name once the queued one is gone is not the
// launcher's: it is neither queued again nor emptied by a later run.
std::string recreatedName;
BOOL WINAPI closeAndRecreate(HANDLE handle) {
  BOOL closed = CloseHandle(handle);
  if (!recreatedName.empty() && !test::exists(recreatedName)) {
    CreateDirectoryA(recreatedName.c_str(), nullptr);
    test::writeFile(recreatedName + "\\planted", "p");
    recreatedName.clear();
  }
  return closed;
}

TEST_F(DeletionQueue, ADirectoryRecreatedAfterRemovalIsNotQueuedAgain) {
  std::string dir = queueDirectory(9);
  test::writeFile(dir + "\\old", "o");
  setQueue("delete_dir", dir + ";");
  recreatedName = dir;
  DeletionQueueCalls saved = deletionQueueCalls;
  deletionQueueCalls.closeDeleted = closeAndRecreate;
  processDeletionQueue();
  deletionQueueCalls = saved;
  EXPECT_TRUE(recreatedName.empty()) << "the queued directory was removed";
  EXPECT_TRUE(test::exists(dir + "\\planted"));
  EXPECT_EQ(queued("delete_dir"), "");
}

std::string accountSid() {
  HANDLE token;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  alignas(TOKEN_USER) BYTE info[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD length = 0;
  GetTokenInformation(token, TokenUser, info, sizeof info, &length);
  CloseHandle(token);
  char* text = nullptr;
  ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(info)->User.Sid, &text);
  std::string out = text ? text : "";
  LocalFree(text);
  return out;
}

// A lock someone else made first (owned by Everyone, open to all) is held by another
// thread: it is not used. Without a lock that can be trusted nothing is processed.
TEST_F(DeletionQueue, ALockOfAnotherOwnerIsNotUsed) {
  struct {
    bool globalTaken, localTaken, processed;
  } const cases[] = {{false, false, true}, {true, false, true}, {true, true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.globalTaken) + std::to_string(c.localTaken));
    std::string dir = queueDirectory(10);
    setQueue("delete_dir", dir + ";");
    PSECURITY_DESCRIPTOR foreign = nullptr;
    ASSERT_TRUE(
        ConvertStringSecurityDescriptorToSecurityDescriptorA("O:WDD:(A;;GA;;;WD)", SDDL_REVISION_1, &foreign, nullptr));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, foreign, FALSE};
    std::vector<HANDLE> taken;
    for (const auto& [scope, take] : {std::pair{"Global", c.globalTaken}, std::pair{"Local", c.localTaken}}) {
      if (!take) continue;
      HANDLE made =
          CreateMutexA(&attributes, TRUE, (std::string(scope) + "\\zanto-deletion-queue-" + accountSid()).c_str());
      ASSERT_NE(made, nullptr);
      taken.push_back(made);
    }
    HANDLE lock = openDeletionQueueLock();
    EXPECT_EQ(lock != nullptr, c.processed);
    if (lock) CloseHandle(lock);
    // Held by this thread, which the launcher's wait would pass at once: processed on another.
    std::thread([] { processDeletionQueue(); }).join();
    EXPECT_EQ(!test::exists(dir), c.processed);
    EXPECT_EQ(queued("delete_dir"), c.processed ? "" : dir + ";");
    if (c.globalTaken) {
      EXPECT_NE(test::logText().find("was made by another account: not used"), std::string::npos);
    }
    for (HANDLE h : taken) {
      ReleaseMutex(h);
      CloseHandle(h);
    }
    LocalFree(foreign);
  }
}

}  // namespace
}  // namespace zanto

// The rolling writer on real files in a temporary directory, with a clock the test
// sets: size and day boundaries, keeping N files, long lines, names that sort in
// time, output kept over failed writes, and the drain marker in a split stream.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "RollingLog.h"
#include "Settings.h"

namespace zanto {
namespace {

namespace fs = std::filesystem;

struct TestClock : LogClock {
  uint32_t day = 20261209;
  uint32_t today() override { return day; }
};

// Real files; the "last write day" is the test clock's day of the last write, and
// writes or opens can be made to fail.
struct TestFiles : LogFiles {
  explicit TestFiles(TestClock& clock) : clock(clock) {}
  TestClock& clock;
  std::FILE* file = nullptr;
  std::string openPath;
  std::map<std::string, uint32_t> days;
  bool failOpen = false;
  size_t writeBudget = SIZE_MAX;  // bytes that may still be written
  std::vector<std::string> reports;

  bool open(const std::string& path, bool truncate) override {
    if (failOpen) return false;
    file = std::fopen(path.c_str(), truncate ? "wb" : "ab");
    openPath = path;
    return file != nullptr;
  }
  size_t write(const char* data, size_t size) override {
    size_t n = std::min(size, writeBudget);
    writeBudget -= n;
    std::fwrite(data, 1, n, file);
    std::fflush(file);
    days[openPath] = clock.day;
    return n;
  }
  void close() override {
    if (file) std::fclose(file);
    file = nullptr;
  }
  int64_t size(const std::string& path) override {
    std::error_code ec;
    auto n = fs::file_size(path, ec);
    return ec ? -1 : static_cast<int64_t>(n);
  }
  uint32_t modifiedDay(const std::string& path) override { return days.count(path) ? days[path] : 0; }
  bool rename(const std::string& from, const std::string& to) override {
    if (fs::exists(to)) return false;
    std::error_code ec;
    fs::rename(from, to, ec);
    if (!ec && days.count(from)) days[to] = days[from];
    return !ec;
  }
  bool remove(const std::string& path) override { return fs::remove(path); }
  void list(const std::string& directory, std::vector<std::string>& names) override {
    for (auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename().string());
  }
  unsigned long lastError() override { return 112; }
  void report(const std::string& line) override { reports.push_back(line); }
};

class RollingLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("zanto-rolling-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    path = (dir / "service.log").string();
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string read(const std::string& name) {
    std::ifstream in(dir / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::vector<std::string> names() {
    std::vector<std::string> all;
    for (auto& entry : fs::directory_iterator(dir)) all.push_back(entry.path().filename().string());
    std::sort(all.begin(), all.end());
    return all;
  }
  // Every file in name order: rolled ones first (their names sort before
  // "service.log"), then the current one.
  std::string everything() {
    std::string all;
    for (const std::string& name : names()) all += read(name);
    return all;
  }
  // Feeds the text in pieces of varying length, as pipe reads deliver it.
  static void feed(RollingLog& log, const std::string& text) {
    static const size_t kPieces[] = {1, 7, 300, 64, 4096, 13, 999};
    for (size_t at = 0, i = 0; at < text.size(); ++i) {
      size_t n = std::min(kPieces[i % 7], text.size() - at);
      log.write(text.data() + at, n);
      at += n;
    }
  }
  static std::string lines(int count, size_t length, char tag) {
    std::string text;
    for (int i = 0; i < count; ++i) {
      std::string line = tag + std::to_string(i) + " ";
      line.resize(length - 1, '.');
      text += line + "\n";
    }
    return text;
  }

  fs::path dir;
  std::string path;
  TestClock clock;
  TestFiles files{clock};
};

TEST(LogSettings, ModesAndSizes) {
  struct Case {
    const char* text;
    bool ok;
    uint64_t bytes;
  } sizes[] = {{"1024", true, 1024},
               {"1K", true, 1024},
               {"1k", true, 1024},
               {"10M", true, 10u << 20},
               {"1024G", true, 1ull << 40},
               {"1025G", false, 0},
               {"1023", false, 0},
               {"0", false, 0},
               {"", false, 0},
               {"10MB", false, 0},
               {" 1K", false, 0},
               {"-1K", false, 0},
               {"1.5M", false, 0},
               {"99999999999999999999", false, 0},
               {"18014398509481984K", false, 0}};
  for (const Case& c : sizes) {
    uint64_t bytes = 0;
    EXPECT_EQ(parseLogSize(c.text, bytes), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(bytes, c.bytes) << c.text;
    }
    EXPECT_EQ(textSettingProblem(setting::LogSizeThreshold, c.text) == nullptr, c.ok) << c.text;
  }
  LogMode mode;
  for (const char* good : {"", "append", "truncate", "roll-by-size", "roll-by-day"})
    EXPECT_TRUE(parseLogMode(good, mode) && !textSettingProblem(setting::LogMode, good)) << good;
  for (const char* bad : {"Append", "size", "roll-by-size ", "daily"})
    EXPECT_FALSE(parseLogMode(bad, mode) || !textSettingProblem(setting::LogMode, bad)) << bad;
}

TEST(LogSettings, RolledNamesSortInTime) {
  EXPECT_EQ(rolledSizeName("C:\\logs\\service.log", 1), "C:\\logs\\service.0001.log");
  EXPECT_EQ(rolledDayName("C:\\logs\\service.log", 20261209, 0), "C:\\logs\\service.20261209.log");
  EXPECT_EQ(rolledDayName("C:\\logs\\service.log", 20261209, 2), "C:\\logs\\service.20261209_2.log");
  EXPECT_EQ(rolledSizeName("C:\\logs.d\\service", 12), "C:\\logs.d\\service.0012");
  EXPECT_EQ(rolledSizeName("dir/.log", 3), "dir/.log.0003");
  std::vector<std::string> inTime = {rolledSizeName("s.log", 9), rolledSizeName("s.log", 10),
                                     rolledSizeName("s.log", 9999)};
  EXPECT_TRUE(std::is_sorted(inTime.begin(), inTime.end()));
  inTime = {rolledDayName("s.log", 20261130, 0), rolledDayName("s.log", 20261201, 0),
            rolledDayName("s.log", 20261201, 1), rolledDayName("s.log", 20270101, 0)};
  EXPECT_TRUE(std::is_sorted(inTime.begin(), inTime.end()));
}

TEST_F(RollingLogTest, RollsBySizeAtLineEndsAndKeepsTheNewest) {
  RollingLog log(files, clock, path, {LogMode::RollBySize, 1024, 3});
  log.start();
  std::string text = lines(200, 100, 'a');  // 20000 bytes: 19 rolls
  feed(log, text);
  std::vector<std::string> expected = {"service.0017.log", "service.0018.log", "service.0019.log", "service.log"};
  EXPECT_EQ(names(), expected);
  for (const std::string& name : expected) {
    std::string content = read(name);
    EXPECT_LE(content.size(), 1024u) << name;
    EXPECT_EQ(content.back(), '\n') << name;
    EXPECT_EQ(content.size() % 100, 0u) << name;
  }
  // What is kept is the end of the output, in order.
  std::string kept = everything();
  EXPECT_EQ(text.substr(text.size() - kept.size()), kept);
  EXPECT_TRUE(files.reports.empty());
}

TEST_F(RollingLogTest, LongLinesAreSplitNotLost) {
  RollingLog log(files, clock, path, {LogMode::RollBySize, 1024, 100});
  log.start();
  // A line just over the threshold ends within the slack; a much longer one is split.
  std::string text =
      lines(5, 100, 'a') + std::string(1100, 'x') + "\n" + std::string(5000, 'y') + "\n" + lines(3, 100, 'b');
  feed(log, text);
  EXPECT_EQ(everything(), text);
  for (const std::string& name : names()) EXPECT_LE(read(name).size(), 1024u + 256u) << name;
  EXPECT_EQ(read("service.0002.log"), std::string(1100, 'x') + "\n");
}

TEST_F(RollingLogTest, AppendKeepsAndTruncateEmpties) {
  for (LogMode mode : {LogMode::Append, LogMode::Truncate}) {
    for (int run = 0; run < 2; ++run) {
      RollingLog log(files, clock, path, {mode, 1024, 1});
      log.start();
      feed(log, lines(30, 100, 'r'));
    }
    EXPECT_EQ(names(), std::vector<std::string>{"service.log"});
    EXPECT_EQ(read("service.log").size(), mode == LogMode::Append ? 6000u : 3000u);
    fs::remove(path);
  }
}

TEST_F(RollingLogTest, RollsByDayUnderTheDateOfTheContent) {
  {
    RollingLog log(files, clock, path, {LogMode::RollByDay, 1024, 2});
    log.start();
    clock.day = 20261207;
    feed(log, "first day\n");
    clock.day = 20261208;
    feed(log, "second day, a line that");
    clock.day = 20261209;
    feed(log, " ends after midnight\nthird day\n");
  }
  // A restart on a later day rolls the file kept from the day before.
  clock.day = 20261210;
  RollingLog log(files, clock, path, {LogMode::RollByDay, 1024, 2});
  log.start();
  feed(log, "fourth day\n");
  std::vector<std::string> expected = {"service.20261208.log", "service.20261209.log", "service.log"};
  EXPECT_EQ(names(), expected);  // 20261207 removed: two days kept
  EXPECT_EQ(read("service.20261208.log"), "second day, a line that ends after midnight\n");
  EXPECT_EQ(read("service.20261209.log"), "third day\n");
  EXPECT_EQ(read("service.log"), "fourth day\n");
}

TEST_F(RollingLogTest, SequenceNumbersStartAgainAfter9999) {
  for (int n : {9997, 9998, 9999}) std::ofstream(dir / rolledSizeName("service.log", n)) << n << "\n";
  RollingLog log(files, clock, path, {LogMode::RollBySize, 1024, 3});
  log.start();
  feed(log, lines(11, 100, 'z'));  // one roll
  std::vector<std::string> expected = {"service.0001.log", "service.0002.log", "service.0003.log", "service.log"};
  EXPECT_EQ(names(), expected);
  EXPECT_EQ(read("service.0001.log"), "9998\n");
  EXPECT_EQ(read("service.0002.log"), "9999\n");
}

TEST_F(RollingLogTest, FailedWritesAreKeptReportedOnceAndRetried) {
  RollingLog log(files, clock, path, {LogMode::Append, 1024, 1});
  files.failOpen = true;
  log.start();  // an unwritable file does not stop anything
  files.writeBudget = 5;
  std::string text = lines(20, 50, 'k');
  feed(log, text.substr(0, 500));
  files.failOpen = false;
  feed(log, text.substr(500, 300));  // the first 5 bytes fit, then the disk is full
  ASSERT_EQ(files.reports.size(), 1u);
  EXPECT_NE(files.reports[0].find("cannot open output log " + path + " (error 112)"), std::string::npos);
  files.writeBudget = SIZE_MAX;
  feed(log, text.substr(800));
  EXPECT_EQ(read("service.log"), text);
  ASSERT_EQ(files.reports.size(), 2u);
  EXPECT_EQ(files.reports[1], "output log " + path + " is written again");

  // Beyond the pending limit output is dropped and counted, never buffered without end.
  files.writeBudget = 0;
  std::string big(kLogPendingLimit + 10, 'b');
  log.write(big.data(), big.size());
  files.writeBudget = SIZE_MAX;
  log.write("\n", 1);
  EXPECT_EQ(log.lostBytes(), 10u);
  EXPECT_EQ(read("service.log").size(), text.size() + kLogPendingLimit + 1);
  EXPECT_NE(files.reports.back().find("10 bytes of output were lost"), std::string::npos);
}

TEST(StreamMarker, RemovesTheTokenWhereverTheStreamIsCut) {
  struct Case {
    std::string token, stream, output;
    int tokens;
  } cases[] = {
      {"aab", "xaaabyaab", "xay", 2},  // a partial match that restarts inside itself
      {"abab", "abaababz", "abaz", 1},
      {std::string("\0ZD", 3), std::string("out\0Z\0ZDput\0", 12), std::string("out\0Zput\0", 9), 1},
      {"q", "qqxq", "x", 3},
      {"tok", "to", "to", 0},  // the end of the stream hands on a partial token
  };
  for (const Case& c : cases) {
    for (size_t cut = 0; cut <= c.stream.size(); ++cut) {
      StreamMarker marker(c.token);
      std::string out;
      auto sink = [&](const char* d, size_t n) { out.append(d, n); };
      int found = marker.feed(c.stream.data(), cut, sink);
      found += marker.feed(c.stream.data() + cut, c.stream.size() - cut, sink);
      marker.finish(sink);
      EXPECT_EQ(out, c.output) << c.stream << " cut at " << cut;
      EXPECT_EQ(found, c.tokens) << c.stream << " cut at " << cut;
    }
  }
}

}  // namespace
}  // namespace zanto

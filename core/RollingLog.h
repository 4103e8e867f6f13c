// The writer behind the launcher's output capture: log files that are appended to,
// truncated, or rolled by size or by local day, with the oldest rolled files
// removed. Portable: the files and the clock come in through interfaces, so the
// rules are tested natively in a temporary directory with a clock the test sets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zanto {

enum class LogMode : uint8_t { Append, Truncate, RollBySize, RollByDay };

constexpr uint64_t kMinLogSizeThreshold = 1024;
constexpr uint64_t kMaxLogSizeThreshold = uint64_t{1024} << 30;
constexpr uint64_t kDefaultLogSizeThreshold = uint64_t{10} << 20;
constexpr int kDefaultLogKeepFiles = 10;
constexpr int kMaxLogKeepFiles = 9999;
// Output that cannot be written (full disk, locked file) waits up to this much for
// the next try; what comes beyond it is counted and dropped.
constexpr size_t kLogPendingLimit = size_t{1} << 20;

// "append", "truncate", "roll-by-size", "roll-by-day"; an empty text is append.
bool parseLogMode(const char* text, LogMode& mode);
// Digits with an optional K, M or G (1024-based), within the limits above.
bool parseLogSize(const char* text, uint64_t& bytes);

// Local date as the number yyyymmdd.
class LogClock {
 public:
  virtual ~LogClock() = default;
  virtual uint32_t today() = 0;
};

// The file operations the writer needs, on one open file at a time. Paths use
// '\\' or '/' as separator.
class LogFiles {
 public:
  virtual ~LogFiles() = default;
  // Opens for writing at the end, emptied first when asked; false when it cannot.
  virtual bool open(const std::string& path, bool truncate) = 0;
  // Writes to the open file; returns the bytes written, fewer on a failure.
  virtual size_t write(const char* data, size_t size) = 0;
  virtual void close() = 0;
  // -1 when the file does not exist.
  virtual int64_t size(const std::string& path) = 0;
  // Local date (yyyymmdd) of the last write; 0 when unknown.
  virtual uint32_t modifiedDay(const std::string& path) = 0;
  // Fails when `to` exists.
  virtual bool rename(const std::string& from, const std::string& to) = 0;
  virtual bool remove(const std::string& path) = 0;
  // Names (without directory) of the files in a directory ("" is the current one).
  virtual void list(const std::string& directory, std::vector<std::string>& names) = 0;
  // The system's code of the last failure, for reports.
  virtual unsigned long lastError() = 0;
  // A line for the launcher's log.
  virtual void report(const std::string& line) = 0;
};

struct LogPolicy {
  LogMode mode = LogMode::Append;
  uint64_t threshold = kDefaultLogSizeThreshold;
  int keep = kDefaultLogKeepFiles;
};

// Rolled names: "service.log" gives "service.0001.log" and "service.20261209.log";
// a name without extension gets the number or date at its end.
std::string rolledSizeName(const std::string& path, int sequence);
std::string rolledDayName(const std::string& path, uint32_t day, int repeat);

class RollingLog {
 public:
  RollingLog(LogFiles& files, LogClock& clock, std::string path, LogPolicy policy);
  ~RollingLog();
  // Opens the file (truncated in truncate mode). A failure is reported and the
  // output kept for the next write, which tries again.
  void start();
  // Everything is written in order or, when the file cannot be written, kept (up to
  // kLogPendingLimit) for the next call; never blocks beyond the file operations.
  void write(const char* data, size_t size);
  uint64_t lostBytes() const { return lost_; }

 private:
  size_t emit(const char* data, size_t size);
  size_t nextPiece(const char* data, size_t size, bool& rollFirst);
  bool openCurrent(bool truncate);
  void roll();
  std::string rollTarget();
  void prune();
  void failed(const char* what);
  void keep(const char* data, size_t size);

  LogFiles& files_;
  LogClock& clock_;
  std::string path_;
  LogPolicy policy_;
  bool open_ = false;
  bool failing_ = false;
  bool truncateNext_ = false;
  bool atLineStart_ = true;
  uint64_t size_ = 0;
  uint64_t limit_ = 0;  // size at which the file rolls; raised after a failed rename
  uint32_t fileDay_ = 0;
  uint64_t lateBytes_ = 0;  // of a line finished in the file of the day before
  std::string pending_;
  uint64_t lost_ = 0;
  uint64_t lostReported_ = 0;
};

// Finds a token in a byte stream that arrives in pieces and passes every other
// byte on in order: the drain of the output capture sends the token down the pipe
// and knows that everything before it is written once the reader has seen it.
class StreamMarker {
 public:
  explicit StreamMarker(std::string token);
  // Calls out(data, size) for the bytes that are not the token; returns how many
  // tokens were completed in this piece.
  template <typename Out>
  int feed(const char* data, size_t size, Out&& out);
  // At the end of the stream: hands on a partly matched token.
  template <typename Out>
  void finish(Out&& out) {
    if (matched_) out(token_.data(), matched_);
    matched_ = 0;
  }

 private:
  std::string token_;
  std::vector<size_t> border_;  // longest proper border of each token prefix (KMP)
  size_t matched_ = 0;
};

template <typename Out>
int StreamMarker::feed(const char* data, size_t size, Out&& out) {
  int found = 0;
  size_t i = 0;
  while (i < size) {
    if (matched_ == 0) {
      const void* hit = std::char_traits<char>::find(data + i, size - i, token_[0]);
      size_t end = hit ? static_cast<size_t>(static_cast<const char*>(hit) - data) : size;
      if (end > i) out(data + i, end - i);
      if (!hit) break;
      i = end + 1;
      matched_ = 1;
    } else if (data[i] == token_[matched_]) {
      ++i;
      ++matched_;
    } else {
      // Hand on the part of the match that can no longer begin a token.
      size_t keep = border_[matched_];
      out(token_.data(), matched_ - keep);
      matched_ = keep;
      continue;
    }
    if (matched_ == token_.size()) {
      ++found;
      matched_ = 0;
    }
  }
  return found;
}

}  // namespace zanto

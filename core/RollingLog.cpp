// The rolling writer (see RollingLog.h). Files roll lazily, when the next output
// arrives, so that an idle service leaves no empty files behind.
#include "RollingLog.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace zanto {

namespace {

// A line that runs past the size threshold may finish in the same file within this
// distance; a longer one is split there.
uint64_t lineSlack(uint64_t threshold) { return std::min<uint64_t>(threshold / 4, 65536); }
// The same for a line that crosses midnight.
constexpr uint64_t kLateLine = 65536;

size_t separatorEnd(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? 0 : slash + 1;
}

// "dir\service.log" -> "dir\service" and ".log".
void splitExtension(const std::string& path, std::string& stem, std::string& extension) {
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < separatorEnd(path) || dot == separatorEnd(path)) dot = path.size();
  stem = path.substr(0, dot);
  extension = path.substr(dot);
}

std::string digits(uint32_t value, int width) {
  std::string text = std::to_string(value);
  if (static_cast<int>(text.size()) < width) text.insert(0, static_cast<size_t>(width) - text.size(), '0');
  return text;
}

bool allDigits(const std::string& text, size_t from, size_t count) {
  if (from + count > text.size()) return false;
  for (size_t i = from; i < from + count; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

}  // namespace

bool parseLogMode(const char* text, LogMode& mode) {
  static const struct {
    const char* name;
    LogMode mode;
  } kModes[] = {{"", LogMode::Append},
                {"append", LogMode::Append},
                {"truncate", LogMode::Truncate},
                {"roll-by-size", LogMode::RollBySize},
                {"roll-by-day", LogMode::RollByDay}};
  for (const auto& m : kModes)
    if (std::strcmp(text, m.name) == 0) {
      mode = m.mode;
      return true;
    }
  return false;
}

bool parseLogSize(const char* text, uint64_t& bytes) {
  uint64_t value = 0;
  const char* p = text;
  if (*p < '0' || *p > '9') return false;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + static_cast<uint64_t>(*p - '0');
    if (value > kMaxLogSizeThreshold) return false;
  }
  int shift = 0;
  switch (*p) {
    case '\0':
      break;
    case 'K':
    case 'k':
      shift = 10;
      ++p;
      break;
    case 'M':
    case 'm':
      shift = 20;
      ++p;
      break;
    case 'G':
    case 'g':
      shift = 30;
      ++p;
      break;
    default:
      return false;
  }
  if (*p != '\0' || value > (kMaxLogSizeThreshold >> shift)) return false;
  value <<= shift;
  if (value < kMinLogSizeThreshold) return false;
  bytes = value;
  return true;
}

std::string rolledSizeName(const std::string& path, int sequence) {
  std::string stem, extension;
  splitExtension(path, stem, extension);
  return stem + "." + digits(static_cast<uint32_t>(sequence), 4) + extension;
}

std::string rolledDayName(const std::string& path, uint32_t day, int repeat) {
  std::string stem, extension;
  splitExtension(path, stem, extension);
  // "_" sorts after ".", so a repeat lists after the day's first file.
  return stem + "." + digits(day, 8) + (repeat ? "_" + std::to_string(repeat) : std::string()) + extension;
}

RollingLog::RollingLog(LogFiles& files, LogClock& clock, std::string path, LogPolicy policy)
    : files_(files), clock_(clock), path_(std::move(path)), policy_(policy) {
  if (policy_.threshold < 1) policy_.threshold = 1;
  if (policy_.keep < 1) policy_.keep = 1;
  if (policy_.keep > kMaxLogKeepFiles) policy_.keep = kMaxLogKeepFiles;
  limit_ = policy_.threshold;
}

RollingLog::~RollingLog() {
  if (open_) files_.close();
}

void RollingLog::start() {
  truncateNext_ = policy_.mode == LogMode::Truncate;
  if (!openCurrent(truncateNext_)) failed("open");
}

bool RollingLog::openCurrent(bool truncate) {
  int64_t existing = truncate ? -1 : files_.size(path_);
  if (!files_.open(path_, truncate)) return false;
  truncateNext_ = false;
  open_ = true;
  size_ = existing > 0 ? static_cast<uint64_t>(existing) : 0;
  atLineStart_ = true;
  // A file kept from an earlier day rolls under that day's date at the first output.
  uint32_t day = size_ > 0 ? files_.modifiedDay(path_) : 0;
  fileDay_ = day ? day : clock_.today();
  return true;
}

void RollingLog::failed(const char* what) {
  if (failing_) return;
  failing_ = true;
  files_.report("cannot " + std::string(what) + " output log " + path_ + " (error " +
                std::to_string(files_.lastError()) + "); output is kept for the next try");
}

void RollingLog::keep(const char* data, size_t size) {
  size_t room = kLogPendingLimit - std::min(kLogPendingLimit, pending_.size());
  size_t kept = std::min(room, size);
  pending_.append(data, kept);
  lost_ += size - kept;
}

void RollingLog::write(const char* data, size_t size) {
  if (!pending_.empty()) {
    size_t done = emit(pending_.data(), pending_.size());
    pending_.erase(0, done);
    if (!pending_.empty()) return keep(data, size);
  }
  size_t done = emit(data, size);
  if (done < size) return keep(data + done, size - done);
  if (failing_) {
    failing_ = false;
    std::string line = "output log " + path_ + " is written again";
    if (lost_ > lostReported_) line += "; " + std::to_string(lost_ - lostReported_) + " bytes of output were lost";
    lostReported_ = lost_;
    files_.report(line);
  }
}

// How much of the data goes into the current file next; rollFirst when the file
// must roll before anything more is written.
size_t RollingLog::nextPiece(const char* data, size_t size, bool& rollFirst) {
  rollFirst = false;
  if (policy_.mode == LogMode::RollByDay) {
    uint32_t today = clock_.today();
    if (today == fileDay_) return size;
    if (size_ == 0) {
      fileDay_ = today;
      return size;
    }
    // Let a line begun yesterday end in yesterday's file, if it ends soon.
    if (!atLineStart_ && lateBytes_ < kLateLine) {
      size_t window = static_cast<size_t>(std::min<uint64_t>(size, kLateLine - lateBytes_));
      const void* nl = std::memchr(data, '\n', window);
      size_t piece = nl ? static_cast<size_t>(static_cast<const char*>(nl) - data) + 1 : window;
      lateBytes_ += piece;
      return piece;
    }
    rollFirst = true;
    return 0;
  }
  if (policy_.mode != LogMode::RollBySize) return size;
  uint64_t hard = limit_ + lineSlack(policy_.threshold);
  if (size_ >= limit_ && (atLineStart_ || size_ >= hard)) {
    rollFirst = true;
    return 0;
  }
  if (size_ < limit_) {
    uint64_t room = limit_ - size_;
    if (size <= room) return size;
    // The last line end that still fits.
    for (size_t i = static_cast<size_t>(room); i > 0; --i)
      if (data[i - 1] == '\n') return i;
    if (atLineStart_ && size_ > 0) {
      rollFirst = true;
      return 0;
    }
  }
  // A line crosses the threshold: finish it here if it ends within the slack.
  size_t window = static_cast<size_t>(std::min<uint64_t>(size, hard - size_));
  if (const void* nl = std::memchr(data, '\n', window))
    return static_cast<size_t>(static_cast<const char*>(nl) - data) + 1;
  return window;
}

size_t RollingLog::emit(const char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    if (!open_ && !openCurrent(truncateNext_)) {
      failed("open");
      return done;
    }
    bool rollFirst;
    size_t piece = nextPiece(data + done, size - done, rollFirst);
    if (rollFirst) {
      roll();
      continue;
    }
    size_t written = files_.write(data + done, piece);
    size_ += written;
    if (written > 0) atLineStart_ = data[done + written - 1] == '\n';
    done += written;
    if (written < piece) {
      // A partly written file is closed and opened again at the next try.
      files_.close();
      open_ = false;
      failed("write");
      return done;
    }
  }
  return done;
}

void RollingLog::roll() {
  files_.close();
  open_ = false;
  std::string target = rollTarget();
  if (target.empty() || !files_.rename(path_, target)) {
    // Keep writing into the current file rather than lose output; try again after
    // another threshold's worth (or the next day).
    files_.report("cannot roll output log " + path_ + " to " + target + " (error " +
                  std::to_string(files_.lastError()) + "); it goes on growing");
    if (!openCurrent(false)) return failed("open");
    limit_ = size_ + policy_.threshold;
    fileDay_ = clock_.today();
    lateBytes_ = 0;
    return;
  }
  limit_ = policy_.threshold;
  lateBytes_ = 0;
  prune();
  if (!openCurrent(true)) return failed("open");
  fileDay_ = clock_.today();
}

// The directory and the names of the rolled files of the current mode, oldest first.
static void rolledFiles(LogFiles& files, const std::string& path, LogMode mode, std::string& directory,
                        std::vector<std::string>& rolled) {
  size_t cut = separatorEnd(path);
  directory = path.substr(0, cut);
  std::string stem, extension;
  splitExtension(path.substr(cut), stem, extension);
  std::vector<std::string> names;
  files.list(directory, names);
  size_t head = stem.size() + 1;
  for (const std::string& name : names) {
    if (name.size() < head + extension.size() || name.compare(0, stem.size(), stem) != 0 || name[stem.size()] != '.' ||
        name.compare(name.size() - extension.size(), extension.size(), extension) != 0)
      continue;
    size_t middle = name.size() - head - extension.size();
    bool match =
        mode == LogMode::RollBySize
            ? middle == 4 && allDigits(name, head, 4)
            : middle >= 8 && allDigits(name, head, 8) &&
                  (middle == 8 || (middle > 9 && name[head + 8] == '_' && allDigits(name, head + 9, middle - 9)));
    if (match) rolled.push_back(name);
  }
  std::sort(rolled.begin(), rolled.end());
}

std::string RollingLog::rollTarget() {
  if (policy_.mode == LogMode::RollByDay) {
    for (int repeat = 0; repeat < 1000; ++repeat) {
      std::string name = rolledDayName(path_, fileDay_, repeat);
      if (files_.size(name) < 0) return name;
    }
    return {};
  }
  std::string directory;
  std::vector<std::string> rolled;
  rolledFiles(files_, path_, policy_.mode, directory, rolled);
  std::string stem, extension;
  splitExtension(path_.substr(separatorEnd(path_)), stem, extension);
  int last = rolled.empty() ? 0 : std::atoi(rolled.back().c_str() + stem.size() + 1);
  if (last >= 9999) {
    // Out of four-digit numbers: number the files kept from 1 again, in order.
    size_t first = rolled.size() > static_cast<size_t>(policy_.keep - 1) ? rolled.size() - (policy_.keep - 1) : 0;
    for (size_t i = 0; i < first; ++i) files_.remove(directory + rolled[i]);
    last = 0;
    for (size_t i = first; i < rolled.size(); ++i)
      if (files_.rename(directory + rolled[i], rolledSizeName(path_, last + 1))) ++last;
  }
  return rolledSizeName(path_, last + 1);
}

void RollingLog::prune() {
  std::string directory;
  std::vector<std::string> rolled;
  rolledFiles(files_, path_, policy_.mode, directory, rolled);
  for (size_t i = 0; i + static_cast<size_t>(policy_.keep) < rolled.size(); ++i) files_.remove(directory + rolled[i]);
}

StreamMarker::StreamMarker(std::string token) : token_(std::move(token)), border_(token_.size() + 1, 0) {
  for (size_t m = 2; m <= token_.size(); ++m) {
    size_t k = border_[m - 1];
    while (k > 0 && token_[m - 1] != token_[k]) k = border_[k];
    border_[m] = token_[m - 1] == token_[k] ? k + 1 : 0;
  }
}

}  // namespace zanto

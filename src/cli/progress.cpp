// SPDX-License-Identifier: MIT
// The progress line: its text, and the thread that draws it.
#include "cli/progress.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "common/platform.h"

namespace {

// The first line waits for the run to pass a second: a short run shows
// none. A terminal is redrawn a few times a second; a log gets a line now
// and then.
constexpr std::chrono::milliseconds kFirstAfter{1000};
constexpr std::chrono::milliseconds kRedrawEvery{250};
constexpr std::chrono::milliseconds kLineEvery{5000};

// Back to the start of the line, and the line cleared from there on.
constexpr char kLineStart[] = "\r";
constexpr char kClearRest[] = "\033[K";

// `bytes` in decimal units, with one decimal below 10: "812 B", "1.2 MB",
// "410 MB".
std::string amount(double bytes) {
  static const char* const kUnits[] = {"B", "kB", "MB", "GB", "TB", "PB", "EB"};
  size_t unit = 0;
  while (bytes >= 999.5 && unit + 1 < std::size(kUnits)) {
    bytes /= 1000;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit > 0 && bytes < 9.95 ? "%.1f %s" : "%.0f %s", bytes,
                kUnits[unit]);
  return text;
}

// `seconds` as "5 s", "3 min 20 s" or "2 h 5 min".
std::string duration(double seconds) {
  // A rate near nothing gives a time beyond any use; it is shown capped.
  const long long s = std::llround(std::min(seconds, 1e9));
  char text[48];
  if (s < 60) {
    std::snprintf(text, sizeof text, "%lld s", s);
  } else if (s < 3600) {
    std::snprintf(text, sizeof text, "%lld min %lld s", s / 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld h %lld min", s / 3600, s / 60 % 60);
  }
  return text;
}

}  // namespace

long CountingSource::read(unsigned char* buf, size_t cap) {
  long n = in_.read(buf, cap);
  if (n > 0) read_.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
  return n;
}

ProgressStyle progressStyle(int asked, std::FILE* input, bool outputIsStandardOutput) {
  if (asked < 0) return ProgressStyle::kNone;
  const bool terminal = platform::isTerminal(stderr);
  if (asked > 0) return terminal ? ProgressStyle::kRedrawn : ProgressStyle::kLines;
  if (!terminal || platform::isTerminal(input)) return ProgressStyle::kNone;
  if (outputIsStandardOutput && platform::isTerminal(stdout)) return ProgressStyle::kNone;
  return ProgressStyle::kRedrawn;
}

std::string progressText(uint64_t done, int64_t total, double seconds) {
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  std::string text = "quenbrel: " + amount(static_cast<double>(done));
  if (total <= 0) return text + " read, " + amount(rate) + "/s";
  // A file that grew while it was read is read whole at 100%.
  const uint64_t whole = static_cast<uint64_t>(total);
  const uint64_t left = whole - std::min(done, whole);
  // 100% only once all is read.
  const double share = 100.0 * static_cast<double>(whole - left) / static_cast<double>(whole);
  const int percent = left == 0 ? 100 : std::min(99, static_cast<int>(share));
  text += " of " + amount(static_cast<double>(whole)) + " (" + std::to_string(percent) + "%), " +
          amount(rate) + "/s";
  if (rate > 0) text += ", " + duration(static_cast<double>(left) / rate) + " left";
  return text;
}

Progress::Progress(const CountingSource& counted, int64_t total, ProgressStyle style,
                   std::FILE* out)
    : counted_(counted), total_(total), style_(style), out_(out), start_(Clock::now()) {
  thread_ = std::thread(&Progress::run, this);
}

// Sleeps until the next line is due or stop() wakes it.
void Progress::run() {
  const Clock::duration every = style_ == ProgressStyle::kRedrawn ? kRedrawEvery : kLineEvery;
  Clock::time_point next = start_ + kFirstAfter;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_until(lock, next, [this] { return stopping_; })) {
    draw();
    // A line held up (a slow terminal, a suspended process) is not made up
    // for with a burst of lines.
    next = std::max(next + every, Clock::now() + every / 2);
  }
}

void Progress::draw() {
  const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
  std::string line = progressText(counted_.bytesRead(), total_, seconds);
  if (style_ == ProgressStyle::kRedrawn) {
    line = kLineStart + line + kClearRest;
    drawn_ = true;
  } else {
    line += '\n';
  }
  // One write: a line is never left half drawn.
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fflush(out_);
}

void Progress::erase() {
  if (!drawn_) return;
  std::fputs((std::string(kLineStart) + kClearRest).c_str(), out_);
  std::fflush(out_);
  drawn_ = false;
}

void Progress::message(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  erase();
  std::fputs(text.c_str(), out_);
}

void Progress::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  erase();
}

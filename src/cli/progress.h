// SPDX-License-Identifier: MIT
// The progress of a long run on standard error: the input's bytes read (of
// its file's size, when that is known), the rate and the time left. On a
// terminal it is one line, redrawn in place a few times a second once the
// run has gone on for a second, and erased before every message of the
// run, so that the messages stand as they always did and no stale line is
// left. Where standard error is no terminal it is shown only when asked
// for, as a plain line every few seconds. The engine writes nothing to
// standard error: the line belongs to the command line, which counts the
// bytes its input source hands the engine.
#ifndef QUENBREL_CLI_PROGRESS_H
#define QUENBREL_CLI_PROGRESS_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "common/bytes.h"

// The source `in` as it is, counting the bytes read through it: the
// reader may be a read-ahead thread, the count is read by another.
class CountingSource final : public ByteSource {
 public:
  explicit CountingSource(ByteSource& in) : in_(in) {}

  long read(unsigned char* buf, size_t cap) override;
  bool mayWait() const override { return in_.mayWait(); }
  int64_t remaining() const override { return in_.remaining(); }
  bool stoppable(bool on) override { return in_.stoppable(on); }
  void stop() override { in_.stop(); }
  void close() override { in_.close(); }

  uint64_t bytesRead() const { return read_.load(std::memory_order_relaxed); }

 private:
  ByteSource& in_;
  std::atomic<uint64_t> read_{0};
};

enum class ProgressStyle {
  kNone,
  kRedrawn,  // one line on a terminal, redrawn in place
  kLines,    // a plain line now and then, for a log
};

// How a run shows its progress: `asked` as the options say it (-1 never, 0
// on a terminal, 1 always). A terminal that is also where the input is
// typed or the output shown gets none unless asked for: the line would be
// drawn into the user's own.
ProgressStyle progressStyle(int asked, std::FILE* input, bool outputIsStandardOutput);

// The text of the line: `done` bytes of `total` (-1 or 0: not known) after
// `seconds`.
std::string progressText(uint64_t done, int64_t total, double seconds);

// Shows the progress of `counted`, whose file holds `total` bytes (-1:
// not known), on `out` from its construction until stop(), on a thread of
// its own that sleeps between lines.
class Progress {
 public:
  Progress(const CountingSource& counted, int64_t total, ProgressStyle style, std::FILE* out);
  ~Progress() { stop(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Writes a message of the run (whole lines) where no line of progress
  // stands before it; the line may come back below it.
  void message(const std::string& text);

  // Ends the thread and erases the line: after it, the terminal holds only
  // what the run wrote besides. Called before the run's last message.
  void stop();

 private:
  using Clock = std::chrono::steady_clock;

  void run();
  void draw();
  void erase();

  const CountingSource& counted_;
  const int64_t total_;
  const ProgressStyle style_;
  std::FILE* out_;
  const Clock::time_point start_;

  std::mutex mutex_;  // guards what follows and every write to `out_`
  std::condition_variable wake_;
  bool stopping_ = false;
  bool drawn_ = false;  // a redrawn line stands on the terminal
  std::thread thread_;
};

#endif  // QUENBREL_CLI_PROGRESS_H

// SPDX-License-Identifier: MIT
// Where the engine's output bytes go: the plain stream as they are, or a
// compressor in front of it. The engine's buffer hands over large blocks.
#ifndef QUENBREL_OUTPUT_SINK_H
#define QUENBREL_OUTPUT_SINK_H

#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <utility>

// How the output ends: after the whole conversion, cut short by a failure,
// or untouched: held back, it never began (see BeginningSink), and nothing
// at all is written to it. A format with an end marker writes it only for a
// complete output, so that a reader can tell a cut-short file from a whole
// one.
enum class Ending { kComplete, kCutShort, kUntouched };

class Sink {
 public:
  virtual ~Sink() = default;

  // Takes `n` bytes of output. False once anything written has failed;
  // what comes after a failure is dropped.
  virtual bool write(const unsigned char* p, size_t n) = 0;

  // The run has come past the point where it may still fail without
  // touching its output: its first content line passed the format check,
  // or the input proved empty. An output held back begins now. False when
  // it cannot (a write failure).
  virtual bool begin() { return true; }

  // Ends the output: whatever a format writes last (its end marker only
  // for a complete output), then the stream is closed (standard output is
  // flushed instead). False when anything written since the start failed.
  // Called once, on every path.
  virtual bool finish(Ending ending) = 0;
};

// The plain stream: bytes written as they come.
class FileSink final : public Sink {
 public:
  explicit FileSink(FILE* F) : F_(F) {}
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  bool write(const unsigned char* p, size_t n) override;
  bool finish(Ending ending) override;

 private:
  FILE* F_;
  bool failed_ = false;
};

// Holds the output back until the run begins it: `begin` (which empties an
// earlier file, say) runs once, at begin() or before the first byte reaches
// `inner`. An output never begun is finished untouched: nothing is written
// to it, not even a format's marks. When `begin` fails, nothing reaches
// `inner` and the failure is a write failure. It stands in front of the
// chain, where the engine's begin() arrives.
class BeginningSink final : public Sink {
 public:
  BeginningSink(std::unique_ptr<Sink> inner, std::function<bool()> begin)
      : inner_(std::move(inner)), begin_(std::move(begin)) {}

  bool write(const unsigned char* p, size_t n) override { return begin() && inner_->write(p, n); }
  bool begin() override;
  bool finish(Ending ending) override;

 private:
  std::unique_ptr<Sink> inner_;
  std::function<bool()> begin_;
  enum class State { kWaiting, kBegun, kFailed } state_ = State::kWaiting;
};

#endif  // QUENBREL_OUTPUT_SINK_H

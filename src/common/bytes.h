// SPDX-License-Identifier: MIT
// The byte layer under input and output: where the engine's input bytes
// come from (a ByteSource) and where its output bytes end (the last Sink of
// the output chain). Each has small backends: a descriptor of the system
// (bytes_posix.cpp; a pipe or terminal read with a wait that another thread
// can end), and callbacks (the page's streams, a host language's file
// objects, the tests' and fuzzers' memory). Nothing above this layer sees a
// descriptor or a C stream.
#ifndef QUENBREL_COMMON_BYTES_H
#define QUENBREL_COMMON_BYTES_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Reads up to `cap` bytes into `buf`, delivering what a pipe holds
  // without waiting for a full buffer. Returns the number of bytes read, 0
  // at the end of the input, -1 on a read error and once stop() was called.
  virtual long read(unsigned char* buf, size_t cap) = 0;

  // Whether a read may wait for input that is not there yet: a pipe, a
  // terminal, a socket, a callback that says so; not a regular file.
  virtual bool mayWait() const = 0;

  // The bytes from where the source stands to its end, when that is known
  // (a regular file), else -1.
  virtual int64_t remaining() const { return -1; }

  // Lets stop() end a read that waits, while `on`: the descriptor backend
  // then waits on a wake-up as well as on its input, which costs a call per
  // read. False when the source cannot be stopped (the system gave no
  // wake-up, or a callback that waits): a read then ends only when input
  // comes or ends.
  virtual bool stoppable(bool on) {
    (void)on;
    return false;
  }

  // Ends a read that waits (and every later one) as a failure. Called from
  // another thread than the reader's.
  virtual void stop() {}

  // Done with the source: an owned descriptor is closed. Nothing is read
  // after.
  virtual void close() {}
};

// How the output ends: after the whole conversion, cut short by a failure,
// or untouched: held back, it never began (see BeginningSink), and nothing
// at all is written to it. A format with an end marker writes it only for a
// complete output, so that a reader can tell a cut-short file from a whole
// one.
enum class Ending { kComplete, kCutShort, kUntouched };

// Where output bytes go: a backend below, or a stage (a compressor, the
// index's observer) in front of another sink. The engine's buffer hands
// over large blocks.
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
  // for a complete output), then the backend lets go of its descriptor
  // (an owned one is closed). False when anything written since the start
  // failed. Called once, on every path.
  virtual bool finish(Ending ending) = 0;
};

// --- the descriptor backend (bytes_posix.cpp) -------------------------------

// Reads the descriptor `fd`; closes it at close() when `owned`.
std::unique_ptr<ByteSource> descriptorSource(int fd, bool owned);

// Writes the descriptor `fd` as the bytes come (nothing is buffered here);
// closes it at finish() when `owned`, where a failure to close (a file
// system that reports errors late) is a write failure.
std::unique_ptr<Sink> descriptorSink(int fd, bool owned);

// A named file to write, opened without emptying it, so that a run that
// fails before it writes anything leaves an earlier file as it was.
class FileSink : public Sink {
 public:
  // Empties what the file held before: only a regular file holds anything
  // (a FIFO or a device, /dev/stdout on a pipe, is written as it is).
  virtual bool empty() = 0;
};
// Null when the file cannot be opened for writing (or created).
std::unique_ptr<FileSink> openFileSink(const std::string& name);

// --- the callback backend ---------------------------------------------------

// Reads through `read`, which answers as ByteSource::read() does. A
// callback that may wait says so (`mayWait`); such a wait is not stopped,
// but stop() fails every read after it.
class CallbackSource final : public ByteSource {
 public:
  using Read = std::function<long(unsigned char* buf, size_t cap)>;
  explicit CallbackSource(Read read, bool mayWait = false)
      : read_(std::move(read)), mayWait_(mayWait) {}

  long read(unsigned char* buf, size_t cap) override;
  bool mayWait() const override { return mayWait_; }
  void stop() override { stopped_ = true; }

 private:
  Read read_;
  bool mayWait_;
  std::atomic<bool> stopped_{false};
};

// Writes through `write` (false: the bytes could not be written).
class CallbackSink final : public Sink {
 public:
  using Write = std::function<bool(const unsigned char* p, size_t n)>;
  explicit CallbackSink(Write write) : write_(std::move(write)) {}

  bool write(const unsigned char* p, size_t n) override;
  bool finish(Ending) override { return !failed_; }

 private:
  Write write_;
  bool failed_ = false;
};

#endif  // QUENBREL_COMMON_BYTES_H

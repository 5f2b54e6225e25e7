// SPDX-License-Identifier: MIT
// Where the engine's output bytes go: the plain stream as they are, or a
// compressor in front of it. The engine's buffer hands over large blocks.
#ifndef QUENBREL_OUTPUT_SINK_H
#define QUENBREL_OUTPUT_SINK_H

#include <cstddef>
#include <cstdio>

// How the output ends: after the whole conversion, or cut short by a
// failure. A format with an end marker writes it only for a complete
// output, so that a reader can tell a cut-short file from a whole one.
enum class Ending { kComplete, kCutShort };

class Sink {
 public:
  virtual ~Sink() = default;

  // Takes `n` bytes of output. False once anything written has failed;
  // what comes after a failure is dropped.
  virtual bool write(const unsigned char* p, size_t n) = 0;

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

#endif  // QUENBREL_OUTPUT_SINK_H

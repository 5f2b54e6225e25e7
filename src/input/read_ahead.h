// SPDX-License-Identifier: MIT
// Reading ahead of the engine: a thread reads a source (a plain file, a
// pipe, a decoder of compressed input) into a small ring of blocks while
// the engine converts the one before, so that copying out of the page
// cache, or decompressing, overlaps the converting.
#ifndef QUENBREL_INPUT_READ_AHEAD_H
#define QUENBREL_INPUT_READ_AHEAD_H

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "input/source.h"

class ReadAhead {
 public:
  // The blocks of the ring.
  static constexpr size_t kSlots = 4;

  // Reads `source` from where it stands, in blocks of up to `block` bytes,
  // each with `head` bytes of room before it. `in` is the input below the
  // source: stop() ends a wait of it for input.
  ReadAhead(std::unique_ptr<InputSource> source, ByteSource& in, size_t block, size_t head);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next block, in the source's order: sets `data` to its first byte
  // and returns its size, 0 at the end of the source, -1 on a read error or
  // damaged data (and on every call after either). The block, and the
  // `head` bytes before it, stay the caller's until the next call.
  long next(unsigned char*& data);

  // The source's message once next() has returned -1.
  std::string message() const;

  // Where the source's checks stood when the block next() handed out last
  // was read.
  UnitProgress progress() const { return progress_; }

  // Stops the thread and waits for it in join(): it finishes the read it
  // is in. A wait for a silent pipe or terminal ends at once where the
  // input is stoppable (ByteSource::stoppable()); where it is not, join()
  // waits until input comes or ends. next() is not called after; message()
  // still answers.
  void stop();

  // Stops reading ahead so that the engine can read the source itself: the
  // read in progress is finished and its block kept. Not for a source that
  // may wait (its wait would not end). The blocks filled before are still
  // handed out by next() until drained().
  void stopReading();

  // Whether every block filled was handed out (after stopReading()).
  bool drained() const;

  // Bytes filled and not yet handed out.
  long waiting() const;

  // The source, once drained(): to be read from where the last block ended.
  std::unique_ptr<InputSource> releaseSource();

  // Whether reading a plain input ahead pays: a regular file with more
  // than a few blocks left, and a second processor to read it on.
  static bool pays(const ByteSource& in, size_t block);

 private:
  void fill();
  void halt(bool endWait);

  std::unique_ptr<InputSource> source_;
  ByteSource& in_;
  const size_t block_;
  const size_t head_;
  std::unique_ptr<unsigned char[]> memory_;  // kSlots blocks with their heads
  long sizes_[kSlots] = {};                  // what each filled block holds
  UnitProgress checks_[kSlots];              // the source's checks after each
  UnitProgress progress_;                    // those of the block handed out last

  mutable std::mutex mutex_;
  std::condition_variable filled_;  // the reader filled a block
  std::condition_variable freed_;   // the engine gave a block back
  size_t filledCount_ = 0;          // blocks filled since the start
  size_t takenCount_ = 0;           // blocks handed to the engine
  bool holding_ = false;            // the engine holds the last one taken
  bool stop_ = false;
  std::string message_ = kReadFailedMessage;  // the source's, once a read failed
  std::thread thread_;
};

#endif  // QUENBREL_INPUT_READ_AHEAD_H

// SPDX-License-Identifier: MIT
// Reading a plain file ahead of the engine: a thread fills a small ring of
// blocks while the engine converts the one before, so that the copying
// out of the page cache overlaps the converting.
#ifndef QUENBREL_INPUT_READ_AHEAD_H
#define QUENBREL_INPUT_READ_AHEAD_H

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>

class ReadAhead {
 public:
  // Reads the descriptor `fd` from where it stands, in blocks of `block`
  // bytes, each with `head` bytes of room before it.
  ReadAhead(int fd, size_t block, size_t head);
  // Stops the thread (it finishes the read it is in) and waits for it.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next block, in file order: sets `data` to its first byte and
  // returns its size, 0 at the end of the file, -1 on a read error. The
  // block, and the `head` bytes before it, stay the caller's until the
  // next call.
  long next(unsigned char*& data);

  // Whether reading ahead pays for `fd`: a regular file with more than a
  // few blocks left, and a second processor to read it on.
  static bool pays(int fd, size_t block);

 private:
  static constexpr size_t kSlots = 4;

  void fill();

  const int fd_;
  const size_t block_;
  const size_t head_;
  std::unique_ptr<unsigned char[]> memory_;  // kSlots blocks with their heads
  long sizes_[kSlots] = {};                  // what each filled block holds

  std::mutex mutex_;
  std::condition_variable filled_;  // the reader filled a block
  std::condition_variable freed_;   // the engine gave a block back
  size_t filledCount_ = 0;          // blocks filled since the start
  size_t takenCount_ = 0;           // blocks handed to the engine
  bool holding_ = false;            // the engine holds the last one taken
  bool stop_ = false;
  std::thread thread_;
};

#endif  // QUENBREL_INPUT_READ_AHEAD_H

// SPDX-License-Identifier: MIT
// The read-ahead thread and its ring of blocks.
#include "input/read_ahead.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/processors.h"

ReadAhead::ReadAhead(int fd, size_t block, size_t head)
    : fd_(fd),
      block_(block),
      head_(head),
      memory_(new unsigned char[kSlots * (head + block)]),
      thread_(&ReadAhead::fill, this) {}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  freed_.notify_one();
  thread_.join();
}

bool ReadAhead::pays(int fd, size_t block) {
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  off_t at = lseek(fd, 0, SEEK_CUR);
  if (at < 0 || st.st_size - at <= static_cast<off_t>(4 * block)) return false;
  return processorCount() > 1;
}

// The reader: one read per block into the next free slot, until the end of
// the file, a read error, or the engine stops it. The block that ends the
// file or reports the error is the last one filled.
void ReadAhead::fill() {
  for (;;) {
    size_t slot;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      // A slot is free when it was never filled or was given back; the one
      // the engine holds is not.
      freed_.wait(lock, [this] {
        return stop_ || filledCount_ - takenCount_ + (holding_ ? 1 : 0) < kSlots;
      });
      if (stop_) return;
      slot = filledCount_ % kSlots;
    }
    unsigned char* data = memory_.get() + slot * (head_ + block_) + head_;
    ssize_t n;
    do {
      n = ::read(fd_, data, block_);
    } while (n < 0 && errno == EINTR);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sizes_[slot] = n < 0 ? -1 : static_cast<long>(n);
      ++filledCount_;
    }
    filled_.notify_one();
    if (n <= 0) return;
  }
}

long ReadAhead::next(unsigned char*& data) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (holding_) {
    holding_ = false;
    freed_.notify_one();
  }
  filled_.wait(lock, [this] { return filledCount_ > takenCount_; });
  size_t slot = takenCount_ % kSlots;
  long n = sizes_[slot];
  data = memory_.get() + slot * (head_ + block_) + head_;
  // The last block stays where it is: every later call gets it again.
  if (n <= 0) return n;
  ++takenCount_;
  holding_ = true;
  return n;
}

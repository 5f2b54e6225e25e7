// SPDX-License-Identifier: MIT
// The read-ahead thread and its ring of blocks.
#include "input/read_ahead.h"

#include <algorithm>
#include <utility>

#include "common/platform.h"

ReadAhead::ReadAhead(std::unique_ptr<InputSource> source, ByteSource& in, size_t block, size_t head)
    : source_(std::move(source)),
      in_(in),
      block_(block),
      head_(head),
      memory_(new unsigned char[kSlots * (head + block)]) {
  in_.stoppable(true);
  thread_ = std::thread(&ReadAhead::fill, this);
}

ReadAhead::~ReadAhead() { stop(); }

void ReadAhead::stop() { halt(true); }

void ReadAhead::stopReading() { halt(false); }

// Tells the thread to stop before its next read and waits for it; with
// `endWait`, a wait for input it is in ends too, as a failed read.
void ReadAhead::halt(bool endWait) {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  freed_.notify_one();
  // The input is stopped for good: nothing reads it after.
  if (endWait) in_.stop();
  thread_.join();
}

bool ReadAhead::drained() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return filledCount_ == takenCount_;
}

long ReadAhead::waiting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  long bytes = 0;
  for (size_t i = takenCount_; i < filledCount_; ++i) bytes += std::max(sizes_[i % kSlots], 0L);
  return bytes;
}

std::unique_ptr<InputSource> ReadAhead::releaseSource() {
  stopReading();
  // The engine reads on without a wake-up to wait on.
  in_.stoppable(false);
  return std::move(source_);
}

bool ReadAhead::pays(const ByteSource& in, size_t block) {
  return in.remaining() > static_cast<int64_t>(4 * block) && platform::processorCount() > 1;
}

// The reader: one read of the source per block into the next free slot,
// until the end of the source, a failure, or the engine stops it. The block
// that ends the source or reports the failure is the last one filled, after
// every block read before it.
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
    long n = source_->read(data, block_);
    std::string failure = n < 0 ? source_->message() : std::string();
    UnitProgress checks = source_->progress();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sizes_[slot] = n;
      checks_[slot] = checks;
      if (n < 0) message_ = std::move(failure);
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
  progress_ = checks_[slot];
  data = memory_.get() + slot * (head_ + block_) + head_;
  // The last block stays where it is: every later call gets it again.
  if (n <= 0) return n;
  ++takenCount_;
  holding_ = true;
  return n;
}

std::string ReadAhead::message() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return message_;
}

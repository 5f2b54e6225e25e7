// Decoding on a thread of its own, a few blocks ahead of the conversion.
//
// The worker fills free blocks with what the decoder delivers, in turn; the
// reader copies them out in the same order. A block holding 0 (the end) or
// -1 (an error) is the last the worker fills, so the reader meets the end
// or the error exactly where the decoder reported it, after all the data
// before it.
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "decoders.h"

namespace {

class MissingSource : public InputSource {
 public:
  explicit MissingSource(const char* message) : message_(message) {}
  long read(unsigned char*, size_t) override { return -1; }
  std::string message() const override { return message_; }

 private:
  const char* message_;
};

class AheadSource : public InputSource {
 public:
  AheadSource(std::unique_ptr<InputSource> inner, size_t cap, int blocks)
      : inner_(std::move(inner)), cap_(cap), blocks_(static_cast<size_t>(blocks)) {
    for (Block& b : blocks_) b.data.reset(new unsigned char[cap_]);
    worker_ = std::thread([this] { work(); });
  }
  ~AheadSource() override { stop(); }
  AheadSource(const AheadSource&) = delete;
  AheadSource& operator=(const AheadSource&) = delete;

  long read(unsigned char* buf, size_t cap) override;
  // Read only once read() has returned -1: the worker has then left the
  // decoder for good.
  std::string message() const override { return inner_->message(); }
  void stop() override;

 private:
  struct Block {
    std::unique_ptr<unsigned char[]> data;
    long n = 0;
  };

  void work();

  std::unique_ptr<InputSource> inner_;
  const size_t cap_;
  std::vector<Block> blocks_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t filled_ = 0;      // blocks filled and not yet read out (guarded)
  bool stopping_ = false;  // the reader wants no more (guarded)
  // The reader's side: the next block to read and how much of it is gone.
  size_t head_ = 0;
  size_t taken_ = 0;
  long last_ = 1;  // 0 or -1 once the end or an error was read
  std::thread worker_;
};

void AheadSource::work() {
  for (size_t i = 0;; i = (i + 1) % blocks_.size()) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return stopping_ || filled_ < blocks_.size(); });
      if (stopping_) return;
    }
    // Block i is free: the reader touches no block that is not filled.
    long n = inner_->read(blocks_[i].data.get(), cap_);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      blocks_[i].n = n;
      ++filled_;
    }
    changed_.notify_all();
    if (n <= 0) return;
  }
}

long AheadSource::read(unsigned char* buf, size_t cap) {
  if (last_ <= 0) return last_;
  Block& b = blocks_[head_];
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return filled_ > 0 || stopping_; });
    if (filled_ == 0) return -1;  // stopped: no more reads
  }
  if (b.n <= 0) {
    last_ = b.n;
    return last_;
  }
  // The block is the reader's until it is handed back below.
  size_t left = static_cast<size_t>(b.n) - taken_;
  size_t k = left < cap ? left : cap;
  std::memcpy(buf, b.data.get() + taken_, k);
  taken_ += k;
  if (taken_ == static_cast<size_t>(b.n)) {
    taken_ = 0;
    head_ = (head_ + 1) % blocks_.size();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      --filled_;
    }
    changed_.notify_all();
  }
  return static_cast<long>(k);
}

void AheadSource::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
}

}  // namespace

std::unique_ptr<InputSource> openMissing(const char* message) {
  return std::unique_ptr<InputSource>(new MissingSource(message));
}

std::unique_ptr<InputSource> runAhead(std::unique_ptr<InputSource> inner, size_t cap, int blocks) {
  return std::unique_ptr<InputSource>(new AheadSource(std::move(inner), cap, blocks));
}

// SPDX-License-Identifier: MIT
// The streaming sequence dictionary builder.
#include "output/dictionary.h"

#include <algorithm>
#include <cstring>

namespace {

// Upper-cased residues are gathered up to this many bytes for one call of
// the digest: a call per line would cost more than the digest of 60 bytes.
constexpr size_t kPending = size_t{64} * 1024;

// Copies `n` bytes from `p` to `out` with a to z made upper case; written
// without branches so that the compiler makes it a vector loop.
void copyUpper(const unsigned char* p, size_t n, unsigned char* out) {
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = p[i];
    out[i] = static_cast<unsigned char>(c - (static_cast<unsigned char>(c - 'a') < 26 ? 32 : 0));
  }
}

}  // namespace

DictionaryLines::DictionaryLines(FILE* F, std::string url)
    : F_(F), url_(std::move(url)), pending_(new unsigned char[kPending]) {
  if (std::fputs("@HD\tVN:1.0\tSO:unsorted\n", F_) < 0) failed_ = true;
}

void DictionaryLines::digestPending() {
  if (!md5_.update(pending_.get(), pendingLen_)) failed_ = true;
  pendingLen_ = 0;
}

void DictionaryLines::endRecord() {
  if (!inRecord_) return;
  inRecord_ = false;
  digestPending();
  std::string digest = md5_.hex();
  if (digest.empty()) failed_ = true;
  const std::string& name = header_.name();
  if (!names_.insert(name).second && duplicateSet_.insert(name).second) duplicates_.push_back(name);
  if (std::fprintf(F_, "@SQ\tSN:%s\tLN:%llu\tM5:%s\tUR:file://%s\n", name.c_str(),
                   static_cast<unsigned long long>(length_), digest.c_str(), url_.c_str()) < 0)
    failed_ = true;
}

// Residues up to the line end, upper-cased into the digest's pending bytes.
const unsigned char* DictionaryLines::residues(const unsigned char* p, const unsigned char* end) {
  const void* lf = std::memchr(p, '\n', static_cast<size_t>(end - p));
  const unsigned char* q = lf ? static_cast<const unsigned char*>(lf) : end;
  if (inRecord_) {
    length_ += static_cast<uint64_t>(q - p);
    while (p < q) {
      size_t n = std::min(static_cast<size_t>(q - p), kPending - pendingLen_);
      copyUpper(p, n, pending_.get() + pendingLen_);
      pendingLen_ += n;
      p += n;
      if (pendingLen_ == kPending) digestPending();
    }
  }
  if (lf == nullptr) return end;
  at_ = At::kLineStart;
  return q + 1;
}

void DictionaryLines::feed(const unsigned char* p, size_t n) {
  const unsigned char* const end = p + n;
  while (p < end) {
    if (at_ == At::kLineStart) {
      if (*p == '>') {
        endRecord();
        inRecord_ = true;
        header_.start();
        length_ = 0;
        if (!md5_.restart()) failed_ = true;
        at_ = At::kHeader;
        ++p;
        continue;
      }
      at_ = At::kResidues;
    }
    if (at_ == At::kResidues) {
      p = residues(p, end);
    } else {
      p = header_.read(p, end);
      if (header_.ended()) at_ = At::kLineStart;
    }
  }
}

bool DictionaryLines::end() {
  endRecord();
  return !failed_;
}

DictionaryBuilder::DictionaryBuilder(FILE* F, std::string url, bool ownThread)
    : lines_(F, std::move(url)) {
  if (!ownThread) return;
  memory_.reset(new unsigned char[kSlots * kBlock]);
  thread_ = std::thread([this] { digest(); });
}

DictionaryBuilder::~DictionaryBuilder() { stop(); }

void DictionaryBuilder::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  handed_.notify_one();
  thread_.join();
}

void DictionaryBuilder::feed(const unsigned char* p, size_t n) {
  if (!thread_.joinable()) {
    lines_.feed(p, n);
    return;
  }
  while (n > 0) {
    unsigned char* block = memory_.get() + (handedCount_ % kSlots) * kBlock;
    size_t k = std::min(n, kBlock - filling_);
    std::memcpy(block + filling_, p, k);
    filling_ += k;
    p += k;
    n -= k;
    if (filling_ == kBlock) hand();
  }
}

// Hands the block being filled to the thread, and waits until the next one
// is free.
void DictionaryBuilder::hand() {
  std::unique_lock<std::mutex> lock(mutex_);
  sizes_[handedCount_ % kSlots] = filling_;
  ++handedCount_;
  filling_ = 0;
  handed_.notify_one();
  freed_.wait(lock, [this] { return handedCount_ - doneCount_ < kSlots; });
}

// The thread: reads the blocks in the order they were handed over.
void DictionaryBuilder::digest() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    handed_.wait(lock, [this] { return stop_ || ending_ || doneCount_ < handedCount_; });
    if (stop_ || doneCount_ == handedCount_) return;
    size_t slot = doneCount_ % kSlots;
    lock.unlock();
    lines_.feed(memory_.get() + slot * kBlock, sizes_[slot]);
    lock.lock();
    ++doneCount_;
    freed_.notify_one();
  }
}

bool DictionaryBuilder::end() {
  if (thread_.joinable()) {
    if (filling_ > 0) hand();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ending_ = true;
    }
    handed_.notify_one();
    thread_.join();
  }
  return lines_.end();
}

// SPDX-License-Identifier: MIT
// The streaming sequence dictionary builder.
#include "output/dictionary.h"

#include <algorithm>

namespace {

constexpr size_t kPending = size_t{64} * 1024;

}  // namespace

// Written without branches so that the compiler makes it a vector loop.
void copyUpper(const unsigned char* p, size_t n, unsigned char* out) {
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = p[i];
    out[i] = static_cast<unsigned char>(c - (static_cast<unsigned char>(c - 'a') < 26 ? 32 : 0));
  }
}

DictionaryWriter::DictionaryWriter(FILE* F, std::string url) : F_(F), url_(std::move(url)) {
  if (std::fputs("@HD\tVN:1.0\tSO:unsorted\n", F_) < 0) failed_ = true;
}

void DictionaryWriter::begin(const std::string& name) {
  endRecord();
  inRecord_ = true;
  name_ = name;
  length_ = 0;
  md5_.restart();
}

void DictionaryWriter::residues(const unsigned char* p, size_t n) {
  length_ += n;
  md5_.update(p, n);
}

void DictionaryWriter::endRecord() {
  if (!inRecord_) return;
  inRecord_ = false;
  std::string digest = md5_.hex();
  if (!names_.insert(name_).second && duplicateSet_.insert(name_).second)
    duplicates_.push_back(name_);
  if (std::fprintf(F_, "@SQ\tSN:%s\tLN:%llu\tM5:%s\tUR:file://%s\n", name_.c_str(),
                   static_cast<unsigned long long>(length_), digest.c_str(), url_.c_str()) < 0)
    failed_ = true;
}

bool DictionaryWriter::end() {
  endRecord();
  return !failed_;
}

DictionaryLines::DictionaryLines(FILE* F, std::string url)
    : writer_(F, std::move(url)), pending_(new unsigned char[kPending]) {}

void DictionaryLines::digestPending() {
  writer_.residues(pending_.get(), pendingLen_);
  pendingLen_ = 0;
}

void DictionaryLines::begin(const std::string& name) {
  digestPending();
  writer_.begin(name);
}

void DictionaryLines::residues(const unsigned char* p, size_t n) {
  while (n > 0) {
    size_t k = std::min(n, kPending - pendingLen_);
    copyUpper(p, k, pending_.get() + pendingLen_);
    pendingLen_ += k;
    p += k;
    n -= k;
    if (pendingLen_ == kPending) digestPending();
  }
}

bool DictionaryLines::end() {
  parser_.end(*this);
  digestPending();
  return writer_.end();
}

DictionaryBuilder::DictionaryBuilder(FILE* F, std::string url, bool ownThread) {
  if (!ownThread) {
    inline_ = std::make_unique<DictionaryLines>(F, std::move(url));
    return;
  }
  writer_ = std::make_unique<DictionaryWriter>(F, std::move(url));
  memory_.reset(new unsigned char[kSlots * kBlock]);
  thread_ = std::thread([this] { digest(); });
}

DictionaryBuilder::~DictionaryBuilder() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  handed_.notify_one();
  thread_.join();
}

const std::vector<std::string>& DictionaryBuilder::duplicates() const {
  return inline_ ? inline_->duplicates() : writer_->duplicates();
}

void DictionaryBuilder::feed(const unsigned char* p, size_t n) {
  if (inline_) {
    inline_->feed(p, n);
  } else {
    parser_.feed(p, n, *this);
  }
}

void DictionaryBuilder::begin(const std::string& name) {
  marks_[handedCount_ % kSlots].push_back({filling_, name});
}

void DictionaryBuilder::residues(const unsigned char* p, size_t n) {
  while (n > 0) {
    unsigned char* block = memory_.get() + (handedCount_ % kSlots) * kBlock;
    size_t k = std::min(n, kBlock - filling_);
    copyUpper(p, k, block + filling_);
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
  marks_[handedCount_ % kSlots].clear();
}

// The thread: reads the blocks in the order they were handed over.
void DictionaryBuilder::digest() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    handed_.wait(lock, [this] { return stop_ || ending_ || doneCount_ < handedCount_; });
    if (stop_ || doneCount_ == handedCount_) return;
    size_t slot = doneCount_ % kSlots;
    lock.unlock();
    digestBlock(slot);
    lock.lock();
    ++doneCount_;
    freed_.notify_one();
  }
}

// The residues of a block, with the records that begin in it.
void DictionaryBuilder::digestBlock(size_t slot) {
  const unsigned char* block = memory_.get() + slot * kBlock;
  size_t at = 0;
  for (const Mark& mark : marks_[slot]) {
    writer_->residues(block + at, mark.at - at);
    writer_->begin(mark.name);
    at = mark.at;
  }
  writer_->residues(block + at, sizes_[slot] - at);
}

bool DictionaryBuilder::end() {
  if (inline_) return inline_->end();
  if (thread_.joinable()) {
    parser_.end(*this);
    // The last block goes over even when empty: it may hold marks.
    hand();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ending_ = true;
    }
    handed_.notify_one();
    thread_.join();
  }
  return writer_->end();
}

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

DictionaryWriter::DictionaryWriter(FILE* F, std::string url, NameLog* names)
    : F_(F), url_(std::move(url)), names_(names) {
  if (std::fputs("@HD\tVN:1.0\tSO:unsorted\n", F_) < 0) failed_ = true;
}

void DictionaryWriter::begin(std::string_view name) {
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
  if (names_ != nullptr) names_->add(name_, length_ > 0);
  // The lines are made in a buffer and written many at once: a formatted
  // print a record would cost more than its digest.
  line_.append("@SQ\tSN:");
  line_.append(name_);
  line_.append("\tLN:");
  appendNumber(line_, length_);
  line_.append("\tM5:");
  size_t digest = line_.size();
  line_.resize(digest + 32);
  md5_.hex(&line_[digest]);
  line_.append("\tUR:file://");
  line_.append(url_);
  line_.push_back('\n');
  if (line_.size() >= kLines) writeLines();
}

void DictionaryWriter::writeLines() {
  if (std::fwrite(line_.data(), 1, line_.size(), F_) != line_.size()) failed_ = true;
  line_.clear();
}

bool readDictionaryNames(FILE* listing, RepeatedNames& names) {
  LineReader lines(listing);
  for (std::string_view line; lines.next(line);) {
    // "@SQ\tSN:NAME\tLN:LENGTH\t...": a name never holds a tab. The @HD
    // line has no SN:.
    if (line.compare(0, 7, "@SQ\tSN:") != 0) continue;
    size_t tab = line.find('\t', 7);
    if (tab == std::string_view::npos) continue;
    names.next(line.substr(7, tab - 7), line.compare(tab, 6, "\tLN:0\t") != 0);
  }
  return !lines.failed();
}

bool DictionaryWriter::end() {
  endRecord();
  writeLines();
  return !failed_;
}

DictionaryLines::DictionaryLines(FILE* F, std::string url, NameLog* names)
    : writer_(F, std::move(url), names), pending_(new unsigned char[kPending]) {}

void DictionaryLines::digestPending() {
  writer_.residues(pending_.get(), pendingLen_);
  pendingLen_ = 0;
}

void DictionaryLines::begin(std::string_view name) {
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

DictionaryBuilder::DictionaryBuilder(FILE* F, std::string url, bool ownThread, NameLog* names) {
  if (!ownThread) {
    inline_ = std::make_unique<DictionaryLines>(F, std::move(url), names);
    return;
  }
  writer_ = std::make_unique<DictionaryWriter>(F, std::move(url), names);
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

void DictionaryBuilder::feed(const unsigned char* p, size_t n) {
  if (inline_) {
    inline_->feed(p, n);
  } else {
    parser_.feed(p, n, *this);
  }
}

void DictionaryBuilder::begin(std::string_view name) {
  size_t slot = handedCount_ % kSlots;
  names_[slot].append(name);
  marks_[slot].push_back({filling_, names_[slot].size()});
  // Records without residues fill no block: their marks hand it over as
  // well, so that they never pile up.
  if (marks_[slot].size() >= kMarks || names_[slot].size() >= kBlock) hand();
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
  names_[handedCount_ % kSlots].clear();
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
  const std::string_view names = names_[slot];
  size_t at = 0;
  size_t nameAt = 0;
  for (const Mark& mark : marks_[slot]) {
    writer_->residues(block + at, mark.at - at);
    writer_->begin(names.substr(nameAt, mark.nameEnd - nameAt));
    at = mark.at;
    nameAt = mark.nameEnd;
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

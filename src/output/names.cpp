// SPDX-License-Identifier: MIT
// Names that several records have, found with a hash per record and
// settled by the names themselves.
#include "output/names.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint64_t kMul = 0x9e3779b97f4a7c15ull;

uint64_t mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 33;
  return h;
}

}  // namespace

// Eight bytes at a time, each word mixed in; the length too, so that names
// that differ only by trailing zero bytes differ.
uint64_t nameHash(std::string_view name) {
  uint64_t h = mix(name.size() * kMul + 1);
  size_t i = 0;
  for (; i + 8 <= name.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, name.data() + i, 8);
    h = mix(h ^ word) * kMul;
  }
  uint64_t tail = 0;
  for (size_t k = i; k < name.size(); ++k)
    tail |= uint64_t{static_cast<unsigned char>(name[k])} << (8 * (k - i));
  return mix(h ^ tail);
}

void NameLog::add(std::string_view name, bool residues) {
  size_t at = static_cast<size_t>(records_ % kChunk);
  if (at == 0) chunks_.emplace_back(new uint64_t[kChunk]);
  chunks_.back()[at] = hash_(name);
  ++records_;
  if (!residues) ++withoutResidues_;
  if (name.empty()) ++emptyNames_;
}

// Each chunk is sorted where it is, and the chunks merged: no second copy
// of the hashes is ever made.
std::vector<uint64_t> NameLog::takeRepeatedHashes() {
  struct Cursor {
    const uint64_t* at;
    const uint64_t* end;
  };
  std::vector<Cursor> heap;
  for (size_t c = 0; c < chunks_.size(); ++c) {
    uint64_t* begin = chunks_[c].get();
    uint64_t* end = begin + std::min<uint64_t>(kChunk, records_ - uint64_t{c} * kChunk);
    std::sort(begin, end);
    heap.push_back({begin, end});
  }
  // The cursor at the least hash on top.
  auto later = [](const Cursor& a, const Cursor& b) { return *a.at > *b.at; };
  std::make_heap(heap.begin(), heap.end(), later);
  std::vector<uint64_t> repeated;
  bool havePrevious = false;
  uint64_t previous = 0;
  while (!heap.empty()) {
    std::pop_heap(heap.begin(), heap.end(), later);
    Cursor& least = heap.back();
    uint64_t hash = *least.at++;
    if (havePrevious && hash == previous && (repeated.empty() || repeated.back() != hash))
      repeated.push_back(hash);
    havePrevious = true;
    previous = hash;
    if (least.at == least.end) {
      heap.pop_back();
    } else {
      std::push_heap(heap.begin(), heap.end(), later);
    }
  }
  chunks_.clear();
  records_ = 0;
  return repeated;
}

RepeatedNames::RepeatedNames(std::vector<uint64_t> candidates, NameHash hash)
    : hash_(hash), candidates_(std::move(candidates)), firstSeen_(candidates_.size(), kNone) {
  // Mostly one name a hash, each of several records.
  seen_.reserve(candidates_.size());
  order_.reserve(candidates_.size());
}

std::string_view RepeatedNames::nameOf(uint32_t seen) const {
  size_t end = seen + 1 < seen_.size() ? seen_[seen + 1].nameAt : names_.size();
  std::string_view names = names_;
  return names.substr(seen_[seen].nameAt, end - seen_[seen].nameAt);
}

bool RepeatedNames::next(std::string_view name, bool residues) {
  uint64_t hash = hash_(name);
  auto it = std::lower_bound(candidates_.begin(), candidates_.end(), hash);
  if (it == candidates_.end() || *it != hash) return residues;
  uint32_t* link = &firstSeen_[static_cast<size_t>(it - candidates_.begin())];
  while (*link != kNone && nameOf(*link) != name) link = &seen_[*link].next;
  if (*link == kNone) {
    *link = static_cast<uint32_t>(seen_.size());
    seen_.push_back({names_.size(), kNone, residues, residues, false});
    names_.append(name);
    return residues;
  }
  Seen& seen = seen_[*link];
  if (!seen.repeated) order_.push_back(*link);
  seen.repeated = true;
  bool listed = residues && !seen.anyResidues;
  seen.anyResidues = seen.anyResidues || residues;
  return listed;
}

RepeatedName RepeatedNames::at(size_t i) const {
  const Seen& seen = seen_[order_[i]];
  IndexLists index = seen.firstResidues ? IndexLists::kFirst
                     : seen.anyResidues ? IndexLists::kLaterRecord
                                        : IndexLists::kNone;
  return {std::string(nameOf(order_[i])), index};
}

bool LineReader::next(std::string_view& line) {
  long_.clear();
  for (;;) {
    if (at_ == end_) {
      at_ = 0;
      end_ = std::fread(buffer_.get(), 1, kBuffer, F_);
      if (end_ == 0) {
        if (std::ferror(F_)) failed_ = true;
        // A last line without its line end still counts.
        line = long_;
        return !failed_ && !long_.empty();
      }
    }
    const char* start = buffer_.get() + at_;
    const void* lf = std::memchr(start, '\n', end_ - at_);
    if (lf == nullptr) {
      long_.append(start, end_ - at_);
      at_ = end_;
      continue;
    }
    size_t n = static_cast<size_t>(static_cast<const char*>(lf) - start);
    at_ += n + 1;
    if (long_.empty()) {
      line = std::string_view(start, n);
    } else {
      long_.append(start, n);
      line = long_;
    }
    return true;
  }
}

void appendNumber(std::string& to, uint64_t n) {
  char digits[20];
  size_t k = 0;
  do {
    digits[k++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  while (k > 0) to.push_back(digits[--k]);
}

// SPDX-License-Identifier: MIT
// The streaming FASTA index builder.
#include "output/faidx.h"

#include <cstring>

namespace {

// Blanks as the C library's isspace() sees them, without the line end.
bool isBlank(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r' && c != '\n'); }

}  // namespace

void FaidxBuilder::endRecord() {
  if (!inRecord_) return;
  inRecord_ = false;
  // The lines after the first hold lineBases_ residues each, but the last,
  // each with its line end.
  if (rest_ > 0 && lineBases_ > 0) length_ += rest_ - (rest_ + lineBases_) / (lineBases_ + 1);
  const std::string& name = header_.name();
  if (length_ == 0) return;
  if (!names_.insert(name).second) {
    if (duplicateSet_.insert(name).second) duplicates_.push_back(name);
    return;
  }
  // The first residue line's width counts its line end.
  if (std::fprintf(F_, "%s\t%llu\t%llu\t%llu\t%llu\n", name.c_str(),
                   static_cast<unsigned long long>(length_),
                   static_cast<unsigned long long>(offset_),
                   static_cast<unsigned long long>(lineBases_),
                   static_cast<unsigned long long>(lineBases_) + 1) < 0)
    failed_ = true;
}

void HeaderLine::start() {
  at_ = At::kBlanks;
  name_.clear();
  nameCut_ = false;
}

const unsigned char* HeaderLine::read(const unsigned char* p, const unsigned char* end) {
  while (p < end && (at_ == At::kBlanks || at_ == At::kName)) {
    unsigned char c = *p;
    if (c == '\n') break;
    if (at_ == At::kBlanks && isBlank(c)) {
      ++p;
      continue;
    }
    at_ = At::kName;
    if (isBlank(c)) {
      at_ = At::kRest;
      break;
    }
    if (c == '\0') nameCut_ = true;
    if (!nameCut_) name_.push_back(static_cast<char>(c));
    ++p;
  }
  if (p == end) return p;
  const void* lf = std::memchr(p, '\n', static_cast<size_t>(end - p));
  if (lf == nullptr) return end;
  at_ = At::kEnded;
  return static_cast<const unsigned char*>(lf) + 1;
}

void FaidxBuilder::feed(const unsigned char* p, size_t n) {
  const unsigned char* const start = p;
  const unsigned char* const end = p + n;
  while (p < end) {
    switch (at_) {
      case At::kLineStart:
        if (*p == '>') {
          endRecord();
          inRecord_ = true;
          firstLine_ = true;
          header_.start();
          length_ = 0;
          lineBases_ = 0;
          rest_ = 0;
          at_ = At::kHeader;
          ++p;
        } else if (*p == '\n' && firstLine_) {
          // An empty line before the first residue line moves the offset.
          ++p;
          offset_ = pos_ + static_cast<uint64_t>(p - start);
        } else {
          at_ = firstLine_ ? At::kFirstLine : At::kRest;
        }
        break;
      case At::kHeader:
        p = header_.read(p, end);
        if (header_.ended()) {
          at_ = At::kLineStart;
          offset_ = pos_ + static_cast<uint64_t>(p - start);
        }
        break;
      case At::kFirstLine: {
        const void* lf = std::memchr(p, '\n', static_cast<size_t>(end - p));
        const unsigned char* q = lf ? static_cast<const unsigned char*>(lf) : end;
        lineBases_ += static_cast<uint64_t>(q - p);
        p = q;
        if (lf == nullptr) break;
        ++p;
        length_ = lineBases_;
        firstLine_ = false;
        at_ = At::kRest;
        break;
      }
      case At::kRest: {
        // Residue lines never hold ">": the next one starts the next header.
        const void* mark = std::memchr(p, '>', static_cast<size_t>(end - p));
        const unsigned char* q = mark ? static_cast<const unsigned char*>(mark) : end;
        rest_ += static_cast<uint64_t>(q - p);
        p = q;
        if (mark != nullptr) at_ = At::kLineStart;
        break;
      }
    }
  }
  pos_ += n;
}

bool FaidxBuilder::end() {
  // A first residue line without its line end still counts.
  if (at_ == At::kFirstLine) length_ = lineBases_;
  endRecord();
  return !failed_;
}

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
  names_.add(name, length_ > 0);
  // The first residue line's width counts its line end.
  line_.append(name);
  line_.push_back('\t');
  appendNumber(line_, length_);
  line_.push_back('\t');
  appendNumber(line_, offset_);
  line_.push_back('\t');
  appendNumber(line_, lineBases_);
  line_.push_back('\t');
  appendNumber(line_, lineBases_ + 1);
  line_.push_back('\n');
  if (line_.size() >= kLines) writeLines();
}

void FaidxBuilder::writeLines() {
  if (std::fwrite(line_.data(), 1, line_.size(), F_) != line_.size()) failed_ = true;
  line_.clear();
}

bool settleIndex(FILE* listing, FILE* out, RepeatedNames& names) {
  LineReader lines(listing);
  bool ok = true;
  for (std::string_view line; lines.next(line);) {
    // NAME, LENGTH, ...: a name never holds a tab.
    size_t tab = line.find('\t');
    bool residues = tab != std::string_view::npos && line.compare(tab, 3, "\t0\t") != 0;
    if (!names.next(line.substr(0, tab), residues)) continue;
    if (std::fwrite(line.data(), 1, line.size(), out) != line.size() ||
        std::fputc('\n', out) == EOF)
      ok = false;
  }
  return ok && !lines.failed();
}

void HeaderLine::start() {
  at_ = At::kBlanks;
  name_.clear();
  nameCut_ = false;
}

const unsigned char* HeaderLine::read(const unsigned char* p, const unsigned char* end) {
  while (p < end && at_ == At::kBlanks && isBlank(*p)) ++p;
  if (p < end && at_ == At::kBlanks) at_ = At::kName;
  if (at_ == At::kName) {
    // The name's bytes up to a blank or the line end, taken in one piece.
    const unsigned char* q = p;
    while (q < end && *q != '\n' && !isBlank(*q) && (*q != '\0' || nameCut_)) ++q;
    if (!nameCut_) name_.append(reinterpret_cast<const char*>(p), static_cast<size_t>(q - p));
    p = q;
    if (p < end && *p == '\0') {
      nameCut_ = true;
      // Bytes after a NUL are no part of the name; only a blank or the line
      // end ends the word.
      while (p < end && *p != '\n' && !isBlank(*p)) ++p;
    }
    if (p < end && (*p == '\n' || isBlank(*p))) at_ = At::kRest;
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
  writeLines();
  return !failed_;
}

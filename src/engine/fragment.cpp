// SPDX-License-Identifier: MIT
// The FRAGMENT annotation of IG comment lines.
#include "engine/fragment.h"

namespace {

constexpr const char* kWord = "FRAGMENT";

// Parses what "%d" would: optional blanks, an optional sign, at least one
// digit. Advances `p` past it; false when no integer is there.
bool scanInt(const char*& p) {
  const char* q = p;
  while (isScanSpace(static_cast<unsigned char>(*q))) ++q;
  if (*q == '+' || *q == '-') ++q;
  if (*q < '0' || *q > '9') return false;
  while (*q >= '0' && *q <= '9') ++q;
  p = q;
  return true;
}

}  // namespace

bool isFragmentAnnotation(const char* text) {
  const char* p = text;
  while (*p && !isScanSpace(static_cast<unsigned char>(*p))) ++p;
  if (!scanInt(p)) return false;
  while (isScanSpace(static_cast<unsigned char>(*p))) ++p;
  if (p[0] != '-' || p[1] != '>') return false;
  p += 2;
  return scanInt(p);
}

void FragmentScan::reset() {
  matched_ = 0;
  prev_ = 0;
  arrow_ = false;
  capturing_ = false;
  text_.clear();
}

void FragmentScan::feed(const unsigned char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = p[i];
    if (prev_ == '-' && c == '>') arrow_ = true;
    prev_ = c;
    if (capturing_) {
      text_.push_back(static_cast<char>(c));
      continue;
    }
    // "FRAGMENT" has no repeated prefix, so a mismatch restarts the match.
    if (c == static_cast<unsigned char>(kWord[matched_])) {
      if (++matched_ == 8) {
        capturing_ = true;
        text_.assign(kWord, 8);
      }
    } else {
      matched_ = (c == 'F') ? 1 : 0;
    }
  }
}

bool FragmentScan::take(std::string& out) {
  if (!capturing_ || !arrow_ || !isFragmentAnnotation(text_.c_str())) return false;
  out.swap(text_);
  return true;
}

// SPDX-License-Identifier: MIT
// The FRAGMENT annotation of IG comment lines.
#ifndef QUENBREL_ENGINE_FRAGMENT_H
#define QUENBREL_ENGINE_FRAGMENT_H

#include <cstddef>
#include <string>

// Whitespace as the standard "%s" and "%d" conversions skip it.
inline bool isScanSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Whether `text` (beginning with "FRAGMENT") scans as a word, an integer, the
// arrow and an integer, as the format "%s %d -> %d" would.
bool isFragmentAnnotation(const char* text);

// Finds the annotation on one comment line fed to it in pieces: the text
// from the first "FRAGMENT" to the line end, provided the line also holds
// "->" somewhere.
class FragmentScan {
 public:
  void reset();
  void feed(const unsigned char* p, size_t n);

  // At the end of the line: true when the annotation is valid; it is then
  // moved into `out`.
  bool take(std::string& out);

 private:
  int matched_ = 0;
  unsigned char prev_ = 0;
  bool arrow_ = false;
  bool capturing_ = false;
  std::string text_;
};

#endif  // QUENBREL_ENGINE_FRAGMENT_H

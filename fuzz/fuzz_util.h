// SPDX-License-Identifier: MIT
// Small helpers shared by the fuzz targets.
#ifndef QUENBREL_FUZZ_UTIL_H
#define QUENBREL_FUZZ_UTIL_H

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace fuzzutil {

// A null-terminated copy of `text` in a heap block of exactly its size, so
// that the sanitizer catches any access past the terminating null.
inline char* exactCopy(const std::string& text, size_t spare = 0) {
  char* p = static_cast<char*>(std::malloc(text.size() + 1 + spare));
  std::memcpy(p, text.c_str(), text.size() + 1);
  return p;
}

// Ends the run with a message that names the failed check; libFuzzer keeps
// the input that caused it.
[[noreturn]] inline void fail(const char* target, const char* what) {
  std::fprintf(stderr, "%s: %s\n", target, what);
  std::abort();
}

}  // namespace fuzzutil

#endif  // QUENBREL_FUZZ_UTIL_H

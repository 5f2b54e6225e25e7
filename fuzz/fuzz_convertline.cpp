// SPDX-License-Identifier: MIT
// Fuzzes convertline (and through it convert_esc) on any line: the input up
// to its first null byte.
#include <cstdint>
#include <string>

#include "fuzz_util.h"
#include "lib/functions.h"

namespace {

char escaped(char c) {
  switch (c) {
    case 'a': return '\a';
    case 'b': return '\b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    case 'v': return '\v';
    default: return c;
  }
}

std::string model(const std::string& line) {
  std::string out;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\\') {
      out += line[i];
    } else if (i + 1 < line.size()) {
      out += escaped(line[++i]);
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  line = line.c_str();
  char* buf = fuzzutil::exactCopy(line);
  if (convertline(buf) != buf) fuzzutil::fail("convertline", "did not return the line");
  // An escape may produce a null byte only from "\" followed by the end,
  // which produces nothing; so the result is a C string of the model's text.
  if (model(line) != buf) fuzzutil::fail("convertline", "text differs from the model");
  if (!line.empty()) {
    char* one = fuzzutil::exactCopy(line);
    char want = line[0] != '\\' ? line[0] : (line.size() > 1 ? escaped(line[1]) : '\0');
    if (convert_esc(one) != want) fuzzutil::fail("convert_esc", "wrong character");
    if (line != one) fuzzutil::fail("convert_esc", "changed the line");
    std::free(one);
  }
  std::free(buf);
  return 0;
}

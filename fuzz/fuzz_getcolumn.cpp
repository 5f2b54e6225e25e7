// SPDX-License-Identifier: MIT
// Fuzzes getColumn. Bytes 0 to 3 give the column number (any int, negative
// and huge ones included); the rest, up to its first null byte, is the line.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_util.h"
#include "lib/functions.h"

namespace {

bool graphic(char c) { return c >= 33 && c <= 126; }

size_t model(const std::string& line, int num) {
  size_t at = 0;
  for (int i = 1; i < num; ++i) {
    while (at < line.size() && line[at] != '\n' && !graphic(line[at])) ++at;
    if (at == line.size() || line[at] == '\n') break;
    while (at < line.size() && graphic(line[at])) ++at;
  }
  return at;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  int32_t num;
  std::memcpy(&num, data, 4);
  std::string line(reinterpret_cast<const char*>(data + 4), size - 4);
  line = line.c_str();
  char* buf = fuzzutil::exactCopy(line);
  const char* at = getColumn(buf, num);
  if (at < buf || at > buf + line.size()) fuzzutil::fail("getColumn", "position outside the line");
  if (static_cast<size_t>(at - buf) != model(line, num))
    fuzzutil::fail("getColumn", "position differs from the model");
  if (line != buf) fuzzutil::fail("getColumn", "changed the line");
  std::free(buf);
  return 0;
}

// SPDX-License-Identifier: MIT
// Fuzzes both squeeze helpers. Byte 0 is the squeeze character (0 selects
// the twin that drops non-graphic characters); the rest, up to the first
// null byte, is the line.
#include <cctype>
#include <cstdint>
#include <string>

#include "fuzz_util.h"
#include "lib/functions.h"

namespace {

std::string squeezeModel(const std::string& line, char cSqz) {
  size_t i = 0;
  while (i < line.size() && line[i] == cSqz) ++i;
  std::string out;
  for (; i < line.size(); ++i) {
    if (line[i] == cSqz && i + 1 < line.size() && line[i + 1] == cSqz) continue;
    out += line[i];
  }
  return out;
}

std::string graphicModel(const std::string& line) {
  std::string out;
  for (char c : line)
    if (c >= 33 && c <= 126) out += c;
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const char cSqz = static_cast<char>(data[0]);
  std::string line(reinterpret_cast<const char*>(data + 1), size - 1);
  line = line.c_str();  // a C string ends at its first null byte
  char* buf = fuzzutil::exactCopy(line);
  char* end = cSqz ? squeeze(buf, cSqz) : squeeze(buf);
  std::string want = cSqz ? squeezeModel(line, cSqz) : graphicModel(line);
  if (end != buf + want.size() || *end != '\0') fuzzutil::fail("squeeze", "wrong end pointer");
  if (want != buf) fuzzutil::fail("squeeze", "text differs from the model");
  std::free(buf);
  return 0;
}

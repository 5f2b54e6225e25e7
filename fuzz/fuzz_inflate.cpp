// SPDX-License-Identifier: MIT
// Holds the page's gzip inflater against zlib: the same output, members
// ending at the same bytes, the same damage found, whatever sizes the steps
// are given. Byte 0 says how the stream is made:
//   bit 0 clear: the rest of the input is the stream;
//   bit 0 set:   the rest (after bytes 1 and 2) is text that zlib compresses
//                into 1 to 3 members (byte 1: the count, then the level),
//                with the strategy, header fields and repeats of the text
//                that byte 2 picks; bits 1-4 of byte 0 then
//                damage it: flipped bytes, a cut, bytes after the end.
// The step sizes come from a generator seeded with the input.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "inflate_check.h"

namespace {

std::string madeStream(const uint8_t* data, size_t size, std::minstd_rand& random) {
  if (size < 3) return {};
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  std::string text(reinterpret_cast<const char*>(data + 3), size - 3);
  // Repeats make the long matches and long distances real files have.
  int copies = 1 + (data[2] >> 4);
  std::string body;
  for (int i = 0; i < copies; ++i) body += text;
  int members = 1 + data[1] % 3;
  std::string stream;
  for (int m = 0; m < members; ++m) {
    std::string part = body.substr(body.size() * m / members, body.size() / members + 1);
    stream += inflatecheck::gzipOf(part, (data[1] >> 2) % 10, strategies[(data[2] >> 1) % 5],
                                   (data[2] & 1) != 0);
  }
  unsigned damage = data[0] >> 1;
  for (unsigned i = 0; i < (damage & 3) && !stream.empty(); ++i) {
    stream[random() % stream.size()] ^= static_cast<char>(1 + random() % 255);
  }
  if ((damage & 4) != 0 && !stream.empty()) stream.resize(random() % stream.size());
  if ((damage & 8) != 0) stream += std::string(1 + random() % 12, static_cast<char>(random()));
  return stream;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::minstd_rand random(static_cast<uint32_t>(size) * 2654435761u + data[size - 1]);
  std::string stream = (data[0] & 1) != 0
                           ? madeStream(data, size, random)
                           : std::string(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<size_t> sizes;
  for (int i = 0; i < 16; ++i) {
    const size_t choices[] = {1, 2, 7, 8, 9, 64, 265, 266, 300, 4096, 70000};
    sizes.push_back(choices[random() % 11]);
  }
  inflatecheck::Outcome want = inflatecheck::zlibOutcome(stream, {size_t{1} << 20});
  inflatecheck::Outcome got = inflatecheck::inflaterOutcome(stream, sizes);
  if (!(got == want)) fuzzutil::fail("inflate", "the inflater and zlib differ");
  return 0;
}

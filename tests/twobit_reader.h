// SPDX-License-Identifier: MIT
// A reader of 2bit files for the tests and the fuzzer, written from the
// format's description alone: every record's name and residues, N blocks
// as N, masked bases in lower case.
#ifndef QUENBREL_TESTS_TWOBIT_READER_H
#define QUENBREL_TESTS_TWOBIT_READER_H

#include <cctype>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testutil {

struct TwoBitFile {
  int version = -1;
  std::vector<std::pair<std::string, std::string>> records;
};

namespace twobit_detail {

// `bytes` little-endian bytes at `at`; false past the end.
inline bool le(const std::string& b, uint64_t at, int bytes, uint64_t& v) {
  if (at + bytes > b.size()) return false;
  v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
  return true;
}

// The blocks at `p`: a count, the starts, the sizes; `p` moves past them.
inline bool blocks(const std::string& b, uint64_t& p,
                   std::vector<std::pair<uint64_t, uint64_t>>& out) {
  uint64_t count = 0;
  if (!le(b, p, 4, count)) return false;
  for (uint64_t j = 0; j < count; ++j) {
    uint64_t start = 0, size = 0;
    if (!le(b, p + 4 + 4 * j, 4, start) || !le(b, p + 4 + 4 * (count + j), 4, size)) return false;
    out.push_back({start, size});
  }
  p += 4 + 8 * count;
  return true;
}

}  // namespace twobit_detail

// False when `b` is no 2bit file this reader can read whole (little-endian
// signature, version 0 or 1, every offset and block inside the file, a
// reserved word of 0, the bases of N packed as T).
inline bool readTwoBit(const std::string& b, TwoBitFile& file) {
  using twobit_detail::le;
  uint64_t signature = 0, version = 0, count = 0, reserved = 0;
  if (!le(b, 0, 4, signature) || signature != 0x1A412743 || !le(b, 4, 4, version) || version > 1 ||
      !le(b, 8, 4, count) || !le(b, 12, 4, reserved) || reserved != 0)
    return false;
  file.version = static_cast<int>(version);
  const int width = version == 1 ? 8 : 4;
  uint64_t at = 16;
  for (uint64_t i = 0; i < count; ++i) {
    if (at >= b.size()) return false;
    const uint64_t length = static_cast<unsigned char>(b[at]);
    uint64_t r = 0, size = 0, word = 1;
    if (at + 1 + length > b.size() || !le(b, at + 1 + length, width, r) || !le(b, r, 4, size))
      return false;
    std::string name = b.substr(at + 1, length);
    at += 1 + length + width;
    uint64_t p = r + 4;
    std::vector<std::pair<uint64_t, uint64_t>> runs[2];
    if (!twobit_detail::blocks(b, p, runs[0]) || !twobit_detail::blocks(b, p, runs[1]) ||
        !le(b, p, 4, word) || word != 0 || p + 4 + (size + 3) / 4 > b.size())
      return false;
    p += 4;
    std::string seq(size, 'T');
    for (uint64_t k = 0; k < size; ++k)
      seq[k] = "TCAG"[(static_cast<unsigned char>(b[p + k / 4]) >> (6 - 2 * (k % 4))) & 3];
    for (int kind = 0; kind < 2; ++kind) {
      for (auto [start, length] : runs[kind]) {
        if (start + length > size) return false;
        for (uint64_t k = start; k < start + length; ++k) {
          // An N is packed as T, as the format's own tools pack it: the
          // same records give the same bytes.
          if (kind == 0 && seq[k] != 'T') return false;
          seq[k] =
              kind == 0 ? 'N' : static_cast<char>(std::tolower(static_cast<unsigned char>(seq[k])));
        }
      }
    }
    file.records.push_back({std::move(name), std::move(seq)});
  }
  return true;
}

// What 2bit holds of residues: A, C, G, T and N as they are, any other
// letter as N (n in lower case), anything else as N.
inline std::string asTwoBit(std::string residues) {
  for (char& c : residues) {
    const bool kept = c == 'A' || c == 'C' || c == 'G' || c == 'T' || c == 'N' || c == 'a' ||
                      c == 'c' || c == 'g' || c == 't' || c == 'n';
    if (!kept) c = std::islower(static_cast<unsigned char>(c)) ? 'n' : 'N';
  }
  return residues;
}

}  // namespace testutil

#endif  // QUENBREL_TESTS_TWOBIT_READER_H

// SPDX-License-Identifier: MIT
// The level-1 coder of BGZF output, driven directly: whatever it codes
// must inflate, with zlib, to the bytes it was given; text that is not
// sequence-like is left to the library.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "output/huffman.h"

namespace {

// Raw deflate data inflated with zlib; false when zlib refuses it.
bool inflateRaw(const std::vector<unsigned char>& data, size_t expect, std::string& out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  out.assign(expect + 1, '\0');
  z.next_in = const_cast<unsigned char*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  int rc = inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  inflateEnd(&z);
  return rc == Z_STREAM_END && z.avail_in == 0;
}

// Codes `text` (at most 65535 bytes); the size coded, 0 when the coder left
// it to the library. What it codes must come back whole.
size_t expectRoundTrip(const std::string& text) {
  SequenceDeflater coder;
  std::vector<unsigned char> out(text.size() + 1024);
  size_t n = coder.deflate(reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                           out.data(), out.size());
  if (n == 0) return 0;
  out.resize(n);
  std::string back;
  EXPECT_TRUE(inflateRaw(out, text.size(), back)) << "zlib refuses the coded data";
  EXPECT_TRUE(back == text) << "the coded data inflates to other bytes";
  return n;
}

// `n` bytes drawn from `values` byte values, the k-th most frequent with
// weight 1 / k^skew (a few frequent values, many rare ones of widely
// different counts), with runs of one byte now and then.
std::string skewedMix(std::mt19937& rng, size_t n, int values, double skew, bool runs) {
  std::vector<unsigned char> symbols(256);
  for (int i = 0; i < 256; ++i) symbols[i] = static_cast<unsigned char>(i);
  std::shuffle(symbols.begin(), symbols.end(), rng);
  std::vector<double> weights;
  for (int k = 1; k <= values; ++k) weights.push_back(1.0 / std::pow(k, skew));
  std::discrete_distribution<int> pick(weights.begin(), weights.end());
  std::string s;
  s.reserve(n);
  while (s.size() < n) {
    unsigned char c = symbols[pick(rng)];
    size_t length = runs && rng() % 500 == 0 ? 16 + rng() % 1200 : 1;
    s.append(std::min(length, n - s.size()), static_cast<char>(c));
  }
  return s;
}

struct Mix {
  const char* name;
  int values;   // distinct byte values
  double skew;  // how fast their weights fall
  bool runs;
};

// Headers and sequence of every spread: deep code-length codes come from
// many values of widely different counts (a skew near 2).
TEST(SequenceCoder, SkewedMixesInflateWithZlib) {
  const Mix mixes[] = {
      {"nucleotides", 4, 0.3, false},        {"nucleotides with runs", 5, 1.0, true},
      {"ambiguity codes", 16, 1.0, true},    {"protein", 25, 0.5, false},
      {"header bytes", 230, 2.0, false},     {"header bytes, steeper", 230, 2.5, false},
      {"some header bytes", 120, 2.0, true}, {"all bytes", 256, 2.0, true},
  };
  std::mt19937 rng(20261208);
  for (const Mix& m : mixes) {
    SCOPED_TRACE(m.name);
    for (int round = 0; round < 40; ++round) {
      size_t n = round % 4 == 0 ? 65535 : round % 4 == 1 ? 65279 : 1 + rng() % 65535;
      expectRoundTrip(skewedMix(rng, n, m.values, m.skew, m.runs));
      if (testing::Test::HasFailure()) return;
    }
  }
}

// A run of one byte after its first byte is matches of at most 258 bytes;
// a rest of one or two bytes, too short for a match, must be taken from
// the match before it, alike when counting and when writing.
TEST(SequenceCoder, RunsSplitIntoMatches) {
  std::string dna;
  for (int i = 0; i < 1000; ++i) dna += "ACGT"[(i * 7 + i / 3) % 4];
  for (size_t run : {16u, 17u, 18u, 19u, 259u, 260u, 261u, 262u, 516u, 517u, 518u, 519u, 520u, 774u,
                     775u, 776u, 60000u}) {
    SCOPED_TRACE(run);
    std::string text = dna + std::string(run, 'N') + dna;
    EXPECT_GT(expectRoundTrip(text), 0u);
    EXPECT_GT(expectRoundTrip(std::string(run, 'N')), 0u);
  }
}

// Text that codes poorly with two-bit letters is left to the library, so
// that string matching shrinks it: repeats of one protein would otherwise
// take fifteen times the room.
TEST(SequenceCoder, RepetitiveTextIsLeftToTheLibrary) {
  std::mt19937 rng(7);
  std::string protein;
  for (int i = 0; i < 3000; ++i) protein += "ACDEFGHIKLMNPQRSTVWY"[rng() % 20];
  std::string text;
  while (text.size() + protein.size() <= 65000) text += protein;
  EXPECT_EQ(expectRoundTrip(text), 0u);
}

}  // namespace

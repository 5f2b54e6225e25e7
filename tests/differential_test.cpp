// SPDX-License-Identifier: MIT
// Randomized differential test: the block-based engine against a deliberately
// simple line-by-line model of the conversion, on many seeded random inputs
// and settings.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "conversion_model.h"
#include "engine/convert.h"
#include "kernels/registry.h"
#include "memory_bytes.h"
#include "output/sink.h"
#include "test_util.h"

namespace {

using model::Outcome;

// The packing kernels this processor can run, the portable one included;
// all must give the same bytes.
std::vector<const kernels::Kernel*> supportedKernels() {
  std::vector<const kernels::Kernel*> found;
  for (const kernels::Kernel& k : kernels::allKernels()) {
    if (kernels::runsOn(k, kernels::cpuFeatures())) found.push_back(&k);
  }
  return found;
}

// Runs the engine in-process with the settings `s` (and their kernel).
// `viaDescriptor` picks a temporary file read through the descriptor
// backend, else memory read through the callback backend.
Outcome engine(const std::string& in, const ConvertOptions& s, bool viaDescriptor) {
  FILE* file = nullptr;
  std::unique_ptr<ByteSource> input;
  if (viaDescriptor) {
    file = testutil::tempFile();
    std::fwrite(in.data(), 1, in.size(), file);
    std::rewind(file);  // flushed, and its descriptor back at the start
    input = descriptorSource(fileno(file), false);
  } else {
    input = testutil::memorySource(in);
  }
  Outcome r;
  std::unique_ptr<Sink> sink = testutil::memorySink(r.out);
  r.status = convert(*input, *sink, s).status;
  if (file != nullptr) std::fclose(file);
  return r;
}

class Generator {
 public:
  explicit Generator(unsigned seed) : rng_(seed) {}

  int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool chance(int percent) { return uniform(1, 100) <= percent; }

  ConvertOptions settings() {
    ConvertOptions s;
    int pick = uniform(0, 9);
    s.lineLen = pick < 6 ? uniform(5, 80) : (pick < 9 ? 70 : uniform(81, 300000));
    s.dropN = chance(30);
    s.upperCase = chance(30);
    s.oneLine = chance(20);
    return s;
  }

  std::string input() {
    // Some inputs are classic Mac text: their first line break is a lone CR,
    // and LF and CRLF turn up among the later ones.
    mac_ = chance(15);
    firstBreak_ = true;
    std::string in;
    if (chance(5)) in += chance(10) ? "\xEF\xBB\xBF\xEF\xBB\xBF" : "\xEF\xBB\xBF";
    bool big = chance(10);
    int records = uniform(0, big ? 12 : 8);
    if (chance(30)) in += blankLines();
    if (chance(5)) in += "x";  // a one-character line, maybe the only one
    for (int r = 0; r < records; ++r) in += record(big);
    if (chance(15) && !in.empty() && in.back() == '\n') in.pop_back();
    if (chance(5)) in += ";" + randomText(uniform(0, 20)) + (chance(50) ? "\n" : "");
    return in;
  }

 private:
  std::string eol() {
    if (!mac_) return chance(10) ? "\r\n" : "\n";
    if (firstBreak_) {
      firstBreak_ = false;
      return "\r";
    }
    int pick = uniform(0, 9);
    return pick < 7 ? "\r" : (pick < 9 ? "\n" : "\r\n");
  }

  std::string blankLines() {
    std::string s;
    int n = uniform(1, 3);
    for (int i = 0; i < n; ++i) s += mac_ ? eol() : (chance(80) ? "\n" : "\r\n");
    return s;
  }

  std::string randomText(int n) {
    static const char kChars[] = "abcXYZ 09\t-;>FRAGMENT->";
    std::string s;
    for (int i = 0; i < n; ++i) {
      s += chance(3) ? static_cast<char>(uniform(0, 255)) : kChars[uniform(0, sizeof kChars - 2)];
    }
    return s;
  }

  std::string number() {
    std::string s = chance(20) ? (chance(50) ? "-" : "+") : "";
    return s + std::to_string(uniform(0, 100000));
  }

  std::string commentLine() {
    switch (uniform(0, 6)) {
      case 0: return ";" + eol();
      case 1: return "; FRAGMENT " + number() + " -> " + number() + eol();
      case 2:
        return ";note -> FRAGMENT" + std::string(uniform(0, 2), ' ') + number() + "->" + number() +
               " tail" + eol();
      case 3: return "; FRAGMENT x -> 5" + eol();
      case 4: return "; FRAGMENT 5 - > 6" + eol();
      case 5:
        return ";" + std::string(uniform(0, chance(10) ? 200000 : 5000), 'c') + " FRAGMENT 1 -> 2" +
               eol();
      default: return ";" + randomText(uniform(0, 40)) + eol();
    }
  }

  std::string nameLine() {
    switch (uniform(0, 5)) {
      case 0: return eol();
      case 1: return "  \t" + word(uniform(1, 12)) + " more words" + eol();
      case 2: return ">" + word(uniform(0, 5)) + eol();
      case 3: return word(uniform(200, chance(10) ? 300000 : 2000)) + eol();
      default: return word(uniform(1, 20)) + eol();
    }
  }

  std::string word(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>('A' + uniform(0, 25));
    return s;
  }

  std::string residueLine(bool big) {
    static const char kResidues[] = "acgtnACGTN-acgtACGT";
    static const char kNoise[] = " 0123456789*.\t\r";
    int n = big && chance(2) ? uniform(100000, 300000) : uniform(0, 90);
    std::string s;
    s.reserve(n + 2);
    int noise = uniform(0, 3) * 10;
    for (int i = 0; i < n; ++i) {
      if (chance(noise)) {
        s +=
            chance(85) ? kNoise[uniform(0, sizeof kNoise - 2)] : static_cast<char>(uniform(0, 255));
      } else {
        s += kResidues[uniform(0, sizeof kResidues - 2)];
      }
    }
    if (chance(10)) s.insert(0, " ");
    return s + eol();
  }

  std::string record(bool big) {
    std::string s;
    int kind = uniform(0, 9);
    if (kind < 5) {
      int comments = uniform(1, 3);
      for (int i = 0; i < comments; ++i) s += commentLine();
      s += nameLine();
    } else if (kind < 9) {
      s += ">" + randomText(uniform(0, 30)) + (chance(3) ? std::string(200000, 'h') : "") + eol();
    }
    int lines = uniform(0, big ? 60 : 6);
    for (int i = 0; i < lines; ++i) {
      s += chance(5) ? blankLines() : residueLine(big);
    }
    return s;
  }

  std::mt19937 rng_;
  bool mac_ = false;
  bool firstBreak_ = true;
};

TEST(Differential, EngineMatchesModelOnRandomInputs) {
  const int kCases = 3000;
  const std::vector<const kernels::Kernel*> loops = supportedKernels();
  for (int seed = 1; seed <= kCases; ++seed) {
    Generator gen(static_cast<unsigned>(seed));
    ConvertOptions s = gen.settings();
    std::string in = gen.input();
    Outcome want = model::convert(in, s);
    // Halved so that every loop meets both kinds of input stream.
    s.kernel = loops[static_cast<size_t>(seed / 2) % loops.size()];
    Outcome got = engine(in, s, seed % 2 == 0);
    ASSERT_EQ(got.status, want.status) << "seed " << seed << ", kernel " << s.kernel->name;
    ASSERT_EQ(got.out.size(), want.out.size()) << "seed " << seed;
    ASSERT_TRUE(got.out == want.out) << "seed " << seed;
  }
}

// Records laid out so that line ends, marks and multi-byte sequences fall on
// every position around the engine's block boundaries.
TEST(Differential, RecordsAcrossBlockBoundaries) {
  const size_t kBlock = 128 * 1024;
  ConvertOptions s;
  s.lineLen = 60;
  for (size_t shift = 0; shift < 40; ++shift) {
    std::string in = ">h\n" + std::string(kBlock - 3 - 20 + shift, 'a') +
                     "\n;c FRAGMENT 1 -> 2\nNM x\nacgt\n>h2\nAC\n";
    Outcome want = model::convert(in, s);
    Outcome got = engine(in, s, shift % 2 == 0);
    ASSERT_EQ(got.status, want.status) << shift;
    ASSERT_TRUE(got.out == want.out) << "shift " << shift;
  }
}

}  // namespace

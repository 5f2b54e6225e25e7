// SPDX-License-Identifier: MIT
// The parts of the output side, driven directly: the level-1 coder of
// BGZF output (whatever it codes must inflate, with zlib, to the bytes it
// was given; text that is not sequence-like is left to the library), the
// ordered pool of workers, the FASTA index builder, the output plan and
// the 2bit writer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <zlib.h>
#include <csignal>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/platform.h"
#include "common/pool.h"
#include "output/dictionary.h"
#include "output/faidx.h"
#include "output/huffman.h"
#include "output/index.h"
#include "output/plan.h"
#include "output/twobit.h"
#include "test_util.h"
#include "twobit_reader.h"

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

// Zero code lengths go in run codes: a block of four letters, nearly all
// of whose 286 literal lengths are zero, takes 1101 bytes as the coder
// makes it now (zeros sent as a zero and its repeats take 1114); more is a
// header grown by mistake.
TEST(SequenceCoder, ZeroLengthsTakeRunCodes) {
  std::string dna;
  for (int i = 0; i < 4000; ++i) dna += "ACGT"[(i * 7 + i / 3) % 4];
  size_t coded = expectRoundTrip(dna);
  EXPECT_GT(coded, 0u);
  EXPECT_LE(coded, 1101u);
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

// A worker that reverses its job's bytes, after a pause that varies from
// job to job so that they end in another order than they began; a job
// whose first byte is '!' fails.
class Reverser : public PoolTask {
 public:
  bool run(PoolJob& job) override {
    usleep(static_cast<useconds_t>((job.in[0] * 37 + job.inLen) % 7) * 200);
    for (size_t i = 0; i < job.inLen; ++i) job.out[i] = job.in[job.inLen - 1 - i];
    job.outLen = job.inLen;
    return job.in[0] != '!';
  }
};

struct PoolCase {
  const char* name;
  size_t workers;
  size_t slots;
  int jobs;
};

// Jobs come back in the order they went in, each done by its worker, the
// failed one marked; however few slots and many workers.
TEST(OrderedPool, HandsJobsBackInOrder) {
  if (const char* why = testutil::noThreads()) GTEST_SKIP() << why;
  const PoolCase cases[] = {
      {"on the caller's thread", 1, 1, 50},   {"two workers, two slots", 2, 2, 200},
      {"more workers than slots", 5, 3, 200}, {"many slots", 3, 16, 300},
      {"one slot, two workers", 2, 1, 100},
  };
  for (const PoolCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::unique_ptr<PoolTask>> tasks;
    for (size_t i = 0; i < c.workers; ++i) tasks.push_back(std::make_unique<Reverser>());
    OrderedPool pool(std::move(tasks), c.slots, 64, 64);
    int submitted = 0, taken = 0;
    auto takeOne = [&] {
      PoolJob* job = pool.take();
      ASSERT_NE(job, nullptr);
      std::string want = (taken % 13 == 5 ? "!" : "") + std::to_string(taken) + "-job";
      std::reverse(want.begin(), want.end());
      EXPECT_EQ(std::string(reinterpret_cast<char*>(job->out.get()), job->outLen), want);
      EXPECT_EQ(job->ok, taken % 13 != 5);
      pool.release();
      ++taken;
    };
    while (submitted < c.jobs) {
      PoolJob* job = pool.fill();
      if (job == nullptr) {
        takeOne();
        continue;
      }
      std::string text = (submitted % 13 == 5 ? "!" : "") + std::to_string(submitted) + "-job";
      std::memcpy(job->in.get(), text.data(), text.size());
      job->inLen = text.size();
      pool.submit();
      ++submitted;
    }
    while (taken < submitted) takeOne();
    EXPECT_EQ(pool.take(), nullptr);
  }
}

// The bytes written to a memory stream by `write`.
template <typename Write>
std::string written(Write write) {
  char* buf = nullptr;
  size_t len = 0;
  FILE* F = open_memstream(&buf, &len);
  write(F);
  std::fclose(F);
  std::string bytes(buf, len);
  std::free(buf);
  return bytes;
}

// Feeds `text` to `builder` in pieces of `piece` bytes, and ends it.
template <typename Builder>
void feedInPieces(Builder& builder, const std::string& text, size_t piece) {
  for (size_t at = 0; at < text.size(); at += piece) {
    builder.feed(reinterpret_cast<const unsigned char*>(text.data()) + at,
                 std::min(piece, text.size() - at));
  }
  EXPECT_TRUE(builder.end());
}

// Every name the same hash: each name is told from the others by its bytes.
uint64_t collidingHash(std::string_view) { return 7; }

// The index of `text` as the builder lists it and settleIndex() makes it,
// fed in pieces of `piece` bytes, names hashed by `hash`.
std::string indexOf(const std::string& text, size_t piece, NameHash hash) {
  return written([&](FILE* F) {
    FILE* listing = std::tmpfile();
    ASSERT_NE(listing, nullptr);
    NameLog names(hash);
    FaidxBuilder builder(listing, names);
    feedInPieces(builder, text, piece);
    RepeatedNames repeated(names.takeRepeatedHashes(), hash);
    std::rewind(listing);
    EXPECT_TRUE(settleIndex(listing, F, repeated));
    std::fclose(listing);
  });
}

struct IndexCase {
  const char* name;
  std::string text;  // the output, as the engine writes it
  std::string index;
};

// One line per record with residues: name up to the first blank or tab,
// length, offset of the first residue, residues and bytes per line; the
// same whatever pieces the output comes in.
TEST(FaidxBuilder, LinesOfTheOutput) {
  const IndexCase cases[] = {
      {"records", ">SEQ1 FRAGMENT 1 -> 8\nacgtac\ngt\n>f\nAC\n",
       "SEQ1\t8\t22\t6\t7\nf\t2\t35\t2\t3\n"},
      {"name ends at a tab", ">n1\tx\nACGT\n", "n1\t4\t6\t4\t5\n"},
      {"several lines", ">c\nACG\nACG\nA\n", "c\t7\t3\t3\t4\n"},
      {"a record without residues has no line", ">a\n\n>b\nAC\n", "b\t2\t7\t2\t3\n"},
      {"a name seen before keeps its first line", ">a\nAC\n>a\nGGG\n", "a\t2\t3\t2\t3\n"},
      {"the first record with residues of a name gets its line",
       ">a\n>b\n>a\nACGT\n>b\nG\n>a\nT\n>c\nA\n>b\nAA\n",
       "a\t4\t9\t4\t5\nb\t1\t17\t1\t2\nc\t1\t27\t1\t2\n"},
      {"one line per sequence", ">x\n" + std::string(5000, 'A') + "\n", "x\t5000\t3\t5000\t5001\n"},
      {"nothing", "", ""},
  };
  for (const IndexCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (size_t piece : {size_t{1}, size_t{3}, size_t{7}, c.text.size() + 1}) {
      SCOPED_TRACE(piece);
      EXPECT_EQ(indexOf(c.text, piece, nameHash), c.index);
      EXPECT_EQ(indexOf(c.text, piece, collidingHash), c.index);
    }
  }
}

// The dictionary of `text` as the builder writes it, fed in pieces of
// `piece` bytes, digested on a thread of its own or on the caller's; with
// the names that more than one record has, read back from it.
std::string dictionaryOf(const std::string& text, size_t piece, bool ownThread,
                         std::vector<std::string>* duplicates) {
  // Every name in one bucket costs a comparison with each other name.
  NameHash hash = text.size() < 10000 ? collidingHash : nameHash;
  NameLog names(hash);
  std::string dict = written([&](FILE* F) {
    DictionaryBuilder builder(F, "/d/o.fa", ownThread, &names);
    feedInPieces(builder, text, piece);
  });
  RepeatedNames repeated(names.takeRepeatedHashes(), hash);
  FILE* listing = fmemopen(&dict[0], dict.size(), "r");
  EXPECT_NE(listing, nullptr);
  if (listing == nullptr) return dict;
  EXPECT_TRUE(readDictionaryNames(listing, repeated));
  std::fclose(listing);
  duplicates->clear();
  for (size_t i = 0; i < repeated.count(); ++i) duplicates->push_back(repeated.at(i).name);
  return dict;
}

struct DictCase {
  const char* name;
  std::string text;   // the output, as the engine writes it
  std::string lines;  // after the @HD line; "N L M" stands for the @SQ line
                      // of name N, length L, digest M
  std::vector<std::string> duplicates;
};

// One line per record, every record: the index's name, the residue count,
// the digest of the residues in upper case; the same whatever pieces the
// output comes in, on the caller's thread or on one of its own.
TEST(DictionaryBuilder, LinesOfTheOutput) {
  if (const char* why = testutil::noThreads()) GTEST_SKIP() << why;
  const std::string kLong = [] {
    std::string residues, text = ">long\n";
    for (int i = 0; i < 350000; ++i) residues += "acgTN-";
    for (size_t at = 0; at < residues.size(); at += 70) text += residues.substr(at, 70) + "\n";
    return text;
  }();
  // Records whose residues end the digest's last 64-byte block just short of,
  // at and past the 56 bytes that leave room for the length.
  const std::string kBlockEdges = [] {
    std::string text, residues;
    for (int i = 0; i < 30; ++i) residues += "acgtN";
    for (int n : {55, 56, 63, 64, 119, 120})
      text += ">l" + std::to_string(n) + "\n" + residues.substr(0, n) + "\n";
    return text;
  }();
  // More records without residues than a block's marks hold, so that the
  // marks hand blocks over, and a repeated name among them.
  std::string manyEmpty, manyEmptyLines;
  for (int i = 0; i < 100000; ++i) {
    std::string name = "e" + std::to_string(i % 99999);
    manyEmpty += ">" + name + "\n";
    manyEmptyLines += name + " 0 d41d8cd98f00b204e9800998ecf8427e\n";
  }
  manyEmpty += ">x\nAC\n";
  manyEmptyLines += "x 2 4144e097d2fa7a491cec2a7a4322f2bc\n";
  const DictCase cases[] = {
      {"records",
       ">SEQ1 FRAGMENT 1 -> 8\nacgtac\ngt\n>f\nAC\n",
       "SEQ1 8 cc0af3a4fedb18378b4b57b98068e69f\nf 2 4144e097d2fa7a491cec2a7a4322f2bc\n",
       {}},
      {"name after blanks, ended by a tab",
       ">  \tn1\tx\nAC-G\nTNN\n",
       "n1 7 bbefbc6c135af51c6a3c6973fc991046\n",
       {}},
      {"a record without residues has length 0",
       ">a\n\n>b\n",
       "a 0 d41d8cd98f00b204e9800998ecf8427e\nb 0 d41d8cd98f00b204e9800998ecf8427e\n",
       {}},
      {"a name seen before is listed again",
       ">a\nAC\n>a\nGGG\n>\nAC\n>\n>a\n",
       "a 2 4144e097d2fa7a491cec2a7a4322f2bc\na 3 9af3a2bdc0c8780394fe540db548e97d\n"
       " 2 4144e097d2fa7a491cec2a7a4322f2bc\n 0 d41d8cd98f00b204e9800998ecf8427e\n"
       "a 0 d41d8cd98f00b204e9800998ecf8427e\n",
       {"a", ""}},
      {"a NUL ends the name",
       std::string(">nu\0l x\nACGACGA\n", 16),
       "nu 7 221402d1f1285414b715ad1431a05b7f\n",
       {}},
      {"one line per sequence, no last line end",
       ">x\n" + std::string(5000, 'a'),
       "x 5000 1811ed45a571e515ed0faefc29f27026\n",
       {}},
      {"a record longer than the blocks",
       kLong,
       "long 2100000 727a15691bf01aa82161d077ac77bc50\n",
       {}},
      {"lengths at the digest's block edges",
       kBlockEdges,
       "l55 55 051c73d2c060f75668305d6c3e0e19b0\nl56 56 0bf3bfb389e33733bf4ee8700950bbc8\n"
       "l63 63 a395909ed0aa76cd91a9b38c8f73e0de\nl64 64 4c6aa5e06b77956fe41d45aa83c8a598\n"
       "l119 119 5ddf530ac417dbd202f54517469f518e\nl120 120 edea481f851e212d8687779021e48821\n",
       {}},
      {"records without residues, many", manyEmpty, manyEmptyLines, {"e0"}},
      {"nothing", "", "", {}},
  };
  for (const DictCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string want = "@HD\tVN:1.0\tSO:unsorted\n";
    std::istringstream lines(c.lines);
    for (std::string line; std::getline(lines, line);) {
      size_t a = line.find(' '), b = line.find(' ', a + 1);
      want += "@SQ\tSN:" + line.substr(0, a) + "\tLN:" + line.substr(a + 1, b - a - 1) +
              "\tM5:" + line.substr(b + 1) + "\tUR:file:///d/o.fa\n";
    }
    for (bool ownThread : {false, true}) {
      for (size_t piece : {size_t{1}, size_t{7}, size_t{70000}, c.text.size() + 1}) {
        SCOPED_TRACE(testing::Message() << "piece " << piece << (ownThread ? " threaded" : ""));
        if (piece == 1 && c.text.size() > 10000) continue;
        std::vector<std::string> duplicates;
        EXPECT_EQ(dictionaryOf(c.text, piece, ownThread, &duplicates), want);
        EXPECT_EQ(duplicates, c.duplicates);
      }
    }
  }
}

struct PlanCase {
  const char* name;
  OutputRequest request;
  const char* outName;
  OutputFormat format;
  int level;
  const char* problem;  // empty when there is a plan
};

// The output's format by the request, else by the name; the level in the
// format's range, its default else; --index only for a named output that
// can be indexed.
TEST(OutputPlan, FormatLevelAndRefusals) {
  const OutputFormat kPlain = OutputFormat::kPlain, kBgzf = OutputFormat::kBgzf,
                     kZstd = OutputFormat::kZstd, kTwoBit = OutputFormat::kTwoBit;
  const PlanCase cases[] = {
      {"plain by default", {}, "out.fa", kPlain, 1, ""},
      {"standard output is plain", {}, nullptr, kPlain, 1, ""},
      {"gz by name", {}, "out.fa.gz", kBgzf, 1, ""},
      {"bgz by name", {}, "x.bgz", kBgzf, 1, ""},
      {"zst by name", {}, "out.fa.zst", kZstd, 3, ""},
      {"gz only at the end", {}, "out.gz.txt", kPlain, 1, ""},
      {"request over the name", {"none", nullptr, 0, false}, "out.fa.gz", kPlain, 1, ""},
      {"gzip requested", {"gzip", "12", 0, false}, nullptr, kBgzf, 12, ""},
      {"gzip level 0 stores", {"gzip", "0", 0, false}, nullptr, kBgzf, 0, ""},
      {"gzip above 12",
       {"gzip", "13", 0, false},
       nullptr,
       kBgzf,
       0,
       "Bad argument '13' to --level option\n"},
      {"zstd level 0",
       {"zstd", "0", 0, false},
       nullptr,
       kZstd,
       0,
       "Bad argument '0' to --level option\n"},
      {"zstd 19", {"zstd", "19", 0, false}, nullptr, kZstd, 19, ""},
      {"index of standard output",
       {nullptr, nullptr, 0, true},
       nullptr,
       kPlain,
       0,
       "The --index option needs an output file, not standard output\n"},
      {"index of zstd",
       {nullptr, nullptr, 0, true},
       "o.zst",
       kZstd,
       0,
       "The --index option cannot index zstd output; use gzip (BGZF) or none\n"},
      {"index of BGZF", {nullptr, nullptr, 0, true}, "o.gz", kBgzf, 1, ""},
      {"dictionary of standard output",
       {nullptr, nullptr, 0, false, true},
       nullptr,
       kPlain,
       0,
       "The --dict option needs an output file, not standard output\n"},
      {"dictionary of zstd", {nullptr, nullptr, 0, false, true}, "o.fa.zst", kZstd, 3, ""},
      // 2bit is no compression: its name wins over --compress, and it
      // takes any level as plain output does.
      {"2bit by name", {}, "g.2bit", kTwoBit, 1, ""},
      {"2bit over --compress", {"gzip", "12", 0, false}, "g.2bit", kTwoBit, 12, ""},
      {"2bit at the end only", {}, "g.2bit.fa", kPlain, 1, ""},
      {"2bit is no --compress name", {"2bit", nullptr, 0, false}, "g.fa", kPlain, 1, ""},
      {"index of 2bit",
       {nullptr, nullptr, 0, true},
       "g.2bit",
       kTwoBit,
       0,
       "The --index option cannot index 2bit output; use gzip (BGZF) or none\n"},
      {"dictionary of 2bit",
       {nullptr, nullptr, 0, false, true},
       "g.2bit",
       kTwoBit,
       0,
       "The --dict option cannot describe 2bit output; use gzip (BGZF) or none\n"},
  };
  for (const PlanCase& c : cases) {
    SCOPED_TRACE(c.name);
#ifndef QUENBREL_HAVE_ZSTD
    if (c.format == kZstd && c.problem[0] == '\0') continue;
#endif
    Planned p = planOutput(c.request, c.outName);
    EXPECT_EQ(p.problem, c.problem);
    if (!p.ok()) continue;
    EXPECT_EQ(p.plan.format, c.format);
    EXPECT_EQ(p.plan.level, c.level);
    EXPECT_EQ(p.plan.index, c.request.index);
    EXPECT_EQ(p.plan.dict, c.request.dict);
    EXPECT_EQ(p.plan.threads,
              c.request.threads > 0 ? c.request.threads : platform::processorCount());
  }
}

// The dictionary is named as the tools that read it look for it.
TEST(OutputPlan, DictionaryName) {
  const std::pair<const char*, const char*> cases[] = {
      {"ref.fa.gz", "ref.dict"},
      {"ref.fasta", "ref.dict"},
      {"ref.fas.gz", "ref.dict"},
      {"d/ref.fna.gz", "d/ref.dict"},
      {"ref.txt", "ref.dict"},
      {"ref.ref.txt", "ref.ref.dict"},
      {"ref.txt.gz", "ref.dict"},
      {"ref.fa.bgz", "ref.fa.bgz.dict"},
      {"ref.fna.zst", "ref.fna.zst.dict"},
      {"ref.faa", "ref.faa.dict"},
      {"ref.ffn", "ref.ffn.dict"},
      {"ref.frn", "ref.frn.dict"},
      {"ref.seq", "ref.seq.dict"},
      {"ref", "ref.dict"},
      {"ref.gz", "ref.gz.dict"},
      {"ref.gz.fa", "ref.gz.dict"},
      {"ref.fa.gz.gz", "ref.fa.gz.gz.dict"},
      {"ref.FA", "ref.FA.dict"},
      {"x.fa/ref", "x.fa/ref.dict"},
      {"x.fa/.fa", "x.fa/.dict"},
      {"x.fa/.gz", "x.fa/.gz.dict"},
  };
  for (const auto& c : cases) EXPECT_EQ(dictName(c.first), c.second) << c.first;
}

extern "C" void hostHandler(int) {}

// The handler that removes files not yet whole when a signal ends the
// process is in place while such files exist, and only then: a process
// that writes many outputs gets its own handlers back between them, and a
// signal it ignores or handles itself (a host language's interpreter)
// stays its own.
TEST(AtomicFile, HandlersOnlyWhileFilesAreOpen) {
  testutil::TempDir dir;
  auto handlerOf = [](int sig) {
    struct sigaction now {};
    sigaction(sig, nullptr, &now);
    return now.sa_handler;
  };
  auto set = [](int sig, void (*handler)(int), struct sigaction* old) {
    struct sigaction act {};
    act.sa_handler = handler;
    ASSERT_EQ(sigaction(sig, &act, old), 0);
  };
  struct sigaction before[2];
  set(SIGINT, hostHandler, &before[0]);
  set(SIGTERM, SIG_IGN, &before[1]);
  mode_t mask = umask(0);
  umask(mask);
  {
    platform::AtomicFile first, second;
    ASSERT_TRUE(first.create(dir.file("a.fai")));
    ASSERT_TRUE(second.create(dir.file("b.fai")));
    struct stat st;
    ASSERT_EQ(stat(first.tempName().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask) << "not created as the final file would be";
    EXPECT_EQ(handlerOf(SIGINT), hostHandler);
    EXPECT_NE(handlerOf(SIGHUP), SIG_DFL);
    EXPECT_EQ(handlerOf(SIGTERM), SIG_IGN);
    std::string temp = second.tempName();
    EXPECT_TRUE(first.commit());
    EXPECT_NE(handlerOf(SIGHUP), SIG_DFL) << "restored while a file is open";
    second.discard();
    EXPECT_EQ(access(temp.c_str(), F_OK), -1);
    EXPECT_EQ(access(dir.file("a.fai").c_str(), F_OK), 0);
  }
  EXPECT_EQ(handlerOf(SIGINT), hostHandler);
  EXPECT_EQ(handlerOf(SIGHUP), SIG_DFL);
  EXPECT_EQ(handlerOf(SIGTERM), SIG_IGN);
  // A later run guards its files again, and a signal the process came to
  // ignore in between stays ignored, during the run and after it.
  set(SIGINT, SIG_IGN, nullptr);
  {
    platform::AtomicFile third;
    ASSERT_TRUE(third.create(dir.file("c.fai")));
    EXPECT_NE(handlerOf(SIGHUP), SIG_DFL);
    EXPECT_EQ(handlerOf(SIGINT), SIG_IGN);
  }
  EXPECT_EQ(handlerOf(SIGINT), SIG_IGN);
  EXPECT_EQ(handlerOf(SIGHUP), SIG_DFL);
  // A file that cannot be created is no file, and no guard.
  platform::AtomicFile missing;
  EXPECT_FALSE(missing.create(dir.file("no/such/folder.fai")));
  EXPECT_EQ(missing.stream(), nullptr);
  EXPECT_EQ(handlerOf(SIGHUP), SIG_DFL);
  sigaction(SIGINT, &before[0], nullptr);
  sigaction(SIGTERM, &before[1], nullptr);
}

// A temporary name as long as a path may be is never created, and guarding
// it on the way takes no more room than its own: a file guarded before it
// is still removed when a signal ends the process.
TEST(AtomicFile, LongestNameLeavesTheOthersGuarded) {
  testutil::TempDir dir;
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    platform::AtomicFile first, second, longest;
    if (!first.create(dir.file("a.fai")) || !second.create(dir.file("b.fai"))) _exit(2);
    first.discard();
    // NAME.tmpPID.0 of exactly PATH_MAX bytes, in folders that do not exist.
    std::string tail = ".tmp" + std::to_string(getpid()) + ".0";
    std::string name = dir.path() + "/";
    name += std::string(PATH_MAX - name.size() - tail.size() - 6, 'd') + "/o.fai";
    if (longest.create(name)) _exit(3);
    raise(SIGTERM);
    _exit(4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  std::vector<std::string> left = testutil::entriesOf(dir.path());
  EXPECT_TRUE(left.empty()) << left.front() << " left behind";
}

// With one thread, the dictionary's digests run on the caller's thread: a
// run of --threads=1 starts no thread of its own.
TEST(OutputIndex, OneThreadStartsNone) {
  auto threads = [] { return testutil::entriesOf("/proc/self/task").size(); };
  testutil::TempDir dir;
  std::string out = dir.file("o.fa");
  ASSERT_TRUE(testutil::writeFile(out, ""));
  size_t before = threads();
  OutputIndex index;
  IndexFiles files;
  files.dict = true;
  ASSERT_TRUE(index.open(out, files, 1));
  index.outputOpened(out);
  EXPECT_EQ(threads(), before);
  index.feed(reinterpret_cast<const unsigned char*>(">a\nAC\n"), 6);
  EXPECT_TRUE(index.commit());
}

// --- 2bit -------------------------------------------------------------------

struct TwoBitCase {
  const char* name;
  int64_t longFrom;  // -1: the file's size, -2: one byte less
  uint64_t memoryMax;
  size_t chunk;
  size_t piece;  // bytes a write
  int version;
};

// Records with runs of N and of lower case of every length, at every place
// in a packed byte, in output written a piece at a time; the packed bases
// held in chunks, spilled to the scratch file, or neither; the index with
// 32- and 64-bit offsets.
TEST(TwoBitSink, RecordsReadBack) {
  std::mt19937 rng(7);
  std::vector<std::pair<std::string, std::string>> records{
      {"empty", ""}, {"others", "ACRYKM-*bdNn.acgu"}, {"one", "g"}};
  for (int i = 0; i < 60; ++i) {
    std::string seq;
    const size_t n = rng() % 300;
    while (seq.size() < n) {
      seq.append(1 + rng() % 11, "ACGTacgtNnnN"[rng() % 12]);
      for (size_t k = rng() % 9; k > 0; --k) seq.push_back("ACGTacgt"[rng() % 8]);
    }
    records.push_back({"r" + std::to_string(i), seq});
  }
  // Residues before the first header are no record's.
  std::string text = "ACGTN\n";
  for (const auto& [name, seq] : records)
    text += ">" + (name == "one" ? " \tone x" : name + " y") + "\n" + seq + "\n";
  std::string earlier = "0123456789abcdef";
  uint64_t size = 0;
  const TwoBitCase cases[] = {
      {"in memory", 0, TwoBitSink::kMemoryMax, TwoBitSink::kChunk, 4096, 0},
      {"byte by byte", 0, TwoBitSink::kMemoryMax, TwoBitSink::kChunk, 1, 0},
      {"small chunks", 0, TwoBitSink::kMemoryMax, 6, 7, 0},
      {"spilled at once", 0, 0, 64, 1000, 0},
      {"spilled after some chunks", 0, 64 * 5, 64, 13, 0},
      {"64-bit offsets", 1, TwoBitSink::kMemoryMax, 64, 4096, 1},
      {"32-bit offsets to the last byte", -1, TwoBitSink::kMemoryMax, 64, 4096, 0},
      {"64-bit offsets past it", -2, TwoBitSink::kMemoryMax, 64, 4096, 1},
  };
  for (const TwoBitCase& c : cases) {
    SCOPED_TRACE(c.name);
    testutil::TempDir dir;
    std::string out = dir.file("o.2bit");
    ASSERT_TRUE(testutil::writeFile(out, earlier));
    uint64_t longFrom = c.longFrom == 0 ? TwoBitSink::kLongFrom : c.longFrom == 1 ? 1 : size;
    if (c.longFrom == -2) longFrom = size - 1;
    TwoBitSink sink(longFrom, c.memoryMax, c.chunk);
    ASSERT_TRUE(sink.open(out));
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t at = 0; at < text.size(); at += c.piece)
      ASSERT_TRUE(sink.write(p + at, std::min(c.piece, text.size() - at)));
    EXPECT_EQ(testutil::readFile(out), earlier);  // until the end
    ASSERT_TRUE(sink.finish(Ending::kComplete));
    EXPECT_EQ(sink.writtenAsN(), 10u);
    std::string bytes = testutil::readFile(out);
    if (c.version == 0 && size == 0) size = bytes.size();
    testutil::TwoBitFile got;
    ASSERT_TRUE(testutil::readTwoBit(bytes, got));
    EXPECT_EQ(got.version, c.version);
    ASSERT_EQ(got.records.size(), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(got.records[i].first, records[i].first);
      EXPECT_EQ(got.records[i].second, testutil::asTwoBit(records[i].second)) << records[i].first;
    }
    EXPECT_EQ(testutil::entriesOf(dir.path()), std::vector<std::string>{"o.2bit"});
  }
}

// Names 2bit cannot hold are refused before anything is written: the
// earlier file stays and no temporary file is left.
TEST(TwoBitSink, NamesItCannotHold) {
  const std::string k255(255, 'x');
  const struct {
    const char* name;
    std::string text;
    std::string refusal;
  } cases[] = {
      {"longest name", ">" + k255 + "\nAC\n", ""},
      {"one byte longer", ">a\n>" + k255 + "y\nAC\n",
       "The name of record 2 is longer than the 255 bytes 2bit output holds\n"},
      {"empty name", ">a\nAC\n> \t\nAC\n",
       "Record 2 has no name; 2bit output needs one for each record\n"},
      {"repeated name", ">a x\nAC\n>b\n>a y\nGT\n",
       "Record 3 has the name a of an earlier record; 2bit output needs each name once\n"},
      {"names differ in case", ">a\nAC\n>A\nGT\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testutil::TempDir dir;
    std::string out = dir.file("o.2bit");
    ASSERT_TRUE(testutil::writeFile(out, "earlier"));
    TwoBitSink sink;
    ASSERT_TRUE(sink.open(out));
    bool wrote = sink.write(reinterpret_cast<const unsigned char*>(c.text.data()), c.text.size());
    bool finished = sink.finish(Ending::kComplete);
    EXPECT_EQ(sink.refusal(), c.refusal);
    EXPECT_EQ(wrote && finished, c.refusal.empty());
    if (!c.refusal.empty()) {
      EXPECT_EQ(testutil::readFile(out), "earlier");
    }
    EXPECT_EQ(testutil::entriesOf(dir.path()), std::vector<std::string>{"o.2bit"});
  }
}

}  // namespace

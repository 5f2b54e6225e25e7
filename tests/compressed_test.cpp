// SPDX-License-Identifier: MIT
// Compressed input beyond gzip: zstd, xz and bzip2, one table of formats run
// through the same cases. Each converts, from a file or standard input, to
// exactly what the plain input converts to; damage is a read failure; a
// format whose decoder was not built in is refused by name.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#ifdef QUENBREL_HAVE_ZSTD
#include <zstd.h>
#endif
#ifdef QUENBREL_HAVE_XZ
#include <lzma.h>
#endif
#ifdef QUENBREL_HAVE_BZIP2
#include <bzlib.h>
#endif

#include "engine/convert.h"
#include "input/formats.h"
#include "input/path_trial.h"
#include "output/sink.h"
#include "test_util.h"

namespace {

using testutil::RunResult;
using testutil::TempDir;

const std::string kBin = testutil::tool();
const std::string kReadFailed = "Failed to read input.\n";

struct Damaged {
  std::string name;
  std::string bytes;
  std::string message;  // on standard error
  // Whether all output is genuine: true when the data is cut or extended,
  // false when it is corrupt, since decoders deliver a block before its
  // check value can say it was wrong.
  bool genuine = true;
  // Whether the damage follows whole units, so that all of their
  // conversion is written before the failure (but the closing line end,
  // which only a clean end of input writes). Such a row is also run with
  // its output stalled, so that the blocks decoded ahead of the damage are
  // all waiting to be converted when it is found.
  bool whole = false;
};

struct Format {
  const char* name;
  bool built;
  // One unit (frame or stream) holding `data`; null when not built.
  std::string (*compress)(const std::string& data);
  // Bytes that may stand between units and after the last (skippable
  // frames, stream padding), or nothing; and those that may open the input.
  std::string filler;
  std::string lead;
  // The shortest input that selects the format, and the message given when
  // its decoder was not built in.
  std::string magic;
  std::string missing;
  // Damage only this format can have.
  std::vector<Damaged> (*special)();
};

#ifdef QUENBREL_HAVE_ZSTD
// With the content checksum, as the command-line tool writes it.
std::string zstdFrame(const std::string& data) {
  ZSTD_CCtx* c = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, 3);
  ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 1);
  std::string out(ZSTD_compressBound(data.size()), '\0');
  size_t n = ZSTD_compress2(c, &out[0], out.size(), data.data(), data.size());
  ZSTD_freeCCtx(c);
  EXPECT_FALSE(ZSTD_isError(n));
  out.resize(ZSTD_isError(n) ? 0 : n);
  return out;
}
#endif

#ifdef QUENBREL_HAVE_XZ
std::string xzStream(const std::string& data) {
  std::string out(lzma_stream_buffer_bound(data.size()), '\0');
  size_t n = 0;
  EXPECT_EQ(lzma_easy_buffer_encode(1, LZMA_CHECK_CRC64, nullptr,
                                    reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                                    reinterpret_cast<uint8_t*>(&out[0]), &n, out.size()),
            LZMA_OK);
  out.resize(n);
  return out;
}

// A stream whose only block asks for a 1 GiB dictionary: refused before
// any data is needed.
std::vector<Damaged> xzSpecial() {
  uint8_t buf[LZMA_STREAM_HEADER_SIZE + LZMA_BLOCK_HEADER_SIZE_MAX];
  lzma_stream_flags flags{};
  flags.version = 0;
  flags.check = LZMA_CHECK_CRC64;
  EXPECT_EQ(lzma_stream_header_encode(&flags, buf), LZMA_OK);
  lzma_options_lzma options{};
  EXPECT_FALSE(lzma_lzma_preset(&options, 6));
  options.dict_size = 1u << 30;
  lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_block block{};
  block.version = 0;
  block.check = LZMA_CHECK_CRC64;
  block.filters = filters;
  block.compressed_size = LZMA_VLI_UNKNOWN;
  block.uncompressed_size = LZMA_VLI_UNKNOWN;
  EXPECT_EQ(lzma_block_header_size(&block), LZMA_OK);
  EXPECT_EQ(lzma_block_header_encode(&block, buf + LZMA_STREAM_HEADER_SIZE), LZMA_OK);
  std::string huge(reinterpret_cast<char*>(buf), LZMA_STREAM_HEADER_SIZE + block.header_size);
  std::string good = xzStream(";\nNAME\nACGT\n");
  return {
      {"dictionary beyond the memory limit", huge + std::string(64, '\0'),
       "The xz input needs 1025 MiB of memory to decompress, more than the 256 MiB limit.\n",
       false},
      {"padding not a multiple of four", good + std::string(3, '\0'), kReadFailed, false},
  };
}
#endif

#ifdef QUENBREL_HAVE_BZIP2
std::string bzip2Stream(const std::string& data) {
  std::string out(data.size() + data.size() / 100 + 700, '\0');
  unsigned n = static_cast<unsigned>(out.size());
  EXPECT_EQ(BZ2_bzBuffToBuffCompress(&out[0], &n, const_cast<char*>(data.data()),
                                     static_cast<unsigned>(data.size()), 9, 0, 0),
            BZ_OK);
  out.resize(n);
  return out;
}
#endif

// A frame header that asks for a 2 GiB window, beyond the decoder's limit:
// no checksum, no size, window byte 10 + 21 = 31, then an empty last block.
std::vector<Damaged> zstdSpecial() {
  return {{"window beyond the limit", std::string("\x28\xb5\x2f\xfd\x00\xa8\x01\x00\x00", 9),
           "The zstd input needs a window larger than the 128 MiB limit.\n"}};
}

std::vector<Damaged> nothingSpecial() { return {}; }

// A skippable frame: its magic, a little-endian length and that many bytes.
const std::string kSkippable(
    "\x5a\x2a\x4d\x18\x03\x00\x00\x00"
    "abc",
    11);

// The engine's own table says how each format is recognised and what a
// build without it says: the first bytes of its magic, and the message.
std::string magicOf(const char* name) {
  const InputFormat* f = inputFormat(name);
  return std::string(reinterpret_cast<const char*>(f->lo), f->magicSize);
}
std::string missingOf(const char* name) { return inputFormat(name)->missing; }

const Format kFormats[] = {
    {"zstd",
#ifdef QUENBREL_HAVE_ZSTD
     true, zstdFrame,
#else
     false, nullptr,
#endif
     kSkippable, kSkippable, magicOf("zstd"), missingOf("zstd"), zstdSpecial},
    {"xz",
#ifdef QUENBREL_HAVE_XZ
     true, xzStream, std::string(8, '\0'), "", magicOf("xz"), missingOf("xz"), xzSpecial},
#else
     false, nullptr, "", "", magicOf("xz"), missingOf("xz"), nothingSpecial},
#endif
    {"bzip2",
#ifdef QUENBREL_HAVE_BZIP2
     true, bzip2Stream,
#else
     false, nullptr,
#endif
     "", "", magicOf("bzip2"), missingOf("bzip2"), nothingSpecial},
};

// Test names and messages show the format by its name.
void PrintTo(const Format& f, std::ostream* os) { *os << f.name; }

using testutil::bigInput;
using testutil::sample;

using testutil::NamedRun;

std::vector<NamedRun> runEveryWay(const std::string& bytes,
                                  const std::vector<std::string>& options) {
  return testutil::runEveryWay(kBin, bytes, options);
}

// What the plain text converts to on the one-thread path, read from a pipe:
// nothing of it is read ahead, so it is the reference for every other path.
RunResult runPlain(const std::string& plain, const std::vector<std::string>& options) {
  std::vector<std::string> args{kBin, "-"};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back("--threads=1");
  return testutil::runPiecewise(args, {plain});
}

class CompressedInput : public ::testing::TestWithParam<Format> {};

// Single and concatenated units, with what may stand between them, convert
// exactly as the plain bytes do: output, messages and status.
TEST_P(CompressedInput, ConvertsLikeThePlainInput) {
  if (const char* why = testutil::noThreads()) GTEST_SKIP() << why;
  const Format& f = GetParam();
  if (!f.built) GTEST_SKIP() << f.name << " not built in";
  std::string big = bigInput(), s = sample();
  // Exactly one 128 KiB block of the engine: the unit ends where a read
  // of decoded bytes fills up.
  std::string block = ">a\n" + std::string(size_t{128} * 1024 - 4, 'A') + "\n";
  // Text in the wrong format, more than the engine reads on to find
  // damage near its first line, and its stream cut short beyond that.
  std::string wrong = testutil::residueLines("xyz\n", size_t{6} << 20);
  std::string wrongUnit = f.compress(wrong);
  std::string cutFar = wrongUnit.substr(0, wrongUnit.size() / 10 * 9);
  struct Case {
    const char* name;
    std::string plain;
    std::string compressed;
    std::vector<std::string> options;
    // Whether the row is about a unit after the first, which xz, reading
    // its streams as one, does not tell apart.
    bool laterUnit = false;
  };
  const Case cases[] = {
      {"sample", s, f.compress(s), {}},
      {"sample, options", s, f.compress(s), {"-n", "7", "-uc", "-unseq", "-ol"}},
      {"large", big, f.compress(big), {"-n", "61"}},
      {"concatenated",
       big,
       f.lead + f.compress(big.substr(0, 100000)) + f.filler + f.compress(big.substr(100000, 3)) +
           f.compress("") + f.filler + f.compress(big.substr(100003)) + f.filler,
       {}},
      {"not the format", "xyz\n>a\nAC\n", f.compress("xyz\n>a\nAC\n"), {}},
      // Not decoded to its end: damage beyond the unit of the first line,
      // or far beyond it, is never reached.
      {"not the format, a later unit cut short",
       "xyz\n>a\nAC\n",
       f.compress("xyz\n>a\nAC\n") + f.filler + f.compress(big).substr(0, 200),
       {},
       true},
      {"not the format, cut short far on", wrong, cutFar, {}},
      {"empty", "", f.compress(""), {}},
      {"a unit of one whole block", block, f.compress(block), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.laterUnit && std::string(f.name) == "xz") continue;
    RunResult want = runPlain(c.plain, c.options);
    for (const NamedRun& run : runEveryWay(c.compressed, c.options)) {
      SCOPED_TRACE(run.name);
      const RunResult& got = run.result;
      EXPECT_EQ(got.status, want.status);
      EXPECT_EQ(got.err, want.err);
      EXPECT_TRUE(got.out == want.out) << got.out.size() << " bytes against " << want.out.size();
    }
  }
}

// Damage anywhere ends the run with a read failure, after no more output
// than the undamaged part gives.
TEST_P(CompressedInput, DamagedStreamsAreReadFailures) {
  if (const char* why = testutil::noThreads()) GTEST_SKIP() << why;
  const Format& f = GetParam();
  if (!f.built) GTEST_SKIP() << f.name << " not built in";
  std::string big = bigInput();
  std::string good = f.compress(big);
  // Past the first record, so that its first line was read right.
  std::string middle = good;
  middle[good.size() / 4 * 3] ^= 0x55;
  // Text in the wrong format whose damage only the end of the stream shows:
  // what was decoded before is not taken for the input's format.
  std::string wrongText;
  for (int i = 0; i < 60000; ++i) wrongText += "ACGT\n";
  std::string wrongFormat = f.compress(wrongText);
  wrongFormat[wrongFormat.size() - 3] ^= 0x01;
  // The same, 2 MiB long: within what is read on to find damage.
  while (wrongText.size() < (size_t{2} << 20)) wrongText += big;
  std::string wrongLong = f.compress(wrongText);
  wrongLong[wrongLong.size() - 3] ^= 0x01;
  std::vector<Damaged> cases = {
      {"wrong format, damaged at the end", wrongFormat, kReadFailed, false},
      {"wrong format, damaged at the end of 2 MiB", wrongLong, kReadFailed, false},
      {"cut in the data", good.substr(0, good.size() / 2), kReadFailed},
      {"cut at the end", good.substr(0, good.size() - 1), kReadFailed},
      {"magic only", f.magic, kReadFailed},
      {"damaged in the middle", middle, kReadFailed, false},
      {"trailing garbage", good + "garbage\n", kReadFailed, true, true},
      {"half of a further magic", good + f.magic.substr(0, 1), kReadFailed},
      {"further unit cut short", good + good.substr(0, 40), kReadFailed},
  };
  for (const Damaged& d : f.special()) cases.push_back(d);
  std::string full = runPlain(big, {}).out;
  for (const Damaged& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<NamedRun> runs = runEveryWay(c.bytes, {});
    if (c.whole) {
      runs.push_back({"slow consumer, --threads=2",
                      testutil::runSlowConsumer({kBin, "-", "--threads=2"}, c.bytes)});
    }
    for (const NamedRun& run : runs) {
      SCOPED_TRACE(run.name);
      const RunResult& got = run.result;
      EXPECT_EQ(got.status, 10);
      EXPECT_EQ(got.err, c.message);
      if (c.genuine) {
        EXPECT_EQ(full.compare(0, got.out.size(), got.out), 0) << "made-up output";
      }
      if (c.whole) {
        EXPECT_TRUE(got.out + "\n" == full) << got.out.size() << " bytes written";
      }
    }
  }
}

// The threads of this process.
size_t ownThreads() { return testutil::entriesOf("/proc/self/task").size(); }

// Hands the output on, noting at every block how many threads the process
// has: the reading thread shows as one more while it runs.
class ThreadCountingSink : public Sink {
 public:
  explicit ThreadCountingSink(Sink& to) : to_(to) {}
  bool write(const unsigned char* p, size_t n) override {
    counts_.push_back(ownThreads());
    return to_.write(p, n);
  }
  bool finish(Ending ending) override { return to_.finish(ending); }
  // Blocks written while the process had fewer threads than at its most.
  size_t withoutThread() const {
    size_t most = 0, fewer = 0;
    for (size_t c : counts_) most = std::max(most, c);
    for (size_t c : counts_) fewer += c < most;
    return fewer;
  }
  size_t blocks() const { return counts_.size(); }

 private:
  Sink& to_;
  std::vector<size_t> counts_;
};

// The trial's steps come at the blocks its choice names, whatever the
// clock says: after 2 * trialBlocks blocks let by, a block starting the
// clock and trialBlocks blocks timed, the thread starts; after the
// thread's settling blocks, the same again, and the verdict is given.
// The end of input (a count of 0 or less) changes nothing.
TEST(PathTrial, StepsComeAtTheBlocksTheChoiceNames) {
  using Step = PathTrial::Step;
  using Verdict = InputPathChoice::Verdict;
  const struct {
    InputPathChoice choice;
    size_t settle;
    size_t startAt, endAt;  // the blocks (from 1) of kStartThread and of the verdict
    Step verdict;
  } rows[] = {
      {{1, Verdict::kThread}, 1, 4, 7, Step::kKeepThread},
      {{2, Verdict::kOwnThread}, 1, 7, 11, Step::kDropThread},
      {{3, Verdict::kThread}, 4, 10, 18, Step::kKeepThread},
      {{24, Verdict::kOwnThread}, 8, 73, 106, Step::kDropThread},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.choice.trialBlocks);
    PathTrial trial(row.choice, row.settle);
    for (size_t block = 1; block <= row.endAt; ++block) {
      EXPECT_EQ(trial.count(0, 0), Step::kGoOn);
      Step expected = block == row.startAt ? Step::kStartThread
                      : block == row.endAt ? row.verdict
                                           : Step::kGoOn;
      EXPECT_EQ(trial.count(4096, 1000 * static_cast<long>(block)), expected) << "block " << block;
    }
  }
}

// With two threads, a file's decoding is timed on the engine's thread, then
// on a thread of its own, and the faster path goes on. Every way that may go
// writes what the one-thread path writes, damage found on either path or on
// the way back included. The way back ends the thread at once: most of a
// long input is then read and written without it, where a thread that went
// on would read to the end.
TEST_P(CompressedInput, EveryWayTheTimingGoes) {
  if (const char* why = testutil::noThreads()) GTEST_SKIP() << why;
  const Format& f = GetParam();
  if (!f.built) GTEST_SKIP() << f.name << " not built in";
  // Long enough for both timed stretches and the way back, and twice as
  // long as that.
  std::string big = bigInput() + bigInput();
  std::string full = runPlain(big, {}).out;
  std::string whole = f.compress(big);
  using Verdict = InputPathChoice::Verdict;
  const struct {
    const char* name;
    InputPathChoice choice;
  } paths[] = {
      {"the thread at once", {0, Verdict::kThread}},
      {"the thread after the engine's stretch", {1, Verdict::kThread}},
      {"the thread, then the engine's again", {1, Verdict::kOwnThread}},
      {"as timed", {2, Verdict::kTimed}},
  };
  const struct {
    const char* name;
    std::string bytes;
  } inputs[] = {
      {"whole", whole},
      {"cut short", whole.substr(0, whole.size() * 3 / 4)},
      {"cut early", whole.substr(0, whole.size() / 8)},
      // Read faster than converted: blocks wait in the ring when the
      // thread is stopped.
      {"not compressed", big},
  };
  TempDir tmp;
  const std::string inPath = tmp.file("in"), outPath = tmp.file("out.fa");
  for (const auto& input : inputs) {
    ASSERT_TRUE(testutil::writeFile(inPath, input.bytes));
    // What the one-thread path makes of it: the whole output, or what was
    // decoded before the damage, and the failure.
    RunResult oneThread = testutil::run({kBin, inPath, "--threads=1"});
    if (input.bytes.size() == whole.size()) {
      EXPECT_TRUE(oneThread.out == full);
    }
    for (const auto& path : paths) {
      SCOPED_TRACE(std::string(input.name) + ", " + path.name);
      int in = ::open(inPath.c_str(), O_RDONLY | O_CLOEXEC);
      int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
      ASSERT_TRUE(in >= 0 && out >= 0);
      std::unique_ptr<ByteSource> source = descriptorSource(in, true);
      std::unique_ptr<Sink> file = descriptorSink(out, true);
      ThreadCountingSink sink(*file);
      ConvertOptions options;
      options.threads = 2;
      options.inputPath = path.choice;
      ConvertResult r = convert(*source, sink, options);
      EXPECT_EQ(r.status, oneThread.status);
      EXPECT_EQ(r.message, oneThread.err);
      EXPECT_TRUE(testutil::readFile(outPath) == oneThread.out) << "not the one thread's output";
      if (path.choice.verdict == Verdict::kOwnThread && input.bytes == whole) {
        EXPECT_GT(2 * sink.withoutThread(), sink.blocks())
            << sink.withoutThread() << " of " << sink.blocks() << " blocks without the thread";
      }
    }
  }
}

// A format recognised by its magic but not built in is refused by name,
// never taken for text in the wrong format.
TEST_P(CompressedInput, MissingDecoderIsNamed) {
  if (const char* why = testutil::noThreads()) GTEST_SKIP() << why;
  const Format& f = GetParam();
  if (f.built) {
    GTEST_SKIP() << f.name
                 << " built in: its missing-library message is checked by the builds "
                    "without it (the fallback build of CI)";
  }
  for (const NamedRun& run : runEveryWay(f.magic + "rest of the data\n", {})) {
    SCOPED_TRACE(run.name);
    EXPECT_EQ(run.result.status, 10);
    EXPECT_EQ(run.result.err, f.missing);
    EXPECT_EQ(run.result.out, "");
  }
}

// A pipe that delivers the first bytes of the magic on their own, then the
// rest: the magic is still recognised across the reads, in two pieces or
// in three.
TEST_P(CompressedInput, MagicSplitAcrossPipeReads) {
  if (const char* why = testutil::noThreads()) GTEST_SKIP() << why;
  const Format& f = GetParam();
  std::string data = f.built ? f.compress(sample()) : f.magic + "x";
  RunResult want = f.built ? runPlain(sample(), {}) : RunResult{"", f.missing, 10};
  const std::vector<std::vector<size_t>> splits = {{1}, {f.magic.size() - 1}, {1, 2}};
  for (const std::vector<size_t>& cuts : splits) {
    std::vector<std::string> pieces;
    size_t from = 0;
    for (size_t cut : cuts) {
      pieces.push_back(data.substr(from, cut - from));
      from = cut;
    }
    pieces.push_back(data.substr(from));
    SCOPED_TRACE(std::to_string(pieces.size()) + " pieces, the first of " +
                 std::to_string(cuts[0]) + " bytes");
    for (const char* threads : {"--threads=1", "--threads=2"}) {
      SCOPED_TRACE(threads);
      RunResult got = testutil::runPiecewise({kBin, "-", threads}, pieces);
      EXPECT_EQ(got.status, want.status);
      EXPECT_EQ(got.err, want.err);
      EXPECT_TRUE(got.out == want.out) << got.out.size() << " bytes written";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, CompressedInput, ::testing::ValuesIn(kFormats),
                         [](const ::testing::TestParamInfo<Format>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace

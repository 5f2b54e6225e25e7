// SPDX-License-Identifier: MIT
// Compressed input: gzip input, from a file or standard input, converts to
// the same bytes as the plain input; damaged streams are read failures.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "inflate_check.h"
#include "test_util.h"

namespace {

using testutil::RunResult;
using testutil::TempDir;

const std::string kBin = testutil::tool();
const std::string kReadFailed = "Failed to read input.\n";

// One gzip member holding `data`. `named` adds a file name, a comment and a
// header check, as some compressors write them.
std::string gzipMember(const std::string& data, bool named = false) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  gz_header head{};
  char name[] = "seqs.ig";
  char comment[] = "test data";
  if (named) {
    head.name = reinterpret_cast<Bytef*>(name);
    head.comment = reinterpret_cast<Bytef*>(comment);
    head.hcrc = 1;
    EXPECT_EQ(deflateSetHeader(&z, &head), Z_OK);
  }
  return inflatecheck::deflateWhole(z, data);
}

using testutil::bigInput;
using testutil::sample;

// BGZF: `data` cut into members of `chunk` bytes, each a gzip member with
// the "BC" field giving its size; the empty member last.
std::string bgzfOf(const std::string& data, size_t chunk = 0xff00) {
  std::string out;
  for (size_t at = 0; at < data.size() || at == 0; at += chunk) {
    std::string part = data.substr(at, chunk);
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string body(deflateBound(&z, part.size()) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(part.data()));
    z.avail_in = static_cast<uInt>(part.size());
    z.next_out = reinterpret_cast<Bytef*>(&body[0]);
    z.avail_out = static_cast<uInt>(body.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    body.resize(z.total_out);
    deflateEnd(&z);
    size_t size = 18 + body.size() + 8;
    uLong crc =
        crc32(0L, reinterpret_cast<const Bytef*>(part.data()), static_cast<uInt>(part.size()));
    std::string member("\x1f\x8b\x08\x04\0\0\0\0\0\xff\x06\0BC\x02\0", 16);
    member += static_cast<char>((size - 1) & 0xff);
    member += static_cast<char>((size - 1) >> 8);
    member += body;
    for (uLong v : {crc, static_cast<uLong>(part.size())}) {
      for (int i = 0; i < 4; ++i) member += static_cast<char>((v >> (8 * i)) & 0xff);
    }
    out += member;
    if (data.empty()) break;
  }
  return out + std::string(
                   "\x1f\x8b\x08\x04\0\0\0\0\0\xff\x06\0BC\x02\0\x1b\0\x03\0\0\0\0\0\0\0\0\0", 28);
}

// What the plain text converts to on the one-thread path, read from a pipe:
// nothing of it is read ahead, so it is the reference for every other path.
RunResult runOneThread(const std::string& plain, std::vector<std::string> options) {
  std::vector<std::string> args{kBin, "-"};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back("--threads=1");
  return testutil::runPiecewise(args, {plain});
}

using testutil::NamedRun;

std::vector<NamedRun> runEveryWay(const std::string& bytes,
                                  const std::vector<std::string>& options) {
  return testutil::runEveryWay(kBin, bytes, options);
}

void expectSameRun(const RunResult& got, const RunResult& want) {
  EXPECT_EQ(got.status, want.status);
  EXPECT_EQ(got.err, want.err);
  EXPECT_TRUE(got.out == want.out)
      << "stdout differs (" << got.out.size() << " against " << want.out.size() << " bytes)";
}

// `bgzf` with the size field of its member `k` (from 0) enlarged to cover
// member k + 1 too: still sound gzip, though no longer sound BGZF.
std::string sizeFieldOverTwo(std::string bgzf, int k) {
  auto sizeAt = [&bgzf](size_t at) {
    return static_cast<unsigned char>(bgzf[at + 16]) +
           256 * static_cast<size_t>(static_cast<unsigned char>(bgzf[at + 17])) + 1;
  };
  size_t at = 0;
  for (int i = 0; i < k; ++i) at += sizeAt(at);
  size_t both = sizeAt(at) + sizeAt(at + sizeAt(at));
  EXPECT_LE(both, 0x10000u);
  bgzf[at + 16] = static_cast<char>((both - 1) & 0xff);
  bgzf[at + 17] = static_cast<char>((both - 1) >> 8);
  return bgzf;
}

struct SameAsPlain {
  const char* name;
  std::string plain;
  std::string compressed;
  std::vector<std::string> options;
};

// A .gz file and a gzip stream on standard input give exactly what the plain
// file gives: output, messages and status.
TEST(GzipInput, ConvertsLikeThePlainInput) {
  if (const char* why = testutil::noThreads()) GTEST_SKIP() << why;
  std::string big = bigInput();
  std::string s = sample();
  // Text in the wrong format, more than the engine reads on to find damage
  // near its first line, cut short beyond that; as a BAM file read by
  // mistake, in BGZF members.
  std::string wrong = testutil::residueLines("BAM\1", size_t{6} << 20);
  std::string wrongMember = gzipMember(wrong), wrongBgzf = bgzfOf(wrong);
  const SameAsPlain cases[] = {
      {"sample", s, gzipMember(s), {}},
      {"sample, options", s, gzipMember(s), {"-n", "7", "-uc", "-unseq"}},
      {"named header", s, gzipMember(s, true), {"-ol"}},
      {"large", big, gzipMember(big), {"-n", "61"}},
      {"multi-member",
       big,
       gzipMember(big.substr(0, 100000)) + gzipMember(big.substr(100000, 3)) + gzipMember("") +
           gzipMember(big.substr(100003)),
       {}},
      {"not the format", "xyz\n>a\nAC\n", gzipMember("xyz\n>a\nAC\n"), {}},
      // Not decoded to its end: damage beyond the member of the first line,
      // or far beyond it, is never reached.
      {"not the format, a later member cut short",
       "xyz\n>a\nAC\n",
       gzipMember("xyz\n>a\nAC\n") + gzipMember(big).substr(0, 200),
       {}},
      {"not the format, cut short far on",
       wrong,
       wrongMember.substr(0, wrongMember.size() / 10 * 9),
       {}},
      {"BGZF not the format, cut short far on",
       wrong,
       wrongBgzf.substr(0, wrongBgzf.size() / 10 * 9),
       {"--threads=2"}},
      // BGZF members are inflated on workers; a member that is no BGZF
      // member hands the rest to the streaming decoder.
      {"BGZF", big, bgzfOf(big), {"--threads=3"}},
      {"BGZF, small members", big, bgzfOf(big, 1000), {"--threads=2", "-ol"}},
      {"BGZF, on one thread", big, bgzfOf(big), {"--threads=1"}},
      {"BGZF, a size field over two members",
       big,
       sizeFieldOverTwo(bgzfOf(big, 20000), 4),
       {"--threads=2"}},
      {"BGZF, then gzip", big + s, bgzfOf(big) + gzipMember(s), {"--threads=2"}},
      {"BGZF, empty", "", bgzfOf(""), {"--threads=2"}},
      {"no content", "\n\n", gzipMember("\n\n"), {}},
      {"empty", "", gzipMember(""), {}},
  };
  for (const SameAsPlain& c : cases) {
    SCOPED_TRACE(c.name);
    RunResult want = runOneThread(c.plain, c.options);
    for (const NamedRun& got : runEveryWay(c.compressed, c.options)) {
      SCOPED_TRACE(got.name);
      expectSameRun(got.result, want);
    }
  }
}

TEST(GzipInput, WritesTheNamedOutputFile) {
  TempDir tmp;
  std::string gz = tmp.file("in.gz"), out = tmp.file("out.fa");
  ASSERT_TRUE(testutil::writeFile(gz, gzipMember(sample())));
  RunResult want = testutil::run({kBin, "-"}, sample());
  RunResult r = testutil::run({kBin, gz, out});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(testutil::readFile(out), want.out);
}

struct Damaged {
  const char* name;
  std::string bytes;
  // When the damage comes after whole members: the plain text they hold,
  // all of whose conversion (but the closing line end, which only a clean
  // end of input writes) is written before the failure.
  std::string wholePlain{};
};

// Damage anywhere in a compressed stream ends the run as a read failure,
// without the usage text; what was decoded before it is converted.
TEST(GzipInput, DamagedStreamsAreReadFailures) {
  if (const char* why = testutil::noThreads()) GTEST_SKIP() << why;
  std::string good = gzipMember(sample());
  std::string badCrc = good;
  badCrc[good.size() - 8] ^= 0x01;  // the check value opens the trailer
  std::string badLength = good;
  badLength[good.size() - 1] ^= 0x01;
  std::string badData = good;
  badData[good.size() / 2] ^= 0x55;
  std::string badMethod = good;
  badMethod[2] = 7;  // only deflate exists
  std::string reservedFlag = good;
  reservedFlag[3] |= 0x20;  // no writer sets the reserved bits
  // Text in the wrong format with a wrong check value: what was decoded
  // before the check must not be taken for the input's format.
  std::string wrongFormat = gzipMember("ACGT\nACGT\n");
  wrongFormat[wrongFormat.size() - 8] ^= 0x01;
  // The same, 2 MiB long: within what is read on to find damage.
  std::string wrongText = "ACGT\n";
  while (wrongText.size() < (size_t{2} << 20)) wrongText += bigInput();
  std::string wrongLong = gzipMember(wrongText);
  wrongLong[wrongLong.size() - 8] ^= 0x01;
  const Damaged cases[] = {
      {"wrong check value", badCrc},
      {"wrong length", badLength},
      {"wrong format, wrong check value", wrongFormat},
      {"wrong format, wrong check value after 2 MiB", wrongLong},
      {"corrupt data", badData},
      {"unknown method", badMethod},
      {"reserved flag", reservedFlag},
      {"cut in the data", good.substr(0, good.size() / 2)},
      {"cut in the trailer", good.substr(0, good.size() - 3)},
      {"cut in the header", good.substr(0, 5)},
      {"magic only", std::string("\x1f\x8b", 2)},
      {"magic, then text", std::string("\x1f\x8b") + ";\nNAME\nACGT\n"},
      {"trailing garbage", good + "garbage\n", sample()},
      // Decoded in many blocks, which may all be waiting to be converted
      // when the damage is found: they are, before the failure.
      {"trailing garbage after many blocks", gzipMember(bigInput()) + "garbage\n", bigInput()},
      {"trailing zeros", good + std::string(4, '\0')},
      {"half of a further magic", good + "\x1f"},
      {"further member cut short", good + good.substr(0, 12)},
      // Checked in every member, not only in the first.
      {"reserved flag in a further member", good + reservedFlag, sample()},
  };
  for (const Damaged& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<NamedRun> runs = runEveryWay(c.bytes, {});
    std::string whole;
    if (!c.wholePlain.empty()) {
      whole = runOneThread(c.wholePlain, {}).out;
      whole.pop_back();
      // Decoded ahead of a stalled output, right up to the damage.
      runs.push_back({"slow consumer, --threads=2",
                      testutil::runSlowConsumer({kBin, "-", "--threads=2"}, c.bytes)});
    }
    for (const NamedRun& got : runs) {
      SCOPED_TRACE(got.name);
      EXPECT_EQ(got.result.status, 10);
      EXPECT_EQ(got.result.err, kReadFailed);
      if (!c.wholePlain.empty()) {
        EXPECT_TRUE(got.result.out == whole)
            << got.result.out.size() << " bytes written, not " << whole.size();
      }
    }
  }
}

// Damage in BGZF input decoded on workers ends the run as for any gzip
// input, after the output of the members before it.
TEST(GzipInput, DamagedBgzfIsAReadFailure) {
  if (const char* why = testutil::noThreads()) GTEST_SKIP() << why;
  std::string big = bigInput();
  std::string good = bgzfOf(big, 20000);
  std::string badCrc = good;
  size_t second = static_cast<unsigned char>(good[16]) +
                  256 * static_cast<size_t>(static_cast<unsigned char>(good[17])) + 1;
  badCrc[second - 8] ^= 0x01;  // the check value of the first member
  std::string badData = good;
  badData[good.size() / 2] ^= 0x55;
  std::string badLength = good;
  badLength[second - 1] ^= 0x01;  // beyond what a member holds
  std::string shortLength = good;
  shortLength[second - 4] ^= 0x01;
  // Bytes between the first member's deflate data and its trailer, its size
  // field enlarged to cover them: no gzip reader takes them.
  std::string gap = good.substr(0, second - 8) + std::string(3, '\0') + good.substr(second - 8);
  gap[16] = static_cast<char>((second + 2) & 0xff);
  gap[17] = static_cast<char>((second + 2) >> 8);
  // A first member of text in the wrong format with a wrong check value:
  // what it decodes to must not be taken for the input's format.
  std::string wrongFormat = bgzfOf("ACGT\n" + big, 20000);
  wrongFormat[static_cast<unsigned char>(wrongFormat[16]) +
              256 * static_cast<size_t>(static_cast<unsigned char>(wrongFormat[17])) + 1 - 8] ^=
      0x01;
  const Damaged cases[] = {
      {"bytes before the trailer", gap},
      {"wrong format, wrong check value", wrongFormat},
      {"wrong check value", badCrc},
      {"corrupt data", badData},
      {"wrong length", badLength},
      {"wrong length within a member's reach", shortLength},
      {"cut in a member", good.substr(0, good.size() / 2)},
      {"cut in the last member", good.substr(0, good.size() - 3)},
      {"trailing garbage", good + "garbage\n"},
      {"half of a further magic", good + "\x1f"},
  };
  std::string full = runOneThread(big, {}).out;
  for (const Damaged& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* threads : {"--threads=1", "--threads=2", "--threads=4"}) {
      SCOPED_TRACE(threads);
      RunResult r = testutil::run({kBin, "-", threads}, c.bytes);
      EXPECT_EQ(r.status, 10);
      EXPECT_EQ(r.err, kReadFailed);
      // A member that does not inflate goes to the streaming decoder, which
      // may deliver made-up bytes of corrupt data before it finds it.
      if (std::string(c.name) != "corrupt data") {
        EXPECT_EQ(full.compare(0, r.out.size(), r.out), 0) << "made-up output";
      }
    }
  }
}

// Runs `argv` with `input` on a pipe that the writer keeps open, as a
// terminal or a producer with nothing more to say yet, until the program
// has ended, and standard output to `stdoutPath`. Sets `waited` when the
// writer gave up on it (after 20 s) and closed the pipe: the program was
// still waiting for input it had no use for.
RunResult runOnOpenPipe(const std::vector<std::string>& argv, const std::string& input,
                        const std::string& stdoutPath, bool& waited) {
  RunResult r;
  TempDir tmp;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return r;
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  waited = false;
  std::thread writer([&, fd = fds[1]] {
    // The program may leave its input unread: the write then fails.
    testutil::writeAll(fd, input);
    std::unique_lock<std::mutex> lock(mutex);
    waited = !ended.wait_for(lock, std::chrono::seconds(20), [&done] { return done; });
    close(fd);
  });
  testutil::Stdio io;
  io.inFd = fds[0];
  io.out = stdoutPath.empty() ? tmp.file("stdout") : stdoutPath;
  io.err = tmp.file("stderr");
  r.status = testutil::spawnAndWait(argv, io);
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  ended.notify_one();
  close(fds[0]);
  writer.join();
  if (stdoutPath.empty()) r.out = testutil::readFile(io.out);
  r.err = testutil::readFile(io.err);
  return r;
}

// A run that ends early (input in the wrong format, output that cannot be
// written) ends at once, also while the thread that reads its input waits
// on a pipe that says nothing more and stays open.
TEST(GzipInput, EndsWithoutWaitingForInputItHasNoUseFor) {
  if (const char* why = testutil::noThreads()) GTEST_SKIP() << why;
  // Wine cannot cancel a read of a pipe of its host: windows_test.sh runs
  // these with a pipe of Wine's own.
  if (testutil::windowsTool()) GTEST_SKIP() << "a pipe of the host under Wine";
  // Decoded whole into the first block and a bit more, so that the thread
  // waits for further members before the output fails.
  std::string some = bigInput().substr(0, 200000);
  // As `yes | gzip`: text in the wrong format whose member goes on (64 MiB
  // of it here, and no end).
  std::string lines, yes;
  for (int i = 0; i < 2048; ++i) lines += "y\n";
  for (int i = 0; i < 16384; ++i) yes += lines;
  std::string yesMember = gzipMember(yes);
  yesMember.resize(yesMember.size() - 100);
  std::string damaged = gzipMember(">a\nAC\n");
  damaged[damaged.size() - 8] ^= 0x01;  // a wrong check value
  struct Case {
    const char* name;
    std::string input;
    std::string stdoutPath;
    int status;
    std::string err;
  };
  const Case cases[] = {
      // Blank lines, read ahead block by block, until the first line of
      // content, which is in the wrong format.
      {"text in the wrong format", std::string(size_t{1} << 20, '\n') + "xx\n>a\nAC\n", "", 3,
       "File is not in IG or FASTA format.\n"},
      {"gzip input, output failing", gzipMember(some), "/dev/full", 20,
       "Failed to write output.\n"},
      // Compressed text in the wrong format is read on only to the end of
      // its member, and never far.
      {"gzip text in the wrong format", gzipMember("xx\n>a\nAC\n"), "", 3,
       "File is not in IG or FASTA format.\n"},
      {"endless gzip text in the wrong format", yesMember, "", 3,
       "File is not in IG or FASTA format.\n"},
      // A member longer than a block: read on to its end, which the reads
      // after the first block must tell, and not into the damaged next one.
      {"long gzip text in the wrong format, then damage",
       gzipMember(yes.substr(0, 300000)) + damaged, "", 3, "File is not in IG or FASTA format.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* threads : {"--threads=1", "--threads=2"}) {
      SCOPED_TRACE(threads);
      bool waited = false;
      RunResult r = runOnOpenPipe({kBin, "-", threads}, c.input, c.stdoutPath, waited);
      EXPECT_EQ(r.status, c.status);
      EXPECT_EQ(r.err, c.err);
      EXPECT_FALSE(waited) << "the run waited for the end of its input";
    }
  }
}

// Only the two bytes 1f 8b select decompression; a lone 1f is plain input.
TEST(GzipInput, HalfAMagicIsPlainInput) {
  RunResult r = testutil::run({kBin, "-"}, std::string("\x1f;\n>a\nAC\n"));
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "File is not in IG or FASTA format.\n");
  RunResult one = testutil::run({kBin, "-"}, std::string("\x1f"));
  EXPECT_EQ(one.status, 4);
  EXPECT_EQ(one.err, "");
}

struct Pieces {
  const char* name;
  std::vector<std::string> pieces;
  std::string plain;  // what the pieces convert like
};

// A pipe delivers the start of the input in pieces: a magic, a gzip
// header, a byte-order mark or a line end split over reads is still
// recognised as a whole.
TEST(GzipInput, StartSplitAcrossPipeReads) {
  if (const char* why = testutil::noThreads()) GTEST_SKIP() << why;
  std::string data = gzipMember(sample());
  // The header is 30 bytes: 10 fixed, the name, the comment, the check.
  std::string named = gzipMember(sample(), true);
  const Pieces cases[] = {
      {"gzip magic", {data.substr(0, 1), data.substr(1)}, sample()},
      {"gzip header with name, comment and check",
       {named.substr(0, 5), named.substr(5, 9), named.substr(14, 10), named.substr(24, 5),
        named.substr(29)},
       sample()},
      {"byte-order mark", {"\xEF", "\xBB\xBF>s\nAC\n"}, ">s\nAC\n"},
      // Classic Mac text: a CRLF whose LF comes in the next read after the
      // convention is settled is one line end.
      {"settled CR text", {">h\rAC\rG", "T\r;c\r", "\nNM\r\nGT\r"}, ">h\nAC\nGT\n;c\nNM\nGT\n"},
  };
  for (const Pieces& c : cases) {
    SCOPED_TRACE(c.name);
    RunResult want = runOneThread(c.plain, {});
    for (const char* threads : {"--threads=1", "--threads=2"}) {
      SCOPED_TRACE(threads);
      expectSameRun(testutil::runPiecewise({kBin, "-", threads}, c.pieces), want);
    }
  }
}

// Bits of a deflate stream, the first in the lowest bit of each byte.
struct Bits {
  std::string bytes;
  unsigned n = 0;
  void bit(unsigned b) {
    if (n++ % 8 == 0) bytes += '\0';
    if (b != 0) bytes.back() = static_cast<char>(bytes.back() | (1 << ((n - 1) % 8)));
  }
  // A value's bits, lowest first, as deflate writes extra bits and sizes.
  Bits& put(unsigned v, unsigned count) {
    for (unsigned i = 0; i < count; ++i) bit((v >> i) & 1);
    return *this;
  }
  // A Huffman code, highest bit first.
  Bits& code(unsigned c, unsigned len) {
    for (unsigned i = len; i-- > 0;) bit((c >> i) & 1);
    return *this;
  }
};

std::string littleEndian32(uLong v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xff);
  return s;
}

// A gzip member around raw deflate data that decodes to `plain`.
std::string gzipAround(const std::string& deflated, const std::string& plain) {
  uLong crc =
      crc32(0L, reinterpret_cast<const Bytef*>(plain.data()), static_cast<uInt>(plain.size()));
  return std::string("\x1f\x8b\x08\0\0\0\0\0\0\xff", 10) + deflated + littleEndian32(crc) +
         littleEndian32(plain.size());
}

// Raw deflate data of `text` whose matches may reach into `dictionary`.
std::string deflatedAfter(const std::string& dictionary, const std::string& text) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(dictionary.data()),
                       static_cast<uInt>(dictionary.size()));
  return inflatecheck::deflateWhole(z, text);
}

// A dynamic block of 257 literal/length codes and `ndist` distance codes,
// their lengths written in a code-length code of 0, 1 and 18 (a run of
// zeros) in two bits, 2 and 16 (a repeat of the last length) in three.
struct DynamicBlock {
  Bits b;
  explicit DynamicBlock(unsigned ndist) {
    b.put(1, 1).put(2, 2).put(0, 5).put(ndist - 1, 5).put(14, 4);
    // In the order 16 17 18 0 8 7 9 6 10 5 11 4 12 3 13 2 14 1.
    for (unsigned len : {3, 0, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 2}) b.put(len, 3);
  }
  DynamicBlock& zeros(unsigned n) {
    b.code(2, 2).put(n - 11, 7);
    return *this;
  }
  DynamicBlock& one() {
    b.code(1, 2);
    return *this;
  }
  DynamicBlock& two() {
    b.code(6, 3);
    return *this;
  }
  DynamicBlock& repeat(unsigned n) {
    b.code(7, 3).put(n - 3, 2);
    return *this;
  }
  // 'A' and the end of the block, each a code of one bit, all else none:
  // then the distance lengths.
  DynamicBlock& literalA() {
    zeros(65).one().zeros(138).zeros(52);
    return one();
  }
  // The data 'A', end (codes 0 and 1), in a member that holds "A".
  std::string member() {
    b.code(0, 1).code(1, 1);
    return gzipAround(b.bytes, "A");
  }
};

struct InflateCase {
  const char* name;
  std::string stream;
  bool failed;
  size_t members;
};

}  // namespace

// The page's inflater reads every stream as zlib reads it, in any steps:
// the same output (up to the damage), members ending at the same bytes, the
// same damage found.
TEST(GzipInflater, ReadsEveryStreamAsZlibDoes) {
  using inflatecheck::gzipOf;
  // Long enough for matches across steps and the whole window.
  std::string text;
  while (text.size() < 70000) text += bigInput();
  std::string good = gzipOf(text, 6, Z_DEFAULT_STRATEGY, false);
  std::string fields = gzipOf(sample(), 6, Z_DEFAULT_STRATEGY, true);
  std::string stored = gzipOf(text, 0, Z_DEFAULT_STRATEGY, false);
  auto flipped = [](std::string s, size_t at, int mask) {
    s[at] = static_cast<char>(s[at] ^ mask);
    return s;
  };
  // A fixed block: 'A' (its 8-bit code is 0x30 + 65), then `rest`.
  auto fixedA = [](const std::function<void(Bits&)>& rest) {
    Bits b;
    b.put(1, 1).put(1, 2).code(0x30 + 'A', 8);
    rest(b);
    return std::string("\x1f\x8b\x08\0\0\0\0\0\0\xff", 10) + b.bytes + std::string(8, '\0');
  };
  Bits aaaa;  // 'A', then a match of 3 at distance 1, then the end
  aaaa.put(1, 1).put(1, 2).code(0x30 + 'A', 8).code(1, 7).code(0, 5).code(0, 7);
  std::string half = text.substr(0, text.size() / 2);
  // Two bytes nearly always, every other byte now and then: codes of up to
  // 15 bits, longer than the first level of the decoding tables, under
  // many of its entries.
  std::string skewed;
  for (unsigned state = 1; skewed.size() < 100000;) {
    state = state * 1103515245u + 12345u;
    unsigned r = state >> 16;
    skewed += static_cast<char>(r % 1000 < 990 ? 'A' + r % 2 : (r >> 3) % 256);
  }
  // 'AAAA' and three 9-bit literals: the end code's last bit is the first
  // of a byte.
  Bits shortByte;
  shortByte.put(1, 1).put(1, 2).code(0x30 + 'A', 8).code(1, 7).code(0, 5);
  for (unsigned v : {0x90, 0x91, 0x92}) shortByte.code(0x190 + v - 144, 9);
  shortByte.code(0, 7);
  const InflateCase cases[] = {
      {"level 6", good, false, 1},
      {"level 1", gzipOf(text, 1, Z_DEFAULT_STRATEGY, false), false, 1},
      {"level 9, filtered", gzipOf(text, 9, Z_FILTERED, false), false, 1},
      {"stored blocks", stored, false, 1},
      {"fixed blocks", gzipOf(text, 6, Z_FIXED, false), false, 1},
      {"Huffman codes only", gzipOf(text, 6, Z_HUFFMAN_ONLY, false), false, 1},
      {"runs only", gzipOf(text, 6, Z_RLE, false), false, 1},
      {"name, comment, extra field, header check", fields, false, 1},
      {"members, an empty one among them",
       good + gzipOf("", 6, Z_DEFAULT_STRATEGY, false) + fields + stored, false, 4},
      {"a match reaching the first byte", gzipAround(aaaa.bytes, "AAAA"), false, 1},
      {"a match reaching before the first byte", fixedA([](Bits& b) { b.code(1, 7).code(1, 5); }),
       true, 0},
      {"matches reaching into the member before",
       good + gzipAround(deflatedAfter(text, half), half), true, 1},
      {"long codes", gzipOf(skewed, 9, Z_DEFAULT_STRATEGY, false), false, 1},
      {"long codes, Huffman only", gzipOf(skewed, 6, Z_HUFFMAN_ONLY, false), false, 1},
      {"a final block that ends a bit into a byte", gzipAround(shortByte.bytes, "AAAA\x90\x91\x92"),
       false, 1},
      {"a dynamic block", DynamicBlock(2).literalA().one().one().member(), false, 1},
      {"one distance code of one bit", DynamicBlock(1).literalA().one().member(), false, 1},
      {"too few distance codes", DynamicBlock(2).literalA().two().two().member(), true, 0},
      {"a repeat past the last length", DynamicBlock(2).literalA().repeat(3).member(), true, 0},
      {"a repeat with no length before it", DynamicBlock(2).repeat(3).member(), true, 0},
      {"32 distance codes", DynamicBlock(32).literalA().one().one().zeros(30).member(), true, 0},
      {"no end code", DynamicBlock(1).zeros(65).one().one().zeros(138).zeros(52).one().member(),
       true, 0},
      {"BGZF", bgzfOf(text, 20000), false, (text.size() + 19999) / 20000 + 1},
      {"length symbol 286", fixedA([](Bits& b) { b.code(0xc0 + 6, 8); }), true, 0},
      {"distance symbol 30", fixedA([](Bits& b) { b.code(1, 7).code(30, 5); }), true, 0},
      {"block type 3", fixedA([](Bits& b) { b.put(0, 7).put(1, 1).put(3, 2); }), true, 0},
      {"stored lengths that disagree", flipped(stored, 13, 0x01), true, 0},
      {"damaged code lengths", flipped(good, 12, 0x10), true, 0},
      {"damaged data", flipped(good, good.size() / 2, 0x55), true, 0},
      {"wrong check value", flipped(good, good.size() - 8, 0x01), true, 0},
      {"wrong length", flipped(good, good.size() - 1, 0x80), true, 0},
      {"wrong header check", flipped(fields, 44, 0x01), true, 0},
      {"reserved flag", flipped(good, 3, 0x80), true, 0},
      {"unknown method", flipped(good, 2, 0x0f), true, 0},
      {"second byte of the magic", flipped(good, 1, 0x01), true, 0},
      {"cut in the data", good.substr(0, good.size() / 2), false, 0},
      {"cut in the trailer", good.substr(0, good.size() - 3), false, 0},
      {"cut in the name", fields.substr(0, 25), false, 0},
      {"bytes after the end", good + std::string("\0\x1f", 2), true, 1},
  };
  const std::vector<std::vector<size_t>> steps = {
      {size_t{1} << 20}, {1}, {7, 300}, {9, 266, 64, 70000}, {8, 265, 2, 4096}};
  for (const InflateCase& c : cases) {
    SCOPED_TRACE(c.name);
    inflatecheck::Outcome want = inflatecheck::zlibOutcome(c.stream, steps[0]);
    EXPECT_EQ(want.failed, c.failed);
    EXPECT_EQ(want.memberEnds.size(), c.members);
    for (const std::vector<size_t>& sizes : steps) {
      SCOPED_TRACE("step sizes from " + std::to_string(sizes[0]));
      inflatecheck::Outcome got = inflatecheck::inflaterOutcome(c.stream, sizes);
      EXPECT_TRUE(got.out == want.out) << got.out.size() << " bytes, not " << want.out.size();
      EXPECT_EQ(got.memberEnds, want.memberEnds);
      EXPECT_EQ(got.failed, want.failed);
    }
  }
}

// SPDX-License-Identifier: MIT
// --help and --version: answered on standard output, wherever they stand;
// every other word keeps its meaning.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/long_options.h"
#include "cli/progress.h"
#include "test_util.h"

namespace {

using testutil::RunResult;
using testutil::TempDir;

const std::string kBin = testutil::tool();
const std::string kVersion = std::string("quenbrel ") + QUENBREL_VERSION + "\n";

std::string usageFor(const std::string& name) { return testutil::usageText(name); }

// What --help adds after the usage text: the long options.
const std::string kLongOptions =
    "\nLONG OPTIONS\n"
    "\t--compress=gzip|zstd|none - compression of the output. gzip writes BGZF (read by every\n"
    "\t\tgzip reader, indexable by samtools). By default the output file's name decides:\n"
    "\t\t.gz and .bgz gzip, .zst zstd, any other none; standard output is not compressed.\n"
    "\t\tA .2bit output is written as 2bit (UCSC's packed format) whatever it says.\n"
    "\t--level=N - compression level: gzip 0 (stored) to 12, default 1; zstd 1 to 19,\n"
    "\t\tdefault 3.\n"
    "\t--threads=N - threads compressing the output and inflating BGZF input; with 2 or more,\n"
    "\t\tother input is also read or decoded on a thread of its own where that is\n"
    "\t\tfaster. Default: the processors this process may run on. 1 uses no extra thread.\n"
    "\t--index - also writes OUTPUT.fai and, for gzip output, OUTPUT.gzi, as samtools faidx\n"
    "\t\twrites them for the output file; not for zstd output, which cannot be indexed.\n"
    "\t--dict - also writes the sequence dictionary of the output file (each record's name,\n"
    "\t\tlength and MD5), as samtools dict writes it: ref.fa, ref.fasta or ref.fa.gz give\n"
    "\t\tref.dict; a name without such an extension gets .dict appended.\n"
    "\t--progress - shows how far the run has come on standard error: bytes read (of the\n"
    "\t\tinput file's size), rate and time left. By default only a terminal shows it, as one\n"
    "\t\tline redrawn after the first second, and not while the input or the output is the\n"
    "\t\tterminal too. --progress shows it wherever standard error goes, a line every 5\n"
    "\t\tseconds where that is no terminal.\n"
    "\t--no-progress - never shows the progress.\n";

struct Answered {
  std::vector<std::string> words;  // after the program name
  bool help;                       // else the version
};

// Either word anywhere answers the run by itself, the first one deciding;
// nothing is read or written besides the answer.
TEST(InfoRequest, AnsweredOnStandardOutputWherever) {
  const Answered cases[] = {
      {{"--help"}, true},
      {{"--version"}, false},
      {{"IN", "OUT", "--help"}, true},
      {{"-uc", "--version", "IN", "OUT"}, false},
      {{"-n", "--help"}, true},
      {{"-n", "x", "--version"}, false},
      {{"--help", "--version"}, true},
      {{"--version", "--help"}, false},
      {{"-", "OUT", "-ol", "--version"}, false},
  };
  for (const Answered& c : cases) {
    // The input is a copy: were a request not answered, a word could turn
    // into the output operand and overwrite the file it names.
    TempDir tmp;
    const std::string sample = testutil::sample();
    ASSERT_TRUE(testutil::writeFile(tmp.file("in.ig"), sample));
    std::vector<std::string> argv{kBin};
    std::string trace;
    for (const std::string& w : c.words) {
      argv.push_back(w == "IN" ? tmp.file("in.ig") : w == "OUT" ? tmp.file("out.fa") : w);
      trace += " " + w;
    }
    SCOPED_TRACE(trace);
    RunResult r = testutil::run(argv, ";\nNAME\nACGT\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.help ? usageFor("quenbrel") + kLongOptions : kVersion);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(access(tmp.file("out.fa").c_str(), F_OK), 0) << "an output file was created";
    EXPECT_EQ(testutil::readFile(tmp.file("in.ig")), sample) << "the input was written";
  }
}

TEST(InfoRequest, HelpNamesTheProgramWithoutItsDirectory) {
  if (testutil::windowsTool()) GTEST_SKIP() << "the name is the .exe's (windows_test.sh)";
  TempDir tmp;
  std::string link = tmp.file("fasta-tool");
  ASSERT_EQ(symlink(kBin.c_str(), link.c_str()), 0);
  RunResult r = testutil::run({link, "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, usageFor("fasta-tool") + kLongOptions);
}

struct Kept {
  const char* word;
  int status;
  std::string out;
  std::string err;
};

// Near misses are ordinary words: a word beginning with "-" standing as an
// operand selects standard input (or output), and a glued -n value stays
// the -n value. A word of "--" and a letter is a long option, refused when
// it is none.
TEST(InfoRequest, OtherWordsKeepTheirMeaning) {
  const std::string converted = ">NAME\nACGT\n";
  const Kept cases[] = {
      {"--HELP", 10, "", "Unknown option --HELP\n" + usageFor("quenbrel")},
      {"--help=1", 10, "", "Unknown option --help=1\n" + usageFor("quenbrel")},
      {"-help", 0, converted, ""},
      {"--versions", 10, "", "Unknown option --versions\n" + usageFor("quenbrel")},
      {"-version", 0, converted, ""},
      {"-n--help", 10, "", "Bad argument '--help' to -n option\n" + usageFor("quenbrel")},
  };
  for (const Kept& c : cases) {
    SCOPED_TRACE(c.word);
    RunResult r = testutil::run({kBin, c.word}, ";\nNAME\nACGT\n");
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
}

// Every option of the table is what the tool takes and describes: --help
// shows its lines (in the table's order, the text above pinning every
// byte), and the tool takes its name, refusing a value that is none of its
// own by that name.
TEST(InfoRequest, LongOptionsAsTheTableHasThem) {
  std::string help;
  for (size_t i = 0; i < longOptionCount(); ++i) help += longOptions()[i].help;
  EXPECT_EQ("\nLONG OPTIONS\n" + help, kLongOptions);
  for (size_t i = 0; i < longOptionCount(); ++i) {
    const LongOption& o = longOptions()[i];
    SCOPED_TRACE(o.name);
    RunResult r = testutil::run({kBin, std::string(o.name) + "=@", "-"}, ";\nNAME\nACGT\n");
    EXPECT_EQ(r.status, 10);
    EXPECT_EQ(r.err,
              "Bad argument '@' to " + std::string(o.name) + " option\n" + usageFor("quenbrel"));
  }
}

// The usage text of a bad command line still goes to standard error.
TEST(InfoRequest, FailurePathsKeepUsageOnStandardError) {
  RunResult r = testutil::run({kBin});
  EXPECT_EQ(r.status, 10);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Failed to asign input.\n" + usageFor("quenbrel"));
}

TEST(InfoRequest, FailedWriteIsReported) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  for (const char* word : {"--help", "--version"}) {
    SCOPED_TRACE(word);
    TempDir tmp;
    std::string cmd = "'" + kBin + "' " + word + " >/dev/full 2>'" + tmp.file("err") + "'";
    int ws = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(ws));
    EXPECT_EQ(WEXITSTATUS(ws), 20);
    EXPECT_EQ(testutil::readFile(tmp.file("err")), "Failed to write output.\n");
  }
}

// The progress line's text: bytes in decimal units (one decimal below 10),
// of the file's size with a share that reaches 100% only once all is read,
// the rate, and the time left in seconds, minutes or hours.
TEST(ProgressLine, Text) {
  const struct {
    uint64_t done;
    int64_t total;
    double seconds;
    const char* text;
  } rows[] = {
      {0, -1, 0, "quenbrel: 0 B read, 0 B/s"},
      {999, -1, 1, "quenbrel: 999 B read, 999 B/s"},
      {1000, 0, 1, "quenbrel: 1.0 kB read, 1.0 kB/s"},
      {9949, -1, 1, "quenbrel: 9.9 kB read, 9.9 kB/s"},
      {9950, -1, 1, "quenbrel: 10 kB read, 10 kB/s"},
      {999499, -1, 2, "quenbrel: 999 kB read, 500 kB/s"},
      {999500, -1, 2, "quenbrel: 1.0 MB read, 500 kB/s"},
      {uint64_t{5} << 60, -1, 1, "quenbrel: 5.8 EB read, 5.8 EB/s"},
      {16000000, 32000000, 1, "quenbrel: 16 MB of 32 MB (50%), 16 MB/s, 1 s left"},
      {31999999, 32000000, 1, "quenbrel: 32 MB of 32 MB (99%), 32 MB/s, 0 s left"},
      {32000000, 32000000, 2, "quenbrel: 32 MB of 32 MB (100%), 16 MB/s, 0 s left"},
      {40000000, 32000000, 1, "quenbrel: 40 MB of 32 MB (100%), 40 MB/s, 0 s left"},
      {5, 10, 0, "quenbrel: 5 B of 10 B (50%), 0 B/s"},
      {1, 60, 1, "quenbrel: 1 B of 60 B (1%), 1 B/s, 59 s left"},
      {1, 61, 1, "quenbrel: 1 B of 61 B (1%), 1 B/s, 1 min 0 s left"},
      {1, 3600, 1, "quenbrel: 1 B of 3.6 kB (0%), 1 B/s, 59 min 59 s left"},
      {1, 3601, 1, "quenbrel: 1 B of 3.6 kB (0%), 1 B/s, 1 h 0 min left"},
      {1, 3662, 1, "quenbrel: 1 B of 3.7 kB (0%), 1 B/s, 1 h 1 min left"},
      {1, int64_t{1} << 62, 1, "quenbrel: 1 B of 4.6 EB (0%), 1 B/s, 277777 h 46 min left"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(progressText(r.done, r.total, r.seconds), r.text) << r.done << " " << r.total;
  }
}

// Every byte the input hands over counts, however few a read brings.
TEST(ProgressLine, CountsEveryByteRead) {
  for (size_t piece : {1, 2, 5}) {
    const std::string text = "0123456789";
    size_t at = 0;
    CallbackSource input([&](unsigned char* p, size_t cap) -> long {
      size_t n = std::min({piece, cap, text.size() - at});
      std::copy(text.begin() + at, text.begin() + at + n, p);
      at += n;
      return static_cast<long>(n);
    });
    CountingSource counted(input);
    unsigned char buf[8];
    while (counted.read(buf, sizeof buf) > 0) {
    }
    EXPECT_EQ(counted.bytesRead(), text.size()) << piece;
  }
}

}  // namespace

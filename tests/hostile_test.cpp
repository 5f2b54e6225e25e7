// SPDX-License-Identifier: MIT
// Inputs and surroundings nobody would choose: empty or binary files, NUL
// bytes, huge lines, directories, unwritable outputs, the input named as
// output, files cut off in the middle. Each must end with its documented
// status and message, and never with a crash or a half-done silent success.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

using testutil::RunResult;
using testutil::TempDir;

const std::string kNotFormat = "File is not in IG or FASTA format.\n";

using testutil::usageText;

RunResult convertText(const std::string& input, std::vector<std::string> extra = {}) {
  std::vector<std::string> argv{QUENBREL_BIN, "-"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  return testutil::run(argv, input);
}

using namespace std::string_literals;  // "..."s keeps embedded NUL bytes

// ---------------------------------------------------------------------------
// Hostile content on standard input: status, output and message exactly.
// ---------------------------------------------------------------------------

struct ContentCase {
  const char* label;
  std::string input;
  int status;
  std::string out;
  std::string err;
};

std::vector<ContentCase> contentCases() {
  return {
      {"Empty", "", 4, "", ""},
      {"OnlyBlankLines", "\n\n\n\n", 4, "", ""},
      {"OneCharacterNoLineEnd", ">", 4, "", ""},
      {"BlankLinesWithSpacesAreContent", "  \n", 3, "", kNotFormat},
      {"BinaryGarbage",
       "\x7f"
       "ELF\x02\x01\x01\x00\x00\xff\xfe\n\x90\x90"s,
       3, "", kNotFormat},
      {"NulFirst", "\0>x\nAC\n"s, 3, "", kNotFormat},
      // NUL is an ordinary byte: dropped on sequence lines, copied on headers.
      {"NulInSequenceAndHeader", ">a\0b c\nAC\0GT\0\nT\n"s, 0, ">a\0b c\nACGTT\n"s, ""},
      {"NulInComment", ";c\0d\n; FRAGMENT 1 -> 9\0\nNAME\nAC\n"s, 0,
       ">NAME FRAGMENT 1 -> 9\0\nAC\n"s, ""},
      // Input that ends inside a comment block still ends as a text file.
      {"EndsInsideComment", ">a\nACGT\n;comment\n; FRAGMENT 1 -> 2\n", 0, ">a\nACGT\n", ""},
      {"EndsInsideFirstComment", ";only a comment", 0, "\n", ""},
      {"EndsInsideCommentAfterRecord", ";\nA\nAC\n;", 0, ">A\nAC\n", ""},
      // CRLF line ends: the carriage return is not a residue; a FASTA header
      // is copied as it is; an IG name stops at it.
      {"CrlfIg", "; c\r\n; FRAGMENT 5 -> 9\r\nNAME x\r\nAC GT 1\r\n", 0,
       ">NAME FRAGMENT 5 -> 9\r\nACGT\n", ""},
      {"CrlfFasta", ">x y\r\nAC\r\nGT\r\n>z\r\nA\r\n", 0, ">x y\r\nACGT\n>z\r\nA\n", ""},
      {"CrlfNameOnly", ";\r\nNAME\r\n", 0, ">NAME\n\n", ""},
      // A CRLF blank line is two bytes long, so it counts as content.
      {"CrlfLeadingBlankLine", "\r\n>x\r\n", 3, "", kNotFormat},
      // Streams cut off in the middle of a line.
      {"CutInHeader", ">abc de", 0, ">abc de\n", ""},
      {"CutInSequence", ">x\nACG", 0, ">x\nACG\n", ""},
      {"CutInName", ";c\nNAM", 0, ">NAM\n\n", ""},
      {"CutInNameBlanks", ";c\n   ", 0, ">\n\n", ""},
      {"CutInComment", ">x\nAC\n;FRAGMENT 1 ->", 0, ">x\nAC\n", ""},
      {"CutInCommentMark", ">x\nA\n;", 0, ">x\nA\n", ""},
  };
}

class HostileContent : public testing::TestWithParam<ContentCase> {};

TEST_P(HostileContent, EndsWithItsStatusAndMessage) {
  const ContentCase& c = GetParam();
  RunResult r = convertText(c.input);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(Inputs, HostileContent, testing::ValuesIn(contentCases()),
                         [](const testing::TestParamInfo<ContentCase>& i) {
                           return i.param.label;
                         });

// Random bytes after a valid header: whatever they hold, only letters,
// gap marks and line ends come out, wrapped, and the run succeeds.
TEST(Hostile, BinaryGarbageAfterAHeaderLeavesOnlyResidues) {
  std::mt19937 gen(6);
  std::string garbage;
  for (int i = 0; i < 300000; ++i) {
    char c = static_cast<char>(gen() & 0xff);
    if (c == '>' || c == ';') c = '~';  // no further records
    garbage += c;
  }
  RunResult r = convertText(">x\n" + garbage);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(r.out.compare(0, 3, ">x\n"), 0);
  std::string residues;
  size_t lineLen = 0;
  for (size_t i = 3; i < r.out.size(); ++i) {
    char c = r.out[i];
    if (c == '\n') {
      EXPECT_GT(lineLen, 0u);
      EXPECT_LE(lineLen, 70u);
      lineLen = 0;
      continue;
    }
    ASSERT_TRUE(std::isalpha(static_cast<unsigned char>(c)) || c == '-') << int(c);
    residues += c;
    ++lineLen;
  }
  EXPECT_EQ(r.out.back(), '\n');
  std::string want;
  for (char c : garbage)
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '-') want += c;
  EXPECT_EQ(residues, want);
}

// A writer that dies in the middle of a line, feeding a pipe: what arrived
// is converted and the output still ends with its line end.
TEST(Hostile, PipeCutOffInTheMiddleOfALine) {
  TempDir dir;
  const std::string writer = dir.file("writer.sh");
  ASSERT_TRUE(
      testutil::writeFile(writer, "printf ';c\\nNAME\\nAC'\nsleep 0.2\nprintf 'GT'\nkill -9 $$\n"));
  // The shell may report the killed writer on its own standard error, so
  // the tool's messages go to a file of their own.
  const std::string err = dir.file("err");
  RunResult r = testutil::run(
      {"/bin/sh", "-c",
       "sh '" + writer + "' | '" + std::string(QUENBREL_BIN) + "' - 2>'" + err + "'"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, ">NAME\nACGT\n");
  EXPECT_EQ(testutil::readFile(err), "");
}

// ---------------------------------------------------------------------------
// Huge lines
// ---------------------------------------------------------------------------

// A 100 MB sequence line, written and read through files: every residue
// comes out, 70 to a line.
TEST(Hostile, HundredMegabyteSingleLine) {
  TempDir dir;
  const std::string in = dir.file("big.ig"), out = dir.file("big.fa");
  const std::string block = "ACGTNacgtn ";  // 10 residues in 11 bytes
  const size_t blocks = 100u * 1024 * 1024 / block.size();
  {
    FILE* f = std::fopen(in.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs(";\nBIG\n", f);
    std::string chunk;
    for (int i = 0; i < 4096; ++i) chunk += block;
    size_t written = 0;
    while (written + 4096 <= blocks) {
      ASSERT_EQ(std::fwrite(chunk.data(), 1, chunk.size(), f), chunk.size());
      written += 4096;
    }
    for (; written < blocks; ++written) std::fputs(block.c_str(), f);
    std::fputc('\n', f);
    ASSERT_EQ(std::fclose(f), 0);
  }
  RunResult r = testutil::run({QUENBREL_BIN, in, out, "-uc"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");

  const size_t residues = blocks * 10;
  const size_t lines = (residues + 69) / 70;
  FILE* f = std::fopen(out.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  char head[5] = {};
  ASSERT_EQ(std::fread(head, 1, 5, f), 5u);
  EXPECT_EQ(std::string(head, 5), ">BIG\n");
  // Every line but the last holds 70 residues, the last the remainder.
  std::vector<char> line(72);
  std::string want70;
  for (int i = 0; i < 7; ++i) want70 += "ACGTNACGTN";
  bool shapeOk = true;
  for (size_t i = 0; i + 1 < lines && shapeOk; ++i) {
    if (std::fread(line.data(), 1, 71, f) != 71 || line[70] != '\n') shapeOk = false;
  }
  EXPECT_TRUE(shapeOk);
  std::string last;
  int c;
  while ((c = std::fgetc(f)) != EOF) last += static_cast<char>(c);
  std::fclose(f);
  size_t rest = residues - (lines - 1) * 70;
  EXPECT_EQ(last, want70.substr(0, rest) + "\n");
  struct stat st;
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  EXPECT_EQ(static_cast<size_t>(st.st_size), 5 + residues + lines);
}

// A 10 MB header line is copied whole, and the sequence after it is intact.
TEST(Hostile, TenMegabyteHeaderIsCopiedWhole) {
  std::string header = ">long";
  while (header.size() < 10u * 1024 * 1024) header += " ;>word ACGT 123";
  header += '\n';
  RunResult r = convertText(header + "ACGT\n;\nNEXT\nGG\n");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(r.out == header + "ACGT\n>NEXT\nGG\n");
}

// A 10 MB IG name is written whole, and a 10 MB comment still yields its
// annotation.
TEST(Hostile, TenMegabyteNameAndComment) {
  std::string name(10u * 1024 * 1024, 'x');
  std::string comment = "; " + std::string(10u * 1024 * 1024, '-') + " FRAGMENT 3 -> 4 end\n";
  RunResult r = convertText(comment + name + " tail\nAC\n");
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(r.out == ">" + name + " FRAGMENT 3 -> 4 end\nAC\n");
}

// ---------------------------------------------------------------------------
// Hostile surroundings: operands and streams (the plain cases, such as a
// directory or a missing file as input, a full device or a closed pipe as
// output, an output naming the input, are rows of the CLI tests)
// ---------------------------------------------------------------------------

// A first read that fails leaves an earlier output as it was, and a
// missing one created empty.
TEST(Hostile, DirectoryAsInputLeavesTheOutputFileAlone) {
  TempDir dir;
  const std::string out = dir.file("out.fa");
  RunResult r = testutil::run({QUENBREL_BIN, dir.path(), out});
  EXPECT_EQ(r.status, 10);
  EXPECT_EQ(r.err, "Failed to read input.\n");
  EXPECT_EQ(testutil::readFile(out), "");
  ASSERT_TRUE(testutil::writeFile(out, ">earlier\nAC\n"));
  r = testutil::run({QUENBREL_BIN, dir.path(), out});
  EXPECT_EQ(r.status, 10);
  EXPECT_EQ(testutil::readFile(out), ">earlier\nAC\n");
}

// An output that opens but cannot be emptied (a file sealed against
// shrinking, reached through the run's own descriptor) is a write failure
// once the run begins to write, and gets no byte; input in the wrong format
// leaves it alone.
TEST(Hostile, OutputThatCannotBeEmptied) {
  int fd = memfd_create("earlier", MFD_ALLOW_SEALING);  // the run inherits it
  if (fd < 0) GTEST_SKIP() << "no memfd_create";
  const std::string kEarlier = ">earlier\nACGT\n";
  ASSERT_EQ(write(fd, kEarlier.data(), kEarlier.size()), static_cast<ssize_t>(kEarlier.size()));
  ASSERT_EQ(fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK), 0);
  const std::string out = "/proc/self/fd/" + std::to_string(fd);
  const struct {
    std::string input;
    int status;
    std::string err;
  } cases[] = {
      {">a\nAC\n", 20, "Failed to write output.\n"},
      {"", 20, "Failed to write output.\n"},
      {"AC\n", 3, kNotFormat},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    RunResult r = testutil::run({QUENBREL_BIN, "-", out}, c.input);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    std::string bytes(64, '\0');
    ssize_t n = pread(fd, &bytes[0], bytes.size(), 0);
    bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    EXPECT_EQ(bytes, kEarlier);
  }
  close(fd);
}

TEST(Hostile, UnreadableInputFile) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  TempDir dir;
  const std::string in = dir.file("locked.ig");
  ASSERT_TRUE(testutil::writeFile(in, ">x\nAC\n"));
  ASSERT_EQ(chmod(in.c_str(), 0), 0);
  RunResult r = testutil::run({QUENBREL_BIN, in});
  EXPECT_EQ(r.status, 10);
  EXPECT_EQ(r.err, "Bad file name " + in + "\nFailed to asign input.\n" + usageText());
}

// Standard streams closed by the caller: the descriptor may be reused by
// the other stream's open, yet every failure is reported.
TEST(Hostile, ClosedStandardStreams) {
  TempDir dir;
  const std::string in = dir.file("in.fa"), out = dir.file("out.fa"), err = dir.file("err");
  ASSERT_TRUE(testutil::writeFile(in, ">x\nAC\n"));
  const std::string bin = "'" + std::string(QUENBREL_BIN) + "'";
  struct Case {
    std::string command;
    int status;
    std::string message;
  } cases[] = {
      {bin + " '" + in + "' >&-", 20, "Failed to write output.\n"},
      {bin + " - <&-", 10, "Failed to read input.\n"},
      {bin + " - '" + out + "' <&-", 10, "Failed to read input.\n"},
  };
  for (const Case& c : cases) {
    RunResult r = testutil::run({"/bin/sh", "-c", c.command + " 2>'" + err + "'"});
    EXPECT_EQ(r.status, c.status) << c.command;
    EXPECT_EQ(testutil::readFile(err), c.message) << c.command;
  }
  EXPECT_EQ(testutil::readFile(in), ">x\nAC\n");
}

}  // namespace

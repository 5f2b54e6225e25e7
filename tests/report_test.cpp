// SPDX-License-Identifier: MIT
// Report helpers: entry headers, alignment printouts and the entry-name walker.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "lib/functions.h"
#include "test_util.h"

namespace {

// A readable FILE* holding `text`, closed on destruction.
class InputFile {
 public:
  explicit InputFile(const std::string& text) : F_(testutil::tempFile()) {
    std::fwrite(text.data(), 1, text.size(), F_);
    std::rewind(F_);
  }
  ~InputFile() { std::fclose(F_); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  FILE* get() const { return F_; }

 private:
  FILE* F_;
};

// Every name getNextLocus returns for `text`, in order, up to the null.
std::vector<std::string> loci(const std::string& text) {
  InputFile in(text);
  std::vector<std::string> names;
  while (char* pc = getNextLocus(in.get())) {
    names.push_back(pc);
    if (names.size() > 100) break;  // guard against a walker that never ends
  }
  return names;
}

std::string aln(std::string s1, std::string s2) {
  FILE* F = testutil::tempFile();
  print_aln(F, &s1[0], &s2[0]);
  std::string out = testutil::drain(F);
  std::fclose(F);
  return out;
}

using Names = std::vector<std::string>;

// ---------------------------------------------------------------------------
// printHeader
// ---------------------------------------------------------------------------

TEST(PrintHeader, WritesCommentAndNameLines) {
  FILE* F = testutil::tempFile();
  printHeader(F, " spaced name\t");
  EXPECT_EQ(testutil::drain(F), ";\n spaced name\t\n");
  std::fclose(F);
}

TEST(PrintHeader, RoundTripsThroughGetNextLocus) {
  FILE* F = testutil::tempFile();
  printHeader(F, "seq1 first entry");
  std::fputs("ACGT\nACGT\n", F);
  printHeader(F, ">seq2");
  std::fputs("TTTT\n", F);
  std::rewind(F);
  char* pc = getNextLocus(F);
  ASSERT_NE(pc, nullptr);
  EXPECT_STREQ(pc, "seq1");
  pc = getNextLocus(F);
  ASSERT_NE(pc, nullptr);
  EXPECT_STREQ(pc, "seq2");
  EXPECT_EQ(getNextLocus(F), nullptr);
  std::fclose(F);
}

// ---------------------------------------------------------------------------
// print_aln
// ---------------------------------------------------------------------------

TEST(PrintAln, SimilarityMarksOnlyEqualLetters) {
  EXPECT_EQ(aln("ACGT-aN.1", "ACGA-AN.1"), "\nACGT-aN.1\n|||---|--\nACGA-AN.1\n\n");
}

TEST(PrintAln, EmptyInputsWriteOnlyTheLeadingLineEnd) {
  EXPECT_EQ(aln("", "ACGT"), "\n");
  EXPECT_EQ(aln("ACGT", ""), "\n");
  EXPECT_EQ(aln("", ""), "\n");
}

TEST(PrintAln, BlocksOf70) {
  struct Case {
    size_t iLen;
    std::vector<size_t> blocks;
  } cases[] = {{150, {70, 70, 10}}, {70, {70}}, {140, {70, 70}}, {71, {70, 1}}, {1, {1}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.iLen);
    std::string s1, s2;
    for (size_t i = 0; i < c.iLen; ++i) {
      s1 += "ACGTN-"[i % 6];
      s2 += "ACGTNN"[i % 6];
    }
    std::string expected = "\n";
    for (size_t iAt = 0, b = 0; b < c.blocks.size(); iAt += c.blocks[b], ++b) {
      std::string sim;
      for (size_t i = 0; i < c.blocks[b]; ++i) sim += (iAt + i) % 6 == 5 ? '-' : '|';
      expected +=
          s1.substr(iAt, c.blocks[b]) + "\n" + sim + "\n" + s2.substr(iAt, c.blocks[b]) + "\n\n";
    }
    EXPECT_EQ(aln(s1, s2), expected);
  }
}

TEST(PrintAln, UnequalLengths) {
  const std::string a70(70, 'A'), bar70(70, '|');
  const std::string block1 = "\n" + a70 + "\n" + bar70 + "\n" + a70 + "\n\n";
  struct Case {
    std::string s1, s2, expected;
  } cases[] = {
      // pcS2 ends inside a block: the columns past its end are mismatches.
      {"ACGT", "AC", "\nACGT\n||--\nAC\n\n"},
      {std::string(75, 'A'), std::string(72, 'A'), block1 + "AAAAA\n||---\nAA\n\n"},
      // pcS2 ends at a block boundary: the rest of pcS1 is not written.
      {std::string(100, 'A'), a70, block1},
      // pcS1 shorter: the last block ends with it.
      {std::string(72, 'A'), std::string(100, 'A'), block1 + "AA\n||\nAA\n\n"},
      {"AC", "ACGT", "\nAC\n||\nAC\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.s1 + " / " + c.s2);
    EXPECT_EQ(aln(c.s1, c.s2), c.expected);
  }
}

TEST(PrintAln, NeverLooksPastTheEndOfTheSecondRow) {
  // What lies beyond the terminator of pcS2 would match pcS1 if compared.
  char s1[] = "ACGT";
  char s2[] = {'A', 'C', '\0', 'T', '\0'};
  FILE* F = testutil::tempFile();
  print_aln(F, s1, s2);
  EXPECT_EQ(testutil::drain(F), "\nACGT\n||--\nAC\n\n");
  std::fclose(F);
}

TEST(PrintAln, DoesNotChangeItsInputs) {
  std::string s1 = "acgtACGT", s2 = "ACGTacgt";
  FILE* F = testutil::tempFile();
  print_aln(F, &s1[0], &s2[0]);
  EXPECT_EQ(testutil::drain(F), "\nacgtACGT\n--------\nACGTacgt\n\n");
  std::fclose(F);
  EXPECT_EQ(s1, "acgtACGT");
  EXPECT_EQ(s2, "ACGTacgt");
}

// ---------------------------------------------------------------------------
// getNextLocus
// ---------------------------------------------------------------------------

TEST(GetNextLocus, FastaHeaders) {
  EXPECT_EQ(loci(">seq1 some description\nACGT\nACGT\n>seq2\nTT\n\n>seq3\tx\n"),
            (Names{"seq1", "seq2", "seq3"}));
  EXPECT_EQ(loci(">last\nACGT"), (Names{"last"}));
  EXPECT_EQ(loci(">only"), (Names{"only"}));
}

TEST(GetNextLocus, IgEntries) {
  EXPECT_EQ(loci(";comment one\n;comment two\nname1 rest\nACGT1\n;\n>name2\nTT1\n"),
            (Names{"name1", "name2"}));
  // Lines before the first header are skipped.
  EXPECT_EQ(loci("junk\n\nmore junk\n;c\n  padded\nAC\n"), (Names{"padded"}));
}

TEST(GetNextLocus, EndOfInput) {
  EXPECT_EQ(loci(""), Names{});
  EXPECT_EQ(loci("no header here\nACGT\n"), Names{});
  EXPECT_EQ(loci(";entry\nname1\nACGT\n;trailing comment\n"), (Names{"name1"}));
  EXPECT_EQ(loci(">a\nAC\n;\n;\n"), (Names{"a"}));
}

TEST(GetNextLocus, NameLineWithoutWordKeepsPreviousName) {
  EXPECT_EQ(loci(">first\nAC\n>\nGT\n;\n   \nTT\n"), (Names{"first", "first", "first"}));
}

TEST(GetNextLocus, LongLinesAreJudgedWhole) {
  const std::string sLong(1023, 'A');
  struct Case {
    std::string text;
    Names expected;
  } cases[] = {
      // The tail of a long comment is not taken for the name line.
      {";" + std::string(2000, 'x') + "\nrealname\nACGT\n", {"realname"}},
      // A ">" or ";" at the start of a piece of a long sequence line is not a header.
      {">a\n" + sLong + ">bogus\n>b\nAC\n", {"a", "b"}},
      {">a\n" + sLong + ";bogus\nACGT\n>b\n", {"a", "b"}},
      // A long header line leaves nothing behind that could be judged.
      {">h1 " + std::string(3000, 'd') + "\nAC\n>h2\n", {"h1", "h2"}},
      // Lines at the size of a read, with and without their line end.
      {">a\n" + std::string(1022, 'A') + "\n>b\n" + sLong + "\n>c\n", {"a", "b", "c"}},
      {">a\n" + sLong, {"a"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 20));
    EXPECT_EQ(loci(c.text), c.expected);
  }
}

// A null byte is an ordinary byte of a line; it must not hide the line end
// and make the walker swallow the next line (found by fuzzing).
TEST(GetNextLocus, NullBytesDoNotSwallowTheNextLine) {
  using namespace std::string_literals;
  EXPECT_EQ(loci(">a\nAC\0GT\n>b\nAC\n"s), (Names{"a", "b"}));
  EXPECT_EQ(loci(";x\0y\nname\nAC\n"s), (Names{"name"}));
  EXPECT_EQ(loci(">a\0b\n>c\n"s), (Names{"a", "c"}));
  // A cut line still has its tail skipped, whatever bytes it holds.
  EXPECT_EQ(loci(">a\n"s + std::string(1500, '\0') + ">bogus\n>b\n"), (Names{"a", "b"}));
}

TEST(GetNextLocus, OverlongNameIsCut) {
  std::vector<std::string> names =
      loci(";\n" + std::string(1500, 'N') + "\nAC\n>" + std::string(1500, 'M') + "\nAC\n");
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0], std::string(1023, 'N'));
  EXPECT_EQ(names[1], std::string(1022, 'M'));
}

}  // namespace

// SPDX-License-Identifier: MIT
// The built quenbrel, run as a user runs it: standard output, standard
// error, output files and exit status, byte for byte.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "decompress.h"
#include "test_util.h"

namespace {

const std::string kBin = testutil::tool();

using testutil::expectSameText;
using testutil::usageText;

const std::string kUsage = usageText("quenbrel");
const std::string kNotFormat = "File is not in IG or FASTA format.\n";
const std::string kWriteFailed = "Failed to write output.\n";

// `n` residues cycling through ACGT.
std::string residues(size_t n, const std::string& cycle = "ACGT") {
  std::string s;
  s.reserve(n);
  for (size_t i = 0; i < n; ++i) s.push_back(cycle[i % cycle.size()]);
  return s;
}

// The residue lines the converter writes for one sequence body: `width` per
// line, the last line ended too.
std::string wrapped(const std::string& body, size_t width) {
  std::string out;
  for (size_t i = 0; i < body.size(); i += width) out += body.substr(i, width) + "\n";
  return out;
}

testutil::RunResult quenbrel(std::vector<std::string> args, const std::string& input = "",
                             const std::string& stdinPath = "",
                             const std::string& stdoutPath = "") {
  args.insert(args.begin(), kBin);
  return testutil::run(args, input, stdinPath, stdoutPath);
}

// ---------------------------------------------------------------------------
// Table: arguments, standard input, standard output, standard error, status
// ---------------------------------------------------------------------------

struct CliCase {
  std::string name;
  std::vector<std::string> args;
  std::string input;
  std::string out;
  std::string err;
  int status;
};

std::ostream& operator<<(std::ostream& os, const CliCase& c) { return os << c.name; }

const std::string kSeq12 = ">s\nACGTACGTACGT\n";
const std::string kSeq75 = ">s\n" + residues(75) + "\n";
const std::string kOut75 = ">s\n" + wrapped(residues(75), 70);

// One case per row, aligned by hand: kept out of the formatter.
// clang-format off
std::vector<CliCase> cliCases() {
  return {
      // Exit statuses without output.
      {"EmptyInput", {"-"}, "", "", "", 4},
      {"OnlyBlankLines", {"-"}, "\n\n\n", "", "", 4},
      {"OneCharacterLastLineIsBlank", {"-"}, "\n\nX", "", "", 4},
      {"LoneMarkAsLastLineIsBlank", {"-"}, "\n>", "", "", 4},
      {"OneCharacterLineWithLineEndIsContent", {"-"}, "X\n", "", kNotFormat, 3},
      {"FirstContentLineIsResidues", {"-"}, "ACGT\n>a\nAC\n", "", kNotFormat, 3},
      {"ResiduesAfterLeadingBlankLines", {"-"}, "\n\nACGT\n", "", kNotFormat, 3},
      {"BlankLineHoldingASpaceIsContent", {"-"}, " \n;c\nN\nAC\n", "", kNotFormat, 3},
      {"NoOperands", {}, "", "", "Failed to asign input.\n" + kUsage, 10},
      {"OnlyFlagsNoOperands", {"-uc", "-ol"}, ">a\nAC\n", "", "Failed to asign input.\n" + kUsage,
       10},

      // The -n option.
      {"DefaultLineLength", {"-"}, ">s\n" + residues(150) + "\n",
       ">s\n" + wrapped(residues(150), 70), "", 0},
      {"LineLengthGlued", {"-n5", "-"}, kSeq12, ">s\nACGTA\nCGTAC\nGT\n", "", 0},
      {"LineLengthSpaced", {"-n", "5", "-"}, kSeq12, ">s\nACGTA\nCGTAC\nGT\n", "", 0},
      {"LineLengthFourMeansSeventy", {"-n", "4", "-"}, kSeq75, kOut75, "", 0},
      {"LineLengthZeroMeansSeventy", {"-n", "0", "-"}, kSeq75, kOut75, "", 0},
      {"NegativeLineLengthMeansSeventy", {"-n", "-3", "-"}, kSeq75, kOut75, "", 0},
      {"LineLengthTrailingTextIgnored", {"-n", "12abc", "-"}, ">s\n" + residues(30) + "\n",
       ">s\n" + wrapped(residues(30), 12), "", 0},
      {"LineLengthLeadingBlankAndSign", {"-n", " +7", "-"}, kSeq12, ">s\nACGTACG\nTACGT\n", "",
       0},
      {"LastLineLengthWins", {"-n", "5", "-n", "6", "-"}, kSeq12, ">s\nACGTAC\nGTACGT\n", "", 0},
      {"LineLengthNotAnInteger", {"-n", "x", "-"}, kSeq12, "",
       "Bad argument 'x' to -n option\n" + kUsage, 10},
      {"LineLengthGluedEqualsSign", {"-n=5", "-"}, kSeq12, "",
       "Bad argument '=5' to -n option\n" + kUsage, 10},
      {"LineLengthEmpty", {"-n", "", "-"}, kSeq12, "", "Bad argument '' to -n option\n" + kUsage,
       10},
      {"LineLengthSwallowsTheOperand", {"-n", "-"}, kSeq12, "",
       "Bad argument '-' to -n option\n" + kUsage, 10},
      {"LineLengthAboveIntRange", {"-n", "99999999999", "-"}, kSeq12, "",
       "Bad argument '99999999999' to -n option\n" + kUsage, 10},
      {"LineLengthJustAboveIntMax", {"-n", "2147483648", "-"}, kSeq12, "",
       "Bad argument '2147483648' to -n option\n" + kUsage, 10},
      {"LineLengthJustBelowIntMin", {"-n", "-2147483649", "-"}, kSeq12, "",
       "Bad argument '-2147483649' to -n option\n" + kUsage, 10},
      {"LineLengthIntMax", {"-n", "2147483647", "-"}, ">s\n" + residues(300) + "\n",
       ">s\n" + residues(300) + "\n", "", 0},
      {"LineLengthIntMinMeansSeventy", {"-n", "-2147483648", "-"}, kSeq75, kOut75, "", 0},
      {"LineLengthAsLastWord", {"-", "-n"}, kSeq75, kOut75, "Bad argument to -n option\n", 0},
      {"EarlierLineLengthKeptWhenLastLacksValue", {"-n", "5", "-n"}, kSeq12,
       ">s\nACGTA\nCGTAC\nGT\n", "Bad argument to -n option\n", 0},
      {"FlagSwallowedAsLineLength", {"-n", "-uc", "-"}, kSeq12, "",
       "Bad argument '-uc' to -n option\n" + kUsage, 10},
      {"LineLengthAloneFiltersStandardStreams", {"-n"}, kSeq75, kOut75,
       "Bad argument to -n option\n", 0},

      // Options and flags anywhere; unknown words are operands.
      {"OptionsAfterOperand", {"-", "-uc", "-n", "5"}, ">s\nacgtacgtacgt\n",
       ">s\nACGTA\nCGTAC\nGT\n", "", 0},
      {"OptionsAroundOperands", {"-n5", "-", "-uc", "-", "-ol"}, ">s\nacgtacgtacgt\n",
       ">s\nACGTACGTACGT\n", "", 0},
      {"UnknownWordSelectsStandardInput", {"-x"}, kSeq12, kSeq12, "", 0},
      {"DashWordOutputIsStandardOutput", {"-", "-out.fa"}, kSeq12, kSeq12, "", 0},

      // Long options leave the command line first; a word of "--" and a
      // letter that is none of them is refused, never taken for an operand.
      {"UnknownLongOption", {"--thread=2", "-"}, kSeq12, "", "Unknown option --thread=2\n" + kUsage, 10},
      {"UnknownLongOptionAsOutput", {"-", "--out.fa"}, kSeq12, "", "Unknown option --out.fa\n" + kUsage, 10},
      {"LongOptionNotTakenByItsStart", {"-", "--dictx"}, kSeq12, "", "Unknown option --dictx\n" + kUsage, 10},
      {"BareDoubleDashIsAnOperand", {"--"}, kSeq12, kSeq12, "", 0},
      {"DoubleDashDigitIsAnOperand", {"--5"}, kSeq12, kSeq12, "", 0},
      {"LongOptionOutOfTheWayOfTheLineLength", {"-n", "--threads=1", "5", "-"}, kSeq12, ">s\nACGTA\nCGTAC\nGT\n", "", 0},
      {"LongOptionValueApart", {"--level", "3", "--threads", "2", "-"}, kSeq12, kSeq12, "", 0},
      {"CompressNoneIsPlain", {"--compress=none", "-"}, kSeq12, kSeq12, "", 0},
      {"LevelOutOfRange", {"--level=99", "-"}, kSeq12, "", "Bad argument '99' to --level option\n" + kUsage, 10},
      // Plain output takes every level either compressor takes.
      {"PlainOutputTakesTheHighestZstdLevel", {"--level=19", "-"}, kSeq12, kSeq12, "", 0},
      {"PlainOutputRefusesALevelNoCompressorTakes", {"--level=20", "-"}, kSeq12, "", "Bad argument '20' to --level option\n" + kUsage, 10},
      {"LevelNotANumber", {"--level=x", "-"}, kSeq12, "", "Bad argument 'x' to --level option\n" + kUsage, 10},
      {"LevelSigned", {"--level=+3", "-"}, kSeq12, "", "Bad argument '+3' to --level option\n" + kUsage, 10},
      {"LevelAboveTheGzipRange", {"--compress=gzip", "--level=13", "-"}, kSeq12, "", "Bad argument '13' to --level option\n" + kUsage, 10},
      {"LevelZeroIsNoZstdLevel", {"--compress=zstd", "--level=0", "-"}, kSeq12, "", "Bad argument '0' to --level option\n" + kUsage, 10},
      {"LevelWithoutValue", {"-", "--level"}, kSeq12, "", "Bad argument to --level option\n" + kUsage, 10},
      {"ThreadsZero", {"--threads=0", "-"}, kSeq12, "", "Bad argument '0' to --threads option\n" + kUsage, 10},
      {"ThreadsEmpty", {"--threads=", "-"}, kSeq12, "", "Bad argument '' to --threads option\n" + kUsage, 10},
      {"ThreadsAtTheMost", {"--threads=256", "-"}, kSeq12, kSeq12, "", 0},
      {"ThreadsAboveTheMost", {"--threads=257", "-"}, kSeq12, "", "Bad argument '257' to --threads option\n" + kUsage, 10},
      {"CompressUnknown", {"--compress=lzma", "-"}, kSeq12, "", "Bad argument 'lzma' to --compress option\n" + kUsage, 10},
      {"IndexTakesNoValue", {"--index=yes", "-"}, kSeq12, "", "Bad argument 'yes' to --index option\n" + kUsage, 10},
      {"IndexOfStandardOutput", {"--index", "-"}, kSeq12, "", "The --index option needs an output file, not standard output\n" + kUsage, 10},
      {"IndexOfDashOutput", {"-", "-", "--index"}, kSeq12, "", "The --index option needs an output file, not standard output\n" + kUsage, 10},
      // An index of zstd output would point readers into compressed frames.
      {"DictOfStandardOutput", {"-", "--dict"}, kSeq12, "", "The --dict option needs an output file, not standard output\n" + kUsage, 10},
      {"DictTakesNoValue", {"--dict=1", "-", "o.fa"}, kSeq12, "", "Bad argument '1' to --dict option\n" + kUsage, 10},
      // The progress line only ever goes to standard error, and to no pipe
      // unless asked for (tests/progress_test.py runs it on a terminal).
      {"ProgressLeavesTheOutput", {"--progress", "-"}, kSeq12, kSeq12, "", 0},
      {"NoProgressLeavesTheOutput", {"-", "--no-progress"}, kSeq12, kSeq12, "", 0},
      {"ProgressTakesNoValue", {"--progress=x", "-"}, kSeq12, "", "Bad argument 'x' to --progress option\n" + kUsage, 10},
      {"NoProgressTakesNoValue", {"--no-progress=1", "-"}, kSeq12, "", "Bad argument '1' to --no-progress option\n" + kUsage, 10},
      {"IndexOfZstdOutput", {"--index", "-", "/nonexistent/out.fa.zst"}, kSeq12, "", "The --index option cannot index zstd output; use gzip (BGZF) or none\n" + kUsage, 10},
      {"IndexOfOutputCompressedToZstd", {"--compress=zstd", "-", "/nonexistent/out.fa", "--index"}, kSeq12, "", "The --index option cannot index zstd output; use gzip (BGZF) or none\n" + kUsage, 10},

      // Flags.
      {"CaseKeptByDefault", {"-"}, ">s\nacgtRy\n", ">s\nacgtRy\n", "", 0},
      {"UpperCase", {"-uc", "-"}, ">s\nacgtRy\n", ">s\nACGTRY\n", "", 0},
      {"UpperCaseTwice", {"-uc", "-", "-uc"}, ">s\nacgtRy\n", ">s\nACGTRY\n", "", 0},
      {"Unsequenced", {"-unseq", "-"}, ">s\nACNNGTn\n", ">s\nACGT\n", "", 0},
      {"NKeptByDefault", {"-"}, ">s\nACNNGTn\n", ">s\nACNNGTn\n", "", 0},
      {"UnsequencedUpperCase", {"-uc", "-unseq", "-"}, ">s\nacnNgt\n", ">s\nACGT\n", "", 0},
      {"UnsequencedEmptiesABody", {"-unseq", "-"}, ">a\nNNnn\n>b\nAC\n", ">a\n>b\nAC\n", "", 0},
      {"OneLine", {"-ol", "-"}, ">s\n" + residues(500) + "\n", ">s\n" + residues(500) + "\n", "",
       0},
      {"OneLineRecordsStillSeparated", {"-ol", "-n", "5", "-"}, ">a\nACGTACGTAC\n>b\nAC\n",
       ">a\nACGTACGTAC\n>b\nAC\n", "", 0},
      {"AllFlagsTogether", {"-unseq", "-ol", "-uc", "-n", "5", "-"},
       ";c\nIGn x\nac nnt\ngg 1\n>f nN\nNa\n", ">IGn\nACTGG\n>f nN\nA\n", "", 0},
      {"HeadersNeverChanged", {"-uc", "-unseq", "-"},
       ";c\n; FRAGMENT 1 -> 2 nn note\nseqn x\nacn\n>ab nN cd\nacgtn\n",
       ">seqn FRAGMENT 1 -> 2 nn note\nAC\n>ab nN cd\nACGT\n", "", 0},

      // Wrapping.
      {"ExactMultipleHasNoEmptyLine", {"-"}, ">s\n" + residues(140) + "\n",
       ">s\n" + wrapped(residues(140), 70), "", 0},
      {"ExactMultipleAcrossInputLines", {"-"},
       ";c\nS\n" + residues(60) + " 60\n" + residues(60) + " 120\n" + residues(20) + " 1\n",
       ">S\n" + wrapped(residues(140), 70), "", 0},
      {"OneOverAMultiple", {"-"}, ">s\n" + residues(141) + "\n",
       ">s\n" + wrapped(residues(141), 70), "", 0},
      {"ExactMultipleThenNextRecord", {"-n", "5", "-"}, ">a\nAAAAAAAAAA\n>b\nCC\n",
       ">a\nAAAAA\nAAAAA\n>b\nCC\n", "", 0},
      {"ResiduesJoinAcrossLines", {"-n", "5", "-"}, ">s\nACG\nTAC\nGTA\nC\n",
       ">s\nACGTA\nCGTAC\n", "", 0},

      // The FRAGMENT annotation.
      {"Fragment", {"-"}, ";c\n; FRAGMENT 100 -> 250\nMYSEQ other words\nAC\n",
       ">MYSEQ FRAGMENT 100 -> 250\nAC\n", "", 0},
      {"FragmentWithoutBlanks", {"-"}, ";FRAGMENT 1->2\nN\nA\n", ">N FRAGMENT 1->2\nA\n", "", 0},
      {"FragmentFromTheWordToTheLineEnd", {"-"}, "; partial FRAGMENT 3 -> 40 of gene\nN\nA\n",
       ">N FRAGMENT 3 -> 40 of gene\nA\n", "", 0},
      {"FragmentWordGluedToMore", {"-"}, "; subFRAGMENTS 1 -> 2\nN\nA\n",
       ">N FRAGMENTS 1 -> 2\nA\n", "", 0},
      {"FragmentAfterPartialWord", {"-"}, "; FRAGFRAGMENT 1 -> 2\nN\nA\n",
       ">N FRAGMENT 1 -> 2\nA\n", "", 0},
      {"FragmentSignedNumbers", {"-"}, "; FRAGMENT -5 -> +7\nN\nA\n", ">N FRAGMENT -5 -> +7\nA\n",
       "", 0},
      {"FragmentScanStartsAtFirstWord", {"-"}, "; FRAGMENT x FRAGMENT 1 -> 2\nN\nA\n",
       ">N\nA\n", "", 0},
      {"FragmentWithoutArrow", {"-"}, "; FRAGMENT 1 2\nN\nA\n", ">N\nA\n", "", 0},
      {"FragmentSplitArrow", {"-"}, "; FRAGMENT 1 - > 2\nN\nA\n", ">N\nA\n", "", 0},
      {"FragmentWordBeforeArrow", {"-"}, "; FRAGMENT x -> 2\nN\nA\n", ">N\nA\n", "", 0},
      {"FragmentWordAfterArrow", {"-"}, "; FRAGMENT 1 -> x\nN\nA\n", ">N\nA\n", "", 0},
      {"FragmentLowerCase", {"-"}, "; fragment 1 -> 2\nN\nA\n", ">N\nA\n", "", 0},
      {"FragmentWordAlone", {"-"}, "; FRAGMENT\nN\nA\n", ">N\nA\n", "", 0},
      {"ArrowOnlyBeforeFragment", {"-"}, "; 1 -> 2 FRAGMENT 5\nN\nA\n", ">N\nA\n", "", 0},
      {"ArrowAlsoBeforeFragment", {"-"}, "; a->b FRAGMENT 3 -> 4\nN\nA\n",
       ">N FRAGMENT 3 -> 4\nA\n", "", 0},
      {"LastFragmentOfBlockWins", {"-"}, "; FRAGMENT 1 -> 2\n; FRAGMENT 3 -> 4\nN\nA\n",
       ">N FRAGMENT 3 -> 4\nA\n", "", 0},
      {"InvalidFragmentKeepsEarlierOne", {"-"}, "; FRAGMENT 1 -> 2\n; FRAGMENT x -> y\nN\nA\n",
       ">N FRAGMENT 1 -> 2\nA\n", "", 0},
      {"FragmentDoesNotLeak", {"-"}, "; FRAGMENT 1 -> 2\nN\nA\n;c\nM\nC\n",
       ">N FRAGMENT 1 -> 2\nA\n>M\nC\n", "", 0},
      {"FragmentWithEmptyName", {"-"}, ";FRAGMENT 1 -> 2\n\nAC\n", "> FRAGMENT 1 -> 2\nAC\n", "",
       0},
      {"FragmentInFastaHeaderIsJustText", {"-"}, ">x FRAGMENT 1 -> 2\nAC\n",
       ">x FRAGMENT 1 -> 2\nAC\n", "", 0},

      // Records, names and residues.
      {"MixedIgAndFasta", {"-"},
       ">f1 desc\nAC GT\n;c\n; FRAGMENT 5 -> 9\nIG1 rest\nacg 1\n>f2\nTT\n",
       ">f1 desc\nACGT\n>IG1 FRAGMENT 5 -> 9\nacg\n>f2\nTT\n", "", 0},
      {"TwoIgRecords", {"-n", "5", "-"}, ";a\nS1\nACGTA 5\n;b\n;c\nS2\nCC 2\n",
       ">S1\nACGTA\n>S2\nCC\n", "", 0},
      {"FastaHeaderCopiedAsRead", {"-"}, ">id  two\tthree \r\nAC\n", ">id  two\tthree \r\nAC\n", "",
       0},
      {"NameLineBeginningWithArrow", {"-"}, ";c\n>x y\nAC\n", ">>x\nAC\n", "", 0},
      {"IgRecordWithoutCommentIsSequence", {"-"}, ";c\nA1\nAC 1\nB2\nGT 1\n", ">A1\nACBGT\n", "",
       0},
      {"HeaderWithoutResiduesAtEnd", {"-"}, ">a\n", ">a\n\n", "", 0},
      {"IgHeaderWithoutResiduesAtEnd", {"-"}, ";c\nN\n", ">N\n\n", "", 0},
      {"NameLineIsLastLine", {"-"}, ";c\nNAME", ">NAME\n\n", "", 0},
      {"LastLineWithoutLineEnd", {"-"}, ">a\nAC\n>b", ">a\nAC\n>b\n", "", 0},
      {"ResiduesOnLastLineWithoutLineEnd", {"-"}, ">a\nAC", ">a\nAC\n", "", 0},
      {"OnlyLettersAndGapsSurvive", {"-"}, ">a\n1 AC-G\t*T.\xc3\xa9x 9\r\n@A[Z`a{z~\n",
       ">a\nAC-GTxAZaz\n", "", 0},
      {"LeadingBlankLinesSkipped", {"-"}, "\n\n;c\nN\nAC\n", ">N\nAC\n", "", 0},
      {"LaterBlankLinesContributeNothing", {"-"}, ">a\nAC\n\n\nGT\n", ">a\nACGT\n", "", 0},
      {"NameIsFirstWord", {"-"}, ";c\n  \tNM\tmore words\nAC\n", ">NM\nAC\n", "", 0},
      {"EmptyNameLine", {"-"}, ";c\n\nAC\n", ">\nAC\n", "", 0},
      {"NameLineWithCarriageReturn", {"-"}, ";c\r\nNM\r\nAC\r\n", ">NM\nAC\n", "", 0},
      {"BlankNameLine", {"-"}, ";c\n \t \nAC\n", ">\nAC\n", "", 0},
      {"LongName", {"-"}, ";c\n" + std::string(300, 'Q') + " x\nAC\n",
       ">" + std::string(300, 'Q') + "\nAC\n", "", 0},

      // Input that ends inside a comment block still ends as a text file.
      {"OnlyACommentBlock", {"-"}, ";c\n", "\n", "", 0},
      {"CommentBlockWithFragmentAtEnd", {"-"}, ";c\n; FRAGMENT 1 -> 2\n", "\n", "", 0},
      {"CommentWithoutLineEndAtEnd", {"-"}, ";c\n;FRAGMENT 1 -> 2", "\n", "", 0},
      {"RecordThenUnfinishedBlock", {"-"}, ">a\nAC\n;c\n; FRAGMENT 1 -> 2\n", ">a\nAC\n", "", 0},
      {"HeaderThenUnfinishedBlock", {"-"}, ">a\n;c\n", ">a\n\n", "", 0},
      {"ResiduesThenUnfinishedBlock", {"-"}, ">a\nACGT\n;x", ">a\nACGT\n", "", 0},

      // A byte-order mark at the very start is skipped; anywhere else it is
      // ordinary bytes.
      {"ByteOrderMarkSkipped", {"-"}, "\xEF\xBB\xBF>s1 d\nACGT\n", ">s1 d\nACGT\n", "", 0},
      {"ByteOrderMarkAlone", {"-"}, "\xEF\xBB\xBF", "", "", 4},
      {"ByteOrderMarkAfterBlankLine", {"-"}, "\n\xEF\xBB\xBF>s\nAC\n", "", kNotFormat, 3},
      {"SecondByteOrderMarkKept", {"-"}, "\xEF\xBB\xBF\xEF\xBB\xBF>s\nAC\n", "", kNotFormat, 3},

      // The first line break decides: a lone CR makes CR, LF and CRLF all
      // line ends; LF or CRLF first leaves CRs as the bytes they are.
      {"MacLineEnds", {"-", "-n", "5"}, ">s1 d\rACGT\rACGT\r\r>s2\rGG\r",
       ">s1 d\nACGTA\nCGT\n>s2\nGG\n", "", 0},
      {"MacFirstThenAnyLineEnd", {"-"}, ">a\rAC\nGT\r\n>b\nTT", ">a\nACGT\n>b\nTT\n", "", 0},
      {"CrlfFirstKeepsCarriageReturns", {"-"}, ">a\r\nAC\rGT\n>b\rc\nTT\n",
       ">a\r\nACGT\n>b\rc\nTT\n", "", 0},
      {"MacHeaderAlone", {"-"}, ">a\r", ">a\n\n", "", 0},
      {"MacIgRecord", {"-"}, "; comment\r; FRAGMENT 1 -> 20\rSEQ1 x\rACGTACGTAC GTACGTACGT 1\r",
       ">SEQ1 FRAGMENT 1 -> 20\nACGTACGTACGTACGTACGT\n", "", 0},
      {"MacBlankLinesFirst", {"-"}, "\r\r\n\r;c\r\nNM\r\nAC\r", ">NM\nAC\n", "", 0},
      {"CrlfBlankLineFirstIsContent", {"-"}, "\r\n>a\nAC\n", "", kNotFormat, 3},
  };
}
// clang-format on

class CliTable : public testing::TestWithParam<CliCase> {};

TEST_P(CliTable, Run) {
  const CliCase& c = GetParam();
  // A progress line asked for is drawn by a thread of its own, a second
  // into the run, which a program under Wine may take to start.
  if (std::count(c.args.begin(), c.args.end(), "--progress") > 0) {
    if (const char* why = testutil::noThreads()) GTEST_SKIP() << why;
    if (testutil::windowsTool()) GTEST_SKIP() << "a second may pass before the Windows tool runs";
  }
  testutil::RunResult r = quenbrel(c.args, c.input);
  expectSameText(r.out, c.out);
  EXPECT_EQ(r.err, c.err);
  EXPECT_EQ(r.status, c.status);
}

// Every row again with its output compressed: BGZF and zstd, on the
// caller's thread and on two workers. The output decompresses to exactly
// the plain output (a run that writes nothing writes an empty compressed
// stream); messages and status are the same. The output of a run that
// failed after it began
// shows that it is cut short: BGZF without its end-of-file member, zstd
// with a frame begun and never finished. Rows that try long options
// themselves are left out.
TEST_P(CliTable, CompressedOutputHoldsThePlainOutput) {
  if (const char* why = testutil::noThreads()) GTEST_SKIP() << why;
  const CliCase& c = GetParam();
  for (const std::string& word : c.args) {
    if (word.compare(0, 2, "--") == 0) return;
  }
  for (const char* format : {"gzip", "zstd"}) {
    if (!testutil::toolHasZstd() && std::string(format) == "zstd") continue;
    for (const char* threads : {"--threads=1", "--threads=2"}) {
      SCOPED_TRACE(std::string(format) + " " + threads);
      std::vector<std::string> args{std::string("--compress=") + format, threads};
      args.insert(args.end(), c.args.begin(), c.args.end());
      testutil::RunResult r = quenbrel(args, c.input);
      EXPECT_EQ(r.err, c.err);
      EXPECT_EQ(r.status, c.status);
      bool whole = c.status == 0 || c.status == 4;
      // Even of nothing: an empty file is no valid compressed stream.
      if (whole) {
        EXPECT_FALSE(r.out.empty());
      }
      std::string plain;
      // A run refused before the output was opened writes nothing.
      if (!r.out.empty() && std::string(format) == "gzip") {
        EXPECT_EQ(testutil::endsWithBgzfEof(r.out), whole);
        if (whole) {
          EXPECT_TRUE(testutil::isBgzf(r.out));
        }
        EXPECT_TRUE(testutil::gunzipAll(r.out, plain));
      }
#ifdef QUENBREL_HAVE_ZSTD
      if (!r.out.empty() && std::string(format) == "zstd") {
        EXPECT_EQ(testutil::unzstdAll(r.out, plain), whole);
      }
#endif
      expectSameText(plain, c.out);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, CliTable, testing::ValuesIn(cliCases()),
                         [](const testing::TestParamInfo<CliCase>& info) {
                           return info.param.name;
                         });

// ---------------------------------------------------------------------------
// Lines of any length
// ---------------------------------------------------------------------------

TEST(LongLines, HeaderIsCopiedWhole) {
  std::string header = ">long";
  while (header.size() < 10000) header += " abc;>-12 n";
  // Marks right where a fixed-size line buffer would cut.
  header[3999] = ';';
  header[4000] = '>';
  header[7998] = '>';
  testutil::RunResult r = quenbrel({"-uc", "-unseq", "-"}, header + "\nacgtn\n");
  expectSameText(r.out, header + "\nACGT\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

TEST(LongLines, FragmentFarIntoACommentLine) {
  std::string comment = ";" + std::string(5000, 'x') + " FRAGMENT 7 -> 9\n";
  testutil::RunResult r = quenbrel({"-"}, comment + "N\nA\n");
  EXPECT_EQ(r.out, ">N FRAGMENT 7 -> 9\nA\n");
  EXPECT_EQ(r.status, 0);
}

TEST(LongLines, FragmentAnnotationItselfLong) {
  std::string tail = std::string(6000, 'w') + "\n";
  testutil::RunResult r = quenbrel({"-"}, "; a -> b FRAGMENT 5 -> 6 " + tail + "N\nA\n");
  expectSameText(r.out, ">N FRAGMENT 5 -> 6 " + tail + "A\n");
  EXPECT_EQ(r.status, 0);
}

TEST(LongLines, CommentLineGivesNoResidues) {
  std::string comment = ";" + residues(9000) + "\n";
  testutil::RunResult r = quenbrel({"-"}, comment + ";" + residues(5000) + "\nN\nA\n");
  EXPECT_EQ(r.out, ">N\nA\n");
  EXPECT_EQ(r.status, 0);
}

TEST(LongLines, NameLineConsumedWhole) {
  testutil::RunResult r = quenbrel({"-"}, ";c\nNAME " + residues(9000) + "\nCC\n");
  EXPECT_EQ(r.out, ">NAME\nCC\n");
  EXPECT_EQ(r.status, 0);
}

TEST(LongLines, NameWrittenWhole) {
  std::string name = residues(10000, "Na_1.|");
  testutil::RunResult r = quenbrel({"-"}, ";c\n" + name + "\nCC\n");
  expectSameText(r.out, ">" + name + "\nCC\n");
  EXPECT_EQ(r.status, 0);
}

TEST(LongLines, MegabyteSequenceLine) {
  std::string body = residues(1000000, "acgtnACGTN-");
  std::string input = ">big\n" + body + "\n>next\nAC\n";
  testutil::RunResult r = quenbrel({"-"}, input);
  expectSameText(r.out, ">big\n" + wrapped(body, 70) + ">next\nAC\n");
  EXPECT_EQ(r.status, 0);

  std::string upper;
  for (char c : body) {
    if (c != 'n' && c != 'N') upper.push_back(c == '-' ? c : static_cast<char>(c & ~0x20));
  }
  r = quenbrel({"-ol", "-uc", "-unseq", "-"}, input);
  expectSameText(r.out, ">big\n" + upper + "\n>next\nAC\n");
  EXPECT_EQ(r.status, 0);
}

// Memory stays flat however long a line is: a 64 MB sequence line and a
// 16 MB header go through a process that never holds them.
TEST(LongLines, MemoryDoesNotGrowWithLineLength) {
  testutil::TempDir dir;
  std::string path = dir.file("huge.fa");
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::string chunk = residues(1 << 20);
  std::fputs(">", f);
  for (int i = 0; i < 16; ++i) std::fputs(chunk.c_str(), f);
  std::fputs("\n", f);
  for (int i = 0; i < 64; ++i) std::fputs(chunk.c_str(), f);
  std::fputs("\n", f);
  ASSERT_EQ(std::fclose(f), 0);
  chunk.clear();
  chunk.shrink_to_fit();

  testutil::RunResult r = quenbrel({"-ol", path}, "", "", "/dev/null");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  struct rusage usage;
  ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
  EXPECT_LT(usage.ru_maxrss, 32 * 1024) << "peak resident size in KiB";
}

// The same with --dict, whose digests are worked out on a thread: names
// longer than what the thread takes at once are handed over one by one,
// never held until many records have passed.
TEST(LongLines, DictionaryMemoryDoesNotGrowWithNameLength) {
  if (const char* why = testutil::noThreads()) GTEST_SKIP() << why;
  testutil::TempDir dir;
  std::string path = dir.file("names.fa");
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::string name = residues(300000);
  for (int i = 0; i < 160; ++i) std::fprintf(f, ">%d%s\nAC\n", i, name.c_str());
  ASSERT_EQ(std::fclose(f), 0);

  testutil::RunResult r = quenbrel({"--dict", path, dir.file("out.fa")});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  struct rusage usage;
  ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
  EXPECT_LT(usage.ru_maxrss, 32 * 1024) << "peak resident size in KiB";
}

// ---------------------------------------------------------------------------
// Files and operands
// ---------------------------------------------------------------------------

const std::string kInput = ";c\n; FRAGMENT 1 -> 8\nSEQ1 x\nacgt acgt 8\n>f\nAC\n";
const std::string kOutput = ">SEQ1 FRAGMENT 1 -> 8\nacgtacgt\n>f\nAC\n";

class Files : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    in_ = dir_.file("in.ig");
    ASSERT_TRUE(testutil::writeFile(in_, kInput));
  }
  testutil::TempDir dir_;
  std::string in_;
};

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

TEST_F(Files, InputFileToStandardOutput) {
  testutil::RunResult r = quenbrel({in_});
  EXPECT_EQ(r.out, kOutput);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

TEST_F(Files, OutputFileCreated) {
  std::string out = dir_.file("out.fa");
  testutil::RunResult r = quenbrel({in_, out});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(testutil::readFile(out), kOutput);
  EXPECT_EQ(testutil::readFile(in_), kInput);
}

TEST_F(Files, ExistingOutputFileReplaced) {
  std::string out = dir_.file("out.fa");
  ASSERT_TRUE(testutil::writeFile(out, std::string(5000, 'z')));
  testutil::RunResult r = quenbrel({"-n", "4", in_, "-uc", out});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(testutil::readFile(out), ">SEQ1 FRAGMENT 1 -> 8\nACGTACGT\n>f\nAC\n");
}

TEST_F(Files, WordsAfterOutputIgnored) {
  std::string out = dir_.file("out.fa");
  testutil::RunResult r = quenbrel({in_, out, dir_.file("extra"), "more", "-"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(testutil::readFile(out), kOutput);
  EXPECT_FALSE(exists(dir_.file("extra")));
}

TEST_F(Files, UnknownWordBeforeFileNamesReadsStandardInput) {
  std::string out = dir_.file("out.fa");
  testutil::RunResult r = quenbrel({"-x", out}, kInput);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(testutil::readFile(out), kOutput);
}

TEST_F(Files, LineLengthAsLastWordAfterInputFile) {
  testutil::RunResult r = quenbrel({in_, "-n"});
  EXPECT_EQ(r.out, kOutput);
  EXPECT_EQ(r.err, "Bad argument to -n option\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(Files, MissingInputFile) {
  std::string missing = dir_.file("nosuch.ig");
  std::string out = dir_.file("out.fa");
  testutil::RunResult r = quenbrel({missing, out});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Bad file name " + missing + "\nFailed to asign input.\n" + kUsage);
  EXPECT_EQ(r.status, 10);
  EXPECT_FALSE(exists(out));
}

TEST_F(Files, UnwritableOutput) {
  std::string out = dir_.file("nodir/out.fa");
  testutil::RunResult r = quenbrel({in_, out});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Failed to open " + out + " for writing\nFailed to asign output.\n" + kUsage);
  EXPECT_EQ(r.status, 20);
}

// A device or a pipe named as the output is written as it is: there is
// nothing in it to empty.
TEST_F(Files, DevicesAndPipesAsNamedOutputs) {
  if (testutil::windowsTool()) GTEST_SKIP() << "POSIX devices and FIFOs";
  testutil::RunResult r = quenbrel({"-", "/dev/null"}, kInput);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  r = quenbrel({"-", "/dev/null"}, "\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 4);
  r = testutil::runSlowConsumer({kBin, "-", "/dev/stdout"}, kInput);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kOutput);
}

// Read failures are reported, never taken for the end of the input.
TEST_F(Files, DirectoryAsInputOperand) {
  testutil::RunResult r = quenbrel({dir_.path()});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Failed to read input.\n");
  EXPECT_EQ(r.status, 10);
}

TEST_F(Files, StandardInputFromADirectory) {
  testutil::RunResult r = quenbrel({"-"}, "", dir_.path());
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Failed to read input.\n");
  EXPECT_EQ(r.status, 10);
}

// Nothing the run writes destroys the input: not the output operand, not
// an index file beside it, not standard output appended to the input file
// (which would read back its own output without end).
TEST_F(Files, RefusesToOverwriteTheInput) {
  std::string hard = dir_.file("hard.ig");
  std::string soft = dir_.file("soft.ig");
  ASSERT_EQ(link(in_.c_str(), hard.c_str()), 0);
  ASSERT_EQ(symlink(in_.c_str(), soft.c_str()), 0);
  // The input under the names of index files of the outputs o.fa, o.fa.gz.
  std::string fa = dir_.file("o.fa"), gz = dir_.file("o.fa.gz");
  ASSERT_EQ(link(in_.c_str(), (fa + ".fai").c_str()), 0);
  ASSERT_EQ(link(in_.c_str(), (gz + ".gzi").c_str()), 0);
  ASSERT_EQ(link(in_.c_str(), dir_.file("o.dict").c_str()), 0);
  const std::string kIntoStdout =
      "Refusing to write the output into the input file through standard output\n";
  struct Way {
    const char* name;
    std::vector<std::string> args;
    std::string stdinPath;
    std::string operand;  // the file named in the message; none: standard output
  };
  const Way ways[] = {
      {"SameName", {in_, in_}, "", in_},
      {"OtherSpelling", {in_, dir_.path() + "/./in.ig"}, "", dir_.path() + "/./in.ig"},
      {"HardLink", {in_, hard}, "", hard},
      {"SymbolicLink", {in_, soft}, "", soft},
      {"InputThroughLink", {soft, in_}, "", in_},
      {"StandardInputFromTheFile", {"-", in_}, in_, in_},
      {"OptionsAround", {"-uc", in_, "-n", "5", hard}, "", hard},
      {"OptionsAroundStandardInput", {"-uc", "-", "-n", "10", soft}, in_, soft},
      {"FaiIndexOfTheOutput", {in_, fa, "--index"}, "", fa + ".fai"},
      {"GziIndexOfTheOutput", {"--index", "-", gz}, in_, gz + ".gzi"},
      {"DictionaryOfTheOutput", {in_, gz, "--dict"}, "", dir_.file("o.dict")},
      {"StandardOutputAppendedToTheInput", {in_, "-n", "5"}, "", ""},
      {"StandardOutputAppendedToStandardInput", {"-"}, in_, ""},
  };
  for (const Way& w : ways) {
    SCOPED_TRACE(w.name);
    testutil::RunResult r;
    if (w.operand.empty()) {
      // As `quenbrel ... >> in.ig` runs it.
      testutil::Stdio io;
      io.in = w.stdinPath.empty() ? "/dev/null" : w.stdinPath;
      io.outFd = open(in_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
      io.err = dir_.file("err");
      std::vector<std::string> args{kBin};
      args.insert(args.end(), w.args.begin(), w.args.end());
      r.status = testutil::spawnAndWait(args, io);
      close(io.outFd);
      r.err = testutil::readFile(io.err);
      std::remove(io.err.c_str());
    } else {
      r = quenbrel(w.args, "", w.stdinPath);
    }
    EXPECT_EQ(r.out, "");
    std::string refusal = w.operand.empty()
                              ? kIntoStdout
                              : "Refusing to overwrite the input file " + w.operand + "\n";
    EXPECT_EQ(r.err, refusal + "Failed to asign output.\n" + kUsage);
    EXPECT_EQ(r.status, 20);
    EXPECT_EQ(testutil::readFile(in_), kInput);
    EXPECT_FALSE(exists(fa));
    EXPECT_FALSE(exists(gz));
  }
}

TEST_F(Files, AnotherExistingFileIsOverwritten) {
  std::string other = dir_.file("other.ig");
  ASSERT_TRUE(testutil::writeFile(other, kInput));
  testutil::RunResult r = quenbrel({"-", other}, "", in_);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(testutil::readFile(other), kOutput);
}

// The output's name chooses its format, unless --compress says otherwise.
TEST_F(Files, OutputFormatByName) {
  if (const char* why = testutil::noThreads()) GTEST_SKIP() << why;
  std::string big = testutil::bigInput();
  ASSERT_TRUE(testutil::writeFile(in_, big));
  std::string plain = quenbrel({in_}).out;
  struct Named {
    std::string name;
    std::vector<std::string> options;
    const char* format;
  };
  const Named cases[] = {
      {"out.fa.gz", {}, "gzip"},
      {"out.bgz", {"--threads=3", "--level=6"}, "gzip"},
      {"out.fa.zst", {}, "zstd"},
      {"out.fa", {}, "none"},
      {"out.fa.gz", {"--compress=none"}, "none"},
      {"out.fa", {"--compress", "gzip", "--level", "0"}, "gzip"},
      {"out.gz.txt", {}, "none"},
  };
  for (const Named& c : cases) {
    SCOPED_TRACE(c.name);
    if (!testutil::toolHasZstd() && std::string(c.format) == "zstd") continue;
    std::string out = dir_.file(c.name);
    std::vector<std::string> args{in_, out};
    args.insert(args.end(), c.options.begin(), c.options.end());
    testutil::RunResult r = quenbrel(args);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    std::string bytes = testutil::readFile(out), back;
    if (std::string(c.format) == "gzip") {
      EXPECT_TRUE(testutil::isBgzf(bytes));
      EXPECT_TRUE(testutil::gunzipAll(bytes, back));
    } else if (std::string(c.format) == "zstd") {
#ifdef QUENBREL_HAVE_ZSTD
      EXPECT_TRUE(testutil::unzstdAll(bytes, back));
#endif
    } else {
      back = bytes;
    }
    expectSameText(back, plain);
    std::remove(out.c_str());
  }
}

// Without libzstd, zstd output is refused by name before the output is
// touched.
TEST_F(Files, ZstdOutputNotBuiltIn) {
  if (testutil::toolHasZstd()) GTEST_SKIP() << "zstd output is built in";
  std::string out = dir_.file("out.fa.zst");
  testutil::RunResult r = quenbrel({in_, out});
  EXPECT_EQ(r.err,
            "Cannot write zstd output: quenbrel was built without zstd support (libzstd).\n");
  EXPECT_EQ(r.status, 10);
  EXPECT_FALSE(exists(out));
  r = quenbrel({"--compress=zstd", in_});
  EXPECT_EQ(r.status, 10);
  EXPECT_EQ(r.out, "");
}

// Names of the files in the folder, to see that no temporary file stays.
std::vector<std::string> listing(const std::string& dir) {
  std::vector<std::string> names;
  testutil::RunResult r = testutil::run({"/bin/ls", "-A", dir});
  size_t at = 0;
  while (at < r.out.size()) {
    size_t nl = r.out.find('\n', at);
    names.push_back(r.out.substr(at, nl - at));
    at = nl + 1;
  }
  return names;
}

TEST_F(Files, IndexWrittenBesideTheOutput) {
  for (const char* name : {"out.fa", "out.fa.gz"}) {
    SCOPED_TRACE(name);
    testutil::TempDir dir;
    std::string in = dir.file("in.ig"), out = dir.file(name);
    ASSERT_TRUE(testutil::writeFile(in, kInput));
    testutil::RunResult r = quenbrel({"--index", in, out, "-n", "6"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(testutil::readFile(out + ".fai"), "SEQ1\t8\t22\t6\t7\nf\t2\t35\t2\t3\n");
    bool gzi = std::string(name) == "out.fa.gz";
    // A single member: no entry.
    if (gzi) {
      EXPECT_EQ(testutil::readFile(out + ".gzi"), std::string(8, '\0'));
    }
    std::vector<std::string> want{"in.ig", name, std::string(name) + ".fai"};
    if (gzi) want.push_back(std::string(name) + ".gzi");
    std::vector<std::string> got = listing(dir.path());
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
  }
}

// The index files around a run, one row each: what stands in the folder
// before (besides the input and an earlier output, "earlier"), the words
// (BAD, FOLDER and EMPTY stand for an input in the wrong format, a folder
// and an empty input), the message, the status, the output's bytes after
// ("earlier" when it must be untouched, "-" for a converted output) and the
// folder's listing after (no temporary file may stay). An index that cannot
// be written is known before the output is opened; after any failure no
// index describes the output; an output rewritten without --index loses
// the index files of the earlier one.
struct IndexCase {
  const char* name;
  std::string out;  // the output's name in the folder
  std::vector<std::string> words;
  std::function<void(const std::string& dir)> before;
  std::string err;  // OUT stands for the output's path
  int status;
  std::string outAfter;
  std::vector<std::string> listing;  // besides in.ig and bad.fa
  // More to check, in the folder after the run.
  std::function<void(const std::string& dir)> after = nullptr;
};

TEST_F(Files, IndexFailures) {
  const std::string kEarlier = "earlier";
  const std::string kLong = std::string(245, 'q') + ".fa.gz";  // .fai: 255 bytes
  const std::string kTooLong = std::string(246, 'q') + ".fa.gz";
  auto folder = [](const std::string& name) {
    return
        [name](const std::string& dir) { ASSERT_EQ(mkdir((dir + "/" + name).c_str(), 0755), 0); };
  };
  auto files = [](std::vector<std::string> names) {
    return [names](const std::string& dir) {
      for (const std::string& n : names) ASSERT_TRUE(testutil::writeFile(dir + "/" + n, "stale"));
    };
  };
  // o.dict as a dictionary whose one record names `ur` (DIR: the folder),
  // then the files `names`, then `after` (modes, owners).
  auto dict = [](std::string ur, std::vector<std::string> names = {},
                 std::function<void(const std::string&)> after = nullptr) {
    return [=](const std::string& dir) {
      std::string uri = ur;
      for (size_t at; (at = uri.find("DIR")) != std::string::npos;) uri.replace(at, 3, dir);
      std::string text = "@HD\tVN:1.0\tSO:unsorted\n@SQ\tSN:s\tLN:2\tM5:x" + uri + "\n";
      ASSERT_TRUE(testutil::writeFile(dir + "/o.dict", text));
      for (const std::string& n : names) ASSERT_TRUE(testutil::writeFile(dir + "/" + n, "stale"));
      if (after) after(dir);
    };
  };
  // The folder and the output open to the user the run is started as.
  auto shared = [](mode_t folderMode) {
    return [folderMode](const std::string& dir) {
      ASSERT_EQ(chmod((dir + "/o.fa.gz").c_str(), 0666), 0);
      ASSERT_EQ(chmod(dir.c_str(), folderMode), 0);
    };
  };
  const std::string kOwn = "\tUR:file://DIR/o.fa.gz";
  // The earlier output moved to `name`, and a link to it in its place.
  auto linkTo = [](const std::string& name) {
    return [name](const std::string& dir) {
      ASSERT_EQ(rename((dir + "/o.fa").c_str(), (dir + "/" + name).c_str()), 0);
      ASSERT_EQ(symlink(name.c_str(), (dir + "/o.fa").c_str()), 0);
    };
  };
  const IndexCase cases[] = {
      {"FolderAtTheFai",
       "o.fa.gz",
       {"--index"},
       folder("o.fa.gz.fai"),
       "Failed to write the index OUT.fai\n",
       20,
       kEarlier,
       {"o.fa.gz", "o.fa.gz.fai"}},
      {"FolderAtTheGzi",
       "o.fa.gz",
       {"--index"},
       folder("o.fa.gz.gzi"),
       "Failed to write the index OUT.gzi\n",
       20,
       kEarlier,
       {"o.fa.gz", "o.fa.gz.gzi"}},
      {"FolderAtThePlainOutputsFai",
       "o.fa",
       {"--index"},
       folder("o.fa.fai"),
       "Failed to write the index OUT.fai\n",
       20,
       kEarlier,
       {"o.fa", "o.fa.fai"}},
      {"IndexNameTooLong",
       kTooLong,
       {"--index"},
       nullptr,
       "Failed to write the index OUT.fai\n",
       20,
       kEarlier,
       {kTooLong}},
      {"LongestIndexableName",
       kLong,
       {"--index"},
       nullptr,
       "",
       0,
       "-",
       {kLong, kLong + ".fai", kLong + ".gzi"}},
      {"FolderAtTheDict",
       "o.fa.gz",
       {"--index", "--dict"},
       folder("o.dict"),
       "Failed to write the dictionary DIR/o.dict\n",
       20,
       kEarlier,
       {"o.fa.gz", "o.dict"}},
      {"IndexAndDictWritten",
       "o.fa.gz",
       {"--index", "--dict"},
       nullptr,
       "",
       0,
       "-",
       {"o.fa.gz", "o.fa.gz.fai", "o.fa.gz.gzi", "o.dict"}},
      {"DictWithoutIndex", "o.fasta", {"--dict"}, nullptr, "", 0, "-", {"o.fasta", "o.dict"}},
      // Input in the wrong format, or a first read that fails, leaves an
      // earlier output as it was, and the files that describe it.
      {"WrongFormatKeepsTheOutputAndItsDict",
       "o.fa.gz",
       {"--dict", "BAD"},
       dict(kOwn),
       kNotFormat,
       3,
       kEarlier,
       {"o.fa.gz", "o.dict"}},
      {"WrongFormatKeepsTheOutputAndItsIndex",
       "o.fa.gz",
       {"--index", "BAD"},
       dict(kOwn, {"o.fa.gz.fai", "o.fa.gz.gzi"}),
       kNotFormat,
       3,
       kEarlier,
       {"o.fa.gz", "o.fa.gz.fai", "o.fa.gz.gzi", "o.dict"}},
#ifdef QUENBREL_HAVE_ZSTD
      // Not even the mark of a zstd output cut short.
      {"WrongFormatKeepsAZstdOutput",
       "o.fa.zst",
       {"BAD"},
       nullptr,
       kNotFormat,
       3,
       kEarlier,
       {"o.fa.zst"}},
#endif
      {"WrongFormatKeepsAPlainOutput",
       "o.fa",
       {"BAD"},
       files({"o.fa.fai"}),
       kNotFormat,
       3,
       kEarlier,
       {"o.fa", "o.fa.fai"}},
      {"WrongFormatKeepsTheFileALinkNames",
       "o.fa",
       {"BAD"},
       linkTo("t.fa"),
       kNotFormat,
       3,
       kEarlier,
       {"o.fa", "t.fa"}},
      {"ALinkedOutputIsWrittenThroughTheLink",
       "o.fa",
       {},
       linkTo("t.fa"),
       "",
       0,
       "-",
       {"o.fa", "t.fa"}},
      {"FirstReadFailureKeepsTheOutput",
       "o.fa",
       {"--index", "FOLDER"},
       files({"o.fa.fai"}),
       "Failed to read input.\n",
       10,
       kEarlier,
       {"o.fa", "o.fa.fai"}},
      {"FirstReadFailureKeepsACompressedOutput",
       "o.fa.gz",
       {"FOLDER"},
       nullptr,
       "Failed to read input.\n",
       10,
       kEarlier,
       {"o.fa.gz"}},
      // A missing output is still created; an input without content
      // still empties an earlier one, and its index goes.
      {"WrongFormatCreatesAMissingOutput",
       "o.fa",
       {"BAD"},
       [](const std::string& dir) { ASSERT_EQ(unlink((dir + "/o.fa").c_str()), 0); },
       kNotFormat,
       3,
       "",
       {"o.fa"}},
      {"EmptyInputEmptiesTheOutput",
       "o.fa",
       {"--index", "EMPTY"},
       dict("\tUR:file://DIR/o.fa", {"o.fa.fai"}),
       "",
       4,
       "",
       {"o.fa"}},
      {"RewriteWithoutIndexRemovesTheIndex",
       "o.fa.gz",
       {},
       dict(kOwn, {"o.fa.gz.fai", "o.fa.gz.gzi"}),
       "",
       0,
       "-",
       {"o.fa.gz"}},
      {"PlainRewriteWithIndexRemovesTheGzi",
       "o.fa.gz",
       {"--index", "--compress=none"},
       files({"o.fa.gz.fai", "o.fa.gz.gzi"}),
       "",
       0,
       "-",
       {"o.fa.gz", "o.fa.gz.fai"}},
      // A dictionary goes with the output only when it names the output:
      // ref.fa, ref.fa.gz and ref.fasta share one dictionary name.
      {"AnotherFilesDictionaryStays",
       "o.fa.gz",
       {},
       dict("\tUR:file://DIR/o.fa"),
       "",
       0,
       "-",
       {"o.fa.gz", "o.dict"}},
      {"DictionaryWithoutUrStays", "o.fa.gz", {}, dict(""), "", 0, "-", {"o.fa.gz", "o.dict"}},
      {"AnotherFilesDictionaryRefused",
       "o.fa.gz",
       {"--dict"},
       dict("\tUR:file://DIR/o.fa"),
       "Refusing to overwrite the dictionary DIR/o.dict, which describes file://DIR/o.fa\n",
       20,
       kEarlier,
       {"o.fa.gz", "o.dict"}},
      {"DictionaryWithoutUrRefused",
       "o.fa.gz",
       {"--dict", "--index"},
       dict(""),
       "Refusing to overwrite the dictionary DIR/o.dict, which does not name the file it "
       "describes\n",
       20,
       kEarlier,
       {"o.fa.gz", "o.dict"}},
      // A file whose first line is no header line is no dictionary, whatever
      // follows.
      {"TextBeforeHeaderLinesIsNoDictionary",
       "o.fa.gz",
       {},
       [](const std::string& dir) {
         ASSERT_TRUE(
             testutil::writeFile(dir + "/o.dict", "x\n@SQ\tSN:s\tUR:file://" + dir + "/o.fa.gz\n"));
       },
       "",
       0,
       "-",
       {"o.fa.gz", "o.dict"}},
      {"NotADictionaryRefused",
       "o.fa.gz",
       {"--dict"},
       files({"o.dict"}),
       "Refusing to overwrite the dictionary DIR/o.dict, which does not name the file it "
       "describes\n",
       20,
       kEarlier,
       {"o.fa.gz", "o.dict"}},
      {"DictionaryOfNoSequenceReplaced",
       "o.fa.gz",
       {"--dict"},
       [](const std::string& dir) {
         ASSERT_TRUE(testutil::writeFile(dir + "/o.dict", "@HD\tVN:1.0\tSO:unsorted\n"));
       },
       "",
       0,
       "-",
       {"o.fa.gz", "o.dict"}},
      {"OwnDictionaryReplaced",
       "o.fa.gz",
       {"--dict"},
       dict(kOwn),
       "",
       0,
       "-",
       {"o.fa.gz", "o.dict"}},
      {"PicardsUriNamesTheOutput",
       "o.fa.gz",
       {},
       dict("\tUR:file:DIR/o.fa.gz"),
       "",
       0,
       "-",
       {"o.fa.gz"}},
      {"CrlfDictionaryNamesTheOutput", "o.fa.gz", {}, dict(kOwn + "\r"), "", 0, "-", {"o.fa.gz"}},
      // A UR: that reaches the output through a link names it too.
      {"LinkedUriNamesTheOutput",
       "o.fa.gz",
       {},
       dict("\tUR:file://DIR/l.fa.gz", {},
            [](const std::string& dir) {
              ASSERT_EQ(symlink("o.fa.gz", (dir + "/l.fa.gz").c_str()), 0);
            }),
       "",
       0,
       "-",
       {"l.fa.gz", "o.fa.gz"}},
      {"EscapedUriNamesTheOutput",
       "o.fa.gz",
       {},
       dict("\tUR:file://DIR/%6f.fa.g%7a"),
       "",
       0,
       "-",
       {"o.fa.gz"}},
      {"UpperCaseEscapesNameTheOutput",
       "o.fa.gz",
       {},
       dict("\tUR:file://DIR%2Fo%2Efa.g%7A"),
       "",
       0,
       "-",
       {"o.fa.gz"}},
      // A stale file that cannot be removed is known before the output is
      // opened: samtools would read the new output through it.
      {"ReadOnlyFolderKeepsTheOutput",
       "o.fa.gz",
       {"AS_OTHER"},
       dict(kOwn, {"o.fa.gz.fai"}, shared(0555)),
       "Failed to remove the index OUT.fai\n",
       20,
       kEarlier,
       {"o.fa.gz", "o.fa.gz.fai", "o.dict"}},
      {"StickyFolderWithAnotherUsersDictionary",
       "o.fa.gz",
       {"--dict", "AS_OTHER"},
       dict(kOwn, {}, shared(01777)),
       "Failed to write the dictionary DIR/o.dict\n",
       20,
       kEarlier,
       {"o.fa.gz", "o.dict"}},
      {"StickyFolderOfTheRunsUser",
       "o.fa.gz",
       {"AS_OTHER"},
       dict(kOwn, {"o.fa.gz.fai"},
            [](const std::string& dir) {
              ASSERT_EQ(chown(dir.c_str(), 65534, 65534), 0);
              ASSERT_EQ(chmod((dir + "/o.fa.gz").c_str(), 0666), 0);
              ASSERT_EQ(chmod(dir.c_str(), 01777), 0);
            }),
       "",
       0,
       "-",
       {"o.fa.gz"}},
      {"RefusedRunKeepsTheIndex",
       "o.fa.gz",
       {"--level=99"},
       files({"o.fa.gz.fai", "o.dict"}),
       "Bad argument '99' to --level option\n" + kUsage,
       10,
       kEarlier,
       {"o.fa.gz", "o.fa.gz.fai", "o.dict"}},
      // 2bit is written whole at the end: what is refused, before or
      // during the run, leaves the earlier file; IN=TEXT is the input.
      {"TwoBitIsNotIndexed",
       "o.2bit",
       {"--index"},
       nullptr,
       "The --index option cannot index 2bit output; use gzip (BGZF) or none\n" + kUsage,
       10,
       kEarlier,
       {"o.2bit"}},
      {"TwoBitHasNoDictionary",
       "o.2bit",
       {"--dict"},
       nullptr,
       "The --dict option cannot describe 2bit output; use gzip (BGZF) or none\n" + kUsage,
       10,
       kEarlier,
       {"o.2bit"}},
      {"TwoBitRepeatedName",
       "o.2bit",
       {"IN=>a x\nAC\n>a y\nGT\n"},
       nullptr,
       "Record 2 has the name a of an earlier record; 2bit output needs each name once\n",
       10,
       kEarlier,
       {"o.2bit"}},
      {"TwoBitInputNotInTheFormat",
       "o.2bit",
       {"BAD"},
       nullptr,
       kNotFormat,
       3,
       kEarlier,
       {"o.2bit"}},
      // Written whole and renamed into place, through a link, as a write of
      // FASTA output goes: the link stays.
      {"TwoBitThroughALink",
       "o.2bit",
       {},
       [](const std::string& dir) {
         ASSERT_EQ(rename((dir + "/o.2bit").c_str(), (dir + "/t.2bit").c_str()), 0);
         ASSERT_EQ(symlink("t.2bit", (dir + "/o.2bit").c_str()), 0);
       },
       "",
       0,
       "2BIT",
       {"o.2bit", "t.2bit"},
       [](const std::string& dir) {
         struct stat st;
         ASSERT_EQ(lstat((dir + "/o.2bit").c_str(), &st), 0);
         EXPECT_TRUE(S_ISLNK(st.st_mode));
       }},
      {"TwoBitReplacesTheEarlierAndItsIndex",
       "o.2bit",
       {"IN=>a\nACRY-gt\n"},
       files({"o.2bit.fai"}),
       "3 residues other than A, C, G, T and N were written as N (2bit has no other letters)\n",
       0,
       "2BIT",
       {"o.2bit"}},
  };
  std::string plain = quenbrel({in_}).out;
  for (const IndexCase& c : cases) {
    SCOPED_TRACE(c.name);
    // A run as another user (whom the folder's modes bind as they bind
    // every user but root) can only be started by root; CI runs as root.
    bool asOther = std::count(c.words.begin(), c.words.end(), "AS_OTHER") > 0;
    // Windows has neither the modes nor the other user.
    if (asOther && (geteuid() != 0 || testutil::windowsTool())) continue;
    // Links are made here as POSIX makes them.
    if (c.after && testutil::windowsTool()) continue;
    if (!testutil::toolHasZstd() && c.out.find(".zst") != std::string::npos) continue;
    testutil::TempDir dir;
    std::string in = dir.file("in.ig"), bad = dir.file("bad.fa"), out = dir.file(c.out);
    ASSERT_TRUE(testutil::writeFile(in, kInput));
    ASSERT_TRUE(testutil::writeFile(bad, "ACGT\n"));
    ASSERT_TRUE(testutil::writeFile(out, kEarlier));
    if (c.before) c.before(dir.path());
    std::vector<std::string> args{in, out};
    for (const std::string& w : c.words) {
      if (w == "BAD") {
        args[0] = bad;
      } else if (w == "FOLDER") {
        args[0] = dir.path();
      } else if (w == "EMPTY") {
        args[0] = "/dev/null";
      } else if (w.compare(0, 3, "IN=") == 0) {
        ASSERT_TRUE(testutil::writeFile(in, w.substr(3)));
      } else if (w != "AS_OTHER") {
        args.push_back(w);
      }
    }
    if (asOther) {
      args.insert(args.begin(),
                  {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", kBin});
    }
    testutil::RunResult r = asOther ? testutil::run(args) : quenbrel(args);
    std::string err = c.err;
    for (size_t at; (at = err.find("OUT")) != std::string::npos;) err.replace(at, 3, out);
    for (size_t at; (at = err.find("DIR")) != std::string::npos;) err.replace(at, 3, dir.path());
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.status, c.status);
    std::string bytes = testutil::readFile(out);
    if (c.outAfter == "-") {
      std::string back = bytes;
      bool plainOut =
          std::find(c.words.begin(), c.words.end(), "--compress=none") != c.words.end() ||
          c.out.find(".gz") == std::string::npos;
      if (!plainOut) {
        EXPECT_TRUE(testutil::gunzipAll(bytes, back));
      }
      EXPECT_EQ(back, plain);
    } else if (c.outAfter == "2BIT") {
      EXPECT_EQ(bytes.substr(0, 4), std::string("\x43\x27\x41\x1a", 4));
    } else {
      EXPECT_EQ(bytes, c.outAfter);
    }
    if (c.after) c.after(dir.path());
    std::vector<std::string> want = c.listing, got = listing(dir.path());
    want.push_back("in.ig");
    want.push_back("bad.fa");
    std::sort(want.begin(), want.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, want);
  }
}

// The tool started with `words` on a pipe the test holds open, so that it
// can be looked at while it runs. With `shell`, a shell runs those commands
// first (`trap '' TERM`, `ulimit -f 1`) and then becomes the tool.
class Running {
 public:
  explicit Running(std::vector<std::string> words, const std::string& shell = "") {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    words.insert(words.begin(), kBin);
    if (!shell.empty())
      words.insert(words.begin(), {"/bin/sh", "-c", shell + "; exec \"$0\" \"$@\""});
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    in_ = fds[1];
  }
  ~Running() { finish(); }
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  bool feed(const std::string& s) {
    return write(in_, s.data(), s.size()) == static_cast<ssize_t>(s.size());
  }
  // Ends the input and waits: the wait status.
  int finish() {
    if (in_ >= 0) close(in_);
    in_ = -1;
    int ws = 0;
    if (pid_ > 0) waitpid(pid_, &ws, 0);
    pid_ = -1;
    return ws;
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
};

// A name that several records have is warned of in every run that writes
// a file that lists names, once, after the run, in the order the name's
// second record came: the index lists one record of the name (the first
// with residues, none when none has), the dictionary every one. The words
// depend on the records alone, whichever of the files the run writes. An
// empty name is warned of in a run with the dictionary, which lists it as
// an empty SN:.
TEST_F(Files, DuplicateNamesAreWarnedOf) {
  const std::string kDup = ">a\nAC\n>b\nGG\n>a\nTT\n>e\n>e\n>b\nC\n";
  const std::string kTail = ", and GATK and Picard refuse a dictionary that repeats it\n";
  auto first = [&](const std::string& name) {
    return "Duplicate sequence name " + name + ": a .fai index lists only its first record" + kTail;
  };
  auto later = [&](const std::string& name) {
    return "Duplicate sequence name " + name +
           ": a .fai index lists only its first record with residues" + kTail;
  };
  auto none = [&](const std::string& name) {
    return "Duplicate sequence name " + name +
           ": a .fai index lists none of its records, as none has residues" + kTail;
  };
  const std::string kEmpty =
      "Empty sequence name: the dictionary lists its record with an empty SN:, which GATK and "
      "Picard refuse\n";
  const std::string kEmpties =
      "Empty sequence name on several records: a .fai index lists only the first of them, and "
      "GATK and Picard refuse a dictionary with an empty SN:\n";
  struct Row {
    std::string input;
    std::vector<std::string> words;
    std::string err;
  };
  const std::string kLater = ">a\n>b\n>a\nACGT\n>b\n>a\nGG\n";
  const std::string kNames = ">\nAC\n>x\nG\n>\nT\n>x\nA\n";
  const std::vector<Row> rows = {
      {kDup, {}, ""},
      {kDup, {"--index"}, first("a") + none("e") + first("b")},
      {kDup, {"--dict"}, first("a") + none("e") + first("b")},
      {kDup, {"--index", "--dict", "--threads=1"}, first("a") + none("e") + first("b")},
      {kDup, {"--index", "--dict", "--threads=2"}, first("a") + none("e") + first("b")},
      // The first record of a name has no residues: the index lists a later
      // one.
      {kLater, {"--index"}, later("a") + none("b")},
      {kLater, {"--dict", "--threads=1"}, later("a") + none("b")},
      {kLater, {"--dict", "--threads=2"}, later("a") + none("b")},
      // An empty name, once and on several records.
      {">\nAC\n>x\nG\n", {"--index", "--dict"}, kEmpty},
      {kNames, {"--index"}, kEmpties + first("x")},
      {kNames, {"--dict", "--threads=1"}, kEmpties + first("x")},
      {kNames, {"--index", "--dict", "--threads=2"}, kEmpties + first("x")},
  };
  for (const Row& row : rows) {
    std::string in = dir_.file("dup.fa");
    ASSERT_TRUE(testutil::writeFile(in, row.input));
    std::vector<std::string> args{in, dir_.file("o.fa")};
    args.insert(args.end(), row.words.begin(), row.words.end());
    SCOPED_TRACE(row.input + testing::PrintToString(row.words));
    testutil::RunResult r = quenbrel(args);
    EXPECT_EQ(r.err, row.err);
    EXPECT_EQ(r.status, 0);
  }
}

// Ended by a signal, an --index (and --dict) run leaves none of its
// temporary files and ends as the signal ends a process; the output as far
// as written stays. That is every signal whose default action ends a
// process, but those of a fault of the program's own: sent from outside,
// brought on by the output (a FIFO whose reader left, a file size limit),
// core-dumping ones too. A signal the run was started with ignored stays
// ignored: the run goes on to its end, or to its write failure.
TEST_F(Files, SignalLeavesNoTemporaryIndex) {
  // Windows ends a process from outside by console events (windows_test.sh).
  if (testutil::windowsTool()) GTEST_SKIP() << "POSIX signals";
  const size_t kFiles = 4;  // the output, .fai, .gzi and .dict
  enum class Cause { kKill, kReaderLeaves, kSizeLimit };
  struct Row {
    int sig;
    Cause cause;
    bool ignored;
  };
  std::vector<Row> rows;
  // Of the real-time signals the lowest: an emulator (qemu-user) keeps the
  // highest for itself.
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ, SIGXCPU, SIGALRM, SIGVTALRM,
                  SIGPROF, SIGUSR1, SIGUSR2, SIGIO, SIGPWR, SIGSTKFLT, SIGRTMIN}) {
    rows.push_back({sig, Cause::kKill, false});
  }
  rows.push_back({SIGPIPE, Cause::kReaderLeaves, false});
  rows.push_back({SIGXFSZ, Cause::kSizeLimit, false});
  rows.push_back({SIGTERM, Cause::kKill, true});
  rows.push_back({SIGPIPE, Cause::kReaderLeaves, true});
  // Random residues, so that the compressed output outgrows the limit.
  std::string more = ">r\n";
  unsigned state = 7;
  for (int i = 0; i < 20000; ++i) {
    state = state * 1103515245u + 12345u;
    more += "ACGT"[(state >> 16) & 3];
  }
  more += '\n';
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.sig) + " cause " + std::to_string(static_cast<int>(row.cause)) +
                 (row.ignored ? " ignored" : ""));
    testutil::TempDir dir;
    std::string out = dir.file("o.fa.gz");
    // The FIFO's reader is there when the run opens its output, and leaves
    // before anything is written.
    int reader = -1;
    if (row.cause == Cause::kReaderLeaves) {
      ASSERT_EQ(mkfifo(out.c_str(), 0600), 0);
      reader = open(out.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      ASSERT_GE(reader, 0);
    }
    std::string shell = "ulimit -c 0";
    if (row.ignored) shell += "; trap '' " + std::to_string(row.sig);
    if (row.cause == Cause::kSizeLimit) shell += "; ulimit -f 1";
    Running run({"-", out, "--index", "--dict"}, shell);
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(run.feed(kInput));
    // Waits for the run to have its temporary files, with the input still
    // open.
    for (int i = 0; i < 500 && listing(dir.path()).size() < kFiles; ++i) usleep(10 * 1000);
    EXPECT_EQ(listing(dir.path()).size(), kFiles);
    if (row.cause == Cause::kKill) kill(run.pid(), row.sig);
    if (reader >= 0) close(reader);
    if (row.cause == Cause::kSizeLimit) {
      ASSERT_TRUE(run.feed(more));
    }
    int ws = run.finish();
    std::vector<std::string> want{"o.fa.gz"};
    if (!row.ignored) {
      EXPECT_TRUE(WIFSIGNALED(ws) && WTERMSIG(ws) == row.sig) << ws;
    } else if (row.cause == Cause::kKill) {
      EXPECT_TRUE(WIFEXITED(ws) && WEXITSTATUS(ws) == 0) << ws;
      want = {"o.dict", "o.fa.gz", "o.fa.gz.fai", "o.fa.gz.gzi"};
    } else {
      EXPECT_TRUE(WIFEXITED(ws) && WEXITSTATUS(ws) == 20) << ws;
    }
    std::vector<std::string> got = listing(dir.path());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, want);
  }
}

// Threads of the running process.
size_t threadCount(pid_t pid) { return listing("/proc/" + std::to_string(pid) + "/task").size(); }

// --threads=N compresses on N workers (1: none besides the converting
// thread). Counted against the run on two, since a sanitizer's runtime (or
// an emulator) may add a thread of its own once there are threads at all.
TEST_F(Files, ThreadsStartedAsAskedFor) {
  if (const char* why = testutil::noThreads()) GTEST_SKIP() << why;
  for (const char* format : {"gzip", "zstd"}) {
    if (!testutil::toolHasZstd() && std::string(format) == "zstd") continue;
    size_t counts[6] = {};
    for (size_t n : {1, 2, 3, 5}) {
      SCOPED_TRACE(std::string(format) + " on " + std::to_string(n));
      std::string out = dir_.file("o");
      Running run(
          {"-", out, std::string("--compress=") + format, "--threads=" + std::to_string(n)});
      ASSERT_TRUE(run.started());
      ASSERT_TRUE(run.feed(kInput));
      // The workers start with the output; give them time to show (more
      // under an emulator).
      for (int i = 0; i < 500 && !exists(out); ++i) usleep(10 * 1000);
      // No thread ends while the input is open, so the most seen is the
      // count: a slow start (a loaded machine, a sanitizer) is waited for.
      for (int i = 0; i < 50; ++i) {
        usleep(10 * 1000);
        counts[n] = std::max(counts[n], threadCount(run.pid()));
      }
      for (int i = 0; i < 300 && n > 2 && counts[n] < counts[2] + n - 2; ++i) {
        usleep(10 * 1000);
        counts[n] = std::max(counts[n], threadCount(run.pid()));
      }
      EXPECT_EQ(run.finish(), 0);
      std::remove(out.c_str());
    }
    SCOPED_TRACE(format);
    EXPECT_GE(counts[2], counts[1] + 2);
    EXPECT_EQ(counts[3], counts[2] + 1);
    EXPECT_EQ(counts[5], counts[2] + 3);
  }
  // BGZF input from a pipe is inflated on the N workers and read by the
  // engine's thread: no thread reads ahead beside them. One more than the
  // workers under ThreadSanitizer, whose runtime starts a thread of its own
  // with the first.
#if defined(__SANITIZE_THREAD__)
  const size_t kRuntime = 1;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
  const size_t kRuntime = 1;
#else
  const size_t kRuntime = 0;
#endif
#else
  const size_t kRuntime = 0;
#endif
  // More than the workers' jobs hold, so that the first block is handed on,
  // and the rest read, while the input is still open.
  ASSERT_TRUE(testutil::writeFile(in_, kInput + ">big\n" + residues(6000000) + "\n"));
  std::string bgzf = dir_.file("in.fa.gz");
  ASSERT_EQ(quenbrel({in_, bgzf}).status, 0);
  std::string want = quenbrel({bgzf}).out;
  size_t counts[4] = {};
  for (size_t n : {1, 3}) {
    SCOPED_TRACE("BGZF from a pipe on " + std::to_string(n));
    std::string out = dir_.file("o.fa");
    Running run({"-", out, "--threads=" + std::to_string(n)});
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(run.feed(testutil::readFile(bgzf)));
    for (int i = 0; i < 500 && !exists(out); ++i) usleep(10 * 1000);
    usleep(200 * 1000);
    counts[n] = threadCount(run.pid());
    for (int i = 0; i < 300 && n > 1 && counts[n] < counts[1] + n + kRuntime; ++i) {
      usleep(10 * 1000);
      counts[n] = threadCount(run.pid());
    }
    EXPECT_EQ(run.finish(), 0);
    EXPECT_TRUE(testutil::readFile(out) == want);
    std::remove(out.c_str());
  }
  EXPECT_EQ(counts[3], counts[1] + 3 + kRuntime);
}

// What a compression setting asks for shows in the bytes: level 0 stores;
// the levels above 9 (libdeflate's) each code otherwise than 9, no larger;
// zstd frames carry their checksum, so that a changed byte is refused by
// the reader even where the frame still decodes.
TEST_F(Files, CompressionSettingsShowInTheBytes) {
  std::string dna = ">chr\n";
  unsigned state = 1;
  for (size_t i = 0; i < 3000000; ++i) {
    state = state * 1103515245u + 12345u;
    dna += "ACGT"[(state >> 16) & 3];
    if (i % 60 == 59) dna += '\n';
  }
  dna += '\n';
  ASSERT_TRUE(testutil::writeFile(in_, dna));
  auto bytesOf = [&](std::vector<std::string> options) {
    options.insert(options.begin(), in_);
    testutil::RunResult r = quenbrel(options);
    EXPECT_EQ(r.status, 0);
    return r.out;
  };
  size_t plain = bytesOf({}).size();
  std::string stored = bytesOf({"--compress=gzip", "--level=0"});
  EXPECT_GE(stored.size(), plain);
  EXPECT_LE(stored.size(), plain + plain / 100);
  std::string nine = bytesOf({"--compress=gzip", "--level=9"});
  for (const char* level : {"--level=10", "--level=11", "--level=12"}) {
    if (!testutil::toolHasLibdeflate()) break;
    SCOPED_TRACE(level);
    std::string bytes = bytesOf({"--compress=gzip", level});
    EXPECT_TRUE(bytes != nine) << "the same bytes as level 9";
    EXPECT_LE(bytes.size(), nine.size());
  }
  if (!testutil::toolHasZstd()) return;
  // A header of bytes no coder shrinks is stored as it is: a changed byte
  // still decodes, and only the checksum tells.
  std::string header = ">";
  for (int i = 0; i < 200000; ++i) {
    state = state * 1103515245u + 12345u;
    unsigned char c = static_cast<unsigned char>(state >> 16);
    header += c == '\n' || c == '\r' ? 'x' : static_cast<char>(c);
  }
  std::string zst = testutil::run({kBin, "-", "--compress=zstd"}, header + "\nACGT\n").out;
  zst[zst.size() / 2] ^= 0x01;
  testutil::RunResult r = quenbrel({"-"}, zst);
  EXPECT_EQ(r.status, 10);
  EXPECT_EQ(r.err, "Failed to read input.\n");
}

// ---------------------------------------------------------------------------
// Write failures
// ---------------------------------------------------------------------------

// Compressed output fails the same way, from the caller's thread as from
// the workers, and nothing hangs.
TEST(WriteErrors, CompressedOutputOnFullDevice) {
  if (const char* why = testutil::noThreads()) GTEST_SKIP() << why;
  std::string input = ">big\n" + residues(3000000, "ACGTTGCAAC") + "\n";
  for (const char* format : {"--compress=gzip", "--compress=zstd"}) {
    if (!testutil::toolHasZstd() && std::string(format) == "--compress=zstd") continue;
    for (const char* threads : {"--threads=1", "--threads=2", "--threads=8"}) {
      SCOPED_TRACE(std::string(format) + " " + threads);
      testutil::RunResult r = quenbrel({format, threads, "-"}, input, "", "/dev/full");
      EXPECT_EQ(r.err, kWriteFailed);
      EXPECT_EQ(r.status, 20);
      r = quenbrel({format, threads, "-"}, kInput, "", "/dev/full");
      EXPECT_EQ(r.err, kWriteFailed);
      EXPECT_EQ(r.status, 20);
    }
  }
  testutil::RunResult r = quenbrel({"-", "/dev/full", "--compress=gzip", "--index"}, input);
  EXPECT_EQ(r.err, kWriteFailed);
  EXPECT_EQ(r.status, 20);
}

TEST(WriteErrors, FullDeviceAsOutputOperand) {
  testutil::RunResult r = quenbrel({"-", "/dev/full"}, kInput);
  EXPECT_EQ(r.err, kWriteFailed);
  EXPECT_EQ(r.status, 20);
}

TEST(WriteErrors, StandardOutputOnFullDevice) {
  testutil::RunResult r = quenbrel({"-"}, kInput, "", "/dev/full");
  EXPECT_EQ(r.err, kWriteFailed);
  EXPECT_EQ(r.status, 20);
}

TEST(WriteErrors, LargeOutputOnFullDevice) {
  std::string input = ">big\n" + residues(3000000) + "\n";
  testutil::RunResult r = quenbrel({"-"}, input, "", "/dev/full");
  EXPECT_EQ(r.err, kWriteFailed);
  EXPECT_EQ(r.status, 20);
  r = quenbrel({"-", "/dev/full"}, input);
  EXPECT_EQ(r.err, kWriteFailed);
  EXPECT_EQ(r.status, 20);
}

TEST(WriteErrors, InputEndingInCommentBlock) {
  testutil::RunResult r = quenbrel({"-"}, ">a\nAC\n;c\n", "", "/dev/full");
  EXPECT_EQ(r.err, kWriteFailed);
  EXPECT_EQ(r.status, 20);
}

// Statuses that write nothing are not turned into write failures.
TEST(WriteErrors, NothingWrittenNothingFailed) {
  testutil::RunResult r = quenbrel({"-"}, "ACGT\n", "", "/dev/full");
  EXPECT_EQ(r.err, kNotFormat);
  EXPECT_EQ(r.status, 3);
  r = quenbrel({"-"}, "\n\n", "", "/dev/full");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 4);
}

// Runs the tool with standard output on a pipe nobody reads, SIGPIPE ignored, so writes fail with
// an error instead of killing the process.
testutil::RunResult runIntoClosedPipe(const std::vector<std::string>& args,
                                      const std::string& input) {
  testutil::RunResult r;
  testutil::TempDir tmp;
  std::string inPath = tmp.file("stdin"), errPath = tmp.file("stderr");
  testutil::writeFile(inPath, input);
  int fds[2];
  if (pipe(fds) != 0) return r;
  close(fds[0]);
  testutil::Stdio io;
  io.in = inPath;
  io.outFd = fds[1];
  io.err = errPath;
  io.ignoreSigpipe = true;
  std::vector<std::string> argv{kBin};
  argv.insert(argv.end(), args.begin(), args.end());
  r.status = testutil::spawnAndWait(argv, io);
  close(fds[1]);
  r.err = testutil::readFile(errPath);
  return r;
}

TEST(WriteErrors, ClosedPipeWithSigpipeIgnored) {
  // A small output fails at the final flush, a large one while the run is
  // still writing.
  for (const std::string& input : {kInput, ">x\n" + std::string(1u << 20, 'A') + "\n"}) {
    testutil::RunResult r = runIntoClosedPipe({"-"}, input);
    EXPECT_EQ(r.err, kWriteFailed);
    EXPECT_EQ(r.status, 20);
  }
}

// ---------------------------------------------------------------------------
// Program name in the usage text
// ---------------------------------------------------------------------------

TEST(Usage, ProgramNameWithoutDirectory) {
  // A link to the script that starts quenbrel.exe would not rename it:
  // windows_test.sh runs a renamed copy.
  if (testutil::windowsTool()) GTEST_SKIP() << "the name is the .exe's";
  testutil::TempDir dir;
  ASSERT_EQ(mkdir(dir.file("bin").c_str(), 0755), 0);
  std::string alias = dir.file("bin/my.converter");
  ASSERT_EQ(symlink(kBin.c_str(), alias.c_str()), 0);
  testutil::RunResult r = testutil::run({alias, "-n", "bad", "-"});
  EXPECT_EQ(r.err, "Bad argument 'bad' to -n option\n" + usageText("my.converter"));
  EXPECT_EQ(r.status, 10);
  r = testutil::run({alias});
  EXPECT_EQ(r.err, "Failed to asign input.\n" + usageText("my.converter"));
  EXPECT_EQ(r.status, 10);
}

}  // namespace

// SPDX-License-Identifier: MIT
// IG files written by other programs (see tests/data/README.md) are
// converted by the built tool; the records that come out must carry the
// names and residues of the FASTA those files were made from.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

const std::string kDataDir = std::string(QUENBREL_SOURCE_DIR) + "/tests/data/interop/";

struct Record {
  std::string header;               // the header line without ">" and line end
  std::string residues;             // all sequence lines joined
  std::vector<size_t> lineLengths;  // length of each sequence line
};

std::vector<Record> parseFasta(const std::string& text) {
  std::vector<Record> records;
  size_t at = 0;
  while (at < text.size()) {
    size_t nl = text.find('\n', at);
    if (nl == std::string::npos) nl = text.size();
    std::string line = text.substr(at, nl - at);
    at = nl + 1;
    if (!line.empty() && line[0] == '>') {
      records.push_back({line.substr(1), "", {}});
    } else if (!records.empty()) {
      records.back().residues += line;
      records.back().lineLengths.push_back(line.size());
    }
  }
  return records;
}

std::string firstWord(const std::string& header) { return header.substr(0, header.find(' ')); }

// What each writer makes of a record's name and of the "." gap mark.
struct Writer {
  const char* label;
  const char* file;
  std::string (*name)(const std::string& fastaName);
  bool dotBecomesDash;
};

std::string sameName(const std::string& n) { return n; }
std::string afterLastBar(const std::string& n) { return n.substr(n.rfind('|') + 1); }

const Writer kWriters[] = {
    {"seqret", "source.seqret.ig", afterLastBar, true},
    {"readseq", "source.readseq.ig", sameName, false},
};

struct Settings {
  const char* label;
  std::vector<std::string> args;
  size_t lineLen;
  bool oneLine, upper, noN;
};

const Settings kSettings[] = {
    {"Defaults", {}, 70, false, false, false},
    {"UpperCase", {"-uc"}, 70, false, true, false},
    {"NoNWidth33", {"-unseq", "-n", "33"}, 33, false, false, true},
    {"OneLineUpperNoN", {"-ol", "-uc", "-unseq"}, 70, true, true, true},
};

// The residues the tool keeps from a source sequence: letters and "-".
std::string expectedResidues(const std::string& source, const Writer& w, const Settings& s) {
  std::string out;
  for (char c : source) {
    if (c == '.' && w.dotBecomesDash) c = '-';
    unsigned char u = static_cast<unsigned char>(c);
    if (!std::isalpha(u) && c != '-') continue;
    if (s.noN && (c == 'N' || c == 'n')) continue;
    out += s.upper ? static_cast<char>(std::toupper(u)) : c;
  }
  return out;
}

class InteropTest : public testing::TestWithParam<std::tuple<Writer, Settings>> {};

TEST_P(InteropTest, RecordsMatchTheSourceFasta) {
  const Writer& w = std::get<0>(GetParam());
  const Settings& s = std::get<1>(GetParam());
  std::vector<Record> source = parseFasta(testutil::readFile(kDataDir + "source.fa"));
  ASSERT_EQ(source.size(), 7u);

  std::vector<std::string> argv{QUENBREL_BIN, kDataDir + w.file};
  argv.insert(argv.end(), s.args.begin(), s.args.end());
  testutil::RunResult r = testutil::run(argv);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  ASSERT_FALSE(r.out.empty());
  EXPECT_EQ(r.out.back(), '\n');

  std::vector<Record> got = parseFasta(r.out);
  ASSERT_EQ(got.size(), source.size());
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(source[i].header);
    EXPECT_EQ(got[i].header, w.name(firstWord(source[i].header)));
    EXPECT_EQ(got[i].residues, expectedResidues(source[i].residues, w, s));
    // Full lines of the chosen length, a shorter last one, no empty line.
    const std::vector<size_t>& lens = got[i].lineLengths;
    ASSERT_FALSE(lens.empty());
    if (s.oneLine) {
      EXPECT_EQ(lens.size(), 1u);
      continue;
    }
    for (size_t k = 0; k + 1 < lens.size(); ++k) EXPECT_EQ(lens[k], s.lineLen);
    EXPECT_GE(lens.back(), 1u);
    EXPECT_LE(lens.back(), s.lineLen);
  }
}

INSTANTIATE_TEST_SUITE_P(Writers, InteropTest,
                         testing::Combine(testing::ValuesIn(kWriters),
                                          testing::ValuesIn(kSettings)),
                         [](const testing::TestParamInfo<InteropTest::ParamType>& i) {
                           return std::string(std::get<0>(i.param).label) + "_" +
                                  std::get<1>(i.param).label;
                         });

// The source FASTA itself goes through unchanged but for the wrapping.
TEST(InteropTest, SourceFastaKeepsItsHeaders) {
  testutil::RunResult r = testutil::run({QUENBREL_BIN, kDataDir + "source.fa"});
  ASSERT_EQ(r.status, 0);
  std::vector<Record> source = parseFasta(testutil::readFile(kDataDir + "source.fa"));
  std::vector<Record> got = parseFasta(r.out);
  ASSERT_EQ(got.size(), source.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].header, source[i].header);
    EXPECT_EQ(got[i].residues, expectedResidues(source[i].residues, kWriters[1], kSettings[0]));
  }
}

}  // namespace

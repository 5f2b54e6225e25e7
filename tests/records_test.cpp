// SPDX-License-Identifier: MIT
// Hit records: byte-exact layouts of the co and ft writers (FILE* and stream
// twins), the settings the stream twins leave behind, and the readers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>

#include "lib/functions.h"
#include "test_util.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Runs `write` against a fresh tmpfile and returns what it wrote.
template <typename Fn>
std::string captureFile(Fn write) {
  FILE* F = testutil::tempFile();
  write(F);
  std::string out = testutil::drain(F);
  std::fclose(F);
  return out;
}

struct Hit {
  const char* pcTgtName;
  long iTgtFrom, iTgtTo;
  const char* pcRepName;
  long iRepFrom, iRepTo;
};

const Hit kSmall = {"tgt", 100, 200, "rep", 1, 50};
const Hit kWide = {"target_name_13", 12345678, -1, "rep_name_longer", 1234567, 123456789};

std::string coFile(const Hit& h, int iScore) {
  return captureFile([&](FILE* F) {
    print_co(F, h.pcTgtName, h.iTgtFrom, h.iTgtTo, h.pcRepName, h.iRepFrom, h.iRepTo, iScore);
  });
}

std::string ftFile(const Hit& h, double dScore, double dSim, double dTranz, bool isDirect) {
  return captureFile([&](FILE* F) {
    print_ft(F, h.pcTgtName, h.iTgtFrom, h.iTgtTo, h.pcRepName, h.iRepFrom, h.iRepTo, dScore, dSim,
             dTranz, isDirect);
  });
}

std::string ftFileLong(const Hit& h, double dScore, double dSim, double dTranz, bool isDirect,
                       double p1, double p2) {
  return captureFile([&](FILE* F) {
    print_ft(F, h.pcTgtName, h.iTgtFrom, h.iTgtTo, h.pcRepName, h.iRepFrom, h.iRepTo, dScore, dSim,
             dTranz, isDirect, p1, p2);
  });
}

void coStream(std::ostream& os, const Hit& h, int iScore) {
  print_co(os, h.pcTgtName, h.iTgtFrom, h.iTgtTo, h.pcRepName, h.iRepFrom, h.iRepTo, iScore);
}

void ftStream(std::ostream& os, const Hit& h, double dScore, double dSim, double dTranz,
              bool isDirect) {
  print_ft(os, h.pcTgtName, h.iTgtFrom, h.iTgtTo, h.pcRepName, h.iRepFrom, h.iRepTo, dScore, dSim,
           dTranz, isDirect);
}

void ftStreamLong(std::ostream& os, const Hit& h, double dScore, double dSim, double dTranz,
                  bool isDirect, double p1, double p2) {
  print_ft(os, h.pcTgtName, h.iTgtFrom, h.iTgtTo, h.pcRepName, h.iRepFrom, h.iRepTo, dScore, dSim,
           dTranz, isDirect, p1, p2);
}

// ---------------------------------------------------------------------------
// co record
// ---------------------------------------------------------------------------

TEST(PrintCoFile, LayoutTable) {
  struct Case {
    Hit h;
    int iScore;
    std::string expected;
  } cases[] = {
      {kSmall, 42,
       "42   "
       " "
       "rep         "
       " "
       "      1"
       " > "
       "50     "
       " "
       "         tgt"
       " "
       "    100"
       " > "
       "200    "
       "\n"},
      {kWide, -123456,
       "-123456"
       " "
       "rep_name_longer"
       " "
       "1234567"
       " > "
       "123456789"
       " "
       "target_name_13"
       " "
       "12345678"
       " > "
       "-1     "
       "\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(coFile(c.h, c.iScore), c.expected);
}

TEST(PrintCoFile, FittingRecordPutsSignsInColumns28And59) {
  std::string line = coFile(kSmall, 42);
  ASSERT_EQ(line.size(), 68u);
  EXPECT_EQ(line[27], '>');
  EXPECT_EQ(line[58], '>');
}

TEST(PrintCoFile, NullNamesAreWrittenEmpty) {
  Hit h = {nullptr, 100, 200, nullptr, 1, 50};
  EXPECT_EQ(coFile(h, 42),
            "42   "
            " "
            "            "
            " "
            "      1"
            " > "
            "50     "
            " "
            "            "
            " "
            "    100"
            " > "
            "200    "
            "\n");
}

TEST(PrintCoStream, FreshStreamWritesEverythingLeftWithoutSigns) {
  struct Case {
    Hit h;
    int iScore;
    std::string expected;
  } cases[] = {
      {kSmall, 42,
       "42   "
       " "
       "rep         "
       " "
       "1      "
       "50     "
       "tgt         "
       " "
       "100    "
       "200    "
       "\n"},
      {kWide, -123456,
       "-123456"
       " "
       "rep_name_longer"
       " "
       "1234567"
       "123456789"
       "target_name_13"
       " "
       "12345678"
       "-1     "
       "\n"},
  };
  for (const Case& c : cases) {
    std::ostringstream os;
    coStream(os, c.h, c.iScore);
    EXPECT_EQ(os.str(), c.expected);
  }
}

TEST(PrintCoStream, LeavesLeftFlagSoASecondCallMatchesTheFirst) {
  std::ostringstream os;
  coStream(os, kSmall, 42);
  std::string first = os.str();
  EXPECT_EQ(os.flags() & std::ios::adjustfield, std::ios::left);
  EXPECT_EQ(os.width(), 0);
  coStream(os, kSmall, 42);
  EXPECT_EQ(os.str(), first + first);
}

TEST(PrintCoStream, RightFlagLeftBesideAddLeftPadsBefore) {
  std::ostringstream os;
  os << std::right;
  coStream(os, kSmall, 42);
  EXPECT_EQ(os.str(),
            "   42"
            " "
            "         rep"
            " "
            "      1"
            "     50"
            "         tgt"
            " "
            "    100"
            "    200"
            "\n");
}

TEST(PrintCoStream, NullNameMakesStreamBadAndStopsOutput) {
  std::ostringstream os;
  Hit h = {"tgt", 100, 200, nullptr, 1, 50};
  coStream(os, h, 42);
  EXPECT_TRUE(os.bad());
  EXPECT_EQ(os.str(),
            "42   "
            " ");
  // No width is left pending for the caller's next insertion.
  os.clear();
  os << "x";
  EXPECT_EQ(os.str(), "42    x");
}

// ---------------------------------------------------------------------------
// ft record, FILE* twins
// ---------------------------------------------------------------------------

const std::string kFtHeadSmallD =
    "tgt         "
    " "
    "    100"
    " "
    "200    "
    " "
    "         rep"
    " "
    "      1"
    " "
    "50     "
    " "
    "d"
    "   "
    "0.5000"
    " ";

TEST(PrintFtFile, TranzNotationTable) {
  struct Case {
    double dTranz;
    const char* pcTail;
  } cases[] = {
      {0.25, "0.25 "},   {0.1, "0.10 "},  {0.099, "9.90e-02"},     {-0.5, "-5.00e-01"},
      {0.0, "0.00e+00"}, {kNaN, "nan  "}, {12345.678, "12345.68"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pcTail);
    EXPECT_EQ(ftFile(kSmall, 1234.6, 0.5, c.dTranz, true),
              kFtHeadSmallD + c.pcTail + " " + "1235" + "\n");
    EXPECT_EQ(ftFileLong(kSmall, 1234.6, 0.5, c.dTranz, true, 12.5, 7.25),
              kFtHeadSmallD + c.pcTail + " " + "1235" + "\t12.500000\t7.250000\n");
  }
}

TEST(PrintFtFile, DirectionColumnAndSimilarityColumn) {
  std::string line = ftFile(kSmall, 10, 0.75, 0.5, false);
  EXPECT_EQ(line[58], 'c');
  EXPECT_EQ(line.substr(62, 6), "0.7500");
  EXPECT_EQ(ftFile(kSmall, 10, 0.75, 0.5, true)[58], 'd');
}

TEST(PrintFtFile, WideValuesWidenTheirFields) {
  std::string expected =
      "target_name_13"
      " "
      "12345678"
      " "
      "-1     "
      " "
      "rep_name_longer"
      " "
      "1234567"
      " "
      "123456789"
      " "
      "c"
      "   "
      "12.5000"
      " "
      "100.00"
      " ";
  EXPECT_EQ(ftFile(kWide, -7, 12.5, 100, false), expected + "-7\n");
  EXPECT_EQ(ftFileLong(kWide, -7, 12.5, 100, false, -1.5, 1e6),
            expected + "-7\t-1.500000\t1000000.000000\n");
}

TEST(PrintFtFile, NullNamesAreWrittenEmpty) {
  Hit h = {nullptr, 100, 200, nullptr, 1, 50};
  std::string line = ftFile(h, 1234.6, 0.5, 0.25, true);
  EXPECT_EQ(line, std::string(12, ' ') + " " + "    100" + " " + "200    " + " " +
                      std::string(12, ' ') + " " + "      1" + " " + "50     " + " " + "d" + "   " +
                      "0.5000" + " " + "0.25 " + " " + "1235\n");
}

// ---------------------------------------------------------------------------
// ft record, stream twins
// ---------------------------------------------------------------------------

const std::string kFtStreamHead =
    "tgt         "
    " "
    "    100"
    " "
    "200    "
    " "
    "rep         "
    " "
    "      1"
    " "
    "50     "
    " ";

TEST(PrintFtStream, ShortFormOnFreshStreamTable) {
  struct Case {
    double dScore, dSim, dTranz;
    bool isDirect;
    std::string tail;
  } cases[] = {
      // General notation: precision counts significant digits.
      {1234, 0.5, 0.25, true, "d   0.5   0.25  1e+03  \n"},
      {7, 0.5, 0.1, false, "c   0.5   0.1   7      \n"},
      {7, 0.5, 0.099, true, "d   0.5   0.099 7      \n"},
      {7, 0.123456, 0.0123456, true, "d   0.1235 0.01235 7      \n"},
      {7, 0.5, -0.5, true, "d   0.5   -0.5  7      \n"},
      {7, 0.5, kNaN, true, "d   0.5   nan   7      \n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tail);
    std::ostringstream os;
    ftStream(os, kSmall, c.dScore, c.dSim, c.dTranz, c.isDirect);
    EXPECT_EQ(os.str(), kFtStreamHead + c.tail);
  }
}

TEST(PrintFtStream, ShortFormWidensLongFields) {
  std::ostringstream os;
  ftStream(os, kWide, 7, 0.5, 0.25, false);
  EXPECT_EQ(os.str(),
            "target_name_13"
            " "
            "12345678"
            " "
            "-1     "
            " "
            "rep_name_longer"
            " "
            "1234567"
            " "
            "123456789"
            " "
            "c   0.5   0.25  7      \n");
}

TEST(PrintFtStream, ShortFormLeavesLeftAndPrecisionZero) {
  std::ostringstream os;
  ftStream(os, kSmall, 7, 0.5, 0.25, true);
  EXPECT_NE(os.flags() & std::ios::left, 0);
  EXPECT_EQ(os.precision(), 0);
  EXPECT_EQ(os.width(), 0);
  std::string first = os.str();
  ftStream(os, kSmall, 7, 0.5, 0.25, true);
  EXPECT_EQ(os.str(), first + first);
  os << 2.5;  // the precision 0 is inherited by the caller's insertions
  EXPECT_EQ(os.str(), first + first + "2");
}

TEST(PrintFtStream, LongFormOnFreshStream) {
  struct Case {
    double dTranz;
    std::string middle;
  } cases[] = {
      {0.25, "c   0.5   0.25  "},
      {0.099, "c   0.5   0.099 "},
      {kNaN, "c   0.5   nan   "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.middle);
    std::ostringstream os;
    ftStreamLong(os, kSmall, 1234, 0.5, c.dTranz, false, 12.5, 7.25);
    EXPECT_EQ(os.str(), kFtStreamHead + c.middle +
                            "   1234"
                            " "
                            "  12.50"
                            " "
                            "   7.25"
                            "\n");
  }
}

TEST(PrintFtStream, LongFormLeavesFixedRightPrecisionTwo) {
  std::ostringstream os;
  ftStreamLong(os, kSmall, 1234, 0.5, 0.25, false, 12.5, 7.25);
  EXPECT_EQ(os.flags() & std::ios::floatfield, std::ios::fixed);
  EXPECT_EQ(os.flags() & std::ios::adjustfield, std::ios::right);
  EXPECT_EQ(os.precision(), 2);
  EXPECT_EQ(os.width(), 0);

  // A second long record writes dSim with exactly 4 decimals.
  os.str("");
  ftStreamLong(os, kSmall, 1234, 0.5, 0.25, false, 12.5, 7.25);
  EXPECT_EQ(os.str(), kFtStreamHead +
                          "c   0.5000 0.25  "
                          "   1234"
                          " "
                          "  12.50"
                          " "
                          "   7.25"
                          "\n");
}

TEST(PrintFtStream, AfterLongFormTheOtherTwinsComeOutRightJustified) {
  std::ostringstream os;
  ftStreamLong(os, kSmall, 1234, 0.5, 0.25, false, 12.5, 7.25);
  os.str("");
  ftStream(os, kSmall, 1234, 0.5, 0.25, true);
  EXPECT_EQ(os.str(),
            "         tgt"
            " "
            "    100"
            " "
            "    200"
            " "
            "         rep"
            " "
            "      1"
            " "
            "     50"
            " "
            "d   0.5000  0.25    1234\n");

  std::ostringstream os2;
  ftStreamLong(os2, kSmall, 1234, 0.5, 0.25, false, 12.5, 7.25);
  os2.str("");
  coStream(os2, kSmall, 42);
  EXPECT_EQ(os2.str(),
            "   42"
            " "
            "         rep"
            " "
            "      1"
            "     50"
            "         tgt"
            " "
            "    100"
            "    200"
            "\n");
}

TEST(PrintFtStream, NullNameMakesStreamBadAndStopsOutput) {
  for (bool isLong : {false, true}) {
    std::ostringstream os;
    Hit h = {"tgt", 100, 200, nullptr, 1, 50};
    if (isLong)
      ftStreamLong(os, h, 1, 0.5, 0.25, true, 1, 2);
    else
      ftStream(os, h, 1, 0.5, 0.25, true);
    EXPECT_TRUE(os.bad());
    EXPECT_EQ(os.str(),
              "tgt         "
              " "
              "    100"
              " "
              "200    "
              " ");
  }
}

// ---------------------------------------------------------------------------
// Readers
// ---------------------------------------------------------------------------

struct CoFields {
  char sTgt[64] = "unset";
  char sRep[64] = "unset";
  long iTgtFrom = -99, iTgtTo = -99, iRepFrom = -99, iRepTo = -99;
  int iScore = -99;
  int read(std::string line) {
    return read_co(&line[0], sTgt, iTgtFrom, iTgtTo, sRep, iRepFrom, iRepTo, iScore);
  }
};

struct FtFields {
  char sTgt[64] = "unset";
  char sRep[64] = "unset";
  long iTgtFrom = -99, iTgtTo = -99, iRepFrom = -99, iRepTo = -99;
  double dScore = -99, dSim = -99, dTranz = -99;
  bool isDirect = true;
  int iScore = -99;
  int read(std::string line) {
    return read_ft(&line[0], sTgt, iTgtFrom, iTgtTo, sRep, iRepFrom, iRepTo, dScore, dSim, dTranz,
                   isDirect);
  }
  int readInt(std::string line) {
    return read_ft(&line[0], sTgt, iTgtFrom, iTgtTo, sRep, iRepFrom, iRepTo, iScore, dSim, dTranz);
  }
};

TEST(ReadCo, RoundTripsFileRecords) {
  for (const Hit& h : {kSmall, kWide}) {
    CoFields f;
    EXPECT_EQ(f.read(coFile(h, -123456)), 8);
    EXPECT_STREQ(f.sTgt, h.pcTgtName);
    EXPECT_STREQ(f.sRep, h.pcRepName);
    EXPECT_EQ(f.iTgtFrom, h.iTgtFrom);
    EXPECT_EQ(f.iTgtTo, h.iTgtTo);
    EXPECT_EQ(f.iRepFrom, h.iRepFrom);
    EXPECT_EQ(f.iRepTo, h.iRepTo);
    EXPECT_EQ(f.iScore, -123456);
  }
}

TEST(ReadCo, ShortScansKeepUnreachedOutputs) {
  CoFields f;
  EXPECT_EQ(f.read(""), -2);
  EXPECT_EQ(f.read("   \t "), -2);
  EXPECT_EQ(f.read("name 1 2"), -1);
  EXPECT_EQ(f.iScore, -99);
  EXPECT_EQ(f.read("5 rep"), 1);
  EXPECT_EQ(f.iScore, 5);
  EXPECT_STREQ(f.sRep, "rep");
  EXPECT_EQ(f.iRepFrom, -99);
  EXPECT_STREQ(f.sTgt, "unset");
}

TEST(ReadCo, SeparatorTokensAreBoundedToNineCharacters) {
  {
    CoFields f;  // nine characters fit
    EXPECT_EQ(f.read("5 rep 1 >>>>>>>>> 50 tgt 100 123456789 200"), 8);
    EXPECT_EQ(f.iTgtTo, 200);
  }
  {
    CoFields f;  // a longer first separator ends the scan before it
    EXPECT_EQ(f.read("5 rep 1 >>>>>>>>>>123 50 tgt 100 > 200"), 2);
    EXPECT_EQ(f.iRepFrom, 1);
    EXPECT_EQ(f.iRepTo, -99);
    EXPECT_STREQ(f.sTgt, "unset");
  }
  {
    CoFields f;  // a longer second separator likewise
    EXPECT_EQ(f.read("5 rep 1 > 50 tgt 100 a_very_long_token 200"), 6);
    EXPECT_EQ(f.iTgtFrom, 100);
    EXPECT_EQ(f.iTgtTo, -99);
  }
}

TEST(ReadFt, RoundTripsBothFileForms) {
  for (const Hit& h : {kSmall, kWide}) {
    for (bool isDirect : {true, false}) {
      for (bool isLong : {false, true}) {
        FtFields f;
        f.isDirect = !isDirect;
        std::string line = isLong ? ftFileLong(h, 250, 0.75, 0.05, isDirect, 33.5, 44.5)
                                  : ftFile(h, 250, 0.75, 0.05, isDirect);
        EXPECT_EQ(f.read(line), 9) << line;
        EXPECT_STREQ(f.sTgt, h.pcTgtName);
        EXPECT_STREQ(f.sRep, h.pcRepName);
        EXPECT_EQ(f.iTgtFrom, h.iTgtFrom);
        EXPECT_EQ(f.iTgtTo, h.iTgtTo);
        EXPECT_EQ(f.iRepFrom, h.iRepFrom);
        EXPECT_EQ(f.iRepTo, h.iRepTo);
        EXPECT_EQ(f.isDirect, isDirect);
        EXPECT_DOUBLE_EQ(f.dSim, 0.75);
        EXPECT_DOUBLE_EQ(f.dTranz, 0.05);
        EXPECT_DOUBLE_EQ(f.dScore, 250);
      }
    }
  }
}

TEST(ReadFt, ReadsStreamForms) {
  std::ostringstream os;
  ftStream(os, kWide, 7, 0.5, 0.25, false);
  ftStreamLong(os, kWide, 7, 0.5, 0.25, true, 1, 2);
  std::istringstream lines(os.str());
  std::string line;
  bool expectDirect = false;
  while (std::getline(lines, line)) {
    FtFields f;
    EXPECT_EQ(f.read(line), 9) << line;
    EXPECT_STREQ(f.sRep, "rep_name_longer");
    EXPECT_EQ(f.iRepTo, 123456789);
    EXPECT_EQ(f.isDirect, expectDirect);
    EXPECT_DOUBLE_EQ(f.dScore, 7);
    expectDirect = true;
  }
}

TEST(ReadFt, FractionalPositionsAndScoreAreTruncated) {
  FtFields f;
  EXPECT_EQ(f.readInt("t 12.9 -3.7 r 1e2 -0.5 d 0.5 0.25 250.8"), 9);
  EXPECT_EQ(f.iTgtFrom, 12);
  EXPECT_EQ(f.iTgtTo, -3);
  EXPECT_EQ(f.iRepFrom, 100);
  EXPECT_EQ(f.iRepTo, 0);
  EXPECT_EQ(f.iScore, 250);
  EXPECT_STREQ(f.sRep, "r@1");
}

TEST(ReadFt, IntegerScoreFormDirectionSuffix) {
  struct Case {
    const char* pcLine;
    int iResult;
    const char* pcRep;
  } cases[] = {
      {"t 1 2 r 3 4 d 0.5 0.25 10", 9, "r@1"},
      {"t 1 2 r 3 4 c 0.5 0.25 10\t1.0\t2.0", 9, "r@2"},
      {"t 1 2 r 3 4 x 0.5 0.25 10", 0, "r"},
      {"t 1 2 r 3 4 c 0.5", 7, "r@2"},
      // The scan stopped before the direction: nothing to append.
      {"t 1 2 r 3", 4, "r"},
      {"t 1 2 r 3 4", 5, "r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pcLine);
    FtFields f;
    EXPECT_EQ(f.readInt(c.pcLine), c.iResult);
    EXPECT_STREQ(f.sRep, c.pcRep);
  }
}

TEST(ReadFt, ShortScansKeepUnreachedOutputs) {
  FtFields f;
  EXPECT_EQ(f.read(""), -2);
  EXPECT_EQ(f.readInt(" \n"), -2);
  EXPECT_EQ(f.read("t 1 2 r 3"), 4);
  EXPECT_EQ(f.iRepFrom, 3);
  EXPECT_EQ(f.iRepTo, -99);
  EXPECT_TRUE(f.isDirect);  // direction not reached
  EXPECT_EQ(f.read("t 1 2 r 3 4 c 0.5 0.25"), 8);
  EXPECT_FALSE(f.isDirect);
  EXPECT_DOUBLE_EQ(f.dTranz, 0.25);
  EXPECT_DOUBLE_EQ(f.dScore, -99);
  EXPECT_EQ(f.readInt("t 1 2 r 3 4 d 0.5 0.25"), 8);
  EXPECT_EQ(f.iScore, -99);
  EXPECT_EQ(f.read("t 1 2 r 3 4 q 0.5 0.25 1"), 9);
  EXPECT_FALSE(f.isDirect);  // anything but d is complementary
}

TEST(ReadFt, OutOfRangeValuesSaturate) {
  FtFields f;
  EXPECT_EQ(f.readInt("t 1e300 -1e300 r nan 4 d 0.5 0.25 1e20"), 9);
  EXPECT_EQ(f.iTgtFrom, std::numeric_limits<long>::max());
  EXPECT_EQ(f.iTgtTo, std::numeric_limits<long>::min());
  EXPECT_EQ(f.iRepFrom, 0);
  EXPECT_EQ(f.iScore, std::numeric_limits<int>::max());
}

}  // namespace

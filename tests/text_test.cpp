// SPDX-License-Identifier: MIT
// Text helpers: in-place edits, tests on text, column search, uirand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "lib/functions.h"

namespace {

// A writable copy of `text` with guard bytes on both sides, so that a helper
// that writes before the start or past the terminating null is caught.
class Buffer {
 public:
  explicit Buffer(const std::string& text) : bytes_(text.size() + 1 + 2 * kGuard, kFill) {
    text.copy(&bytes_[kGuard], text.size());
    bytes_[kGuard + text.size()] = '\0';
  }
  char* get() { return &bytes_[kGuard]; }
  std::string text() const { return std::string(&bytes_[kGuard]); }
  bool guardsIntact(size_t iOrigLen) const {
    for (size_t i = 0; i < kGuard; ++i) {
      if (bytes_[i] != kFill || bytes_[kGuard + iOrigLen + 1 + i] != kFill) return false;
    }
    return true;
  }

 private:
  static constexpr size_t kGuard = 8;
  static constexpr char kFill = '#';
  std::vector<char> bytes_;
};

struct SqueezeCase {
  std::string in;
  char cSqz;  // '\0': the overload that drops non-graphic characters
  std::string out;
};

TEST(Squeeze, Table) {
  const std::vector<SqueezeCase> cases = {
      {"  a  b  ", ' ', "a b "},
      {"   ", ' ', ""},
      {"abc", ' ', "abc"},
      {"", ' ', ""},
      {"a", ' ', "a"},
      {"a   ", ' ', "a "},
      {"--a-b--c", '-', "a-b-c"},
      {"a  b", 'x', "a  b"},
      {" a b\tc ", '\0', "abc"},
      {"abc", '\0', "abc"},
      {" ", '\0', ""},
      {"", '\0', ""},
      {"\r\na\x01\x7f"
       "b\xc3\xa9",
       '\0', "ab"},  // control and bytes above 127
  };
  for (const SqueezeCase& c : cases) {
    Buffer buf(c.in);
    char* pcEnd = c.cSqz ? squeeze(buf.get(), c.cSqz) : squeeze(buf.get());
    EXPECT_EQ(buf.text(), c.out) << "input [" << c.in << "] cSqz " << int(c.cSqz);
    EXPECT_EQ(pcEnd, buf.get() + c.out.size()) << "input [" << c.in << "]";
    EXPECT_EQ(*pcEnd, '\0');
    EXPECT_TRUE(buf.guardsIntact(c.in.size()));
  }
}

TEST(StartsWith, Table) {
  struct Case {
    const char* line;
    const char* pattern;
    bool expected;
  };
  const Case cases[] = {
      {"abc", "ab", true},  {"abc", "abc", true}, {"abc", "", true},    {"", "", true},
      {"ab", "abc", false}, {"", "a", false},     {"Abc", "ab", false}, {"abc", "b", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(starts_with(c.line, c.pattern), c.expected) << c.line << " / " << c.pattern;
  }
}

TEST(ConvertEsc, Table) {
  struct Case {
    std::string in;
    char expected;
  };
  const Case cases[] = {
      {"\\a", '\a'}, {"\\b", '\b'}, {"\\f", '\f'}, {"\\n", '\n'},  {"\\r", '\r'},
      {"\\t", '\t'}, {"\\v", '\v'}, {"\\q", 'q'},  {"\\\\", '\\'}, {"\\0", '0'},
      {"\\x", 'x'},  {"x\\n", 'x'}, {"\\", '\0'},  {"", '\0'},
  };
  for (const Case& c : cases) {
    Buffer buf(c.in);
    EXPECT_EQ(convert_esc(buf.get()), c.expected) << "[" << c.in << "]";
    EXPECT_EQ(buf.text(), c.in) << "the line is not changed";
  }
}

TEST(ConvertLine, Table) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"a\\tb\\\\c", std::string("a\tb\\c")},
      {"\\x41", "x41"},
      {"plain text", "plain text"},
      {"ab\\", "ab"},
      {"\\", ""},
      {"", ""},
      {"\\n\\r", "\n\r"},
      {"\\\\n", "\\n"},
  };
  for (const Case& c : cases) {
    Buffer buf(c.in);
    EXPECT_EQ(convertline(buf.get()), buf.get());
    EXPECT_EQ(buf.text(), c.out) << "[" << c.in << "]";
    EXPECT_TRUE(buf.guardsIntact(c.in.size())) << "[" << c.in << "]";
  }
}

TEST(Transpose, ComplementsDnaLettersOnly) {
  const std::string sFrom = "ACGTacgt";
  const std::string sTo = "TGCAtgca";
  for (size_t i = 0; i < sFrom.size(); ++i) EXPECT_EQ(transpose(sFrom[i]), sTo[i]);
  for (char c : std::string("NnUuRrYy-*. \n\0", 15)) EXPECT_EQ(transpose(c), c) << int(c);
  EXPECT_EQ(transpose('\xc1'), '\xc1');
}

TEST(ToUpper, CharBuffer) {
  Buffer buf("acgt-n1z\xe9");
  EXPECT_EQ(toUpper(buf.get()), buf.get());
  EXPECT_EQ(buf.text(), "ACGT-N1Z\xe9");  // bytes above 127 stay as they are
  EXPECT_EQ(toUpper(static_cast<char*>(nullptr)), nullptr);
}

TEST(ToUpper, StringGoesPastEmbeddedNull) {
  std::string s("ab\0cd", 5);
  std::string& r = toUpper(s);
  EXPECT_EQ(&r, &s);
  EXPECT_EQ(s, std::string("AB\0CD", 5));
}

TEST(IsEmpty, Table) {
  struct Case {
    std::string in;
    bool expected;
  };
  const Case cases[] = {
      {"", true},         {" ", true},   {"\t\n", true}, {"\r\x01\x7f", true},
      {"\xa0\xff", true}, {" x", false}, {"x", false},   {"\n\n-", false},
  };
  for (const Case& c : cases) {
    Buffer buf(c.in);
    EXPECT_EQ(isEmpty(buf.get()), c.expected) << "[" << c.in << "]";
  }
}

TEST(GetColumn, Table) {
  struct Case {
    const char* line;
    int num;
    size_t offset;  // expected position, counted from the start of the line
  };
  const char* abc = "a b c";
  const char* lead = "  a b";
  const char* twoLines = "a\nb c";
  const char* tabs = "one\t\ttwo  three";
  const Case cases[] = {
      {abc, -5, 0},
      {abc, 0, 0},
      {abc, 1, 0},
      {abc, 2, 1},
      {abc, 3, 3},
      {abc, 4, 5},
      {abc, 5, 5},
      {abc, 1000000000, 5},
      {lead, 1, 0},
      {lead, 2, 3},
      {twoLines, 2, 1},
      {twoLines, 3, 1},
      {twoLines, 2147483647, 1},
      {tabs, 2, 3},
      {tabs, 3, 8},
      {"", 2, 0},
      {"\n", 2, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(getColumn(c.line, c.num), c.line + c.offset) << "[" << c.line << "] " << c.num;
  }
}

TEST(Uirand, StaysInRange) {
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(uirand(0), 0);
  bool isSeen[11] = {};
  for (int i = 0; i < 20000; ++i) {
    int r = uirand(10);
    ASSERT_GE(r, 0);
    ASSERT_LE(r, 10);
    isSeen[r] = true;
  }
  for (int v = 0; v <= 10; ++v) EXPECT_TRUE(isSeen[v]) << v;
  for (int i = 0; i < 1000; ++i) {
    int r = uirand(1);
    EXPECT_TRUE(r == 0 || r == 1);
  }
  for (int i = 0; i < 1000; ++i) EXPECT_GE(uirand(2147483647u), 0);
}

// Each result is the draw of rand() scaled onto 0..maxval and rounded to the
// nearest integer, halves up (so not truncated: uirand(1) gives 1 for the
// upper half of the draws).
TEST(Uirand, ScalesAndRoundsTheDraw) {
  for (unsigned int iMax : {1u, 7u, 1000u, 2147483647u}) {
    std::srand(12345);
    std::vector<int> draws;
    for (int i = 0; i < 200; ++i) draws.push_back(std::rand());
    std::srand(12345);
    for (int r : draws) {
      long iExpected = std::lround(static_cast<double>(r) * iMax / RAND_MAX);
      EXPECT_EQ(uirand(iMax), iExpected) << "r=" << r << " maxval=" << iMax;
    }
  }
}

TEST(Uirand, DrawsOnceAndNeverSeeds) {
  std::srand(777);
  std::rand();
  int iSecond = std::rand();
  std::srand(777);
  uirand(5);
  EXPECT_EQ(std::rand(), iSecond);
}

}  // namespace

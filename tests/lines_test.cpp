// SPDX-License-Identifier: MIT
// Line readers: the stdio and iostream readline twins and getline.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "lib/functions.h"
#include "test_util.h"

namespace {

// A stdio stream positioned at the start of `data`.
FILE* streamOf(const std::string& data) {
  FILE* F = testutil::tempFile();
  std::fwrite(data.data(), 1, data.size(), F);
  std::rewind(F);
  return F;
}

struct Read {
  int result;
  std::string text;  // the buffer's text, when result is 0
};

// Reads until the reader returns 1 (or a safety limit), with `size` 8.
std::vector<Read> readAllStdio(const std::string& data, unsigned long size = 8) {
  FILE* F = streamOf(data);
  std::vector<Read> reads;
  std::vector<char> buff(size + 1, '#');
  for (int i = 0; i < 20; ++i) {
    int r = readline(buff.data(), size, F);
    reads.push_back({r, r == 0 ? std::string(buff.data()) : ""});
    if (r != 0) break;
  }
  std::fclose(F);
  return reads;
}

std::vector<Read> readAllStream(const std::string& data, unsigned long size = 8) {
  std::istringstream in(data);
  std::vector<Read> reads;
  std::vector<char> buff(size + 1, '#');
  for (int i = 0; i < 20; ++i) {
    int r = readline(buff.data(), size, &in);
    reads.push_back({r, r == 0 ? std::string(buff.data()) : ""});
    if (r != 0) break;
  }
  return reads;
}

bool operator==(const Read& a, const Read& b) { return a.result == b.result && a.text == b.text; }

std::ostream& operator<<(std::ostream& os, const Read& r) {
  return os << "{" << r.result << ", [" << r.text << "]}";
}

// Inputs on which both twins agree.
TEST(Readline, SameForBothTwins) {
  struct Case {
    std::string input;
    std::vector<Read> reads;
  };
  const std::vector<Case> cases = {
      {"abc\n", {{0, "abc"}, {1, ""}}},
      {"", {{1, ""}}},
      {"\n", {{0, ""}, {1, ""}}},
      {"\n\nx\n", {{0, ""}, {0, ""}, {0, "x"}, {1, ""}}},
      {"xyz", {{0, "xyz"}, {1, ""}}},
      {"ab\r\ncd\r\n", {{0, "ab\r"}, {0, "cd\r"}, {1, ""}}},
      {"123456\n", {{0, "123456"}, {1, ""}}},  // size - 2 characters
  };
  for (const Case& c : cases) {
    EXPECT_EQ(readAllStdio(c.input), c.reads) << "stdio, input [" << c.input << "]";
    EXPECT_EQ(readAllStream(c.input), c.reads) << "iostream, input [" << c.input << "]";
  }
}

TEST(Readline, StdioDeliversLongLinesInPieces) {
  const std::vector<Read> tenChars = {{0, "abcdefg"}, {0, "hij"}, {1, ""}};
  EXPECT_EQ(readAllStdio("abcdefghij\n"), tenChars);
  const std::vector<Read> exactFit = {{0, "abcdefg"}, {0, ""}, {0, "next"}, {1, ""}};
  EXPECT_EQ(readAllStdio("abcdefg\nnext\n"), exactFit);
  const std::vector<Read> longLast = {{0, "abcdefg"}, {0, "h"}, {1, ""}};
  EXPECT_EQ(readAllStdio("abcdefgh"), longLast);
}

TEST(Readline, StreamFailsOnLongLinesUntilCleared) {
  std::istringstream in("abcdefghij\nnext\n");
  char buff[8];
  EXPECT_EQ(readline(buff, sizeof buff, &in), 1);
  EXPECT_STREQ(buff, "abcdefg");
  EXPECT_EQ(readline(buff, sizeof buff, &in), 1);
  in.clear();
  EXPECT_EQ(readline(buff, sizeof buff, &in), 0);  // the rest of the long line
  EXPECT_STREQ(buff, "hij");
  EXPECT_EQ(readline(buff, sizeof buff, &in), 0);
  EXPECT_STREQ(buff, "next");
}

TEST(Readline, StreamConsumesTheNewlineOfAnExactFit) {
  const std::vector<Read> exactFit = {{0, "abcdefg"}, {0, "next"}, {1, ""}};
  EXPECT_EQ(readAllStream("abcdefg\nnext\n"), exactFit);
}

TEST(Readline, StdioSizeBelowTwoReadsNothing) {
  FILE* F = streamOf("abc\n");
  char buff[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(readline(buff, 1, F), 1);
  EXPECT_EQ(readline(buff, 0, F), 1);
  EXPECT_EQ(buff[0], '#');
  EXPECT_EQ(readline(buff, sizeof buff, F), 0);  // the stream was left alone
  EXPECT_STREQ(buff, "abc");
  std::fclose(F);
}

// A read whose text is empty because a NUL came first: the byte before the
// buffer is never touched and the buffer stays as read.
TEST(Readline, StdioNulFirstLeavesBufferAsRead) {
  FILE* F = streamOf(std::string("\0ab\nxy\n", 7));
  char area[16];
  std::memset(area, '#', sizeof area);
  area[0] = '\n';  // a reader that stripped "the last character" would hit it
  char* buff = area + 1;
  EXPECT_EQ(readline(buff, 8, F), 0);
  EXPECT_EQ(area[0], '\n');
  EXPECT_EQ(std::memcmp(buff, "\0ab\n\0", 5), 0);
  EXPECT_EQ(readline(buff, 8, F), 0);
  EXPECT_STREQ(buff, "xy");
  std::fclose(F);
}

struct GetlineRead {
  int result;
  std::string s;
};

std::vector<GetlineRead> getlineAll(const std::string& data) {
  FILE* F = streamOf(data);
  std::vector<GetlineRead> reads;
  std::string s = "stale";
  for (int i = 0; i < 20; ++i) {
    int r = getline(F, s);
    reads.push_back({r, s});
    if (r == 0) break;
  }
  std::fclose(F);
  return reads;
}

bool operator==(const GetlineRead& a, const GetlineRead& b) {
  return a.result == b.result && a.s == b.s;
}

std::ostream& operator<<(std::ostream& os, const GetlineRead& r) {
  return os << "{" << r.result << ", " << r.s.size() << " chars}";
}

TEST(Getline, Table) {
  const std::string s1023(1023, 'q');
  const std::string s1024(1024, 'r');
  const std::string s3000 =
      std::string(1000, 'a') + std::string(1000, 'b') + std::string(1000, 'c');
  struct Case {
    std::string input;
    std::vector<GetlineRead> reads;
  };
  const std::vector<Case> cases = {
      {"", {{0, ""}}},
      {"\n", {{1, ""}, {0, ""}}},
      {"abc\n", {{1, "abc"}, {0, ""}}},
      {"xyz", {{3, "xyz"}, {0, ""}}},
      {"ab\r\n", {{1, "ab\r"}, {0, ""}}},
      {s3000 + "\nnext\n", {{1, s3000}, {1, "next"}, {0, ""}}},
      {s1023 + "\n", {{1, s1023}, {0, ""}}},
      {s1024 + "\n", {{1, s1024}, {0, ""}}},
      {s3000, {{3000, s3000}, {0, ""}}},
      {"one\n" + s1023, {{1, "one"}, {1023, s1023}, {0, ""}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(getlineAll(c.input), c.reads) << "input of " << c.input.size() << " chars";
  }
}

// NUL bytes do not hide the line end behind them, and they arrive in the
// string like any other byte.
TEST(Getline, KeepsNulBytesAndFindsTheLineEnd) {
  const std::string sNul("\0ab\0", 4);
  const std::string sEdge = std::string(1021, 'z') + std::string("\0", 1);
  const std::vector<GetlineRead> expected = {
      {1, sNul}, {1, "xy"}, {1, sEdge}, {2, std::string("\0\0", 2)}, {0, ""}};
  EXPECT_EQ(getlineAll(sNul + "\nxy\n" + sEdge + "\n" + std::string("\0\0", 2)), expected);
}

}  // namespace

// SPDX-License-Identifier: MIT
// File helpers: the openers, exist, findInPath, fcopy, fmove and error.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "lib/functions.h"
#include "test_util.h"

namespace {

using testutil::readFile;
using testutil::StderrCapture;
using testutil::TempDir;
using testutil::writeFile;

// The library takes mutable names; a std::string lends its buffer.
char* cs(std::string& s) { return s.data(); }

struct CopyRun {
  int result;
  std::string err;
};

CopyRun copy(std::string sSrc, std::string sDst) {
  StderrCapture cap;
  int r = fcopy(cs(sSrc), cs(sDst));
  return {r, cap.text()};
}

CopyRun move(std::string sSrc, std::string sDst) {
  StderrCapture cap;
  int r = fmove(cs(sSrc), cs(sDst));
  return {r, cap.text()};
}

#ifdef _WIN32
// ---------------------------------------------------------------------------
// What the helpers do on Windows, where POSIX's meaning does not carry over:
// the list of folders is split at ';', the same file is found through a
// hard link and other spellings of its name, and names are UTF-8.

TEST(OnWindows, FindInPathSplitsAtSemicolons) {
  TempDir tmp;
  namespace fs = std::filesystem;
  fs::create_directory(tmp.file("a"));
  fs::create_directory(tmp.file("b"));
  ASSERT_TRUE(writeFile(tmp.file("b/x.dat"), "b"));
  std::string list = tmp.file("a") + ";" + tmp.file("b"), name = "x.dat";
  char* found = findInPath(cs(list), cs(name));
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(std::string(found), tmp.file("b") + "/x.dat");
}

TEST(OnWindows, SameFileThroughOtherNamesIsRefused) {
  TempDir tmp;
  const std::string sSrc = tmp.file("src.txt"), sData = "precious\r\ndata\n";
  ASSERT_TRUE(writeFile(sSrc, sData));
  std::filesystem::create_hard_link(sSrc, tmp.file("hard.txt"));
  std::string upper = tmp.path() + "/SRC.TXT", backslashed = tmp.path() + "\\src.txt";
  for (const std::string& dst : {tmp.file("hard.txt"), upper, backslashed}) {
    CopyRun r = copy(sSrc, dst);
    EXPECT_EQ(r.result, -1) << dst;
    EXPECT_EQ(r.err, "Cannot copy file " + sSrc + " onto itself\n");
    EXPECT_EQ(readFile(sSrc), sData);
  }
}

TEST(OnWindows, Utf8NamesAndBytesAsTheyAre) {
  TempDir tmp;
  const std::string sSrc = tmp.file(
      "entr\xc3\xa9"
      "e \xc3\xbc.txt");
  const std::string sDst = tmp.file("r\xc3\xa9sum\xc3\xa9.txt");
  const std::string sData =
      "a\r\nb\x1a"
      "c\n";
  FILE* F = openofilename(sSrc.c_str());
  ASSERT_NE(F, nullptr);
  std::fwrite(sData.data(), 1, sData.size(), F);
  std::fclose(F);
  std::string src = sSrc;
  EXPECT_TRUE(exist(cs(src)));
  CopyRun r = move(sSrc, sDst);
  EXPECT_EQ(r.result, 0) << r.err;
  EXPECT_FALSE(exist(cs(src)));
  F = openifilename(sDst.c_str());
  ASSERT_NE(F, nullptr);
  EXPECT_EQ(testutil::drain(F), sData);
  std::fclose(F);
}
#else

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Open file descriptors of this process, to show that nothing is left open.
size_t openFds() { return testutil::entriesOf("/proc/self/fd").size(); }

// Permission bits do not stop root, so tests that rely on them are skipped.
bool isRoot() { return geteuid() == 0; }

// ---------------------------------------------------------------------------
// Openers

TEST(Openers, NullNameGivesNullSilently) {
  StderrCapture cap;
  EXPECT_EQ(openifilename(nullptr), nullptr);
  EXPECT_EQ(openofilename(nullptr), nullptr);
  EXPECT_EQ(openifs(nullptr), nullptr);
  EXPECT_EQ(openofs(nullptr), nullptr);
  EXPECT_EQ(cap.text(), "");
}

TEST(Openers, FailureMessagesAreExact) {
  TempDir tmp;
  const std::string sMissing = tmp.file("missing.txt");
  const std::string sNoDir = tmp.file("no/such/dir/out.txt");
  struct Case {
    const char* what;
    bool (*open)(const char*);
    std::string name;
    std::string message;
  };
  const Case cases[] = {
      {"openifilename", [](const char* n) { return openifilename(n) != nullptr; }, sMissing,
       "Failed to open " + sMissing + " for reading\n"},
      {"openifs", [](const char* n) { return openifs(n) != nullptr; }, sMissing,
       "Failed to open " + sMissing + " for reading\n"},
      {"openofilename", [](const char* n) { return openofilename(n) != nullptr; }, sNoDir,
       "Failed to open " + sNoDir + " for writing\n"},
      {"openofs", [](const char* n) { return openofs(n) != nullptr; }, sNoDir,
       "Failed to open " + sNoDir + " for writing\n"},
      {"openofilename on a directory", [](const char* n) { return openofilename(n) != nullptr; },
       tmp.path(), "Failed to open " + tmp.path() + " for writing\n"},
  };
  for (const Case& c : cases) {
    StderrCapture cap;
    EXPECT_FALSE(c.open(c.name.c_str())) << c.what;
    EXPECT_EQ(cap.text(), c.message) << c.what;
  }
  EXPECT_FALSE(exists(sMissing));
}

TEST(Openers, UnreadableFile) {
  if (isRoot()) GTEST_SKIP() << "root reads files without read permission";
  TempDir tmp;
  const std::string sName = tmp.file("secret");
  ASSERT_TRUE(writeFile(sName, "x\n"));
  chmod(sName.c_str(), 0200);
  StderrCapture cap;
  EXPECT_EQ(openifilename(sName.c_str()), nullptr);
  EXPECT_EQ(openifs(sName.c_str()), nullptr);
  EXPECT_EQ(cap.text(),
            "Failed to open " + sName + " for reading\nFailed to open " + sName + " for reading\n");
}

TEST(Openers, ReadOpenedFiles) {
  TempDir tmp;
  const std::string sName = tmp.file("in.txt");
  ASSERT_TRUE(writeFile(sName, "line one\n"));
  FILE* F = openifilename(sName.c_str());
  ASSERT_NE(F, nullptr);
  EXPECT_EQ(testutil::drain(F), "line one\n");
  std::fclose(F);
  std::ifstream* pIn = openifs(sName.c_str());
  ASSERT_NE(pIn, nullptr);
  std::string s;
  std::getline(*pIn, s);
  EXPECT_EQ(s, "line one");
  delete pIn;
}

TEST(Openers, WritersCreateAndEmpty) {
  TempDir tmp;
  const std::string sOld = tmp.file("old.txt"), sNew = tmp.file("new.txt");
  ASSERT_TRUE(writeFile(sOld, "previous contents\n"));
  FILE* F = openofilename(sOld.c_str());
  ASSERT_NE(F, nullptr);
  std::fclose(F);
  EXPECT_EQ(readFile(sOld), "");
  F = openofilename(sNew.c_str());
  ASSERT_NE(F, nullptr);
  std::fputs("stdio\n", F);
  std::fclose(F);
  EXPECT_EQ(readFile(sNew), "stdio\n");

  ASSERT_TRUE(writeFile(sOld, "previous contents\n"));
  std::ofstream* pOut = openofs(sOld.c_str());
  ASSERT_NE(pOut, nullptr);
  *pOut << "streamed\n";
  delete pOut;
  EXPECT_EQ(readFile(sOld), "streamed\n");
  const std::string sNew2 = tmp.file("new2.txt");
  pOut = openofs(sNew2.c_str());
  ASSERT_NE(pOut, nullptr);
  delete pOut;
  EXPECT_TRUE(exists(sNew2));
}

// ---------------------------------------------------------------------------
// exist

TEST(Exist, ReadableMissingAndNoStreamLeft) {
  TempDir tmp;
  std::string sFile = tmp.file("f"), sMissing = tmp.file("m");
  ASSERT_TRUE(writeFile(sFile, ""));
  StderrCapture cap;
  size_t iFds = openFds();
  EXPECT_TRUE(exist(cs(sFile)));
  EXPECT_FALSE(exist(cs(sMissing)));
  EXPECT_EQ(openFds(), iFds);
  EXPECT_EQ(cap.text(), "");
}

TEST(Exist, UnreadableCountsAsAbsent) {
  if (isRoot()) GTEST_SKIP() << "root reads files without read permission";
  TempDir tmp;
  std::string sFile = tmp.file("f");
  ASSERT_TRUE(writeFile(sFile, "x"));
  chmod(sFile.c_str(), 0);
  EXPECT_FALSE(exist(cs(sFile)));
}

// ---------------------------------------------------------------------------
// findInPath

class FindInPath : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(tmp.file("a").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(tmp.file("b").c_str(), 0755), 0);
    ASSERT_TRUE(writeFile(tmp.file("b/x.dat"), "b"));
  }
  std::string find(std::string sList, std::string sName) {
    char* pc = findInPath(sList.empty() ? nullptr : cs(sList), cs(sName));
    return pc ? std::string(pc) : std::string("(null)");
  }
  TempDir tmp;
};

TEST_F(FindInPath, FirstDirectoryHoldingTheFileWins) {
  const std::string a = tmp.file("a"), b = tmp.file("b");
  EXPECT_EQ(find(a + ":" + b, "x.dat"), b + "/x.dat");
  ASSERT_TRUE(writeFile(tmp.file("a/x.dat"), "a"));
  EXPECT_EQ(find(a + ":" + b, "x.dat"), a + "/x.dat");
  EXPECT_EQ(find(b + "/", "x.dat"), b + "//x.dat");  // the "/" is always inserted
  EXPECT_EQ(find(a + "::" + b, "nothing"), "(null)");
}

TEST_F(FindInPath, EmptyElementsAndTrailingColon) {
  ASSERT_EQ(tmp.path()[0], '/');
  // The file named relative to the root: only the empty element finds it.
  const std::string sRel = tmp.path().substr(1) + "/b/x.dat";
  const std::string a = tmp.file("a");
  EXPECT_EQ(find(":" + a, sRel), "/" + sRel);
  EXPECT_EQ(find(a + "::" + a, sRel), "/" + sRel);
  EXPECT_EQ(find(a + ":", sRel), "(null)");  // a trailing ":" adds no candidate
  EXPECT_EQ(find(a, sRel), "(null)");
}

TEST_F(FindInPath, EmptyOrNullListGivesNull) {
  std::string sName = "x.dat", sEmpty;
  EXPECT_EQ(findInPath(nullptr, cs(sName)), nullptr);
  EXPECT_EQ(findInPath(cs(sEmpty), cs(sName)), nullptr);
}

TEST_F(FindInPath, OneStaticBufferReusedByEveryCall) {
  std::string sList = tmp.file("b"), sName = "x.dat", sOther = "other";
  size_t iFds = openFds();
  char* pcFirst = findInPath(cs(sList), cs(sName));
  ASSERT_NE(pcFirst, nullptr);
  EXPECT_EQ(std::string(pcFirst), tmp.file("b/x.dat"));
  EXPECT_EQ(findInPath(cs(sList), cs(sOther)), nullptr);
  EXPECT_EQ(std::string(pcFirst), tmp.file("b/other"));  // the last candidate tried
  EXPECT_EQ(findInPath(cs(sList), cs(sName)), pcFirst);
  EXPECT_EQ(openFds(), iFds);
}

// A candidate may have at most 255 characters; a longer one is skipped and
// the search goes on with the next directory.
TEST_F(FindInPath, CandidatesLongerThan255AreSkipped) {
  // A directory whose path leaves room for names of 250 - length characters.
  std::string sDir = tmp.path();
  while (sDir.size() < 200) {
    sDir += "/dddddddddddddddddddd";
    ASSERT_EQ(mkdir(sDir.c_str(), 0755), 0);
  }
  const size_t iFit = 255 - sDir.size() - 1;  // name length giving 255 characters
  const std::string sFits(iFit, 'f'), sTooLong(iFit + 1, 'g');
  ASSERT_TRUE(writeFile(sDir + "/" + sFits, ""));
  ASSERT_TRUE(writeFile(sDir + "/" + sTooLong, ""));
  ASSERT_TRUE(writeFile(tmp.file("b/" + sTooLong), ""));
  EXPECT_EQ(find(sDir, sFits), sDir + "/" + sFits);
  EXPECT_EQ(find(sDir, sTooLong), "(null)");
  EXPECT_EQ(find(sDir + ":" + tmp.file("b"), sTooLong), tmp.file("b/" + sTooLong));
  EXPECT_EQ(find(std::string(400, 'z') + ":" + tmp.file("b"), "x.dat"), tmp.file("b/x.dat"));
}

// ---------------------------------------------------------------------------
// fcopy and fmove

TEST(Fcopy, CopiesByteForByte) {
  TempDir tmp;
  std::string sAllBytes;
  for (int i = 0; i < 256; ++i) sAllBytes += static_cast<char>(i);
  const std::string contents[] = {
      "",
      std::string(3000, 'L') + "\nlast line without a line end",
      "crlf\r\nlines\r\n",
      std::string("nul\0inside\nand\0\0after\n", 22),
      sAllBytes + sAllBytes,
      std::string(1023, 'x') + "\n" + std::string(1024, 'y'),
      std::string(100000, 'z'),
  };
  const std::string sSrc = tmp.file("src"), sDst = tmp.file("dst");
  for (const std::string& c : contents) {
    ASSERT_TRUE(writeFile(sSrc, c));
    size_t iFds = openFds();
    CopyRun r = copy(sSrc, sDst);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(readFile(sDst) == c) << "contents of " << c.size() << " bytes";
    EXPECT_EQ(readFile(sSrc), c);
    EXPECT_EQ(openFds(), iFds);
  }
}

TEST(Fcopy, OverwritesAnExistingDestination) {
  TempDir tmp;
  ASSERT_TRUE(writeFile(tmp.file("src"), "new\n"));
  ASSERT_TRUE(writeFile(tmp.file("dst"), "a much longer old text\n"));
  EXPECT_EQ(copy(tmp.file("src"), tmp.file("dst")).result, 0);
  EXPECT_EQ(readFile(tmp.file("dst")), "new\n");
}

TEST(Fcopy, MissingSourceTouchesNothing) {
  TempDir tmp;
  const std::string sSrc = tmp.file("missing"), sDst = tmp.file("dst");
  size_t iFds = openFds();
  CopyRun r = copy(sSrc, sDst);
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.err, "Cannot open file " + sSrc + " for reading\n");
  EXPECT_FALSE(exists(sDst));
  EXPECT_EQ(openFds(), iFds);
}

TEST(Fcopy, DestinationCannotBeOpened) {
  TempDir tmp;
  const std::string sSrc = tmp.file("src"), sDst = tmp.file("no/dir/dst");
  ASSERT_TRUE(writeFile(sSrc, "data\n"));
  size_t iFds = openFds();
  CopyRun r = copy(sSrc, sDst);
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.err, "Cannot open file " + sDst + " for writing\n");
  EXPECT_EQ(openFds(), iFds);  // the source was closed
  EXPECT_EQ(readFile(sSrc), "data\n");
}

TEST(Fcopy, DestinationInDirectoryWithoutWritePermission) {
  if (isRoot()) GTEST_SKIP() << "root writes into any directory";
  TempDir tmp;
  const std::string sSrc = tmp.file("src"), sDir = tmp.file("locked"), sDst = sDir + "/dst";
  ASSERT_TRUE(writeFile(sSrc, "data\n"));
  ASSERT_EQ(mkdir(sDir.c_str(), 0555), 0);
  CopyRun r = copy(sSrc, sDst);
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.err, "Cannot open file " + sDst + " for writing\n");
}

// A full disk shows up on writing or only when the last buffer is flushed:
// either way the copy is not reported as done.
TEST(Fcopy, FullDiskIsAFailure) {
  TempDir tmp;
  const std::string sSmall = tmp.file("small"), sLarge = tmp.file("large");
  ASSERT_TRUE(writeFile(sSmall, "short\n"));
  ASSERT_TRUE(writeFile(sLarge, std::string(200000, 'w')));
  for (const std::string& sSrc : {sSmall, sLarge}) {
    size_t iFds = openFds();
    CopyRun r = copy(sSrc, "/dev/full");
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.err, "Cannot write file /dev/full\n");
    EXPECT_EQ(openFds(), iFds);
  }
}

// A directory opens for reading but cannot be read: reported as such, and
// the destination (here an existing file) is left exactly as it was.
TEST(Fcopy, UnreadableSourceLeavesDestinationAlone) {
  TempDir tmp;
  const std::string sDir = tmp.file("dir"), sDst = tmp.file("dst"), sNew = tmp.file("new");
  ASSERT_EQ(mkdir(sDir.c_str(), 0755), 0);
  ASSERT_TRUE(writeFile(sDst, "keep me\n"));
  CopyRun r = copy(sDir, sDst);
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.err, "Cannot read file " + sDir + "\n");
  EXPECT_EQ(readFile(sDst), "keep me\n");
  EXPECT_EQ(copy(sDir, sNew).result, -1);
  EXPECT_FALSE(exists(sNew));
}

// The same file under any name: refused before anything is opened for
// writing, so the data survives.
TEST(Fcopy, SameFileThroughAnyNameIsRefused) {
  TempDir tmp;
  const std::string sSrc = tmp.file("src"), sHard = tmp.file("hard"), sSoft = tmp.file("soft");
  const std::string sData = "precious\ndata\n";
  ASSERT_TRUE(writeFile(sSrc, sData));
  ASSERT_EQ(link(sSrc.c_str(), sHard.c_str()), 0);
  ASSERT_EQ(symlink(sSrc.c_str(), sSoft.c_str()), 0);
  struct Case {
    std::string src, dst;
  };
  const Case cases[] = {
      {sSrc, sSrc}, {sSrc, sHard}, {sSrc, sSoft}, {sSoft, sSrc}, {sSrc, tmp.path() + "/./src"},
  };
  for (const Case& c : cases) {
    CopyRun r = copy(c.src, c.dst);
    EXPECT_EQ(r.result, -1) << c.src << " -> " << c.dst;
    EXPECT_EQ(r.err, "Cannot copy file " + c.src + " onto itself\n");
    EXPECT_EQ(readFile(sSrc), sData);
    r = move(c.src, c.dst);
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.err, "Cannot copy file " + c.src + " onto itself\n");
    EXPECT_TRUE(exists(c.src));
    EXPECT_EQ(readFile(sSrc), sData);
  }
}

TEST(Fmove, MovesAndRemovesTheSource) {
  TempDir tmp;
  const std::string sSrc = tmp.file("src"), sDst = tmp.file("dst");
  const std::string sData = std::string(3000, 'm') + "\nend";
  ASSERT_TRUE(writeFile(sSrc, sData));
  CopyRun r = move(sSrc, sDst);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(exists(sSrc));
  EXPECT_EQ(readFile(sDst), sData);
}

TEST(Fmove, FailedCopyKeepsTheSource) {
  TempDir tmp;
  const std::string sSrc = tmp.file("src");
  ASSERT_TRUE(writeFile(sSrc, "data\n"));
  CopyRun r = move(sSrc, "/dev/full");
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.err, "Cannot write file /dev/full\n");
  EXPECT_EQ(readFile(sSrc), "data\n");
  r = move(sSrc, tmp.file("no/dir/dst"));
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.err, "Cannot open file " + tmp.file("no/dir/dst") + " for writing\n");
  EXPECT_EQ(readFile(sSrc), "data\n");
}

// A source that cannot be removed: the complete copy stays, and so does the
// source. A file of /proc cannot be removed even by root.
TEST(Fmove, SourceThatCannotBeRemoved) {
  TempDir tmp;
  const std::string sDst = tmp.file("dst");
  const std::string sExpected = readFile("/proc/version");
  ASSERT_FALSE(sExpected.empty());
  CopyRun r = move("/proc/version", sDst);
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.err, "Could not delete file /proc/version\n");
  EXPECT_EQ(readFile(sDst), sExpected);
}

TEST(Fmove, SourceInDirectoryForbiddingRemoval) {
  if (isRoot()) GTEST_SKIP() << "root removes files from any directory";
  TempDir tmp;
  const std::string sDir = tmp.file("locked"), sSrc = sDir + "/src", sDst = tmp.file("dst");
  ASSERT_EQ(mkdir(sDir.c_str(), 0755), 0);
  ASSERT_TRUE(writeFile(sSrc, "stays\n"));
  chmod(sDir.c_str(), 0555);
  CopyRun r = move(sSrc, sDst);
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.err, "Could not delete file " + sSrc + "\n");
  EXPECT_EQ(readFile(sSrc), "stays\n");
  EXPECT_EQ(readFile(sDst), "stays\n");
}

// ---------------------------------------------------------------------------
// error

struct ChildRun {
  int status;  // exit status, or -1 when the child did not exit normally
  std::string out;
  std::string err;
};

// Runs `message` through error() in a child whose stdout and stderr go to
// files; the child writes `pending` to stdout first, without flushing it.
ChildRun errorInChild(const char* message, const char* pending) {
  TempDir tmp;
  const std::string sOut = tmp.file("out"), sErr = tmp.file("err");
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int fdOut = open(sOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int fdErr = open(sErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fdOut < 0 || fdErr < 0) _exit(100);
    dup2(fdOut, 1);
    dup2(fdErr, 2);
    std::setvbuf(stdout, nullptr, _IOFBF, 4096);
    std::fputs(pending, stdout);
    error(message);
  }
  int ws = 0;
  waitpid(pid, &ws, 0);
  return {WIFEXITED(ws) ? WEXITSTATUS(ws) : -1, readFile(sOut), readFile(sErr)};
}

TEST(Error, WritesTheMessageAndExitsWith255) {
  struct Case {
    const char* message;
    std::string expected;
  };
  const Case cases[] = {
      {"Something went wrong\n", "Something went wrong\n"},
      {"no line end", "no line end"},
      {"100%% done\n", "100% done\n"},
      {"%s %d %n %%%\n", "%s %d %n %%\n"},  // never read as a format
      {"", ""},
  };
  for (const Case& c : cases) {
    ChildRun r = errorInChild(c.message, "pending output");
    EXPECT_EQ(r.status, 255) << c.message;
    EXPECT_EQ(r.err, c.expected);
    EXPECT_EQ(r.out, "pending output");  // a normal exit flushes stdio streams
  }
}

#endif  // _WIN32

}  // namespace

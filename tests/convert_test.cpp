// SPDX-License-Identifier: MIT
// The conversion engine driven in-process: its statuses, the stream kinds it
// reads, and its output held against a plain line-at-a-time statement of the
// conversion on large, varied inputs, so that lines, words and marks falling
// across the engine's internal reads are covered.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/bytes.h"
#include "conversion_model.h"
#include "engine/convert.h"
#include "engine/run.h"
#include "memory_bytes.h"
#include "test_util.h"

namespace {

struct Converted {
  int status = -1;
  std::string out;
  std::string err;
  bool inputClosed = false;  // the engine closed the input it was given
};

// Converts what `in` reads into a fresh file; convert() closes the file
// itself, so the result is read back by name.
// One scratch directory for the whole program: the engine runs many times.
const testutil::TempDir& scratch() {
  static const testutil::TempDir dir;
  return dir;
}

Converted convertFrom(ByteSource& in, const ConvertOptions& s) {
  Converted c;
  std::string outPath = scratch().file("out.fa");
  int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) return c;
  std::unique_ptr<Sink> sink = descriptorSink(out, true);
  ConvertResult r = convert(in, *sink, s);
  c.status = r.status;
  c.err = r.message;
  c.out = testutil::readFile(outPath);
  return c;
}

// Converts what the descriptor `fd` reads, handed to the engine to close.
Converted convertFrom(int fd, const ConvertOptions& s) {
  std::unique_ptr<ByteSource> in = descriptorSource(fd, true);
  Converted c = convertFrom(*in, s);
  c.inputClosed = fd >= 0 && fcntl(fd, F_GETFD) == -1;
  return c;
}

Converted convertText(const std::string& input, const ConvertOptions& s = ConvertOptions()) {
  std::string inPath = scratch().file("in.ig");
  testutil::writeFile(inPath, input);
  int in = ::open(inPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Converted();
  return convertFrom(in, s);
}

// What the reference model says, with the engine's message for status 3.
Converted model(const std::string& input, const ConvertOptions& s) {
  model::Outcome m = model::convert(input, s);
  Converted c;
  c.status = m.status;
  c.out = m.out;
  if (m.status == 3) c.err = "File is not in IG or FASTA format.\n";
  return c;
}

void expectSame(const Converted& actual, const Converted& expected) {
  EXPECT_EQ(actual.status, expected.status);
  EXPECT_EQ(actual.err, expected.err);
  if (actual.out == expected.out) return;
  size_t at = 0;
  while (at < actual.out.size() && at < expected.out.size() && actual.out[at] == expected.out[at])
    ++at;
  size_t from = at < 40 ? 0 : at - 40;
  ADD_FAILURE() << "outputs of " << actual.out.size() << " and " << expected.out.size()
                << " bytes differ at byte " << at
                << "\n  actual:   " << testing::PrintToString(actual.out.substr(from, 80))
                << "\n  expected: " << testing::PrintToString(expected.out.substr(from, 80));
}

const ConvertOptions kSettings[] = {
    {70, false, false, false, nullptr, 1, {}},
    {5, true, true, false, nullptr, 1, {}},
    // With two threads, a file is read ahead on a thread of its own: from
    // the first block on; and from the middle, after a block timed on the
    // engine's thread (the way back comes later than these inputs reach:
    // compressed_test takes it).
    {13, false, true, true, nullptr, 2, {0, InputPathChoice::Verdict::kThread}},
    {1000, true, false, false, nullptr, 2, {1, InputPathChoice::Verdict::kOwnThread}},
};

// --- generated inputs -------------------------------------------------------

class InputGenerator {
 public:
  explicit InputGenerator(unsigned seed) : rng_(seed) {}

  std::string input(size_t target) {
    std::string text;
    for (int i = pick(3); i > 0; --i) text += "\n";
    if (pick(20) == 0) text += sequenceLine();  // refused: not a format
    while (text.size() < target) text += pick(5) < 2 ? fastaRecord() : igRecord();
    if (pick(4) == 0) text += comment();  // ends inside a comment block
    if (pick(3) == 0 && !text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }

 private:
  size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }

  // Mostly short lengths, now and then one far longer than any read.
  size_t length(size_t usual) {
    size_t r = pick(100);
    if (r == 0) return 100000 + pick(250000);
    if (r < 4) return 4000 + pick(12000);
    return pick(usual);
  }

  std::string text(size_t n, const std::string& alphabet) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s.push_back(alphabet[pick(alphabet.size())]);
    return s;
  }

  std::string sequenceLine() {
    static const std::string kSeq =
        "ACGTACGTacgtacgtNNnn--  0123456789*.\t\r@[`{\xe9\xff>;ACGTRYKMacgt";
    std::string line = text(length(90), kSeq);
    // A mark at a line start would change the line's kind.
    if (!line.empty() && (line[0] == '>' || line[0] == ';')) line[0] = 'a';
    return line + "\n";
  }

  std::string comment() {
    static const std::string kWords = "abc FRAGMENT -> 12 x;>\t";
    switch (pick(6)) {
      case 0:
        return "; FRAGMENT " + std::to_string(pick(999)) + " -> " + std::to_string(pick(999)) +
               "\n";
      case 1:
        return ";" + text(length(40), " ab") + "FRAGMENT " + std::to_string(pick(9)) + "->" +
               std::to_string(pick(9)) + text(pick(30), " xy") + "\n";
      case 2: return "; FRAGMENT " + text(pick(4), "1 x->") + "\n";
      default: return ";" + text(length(60), kWords) + "\n";
    }
  }

  std::string nameLine() {
    switch (pick(8)) {
      case 0: return "\n";
      case 1: return text(pick(4), " \t") + "\n";
      case 2: return ">" + text(pick(10), "ab1") + " more\n";
      default:
        return text(pick(3), " \t") + text(1 + length(20), "ABCxyz_.|19") + text(pick(40), " ab") +
               "\n";
    }
  }

  std::string body() {
    std::string s;
    for (size_t i = pick(8); i > 0; --i) s += pick(10) == 0 ? "\n" : sequenceLine();
    return s;
  }

  std::string fastaRecord() { return ">" + text(length(60), "id desc ;>-nN\t") + "\n" + body(); }

  std::string igRecord() {
    std::string s;
    for (size_t i = 1 + pick(3); i > 0; --i) s += comment();
    return s + nameLine() + body();
  }

  std::mt19937 rng_;
};

// --- tests ------------------------------------------------------------------

TEST(Convert, ReturnsItsStatus) {
  struct Case {
    const char* input;
    int status;
    const char* out;
    const char* err;
  };
  const Case cases[] = {
      {"", 4, "", ""},
      {"\n\nX", 4, "", ""},
      {"ACGT\n", 3, "", "File is not in IG or FASTA format.\n"},
      {";c\n", 0, "\n", ""},
      {";c\nN\nacgt\n", 0, ">N\nacgt\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    Converted r = convertText(c.input);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    // On every path the engine closes the input it was handed.
    EXPECT_TRUE(r.inputClosed);
  }
}

TEST(Convert, ReadFailure) {
  testutil::TempDir dir;
  int in = ::open(dir.path().c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(in, 0);
  Converted r = convertFrom(in, kSettings[0]);
  EXPECT_EQ(r.status, 10);
  EXPECT_EQ(r.err, "Failed to read input.\n");
}

TEST(Convert, WriteFailure) {
  testutil::TempDir dir;
  std::string inPath = dir.file("in.fa");
  ASSERT_TRUE(testutil::writeFile(inPath, ">a\nACGT\n"));
  int in = ::open(inPath.c_str(), O_RDONLY | O_CLOEXEC);
  int out = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(in, 0);
  ASSERT_GE(out, 0);
  std::unique_ptr<ByteSource> source = descriptorSource(in, true);
  std::unique_ptr<Sink> sink = descriptorSink(out, true);
  ConvertResult r = convert(*source, *sink, ConvertOptions());
  EXPECT_EQ(r.status, 20);
  EXPECT_EQ(r.message, "Failed to write output.\n");
}

// Memory handed over through callbacks, as a host program's buffers come,
// is read like any other input, in whatever pieces the callback delivers.
TEST(Convert, MemoryThroughCallbacks) {
  InputGenerator gen(7);
  std::string input = gen.input(400000);
  for (size_t piece : {size_t{0}, size_t{1}, size_t{4093}}) {
    SCOPED_TRACE(piece);
    std::unique_ptr<ByteSource> in = testutil::memorySource(input, piece);
    std::string out;
    std::unique_ptr<Sink> sink = testutil::memorySink(out);
    ConvertResult r = convert(*in, *sink, kSettings[1]);
    Converted c;
    c.status = r.status;
    c.out = out;
    c.err = r.message;
    expectSame(c, model(input, kSettings[1]));
  }
}

// A pipe delivers the input in arbitrary pieces.
TEST(Convert, PipeInSmallPieces) {
  InputGenerator gen(11);
  std::string input = gen.input(300000);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(fds[0]);
    size_t at = 0, piece = 1;
    while (at < input.size()) {
      size_t n = std::min(piece, input.size() - at);
      ssize_t w = write(fds[1], input.data() + at, n);
      if (w <= 0) _exit(1);
      at += static_cast<size_t>(w);
      piece = piece * 7 % 1009 + 1;
    }
    _exit(0);
  }
  close(fds[1]);
  Converted r = convertFrom(fds[0], kSettings[0]);
  int ws = 0;
  waitpid(pid, &ws, 0);
  expectSame(r, model(input, kSettings[0]));
}

bool isOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

// The byte layer's backends, held to what the layers above rely on: what a
// read delivers and when it fails, whether it may wait, what is known of
// the size, and which descriptors a backend lets go of, and when.
TEST(ByteLayer, SourcesKeepTheirContract) {
  testutil::TempDir dir;
  std::string path = dir.file("in");
  ASSERT_TRUE(testutil::writeFile(path, "0123456789"));
  unsigned char buf[64];
  {
    SCOPED_TRACE("a regular file: never waits, its size known from where it stands");
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::unique_ptr<ByteSource> in = descriptorSource(fd, true);
    EXPECT_FALSE(in->mayWait());
    EXPECT_EQ(in->remaining(), 10);
    EXPECT_EQ(in->read(buf, 4), 4);
    EXPECT_EQ(in->remaining(), 6);
    in->stop();
    EXPECT_EQ(in->read(buf, 4), -1) << "read after stop()";
    in->close();
    EXPECT_FALSE(isOpen(fd));
  }
  {
    SCOPED_TRACE("a descriptor not owned stays open; one owned is closed with its source");
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    descriptorSource(fd, false)->close();
    EXPECT_TRUE(isOpen(fd));
    descriptorSource(fd, true).reset();
    EXPECT_FALSE(isOpen(fd));
  }
  {
    SCOPED_TRACE("callbacks: as they say; nothing is read once stopped");
    std::unique_ptr<ByteSource> in = testutil::memorySource("abc");
    EXPECT_FALSE(in->mayWait());
    EXPECT_EQ(in->remaining(), -1);
    EXPECT_EQ(in->read(buf, 2), 2);
    in->stop();
    EXPECT_EQ(in->read(buf, 2), -1);
    EXPECT_TRUE(CallbackSource([](unsigned char*, size_t) { return 0L; }, true).mayWait());
  }
  if (testutil::noThreads()) return;
  {
    SCOPED_TRACE("a pipe: may wait; a wait on it ends when another thread stops it");
    size_t before = testutil::entriesOf("/proc/self/fd").size();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    {
      std::unique_ptr<ByteSource> in = descriptorSource(fds[0], true);
      EXPECT_TRUE(in->mayWait());
      EXPECT_EQ(in->remaining(), -1);
      EXPECT_TRUE(in->stoppable(true));
      std::atomic<bool> ended{false};
      std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        in->stop();
        for (int i = 0; i < 300 && !ended; ++i)
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        // Still waiting: a byte ends the wait, and the test fails.
        if (!ended) {
          EXPECT_EQ(write(fds[1], "x", 1), 1);
        }
      });
      EXPECT_EQ(in->read(buf, sizeof buf), -1) << "the wait did not end when stopped";
      ended = true;
      stopper.join();
    }
    close(fds[1]);
    EXPECT_EQ(testutil::entriesOf("/proc/self/fd").size(), before)
        << "the source left a descriptor open";
  }
}

TEST(ByteLayer, SinksKeepTheirContract) {
  testutil::TempDir dir;
  const unsigned char bytes[] = {'a', 'b', 'c'};
  {
    SCOPED_TRACE("a named file: opened as it was, emptied only when told, created as any file");
    std::string old = dir.file("old"), fresh = dir.file("new");
    ASSERT_TRUE(testutil::writeFile(old, "older"));
    std::unique_ptr<FileSink> out = openFileSink(old);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(testutil::readFile(old), "older");
    EXPECT_TRUE(out->empty());
    EXPECT_TRUE(out->write(bytes, 3));
    EXPECT_TRUE(out->finish(Ending::kComplete));
    EXPECT_EQ(testutil::readFile(old), "abc");
    mode_t mask = umask(0);
    umask(mask);
    ASSERT_NE(openFileSink(fresh), nullptr);
    struct stat st;
    ASSERT_EQ(stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);
    EXPECT_EQ(openFileSink(dir.file("no/such/folder")), nullptr);
  }
  {
    SCOPED_TRACE("a descriptor: closed by finish() or with its sink when owned, else left open");
    int fd = ::open(dir.file("d").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    EXPECT_TRUE(descriptorSink(fd, false)->finish(Ending::kComplete));
    EXPECT_TRUE(isOpen(fd));
    std::unique_ptr<Sink> owned = descriptorSink(fd, true);
    EXPECT_TRUE(owned->finish(Ending::kComplete));
    EXPECT_FALSE(isOpen(fd));
    EXPECT_FALSE(owned->write(bytes, 3)) << "written after finish()";
    fd = ::open(dir.file("d").c_str(), O_WRONLY | O_CLOEXEC);
    descriptorSink(fd, true).reset();
    EXPECT_FALSE(isOpen(fd));
  }
}

// A run, as a front end that binds its own streams asks for it: residues
// per line of 4 or less mean 70 there too, as `-n` reads them.
TEST(Run, ResiduesPerLineAsTheCommandLineReadsThem) {
  const std::string input = ">a\n" + std::string(80, 'A') + "\n";
  for (int asked : {0, 4, 5, 70}) {
    SCOPED_TRACE(asked);
    std::unique_ptr<ByteSource> in = testutil::memorySource(input);
    std::string out;
    RunRequest request;
    request.input = in.get();
    request.out = testutil::memorySink(out);
    request.options.lineLen = asked;
    request.output.threads = 1;
    RunResult r = runConversion(std::move(request));
    EXPECT_EQ(r.status, 0);
    size_t width = asked <= 4 ? 70 : static_cast<size_t>(asked);
    EXPECT_EQ(out.find('\n', 3) - 3, width);
  }
}

TEST(Convert, GeneratedInputs) {
  for (unsigned seed = 1; seed <= 12; ++seed) {
    InputGenerator gen(seed);
    std::string input = gen.input(250000 + seed * 40000);
    for (const ConvertOptions& s : kSettings) {
      SCOPED_TRACE("seed " + std::to_string(seed) + ", line length " + std::to_string(s.lineLen));
      expectSame(convertText(input, s), model(input, s));
    }
  }
}

// Lines, names, annotations and arrows placed across every offset near the
// sizes a reader is likely to work in.
TEST(Convert, MarksAcrossReadBoundaries) {
  // The last edge lies where the file is read ahead on a thread.
  const size_t kEdges[] = {4000, 8192, 65536, 131072, 262144, 1048576};
  for (size_t edge : kEdges) {
    for (size_t k = edge - 12; k <= edge + 2; ++k) {
      SCOPED_TRACE("offset " + std::to_string(k));
      const std::string pad(k, 'a');
      const std::string inputs[] = {
          ">h\n" + pad.substr(3) + "\n>next\nAC\n",
          ">h\n" + pad.substr(3) + "\n;c\nNM\nAC\n",
          ">h\n" + pad.substr(3) + "\n\nC\n",
          ";" + pad + " FRAGMENT 1 -> 2\nN\nA\n",
          ";" + pad.substr(0, k - 9) + "FRAGMENT 1 -> 2\nN\nA\n",
          ";c\n" + pad.substr(3) + " tail\nAC\n",
          ";c\n" + pad.substr(3) + "\nAC\n",
          ">" + pad + "\nAC\n",
          // A CR near the block edge, before the convention is settled.
          ">" + pad + "\r\nAC\n",
          ">" + pad + "\rAC\r\n;c\r\nNM\r\nGT\r",
          ";" + pad + " FRAGMENT 1 -> 2\r\nN\rA\r",
          ";" + pad + " FRAGMENT 1 -> 2\rN\r\nA\r",
          // A CRLF across the edge after the first line settled on CR.
          ">h\rAC\r" + pad.substr(7) + "\r;c\r\nNM\r\nGT\r",
      };
      for (const std::string& input : inputs) {
        expectSame(convertText(input, kSettings[2]), model(input, kSettings[2]));
      }
    }
  }
}

}  // namespace

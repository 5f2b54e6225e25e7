// SPDX-License-Identifier: MIT
// Shared helpers for the test programs: temporary directories, whole-file
// reads and writes, capturing a stdio stream, running the built binary, the
// usage text it writes, and comparing long texts.
#ifndef QUENBREL_TEST_UTIL_H
#define QUENBREL_TEST_UTIL_H

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#ifndef _WIN32
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#else
// The library's suites also run as Windows programs (under Wine): there the
// helpers that start the tool are left out, and folders are made and
// removed through the standard library.
#include <filesystem>
#include <random>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace testutil {

// Why no thread can be started here, or null: QUENBREL_TEST_NO_THREADS
// says so where the suite runs under an emulator on which a new thread
// never gets going (CI then runs it on one processor, the tool's one-thread
// path). A test that starts threads itself, or makes the tool start them,
// skips there, with this reason:
//
//   if (const char* why = testutil::noThreads()) GTEST_SKIP() << why;
inline const char* noThreads() {
  const char* why = std::getenv("QUENBREL_TEST_NO_THREADS");
  return why != nullptr && why[0] != '\0' ? why : nullptr;
}

// The tool the tests start: the one this build made, or the one that
// QUENBREL_TEST_WINDOWS_TOOL names, a script that runs the Windows build
// under Wine (windows_test.sh runs the command-line suites so).
inline std::string tool() {
  const char* windows = std::getenv("QUENBREL_TEST_WINDOWS_TOOL");
  return windows != nullptr && windows[0] != '\0' ? windows : QUENBREL_BIN;
}

// Whether the tool is the Windows build: where POSIX alone has a thing
// (FIFOs, /dev/full, permission bits, signals), a test skips there.
inline bool windowsTool() { return tool() != QUENBREL_BIN; }

// The optional formats the tool was built with: this build's, none of them
// for the Windows build (Debian has no MinGW build of their libraries).
inline bool toolHasZstd() {
#ifdef QUENBREL_HAVE_ZSTD
  return !windowsTool();
#else
  return false;
#endif
}
inline bool toolHasLibdeflate() {
#ifdef QUENBREL_HAVE_LIBDEFLATE
  return !windowsTool();
#else
  return false;
#endif
}

// The usage text of the program run as `prog` (its name without the
// directory).
inline std::string usageText(const std::string& prog = "quenbrel") {
  return "NAME\n\t" + prog + " - converts IG formated sequences into FASTA format\n" +
         "\nSYNOPSIS\n\t" + prog + " [ig_input(-)] [fasta_output]\n" + "\t[-n len]\n" +
         "\nDESCRIPTION\n\tConverts IG formated sequences into FASTA format\n" +
         "\nOPTIONS\n\t-n # - number of bases per data line in the output.\n" +
         "\nFLAGS\n\t-ol - onle line per sequence. Each sequence body will be in one line.\n" +
         "\t-uc - converts sequences to upper case.\n" +
         "\t-unseq - eliminates N from the sequence, in order to clean unsequenced data.\n" +
         "\nAUTHOR\n\tquenbrel developers\n";
}

// Compares long texts without dumping megabytes: the first difference and
// its surroundings.
inline void expectSameText(const std::string& actual, const std::string& expected) {
  if (actual.size() + expected.size() < 4000) {
    EXPECT_EQ(actual, expected);
    return;
  }
  if (actual == expected) return;
  size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  size_t from = at < 40 ? 0 : at - 40;
  ADD_FAILURE() << "sizes " << actual.size() << " and " << expected.size()
                << ", first difference at byte " << at
                << "\n  actual:   " << testing::PrintToString(actual.substr(from, 80))
                << "\n  expected: " << testing::PrintToString(expected.substr(from, 80));
}

// A fresh directory under TMPDIR, removed with its contents on destruction.
class TempDir {
 public:
#ifdef _WIN32
  TempDir() {
    namespace fs = std::filesystem;
    std::random_device seed;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      fs::path dir = fs::temp_directory_path() / ("quenbrel-test-" + std::to_string(seed()));
      std::error_code e;
      if (fs::create_directory(dir, e)) path_ = dir.generic_string();
    }
  }
  ~TempDir() {
    std::error_code e;
    if (!path_.empty()) std::filesystem::remove_all(path_, e);
  }
#else
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/quenbrel-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data())) path_ = buf.data();
  }
  ~TempDir() {
    if (!path_.empty()) {
      std::string cmd = "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
      int rc = std::system(cmd.c_str());
      (void)rc;
    }
  }
#endif
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline bool writeFile(const std::string& path, const std::string& data) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && ok;
}

// The names in the folder `dir` but "." and "..", in no set order:
// the files a test leaves, or (under /proc/self) the process's open
// descriptors and threads. Empty when it cannot be read.
inline std::vector<std::string> entriesOf(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  return names;
}

inline std::string readFile(const std::string& path) {
  std::string out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  std::fclose(f);
  return out;
}

// A file of its own to write and read back, removed when closed:
// std::tmpfile(), but on Windows, whose C runtime makes its temporary
// files in the drive's root under names that test programs running side by
// side share, one of a random name in the temporary folder.
inline FILE* tempFile() {
#ifdef _WIN32
  std::random_device seed;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path name = std::filesystem::temp_directory_path() /
                                 ("quenbrel-" + std::to_string(seed()) + std::to_string(seed()));
    if (FILE* F = _wfopen(name.c_str(), L"w+bD")) return F;
  }
  return nullptr;
#else
  return std::tmpfile();
#endif
}

// Everything written to a tmpfile-backed FILE*, from its start.
inline std::string drain(FILE* f) {
  std::string out;
  std::fflush(f);
  std::rewind(f);
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  return out;
}

// Captures what the process writes to file descriptor 2 (stderr and
// std::cerr) between construction and text().
class StderrCapture {
 public:
  StderrCapture() {
    std::fflush(stderr);
    file_ = tempFile();
    saved_ = dup(2);
    dup2(fileno(file_), 2);
  }
  ~StderrCapture() {
    restore();
    if (file_) std::fclose(file_);
  }
  std::string text() {
    restore();
    return drain(file_);
  }

 private:
  void restore() {
    if (saved_ >= 0) {
      std::fflush(stderr);
      dup2(saved_, 2);
      close(saved_);
      saved_ = -1;
    }
  }
  FILE* file_ = nullptr;
  int saved_ = -1;
};

#ifndef _WIN32
struct RunResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or 128 + signal number
};

// Where a started program's standard streams go: the files named (opened
// for it; an empty name leaves the stream as the test program has it), or,
// for standard output, `outFd` when it is set. With `ignoreSigpipe` the
// program starts with SIGPIPE ignored, so a write into a closed pipe fails
// with an error instead of killing it.
struct Stdio {
  std::string in, out, err;
  int inFd = -1;
  int outFd = -1;
  bool ignoreSigpipe = false;
};

// Starts argv[0] (a path) with the arguments `argv` and the streams `io`,
// and waits for it. Returns its exit status, 128 + the signal number that
// ended it, or 127 when it could not be started.
//
// Spawned rather than forked: the redirections are file actions, and the
// child runs none of the test program's code before the exec.
inline int spawnAndWait(const std::vector<std::string>& argv, const Stdio& io) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (io.inFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, io.inFd, 0);
  } else if (!io.in.empty()) {
    posix_spawn_file_actions_addopen(&actions, 0, io.in.c_str(), O_RDONLY, 0);
  }
  if (io.outFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, io.outFd, 1);
    if (io.outFd != 1) posix_spawn_file_actions_addclose(&actions, io.outFd);
  } else if (!io.out.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, io.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  }
  if (!io.err.empty()) {
    posix_spawn_file_actions_addopen(&actions, 2, io.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // An ignored signal stays ignored across exec, so the child inherits it
  // from this short window.
  struct sigaction ignore = {}, saved = {};
  ignore.sa_handler = SIG_IGN;
  if (io.ignoreSigpipe) sigaction(SIGPIPE, &ignore, &saved);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  if (io.ignoreSigpipe) sigaction(SIGPIPE, &saved, nullptr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return 127;
  int ws = 0;
  while (waitpid(pid, &ws, 0) < 0) {
    if (errno != EINTR) return 127;
  }
  return WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
}

// Runs `argv` (argv[0] is the program path) with `input` on standard input,
// or with standard input taken from the file `stdinPath` when it is given.
// Standard output and error are captured through temporary files; when
// `stdoutPath` is given, standard output goes to that file instead (for
// example /dev/full) and `out` stays empty: a device such as /dev/full
// cannot be read back.
// Writes `input` to `fd` from a writer thread, with SIGPIPE blocked for the
// thread: a program that stops reading early makes a write fail, not the
// test program die. Stops at the first failed write.
inline void writeAll(int fd, const std::string& input) {
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
  for (size_t at = 0; at < input.size();) {
    ssize_t n = write(fd, input.data() + at, input.size() - at);
    if (n <= 0) break;
    at += static_cast<size_t>(n);
  }
}

inline RunResult run(const std::vector<std::string>& argv, const std::string& input = "",
                     const std::string& stdinPath = "", const std::string& stdoutPath = "") {
  RunResult r;
  TempDir tmp;
  Stdio io;
  io.in = stdinPath.empty() ? tmp.file("stdin") : stdinPath;
  if (stdinPath.empty()) writeFile(io.in, input);
  io.out = stdoutPath.empty() ? tmp.file("stdout") : stdoutPath;
  io.err = tmp.file("stderr");
  r.status = spawnAndWait(argv, io);
  if (stdoutPath.empty()) r.out = readFile(io.out);
  r.err = readFile(io.err);
  return r;
}

// Runs `argv` with standard input from a pipe that is handed `pieces` one
// at a time, with a pause before each further piece, so that the program
// gets them in separate reads.
inline RunResult runPiecewise(const std::vector<std::string>& argv,
                              const std::vector<std::string>& pieces) {
  RunResult r;
  TempDir tmp;
  int fds[2];
  // Close-on-exec: the program must hold no write end, or it never sees the
  // end of its input; its standard input is a copy made for it.
  if (pipe2(fds, O_CLOEXEC) != 0) return r;
  std::thread writer([&pieces, fd = fds[1]] {
    // A program that stops reading early makes a write fail, not the
    // test program die.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    for (size_t i = 0; i < pieces.size(); ++i) {
      if (i > 0) usleep(200 * 1000);
      if (write(fd, pieces[i].data(), pieces[i].size()) < 0) break;
    }
    close(fd);
  });
  Stdio io;
  io.inFd = fds[0];
  io.out = tmp.file("stdout");
  io.err = tmp.file("stderr");
  r.status = spawnAndWait(argv, io);
  // A program that ended without reading all of its input leaves the
  // writer to a failed write, once no read end is left.
  close(fds[0]);
  writer.join();
  r.out = readFile(io.out);
  r.err = readFile(io.err);
  return r;
}

// Runs `argv` with `input` written into a pipe on standard input and its
// standard output read back slowly, a little at a time with pauses, as by
// a slow consumer downstream: the program's output stalls, so that whatever
// it reads ahead of its conversion piles up, right to the end of its input.
inline RunResult runSlowConsumer(const std::vector<std::string>& argv, const std::string& input) {
  RunResult r;
  TempDir tmp;
  int in[2], out[2];
  // Close-on-exec: the program holds only the copies made for it.
  if (pipe2(in, O_CLOEXEC) != 0) return r;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return r;
  }
  std::thread writer([&input, fd = in[1]] {
    // A program that stops reading early makes a write fail, not the
    // test program die.
    writeAll(fd, input);
    close(fd);
  });
  std::thread reader([&r, fd = out[0]] {
    char buf[16 * 1024];
    for (;;) {
      usleep(2 * 1000);
      ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) break;
      r.out.append(buf, static_cast<size_t>(n));
    }
  });
  Stdio io;
  io.inFd = in[0];
  io.outFd = out[1];
  io.err = tmp.file("stderr");
  r.status = spawnAndWait(argv, io);
  close(in[0]);
  close(out[1]);  // the reader sees the end once the program's copy is gone
  writer.join();
  reader.join();
  close(out[0]);
  r.err = readFile(io.err);
  return r;
}

// IG and FASTA records of pseudo-random residues, large enough that both
// the compressed and the plain bytes span several read blocks.
// The thread settings every run of an input test is made with: the
// one-thread path, and decoding (or reading a pipe) on a thread of its own.
// Options that set their own threads are run with those alone.
inline std::vector<std::vector<std::string>> threadPasses(const std::vector<std::string>& options) {
  for (const std::string& o : options) {
    if (o.rfind("--threads", 0) == 0) return {{}};
  }
  return {{"--threads=1"}, {"--threads=2"}};
}

// A run and how it was made.
struct NamedRun {
  std::string name;
  RunResult result;
};

// The runs of the program `bin` on `bytes` with `options`, in every thread
// setting: as a named file, on standard input from a file, and through a
// pipe.
inline std::vector<NamedRun> runEveryWay(const std::string& bin, const std::string& bytes,
                                         const std::vector<std::string>& options) {
  TempDir tmp;
  std::string path = tmp.file("in.data");
  EXPECT_TRUE(writeFile(path, bytes));
  std::vector<NamedRun> runs;
  for (const std::vector<std::string>& threads : threadPasses(options)) {
    std::vector<std::string> named{bin, path}, piped{bin, "-"};
    for (const std::vector<std::string>* more : {&options, &threads}) {
      named.insert(named.end(), more->begin(), more->end());
      piped.insert(piped.end(), more->begin(), more->end());
    }
    std::string how = threads.empty() ? "" : ", " + threads[0];
    runs.push_back({"named file" + how, run(named)});
    runs.push_back({"standard input" + how, run(piped, bytes)});
    runs.push_back({"pipe" + how, runPiecewise(piped, {bytes})});
  }
  return runs;
}
#endif  // _WIN32

inline std::string bigInput() {
  std::string s;
  unsigned state = 12345;
  for (int r = 0; r < 60; ++r) {
    if (r % 2 == 0) {
      s += ";\n; FRAGMENT " + std::to_string(r) + " -> " + std::to_string(r + 900) + "\nSEQ" +
           std::to_string(r) + " description\n";
    } else {
      s += ">fasta" + std::to_string(r) + " some header text\n";
    }
    for (int line = 0; line < 300; ++line) {
      for (int k = 0; k < 60; ++k) {
        state = state * 1103515245u + 12345u;
        s += "ACGTacgtNn"[(state >> 16) % 10];
        if (k % 10 == 9) s += ' ';
      }
      s += std::to_string(line * 60) + "\n";
    }
  }
  return s;
}

// Lines of 60 pseudo-random residues after `first`, `size` bytes or a
// line more: text that no compressor shortens by repeats.
inline std::string residueLines(const std::string& first, size_t size) {
  std::string s = first;
  s.reserve(size + 61);
  unsigned state = 2718281u;
  while (s.size() < size) {
    for (int k = 0; k < 60; ++k) {
      state = state * 1103515245u + 12345u;
      s += "ACGT"[(state >> 16) % 4];
    }
    s += '\n';
  }
  return s;
}

// The bundled IG example.
inline std::string sample() { return readFile(QUENBREL_SOURCE_DIR "/examples/sample.ig"); }

}  // namespace testutil

#endif  // QUENBREL_TEST_UTIL_H

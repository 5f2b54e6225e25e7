// SPDX-License-Identifier: MIT
// The platform layer for POSIX systems (Linux, macOS, the browser's
// Emscripten runtime).
#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "common/platform.h"
#include "common/platform_system.h"

namespace platform {

Arguments::Arguments(int argc, char** argv) : words_(argv, argv + argc) {
  words_.push_back(nullptr);
}

// Bytes are bytes on POSIX streams.
void binaryStandardStreams() {}

bool isTerminal(std::FILE* F) { return isatty(fileno(F)) == 1; }

std::FILE* openFile(const std::string& name, const char* mode) {
  return std::fopen(name.c_str(), mode);
}

char folderListSeparator() { return ':'; }

std::string programName(const char* path) {
  std::string name = path;
  return name.substr(name.size() - baseLength(name));
}

void FreeLargeMemory::operator()(unsigned char* p) const { std::free(p); }

LargeMemory largeMemory(size_t bytes) {
  constexpr size_t kLargePage = size_t{2} << 20;
  bytes = (bytes + kLargePage - 1) / kLargePage * kLargePage;
  LargeMemory memory(static_cast<unsigned char*>(std::aligned_alloc(kLargePage, bytes)));
#if defined(MADV_HUGEPAGE) && !defined(__EMSCRIPTEN__)
  // Only advice: where the system has none to give, small pages serve.
  if (memory != nullptr) madvise(memory.get(), bytes, MADV_HUGEPAGE);
#endif
  return memory;
}

int processorCount() {
#ifdef __EMSCRIPTEN__
  // The browser build runs on the one thread of its worker: no layer may
  // start a thread of its own there.
  return 1;
#else
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
#endif
}

namespace {

// The folder part of the path `name` ("." when it has none).
std::string folderOf(const std::string& name) {
  size_t slash = name.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
}

FileId idOf(const struct stat& st) {
  FileId id;
  id.known = true;
  id.regular = S_ISREG(st.st_mode);
  id.device = static_cast<uint64_t>(st.st_dev);
  id.node = static_cast<uint64_t>(st.st_ino);
  return id;
}

}  // namespace

FileId fileId(const std::string& name) {
  struct stat st;
  return stat(name.c_str(), &st) == 0 ? idOf(st) : FileId();
}

FileId fileId(std::FILE* F) { return F == nullptr ? FileId() : descriptorId(fileno(F)); }

FileId descriptorId(int fd) {
  struct stat st;
  return fd >= 0 && fstat(fd, &st) == 0 ? idOf(st) : FileId();
}

bool sameFile(const FileId& a, const FileId& b) {
  return a.known && b.known && a.device == b.device && a.node == b.node;
}

Entry entryAt(const std::string& name) {
  struct stat st;
  if (lstat(name.c_str(), &st) != 0) return Entry::kNone;
  return S_ISDIR(st.st_mode) ? Entry::kFolder : Entry::kOther;
}

bool isFolder(const std::string& name) {
  struct stat st;
  return stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

size_t baseLength(const std::string& name) {
  size_t slash = name.rfind('/');
  return slash == std::string::npos ? name.size() : name.size() - slash - 1;
}

size_t nameMax(const std::string& name) {
  long max = pathconf(folderOf(name).c_str(), _PC_NAME_MAX);
  return max > 0 ? static_cast<size_t>(max) : 255;
}

std::string writtenName(const std::string& name) {
  struct stat st;
  char resolved[PATH_MAX];
  if (lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return name;
  if (realpath(name.c_str(), resolved) != nullptr) return resolved;
  // A link to nothing: where it leads, which a write would create.
  ssize_t n = readlink(name.c_str(), resolved, sizeof resolved - 1);
  if (n <= 0) return name;
  std::string target(resolved, static_cast<size_t>(n));
  return target[0] == '/' ? target : folderOf(name) + "/" + target;
}

std::string uriPath(const std::string& name) {
  char resolved[PATH_MAX];
  if (realpath(name.c_str(), resolved) != nullptr) return resolved;
  std::string base = name.substr(name.size() - baseLength(name));
  if (realpath(folderOf(name).c_str(), resolved) != nullptr)
    return std::string(resolved) + (std::strcmp(resolved, "/") == 0 ? "" : "/") + base;
  if (!name.empty() && name[0] == '/') return name;
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) return name;
  return std::string(cwd) + "/" + name;
}

// The folder can be written (a read-only file system cannot), and in a
// folder with the sticky bit only the owner of the entry or of the folder
// may (or root).
bool mayRemove(const std::string& name) {
  std::string dir = folderOf(name);
  struct stat d, f;
  if (faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return false;
  if (stat(dir.c_str(), &d) != 0 || lstat(name.c_str(), &f) != 0) return false;
  if ((d.st_mode & S_ISVTX) == 0) return true;
  uid_t me = geteuid();
  return me == 0 || f.st_uid == me || d.st_uid == me;
}

bool removeFile(const std::string& name) { return unlink(name.c_str()) == 0 || errno == ENOENT; }

bool truncateHere(std::FILE* F) {
  if (std::fflush(F) != 0) return false;
  off_t size = ftello(F);
  return size >= 0 && ftruncate(fileno(F), size) == 0;
}

// --- files removed by the signals that end a process -----------------------
//
// A signal may arrive on any thread at any moment, so the handler reads
// only fixed slots, each published by an atomic flag once its name is
// complete, and calls only unlink(), signal() and raise(), which are safe
// in a handler.

namespace {

// An index run has three files at once; room for a few more.
constexpr int kSlots = 8;

struct Slot {
  std::atomic<bool> used{false};  // set once `name` is complete
  char name[PATH_MAX];
};

// The handler can reach nothing but statics.
Slot slots[kSlots];
std::mutex slotsLock;  // guards the taking of slots and the handlers
int slotsTaken = 0;

// The signals that end a process by default and that ask it to end from
// outside or report a limit reached: a user or a shell (SIGHUP, SIGINT,
// SIGQUIT, SIGTERM), an output pipe whose reader left (SIGPIPE), a file
// size or processor time limit (SIGXFSZ, SIGXCPU), a timer or a signal of
// no set meaning sent by another program. The handler ends the process by
// the same signal, so a core-dumping one still dumps. The signals by which
// the program reports a fault of its own (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGTRAP, SIGSYS, SIGABRT) are left alone, so that a crash stays exactly
// what it was for a debugger, a sanitizer and the core.
constexpr int kSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT,   SIGTERM, SIGPIPE, SIGXFSZ,
    SIGXCPU,   SIGALRM, SIGVTALRM, SIGPROF, SIGUSR1, SIGUSR2,
#ifdef SIGIO
    SIGIO,
#elif defined(SIGPOLL)
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

// Calls `f` with every signal of kSignals, then every real-time signal,
// whose default action also ends the process.
template <typename F>
void forEachSignal(F f) {
  for (int sig : kSignals) f(sig);
#if defined(SIGRTMIN) && defined(SIGRTMAX) && !defined(__EMSCRIPTEN__)
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) f(sig);
#endif
}

// The handlers in place before ours, for the signals ours took over.
#ifdef NSIG
constexpr int kMaxSignal = NSIG;
#else
constexpr int kMaxSignal = 65;
#endif
struct sigaction previous[kMaxSignal];
bool replaced[kMaxSignal];

extern "C" void removeGuardedFiles(int sig) {
  for (Slot& s : slots) {
    if (s.used.load(std::memory_order_acquire)) unlink(s.name);
  }
  // Blocked while the handler runs, the signal raised again is taken with
  // the default action on return, in this thread: also one that the
  // thread's own write brought on (SIGPIPE, SIGXFSZ) ends the process.
  signal(sig, SIG_DFL);
  raise(sig);
}

// A signal the process was told to ignore (nohup, a shell's background
// job, SIGPIPE by a caller that checks write errors) stays ignored, and one
// it handles itself (a host language's interpreter, whose Ctrl-C stops the
// run it started) stays its own: the host ends the run its own way, and the
// files go as the run unwinds. Only a signal that would end the process at
// once is taken over.
void installHandlers() {
  struct sigaction act {};
  act.sa_handler = removeGuardedFiles;
  sigemptyset(&act.sa_mask);
  forEachSignal([&act](int sig) { sigaddset(&act.sa_mask, sig); });
  forEachSignal([&act](int sig) {
    if (sig < 0 || sig >= kMaxSignal) return;
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) != 0) return;
    if ((old.sa_flags & SA_SIGINFO) != 0 || old.sa_handler != SIG_DFL) return;
    previous[sig] = old;
    replaced[sig] = sigaction(sig, &act, nullptr) == 0;
  });
}

void restoreHandlers() {
  for (int sig = 0; sig < kMaxSignal; ++sig) {
    if (replaced[sig]) sigaction(sig, &previous[sig], nullptr);
    replaced[sig] = false;
  }
}

}  // namespace

// The slots taken and given back under the lock; the handlers come with
// the first and go with the last.
int guard(const std::string& name) {
  if (name.size() >= PATH_MAX) return -1;
  std::lock_guard<std::mutex> hold(slotsLock);
  for (int i = 0; i < kSlots; ++i) {
    Slot& s = slots[i];
    if (s.used.load(std::memory_order_relaxed)) continue;
    if (slotsTaken++ == 0) installHandlers();
    std::memcpy(s.name, name.c_str(), name.size() + 1);
    s.used.store(true, std::memory_order_release);
    return i;
  }
  return -1;
}

void unguard(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  std::lock_guard<std::mutex> hold(slotsLock);
  slots[slot].used.store(false, std::memory_order_release);
  if (--slotsTaken == 0) restoreHandlers();
}

unsigned long processId() { return static_cast<unsigned long>(getpid()); }

// Created only if no file has the name ("x"), closed on exec ("e").
std::FILE* createNewFile(const std::string& name, bool& taken) {
  std::FILE* F = std::fopen(name.c_str(), "wbxe");
  taken = F == nullptr && errno == EEXIST;
  return F;
}

bool replaceFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace platform

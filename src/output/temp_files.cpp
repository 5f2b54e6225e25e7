// SPDX-License-Identifier: MIT
// The guarded temporary files. A signal may arrive on any thread at any
// moment, so the handler reads only fixed slots, each published by an
// atomic flag once its name is complete, and calls only unlink(), signal()
// and raise(), which are safe in a handler.
#include "output/temp_files.h"

#include <unistd.h>
#include <climits>
#include <csignal>

#include <atomic>
#include <cstring>
#include <mutex>

namespace {

// An index run has two files at once; room for a few more.
constexpr int kSlots = 8;

struct Slot {
  std::atomic<bool> used{false};  // set once `name` is complete
  char name[PATH_MAX];
};

// The handler can reach nothing but statics.
Slot slots[kSlots];
std::mutex slotsLock;  // guards the taking of free slots
bool handlerInstalled = false;

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

extern "C" void removeTempFiles(int sig) {
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
// job, SIGPIPE by a caller that checks write errors) stays ignored.
void installHandler() {
  struct sigaction act {};
  act.sa_handler = removeTempFiles;
  sigemptyset(&act.sa_mask);
  forEachSignal([&act](int sig) { sigaddset(&act.sa_mask, sig); });
  forEachSignal([&act](int sig) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) return;
    sigaction(sig, &act, nullptr);
  });
}

}  // namespace

int guardTempFile(const std::string& name) {
  if (name.size() >= PATH_MAX) return -1;
  std::lock_guard<std::mutex> hold(slotsLock);
  if (!handlerInstalled) {
    installHandler();
    handlerInstalled = true;
  }
  for (int i = 0; i < kSlots; ++i) {
    Slot& s = slots[i];
    if (s.used.load(std::memory_order_relaxed)) continue;
    std::memcpy(s.name, name.c_str(), name.size() + 1);
    s.used.store(true, std::memory_order_release);
    return i;
  }
  return -1;
}

void unguardTempFile(int ticket) {
  if (ticket < 0 || ticket >= kSlots) return;
  std::lock_guard<std::mutex> hold(slotsLock);
  slots[ticket].used.store(false, std::memory_order_release);
}

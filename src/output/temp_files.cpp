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

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void removeTempFiles(int sig) {
  for (Slot& s : slots) {
    if (s.used.load(std::memory_order_acquire)) unlink(s.name);
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

// A signal the process was told to ignore (nohup, a shell's background
// job) stays ignored.
void installHandler() {
  for (int sig : kSignals) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction act {};
    act.sa_handler = removeTempFiles;
    sigemptyset(&act.sa_mask);
    for (int other : kSignals) sigaddset(&act.sa_mask, other);
    sigaction(sig, &act, nullptr);
  }
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

// SPDX-License-Identifier: MIT
// The processor count: the affinity mask, else the processors online.
#include "common/processors.h"

#include <sched.h>
#include <unistd.h>

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

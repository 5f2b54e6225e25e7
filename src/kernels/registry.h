// SPDX-License-Identifier: MIT
// The residue packing kernels this build has, listed once, widest first.
// The engine, the tests, the fuzzers and the benchmark driver all take
// their kernels from here; each processor family says which features the
// processor has, and a kernel runs where all the features it needs are.
#ifndef QUENBREL_KERNELS_REGISTRY_H
#define QUENBREL_KERNELS_REGISTRY_H

#include "kernels/kernel.h"

namespace kernels {

// Processor features the kernels need, one bit each.
enum CpuFeature : unsigned {
  kCpuSsse3 = 1u << 0,
  kCpuAvx2 = 1u << 1,
  kCpuAvx512f = 1u << 2,
  kCpuAvx512bw = 1u << 3,
  kCpuAvx512vbmi2 = 1u << 4,
  kCpuNeon = 1u << 5,
};

struct Kernel {
  const char* name;  // how tests, fuzzers and the benchmark name it
  unsigned needs;    // the CpuFeature bits it runs on
  // Its packing function for the settings; never null.
  PackFn (*select)(bool dropN, bool upperCase);
};

// The kernels of this build, widest first; the portable kernel, which
// needs nothing, is always the last.
struct KernelList {
  const Kernel* first;
  const Kernel* last;
  const Kernel* begin() const { return first; }
  const Kernel* end() const { return last; }
};
KernelList allKernels();

// The features of this processor and system.
unsigned cpuFeatures();

// Whether `kernel` runs on a processor with `features`.
inline bool runsOn(const Kernel& kernel, unsigned features) {
  return (kernel.needs & features) == kernel.needs;
}

// The widest kernel of this build that runs with `features`.
const Kernel& chooseKernel(unsigned features);

// The kernel of this build called `name`, or null.
const Kernel* findKernel(const char* name);

}  // namespace kernels

#endif  // QUENBREL_KERNELS_REGISTRY_H

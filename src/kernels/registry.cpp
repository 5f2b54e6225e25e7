// SPDX-License-Identifier: MIT
// The one list of packing kernels, and the one place where one is chosen.
#include "kernels/registry.h"

#include <cstring>
#include <iterator>

#include "kernels/portable.h"

#if defined(QUENBREL_KERNELS_X86)
#include "kernels/x86/x86.h"
#endif
#if defined(QUENBREL_KERNELS_ARM)
#include "kernels/arm/arm.h"
#endif

namespace kernels {
namespace {

// Widest first: the first row the processor runs is chosen.
const Kernel kKernels[] = {
#if defined(QUENBREL_KERNELS_X86)
    // VBMI2 brings the byte compression the kernel packs with; many
    // AVX-512 processors lack it.
    {"avx512", kCpuAvx512f | kCpuAvx512bw | kCpuAvx512vbmi2, avx512Pack},
    {"avx2", kCpuAvx2, avx2Pack},
    {"ssse3", kCpuSsse3, ssse3Pack},
#endif
#if defined(QUENBREL_KERNELS_ARM)
    {"neon", kCpuNeon, neonPack},
#endif
    {"portable", 0, portablePack},
};

}  // namespace

KernelList allKernels() { return {std::begin(kKernels), std::end(kKernels)}; }

unsigned cpuFeatures() {
  unsigned features = 0;
#if defined(QUENBREL_KERNELS_X86)
  features |= x86Features();
#endif
#if defined(QUENBREL_KERNELS_ARM)
  features |= armFeatures();
#endif
  return features;
}

const Kernel& chooseKernel(unsigned features) {
  for (const Kernel& kernel : kKernels) {
    if (runsOn(kernel, features)) return kernel;
  }
  return kKernels[sizeof kKernels / sizeof *kKernels - 1];
}

const Kernel* findKernel(const char* name) {
  for (const Kernel& kernel : kKernels) {
    if (std::strcmp(kernel.name, name) == 0) return &kernel;
  }
  return nullptr;
}

}  // namespace kernels

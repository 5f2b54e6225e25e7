// SPDX-License-Identifier: MIT
// The one place where a packing kernel is chosen: each processor family says
// which of its kernels the processor runs; the widest wins, and the portable
// kernel is always there.
#include <cstring>
#include <initializer_list>

#include "kernel.h"
#include "portable.h"

#if defined(QUENBREL_KERNELS_X86)
#include "x86/x86.h"
#endif
#if defined(QUENBREL_KERNELS_ARM)
#include "arm/arm.h"
#endif

bool kernelSupported(ConvertKernel kernel) {
  switch (kernel) {
    case kKernelAuto:
    case kKernelPortable: return true;
    default: break;
  }
#if defined(QUENBREL_KERNELS_X86)
  if (kernels::x86Supported(kernel)) return true;
#endif
#if defined(QUENBREL_KERNELS_ARM)
  if (kernels::armSupported(kernel)) return true;
#endif
  return false;
}

ConvertKernel bestKernel() {
  // The widest first.
  for (ConvertKernel kernel : {kKernelAvx512, kKernelAvx2, kKernelNeon, kKernelSsse3}) {
    if (kernelSupported(kernel)) return kernel;
  }
  return kKernelPortable;
}

PackFn selectPack(ConvertKernel kernel, bool noN, bool toUpper) {
  if (kernel == kKernelAuto) kernel = bestKernel();
  PackFn fn = nullptr;
#if defined(QUENBREL_KERNELS_X86)
  if (!fn) fn = kernels::x86Pack(kernel, noN, toUpper);
#endif
#if defined(QUENBREL_KERNELS_ARM)
  if (!fn) fn = kernels::armPack(kernel, noN, toUpper);
#endif
  return fn ? fn : kernels::portablePack(noN, toUpper);
}

// What the engine's callers see of the choice (convert.h).

bool convertKernelSupported(ConvertKernel kernel) { return kernelSupported(kernel); }

namespace {
const char* const kKernelNames[] = {"auto", "portable", "ssse3", "avx2", "avx512", "neon"};
}

const char* convertKernelName(ConvertKernel kernel) {
  return kKernelNames[static_cast<int>(kernel)];
}

bool convertKernelByName(const char* name, ConvertKernel* kernel) {
  for (int k = 0; k < static_cast<int>(sizeof kKernelNames / sizeof *kKernelNames); ++k) {
    if (std::strcmp(name, kKernelNames[k]) == 0) {
      *kernel = static_cast<ConvertKernel>(k);
      return true;
    }
  }
  return false;
}

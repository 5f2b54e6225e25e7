// SPDX-License-Identifier: MIT
// Which x86 kernels this processor runs.
#include "x86.h"

namespace kernels {

bool x86Supported(ConvertKernel kernel) {
  switch (kernel) {
    case kKernelSsse3: return __builtin_cpu_supports("ssse3");
    case kKernelAvx2: return __builtin_cpu_supports("avx2");
    case kKernelAvx512:
      // The system has to save the wider registers too, which the check
      // includes.
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512vbmi2");
    default: return false;
  }
}

PackFn x86Pack(ConvertKernel kernel, bool noN, bool toUpper) {
  switch (kernel) {
    case kKernelSsse3: return ssse3Pack(noN, toUpper);
    case kKernelAvx2: return avx2Pack(noN, toUpper);
    case kKernelAvx512: return avx512Pack(noN, toUpper);
    default: return nullptr;
  }
}

}  // namespace kernels

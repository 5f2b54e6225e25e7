// SPDX-License-Identifier: MIT
// The x86 features the kernels need, as this processor has them.
#include "kernels/registry.h"
#include "kernels/x86/x86.h"

namespace kernels {

unsigned x86Features() {
  unsigned features = 0;
  if (__builtin_cpu_supports("ssse3")) features |= kCpuSsse3;
  if (__builtin_cpu_supports("avx2")) features |= kCpuAvx2;
  // The system has to save the wider registers too, which these checks
  // include.
  if (__builtin_cpu_supports("avx512f")) features |= kCpuAvx512f;
  if (__builtin_cpu_supports("avx512bw")) features |= kCpuAvx512bw;
  if (__builtin_cpu_supports("avx512vbmi2")) features |= kCpuAvx512vbmi2;
  return features;
}

}  // namespace kernels

// SPDX-License-Identifier: MIT
// The choice of the packing kernel, one row per set of processor features.
#include <gtest/gtest.h>

#include "kernels/registry.h"

namespace {

// The kernel chosen for each set of processor features: the widest one
// whose every feature is there. A row whose kernel this build lacks (the
// other family's, or all but the portable one in a portable-only build) is
// passed over.
TEST(Kernels, ChoiceFollowsTheFeatureBits) {
  using namespace kernels;  // NOLINT(google-build-using-namespace): the feature bits
  const unsigned kAvx512 = kCpuAvx512f | kCpuAvx512bw | kCpuAvx512vbmi2;
  struct Row {
    const char* what;
    unsigned features;
    const char* kernel;
  };
  const Row rows[] = {
      {"no features", 0, "portable"},
      {"SSSE3", kCpuSsse3, "ssse3"},
      {"AVX2 and SSSE3", kCpuSsse3 | kCpuAvx2, "avx2"},
      {"AVX2 alone", kCpuAvx2, "avx2"},
      {"everything", kCpuSsse3 | kCpuAvx2 | kAvx512, "avx512"},
      {"AVX-512 without VBMI2", kCpuSsse3 | kCpuAvx2 | kCpuAvx512f | kCpuAvx512bw, "avx2"},
      {"AVX-512 without BW", kCpuSsse3 | kCpuAvx2 | kCpuAvx512f | kCpuAvx512vbmi2, "avx2"},
      {"AVX-512 without F", kCpuSsse3 | kCpuAvx2 | kCpuAvx512bw | kCpuAvx512vbmi2, "avx2"},
      {"AVX-512 alone", kAvx512, "avx512"},
      {"AVX-512 and SSSE3, no AVX2", kCpuSsse3 | kAvx512, "avx512"},
      {"NEON", kCpuNeon, "neon"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (findKernel(row.kernel) == nullptr) continue;
    EXPECT_STREQ(chooseKernel(row.features).name, row.kernel);
  }
  // This processor: a kernel it runs.
  EXPECT_TRUE(runsOn(chooseKernel(cpuFeatures()), cpuFeatures()));
}

}  // namespace

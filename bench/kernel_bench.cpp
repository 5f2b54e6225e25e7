// SPDX-License-Identifier: MIT
// Converts one file to standard output with the packing kernel named on the
// command line, so that the benchmark can time each kernel through the
// engine's own choice point:
//
//   quenbrel_kernel_bench KERNEL FILE [-uc] [-unseq] [-ol]
//
// KERNEL is portable, ssse3, avx2, avx512 or neon. Exits 2 when the
// processor lacks the kernel, else with the engine's status.
#include <cstdio>
#include <cstring>

#include "convert.h"

int main(int argc, char** argv) {
  ConvertKernel kernel;
  if (argc < 3 || !convertKernelByName(argv[1], &kernel)) {
    std::fputs("usage: quenbrel_kernel_bench KERNEL FILE [-uc] [-unseq] [-ol]\n", stderr);
    return 2;
  }
  if (!convertKernelSupported(kernel)) {
    std::fprintf(stderr, "this processor lacks the %s kernel\n", argv[1]);
    return 2;
  }
  bool toUpper = false, noN = false, oneLine = false;
  for (int i = 3; i < argc; ++i) {
    toUpper |= std::strcmp(argv[i], "-uc") == 0;
    noN |= std::strcmp(argv[i], "-unseq") == 0;
    oneLine |= std::strcmp(argv[i], "-ol") == 0;
  }
  FILE* in = std::fopen(argv[2], "rb");
  if (!in) {
    std::fprintf(stderr, "cannot open %s\n", argv[2]);
    return 2;
  }
  return convertWith(in, stdout, 70, noN, toUpper, oneLine, kernel);
}

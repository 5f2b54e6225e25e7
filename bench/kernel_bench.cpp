// SPDX-License-Identifier: MIT
// Converts one file to standard output with the packing kernel named on the
// command line, so that the benchmark can time each kernel through the
// engine's own choice point:
//
//   quenbrel_kernel_bench KERNEL FILE [-uc] [-unseq] [-ol]
//   quenbrel_kernel_bench --list
//
// --list prints the kernels this processor runs, one name a line, widest
// first. Exits 2 when the processor lacks the kernel, else with the
// engine's status.
#include <cstdio>
#include <cstring>
#include <memory>

#include "engine/convert.h"
#include "kernels/registry.h"
#include "output/sink.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
    for (const kernels::Kernel& k : kernels::allKernels()) {
      if (kernels::runsOn(k, kernels::cpuFeatures())) std::puts(k.name);
    }
    return 0;
  }
  const kernels::Kernel* kernel = argc < 3 ? nullptr : kernels::findKernel(argv[1]);
  if (kernel == nullptr) {
    std::fputs("usage: quenbrel_kernel_bench KERNEL FILE [-uc] [-unseq] [-ol]\n", stderr);
    return 2;
  }
  if (!kernels::runsOn(*kernel, kernels::cpuFeatures())) {
    std::fprintf(stderr, "this processor lacks the %s kernel\n", argv[1]);
    return 2;
  }
  ConvertOptions options;
  options.kernel = kernel;
  for (int i = 3; i < argc; ++i) {
    options.upperCase |= std::strcmp(argv[i], "-uc") == 0;
    options.dropN |= std::strcmp(argv[i], "-unseq") == 0;
    options.oneLine |= std::strcmp(argv[i], "-ol") == 0;
  }
  FILE* in = std::fopen(argv[2], "rb");
  if (!in) {
    std::fprintf(stderr, "cannot open %s\n", argv[2]);
    return 2;
  }
  std::unique_ptr<ByteSource> source = descriptorSource(fileno(in), false);
  std::unique_ptr<Sink> out = descriptorSink(1, false);
  ConvertResult result = convert(*source, *out, options);
  std::fputs(result.message.c_str(), stderr);
  return result.status;
}

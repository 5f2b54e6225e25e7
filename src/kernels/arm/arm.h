// SPDX-License-Identifier: MIT
// The ARM kernels: 16-byte NEON (ASIMD) blocks, which every 64-bit ARM
// processor has.
#ifndef QUENBREL_KERNELS_ARM_ARM_H
#define QUENBREL_KERNELS_ARM_ARM_H

#include "../kernel.h"

namespace kernels {

// Whether the processor runs the ARM kernel `kernel` (false for others).
bool armSupported(ConvertKernel kernel);

// The packing function of an ARM kernel, or null for other kernels.
PackFn armPack(ConvertKernel kernel, bool noN, bool toUpper);

}  // namespace kernels

#endif  // QUENBREL_KERNELS_ARM_ARM_H

// SPDX-License-Identifier: MIT
// The ARM kernels: 16-byte NEON (ASIMD) blocks, which every 64-bit ARM
// processor has.
#ifndef QUENBREL_KERNELS_ARM_ARM_H
#define QUENBREL_KERNELS_ARM_ARM_H

#include "kernels/kernel.h"

namespace kernels {

// The CpuFeature bits of this processor: NEON, which every 64-bit ARM
// processor has.
unsigned armFeatures();

PackFn neonPack(bool dropN, bool upperCase);

}  // namespace kernels

#endif  // QUENBREL_KERNELS_ARM_ARM_H

// SPDX-License-Identifier: MIT
// The x86-64 kernels: 16-byte blocks packed by byte shuffle (SSSE3), 32-byte
// blocks (AVX2), 64-byte blocks packed by byte compression (AVX-512 VBMI2).
#ifndef QUENBREL_KERNELS_X86_X86_H
#define QUENBREL_KERNELS_X86_X86_H

#include "kernels/kernel.h"

namespace kernels {

// The CpuFeature bits of this processor and system.
unsigned x86Features();

// The SSSE3 loop from `p` on, with marks counted only after `start`; the
// wider loops finish their ranges with it.
template <bool kNoN, bool kUpper>
const unsigned char* ssse3PackFrom(const unsigned char* start, const unsigned char* p,
                                   const unsigned char* end, unsigned char*& out, bool crEnds);

PackFn ssse3Pack(bool dropN, bool upperCase);
PackFn avx2Pack(bool dropN, bool upperCase);
PackFn avx512Pack(bool dropN, bool upperCase);

}  // namespace kernels

#endif  // QUENBREL_KERNELS_X86_X86_H

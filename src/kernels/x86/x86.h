// SPDX-License-Identifier: MIT
// The x86-64 kernels: 16-byte blocks packed by byte shuffle (SSSE3), 32-byte
// blocks (AVX2), 64-byte blocks packed by byte compression (AVX-512 VBMI2).
#ifndef QUENBREL_KERNELS_X86_X86_H
#define QUENBREL_KERNELS_X86_X86_H

#include "../kernel.h"

namespace kernels {

// Whether the processor runs the x86 kernel `kernel` (false for others).
bool x86Supported(ConvertKernel kernel);

// The packing function of an x86 kernel, or null for other kernels.
PackFn x86Pack(ConvertKernel kernel, bool noN, bool toUpper);

// The SSSE3 loop from `p` on, with marks counted only after `start`; the
// wider loops finish their ranges with it.
template <bool kNoN, bool kUpper>
const unsigned char* ssse3PackFrom(const unsigned char* start, const unsigned char* p,
                                   const unsigned char* end, unsigned char*& out, bool crEnds);

PackFn ssse3Pack(bool noN, bool toUpper);
PackFn avx2Pack(bool noN, bool toUpper);
PackFn avx512Pack(bool noN, bool toUpper);

}  // namespace kernels

#endif  // QUENBREL_KERNELS_X86_X86_H

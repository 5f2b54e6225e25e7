// SPDX-License-Identifier: MIT
// The residue packing kernels: one narrow interface, one implementation per
// instruction-set family, listed in registry.cpp.
#ifndef QUENBREL_KERNELS_KERNEL_H
#define QUENBREL_KERNELS_KERNEL_H

#include <cstddef>

// A kernel copies the kept residues of [p, end) to `out` (ASCII letters and
// "-"; without n and N when they are dropped; lower-case letters upper-cased
// when asked) and stops at the first line-start mark after `p`: a ">" or ";"
// right after a line end ("\n", and "\r" too when `crEnds` is set). A mark
// at `p` itself does not count: the caller has classified that line start.
// Returns where it stopped (the mark, or `end`) and moves `out` past what it
// wrote. It may write up to kPackSlack bytes past the last residue, never
// more than (end - p) + kPackSlack bytes from where `out` started.
using PackFn = const unsigned char* (*)(const unsigned char* p, const unsigned char* end,
                                        unsigned char*& out, bool crEnds);

constexpr size_t kPackSlack = 64;

#endif  // QUENBREL_KERNELS_KERNEL_H

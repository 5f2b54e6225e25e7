// SPDX-License-Identifier: MIT
// The portable kernel, available everywhere.
#ifndef QUENBREL_KERNELS_PORTABLE_H
#define QUENBREL_KERNELS_PORTABLE_H

#include "kernels/kernel.h"

namespace kernels {

PackFn portablePack(bool dropN, bool upperCase);

}  // namespace kernels

#endif  // QUENBREL_KERNELS_PORTABLE_H

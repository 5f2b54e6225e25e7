// SPDX-License-Identifier: MIT
// The processors this process may run on (its affinity mask), counted in
// one place for every layer that sizes its threads by them.
#ifndef QUENBREL_COMMON_PROCESSORS_H
#define QUENBREL_COMMON_PROCESSORS_H

int processorCount();

#endif  // QUENBREL_COMMON_PROCESSORS_H

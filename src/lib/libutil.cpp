// SPDX-License-Identifier: MIT
#include "lib/functions.h"

void libutil_main() {}

// SPDX-License-Identifier: MIT
#include "functions.h"

void libutil_main() {}

#include "functions.h"

void libutil_main() {}

#include "functions.h"

#include "tests/platform/sdl_lsan_suppressions.h"

#include "player/libtable.h"

#include "player/lib_event.h"
#include "player/lib_math.h"
#include "player/lib_string.h"
#include "player/system/lib_system.h"

const qmLibrary *const kPlayerLibraries[] = {
    &kStringLibrary,
    &kMathLibrary,
    &kEventLibrary,
    &kSystemLibrary,
    nullptr,
};

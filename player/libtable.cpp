#include "player/libtable.h"

#include "player/event/lib_event.h"
#include "player/lib_math.h"
#include "player/lib_string.h"
#include "player/lib_system.h"

const qmLibrary *const kPlayerLibraries[] = {
    &kStringLibrary,
    &kMathLibrary,
    &kEventLibrary,
    &kSystemLibrary,
    nullptr,
};

#include "player/libtable.h"

#include "graphics/graphics/lib_graphics.h"
#include "io/dos/lib_dos.h"
#include "io/memblock/lib_memblock.h"
#include "io/network/lib_network.h"
#include "player/event/lib_event.h"
#include "player/math/lib_math.h"
#include "player/string/lib_string.h"
#include "player/system/lib_system.h"

const qmLibrary *const kPlayerLibraries[] = {
    &kStringLibrary,
    &kMathLibrary,
    &kGraphicsLibrary,
    &kDosLibrary,
    &kEventLibrary,
    &kSystemLibrary,
    &kMemblockLibrary,
    &kNetworkLibrary,
    nullptr,
};

#include "player/libtable.h"

#include "display/bgpic/lib_bgpic.h"
#include "display/brush/lib_brush.h"
#include "display/display/lib_display.h"
#include "graphics/draw/lib_draw.h"
#include "graphics/graphics/lib_graphics.h"
#include "graphics/vectorgraphics/lib_vectorgraphics.h"
#include "io/dos/lib_dos.h"
#include "io/memblock/lib_memblock.h"
#include "media/anim/lib_anim.h"
#include "media/sound/lib_sound.h"
#include "media/video/lib_video.h"
#include "io/network/lib_network.h"
#include "layers/layers/lib_layers.h"
#include "player/event/lib_event.h"
#include "player/math/lib_math.h"
#include "player/string/lib_string.h"
#include "player/system/lib_system.h"
#include "layers/moveobject/lib_moveobject.h"
#include "layers/sprite/lib_sprite.h"
#include "text/text/lib_text.h"
#include "transitions/transitionfx/lib_transitionfx.h"

const qmLibrary *const kPlayerLibraries[] = {
    &kStringLibrary,
    &kMathLibrary,
    &kGraphicsLibrary,
    &kDrawLibrary,
    &kMoveObjectLibrary,
    &kDosLibrary,
    &kEventLibrary,
    &kSystemLibrary,
    &kLayersLibrary,
    &kTextLibrary,
    &kAnimLibrary,
    &kDisplayLibrary,
    &kSoundLibrary,
    &kBrushLibrary,
    &kBGPicLibrary,
    &kTransitionFxLibrary,
    &kSpriteLibrary,
    &kMemblockLibrary,
    &kVectorGraphicsLibrary,
    &kNetworkLibrary,
    &kVideoLibrary,
    nullptr,
};

#include "player/libtable.h"

#include "player/lib_event.h"
#include "player/lib_math.h"
#include "player/lib_string.h"
#include "player/lib_system.h"
#include "runtime/vm/vm_api.h"

// The full order is string, math, graphics, draw, moveobject, dos, event, system, layers,
// text, anim, display, sound, brush, bgpic, transitionfx, sprite, memblock, vectorgraphics,
// network, video. Libraries not built yet have no row; their commands are unknown until then.
const qmLibraryEntry kPlayerLibraries[] = {
    {"string", InitStringLibrary},
    {"math", InitMathLibrary},
    // graphics, draw, moveobject, dos: not built yet
    {"event", InitEventLibrary},
    {"system", InitSystemLibrary},
    // layers, text, anim, display, sound, brush, bgpic, transitionfx, sprite, memblock,
    // vectorgraphics, network, video: not built yet
    {nullptr, nullptr},
};

// The full order stops the sound device and the videos first, so that their threads no longer
// touch what is freed after them: StopSoundDevice, StopAllVideos, FreeDisplays,
// FreeNetworkLibrary, FreeGraphicsObjects, FreeDrawBuffers, FreeAllBrushes, FreeAllBGPics,
// FreeVideos, FreeAllPaths, FreeAllSprites, FreeSystemLibrary, FreeTextLibrary, FreeAnims,
// FreeLayerGlobals, FreeDosLibrary, FreeMemblockLibrary, FreeEventLibrary, FreeSoundObjects.
// The string and math libraries keep nothing that needs freeing before the VM closes; they
// come last.
const qmLibraryFree kPlayerLibraryFrees[] = {
    {"system", FreeSystemLibrary},
    {"event", FreeEventLibrary},
    {"string", FreeStringLibrary},
    {"math", FreeMathLibrary},
    {nullptr, nullptr},
};

uint32_t OpenPlayerLibraries(VmState *L, const qmLibraryEntry *table) {
  for (const qmLibraryEntry *row = table; row->name; row++) {
    int top = vm_gettop(L);
    vm_pushvalue(L, VM_GLOBALSINDEX);
    uint32_t code = row->init(L);
    vm_settop(L, top);
    if (code) return code;
  }
  return 0;
}

void FreePlayerLibraries(VmState *L, const qmLibraryFree *table) {
  for (const qmLibraryFree *row = table; row->name; row++) row->free(L);
}

#include "graphics/graphics/clipregion.h"

#include "runtime/objlist.h"

uint32_t FindClipRegion(VmState *L, const qmObjectId *id, qmClipRegion **out, int32_t flags) {
  return FindClipRegion(ObjectRegistryOf(L), id, out, flags);
}

void DestroyClipRegion(VmState *L, qmClipRegion *region) { DestroyClipRegion(ObjectRegistryOf(L), region); }

void PurgeClipRegions(VmState *L) { PurgeClipRegions(ObjectRegistryOf(L)); }

// The graphics library's reach into the clip regions of the run's object lists.
#pragma once
#include <cstdint>

#include "graphics/clipregion.h"

struct VmState;

// FindClipRegion, DestroyClipRegion and PurgeClipRegions on the registry of L's run.
uint32_t FindClipRegion(VmState *L, const qmObjectId *id, qmClipRegion **out, int32_t flags);
void DestroyClipRegion(VmState *L, qmClipRegion *region);
void PurgeClipRegions(VmState *L);

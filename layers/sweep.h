// Objects kept alive only for the layers that show them: a brush made by CreateLayer, or an
// object the script freed while a layer still showed it, carries the deletion flag and goes
// with the last layer that shows it.
#pragma once
#include <cstdint>

#include "layers/layer.h"

struct qmScene;
struct qmObjectRegistry;

// SweepUnusedObjects flags.
enum : uint32_t {
  SWEEP_BRUSHES = 1,
  SWEEP_ANIMS = 2,
  SWEEP_TEXTOBJECTS = 4,
  SWEEP_BGPICS = 8,
  SWEEP_ALL = 15,
};

// The sweep flag of the objects a layer of that type may keep alive, 0 for none.
uint32_t SweepFlagOfLayerType(int32_t type);
// Whether a layer of any background picture of the object lists but the ignored layer shows the object. A layer
// of a brush part shows its brush; a layer being taken out (NOOBJECT) counts for every type.
bool IsObjectInAnyLayer(const qmObjectRegistry *objects, int32_t type, const qmObjectId *id, const qmLayer *ignore);
// Points every layer that shows the object (type and id as above) at the new id; returns how
// many layers it changed.
int32_t RebindLayerObjects(const qmObjectRegistry *objects, int32_t type, const qmObjectId *from,
                           const qmObjectId *to);
// Frees the flagged objects of the kinds in flags that no layer shows any more. Text objects
// are never flagged for layers yet: their library makes no layers.
void SweepUnusedObjects(qmScene *scene, uint32_t flags);

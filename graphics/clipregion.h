// Clip regions: a rectangle of the output, optionally shaped by a 1-bit mask, that limits
// every blit while it is active. Layers keep regions of their own; a region that a layer
// still uses outlives FreeClipRegion until that layer lets go of it.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"
#include "runtime/objectid.h"

struct qmObjectRegistry;

struct qmClipRegion {
  qmObjectHeader header;  // type QMTYPE_CLIPREGION
  int32_t x, y, width, height;  // the bounding rectangle in the output's coordinates
  qmMask *mask;                 // width x height, owned; null for a plain rectangle
  int32_t maskBytesPerRow;
  int32_t deleted;          // freed by the script while a layer still uses it
  int32_t locked;           // may not be changed (ERR_LOCKEDOBJ)
  int32_t transformedCopy;  // made by TransformClipRegion for a turned layer
  int32_t layerUses;        // layers that clip with this region
};

// A new region of the rectangle (x and y already resolved), shaped by a copy of the mask when
// one is given (the mask's own size is then the region's). A region wholly left of or above
// the output, a size below 1 or above the picture limit gives ERR_WRONGUSAGE; a negative x or
// y is cut to 0 and the size shrinks with it. 0, ERR_WRONGUSAGE or ERR_MEM.
uint32_t NewClipRegion(int32_t x, int32_t y, int32_t width, int32_t height, const qmMask *mask, qmClipRegion **out);

// Lookup flags of FindClipRegion.
enum : int32_t {
  FINDCLIP_CHANGE = 1,          // refuse a locked region
  FINDCLIP_DELETED = 2,         // also find regions awaiting deletion
};
// ERR_FINDARRAY for an automatic id, ERR_FINDCLIPREGION with the number, ERR_LOCKEDOBJ.
uint32_t FindClipRegion(const qmObjectRegistry *objects, const qmObjectId *id, qmClipRegion **out, int32_t flags);

// Frees the mask and the user data (whose values belong to the run of the registry, which may be
// null for a region that never had any); the caller frees the record.
void FreeClipRegionData(qmObjectRegistry *objects, qmClipRegion *region);
// Unlinks and frees the region whole.
void DestroyClipRegion(qmObjectRegistry *objects, qmClipRegion *region);
// Frees every region awaiting deletion that no layer uses any more.
void PurgeClipRegions(qmObjectRegistry *objects);

// A new region for a layer turned by the matrix about the anchor (fractions of the region's
// size), flagged as a transformed copy and not listed; null without memory.
qmClipRegion *TransformClipRegion(const qmClipRegion *region, double anchorX, double anchorY, const double m[4]);

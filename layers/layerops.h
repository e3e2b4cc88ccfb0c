// Adding, moving and taking out layers of the current background picture.
#pragma once
#include <cstdint>

#include "layers/layer.h"
#include "layers/redraw.h"

struct qmScene;


// AddLayer flags.
enum : uint32_t {
  ADDLAYER_HIDDEN = 1,
  ADDLAYER_RENDERSCALED = 2,
  ADDLAYER_INSERT = 4,
  ADDLAYER_REPLACE = 8,
};

// Makes a layer of the object drawn at (x, y) with its image of width x height and links it
// into the current picture's list at position (-1 or 0 top, 1 bottom, n: the n-th). The planes
// and the state record belong to AddLayer from the call on, also when it fails: then they are
// freed and the list is as before. 0 or ERR_MEM, ERR_NAMETOOLONG, ERR_NAMEUSED.
uint32_t AddLayer(qmScene *scene, int32_t type, const qmObjectId *id, int32_t x, int32_t y, int32_t width,
                  int32_t height, const qmTransform *transform, qmDisplayTags *tags, const qmPlaneSet &planes,
                  qmLayerState *state, int32_t position, uint32_t flags);
// Refreshes the layer's area without it (into the batch when one is given), deletes its
// button, frees it and unlinks it. bounds (x, y, width, height) may be null.
void DestroyLayer(qmScene *scene, qmLayer *layer, int32_t noRefresh, int32_t *bounds, qmDirtyRectList *batch);
// PlaceLayer flags: the coordinate is added to the requested position.
enum : uint32_t {
  PLACE_RELATIVEX = 1,
  PLACE_RELATIVEY = 2,
};
// Moves the layer so that its requested position becomes (x, y) (kKeepPosition keeps a
// coordinate), moving every distinct state. The rectangle it left and the one it covers now
// (widened to formerSize {width, height} when given, and to the bounds with shadow and border)
// go into the batch when one is given, else are refreshed; returnOnly refreshes nothing.
void PlaceLayer(qmScene *scene, qmLayer *layer, const int32_t *formerSize, int32_t x, int32_t y,
                int32_t returnOnly, uint32_t flags, qmDirtyRectList *batch);

// The rectangle a layer covered before its image changed; width -1 stands for the new one.
struct qmFormerRect {
  int32_t x, y, width, height;
  int32_t noRefresh;
};
// ReplaceLayerImage flags: a line keeps its state's position.
enum : uint32_t { REPLACE_KEEPLINEPOS = 64 };
// Gives the layer's current state a new image (bitmap, mask, alpha, owned by the state from the
// call on; a null bitmap keeps the old image) of width x height at (x, y), renews its caches and
// refreshes the old and new rectangles together.
void ReplaceLayerImage(qmScene *scene, qmLayer *layer, qmFormerRect *former, int32_t x, int32_t y, int32_t width,
                       int32_t height, qmBitmap *bitmap, qmMask *mask, qmAlphaChannel *alpha, uint32_t flags);

// The layer's own picture becomes planes (of the size it showed) and the picture it showed
// goes back in *planes, without a copy (empty when it was a lent frame, which stays the
// anim's); then as RenewLayerPicture. 0 or the render's error.
uint32_t SwapLayerPicture(qmScene *scene, qmLayer *layer, qmPlaneSet *planes, int32_t noRefresh);
// After the layer's own picture changed (its size kept): what was made of it (turned, filtered,
// bordered) is made anew and the layer refreshed unless noRefresh. 0 or the render's error.
uint32_t RenewLayerPicture(qmScene *scene, qmLayer *layer, int32_t noRefresh);

// Exchanges the layers at the two positions: 0 or ERR_LAYERRANGE.
uint32_t SwapLayerPositions(qmScene *scene, int32_t pos1, int32_t pos2);
// The level-th most recent layer (1 the top-most) of that type made for that object, or null.
qmLayer *FindObjectLayer(const qmBGPic *pic, int32_t type, const qmObjectId *id, int32_t level);

// Layers may be used on the scene's current display: not while a Select* target takes the
// drawing, and only with layers on. 0 or ERR_SELECTANIM, ERR_SELECTBRUSH, ERR_SELECTMASK,
// ERR_SELECTALPHACHANNEL, ERR_NOLAYERS.
uint32_t LayerGuard(const qmScene *scene);
// LayerGuard, then the layer at the 1-based position of the scene's picture: 0, LayerGuard's
// errors or ERR_LAYERRANGE.
uint32_t FindGuardedLayer(const qmScene *scene, int32_t position, qmLayer **out);
// Draws the object (a brush) as a layer at the position (0 the top; past the top clamped),
// without drawing it directly; refreshes its box unless noRefresh or hidden. The new layer is
// handed back when out is given. 0, ERR_INVINSERT, ERR_WRONGUSAGE for other types, the
// lookup's and the drawing's errors.
uint32_t InsertObjectLayer(qmScene *scene, int32_t position, int32_t type, const qmObjectId *id, int32_t x, int32_t y,
                           int32_t noRefresh, int32_t hidden, qmLayer **out);


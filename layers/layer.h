// The layer record and the layer list of a background picture. With layers on, every drawn
// object is kept as a layer, and the picture on the display is composed from the background
// and the layers, bottom (position 1) to top.
#pragma once
#include <cstdint>

#include "display/bgpic.h"
#include "display/displaytags.h"
#include "graphics/shape_draw.h"

struct qmScene;
struct qmObjectRegistry;
struct qmClipRegion;
struct qmTextRequest;
struct qmPathLayerData;

inline constexpr int32_t kMaxLayerName = 255;
inline constexpr int32_t kMaxLayerGroup = 64;
// Layer positions and shadow displacements are cut to this many pixels either way, so that the
// picture code can add sizes to them without overflow.
inline constexpr int64_t kPositionLimit = 1 << 28;

// Where a layer is and what it has cached. Every image set is owned by the state, but for an
// own picture lent by an anim (ownLent).
struct qmLayerState {
  qmPlaneSet own;          // the layer's own picture
  // 1: own holds the planes of frame `frame` of the layer's anim, which the anim keeps; the
  // state neither frees nor draws into them (CopyLentPicture first).
  int32_t ownLent;
  qmPlaneSet transformed;  // null: untransformed
  qmPlaneSet filtered;     // cache
  qmPlaneSet border;       // cache
  qmAlphaChannel *shadowAlpha;
  qmClipRegion *clip;
  int32_t requestedX, requestedY;
  int32_t objectWidth, objectHeight;
  int32_t x, y;  // on-screen top-left corner of the image
  int32_t anchoredX, anchoredY;
  int32_t width, height;  // on-screen size of the image
  int32_t borderOffsetX, borderOffsetY;
  int32_t borderWidth, borderHeight;
  int32_t partX, partY;  // brush and picture parts: the part's origin inside the object
  // Shapes (BOX .. ARC): drawn with this fill style (DRAWFILL_*) and colour; shapeData is 1 when
  // they are known. A line keeps its end points, which move with the layer.
  int32_t shapeData, fillStyle;
  uint32_t shapeColor;
  int32_t lineX1, lineY1, lineX2, lineY2;
  // Text layers (TEXTOUT, PRINT): the layer's own copy of the request it was drawn from, at the
  // resolved position and with the picture's size; TEXTOBJECT: only the position and the
  // object's size in its first four words. Null for other layers. Freed with the state.
  qmTextRequest *textRequest;
  // The rest of what the shape command was given; its vertex array belongs to this record.
  qmShapeLayerData shape;
  // Anim layers: the frame shown (from 1, its picture is own, lent or not), the anim's frame
  // count then and the frame's delay in milliseconds.
  int32_t frame, frameCount;
  uint32_t frameDelay;
  // Path layers: the path it is drawn again from when transformed (base state only; owned).
  qmPathLayerData *path;
};

struct qmLayer {
  qmLayer *next, *pred;  // list links; the header is both sentinels
  int32_t type;          // QMTYPE_*; NOOBJECT while the layer is being taken out
  qmObjectId object;     // what the layer shows
  qmObjectId origin;     // the id the drawing command was given; never rebound
  int32_t hidden;
  int32_t deferred;      // drawn into a picture selected with SelectBGPic: shown at EndSelect
  int32_t transparency;  // 0 opaque .. 255 invisible
  char *name;            // null when unnamed
  char group[kMaxLayerGroup];
  int32_t nocliptransform;
  qmTransform transform;
  double anchorX, anchorY;
  qmShadowBlock shadow;
  int32_t shadowFade;
  qmBorderBlock border;
  int32_t borderFade;
  qmFilterSlot filters[kFilterSlotCount];
  int32_t shapeFilters;
  void *userData;
  qmLayerState *base, *unscaled, *current;
};

// The list: the header's middle word is the end node's successor, the header itself the
// first node's predecessor. A header whose first pointer is still null reads as empty too.
bool LayerListEmpty(const qmBGPic *pic);
qmLayer *FirstLayer(const qmBGPic *pic);  // null when empty
qmLayer *LastLayer(const qmBGPic *pic);   // null when empty
// The layer after (above) or before (below) the given one, null at the ends.
inline qmLayer *LayerAbove(const qmLayer *l) { return l->next && l->next->next ? l->next : nullptr; }
inline qmLayer *LayerBelow(const qmLayer *l) { return l->pred && l->pred->pred ? l->pred : nullptr; }
void LinkLayerAtHead(qmBGPic *pic, qmLayer *layer);
void LinkLayerAtTail(qmBGPic *pic, qmLayer *layer);
void LinkLayerAfter(qmLayer *after, qmLayer *layer);
void UnlinkLayer(qmLayer *layer);

int32_t CountLayers(const qmBGPic *pic);
qmLayer *GetNthLayer(const qmBGPic *pic, int32_t n);  // 1-based; null out of range
int32_t FindLayerIndex(const qmBGPic *pic, const qmLayer *layer);  // -1 when absent
// 1-based position of the first layer of that name (any case), 0 when none.
int32_t FindLayerByName(const qmBGPic *pic, const char *name);
// A fresh copy of the name after the checks: ERR_NAMETOOLONG, ERR_NAMEUSED, ERR_MEM.
uint32_t SetLayerNameChecked(const qmBGPic *pic, qmLayer *layer, const char *name);
// 1 when the layer moved to the position (1 bottom, 0 or past the end top), 0 when it was
// there already.
int32_t MoveLayerToPos(qmBGPic *pic, qmLayer *layer, int32_t position);

// Calls f with each distinct state record of the layer once (base, unscaled, current may be
// one record); the three are read before the first call, so f may free them.
template <typename F>
void ForEachLayerState(qmLayer *layer, F f) {
  qmLayerState *states[3] = {layer->base, layer->unscaled, layer->current};
  for (int i = 0; i < 3; i++) {
    if (!states[i] || (i >= 1 && states[i] == states[0]) || (i == 2 && states[i] == states[1])) continue;
    f(states[i]);
  }
}

// The state lets go of its own picture: freed when it is the state's, left to the anim when lent.
void DropOwnPicture(qmLayerState *state);
// A lent own picture becomes a copy of the state's own, to be changed or kept past the anim's
// frames. 0 or ERR_MEM (still lent).
uint32_t CopyLentPicture(qmLayerState *state);
// Frees what one state owns (image sets, a private clip region, a polygon's vertices); the
// record stays.
void FreeLayerStateImages(qmLayerState *state);
// Planes of width x height that show nothing (every pixel, mask bit and alpha value 0): a
// bitmap with a mask and an alpha channel as asked. false, *out empty, when one cannot be made.
bool AllocClearedPlanes(int32_t width, int32_t height, bool withMask, bool withAlpha, qmPlaneSet *out);
// Frees the images made from a state's picture (filtered copy, border, shadow), to be made
// again from what the state holds now.
void DropDerivedImages(qmLayerState *state);
// to := from with a vertex array of its own (to's old one is not freed). 0 or ERR_MEM (to then
// has no vertices).
uint32_t CopyShapeData(const qmShapeLayerData *from, qmShapeLayerData *to);
// The state stops using a region of the picture (the region's layer count goes down); a region
// the script freed goes from the object lists with its last user.
void ReleaseLayerClip(qmObjectRegistry *objects, qmLayerState *state);
// Frees one state record: its clip region reference, images and text request.
void FreeLayerState(qmObjectRegistry *objects, qmLayerState *state);
// Frees each distinct state record with its images, the name and the user data.
void FreeLayerContents(qmObjectRegistry *objects, qmLayer *layer);
// Takes every layer of the picture out and frees it (NOOBJECT layers without their states).
void FreeBGPicLayers(qmScene *scene, qmBGPic *pic);

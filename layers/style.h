// The layer style engine: everything a script may change on an existing layer (placement,
// anchor, z position, transform, look, filters, shadow, border, clip region and what it shows)
// is one change record, applied by one routine.
#pragma once
#include <cstdint>

#include "layers/layer.h"
#include "layers/redraw.h"

struct qmScene;
struct qmTextRequest;

// One style table read for one layer: the layer's look and transform as they are to become,
// and what changed.
struct qmStyleChange {
  qmLayer look;           // copy of the layer: hidden, transparency, shadow, border, filters, anchor
  qmTransform transform;  // copy of the layer's transform
  int32_t x, y;           // kKeepPosition keeps a coordinate
  int32_t relativeX, relativeY;
  int32_t positionGiven, anchorGiven;
  int32_t lookChanged, transformChanged, clipChanged;
  int32_t z;  // 0: not given
  int32_t clipGiven;  // with clip null: the layer's clip region is dropped
  qmClipRegion *clip;
  // What the layer shows: another brush or background picture, or another part of it.
  int32_t contentChanged;
  int32_t type;
  qmObjectId object;
  int32_t partX, partY, partWidth, partHeight;
  // Shapes: the new shape data (its vertices owned by the change when given, else null), colour,
  // box size, line ends, and how far new vertices move the position.
  qmShapeLayerData shape;
  uint32_t shapeColor;
  int32_t boxWidth, boxHeight;
  int32_t lineX1, lineY1, lineX2, lineY2;
  int32_t vertexOffsetX, vertexOffsetY;
  // Anim layers: another anim, of any size (animGiven), and the frame to show (frameGiven;
  // from 1, 0 the next, -1 the last; another anim starts at 1 without one).
  int32_t animGiven, frameGiven, frame;
  // Path layers: the path, colour, draw style and stroke settings to draw anew (owned), or null.
  qmPathLayerData *path;
  // Text blocks (TEXTOUT, PRINT): the request to set anew (owned, with its text), or null; with
  // cursorGiven a PRINT block is placed at the request's cursor, else where the layer is.
  qmTextRequest *text;
  int32_t cursorGiven;
  // Text object layers: another text object (object) shown.
  int32_t textObjectGiven;
};

// Frees what the change owns (new vertices); the record stays.
void FreeStyleChange(qmStyleChange *change);

// A change that changes nothing, from the layer as it is.
void InitStyleChange(const qmLayer *layer, qmStyleChange *change);

// Applies the change to a layer of the scene's picture; the rectangles to refresh go into the
// batch. 0 or an error code; the layer keeps what was written before the error.
uint32_t ApplyStyleChange(qmScene *scene, qmLayer *layer, const qmStyleChange &change,
                          qmDirtyRectList *batch);

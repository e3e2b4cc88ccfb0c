// The layer style engine: everything a script may change on an existing layer (placement,
// anchor, z position, transform, look, filters, shadow, border, clip region and what it shows)
// goes through one reader of style tables and one routine that applies a change.
#pragma once
#include <cstdint>

#include "layers/layer.h"
#include "layers/redraw.h"

struct VmState;
struct qmDrawStyle;

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
};

// Frees what the change owns (new vertices); the record stays.
void FreeStyleChange(qmStyleChange *change);

// A change that changes nothing, from the layer as it is.
void InitStyleChange(const qmLayer *layer, qmStyleChange *change);

// Reads the style table at stack index t for the layer into change; content keys only with
// single (one layer selected). 0 or the first bad key's error.
uint32_t ReadLayerStyle(VmState *L, int32_t t, const qmLayer *layer, int32_t single, qmStyleChange *change);

// Applies the change; the rectangles to refresh go into the batch. 0 or an error code; the
// layer keeps what was written before the error.
uint32_t ApplyStyleChange(VmState *L, qmLayer *layer, const qmStyleChange &change, qmDirtyRectList *batch);

// The script arguments first, first + 1, ... (count of them) as pairs (layer, style table).
// Unless noFinalRefresh, the collected rectangles are refreshed at the end (or, while a
// background picture is selected, handed to its display's dirty list). 0 or an error code.
uint32_t ApplyLayerStyle(VmState *L, int32_t first, int32_t count, int32_t noFinalRefresh);

// Moves the layer to (x, y) and shows that frame (for the movers and frame steppers).
uint32_t SetLayerPosFrame(VmState *L, qmLayer *layer, int32_t x, int32_t y, int32_t frame, int32_t noFinalRefresh);

// The draw-style keys of a shape's style table into the draw style: "formstyle" (the normal bit
// alone resets the form bits; the shadow and edge bits switch the layer's shadow and border on
// and set *changed), "formstyleclear", "fillstyle", the gradient keys (with a gradient fill its
// option keys too) and the texture keys. *styleGiven := 1 when a key other than the shadow and
// edge bits was given. layer may be null. 0 or an error code.
uint32_t ReadFormStyleOptions(VmState *L, qmLayer *layer, int32_t t, qmDrawStyle *style, int32_t *styleGiven,
                              int32_t *changed);
// The same keys written from the draw style into the table on the stack top.
void WriteFormStyleFields(VmState *L, const qmDrawStyle *style);

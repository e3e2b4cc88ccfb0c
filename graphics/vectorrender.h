// Paths turned into pictures through the vector plug-in: the picture's size from the path's
// extents, its colour, gradient or texture from the draw style, and its coverage drawn by the
// plug-in into the picture's alpha channel.
#pragma once
#include <cstdint>

#include "graphics/draw_style.h"
#include "graphics/shape_render.h"
#include "graphics/vectorpath.h"

// What a path is drawn with; the style's anti-alias switch comes from the draw style.
struct qmPathPicture {
  const qmVectorEngine *engine;
  const uint8_t *commands;  // null: an empty path
  const qmVectorState *state;
  const qmDrawStyle *drawStyle;
  uint32_t color;            // 0xTTRRGGBB: TT a transparency (0 opaque)
  const qmBitmap *texture;   // the brush picture of a texture fill, or null (the colour then)
  // The drawing's 2x2 matrix (x' = m0 x + m2 y, y' = m1 x + m3 y) turning the path's box about
  // its anchor (fractions of the box); null: upright.
  const double *matrix;
  double anchorX, anchorY;
};

// The path's box as the draw style strokes, edges or fills it: the plug-in's extents. 0, or
// ERR_DRAWPATH when the plug-in refuses or answers a box that cannot be placed.
uint32_t MeasurePath(const qmPathPicture *p, double box[4]);
// Where the path's upright box lies in its picture: its corner from the picture's top-left (the
// shadow's room before it, and how far a matrix turns the box out of its place) and its size.
struct qmPathBox {
  int32_t x, y, width, height;
};
// The picture of the path with the draw style's edge and drop shadow: out->bitmap and
// out->alpha new, (out->x, out->y) the picture's top-left in the path's own coordinates (whole
// pixels). 0, ERR_EMPTYPATH (no commands, or a box under half a pixel), ERR_MEM (also for a box
// beyond the largest picture), ERR_WRONGUSAGE (a matrix or anchor that is no number) or
// ERR_DRAWPATH (the plug-in refuses, or answers a box that is no number or lies beyond +-2^30).
uint32_t RenderPathPicture(const qmPathPicture *p, qmShapeImage *out, qmPathBox *upright);
// The border of the path's picture: the path stroked 2 x size wide in rgb (its dashes, joins
// and caps kept; a filled path's inside covered as well), placed against the picture that
// RenderPathPicture makes of p: out->x, out->y say how far the border reaches left of and above
// that picture. out->bitmap and out->alpha new. 0, ERR_EMPTYPATH, ERR_MEM or ERR_DRAWPATH.
uint32_t RenderPathOutline(const qmPathPicture *p, uint32_t rgb, int32_t size, qmShapeImage *out);

// What a path layer keeps to draw its path again at any transform: its own copies of the
// stream (with its end word) and of the dash list, the settings, draw style and colour.
struct qmPathLayerData {
  uint8_t *commands;
  uint32_t bytes;
  qmVectorState settings;  // dashes owned
  qmDrawStyle style;
  uint32_t color;
  // How the layer finds the vector plug-in to draw the path again with; null: none.
  int (*findEngine)(qmVectorEngine *out);
};
// A copy with a stream and dash list of its own: 0 or ERR_MEM (*out null).
uint32_t CopyPathLayerData(const qmPathLayerData *from, qmPathLayerData **out);
void FreePathLayerData(qmPathLayerData *data);

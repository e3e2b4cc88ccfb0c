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
};

// The path's box as the draw style strokes, edges or fills it: the plug-in's extents. 0, or
// ERR_DRAWPATH when the plug-in refuses.
uint32_t MeasurePath(const qmPathPicture *p, double box[4]);
// The picture of the path with the draw style's edge and drop shadow: out->bitmap and
// out->alpha new, (out->x, out->y) the picture's top-left in the path's own coordinates (whole
// pixels), offset where the path's box begins inside the picture (the shadow's room before it).
// 0, ERR_EMPTYPATH (no commands, or a box under half a pixel), ERR_MEM (also for a box beyond
// the largest picture) or ERR_DRAWPATH.
uint32_t RenderPathPicture(const qmPathPicture *p, qmShapeImage *out, int32_t offset[2]);

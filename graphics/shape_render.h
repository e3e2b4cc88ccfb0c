// Shape images: a prepared shape with its fill, edge and drop shadow rendered into a private
// picture (a bitmap with a mask, or with an alpha channel where anything is partly transparent),
// and the one-pixel lines and single pixels that go straight into a target.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"
#include "graphics/shape_geometry.h"

struct qmShapeImage {
  qmBitmap *bitmap;
  qmMask *mask;            // or null
  qmAlphaChannel *alpha;   // or null
  int32_t x, y;            // where the image goes on the output
};
void FreeShapeImage(qmShapeImage *image);
// Moves the image's pixels and alpha toward the colour (or the fill picture's pixel, a picture
// of the image's size) at level by each coverage byte: a full coverage replaces what is there,
// so a transparent fill cuts a hole in an edge beneath it.
void CoverShapeImage(qmShapeImage *img, const qmAlphaChannel *cov, uint32_t rgb, int32_t level, const qmBitmap *fill);

// Renders the request (position resolved, style copied) into a new image. texture is the brush
// picture of a texture fill (null: none found, the caller reports it). 0 or ERR_MEM.
uint32_t RenderShapeImage(qmShapeRequest *req, const qmBitmap *texture, qmShapeImage *out);
// A line thicker than one pixel, or anti-aliased, from (x1, y1) to (x2, y2) in an image of its
// own: 0 or ERR_MEM. A view of width above 0 bounds the image to what can show there: the view
// grown by grow on every side (a line far longer than the display needs no picture of its
// whole box); a line that misses it gets a 1 x 1 image with nothing on it.
struct qmLineView {
  int32_t width, height, grow;
};
// The room beyond a line layer's visible part that its shadow (moved by size, blurred by radius
// and sigma) and border take: the picture keeps that much more of the line.
int32_t LineEffectsRoom(int32_t shadowOn, int32_t shadowSize, double radius, double sigma, int32_t borderOn,
                        int32_t borderSize);
uint32_t RenderLineImage(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color, int32_t thickness,
                         int32_t antialias, const qmLineView *view, qmShapeImage *out);

// Where direct drawing goes: a bitmap and the selected planes, cut to the clip rectangle (and
// the clip region's mask).
struct qmDrawTarget {
  qmBitmap *bitmap;
  qmMask *mask;
  qmAlphaChannel *alpha;
  int32_t clipX, clipY, clipWidth, clipHeight;
  const qmMask *clipMask;
  int32_t maskMode;
  int32_t alphaValue;  // the level for a selected alpha channel alone; -1: from the colour
};
// A one-pixel line straight into the target, both ends included; anti-aliased on request.
void DrawTargetLine(const qmDrawTarget *t, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color,
                    int32_t antialias);
// One pixel; the colour's alpha byte mixes it with what is there.
void DrawTargetPixel(const qmDrawTarget *t, int32_t x, int32_t y, uint32_t color);
// A shape without edge, shadow, gradient or texture goes straight into the target through its
// coverage: only the part near the clip rectangle is rasterised. *drawn gets the rectangle that
// may have changed (width 0: none). 0 or ERR_MEM.
struct qmDrawnRect {
  int32_t x, y, width, height;
};
bool CanDrawShapeDirect(const qmShapeRequest *req);
uint32_t DrawShapeDirect(qmShapeRequest *req, const qmDrawTarget *t, qmDrawnRect *drawn);
// A thick or anti-aliased line likewise.
uint32_t DrawLineDirect(const qmDrawTarget *t, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color,
                        int32_t thickness, int32_t antialias, qmDrawnRect *drawn);
// Coverage bytes c[0..n) laid on stored pixels at full strength: 0 keeps the pixel, 255 writes
// `pixel`, anything else moves each colour byte d toward the pixel's as d + (((p - d) * c) >> 8)
// and keeps the fourth byte. The scalar twin is the reference the vector path must match.
void CoverPixels(uint32_t *row, const uint8_t *c, int64_t n, uint32_t pixel);
void CoverPixelsScalar(uint32_t *row, const uint8_t *c, int64_t n, uint32_t pixel);
// A plain filled rectangle, cut to the target's clip rectangle (no clip mask).
void FillTargetRect(const qmDrawTarget *t, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t color);

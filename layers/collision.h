// Whether two objects touch: by their rectangles, or pixel by pixel through their masks, alpha
// channels and the masks of the clip regions they are drawn through.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"

// One side of a collision test: the on-screen rectangle, the planes (either may be null: the
// object is then a solid rectangle), where the rectangle's corner lies inside the planes, and
// an optional clip mask with the screen position of its corner.
struct qmCollisionObject {
  int32_t x = 0, y = 0, width = 0, height = 0;
  const qmMask *mask = nullptr;
  const qmAlphaChannel *alpha = nullptr;
  int32_t imageX = 0, imageY = 0;
  const qmMask *clipMask = nullptr;
  int32_t clipX = 0, clipY = 0;
};

// 1 unless one box lies wholly right of or below the other (inclusive edges).
int32_t BoxCollision(int32_t x1, int32_t y1, int32_t w1, int32_t h1, int32_t x2, int32_t y2, int32_t w2, int32_t h2);
// 1 when some pixel of the overlap is set in every plane that takes part (masks by bit, alpha
// channels by a non-zero byte, clip masks by bit); 1 when no plane takes part and the boxes
// overlap; 0 otherwise.
int32_t PixelCollision(const qmCollisionObject &a, const qmCollisionObject &b);

struct qmLayer;
struct qmLayerState;
struct qmPlaneSet;

// The layer as a collision object: its current box and the planes it shows.
void LayerCollisionObject(const qmLayer *layer, qmCollisionObject *out);
// Whether the picture point lies on the layer's current box and, with pixelExact, on a pixel
// that its mask or alpha channel shows (an image without either is solid; a layer without an
// image is missed).
int32_t LayerPixelTest(const qmLayer *layer, int32_t x, int32_t y, int32_t pixelExact);

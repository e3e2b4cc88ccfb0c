#include "layers/collision.h"

#include <algorithm>

#include "graphics/alpha_kernels.h"
#include "graphics/clipregion.h"
#include "layers/layer.h"
#include "layers/layerimage.h"

int32_t BoxCollision(int32_t x1, int32_t y1, int32_t w1, int32_t h1, int32_t x2, int32_t y2, int32_t w2, int32_t h2) {
  // 64-bit edges: a box at the far end of the int32 range must not wrap round.
  if (int64_t(x2) > int64_t(x1) + w1 - 1 || int64_t(x1) > int64_t(x2) + w2 - 1) return 0;
  if (int64_t(y2) > int64_t(y1) + h1 - 1 || int64_t(y1) > int64_t(y2) + h2 - 1) return 0;
  return 1;
}

namespace {

// The byte row of a plane for screen row y of an object whose plane corner is at (ox, oy);
// null when the row lies outside the plane (a pixel there counts as not set).
const uint8_t *PlaneRow(const qmMask *plane, int64_t y, int64_t oy) {
  const int64_t row = y - oy;
  if (row < 0 || (plane->height > 0 && row >= plane->height)) return nullptr;
  return plane->memory + row * plane->bytesPerRow;
}

bool PlaneColumnInside(const qmMask *plane, int64_t col, bool bits) {
  if (col < 0) return false;
  if (plane->width > 0) return col < plane->width;
  return bits ? col < int64_t(plane->bytesPerRow) * 8 : col < plane->bytesPerRow;
}

struct Voter {
  const qmMask *plane;
  bool bits;          // 1 bit per pixel, else one byte
  int64_t ox, oy;     // screen position of the plane's corner
  const uint8_t *row;
};

}  // namespace

int32_t PixelCollision(const qmCollisionObject &a, const qmCollisionObject &b) {
  if (a.width < 1 || a.height < 1 || b.width < 1 || b.height < 1) return 0;
  if (!BoxCollision(a.x, a.y, a.width, a.height, b.x, b.y, b.width, b.height)) return 0;
  const int64_t x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
  const int64_t x1 = std::min(int64_t(a.x) + a.width, int64_t(b.x) + b.width);
  const int64_t y1 = std::min(int64_t(a.y) + a.height, int64_t(b.y) + b.height);

  Voter voters[6];
  int n = 0;
  for (const qmCollisionObject *o : {&a, &b}) {
    // The picture's corner on screen: the rectangle's corner less the offset inside the picture.
    const int64_t ox = int64_t(o->x) - o->imageX, oy = int64_t(o->y) - o->imageY;
    if (o->mask) voters[n++] = {o->mask, true, ox, oy, nullptr};
    if (o->alpha) voters[n++] = {o->alpha, false, ox, oy, nullptr};
    if (o->clipMask) voters[n++] = {o->clipMask, true, o->clipX, o->clipY, nullptr};
  }
  if (n == 0) return 1;
  for (int64_t y = y0; y < y1; y++) {
    bool rowPossible = true;
    for (int i = 0; i < n; i++) {
      voters[i].row = PlaneRow(voters[i].plane, y, voters[i].oy);
      if (!voters[i].row) rowPossible = false;
    }
    if (!rowPossible) continue;
    for (int64_t x = x0; x < x1; x++) {
      int votes = 0;
      for (int i = 0; i < n; i++) {
        const Voter &v = voters[i];
        const int64_t col = x - v.ox;
        if (!PlaneColumnInside(v.plane, col, v.bits)) break;
        if (v.bits ? GetMaskBit(v.row, int32_t(col)) : v.row[col] != 0) votes++;
        else break;
      }
      if (votes == n) return 1;
    }
  }
  return 0;
}

void LayerCollisionObject(const qmLayer *layer, qmCollisionObject *out) {
  const qmLayerState *s = layer->current;
  *out = {};
  out->x = s->x, out->y = s->y, out->width = s->width, out->height = s->height;
  if (const qmPlaneSet *img = StatePicture(s, 1, 1)) out->mask = img->mask, out->alpha = img->alpha;
  // Drawn through a clip region: only the part inside its box counts, and its mask votes.
  if (const qmClipRegion *c = s->clip) {
    const int64_t x0 = std::max(s->x, c->x), y0 = std::max(s->y, c->y);
    const int64_t x1 = std::min(int64_t(s->x) + s->width, int64_t(c->x) + c->width);
    const int64_t y1 = std::min(int64_t(s->y) + s->height, int64_t(c->y) + c->height);
    out->imageX = int32_t(x0 - s->x), out->imageY = int32_t(y0 - s->y);
    out->x = int32_t(x0), out->y = int32_t(y0);
    out->width = x1 > x0 ? int32_t(x1 - x0) : 0, out->height = y1 > y0 ? int32_t(y1 - y0) : 0;
    out->clipMask = c->mask, out->clipX = c->x, out->clipY = c->y;
  }
}

int32_t LayerPixelTest(const qmLayer *layer, int32_t x, int32_t y, int32_t pixelExact) {
  if (!layer->current) return 0;
  if (pixelExact && !StatePicture(layer->current, 1, 1)) return 0;
  qmCollisionObject shape;
  LayerCollisionObject(layer, &shape);
  // Without pixelExact only the box and the clip region decide.
  if (!pixelExact) shape.mask = shape.alpha = nullptr;
  const qmCollisionObject point{x, y, 1, 1, nullptr, nullptr, 0, 0, nullptr, 0, 0};
  return PixelCollision(point, shape);
}

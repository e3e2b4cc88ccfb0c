#include "graphics/clipregion.h"

#include <cmath>

#include "graphics/blit.h"
#include "graphics/bitmapops.h"
#include "graphics/geometry.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"

uint32_t NewClipRegion(int32_t x, int32_t y, int32_t width, int32_t height, const qmMask *mask, qmClipRegion **out) {
  *out = nullptr;
  if (width < 1 || height < 1 || width > QM_MAX_PICTURE_SIDE || height > QM_MAX_PICTURE_SIDE) return ERR_WRONGUSAGE;
  if (int64_t(x) + width < 1 || int64_t(y) + height < 1) return ERR_WRONGUSAGE;
  const int32_t cutX = x < 0 ? -x : 0, cutY = y < 0 ? -y : 0;
  auto *r = static_cast<qmClipRegion *>(MemAlloc(sizeof(qmClipRegion), 1));
  if (!r) return ERR_MEM;
  r->x = x + cutX;
  r->y = y + cutY;
  r->width = width - cutX;
  r->height = height - cutY;
  if (mask) {
    // The region keeps its own copy, without the part cut off at the left and top.
    r->mask = AllocMask(r->width, r->height, 1);
    if (!r->mask) {
      MemFree(r);
      return ERR_MEM;
    }
    CopyMaskRect(mask, cutX, cutY, r->mask, 0, 0, r->width, r->height, 2);
    r->maskBytesPerRow = r->mask->bytesPerRow;
  }
  *out = r;
  return 0;
}

uint32_t FindClipRegion(const qmObjectRegistry *objects, const qmObjectId *id, qmClipRegion **out, int32_t flags) {
  auto *r = reinterpret_cast<qmClipRegion *>(FindObject(objects, QMTYPE_CLIPREGION, id));
  if (r && r->deleted && !(flags & FINDCLIP_DELETED)) r = nullptr;
  if (!r) return MissingObjectError(id, ERR_FINDCLIPREGION);
  if ((flags & FINDCLIP_CHANGE) && r->locked) return ERR_LOCKEDOBJ;
  *out = r;
  return 0;
}

void FreeClipRegionData(qmObjectRegistry *objects, qmClipRegion *region) {
  FreeMask(region->mask);
  region->mask = nullptr;
  FreeObjectDataList(objects, static_cast<qmObjectData *>(region->header.userData));
  region->header.userData = nullptr;
}

void DestroyClipRegion(qmObjectRegistry *objects, qmClipRegion *region) {
  RemoveObject(objects, &region->header);
  FreeClipRegionData(objects, region);
  MemFree(region);
}

void PurgeClipRegions(qmObjectRegistry *objects) {
  for (auto *h = FirstObject(objects, QMTYPE_CLIPREGION); h;) {
    auto *r = reinterpret_cast<qmClipRegion *>(h);
    h = h->next;
    if (r->deleted && r->layerUses == 0) DestroyClipRegion(objects, r);
  }
}

qmClipRegion *TransformClipRegion(const qmClipRegion *region, double anchorX, double anchorY, const double m[4]) {
  auto *t = static_cast<qmClipRegion *>(MemAlloc(sizeof(qmClipRegion), 1));
  if (!t) return nullptr;
  t->transformedCopy = 1;
  if (region->mask) {
    // A shaped region turns like a picture: its mask goes through the transform.
    qmTransformOutputs outs{};
    if (TransformBitmap(nullptr, region->mask, nullptr, 0, 0, region->width, region->height, m, 0, &outs) != 0) {
      MemFree(t);
      return nullptr;
    }
    t->mask = outs.mask;
    t->maskBytesPerRow = outs.mask->bytesPerRow;
    t->width = outs.mask->width;
    t->height = outs.mask->height;
    // The anchor point stays where it was; the new mask starts at the turned picture's corner.
    const double ax = region->width * anchorX, ay = region->height * anchorY;
    t->x = int32_t(region->x + ax - (m[0] * ax + m[2] * ay) + outs.offsetX);
    t->y = int32_t(region->y + ay - (m[1] * ax + m[3] * ay) + outs.offsetY);
    return t;
  }
  if (m[1] == 0 && m[2] == 0) {
    t->x = int32_t(region->x * m[0]);
    t->y = int32_t(region->y * m[3]);
    t->width = int32_t(region->width * m[0]);
    t->height = int32_t(region->height * m[3]);
    return t;
  }
  GetTransformedRect(region->x, region->y, region->width, region->height, anchorX, anchorY, m, &t->x, &t->y, &t->width,
                     &t->height);
  t->mask = AllocMask(t->width, t->height, 1);
  if (!t->mask) {
    MemFree(t);
    return nullptr;
  }
  t->maskBytesPerRow = t->mask->bytesPerRow;
  // The turned rectangle's corners, relative to the new bounding box.
  const double ax = region->width * anchorX, ay = region->height * anchorY;
  const double cx[4] = {0, double(region->width - 1), double(region->width - 1), 0};
  const double cy[4] = {0, 0, double(region->height - 1), double(region->height - 1)};
  int32_t points[8];
  for (int i = 0; i < 4; i++) {
    double px = cx[i] - ax, py = cy[i] - ay;
    points[2 * i] = int32_t(m[0] * px + m[2] * py + ax + region->x) - t->x;
    points[2 * i + 1] = int32_t(m[1] * px + m[3] * py + ay + region->y) - t->y;
  }
  if (FillMaskPolygon(t->mask, points, 4) != 0) {
    FreeMask(t->mask);
    MemFree(t);
    return nullptr;
  }
  return t;
}

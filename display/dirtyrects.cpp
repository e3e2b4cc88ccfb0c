#include "display/dirtyrects.h"

#include <cstdint>
#include <cstring>

#include "display/display.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

uint32_t ResetDirtyRects(qmDisplay *d) {
  FreeDirtyRects(d);
  d->dirtyRects = static_cast<qmDirtyRect *>(MemAlloc(kDirtyCapacity * sizeof(qmDirtyRect), 0));
  if (!d->dirtyRects) return ERR_MEM;
  d->dirtyCapacity = kDirtyCapacity;
  return 0;
}

bool AllDirty(const qmDisplay *d) { return d->dirtyRects && d->dirtyCount == d->dirtyCapacity; }

void AddDirtyRect(qmDisplay *d, int32_t x, int32_t y, int32_t width, int32_t height, int32_t pictureWidth,
                  int32_t pictureHeight) {
  if (!d->dirtyRects || AllDirty(d) || width < 1 || height < 1) return;
  if ((x <= 0 && y <= 0 && int64_t(x) + width >= pictureWidth && int64_t(y) + height >= pictureHeight) ||
      d->dirtyCount + 1 >= d->dirtyCapacity) {
    d->dirtyCount = d->dirtyCapacity;
    return;
  }
  d->dirtyRects[d->dirtyCount++] = {x, y, int32_t(int64_t(x) + width - 1), int32_t(int64_t(y) + height - 1)};
}

void MergeRectArray(qmDirtyRect *r, int32_t count) {
  for (bool merged = true; merged;) {
    merged = false;
    for (int32_t i = 0; i < count; i++) {
      if (r[i].x1 == kMergedRect) continue;
      for (int32_t j = i + 1; j < count; j++) {
        if (r[j].x1 == kMergedRect) continue;
        // Overlapping or touching, with a gap of at most one pixel.
        if (r[j].x1 > r[i].x2 + 2 || r[i].x1 > r[j].x2 + 2 || r[j].y1 > r[i].y2 + 2 || r[i].y1 > r[j].y2 + 2) continue;
        if (r[j].x1 < r[i].x1) r[i].x1 = r[j].x1;
        if (r[j].y1 < r[i].y1) r[i].y1 = r[j].y1;
        if (r[j].x2 > r[i].x2) r[i].x2 = r[j].x2;
        if (r[j].y2 > r[i].y2) r[i].y2 = r[j].y2;
        r[j].x1 = kMergedRect;
        merged = true;
      }
    }
  }
}

void MergeDirtyRects(qmDisplay *d) {
  if (!d->dirtyRects || AllDirty(d)) return;
  MergeRectArray(d->dirtyRects, d->dirtyCount);
}

void FreeDirtyRects(qmDisplay *d) {
  MemFree(d->dirtyRects);
  d->dirtyRects = nullptr;
  d->dirtyCount = d->dirtyCapacity = 0;
}

void AppendRect(qmDirtyRectList *list, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (list->count >= list->capacity) {
    const int64_t grown = int64_t(list->capacity) + kRectListStep;
    if (grown * int64_t(sizeof(qmDirtyRect)) > INT32_MAX) return;
    auto *entries = static_cast<qmDirtyRect *>(MemAlloc(uint32_t(grown * sizeof(qmDirtyRect)), 0));
    if (!entries) return;  // dropped: the area stays as it is until its next refresh
    if (list->count) std::memcpy(entries, list->entries, size_t(list->count) * sizeof(qmDirtyRect));
    MemFree(list->entries);
    list->entries = entries;
    list->capacity = int32_t(grown);
  }
  list->entries[list->count++] = {x, y, x + width - 1, y + height - 1};
}

void FreeRectList(qmDirtyRectList *list) {
  MemFree(list->entries);
  *list = {};
}

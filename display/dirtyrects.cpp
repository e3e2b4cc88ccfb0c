#include "display/dirtyrects.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "display/display.h"
#include "graphics/cpu.h"
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

#ifdef QM_HAVE_AVX2
// Without room for its columns it leaves the rectangles to the scalar scan, which needs none.
int32_t MergeLiveRectsAvx2(qmDirtyRect *rects, uint8_t *live, int32_t count, int32_t reach);
#endif

int32_t MergeLiveRects(qmDirtyRect *r, uint8_t *live, int32_t count, int32_t reach) {
  // A negative reach could push a bound past int32 on the side no corner meets: scalar then.
  QM_AVX2_RETURN_IF(count > 0 && reach >= 0, MergeLiveRectsAvx2(r, live, count, reach));
  return MergeLiveRectsScalar(r, live, count, reach);
}

int32_t MergeLiveRectsScalar(qmDirtyRect *r, uint8_t *live, int32_t count, int32_t reach) {
  int32_t left = 0;
  for (int32_t i = 0; i < count; i++) {
    if (!live[i]) continue;
    left++;
    qmDirtyRect &a = r[i];
    for (int32_t j = 0; j < count; j++) {
      const qmDirtyRect &b = r[j];
      // In 64 bits: corners far apart must not wrap. One branch for the whole test, as joins are
      // rare and a chain of branches mispredicts.
      const bool hit = (j != i) & (live[j] != 0) & (int64_t(b.x1) - a.x2 <= reach) & (int64_t(a.x1) - b.x2 <= reach) &
                       (int64_t(b.y1) - a.y2 <= reach) & (int64_t(a.y1) - b.y2 <= reach);
      if (!hit) continue;
      a = {std::min(a.x1, b.x1), std::min(a.y1, b.y1), std::max(a.x2, b.x2), std::max(a.y2, b.y2)};
      live[j] = 0;
      if (j < i) left--;  // counted already when its own turn came
    }
  }
  return left;
}

void MergeRectArray(qmDirtyRect *r, int32_t count) {
  if (count < 1) return;
  std::vector<uint8_t> live(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; i++) live[size_t(i)] = r[i].x1 != kMergedRect;
  MergeLiveRects(r, live.data(), count, 1);
  for (int32_t i = 0; i < count; i++)
    if (!live[size_t(i)]) r[i].x1 = kMergedRect;
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

bool IntersectRects(const qmRect &a, const qmRect &b, qmRect *out) {
  const int64_t x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
  const int64_t x1 = std::min(int64_t(a.x) + a.w, int64_t(b.x) + b.w);
  const int64_t y1 = std::min(int64_t(a.y) + a.h, int64_t(b.y) + b.h);
  if (x0 >= x1 || y0 >= y1) return false;
  *out = {int32_t(x0), int32_t(y0), int32_t(x1 - x0), int32_t(y1 - y0)};
  return true;
}

bool ClipRectToPicture(int32_t W, int32_t H, int32_t *x, int32_t *y, int32_t *w, int32_t *h) {
  qmRect r;
  if (!IntersectRects({*x, *y, *w, *h}, {0, 0, W, H}, &r)) return false;
  *x = r.x, *y = r.y, *w = r.w, *h = r.h;
  return true;
}

std::vector<qmDirtyRect> PlanRefresh(const qmDirtyRect *entries, int32_t count, int32_t W, int32_t H) {
  std::vector<qmDirtyRect> plan;
  int64_t pixels = 0;
  qmDirtyRect box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  for (int32_t i = 0; i < count; i++) {
    const qmDirtyRect &r = entries[i];
    if (r.x1 == kMergedRect) continue;
    int32_t x = r.x1, y = r.y1;
    int32_t w = int32_t(std::min<int64_t>(int64_t(r.x2) - r.x1 + 1, INT32_MAX));
    int32_t h = int32_t(std::min<int64_t>(int64_t(r.y2) - r.y1 + 1, INT32_MAX));
    if (!ClipRectToPicture(W, H, &x, &y, &w, &h)) continue;
    plan.push_back({x, y, x + w - 1, y + h - 1});
    pixels += int64_t(w) * h;
    box = {std::min(box.x1, x), std::min(box.y1, y), std::max(box.x2, x + w - 1), std::max(box.y2, y + h - 1)};
  }
  // Each pixel of the box is composed the same from the layers whichever rectangle takes it.
  if (plan.size() > 1 && pixels > int64_t(box.x2 - box.x1 + 1) * (box.y2 - box.y1 + 1)) plan.assign(1, box);
  return plan;
}

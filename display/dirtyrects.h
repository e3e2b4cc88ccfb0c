// The display's list of rectangles that changed and wait for a refresh or a Flip.
#pragma once
#include <cstdint>
#include <vector>

struct qmDisplay;

// Inclusive corners; x1 = kMergedRect marks an entry that a merge took into another.
struct qmDirtyRect {
  int32_t x1, y1, x2, y2;
};
inline constexpr int32_t kMergedRect = 100000;
inline constexpr int32_t kDirtyCapacity = 1024;

// A fresh, empty list of kDirtyCapacity entries (the old one freed): 0 or ERR_MEM.
uint32_t ResetDirtyRects(qmDisplay *display);
// Adds the rectangle x, y, width x height. A full list, or a rectangle covering the whole
// picture of pictureWidth x pictureHeight, marks everything dirty (count = capacity).
void AddDirtyRect(qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height, int32_t pictureWidth,
                  int32_t pictureHeight);
bool AllDirty(const qmDisplay *display);
// One pass over every ordered pair (i, j), i != j, both in list order: a live entry j joins
// the live entry i, which becomes the box of both, when the two overlap or lie at most `reach`
// pixels apart (x1j - x2i <= reach, x1i - x2j <= reach, and so for y); j is then no longer
// live and never joins again. Reach 1 merges touching rectangles, reach 0 only overlapping
// ones. Returns how many are left live.
int32_t MergeLiveRects(qmDirtyRect *rects, uint8_t *live, int32_t count, int32_t reach);
// The same, one pair per step, on any processor: the reference of the vector scan.
int32_t MergeLiveRectsScalar(qmDirtyRect *rects, uint8_t *live, int32_t count, int32_t reach);
// MergeLiveRects with reach 1 over the entries whose x1 is not kMergedRect; an entry taken into
// another gets x1 = kMergedRect.
void MergeRectArray(qmDirtyRect *rects, int32_t count);
void MergeDirtyRects(qmDisplay *display);
void FreeDirtyRects(qmDisplay *display);

// A growing rectangle list (the batch of a command that changes several layers).
struct qmDirtyRectList {
  qmDirtyRect *entries;
  int32_t count, capacity;
};
inline constexpr int32_t kRectListStep = 1024;
// Appends {x, y, x + w - 1, y + h - 1}, growing by kRectListStep entries when full. Without
// memory the rectangle is dropped.
void AppendRect(qmDirtyRectList *list, int32_t x, int32_t y, int32_t width, int32_t height);
void FreeRectList(qmDirtyRectList *list);

// A rectangle by its top-left corner and size.
struct qmRect {
  int32_t x, y, w, h;
};
// The intersection of two rectangles; false when empty.
bool IntersectRects(const qmRect &a, const qmRect &b, qmRect *out);
// Cuts a rectangle to a picture of W x H: false when nothing is left.
bool ClipRectToPicture(int32_t W, int32_t H, int32_t *x, int32_t *y, int32_t *width, int32_t *height);
// The rectangles that bring the entries of a list not taken by a merge to a picture of W x H,
// each cut to it (inclusive corners): the entries themselves, or, when their pixels add up to
// more than the box around them all, that box alone, so that a refresh never composes more
// than the whole picture.
std::vector<qmDirtyRect> PlanRefresh(const qmDirtyRect *entries, int32_t count, int32_t W, int32_t H);

// Where the pixels of a snapshot come from: the window with its frame as the screen shows it,
// the display's own picture, or the whole desktop.
#pragma once
#include <cstdint>

struct qmBitmap;
struct qmDisplay;

enum : int32_t { SNAPWINDOW = 0, SNAPDISPLAY = 1, SNAPDESKTOP = 2 };

struct qmSnapshot {
  const qmBitmap *bitmap;  // the pixels, top-left width x height
  qmBitmap *owned;         // a grabbed bitmap, freed by FreeSnapshot; null when borrowed
  int32_t width, height;
};

// Fills out for the display (the window needs it open): 0, ERR_WRONGUSAGE for an unknown type,
// ERR_CLOSEDDISPDRAW, or ERR_MEM when there are no pixels (the screen cannot be read, or the
// display has no picture).
uint32_t TakeSnapshot(const qmDisplay *display, int32_t type, qmSnapshot *out);
// Whether the display's own picture is its background with layers over it, which no buffer
// holds whole: a snapshot of it is composed afresh.
bool SnapshotComposesLayers(const qmDisplay *display);
// For such a display: a new bitmap of the picture's size, for the layers to be composed into.
// 0 or ERR_MEM.
uint32_t NewLayeredSnapshot(const qmDisplay *display, qmSnapshot *out);
void FreeSnapshot(qmSnapshot *snapshot);

// The one blit every picture takes to the screen or to the current output: clipping against
// the destination and the active clip region, the clip region's mask, the source's mask or
// alpha channel, the selected output planes, and presenting the changed rectangle.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"
#include "graphics/geometry.h"

struct qmDisplay;
struct qmScene;
struct qmClipRegion;

// Flags of SafeBlt.
enum : uint32_t {
  SAFEBLT_NOCLIP = 1,         // only the destination's edges clip, not the region
  SAFEBLT_NOSPRITES = 2,      // skip the sprite check
  SAFEBLT_BACKGROUND = 4,     // the target is the display's background copy
  SAFEBLT_REDRAWLAYERS = 8,   // with layers on and no destination: rebuild from the layers
  SAFEBLT_PIXELSONLY = 16,    // no output planes, no scaled copy; allowed without a display
  SAFEBLT_NOPRESENT = 32,     // do not present
  SAFEBLT_TOBACKGROUND = 64,  // with no destination: draw into the background copy and present
  SAFEBLT_INTARGET = 128,     // the caller wrote the pixels into SafeBltPixelTarget's rectangle; the rest follows
};

struct qmSafeBlt {
  const qmBitmap *src;
  int32_t srcX, srcY;
  qmBitmap *dst;  // null: the scene's current display (or, for a Select* output, only its planes)
  int32_t dstX, dstY;
  int32_t width, height;
  int32_t srcWidth, srcHeight;  // never more than the source bitmap's own size
  int32_t dstWidth, dstHeight;  // never more than the target's own size
  uint32_t flags;
  const qmMask *mask;            // or null
  const qmAlphaChannel *alpha;   // or null
  const qmClipRegion *clip;      // or null
};

// A null scene, or one without a current display, allows SAFEBLT_PIXELSONLY into a given bitmap only.
void SafeBlt(qmScene *scene, const qmSafeBlt *blt);

// The bitmap and clipped rectangle a blit without mask, alpha or clip mask would write its pixels
// into, for a caller that produces them there itself; null when it goes to the window, only to the
// output planes, through a mask, or nowhere.
qmBitmap *SafeBltPixelTarget(qmScene *scene, const qmSafeBlt *blt, qmBlitRect *rect);

// Presents a rectangle of a bitmap in the display's window; with flag 1 a scaled display gets
// the whole bitmap stretched to its scaled size.
void BltToDisplay(const qmBitmap *bitmap, int32_t srcX, int32_t srcY, qmDisplay *display, int32_t dstX, int32_t dstY,
                  int32_t width, int32_t height, uint32_t flags);

// Brings a rectangle of the display's window up to date from the display's buffers: composed
// anew in the layer buffer where something lies over the background, else from the background.
void RefreshDisplayRect(qmScene *scene, int32_t srcX, int32_t srcY, qmDisplay *display, int32_t x, int32_t y,
                        int32_t width, int32_t height);

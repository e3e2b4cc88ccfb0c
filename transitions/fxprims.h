// The drawing operations every effect routine shares: a piece of a picture to the screen, the
// end of a frame, and the clipped copies between pictures.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"

struct qmFxRequest;
struct qmPlaneSet;
struct qmSafeBlt;
struct qmBlitRect;

// Copies the rectangle (srcX, srcY, width x height) of src, a picture of the area's size, to
// (dstX, dstY) of the display (in real-time layer mode to the same place of the layer's planes,
// which then show it; in a hide the new picture's pieces are taken out of the layer instead), through the mask or alpha when given, clipped to the area's
// picture, to the screen and to the picture's active clip region, with the request's blit flags.
void BlitFxToScreen(qmFxRequest *fx, const qmBitmap *src, int32_t srcX, int32_t srcY, int32_t dstX, int32_t dstY,
                    int32_t width, int32_t height, const qmMask *mask, const qmAlphaChannel *alpha);
// The request BlitFxToScreen hands to SafeBlt, for a routine that writes the pixels itself; in
// real-time layer mode it targets the layer's planes, and the frame's end presents what changed.
void FxScreenBlit(qmFxRequest *fx, const qmBitmap *src, int32_t srcX, int32_t srcY, int32_t dstX, int32_t dstY,
                  int32_t width, int32_t height, const qmMask *mask, const qmAlphaChannel *alpha, qmSafeBlt *out);
// The rest of FxScreenBlit's blit b once the routine wrote its pixels into SafeBltPixelTarget's
// rectangle r of target: the output planes, the scaled copy and the present.
void ShowFxPixelTarget(qmFxRequest *fx, qmSafeBlt *b, qmBitmap *target, const qmBlitRect *r);
// A piece of the new picture at (px, py) of the area, to the same place on the screen.
void DrawFxPiece(qmFxRequest *fx, int32_t px, int32_t py, int32_t width, int32_t height);
// Fills (x, y, width x height) of the area with the colour $RRGGBB: straight in the window, or
// on a scaled display in the buffer the frame's end presents.
void ClearFxRect(qmFxRequest *fx, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t rgb);
// The end of every frame routine's frame: a scaled display gets its whole buffer presented
// (the pieces only went into it), unless the frame is re-rendered; frameNo grows by one.
void FxFrameTail(qmFxRequest *fx);
// Real-time layer mode: the layer's own planes the routines draw into; null otherwise.
qmPlaneSet *FxPlanes(qmFxRequest *fx);
// Flags of the pieces drawn into a layer's planes (real-time layer mode).
enum : uint32_t {
  FXPIECE_ERASE = 4,      // the piece becomes transparent in the layer instead of copied
  FXPIECE_NOPRESENT = 8,  // the planes change, the screen not yet
};
// Real-time layer mode: the piece (px, py, width x height) of the new picture into the layer's
// planes (or erased from them), then presented unless FXPIECE_NOPRESENT.
void BlitFxPiece(qmFxRequest *fx, int32_t px, int32_t py, int32_t width, int32_t height, uint32_t flags);
// Brings the screen rectangle up to date with the layers composed over it; a decorated layer's
// whole bounds are redrawn, its border faded to the transition's progress.
void PresentFxRect(qmFxRequest *fx, int32_t x, int32_t y, int32_t width, int32_t height);
// Real-time layer mode: (px, py, width x height) of the area changed in the layer's planes
// outside the primitives (pixels written into FxScreenBlit's target); the frame's end presents it.
void AddFxPending(qmFxRequest *fx, int32_t px, int32_t py, int32_t width, int32_t height);
// bgpicemu: the area of the emulated background picture, its layers composed, into srcImage
// (a picture of the area's size). false when there is none or no memory.
bool RenderEmulatedFxPicture(qmFxRequest *fx);
// Bits of UpdateFxSources.
enum : uint32_t {
  FXSOURCE_OLD = 1,  // the old picture, when the current picture's layers changed
  FXSOURCE_NEW = 2,  // the new picture, when the emulated picture's layers changed
};
// The old and new picture of a transition taken again where the script changed the layers they
// come from since the last frame (the layer itself left out of the old one); the bits done.
uint32_t UpdateFxSources(qmFxRequest *fx, uint32_t flags);
// Real-time layer mode: the planes as they stood before the first frame (nothing of a layer
// brought in, all of one taken away), nothing presented; false outside that mode.
bool ResetFxPlanes(qmFxRequest *fx);
// An 8-bit plane of width x height that shows what the planes show: 255 where the mask is set and
// 0 elsewhere, else a copy of srcAlpha, else 255 throughout.
void FillAlphaFromPlanes(qmAlphaChannel *alpha, const qmMask *mask, const qmAlphaChannel *srcAlpha, int32_t width,
                         int32_t height);
// The old picture under the new one, the new at level / 255 (255: the new alone), over the area;
// work is a picture of the area's size for the mix where the screen takes no pixels directly.
// In real-time layer mode the layer's own picture is shown at that share through its alpha plane.
void MixFxPictures(qmFxRequest *fx, int32_t level, qmBitmap *work);
// A place far beyond the screen shows nothing, wherever it lies: the effect area's place is kept
// within a reach (2^28 either way) to which the routines may add sizes, offsets and steps
// without leaving 32 bits.
inline int32_t FxPlaceWithinReach(int32_t v) {
  constexpr int32_t kReach = 1 << 28;
  return v < -kReach ? -kReach : v > kReach ? kReach : v;
}
// A copy clipped to both bitmaps; negative positions cut the rectangle, never wrap it.
void BltBitmapClipped(const qmBitmap *src, int32_t srcX, int32_t srcY, qmBitmap *dst, int32_t dstX, int32_t dstY,
                      int32_t width, int32_t height);

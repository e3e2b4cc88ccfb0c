// Pixel zoom: the new picture as coarse blocks that grow finer until it is sharp; the two-part
// zoom first coarsens the old picture. The speed plays no part: the frames are always the same.
// Any frame follows from its number alone.
#include "graphics/warp_kernels.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/fxowned.h"
#include "transitions/fxprims.h"
#include "transitions/fxtable.h"

namespace {

// Block sizes run 24 down to 1 (and, coarsening first, 2 up to 24 before).
constexpr int32_t kBlocks = 24;

struct PixelZoomState {
  int32_t counter;       // 1 on the first frame
  qmBitmap *blocks;      // the frame's block picture
  qmMask *mask;          // the block picture's coverage when the new picture has a mask
  qmAlphaChannel *alpha;  // or its alpha plane
};

// A layer taken away through its own planes coarsens until it goes.
bool TakingAway(const qmFxRequest *fx) { return fx->layerTarget && fx->realtime; }
// The two-part zoom; a layer's own planes have no old picture to coarsen, unless the layer stands
// in for a background picture (the old picture is then what the screen showed under it).
bool TwoPart(const qmFxRequest *fx) { return fx->effect == FX_PIXELZOOM2 && (!fx->realtime || fx->bgpicEmu); }

// The picture drawn through its planes; where it has planes, over the old picture.
void DrawOverOld(qmFxRequest *fx, const qmBitmap *pic, const qmMask *mask, const qmAlphaChannel *alpha) {
  if ((mask || alpha) && fx->oldImage && !fx->realtime)
    BlitFxToScreen(fx, fx->oldImage, 0, 0, fx->x, fx->y, fx->width, fx->height, nullptr, nullptr);
  BlitFxToScreen(fx, pic, 0, 0, fx->x, fx->y, fx->width, fx->height, mask, alpha);
}

}  // namespace

uint32_t PixelZoomFx(qmFxRequest *fx, int32_t *done) {
  const int32_t w = fx->width, h = fx->height;
  if (fx->phase == FXPHASE_INIT) {
    auto *s = static_cast<PixelZoomState *>(MemAlloc(sizeof(PixelZoomState), 1));
    if (!s) return ERR_MEM;
    fx->fxState = s;
    FxOwn(fx, &s->blocks, &s->mask, &s->alpha);
    s->blocks = AllocBitmap(w, h);
    if (!s->blocks) return ERR_MEM;
    if (fx->srcMask && !(s->mask = AllocMask(w, h, 1))) return ERR_MEM;
    if (!fx->srcMask && fx->srcAlpha && !(s->alpha = AllocAlphaChannel(w, h, 1))) return ERR_MEM;
    fx->stepCount = TwoPart(fx) ? FxStepCount(2 * kBlocks + 1, 1, 1) : FxStepCount(kBlocks + 1, 1, 1);
    return 0;
  }
  if (fx->phase != FXPHASE_FRAME && fx->phase != FXPHASE_DRAW) return 0;
  auto *s = static_cast<PixelZoomState *>(fx->fxState);
  s->counter = fx->phase == FXPHASE_DRAW ? fx->frameNo : s->counter + 1;
  const int32_t c = s->counter;
  const bool twoPart = TwoPart(fx), away = TakingAway(fx);
  const bool oldHalf = twoPart && !away && c < kBlocks;
  if (twoPart && fx->bgpicEmu) UpdateFxSources(fx, oldHalf ? FXSOURCE_OLD | FXSOURCE_NEW : FXSOURCE_NEW);
  int32_t last = 0;
  if (away) {
    if (c > kBlocks) {
      BlitFxPiece(fx, 0, 0, w, h, FXPIECE_ERASE | (fx->rerender ? uint32_t(FXPIECE_NOPRESENT) : 0u));
      last = 1;
    }
  } else if (c > (twoPart ? 2 * kBlocks : kBlocks)) {
    DrawOverOld(fx, fx->srcImage, fx->srcMask, fx->srcAlpha);
    last = 1;
  }
  if (!last) {
    int32_t b = away ? c : twoPart ? (c < kBlocks ? c : 2 * kBlocks - c) : kBlocks - c;
    b = b < 0 ? 1 : b + 1;
    const qmBitmap *pic = oldHalf && fx->oldImage ? fx->oldImage : fx->srcImage;
    const qmMask *mask = pic == fx->srcImage ? fx->srcMask : nullptr;
    const qmAlphaChannel *alpha = pic == fx->srcImage ? fx->srcAlpha : nullptr;
    if (b == 1) {
      // The sharp frame is the picture itself.
      DrawOverOld(fx, pic, mask, alpha);
    } else {
      qmPixelateRequest p{};
      p.src = pic->pixels;
      p.srcPitch = pic->bytesPerRow / 4;
      p.dst = s->blocks->pixels;
      p.dstPitch = s->blocks->bytesPerRow / 4;
      if (mask && s->mask) {
        p.srcMask = mask->memory, p.srcMaskBytesPerRow = mask->bytesPerRow;
        p.dstMask = s->mask->memory, p.dstMaskBytesPerRow = s->mask->bytesPerRow;
      } else if (alpha && s->alpha) {
        p.srcAlpha = alpha->memory, p.srcAlphaBytesPerRow = alpha->bytesPerRow;
        p.dstAlpha = s->alpha->memory, p.dstAlphaBytesPerRow = s->alpha->bytesPerRow;
      }
      p.width = w;
      p.height = h;
      p.blockSize = b;
      PixelatePixels(&p);
      DrawOverOld(fx, s->blocks, p.dstMask ? s->mask : nullptr, p.dstAlpha ? s->alpha : nullptr);
    }
  }
  if (fx->phase == FXPHASE_DRAW) return 0;
  if (last) *done = 1;
  FxFrameTail(fx);
  return 0;
}


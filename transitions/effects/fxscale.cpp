#include "transitions/effects/fxscale.h"

#include "display/safeblt.h"
#include "graphics/bitmapops.h"
#include "transitions/fxprims.h"
#include "transitions/fxrequest.h"

uint32_t DrawFxScaled(qmFxRequest *fx, const qmBitmap *pic, const qmMask *mask, const qmAlphaChannel *alpha,
                      int32_t sx, int32_t sy, int32_t sw, int32_t sh, int32_t dx, int32_t dy, int32_t dw, int32_t dh,
                      qmBitmap *work) {
  if (!pic || sw < 1 || sh < 1 || dw < 1 || dh < 1) return 0;
  if (sw == dw && sh == dh) {
    // Nothing to scale: the piece goes as it is.
    BlitFxToScreen(fx, pic, sx, sy, fx->x + dx, fx->y + dy, dw, dh, mask, alpha);
    return 0;
  }
  if (!mask && !alpha && !fx->realtime) {
    // Straight into the screen's picture when the rectangle lands there whole: one pass instead
    // of a scale and a copy; the blit then does only what follows the pixels.
    qmSafeBlt b;
    FxScreenBlit(fx, pic, 0, 0, fx->x + dx, fx->y + dy, dw, dh, nullptr, nullptr, &b);
    b.srcWidth = dw;
    b.srcHeight = dh;
    qmBlitRect r;
    qmBitmap *target = SafeBltPixelTarget(fx->scene, &b, &r);
    if (target && target != pic && r.width == dw && r.height == dh) {
      qmBitmap view = *target;
      view.pixels = target->pixels + int64_t(r.dstY) * (target->bytesPerRow / 4) + r.dstX;
      view.width = dw;
      view.height = dh;
      if (uint32_t code = ScaleBitmap(pic, nullptr, nullptr, sx, sy, &view, sw, sh, dw, dh, 0, nullptr)) return code;
      ShowFxPixelTarget(fx, &b, target, &r);
      return 0;
    }
  }
  if (!mask && !alpha && work) {
    if (uint32_t code = ScaleBitmap(pic, nullptr, nullptr, sx, sy, work, sw, sh, dw, dh, 0, nullptr)) return code;
    BlitFxToScreen(fx, work, 0, 0, fx->x + dx, fx->y + dy, dw, dh, nullptr, nullptr);
    return 0;
  }
  qmScaleOutputs out{};
  if (uint32_t code = ScaleBitmap(pic, mask, alpha, sx, sy, nullptr, sw, sh, dw, dh, 0, &out)) return code;
  if (out.bitmap) BlitFxToScreen(fx, out.bitmap, 0, 0, fx->x + dx, fx->y + dy, dw, dh, out.mask, out.alpha);
  FreeBitmap(out.bitmap);
  FreeMask(out.mask);
  FreeAlphaChannel(out.alpha);
  return 0;
}

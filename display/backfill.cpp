#include "display/backfill.h"

#include <algorithm>

#include "display/bgpic.h"
#include "display/brush.h"
#include "display/position.h"
#include "display/scene.h"
#include "graphics/bitmap.h"
#include "graphics/bitmapops.h"
#include "graphics/blit.h"
#include "graphics/fillarea.h"
#include "graphics/gradientfill.h"
#include "media/image/imageload.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

namespace {

// The texture or picture: the file's, else a copy of the brush's planes. The caller frees them.
uint32_t LoadBackfillBrush(const qmScene *scene, const qmBackfillSettings *s, qmBitmap **bitmap, qmMask **mask) {
  if (s->brushFile[0]) {
    uint32_t *pixels = nullptr;
    int32_t w = 0, h = 0;
    if (uint32_t code = LoadImageFile(s->brushFile, nullptr, 0, 0, &pixels, nullptr, nullptr, &w, &h, nullptr))
      return code;
    const uint32_t key = s->type == BACKFILL_PICTURE ? s->transparentColor : kNoBackfillColor;
    const int32_t failed = BitmapFromArgb(pixels, key, w, h, w, 0, bitmap, key == kNoBackfillColor ? nullptr : mask);
    MemFree(pixels);
    return failed ? uint32_t(ERR_MEM) : 0u;
  }
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrush(scene->objects, &s->brush, &b, 0)) return code;
  qmAlphaChannel *alpha = nullptr;
  if (uint32_t code = CopyBitmap(b->bitmap, b->mask, nullptr, 0, 0, b->width, b->height, 0, bitmap,
                                 b->mask ? mask : nullptr, &alpha))
    return code;
  FreeAlphaChannel(alpha);
  return 0;
}

// The ground under a picture, or the whole of a colour or gradient backfill: a left-to-right
// gradient with both colours, else the start colour (black when none is given).
uint32_t PaintGround(const qmBackfillSettings *s, qmBitmap *b, int32_t w, int32_t h) {
  if (s->startColor != kNoBackfillColor && s->endColor != kNoBackfillColor) {
    qmGradientSpec g{};
    g.kind = GRADIENT_LINEAR;
    g.startColor = s->startColor;
    g.endColor = s->endColor;
    InitGradientSpec(&g);
    const qmGradientFill fill = GradientFillOf(&g);
    return DrawGradient(b, 0, 0, w, h, &fill);
  }
  FillBitmapRect(b, 0, 0, w, h, s->startColor == kNoBackfillColor ? 0 : s->startColor & 0xFFFFFF);
  return 0;
}

}  // namespace

uint32_t BuildBackfillPicture(const qmScene *scene, const qmBackfillSettings *s, int32_t width, int32_t height,
                              qmBitmap **out) {
  *out = nullptr;
  if (width < 1 || height < 1) return ERR_WRONGUSAGE;
  qmBitmap *b = AllocBitmap(width, height);
  if (!b) return ERR_MEM;
  uint32_t code = 0;
  if (s->type == BACKFILL_TEXTURE || s->type == BACKFILL_PICTURE) {
    qmBitmap *pic = nullptr;
    qmMask *mask = nullptr;
    code = LoadBackfillBrush(scene, s, &pic, &mask);
    int32_t pw = pic ? pic->width : 0, ph = pic ? pic->height : 0;
    if (!code && s->type == BACKFILL_PICTURE && s->scalePicture && (pw != width || ph != height)) {
      qmScaleOutputs o{};
      code = ScaleBitmap(pic, mask, nullptr, 0, 0, nullptr, pw, ph, width, height, 0, &o);
      if (!code && !o.bitmap) code = ERR_MEM;
      if (!code) {
        FreeBitmap(pic);
        FreeMask(mask);
        FreeAlphaChannel(o.alpha);
        pic = o.bitmap, mask = o.mask, pw = width, ph = height;
      }
    }
    if (!code && s->type == BACKFILL_TEXTURE) {
      TileBitmap(b, 0, 0, width, height, pic, 0, 0, pw, ph);
    } else if (!code) {
      code = PaintGround(s, b, width, height);
      // The picture at its position, cut to the backfill.
      const int32_t x = ResolvePositionX(scene, s->pictureX, pw, width, 0);
      const int32_t y = ResolvePositionY(scene, s->pictureY, ph, height, 0);
      const int32_t left = std::max(x, 0), top = std::max(y, 0);
      const int32_t right = std::min(x + pw, width), bottom = std::min(y + ph, height);
      if (!code && right > left && bottom > top) {
        if (mask) BltMask(pic, left - x, top - y, b, left, top, right - left, bottom - top, mask);
        else BltBitmap(pic, left - x, top - y, b, left, top, right - left, bottom - top);
      }
    }
    FreeBitmap(pic);
    FreeMask(mask);
  } else if (s->type == BACKFILL_COLOR || s->type == BACKFILL_GRADIENT) {
    code = PaintGround(s, b, width, height);
  } else {
    FillBitmapRect(b, 0, 0, width, height, 0);
  }
  if (code) {
    FreeBitmap(b);
    return code;
  }
  *out = b;
  return 0;
}

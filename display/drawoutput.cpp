#include "display/drawoutput.h"

#include <algorithm>

#include "display/bgpic.h"
#include "display/dirtyrects.h"
#include "display/display.h"
#include "display/output.h"
#include "display/outputselect.h"
#include "display/safeblt.h"
#include "display/scene.h"
#include "graphics/alpha_kernels.h"
#include "graphics/alphaops.h"
#include "graphics/clipregion.h"
#include "graphics/blit.h"
#include "runtime/errcodes.h"

uint32_t GetDrawOutput(qmScene *scene, qmDrawOutput *out) {
  *out = {};
  qmDisplay *d = scene->current;
  qmOutputPicture pic{};
  if (!d || !GetOutputPicture(scene, &pic)) return ERR_WRONGUSAGE;
  if (uint32_t code = PrepareMaskOrAlphaOutput(scene)) return code;
  out->display = d;
  out->width = pic.width, out->height = pic.height;
  out->clip = *pic.activeClip;
  out->onDisplay = d->outputType == DISPOUT_DISPLAY;
  out->doubleBuffered = d->doubleBuffer && scene->picture == d->doubleBufferBGPic;
  qmDrawTarget &t = out->target;
  if (out->onDisplay) {
    t.bitmap = d->backgroundCopy;
  } else {
    t.bitmap = d->outputBitmap, t.mask = d->outputMask, t.alpha = d->outputAlpha;
  }
  if (out->clip) {
    t.clipX = out->clip->x, t.clipY = out->clip->y;
    t.clipWidth = out->clip->width, t.clipHeight = out->clip->height;
    t.clipMask = out->clip->mask;
  } else {
    t.clipWidth = pic.width, t.clipHeight = pic.height;
  }
  // Never past the records themselves, whatever the picture claims.
  auto cut = [&](int32_t w, int32_t h) {
    t.clipWidth = int32_t(std::max<int64_t>(0, std::min<int64_t>(int64_t(t.clipX) + t.clipWidth, w) - t.clipX));
    t.clipHeight = int32_t(std::max<int64_t>(0, std::min<int64_t>(int64_t(t.clipY) + t.clipHeight, h) - t.clipY));
  };
  if (t.bitmap) cut(t.bitmap->width, t.bitmap->height);
  if (t.mask) cut(MaskPlaneWidth(t.mask), PlaneHeight(t.mask));
  if (t.alpha) cut(AlphaPlaneWidth(t.alpha), PlaneHeight(t.alpha));
  if (t.clipX < 0) t.clipWidth += t.clipX, t.clipX = 0;
  if (t.clipY < 0) t.clipHeight += t.clipY, t.clipY = 0;
  // A mask selected together with a bitmap is drawn in copy mode.
  t.maskMode = t.bitmap ? int32_t(MASKVANILLACOPY) : int32_t(GetOutputMaskMode(scene));
  const uint32_t alphaValue = GetOutputAlphaValue(scene);
  t.alphaValue = alphaValue == kNoAlphaValue ? -1 : int32_t(std::min<uint32_t>(alphaValue, 255));
  return 0;
}

void ShowDrawnRect(qmScene *scene, const qmDrawOutput &o, int64_t x, int64_t y, int64_t w, int64_t h) {
  const int64_t x0 = std::max<int64_t>(x, o.target.clipX), y0 = std::max<int64_t>(y, o.target.clipY);
  const int64_t x1 = std::min<int64_t>(x + w, int64_t(o.target.clipX) + o.target.clipWidth);
  const int64_t y1 = std::min<int64_t>(y + h, int64_t(o.target.clipY) + o.target.clipHeight);
  if (x0 >= x1 || y0 >= y1) return;
  const int32_t rx = int32_t(x0), ry = int32_t(y0), rw = int32_t(x1 - x0), rh = int32_t(y1 - y0);
  if (o.doubleBuffered) AddDirtyRect(o.display, rx, ry, rw, rh, o.width, o.height);
  if (!o.onDisplay) return;
  qmDisplay *d = o.display;
  // A display shown scaled presents from its layer buffer, which gets the new pixels too.
  if (d->scaleMode && d->layerBuffer && d->backgroundCopy)
    BltBitmap(d->backgroundCopy, rx, ry, d->layerBuffer, rx, ry, rw, rh);
  RefreshDisplayRect(scene, rx, ry, d, rx, ry, rw, rh);
}

void BlitShapeImage(qmScene *scene, const qmDrawOutput &o, const qmShapeImage &img) {
  qmSafeBlt b{};
  b.src = img.bitmap;
  b.dst = o.onDisplay ? nullptr : o.target.bitmap;
  b.dstX = img.x, b.dstY = img.y;
  b.width = b.srcWidth = img.bitmap->width;
  b.height = b.srcHeight = img.bitmap->height;
  b.dstWidth = o.width, b.dstHeight = o.height;
  b.flags = o.onDisplay ? uint32_t(SAFEBLT_BACKGROUND) : 0u;
  b.mask = img.mask, b.alpha = img.alpha;
  b.clip = o.clip;
  SafeBlt(scene, &b);
  if (o.doubleBuffered) ShowDrawnRect(scene, o, img.x, img.y, img.bitmap->width, img.bitmap->height);
}

#include "graphics/blit.h"

#include <algorithm>
#include <cstdio>

#include "graphics/alpha_kernels.h"
#include "graphics/blit_kernels.h"
#include "graphics/pixelformat.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

namespace {

// A blit rectangle after clamping to a source of srcW x srcH and a destination of dstW x dstH.
struct Rect {
  int32_t sx, sy, dx, dy, w, h;
};

bool ClampRect(Rect *r, int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH) {
  int64_t sx = r->sx, sy = r->sy, dx = r->dx, dy = r->dy, w = r->w, h = r->h;
  if (sx < 0) dx -= sx, w += sx, sx = 0;
  if (sy < 0) dy -= sy, h += sy, sy = 0;
  if (dx < 0) sx -= dx, w += dx, dx = 0;
  if (dy < 0) sy -= dy, h += dy, dy = 0;
  w = std::min({w, srcW - sx, dstW - dx});
  h = std::min({h, srcH - sy, dstH - dy});
  if (w < 1 || h < 1) return false;
  *r = Rect{int32_t(sx), int32_t(sy), int32_t(dx), int32_t(dy), int32_t(w), int32_t(h)};
  return true;
}

// Usable size of a mask: wrapped masks know only their row length.
int32_t MaskWidth(const qmMask *m) { return m->width > 0 ? m->width : m->bytesPerRow * 8; }
int32_t MaskHeight(const qmMask *m) { return m->height > 0 ? m->height : INT32_MAX; }

void Report(const char *line) { std::fputs(line, stderr); }

} // namespace

void BltBitmap(const qmBitmap *src, int32_t srcX, int32_t srcY, qmBitmap *dst, int32_t dstX, int32_t dstY,
               int32_t width, int32_t height) {
  if (!dst) {
    Report("ERROR! BLTBITMAP() CALLED WITH DST=NULL!\n");
    return;
  }
  if (!src || src->bytesPerPixel != 4 || dst->bytesPerPixel != 4) return;
  Rect r{srcX, srcY, dstX, dstY, width, height};
  if (!ClampRect(&r, src->width, src->height, dst->width, dst->height)) return;
  qmBlitRequest req{src->pixels, dst->pixels, r.sx, r.sy, r.dx, r.dy, r.w, r.h,
                    src->bytesPerRow / 4, dst->bytesPerRow / 4, 0, 0, 0};
  CopyPixels(&req);
}

void BltMask(const qmBitmap *src, int32_t srcX, int32_t srcY, qmBitmap *dst, int32_t dstX, int32_t dstY,
             int32_t width, int32_t height, const qmMask *mask) {
  if (!dst) {
    Report("ERROR! BLTMASK() CALLED WITH DST=NULL!\n");
    return;
  }
  if (!src || !mask || src->bytesPerPixel != 4 || dst->bytesPerPixel != 4) return;
  Rect r{srcX, srcY, dstX, dstY, width, height};
  if (!ClampRect(&r, std::min(src->width, MaskWidth(mask)), std::min(src->height, MaskHeight(mask)), dst->width,
                 dst->height))
    return;
  qmMaskedBlitRequest req{src->pixels, dst->pixels, mask->memory, r.sx, r.sy, r.dx, r.dy, r.w, r.h,
                          src->bytesPerRow / 4, mask->bytesPerRow, dst->bytesPerRow / 4, QM_CONVERT_NONE};
  MaskedCopyPixels(&req);
}

void BltTemplate(const qmMask *templ, int32_t srcX, int32_t srcY, qmBitmap *dst, int32_t dstX, int32_t dstY,
                 int32_t width, int32_t height, uint32_t rgb) {
  if (!dst) {
    Report("ERROR! BLTTEMPLATE() CALLED WITH DST=NULL!\n");
    return;
  }
  if (!templ || dst->bytesPerPixel != 4) return;
  Rect r{srcX, srcY, dstX, dstY, width, height};
  if (!ClampRect(&r, MaskWidth(templ), MaskHeight(templ), dst->width, dst->height)) return;
  qmTemplateRequest req{templ->memory, dst->pixels, r.sx, r.sy, r.dx, r.dy, r.w, r.h,
                        templ->bytesPerRow, dst->bytesPerRow / 4, ColorToPixel(rgb, dst->pixelFormat)};
  TemplatePixels(&req);
}

void FillBitmapRect(qmBitmap *bitmap, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t rgb) {
  if (!bitmap || bitmap->bytesPerPixel != 4) return;
  Rect r{x, y, x, y, width, height};
  if (!ClampRect(&r, bitmap->width, bitmap->height, bitmap->width, bitmap->height)) return;
  FillPixelsRect(bitmap->pixels, bitmap->bytesPerRow / 4, r.dx, r.dy, r.w, r.h, ColorToPixel(rgb, bitmap->pixelFormat));
}

uint32_t StoredToArgb(int32_t format, uint32_t p) {
  switch (format) {
  case 4: return ((p & 0xF800) << 8) | ((p & 0x7E0) << 5) | ((p & 0x1F) << 3);
  case 11: return __builtin_bswap32(p);
  case 12: return p >> 8;
  case 13: return __builtin_bswap32(p) >> 8;
  default: return p;
  }
}

uint32_t ArgbToStored(int32_t format, uint32_t v) {
  switch (format) {
  case 4: return ((v >> 8) & 0xF800) | ((v >> 5) & 0x7E0) | ((v & 0xF8) >> 3);
  case 11: return __builtin_bswap32(v);
  case 12: return v << 8;
  case 13: return __builtin_bswap32(v) >> 8;
  default: return v;
  }
}

uint32_t *BitmapToArgb(const qmBitmap *bitmap, int32_t width, int32_t height) {
  if (!bitmap || width < 1 || height < 1 || width > bitmap->width || height > bitmap->height) return nullptr;
  if (bitmap->bytesPerPixel != 4 && bitmap->bytesPerPixel != 2) return nullptr;
  auto *out = static_cast<uint32_t *>(MemAlloc(uint32_t(width) * uint32_t(height) * 4, 0));
  if (!out) return nullptr;
  const auto *row = reinterpret_cast<const uint8_t *>(bitmap->pixels);
  for (int32_t y = 0; y < height; y++, row += bitmap->bytesPerRow)
    for (int32_t x = 0; x < width; x++) {
      uint32_t p = bitmap->bytesPerPixel == 4 ? reinterpret_cast<const uint32_t *>(row)[x]
                                              : reinterpret_cast<const uint16_t *>(row)[x];
      out[int64_t(y) * width + x] = StoredToArgb(bitmap->pixelFormat, p);
    }
  return out;
}

int32_t BitmapFromArgb(const uint32_t *pixels, uint32_t key, int32_t width, int32_t height, int32_t srcPitch,
                       int32_t, qmBitmap **bitmapOut, qmMask **maskOut) {
  qmBitmap *bitmap = AllocBitmap(width, height);
  if (!bitmap) return ERR_MEM;
  qmMask *mask = nullptr;
  if (key != 0xFFFFFFFFu) {
    mask = AllocMask(width, height, 1);
    if (!mask) {
      FreeBitmap(bitmap);
      return ERR_MEM;
    }
    // The key is an RGB colour: the source's alpha byte takes no part.
    ColorKeyMaskPixels(pixels, mask->memory, width, height, mask->bytesPerRow, key & 0xFFFFFF, srcPitch, 0xFFFFFF);
  }
  const int32_t pitch = bitmap->bytesPerRow / 4;
  for (int32_t y = 0; y < height; y++)
    for (int32_t x = 0; x < width; x++)
      bitmap->pixels[int64_t(y) * pitch + x] = ArgbToStored(bitmap->pixelFormat, pixels[int64_t(y) * srcPitch + x]);
  *bitmapOut = bitmap;
  if (maskOut)
    *maskOut = mask;
  else
    FreeMask(mask);
  return 0;
}

#include "graphics/shape_render.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "graphics/coverage.h"
#include "graphics/alphaops.h"
#include "graphics/fillarea.h"
#include "graphics/pixelformat.h"
#include "graphics/transform.h"
#include "graphics/shape_geometry.h"
#include "graphics/plot_kernels.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"

namespace {

// Anti-aliased coverage reaches up to two pixels past the points: images grow by 5 and the
// points move by 2.
constexpr int32_t kAntialiasGrow = 5, kAntialiasShift = 2;
// Thick strokes end in round caps that reach a pixel past half their width: two pixels of room
// on every side keep them whole (the image moves with it, so no pixel changes place).
constexpr int32_t kStrokeGrow = 4, kStrokeShift = 2;
// How many rows ahead of the blend the target's pixels are fetched.
constexpr int64_t kAheadRows = 4;

uint32_t Stored(uint32_t rgb) { return ColorToPixel(rgb, QM_BITMAP_FORMAT); }

// points moved by (dx, dy) into the scratch table.
const int32_t *Moved(const int32_t *points, int32_t count, int32_t dx, int32_t dy) {
  int32_t *out = GetDrawTables()->points[2];
  for (int32_t i = 0; i < count; i++) out[2 * i] = points[2 * i] + dx, out[2 * i + 1] = points[2 * i + 1] + dy;
  return out;
}

void ClearPlane(qmAlphaChannel *plane) {
  std::fill(plane->memory, plane->memory + int64_t(plane->bytesPerRow) * plane->height, uint8_t(0));
}

// An image whose alpha holds only 0 and 255 keeps a mask instead.
uint32_t FinishImage(qmShapeImage *img, bool partial) {
  if (partial) return 0;
  img->mask = AllocMask(img->bitmap->width, img->bitmap->height, 1);
  if (!img->mask) return ERR_MEM;
  MaskFromAlphaRect(img->alpha, 0, 0, img->mask, 0, 0, img->bitmap->width, img->bitmap->height, MASKVANILLACOPY);
  FreeAlphaChannel(img->alpha);
  img->alpha = nullptr;
  return 0;
}

uint32_t AllocImage(qmShapeImage *img, int64_t width, int64_t height) {
  *img = {};
  if (width < 1 || height < 1 || width > QM_MAX_PICTURE_SIDE || height > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  img->bitmap = AllocBitmap(int32_t(width), int32_t(height));
  img->alpha = img->bitmap ? AllocAlphaChannel(int32_t(width), int32_t(height), 1) : nullptr;
  if (!img->alpha) {
    FreeShapeImage(img);
    return ERR_MEM;
  }
  return 0;
}

qmPlotState PlotStateFor(const qmDrawTarget *t, uint32_t color) {
  qmPlotState s{};
  if (t->bitmap) {
    s.pixels = t->bitmap->pixels;
    s.pitch = t->bitmap->bytesPerRow / 4;
    s.bytesPerPixel = 4;
    s.pixelFormat = t->bitmap->pixelFormat;
  }
  if (t->mask) s.mask = t->mask->memory, s.maskBytesPerRow = t->mask->bytesPerRow;
  if (t->alpha) s.alpha = t->alpha->memory, s.alphaBytesPerRow = t->alpha->bytesPerRow;
  s.lineWidth = 1;
  s.color = Stored(color & 0xFFFFFF);
  s.red = (color >> 16) & 0xFF, s.green = (color >> 8) & 0xFF, s.blue = color & 0xFF;
  s.overallLevel = 255 - int32_t(color >> 24);
  // A selected alpha channel alone takes the alpha value the script set, when it set one.
  if (!t->bitmap && t->alpha && t->alphaValue >= 0) s.overallLevel = std::min(t->alphaValue, 255);
  s.level = s.overallLevel;
  s.clip = 1;
  s.clipLeft = t->clipX, s.clipTop = t->clipY, s.clipWidth = t->clipWidth, s.clipHeight = t->clipHeight;
  if (t->clipMask) s.clipMask = t->clipMask->memory, s.clipMaskBytesPerRow = t->clipMask->bytesPerRow;
  s.maskMode = t->maskMode;
  return s;
}

// The rows a line can touch, with how far each reaches: for row y, [x0, x1) of the plane.
struct LineReach {
  int64_t x1, y1, x2, y2, r;
  void Row(int64_t y, int64_t width, int64_t *from, int64_t *to) const {
    const int64_t lo = std::min(y1, y2), hi = std::max(y1, y2);
    if (y < lo - r || y > hi + r) {
      *from = *to = 0;
      return;
    }
    const int64_t ya = std::clamp(y - r, lo, hi), yb = std::clamp(y + r, lo, hi);
    int64_t xa, xb;
    if (y1 == y2) {
      xa = std::min(x1, x2), xb = std::max(x1, x2);
    } else {
      const double slope = double(x2 - x1) / double(y2 - y1);
      xa = int64_t(std::floor(double(x1) + slope * double(ya - y1)));
      xb = int64_t(std::floor(double(x1) + slope * double(yb - y1)));
      if (xa > xb) std::swap(xa, xb);
    }
    *from = std::clamp<int64_t>(xa - r, 0, width);
    *to = std::clamp<int64_t>(xb + r + 2, 0, width);
  }
};

// The coverage plane of a shape whose image lies at (x, y), w x h: the whole image, as the
// rasteriser cuts nothing then (a polygon cut at a plane's border has the pixels next to that
// border moved). The work tables' plane serves it, and what the rasteriser may have written is
// cleared again on the way out: the window's box, or a line's reach row by row.
struct CoverageWindow {
  int64_t x = 0, y = 0;  // the plane's top-left on the target
  qmAlphaChannel *plane = nullptr;
  const LineReach *reach = nullptr;
  ~CoverageWindow() {
    if (!plane) return;
    if (!reach) {
      ClearPlane(plane);
      return;
    }
    for (int64_t row = 0; row < plane->height; row++) {
      int64_t from, to;
      reach->Row(row, plane->width, &from, &to);
      if (to > from) std::memset(plane->memory + row * plane->bytesPerRow + from, 0, size_t(to - from));
    }
  }
};

bool Visible(const qmDrawTarget *t, int64_t x, int64_t y, int64_t w, int64_t h) {
  return t->clipWidth > 0 && t->clipHeight > 0 && x < int64_t(t->clipX) + t->clipWidth && x + w > t->clipX &&
         y < int64_t(t->clipY) + t->clipHeight && y + h > t->clipY;
}

// 0 with the window made (or with no plane when nothing can show), or ERR_MEM.
uint32_t OpenCoverageWindow(const qmDrawTarget *t, int64_t x, int64_t y, int64_t w, int64_t h, CoverageWindow *win) {
  if (!Visible(t, x, y, w, h)) return 0;
  if (w > QM_MAX_PICTURE_SIDE || h > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  win->x = x, win->y = y;
  win->plane = GetLinePlane(int32_t(w), int32_t(h));
  return win->plane ? 0u : uint32_t(ERR_MEM);
}

// Rows of target-space limits for composing: [x0, x1) x [y0, y1).
struct Span {
  int64_t x0, y0, x1, y1;
};

void AddDrawn(qmDrawnRect *drawn, int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
  if (drawn->width) {
    x0 = std::min<int64_t>(x0, drawn->x), y0 = std::min<int64_t>(y0, drawn->y);
    x1 = std::max<int64_t>(x1, int64_t(drawn->x) + drawn->width), y1 = std::max<int64_t>(y1, int64_t(drawn->y) + drawn->height);
  }
  *drawn = {int32_t(x0), int32_t(y0), int32_t(x1 - x0), int32_t(y1 - y0)};
}

// The first of c[from..to) that is not v, or to.
int64_t RunEnd(const uint8_t *c, int64_t from, int64_t to, uint8_t v) {
#if defined(__SSE2__)
  const __m128i pattern = _mm_set1_epi8(char(v));
  for (; from + 16 <= to; from += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(c + from));
    const uint32_t other = uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, pattern))) ^ 0xFFFFu;
    if (other) return from + __builtin_ctz(other);
  }
#endif
  while (from < to && c[from] == v) from++;
  return from;
}

// Blends the colour into the target by the coverage (level scaled by it), within the clip
// rectangle and limit; planes and clip masks go through the pixel plot.
void CoverTarget(const qmDrawTarget *t, const CoverageWindow &win, uint32_t color, qmDrawnRect *drawn,
                 const Span &limit, const LineReach *reach = nullptr) {
  const qmAlphaChannel *cov = win.plane;
  const int64_t x0 = std::max({win.x, int64_t(t->clipX), limit.x0});
  const int64_t y0 = std::max({win.y, int64_t(t->clipY), limit.y0});
  const int64_t x1 = std::min({win.x + cov->width, int64_t(t->clipX) + t->clipWidth, limit.x1});
  const int64_t y1 = std::min({win.y + cov->height, int64_t(t->clipY) + t->clipHeight, limit.y1});
  if (x0 >= x1 || y0 >= y1) return;
  AddDrawn(drawn, x0, y0, x1, y1);
  qmPlotState s = PlotStateFor(t, color);
  const int32_t overall = s.overallLevel;
  const bool plain = t->bitmap && !t->mask && !t->alpha && !t->clipMask;
  const int32_t pitch = t->bitmap ? t->bitmap->bytesPerRow / 4 : 0;
  for (int64_t y = y0; y < y1; y++) {
    const uint8_t *c = cov->memory + (y - win.y) * cov->bytesPerRow - win.x;
    int64_t rowFrom = x0, rowTo = x1;
    if (reach) {
      int64_t a, b;
      reach->Row(y - win.y, cov->width, &a, &b);
      rowFrom = std::max(x0, win.x + a), rowTo = std::min(x1, win.x + b);
    }
    if (!plain) {
      if (rowTo > rowFrom)
        PlotCoverage(c + rowFrom, int32_t(rowFrom), int32_t(y), &s, int32_t(rowTo - rowFrom), 1, cov->bytesPerRow, 0);
      continue;
    }
    uint32_t *row = t->bitmap->pixels + y * pitch;
    // The target's rows are far apart in memory: fetching a few rows ahead keeps the blend
    // below from waiting on each row in turn.
    if (y + kAheadRows < y1) {
      int64_t a = x0, b = x1;
      if (reach) {
        reach->Row(y + kAheadRows - win.y, cov->width, &a, &b);
        a = std::max(x0, win.x + a), b = std::min(x1, win.x + b);
      }
      const uint32_t *ahead = row + kAheadRows * pitch;
      for (int64_t px = a; px < b; px += 16) __builtin_prefetch(ahead + px, 1);
    }
    int64_t x = rowFrom;
    while (x < rowTo) {
      // Empty stretches are skipped and fully covered runs filled, sixteen bytes at a time.
      x = RunEnd(c, x, rowTo, 0);
      if (x >= rowTo) break;
      if (c[x] == 255 && overall == 255) {
        const int64_t end = RunEnd(c, x + 1, rowTo, 255);
        std::fill(row + x, row + end, s.color);
        x = end;
        continue;
      }
      if (overall == 255) {
        // Partly covered pixels go several at a time; covered ones among them take the colour.
        const int64_t n = std::min<int64_t>(8, rowTo - x);
        CoverPixels(row + x, c + x, n, s.color);
        x += n;
        continue;
      }
      const int32_t level = overall * c[x] / 255;
      const uint32_t d = __builtin_bswap32(row[x]);
      const int32_t dr = (d >> 16) & 0xFF, dg = (d >> 8) & 0xFF, db = d & 0xFF;
      const uint32_t r = uint32_t(dr + (((s.red - dr) * level) >> 8)) & 0xFF;
      const uint32_t g = uint32_t(dg + (((s.green - dg) * level) >> 8)) & 0xFF;
      const uint32_t b = uint32_t(db + (((s.blue - db) * level) >> 8)) & 0xFF;
      row[x] = level == 255 ? s.color : __builtin_bswap32((d & 0xFF000000u) | r << 16 | g << 8 | b);
      x++;
    }
  }
}

constexpr Span kNoLimit{INT64_MIN, INT64_MIN, INT64_MAX, INT64_MAX};

} // namespace

void CoverShapeImage(qmShapeImage *img, const qmAlphaChannel *cov, uint32_t rgb, int32_t level, const qmBitmap *fill) {
  qmBitmap *b = img->bitmap;
  const int32_t pitch = b->bytesPerRow / 4;
  const int32_t fillPitch = fill ? fill->bytesPerRow / 4 : 0;
  const int32_t sr = (rgb >> 16) & 0xFF, sg = (rgb >> 8) & 0xFF, sb = rgb & 0xFF;
  for (int32_t y = 0; y < b->height; y++) {
    const uint8_t *c = cov->memory + int64_t(y) * cov->bytesPerRow;
    uint8_t *a = img->alpha->memory + int64_t(y) * img->alpha->bytesPerRow;
    uint32_t *p = b->pixels + int64_t(y) * pitch;
    for (int32_t x = 0; x < b->width; x++) {
      const int32_t k = c[x];
      if (!k) continue;
      int32_t r = sr, g = sg, bl = sb;
      if (fill) {
        const uint32_t f = __builtin_bswap32(fill->pixels[int64_t(y) * fillPitch + x]);
        r = (f >> 16) & 0xFF, g = (f >> 8) & 0xFF, bl = f & 0xFF;
      }
      const int32_t da = a[x];
      if (k == 255 || da == 0) {
        p[x] = Stored(uint32_t(r << 16 | g << 8 | bl));
      } else {
        const uint32_t d = __builtin_bswap32(p[x]);
        const int32_t dr = (d >> 16) & 0xFF, dg = (d >> 8) & 0xFF, db = d & 0xFF;
        p[x] = Stored(uint32_t((dr + (r - dr) * k / 255) << 16 | (dg + (g - dg) * k / 255) << 8 |
                               (db + (bl - db) * k / 255)));
      }
      a[x] = uint8_t(da + (level - da) * k / 255);
    }
  }
}

// Stored pixels hold the fourth byte first in memory, then red, green and blue: as a word, the
// colour bytes sit at bits 8, 16 and 24.
void CoverPixelsScalar(uint32_t *row, const uint8_t *c, int64_t n, uint32_t pixel) {
  for (int64_t i = 0; i < n; i++) {
    const int32_t level = c[i];
    if (!level) continue;
    if (level == 255) {
      row[i] = pixel;
      continue;
    }
    uint32_t out = row[i] & 0xFFu;
    for (int shift = 8; shift < 32; shift += 8) {
      const int32_t d = int32_t(row[i] >> shift) & 0xFF, p = int32_t(pixel >> shift) & 0xFF;
      out |= (uint32_t(d + (((p - d) * level) >> 8)) & 0xFF) << shift;
    }
    row[i] = out;
  }
}

void CoverPixels(uint32_t *row, const uint8_t *c, int64_t n, uint32_t pixel) {
  int64_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i color = _mm_set1_epi32(int32_t(pixel));
  const __m128i colorLo = _mm_unpacklo_epi8(color, zero);
  // The fourth byte of each pixel blends with level 0: it stays.
  const __m128i colourLanes = _mm_set_epi16(-1, -1, -1, 0, -1, -1, -1, 0);
  const __m128i full = _mm_set1_epi8(char(0xFF));
  for (; i + 4 <= n; i += 4) {
    uint32_t four;
    std::memcpy(&four, c + i, 4);
    if (!four) continue;
    const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + i));
    const __m128i cov = _mm_cvtsi32_si128(int32_t(four));
    const __m128i words = _mm_unpacklo_epi8(cov, zero);            // c0 c1 c2 c3 as 16 bits
    const __m128i pairs = _mm_unpacklo_epi16(words, words);        // c0 c0 c1 c1 c2 c2 c3 c3
    const __m128i levelLo = _mm_and_si128(_mm_unpacklo_epi32(pairs, pairs), colourLanes);
    const __m128i levelHi = _mm_and_si128(_mm_unpackhi_epi32(pairs, pairs), colourLanes);
    __m128i out[2];
    const __m128i d[2] = {_mm_unpacklo_epi8(px, zero), _mm_unpackhi_epi8(px, zero)};
    const __m128i level[2] = {levelLo, levelHi};
    for (int k = 0; k < 2; k++) {
      const __m128i diff = _mm_sub_epi16(colorLo, d[k]);
      // (diff * level) >> 8 taken from the 32-bit product's middle bits: it fits in 16.
      const __m128i lo = _mm_mullo_epi16(diff, level[k]), hi = _mm_mulhi_epi16(diff, level[k]);
      const __m128i step = _mm_or_si128(_mm_srli_epi16(lo, 8), _mm_slli_epi16(hi, 8));
      out[k] = _mm_add_epi16(d[k], step);
    }
    const __m128i blended = _mm_packus_epi16(out[0], out[1]);
    const __m128i spread = _mm_unpacklo_epi16(_mm_unpacklo_epi8(cov, cov), _mm_unpacklo_epi8(cov, cov));
    const __m128i covered = _mm_cmpeq_epi8(spread, full);
    const __m128i result = _mm_or_si128(_mm_and_si128(covered, color), _mm_andnot_si128(covered, blended));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(row + i), result);
  }
#endif
  CoverPixelsScalar(row + i, c + i, n - i, pixel);
}

bool CanDrawShapeDirect(const qmShapeRequest *req) {
  const qmDrawStyle &st = req->style;
  const bool effects = (st.formStyle & (FORM_EDGE | FORM_SHADOW)) && st.fillStyle != DRAWFILL_NONE;
  return !effects && (st.fillStyle == DRAWFILL_COLOR || st.fillStyle == DRAWFILL_NONE);
}

uint32_t DrawShapeDirect(qmShapeRequest *req, const qmDrawTarget *t, qmDrawnRect *drawn) {
  *drawn = {};
  int32_t *main, *edge, n, en;
  if (uint32_t code = PrepareShapeGeometry(req, &main, &n, &edge, &en)) return code;
  const bool outline = req->style.fillStyle == DRAWFILL_NONE;
  const int32_t lineWidth = std::max(req->style.lineWidth, 1);
  int64_t w = req->imageWidth, h = req->imageHeight, pad = 0;
  if (req->antialias) w += kAntialiasGrow, h += kAntialiasGrow, pad += kAntialiasShift;
  if (outline && lineWidth > 1) w += lineWidth + kStrokeGrow, h += lineWidth + kStrokeGrow, pad += lineWidth / 2 + kStrokeShift;
  const int64_t x = int64_t(req->x) + req->originX - pad, y = int64_t(req->y) + req->originY - pad;
  const int32_t skip = req->type == QMTYPE_ARC ? 2 : 0;
  if (n - skip < 1 || !Visible(t, x, y, w, h)) return 0;
  // An opaque hard-edged shape wholly inside the clip rectangle of a plain bitmap is written
  // straight into it: the rasteriser cuts nothing, so the pixels are those of the plane route.
  const bool inside = x >= t->clipX && y >= t->clipY && x + w <= int64_t(t->clipX) + t->clipWidth &&
                      y + h <= int64_t(t->clipY) + t->clipHeight;
  if (inside && t->bitmap && !t->mask && !t->alpha && !t->clipMask && !req->antialias && !(req->color >> 24)) {
    const int32_t *p = Moved(main + 2 * skip, n - skip, int32_t(x + req->shapeX + pad), int32_t(y + req->shapeY + pad));
    const uint32_t pixel = Stored(req->color & 0xFFFFFF);
    if (uint32_t code = outline ? DrawBitmapOutline(t->bitmap, p, n - skip, lineWidth, pixel)
                                : FillBitmapPolygon(t->bitmap, p, n - skip, pixel))
      return code;
    AddDrawn(drawn, x, y, x + w, y + h);
    return 0;
  }
  CoverageWindow win;
  if (uint32_t code = OpenCoverageWindow(t, x, y, w, h, &win)) return code;
  if (!win.plane) return 0;
  // Outline points on the plane: image position plus the shape's offset in the image.
  const int64_t dx = x - win.x + req->shapeX + pad, dy = y - win.y + req->shapeY + pad;
  const int32_t *p = Moved(main + 2 * skip, n - skip, int32_t(dx), int32_t(dy));
  const uint32_t code = outline ? DrawCoverageOutline(win.plane, p, n - skip, lineWidth, req->antialias)
                                : FillCoveragePolygon(win.plane, p, n - skip, req->antialias);
  if (code) return code;
  CoverTarget(t, win, req->color, drawn, kNoLimit);
  return 0;
}

uint32_t DrawLineDirect(const qmDrawTarget *t, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color,
                        int32_t thickness, int32_t antialias, qmDrawnRect *drawn) {
  *drawn = {};
  thickness = std::max(thickness, 1);
  int64_t w = std::llabs(int64_t(x2) - x1) + 1, h = std::llabs(int64_t(y2) - y1) + 1, pad = 0;
  if (antialias) w += kAntialiasGrow, h += kAntialiasGrow, pad += kAntialiasShift;
  if (thickness > 1) w += thickness + kStrokeGrow, h += thickness + kStrokeGrow, pad += thickness / 2 + kStrokeShift;
  const int64_t x = int64_t(std::min(x1, x2)) - pad, y = int64_t(std::min(y1, y2)) - pad;
  // A line touches few pixels of its box: only the rows' reach is read and cleared again. The
  // rasteriser's pixels lie within half the thickness of the segment, and anti-aliasing reaches
  // at most two pixels further.
  const LineReach reach{x1 - x, y1 - y, x2 - x, y2 - y, thickness / 2 + 3};
  CoverageWindow win;
  if (uint32_t code = OpenCoverageWindow(t, x, y, w, h, &win)) return code;
  if (!win.plane) return 0;
  win.reach = &reach;
  const uint32_t code = DrawCoverageLine(win.plane, int32_t(x1 - x), int32_t(y1 - y), int32_t(x2 - x),
                                         int32_t(y2 - y), thickness, antialias);
  if (!code) CoverTarget(t, win, color, drawn, kNoLimit, &reach);
  return code;
}

void FreeShapeImage(qmShapeImage *img) {
  FreeBitmap(img->bitmap);
  FreeMask(img->mask);
  FreeAlphaChannel(img->alpha);
  img->bitmap = nullptr, img->mask = nullptr, img->alpha = nullptr;
}

uint32_t RenderShapeImage(qmShapeRequest *req, const qmBitmap *texture, qmShapeImage *out) {
  *out = {};
  int32_t *main, *edge, n, en;
  if (uint32_t code = PrepareShapeGeometry(req, &main, &n, &edge, &en)) return code;
  const qmDrawStyle &st = req->style;
  const bool outline = st.fillStyle == DRAWFILL_NONE;
  const int32_t lineWidth = std::max(st.lineWidth, 1);
  int64_t w = req->imageWidth, h = req->imageHeight;
  int32_t pad = 0;
  int64_t x = int64_t(req->x) + req->originX, y = int64_t(req->y) + req->originY;
  if (req->antialias) w += kAntialiasGrow, h += kAntialiasGrow, pad += kAntialiasShift;
  if (outline && lineWidth > 1) w += lineWidth + kStrokeGrow, h += lineWidth + kStrokeGrow, pad += lineWidth / 2 + kStrokeShift;
  x -= pad, y -= pad;
  if (x < INT32_MIN || y < INT32_MIN || x > INT32_MAX || y > INT32_MAX) return 0;
  // An arc's outline begins with its bounding pair, which only sized the image.
  const int32_t skip = req->type == QMTYPE_ARC ? 2 : 0;
  const int32_t alphaByte = int32_t(req->color >> 24);
  const bool partial = alphaByte || req->antialias || (req->hasEdge && req->edgeAlpha) ||
                       (req->hasShadow && req->shadowAlpha);
  if (uint32_t code = AllocImage(out, w, h)) return code;
  out->x = int32_t(x), out->y = int32_t(y);

  uint32_t code = 0;
  qmAlphaChannel *cov = AllocAlphaChannel(int32_t(w), int32_t(h), 1);
  qmBitmap *fill = nullptr;
  if (!cov) code = ERR_MEM;
  if (!code && !outline && (st.fillStyle == DRAWFILL_GRADIENT || st.fillStyle == DRAWFILL_TEXTURE)) {
    // The fill picture lies over the whole image; only the shape's box of it is painted.
    fill = AllocBitmap(int32_t(w), int32_t(h));
    if (!fill) code = ERR_MEM;
    const int32_t bx = req->shapeX + pad, by = req->shapeY + pad;
    // A turned or scaled shape reaches beyond its untransformed box: the fill then covers the
    // whole image, so that no pixel of it is left unset.
    const bool whole = !IsIdentityMatrix(req->matrix);
    if (!code && st.fillStyle == DRAWFILL_GRADIENT) {
      const qmGradientFill g = GradientFillOf(&st.gradient);
      code = whole ? DrawGradient(fill, 0, 0, int32_t(w), int32_t(h), &g)
                   : DrawGradient(fill, bx, by, req->width, req->height, &g);
    } else if (!code && texture) {
      // The tiles keep their phase at the box's corner.
      const auto phase = [](int64_t offset, int32_t corner, int32_t tile) {
        return int32_t(((offset - corner) % tile + tile) % tile);
      };
      TileBitmap(fill, 0, 0, int32_t(w), int32_t(h), texture, phase(st.textureX, bx, texture->width),
                 phase(st.textureY, by, texture->height), texture->width, texture->height);
    }
  }
  const int32_t aa = req->antialias;
  auto pass = [&](const int32_t *pts, int32_t count, int32_t dx, int32_t dy, uint32_t rgb, int32_t level,
                  const qmBitmap *source) {
    if (code || count - skip < 1) return;
    ClearPlane(cov);
    const int32_t *p = Moved(pts + 2 * skip, count - skip, dx + pad, dy + pad);
    code = outline ? DrawCoverageOutline(cov, p, count - skip, lineWidth, aa)
                   : FillCoveragePolygon(cov, p, count - skip, aa);
    if (!code) CoverShapeImage(out, cov, rgb, level, source);
  };
  if (req->hasShadow) {
    if (req->hasEdge) pass(edge, en, req->shadowX, req->shadowY, req->shadowColor, 255 - req->shadowAlpha, nullptr);
    else pass(main, n, req->shadowX, req->shadowY, req->shadowColor, 255 - req->shadowAlpha, nullptr);
  }
  if (req->hasEdge) pass(edge, en, req->edgeX, req->edgeY, req->edgeColor, 255 - req->edgeAlpha, nullptr);
  pass(main, n, req->shapeX, req->shapeY, req->color & 0xFFFFFF, 255 - alphaByte, fill);

  FreeAlphaChannel(cov);
  FreeBitmap(fill);
  if (!code) code = FinishImage(out, partial);
  if (code) FreeShapeImage(out);
  return code;
}

int32_t LineEffectsRoom(int32_t shadowOn, int32_t shadowSize, double radius, double sigma, int32_t borderOn,
                        int32_t borderSize) {
  int64_t room = 0;
  if (shadowOn) {
    const double blur = std::max(radius, 0.0) + 3 * std::max(sigma, 0.0);
    room += std::llabs(int64_t(shadowSize)) + int64_t(std::ceil(std::min(blur, 1e6)));
  }
  if (borderOn) room += std::max(borderSize, 0);
  return int32_t(std::min<int64_t>(room, QM_MAX_PICTURE_SIDE));
}

uint32_t RenderLineImage(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color, int32_t thickness,
                         int32_t antialias, const qmLineView *view, qmShapeImage *out) {
  *out = {};
  thickness = std::max(thickness, 1);
  int64_t bx = std::min(x1, x2), by = std::min(y1, y2);
  int64_t w = std::llabs(int64_t(x2) - x1) + 1, h = std::llabs(int64_t(y2) - y1) + 1;
  int64_t pad = 0;
  if (antialias) w += kAntialiasGrow, h += kAntialiasGrow, pad += kAntialiasShift;
  if (thickness > 1) w += thickness + kStrokeGrow, h += thickness + kStrokeGrow, pad += thickness / 2 + kStrokeShift;
  int64_t ox = bx - pad, oy = by - pad;
  // The ends the line is drawn from, relative to the image.
  int64_t ends[4] = {x1, y1, x2, y2};
  bool blank = false;
  if (view && view->width > 0 && view->height > 0) {
    // Only what the view can show is rendered, as a line drawn fresh with layers on is: a
    // one-pixel line walked from its own ends, a thick one (or one whose ends leave the
    // coordinate range) cut to the view grown by its width first, so both give the same pixels.
    constexpr int64_t kSlack = 4;
    const int64_t grow = std::max(view->grow, 0);
    const int64_t margin = thickness + 4 + grow;
    int32_t c[4] = {x1, y1, x2, y2};
    const int32_t lowX = int32_t(-margin), lowY = int32_t(-margin);
    const int32_t highX = int32_t(std::min<int64_t>(view->width + margin, INT32_MAX));
    const int32_t highY = int32_t(std::min<int64_t>(view->height + margin, INT32_MAX));
    const bool seen = ClipLineToRange(&c[0], &c[1], &c[2], &c[3], lowX, highX) &&
                      ClipLineToRange(&c[1], &c[0], &c[3], &c[2], lowY, highY);
    // The image is the line's own box cut to the box of the part that can show, which starts
    // where a fresh line's picture starts: the walk then runs over the same image rows.
    const int64_t margin0 = thickness + 4;
    const int64_t left = std::max({ox, int64_t(std::min(c[0], c[2])) - margin0, -kSlack - grow});
    const int64_t top = std::max({oy, int64_t(std::min(c[1], c[3])) - margin0, -kSlack - grow});
    const int64_t right = std::min({ox + w, int64_t(std::max(c[0], c[2])) + margin0 + 1, view->width + kSlack + grow});
    const int64_t bottom =
        std::min({oy + h, int64_t(std::max(c[1], c[3])) + margin0 + 1, view->height + kSlack + grow});
    if (!seen || left >= right || top >= bottom) {
      blank = true;
      ox = oy = 0, w = h = 1;
    } else {
      ox = left, oy = top, w = right - left, h = bottom - top;
      bool whole = thickness == 1;
      for (int k = 0; k < 4; k++) whole = whole && ends[k] - (k % 2 ? oy : ox) >= INT32_MIN &&
                                                  ends[k] - (k % 2 ? oy : ox) <= INT32_MAX;
      if (!whole) std::copy(c, c + 4, ends);
    }
  }
  if (uint32_t code = AllocImage(out, w, h)) return code;
  if (ox < INT32_MIN || oy < INT32_MIN) {
    FreeShapeImage(out);
    return 0;
  }
  out->x = int32_t(ox), out->y = int32_t(oy);
  qmAlphaChannel *cov = AllocAlphaChannel(int32_t(w), int32_t(h), 1);
  uint32_t code = cov ? 0u : uint32_t(ERR_MEM);
  if (!code && !blank) {
    // Drawn as the draw library draws a line into a layer's picture, so that a line drawn again
    // lands on the pixels it had: the coverage alone, taken to the colour's level below.
    qmDrawTarget cover{};
    cover.alpha = cov;
    cover.clipWidth = int32_t(w), cover.clipHeight = int32_t(h);
    cover.alphaValue = -1;
    const int32_t ax = int32_t(ends[0] - ox), ay = int32_t(ends[1] - oy);
    const int32_t bx2 = int32_t(ends[2] - ox), by2 = int32_t(ends[3] - oy);
    if (thickness == 1) {
      DrawTargetLine(&cover, ax, ay, bx2, by2, 0, antialias);
    } else {
      qmDrawnRect drawn;
      code = DrawLineDirect(&cover, ax, ay, bx2, by2, 0, thickness, antialias, &drawn);
    }
  }
  if (!code) CoverShapeImage(out, cov, color & 0xFFFFFF, 255 - int32_t(color >> 24), nullptr);
  FreeAlphaChannel(cov);
  if (!code) code = FinishImage(out, blank || antialias || (color >> 24));
  if (code) FreeShapeImage(out);
  return code;
}

void DrawTargetLine(const qmDrawTarget *t, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color,
                    int32_t antialias) {
  qmPlotState s = PlotStateFor(t, color);
  // The rasterizers clip each pixel and walk only the rows or columns inside the clip
  // rectangle, so a line that runs past the target's edge keeps the pixels of the whole line
  // (cutting its ends to the edge first would move the line).
  if (t->clipWidth < 1 || t->clipHeight < 1) return;
  // An alpha channel drawn into alone at a set intensity takes that value wherever the line
  // goes: its coverage would have to scale the intensity, so the line is drawn hard-edged there.
  if (!t->bitmap && t->alpha && t->alphaValue >= 0) antialias = 0;
  if (antialias) AntialiasLinePixels(&s, x1, y1, x2, y2);
  else ThickLinePixels(&s, x1, y1, x2, y2);
}

void DrawTargetPixel(const qmDrawTarget *t, int32_t x, int32_t y, uint32_t color) {
  qmPlotState s = PlotStateFor(t, color);
  PlotPixel(&s, x, y);
}

void FillTargetRect(const qmDrawTarget *t, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t color) {
  const int64_t x0 = std::max<int64_t>(x, t->clipX), y0 = std::max<int64_t>(y, t->clipY);
  const int64_t x1 = std::min<int64_t>(int64_t(x) + width, int64_t(t->clipX) + t->clipWidth);
  const int64_t y1 = std::min<int64_t>(int64_t(y) + height, int64_t(t->clipY) + t->clipHeight);
  if (x0 >= x1 || y0 >= y1) return;
  const int32_t cx = int32_t(x0), cy = int32_t(y0), cw = int32_t(x1 - x0), ch = int32_t(y1 - y0);
  if (t->bitmap) FillBitmapRect(t->bitmap, cx, cy, cw, ch, color & 0xFFFFFF);
  if (t->mask) FillMaskRect(t->mask, cx, cy, cw, ch, t->maskMode);
  if (t->alpha) {
    const int32_t level = !t->bitmap && t->alphaValue >= 0 ? std::min(t->alphaValue, 255) : 255 - int32_t(color >> 24);
    FillAlphaRect(t->alpha, cx, cy, cw, ch, uint8_t(level));
  }
}

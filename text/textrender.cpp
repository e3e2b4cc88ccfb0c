// The run renderer: one picture for a laid-out block. Every run's glyphs are drawn into a
// coverage plane of bytes (0..255) the width of the picture and one line high; synthetic
// styles, shadow and edge work on that plane, and the plane is painted into the picture.
#include <algorithm>
#include <cstring>
#include <vector>

#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "graphics/pixelformat.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "text/glyph_paint.h"
#include "text/textlayout.h"

namespace {

struct Picture {
  qmBitmap *bitmap;
  qmMask *mask;
  qmAlphaChannel *alpha;
  int32_t width, height;
};

// One line's glyph coverage, picture-wide.
struct Coverage {
  std::vector<uint8_t> bytes;
  int32_t width = 0, height = 0;
  uint8_t &At(int32_t x, int32_t y) { return bytes[size_t(y) * size_t(width) + size_t(x)]; }
  void Clear() { std::fill(bytes.begin(), bytes.end(), 0); }
};

uint32_t Opacity(uint32_t color) { return 255 - (color >> 24); }

// Paints the colour through the coverage at (ox, oy) of the picture. Mask pictures take
// covered pixels whole; alpha pictures blend over what is there and keep the larger opacity.
// The colour is turned into the picture's format once (pictures here are AllocBitmap's).
void Paint(Picture *pic, Coverage &cov, int32_t ox, int32_t oy, uint32_t color) {
  const int32_t format = pic->bitmap->pixelFormat;
  const uint32_t stored = ArgbToStored(format, 0xFF000000u | (color & 0xFFFFFF));
  const int32_t x0 = std::max(0, -ox), x1 = std::min(cov.width, pic->width - ox);
  if (x0 >= x1) return;
  const int32_t pitch = pic->bitmap->bytesPerRow / 4;
  for (int32_t y = 0; y < cov.height; y++) {
    const int32_t py = oy + y;
    if (py < 0 || py >= pic->height) continue;
    const uint8_t *c = &cov.At(0, y);
    uint32_t *row = pic->bitmap->pixels + size_t(py) * size_t(pitch) + ox;
    if (pic->mask) {
      uint8_t *bits = pic->mask->memory + size_t(py) * size_t(pic->mask->bytesPerRow);
      for (int32_t x = x0; x < x1; x++)
        if (c[x] >= 128) row[x] = stored, SetMaskBit(bits, ox + x, true);
      continue;
    }
    const qmGlyphSpan span{c + x0, row + x0, pic->alpha->memory + size_t(py) * size_t(pic->alpha->bytesPerRow) + ox + x0, x1 - x0,
                           stored, FourthByteMask(format), Opacity(color)};
    PaintGlyphSpan(&span);
  }
}

// The coverage widened by e in every direction: the largest (plain) or the box sum divided by
// 2e + 1 (anti-aliased) of the (2e + 1)^2 neighbourhood, done by rows and then columns.
Coverage Widen(Coverage &src, int32_t e, bool antiAlias) {
  Coverage out;
  out.width = src.width + 2 * e;
  out.height = src.height + 2 * e;
  std::vector<uint32_t> rows(size_t(out.width) * size_t(src.height), 0);
  for (int32_t y = 0; y < src.height; y++)
    for (int32_t x = 0; x < src.width; x++) {
      uint8_t c = src.At(x, y);
      if (!c) continue;
      for (int32_t k = 0; k <= 2 * e; k++) {
        uint32_t &t = rows[size_t(y) * size_t(out.width) + size_t(x + k)];
        t = antiAlias ? t + c : std::max<uint32_t>(t, c);
      }
    }
  out.bytes.assign(size_t(out.width) * size_t(out.height), 0);
  std::vector<uint32_t> column(size_t(out.height));
  for (int32_t x = 0; x < out.width; x++) {
    std::fill(column.begin(), column.end(), 0);
    for (int32_t y = 0; y < src.height; y++) {
      uint32_t v = rows[size_t(y) * size_t(out.width) + size_t(x)];
      if (!v) continue;
      for (int32_t k = 0; k <= 2 * e; k++) column[size_t(y + k)] = antiAlias ? column[size_t(y + k)] + v : std::max(column[size_t(y + k)], v);
    }
    for (int32_t y = 0; y < out.height; y++) {
      uint32_t v = antiAlias ? column[size_t(y)] / uint32_t(2 * e + 1) : column[size_t(y)];
      out.At(x, y) = uint8_t(std::min<uint32_t>(v, 255));
    }
  }
  return out;
}

void ShadowOffset(const qmTextStyle &s, int32_t *dx, int32_t *dy) {
  int32_t d = s.shadowDistance;
  static const int32_t kX[8] = {0, 1, 1, 1, 0, -1, -1, -1}, kY[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
  int32_t dir = s.shadowDirection >= 0 && s.shadowDirection < 8 ? s.shadowDirection : 3;
  *dx = kX[dir] * d;
  *dy = kY[dir] * d;
}

// The run's glyphs into the coverage plane with the pen at x; synthetic styles for engines
// that cannot draw them.
void DrawRunGlyphs(const char *text, const qmTextRun &run, int32_t encoding, int32_t x, Coverage &cov) {
  qmFont *font = run.style.font;
  bool antiAlias = (run.style.style & QM_STYLE_ANTIALIAS) != 0;
  int32_t engineStyle = run.style.style & (QM_STYLE_BOLD | QM_STYLE_ITALIC | QM_STYLE_ANTIALIAS);
  if (antiAlias) {
    qmMask plane{cov.bytes.data(), cov.width, cov.height, cov.width, 1};
    RenderFontText(font, &plane, nullptr, x, 0, text, run.length, engineStyle, encoding, nullptr, kGlyphPlane);
  } else {
    int32_t bytesPerRow = cov.width / 8 + 1;
    std::vector<uint8_t> bits(size_t(bytesPerRow) * size_t(cov.height), 0);
    qmMask plane{bits.data(), cov.width, cov.height, bytesPerRow, 1};
    RenderFontText(font, &plane, nullptr, x, 0, text, run.length, engineStyle, encoding, nullptr, kGlyphPlane);
    for (int32_t y = 0; y < cov.height; y++)
      for (int32_t px = 0; px < cov.width; px++)
        if (bits[size_t(y) * size_t(bytesPerRow) + size_t(px / 8)] & (0x80 >> (px % 8))) cov.At(px, y) = 255;
  }
  if (!font) return;
  // The system engine draws bold and italic itself; the underline is drawn here for every font.
  bool synthetic = !IsNativeFont(font);
  int32_t baseline = font->baseline, height = font->height;
  if (synthetic && !antiAlias && (run.style.style & QM_STYLE_BOLD))
    for (int32_t y = 0; y < cov.height; y++)
      for (int32_t px = cov.width - 1; px > 0; px--) cov.At(px, y) = std::max(cov.At(px, y), cov.At(px - 1, y));
  if (synthetic && !antiAlias && (run.style.style & QM_STYLE_ITALIC)) {
    std::vector<uint8_t> row(size_t(cov.width));
    for (int32_t y = 0; y < cov.height; y++) {
      int32_t shift = baseline - 1 - y;
      shift = shift >= 0 ? shift / 2 : -((-shift + 1) / 2);  // floor of half
      for (int32_t px = 0; px < cov.width; px++) {
        int32_t from = px - shift;
        row[size_t(px)] = from >= 0 && from < cov.width ? cov.At(from, y) : 0;
      }
      std::memcpy(&cov.At(0, y), row.data(), row.size());
    }
  }
  if (run.style.style & QM_STYLE_UNDERLINED) {
    int32_t d = height - baseline;
    int32_t thickness = std::max(1, d / 3);
    int32_t top = d == 0 ? baseline : d == 1 ? baseline + 1 : baseline + std::max(1, d / 3);
    for (int32_t y = top; y < top + thickness && y < cov.height; y++)
      for (int32_t px = x; px < x + run.extent.width && px < cov.width; px++)
        if (y >= 0 && px >= 0) cov.At(px, y) = 255;
  }
}

}  // namespace

void FreeTextBox(qmTextBox *box) {
  if (box->bitmap) FreeBitmap(box->bitmap);
  if (box->mask) FreeMask(box->mask);
  if (box->alpha) FreeAlphaChannel(box->alpha);
  box->bitmap = nullptr;
  box->mask = nullptr;
  box->alpha = nullptr;
}

uint32_t RenderTextRuns(const qmTextRequest *request, qmTextLayout *layout, int32_t wrapWidth, qmTextBox *box) {
  *box = {};
  std::vector<qmTextRun> &runs = layout->runs;
  qmFont *font = request->style.font;
  int32_t lineHeight = font ? font->height : 8;
  if (runs.empty()) {
    // No runs: one pixel wide, one line high, nothing visible.
    box->bitmap = AllocBitmap(1, lineHeight);
    box->mask = AllocMask(1, lineHeight, 1);
    if (!box->bitmap || !box->mask) {
      FreeTextBox(box);
      return ERR_MEM;
    }
    box->width = box->width2 = 1;
    box->height = lineHeight;
    return 0;
  }
  bool oneLine = std::all_of(runs.begin(), runs.end(), [](const qmTextRun &r) { return r.lineTop == 0; });
  if (oneLine) {
    for (qmTextRun &r : runs) r.x -= layout->firstLineOffset;
    box->firstLineOffset = layout->firstLineOffset;
  }
  int32_t left = INT32_MAX, top = 0, right = INT32_MIN, bottom = 0, lastLine = 0, widest = 0;
  for (const qmTextRun &r : runs) {
    left = std::min(left, r.x + std::min(r.extent.minX, 0) + r.extent.left);
    top = std::min(top, r.extent.top);
    right = std::max(right, r.x + r.extent.inkWidth + r.extent.right);
    bottom = std::max(bottom, r.extent.bottom);
    lastLine = std::max(lastLine, r.lineTop);
    widest = std::max(widest, r.x + r.extent.maxX + 1);
  }
  left = std::min(left, 0);
  int32_t width = right - left;
  if (wrapWidth > 0 && width > wrapWidth - left) width = wrapWidth - left;
  if (width < 1) width = 1;
  int32_t height = lastLine + lineHeight + bottom + 1 - top;
  if (request->align == POS_CENTER || request->align == POS_RIGHT) {
    for (size_t i = 0; i < runs.size();) {
      size_t end = i;
      while (end + 1 < runs.size() && runs[end + 1].lineTop == runs[i].lineTop) end++;
      int32_t shift = widest - (runs[end].x + runs[end].extent.maxX) - 1;
      if (request->align == POS_CENTER) shift /= 2;
      for (size_t k = i; k <= end; k++) runs[k].x += shift;
      i = end + 1;
    }
  }
  box->x = left;
  box->y = top;
  box->width = box->width2 = width;
  box->height = height;
  // A mask picture unless anti-aliasing or a transparent colour needs an alpha channel.
  bool alpha = false;
  for (const qmTextRun &r : runs) {
    const qmTextStyle &s = r.style;
    if (s.font && s.font->engineType == QM_FONT_COLOR) continue;
    alpha = alpha || (s.style & QM_STYLE_ANTIALIAS) || (s.color >> 24) ||
            ((s.style & QM_STYLE_SHADOW) && (s.shadowColor >> 24)) || ((s.style & QM_STYLE_EDGE) && (s.edgeColor >> 24));
  }
  Picture pic{AllocBitmap(width, height), nullptr, nullptr, width, height};
  if (alpha) pic.alpha = AllocAlphaChannel(width, height, 1);
  else pic.mask = AllocMask(width, height, 1);
  if (!pic.bitmap || (!pic.alpha && !pic.mask)) {
    if (pic.bitmap) FreeBitmap(pic.bitmap);
    if (pic.mask) FreeMask(pic.mask);
    if (pic.alpha) FreeAlphaChannel(pic.alpha);
    return ERR_MEM;
  }
  FillBitmapRect(pic.bitmap, 0, 0, width, height, 0);
  try {
    Coverage cov;
    cov.width = width;
    cov.height = lineHeight + 1;
    cov.bytes.assign(size_t(cov.width) * size_t(cov.height), 0);
    for (const qmTextRun &r : runs) {
      const char *text = layout->text.data() + r.start;
      int32_t px = r.x - left, py = r.lineTop - top;
      const qmTextStyle &s = r.style;
      if (s.font && s.font->engineType == QM_FONT_COLOR) {
        // Colour glyphs: their own pixels, through their own mask.
        qmMask *planeMask = pic.mask;
        if (!planeMask) continue;
        RenderFontText(s.font, pic.bitmap, planeMask, px, py, text, r.length, 0, request->encoding, nullptr,
                       kGlyphPlane);
        continue;
      }
      cov.Clear();
      DrawRunGlyphs(text, r, request->encoding, px, cov);
      bool antiAlias = (s.style & QM_STYLE_ANTIALIAS) != 0;
      if (s.style & QM_STYLE_SHADOW) {
        int32_t dx, dy;
        ShadowOffset(s, &dx, &dy);
        if (s.style & QM_STYLE_EDGE) {
          Coverage wide = Widen(cov, s.edgeSize, antiAlias);
          Paint(&pic, wide, dx - s.edgeSize, py + dy - s.edgeSize, s.shadowColor);
        } else {
          Paint(&pic, cov, dx, py + dy, s.shadowColor);
        }
      }
      if (s.style & QM_STYLE_EDGE) {
        Coverage wide = Widen(cov, s.edgeSize, antiAlias);
        Paint(&pic, wide, -s.edgeSize, py - s.edgeSize, s.edgeColor);
      }
      Paint(&pic, cov, 0, py, s.color);
    }
  } catch (const std::bad_alloc &) {
    FreeBitmap(pic.bitmap);
    if (pic.mask) FreeMask(pic.mask);
    if (pic.alpha) FreeAlphaChannel(pic.alpha);
    return ERR_MEM;
  }
  box->bitmap = pic.bitmap;
  box->mask = pic.mask;
  box->alpha = pic.alpha;
  return 0;
}

uint32_t MakeTextLayerBorder(const qmMask *mask, const qmAlphaChannel *alpha, int32_t width, int32_t height,
                             uint32_t color, int32_t radius, qmBitmap **bitmapOut, qmMask **maskOut,
                             qmAlphaChannel **alphaOut) {
  *bitmapOut = nullptr, *maskOut = nullptr, *alphaOut = nullptr;
  if ((!mask && !alpha) || width < 1 || height < 1 || radius < 0) return ERR_MEM;
  Coverage text;
  text.width = width, text.height = height;
  try {
    text.bytes.assign(size_t(width) * size_t(height), 0);
  } catch (const std::bad_alloc &) {
    return ERR_MEM;
  }
  for (int32_t y = 0; y < height; y++)
    for (int32_t x = 0; x < width; x++)
      text.At(x, y) = alpha ? alpha->memory[size_t(y) * size_t(alpha->bytesPerRow) + size_t(x)]
                      : GetMaskBit(mask->memory + size_t(y) * size_t(mask->bytesPerRow), x) ? 255 : 0;
  Coverage wide;
  try {
    wide = Widen(text, radius, alpha != nullptr);
  } catch (const std::bad_alloc &) {
    return ERR_MEM;
  }
  // One column and one row more than the widened text: the stamps of offset 2r reach that far.
  const int32_t w = width + 2 * radius + 1, h = height + 2 * radius + 1;
  qmBitmap *bitmap = AllocBitmap(w, h);
  qmMask *plane = alpha ? AllocAlphaChannel(w, h, 1) : AllocMask(w, h, 1);
  if (!bitmap || !plane) {
    FreeBitmap(bitmap);
    if (alpha) FreeAlphaChannel(plane);
    else FreeMask(plane);
    return ERR_MEM;
  }
  FillBitmapRect(bitmap, 0, 0, w, h, color & 0xFFFFFF);
  for (int32_t y = 0; y < wide.height; y++)
    for (int32_t x = 0; x < wide.width; x++) {
      const uint8_t c = wide.At(x, y);
      if (alpha) plane->memory[size_t(y) * size_t(plane->bytesPerRow) + size_t(x)] = c;
      else if (c) SetMaskBit(plane->memory + size_t(y) * size_t(plane->bytesPerRow), x, true);
    }
  *bitmapOut = bitmap;
  if (alpha) *alphaOut = plane;
  else *maskOut = plane;
  return 0;
}

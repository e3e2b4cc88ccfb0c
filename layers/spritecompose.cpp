// Composing a rectangle of the sprites shown over a picture. An opaque sprite pixel (a frame
// without mask or alpha, or alpha 255) replaces what lies below word for word, so a deep
// rectangle is planned from the top sprite down, a band of rows at a time: a sprite is drawn
// only where no opaque pixel of a sprite above it lies, the background only where none lies at
// all, and then the plan is carried out bottom-up. Every pixel ends as drawing all of them
// bottom-up over the background leaves it.
#include <algorithm>
#include <vector>

#include "display/dirtyrects.h"
#include "display/display.h"
#include "display/safeblt.h"
#include "display/scene.h"
#include "graphics/alphaops.h"
#include "graphics/blend_kernels.h"
#include "graphics/blit.h"
#include "graphics/blit_kernels.h"
#include "graphics/geometry.h"
#include "layers/sprite.h"

namespace {

// One shown sprite's part of the rectangle and the planes it is drawn from: through the mask
// when the frame has one, else through the alpha channel when it has one, else copied.
struct Piece {
  int32_t x0, y0, x1, y1;  // in the destination, right and bottom exclusive
  int32_t srcX, srcY;      // the frame's pixel at (x0, y0)
  const qmBitmap *bitmap;
  const qmMask *mask;
  const qmAlphaChannel *alpha;
  const qmSpriteBandRuns *bands;  // the frame's, or null: every pixel drawn, none counted opaque
};

// Through SafeBlt, as any picture is drawn: the path of a display with output planes.
void DrawNode(qmScene *scene, const qmShownSprite *n, qmBitmap *dst, const qmRect &area, int32_t W, int32_t H) {
  qmRect part;
  if (!IntersectRects(area, {n->x, n->y, n->width, n->height}, &part)) return;
  if (n->clipped && !IntersectRects(part, {n->clipX, n->clipY, n->clipWidth, n->clipHeight}, &part)) return;
  const qmBitmap *bitmap;
  const qmMask *mask;
  const qmAlphaChannel *alpha;
  GetSpriteFrame(n->sprite, n->frame - 1, &bitmap, &mask, &alpha);
  if (!bitmap) return;
  qmSafeBlt b{};
  b.src = bitmap, b.srcX = part.x - n->x, b.srcY = part.y - n->y;
  b.dst = dst, b.dstX = part.x, b.dstY = part.y;
  b.width = part.w, b.height = part.h;
  b.srcWidth = n->width, b.srcHeight = n->height;
  b.dstWidth = W, b.dstHeight = H;
  b.flags = SAFEBLT_PIXELSONLY | SAFEBLT_NOSPRITES;
  b.mask = mask, b.alpha = alpha;
  SafeBlt(scene, &b);
}

// The part of the area the node draws, cut as SafeBlt cuts it: false when it draws nothing.
bool PieceOf(const qmShownSprite *n, const qmRect &area, int32_t W, int32_t H, Piece *p) {
  qmRect part;
  if (!IntersectRects(area, {n->x, n->y, n->width, n->height}, &part)) return false;
  if (n->clipped && !IntersectRects(part, {n->clipX, n->clipY, n->clipWidth, n->clipHeight}, &part)) return false;
  const qmBitmap *bitmap;
  const qmMask *mask;
  const qmAlphaChannel *alpha;
  GetSpriteFrame(n->sprite, n->frame - 1, &bitmap, &mask, &alpha);
  if (!bitmap || bitmap->bytesPerPixel != 4) return false;
  int32_t srcWidth = std::min(n->width, bitmap->width), srcHeight = std::min(n->height, bitmap->height);
  if (mask) {
    srcWidth = std::min(srcWidth, MaskPlaneWidth(mask)), srcHeight = std::min(srcHeight, PlaneHeight(mask));
  } else if (alpha) {
    srcWidth = std::min(srcWidth, AlphaPlaneWidth(alpha)), srcHeight = std::min(srcHeight, PlaneHeight(alpha));
  }
  qmBlitRect r{part.x - n->x, part.y - n->y, part.x, part.y, part.w, part.h};
  if (!ClipBlitRect(nullptr, &r, srcWidth, srcHeight, W, H, 0)) return false;
  *p = {r.dstX, r.dstY, r.dstX + r.width, r.dstY + r.height, r.srcX, r.srcY, bitmap, mask, mask ? nullptr : alpha,
        nullptr};
  int32_t rows = 0;
  if (mask || alpha) p->bands = GetSpriteBandRuns(n->sprite, n->frame - 1, &rows);
  if (p->bands && r.srcY + r.height > rows) p->bands = nullptr;  // planes that changed size under the node
  return true;
}

// The bits of [from, to) that fall in word w of a row.
uint64_t RangeWord(int32_t w, int32_t from, int32_t to) {
  const int32_t lo = std::max(from - w * 64, 0), hi = std::min(to - w * 64, 64);
  if (lo >= hi) return 0;
  return (hi - lo == 64 ? ~uint64_t(0) : ((uint64_t(1) << (hi - lo)) - 1)) << lo;
}

// f(from, to) for each stretch of set bits of count words (the first being word first of the
// row), runs closer than kMergeGap joined over the clear bits between them: one call of a kernel
// costs about as much as that many pixels.
constexpr int32_t kMergeGap = 16;
template <typename F>
void ForEachStretch(const uint64_t *bits, int32_t first, int32_t count, F f) {
  int32_t start = -1, end = -1, runStart = -1;
  for (int32_t i = 0; i < count; i++) {
    const uint64_t word = bits[i];
    const int32_t base = (first + i) * 64;
    int32_t pos = 0;
    while (pos < 64) {
      const uint64_t rest = (runStart < 0 ? word : ~word) >> pos;
      if (!rest) break;
      pos += __builtin_ctzll(rest);
      if (runStart < 0) {
        runStart = base + pos;
        continue;
      }
      if (start >= 0 && runStart - end >= kMergeGap) f(start, end), start = -1;
      if (start < 0) start = runStart;
      end = base + pos, runStart = -1;
    }
  }
  if (runStart >= 0) {
    if (start >= 0 && runStart - end >= kMergeGap) f(start, end), start = -1;
    if (start < 0) start = runStart;
    end = (first + count) * 64;
  }
  if (start >= 0) f(start, end);
}

// Draws the piece's pixels [from, to) of rows y to y + rows - 1 (destination columns).
void DrawPart(const Piece &p, qmBitmap *dst, int32_t y, int32_t rows, int32_t from, int32_t to) {
  const int32_t srcX = p.srcX + from - p.x0, srcY = p.srcY + y - p.y0;
  const int32_t srcPitch = p.bitmap->bytesPerRow / 4, dstPitch = dst->bytesPerRow / 4;
  if (p.mask) {
    qmMaskedBlitRequest req{p.bitmap->pixels, dst->pixels, p.mask->memory, srcX, srcY, from, y, to - from, rows,
                            srcPitch, p.mask->bytesPerRow, dstPitch, QM_CONVERT_NONE};
    MaskedCopyPixels(&req);
  } else if (p.alpha) {
    qmBlendRequest req{p.bitmap->pixels, srcX, srcY, dst->pixels, from, y, to - from, rows, srcPitch, dstPitch,
                       p.alpha->memory, srcX, srcY, p.alpha->bytesPerRow, dst->pixelFormat};
    BlendAlphaPixels(&req);
  } else {
    qmBlitRequest req{p.bitmap->pixels, dst->pixels, srcX, srcY, from, y, to - from, rows, srcPitch, dstPitch, 0, 0, 0};
    CopyPixels(&req);
  }
}

// How many times over the pieces must cover the area on average before it is planned.
constexpr int64_t kPlanDepth = 4;

// What the plan draws: columns [from, to) of rows y to y + rows - 1 from the piece (-1: the
// background), columns counted from the area's left edge.
struct Part {
  int32_t piece, y, rows, from, to;
};

// The pieces (bottom first) over the background's part of the area. The area's rows are planned
// in bands of kSpriteBand from the top piece down, keeping the columns that opaque runs above
// already cover in every row of the band; then the parts are drawn piece by piece from the
// bottom, bands that keep their columns drawn at once.
void ComposePieces(std::vector<Piece> &pieces, const qmRect &area, qmBitmap *dst, const qmBitmap *background,
                   const qmRect &backgroundPart) {
  const int32_t words = (area.w + 63) / 64, count = int32_t(pieces.size());
  std::vector<uint64_t> cover(static_cast<size_t>(words)), bits(static_cast<size_t>(words));
  std::vector<uint64_t> whole(static_cast<size_t>(words));
  for (int32_t w = 0; w < words; w++) whole[size_t(w)] = RangeWord(w, 0, area.w);
  std::vector<Part> parts;
  parts.reserve(size_t(count) * 4 + size_t(area.h));
  // Few layers deep, the plan saves less than it costs: everything is drawn from the bottom.
  int64_t depth = 0;
  for (const Piece &p : pieces) depth += int64_t(p.x1 - p.x0) * (p.y1 - p.y0);
  const bool plan = depth > kPlanDepth * int64_t(area.w) * area.h;
  if (!plan) {
    if (background) parts.push_back({-1, backgroundPart.y, backgroundPart.h, backgroundPart.x - area.x,
                                     backgroundPart.x - area.x + backgroundPart.w});
    for (int32_t i = 0; i < count; i++) {
      const Piece &p = pieces[size_t(i)];
      parts.push_back({i, p.y0, p.y1 - p.y0, p.x0 - area.x, p.x1 - area.x});
    }
  }
  for (int32_t top = area.y; plan && top < area.y + area.h; top += kSpriteBand) {
    const int32_t bottom = std::min(top + kSpriteBand, area.y + area.h);
    std::fill(cover.begin(), cover.end(), 0);
    bool hidden = false;
    for (int32_t i = count - 1; i >= 0 && !hidden; i--) {
      const Piece &p = pieces[size_t(i)];
      if (p.y0 >= bottom || p.y1 <= top) continue;
      // Its shown columns and opaque run in the band, from the area's left edge.
      const int32_t a = p.x0 - area.x, b = p.x1 - area.x;
      const bool allRows = p.y0 <= top && p.y1 >= bottom;
      int32_t shownFrom = a, shownTo = b, opaqueFrom = a, opaqueTo = p.mask || p.alpha || !allRows ? a : b;
      if (p.bands) {
        const qmSpriteBandRuns &r = p.bands[p.srcY + top - p.y0 + kSpriteBand - 1];
        const auto cut = [&](int32_t x) { return std::clamp(a + x - p.srcX, a, b); };
        shownFrom = cut(r.shownFrom), shownTo = cut(r.shownTo);
        if (allRows) opaqueFrom = cut(r.opaqueFrom), opaqueTo = cut(r.opaqueTo);
      }
      if (shownFrom >= shownTo) continue;
      const int32_t w0 = shownFrom >> 6, w1 = (shownTo - 1) >> 6;
      uint64_t any = 0;
      for (int32_t w = w0; w <= w1; w++) any |= bits[size_t(w)] = RangeWord(w, shownFrom, shownTo) & ~cover[size_t(w)];
      if (!any) continue;  // all under opaque pixels above: its own opaque ones add nothing
      // Widened to whole groups of eight of the piece (the blend's step): what a stretch takes
      // in beyond its bits is transparent or lies under an opaque pixel drawn later.
      const int32_t y = std::max(top, p.y0), rows = std::min(bottom, p.y1) - y;
      ForEachStretch(&bits[size_t(w0)], w0, w1 - w0 + 1, [&](int32_t from, int32_t to) {
        parts.push_back({i, y, rows, a + ((from - a) & ~7), std::min(b, a + ((to - a + 7) & ~7))});
      });
      if (opaqueFrom >= opaqueTo) continue;
      hidden = true;
      for (int32_t w = 0; w < words; w++) {
        cover[size_t(w)] |= RangeWord(w, opaqueFrom, opaqueTo);
        hidden &= cover[size_t(w)] == whole[size_t(w)];  // the pieces below and the background are hidden
      }
    }
    const int32_t y = std::max(top, backgroundPart.y), rows = std::min(bottom, backgroundPart.y + backgroundPart.h) - y;
    if (!background || hidden || rows < 1) continue;
    const int32_t a = backgroundPart.x - area.x, b = a + backgroundPart.w;
    for (int32_t w = 0; w < words; w++) bits[size_t(w)] = RangeWord(w, a, b) & ~cover[size_t(w)];
    ForEachStretch(bits.data(), 0, words, [&](int32_t from, int32_t to) { parts.push_back({-1, y, rows, from, to}); });
  }
  // The area's rows asked of the memory together, before the parts wait on them one by one.
  for (int32_t y = area.y; y < area.y + area.h; y++) {
    const uint32_t *row = dst->pixels + int64_t(y) * (dst->bytesPerRow / 4);
    for (int32_t x = area.x; x < area.x + area.w; x += 16) __builtin_prefetch(row + x, 1);
    __builtin_prefetch(row + area.x + area.w - 1, 1);
  }
  for (int32_t y = backgroundPart.y; background && y < backgroundPart.y + backgroundPart.h; y++) {
    const uint32_t *row = background->pixels + int64_t(y) * (background->bytesPerRow / 4);
    const int32_t x0 = backgroundPart.x, x1 = backgroundPart.x + backgroundPart.w;
    for (int32_t x = x0; x < x1; x += 16) __builtin_prefetch(row + x);
    __builtin_prefetch(row + x1 - 1);
  }
  // By piece from the background up, each one's bands in order.
  std::vector<int32_t> start(static_cast<size_t>(count) + 2, 0);
  for (const Part &part : parts) start[size_t(part.piece + 2)]++;
  for (size_t k = 1; k < start.size(); k++) start[k] += start[k - 1];
  std::vector<Part> ordered(parts.size());
  for (const Part &part : parts) ordered[size_t(start[size_t(part.piece + 1)]++)] = part;
  for (size_t k = 0; k < ordered.size();) {
    Part part = ordered[k++];
    while (k < ordered.size() && ordered[k].piece == part.piece && ordered[k].from == part.from &&
           ordered[k].to == part.to && ordered[k].y == part.y + part.rows)
      part.rows += ordered[k++].rows;
    const int32_t from = area.x + part.from, to = area.x + part.to;
    if (part.piece >= 0) {
      DrawPart(pieces[size_t(part.piece)], dst, part.y, part.rows, from, to);
      continue;
    }
    qmBlitRequest req{background->pixels, dst->pixels, from, part.y, from, part.y, to - from, part.rows,
                      background->bytesPerRow / 4, dst->bytesPerRow / 4, 0, 0, 0};
    CopyPixels(&req);
  }
}

}  // namespace

void DrawShownSprites(qmScene *scene, const qmBGPic *pic, qmBitmap *dst, const qmBitmap *background, int32_t x,
                      int32_t y, int32_t width, int32_t height) {
  if (!pic || !dst) return;
  const int32_t W = std::min(pic->shownWidth, dst->width), H = std::min(pic->shownHeight, dst->height);
  qmRect area;
  if (!IntersectRects({x, y, width, height}, {0, 0, W, H}, &area)) return;
  qmRect backgroundPart{};
  const bool withBackground =
      background && IntersectRects(area, {0, 0, background->width, background->height}, &backgroundPart);
  // The nodes that reach the area, in drawing order. The spans are tested a block at a time
  // without a branch per span (a few of many hit, at random).
  std::vector<const qmShownSprite *> nodes;
  if (!pic->spriteSpans) {
    for (const qmShownSprite *n = pic->shownSprites; n; n = n->next) nodes.push_back(n);
  } else {
    const int32_t x2 = area.x + area.w, y2 = area.y + area.h;  // cut to the picture: no overflow
    constexpr int32_t kBlock = 256;
    int32_t hits[kBlock];
    for (int32_t first = 0; first < pic->spriteSpanCount; first += kBlock) {
      const int32_t end = std::min(pic->spriteSpanCount, first + kBlock);
      int32_t count = 0;
      for (int32_t i = first; i < end; i++) {
        const qmShownSpriteSpan &s = pic->spriteSpans[i];
        hits[count] = i;
        count += int32_t((s.x1 < x2) & (s.x2 > area.x) & (s.y1 < y2) & (s.y2 > area.y));
      }
      for (int32_t k = 0; k < count; k++) nodes.push_back(pic->spriteSpans[hits[k]].node);
    }
  }
  // Output planes take every blit through SafeBlt, the background first.
  const qmDisplay *current = scene ? scene->current : nullptr;
  if (dst->bytesPerPixel != 4 || (withBackground && background->bytesPerPixel != 4) ||
      (current && (current->outputMask || current->outputAlpha))) {
    if (withBackground)
      BltBitmap(background, backgroundPart.x, backgroundPart.y, dst, backgroundPart.x, backgroundPart.y,
                backgroundPart.w, backgroundPart.h);
    for (const qmShownSprite *n : nodes) DrawNode(scene, n, dst, area, W, H);
    return;
  }
  std::vector<Piece> pieces;
  pieces.reserve(nodes.size());
  for (const qmShownSprite *n : nodes) {
    Piece p;
    if (PieceOf(n, area, W, H, &p)) pieces.push_back(p);
  }
  if (pieces.empty() && !withBackground) return;
  ComposePieces(pieces, area, dst, withBackground ? background : nullptr, backgroundPart);
}

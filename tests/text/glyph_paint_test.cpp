// The glyph painter against the rule it implements, written pixel by pixel through ARGB in each
// stored format, and its vector path against its scalar twin.
#include "text/glyph_paint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "graphics/blit.h"
#include "graphics/pixelformat.h"

namespace {

struct Row {
  std::vector<uint8_t> coverage, alpha;
  std::vector<uint32_t> pixels;
};

// Coverage in runs of 0 (some longer than the 32 bytes passed over at once), 255 and anything
// between; alpha often 0; pixels anything.
Row RandomRow(std::mt19937 &rng, int32_t n) {
  Row r{std::vector<uint8_t>(size_t(n)), std::vector<uint8_t>(size_t(n)), std::vector<uint32_t>(size_t(n))};
  int run = 0, kind = 0;
  for (int32_t x = 0; x < n; x++) {
    if (run-- <= 0) kind = int(rng() % 3), run = int(rng() % (kind == 0 ? 45 : 12));
    r.coverage[size_t(x)] = kind == 0 ? 0 : kind == 1 ? 255 : uint8_t(rng());
    r.alpha[size_t(x)] = rng() % 3 == 0 ? 0 : uint8_t(rng());
    r.pixels[size_t(x)] = uint32_t(rng());
  }
  return r;
}

// The rule in ARGB: an alpha-0 pixel becomes the colour, any other steps toward it by c / 255.
void Reference(Row &r, int32_t format, uint32_t rgb, uint32_t opacity) {
  for (size_t x = 0; x < r.pixels.size(); x++) {
    const int32_t c = r.coverage[x];
    if (!c) continue;
    uint32_t argb = 0xFF000000u | rgb;
    if (r.alpha[x]) {
      const uint32_t old = StoredToArgb(format, r.pixels[x]);
      argb = 0xFF000000u;
      for (int shift = 0; shift < 24; shift += 8) {
        const int32_t from = int32_t(old >> shift & 0xFF), to = int32_t(rgb >> shift & 0xFF);
        argb |= uint32_t(from + (to - from) * c / 255) << shift;
      }
    }
    r.pixels[x] = ArgbToStored(format, argb);
    r.alpha[x] = std::max<uint8_t>(r.alpha[x], uint8_t(uint32_t(c) * opacity / 255));
  }
}

} // namespace

TEST(GlyphPaint, FollowsTheRuleInEveryFormatAndMatchesItsTwin) {
  std::mt19937 rng(7);
  const int32_t formats[] = {PIXFMT_XRGB, PIXFMT_BGRX, PIXFMT_RGBX, PIXFMT_XBGR};
  for (int round = 0; round < 200; round++) {
    const int32_t format = formats[round % 4], n = int32_t(rng() % 150);
    const uint32_t rgb = round % 5 == 0 ? 0xFFFFFF : round % 5 == 1 ? 0 : uint32_t(rng()) & 0xFFFFFF;
    const uint32_t opacity = round % 3 == 0 ? 255 : uint32_t(rng() % 256);
    const Row start = RandomRow(rng, n);
    Row want = start, vec = start, scalar = start;
    Reference(want, format, rgb, opacity);
    qmGlyphSpan span{vec.coverage.data(), vec.pixels.data(), vec.alpha.data(), n, ArgbToStored(format, 0xFF000000u | rgb),
                     FourthByteMask(format), opacity};
    PaintGlyphSpan(&span);
    span.pixels = scalar.pixels.data(), span.alpha = scalar.alpha.data();
    PaintGlyphSpanScalar(&span);
    ASSERT_EQ(vec.pixels, want.pixels) << "round " << round << " format " << format;
    ASSERT_EQ(vec.alpha, want.alpha) << "round " << round;
    ASSERT_EQ(scalar.pixels, want.pixels) << "round " << round;
    ASSERT_EQ(scalar.alpha, want.alpha) << "round " << round;
  }
}

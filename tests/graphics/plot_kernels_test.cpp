// The draw library's pixel plot and line rasterizers against per-pixel expectations.
#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

#include "graphics/alpha_kernels.h"
#include "graphics/plot_kernels.h"

namespace {

// A 32 x 32 target with an optional alpha plane, and the plot state over it.
struct Target {
  std::vector<uint32_t> pixels = std::vector<uint32_t>(32 * 32, 0);
  std::vector<uint8_t> alpha = std::vector<uint8_t>(32 * 32, 0);
  qmPlotState s{};
  explicit Target(bool withAlpha = false) {
    s.pixels = pixels.data(), s.pitch = 32, s.bytesPerPixel = 4;
    if (withAlpha) s.alpha = alpha.data(), s.alphaBytesPerRow = 32;
    s.color = 0xFFFFFFFF, s.red = s.green = s.blue = 255;
    s.level = s.overallLevel = 255;
    s.lineWidth = 1;
    s.clip = 1, s.clipWidth = 32, s.clipHeight = 32;
  }
  std::set<std::pair<int, int>> Drawn() const {
    std::set<std::pair<int, int>> out;
    for (int y = 0; y < 32; y++)
      for (int x = 0; x < 32; x++)
        if (pixels[y * 32 + x]) out.insert({x, y});
    return out;
  }
};

TEST(PlotKernels, ClipRectangleAndClipMask) {
  Target t;
  t.s.clipLeft = 4, t.s.clipTop = 6, t.s.clipWidth = 8, t.s.clipHeight = 3;
  uint8_t clipMask[3 * 2] = {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};  // (4, 6) is masked off
  PlotPixel(&t.s, 12, 6);  // left + width: outside
  PlotPixel(&t.s, 5, 6);
  PlotPixel(&t.s, 11, 8);
  PlotPixel(&t.s, 11, 9);  // top + height: outside
  t.s.clipMask = clipMask, t.s.clipMaskBytesPerRow = 2;
  PlotPixel(&t.s, 4, 6);
  EXPECT_EQ(t.Drawn(), (std::set<std::pair<int, int>>{{5, 6}, {11, 8}}));
}

TEST(PlotKernels, LevelsBlendOrGoToTheAlphaPlane) {
  Target plain;
  plain.s.color = 0x00FF0000u, plain.s.red = 0, plain.s.green = 0, plain.s.blue = 255;  // stored 0x000000FF
  plain.pixels[0] = 0x00000000;
  plain.s.level = 100;
  PlotPixel(&plain.s, 0, 0);
  // blue 0 + ((255 - 0) * 100 >> 8) = 99, in the stored byte order
  EXPECT_EQ(__builtin_bswap32(plain.pixels[0]) & 0xFFFFFF, 99u);

  Target planes(true);
  planes.s.color = 0x12345678;
  planes.s.level = 100;
  PlotPixel(&planes.s, 3, 2);
  EXPECT_EQ(planes.pixels[2 * 32 + 3], 0x12345678u) << "the plain colour";
  EXPECT_EQ(planes.alpha[2 * 32 + 3], 100);
}

TEST(PlotKernels, MaskModes) {
  const struct {
    int mode;
    uint8_t before, after;
  } rows[] = {{MASKVISIBLE, 0x00, 0x80}, {MASKINVISIBLE, 0xFF, 0x7F}, {MASKVANILLACOPY, 0x00, 0x80},
              {MASKXOR, 0x80, 0x00},     {MASKAND, 0x00, 0x00},       {MASKOR, 0x00, 0x80}};
  for (const auto &r : rows) {
    Target t;
    uint8_t mask[32 * 4] = {};
    mask[0] = r.before;
    t.s.mask = mask, t.s.maskBytesPerRow = 4, t.s.maskMode = r.mode;
    PlotPixel(&t.s, 0, 0);
    EXPECT_EQ(mask[0], r.after) << "mode " << r.mode;
  }
}

TEST(PlotKernels, ThickLinesRunAcrossTheLine) {
  Target t;
  t.s.lineWidth = 5;
  ThickLinePixels(&t.s, 0, 10, 10, 10);
  std::set<std::pair<int, int>> expect;
  for (int x = 0; x <= 10; x++)
    for (int y = 8; y <= 12; y++) expect.insert({x, y});
  EXPECT_EQ(t.Drawn(), expect) << "rows 8 to 12";

  Target dot;
  ThickLinePixels(&dot.s, 7, 7, 7, 7);
  EXPECT_EQ(dot.Drawn(), (std::set<std::pair<int, int>>{{7, 7}}));

  Target steep;
  steep.s.lineWidth = 3;
  ThickLinePixels(&steep.s, 5, 20, 5, 2);
  EXPECT_EQ(steep.Drawn().size(), 19u * 3u) << "walked from the upper end, 3 columns per row";
}

TEST(PlotKernels, AntialiasedLineLevels) {
  Target t(true);
  AntialiasLinePixels(&t.s, 2, 5, 20, 5);
  for (int x = 2; x <= 20; x++) {
    EXPECT_EQ(t.alpha[5 * 32 + x], 255) << x;
    EXPECT_EQ(t.alpha[6 * 32 + x], 0) << x;
  }
  Target diag(true);
  diag.s.overallLevel = 128;
  AntialiasLinePixels(&diag.s, 0, 0, 10, 5);
  // Half a pixel down at x = 1: both rows get half of the overall level.
  EXPECT_EQ(diag.alpha[0 * 32 + 1], (255 - 128) * 128 / 255);
  EXPECT_EQ(diag.alpha[1 * 32 + 1], 128 * 128 / 255);
}

}  // namespace

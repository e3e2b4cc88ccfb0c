// Shapes drawn straight into a picture through the engine: lines read and cleared row by row
// against the same line in one uncut plane, clip rectangles, texture fills and the image route.
#include <gtest/gtest.h>

#include <vector>

#include "graphics/alpha_kernels.h"
#include "graphics/coverage.h"
#include "graphics/draw_style.h"
#include "graphics/shape_render.h"
#include "graphics/pixelformat.h"
#include "runtime/objtypes.h"

namespace {

uint32_t Pixel(const qmBitmap *b, int x, int y) { return PixelToCanonical(b->pixelFormat, b->pixels[y * b->bytesPerRow / 4 + x]); }

struct Picture : ::testing::Test {
  qmBitmap *b = nullptr;
  qmDrawTarget t{};
  void Make(int w, int h) {
    ASSERT_EQ(InitDrawTables(), 0u);
    b = AllocBitmap(w, h);
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) b->pixels[y * b->bytesPerRow / 4 + x] = 0;
    t.bitmap = b, t.clipWidth = w, t.clipHeight = h, t.maskMode = MASKVANILLACOPY, t.alphaValue = -1;
  }
  void TearDown() override {
    FreeBitmap(b);
    FreeDrawBuffers();
  }
};

TEST_F(Picture, LinesAreTheWholeLinesCoverage) {
  Make(700, 500);
  const struct {
    int x1, y1, x2, y2, thickness, aa;
  } rows[] = {{-50, 3, 690, 470, 5, 1}, {10, 490, 650, 20, 7, 0}, {5, 5, 695, 60, 1, 1}, {300, -40, 330, 560, 9, 1},
              // Shallow and steep at every thickness the reach has to hold, both rasterisers.
              {3, 250, 697, 262, 2, 1}, {3, 250, 697, 262, 3, 0}, {20, 480, 690, 430, 4, 1},
              {350, 2, 351, 497, 6, 1}, {100, 497, 112, 3, 15, 0}, {640, 20, 40, 470, 20, 1},
              {30, 30, 31, 31, 11, 1}, {200, 200, 200, 200, 8, 0}, {-20, 100, 720, 101, 1, 0}};
  for (const auto &r : rows) {
    for (int y = 0; y < 500; y++)
      for (int x = 0; x < 700; x++) b->pixels[y * b->bytesPerRow / 4 + x] = 0;
    qmDrawnRect drawn;
    ASSERT_EQ(DrawLineDirect(&t, r.x1, r.y1, r.x2, r.y2, 0xFFFFFF, r.thickness, r.aa, &drawn), 0u);
    // The whole line in one plane larger than the picture (nothing of it cut), by the same
    // rasteriser.
    qmAlphaChannel *whole = AllocAlphaChannel(900, 700, 1);
    ASSERT_EQ(DrawCoverageLine(whole, r.x1 + 100, r.y1 + 100, r.x2 + 100, r.y2 + 100, r.thickness, r.aa), 0u);
    int differ = 0;
    for (int y = 0; y < 500; y++)
      for (int x = 0; x < 700; x++) {
        const int k = whole->memory[(y + 100) * whole->bytesPerRow + x + 100];
        const uint32_t expect = k == 0 ? 0 : k == 255 ? 0xFFFFFF : uint32_t((255 * k) >> 8) * 0x010101u;
        differ += Pixel(b, x, y) != expect;
      }
    EXPECT_EQ(differ, 0) << r.x1 << "," << r.y1 << " to " << r.x2 << "," << r.y2;
    EXPECT_GT(drawn.width, 0);
    FreeAlphaChannel(whole);
  }
}

TEST_F(Picture, ClipRectangleAndPlanes) {
  Make(40, 30);
  t.clipX = 10, t.clipY = 5, t.clipWidth = 20, t.clipHeight = 10;
  qmShapeRequest r{};
  r.type = QMTYPE_BOX, r.x = 0, r.y = 0, r.width = 40, r.height = 30, r.color = 0xFF0000;
  r.matrix[0] = r.matrix[3] = 1;
  SetDefaultDrawStyle(&r.style);
  r.style.fillStyle = DRAWFILL_COLOR;
  r.style.formStyle |= FORM_ANTIALIAS;
  qmDrawnRect drawn;
  ASSERT_EQ(DrawShapeDirect(&r, &t, &drawn), 0u);
  int inside = 0, outside = 0;
  for (int y = 0; y < 30; y++)
    for (int x = 0; x < 40; x++) (x >= 10 && x < 30 && y >= 5 && y < 15 ? inside : outside) += Pixel(b, x, y) == 0xFF0000;
  EXPECT_EQ(inside, 200);
  EXPECT_EQ(outside, 0);
  EXPECT_EQ(drawn.x, 10);
  EXPECT_EQ(drawn.width, 20);
  // A selected alpha channel alone takes the script's alpha value.
  qmAlphaChannel *alpha = AllocAlphaChannel(40, 30, 1);
  qmDrawTarget planes{};
  planes.alpha = alpha, planes.clipWidth = 40, planes.clipHeight = 30, planes.alphaValue = 77;
  r.style.formStyle = FORM_NORMAL;
  ASSERT_EQ(DrawShapeDirect(&r, &planes, &drawn), 0u);
  EXPECT_EQ(alpha->memory[3 * alpha->bytesPerRow + 39], 77);
  FreeAlphaChannel(alpha);
}

TEST_F(Picture, TextureAndEdgeThroughTheImage) {
  Make(8, 8);
  qmBitmap *texture = AllocBitmap(2, 2);
  const uint32_t tiles[4] = {0x111111, 0x222222, 0x333333, 0x444444};
  for (int i = 0; i < 4; i++) texture->pixels[(i / 2) * texture->bytesPerRow / 4 + i % 2] = CanonicalToPixel(11, tiles[i]);
  qmShapeRequest r{};
  r.type = QMTYPE_BOX, r.x = 5, r.y = 7, r.width = 4, r.height = 3;
  r.matrix[0] = r.matrix[3] = 1;
  SetDefaultDrawStyle(&r.style);
  r.style.fillStyle = DRAWFILL_TEXTURE;
  r.style.formStyle |= FORM_EDGE;
  r.style.edgeSize = 1, r.style.edgeColor = 0x00FF00;
  r.style.textureX = 1;
  qmShapeImage img;
  ASSERT_EQ(RenderShapeImage(&r, texture, &img), 0u);
  EXPECT_EQ(img.x, 4);
  EXPECT_EQ(img.y, 6);
  ASSERT_NE(img.mask, nullptr) << "nothing partly transparent: a mask";
  EXPECT_EQ(Pixel(img.bitmap, 0, 0), 0x00FF00u) << "the edge";
  // The texture starts one column in: 0x222222 0x111111 0x222222 ...
  EXPECT_EQ(Pixel(img.bitmap, 1, 1), 0x222222u);
  EXPECT_EQ(Pixel(img.bitmap, 2, 1), 0x111111u);
  EXPECT_EQ(Pixel(img.bitmap, 1, 2), 0x444444u);
  FreeShapeImage(&img);
  FreeBitmap(texture);
}

}  // namespace

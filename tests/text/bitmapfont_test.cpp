// The bitmap engine on the generated ".font" fixtures and the built-in topaz 8.
#include <gtest/gtest.h>

#include <cstring>

#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "runtime/errcodes.h"
#include "text/bitmapfont.h"
#include "tests/text/text_test_util.h"

namespace {

using BitmapFontTest = FontEngineTest;

qmFont *OpenFixture(qmFontState *fonts, const char *name, int32_t size, uint32_t *err = nullptr) {
  qmFont *f = nullptr;
  std::string path = FixtureDir() + "/" + name;
  uint32_t e = OpenFontRecord(fonts, path.c_str(), size, FONTENGINE_NATIVE, 1, 0, &f);
  if (err) *err = e;
  return e ? nullptr : f;
}

TEST_F(BitmapFontTest, TopazMeasuresEightPerCharacter) {
  for (int n : {1, 5, 40}) {
    std::string text(size_t(n), 'x');
    qmTextExtent e{};
    ASSERT_EQ(MeasureFontText(topaz, text.c_str(), n, 0, 0, &e), 0u);
    EXPECT_EQ(e.width, 8 * n);
    EXPECT_EQ(e.height, 8);
    EXPECT_EQ(e.minX, 0);
    EXPECT_EQ(e.maxX, 8 * n - 1);
    EXPECT_EQ(e.minY, -6);
    EXPECT_EQ(e.maxY, 1);
  }
  EXPECT_STREQ(topaz->faceName, "topaz");
  EXPECT_EQ(topaz->baseline, 6);
  EXPECT_EQ(topaz->antiAliasCapable, 0);
}

// Glyphs land in their 8-pixel cells and nowhere else; codes outside 32..255 have a glyph too.
TEST_F(BitmapFontTest, TopazDrawsInsideItsCells) {
  qmBitmap *b = AllocBitmap(64, 8);
  ASSERT_NE(b, nullptr);
  FillBitmapRect(b, 0, 0, 64, 8, 0);
  qmTextClip clip{0, 0, 64, 8};
  ASSERT_EQ(RenderFontText(nullptr, b, nullptr, 8, 0, "H\x7F", 2, 0, 0, &clip, 0xFF0000), 0u);
  int inFirst = 0, inSecond = 0, outside = 0;
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 64; x++) {
      bool lit = GetBitmapPixel(b, x, y, 0) == 0xFF0000;
      if (x >= 8 && x < 16) inFirst += lit;
      else if (x >= 16 && x < 24) inSecond += lit;
      else outside += lit;
    }
  EXPECT_GT(inFirst, 6);
  EXPECT_GT(inSecond, 6);
  EXPECT_EQ(outside, 0);
  FreeBitmap(b);
}

TEST_F(BitmapFontTest, SizesAndEntries) {
  struct Case {
    const char *name;
    int32_t size;
    bool opens;
    int32_t height;
  } cases[] = {
      {"plain", 8, true, 8},           {"plain.font", 11, true, 11},
      {"plain", 9, false, 0},          {"incomplete", 8, false, 0},     {"incomplete", 11, true, 11},
      {"corrupt", 8, false, 0},        {"outline", 8, false, 0},        {"missing", 8, false, 0},
      {"hugecolor", 7, false, 0},  // its planes would need gigabytes its file does not hold
  };
  for (const Case &c : cases) {
    uint32_t err = 0;
    qmFont *f = OpenFixture(fonts, c.name, c.size, &err);
    EXPECT_EQ(f != nullptr, c.opens) << c.name << " " << c.size;
    if (!f) {
      EXPECT_EQ(err, uint32_t(ERR_OPENFONT)) << c.name;
      continue;
    }
    EXPECT_EQ(f->height, c.height);
    EXPECT_EQ(f->engineType, QM_FONT_BITMAP);
    EXPECT_EQ(f->scalable, 0);
    CloseFontRecord(f);
  }
}

// Codes outside LoChar..HiChar take the last glyph; fixed width is XSize per character.
TEST_F(BitmapFontTest, OutOfRangeCodesUseTheLastGlyph) {
  qmFont *f = OpenFixture(fonts, "plain", 8);
  ASSERT_NE(f, nullptr);
  qmTextExtent e{};
  MeasureFontText(f, "Az!", 3, 0, 0, &e);
  EXPECT_EQ(e.width, 18);
  EXPECT_EQ(e.maxX, 17);
  EXPECT_EQ(e.minY, -6);
  EXPECT_EQ(e.maxY, 1);
  TestPlane a(64, 8, 8), b(64, 8, 8);
  RenderFontText(f, &a.mask, nullptr, 0, 0, "z", 1, 0, 0, nullptr, kGlyphPlane);
  RenderFontText(f, &b.mask, nullptr, 0, 0, "~", 1, 0, 0, nullptr, kGlyphPlane);
  EXPECT_EQ(a.bytes, b.bytes);
  EXPECT_TRUE(a.Bit(0, 0));   // the fall-back glyph "#...#"
  EXPECT_FALSE(a.Bit(1, 0));
  EXPECT_TRUE(a.Bit(4, 0));
  CloseFontRecord(f);
}

TEST_F(BitmapFontTest, ProportionalSpacingAndKerning) {
  qmFont *f = OpenFixture(fonts, "prop", 9);
  ASSERT_NE(f, nullptr);
  struct Case {
    const char *text;
    int32_t width, minX, maxX;
  } cases[] = {
      // A: kern 1, width 3, space 4; B: kern -1, width 5, space 7
      {"", 0, 0, -1},
      {"A", 5, 0, 4},       // a = 1, b = 4, p = 5
      {"B", 6, -1, 5},      // a = -1, b = 4, p = 6
      {"AB", 11, 0, 10},    // then a = 4, b = 9, p = 11
  };
  for (const Case &c : cases) {
    qmTextExtent e{};
    MeasureFontText(f, c.text, int32_t(strlen(c.text)), 0, 0, &e);
    EXPECT_EQ(e.width, c.width) << c.text;
    EXPECT_EQ(e.minX, c.minX) << c.text;
    EXPECT_EQ(e.maxX, c.maxX) << c.text;
  }
  // Drawn: A's 3 columns start one pixel after the pen, B's 5 columns at 5 - 1 = 4.
  TestPlane p(32, 9, 4);
  RenderFontText(f, &p.mask, nullptr, 0, 0, "AB", 2, 0, 0, nullptr, kGlyphPlane);
  std::string row;
  for (int x = 0; x < 12; x++) row += p.Bit(x, 0) ? '#' : '.';
  EXPECT_EQ(row, ".########...");
  CloseFontRecord(f);
}

// Colour index 0 is transparent; the others are the palette's 0x0RGB colours.
TEST_F(BitmapFontTest, ColourFontKeepsIndexZeroTransparent) {
  qmFont *f = OpenFixture(fonts, "color", 7);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->engineType, QM_FONT_COLOR);
  qmBitmap *b = AllocBitmap(16, 7);
  FillBitmapRect(b, 0, 0, 16, 7, 0x123456);
  qmTextClip clip{0, 0, 16, 7};
  RenderFontText(f, b, nullptr, 2, 0, "A", 1, 0, 0, &clip, 0xFFFFFF);
  EXPECT_EQ(GetBitmapPixel(b, 2, 3, 0), 0x123456u);
  EXPECT_EQ(GetBitmapPixel(b, 3, 3, 0), 0xFF0000u);
  EXPECT_EQ(GetBitmapPixel(b, 4, 3, 0), 0x00FF00u);
  EXPECT_EQ(GetBitmapPixel(b, 5, 3, 0), 0x0000FFu);
  EXPECT_EQ(GetBitmapPixel(b, 6, 3, 0), 0x123456u);
  FreeBitmap(b);
  CloseFontRecord(f);
}

// Plane output is clipped to the plane, however far the text runs.
TEST_F(BitmapFontTest, PlaneOutputStaysInsideThePlane) {
  TestPlane p(10, 4, 2);
  std::string text(100, 'M');
  RenderFontText(topaz, &p.mask, nullptr, -3, -2, text.c_str(), 100, 0, 0, nullptr, kGlyphPlane);
  RenderFontText(topaz, &p.mask, nullptr, 5, 1, text.c_str(), 100, 0, 0, nullptr, kGlyphPlane);
  SUCCEED();  // the sanitizers watch the writes
}

}  // namespace

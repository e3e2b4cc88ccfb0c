// The FreeType engine against FreeType itself, through python3-pil's own build: the size that
// makes the line height, glyph coverage and advances, kerning.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "runtime/errcodes.h"
#include "text/font.h"
#include "text/freetype_font.h"
#include "tests/text/text_test_util.h"

namespace {

struct FreeTypeTest : FontEngineTest {
  qmFont *Open(const std::string &name, int32_t size, int32_t cache = 1) {
    qmFont *font = nullptr;
    EXPECT_EQ(OpenFontRecord(fonts, name.c_str(), size, FONTENGINE_INBUILT, cache, 0, &font), 0u) << name;
    return font;
  }
};

TEST_F(FreeTypeTest, BuiltinFacesOpenFromMemoryInAnyCase) {
  // An empty current folder: nothing on disk may be read.
  char folder[] = "/tmp/qm_text_emptyXXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  auto old = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  struct Case {
    const char *name, *face;
  } cases[] = {
      {"bitstream vera sans", "Bitstream Vera Sans"},
      {"BITSTREAM VERA SERIF", "Bitstream Vera Serif"},
      {"Bitstream Vera Sans Mono", "Bitstream Vera Sans Mono"},
  };
  for (const Case &c : cases) {
    qmFont *f = Open(c.name, 16);
    ASSERT_NE(f, nullptr) << c.name;
    EXPECT_STREQ(f->faceName, c.face);
    EXPECT_EQ(f->engineType, QM_FONT_FREETYPE);
    EXPECT_EQ(f->antiAliasCapable, 1);
    CloseFontRecord(f);
  }
  std::filesystem::current_path(old);
  rmdir(folder);
}

// The size is the line height, whatever the face's design: p = size x 100 / (ascent + descent)
// at 100 pixels per em, with ascent and descent as FreeType (the peer) renders them.
TEST_F(FreeTypeTest, SizeIsTheLineHeight) {
  for (const char *file : {"Vera.ttf", "VeraSe.ttf", "VeraMono.ttf"}) {
    std::istringstream probe(RunPeer("probe " + kVeraDir + file));
    int ascent = 0, descent = 0;
    probe >> ascent >> descent;
    ASSERT_GT(ascent + descent, 0) << file;
    for (int size : {8, 13, 20, 48}) {
      qmFont *f = Open(kVeraDir + file, size);
      ASSERT_NE(f, nullptr);
      EXPECT_EQ(f->height, size);
      EXPECT_EQ(GetFreeTypePixelSize(f), size * 100 / (ascent + descent)) << file << " " << size;
      EXPECT_GT(f->baseline, size / 2);
      EXPECT_LT(f->baseline, size);
      CloseFontRecord(f);
    }
  }
}

// Every glyph's coverage where the peer puts it, and its advance: FreeType's advance at
// FreeType's size (p - 1) counts as that fraction of an em at the engine's size p.
TEST_F(FreeTypeTest, GlyphsAndAdvancesMatchFreeType) {
  std::string codes;
  for (int c : {65, 86, 103, 106, 87, 64, 0xC4, 0xE9, 0xDF, 49, 46})
    codes += (codes.empty() ? "" : ",") + std::to_string(c);
  for (const char *file : {"Vera.ttf", "VeraSe.ttf"}) {
    qmFont *f = Open(kVeraDir + file, 24);
    ASSERT_NE(f, nullptr);
    int32_t p = GetFreeTypePixelSize(f);
    auto lines = Lines(RunPeer("glyphs " + kVeraDir + file + " " + std::to_string(p - 1) + " " + codes));
    ASSERT_EQ(lines.size(), 11u);
    for (const std::string &line : lines) {
      std::istringstream in(line);
      std::string tag, hex;
      int code, advance, left, top, w, h;
      in >> tag >> code >> advance >> left >> top >> w >> h >> hex;
      char text[1] = {char(code)};
      qmTextExtent e{};
      ASSERT_EQ(MeasureFontText(f, text, 1, QM_STYLE_ANTIALIAS, 0, &e), 0u);
      EXPECT_NEAR(e.width, int64_t(advance) * p / (p - 1) / 64, 1) << file << " code " << code;
      // Drawn with the pen at (16, baseline): the peer's box in the same place.
      TestPlane plane(64, 64, 64);
      qmTextClip clip{0, 0, 64, 64};
      const int32_t penX = 16, top0 = 8;
      ASSERT_EQ(RenderFontText(f, &plane.mask, nullptr, penX, top0, text, 1, QM_STYLE_ANTIALIAS, 0, &clip,
                               kGlyphPlane), 0u);
      int32_t baseY = top0 + f->baseline;
      int mismatches = 0, ink = 0;
      int inkLeft = 1000, inkTop = 1000, inkRight = -1000, inkBottom = -1000;
      for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
          int peer = std::stoi(hex.substr(size_t(y * w + x) * 2, 2), nullptr, 16);
          if (peer > 0) {
            ink++;
            inkLeft = std::min(inkLeft, left + x);
            inkRight = std::max(inkRight, left + x + 1);
            inkTop = std::min(inkTop, top + y);
            inkBottom = std::max(inkBottom, top + y + 1);
          }
          if (std::abs(plane.At(penX + left + x, baseY + top + y) - peer) > 1) mismatches++;
        }
      EXPECT_GT(ink, 0) << code;
      EXPECT_EQ(mismatches, 0) << file << " code " << code;
      // The engine's box is the glyph bitmap's: the peer's ink, with at most a blank edge.
      EXPECT_LE(e.minX, inkLeft) << code;
      EXPECT_GE(e.minX, inkLeft - 1) << code;
      EXPECT_LE(e.minY, inkTop) << code;
      EXPECT_GE(e.minY, inkTop - 1) << code;
      EXPECT_GE(e.maxX, inkRight) << code;
      EXPECT_LE(e.maxX, inkRight + 1) << code;
      EXPECT_GE(e.maxY, inkBottom) << code;
      EXPECT_LE(e.maxY, inkBottom + 1) << code;
    }
    CloseFontRecord(f);
  }
}

TEST_F(FreeTypeTest, KerningOfPairsOnly) {
  qmFont *f = Open("Bitstream Vera Sans", 100);
  ASSERT_NE(f, nullptr);
  int32_t p = GetFreeTypePixelSize(f);
  // The peer's kerning is grid-fitted; ours truncates the same fraction of an em.
  int peer = std::stoi(RunPeer("kern " + kVeraDir + "Vera.ttf " + std::to_string(p) + " A V"));
  int32_t ours = GetFontKerning(f, "AV", 2, 0, 0);
  EXPECT_LT(ours, 0);
  EXPECT_NEAR(ours, peer, 1);
  EXPECT_EQ(GetFontKerning(f, "AVA", 3, 0, 0), 0);
  EXPECT_EQ(GetFontKerning(f, "A", 1, 0, 0), 0);
  // The pen moves by the kerning between the two.
  qmTextExtent a{}, v{}, av{};
  MeasureFontText(f, "A", 1, 0, 0, &a);
  MeasureFontText(f, "V", 1, 0, 0, &v);
  MeasureFontText(f, "AV", 2, 0, 0, &av);
  EXPECT_NEAR(av.width, a.width + v.width + ours, 1);
  CloseFontRecord(f);
}

TEST_F(FreeTypeTest, SpacesMeasureWidthWithoutInk) {
  qmFont *f = Open("Bitstream Vera Sans", 20);
  ASSERT_NE(f, nullptr);
  qmTextExtent e{};
  ASSERT_EQ(MeasureFontText(f, "   ", 3, 0, 0, &e), 0u);
  EXPECT_GT(e.width, 0);
  EXPECT_EQ(e.height, 20);
  EXPECT_EQ(e.minX, 0);
  EXPECT_EQ(e.minY, 0);
  EXPECT_EQ(e.maxX, 0);
  EXPECT_EQ(e.maxY, 0);
  CloseFontRecord(f);
}

// A malformed sequence makes the whole text Latin-1 bytes; a good one decodes.
TEST_F(FreeTypeTest, Utf8FallsBackToBytes) {
  qmFont *f = Open("Bitstream Vera Sans", 20);
  ASSERT_NE(f, nullptr);
  qmTextExtent bytes{}, broken{}, decoded{}, latin{};
  MeasureFontText(f, "A\xC4\x41", 3, 0, 0, &bytes);
  MeasureFontText(f, "A\xC4\x41", 3, 0, 1, &broken);
  EXPECT_EQ(broken.width, bytes.width);
  MeasureFontText(f, "A\xC3\x84", 3, 0, 1, &decoded);  // A, A-umlaut
  MeasureFontText(f, "A\xC4", 2, 0, 0, &latin);
  EXPECT_EQ(decoded.width, latin.width);
  CloseFontRecord(f);
}

// The cache answers what a fresh render would: same pixels with and without it, and for
// codes beyond 255 and synthetic styles, which are never cached.
TEST_F(FreeTypeTest, CachedGlyphsDrawLikeFreshOnes) {
  qmFont *cached = Open("Bitstream Vera Serif", 18, 1);
  qmFont *fresh = Open("Bitstream Vera Serif", 18, 0);
  ASSERT_TRUE(cached && fresh);
  const char *text = "Quick \xE2\x82\xAC fox";  // with a euro sign
  for (int32_t style : {0, int32_t(QM_STYLE_ANTIALIAS), QM_STYLE_BOLD | QM_STYLE_ANTIALIAS, int32_t(QM_STYLE_ITALIC)}) {
    for (int pass = 0; pass < 2; pass++) {
      TestPlane a(200, 30, 200), b(200, 30, 200);
      qmTextClip clip{0, 0, 200, 30};
      RenderFontText(cached, &a.mask, nullptr, 2, 2, text, int32_t(strlen(text)), style, 1, &clip, kGlyphPlane);
      RenderFontText(fresh, &b.mask, nullptr, 2, 2, text, int32_t(strlen(text)), style, 1, &clip, kGlyphPlane);
      EXPECT_EQ(a.bytes, b.bytes) << "style " << style << " pass " << pass;
    }
  }
  CloseFontRecord(cached);
  CloseFontRecord(fresh);
}

// Measuring reads the per-code cache (glyph indices, advances) once it is filled: extents stay
// those of a font without the cache, on first and later passes, after a scale too, with kerned
// pairs, a code beyond 255 and synthetic styles in the text.
TEST_F(FreeTypeTest, CachedGlyphsMeasureLikeFreshOnes) {
  qmFont *cached = Open("Bitstream Vera Sans", 23, 1);
  qmFont *fresh = Open("Bitstream Vera Sans", 23, 0);
  ASSERT_TRUE(cached && fresh);
  const char *text = "AVAW To Ty \xE2\x82\xAC LT yA";
  auto same = [](const qmTextExtent &a, const qmTextExtent &b) {
    return a.width == b.width && a.minX == b.minX && a.maxX == b.maxX && a.minY == b.minY && a.maxY == b.maxY;
  };
  for (double scale : {1.0, 1.5}) {
    SetFontScale(cached, scale, scale);
    SetFontScale(fresh, scale, scale);
    for (int32_t style : {0, int32_t(QM_STYLE_ANTIALIAS), QM_STYLE_BOLD | QM_STYLE_ANTIALIAS, int32_t(QM_STYLE_ITALIC)})
      for (int pass = 0; pass < 2; pass++) {
        qmTextExtent a{}, b{};
        ASSERT_EQ(MeasureFontText(cached, text, int32_t(strlen(text)), style, 1, &a), 0u);
        ASSERT_EQ(MeasureFontText(fresh, text, int32_t(strlen(text)), style, 1, &b), 0u);
        EXPECT_TRUE(same(a, b)) << "scale " << scale << " style " << style << " pass " << pass << ": " << a.width
                                << " against " << b.width;
      }
  }
  CloseFontRecord(cached);
  CloseFontRecord(fresh);
}

// Scaling applies the factor once: twice the scale is about twice the width, not four times.
TEST_F(FreeTypeTest, ScaleWidensOnce) {
  qmFont *f = Open("Bitstream Vera Sans", 20);
  ASSERT_NE(f, nullptr);
  qmTextExtent plain{}, wide{};
  MeasureFontText(f, "Hamburgefonts", 13, 0, 0, &plain);
  SetFontScale(f, 2.0, 2.0);
  EXPECT_EQ(f->height, 40);
  MeasureFontText(f, "Hamburgefonts", 13, 0, 0, &wide);
  EXPECT_NEAR(wide.width, 2 * plain.width, 13);
  EXPECT_NEAR(wide.maxY - wide.minY, 2 * (plain.maxY - plain.minY), 3);
  CloseFontRecord(f);
}

TEST_F(FreeTypeTest, BadFilesAndSizesDoNotOpen) {
  qmFont *f = nullptr;
  EXPECT_EQ(OpenFontRecord(fonts, "Bitstream Vera Sans", 0, FONTENGINE_INBUILT, 1, 0, &f), uint32_t(ERR_OPENFONT));
  EXPECT_EQ(OpenFontRecord(fonts, "Bitstream Vera Sans", -5, FONTENGINE_INBUILT, 1, 0, &f), uint32_t(ERR_OPENFONT));
  EXPECT_EQ(OpenFontRecord(fonts, "/nonexistent/font.ttf", 12, FONTENGINE_INBUILT, 1, 0, &f), uint32_t(ERR_OPENFONT));
  std::string junk = std::string(QM_BINARY_DIR) + "/junk_font.ttf";
  FILE *out = fopen(junk.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  fputs("\x00\x01\x00\x00 this is not a font at all", out);
  fclose(out);
  EXPECT_EQ(OpenFontRecord(fonts, junk.c_str(), 12, FONTENGINE_INBUILT, 1, 0, &f), uint32_t(ERR_OPENFONT));
  remove(junk.c_str());
}

}  // namespace

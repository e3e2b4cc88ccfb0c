// The font layer: aliases, the cache, engine fall-back, scale reset and UTF-8 decoding.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/errcodes.h"
#include "runtime/vnames.h"
#include "text/font.h"
#include "tests/text/text_test_util.h"

namespace {

using FontLayerTest = FontEngineTest;

TEST_F(FontLayerTest, TopazIsOneSharedRecord) {
  qmFont *a = nullptr, *b = nullptr;
  // Shared by every run, it keeps its own name whatever spelling opened it first.
  ASSERT_EQ(GetCachedFont(fonts, "TOPAZ", 8, FONTENGINE_NATIVE, 1, 0, &a), 0u);
  EXPECT_STREQ(topaz->openedName, "topaz");
  ASSERT_EQ(GetCachedFont(fonts, ":::default_bitmap", 8, FONTENGINE_NATIVE, 0, 0, &b), 0u);
  EXPECT_EQ(a, topaz);
  EXPECT_EQ(b, topaz);
  CloseFontRecord(a);
  qmTextExtent e{};
  EXPECT_EQ(MeasureFontText(topaz, "ab", 2, 0, 0, &e), 0u);
  EXPECT_EQ(e.width, 16);
}

TEST_F(FontLayerTest, AliasesAndPaths) {
  struct Case {
    const char *name;
    int32_t engine;
    uint32_t err;
    const char *face;
  } cases[] = {
      {":::default_serif", FONTENGINE_NATIVE, 0, "Bitstream Vera Serif"},
      {":::default_sans", FONTENGINE_NATIVE, 0, "Bitstream Vera Sans"},
      {":::default_truetype", FONTENGINE_INBUILT, 0, "Bitstream Vera Sans"},
      {":::default_mono", FONTENGINE_NATIVE, 0, "Bitstream Vera Sans Mono"},
      {":::DEFAULT_SERIF", FONTENGINE_NATIVE, ERR_FONTPATH, nullptr},  // no alias, and it holds ":"
      {"fonts/thing.font", FONTENGINE_NATIVE, ERR_FONTPATH, nullptr},
      {"No Such Font Anywhere", FONTENGINE_NATIVE, ERR_OPENFONT, nullptr},
      {"No Such Font Anywhere", FONTENGINE_INBUILT, ERR_OPENFONT, nullptr},  // retried on engine 0
      {"Bitstream Vera Sans", 2, ERR_OPENFONT, nullptr},
  };
  for (const Case &c : cases) {
    qmFont *f = nullptr;
    EXPECT_EQ(GetCachedFont(fonts, c.name, 12, c.engine, 1, 0, &f), c.err) << c.name;
    if (c.face && f) {
      EXPECT_STREQ(f->faceName, c.face);
      EXPECT_EQ(f->engineType, QM_FONT_FREETYPE);
    }
  }
}

TEST_F(FontLayerTest, CacheSharesByNameSizeEngineAndCacheFlag) {
  std::string plain = FixtureDir() + "/plain";
  qmFont *a = nullptr, *b = nullptr, *c = nullptr, *d = nullptr;
  // Bitmap names: the ".font" ending and capitals do not matter to the cache. Only names
  // without a path may go to engine 0, so the search goes through a font path.
  ASSERT_EQ(AddFontPathEntry(fonts, FixtureDir().c_str()), 0u);
  ASSERT_EQ(GetCachedFont(fonts, "plain.font", 8, FONTENGINE_NATIVE, 1, 0, &a), 0u);
  ASSERT_EQ(GetCachedFont(fonts, "PLAIN", 8, FONTENGINE_NATIVE, 1, 0, &b), 0u);
  EXPECT_EQ(a, b);
  ASSERT_EQ(GetCachedFont(fonts, "plain", 8, FONTENGINE_NATIVE, 0, 0, &c), 0u);
  EXPECT_NE(a, c);
  ASSERT_EQ(GetCachedFont(fonts, "plain", 11, FONTENGINE_NATIVE, 1, 0, &d), 0u);
  EXPECT_NE(a, d);
  FreeFontPaths(fonts);
}

TEST_F(FontLayerTest, CacheHitResetsTheScale) {
  qmFont *a = nullptr, *b = nullptr;
  ASSERT_EQ(GetCachedFont(fonts, "bitstream vera sans", 30, FONTENGINE_INBUILT, 1, 0, &a), 0u);
  SetFontScale(a, 2.0, 2.0);
  EXPECT_EQ(a->height, 60);
  ASSERT_EQ(GetCachedFont(fonts, "Bitstream Vera Sans", 30, FONTENGINE_INBUILT, 1, 0, &b), 0u);
  EXPECT_EQ(a, b);
  EXPECT_EQ(b->xScale, 1.0);
  EXPECT_EQ(b->height, 30);
}

// Two font states side by side share nothing but the built-in topaz: neither sees the other's
// fonts or font paths, and freeing one leaves the other's fonts whole.
TEST_F(FontLayerTest, StatesKeepTheirFontsApart) {
  qmFontState *other = nullptr;
  ASSERT_EQ(NewFontState(&other), 0u);
  ASSERT_EQ(AddFontPathEntry(other, FixtureDir().c_str()), 0u);
  qmFont *theirs = nullptr, *theirPlain = nullptr, *ours = nullptr, *plain = nullptr;
  ASSERT_EQ(GetCachedFont(other, ":::default_sans", 20, FONTENGINE_INBUILT, 1, 0, &theirs), 0u);
  ASSERT_EQ(GetCachedFont(other, "plain", 8, FONTENGINE_NATIVE, 1, 0, &theirPlain), 0u);
  EXPECT_EQ(fonts->cache, nullptr);
  EXPECT_EQ(GetCachedFont(fonts, "plain", 8, FONTENGINE_NATIVE, 1, 0, &plain), uint32_t(ERR_OPENFONT))
      << "the other state's font path is not searched";
  ASSERT_EQ(GetCachedFont(fonts, ":::default_sans", 20, FONTENGINE_INBUILT, 1, 0, &ours), 0u);
  EXPECT_NE(ours, theirs);
  qmFont *topazA = nullptr, *topazB = nullptr;
  ASSERT_EQ(GetCachedFont(fonts, "topaz", 8, FONTENGINE_NATIVE, 1, 0, &topazA), 0u);
  ASSERT_EQ(GetCachedFont(other, "topaz", 8, FONTENGINE_NATIVE, 1, 0, &topazB), 0u);
  EXPECT_EQ(topazA, topazB);
  FreeFontState(other);
  qmTextExtent e{};
  ASSERT_EQ(MeasureFontText(ours, "Wave", 4, 0, 0, &e), 0u);
  EXPECT_GT(e.width, 0);
  EXPECT_EQ(MeasureFontText(topazA, "ab", 2, 0, 0, &e), 0u);
  EXPECT_EQ(e.width, 16) << "the topaz record outlives every state";
}

TEST_F(FontLayerTest, SizesBelowOneAreRefused) {
  qmFont *f = nullptr;
  for (int32_t size : {0, -1, -100000})
    for (int32_t engine : {int32_t(FONTENGINE_NATIVE), int32_t(FONTENGINE_INBUILT)})
      EXPECT_EQ(GetCachedFont(fonts, "Bitstream Vera Sans", size, engine, 1, 0, &f), uint32_t(ERR_OPENFONT)) << size;
}

TEST(DecodeUtf8Test, Table) {
  struct Case {
    const char *name;
    std::string text;
    uint32_t err;
    std::vector<uint32_t> codes;
  } cases[] = {
      {"ascii", "Ab", 0, {'A', 'b'}},
      {"two bytes", "\xC3\xA9", 0, {0xE9}},
      {"three bytes", "\xE2\x82\xAC", 0, {0x20AC}},
      {"four bytes", "\xF0\x9F\x98\x80", 0, {0x1F600}},
      {"stray continuation", "a\x80", ERR_USERABORT, {}},
      {"truncated", "\xE2\x82", ERR_USERABORT, {}},
      {"lead without continuation", "\xC3" "A", ERR_USERABORT, {}},
      {"six ones", "\xFC\x80\x80\x80\x80\x80", ERR_USERABORT, {}},
      {"empty", "", 0, {}},
  };
  for (const Case &c : cases) {
    uint32_t buffer[4], *codes = nullptr;
    int32_t count = -1, allocated = 0;
    EXPECT_EQ(DecodeUtf8Text(c.text.data(), int32_t(c.text.size()), 1, buffer, sizeof buffer, &codes, &count,
                             &allocated),
              c.err)
        << c.name;
    if (!c.err) {
      EXPECT_EQ(std::vector<uint32_t>(codes, codes + count), c.codes) << c.name;
      FreeDecodedText(codes, allocated);
    }
  }
  // A long text does not fit the caller's buffer and gets its own.
  std::string longText(100, 'x');
  uint32_t small[4], *codes = nullptr;
  int32_t count = 0, allocated = 0;
  ASSERT_EQ(DecodeUtf8Text(longText.data(), 100, 1, small, sizeof small, &codes, &count, &allocated), 0u);
  EXPECT_EQ(allocated, 1);
  EXPECT_EQ(count, 100);
  FreeDecodedText(codes, allocated);
  EXPECT_EQ(DecodeUtf8Text("a", 1, 0, small, sizeof small, &codes, &count, &allocated), uint32_t(ERR_USERABORT));
}

}  // namespace

namespace {

// A font linked into an applet: a header word (2: outline) before the font file, inside a
// window of a larger file, opened through its ":::chunk" name by the system engine.
TEST_F(FontLayerTest, LinkedOutlineFontOpensFromItsChunk) {
  std::string container = std::string(QM_BINARY_DIR) + "/linked_font_container.bin";
  FILE *in = fopen((kVeraDir + "Vera.ttf").c_str(), "rb");
  FILE *out = fopen(container.c_str(), "wb");
  ASSERT_TRUE(in && out);
  fputs("padding before the chunk", out);
  long offset = ftell(out);
  const unsigned char header[4] = {0, 0, 0, 2};
  fwrite(header, 1, 4, out);
  char buffer[4096];
  size_t n, length = 4;
  while ((n = fread(buffer, 1, sizeof buffer, in)) > 0) length += fwrite(buffer, 1, n, out);
  fputs("trailing bytes", out);
  fclose(in);
  fclose(out);
  char name[1024];
  ASSERT_NE(MakeChunkName("MyFont.ttf", name, sizeof name, uint64_t(offset), length, 0, container.c_str()), nullptr);
  qmFont *f = nullptr;
  ASSERT_EQ(GetCachedFont(fonts, name, 24, FONTENGINE_NATIVE, 1, 1, &f), 0u);
  EXPECT_EQ(f->engineType, QM_FONT_NATIVE);
  EXPECT_STREQ(f->faceName, "Bitstream Vera Sans");
  qmTextExtent e{};
  EXPECT_EQ(MeasureFontText(f, "Linked", 6, 0, 0, &e), 0u);
  EXPECT_GT(e.width, 40);
  // A chunk that cannot be read is named in the error.
  char broken[1024];
  ASSERT_NE(MakeChunkName("Gone.ttf", broken, sizeof broken, 0, 100, 0, "/no/such/container"), nullptr);
  EXPECT_EQ(GetCachedFont(fonts, broken, 24, FONTENGINE_NATIVE, 1, 1, &f), uint32_t(ERR_READFILE));
  remove(container.c_str());
}

}  // namespace

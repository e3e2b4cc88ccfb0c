// Blit primitives on whole records: mask rectangles, pixels, lines, blits, ARGB conversions.
#include <gtest/gtest.h>

#include <vector>

#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

namespace {

// Deterministic filler so failures reproduce.
uint32_t Hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352d;
  x ^= x >> 15;
  x *= 0x846ca68b;
  return x ^ (x >> 16);
}

void FillMaskPattern(qmMask *m, uint32_t seed) {
  for (int32_t i = 0; i < m->bytesPerRow * m->height; i++) m->memory[i] = uint8_t(Hash(seed + i));
}

uint32_t *At(qmBitmap *b, int x, int y) { return b->pixels + y * (b->bytesPerRow / 4) + x; }

} // namespace

TEST(MaskRect, EveryModeAtEveryBitPhase) {
  // Reference: one bit at a time through GetBitmapPixel/ApplyMaskMode on copies.
  for (int32_t mode = -1; mode <= 6; mode++)
    for (int32_t sx = 0; sx < 8; sx++)
      for (int32_t dx = 0; dx < 8; dx++) {
        SCOPED_TRACE(testing::Message() << "mode " << mode << " sx " << sx << " dx " << dx);
        qmMask *src = AllocMask(40, 4, 1), *dst = AllocMask(40, 4, 1), *ref = AllocMask(40, 4, 1);
        FillMaskPattern(src, 1);
        FillMaskPattern(dst, 2);
        FillMaskPattern(ref, 2);
        for (int y = 0; y < 3; y++)
          for (int x = 0; x < 19; x++) {
            bool s = GetBitmapPixel(src, sx + x, y, 1), d = GetBitmapPixel(ref, dx + x, y + 1, 1);
            bool n = (mode >= 0 && mode <= 5) ? ApplyMaskMode(mode, s, d) : d;
            SetBitmapPixel(ref, dx + x, y + 1, n ? MASKVISIBLE : MASKINVISIBLE, 1);
          }
        CopyMaskRect(src, sx, 0, dst, dx, 1, 19, 3, mode);
        for (int i = 0; i < ref->bytesPerRow * ref->height; i++) ASSERT_EQ(dst->memory[i], ref->memory[i]) << i;
        FreeMask(src), FreeMask(dst), FreeMask(ref);
      }
}

TEST(MaskRect, FillModes) {
  struct Case {
    int32_t mode;
    int expectInside; // -1 toggled, 0 clear, 1 set, 2 unchanged
  } cases[] = {{MASKVISIBLE, 1}, {MASKINVISIBLE, 0}, {MASKVANILLACOPY, 1}, {MASKXOR, -1},
               {MASKAND, 2},     {MASKOR, 1},        {6, 2},               {-3, 2}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.mode);
    qmMask *m = AllocMask(30, 3, 1), *orig = AllocMask(30, 3, 1);
    FillMaskPattern(m, 7);
    FillMaskPattern(orig, 7);
    FillMaskRect(m, 3, 1, 21, 1, c.mode);
    for (int y = 0; y < 3; y++)
      for (int x = 0; x < 30; x++) {
        bool was = GetBitmapPixel(orig, x, y, 1), now = GetBitmapPixel(m, x, y, 1);
        bool inside = y == 1 && x >= 3 && x < 24;
        bool want = !inside || c.expectInside == 2 ? was : c.expectInside == -1 ? !was : c.expectInside == 1;
        ASSERT_EQ(now, want) << x << "," << y;
      }
    // XOR twice restores the mask.
    if (c.mode == MASKXOR) {
      FillMaskRect(m, 3, 1, 21, 1, MASKXOR);
      EXPECT_EQ(0, memcmp(m->memory, orig->memory, size_t(m->bytesPerRow * 3)));
    }
    FreeMask(m), FreeMask(orig);
  }
}

TEST(MaskRect, ClampsToBothMasks) {
  qmMask *src = AllocMask(10, 2, 0), *dst = AllocMask(12, 3, 1);
  memset(src->memory, 0xFF, size_t(src->bytesPerRow * 2));
  // Far larger than either mask, and negative positions: nothing outside is touched (ASan).
  CopyMaskRect(src, -5, -1, dst, 4, 0, 1000, 1000, MASKVANILLACOPY);
  FillMaskRect(dst, -10, -10, 100000, 100000, MASKXOR);
  SetBitmapPixel(dst, 12, 0, MASKXOR, 1);
  SetBitmapPixel(dst, -1, 0, MASKXOR, 1);
  EXPECT_EQ(GetBitmapPixel(dst, 500, 0, 1), 0u);
  FreeMask(src), FreeMask(dst);
}

TEST(Pixels, SetGetAndLine) {
  qmBitmap *b = AllocBitmap(9, 7);
  FillBitmapRect(b, 0, 0, 9, 7, 0x000000);
  *At(b, 2, 3) = 0x11223344; // alpha byte 0x44 must survive a colour write
  SetBitmapPixel(b, 2, 3, 0xA1B2C3, 0);
  EXPECT_EQ(GetBitmapPixel(b, 2, 3, 0), 0xA1B2C3u);
  EXPECT_EQ(*At(b, 2, 3) & 0xFF, 0x44u);
  EXPECT_EQ(GetBitmapPixel(b, 9, 0, 0), 0u);
  EXPECT_EQ(GetBitmapPixel(nullptr, 0, 0, 0), 0u);

  // A diagonal from outside to outside: only inside pixels, both ends inclusive.
  DrawBitmapLine(b, -2, -2, 20, 20, 0xFFFFFF);
  for (int y = 0; y < 7; y++)
    for (int x = 0; x < 9; x++) EXPECT_EQ(GetBitmapPixel(b, x, y, 0) == 0xFFFFFF, x == y) << x << "," << y;
  DrawBitmapLine(b, 8, 0, 8, 0, 0x123456);
  EXPECT_EQ(GetBitmapPixel(b, 8, 0, 0), 0x123456u);
  DrawBitmapLine(b, 0, 6, 3, 5, 0x00FF00);
  EXPECT_EQ(GetBitmapPixel(b, 0, 6, 0), 0x00FF00u);
  EXPECT_EQ(GetBitmapPixel(b, 3, 5, 0), 0x00FF00u);
  FreeBitmap(b);
}

TEST(Blits, CopyMaskTemplateFillClampToBothBitmaps) {
  qmBitmap *src = AllocBitmap(16, 8), *dst = AllocBitmap(10, 6);
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 16; x++) *At(src, x, y) = Hash(uint32_t(y * 16 + x));
  FillBitmapRect(dst, 0, 0, 10, 6, 0x000000);

  BltBitmap(src, 3, 1, dst, 2, 2, 100, 100); // clamped to 8 x 4
  for (int y = 0; y < 6; y++)
    for (int x = 0; x < 10; x++) {
      bool in = x >= 2 && y >= 2;
      EXPECT_EQ(*At(dst, x, y), in ? *At(src, x + 1, y - 1) : 0u) << x << "," << y;
    }
  BltBitmap(src, 0, 0, dst, -4, -3, 8, 8); // negative destination moves the source start
  EXPECT_EQ(*At(dst, 0, 0), *At(src, 4, 3));

  FillBitmapRect(dst, 0, 0, 10, 6, 0x000000);
  qmMask *mask = AllocMask(16, 8, 1);
  BltMask(src, 0, 0, dst, 0, 0, 10, 6, mask); // all-clear mask: nothing changes
  for (int y = 0; y < 6; y++)
    for (int x = 0; x < 10; x++) EXPECT_EQ(*At(dst, x, y), 0u);
  SetBitmapPixel(mask, 5, 2, MASKVISIBLE, 1);
  BltMask(src, 3, 1, dst, 0, 0, 50, 50, mask); // mask read at source coordinates
  EXPECT_EQ(*At(dst, 2, 1), *At(src, 5, 2));
  EXPECT_EQ(*At(dst, 3, 1), 0u);

  uint8_t glyph[2] = {0x81, 0x00};
  qmMask *templ = WrapMask(glyph, 1); // 8 columns known, height unknown
  BltTemplate(templ, 0, 0, dst, 4, 5, 20, 1, 0x102030);
  EXPECT_EQ(GetBitmapPixel(dst, 4, 5, 0), 0x102030u);
  EXPECT_EQ(GetBitmapPixel(dst, 5, 5, 0), 0u);
  EXPECT_EQ(GetBitmapPixel(dst, 9, 5, 0), 0u); // column 7 would land at 11: clamped away
  FreeMask(templ);

  FillBitmapRect(dst, -3, 4, 1000, 1000, 0xABCDEF);
  EXPECT_EQ(GetBitmapPixel(dst, 0, 5, 0), 0xABCDEFu);
  EXPECT_EQ(GetBitmapPixel(dst, 9, 3, 0), 0u);

  BltBitmap(src, 0, 0, nullptr, 0, 0, 1, 1); // reported, no crash
  FreeMask(mask);
  FreeBitmap(src), FreeBitmap(dst);
}

TEST(Argb, RoundTripAndColourKey) {
  const int w = 6, h = 3, pitch = 8;
  std::vector<uint32_t> words(pitch * h, 0xDEADBEEF);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) words[y * pitch + x] = Hash(uint32_t(x + 10 * y));
  words[1] = 0xFF000000; // opaque black
  words[pitch + 4] = 0x00000000;
  qmBitmap *b = nullptr;
  qmMask *m = nullptr;
  ASSERT_EQ(BitmapFromArgb(words.data(), 0x000000, w, h, pitch, 0, &b, &m), 0);
  ASSERT_NE(m, nullptr);
  // Bytes in memory: alpha, red, green, blue.
  const auto *bytes = reinterpret_cast<const uint8_t *>(b->pixels);
  EXPECT_EQ(bytes[0], words[0] >> 24);
  EXPECT_EQ(bytes[1], (words[0] >> 16) & 0xFF);
  EXPECT_EQ(bytes[3], words[0] & 0xFF);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) EXPECT_EQ(GetBitmapPixel(m, x, y, 1), (words[y * pitch + x] & 0xFFFFFF) != 0);
  EXPECT_EQ(GetBitmapPixel(m, 1, 0, 1), 0u); // the alpha byte takes no part in the key

  uint32_t *back = BitmapToArgb(b, w, h);
  ASSERT_NE(back, nullptr);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) EXPECT_EQ(back[y * w + x], words[y * pitch + x]);
  MemFree(back);
  EXPECT_EQ(BitmapToArgb(b, w + 1, h), nullptr); // more than the bitmap holds
  EXPECT_EQ(BitmapToArgb(nullptr, w, h), nullptr);
  FreeBitmap(b);
  FreeMask(m);

  m = reinterpret_cast<qmMask *>(1);
  ASSERT_EQ(BitmapFromArgb(words.data(), 0xFFFFFFFF, w, h, pitch, 0, &b, &m), 0);
  EXPECT_EQ(m, nullptr);
  FreeBitmap(b);
  EXPECT_EQ(BitmapFromArgb(words.data(), 0, 0, h, pitch, 0, &b, &m), ERR_MEM);
}

TEST(Argb, StoredFormats) {
  struct Case {
    int32_t format;
    uint32_t stored, argb;
  } cases[] = {
      {10, 0x00112233, 0x00112233},
      {11, 0x332211FF, 0xFF112233},
      {12, 0x11223300, 0x00112233},
      {13, 0x00332211, 0x00112233},
      {4, 0xF81F, 0x00F800F8},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(StoredToArgb(c.format, c.stored), c.argb);
    EXPECT_EQ(ArgbToStored(c.format, c.argb), c.stored);
  }
}

#include <gtest/gtest.h>

#include "graphics/bitmap.h"

TEST(Bitmap, RowSizes) {
  struct Case {
    int32_t width, bitmapBytes, maskBytes, alphaBytes;
  } cases[] = {
      {640, 2576, 81, 640}, {641, 2576, 81, 644}, {643, 2576, 81, 644}, {644, 2592, 81, 644},
      {1, 16, 1, 4},        {7, 32, 1, 8},        {8, 48, 2, 8},        {5, 32, 1, 8},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.width);
    qmBitmap *b = AllocBitmap(c.width, 3);
    qmMask *m = AllocMask(c.width, 3, 1);
    qmAlphaChannel *a = AllocAlphaChannel(c.width, 3, 1);
    ASSERT_TRUE(b && m && a);
    EXPECT_EQ(b->bytesPerRow, c.bitmapBytes);
    EXPECT_EQ(b->bytesPerPixel, 4);
    EXPECT_EQ(b->pixelFormat, 11);
    EXPECT_EQ(m->bytesPerRow, c.maskBytes);
    EXPECT_EQ(a->bytesPerRow, c.alphaBytes);
    // The whole last row is addressable (ASan checks the allocation size).
    b->pixels[2 * (b->bytesPerRow / 4) + b->bytesPerRow / 4 - 1] = 1;
    m->memory[3 * m->bytesPerRow - 1] = 1;
    a->memory[3 * a->bytesPerRow - 1] = 1;
    FreeBitmap(b);
    FreeMask(m);
    FreeAlphaChannel(a);
  }
}

TEST(Bitmap, BadSizesGiveNoPicture) {
  struct Case {
    int32_t w, h;
  } cases[] = {{0, 10}, {10, 0}, {-1, 10}, {10, -5}, {QM_MAX_PLANE_SIDE + 1, 1}, {1, QM_MAX_PLANE_SIDE + 1},
               {1 << 20, 1 << 16}, {INT32_MAX, 2}};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    EXPECT_EQ(AllocBitmap(c.w, c.h), nullptr);
    EXPECT_EQ(AllocMask(c.w, c.h, 1), nullptr);
    EXPECT_EQ(AllocAlphaChannel(c.w, c.h, 1), nullptr);
  }
  // The largest side is still allowed.
  qmMask *m = AllocMask(32767, 1, 1);
  ASSERT_NE(m, nullptr);
  FreeMask(m);
}

// A long side is no reason to refuse a picture whose bytes fit: only the bytes are capped.
TEST(Bitmap, LongSidesThatFitInMemoryAreMade) {
  struct Case {
    int32_t w, h;
  } cases[] = {{32768, 1}, {65535, 1}, {1, 65535}, {100000, 3}, {1 << 20, 2}};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    qmBitmap *b = AllocBitmap(c.w, c.h);
    qmMask *m = AllocMask(c.w, c.h, 1);
    qmAlphaChannel *a = AllocAlphaChannel(c.w, c.h, 1);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(m, nullptr);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(b->bytesPerRow, ((c.w & ~3) + 4) * 4);
    // The last byte of every plane is there to be written.
    b->pixels[int64_t(c.h - 1) * (b->bytesPerRow / 4) + c.w - 1] = 1;
    m->memory[int64_t(c.h) * m->bytesPerRow - 1] = 1;
    a->memory[int64_t(c.h) * a->bytesPerRow - 1] = 1;
    FreeBitmap(b);
    FreeMask(m);
    FreeAlphaChannel(a);
  }
}

TEST(Bitmap, LockViewAndAttributes) {
  qmBitmap *b = AllocBitmap(640, 480);
  ASSERT_NE(b, nullptr);
  qmBitmapView v;
  EXPECT_EQ(LockBitmap(b, &v), 1);
  UnlockBitmap();
  EXPECT_EQ(v.valid, 1);
  EXPECT_EQ(v.pitch, 644);
  EXPECT_EQ(v.bytesPerPixel, 4);
  EXPECT_EQ(v.pixelFormat, 11);
  EXPECT_EQ(v.base, b->pixels);
  EXPECT_EQ(LockBitmap(nullptr, &v), 0);
  EXPECT_EQ(v.valid, 0);

  qmMask *m = AllocMask(20, 2, 1);
  EXPECT_EQ(GetBitmapAttr(b, 0), 640u);
  EXPECT_EQ(GetBitmapAttr(b, 18), 480u);
  EXPECT_EQ(GetBitmapAttr(b, 11), 81u);
  EXPECT_EQ(GetBitmapAttr(b, 17), 644u);
  EXPECT_EQ(GetBitmapAttr(b, 21), 32u);
  EXPECT_EQ(GetBitmapAttr(b, 24), reinterpret_cast<uintptr_t>(b));
  EXPECT_EQ(GetBitmapAttr(m, 3), reinterpret_cast<uintptr_t>(m->memory));
  EXPECT_EQ(GetBitmapAttr(m, 1), 3u);
  EXPECT_EQ(GetBitmapAttr(b, 99), 0u);
  EXPECT_EQ(GetBitmapAttr(nullptr, 0), 0u);
  FreeMask(m);
  FreeBitmap(b);
}

TEST(Bitmap, WrappedPlanesKeepTheirMemory) {
  uint8_t glyph[4] = {0xA5, 0x5A, 0xFF, 0x00};
  qmMask *m = WrapMask(glyph, 1);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->width, 0);
  EXPECT_EQ(m->borrowed, 1);
  FreeMask(m); // ASan would report freeing stack memory
  EXPECT_EQ(glyph[0], 0xA5);

  qmAlphaChannel *a = AllocAlphaChannel(4, 1, 1);
  SetAlphaChannelMemory(a, glyph, 4); // the old memory is released, the new one borrowed
  EXPECT_EQ(a->memory, glyph);
  FreeAlphaChannel(a);
  FreeMask(nullptr);
  FreeAlphaChannel(nullptr);
}


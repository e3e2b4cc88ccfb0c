// Colour keys, colour replacement and the transparency-plane kernels.
#include <gtest/gtest.h>

#include <cstring>

#include "graphics/alpha_kernels.h"

TEST(ColourKernels, KeyIgnoresTheFourthByte) {
  // Format 11 keyed on red, compare mask 0xFFFFFF00.
  uint32_t px[10] = {0x0000FF7F, 0x0000FF00, 0x0000FE00, 0, 0x0000FFFF, 1, 2, 3, 0x0000FF01, 0x00FF0000};
  uint8_t mask[2 * 2];
  memset(mask, 0xAA, sizeof mask); // every bit of the rectangle is written regardless
  ColorKeyMaskPixels(px, mask, 10, 1, 2, 0x0000FF00, 10, 0xFFFFFF00);
  const bool want[10] = {false, false, true, true, false, true, true, true, false, true};
  for (int x = 0; x < 10; x++) EXPECT_EQ(GetMaskBit(mask, x), want[x]) << x;
  EXPECT_EQ(mask[1] & 0x3F, 0xAA & 0x3F); // padding past the width untouched
}

TEST(ColourKernels, ReplaceChainsPairsInOrder) {
  const uint32_t X = 0x11111100, Y = 0x22222200, Z = 0x33333300;
  struct Case {
    const char *name;
    uint32_t pairs[7];
    uint32_t in[3], out[3];
  } cases[] = {
      {"swap", {X, Y, Y, X, 0xFFFFFFFF}, {X, Y, Z}, {X, X, Z}},
      {"chain", {X, Y, Y, Z, 0xFFFFFFFF}, {X, Y, Z}, {Z, Z, Z}},
      {"empty", {0xFFFFFFFF}, {X, Y, Z}, {X, Y, Z}},
      // The fourth byte is masked out of the comparison but the whole word is replaced.
      {"masked", {X, Y | 0x77, 0xFFFFFFFF}, {X | 0x42, Y, Z}, {Y | 0x77, Y, Z}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t px[3];
    memcpy(px, c.in, sizeof px);
    ReplaceColorsPixels(3, 1, c.pairs, px, 3, 0xFFFFFF00);
    for (int i = 0; i < 3; i++) EXPECT_EQ(px[i], c.out[i]) << i;
  }
}

TEST(AlphaKernels, InvertsAndConversions) {
  uint8_t mask[2 * 2] = {0x00, 0xC0, 0xFF, 0x3F}; // width 10: 2 bytes per row
  InvertBytes(mask, 2, 2);
  EXPECT_EQ(mask[1], 0x3F); // padding bits invert too
  EXPECT_EQ(mask[3], 0xC0);
  uint32_t px[2] = {0x12345678, 0};
  InvertPixels(px, 2, 1, 2);
  EXPECT_EQ(px[0], ~0x12345678u);
  EXPECT_EQ(px[1], 0xFFFFFFFFu);

  uint32_t argb[3] = {0x80FFFFFF, 0x00FFFFFF, 0xFF000000};
  uint8_t alpha[4] = {9, 9, 9, 9};
  ArgbToAlphaChannel(argb, 3, 1, 3, alpha, 4);
  EXPECT_EQ(alpha[0], 0x80);
  EXPECT_EQ(alpha[1], 0);
  EXPECT_EQ(alpha[2], 0xFF);
  EXPECT_EQ(alpha[3], 9);

  uint8_t plane[4 * 3] = {};
  FillBytesRect(plane, 1, 1, 2, 2, 4, 7);
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 4; x++) EXPECT_EQ(plane[y * 4 + x], (x >= 1 && x < 3 && y >= 1) ? 7 : 0);

  uint8_t src[4] = {255, 128, 1, 0}, dst[4];
  ScaleAlphaBytes(src, dst, 128, 4, 1);
  EXPECT_EQ(dst[0], 128);
  EXPECT_EQ(dst[1], 64);
  EXPECT_EQ(dst[2], 0);

  uint8_t m[2] = {0x50, 0x00}; // bits 1 and 3
  uint8_t a[4] = {5, 5, 5, 5};
  qmAlphaThroughMaskRequest fr{m, 1, 0, 2, 0, a, 0, 4, 4, 1, 200};
  FillAlphaThroughMaskPixels(&fr);
  EXPECT_EQ(a[0], 200);
  EXPECT_EQ(a[1], 5);
  EXPECT_EQ(a[2], 200);
  EXPECT_EQ(a[3], 5);
}

TEST(AlphaKernels, CombineModes) {
  struct Case {
    int32_t mode;
    uint8_t s, d;
    int32_t value;
    uint8_t want;
  } cases[] = {
      {0, 0, 50, 0, 0},      {0, 9, 50, 0, 9},     {1, 0, 50, 0, 50},    {1, 9, 50, 0, 9},
      {2, 0, 50, 0, 50},     {2, 9, 50, 0, 246},   {3, 0, 50, 0, 50},    {3, 9, 50, 0, 255},
      {4, 255, 50, 128, 128}, {4, 0, 50, 128, 50}, {4, 100, 50, 300, 100}, // value clamped to 255
      {5, 9, 0, 0, 0},       {5, 9, 50, 0, 246},   {5, 0, 50, 0, 50},    {6, 9, 50, 77, 77},
      {6, 0, 50, 77, 50},    {7, 200, 0, 0, 0},    {7, 200, 10, 0, 200}, {7, 0, 10, 0, 0},
      {8, 255, 50, 0, 255},  {8, 254, 50, 0, 50},  {42, 9, 50, 0, 9},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " s " << int(c.s) << " d " << int(c.d));
    // 33 bytes so the vector body and the tail both see the case.
    uint8_t s[33], d[33];
    memset(s, c.s, sizeof s);
    memset(d, c.d, sizeof d);
    qmCombineAlphaRequest req{s, 0, 0, d, 0, 0, 33, 1, 33, 33, c.mode, c.value};
    CombineAlphaPixels(&req);
    for (int i = 0; i < 33; i++) ASSERT_EQ(d[i], c.want) << i;
    EXPECT_EQ(CombineAlphaByte(c.mode, c.s, c.d, c.value), c.want);
  }
}

TEST(AlphaKernels, MaskFromAlpha) {
  const uint8_t src[4] = {254, 255, 0, 255};
  struct Case {
    int32_t mode;
    uint8_t before, after; // bits of pixels 0..3 at x = 2..5
  } cases[] = {
      {MASKVISIBLE, 0xFF, 0b11010111},     {MASKVANILLACOPY, 0x00, 0b00010100},
      {MASKINVISIBLE, 0x00, 0b00101000},   {MASKXOR, 0xFF, 0b11101011},
      {MASKAND, 0x5A, 0x5A},               {MASKOR, 0x00, 0b00010100},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.mode);
    uint8_t mask[1] = {c.before};
    qmMaskFromAlphaRequest req{0, 4, 2, 1, 4, 1};
    MaskFromAlphaPixels(src, mask, 0, 0, c.mode, &req);
    EXPECT_EQ(mask[0], c.after);
  }
}

TEST(AlphaKernels, CopyMaskThroughClip) {
  // Clip mask at (3, 1); destination rectangle at (5, 2) spans a byte boundary.
  uint8_t clip[2 * 2] = {0x00, 0x00, 0b10110000, 0x00}; // row 1: bits 0, 2, 3 set
  uint8_t srcMask[2 * 3] = {0xFF, 0xFF, 0xFF, 0xFF, 0xF7, 0xFF}; // pixel 4 of row 2 clear
  uint8_t dst[2 * 3];
  memset(dst, 0xFF, sizeof dst);
  qmMaskThroughMaskRequest req{clip, 3, 1, 2, dst, 3, 2, 2, 5, 1, srcMask, nullptr, 2};
  CopyMaskThroughMask(&req);
  // Pixel x = 3 + i reads clip bit i: set, clear, set, set(source clear), clear.
  const bool want[5] = {true, false, true, true, false};
  for (int i = 0; i < 5; i++) EXPECT_EQ(GetMaskBit(dst + 4, 3 + i), want[i] && (3 + i != 4)) << i;
  EXPECT_TRUE(GetMaskBit(dst + 4, 2)); // outside the rectangle

  uint8_t alphaSrc[8 * 3], alphaDst[8 * 3];
  for (int i = 0; i < 24; i++) alphaSrc[i] = uint8_t(100 + i), alphaDst[i] = 1;
  req = qmMaskThroughMaskRequest{clip, 3, 1, 2, alphaDst, 3, 2, 8, 5, 1, nullptr, alphaSrc, 8};
  CopyMaskThroughMask(&req);
  for (int i = 0; i < 5; i++) EXPECT_EQ(alphaDst[16 + 3 + i], want[i] ? alphaSrc[16 + 3 + i] : 0) << i;
}

// Copy, masked copy, template, blend and coverage kernels.
#include <gtest/gtest.h>

#include <vector>

#include "graphics/blend_kernels.h"
#include "graphics/blit_kernels.h"
#include "graphics/pixelformat.h"

TEST(CopyKernels, ReorderKeepsColourAndFourthByteForAll16Pairs) {
  const int32_t formats[] = {10, 11, 12, 13};
  for (int32_t sf : formats)
    for (int32_t df : formats) {
      SCOPED_TRACE(testing::Message() << sf << " -> " << df);
      uint32_t src[2] = {CanonicalToPixel(sf, 0x112233) | (~CompareMaskForFormat(sf) & 0x5A5A5A5A),
                         CanonicalToPixel(sf, 0xF0E0D0)};
      uint32_t dst[2] = {0xA5A5A5A5, 0x3C3C3C3C};
      qmBlitRequest req{src, dst, 0, 0, 0, 0, 2, 1, 2, 2, 1, sf, df};
      CopyPixels(&req);
      EXPECT_EQ(PixelToCanonical(df, dst[0]) & 0xFFFFFF, 0x112233u);
      EXPECT_EQ(PixelToCanonical(df, dst[1]) & 0xFFFFFF, 0xF0E0D0u);
      // The fourth destination byte is the one left as it was.
      EXPECT_EQ(dst[0] & FourthByteMask(df), 0xA5A5A5A5 & FourthByteMask(df));
      EXPECT_EQ(dst[1] & FourthByteMask(df), 0x3C3C3C3C & FourthByteMask(df));
    }
  // Concretely: format 10 into a bitmap's format 11 keeps the alpha byte.
  uint32_t s = 0x00112233, d = 0x000000EE;
  qmBlitRequest req{&s, &d, 0, 0, 0, 0, 1, 1, 1, 1, 1, 10, 11};
  CopyPixels(&req);
  EXPECT_EQ(d, 0x332211EEu);
  // Unknown formats: nothing written.
  req.srcFormat = 4;
  d = 7;
  CopyPixels(&req);
  EXPECT_EQ(d, 7u);
}

TEST(CopyKernels, PlainCopyMovesWholeWordsInsideTheRectangle) {
  std::vector<uint32_t> src(6 * 4), dst(5 * 4, 0);
  for (size_t i = 0; i < src.size(); i++) src[i] = 0x01010101u * uint32_t(i + 1);
  qmBlitRequest req{src.data(), dst.data(), 1, 1, 2, 0, 3, 2, 6, 5, 0, 11, 11};
  CopyPixels(&req);
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 5; x++) {
      bool in = x >= 2 && y < 2;
      EXPECT_EQ(dst[y * 5 + x], in ? src[(y + 1) * 6 + x - 1] : 0u);
    }
}

TEST(CopyKernels, MaskedCopyConversionsAndTemplate) {
  uint32_t src[10], dst[10];
  for (int i = 0; i < 10; i++) src[i] = 0x00102030u + uint32_t(i);
  const uint8_t mask[2] = {0x5A, 0x80}; // bits for source x 1..9 start at bit 1
  struct Case {
    int32_t convert;
    uint32_t (*f)(uint32_t);
  } cases[] = {{QM_CONVERT_NONE, [](uint32_t v) { return v; }},
               {QM_CONVERT_XRGB_TO_BGRX, [](uint32_t v) { return CanonicalToPixel(11, v); }},
               {QM_CONVERT_SHIFT8, [](uint32_t v) { return v << 8; }}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.convert);
    for (int i = 0; i < 10; i++) dst[i] = 0xEEEEEEEE;
    qmMaskedBlitRequest req{src, dst, mask, 1, 0, 0, 0, 8, 1, 10, 2, 10, c.convert};
    MaskedCopyPixels(&req);
    for (int i = 0; i < 8; i++) {
      int sx = i + 1;
      bool on = mask[sx >> 3] & (0x80 >> (sx & 7));
      EXPECT_EQ(dst[i], on ? c.f(src[sx]) : 0xEEEEEEEE) << i;
    }
  }
  for (int i = 0; i < 10; i++) dst[i] = 0;
  qmTemplateRequest t{mask, dst, 3, 0, 1, 0, 7, 1, 2, 10, 0xCAFE};
  TemplatePixels(&t);
  for (int i = 0; i < 7; i++) {
    int mx = 3 + i;
    EXPECT_EQ(dst[1 + i], (mask[mx >> 3] & (0x80 >> (mx & 7))) ? 0xCAFEu : 0u) << i;
  }
  EXPECT_EQ(dst[0], 0u);
}

TEST(CopyKernels, FillAndCopyThroughAlpha) {
  uint32_t px[4 * 3] = {};
  FillPixelsRect(px, 4, 1, 1, 2, 2, 0x77);
  FillPixelsRect(px, 4, 0, 0, 0, 3, 0x99); // width 0: nothing
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 4; x++) EXPECT_EQ(px[y * 4 + x], (x >= 1 && x < 3 && y >= 1) ? 0x77u : 0u);

  uint32_t src[4] = {1, 2, 3, 4}, dst[4] = {9, 9, 9, 9};
  uint8_t alpha[8] = {0, 0, 0, 1, 0, 255, 0, 0};
  qmAlphaCopyRequest req{src, 0, 0, 2, 0, 4, dst, 0, 0, 4, 4, 1, alpha, 8};
  CopyPixelsThroughAlpha(&req);
  EXPECT_EQ(dst[0], 9u);
  EXPECT_EQ(dst[1], 2u);
  EXPECT_EQ(dst[2], 9u);
  EXPECT_EQ(dst[3], 4u);
}

TEST(BlendKernels, AlphaRule) {
  struct Case {
    uint8_t a;
    uint32_t src, dst, want; // format 11 words
  } cases[] = {
      {128, 0xFFFFFF12, 0x00000034, 0x7F7F7F00}, // 127 per channel; fourth byte 0
      {255, 0xFFFFFF12, 0x00000034, 0xFFFFFF12}, // copies the source word exactly
      {0, 0xFFFFFF12, 0x00000034, 0x00000034},   // destination untouched
      {1, 0x00000000, 0xFFFFFF00, 0xFEFEFE00},   // floor of a negative step
      {254, 0xFFFFFF00, 0x00000000, 0xFDFDFD00},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(int(c.a));
    for (auto fn : {BlendAlphaPixels, BlendAlphaPixelsScalar}) {
      uint32_t s[9], d[9];
      uint8_t a[9];
      for (int i = 0; i < 9; i++) s[i] = c.src, d[i] = c.dst, a[i] = c.a; // 8 vector lanes and a tail
      qmBlendRequest req{s, 0, 0, d, 0, 0, 9, 1, 9, 9, a, 0, 0, 9, 11};
      fn(&req);
      for (int i = 0; i < 9; i++) EXPECT_EQ(d[i], c.want) << i;
    }
  }
}

TEST(BlendKernels, CoverageModes) {
  const uint32_t white = 0xFFFFFF00, black = 0; // format 11
  struct Case {
    int32_t mode;
    uint8_t cov;
    uint8_t dstAlpha;
    uint32_t wantPixel;
    int wantAlpha; // -1: no alpha plane
  } cases[] = {
      {QM_COVER_BLEND64, 64, 0, white, -1},
      {QM_COVER_BLEND64, 32, 0, 0x7F7F7F00, -1}, // weight 128
      {QM_COVER_BLEND64, 200, 0, white, -1},     // above 64 counts as full
      {QM_COVER_BLEND, 0, 0, black, -1},
      {QM_COVER_BLEND, 255, 0, white, -1},
      {QM_COVER_BLEND, 128, 0, 0x7F7F7F00, -1},
      {QM_COVER_ALPHA, 128, 0, white, 128 * 128 / 255},
      {QM_COVER_ALPHA, 128, 100, 0x7F7F7F00, 128 * (100 + (((128 - 100) * 128) >> 8)) / 255},
      {QM_COVER_ALPHA, 0, 100, black, 100},
      {7, 1, 0, white, -1}, // stencil
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " cov " << int(c.cov));
    uint32_t px = black;
    uint8_t cov = c.cov, a = c.dstAlpha;
    qmCoverageRequest req{};
    req.coverage = &cov;
    req.coverageBytesPerRow = 1;
    req.dstBase = &px;
    req.dstPitch = 1;
    req.dstAlpha = c.wantAlpha >= 0 ? &a : nullptr;
    req.dstAlphaBytesPerRow = 1;
    req.width = req.height = 1;
    req.color = 0xFFFFFF;
    req.mode = c.mode;
    req.level = 128;
    req.format = 11;
    AlphaCoveragePixels(&req);
    EXPECT_EQ(px, c.wantPixel);
    if (c.wantAlpha >= 0) {
      EXPECT_EQ(a, c.wantAlpha);
    }
  }
}

TEST(BlendKernels, CoverageTextureAnd16BitPlane) {
  uint32_t px[2] = {0, 0}, tex[2] = {0x11223300, 0x44556600};
  uint8_t cov[2] = {255, 255};
  qmCoverageRequest req{};
  req.coverage = cov;
  req.coverageBytesPerRow = 2;
  req.dstBase = px;
  req.dstPitch = 2;
  req.texture = tex;
  req.texturePitch = 2;
  req.width = 2;
  req.height = 1;
  req.color = 0xFFFFFF;
  req.mode = QM_COVER_BLEND;
  req.format = 11;
  AlphaCoveragePixels(&req);
  EXPECT_EQ(px[0], tex[0]);
  EXPECT_EQ(px[1], tex[1]);

  // Mode 3 reads 16-bit entries and ignores the texture.
  uint16_t cov16[2] = {255, 0};
  uint8_t alpha[2] = {0, 0};
  px[0] = px[1] = 0;
  req.mode = QM_COVER_ALPHA16;
  req.coverage16 = cov16;
  req.coverage16RowLength = 2;
  req.dstAlpha = alpha;
  req.dstAlphaBytesPerRow = 2;
  req.level = 255;
  AlphaCoveragePixels(&req);
  EXPECT_EQ(px[0], 0xFFFFFF00u);
  EXPECT_EQ(alpha[0], 255);
  EXPECT_EQ(px[1], 0u);
  EXPECT_EQ(alpha[1], 0);
}

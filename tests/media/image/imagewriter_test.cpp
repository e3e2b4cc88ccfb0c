// The image file writer: every format read back by PIL or netpbm, the BMP bytes, and the
// conversion of a bitmap with mask and alpha to ARGB words.
#include "media/image/imagewriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "tests/media/image/image_test_util.h"

namespace {

std::vector<uint32_t> Picture(int32_t w, int32_t h, bool alpha) {
  std::vector<uint32_t> p(size_t(w) * h);
  for (int32_t y = 0; y < h; y++)
    for (int32_t x = 0; x < w; x++)
      p[size_t(y) * w + x] = (alpha ? uint32_t(x * 17 + y * 5) & 255 : 0xFFu) << 24 | uint32_t(x * 255 / w) << 16 |
                             uint32_t(y * 255 / h) << 8 | uint32_t((x ^ y) * 8 & 255);
  return p;
}

class ImageWriter : public ::testing::Test {
 protected:
  std::string Path(const std::string &name) { return dir_ / name; }
  uint32_t Save(int32_t format, const std::vector<uint32_t> &p, int32_t w, int32_t h, const std::string &name,
                uint32_t key = 0xFFFFFFFF, int32_t alpha = 0, int32_t quality = 90, int32_t colors = 256) {
    return SaveImageFile(format, p.data(), w, h, Path(name).c_str(), nullptr, key, alpha, quality, colors, 0);
  }
  TempDir dir_;
};

TEST_F(ImageWriter, BmpBytes) {
  const uint32_t one = 0xFF102030;
  ASSERT_EQ(SaveImageFile(IMGFMT_BMP, &one, 1, 1, Path("one.bmp").c_str(), nullptr, 0xFFFFFFFF, 0, 90, 256, 0), 0u);
  std::string b = ReadWholeFile(Path("one.bmp"));
  ASSERT_EQ(b.size(), 58u);
  EXPECT_EQ(b.substr(54), std::string("\x30\x20\x10\x00", 4));
  EXPECT_EQ(b.substr(0, 2), "BM");
  EXPECT_EQ(uint8_t(b[2]), 58);
  EXPECT_EQ(uint8_t(b[10]), 54);
  EXPECT_EQ(uint8_t(b[28]), 24);
  // Rows of 4 pixels take 12 bytes, of 5 pixels 16; the bottom row comes first.
  for (int32_t w : {4, 5}) {
    std::vector<uint32_t> p = Picture(w, 3, false);
    ASSERT_EQ(Save(IMGFMT_BMP, p, w, 3, "rows.bmp"), 0u);
    b = ReadWholeFile(Path("rows.bmp"));
    const size_t row = w == 4 ? 12 : 16;
    ASSERT_EQ(b.size(), 54 + 3 * row);
    EXPECT_EQ(uint8_t(b[54]), p[2 * w] & 255);
    EXPECT_EQ(uint8_t(b[56]), p[2 * w] >> 16 & 255);
  }
}

TEST_F(ImageWriter, EveryFormatReadsBackInItsPeer) {
  if (RunPeer("decode /dev/null /dev/null") == 32512) GTEST_SKIP() << "python3 is missing";
  const int32_t w = 45, h = 27;
  const std::vector<uint32_t> opaque = Picture(w, h, false), translucent = Picture(w, h, true);
  // Few colours for the GIF, so that the palette holds them all.
  std::vector<uint32_t> few(size_t(w) * h);
  for (size_t i = 0; i < few.size(); i++) few[i] = 0xFF000000u | uint32_t(i % 7) * 0x252525u;
  struct Case {
    const char *name;
    int32_t format;
    const std::vector<uint32_t> *pixels;
    int32_t alpha;
    double meanError;  // per channel; 0: within the tolerance
    int tolerance;     // the quantizer's colours are centres of 5-6-5 cells
  } cases[] = {
      {"out.bmp", IMGFMT_BMP, &opaque, 0, 0, 0},        {"out.png", IMGFMT_PNG, &opaque, 0, 0, 0},
      {"alpha.png", IMGFMT_PNG, &translucent, 1, 0, 0}, {"out.jpg", IMGFMT_JPEG, &opaque, 0, 3, 0},
      {"out.gif", IMGFMT_GIF, &few, 0, 0, 4},           {"out.ilbm", IMGFMT_ILBM, &opaque, 0, 0, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(Save(c.format, *c.pixels, w, h, c.name, 0xFFFFFFFF, c.alpha), 0u);
    PeerPicture ref;
    ASSERT_TRUE(PeerDecode(Path(c.name), Path("back.ref"), &ref));
    std::vector<uint32_t> expect = *c.pixels;
    if (!c.alpha)
      for (auto &p : expect) p &= 0xFFFFFF;
    // A GIF declares its last entry transparent and keeps it free: every pixel stays opaque.
    const bool keptEntry = c.format == IMGFMT_GIF;
    if (keptEntry)
      for (auto &p : expect) p |= 0xFF000000u;
    EXPECT_EQ(ref.alpha, keptEntry ? 1 : c.alpha);
    if (c.meanError == 0) {
      EXPECT_TRUE(SamePixels(expect.data(), w, h, ref, c.tolerance));
      continue;
    }
    double sum = 0;
    for (size_t i = 0; i < expect.size(); i++)
      for (int k = 0; k < 3; k++) sum += std::abs(int(expect[i] >> (16 - 8 * k) & 255) - int(uint8_t(ref.rgba[4 * i + k])));
    EXPECT_LE(sum / (3.0 * expect.size()), c.meanError);
  }
}

TEST_F(ImageWriter, GifTransparencyAndColours) {
  const int32_t w = 16, h = 8;
  std::vector<uint32_t> p = Picture(w, h, false);
  for (int32_t x = 0; x < w; x++) p[size_t(3) * w + x] = 0xFF00FF00;  // row 3 is the key colour
  ASSERT_EQ(Save(IMGFMT_GIF, p, w, h, "key.gif", 0x0000FF00, 0, 90, 16), 0u);
  PeerPicture ref;
  ASSERT_TRUE(PeerDecode(Path("key.gif"), Path("key.ref"), &ref));
  ASSERT_EQ(ref.alpha, 1);
  for (int32_t i = 0; i < w * h; i++) EXPECT_EQ(uint8_t(ref.rgba[4 * i + 3]), i / w == 3 ? 0 : 255) << i;
  // The colour count is brought into 1..256: a single colour still saves.
  ASSERT_EQ(Save(IMGFMT_GIF, p, w, h, "one.gif", 0xFFFFFFFF, 0, 90, 0), 0u);
  ASSERT_TRUE(PeerDecode(Path("one.gif"), Path("one.ref"), &ref));
  for (int32_t i = 1; i < w * h; i++) EXPECT_EQ(ref.rgba.substr(4 * i, 4), ref.rgba.substr(0, 4));
}

TEST_F(ImageWriter, Failures) {
  std::vector<uint32_t> p = Picture(4, 4, false);
  EXPECT_EQ(Save(7, p, 4, 4, "x.img"), ERR_UNKNOWNIMGOUT);
  for (int32_t format : {IMGFMT_BMP, IMGFMT_PNG, IMGFMT_JPEG, IMGFMT_GIF, IMGFMT_ILBM}) {
    SCOPED_TRACE(format);
    EXPECT_EQ(Save(format, p, 4, 4, "no/such/folder/x"), ERR_WRITEFILE);
  }
  EXPECT_EQ(Save(IMGFMT_PNG, p, 0, 4, "empty.png"), ERR_SAVEIMAGE);
  // A BMP of no rows is its header.
  EXPECT_EQ(Save(IMGFMT_BMP, p, 4, 0, "empty.bmp"), 0u);
  EXPECT_EQ(ReadWholeFile(Path("empty.bmp")).size(), 54u);
}

TEST_F(ImageWriter, BitmapToArgbFoldsMaskAndAlpha) {
  qmBitmap *bitmap = AllocBitmap(10, 2);
  qmMask *mask = AllocMask(10, 2, 1);
  qmAlphaChannel *alpha = AllocAlphaChannel(10, 2, 1);
  ASSERT_TRUE(bitmap && mask && alpha);
  for (int32_t y = 0; y < 2; y++)
    for (int32_t x = 0; x < 10; x++) {
      bitmap->pixels[y * bitmap->bytesPerRow / 4 + x] = __builtin_bswap32(uint32_t(0x00102030 + x + 16 * y));
      if (x % 3) mask->memory[y * mask->bytesPerRow + x / 8] |= uint8_t(0x80 >> (x % 8));
      alpha->memory[y * alpha->bytesPerRow + x] = uint8_t(x * 20);
    }
  auto at = [](uint32_t *p, int x, int y) { return p[y * 10 + x]; };
  uint32_t *toAlpha = BitmapToArgbMasked(bitmap, 10, 2, mask, nullptr, 0xFFFFFFFF, 1);
  uint32_t *keyed = BitmapToArgbMasked(bitmap, 10, 2, mask, nullptr, 0x00ABCDEF, 0);
  uint32_t *withAlpha = BitmapToArgbMasked(bitmap, 10, 2, nullptr, alpha, 0xFFFFFFFF, 0);
  uint32_t *plain = BitmapToArgbMasked(bitmap, 10, 2, nullptr, nullptr, 0, 0);
  uint32_t *clearKept = BitmapToArgbMasked(bitmap, 10, 2, nullptr, alpha, 0, 0);
  uint32_t *clearOred = BitmapToArgbMasked(bitmap, 10, 2, nullptr, alpha, 0x00F00F0F, 0);
  ASSERT_TRUE(toAlpha && keyed && withAlpha && plain && clearKept && clearOred);
  EXPECT_EQ(at(toAlpha, 1, 1), 0xFF102041u);
  EXPECT_EQ(at(toAlpha, 3, 1), 0x00102043u);
  EXPECT_EQ(at(keyed, 3, 0), 0x00ABCDEFu);
  EXPECT_EQ(at(keyed, 4, 0) & 0xFFFFFF, 0x102034u);
  EXPECT_EQ(at(withAlpha, 5, 0), 0x64102035u);
  EXPECT_EQ(at(withAlpha, 0, 1), 0x00FFFFFFu);  // alpha 0: the colour's RGB ORed in
  EXPECT_EQ(at(clearKept, 0, 1), 0x00102040u);
  EXPECT_EQ(at(clearOred, 0, 1), 0x00F02F4Fu);
  EXPECT_EQ(at(clearOred, 1, 1), 0x14102041u) << "only clear pixels take the colour";
  EXPECT_EQ(at(plain, 9, 1), 0xFF102049u);
  // The same through the file writer.
  ASSERT_EQ(SaveBitmapFile(IMGFMT_PNG, bitmap, 10, 2, Path("bitmap.png").c_str(), nullptr, 0xFFFFFFFF, alpha, 90, 256,
                           0),
            0u);
  for (uint32_t *p : {toAlpha, keyed, withAlpha, plain, clearKept, clearOred}) MemFree(p);
  FreeBitmap(bitmap);
  FreeMask(mask);
  FreeAlphaChannel(alpha);
  PeerPicture ref;
  if (PeerDecode(Path("bitmap.png"), Path("bitmap.ref"), &ref)) {
    EXPECT_EQ(ref.alpha, 1);
    EXPECT_EQ(uint8_t(ref.rgba[4 * 5 + 3]), 100);
  }
}

}  // namespace

// The platform's picture codecs: JPEG, TIFF and GIF decoding against PIL's decoding of the same
// files, broken files, and PNG and JPEG encoding read back by PIL.
#include "platform/imagecodec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "tests/media/image/image_test_util.h"

namespace {

class ImageCodec : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    made_ = RunPeer("codecs " + dir_->path()) == 0;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!made_) GTEST_SKIP() << "the picture peer (python3-pil, netpbm) is missing";
  }
  static std::string Path(const std::string &name) { return *dir_ / name; }
  static TempDir *dir_;
  static bool made_;
};
TempDir *ImageCodec::dir_ = nullptr;
bool ImageCodec::made_ = false;

TEST_F(ImageCodec, DecodesLikePil) {
  struct Case {
    const char *name;
    int tolerance;  // colour steps
    int minAlpha;   // colours compared from this alpha on
  } cases[] = {
      // JPEG: the same library's decoder; CMYK is converted by each side's own rule.
      {"rgb.jpg", 0, 0}, {"grey.jpg", 0, 0}, {"progressive.jpg", 0, 0}, {"subsampled.jpg", 0, 0},
      {"cmyk.jpg", 1, 0},
      // TIFF: libtiff multiplies by alpha, which is undone here.
      {"rgb_raw.tif", 0, 0}, {"rgb_lzw.tif", 0, 0}, {"rgba.tif", 2, 64}, {"grey_raw.tif", 0, 0},
      {"palette.tif", 0, 0}, {"bigendian.tif", 0, 0},
      // GIF: the colour of a transparent pixel is nobody's business.
      {"plain.gif", 0, 0}, {"interlaced.gif", 0, 0}, {"transparent.gif", 0, 1}, {"anim.gif", 0, 0},
      // PNG (what the clipboard carries): exact, alpha and a palette's transparent entry kept.
      {"png_rgb.png", 0, 0}, {"png_rgba.png", 0, 1}, {"png_palette.png", 0, 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = Path(c.name);
    PeerPicture ref;
    ASSERT_TRUE(ReadReference(file.substr(0, file.rfind('.')) + ".ref", &ref));
    int32_t w = 0, h = 0, alpha = -1;
    uint32_t *pixels = nullptr;
    ASSERT_EQ(DecodeImageData(file.c_str(), nullptr, &w, &h, &pixels, &alpha, nullptr), 0u);
    EXPECT_EQ(alpha, ref.alpha);
    EXPECT_TRUE(SamePixels(pixels, w, h, ref, c.tolerance, c.minAlpha));
    // The alpha plane, when asked for, takes the alpha bytes out of the words.
    uint32_t *bare = nullptr;
    uint8_t *plane = nullptr;
    ASSERT_EQ(DecodeImageData(file.c_str(), nullptr, &w, &h, &bare, &alpha, &plane), 0u);
    EXPECT_EQ(plane != nullptr, ref.alpha != 0);
    for (int64_t i = 0; plane && i < int64_t(w) * h; i++) {
      ASSERT_EQ(plane[i], pixels[i] >> 24);
      ASSERT_EQ(bare[i], pixels[i] & 0xFFFFFF);
    }
    MemFree(plane);
    MemFree(bare);
    MemFree(pixels);
    // The probe allocates nothing.
    int32_t pw = 0, ph = 0, palpha = -1;
    ASSERT_EQ(DecodeImageData(file.c_str(), nullptr, &pw, &ph, nullptr, &palpha, nullptr), 0u);
    EXPECT_EQ(pw, ref.width);
    EXPECT_EQ(ph, ref.height);
    EXPECT_EQ(palpha, ref.alpha);
  }
}

TEST_F(ImageCodec, FailedAllocationsFreeEverything) {
  for (const char *name : {"rgb.jpg", "cmyk.jpg", "rgba.tif", "transparent.gif"}) {
    for (uint64_t n = 1; n <= 6; n++) {
      SCOPED_TRACE(std::string(name) + " allocation " + std::to_string(n));
      SetMemAllocFailure(n);
      int32_t w = 0, h = 0, alpha = 0;
      uint32_t *pixels = nullptr;
      uint8_t *plane = nullptr;
      const uint32_t err = DecodeImageData(Path(name).c_str(), nullptr, &w, &h, &pixels, &alpha, &plane);
      const bool used = MemAllocFailureUsed();
      SetMemAllocFailure(0);
      if (!used) {
        EXPECT_EQ(err, 0u);
        MemFree(pixels);
        MemFree(plane);
        break;
      }
      // Some allocations of the file layer fall back to another way and the picture comes.
      if (err) {
        EXPECT_EQ(pixels, nullptr);
        EXPECT_EQ(plane, nullptr);
      }
      MemFree(pixels);
      MemFree(plane);
    }
  }
}

TEST_F(ImageCodec, BrokenFilesFailCleanly) {
  const std::string jpeg = ReadWholeFile(Path("rgb.jpg"));
  const std::string tiff = ReadWholeFile(Path("rgb_lzw.tif"));
  const std::string gif = ReadWholeFile(Path("interlaced.gif"));
  std::string hugeGif = gif;
  hugeGif[6] = hugeGif[7] = hugeGif[8] = hugeGif[9] = char(0xFF);  // a 65535 x 65535 screen
  std::string hugeJpeg = jpeg;
  for (size_t i = 0; i + 8 < hugeJpeg.size(); i++)
    if (uint8_t(hugeJpeg[i]) == 0xFF && uint8_t(hugeJpeg[i + 1]) == 0xC0) {  // SOF0: height, width
      hugeJpeg.replace(i + 5, 4, "\x7F\xFF\x7F\xFF");
      break;
    }
  struct Case {
    const char *name;
    std::string bytes;
  } cases[] = {
      {"jpeg cut in its header", jpeg.substr(0, 30)},
      {"jpeg of 32767 x 32767 in a few bytes", hugeJpeg},
      {"tiff cut in its directory", tiff.substr(0, 12)},
      {"tiff cut in its strips", tiff.substr(0, tiff.size() / 3)},
      {"gif cut before its picture", gif.substr(0, 13)},
      {"gif cut in its picture", gif.substr(0, gif.size() / 2)},
      {"gif of 65535 x 65535 in a few bytes", hugeGif},
      {"no picture at all", "GIF89a"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(Path("broken"), c.bytes);
    int32_t w = -1, h = -1, alpha = -1;
    uint32_t *pixels = nullptr;
    EXPECT_NE(DecodeImageData(Path("broken").c_str(), nullptr, &w, &h, &pixels, &alpha, nullptr), 0u);
    EXPECT_EQ(pixels, nullptr);
  }
  int32_t w, h, alpha;
  uint32_t *pixels = nullptr;
  EXPECT_EQ(DecodeImageData(Path("missing.jpg").c_str(), nullptr, &w, &h, &pixels, &alpha, nullptr), ERR_READFILE);

  // A JPEG cut in its scan is shown as far as it goes, as the system's decoder shows it: the
  // rows it holds match the whole picture's.
  uint32_t *whole = nullptr;
  ASSERT_EQ(DecodeImageData(Path("rgb.jpg").c_str(), nullptr, &w, &h, &whole, &alpha, nullptr), 0u);
  WriteFile(Path("cut.jpg"), jpeg.substr(0, jpeg.size() * 2 / 3));
  int32_t cw = 0, ch = 0;
  ASSERT_EQ(DecodeImageData(Path("cut.jpg").c_str(), nullptr, &cw, &ch, &pixels, &alpha, nullptr), 0u);
  EXPECT_EQ(cw, w);
  EXPECT_EQ(ch, h);
  EXPECT_EQ(std::vector<uint32_t>(pixels, pixels + 8 * w), std::vector<uint32_t>(whole, whole + 8 * w));
  MemFree(pixels);
  MemFree(whole);
}

// A picture with every kind of pixel: smooth colour, edges and partial alpha.
std::vector<uint32_t> TestPicture(int32_t w, int32_t h) {
  std::vector<uint32_t> p(size_t(w) * h);
  for (int32_t y = 0; y < h; y++)
    for (int32_t x = 0; x < w; x++)
      p[size_t(y) * w + x] = uint32_t((x * 9 + y) & 255) << 24 | uint32_t(x * 255 / w) << 16 |
                             uint32_t(y * 255 / h) << 8 | uint32_t(((x / 8 + y / 8) & 1) * 200);
  return p;
}

TEST_F(ImageCodec, EncodedPicturesReadBackInPil) {
  const int32_t w = 61, h = 35;
  std::vector<uint32_t> pixels = TestPicture(w, h);
  struct Case {
    const char *name;
    int32_t type, alpha, quality;
    double meanError;  // per colour channel; PIL's own encoder at the same settings: 0.5 and 10.3
  } cases[] = {
      {"alpha.png", IMAGETYPE_PNG, 1, 100, 0},
      {"opaque.png", IMAGETYPE_PNG, 0, 100, 0},
      {"q95.jpg", IMAGETYPE_JPEG, 0, 95, 1},
      {"q50.jpg", IMAGETYPE_JPEG, 0, 50, 11},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    // Through memory, written by the test, and straight to a file: the same bytes.
    qmImageData data = {};
    ASSERT_EQ(EncodeImageData(nullptr, pixels.data(), w, h, w * 4, c.type, c.alpha, c.quality, 0, &data), 0u);
    ASSERT_EQ(EncodeImageData(Path(c.name).c_str(), pixels.data(), w, h, w * 4, c.type, c.alpha, c.quality, 0,
                              nullptr),
              0u);
    EXPECT_EQ(ReadWholeFile(Path(c.name)), std::string(reinterpret_cast<char *>(data.bytes), data.length));
    FreeEncodedImage(&data);
    PeerPicture ref;
    ASSERT_TRUE(PeerDecode(Path(c.name), Path("back.ref"), &ref));
    std::vector<uint32_t> expect = pixels;
    if (!c.alpha)
      for (auto &p : expect) p &= 0xFFFFFF;
    EXPECT_EQ(ref.alpha, c.alpha);
    if (c.meanError == 0) {
      EXPECT_TRUE(SamePixels(expect.data(), w, h, ref));
    } else {
      ASSERT_EQ(ref.width, w);
      double sum = 0;
      for (int64_t i = 0; i < int64_t(w) * h; i++)
        for (int k = 0; k < 3; k++)
          sum += std::abs(int(expect[i] >> (16 - 8 * k) & 255) - int(uint8_t(ref.rgba[4 * i + k])));
      EXPECT_LE(sum / (3.0 * w * h), c.meanError);
    }
  }
  // The stored byte order (alpha, red, green, blue) gives the same PNG.
  std::vector<uint32_t> stored(pixels.size());
  for (size_t i = 0; i < pixels.size(); i++) stored[i] = __builtin_bswap32(pixels[i]);
  ASSERT_EQ(EncodeImageData(Path("stored.png").c_str(), stored.data(), w, h, w * 4, IMAGETYPE_PNG, 1, 100, 1, nullptr),
            0u);
  EXPECT_EQ(ReadWholeFile(Path("stored.png")), ReadWholeFile(Path("alpha.png")));
  // A request's length is its own field.
  qmJpegRequest request = {pixels.data(), w, h, w * 4, 80, {}};
  ASSERT_EQ(EncodeImageJPEG(&request), 0u);
  EXPECT_GT(request.data.length, 100u);
  int32_t dw = 0, dh = 0, dalpha = -1;
  uint32_t *back = nullptr;
  EXPECT_EQ(DecodeImageMemory(request.data.bytes, request.data.length, &dw, &dh, &back, &dalpha, nullptr), 0u);
  EXPECT_EQ(dw, w);
  EXPECT_EQ(dalpha, 0);
  MemFree(back);
  FreeEncodedImage(&request.data);
  EXPECT_EQ(SaveImagePNG((dir_->path() + "/no/such/folder/x.png").c_str(), pixels.data(), w, h, 1), ERR_WRITEFILE);
}

}  // namespace

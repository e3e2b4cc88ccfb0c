// The ILBM reader against ppmtoilbm's pictures as ilbmtoppm decodes them and against small
// files built here by hand; the writer read back by ilbmtoppm.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/image/ilbm.h"
#include "media/image/imageload.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "tests/media/image/image_test_util.h"

namespace {

std::string Be(uint32_t v, int n) {
  std::string s;
  for (int i = n - 1; i >= 0; i--) s += char(v >> (8 * i));
  return s;
}

std::string Chunk(const char *name, const std::string &data) {
  return std::string(name, 4) + Be(uint32_t(data.size()), 4) + data + (data.size() & 1 ? std::string(1, '\0') : "");
}

std::string Bmhd(int width, int height, int planes, int masking, int compression, int transparent = 0) {
  return Chunk("BMHD", Be(uint32_t(width), 2) + Be(uint32_t(height), 2) + std::string(4, '\0') + char(planes) +
                           char(masking) + char(compression) + '\0' + Be(uint32_t(transparent), 2) + "\x01\x01" +
                           Be(uint32_t(width), 2) + Be(uint32_t(height), 2));
}

std::string Cmap(const std::vector<uint32_t> &colors) {
  std::string d;
  for (uint32_t c : colors) d += Be(c, 3);
  return Chunk("CMAP", d);
}

std::string Form(const std::string &chunks) { return "FORM" + Be(uint32_t(chunks.size() + 4), 4) + "ILBM" + chunks; }

// An uncompressed body of one plane row per plane per row; width up to 16, so a row is 2 bytes.
// indices[y][x] gives the colour index of each pixel.
std::string PlanarBody(const std::vector<std::vector<int>> &indices, int planes) {
  std::string body;
  for (const auto &row : indices)
    for (int p = 0; p < planes; p++) {
      uint16_t bits = 0;
      for (size_t x = 0; x < row.size(); x++)
        if (row[x] >> p & 1) bits |= uint16_t(0x8000 >> x);
      body += Be(bits, 2);
    }
  return Chunk("BODY", body);
}

class Ilbm : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    made_ = HasCommand("ppmtoilbm") && RunPeer("ilbm " + dir_->path()) == 0;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static std::string Path(const std::string &name) { return *dir_ / name; }

  struct Loaded {
    uint32_t err = 0;
    uint32_t *pixels = nullptr, *palette = nullptr, transparent = 0;
    int32_t width = -1, height = -1, alpha = -1;
    ~Loaded() {
      MemFree(pixels);
      MemFree(palette);
    }
    std::vector<uint32_t> Row(int y) const {
      return std::vector<uint32_t>(pixels + int64_t(y) * width, pixels + int64_t(y + 1) * width);
    }
  };
  static void Load(const std::string &bytes, Loaded *out, uint32_t *paletteIn = nullptr, int32_t pen = -1,
                   int32_t unique = 0) {
    WriteFile(Path("made.ilbm"), bytes);
    LoadFile(Path("made.ilbm"), out, paletteIn, pen, unique);
  }
  static void LoadFile(const std::string &path, Loaded *out, uint32_t *paletteIn = nullptr, int32_t pen = -1,
                       int32_t unique = 0) {
    out->err = LoadImageFile(path.c_str(), paletteIn, pen, unique, &out->pixels, &out->palette, &out->transparent,
                             &out->width, &out->height, &out->alpha);
  }
  static TempDir *dir_;
  static bool made_;
};
TempDir *Ilbm::dir_ = nullptr;
bool Ilbm::made_ = false;

TEST_F(Ilbm, NetpbmPicturesMatchIlbmtoppm) {
  if (!made_) GTEST_SKIP() << "netpbm or python3-pil is missing";
  struct Case {
    const char *name;
    int tolerance;  // HAM: netpbm stretches 4- and 6-bit values to 8 bits, this reader shifts them
  } cases[] = {{"colors16", 0}, {"colors16_raw", 0}, {"colors2", 0}, {"colors200", 0}, {"deep", 0},
               {"deep_raw", 0}, {"masked", 0},       {"wide", 0},    {"ham6", 15},     {"ham8", 3}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    PeerPicture ref;
    ASSERT_TRUE(ReadReference(Path(std::string(c.name) + ".ref"), &ref));
    Loaded got;
    LoadFile(Path(std::string(c.name) + ".ilbm"), &got);
    ASSERT_EQ(got.err, 0u);
    EXPECT_EQ(got.alpha, 0);
    EXPECT_EQ(got.transparent, 0xFFFFFFFFu);
    EXPECT_TRUE(SamePixels(got.pixels, got.width, got.height, ref, c.tolerance));
    // A palette copy only for pictures that have one.
    const bool indexed = std::string(c.name).rfind("colors", 0) == 0 || std::string(c.name) == "masked";
    EXPECT_EQ(got.palette != nullptr, indexed);
    // The probe: size only, alpha 0, nothing allocated.
    int32_t w = 0, h = 0, alpha = -1;
    uint32_t transparent = 0;
    EXPECT_EQ(LoadImageFile(Path(std::string(c.name) + ".ilbm").c_str(), nullptr, -1, 0, nullptr, nullptr,
                            &transparent, &w, &h, &alpha),
              0u);
    EXPECT_EQ(w, ref.width);
    EXPECT_EQ(h, ref.height);
    EXPECT_EQ(alpha, 0);
    EXPECT_EQ(transparent, 0xFFFFFFFFu);
  }
}

TEST_F(Ilbm, FailedAllocationsFreeEverything) {
  if (!made_) GTEST_SKIP() << "netpbm or python3-pil is missing";
  for (const char *name : {"colors16.ilbm", "deep_raw.ilbm", "ham6.ilbm"}) {
    for (uint64_t n = 1; n <= 12; n++) {
      SCOPED_TRACE(std::string(name) + " allocation " + std::to_string(n));
      SetMemAllocFailure(n);
      Loaded got;
      LoadFile(Path(name), &got);
      const bool used = MemAllocFailureUsed();
      SetMemAllocFailure(0);
      if (!used) {
        EXPECT_EQ(got.err, 0u);
        break;
      }
      if (got.err) {
        EXPECT_EQ(got.pixels, nullptr);
      }
    }
  }
}

TEST_F(Ilbm, HandMadePictures) {
  const std::vector<uint32_t> grey = {0x000000, 0x555555, 0xAAAAAA, 0xFFFFFF};
  // Extra-half-brite: 6 planes, 32 colours; index 32 + i is colour i at half brightness.
  {
    std::vector<uint32_t> colors(32);
    for (int i = 0; i < 32; i++) colors[i] = uint32_t(i * 8) << 16 | uint32_t(255 - i * 8) << 8 | 0x81;
    Loaded got;
    Load(Form(Bmhd(4, 1, 6, 0, 0) + Chunk("CAMG", Be(0x80, 4)) + Cmap(colors) + PlanarBody({{1, 33, 31, 63}}, 6)),
         &got);
    ASSERT_EQ(got.err, 0u);
    EXPECT_EQ(got.Row(0), (std::vector<uint32_t>{colors[1], (colors[1] >> 1) & 0x7F7F7F, colors[31],
                                                (colors[31] >> 1) & 0x7F7F7F}));
  }
  // HAM6: a row that begins with a modify code starts from black; every row starts afresh.
  {
    Loaded got;
    Load(Form(Bmhd(4, 2, 6, 0, 0) + Chunk("CAMG", Be(0x800, 4)) + Cmap(grey) +
              PlanarBody({{0x2F, 0x1A, 0x3C, 2}, {0x15, 1, 0x25, 0x33}}, 6)),
         &got);
    ASSERT_EQ(got.err, 0u);
    EXPECT_EQ(got.Row(0), (std::vector<uint32_t>{0xF00000, 0xF000A0, 0xF0C0A0, 0xAAAAAA}));
    EXPECT_EQ(got.Row(1), (std::vector<uint32_t>{0x000050, 0x555555, 0x505555, 0x503055}));
    EXPECT_EQ(got.palette, nullptr);
  }
  // CMAP after BODY is found; the chunk search does not trust chunk sizes.
  {
    Loaded got;
    Load(Form(Bmhd(3, 1, 2, 0, 0) + PlanarBody({{3, 2, 1}}, 2) + Cmap(grey)), &got);
    ASSERT_EQ(got.err, 0u);
    EXPECT_EQ(got.Row(0), (std::vector<uint32_t>{0xFFFFFF, 0xAAAAAA, 0x555555}));
  }
  // One plane with a pen: the set pixels take the pen, colour 0 is reported as transparent.
  {
    Loaded got;
    Load(Form(Bmhd(3, 1, 1, 0, 0) + Cmap({0x102030, 0x405060}) + PlanarBody({{1, 0, 1}}, 1)), &got, nullptr,
         0xFF8800);
    ASSERT_EQ(got.err, 0u);
    EXPECT_EQ(got.Row(0), (std::vector<uint32_t>{0xFF8800, 0x102030, 0xFF8800}));
    EXPECT_EQ(got.transparent, 0x102030u);
  }
  // Masking 2 with unique transparency: the transparent index gets a colour no entry has.
  {
    std::vector<uint32_t> colors = {0xA8A8A8, 0xA8A8B7, 0x123456, 0xA8A8C6};
    Loaded got;
    Load(Form(Bmhd(3, 1, 2, 2, 0, 2) + Cmap(colors) + PlanarBody({{2, 1, 0}}, 2)), &got, nullptr, -1, 1);
    ASSERT_EQ(got.err, 0u);
    EXPECT_EQ(got.transparent, 0xA8A8D5u);
    EXPECT_EQ(got.Row(0), (std::vector<uint32_t>{0xA8A8D5, 0xA8A8B7, 0xA8A8A8}));
    // Without the flag it is an ordinary colour.
    Loaded plain;
    Load(Form(Bmhd(3, 1, 2, 2, 0, 2) + Cmap(colors) + PlanarBody({{2, 1, 0}}, 2)), &plain);
    EXPECT_EQ(plain.transparent, 0xFFFFFFFFu);
    EXPECT_EQ(plain.Row(0)[0], 0x123456u);
  }
  // The caller's palette gives the first colours; the file fills in the rest of its array.
  {
    uint32_t palette[256];
    palette[0] = 0x111111;
    palette[1] = 0xFFFFFFFF;
    Loaded got;
    Load(Form(Bmhd(3, 1, 2, 0, 0) + Cmap(grey) + PlanarBody({{0, 1, 3}}, 2)), &got, palette);
    ASSERT_EQ(got.err, 0u);
    EXPECT_EQ(got.Row(0), (std::vector<uint32_t>{0x111111, 0x555555, 0xFFFFFF}));
    EXPECT_EQ(palette[1], 0x555555u);
    EXPECT_EQ(got.transparent, 0xFFFFFFFFu);
  }
}

TEST_F(Ilbm, BrokenFilesGiveTheirError) {
  const std::vector<uint32_t> grey = {0x000000, 0x555555, 0xAAAAAA, 0xFFFFFF};
  std::vector<uint32_t> tooMany(300, 0x123456);
  struct Case {
    const char *name;
    std::string bytes;
    uint32_t err;
  } cases[] = {
      {"no CMAP", Form(Bmhd(3, 1, 2, 0, 0) + PlanarBody({{3, 2, 1}}, 2)), ERR_LOADPICTURE2},
      {"no BODY", Form(Bmhd(3, 1, 2, 0, 0) + Cmap(grey)), ERR_LOADPICTURE2},
      {"no BMHD", Form(Cmap(grey) + PlanarBody({{3, 2, 1}}, 2)), ERR_LOADPICTURE2},
      {"negative width", Form(Bmhd(0xFFF0, 1, 2, 0, 0) + Cmap(grey) + PlanarBody({{3}}, 2)), ERR_LOADPICTURE2},
      {"zero height", Form(Bmhd(3, 0, 2, 0, 0) + Cmap(grey) + PlanarBody({{3}}, 2)), ERR_LOADPICTURE2},
      {"12 planes", Form(Bmhd(3, 1, 12, 0, 0) + Cmap(grey) + PlanarBody({{3}}, 12)), ERR_LOADPICTURE2},
      {"body shorter than its rows", Form(Bmhd(3, 4, 2, 0, 0) + Cmap(grey) + PlanarBody({{3, 2, 1}}, 2)),
       ERR_LOADPICTURE2},
      {"packed body that ends early",
       Form(Bmhd(16, 2, 2, 0, 1) + Cmap(grey) + Chunk("BODY", std::string("\x01\xFF\xFF\xFF\x00\x01\x7F", 7))),
       ERR_LOADPICTURE2},
      {"32767 x 32767 in a small file", Form(Bmhd(32767, 32767, 24, 0, 1) + Chunk("BODY", std::string(64, '\x80'))),
       ERR_LOADPICTURE2},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Loaded got;
    Load(c.bytes, &got);
    EXPECT_EQ(got.err, c.err);
    EXPECT_EQ(got.pixels, nullptr);
    EXPECT_EQ(got.palette, nullptr);
  }
  // Colours past 256 in CMAP and a transparent index past the palette are left alone.
  Loaded got;
  Load(Form(Bmhd(2, 1, 1, 2, 0, 300) + Cmap(tooMany) + PlanarBody({{1, 0}}, 1)), &got, nullptr, -1, 1);
  ASSERT_EQ(got.err, 0u);
  EXPECT_EQ(got.Row(0), (std::vector<uint32_t>{0x123456, 0x123456}));
  // Runs that pass a row's end are cut there.
  Loaded runs;
  Load(Form(Bmhd(16, 2, 1, 0, 1) + Cmap(grey) + Chunk("BODY", std::string("\xFC\xFF\x02\x80\x01\x00", 6))), &runs);
  ASSERT_EQ(runs.err, 0u);
  EXPECT_EQ(runs.Row(0), std::vector<uint32_t>(16, 0x555555));
  EXPECT_EQ(runs.Row(1)[0], 0x555555u);
  EXPECT_EQ(runs.Row(1)[1], 0u);
}

TEST_F(Ilbm, WriterOutputReadsBack) {
  // A 1 x 1 picture: rows of 2 bytes per plane, and both sizes patched.
  const uint32_t one = 0x80C0FF10;
  ASSERT_EQ(SaveILBM(Path("one.ilbm").c_str(), &one, 1, 1), 0u);
  const std::string b = ReadWholeFile(Path("one.ilbm"));
  ASSERT_GE(b.size(), 48u);
  EXPECT_EQ(b.substr(0, 4), "FORM");
  EXPECT_EQ(b.substr(8, 8), "ILBMBMHD");
  const uint32_t bodySize = uint32_t(uint8_t(b[44])) << 24 | uint32_t(uint8_t(b[45])) << 16 |
                            uint32_t(uint8_t(b[46])) << 8 | uint8_t(b[47]);
  const uint32_t formSize = uint32_t(uint8_t(b[4])) << 24 | uint32_t(uint8_t(b[5])) << 16 |
                            uint32_t(uint8_t(b[6])) << 8 | uint8_t(b[7]);
  // A plane row with its bit set is a literal run (3 bytes), a clear one a run of zeros (2):
  // 0xC0FF10 sets 11 bits. The odd total is padded in the file and in the FORM size.
  EXPECT_EQ(bodySize, 11u * 3 + 13u * 2);
  EXPECT_EQ(formSize, 40 + bodySize + 1);
  EXPECT_EQ(b.size(), 48 + bodySize + 1);
  Loaded back;
  LoadFile(Path("one.ilbm"), &back);
  ASSERT_EQ(back.err, 0u);
  EXPECT_EQ(back.Row(0)[0], one & 0xFFFFFF);

  if (!HasCommand("ilbmtoppm")) GTEST_SKIP() << "netpbm is missing";
  // Widths around the 128-byte run limit and runs of every length.
  for (int32_t width : {5, 17, 1024, 1100}) {
    SCOPED_TRACE(width);
    const int32_t height = 7;
    std::vector<uint32_t> pixels(size_t(width) * height);
    for (int32_t y = 0; y < height; y++)
      for (int32_t x = 0; x < width; x++)
        pixels[size_t(y) * width + x] = uint32_t((x / (y + 1)) * 37 & 255) << 16 | uint32_t(y * 40) << 8 |
                                        uint32_t(x < width / 2 ? 0x5A : (x * 13) & 255) | 0x7F000000u;
    ASSERT_EQ(SaveILBM(Path("saved.ilbm").c_str(), pixels.data(), width, height), 0u);
    PeerPicture ref;
    ASSERT_TRUE(PeerDecode(Path("saved.ilbm"), Path("saved.ref"), &ref));
    for (auto &p : pixels) p &= 0xFFFFFF;
    EXPECT_TRUE(SamePixels(pixels.data(), width, height, ref));
    Loaded ours;
    LoadFile(Path("saved.ilbm"), &ours);
    ASSERT_EQ(ours.err, 0u);
    EXPECT_EQ(std::vector<uint32_t>(ours.pixels, ours.pixels + pixels.size()), pixels);
  }
  EXPECT_EQ(SaveILBM((dir_->path() + "/none/x.ilbm").c_str(), &one, 1, 1), ERR_WRITEFILE);
}

}  // namespace

// The image loader with its PNG and BMP readers, against pictures made and decoded by PIL and
// netpbm, real pictures from Debian packages, and broken files.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "media/image/imageload.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "tests/media/image/image_test_util.h"

namespace {

class ImageLoad : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    fixturesMade_ = RunPeer("fixtures " + dir_->path()) == 0 && RunPeer("codecs " + dir_->path()) == 0;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!fixturesMade_) GTEST_SKIP() << "the picture peer (python3-pil, netpbm) is missing";
  }
  static std::string Path(const std::string &name) { return *dir_ / name; }

  struct Loaded {
    uint32_t err = 0;
    uint32_t *pixels = nullptr;
    int32_t width = -1, height = -1, alpha = -1;
    ~Loaded() { MemFree(pixels); }
  };
  static void Load(const std::string &path, Loaded *out) {
    out->err = LoadImageFile(path.c_str(), nullptr, -1, 0, &out->pixels, nullptr, nullptr, &out->width,
                             &out->height, &out->alpha);
  }
  static uint32_t Probe(const std::string &path, int32_t *w, int32_t *h, int32_t *alpha) {
    return LoadImageFile(path.c_str(), nullptr, -1, 0, nullptr, nullptr, nullptr, w, h, alpha);
  }

  static TempDir *dir_;
  static bool fixturesMade_;
};
TempDir *ImageLoad::dir_ = nullptr;
bool ImageLoad::fixturesMade_ = false;

TEST_F(ImageLoad, FixturesMatchTheEncodedPixels) {
  const char *names[] = {"rgb8.png",    "rgb8_interlaced.png", "rgba8.png",  "rgba8_interlaced.png",
                         "palette8.png", "palette4.png",        "palette_trns.png", "grey8.png",
                         "grey1.png",    "grey_alpha.png",      "grey16.png", "bmp1.bmp",
                         "bmp4.bmp",     "bmp8.bmp",            "bmp24.bmp",  "pil_p8.bmp"};
  for (const char *name : names) {
    SCOPED_TRACE(name);
    std::string base = Path(name);
    PeerPicture ref;
    ASSERT_TRUE(ReadReference(base.substr(0, base.rfind('.')) + ".ref", &ref));
    Loaded got;
    Load(base, &got);
    ASSERT_EQ(got.err, 0u);
    EXPECT_EQ(got.alpha, ref.alpha);
    EXPECT_TRUE(SamePixels(got.pixels, got.width, got.height, ref));
    // The probe tells the same without a picture.
    int32_t w = 0, h = 0, alpha = -1;
    ASSERT_EQ(Probe(base, &w, &h, &alpha), 0u);
    EXPECT_EQ(w, ref.width);
    EXPECT_EQ(h, ref.height);
    EXPECT_EQ(alpha, ref.alpha);
  }
}

// JPEG (JFIF and Exif), TIFF of both byte orders and GIF go to the platform's decoder.
TEST_F(ImageLoad, SystemFormatsComeThroughThePlatformDecoder) {
  // PIL writes JFIF; an Exif head is the same picture behind an APP1 segment.
  std::string jpeg = ReadWholeFile(Path("progressive.jpg"));
  std::string exif = jpeg.substr(0, 2) + std::string("\xFF\xE1\x00\x08" "Exif\x00\x00", 10) + jpeg.substr(2);
  WriteFile(Path("exif.jpg"), exif);
  std::rename(Path("progressive.ref").c_str(), Path("exif.ref").c_str());
  struct Case {
    const char *name;
    int minAlpha;
  } cases[] = {{"rgb.jpg", 0}, {"exif.jpg", 0}, {"rgb_lzw.tif", 0}, {"bigendian.tif", 0}, {"transparent.gif", 1}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::string base = Path(c.name);
    PeerPicture ref;
    ASSERT_TRUE(ReadReference(base.substr(0, base.rfind('.')) + ".ref", &ref));
    Loaded got;
    Load(base, &got);
    ASSERT_EQ(got.err, 0u);
    EXPECT_EQ(got.alpha, ref.alpha);
    EXPECT_TRUE(SamePixels(got.pixels, got.width, got.height, ref, 0, c.minAlpha));
  }
}

// Real pictures: libpng's own test image and the icons of the Adwaita theme, decoded by PIL.
TEST_F(ImageLoad, RealPngFilesMatchPil) {
  std::vector<std::string> files;
  if (std::filesystem::exists("/usr/share/doc/libpng-dev/examples/pngtest.png"))
    files.push_back("/usr/share/doc/libpng-dev/examples/pngtest.png");
  std::error_code ec;
  for (const char *root : {"/usr/share/icons/Adwaita/96x96/status", "/usr/share/icons/Adwaita/16x16/legacy"}) {
    int n = 0;
    for (auto it = std::filesystem::directory_iterator(root, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec))
      if (it->path().extension() == ".png" && n++ < 12) files.push_back(it->path().string());
  }
  if (files.empty()) GTEST_SKIP() << "no PNG files from Debian packages";
  for (const auto &file : files) {
    SCOPED_TRACE(file);
    PeerPicture ref;
    ASSERT_TRUE(PeerDecode(file, Path("real.ref"), &ref));
    Loaded got;
    Load(file, &got);
    ASSERT_EQ(got.err, 0u);
    EXPECT_EQ(got.alpha, ref.alpha);
    EXPECT_TRUE(SamePixels(got.pixels, got.width, got.height, ref));
  }
}

TEST_F(ImageLoad, HeadChoosesTheReader) {
  struct Case {
    const char *name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"gif8", "GIF8"},
      {"anim", std::string("FORM\0\0\0\x20" "ANIMFORM", 16) + std::string(24, '\0')},
      {"8svx", std::string("FORM\0\0\0\x04" "8SVX", 12)},
      {"jpeg without JFIF or Exif", std::string("\xFF\xD8\xFF\xDB\x00\x43\x00\x01\x02\x03", 10) + std::string(80, 'x')},
      {"text", "hello, this is no picture at all"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(Path("head"), c.bytes);
    Loaded got;
    Load(Path("head"), &got);
    EXPECT_EQ(got.err, ERR_LOADPICTURE2);
    EXPECT_EQ(got.pixels, nullptr);
    EXPECT_EQ(got.width, -1);
  }
  Loaded missing;
  Load(Path("no such picture.png"), &missing);
  EXPECT_EQ(missing.err, ERR_READFILE);
  char message[kErrorMessageSize];
  EXPECT_STREQ(FormatErrorMessage(ERR_READFILE, message, sizeof message), "Cannot read file no such picture.png !");
}

// A BMP of the 54-byte header, then the given colour table and pixel data.
std::string Bmp(int32_t width, int32_t height, int bpp, int compression, const std::string &table,
                const std::string &data, uint32_t colorsUsed = 0) {
  std::string b(54, '\0');
  auto put = [&b](size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; i++) b[at + i] = char(v >> (8 * i));
  };
  b[0] = 'B';
  b[1] = 'M';
  put(2, uint32_t(54 + table.size() + data.size()), 4);
  put(10, uint32_t(54 + table.size()), 4);
  put(14, 40, 4);
  put(18, uint32_t(width), 4);
  put(22, uint32_t(height), 4);
  put(26, 1, 2);
  put(28, uint32_t(bpp), 2);
  put(30, uint32_t(compression), 4);
  put(46, colorsUsed, 4);
  return b + table + data;
}

const std::string kGreyTable = [] {
  std::string t;
  for (int i = 0; i < 256; i++) t += std::string{char(i), char(i), char(i), 0};
  return t;
}();

TEST_F(ImageLoad, Rle8FollowsThePublishedRules) {
  struct Case {
    const char *name;
    std::string rle;
    std::vector<uint32_t> top, bottom;  // 4 x 2 picture: the top row, the bottom row (file's first)
  } cases[] = {
      {"runs and end of line", std::string("\x02\x10\x02\x20\x00\x00\x04\x30\x00\x01", 10),
       {0x303030, 0x303030, 0x303030, 0x303030}, {0x101010, 0x101010, 0x202020, 0x202020}},
      {"end of picture after the first row", std::string("\x04\x40\x00\x00\x00\x01", 6),
       {0, 0, 0, 0}, {0x404040, 0x404040, 0x404040, 0x404040}},
      {"the last row ends with end of picture", std::string("\x04\x40\x00\x00\x04\x50\x00\x01", 8),
       {0x505050, 0x505050, 0x505050, 0x505050}, {0x404040, 0x404040, 0x404040, 0x404040}},
      {"a run past the line's end is cut", std::string("\xFF\x60\x00\x00\x01\x70\x00\x01", 8),
       {0x707070, 0, 0, 0}, {0x606060, 0x606060, 0x606060, 0x606060}},
      {"literal bytes with a pad byte", std::string("\x00\x03\x01\x02\x03\x00\x00\x01", 8),
       {0, 0, 0, 0}, {0x010101, 0x020202, 0x030303, 0}},
      {"a move right and up", std::string("\x00\x02\x02\x01\x01\x80\x00\x01", 8),
       {0, 0, 0x808080, 0}, {0, 0, 0, 0}},
      {"a move out of the picture", std::string("\x00\x02\xFF\xFF\x01\x80\x00\x01", 8),
       {0, 0, 0, 0}, {0, 0, 0, 0}},
      {"no data at all", "", {0, 0, 0, 0}, {0, 0, 0, 0}},
      {"data that stops mid-command", std::string("\x02\x10\x00\x03\x01", 5),
       {0, 0, 0, 0}, {0x101010, 0x101010, 0, 0}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(Path("rle.bmp"), Bmp(4, 2, 8, 1, kGreyTable, c.rle));
    Loaded got;
    Load(Path("rle.bmp"), &got);
    ASSERT_EQ(got.err, 0u);
    ASSERT_EQ(got.width, 4);
    EXPECT_EQ(std::vector<uint32_t>(got.pixels, got.pixels + 4), c.top);
    EXPECT_EQ(std::vector<uint32_t>(got.pixels + 4, got.pixels + 8), c.bottom);
  }
  // PIL reads the same RLE picture the same way.
  std::string rle("\x03\x05\x01\x09\x00\x00\x00\x04\x01\x02\x03\x04\x00\x00\x00\x01", 16);
  WriteFile(Path("rle.bmp"), Bmp(4, 2, 8, 1, kGreyTable, rle));
  PeerPicture ref;
  ASSERT_TRUE(PeerDecode(Path("rle.bmp"), Path("rle.ref"), &ref));
  Loaded got;
  Load(Path("rle.bmp"), &got);
  ASSERT_EQ(got.err, 0u);
  EXPECT_TRUE(SamePixels(got.pixels, got.width, got.height, ref));
}

TEST_F(ImageLoad, BrokenFilesGiveTheirErrorWithoutAPicture) {
  const std::string png = ReadWholeFile(Path("rgba8_interlaced.png"));
  const std::string row24(12, '\x7F');
  std::string hugePng = ReadWholeFile(Path("rgb8.png"));
  hugePng.replace(16, 8, std::string("\x00\x00\x7F\xFF\x00\x00\x7F\xFF", 8));  // IHDR 32767 x 32767, bad CRC
  struct Case {
    const char *name;
    std::string bytes;
    uint32_t err;
  } cases[] = {
      {"png cut in its header", png.substr(0, 20), ERR_LOADPICTURE2},
      {"png cut in its data", png.substr(0, png.size() / 2), ERR_LOADPICTURE2},
      {"png without its end", png.substr(0, png.size() - 12), ERR_LOADPICTURE2},
      {"png with a broken IHDR", hugePng, ERR_LOADPICTURE2},
      {"bmp with a negative height", Bmp(4, -1, 24, 0, "", row24), ERR_LOADPICTURE2},
      {"bmp with a zero width", Bmp(0, 1, 24, 0, "", row24), ERR_LOADPICTURE2},
      {"bmp cut in its pixels", Bmp(4, 3, 24, 0, "", row24), ERR_LOADPICTURE2},
      {"bmp of 32 bits", Bmp(3, 1, 32, 0, "", row24), ERR_LOADPICTURE2},
      {"bmp of RLE4", Bmp(4, 1, 4, 2, kGreyTable.substr(0, 64), "\x04\x12\x00\x01"), ERR_LOADPICTURE2},
      {"bmp of 30000 x 30000 in 60 bytes", Bmp(30000, 30000, 8, 1, "", "\x00\x01"), ERR_LOADPICTURE2},
      {"bmp wider than any picture", Bmp(1 << 29, 1, 8, 0, "", std::string(40000, '\0')), ERR_MEM},
      {"bmp with a pixel offset past the end", Bmp(1, 1, 24, 0, "", "") + std::string(4, '\0'), ERR_LOADPICTURE2},
  };
  // A pixel offset beyond the file.
  cases[11].bytes[10] = char(0xF0);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(Path("broken"), c.bytes);
    Loaded got;
    Load(Path("broken"), &got);
    EXPECT_EQ(got.err, c.err);
    EXPECT_EQ(got.pixels, nullptr);
    EXPECT_EQ(got.width, -1);
  }
}

// A text chunk that claims 2 GB in a file of a hundred bytes is refused before anything of its
// size is allocated: the child that loads it stays far below that at its peak.
TEST_F(ImageLoad, AChunkLongerThanItsFileTakesNoMemory) {
  std::string bytes = ReadWholeFile(Path("rgb8.png")).substr(0, 33);  // signature and IHDR
  bytes += std::string("\x7F\xFF\xFF\xFFtEXtComment\0", 16) + std::string(64, 'x');
  WriteFile(Path("longchunk.png"), bytes);
  long pageKb = sysconf(_SC_PAGESIZE) / 1024, pages = 0, resident = 0;
  if (FILE *f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Loaded got;
    Load(Path("longchunk.png"), &got);
    _exit(got.err == ERR_LOADPICTURE2 && got.pixels == nullptr ? 0 : 1);
  }
  int status = 0;
  rusage use{};
  ASSERT_EQ(wait4(child, &status, 0, &use), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_LT(use.ru_maxrss - resident * pageKb, 512L << 10);  // kilobytes
}

TEST_F(ImageLoad, FailedAllocationsFreeEverything) {
  for (const char *name : {"rgba8_interlaced.png", "rgb8.png", "bmp8.bmp", "bmp24.bmp"}) {
    for (uint64_t n = 1; n <= 8; n++) {
      SCOPED_TRACE(std::string(name) + " allocation " + std::to_string(n));
      SetMemAllocFailure(n);
      Loaded got;
      Load(Path(name), &got);
      const bool used = MemAllocFailureUsed();
      SetMemAllocFailure(0);
      if (!used) {
        EXPECT_EQ(got.err, 0u);
        break;
      }
      // Opening a file allocates too: its failure is a file that cannot be read, and some
      // allocations of the file layer fall back to another way.
      if (got.err) {
        EXPECT_TRUE(got.err == ERR_MEM || got.err == ERR_READFILE || got.err == ERR_LOADPICTURE2) << got.err;
        EXPECT_EQ(got.pixels, nullptr);
      }
    }
  }
}

}  // namespace

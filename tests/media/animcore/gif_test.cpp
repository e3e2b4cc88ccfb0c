// The GIF reader against PIL's composed frames (real emotes and PIL-written files), random
// access, hostile files; the GIF writer's layout and its frames decoded by PIL.
#include "media/animcore/gif.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "media/image/imagewriter.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "tests/media/animcore/anim_test_util.h"

namespace {

constexpr const char *kEmotes = "/usr/share/pixmaps/pidgin/emotes/QIP-pidgin";

std::vector<uint32_t> Frame(qmGifReader *r, int32_t index) {
  uint32_t *p = GifLoadFrame(r, index);
  if (!p) return {};
  std::vector<uint32_t> v(p, p + size_t(r->width) * r->height);
  MemFree(p);
  return v;
}

std::vector<std::vector<uint32_t>> AllFrames(qmGifReader *r) {
  std::vector<std::vector<uint32_t>> out;
  for (int32_t i = 0; i < r->frameCount; i++) out.push_back(Frame(r, i));
  return out;
}

bool PeerReady() { return std::system((std::string(kPeerPython) + " -c 'import PIL' 2>/dev/null").c_str()) == 0; }

class GifReader : public ::testing::Test {
 protected:
  std::string Path(const std::string &name) { return dir_ / name; }
  TempDir dir_;
};

TEST_F(GifReader, RealEmotesMatchPeerFrameByFrame) {
  if (!std::filesystem::is_directory(kEmotes)) GTEST_SKIP() << "pidgin-themes is not installed";
  if (!PeerReady()) GTEST_SKIP() << "python3-pil is missing";
  std::vector<std::string> files;
  for (const auto &e : std::filesystem::directory_iterator(kEmotes))
    if (e.path().extension() == ".gif") files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  std::string args = "gif-frames '" + dir_.path() + "'";
  for (const auto &f : files) args += " '" + f + "'";
  ASSERT_EQ(RunAnimPeer(args), 0);
  int64_t frames = 0;
  for (const auto &f : files) {
    SCOPED_TRACE(f);
    PeerFrames ref;
    ASSERT_TRUE(ReadFrames(Path(std::filesystem::path(f).stem().string() + ".frames"), &ref));
    int32_t w = 0, h = 0, n = 0;
    qmGifReader *r = GifOpen(f.c_str(), &w, &h, &n, 0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(w, ref.width);
    EXPECT_EQ(h, ref.height);
    ASSERT_EQ(size_t(n), ref.rgba.size());
    for (int32_t i = 0; i < n; i++) {
      std::vector<uint32_t> p = Frame(r, i);
      ASSERT_FALSE(p.empty()) << i;
      EXPECT_TRUE(SameOpaquePixels(p.data(), ref, size_t(i)));
      frames++;
    }
    GifCloseReader(r);
  }
  EXPECT_GT(frames, 2000);  // the theme's 99 files hold about 2600 frames
}

TEST_F(GifReader, PeerWrittenGifsAndTheirKeyFrames) {
  if (!PeerReady()) GTEST_SKIP() << "python3-pil is missing";
  ASSERT_EQ(RunAnimPeer("gifs '" + dir_.path() + "'"), 0);
  struct Case {
    const char *name;
    int32_t keyFrames;  // PIL writes whole opaque frames, or changed rectangles after the first
    uint32_t delay1;    // ms
  } cases[] = {{"full", 8, 30}, {"boxes", 1, 40}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    PeerFrames ref;
    ASSERT_TRUE(ReadFrames(Path(std::string(c.name) + ".frames"), &ref));
    int32_t w, h, n;
    qmGifReader *r = GifOpen(Path(std::string(c.name) + ".gif").c_str(), &w, &h, &n, 0);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(size_t(n), ref.rgba.size());
    int32_t keys = 0;
    for (int32_t i = 0; i < n; i++) keys += r->frames[i].keyFrame;
    EXPECT_EQ(keys, c.keyFrames);
    EXPECT_EQ(GifGetFrameDelay(r, 1), c.delay1);
    EXPECT_EQ(GifGetFrameDelay(r, n), 0u);
    for (int32_t i = 0; i < n; i++) {
      std::vector<uint32_t> p = Frame(r, i);
      ASSERT_FALSE(p.empty());
      EXPECT_TRUE(SameOpaquePixels(p.data(), ref, size_t(i)));
    }
    GifCloseReader(r);
  }
}

TEST_F(GifReader, RandomAccessEqualsSequential) {
  if (!PeerReady()) GTEST_SKIP() << "python3-pil is missing";
  ASSERT_EQ(RunAnimPeer("gifs '" + dir_.path() + "'"), 0);
  std::vector<std::string> files = {Path("full.gif"), Path("boxes.gif")};
  // Disposal 2, disposal 3 twice, and a long one of disposals 1 and 2.
  for (const char *name : {"aa.gif", "ab.gif", "af.gif", "bj.gif"})
    if (std::filesystem::exists(std::string(kEmotes) + "/" + name)) files.push_back(std::string(kEmotes) + "/" + name);
  for (const auto &f : files) {
    SCOPED_TRACE(f);
    int32_t w, h, n;
    qmGifReader *r = GifOpen(f.c_str(), &w, &h, &n, 0);
    ASSERT_NE(r, nullptr);
    ASSERT_GE(n, 6);
    const auto sequential = AllFrames(r);
    const std::vector<int32_t> order = {5, 3, n - 1, 0, n - 1, n - 2, 1, 1, 4};
    for (int32_t i : order) EXPECT_EQ(Frame(r, i), sequential[size_t(i)]) << "frame " << i;
    for (int32_t i = n - 1; i >= 0; i--) EXPECT_EQ(Frame(r, i), sequential[size_t(i)]) << "frame " << i;
    EXPECT_EQ(GifLoadFrame(r, n), nullptr);
    EXPECT_EQ(GifLoadFrame(r, -1), nullptr);
    GifCloseReader(r);
  }
}

TEST_F(GifReader, HandMadeFiles) {
  if (!PeerReady()) GTEST_SKIP() << "python3-pil is missing";
  ASSERT_EQ(RunAnimPeer("hostile '" + dir_.path() + "'"), 0);
  const uint32_t black = 0, white = 0xFFFFFF, red = 0xFF0000, blue = 0x0000FF;
  const uint32_t colours[4] = {black, white, red, blue};
  // Files that must not open at all; a FIFO without a writer must not hold the reader up.
  ASSERT_EQ(mkfifo(Path("fifo.gif").c_str(), 0600), 0);
  for (const char *name :
       {"badcode", "rootless", "shortdata", "bigmincode", "truncated", "noframes", "zeroscreen", "missing", "fifo"}) {
    SCOPED_TRACE(name);
    int32_t w = -1, h = -1, n = -1;
    EXPECT_EQ(GifOpen(Path(std::string(name) + ".gif").c_str(), &w, &h, &n, 0), nullptr);
    EXPECT_EQ(n, 0);
  }
  struct Case {
    const char *name;
    int32_t frames;
    std::vector<uint32_t> last;  // the last frame, 4 x 4
  } cases[] = {
      // A frame hanging over the screen's corner paints the part on the screen only.
      {"oversize", 2, {black, black, black, black, black, black, black, black,
                       black, black, colours[0], colours[1], black, black, colours[1], colours[2]}},
      {"offscreen", 2, std::vector<uint32_t>(16, white)},
      {"emptyframe", 2, std::vector<uint32_t>(16, white)},
      {"three", 3, std::vector<uint32_t>(16, blue)},
      {"overlong", 2, std::vector<uint32_t>(16, red)},
      {"dispose2", 2, {blue, red, red, red, red, red, red, red, red, red, red, red, red, red, red, red}},
      {"dispose3", 3, {blue, white, white, white, white, white, white, white, white, white, white, white, white, white,
                       white, white}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    int32_t w, h, n;
    qmGifReader *r = GifOpen(Path(std::string(c.name) + ".gif").c_str(), &w, &h, &n, 0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(w, 4);
    EXPECT_EQ(h, 4);
    EXPECT_EQ(n, c.frames);
    EXPECT_EQ(Frame(r, n - 1), c.last);
    GifCloseReader(r);
  }
  // Only a frame at the screen's origin can be a key frame: frame 1 of "shifted" leaves column
  // 0 as frame 0 painted it, whatever was loaded before.
  {
    int32_t w, h, n;
    qmGifReader *r = GifOpen(Path("shifted.gif").c_str(), &w, &h, &n, 0);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(n, 3);
    EXPECT_EQ(r->frames[0].keyFrame, 1);
    EXPECT_EQ(r->frames[1].keyFrame, 0);
    std::vector<uint32_t> one(16, red);
    for (int32_t y = 0; y < 4; y++) one[size_t(y) * 4] = white;
    EXPECT_EQ(Frame(r, 2)[0], blue);
    EXPECT_EQ(Frame(r, 1), one);
    GifCloseReader(r);
  }
  // The size alone, without a reader.
  int32_t w = 0, h = 0, n = 0;
  EXPECT_EQ(GifOpen(Path("three.gif").c_str(), &w, &h, &n, 1), nullptr);
  EXPECT_EQ(w, 4);
  EXPECT_EQ(h, 4);
}

TEST_F(GifReader, AFailedLoadStartsOverAtTheNext) {
  if (!PeerReady()) GTEST_SKIP() << "python3-pil is missing";
  ASSERT_EQ(RunAnimPeer("hostile '" + dir_.path() + "'"), 0);
  int32_t w, h, n;
  qmGifReader *r = GifOpen(Path("three.gif").c_str(), &w, &h, &n, 0);
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(n, 3);
  EXPECT_EQ(Frame(r, 0), std::vector<uint32_t>(16, 0xFFFFFF));
  // Frame 1 fails half-way (its decoding tables cannot be had): the file stands inside it.
  SetMemAllocFailure(1);
  EXPECT_EQ(GifLoadFrame(r, 1), nullptr);
  EXPECT_TRUE(MemAllocFailureUsed());
  SetMemAllocFailure(0);
  EXPECT_EQ(Frame(r, 1), std::vector<uint32_t>(16, 0xFF0000));
  EXPECT_EQ(Frame(r, 2), std::vector<uint32_t>(16, 0x0000FF));
  GifCloseReader(r);
}

// ---- Writer ----

// The blocks of a GIF as the format lays them out, read independently of our reader.
struct GifLayout {
  std::vector<uint8_t> controls;  // packed byte of each control extension
  std::vector<uint32_t> delays;   // hundredths
  std::vector<uint8_t> transparent;
  struct Image {
    int32_t left, top, width, height, tableSize, minCode;
    std::vector<uint32_t> table;
  };
  std::vector<Image> images;
  bool loop = false;
  bool trailer = false;
};

bool ParseGif(const std::string &b, GifLayout *out) {
  if (b.size() < 13 + 768 || b.compare(0, 6, "GIF89a")) return false;
  auto u8 = [&](size_t i) { return uint8_t(b[i]); };
  auto u16 = [&](size_t i) { return uint32_t(u8(i)) | uint32_t(u8(i + 1)) << 8; };
  size_t p = 13 + 768;
  auto skipBlocks = [&] {
    while (p < b.size() && u8(p)) p += 1 + u8(p);
    p++;
  };
  while (p < b.size()) {
    const uint8_t c = u8(p++);
    if (c == 0x3B) {
      out->trailer = p == b.size();
      return true;
    }
    if (c == 0x21 && u8(p) == 0xF9) {
      out->controls.push_back(u8(p + 2));
      out->delays.push_back(u16(p + 3));
      out->transparent.push_back(u8(p + 5));
      p += 1;
      skipBlocks();
    } else if (c == 0x21 && u8(p) == 0xFF) {
      out->loop = b.compare(p + 2, 11, "NETSCAPE2.0") == 0 && u16(p + 15) == 0;
      p += 1;
      skipBlocks();
    } else if (c == 0x2C) {
      GifLayout::Image im{int32_t(u16(p)), int32_t(u16(p + 2)), int32_t(u16(p + 4)), int32_t(u16(p + 6)), 0, 0, {}};
      const uint8_t packed = u8(p + 8);
      p += 9;
      if (!(packed & 0x80)) return false;
      im.tableSize = 2 << (packed & 7);
      for (int32_t i = 0; i < im.tableSize; i++, p += 3)
        im.table.push_back(uint32_t(u8(p)) << 16 | uint32_t(u8(p + 1)) << 8 | u8(p + 2));
      im.minCode = u8(p++);
      skipBlocks();
      out->images.push_back(im);
    } else {
      return false;
    }
  }
  return false;
}

class GifWriter : public GifReader {
 protected:
  // Writes frames of indices with their palettes; 0 or the first error.
  uint32_t Write(const std::string &name, int32_t w, int32_t h, std::vector<std::vector<uint8_t>> frames,
                 std::vector<std::vector<uint32_t>> palettes, int32_t optimize, int32_t transparentIndex = -1,
                 int32_t delayMs = 40) {
    qmGifWriter *writer = nullptr;
    uint32_t err = GifCreate(Path(name).c_str(), w, h, &writer);
    for (size_t i = 0; !err && i < frames.size(); i++) {
      std::vector<uint32_t> pal = palettes[i];
      const int32_t colours = int32_t(pal.size());
      pal.resize(256, 0x123456);
      err = GifWriteFrame(writer, frames[i].data(), w, h, delayMs, pal.data(), colours, transparentIndex, optimize);
    }
    if (writer) {
      const uint32_t closeErr = GifClose(writer);
      if (!err) err = closeErr;
    }
    return err;
  }
};

TEST_F(GifWriter, LayoutOfAFrame) {
  // Three colours, of which the last is kept for transparency: a table of 4 padded with white.
  const int32_t w = 5, h = 3;
  std::vector<uint8_t> indices(size_t(w) * h);
  for (size_t i = 0; i < indices.size(); i++) indices[i] = uint8_t(i % 2);
  uint32_t palette[256];
  std::fill(palette, palette + 256, 0x777777u);
  palette[0] = 0x102030;
  palette[1] = 0xA0B0C0;
  palette[2] = 0;
  qmGifWriter *writer = nullptr;
  ASSERT_EQ(GifCreate(Path("layout.gif").c_str(), w, h, &writer), 0u);
  ASSERT_EQ(GifWriteFrame(writer, indices.data(), w, h, 95, palette, 3, -1, 1), 0u);
  ASSERT_EQ(GifClose(writer), 0u);
  EXPECT_EQ(palette[2], 0u);
  for (int32_t i = 3; i < 256; i++) ASSERT_EQ(palette[i], 0xFFFFFFFFu) << i;

  const std::string b = ReadWholeFile(Path("layout.gif"));
  EXPECT_EQ(b.substr(6, 7), std::string("\x05\x00\x03\x00\xF7\x00\x00", 7));
  EXPECT_EQ(b.substr(13, 13), std::string("Amiga rules!\0", 13));
  EXPECT_EQ(b.find_first_not_of('\0', 26), 13 + 768u);
  GifLayout g;
  ASSERT_TRUE(ParseGif(b, &g));
  EXPECT_TRUE(g.trailer);
  EXPECT_TRUE(g.loop);
  ASSERT_EQ(g.images.size(), 1u);
  EXPECT_EQ(g.controls[0], 0x05);  // kept from the previous frame, the last entry transparent
  EXPECT_EQ(g.transparent[0], 2);
  EXPECT_EQ(g.delays[0], 9u);      // 95 ms
  const GifLayout::Image &im = g.images[0];
  EXPECT_EQ(im.tableSize, 4);
  EXPECT_EQ(im.table, (std::vector<uint32_t>{0x102030, 0xA0B0C0, 0, 0xFFFFFF}));
  EXPECT_EQ(im.minCode, 2);
  EXPECT_EQ(std::vector<int32_t>({im.left, im.top, im.width, im.height}), std::vector<int32_t>({0, 0, w, h}));

  if (!PeerReady()) GTEST_SKIP() << "python3-pil is missing";
  ASSERT_EQ(RunAnimPeer("gif-frames '" + dir_.path() + "' '" + Path("layout.gif") + "'"), 0);
  PeerFrames ref;
  ASSERT_TRUE(ReadFrames(Path("layout.frames"), &ref));
  std::vector<uint32_t> expect(indices.size());
  for (size_t i = 0; i < expect.size(); i++) expect[i] = palette[indices[i]];
  EXPECT_TRUE(SameOpaquePixels(expect.data(), ref, 0));
}

// Frames whose colours come from changing palettes, decoded by PIL and by our reader: both
// must show exactly the colours written, on every pixel, optimised or not.
TEST_F(GifWriter, FramesDecodeExactly) {
  if (!PeerReady()) GTEST_SKIP() << "python3-pil is missing";
  const int32_t w = 160, h = 97;
  const size_t n = size_t(w) * h;
  uint32_t seed = 12345;
  auto rnd = [&] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  std::vector<std::vector<uint8_t>> frames;
  std::vector<std::vector<uint32_t>> palettes;
  // 255 colours of which the last, unused, is the transparent entry; the palette turns round.
  auto makePalette = [](int32_t shift, int32_t colours) {
    std::vector<uint32_t> p(static_cast<size_t>(colours));
    for (int32_t i = 0; i < colours - 1; i++) p[size_t(i)] = uint32_t((i + shift) % (colours - 1)) * 0x010305u & 0xFFFFFF;
    p[size_t(colours - 1)] = 0xFEFEFE;
    return p;
  };
  std::vector<uint8_t> f(n);
  for (auto &v : f) v = uint8_t(rnd() % 254);  // noise: the code table fills and clears often
  frames.push_back(f);
  palettes.push_back(makePalette(0, 255));
  // The same colours through a shifted palette, with a box changed.
  std::vector<uint8_t> g(n);
  for (size_t i = 0; i < n; i++) g[i] = uint8_t((f[i] + 254 - 7) % 254);
  for (int32_t y = 20; y < 31; y++)
    for (int32_t x = 40; x < 77; x++) g[size_t(y) * w + x] = uint8_t(rnd() % 254);
  frames.push_back(g);
  palettes.push_back(makePalette(7, 255));
  frames.push_back(g);  // unchanged
  palettes.push_back(makePalette(7, 255));
  // Few colours: a smaller table; one pixel changed in the corner.
  std::vector<uint8_t> s(n);
  for (size_t i = 0; i < n; i++) s[i] = uint8_t(i / w % 5);
  frames.push_back(s);
  palettes.push_back({0x000000, 0x00FF00, 0xFF00FF, 0x123456, 0x654321, 0x0000FF});
  s[n - 1] = 4;
  frames.push_back(s);
  palettes.push_back({0x000000, 0x00FF00, 0xFF00FF, 0x123456, 0x654321, 0x0000FF});

  for (int32_t optimize : {0, 1}) {
    SCOPED_TRACE(optimize);
    const std::string name = optimize ? "opt.gif" : "plain.gif";
    ASSERT_EQ(Write(name, w, h, frames, palettes, optimize), 0u);
    GifLayout layout;
    ASSERT_TRUE(ParseGif(ReadWholeFile(Path(name)), &layout));
    ASSERT_EQ(layout.images.size(), frames.size());
    if (optimize) {
      // The changed box, nothing for the repeated frame, the whole frame for the new palette,
      // and the one pixel.
      auto rect = [&](size_t i) {
        const auto &im = layout.images[i];
        return std::vector<int32_t>{im.left, im.top, im.width, im.height};
      };
      EXPECT_EQ(rect(1), (std::vector<int32_t>{40, 20, 37, 11}));
      EXPECT_EQ(rect(2), (std::vector<int32_t>{0, 0, 2, 1}));
      EXPECT_EQ(rect(3), (std::vector<int32_t>{0, 0, w, h}));
      EXPECT_EQ(rect(4), (std::vector<int32_t>{w - 1, h - 1, 1, 1}));
      EXPECT_EQ(layout.images[3].tableSize, 8);
    }
    ASSERT_EQ(RunAnimPeer("gif-frames '" + dir_.path() + "' '" + Path(name) + "'"), 0);
    PeerFrames ref;
    ASSERT_TRUE(ReadFrames(Path(std::filesystem::path(name).stem().string() + ".frames"), &ref));
    ASSERT_EQ(ref.rgba.size(), frames.size());
    int32_t rw, rh, rn;
    qmGifReader *r = GifOpen(Path(name).c_str(), &rw, &rh, &rn, 0);
    ASSERT_NE(r, nullptr);
    for (size_t i = 0; i < frames.size(); i++) {
      std::vector<uint32_t> expect(n);
      for (size_t k = 0; k < n; k++) expect[k] = palettes[i][frames[i][k]];
      // Every pixel is opaque in the peer's frame.
      const auto *q = reinterpret_cast<const uint8_t *>(ref.rgba[i].data());
      size_t opaque = 0;
      for (size_t k = 0; k < n; k++) opaque += q[4 * k + 3] == 255;
      EXPECT_EQ(opaque, n) << "frame " << i;
      EXPECT_TRUE(SameOpaquePixels(expect.data(), ref, i));
      EXPECT_EQ(Frame(r, int32_t(i)), expect) << "frame " << i;
    }
    GifCloseReader(r);
  }
}

// Pixels left out of a frame's rectangle keep showing the colour they had, whatever the
// palettes do: the next frame's comparison must see those colours, not their old indices.
TEST_F(GifWriter, ChangingPalettesKeepTheComparisonTrue) {
  if (!PeerReady()) GTEST_SKIP() << "python3-pil is missing";
  const uint32_t a = 0xAA0000, b = 0x00BB00, c = 0x0000CC, t = 0x777777;
  const std::vector<std::vector<uint8_t>> frames = {{0, 0, 0, 0}, {1, 1, 1, 0}, {0, 1, 1, 0}};
  const std::vector<std::vector<uint32_t>> palettes = {{a, b, c, t}, {b, a, c, t}, {b, a, c, t}};
  ASSERT_EQ(Write("palettes.gif", 4, 1, frames, palettes, 1), 0u);
  ASSERT_EQ(RunAnimPeer("gif-frames '" + dir_.path() + "' '" + Path("palettes.gif") + "'"), 0);
  PeerFrames ref;
  ASSERT_TRUE(ReadFrames(Path("palettes.frames"), &ref));
  ASSERT_EQ(ref.rgba.size(), 3u);
  for (size_t i = 0; i < 3; i++) {
    std::vector<uint32_t> expect;
    for (uint8_t k : frames[i]) expect.push_back(palettes[i][k]);
    EXPECT_TRUE(SameOpaquePixels(expect.data(), ref, i));
  }
}

TEST_F(GifWriter, TransparencyAndItsEntry) {
  if (!PeerReady()) GTEST_SKIP() << "python3-pil is missing";
  const std::vector<uint32_t> pal = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00};
  struct Case {
    const char *name;
    int32_t width;
    std::vector<uint8_t> first, second;
    int32_t optimize, transparentIndex, firstTransparentIndex;
    uint8_t control;                    // of the second frame
    std::vector<int32_t> secondRect;    // left, top, width, height
    std::vector<uint32_t> shown;        // the second frame as PIL shows it; alpha 0 is 0
  } cases[] = {
      // Pixels on the last entry: nothing is flagged transparent, the frame goes whole.
      {"used", 2, {0, 3, 1, 2}, {0, 3, 1, 2}, 1, -1, -1, 0x04, {0, 0, 2, 2}, {0xFF0000, 0xFFFF00, 0x00FF00, 0x0000FF}},
      // The caller's transparent index: disposal 2, whole frames, its pixels see through.
      {"given", 2, {0, 1, 1, 2}, {3, 3, 1, 2}, 1, 3, 3, 0x09, {0, 0, 2, 2}, {0, 0, 0x00FF00, 0x0000FF}},
      // After a frame that goes back to the background nothing of it can be kept: the same
      // pixels again are written whole.
      {"after_disposed", 2, {0, 1, 1, 2}, {0, 1, 1, 2}, 1, -1, 3, 0x05, {0, 0, 2, 2},
       {0xFF0000, 0x00FF00, 0x00FF00, 0x0000FF}},
      // A picture one pixel wide repeated: the unchanged region stays inside it.
      {"narrow", 1, {0, 1}, {0, 1}, 1, -1, -1, 0x05, {0, 0, 1, 1}, {0xFF0000, 0x00FF00}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const int32_t h = int32_t(c.first.size()) / c.width;
    const std::string name = std::string(c.name) + ".gif";
    qmGifWriter *writer = nullptr;
    ASSERT_EQ(GifCreate(Path(name).c_str(), c.width, h, &writer), 0u);
    std::vector<uint32_t> p0 = pal, p1 = pal;
    p0.resize(256);
    p1.resize(256);
    std::vector<uint8_t> first = c.first, second = c.second;
    EXPECT_EQ(GifWriteFrame(writer, first.data(), c.width, h, 40, p0.data(), 4, c.firstTransparentIndex, c.optimize), 0u);
    EXPECT_EQ(GifWriteFrame(writer, second.data(), c.width, h, 40, p1.data(), 4, c.transparentIndex, c.optimize), 0u);
    ASSERT_EQ(GifClose(writer), 0u);
    GifLayout layout;
    ASSERT_TRUE(ParseGif(ReadWholeFile(Path(name)), &layout));
    ASSERT_EQ(layout.images.size(), 2u);
    EXPECT_EQ(layout.controls[1], c.control);
    const auto &im = layout.images[1];
    EXPECT_EQ((std::vector<int32_t>{im.left, im.top, im.width, im.height}), c.secondRect);
    ASSERT_EQ(RunAnimPeer("gif-frames '" + dir_.path() + "' '" + Path(name) + "'"), 0);
    PeerFrames ref;
    ASSERT_TRUE(ReadFrames(Path(std::string(c.name) + ".frames"), &ref));
    ASSERT_EQ(ref.rgba.size(), 2u);
    const auto *q = reinterpret_cast<const uint8_t *>(ref.rgba[1].data());
    for (size_t k = 0; k < c.shown.size(); k++, q += 4) {
      const uint32_t theirs = q[3] ? uint32_t(q[0]) << 16 | uint32_t(q[1]) << 8 | q[2] : 0;
      EXPECT_EQ(theirs, c.shown[k]) << "pixel " << k;
    }
  }
}

TEST_F(GifWriter, RefusalsAndFailures) {
  qmGifWriter *writer = nullptr;
  EXPECT_EQ(GifCreate(Path("no/such/folder/x.gif").c_str(), 4, 4, &writer), ERR_WRITEFILE);
  EXPECT_EQ(writer, nullptr);
  EXPECT_EQ(GifCreate(Path("x.gif").c_str(), 0, 4, &writer), ERR_WRONGUSAGE);
  EXPECT_EQ(GifCreate(Path("x.gif").c_str(), 65536, 4, &writer), ERR_WRONGUSAGE);
  SetMemAllocFailure(1);
  EXPECT_EQ(GifCreate(Path("x.gif").c_str(), 4, 4, &writer), ERR_MEM);
  SetMemAllocFailure(0);

  ASSERT_EQ(GifCreate(Path("x.gif").c_str(), 4, 2, &writer), 0u);
  std::vector<uint8_t> pixels(8, 1);
  uint32_t palette[256] = {0, 0xFFFFFF, 0xFF};
  struct Refused {
    const char *what;
    int32_t width, colours, transparent;
    uint8_t pixel;
  } refused[] = {
      {"size", 5, 3, -1, 1},      {"no colours", 4, 0, -1, 1},   {"too many", 4, 257, -1, 1},
      {"index", 4, 3, 3, 1},      {"pixel past the table", 4, 3, -1, 4},
  };
  const uint64_t before = ReadWholeFile(Path("x.gif")).size();
  for (const auto &c : refused) {
    SCOPED_TRACE(c.what);
    pixels[5] = c.pixel;
    EXPECT_EQ(GifWriteFrame(writer, pixels.data(), c.width, 2, 0, palette, c.colours, c.transparent, 0),
              ERR_WRONGUSAGE);
  }
  EXPECT_EQ(ReadWholeFile(Path("x.gif")).size(), before);  // nothing of a refused frame is written
  ASSERT_EQ(GifClose(writer), 0u);

  // A disk that fills up: the failure is reported, at the latest when the file is closed.
  if (std::filesystem::exists("/dev/full")) {
    uint32_t err = GifCreate("/dev/full", 64, 64, &writer);
    std::vector<uint8_t> big(64 * 64, 1);
    if (!err) {
      const uint32_t frameErr = GifWriteFrame(writer, big.data(), 64, 64, 0, palette, 3, -1, 0);
      const uint32_t closeErr = GifClose(writer);
      err = frameErr ? frameErr : closeErr;
    }
    EXPECT_EQ(err, ERR_WRITEFILE);
    // What failed is not the writer's to remove: the device stays.
    EXPECT_TRUE(std::filesystem::exists("/dev/full"));
  }
}

}  // namespace

// The CDXL reader against fixtures made beside it (CdxlFixture: headers, 12-bit palettes,
// bitplanes one after another, 8-bit sound, padding), with ffmpeg's CDXL decoder as the peer
// for the pictures.
#include "media/videocore/cdxl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "tests/media/videocore/cdxl_fixture.h"
#include "tests/media/videocore/video_test_util.h"

namespace {

std::string Save(const TempDir &dir, const std::string &name, const std::string &bytes) {
  const std::string path = dir / name;
  WriteFile(path, bytes);
  return path;
}

struct Packets {
  explicit Packets(qmCdxlReader *reader) : r(reader) {}
  ~Packets() {
    for (auto &p : held) CdxlFreePacket(&p);
  }
  int32_t Next(qmVideoPacket *p) {
    const int32_t code = CdxlNextPacket(r, p);
    if (!code) held.push_back(*p);
    return code;
  }
  // The picture of a video packet as 0x00RRGGBB, from its A, R, G, B bytes.
  std::vector<uint32_t> Picture(const qmVideoPacket &p) {
    std::vector<uint8_t> bytes(size_t(r->width) * r->height * 4);
    qmVideoFrame f{bytes.data(), 0, 9, 9, 0, 0};
    EXPECT_EQ(CdxlDecodeVideoFrame(r, &p, &f), 0);
    EXPECT_EQ(f.bytesPerRow, r->width * 4);
    EXPECT_EQ(f.decodeTime, p.timeStamp);
    EXPECT_EQ(f.presentTime, -1.0);
    std::vector<uint32_t> out;
    for (size_t i = 0; i < bytes.size(); i += 4) {
      EXPECT_EQ(bytes[i], 0);
      out.push_back(uint32_t(bytes[i + 1]) << 16 | uint32_t(bytes[i + 2]) << 8 | bytes[i + 3]);
    }
    return out;
  }
  qmCdxlReader *r;
  std::vector<qmVideoPacket> held;
};

TEST(CdxlReader, FrameRateFollowsTheFrameSize) {
  TempDir dir;
  const struct {
    uint32_t frameSize;
    double fps;
  } cases[] = {{12000, 12.8}, {13000, 153600.0 / 13000}, {13001, 307200.0 / 13001}, {20480, 15}, {40001, 614400.0 / 40001}, {61440, 10}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.frameSize);
    CdxlFixture fx;
    fx.frameSize = c.frameSize;
    fx.soundSize = 100;
    fx.frames = 2;
    qmVideoInfo info{};
    qmCdxlReader *r = CdxlOpen(Save(dir, "rate.cdxl", fx.File()).c_str(), &info);
    ASSERT_NE(r, nullptr);
    EXPECT_DOUBLE_EQ(r->fps, c.fps);
    EXPECT_EQ(r->frameCount, 2);
    EXPECT_EQ(info.width, 16);
    EXPECT_EQ(info.height, 4);
    EXPECT_EQ(info.duration, uint32_t(2 / c.fps * 1000));
    EXPECT_EQ(info.sampleRate, uint32_t(100 * c.fps));
    EXPECT_EQ(info.channels, 1u);
    EXPECT_EQ(info.pixelFrames, 1u);
    EXPECT_EQ(info.flags, 1u);
    CdxlClose(r);
  }
}

// Each frame's picture, then its sound with the same time stamp; the end of the file.
TEST(CdxlReader, PacketsComeAsPictureThenSound) {
  TempDir dir;
  CdxlFixture fx;
  fx.soundSize = 40;
  fx.frameSize = 12000;
  qmVideoInfo info{};
  qmCdxlReader *r = CdxlOpen(Save(dir, "s.cdxl", fx.File()).c_str(), &info);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(fx.Colour(1), 0xFF8800u);  // the palette word 0x0F80
  Packets packets(r);
  for (int f = 0; f < fx.frames; f++) {
    SCOPED_TRACE(f);
    qmVideoPacket v{}, s{};
    ASSERT_EQ(packets.Next(&v), 0);
    ASSERT_EQ(packets.Next(&s), 0);
    EXPECT_EQ(v.stream, 0);
    EXPECT_NE(s.stream, 0);
    EXPECT_DOUBLE_EQ(v.timeStamp, f / 12.8);
    EXPECT_EQ(s.timeStamp, v.timeStamp);
    const std::vector<uint32_t> px = packets.Picture(v);
    for (int y = 0; y < fx.height; y++)
      for (int x = 0; x < fx.width; x++) ASSERT_EQ(px[size_t(y * fx.width + x)], fx.Colour(fx.index(f, x, y))) << x << "," << y;
    std::vector<int16_t> samples(64, 7);
    qmVideoSamples out{samples.data(), uint32_t(samples.size() * 2), 0, 0, 0};
    EXPECT_EQ(CdxlDecodeAudioFrame(r, &s, &out), 0);
    EXPECT_EQ(out.size, 80u);
    EXPECT_EQ(out.channels, 1u);
    for (int i = 0; i < 40; i++) ASSERT_EQ(samples[size_t(i)], int16_t(int8_t(i * 3 - 40 + f)) * 256);
    EXPECT_EQ(samples[40], 7);
  }
  qmVideoPacket end{};
  EXPECT_EQ(packets.Next(&end), -1);
  EXPECT_EQ(packets.Next(&end), -1);
  CdxlClose(r);
}

TEST(CdxlReader, SeekLandsOnTheFrameOfTheTime) {
  TempDir dir;
  CdxlFixture fx;
  fx.frameSize = 20480;  // 15 frames a second
  fx.frames = 5;
  fx.soundSize = 8;
  qmCdxlReader *r = CdxlOpen(Save(dir, "seek.cdxl", fx.File()).c_str(), nullptr);
  ASSERT_NE(r, nullptr);
  Packets packets(r);
  const struct {
    int64_t ms;
    int frame;
  } cases[] = {{0, 0}, {200, 3}, {199, 2}, {100000, 4}, {-50, 0}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.ms);
    qmVideoPacket v{};
    ASSERT_EQ(packets.Next(&v), 0);  // leaves the frame's sound pending: the seek drops it
    EXPECT_EQ(CdxlSeek(r, c.ms), 0);
    ASSERT_EQ(packets.Next(&v), 0);
    EXPECT_EQ(v.stream, 0);
    EXPECT_EQ(static_cast<const qmCdxlPacketHead *>(v.data)->frameNumber, uint32_t(c.frame));
    EXPECT_DOUBLE_EQ(v.timeStamp, c.frame / 15.0);
  }
  CdxlClose(r);
}

// HAM6: the first pixel takes palette colour 1, the next changes the high bits of its blue to
// 0xA.
TEST(CdxlReader, HamFramesHoldTheirChanges) {
  TempDir dir;
  CdxlFixture fx;
  fx.ham = true;
  fx.planes = 6;
  fx.frames = 2;
  fx.index = [](int, int x, int) { return x % 2 ? 0x10 | 0xA : 1; };
  qmCdxlReader *r = CdxlOpen(Save(dir, "ham.cdxl", fx.File()).c_str(), nullptr);
  ASSERT_NE(r, nullptr);
  Packets packets(r);
  qmVideoPacket v{};
  ASSERT_EQ(packets.Next(&v), 0);
  const std::vector<uint32_t> px = packets.Picture(v);
  EXPECT_EQ(px[0], 0xFF8800u);
  EXPECT_EQ(px[1] & 0xFFFFF0, 0xFF88A0u);
  CdxlClose(r);
}

// ffmpeg's CDXL decoder shows the same pictures.
TEST(CdxlReader, PicturesMatchFfmpeg) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is missing";
  TempDir dir;
  CdxlFixture plain;
  plain.width = 32, plain.height = 8, plain.planes = 3;
  plain.palette = {0x0000, 0x0F80, 0x00F0, 0x0FFF, 0x0123, 0x0A5C, 0x0707, 0x0F00};
  plain.index = [](int f, int x, int y) { return (x * 3 + y * 5 + f) % 8; };
  CdxlFixture ham = plain;
  ham.ham = true, ham.planes = 6;
  ham.palette.resize(16, 0x0468);  // HAM6 files carry 16 colours
  ham.index = [](int f, int x, int y) { return x % 3 == 0 ? (y + f) % 8 : (x % 3) << 4 | ((x + y) & 15); };
  for (const CdxlFixture *fx : {&plain, &ham}) {
    SCOPED_TRACE(fx->ham ? "ham" : "plain");
    const std::string file = Save(dir, "peer.cdxl", fx->File());
    const auto theirs = PeerRgbFrames(file, dir / "peer.rgb", fx->width, fx->height, "-f cdxl");
    if (theirs.empty()) GTEST_SKIP() << "this ffmpeg does not read CDXL";
    qmCdxlReader *r = CdxlOpen(file.c_str(), nullptr);
    ASSERT_NE(r, nullptr);
    Packets packets(r);
    for (size_t f = 0; f < theirs.size() && f < size_t(fx->frames); f++) {
      qmVideoPacket v{};
      ASSERT_EQ(packets.Next(&v), 0);
      const std::vector<uint32_t> ours = packets.Picture(v);
      const auto *q = reinterpret_cast<const uint8_t *>(theirs[f].data());
      // A HAM change sets a component's high four bits; the shared HAM decoder leaves the low
      // four bits 0 (value x 16) where ffmpeg repeats the nibble (value x 17). Only that
      // difference is allowed, so a wrong nibble or a component changed from the wrong one shows.
      auto sameChannel = [&](uint32_t a, uint32_t b) {
        return a == b || (fx->ham && b % 17 == 0 && a == (b & 0xF0));
      };
      int wrong = 0;
      for (size_t i = 0; i < ours.size(); i++, q += 3)
        for (int c = 0; c < 3; c++) wrong += !sameChannel(ours[i] >> (16 - 8 * c) & 255, q[c]);
      EXPECT_EQ(wrong, 0) << "frame " << f;
    }
    CdxlClose(r);
  }
}

TEST(CdxlReader, BrokenFilesAreRefused) {
  TempDir dir;
  const CdxlFixture good;
  const std::string whole = good.File();
  auto changed = [&](size_t at, std::string bytes) {
    std::string s = whole;
    s.replace(at, bytes.size(), bytes);
    return s;
  };
  const uint32_t size = good.Size();
  auto be32 = [](uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
  CdxlFixture bigPalette;
  bigPalette.palette.assign(257, 0x0FFF);
  CdxlFixture deep;
  deep.planes = 9;
  const struct {
    const char *name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"header cut short", whole.substr(0, 20)},
      {"first type is not 1", changed(0, std::string(1, '\2'))},
      {"second frame of another size", changed(size + 2, be32(size + 2))},
      // A size of 0 finds itself where the second frame's previous size would be.
      {"frame size 0", changed(2, be32(0))},
      {"frame smaller than its parts", changed(2, be32(size - 1)).replace(size + 1, 4, be32(size - 1))},
      {"one frame only", good.Frame(0)},
      {"no width", changed(14, std::string(2, '\0'))},
      {"palette beyond 256 colours", bigPalette.File()},
      {"nine planes", deep.File()},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    qmVideoInfo info{};
    qmCdxlReader *r = CdxlOpen(Save(dir, "bad.cdxl", c.bytes).c_str(), &info);
    EXPECT_EQ(r, nullptr);
    CdxlClose(r);
  }
}

}  // namespace

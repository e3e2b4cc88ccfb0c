// The IFF ANIM reader against the frames its fixtures were made from (anim_peer.py iff), and
// against ffmpeg's iff demuxer where that reads them; replays, broken deltas, refused files.
#include "media/animcore/iffanim.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "tests/media/animcore/anim_test_util.h"

namespace {

class IffAnimReader : public ::testing::Test {
 protected:
  void SetUp() override {
    if (RunAnimPeer("iff '" + dir_.path() + "'") != 0) GTEST_SKIP() << "python3 with PIL is missing";
  }
  std::string Path(const std::string &name) { return dir_ / name; }
  qmIffAnim *Open(const std::string &name, int32_t *frames = nullptr) {
    int32_t w = 0, h = 0, n = 0;
    qmIffAnim *a = IffAnimOpen(Path(name + ".anim").c_str(), &w, &h, &n);
    if (frames) *frames = n;
    return a;
  }
  std::vector<uint32_t> Delays(const std::string &name) {
    std::ifstream in(Path(name + ".delays"));
    std::vector<uint32_t> v;
    for (uint32_t d; in >> d;) v.push_back(d);
    return v;
  }
  TempDir dir_;
};

std::vector<uint32_t> Frame(qmIffAnim *a, int32_t index) {
  uint32_t *p = IffAnimLoadFrame(a, index);
  if (!p) return {};
  std::vector<uint32_t> v(p, p + size_t(a->width) * a->height);
  MemFree(p);
  return v;
}

std::vector<uint32_t> Words(const std::string &rgba) {
  std::vector<uint32_t> v(rgba.size() / 4);
  for (size_t i = 0; i < v.size(); i++)
    v[i] = uint32_t(uint8_t(rgba[4 * i])) << 16 | uint32_t(uint8_t(rgba[4 * i + 1])) << 8 | uint8_t(rgba[4 * i + 2]);
  return v;
}

TEST_F(IffAnimReader, FixturesShowTheirFrames) {
  struct Case {
    const char *name;
    int32_t frames;
  } cases[] = {
      {"two", 2},           {"ten", 10},         {"ten_dpan", 10},
      {"first_small", 10},  // the first FORM's size falls short of its BODY
      {"first_big", 10},    // the first FORM's size covers the whole file
      {"xor", 10},          // deltas XORed onto the frame before
      {"ehb", 3},           {"ehb_camg_first", 3}, {"ham6", 3}, {"ham8", 3},
      {"bigmap", 3},        // 300 colours cut to 256; DPAN's 5000 frames to the 3 present
      {"skip_to_last_row", 3},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    PeerFrames ref;
    ASSERT_TRUE(ReadFrames(Path(std::string(c.name) + ".frames"), &ref));
    int32_t n = 0;
    qmIffAnim *a = Open(c.name, &n);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->width, ref.width);
    EXPECT_EQ(a->height, ref.height);
    ASSERT_EQ(n, c.frames);
    const std::vector<uint32_t> jiffies = Delays(c.name);
    for (int32_t i = 0; i < n; i++) {
      const uint32_t ms = i < int32_t(jiffies.size()) ? uint32_t(std::floor(jiffies[size_t(i)] * 1000.0 / 60.0)) : 0;
      // A frame's delay is known once it was decoded (the first frame's from the start).
      if (i > 0) {
        EXPECT_EQ(IffAnimGetFrameDelay(a, i), 0u) << i;
      }
      EXPECT_EQ(Frame(a, i), Words(ref.rgba[size_t(i)])) << "frame " << i;
      EXPECT_EQ(IffAnimGetFrameDelay(a, i), ms) << i;
    }
    // After the last frame the reader is ready to loop.
    EXPECT_EQ(Frame(a, 0), Words(ref.rgba[0]));
    EXPECT_EQ(Frame(a, 1), Words(ref.rgba[1]));
    IffAnimClose(a);
  }
}

TEST_F(IffAnimReader, MatchesFfmpeg) {
  if (!HasCommand("ffmpeg")) GTEST_SKIP() << "ffmpeg is missing";
  // ffmpeg reads plain and packed bodies, colour map changes and extra half-brite as we do.
  for (const char *name : {"two", "ten", "ten_dpan", "ehb", "ehb_camg_first"}) {
    SCOPED_TRACE(name);
    const std::string raw = Path(std::string(name) + ".rgba");
    const std::string cmd = "ffmpeg -v error -i '" + Path(std::string(name) + ".anim") +
                            "' -fps_mode passthrough -f rawvideo -pix_fmt rgba -y '" + raw + "' 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string bytes = ReadWholeFile(raw);
    int32_t n = 0;
    qmIffAnim *a = Open(name, &n);
    ASSERT_NE(a, nullptr);
    const size_t frameBytes = size_t(a->width) * a->height * 4;
    ASSERT_EQ(bytes.size(), frameBytes * size_t(n));
    for (int32_t i = 0; i < n; i++)
      EXPECT_EQ(Frame(a, i), Words(bytes.substr(frameBytes * size_t(i), frameBytes))) << "frame " << i;
    IffAnimClose(a);
  }
}

TEST_F(IffAnimReader, AnyOrderReplaysTheSameFrames) {
  PeerFrames ref;
  ASSERT_TRUE(ReadFrames(Path("ten.frames"), &ref));
  qmIffAnim *a = Open("ten");
  ASSERT_NE(a, nullptr);
  // Frame 7 uses the colour map that came with frame 6; frame 3 the first one again.
  for (int32_t i : {5, 3, 9, 0, 9, 7, 3, 3, 8, 6, 1}) EXPECT_EQ(Frame(a, i), Words(ref.rgba[size_t(i)])) << "frame " << i;
  EXPECT_EQ(IffAnimLoadFrame(a, 10), nullptr);
  EXPECT_EQ(IffAnimLoadFrame(a, -1), nullptr);
  EXPECT_EQ(IffAnimGetFrameDelay(a, 10), 0u);
  IffAnimClose(a);
}

TEST_F(IffAnimReader, DelaysStayWithinTheLongestGifDelay) {
  qmIffAnim *a = Open("two");
  ASSERT_NE(a, nullptr);
  // reltime as a header may carry it (jiffies) -> milliseconds
  const struct {
    uint32_t jiffies, ms;
  } cases[] = {{0, 0},           {1, 16},           {60, 1000},        {39321, 655350},
               {39322, 655350},  {85846071, 655350}, {0x7FFFFFFF, 655350}, {0xFFFFFFFF, 655350}};
  for (const auto &c : cases) {
    a->delays[0] = c.jiffies;
    EXPECT_EQ(IffAnimGetFrameDelay(a, 0), c.ms) << c.jiffies;
  }
  IffAnimClose(a);
}

TEST_F(IffAnimReader, BrokenDeltasFailTheirFrameOnly) {
  struct Case {
    const char *name;
    int32_t bad;  // the frame that cannot load
  } cases[] = {
      {"op7", 3},                       {"bad_offset_out", 2},       {"bad_offset_in_table", 2},
      {"bad_literal_past_plane", 2},    {"bad_run_past_plane", 2},   {"bad_skip_then_write_past", 2},
      {"bad_ops_past_chunk", 2},        {"bad_short_chunk", 2},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    PeerFrames ref;
    ASSERT_TRUE(ReadFrames(Path(std::string(c.name) + ".frames"), &ref));
    qmIffAnim *a = Open(c.name);
    ASSERT_NE(a, nullptr);
    for (int32_t i = 0; i < c.bad; i++) EXPECT_EQ(Frame(a, i), Words(ref.rgba[size_t(i)])) << "frame " << i;
    EXPECT_EQ(IffAnimLoadFrame(a, c.bad), nullptr);
    // The reader starts over: the good frames still come.
    EXPECT_EQ(Frame(a, c.bad - 1), Words(ref.rgba[size_t(c.bad - 1)]));
    EXPECT_EQ(IffAnimLoadFrame(a, c.bad), nullptr);
    EXPECT_EQ(Frame(a, 1), Words(ref.rgba[1]));
    IffAnimClose(a);
  }
}

TEST_F(IffAnimReader, FilesThatDoNotOpen) {
  const std::string two = ReadWholeFile(Path("two.anim"));
  // BMHD's data starts at byte 32: width, height, x, y, planes at 40.
  auto patched = [&](const std::string &name, size_t at, std::string bytes) {
    std::string b = two;
    b.replace(at, bytes.size(), bytes);
    std::ofstream(Path(name + ".anim"), std::ios::binary) << b;
  };
  patched("width0", 32, std::string("\0\0", 2));
  patched("height0", 34, std::string("\0\0", 2));
  patched("planes9", 40, "\x09");
  patched("planes0", 40, std::string("\0", 1));
  patched("notanim", 8, "ANIX");
  std::ofstream(Path("cut.anim"), std::ios::binary) << two.substr(0, 120);
  ASSERT_EQ(mkfifo(Path("fifo.anim").c_str(), 0600), 0);  // no writer: opening must not wait for one
  for (const char *name : {"only_first", "junk_after", "width0", "height0", "planes9", "planes0", "notanim", "cut",
                           "missing", "fifo"}) {
    SCOPED_TRACE(name);
    int32_t w = -1, h = -1, n = -1;
    EXPECT_EQ(IffAnimOpen(Path(std::string(name) + ".anim").c_str(), &w, &h, &n), nullptr);
  }
}

}  // namespace

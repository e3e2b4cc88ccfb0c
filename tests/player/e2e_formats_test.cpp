// Formats that plug-ins add, through the real player: the test picture format (tpic.qmp,
// tpic8.qmp), anim format (tanm.qmp, tanm8.qmp) and sound format (tsnd.qmp) load, save and
// answer GetAttribute; a plug-in that fails its init adds nothing; savers that refuse and
// formats nobody registered fail as such.
#include <cmath>
#include <cstdlib>

#include "tests/player/e2e_util.h"

namespace {

void PutLe(std::vector<uint8_t> &out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; i++) out.push_back(uint8_t(v >> (8 * i)));
}

uint32_t Le32(const std::string &s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; i--) v = v << 8 | uint8_t(s[at + i]);
  return v;
}

// A TPIC file (the layout tpic.cpp reads) of one frame.
std::vector<uint8_t> TpicFile(int w, int h, uint8_t flags, const std::vector<uint32_t> &pixels) {
  std::vector<uint8_t> out = {'T', 'P', 'I', 'C'};
  PutLe(out, uint32_t(w), 2);
  PutLe(out, uint32_t(h), 2);
  out.push_back(flags);
  for (uint32_t p : pixels) PutLe(out, p, 4);
  return out;
}

// A picture of 4 x 2 with alpha: four levels of alpha, pure colours.
const std::vector<uint32_t> kPicture = {0xFFFF0000, 0x8000FF00, 0x400000FF, 0xFFFFFFFF,
                                        0xFF000000, 0xC0FF00FF, 0x20FFFF00, 0xFF00FFFF};

// 100 frames of mono 16-bit signed sound at 11025 Hz: frame i is (i * 331) mod 65536 - 32768.
std::vector<uint8_t> TsndFile(std::vector<int16_t> *frames) {
  std::vector<uint8_t> out = {'T', 'S', 'N', 'D'};
  PutLe(out, 11025, 4);
  out.push_back(1);
  out.push_back(16);
  out.push_back(2);  // signed, little-endian
  PutLe(out, 100, 4);
  for (int i = 0; i < 100; i++) {
    const int16_t v = int16_t((i * 331) % 65536 - 32768);
    frames->push_back(v);
    PutLe(out, uint16_t(v), 2);
  }
  return out;
}

// A TANM file (the layout tanm.cpp reads and writes): frames of w x h words after their delays.
std::vector<uint8_t> TanmFile(int w, int h, uint8_t flags, const std::vector<std::pair<int, std::vector<uint32_t>>> &frames) {
  std::vector<uint8_t> out = {'T', 'A', 'N', 'M'};
  PutLe(out, uint32_t(w), 2);
  PutLe(out, uint32_t(h), 2);
  out.push_back(flags);
  for (const auto &[delay, pixels] : frames) {
    PutLe(out, uint32_t(delay), 2);
    for (uint32_t p : pixels) PutLe(out, p, 4);
  }
  return out;
}

// Two opaque frames of 3 x 2, shown 40 and 120 ms.
const std::vector<uint32_t> kFrame1 = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF, 0xFF000000, 0xFF808080};
const std::vector<uint32_t> kFrame2 = {0xFF102030, 0xFFC0B0A0, 0xFFFFFF00, 0xFF00FFFF, 0xFFFF00FF, 0xFF405060};

enum { kBGPic = 1, kSample = 2, kBrush = 3, kAnim = 4, kMusic = 33 };
enum { kWidth = 0, kHeight = 1, kType = 9, kNumFrames = 11, kPitch = 15, kHasAlpha = 17, kFrameDelay = 37 };
const double kNone = 4294967295.0;

}  // namespace

TEST(E2eFormats, PictureFormatLoadsAndSaves) {
  PlayerDir d({"tpic.qmp", "tpic8.qmp"});
  qmtools::WriteBytes(d / "pic.tpic", TpicFile(4, 2, 1, kPicture));
  // Flag bit 1: the alpha channel is loaded though the script does not ask for it.
  qmtools::WriteBytes(d / "forced.tpic", TpicFile(4, 2, 3, kPicture));
  const std::string script = ScriptOf({
      {false, "LoadBrush", {1, d / "pic.tpic"}},
      {true, "GetAttribute", {kBrush, 1, kWidth}},
      {true, "GetAttribute", {kBrush, 1, kHeight}},
      {true, "GetAttribute", {kBrush, 1, kHasAlpha}},
      {false, "LoadBrush", {2, d / "forced.tpic"}},
      {true, "GetAttribute", {kBrush, 2, kHasAlpha}},
      {false, "LoadBGPic", {3, d / "pic.tpic"}},
      {true, "GetAttribute", {kBGPic, 3, kWidth}},
      {true, "IsPicture", {d / "pic.tpic"}},
      {false, "SaveBrush", {2, d / "argb.tpic", kNone, 40}},
      {false, "SaveBrush", {2, d / "indexed.tpic", kNone, 41}},
  });
  qmtools::WriteBytes(d / "f.qma", AppletOf(script));
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "f.qma"}, {"TPIC_LOG=" + (d / "log.txt")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  // The first brush has no alpha channel (not asked for), the second has one (forced).
  EXPECT_EQ(r.out.substr(0, r.out.rfind("true ")), "4\n2\n0\n1\n4\n");
  EXPECT_NE(r.out.find("true Table"), std::string::npos) << r.out;  // IsPicture: True and its table
  // Each picture decoded by the plug-in was handed back to it: three loads and the probe's none.
  EXPECT_EQ(ReadWholeFile(d / "log.txt"), "freeimage\nfreeimage\nfreeimage\n");

  // The ARGB saver got the pixels as loaded, alpha kept (its request said so).
  std::string argb = ReadWholeFile(d / "argb.tpic");
  ASSERT_EQ(argb.size(), 9u + 8 * 4);
  EXPECT_EQ(argb.substr(0, 9), std::string("TPIC\4\0\2\0\1", 9));
  for (size_t i = 0; i < kPicture.size(); i++) EXPECT_EQ(Le32(argb, 9 + 4 * i), kPicture[i]) << i;

  // The indexed saver got palette indices: every colour comes back within the quantizer's
  // 5-6-5 steps, opaque.
  std::string indexed = ReadWholeFile(d / "indexed.tpic");
  ASSERT_EQ(indexed.size(), 9u + 8 * 4);
  for (size_t i = 0; i < kPicture.size(); i++) {
    const uint32_t got = Le32(indexed, 9 + 4 * i), want = kPicture[i];
    EXPECT_EQ(got >> 24, 0xFFu) << i;
    for (int shift : {0, 8, 16})
      EXPECT_LE(std::abs(int(got >> shift & 0xFF) - int(want >> shift & 0xFF)), 8) << i << " " << shift;
  }
}

// The anim loader takes its files for LoadAnim and LoadAnimFrame; SaveAnim and anim streams of
// the saver's format numbers write files that it reads back.
TEST(E2eFormats, AnimFormatLoadsAndSaves) {
  PlayerDir d({"tanm.qmp", "tanm8.qmp"});
  const std::vector<uint8_t> input = TanmFile(3, 2, 0, {{40, kFrame1}, {120, kFrame2}});
  qmtools::WriteBytes(d / "in.tanm", input);
  const std::string script = ScriptOf({
      {false, "LoadAnim", {1, d / "in.tanm"}},
      {true, "GetAttribute", {kAnim, 1, kNumFrames}},
      {true, "GetAttribute", {kAnim, 1, kWidth}},
      {true, "GetAttribute", {kAnim, 1, kHeight}},
      {true, "GetAttribute", {kAnim, 1, kFrameDelay, 2}},
      {false, "SaveAnim", {1, d / "argb.tanm", 50}},
      {false, "SaveAnim", {1, d / "indexed.tanm", 51}},
      {false, "LoadAnimFrame", {5, 2, d / "in.tanm"}},
      {false, "BeginAnimStream", {2, d / "stream.tanm", 3, 2, 50}},
      {false, "WriteAnimFrame", {2, 5}},
      {false, "WriteAnimFrame", {2, 5}},
      {false, "FinishAnimStream", {2}},
      {false, "LoadAnim", {3, d / "argb.tanm"}},
      {false, "GetAnimFrame", {6, 2, 3}},
      {true, "ReadBrushPixel", {6, 1, 0.0}},
  });
  qmtools::WriteBytes(d / "f.qma", AppletOf(script));
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "f.qma"}, {"TANM_LOG=" + (d / "log.txt")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "2\n3\n2\n120\n" + std::to_string(kFrame2[1] & 0xFFFFFF) + " -1\n");
  // Every anim the loader opened was closed, every stream begun was finished.
  EXPECT_EQ(ReadWholeFile(d / "log.txt"), "closeanim\nfinish\nfinish\ncloseanim\nfinish\ncloseanim\n");

  // The ARGB saver got every frame as loaded, with its delay.
  const std::string argb = ReadWholeFile(d / "argb.tanm");
  EXPECT_EQ(argb, std::string(input.begin(), input.end()));
  // The stream wrote the brush twice, without delays.
  const std::vector<uint8_t> streamed = TanmFile(3, 2, 0, {{0, kFrame2}, {0, kFrame2}});
  EXPECT_EQ(ReadWholeFile(d / "stream.tanm"), std::string(streamed.begin(), streamed.end()));

  // The indexed saver was told so and got palette indices: every colour comes back within the
  // quantizer's 5-6-5 steps, opaque, the delays kept.
  const std::string indexed = ReadWholeFile(d / "indexed.tanm");
  ASSERT_EQ(indexed.size(), 9u + 2 * (2 + 6 * 4));
  EXPECT_EQ(indexed.substr(0, 9), std::string("TANM\3\0\2\0\1", 9));
  for (size_t f = 0; f < 2; f++) {
    const size_t at = 9 + f * (2 + 6 * 4);
    EXPECT_EQ(uint8_t(indexed[at]) | uint8_t(indexed[at + 1]) << 8, f ? 120 : 40);
    const std::vector<uint32_t> &want = f ? kFrame2 : kFrame1;
    for (size_t i = 0; i < 6; i++) {
      const uint32_t got = Le32(indexed, at + 2 + 4 * i);
      EXPECT_EQ(got >> 24, 0xFFu) << f << " " << i;
      for (int shift : {0, 8, 16})
        EXPECT_LE(std::abs(int(got >> shift & 0xFF) - int(want[i] >> shift & 0xFF)), 8) << f << " " << i << " " << shift;
    }
  }
}

TEST(E2eFormats, SoundFormatLoadsAndSaves) {
  PlayerDir d({"tsnd.qmp"});
  std::vector<int16_t> frames;
  const std::vector<uint8_t> file = TsndFile(&frames);
  qmtools::WriteBytes(d / "tone.tsnd", file);
  const std::string script = ScriptOf({
      {false, "LoadSample", {1, d / "tone.tsnd"}},
      {true, "GetAttribute", {kSample, 1, kNumFrames}},
      {true, "GetAttribute", {kSample, 1, kPitch}},
      {true, "IsSample", {d / "tone.tsnd"}},
      {true, "IsMusic", {d / "tone.tsnd"}},
      {false, "OpenMusic", {2, d / "tone.tsnd"}},
      {false, "SaveSample", {1, d / "copy.tsnd", 60}},
      {false, "SaveSample", {1, d / "copy.wav"}},
  });
  qmtools::WriteBytes(d / "f.qma", AppletOf(script));
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "f.qma"},
                         {"SDL_AUDIODRIVER=dummy", "TSND_LOG=" + (d / "log.txt")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "100\n11025\n1\n1 Test sound\n");
  // The sample saver wrote back what the decoder read.
  EXPECT_EQ(ReadWholeFile(d / "copy.tsnd"), std::string(file.begin(), file.end()));
  // Python's wave module reads the sample the plug-in decoded.
  std::string expected;
  for (int16_t v : frames) expected += std::to_string(v) + ",";
  const std::string check = "python3 -c \"import wave,struct,sys; w=wave.open(sys.argv[1]); "
                            "n=w.getnframes(); print(n, w.getframerate(), w.getnchannels(), w.getsampwidth()); "
                            "print(''.join('%d,' % v for v in struct.unpack('<%dh' % n, w.readframes(n))))\" " +
                            (d / "copy.wav") + " > " + (d / "peer.txt");
  ASSERT_EQ(std::system(check.c_str()), 0);
  EXPECT_EQ(ReadWholeFile(d / "peer.txt"), "100 11025 1 2\n" + expected + "\n");
  // Every stream the decoder opened was closed: the sample's, the two probes' and the music's.
  EXPECT_EQ(ReadWholeFile(d / "log.txt"), "closestream\nclosestream\nclosestream\nclosestream\n");
}

TEST(E2eFormats, FailuresOfFormatPlugins) {
  PlayerDir d({"tpic.qmp", "tsnd.qmp", "tanm.qmp"});
  qmtools::WriteBytes(d / "pic.tpic", TpicFile(4, 2, 1, kPicture));
  qmtools::WriteBytes(d / "in.tanm", TanmFile(3, 2, 0, {{40, kFrame1}}));
  std::vector<int16_t> frames;
  qmtools::WriteBytes(d / "tone.tsnd", TsndFile(&frames));
  struct Case {
    const char *name;
    std::vector<ScriptLine> lines;
    std::string env;
    std::string out;
  } cases[] = {
      {"a picture plug-in that fails its init adds no format",
       {{false, "LoadBrush", {1, d / "pic.tpic"}}},
       "TPIC_INIT_FAILS=1",
       "f.qms:1: Image file \"pic.tpic\" is in an unknown/unsupported format!\n"},
      {"a picture saver that refuses",
       {{false, "LoadBrush", {1, d / "pic.tpic"}}, {false, "SaveBrush", {1, d / "out.tpic", kNone, 40}}},
       "TPIC_SAVE_FAILS=1",
       "f.qms:2: Error saving image!\n"},
      {"a picture format nobody registered",
       {{false, "LoadBrush", {1, d / "pic.tpic"}}, {false, "SaveBrush", {1, d / "out.x", kNone, 41}}},
       "",
       "f.qms:2: Unknown image format specified!\n"},
      {"a sample saver that refuses",
       {{false, "LoadSample", {1, d / "tone.tsnd"}}, {false, "SaveSample", {1, d / "out.tsnd", 60}}},
       "TSND_SAVE_FAILS=1",
       "f.qms:2: Error saving sample!\n"},
      {"a sample format nobody registered",
       {{false, "LoadSample", {1, d / "tone.tsnd"}}, {false, "SaveSample", {1, d / "out.x", 61}}},
       "",
       "f.qms:2: Unknown sample format specified!\n"},
      {"an anim saver that refuses to begin",
       {{false, "LoadAnim", {1, d / "in.tanm"}}, {false, "SaveAnim", {1, d / "out.tanm", 50}}},
       "TANM_BEGIN_FAILS=1",
       "f.qms:2: Error saving anim!\n"},
      {"an anim saver that refuses a frame",
       {{false, "LoadAnim", {1, d / "in.tanm"}}, {false, "SaveAnim", {1, d / "out.tanm", 50}}},
       "TANM_WRITE_FAILS=1",
       "f.qms:2: Error saving anim!\n"},
      {"an anim stream whose saver refuses a frame",
       {{false, "LoadAnimFrame", {1, 1, d / "in.tanm"}},
        {false, "BeginAnimStream", {2, d / "out.tanm", 3, 2, 50}},
        {false, "WriteAnimFrame", {2, 1}}},
       "TANM_WRITE_FAILS=1",
       "f.qms:3: Error saving anim!\n"},
      {"an anim format nobody registered",
       {{false, "LoadAnim", {1, d / "in.tanm"}}, {false, "SaveAnim", {1, d / "out.x", 51}}},
       "",
       "f.qms:2: Unknown anim format specified!\n"},
  };
  for (const Case &c : cases) {
    qmtools::WriteBytes(d / "f.qma", AppletOf(ScriptOf(c.lines)));
    std::vector<std::string> env = {"SDL_AUDIODRIVER=dummy"};
    if (!c.env.empty()) env.push_back(c.env);
    PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "f.qma"}, env);
    EXPECT_EQ(r.status, 1) << c.name << r.err;
    EXPECT_EQ(r.out, c.out) << c.name;
  }
}

// A vector picture of the plug-in stays a vector brush: scaled, it is drawn anew by the plug-in
// (not scaled from its pixels) and keeps its alpha channel; copies share its source, which the
// plug-in frees once, when the last brush goes.
TEST(E2eFormats, VectorPictureIsDrawnAnewWhenScaled) {
  PlayerDir d({"tpic.qmp"});
  qmtools::WriteBytes(d / "vec.tpic", TpicFile(4, 2, 1 | 2 | 4, kPicture));  // alpha always loaded
  const std::string script = ScriptOf({
      {false, "LoadBrush", {1, d / "vec.tpic"}},
      {false, "CopyBrush", {1, 2}},
      {false, "FreeBrush", {1}},
      {false, "ScaleBrush", {2, 8, 6}},
      {true, "GetAttribute", {kBrush, 2, kWidth}},
      {true, "GetAttribute", {kBrush, 2, kHeight}},
      {true, "GetAttribute", {kBrush, 2, kHasAlpha}},
      {false, "RasterizeBrush", {2}},  // a vector brush is not saved as it is
      {false, "SaveBrush", {2, d / "scaled.tpic", kNone, 40}},
  });
  qmtools::WriteBytes(d / "f.qma", AppletOf(script));
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "f.qma"}, {"TPIC_LOG=" + (d / "log.txt")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "8\n6\n1\n");
  EXPECT_EQ(ReadWholeFile(d / "log.txt"), "transform 8x6\nfreeimage\n");
  // 8 x 6 from 4 x 2: pixel (x, y) is the stored (x / 2, y / 3), alpha included.
  std::string scaled = ReadWholeFile(d / "scaled.tpic");
  ASSERT_EQ(scaled.size(), 9u + 48 * 4);
  for (int y = 0; y < 6; y++)
    for (int x = 0; x < 8; x++)
      EXPECT_EQ(Le32(scaled, 9 + 4 * size_t(y * 8 + x)), kPicture[size_t(y / 3 * 4 + x / 2)]) << x << "," << y;
}

// Turned, a vector brush is drawn anew by the plug-in through its present scale and the matrix:
// a shear of the brush scaled to 8 x 4 shows each stored pixel under its centre, and nothing
// (alpha 0) outside the picture.
TEST(E2eFormats, VectorPictureIsDrawnAnewWhenTurned) {
  PlayerDir d({"tpic.qmp"});
  qmtools::WriteBytes(d / "vec.tpic", TpicFile(4, 2, 1 | 2 | 4, kPicture));
  const std::string script = ScriptOf({
      {false, "LoadBrush", {1, d / "vec.tpic"}},
      {false, "ScaleBrush", {1, 8, 4}},
      {false, "TransformBrush", {1, 1.0, 0.0, 1.0, 1.0}},  // x' = x + y
      {true, "GetAttribute", {kBrush, 1, kWidth}},
      {true, "GetAttribute", {kBrush, 1, kHeight}},
      {false, "RasterizeBrush", {1}},
      {false, "SaveBrush", {1, d / "turned.tpic", kNone, 40}},
  });
  qmtools::WriteBytes(d / "f.qma", AppletOf(script));
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "f.qma"}, {"TPIC_LOG=" + (d / "log.txt")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "12\n4\n");
  EXPECT_EQ(ReadWholeFile(d / "log.txt"), "transform 8x4\ntransform 12x4\nfreeimage\n");
  std::string turned = ReadWholeFile(d / "turned.tpic");
  ASSERT_EQ(turned.size(), 9u + 48 * 4);
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 12; x++) {
      // The centre (x + 0.5, y + 0.5) comes from (x - y, y + 0.5) of the 8 x 4 brush, whose
      // pixels are the stored ones doubled.
      const int sx = int(std::floor((x - y) / 2.0)), sy = y / 2;
      const uint32_t got = Le32(turned, 9 + 4 * size_t(y * 12 + x));
      if (sx >= 0 && sx < 4) EXPECT_EQ(got, kPicture[size_t(sy * 4 + sx)]) << x << "," << y;
      else EXPECT_EQ(got >> 24, 0u) << x << "," << y;
    }
}

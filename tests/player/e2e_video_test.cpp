// Videos through the real player: a video declared by the applet, one declared with its bytes
// inside the applet and ones the script opens by the names of files linked into the applet: CDXL
// files made beside the test, whose pictures must show the fixture's colours, and a clip of
// ffmpeg's in one colour.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/media/image/image_test_util.h"
#include "tests/media/videocore/cdxl_fixture.h"
#include "tests/media/videocore/video_test_util.h"
#include "tests/player/e2e_util.h"

namespace {

CdxlFixture Clip() {
  CdxlFixture fx;
  fx.width = 16;
  fx.height = 4;
  fx.frames = 3;
  return fx;
}

qmtools::AppletDecl VideoDecl(uint32_t id, const std::string &name) {
  qmtools::AppletDecl v;
  v.type = 11;  // a video
  v.id = id;
  v.name = name;
  v.line = 1;
  return v;
}

// Frames, then the colour of the second picture at (4, 1) and the brush's -1 for no mask.
std::vector<ScriptLine> AskVideo(double id) {
  return {{true, "GetAttribute", {50, id, 11}},
          {false, "GetVideoFrame", {id, id, 2}},
          {true, "ReadBrushPixel", {id, 4, 1}}};
}

std::string Answers(const CdxlFixture &fx) {
  return "3\n" + std::to_string(fx.Colour(fx.index(1, 4, 1))) + " -1\n";
}

}  // namespace

TEST(E2eVideo, DeclaredAndLinkedVideosOpenBeforeTheScript) {
  PlayerDir d;
  const CdxlFixture fx = Clip();
  const std::string bytes = fx.File();
  WriteFile(d / "clip.cdxl", bytes);
  // Videos 1 and 2 are declared; the script opens video 3 by the linked file's name.
  std::vector<ScriptLine> lines;
  for (double id : {1, 2, 3}) {
    if (id == 3) lines.push_back({false, "OpenVideo", {3, "clip.cdxl"}});
    std::vector<ScriptLine> more = AskVideo(id);
    lines.insert(lines.end(), more.begin(), more.end());
  }
  // A file only the FFmpeg back end reads plays from a copy of the linked bytes.
  lines.push_back({true, "IsVideo", {"red.mkv"}});
  lines.push_back({false, "OpenVideo", {4, "red.mkv"}});
  lines.push_back({false, "GetVideoFrame", {4, 4, 2}});
  lines.push_back({true, "ReadBrushPixel", {4, 3, 1}});
  lines.push_back({false, "PlayVideo", {3}});
  lines.push_back({false, "CloseVideo", {2}});

  qmtools::AppletBuilder b;
  b.Version(5, 2).Includes({{1, 100, 0, "v.qms"}});
  // The declared linked video's bytes sit in a skip section; the declaration points at them.
  const uint32_t inside = uint32_t(b.Size() + 5);
  b.Skip(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  qmtools::AppletDecl linked = VideoDecl(2, "inside.cdxl");
  linked.dataOffset = inside;
  linked.dataLength = uint32_t(bytes.size());
  b.Declarations({VideoDecl(1, d / "clip.cdxl"), linked});
  const std::string red = "ffmpeg -loglevel error -y -f lavfi -i \"color=c=red:s=16x8:r=10:d=0.3,format=rgb24\" "
                          "-c:v png -pix_fmt rgb24 " + d / "red.mkv";
  ASSERT_EQ(std::system(red.c_str()), 0);
  b.LinkedFiles({{"clip.cdxl", bytes}, {"red.mkv", ReadWholeFile(d / "red.mkv")}});
  std::filesystem::remove(d / "red.mkv");
  b.Bytecode(ChunkOf(ScriptOf(lines)));
  qmtools::WriteBytes(d / "v.qma", b.Bytes());
  PlayerResult r = d.Run({"-QUIET", d / "v.qma"}, {"SDL_AUDIODRIVER=dummy"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, Answers(fx) + Answers(fx) + Answers(fx) + "1\n16711680 -1\n");
  EXPECT_EQ(d.TempEntries(), 0u) << "the copies of linked videos go with their videos";
}

// A video plug-in is a source of the own engine: tvid.qmp's pictures (one colour each) are
// grabbed, played, and dumped to PNG files that PIL reads back.
TEST(E2eVideo, PluginDecodesForTheOwnEngine) {
  PlayerDir d({"tvid.qmp"});
  const uint32_t colours[] = {0x102030, 0xF08000, 0x00FF7F};
  std::string file = "TVID";
  file += {char(12), 0, char(6), 0};
  for (uint32_t c : colours) file += {char(c >> 16), char(c >> 8), char(c)};
  WriteFile(d / "clip.tvid", file);
  const std::string base = d / "out";
  const std::string script = ScriptOf({
      {false, "ForceVideoDriver", {1}},
      {true, "IsVideo", {d / "clip.tvid"}},
      {false, "OpenVideo", {1, d / "clip.tvid"}},
      {true, "GetAttribute", {50, 1, 11}},
      {true, "GetAttribute", {50, 1, 14}},
      {false, "GetVideoFrame", {2, 1, 3}},
      {true, "ReadBrushPixel", {2, 11, 5}},
      {false, "GetVideoFrame", {2, 1, 150, 1}},
      {true, "ReadBrushPixel", {2, 0.0, 0.0}},
      {false, "DumpVideo", {1, 0.0, 0.0, base, 1}},
      {false, "SetVideoSize", {1, 48, 24}},
      {false, "PlayVideo", {1}},
      {false, "StopVideo", {1}},
  });
  qmtools::WriteBytes(d / "p.qma", AppletOf(script));
  PlayerResult r = d.Run({"-QUIET", d / "p.qma"}, {"SDL_AUDIODRIVER=dummy"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "1\n3\n300\n" + std::to_string(colours[2]) + " -1\n" + std::to_string(colours[1]) + " -1\n");
  for (int f = 0; f < 3; f++) {
    PeerPicture pic;
    ASSERT_TRUE(PeerDecode(base + std::to_string(f) + ".png", d / "ref", &pic)) << f;
    ASSERT_EQ(pic.width, 12);
    ASSERT_EQ(pic.height, 6);
    const auto *p = reinterpret_cast<const uint8_t *>(pic.rgba.data()) + (5 * 12 + 11) * 4;
    EXPECT_EQ(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2], colours[f]);
  }
  EXPECT_EQ(ReadWholeFile(base + ".wav").size(), 44u);
}

namespace {

// n = 0; ForceVideoDriver(driver); InstallEventHandler({onvideoend = ended})
// OpenVideo(1, "a"); OpenVideo(2, "b")
// DebugPrint(GetAttribute(#VIDEO, 1, #ATTRFORMAT), GetAttribute(#VIDEO, 2, #ATTRFORMAT))
// PlayVideo(1); PlayVideo(2); repeat WaitEvent() forever
// ended(msg): n = n + 1; DebugPrint(msg.action, msg.id)
//             if n == 2 then PlayVideo(1) end; if n == 3 then End() end
std::string EndEventsApplet(int driver, const std::string &a, const std::string &b) {
  return R"(
.func source="end.qms" maxstack=10
  .k "n" 0 "forcevideodriver" )" + std::to_string(driver) + R"( "installeventhandler" "onvideoend" "openvideo" 1 ")" + a +
         R"(" 2 ")" + b + R"(" "debugprint" "getattribute" 50 19 "playvideo" "waitevent"
      LOADK     0 k1        @1
      SETGLOBAL 0 k0
      GETGLOBAL 0 k2
      LOADK     1 k3
      CALL      0 2 1
      GETGLOBAL 0 k4
      NEWTABLE  1 0 1
      CLOSURE   2 p0
      SETTABLE  1 k5 2
      CALL      0 2 1
      GETGLOBAL 0 k6        @2
      LOADK     1 k7
      LOADK     2 k8
      CALL      0 3 1
      GETGLOBAL 0 k6
      LOADK     1 k9
      LOADK     2 k10
      CALL      0 3 1
      GETGLOBAL 0 k11       @3
      GETGLOBAL 1 k12
      LOADK     2 k13
      LOADK     3 k7
      LOADK     4 k14
      CALL      1 4 2
      GETGLOBAL 2 k12
      LOADK     3 k13
      LOADK     4 k9
      LOADK     5 k14
      CALL      2 4 2
      CALL      0 3 1
      GETGLOBAL 0 k15       @4
      LOADK     1 k7
      CALL      0 2 1
      GETGLOBAL 0 k15
      LOADK     1 k9
      CALL      0 2 1
loop: GETGLOBAL 0 k16
      CALL      0 1 1
      JMP       loop
      RETURN    0 1
  .func params=1 maxstack=6 line=5
    .k "n" 1 "debugprint" "action" "id" 2 "playvideo" 3 "end"
      GETGLOBAL 1 k0        @6
      ADD       1 1 k1
      SETGLOBAL 1 k0
      GETGLOBAL 2 k2        @7
      GETTABLE  3 0 k3
      GETTABLE  4 0 k4
      CALL      2 3 1
      EQ        0 1 k5      @8
      JMP       three
      GETGLOBAL 2 k6
      LOADK     3 k1
      CALL      2 2 1
three: EQ       0 1 k7      @9
      JMP       done
      GETGLOBAL 2 k8
      CALL      2 1 1
done: RETURN    0 1
  .end
.end
)";
}

}  // namespace

// Every video that plays to its end sends one end event, silent or with sound, on the system's
// back end and on the own engine; the system's back end names its format "QuickTime movie".
TEST(E2eVideo, EveryFinishedVideoSendsItsEndEvent) {
  PlayerDir d;
  ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -f lavfi -i color=c=red:s=16x8:r=10:d=0.4 -c:v png " +
                         d / "silent.mkv").c_str()),
            0);
  ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -f lavfi -i color=c=blue:s=16x8:r=10:d=0.4 -f lavfi -i "
                         "sine=f=440:d=0.4 -c:v png -c:a pcm_s16le -shortest " + d / "sound.mkv").c_str()),
            0);
  CdxlFixture fx = Clip();
  WriteFile(d / "silent.cdxl", fx.File());
  fx.soundSize = 64;
  WriteFile(d / "sound.cdxl", fx.File());
  const struct {
    int driver;
    const char *silent, *sound, *format;
  } cases[] = {{0, "silent.mkv", "sound.mkv", "QuickTime movie"}, {1, "silent.cdxl", "sound.cdxl", "CDXL"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.format);
    qmtools::WriteBytes(d / "end.qma", AppletOf(EndEventsApplet(c.driver, d / c.silent, d / c.sound)));
    // Nothing to wait for but the program's own end: a missing event fails at the deadline.
    PlayerResult r = d.Run({"-QUIET", d / "end.qma"}, {"SDL_AUDIODRIVER=dummy"}, "", [] { return false; });
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string names = std::string(c.format) + " " + c.format + "\n";
    ASSERT_EQ(r.out.substr(0, names.size()), names) << r.out;
    std::string events = r.out.substr(names.size());
    // The two first ends come in either order; the replayed silent video ends last.
    EXPECT_TRUE(events == "OnVideoEnd 1\nOnVideoEnd 2\nOnVideoEnd 1\n" ||
                events == "OnVideoEnd 2\nOnVideoEnd 1\nOnVideoEnd 1\n")
        << events;
  }
}

// DumpVideo from a script: three CDXL pictures with a sound byte each, dumped as ILBM files
// (netpbm reads them back) and a WAVE file whose 6 bytes of 16-bit sound are padded to 8; the
// sizes in its header count the padding in the RIFF size only.
TEST(E2eVideo, DumpWritesIlbmPicturesAndAPaddedWave) {
  PlayerDir d;
  CdxlFixture fx = Clip();
  fx.soundSize = 1;
  WriteFile(d / "clip.cdxl", fx.File());
  const std::string base = d / "out";
  const std::string script = ScriptOf({
      {false, "ForceVideoDriver", {1}},  // the own engine, which dumps
      {false, "OpenVideo", {1, d / "clip.cdxl"}},
      {false, "DumpVideo", {1, -3, -1, base, 4}},
      {false, "DumpVideo", {1}},  // shown only: no file is written
  });
  qmtools::WriteBytes(d / "d.qma", AppletOf(script));
  PlayerResult r = d.Run({"-QUIET", d / "d.qma"}, {"SDL_AUDIODRIVER=dummy"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string wave = ReadWholeFile(base + ".wav");
  ASSERT_EQ(wave.size(), 44u + 8u);
  EXPECT_EQ(wave.substr(0, 4), "RIFF");
  EXPECT_EQ(FileLe32(wave, 4), 44u);
  EXPECT_EQ(FileLe32(wave, 40), 6u);
  // The 8-bit sample of each frame, widened to 16 bits, then the two padding bytes.
  for (int f = 0; f < 3; f++) EXPECT_EQ(int8_t(wave[44 + 2 * f + 1]), int8_t(f - 40)) << f;
  EXPECT_EQ(wave.substr(50), std::string(2, '\0'));
  EXPECT_TRUE(ReadWholeFile(base + "3.iff").empty());
  if (!HasCommand("ilbmtoppm")) GTEST_SKIP() << "netpbm is missing";
  for (int f = 0; f < 3; f++) {
    PeerPicture pic;
    ASSERT_TRUE(PeerDecode(base + std::to_string(f) + ".iff", d / "ref", &pic)) << f;
    ASSERT_EQ(pic.width, fx.width);
    ASSERT_EQ(pic.height, fx.height);
    for (int y = 0; y < fx.height; y++)
      for (int x = 0; x < fx.width; x++) {
        const auto *p = reinterpret_cast<const uint8_t *>(pic.rgba.data()) + (size_t(y) * fx.width + size_t(x)) * 4;
        EXPECT_EQ(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2], fx.Colour(fx.index(f, x, y)))
            << f << ": " << x << "," << y;
      }
  }
}

// Single pictures of the system's back end: a lossless QuickTime movie whose frame n has red
// 25 n, green 255 - 25 n and blue 128 (ffmpeg's geq draws it). Frames come by number in any
// order (the same one twice, a later one, an earlier one after it) and by time, and a number
// after a time counts from the movie's start; past the last frame is 1457. The system's back
// end dumps no frames (1055) and takes no file without pictures (1450).
TEST(E2eVideo, SystemBackEndGrabsFramesByNumberAndTime) {
  PlayerDir d;
  ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -f lavfi -i \"color=black:s=32x16:r=10:d=1,format=rgb24,"
                         "geq=r='N*25':g='255-N*25':b=128\" -c:v png " + d / "clip.mov").c_str()),
            0);
  ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -f lavfi -i sine=f=440:d=0.5 " + d / "tone.mp3").c_str()), 0);
  auto colour = [](int n) { return std::to_string((25 * n) << 16 | (255 - 25 * n) << 8 | 128) + " -1\n"; };
  struct Case {
    const char *what;
    double position, mode;
    std::string answer;
  } cases[] = {
      {"frame 1", 1, 0, colour(0)},
      {"frame 1 again", 1, 0, colour(0)},
      {"the last frame", 10, 0, colour(9)},
      {"frame 6 after frame 10", 6, 0, colour(5)},
      {"450 ms", 450, 1, colour(4)},
      {"frame 2 after a time", 2, 0, colour(1)},
      {"0 ms", 0, 1, colour(0)},
  };
  std::vector<ScriptLine> lines = {{false, "ForceVideoDriver", {0.0}},
                                   {false, "OpenVideo", {1, d / "clip.mov"}},
                                   {true, "GetAttribute", {50, 1, 75}},
                                   {true, "GetAttribute", {50, 1, 11}}};
  std::string expected = "0\n10\n";
  for (size_t i = 0; i < std::size(cases); i++) {
    const Case &c = cases[i];
    lines.push_back({false, "GetVideoFrame", {double(10 + i), 1, c.position, c.mode}});
    lines.push_back({true, "ReadBrushPixel", {double(10 + i), 16, 8}});
    expected += c.answer;
  }
  lines.push_back({false, "ExitOnError", {0.0}});
  lines.push_back({false, "GetVideoFrame", {30, 1, 11}});
  lines.push_back({true, "GetLastError", {}});
  lines.push_back({false, "DumpVideo", {1}});
  lines.push_back({true, "GetLastError", {}});
  lines.push_back({false, "OpenVideo", {2, d / "tone.mp3"}});
  lines.push_back({true, "GetLastError", {}});
  lines.push_back({true, "IsVideo", {d / "tone.mp3"}});
  expected += "1457\n1055\n1450\n0\n";
  qmtools::WriteBytes(d / "grab.qma", AppletOf(ScriptOf(lines)));
  const PlayerResult r = d.Run({"-QUIET", d / "grab.qma"}, {"SDL_AUDIODRIVER=dummy"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, expected);
}

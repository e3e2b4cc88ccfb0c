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

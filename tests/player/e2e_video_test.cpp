// Videos through the real player: a video declared by the applet, one declared with its bytes
// inside the applet and ones the script opens by the names of files linked into the applet: CDXL
// files made beside the test, whose pictures must show the fixture's colours, and a clip of
// ffmpeg's in one colour.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

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
  EXPECT_EQ(r.out, Answers(fx) + Answers(fx) + Answers(fx) + "16711680 -1\n");
  EXPECT_EQ(d.TempEntries(), 0u) << "the copies of linked videos go with their videos";
}

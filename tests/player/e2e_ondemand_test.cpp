// The heavy libraries that only some commands need are opened by the first such command, not at
// start-up: FFmpeg for sound files in the system's formats and for movies, libtiff for TIFF
// pictures. Where FFmpeg is missing, those files fail as files nobody reads; where libtiff is, a
// TIFF picture fails naming the library, as a shape does without the player's shapes module.
#include <cstdlib>

#include "tests/platform/xvfb_server.h"
#include "tests/player/e2e_util.h"

namespace {

// The dynamic loader's own report of every library it maps, on standard error.
const char kLoaderReport[] = "LD_DEBUG=files";

bool Mapped(const PlayerResult &r, const std::string &soname) { return r.err.find("file=" + soname) != std::string::npos; }

// A FLAC sound and a Matroska movie with a sound track: only FFmpeg reads either.
void MakeFiles(const PlayerDir &d) {
  const std::string sound = "ffmpeg -loglevel error -y -f lavfi -i \"sine=frequency=440:sample_rate=22050:duration=0.2\" "
                            "-c:a flac " + d / "tone.flac";
  const std::string movie = "ffmpeg -loglevel error -y -f lavfi -i \"color=c=blue:s=16x8:r=10:d=0.3\" "
                            "-f lavfi -i \"sine=frequency=440:sample_rate=22050:duration=0.3\" "
                            "-c:v png -c:a pcm_s16le -shortest " + d / "clip.mkv";
  const std::string picture = "/usr/bin/python3 -c \"from PIL import Image; Image.new('RGB', (4, 2), (255, 0, 0)).save('" +
                              d / "red.tif" + "')\"";
  ASSERT_EQ(std::system(sound.c_str()), 0);
  ASSERT_EQ(std::system(movie.c_str()), 0);
  ASSERT_EQ(std::system(picture.c_str()), 0);
}

}  // namespace

TEST(E2eOnDemand, LibrariesOpenAtTheFirstFileThatNeedsThem) {
  PlayerDir d;
  MakeFiles(d);
  struct Case {
    const char *name;
    std::vector<ScriptLine> lines;
    const char *library;
    bool mapped;
    std::string out;
  };
  const Case cases[] = {
      {"a script that plays nothing", {{true, "IsSample", {1}}}, "libavformat.so.", false, "0\n"},
      {"nor shows a TIFF", {{true, "IsSample", {1}}}, "libtiff.so.", false, "0\n"},
      {"a TIFF picture", {{false, "LoadBrush", {1, d / "red.tif"}}, {true, "ReadBrushPixel", {1, 3, 1}}},
       "libtiff.so.", true, "16711680 -1\n"},
      {"a sound file", {{false, "LoadSample", {1, d / "tone.flac"}}, {true, "GetAttribute", {2, 1, 11}}}, "libavformat.so.", true, "4410\n"},
      {"a movie", {{false, "OpenVideo", {1, d / "clip.mkv"}}, {true, "GetAttribute", {50, 1, 11}}}, "libavformat.so.", true, "3\n"},
  };
  for (const Case &c : cases) {
    qmtools::WriteBytes(d / "a.qma", AppletOf(ScriptOf(c.lines)));
    PlayerResult r = d.Run({"-QUIET", d / "a.qma"}, {kLoaderReport, "SDL_AUDIODRIVER=dummy"});
    EXPECT_EQ(r.status, 0) << c.name << ": " << r.out;
    EXPECT_EQ(Mapped(r, c.library), c.mapped) << c.name;
    EXPECT_EQ(r.out, c.out) << c.name;
  }
}

// A window on an X server shows the player's own pixels: opening it maps no GL library.
TEST(E2eOnDemand, AWindowNeedsNoGlDriver) {
  int number = 0;
  pid_t xvfb = StartXvfb(&number);
  if (xvfb < 0) GTEST_SKIP() << "Xvfb cannot start here";
  ServerGuard server{xvfb};
  PlayerDir d;
  qmtools::WriteBytes(d / "a.qma", AppletOf(ScriptOf({{true, "GetAttribute", {21.0, 1.0, 0.0}}})));
  // The X libraries keep allocations to the end of the process: not ours to report here.
  PlayerResult r = d.Run({"-QUIET", d / "a.qma"}, {kLoaderReport, "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy",
                                                   "DISPLAY=:" + std::to_string(number), "ASAN_OPTIONS=detect_leaks=0"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "640\n");
  EXPECT_TRUE(Mapped(r, "libX11.so.")) << "the window was opened on the X server";
  EXPECT_FALSE(Mapped(r, "libGL")) << "a GL library was mapped";
}

TEST(E2eOnDemand, WithoutTheLibraryThoseFilesFail) {
  PlayerDir d;
  MakeFiles(d);
  // The shim answers for dlopen alone; a sanitized player must not insist on coming first.
  const std::vector<std::string> env = {"LD_PRELOAD=" QM_TEST_HIDELIB, "QM_TEST_HIDE_LIBS=libavformat,libtiff,quenmoorplayer-coverage",
                                        "SDL_AUDIODRIVER=dummy",
                                        "ASAN_OPTIONS=detect_leaks=1:verify_asan_link_order=0"};
  struct Case {
    const char *name;
    std::vector<ScriptLine> lines;
    const char *error;
  };
  const Case cases[] = {
      {"a sound file", {{true, "IsSample", {1}}, {false, "LoadSample", {1, d / "tone.flac"}}}, "Unknown"},
      {"a movie", {{true, "IsSample", {1}}, {false, "OpenVideo", {1, d / "clip.mkv"}}}, "not recognized as a video stream"},
      {"a TIFF picture", {{true, "IsSample", {1}}, {false, "LoadBrush", {1, d / "red.tif"}}},
       "Cannot open library libtiff.so.6!"},
      // The player's own module of shape rasterisers, were it not copied beside the player.
      {"a shape", {{true, "IsSample", {1}}, {false, "Circle", {20, 20, 5, 255}}},
       "Cannot open library quenmoorplayer-coverage.so!"},
  };
  for (const Case &c : cases) {
    qmtools::WriteBytes(d / "a.qma", AppletOf(ScriptOf(c.lines)));
    PlayerResult r = d.Run({"-QUIET", d / "a.qma"}, env);
    EXPECT_EQ(r.status, 1) << c.name << ": " << r.out << r.err;
    EXPECT_NE(r.err.find(c.error), std::string::npos) << c.name << ": " << r.err;
  }
}

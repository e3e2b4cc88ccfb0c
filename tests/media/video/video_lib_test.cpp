// The video library as a script calls it, on one open display: the refusals before anything
// changes, pictures grabbed into brushes by number and time, the driver choice, and a video
// played, paused, resumed and run to its end. Clips come from ffmpeg's lavfi; picture n has a
// colour given by a formula.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>

#include "display/displayops.h"
#include "display/display/displaylib.h"
#include "media/video/video.h"
#include "platform/audio.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"
#include "tests/display/brush/brush_vm.h"
#include "tests/media/videocore/cdxl_fixture.h"
#include "tests/media/videocore/video_test_util.h"
#include "tests/platform/tempdir.h"

namespace {

// Picture n: red 3n, green 250 - 3n, blue 2n + 40.
uint32_t Rgb(int n) { return uint32_t(3 * n) << 16 | uint32_t(250 - 3 * n) << 8 | uint32_t(2 * n + 40); }

std::string MakeClip(const TempDir &dir, double seconds) {
  std::string file = dir / "clip.mkv";
  std::string cmd = "ffmpeg -loglevel error -y -f lavfi -i color=c=black:s=32x24:r=10:d=" + std::to_string(seconds) +
                    " -vf \"format=gbrp,geq=r='3*N':g='250-3*N':b='2*N+40'\" -c:v png -pix_fmt rgb24 " + file;
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  return file;
}

struct VideoVm : BrushVm {
  TempDir dir;
  std::string clip = MakeClip(dir, 1.0);
  CmdArg Clip() const { return CmdArg::Str(clip.c_str()); }
  static std::string Shell(const std::string &command) {
    std::string out;
    if (FILE *p = popen(command.c_str(), "r")) {
      char buf[256];
      while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
      pclose(p);
    }
    return out;
  }
  qmVideo *Video(uint32_t id) {
    qmObjectId oid{id, 0};
    return reinterpret_cast<qmVideo *>(FindObject(L, QMTYPE_VIDEO, &oid));
  }
  // The grabbed brush's top-left colour as 0xRRGGBB, or -1.
  double Grabbed(double video, double position, double mode) {
    if (Call("GetVideoFrame", {50, video, position, mode}).code) return -1;
    return double(uint32_t(Read(50, 0, 0).first) & 0xFFFFFF);
  }
  bool WaitForState(uint32_t id, uint32_t state) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      if (Video(id)->state.load() == state) return true;
      std::this_thread::yield();
    }
    return false;
  }
};

TEST(VideoLib, RefusesBeforeChangingAnything) {
  VideoVm vm;
  std::string text = vm.dir / "text.txt";
  std::FILE *f = std::fopen(text.c_str(), "w");
  std::fputs("no video", f);
  std::fclose(f);
  std::string missing = vm.dir / "none.mkv";
  ASSERT_EQ(vm.Call("OpenVideo", {1, vm.Clip()}).code, 0u);
  struct Case {
    const char *name;
    const char *command;
    std::vector<CmdArg> args;
    uint32_t code;
  } cases[] = {
      {"seek before the start", "SeekVideo", {1, -1}, ERR_SEEKRANGE},
      {"seek to the duration", "SeekVideo", {1, 1000}, ERR_SEEKRANGE},
      {"seek to the last millisecond", "SeekVideo", {1, 999}, 0},
      {"frame 0", "GetVideoFrame", {5, 1, 0}, ERR_VIDEOFRAME},
      {"frame past the end", "GetVideoFrame", {5, 1, 11}, ERR_VIDEOFRAME},
      {"mode 2", "GetVideoFrame", {5, 1, 1, 2}, ERR_WRONGUSAGE},
      {"negative time", "GetVideoFrame", {5, 1, -1, 1}, ERR_SEEKRANGE},
      {"pause while stopped", "PauseVideo", {1}, ERR_VIDNOTPLAYING},
      {"resume while stopped", "ResumeVideo", {1}, ERR_VIDNOTPAUSED},
      {"no such video", "CloseVideo", {9}, ERR_FINDVIDEO},
      {"no such video to play", "PlayVideo", {9}, ERR_FINDVIDEO},
      {"a side of 0", "SetVideoSize", {1, 0, 10}, ERR_BADDIMENSIONS},
      {"no such file", "OpenVideo", {2, CmdArg::Str(missing.c_str())}, ERR_READFILE},
      {"no video in the file", "OpenVideo", {2, CmdArg::Str(text.c_str())}, ERR_LOADVIDEO},
      {"too few arguments", "SetVideoPosition", {1, 0}, ERR_MISSINGPARAMTR},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(vm.Call(c.command, c.args).code, c.code);
  }
  EXPECT_EQ(vm.Video(2), nullptr);  // failed opens leave no record
  EXPECT_EQ(vm.Video(1)->state.load(), uint32_t(VIDSTATE_STOPPED));
}

TEST(VideoLib, GrabsPicturesIntoBrushesByNumberAndTime) {
  VideoVm vm;
  ASSERT_EQ(vm.Call("OpenVideo", {1, vm.Clip()}).code, 0u);
  struct Case {
    double position, mode;
    int picture;
  } cases[] = {{1, 0, 0}, {10, 0, 9}, {4, 0, 3}, {500, 1, 5}, {7, 0, 6}, {0, 1, 0}, {999, 1, 9}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.position);
    EXPECT_EQ(vm.Grabbed(1, c.position, c.mode), double(Rgb(c.picture)));
  }
  ASSERT_NE(vm.Brush(50), nullptr);
  EXPECT_EQ(vm.Brush(50)->width, 32);
  EXPECT_EQ(vm.Brush(50)->height, 24);
}

TEST(VideoLib, DriverChoiceDecidesWhoOpens) {
  VideoVm vm;
  struct Case {
    double driver;
    uint32_t code;
    double isVideo;
  } cases[] = {{1, ERR_LOADVIDEO, 0}, {0, 0, 1}, {-1, 0, 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.driver);
    ASSERT_EQ(vm.Call("ForceVideoDriver", {c.driver}).code, 0u);
    EXPECT_EQ(vm.Call("IsVideo", {vm.Clip()}).results, std::vector<double>{c.isVideo});
    EXPECT_EQ(vm.Call("OpenVideo", {1, vm.Clip()}).code, c.code);
  }
}

// GetAttribute's rows of a video; the frame count as ffprobe counts it.
TEST(VideoLib, AnswersItsAttributes) {
  VideoVm vm;
  ASSERT_EQ(vm.Call("OpenVideo", {1, vm.Clip()}).code, 0u);
  ASSERT_EQ(vm.Call("SeekVideo", {1, 400}).code, 0u);
  int frames = std::atoi(
      vm.Shell("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 " +
               vm.clip).c_str());
  struct Case {
    const char *name;
    int attribute;
    double value;
  } cases[] = {
      {"width", 0, 32}, {"height", 1, 24}, {"frames", 11, double(frames)}, {"duration", 14, 1000},
      {"position after a seek while stopped", 18, 400}, {"can seek", 72, 1}, {"driver", 75, 0}, {"count", 60, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(vm.Call("GetAttribute", {50, 1, c.attribute}).results, std::vector<double>{c.value});
  }
  EXPECT_EQ(vm.Call("GetAttribute", {50, 9, 0}).code, uint32_t(ERR_FINDVIDEO));
  EXPECT_EQ(vm.Call("GetAttribute", {50, 1, 5}).code, uint32_t(ERR_UNKNOWNATTR));
}

TEST(VideoLib, SizeAndVolumeFollowTheirRules) {
  VideoVm vm;
  ASSERT_EQ(vm.Call("OpenVideo", {1, vm.Clip()}).code, 0u);
  qmVideo *v = vm.Video(1);
  struct Case {
    CmdArg width, height;
    int32_t w, h;
  } sizes[] = {{CmdArg::Str("200%"), CmdArg::Str("50%"), 64, 12}, {16, 100000, 16, 12}, {100000, 48, 64, 48}};
  for (const Case &c : sizes) {
    ASSERT_EQ(vm.Call("SetVideoSize", {1, c.width, c.height}).code, 0u);
    EXPECT_EQ(v->width, c.w);
    EXPECT_EQ(v->height, c.h);
  }
  struct Volume {
    CmdArg given;
    int32_t stored;
  } volumes[] = {{100, 64}, {CmdArg::Str("50%"), 32}, {-5, 0}, {20, 20}};
  for (const Volume &c : volumes) {
    ASSERT_EQ(vm.Call("SetVideoVolume", {1, c.given}).code, 0u);
    EXPECT_EQ(v->volume, c.stored);
  }
}

TEST(VideoLib, PlaysPausesAndEndsWithTheLastPictureShown) {
  VideoVm vm;
  ASSERT_EQ(vm.Call("OpenVideo", {1, vm.Clip()}).code, 0u);
  auto playing = [&] { return vm.Call("IsVideoPlaying", {1}).results; };
  const std::vector<double> yes{1}, no{0};
  ASSERT_EQ(vm.Call("PlayVideo", {1, 8, 4}).code, 0u);
  EXPECT_EQ(playing(), yes);
  EXPECT_EQ(vm.Video(1)->x, 8);
  EXPECT_EQ(vm.Call("PlayVideo", {1}).code, uint32_t(ERR_VIDPLAYING));
  EXPECT_EQ(vm.Call("GetVideoFrame", {5, 1, 1}).code, uint32_t(ERR_FGRABVIDSTATE));
  ASSERT_EQ(vm.Call("PauseVideo", {1}).code, 0u);
  EXPECT_EQ(playing(), no);
  EXPECT_EQ(vm.Call("PlayVideo", {1}).code, uint32_t(ERR_VIDPAUSED));
  ASSERT_EQ(vm.Call("ResumeVideo", {1}).code, 0u);
  EXPECT_EQ(playing(), yes);
  ASSERT_TRUE(vm.WaitForState(1, VIDSTATE_ENDED));
  EXPECT_EQ(playing(), no);
  // Ended: played again from the beginning.
  ASSERT_EQ(vm.Call("PlayVideo", {1}).code, 0u);
  EXPECT_EQ(playing(), yes);
  ASSERT_EQ(vm.Call("StopVideo", {1}).code, 0u);
  EXPECT_EQ(playing(), no);
  EXPECT_EQ(vm.Video(1)->display, nullptr);
  // A number in use is taken over by the new video; closing a playing one stops it first.
  ASSERT_EQ(vm.Call("PlayVideo", {1}).code, 0u);
  ASSERT_EQ(vm.Call("OpenVideo", {1, vm.Clip()}).code, 0u);
  EXPECT_EQ(playing(), no);
  ASSERT_EQ(vm.Call("PlayVideo", {1}).code, 0u);
  ASSERT_EQ(vm.Call("CloseVideo", {1}).code, 0u);
  EXPECT_EQ(vm.Video(1), nullptr);
  // Left playing at the end of the run: the library's shut-down stops it.
  ASSERT_EQ(vm.Call("OpenVideo", {3, vm.Clip()}).code, 0u);
  ASSERT_EQ(vm.Call("PlayVideo", {3}).code, 0u);
}

// Videos follow their display: closing its window is refused while they are shown on it, a
// paused one counts as shown, a stopped one does not; a display that goes stops them before
// anything of it is freed.
TEST(VideoLib, FollowsItsDisplay) {
  VideoVm vm;
  std::string longer = vm.dir / "long.mkv";
  std::rename(MakeClip(vm.dir, 20.0).c_str(), longer.c_str());
  ASSERT_EQ(vm.Call("OpenVideo", {1, CmdArg::Str(longer.c_str())}).code, 0u);
  ASSERT_EQ(vm.Call("PlayVideo", {1}).code, 0u);
  EXPECT_EQ(vm.Call("CloseDisplay", {1}).code, uint32_t(ERR_VIDATTACHED));
  EXPECT_EQ(vm.Video(1)->state.load(), uint32_t(VIDSTATE_PLAYING));
  ASSERT_EQ(vm.Call("PauseVideo", {1}).code, 0u);
  EXPECT_EQ(vm.Call("CloseDisplay", {1}).code, uint32_t(ERR_VIDATTACHED));
  ASSERT_EQ(vm.Call("StopVideo", {1}).code, 0u);
  ASSERT_EQ(vm.Call("CloseDisplay", {1}).code, 0u);
  ASSERT_EQ(vm.Call("OpenDisplay", {1}).code, 0u);
  ASSERT_EQ(vm.Call("PlayVideo", {1}).code, 0u);
  EXPECT_EQ(vm.Video(1)->state.load(), uint32_t(VIDSTATE_PLAYING));
  ASSERT_EQ(vm.Create(2, [&] { vm.Set("width", 64), vm.Set("height", 48); }).code, 0u);
  ASSERT_EQ(vm.Call("OpenDisplay", {2}).code, 0u);
  ASSERT_EQ(vm.Call("SelectDisplay", {2}).code, 0u);
  ASSERT_EQ(vm.Call("OpenVideo", {2, CmdArg::Str(longer.c_str())}).code, 0u);
  ASSERT_EQ(vm.Call("PlayVideo", {2}).code, 0u);
  ASSERT_EQ(vm.Call("SelectDisplay", {1}).code, 0u);
  ASSERT_EQ(vm.Call("FreeDisplay", {2}).code, 0u);
  EXPECT_EQ(vm.Video(2)->state.load(), uint32_t(VIDSTATE_STOPPED));
  EXPECT_EQ(vm.Video(2)->display, nullptr);
  EXPECT_EQ(vm.Video(1)->state.load(), uint32_t(VIDSTATE_PLAYING));
}

// A video keeps its place on a display that is drawn again or changes its scale: the window's
// pixels show the paused picture at the rectangle scaled with the display, the background
// elsewhere, and the pictures that follow a resume come at the new size.
TEST(VideoLib, FollowsAResizedOrRefreshedDisplay) {
  VideoVm vm;
  std::string longer = vm.dir / "long.mkv";
  std::rename(MakeClip(vm.dir, 20.0).c_str(), longer.c_str());
  const uint32_t background = 0x102030;
  qmDisplay *d = vm.d;
  auto near = [](uint32_t a, uint32_t b) {
    for (int shift : {16, 8, 0})
      if (std::abs(int(a >> shift & 0xFF) - int(b >> shift & 0xFF)) > 2) return false;
    return true;
  };
  // Pumps the other threads' window updates until the pixel passes the test.
  auto waitFor = [&](int x, int y, const std::function<bool(uint32_t)> &ok) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      FlushDisplayUpdates(vm.Scene());
      if (ok(DisplayVm::WindowPixel(d, x, y))) return true;
      std::this_thread::yield();
    }
    return false;
  };
  // The video's 32 x 24 at (8, 4), times the scale: inside it the picture's colour, around it the
  // background.
  auto expectPlaced = [&](const char *name, int scale, uint32_t colour) {
    SCOPED_TRACE(name);
    const int x = 8 * scale, y = 4 * scale, w = 32 * scale, h = 24 * scale;
    const int inside[][2] = {{x, y}, {x + w - 1, y}, {x + w / 2, y + h / 2}, {x, y + h - 1}, {x + w - 1, y + h - 1}};
    for (const auto &p : inside) EXPECT_TRUE(near(DisplayVm::WindowPixel(d, p[0], p[1]), colour)) << p[0] << "," << p[1];
    const int outside[][2] = {{x - 1, y}, {x + w, y}, {x, y + h}, {x + w, y + h}};
    for (const auto &p : outside) EXPECT_EQ(DisplayVm::WindowPixel(d, p[0], p[1]), background) << p[0] << "," << p[1];
  };
  ASSERT_EQ(vm.Call("OpenVideo", {1, CmdArg::Str(longer.c_str())}).code, 0u);
  ASSERT_EQ(vm.Call("PlayVideo", {1, 8, 4}).code, 0u);
  ASSERT_TRUE(waitFor(24, 16, [&](uint32_t c) { return c != background; }));
  ASSERT_EQ(vm.Call("PauseVideo", {1}).code, 0u);
  // The refresh paints the picture and the paused video comes back over it at once.
  RefreshDisplayCore(vm.L, d, 0);
  const uint32_t paused = DisplayVm::WindowPixel(d, 24, 16);
  ASSERT_NE(paused, background);
  expectPlaced("refreshed", 1, paused);
  RefreshDisplayCore(vm.L, d, 0);
  expectPlaced("refreshed again", 1, paused);
  // Grown by the script without a scale mode: the window is painted anew, the video over it.
  ASSERT_EQ(vm.Call("ChangeDisplaySize", {96, 64}).code, 0u);
  ASSERT_EQ(d->width, 96);
  expectPlaced("grown", 1, paused);
  // Scaled by the script (the window is made again at twice the size), then by the user's resize.
  ASSERT_EQ(vm.CallWith("setdisplayattributes", [&] {
                 vm_newtable(vm.L);
                 vm.Set("scalemode", 1);
                 vm.Set("scalewidth", 192);
                 vm.Set("scaleheight", 128);
                 return 1;
               }).code,
            0u);
  d = vm.Display(1);
  ASSERT_EQ(d->scaleX, 2.0);
  expectPlaced("scaled by the script", 2, paused);
  SDL_SetWindowSize(d->platform->window, 288, 192);
  ASSERT_EQ(ResizeDisplay(vm.Scene(), d, kKeepPosition, kKeepPosition, 288, 192, 0, d->scaleMode), 0u);
  ASSERT_EQ(d->scaleX, 3.0);
  expectPlaced("scaled by the window", 3, paused);
  EXPECT_EQ(vm.Video(1)->screenWidth, 96);
  // Playing on, the next pictures fill the whole new rectangle.
  ASSERT_EQ(vm.Call("ResumeVideo", {1}).code, 0u);
  ASSERT_TRUE(waitFor(24 + 95, 12 + 71, [&](uint32_t c) { return !near(c, paused) && c != background; }));
  expectPlaced("playing at the new scale", 3, DisplayVm::WindowPixel(d, 24, 12));
  // Moved while paused: drawn at once at its new place, nothing left at the old one.
  ASSERT_EQ(vm.Call("PauseVideo", {1}).code, 0u);
  RefreshDisplayCore(vm.L, d, 0);
  const uint32_t moved = DisplayVm::WindowPixel(d, 24, 12);
  ASSERT_EQ(vm.Call("SetVideoPosition", {1, 16, 8}).code, 0u);
  EXPECT_EQ(DisplayVm::WindowPixel(d, 24, 12), background);
  EXPECT_TRUE(near(DisplayVm::WindowPixel(d, 48, 24), moved));
  EXPECT_TRUE(near(DisplayVm::WindowPixel(d, 48 + 95, 24 + 71), moved));
}

// A video that runs past the right edge of its display is cut at the picture's edge, not at the
// window's: in a letterboxed window the bar beside the picture stays black.
// Display 1 scaled to 128 x 96 keeping its proportions in a window of 200 x 96: the picture
// between bars of 36 columns.
void Letterbox(VideoVm &vm) {
  ASSERT_EQ(vm.CallWith("setdisplayattributes", [&] {
                 vm_newtable(vm.L);
                 vm.Set("scalemode", 1);
                 vm.Set("scalewidth", 128);
                 vm.Set("scaleheight", 96);
                 vm.Set("keepproportions", 1);
                 return 1;
               }).code,
            0u);
  qmDisplay *d = vm.Display(1);
  SDL_SetWindowSize(d->platform->window, 200, 96);
  ASSERT_EQ(ResizeDisplay(vm.Scene(), d, kKeepPosition, kKeepPosition, 200, 96, 0, d->scaleMode), 0u);
  ASSERT_EQ(d->marginLeft, 36);
  ASSERT_EQ(d->scaleWidth, 128);
}

TEST(VideoLib, StaysInsideItsPictureInALetterboxedWindow) {
  VideoVm vm;
  std::string longer = vm.dir / "long.mkv";
  std::rename(MakeClip(vm.dir, 20.0).c_str(), longer.c_str());
  ASSERT_NO_FATAL_FAILURE(Letterbox(vm));
  qmDisplay *d = vm.Display(1);
  // At x 48 of 64 the video's right half lies past the picture; at 2x from window column 132.
  ASSERT_EQ(vm.Call("OpenVideo", {1, CmdArg::Str(longer.c_str())}).code, 0u);
  ASSERT_EQ(vm.Call("PlayVideo", {1, 48, 4}).code, 0u);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (DisplayVm::WindowPixel(d, 140, 20) == 0x102030 && std::chrono::steady_clock::now() < deadline) {
    FlushDisplayUpdates(vm.Scene());
    std::this_thread::yield();
  }
  const uint32_t shown = DisplayVm::WindowPixel(d, 140, 20);
  ASSERT_NE(shown, 0x102030u);
  EXPECT_EQ(DisplayVm::WindowPixel(d, 163, 20), shown);
  for (int x : {164, 180, 199}) EXPECT_EQ(DisplayVm::WindowPixel(d, x, 20), 0u) << x;
}

// Sound goes to the null sink while a test's VM lives (declared before it, gone after it).
struct NullAudio {
  NullAudio() { SetAudioSink(&kNullAudioSink); }
  ~NullAudio() { SetAudioSink(nullptr); }
};

// A CDXL file of 32 x 8 pixels in 4 colours, with 3 bytes of sound a frame.
CdxlFixture SmallCdxl(int frames, uint32_t soundSize) {
  CdxlFixture fx;
  fx.width = 32;
  fx.height = 8;
  fx.soundSize = soundSize;
  fx.frames = frames;
  fx.index = [](int f, int x, int y) { return (x / 3 + y * 2 + f) % 4; };
  return fx;
}

// Every pixel of frame f as the fixture draws it, against 0xRRGGBB colours read at (x, y).
template <typename Read>
void ExpectFixtureFrame(const CdxlFixture &fx, int f, Read read) {
  for (int y = 0; y < fx.height; y++)
    for (int x = 0; x < fx.width; x++)
      ASSERT_EQ(read(x, y), fx.Colour(fx.index(f, x, y))) << "frame " << f << " at " << x << "," << y;
}

// The engine's own reader takes CDXL files: pictures grabbed by number show the fixture's
// colours, the frame count is ffprobe's, and the video plays, sound and all, to its end.
TEST(VideoLib, PlaysCdxlFilesOnTheOwnEngine) {
  NullAudio audio;
  VideoVm vm;
  const CdxlFixture fx = SmallCdxl(5, 3);
  const std::string file = vm.dir / "clip.cdxl";
  WriteFile(file, fx.File());
  ASSERT_EQ(vm.Call("ForceVideoDriver", {1}).code, 0u);
  EXPECT_EQ(vm.Call("IsVideo", {CmdArg::Str(file.c_str())}).results, std::vector<double>{1});
  ASSERT_EQ(vm.Call("OpenVideo", {1, CmdArg::Str(file.c_str())}).code, 0u);
  EXPECT_EQ(vm.Call("GetAttribute", {50, 1, 11}).results, std::vector<double>{5});
  EXPECT_EQ(vm.Call("GetAttribute", {50, 1, 75}).results, std::vector<double>{1});  // the own driver
  if (HaveFfmpeg()) {
    const std::string probed = CommandOutput("ffprobe -v error -f cdxl -count_frames -select_streams v:0 "
                                             "-show_entries stream=nb_read_frames -of csv=p=0 '" + file + "'");
    EXPECT_EQ(std::atoi(probed.c_str()), 5);
  }
  for (int f : {0, 3, 4, 1}) {
    ASSERT_EQ(vm.Call("GetVideoFrame", {50, 1, f + 1}).code, 0u);
    ExpectFixtureFrame(fx, f, [&](int x, int y) { return uint32_t(vm.Read(50, x, y).first) & 0xFFFFFF; });
  }
  EXPECT_EQ(vm.Call("GetVideoFrame", {50, 1, 6}).code, uint32_t(ERR_VIDEOFRAME));
  ASSERT_EQ(vm.Call("SetVideoSize", {1, 64, 16}).code, 0u);
  ASSERT_EQ(vm.Call("PlayVideo", {1, 4, 4}).code, 0u);
  ASSERT_TRUE(vm.WaitForState(1, VIDSTATE_ENDED));
  ASSERT_EQ(vm.Call("StopVideo", {1}).code, 0u);
}

// What python's wave module reads of a file: channels, rate, sample width, frames, then the
// frames' bytes in hexadecimal.
std::string PeerWave(const std::string &file) {
  return CommandOutput(std::string(kPeerPython) +
                       " -c 'import sys, wave\nw = wave.open(sys.argv[1])\n"
                       "print(w.getnchannels(), w.getframerate(), w.getsampwidth(), w.getnframes(), "
                       "w.readframes(w.getnframes()).hex())' '" + file + "'");
}

// DumpVideo saves every picture as base%d.ext (decoded by PIL) and the sound as base.wav (read by
// python's wave module), its data padded to 4 bytes.
TEST(VideoLib, DumpsPicturesAndSoundToFiles) {
  VideoVm vm;
  const CdxlFixture fx = SmallCdxl(3, 3);
  const std::string file = vm.dir / "clip.cdxl", base = vm.dir / "out";
  WriteFile(file, fx.File());
  ASSERT_EQ(vm.Call("OpenVideo", {1, CmdArg::Str(file.c_str())}).code, 0u);
  ASSERT_EQ(vm.Call("GetVideoFrame", {50, 1, 2}).code, 0u);  // the dump starts at the beginning all the same
  ASSERT_EQ(vm.Call("DumpVideo", {1, 0, 0, CmdArg::Str(base.c_str()), 1}).code, 0u);
  for (int f = 0; f < 3; f++) {
    PeerPicture pic;
    ASSERT_TRUE(PeerDecode(base + std::to_string(f) + ".png", vm.dir / "ref", &pic)) << f;
    ASSERT_EQ(pic.width, 32);
    ASSERT_EQ(pic.height, 8);
    ExpectFixtureFrame(fx, f, [&](int x, int y) {
      const auto *p = reinterpret_cast<const uint8_t *>(pic.rgba.data()) + (size_t(y) * 32 + size_t(x)) * 4;
      return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    });
  }
  EXPECT_TRUE(ReadWholeFile(base + "3.png").empty());
  // 3 frames of 3 samples, each the fixture's signed byte times 256, little-endian.
  std::string samples;
  for (int f = 0; f < 3; f++)
    for (int i = 0; i < 3; i++) {
      char hex[8];
      const int16_t v = int16_t(int8_t(i * 3 - 40 + f) * 256);
      std::snprintf(hex, sizeof hex, "%02x%02x", unsigned(uint16_t(v) & 255), unsigned(uint16_t(v) >> 8));
      samples += hex;
    }
  const uint32_t rate = uint32_t(3 * (153600.0 / fx.Size()));
  EXPECT_EQ(PeerWave(base + ".wav"), "1 " + std::to_string(rate) + " 2 9 " + samples);
  const std::string wave = ReadWholeFile(base + ".wav");
  EXPECT_EQ(wave.size(), 44u + 20u);
  EXPECT_EQ(FileLe32(wave, 4), 20u + 36u);
  EXPECT_EQ(FileLe32(wave, 40), 18u);
  // The video plays from its beginning after the dump.
  ASSERT_EQ(vm.Call("GetVideoFrame", {50, 1, 1}).code, 0u);
  ExpectFixtureFrame(fx, 0, [&](int x, int y) { return uint32_t(vm.Read(50, x, y).first) & 0xFFFFFF; });

  // Without sound the WAVE file is a header alone; without a base name nothing is written.
  const std::string silent = vm.dir / "silent.cdxl", quiet = vm.dir / "quiet";
  WriteFile(silent, SmallCdxl(2, 0).File());
  ASSERT_EQ(vm.Call("OpenVideo", {2, CmdArg::Str(silent.c_str())}).code, 0u);
  ASSERT_EQ(vm.Call("DumpVideo", {2, 0, 0, CmdArg::Str(quiet.c_str()), 0}).code, 0u);
  const std::string header = ReadWholeFile(quiet + ".wav");
  EXPECT_EQ(header.size(), 44u);
  EXPECT_EQ(FileLe32(header, 4), 36u);
  EXPECT_EQ(FileLe32(header, 40), 0u);
  EXPECT_EQ(ReadWholeFile(quiet + "1.bmp").substr(0, 2), "BM");
  auto files = [&] {
    auto it = std::filesystem::directory_iterator(vm.dir.path());
    return std::distance(it, std::filesystem::directory_iterator());
  };
  const auto before = files();
  ASSERT_EQ(vm.Call("DumpVideo", {2, -8, 100}).code, 0u);
  EXPECT_EQ(files(), before);
}

// Dumped pictures keep to the picture of a letterboxed display, as played ones do.
TEST(VideoLib, DumpedPicturesStayInsideALetterboxedPicture) {
  VideoVm vm;
  const CdxlFixture fx = SmallCdxl(2, 3);
  const std::string file = vm.dir / "clip.cdxl", base = vm.dir / "out";
  WriteFile(file, fx.File());
  ASSERT_NO_FATAL_FAILURE(Letterbox(vm));
  qmDisplay *d = vm.Display(1);
  ASSERT_EQ(vm.Call("OpenVideo", {1, CmdArg::Str(file.c_str())}).code, 0u);
  // Shown unscaled from window column 36 + 120: its first 8 columns lie in the picture, the rest
  // over the bar on the right, which stays black.
  ASSERT_EQ(vm.Call("DumpVideo", {1, 120, 4, CmdArg::Str(base.c_str()), 1}).code, 0u);
  FlushDisplayUpdates(vm.Scene());
  for (int x : {156, 163}) EXPECT_NE(DisplayVm::WindowPixel(d, x, 8), 0x102030u) << x;
  for (int x : {164, 180, 187}) EXPECT_EQ(DisplayVm::WindowPixel(d, x, 8), 0u) << x;
}

TEST(VideoLib, DumpVideoRefusesWhatItCannotDump) {
  NullAudio audio;
  VideoVm vm;
  const std::string file = vm.dir / "clip.cdxl", unwritable = vm.dir / "none/out";
  WriteFile(file, SmallCdxl(2, 3).File());
  ASSERT_EQ(vm.Call("OpenVideo", {1, CmdArg::Str(file.c_str())}).code, 0u);
  ASSERT_EQ(vm.Call("OpenVideo", {2, vm.Clip()}).code, 0u);  // the system's back end plays it
  struct Case {
    const char *name;
    std::vector<CmdArg> args;
    uint32_t code;
  } cases[] = {
      {"format 5", {1, 0, 0, CmdArg::Str("x"), 5}, ERR_WRONGUSAGE},
      {"format -1", {1, 0, 0, CmdArg::Str("x"), -1}, ERR_WRONGUSAGE},
      {"a system movie", {2}, ERR_WRONGUSAGE},
      {"no such video", {9}, ERR_FINDVIDEO},
      {"a folder that does not exist", {1, 0, 0, CmdArg::Str(unwritable.c_str()), 1}, ERR_WRITEFILE},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(vm.Call("DumpVideo", c.args).code, c.code);
  }
  ASSERT_EQ(vm.Call("PlayVideo", {1}).code, 0u);
  EXPECT_EQ(vm.Call("DumpVideo", {1}).code, uint32_t(ERR_WRONGUSAGE));
}

// The engine presents pictures straight into the window: double buffering waits until no video
// is shown on the display, an ended one with its last picture in view included.
TEST(VideoLib, DoubleBufferingWaitsForShownVideos) {
  VideoVm vm;
  ASSERT_EQ(vm.Call("OpenVideo", {1, vm.Clip()}).code, 0u);
  EXPECT_EQ(vm.Call("BeginDoubleBuffer", {}).code, 0u);
  EXPECT_EQ(vm.Call("PlayVideo", {1}).code, uint32_t(ERR_SELECTBRUSH));
  ASSERT_EQ(vm.Call("EndDoubleBuffer", {}).code, 0u);
  ASSERT_EQ(vm.Call("PlayVideo", {1}).code, 0u);
  EXPECT_EQ(vm.Call("BeginDoubleBuffer", {}).code, uint32_t(ERR_VIDATTACHED));
  ASSERT_EQ(vm.Call("PauseVideo", {1}).code, 0u);
  EXPECT_EQ(vm.Call("BeginDoubleBuffer", {}).code, uint32_t(ERR_VIDATTACHED));
  ASSERT_EQ(vm.Call("ResumeVideo", {1}).code, 0u);
  ASSERT_TRUE(vm.WaitForState(1, VIDSTATE_ENDED));
  EXPECT_EQ(vm.Call("BeginDoubleBuffer", {}).code, uint32_t(ERR_VIDATTACHED));
  ASSERT_EQ(vm.Call("StopVideo", {1}).code, 0u);
  EXPECT_EQ(vm.Call("BeginDoubleBuffer", {}).code, 0u);
  EXPECT_EQ(vm.Call("EndDoubleBuffer", {}).code, 0u);
}

// A shown video covers its on-screen rectangle, left and top edges included: Plot leaves the
// window there to the video and puts the pixel into the background copy alone.
TEST(VideoLib, CoversItsRectangleOfTheWindow) {
  VideoVm vm;
  const qmPlayerContext *ctx = GetPlayerContext(vm.L);
  qmDisplay *d = vm.Scene()->current;
  ASSERT_EQ(vm.Call("OpenVideo", {1, vm.Clip()}).code, 0u);
  EXPECT_EQ(ctx->videoAtPoint(vm.L, d, 10, 10), 0);  // stopped: not shown
  ASSERT_EQ(vm.Call("PlayVideo", {1, 8, 4}).code, 0u);
  struct Case {
    int32_t x, y;
    int covered;
  } cases[] = {{8, 4, 1}, {39, 27, 1}, {40, 27, 0}, {39, 28, 0}, {7, 10, 0}, {20, 3, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    EXPECT_EQ(ctx->videoAtPoint(vm.L, d, c.x, c.y), c.covered);
  }
  ASSERT_EQ(vm.Call("Plot", {9, 5, 0xABCDEF}).code, 0u);
  EXPECT_EQ(vm.Call("ReadPixel", {9, 5}).results, std::vector<double>{0xABCDEF});
  ASSERT_EQ(vm.Call("StopVideo", {1}).code, 0u);
  EXPECT_EQ(ctx->videoAtPoint(vm.L, d, 8, 4), 0);
}

}  // namespace

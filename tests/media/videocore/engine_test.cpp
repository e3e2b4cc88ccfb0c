// The video engine over FFmpeg: clips that ffmpeg's lavfi makes, where picture n has a colour
// given by a formula; ffprobe counts the pictures. Playback runs the engine's own threads
// against a display record whose queued window updates the tests read back.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "display/display.h"
#include "display/displayops.h"
#include "graphics/bitmap.h"
#include "media/videocore/engine.h"
#include "media/videocore/videosource.h"
#include "platform/avlibrary.h"
#include "platform/mutex.h"
#include "runtime/errcodes.h"
#include "tests/platform/tempdir.h"

namespace {

std::string RunCommand(const std::string &command) {
  std::string out;
  if (FILE *p = popen(command.c_str(), "r")) {
    char buf[256];
    while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    pclose(p);
  }
  return out;
}

// Picture n of every clip (n below 84): red 3n, green 250 - 3n, blue 2n + 40.
uint32_t ColourOf(int n) { return 0xFF000000u | uint32_t(3 * n) << 16 | uint32_t(250 - 3 * n) << 8 | uint32_t(2 * n + 40); }

const char *kColourFilter = "format=gbrp,geq=r='3*N':g='250-3*N':b='2*N+40'";

// A clip of `seconds` at 10 pictures a second, 32 x 24; extra: codec and sound arguments.
std::string MakeClip(const TempDir &dir, const std::string &name, double seconds, const std::string &extra) {
  std::string file = dir / name;
  std::string cmd = "ffmpeg -loglevel error -y -f lavfi -i color=c=black:s=32x24:r=10:d=" + std::to_string(seconds) +
                    " " + extra + " -vf \"" + kColourFilter + "\" " + file + " 2>&1";
  std::string err = RunCommand(cmd);
  EXPECT_EQ(err, "") << cmd;
  return file;
}

std::string LosslessClip(const TempDir &dir, double seconds) {
  return MakeClip(dir, "clip.mkv", seconds, "-c:v png -pix_fmt rgb24");
}

int ProbeFrameCount(const std::string &file) {
  return std::atoi(RunCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
                       "-of csv=p=0 " + file).c_str());
}

bool Near(uint32_t a, uint32_t b, int tolerance) {
  for (int shift = 0; shift < 24; shift += 8) {
    int d = int((a >> shift) & 255) - int((b >> shift) & 255);
    if (d > tolerance || d < -tolerance) return false;
  }
  return true;
}

// The engine's 32-bit pixel (bytes A, R, G, B) as $AARRGGBB.
uint32_t ArgbOfPixel(const uint32_t *p) {
  auto *b = reinterpret_cast<const uint8_t *>(p);
  return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
}

struct Engine {
  qmVideoEngine *e = nullptr;
  ~Engine() { FreeVideoEngine(e); }
};

TEST(VideoEngine, OpensFilesThatHoldPicturesOnly) {
  TempDir dir;
  std::string sound = dir / "sound.wav";
  RunCommand("ffmpeg -loglevel error -y -f lavfi -i sine=duration=0.5 " + sound);
  std::string text = dir / "text.txt";
  std::FILE *f = std::fopen(text.c_str(), "w");
  std::fputs("no video here", f);
  std::fclose(f);
  struct Case {
    const char *name;
    std::string path;
    uint32_t code;
  } cases[] = {
      {"missing file", dir / "none.mkv", ERR_READFILE},
      {"a folder", dir.path(), ERR_READFILE},
      {"sound only", sound, ERR_LOADVIDEO},
      {"not a media file", text, ERR_LOADVIDEO},
      {"a clip", LosslessClip(dir, 1.0), 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Engine g;
    EXPECT_EQ(OpenVideoEngine(c.path.c_str(), VIDBACKEND_SYSTEM, &g.e), c.code);
    EXPECT_EQ(g.e != nullptr, c.code == 0);
  }
}

// No own reader takes these files yet: only the system's back end plays them.
TEST(VideoEngine, DriverChoiceOrdersTheBackEnds) {
  TempDir dir;
  std::string clip = LosslessClip(dir, 1.0);
  struct Case {
    int32_t driver;
    uint32_t code, backend;
  } cases[] = {
      {-1, 0, VIDBACKEND_SYSTEM},
      {VIDDRV_OS, 0, VIDBACKEND_SYSTEM},
      {VIDDRV_QUENMOOR, ERR_LOADVIDEO, VIDBACKEND_OWN},
      {7, 0, VIDBACKEND_SYSTEM},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.driver);
    Engine g;
    uint32_t backend = 99;
    EXPECT_EQ(OpenVideoBackend(clip.c_str(), c.driver, &g.e, &backend), c.code);
    EXPECT_EQ(backend, c.backend);
  }
}

TEST(VideoEngine, ReportsSizeDurationAndFrameCountOfTheFile) {
  TempDir dir;
  std::string file = LosslessClip(dir, 2.0);
  Engine g;
  ASSERT_EQ(OpenVideoEngine(file.c_str(), VIDBACKEND_SYSTEM, &g.e), 0u);
  const qmVideoInfo *info = VideoEngineInfo(g.e);
  EXPECT_EQ(info->width, 32);
  EXPECT_EQ(info->height, 24);
  EXPECT_EQ(info->duration, 2000u);
  EXPECT_EQ(info->channels, 0u);
  EXPECT_TRUE(info->flags & VIDEOINFO_SEEKABLE);
  EXPECT_EQ(VideoEngineFrameCount(g.e), ProbeFrameCount(file));
  EXPECT_STREQ(VideoEngineFormatName(g.e), "QuickTime movie");
}

// Grabs in one sequence, so that each step starts where the one before left the source.
TEST(VideoEngine, GrabsPicturesByNumberAndTime) {
  TempDir dir;
  std::string file = LosslessClip(dir, 2.0);
  const int frames = ProbeFrameCount(file);
  ASSERT_EQ(frames, 20);
  Engine g;
  ASSERT_EQ(OpenVideoEngine(file.c_str(), VIDBACKEND_SYSTEM, &g.e), 0u);
  struct Step {
    const char *name;
    int32_t mode;
    int64_t where;
    uint32_t code;
    int picture;
  } steps[] = {
      {"first", VIDGRAB_FRAME, 0, 0, 0},
      {"the same again", VIDGRAB_FRAME, 0, 0, 0},
      {"forward", VIDGRAB_FRAME, 9, 0, 9},
      {"backward rewinds", VIDGRAB_FRAME, 5, 0, 5},
      {"the last", VIDGRAB_FRAME, frames - 1, 0, frames - 1},
      {"past the end", VIDGRAB_FRAME, frames, ERR_VIDEOFRAME, -1},
      {"after a failure", VIDGRAB_FRAME, 3, 0, 3},
      {"by time", VIDGRAB_TIME, 1200, 0, 12},
      // Numbers after a time grab count from the file's start, not from the time.
      {"number after time", VIDGRAB_FRAME, 13, 0, 13},
      {"by time again", VIDGRAB_TIME, 1500, 0, 15},
      {"earlier number after time", VIDGRAB_FRAME, 2, 0, 2},
      {"time zero", VIDGRAB_TIME, 0, 0, 0},
  };
  for (const Step &s : steps) {
    SCOPED_TRACE(s.name);
    const uint32_t *pixels = nullptr;
    int32_t w = 0, h = 0;
    ASSERT_EQ(GrabVideoEngineFrame(g.e, s.mode, s.where, 15, &pixels, &w, &h), s.code);
    if (s.code) continue;
    ASSERT_EQ(w, 32);
    ASSERT_EQ(h, 24);
    EXPECT_EQ(pixels[0], ColourOf(s.picture));
    EXPECT_EQ(pixels[w * h - 1], ColourOf(s.picture));
  }
}

// A display record that the engine queues window updates to, and the end reported to it.
struct Playback {
  qmDisplay *display = NewDisplayRecord(1);
  std::mutex m;
  std::condition_variable cv;
  int ends = 0;
  static void Ended(qmVideoEngine *, void *user) {
    auto *p = static_cast<Playback *>(user);
    std::lock_guard<std::mutex> lock(p->m);
    p->ends++;
    p->cv.notify_all();
  }
  qmVideoStart Start(int32_t w, int32_t h) {
    qmVideoStart s{};
    s.display = display;
    s.width = w;
    s.height = h;
    s.volume = 64;
    s.id = {7, 0};
    s.ended = Ended;
    s.endUser = this;
    return s;
  }
  // Waits until the end was reported `count` times in all.
  bool WaitForEnd(int count = 1) {
    std::unique_lock<std::mutex> lock(m);
    return cv.wait_for(lock, std::chrono::seconds(60), [this, count] { return ends >= count; });
  }
  // The colour at the top left of the update queued last, 0 without one.
  uint32_t LastShown(int32_t *w = nullptr, int32_t *h = nullptr) {
    MutexLock(display->updateLock);
    uint32_t c = 0;
    for (qmDisplayUpdate *u = display->pendingUpdates; u; u = u->next) {
      c = ArgbOfPixel(u->bitmap->pixels);
      if (w) *w = u->width;
      if (h) *h = u->height;
    }
    MutexUnlock(display->updateLock);
    return c;
  }
  // Waits until the picture shown is one of the clip's pictures first..last (each channel
  // within the tolerance); its number, or -1.
  int WaitForPictureIn(int first, int last, int tolerance = 0) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      uint32_t c = LastShown();
      int n = (int((c >> 16) & 255) + 1) / 3;
      if (c && Near(c, ColourOf(n), tolerance) && n >= first && n <= last) return n;
      std::this_thread::yield();
    }
    return -1;
  }
  ~Playback() { FreeDisplayRecord(display); }
};

TEST(VideoEngine, PlaysSilentClipToTheEndOnce) {
  TempDir dir;
  std::string file = LosslessClip(dir, 1.0);
  Playback p;  // outlives the engine, which withdraws its updates from the display
  Engine g;
  ASSERT_EQ(OpenVideoEngine(file.c_str(), VIDBACKEND_SYSTEM, &g.e), 0u);
  qmVideoStart s = p.Start(32, 24);
  s.x = 620;  // the picture reaches past the display's right edge: only 20 columns are shown
  s.y = 10;
  ASSERT_EQ(StartVideoEngine(g.e, &s), 0u);
  EXPECT_EQ(VideoEngineThreadCount(g.e), 3);  // no audio server without sound
  ASSERT_TRUE(p.WaitForEnd());
  int32_t w = 0, h = 0;
  EXPECT_EQ(p.LastShown(&w, &h), ColourOf(9));  // the last picture stays
  EXPECT_EQ(w, 20);
  EXPECT_EQ(h, 24);
  uint32_t at = VideoEnginePosition(g.e);
  EXPECT_GE(at, 900u);
  StopVideoEngine(g.e);
  EXPECT_EQ(p.ends, 1);
  EXPECT_EQ(VideoEngineThreadCount(g.e), 0);
  EXPECT_EQ(p.LastShown(), 0u);  // the stop withdrew what it queued
  EXPECT_EQ(VideoEnginePosition(g.e), at);
}

TEST(VideoEngine, ScalesPicturesToTheRectangleAndRestartsFromTheBeginning) {
  TempDir dir;
  std::string file = LosslessClip(dir, 1.0);
  Playback p;  // outlives the engine, which withdraws its updates from the display
  Engine g;
  ASSERT_EQ(OpenVideoEngine(file.c_str(), VIDBACKEND_SYSTEM, &g.e), 0u);
  for (int round = 0; round < 2; round++) {
    SCOPED_TRACE(round);
    qmVideoStart s = p.Start(64, 48);
    ASSERT_EQ(StartVideoEngine(g.e, &s), 0u);
    ASSERT_TRUE(p.WaitForEnd(round + 1));
    int32_t w = 0, h = 0;
    EXPECT_EQ(p.LastShown(&w, &h), ColourOf(9));
    EXPECT_EQ(w, 64);
    EXPECT_EQ(h, 48);
    StopVideoEngine(g.e);
    EXPECT_EQ(p.ends, round + 1);
  }
}

// A machine too busy to present in time: the display is held while picture 7 is in view, so
// the pictures after it come late. Late pictures may go, but the last one is always shown.
TEST(VideoEngine, ALateLastPictureIsShown) {
  TempDir dir;
  std::string file = LosslessClip(dir, 1.0);
  Playback p;
  Engine g;
  ASSERT_EQ(OpenVideoEngine(file.c_str(), VIDBACKEND_SYSTEM, &g.e), 0u);
  qmVideoStart s = p.Start(32, 24);
  ASSERT_EQ(StartVideoEngine(g.e, &s), 0u);
  ASSERT_EQ(p.WaitForPictureIn(7, 7), 7);
  MutexLock(p.display->updateLock);
  // Long enough for the pictures after it to be late, short of the second after which a
  // picture is shown however late it is.
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  MutexUnlock(p.display->updateLock);
  ASSERT_TRUE(p.WaitForEnd());
  EXPECT_EQ(p.LastShown(), ColourOf(9));
  StopVideoEngine(g.e);
}

// A stand-in for the sound library: a channel pulled by a thread of the test like a device.
struct FakeSound {
  static inline std::atomic<int> starts{0}, stops{0}, endEvents{0}, volume{-1};
  static inline qmAudioInputProc input = nullptr;
  static inline void *arg = nullptr;
  static inline std::atomic<uint32_t> rate{0}, channelCount{0};
  // Each test counts from nothing, whichever ran before it.
  static void Reset() { starts = stops = endEvents = 0, volume = -1; }
  static uint32_t Start(void *, uint32_t r, uint32_t channels, qmAudioInputProc in, void *a, int32_t v, int *index) {
    EXPECT_GE(channels, 1u);
    rate = r;
    channelCount = channels;
    input = in;
    arg = a;
    volume = v;
    starts++;
    *index = 3;
    return 0;
  }
  static void SetVolume(void *, int, int32_t v) { volume = v; }
  static void Stop(void *, int index) {
    EXPECT_EQ(index, 3);
    stops++;
  }
  static void PostEnd(void *, const qmObjectId *id) {
    EXPECT_EQ(id->id, 7u);
    endEvents++;
  }
};
const qmVideoAudioOps kFakeSound = {nullptr, FakeSound::Start, FakeSound::SetVolume, FakeSound::Stop,
                                    FakeSound::PostEnd};

TEST(VideoEngine, PlaysSoundOnItsChannelAndEndsOnce) {
  TempDir dir;
  std::string file =
      MakeClip(dir, "clip.mp4", 1.0, "-f lavfi -i sine=frequency=440:duration=1 -c:v mpeg4 -q:v 2 -c:a aac -shortest");
  Playback p;  // outlives the engine, which withdraws its updates from the display
  Engine g;
  ASSERT_EQ(OpenVideoEngine(file.c_str(), VIDBACKEND_SYSTEM, &g.e), 0u);
  EXPECT_GT(VideoEngineInfo(g.e)->channels, 0u);
  qmVideoStart s = p.Start(32, 24);
  FakeSound::Reset();
  s.audio = &kFakeSound;
  s.volume = 40;
  SetAudioSink(&kNullAudioSink);
  ASSERT_EQ(InitAudio(), 0u);
  ASSERT_EQ(StartVideoEngine(g.e, &s), 0u);
  EXPECT_EQ(VideoEngineThreadCount(g.e), 4);
  EXPECT_EQ(FakeSound::starts, 1);
  EXPECT_EQ(FakeSound::volume, 40);
  SetVideoEngineVolume(g.e, 12);
  EXPECT_EQ(FakeSound::volume, 12);
  // The device: pulls blocks until the channel's input says it ended.
  std::atomic<bool> quit{false};
  std::atomic<uint64_t> sounding{0};
  std::thread device([&] {
    std::vector<int16_t> block(1024 * 2);
    while (!quit) {
      uint32_t n = FakeSound::input(FakeSound::arg, block.data(), 1024);
      if (n == 0) break;
      for (int16_t v : block) sounding += v != 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));  // a device's period, not a wait for a sign
    }
  });
  ASSERT_TRUE(p.WaitForEnd());
  device.join();
  EXPECT_GT(sounding.load(), 0u);
  EXPECT_TRUE(Near(p.LastShown(), ColourOf(9), 8));
  StopVideoEngine(g.e);
  EXPECT_EQ(p.ends, 1);
  EXPECT_EQ(FakeSound::endEvents, 1);
  EXPECT_EQ(FakeSound::stops, 1);
  CloseAudioOutput();
  SetAudioSink(nullptr);
}

// Pictures keep to the sound the device plays: a sound track whose samples tell their own time
// (t / 4 of full scale) is pulled 50 ms at a time and held there; once the picture settles it is
// the picture of the sound's time, give or take one (pictures come 10 a second).
TEST(VideoEngine, PicturesKeepWithinAPictureOfTheSoundPlayed) {
  TempDir dir;
  std::string file = MakeClip(dir, "clock.mkv", 3.0,
                              "-f lavfi -i aevalsrc=exprs=t/4:s=44100:d=3 -c:v png -pix_fmt rgb24 -c:a pcm_s16le");
  Playback p;
  Engine g;
  ASSERT_EQ(OpenVideoEngine(file.c_str(), VIDBACKEND_SYSTEM, &g.e), 0u);
  qmVideoStart s = p.Start(32, 24);
  s.audio = &kFakeSound;
  SetAudioSink(&kNullAudioSink);
  ASSERT_EQ(InitAudio(), 0u);
  ASSERT_EQ(StartVideoEngine(g.e, &s), 0u);
  const uint32_t rate = FakeSound::rate, channels = FakeSound::channelCount;
  ASSERT_GT(rate, 0u);
  std::vector<int16_t> block(size_t(rate / 20) * channels);
  int checked = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (checked < 40 && std::chrono::steady_clock::now() < deadline) {
    if (FakeSound::input(FakeSound::arg, block.data(), rate / 20) == 0) break;
    // The time of the last sound sample handed over; a block of silence (the ring not filled
    // yet on a busy machine) hands nothing over.
    int16_t last = 0;
    for (size_t i = block.size(); i >= channels && last <= 0; i -= channels) last = block[i - channels];
    if (last <= 0) {
      std::this_thread::yield();
      continue;
    }
    const double t = last * 4.0 / 32768.0;
    const int expected = int(t * 10.0);
    const int shown = p.WaitForPictureIn(std::max(0, expected - 1), expected + 1);
    ASSERT_GE(shown, 0) << "sound at " << t << " s";
    // The engine's own clock stays with the sound handed over, not with all the sound decoded.
    EXPECT_LE(VideoEnginePosition(g.e), uint32_t(t * 1000.0) + 100) << "sound at " << t << " s";
    checked++;
  }
  EXPECT_GE(checked, 20);
  StopVideoEngine(g.e);
  CloseAudioOutput();
  SetAudioSink(nullptr);
}

// Over a picture-only codec and one whose pictures build on the ones before (a key picture
// every 3 s): the pictures after a paused seek decode from the one the seek showed.
TEST(VideoEngine, PausedSeekShowsThePictureThereAndResumeGoesOn) {
  TempDir dir;
  struct Case {
    const char *name, *codec;
    int tolerance;
  } cases[] = {{"clip.mkv", "-c:v png -pix_fmt rgb24", 0}, {"clip.mp4", "-c:v mpeg4 -q:v 2 -g 30 -bf 0", 6}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = MakeClip(dir, c.name, 8.0, c.codec);
    Playback p;
    Engine g;
    ASSERT_EQ(OpenVideoEngine(file.c_str(), VIDBACKEND_SYSTEM, &g.e), 0u);
    qmVideoStart s = p.Start(32, 24);
    ASSERT_EQ(StartVideoEngine(g.e, &s), 0u);
    ASSERT_GE(p.WaitForPictureIn(2, 40, c.tolerance), 2);
    PauseVideoEngine(g.e);
    ASSERT_EQ(SeekVideoEngine(g.e, 5000), 0u);
    EXPECT_TRUE(Near(p.LastShown(), ColourOf(50), c.tolerance));
    EXPECT_EQ(VideoEnginePosition(g.e), 5000u);
    // Playing on from the sought picture: the next ones follow it, none from before the seek.
    ResumeVideoEngine(g.e);
    EXPECT_GE(p.WaitForPictureIn(51, 79, c.tolerance), 51);
    // A seek while playing lands there too: pictures from 2 s on, well before where it was.
    ASSERT_EQ(SeekVideoEngine(g.e, 2000), 0u);
    EXPECT_GE(p.WaitForPictureIn(20, 40, c.tolerance), 20);
    StopVideoEngine(g.e);
    EXPECT_EQ(p.ends, 0);
  }
}

// A seek while paused moves the position there for a clip with sound as for a silent one: once
// resumed, and when stopped at once, the position counts from the sought time, not from the
// sound decoded before the seek.
TEST(VideoEngine, PositionAfterAPausedSeekCountsFromThere) {
  TempDir dir;
  struct Case {
    const char *name, *extra;
    bool sound;
  } cases[] = {{"silent.mkv", "-c:v png -pix_fmt rgb24", false},
               {"sound.mkv", "-f lavfi -i sine=frequency=440:duration=8 -c:v png -pix_fmt rgb24 -c:a pcm_s16le", true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = MakeClip(dir, c.name, 8.0, c.extra);
    Playback p;
    Engine g;
    ASSERT_EQ(OpenVideoEngine(file.c_str(), VIDBACKEND_SYSTEM, &g.e), 0u);
    qmVideoStart s = p.Start(32, 24);
    if (c.sound) {
      s.audio = &kFakeSound;
      SetAudioSink(&kNullAudioSink);
      ASSERT_EQ(InitAudio(), 0u);
    }
    ASSERT_EQ(StartVideoEngine(g.e, &s), 0u);
    // The device pulls the channel like a sound card until the test is done.
    std::atomic<bool> quit{false};
    std::thread device([&] {
      std::vector<int16_t> block(1024 * 2);
      while (c.sound && !quit && FakeSound::input(FakeSound::arg, block.data(), 1024) != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // a device's period, not a wait for a sign
    });
    ASSERT_GE(p.WaitForPictureIn(2, 40), 2);
    PauseVideoEngine(g.e);
    ASSERT_EQ(SeekVideoEngine(g.e, 3000), 0u);
    EXPECT_EQ(VideoEnginePosition(g.e), 3000u);
    ResumeVideoEngine(g.e);
    const uint32_t resumed = VideoEnginePosition(g.e);
    // The device stops pulling before the engine stops, as the mixer lets go of a channel
    // before its sound is freed.
    quit = true;
    device.join();
    StopVideoEngine(g.e);
    EXPECT_GE(resumed, 3000u);
    EXPECT_LT(resumed, 8000u);
    EXPECT_GE(VideoEnginePosition(g.e), 3000u);
    EXPECT_LT(VideoEnginePosition(g.e), 8000u);
    if (c.sound) {
      CloseAudioOutput();
      SetAudioSink(nullptr);
    }
  }
}

TEST(VideoEngine, SeekBeforeStartBeginsThere) {
  TempDir dir;
  std::string file = LosslessClip(dir, 3.0);
  Playback p;  // outlives the engine, which withdraws its updates from the display
  Engine g;
  ASSERT_EQ(OpenVideoEngine(file.c_str(), VIDBACKEND_SYSTEM, &g.e), 0u);
  ASSERT_EQ(SeekVideoEngine(g.e, 2500), 0u);
  EXPECT_EQ(VideoEnginePosition(g.e), 2500u);
  qmVideoStart s = p.Start(32, 24);
  ASSERT_EQ(StartVideoEngine(g.e, &s), 0u);
  uint32_t first = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!first && std::chrono::steady_clock::now() < deadline) first = p.LastShown();
  EXPECT_GE((first >> 16) & 255, 3u * 25);  // nothing from before 2.5 s was shown
  ASSERT_TRUE(p.WaitForEnd());
  StopVideoEngine(g.e);
  EXPECT_EQ(p.ends, 1);
  const uint32_t *pixels = nullptr;
  int32_t w, h;
  ASSERT_EQ(GrabVideoEngineFrame(g.e, VIDGRAB_FRAME, 0, 15, &pixels, &w, &h), 0u);
  EXPECT_EQ(pixels[0], ColourOf(0));  // a grab after playing starts from the file's beginning
}

// The FFmpeg source writes each picture within the rectangle it is handed, whatever the file's
// pixel layout and whether it scales: the bytes after the picture stay as they were (the
// engine's pictures are exactly their size, so a byte more lands in the next heap block). At
// the file's own size the pixels are the clip's colours, first and last alike.
TEST(VideoEngine, SourcePicturesStayWithinTheRectangleGiven) {
  TempDir dir;
  const struct {
    const char *name, *codec;
    int tolerance;  // of the colours at the file's size
  } clips[] = {
      {"rgb24.mkv", "-c:v png -pix_fmt rgb24", 0},
      {"bgr24.avi", "-c:v rawvideo -pix_fmt bgr24", 0},
      {"rgba.mkv", "-c:v png -pix_fmt rgba", 0},
      {"gbrp.mkv", "-c:v ffv1 -pix_fmt gbrp", 0},
      {"yuv420.mp4", "-c:v mpeg4 -q:v 2", 12},
  };
  const struct {
    int32_t width, height;
  } sizes[] = {{32, 24}, {13, 7}, {45, 31}, {1, 1}};
  constexpr size_t kGuard = 256;
  for (const auto &c : clips) {
    const std::string file = MakeClip(dir, c.name, 0.5, c.codec);
    for (const auto &z : sizes) {
      for (uint32_t smooth = 0; smooth < 2; smooth++) {
        SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(z.width) + " x " + std::to_string(z.height) +
                     (smooth ? " smooth" : ""));
        qmVideoInfo info{};
        void *h = kFFmpegVideoSource.open(file.c_str(), &info);
        ASSERT_NE(h, nullptr);
        const size_t bytes = size_t(z.width) * size_t(z.height) * 4;
        std::vector<uint8_t> picture(bytes + kGuard, 0x5A);
        int pictures = 0;
        qmVideoPacket p{};
        while (pictures < 3 && kFFmpegVideoSource.nextPacket(h, &p) == 0) {
          qmDecodedFrame f{picture.data(), z.width, z.height, z.width * 4, smooth, 0, -1, -1.0, -1.0};
          const int got = p.stream == 0 ? kFFmpegVideoSource.decodeVideo(h, &p, &f) : -1;
          kFFmpegVideoSource.freePacket(h, &p);
          if (got != 0) continue;
          pictures++;
          size_t touched = 0;
          for (size_t i = bytes; i < picture.size(); i++) touched += picture[i] != 0x5A;
          EXPECT_EQ(touched, 0u) << "picture " << f.position;
          if (z.width == 32 && z.height == 24 && f.position >= 0) {
            const auto *px = reinterpret_cast<const uint32_t *>(picture.data());
            EXPECT_TRUE(Near(ArgbOfPixel(px), ColourOf(f.position), c.tolerance)) << std::hex << ArgbOfPixel(px);
            EXPECT_TRUE(Near(ArgbOfPixel(px + 32 * 24 - 1), ColourOf(f.position), c.tolerance))
                << std::hex << ArgbOfPixel(px + 32 * 24 - 1);
          }
        }
        EXPECT_EQ(pictures, 3);
        kFFmpegVideoSource.close(h);
      }
    }
  }
}

// FFmpeg refuses any one allocation above the bound set when it is loaded (a file's header may
// name any size), and a picture of 8K at 4 bytes a pixel still fits under it.
TEST(VideoEngine, FFmpegAllocationsAreBoundedAboveAn8kPicture) {
  const qmAvFunctions *av = AvLibrary();
  ASSERT_NE(av, nullptr);
  const struct {
    size_t bytes;
    bool fits;
  } cases[] = {
      {size_t(7680) * 4320 * 4, true},
      {kAvMaxAllocation - 64, true},
      {kAvMaxAllocation + 1, false},
      {size_t(1600000000), false},
  };
  for (const auto &c : cases) {
    void *block = av->av_malloc(c.bytes);
    EXPECT_EQ(block != nullptr, c.fits) << c.bytes;
    av->av_free(block);
  }
}

// A sound track whose layout changes on the way (stereo, then mono: two transport streams one
// after the other) decodes on, every block within the room given and as 16-bit stereo still.
TEST(VideoEngine, SourceSoundFollowsAChangeOfChannelsOnTheWay) {
  TempDir dir;
  const std::string file = dir / "changing.ts";
  std::string parts;
  for (int channels : {2, 1}) {
    const std::string part = dir / ("part" + std::to_string(channels) + ".ts");
    const std::string cmd = "ffmpeg -loglevel error -y -f lavfi -i color=c=red:s=16x8:r=10:d=0.5 -f lavfi -i "
                            "sine=sample_rate=32000:duration=0.5 -ac " + std::to_string(channels) +
                            " -c:v mpeg2video -c:a mp2 -shortest " + part + " 2>&1";
    ASSERT_EQ(RunCommand(cmd), "") << cmd;
    parts += " " + part;
  }
  ASSERT_EQ(std::system(("cat" + parts + " > " + file).c_str()), 0);
  qmVideoInfo info{};
  void *h = kFFmpegVideoSource.open(file.c_str(), &info);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(info.channels, 2u);
  constexpr uint32_t kRoom = 4096, kGuard = 256;
  std::vector<uint8_t> out(kRoom + kGuard, 0x5A);
  uint64_t bytes = 0;
  qmVideoPacket p{};
  while (kFFmpegVideoSource.nextPacket(h, &p) == 0) {
    if (p.stream == 0 && p.size == 0) {  // the end: what follows asks the picture decoder to drain
      kFFmpegVideoSource.freePacket(h, &p);
      break;
    }
    if (p.stream == 1) {
      for (int32_t usedUp = 0; !usedUp;) {
        const int32_t n = kFFmpegVideoSource.decodeAudio(h, &p, out.data(), kRoom, &usedUp);
        ASSERT_GE(n, 0);
        ASSERT_LE(uint32_t(n), kRoom);
        EXPECT_EQ(n % 4, 0);  // whole stereo frames
        bytes += uint32_t(n);
      }
    }
    kFFmpegVideoSource.freePacket(h, &p);
  }
  kFFmpegVideoSource.close(h);
  size_t touched = 0;
  for (size_t i = kRoom; i < out.size(); i++) touched += out[i] != 0x5A;
  EXPECT_EQ(touched, 0u);
  // Both halves were heard: about a second of 32 kHz stereo.
  EXPECT_GT(bytes, uint64_t(32000) * 4 * 8 / 10);
}

}  // namespace

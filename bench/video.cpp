// A 1080p motion-JPEG clip (ffmpeg's lavfi test pattern, 25 pictures a second, 4 seconds) through
// the video engine.
// VideoDecodeConvert: ours reads every packet through the engine's FFmpeg source and decodes and
// converts each picture into a 1920 x 1080 buffer of 32-bit pixels, as the server thread does;
// the peer is the ffmpeg command decoding the same file to raw frames (its own pixel format) into
// /dev/null. CPU time of both sides (the command's as a waited-for child); rounds alternate
// (bench/side_by_side.h). Our first picture is checked once against ffmpeg's in ARGB.
// VideoPlaybackTwoCores: the engine plays the clip on its threads, the process held to two
// cores, onto a display record whose window updates this thread presents (counted); the pictures
// the engine dropped are reported, not timed.
#include <benchmark/benchmark.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/side_by_side.h"
#include "display/display.h"
#include "display/displayops.h"
#include "display/scene.h"
#include "media/videocore/engine.h"
#include "media/videocore/videosource.h"
#include "platform/time.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kPictures = 100;

std::string Clip() {
  static std::string dir = "/tmp/qm_bench_video_" + std::to_string(getpid());
  static bool made = false;
  if (!made) {
    made = true;
    const std::string cmd = "mkdir -p " + dir +
                            " && ffmpeg -loglevel error -y -f lavfi -i testsrc2=s=1920x1080:r=25:d=4 -c:v mjpeg "
                            "-q:v 3 -pix_fmt yuvj422p " +
                            dir + "/clip.avi";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "the clip could not be made\n");
  }
  return dir + "/clip.avi";
}

// Every picture decoded and converted as the engine's server does: how many, or -1.
int DecodeOurs(const std::string &path, std::vector<uint8_t> *first) {
  const qmVideoSourceOps &ops = kFFmpegVideoSource;
  qmVideoInfo info{};
  void *s = ops.open(path.c_str(), &info);
  if (!s) return -1;
  std::vector<uint8_t> pixels(size_t(kWidth) * kHeight * 4);
  int n = 0;
  for (;;) {
    qmVideoPacket p{};
    int r = ops.nextPacket(s, &p);
    if (r == -1) break;
    if (r < 0) continue;
    qmDecodedFrame f{pixels.data(), kWidth, kHeight, kWidth * 4, 0, 0, -1, -1.0, -1.0};
    if (p.stream == 0 && ops.decodeVideo(s, &p, &f) == 0) {
      if (n == 0 && first) *first = pixels;
      n++;
    }
    ops.freePacket(s, &p);
  }
  ops.close(s);
  benchmark::DoNotOptimize(pixels.data());
  return n;
}

bool DecodeFfmpeg(const std::string &path) {
  const std::string cmd = "ffmpeg -loglevel error -nostdin -i " + path + " -f rawvideo -y /dev/null";
  return std::system(cmd.c_str()) == 0;
}

// ffmpeg's first picture in ARGB bytes.
std::vector<uint8_t> FfmpegFirst(const std::string &path) {
  std::vector<uint8_t> out(size_t(kWidth) * kHeight * 4);
  const std::string cmd = "ffmpeg -loglevel error -nostdin -i " + path + " -frames:v 1 -pix_fmt argb -f rawvideo -";
  FILE *p = popen(cmd.c_str(), "r");
  size_t got = p ? std::fread(out.data(), 1, out.size(), p) : 0;
  if (p) pclose(p);
  if (got != out.size()) out.clear();
  return out;
}

void VideoDecodeConvert(benchmark::State &state) {
  const std::string path = Clip();
  std::vector<uint8_t> ours;
  if (DecodeOurs(path, &ours) != kPictures) {
    state.SkipWithError("our decode failed");
    return;
  }
  const std::vector<uint8_t> theirs = FfmpegFirst(path);
  if (theirs.size() != ours.size()) {
    state.SkipWithError("ffmpeg's decode failed");
    return;
  }
  int worst = 0;
  for (size_t i = 0; i < ours.size(); i++) worst = std::max(worst, std::abs(int(ours[i]) - int(theirs[i])));
  if (worst > 2) {
    state.SkipWithError("ffmpeg's first picture is not ours");
    return;
  }
  qmSideBySide rounds;
  for (auto _ : state)
    rounds.Round(
        state, [&] { DecodeOurs(path, nullptr); }, [&] { DecodeFfmpeg(path); });
  rounds.Report(state, "ffmpeg");
  state.counters["max_channel_difference"] = worst;
}

std::atomic<int> gPresented{0};
std::atomic<bool> gEnded{false};

void VideoPlaybackTwoCores(benchmark::State &state) {
  const std::string path = Clip();
  cpu_set_t all, two;
  CPU_ZERO(&two);
  sched_getaffinity(0, sizeof all, &all);
  for (int c = 0, n = 0; c < CPU_SETSIZE && n < 2; c++)
    if (CPU_ISSET(c, &all)) CPU_SET(c, &two), n++;
  sched_setaffinity(0, sizeof two, &two);  // the engine's threads inherit it
  qmScene scene{};
  qmDisplay *d = NewDisplayRecord(1);
  d->width = kWidth;
  d->height = kHeight;
  LinkDisplay(&scene, d);
  scene.presentUpdate = [](qmBitmap *, qmDisplay *, int32_t, int32_t, int32_t, int32_t) { gPresented++; };
  int presented = 0, late = 0;
  for (auto _ : state) {
    qmVideoEngine *e = nullptr;
    uint32_t backend = 0;
    if (OpenVideoBackend(path.c_str(), -1, &e, &backend)) {
      state.SkipWithError("the engine did not open the clip");
      break;
    }
    gPresented = 0;
    gEnded = false;
    qmVideoStart s{};
    s.display = d;
    s.width = kWidth;
    s.height = kHeight;
    s.volume = 64;
    s.ended = [](qmVideoEngine *, void *) { gEnded = true; };
    if (StartVideoEngine(e, &s)) {
      state.SkipWithError("the engine did not start");
      FreeVideoEngine(e);
      break;
    }
    // The main thread's part: present what the refresh thread queued, as the event pump does.
    double deadline = GetTimeSeconds() + 60.0;
    while (!gEnded && GetTimeSeconds() < deadline) {
      FlushDisplayUpdates(&scene);
      SleepMilliseconds(2);
    }
    FlushDisplayUpdates(&scene);
    late += gEnded ? 0 : 1;
    presented = gPresented;
    FreeVideoEngine(e);
  }
  sched_setaffinity(0, sizeof all, &all);
  scene.presentUpdate = nullptr;
  UnlinkDisplay(&scene, d);
  FreeDisplayRecord(d);
  state.counters["pictures"] = kPictures;
  state.counters["presented"] = presented;
  state.counters["dropped"] = kPictures - presented;
  state.counters["runs_without_end"] = late;
}

}  // namespace

BENCHMARK(VideoDecodeConvert)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(10);
BENCHMARK(VideoPlaybackTwoCores)->Iterations(1)->Unit(benchmark::kMillisecond);

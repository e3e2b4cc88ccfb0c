// A 1080p motion-JPEG clip (ffmpeg's lavfi test pattern, 25 pictures a second, 4 seconds) through
// the video engine.
// VideoDecodeConvert: ours reads every packet through the engine's FFmpeg source and decodes and
// converts each picture into a 1920 x 1080 buffer of 32-bit pixels, as the server thread does;
// the peer calls libavformat, libavcodec and libswscale in this process for the same decoding
// and conversion. CPU time of both sides; rounds alternate (bench/side_by_side.h). Both first
// pictures are checked once against the ffmpeg command's in ARGB.
// VideoPlaybackTwoCores: the engine plays the clip on its threads, the process held to two
// cores, onto a display record whose window updates this thread presents (counted); the pictures
// the engine dropped are reported, not timed.
#include <benchmark/benchmark.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
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

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

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

// The peer: libavformat, libavcodec and libswscale called directly, doing our work (every
// picture decoded on one thread and converted to A, R, G, B bytes of the same size with point
// sampling) without the engine around it. How many pictures, or -1.
int DecodePeer(const std::string &path, std::vector<uint8_t> *first) {
  AVFormatContext *format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) != 0) return -1;
  int n = -1;
  int index = avformat_find_stream_info(format, nullptr) >= 0
                  ? av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0)
                  : -1;
  const AVCodec *codec = index >= 0 ? avcodec_find_decoder(format->streams[index]->codecpar->codec_id) : nullptr;
  AVCodecContext *c = codec ? avcodec_alloc_context3(codec) : nullptr;
  AVPacket *packet = av_packet_alloc();
  AVFrame *frame = av_frame_alloc();
  SwsContext *scaler = nullptr;
  std::vector<uint8_t> pixels(size_t(kWidth) * kHeight * 4);
  if (c && packet && frame && avcodec_parameters_to_context(c, format->streams[index]->codecpar) >= 0) {
    c->thread_count = 1;
    if (avcodec_open2(c, codec, nullptr) == 0) {
      n = 0;
      auto drain = [&] {
        while (avcodec_receive_frame(c, frame) == 0) {
          scaler = sws_getCachedContext(scaler, frame->width, frame->height, AVPixelFormat(frame->format), kWidth,
                                        kHeight, AV_PIX_FMT_ARGB, SWS_POINT, nullptr, nullptr, nullptr);
          uint8_t *dst[4] = {pixels.data(), nullptr, nullptr, nullptr};
          int dstStride[4] = {kWidth * 4, 0, 0, 0};
          if (scaler) sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
          if (n == 0 && first) *first = pixels;
          n++;
          av_frame_unref(frame);
        }
      };
      while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(c, packet) == 0) drain();
        av_packet_unref(packet);
      }
      avcodec_send_packet(c, nullptr);
      drain();
    }
  }
  sws_freeContext(scaler);
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&c);
  avformat_close_input(&format);
  benchmark::DoNotOptimize(pixels.data());
  return n;
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
  std::vector<uint8_t> ours, peer;
  if (DecodeOurs(path, &ours) != kPictures) {
    state.SkipWithError("our decode failed");
    return;
  }
  const std::vector<uint8_t> theirs = FfmpegFirst(path);
  if (theirs.size() != ours.size() || DecodePeer(path, &peer) != kPictures || peer.size() != ours.size()) {
    state.SkipWithError("the peer's decode failed");
    return;
  }
  // Both outputs, once: ours against the ffmpeg command's picture, and the in-process peer's
  // against it too, so that the peer is known to do the same work.
  int worst = 0, peerWorst = 0;
  for (size_t i = 0; i < ours.size(); i++) {
    worst = std::max(worst, std::abs(int(ours[i]) - int(theirs[i])));
    peerWorst = std::max(peerWorst, std::abs(int(peer[i]) - int(theirs[i])));
  }
  if (worst > 2 || peerWorst > 2) {
    state.SkipWithError("a first picture is not ffmpeg's");
    return;
  }
  qmSideBySide rounds;
  for (auto _ : state)
    rounds.Round(
        state, [&] { DecodeOurs(path, nullptr); }, [&] { DecodePeer(path, nullptr); });
  rounds.Report(state, "libav");
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

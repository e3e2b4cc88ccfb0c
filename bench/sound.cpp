// The sound engine against the clock and against libxmp, in the same run:
// - eight mixer channels (WAVE-like 16-bit stereo at 44.1 kHz, 8-bit mono at 22.05 kHz, ...)
//   rendered for 60 s of 48 kHz stereo: "ratio" is render time / audio time (goal: under 0.01);
// - a four-channel module rendered for its whole length by our player and by libxmp:
//   "ratio" is our time / libxmp's (goal: at or below 1.0), against libxmp's nearest-sample
//   mixing (its cheapest) and its default linear interpolation. Ours mixes at twice the
//   output rate and averages, as the player always has.
#include <benchmark/benchmark.h>
#include <xmp.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "media/sound/channels.h"
#include "media/sound/module.h"
#include "media/sound/sound_stream.h"
#include "platform/audio.h"

namespace {

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

qmSampleData *MakeSample(int32_t format, uint32_t rate, uint32_t frames) {
  uint32_t bpf = FormatBytesPerFrame(format);
  auto *data = static_cast<uint8_t *>(std::malloc(size_t(frames) * bpf));
  for (size_t i = 0; i < size_t(frames) * bpf; i++) data[i] = uint8_t(i * 37 + (i >> 7));
  qmSampleData *d = nullptr;
  CreateMemorySound(data, frames, rate, format, &d);
  return d;
}

void MixEightChannels(benchmark::State &state) {
  SetAudioSink(&kNullAudioSink);
  InitSoundChannels();
  OpenAudioOutput();
  const struct {
    int32_t format;
    uint32_t rate;
  } kinds[8] = {{SMPFMT_STEREO16, 44100}, {SMPFMT_MONO8, 22050},   {SMPFMT_MONO16, 48000},
                {SMPFMT_STEREO8, 11025},  {SMPFMT_STEREO16, 48000}, {SMPFMT_MONO16, 32000},
                {SMPFMT_MONO8, 8000},     {SMPFMT_STEREO16, 96000}};
  std::vector<qmSampleData *> samples;
  for (int i = 0; i < 8; i++) {
    samples.push_back(MakeSample(kinds[i].format, kinds[i].rate, kinds[i].rate / 3 + 17));
    int index;
    ClaimSampleChannel(samples.back(), qmObjectId{uint32_t(i + 1), 0}, int32_t(kinds[i].rate), 48, i * 36, -1, 0,
                       &index);
  }
  StartClaimedChannels();
  const uint32_t seconds = 60, block = 1024;
  std::vector<float> out(block * 2);
  double renderTime = 0;
  for (auto _ : state) {
    double t0 = Now();
    for (uint32_t done = 0; done < seconds * kOutputRate; done += block) RenderAudioOutput(out.data(), block);
    renderTime += Now() - t0;
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["ratio"] = renderTime / double(state.iterations()) / seconds;
  FreeSoundChannels();
  for (qmSampleData *d : samples) FreeSampleData(d);
  CloseAudioOutput();
}
BENCHMARK(MixEightChannels)->Unit(benchmark::kMillisecond)->Iterations(3);

std::string ModulePath() {
  static std::string dir = "/tmp/qm_bench_sound_" + std::to_string(getpid());
  static bool made = false;
  if (!made) {
    made = true;
    std::string cmd = "python3 " QM_SOURCE_DIR "/tests/media/sound/make_sound_fixtures.py " + dir;
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "fixtures could not be made\n");
  }
  return dir + "/song.mod";
}

// state.range(0): libxmp's interpolation (XMP_INTERP_NEAREST or its default, linear).
void ModuleBesideLibxmp(benchmark::State &state) {
  std::string path = ModulePath();
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string image = ss.str();
  double ours = 0, theirs = 0;
  uint64_t frames = 0;
  for (auto _ : state) {
    // libxmp renders until the song loops; that length is ours to render too.
    xmp_context c = xmp_create_context();
    xmp_load_module(c, const_cast<char *>(path.c_str()));
    xmp_start_player(c, 48000, 0);
    xmp_set_player(c, XMP_PLAYER_INTERP, int(state.range(0)));
    xmp_frame_info fi;
    frames = 0;
    double t0 = Now();
    while (xmp_play_frame(c) == 0) {
      xmp_get_frame_info(c, &fi);
      if (fi.loop_count > 0) break;
      frames += uint64_t(fi.buffer_size) / 4;
      benchmark::DoNotOptimize(fi.buffer);
    }
    theirs += Now() - t0;
    xmp_end_player(c);
    xmp_release_module(c);
    xmp_free_context(c);

    qmModule m;
    InitModule(&m, reinterpret_cast<const uint8_t *>(image.data()), image.size(), 48000);
    std::vector<int16_t> buf(4096 * 2);
    t0 = Now();
    for (uint64_t done = 0; done < frames; done += 4096)
      RenderModuleAudio(&m, buf.data(), uint32_t(frames - done < 4096 ? frames - done : 4096));
    ours += Now() - t0;
    benchmark::DoNotOptimize(buf.data());
  }
  state.counters["ratio"] = ours / theirs;
  state.counters["seconds_of_song"] = double(frames) / 48000;
}
BENCHMARK(ModuleBesideLibxmp)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20)
    ->ArgName("xmp_interp")
    ->Arg(XMP_INTERP_NEAREST)
    ->Arg(XMP_INTERP_LINEAR);

}  // namespace

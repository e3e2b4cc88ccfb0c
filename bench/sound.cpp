// The sound engine beside libxmp in the same run, rounds alternating which side goes first,
// CPU time (the clock both share) beside wall time, medians of all rounds:
// - eight mixer channels (WAVE-like 16-bit stereo at 44.1 kHz, 8-bit mono at 22.05 kHz, ...)
//   rendered for 20 s of 48 kHz stereo, beside libxmp rendering 20 s of an eight-channel
//   module whose eight looped samples play at eight different rates: eight voices resampled
//   and mixed either way. The outputs cannot be equal; each is checked once to carry sound.
// - a four-channel module rendered for its whole length by our player and by libxmp, against
//   libxmp's nearest-sample mixing (its cheapest) and its default linear interpolation. Ours
//   mixes at twice the output rate and averages, as the player always has. Both renderings
//   are checked once to have the same length and to rise and fall together (their envelopes' correlation).
#include <benchmark/benchmark.h>
#include <xmp.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/side_by_side.h"
#include "media/sound/channels.h"
#include "media/sound/module.h"
#include "media/sound/sound_stream.h"
#include "platform/audio.h"

namespace {

qmSampleData *MakeSample(int32_t format, uint32_t rate, uint32_t frames) {
  uint32_t bpf = FormatBytesPerFrame(format);
  auto *data = static_cast<uint8_t *>(std::malloc(size_t(frames) * bpf));
  for (size_t i = 0; i < size_t(frames) * bpf; i++) data[i] = uint8_t(i * 37 + (i >> 7));
  qmSampleData *d = nullptr;
  CreateMemorySound(data, frames, rate, format, &d);
  return d;
}

constexpr uint32_t kMixSeconds = 20;

// An eight-channel module ("8CHN"): one pattern whose first row starts eight looped 8-bit
// samples at eight periods; the pattern repeats, so the eight voices never stop.
std::string EightChannelModule() {
  std::string m(20, '\0');
  const uint32_t sampleBytes = 8192;
  for (int i = 0; i < 31; i++) {
    std::string h(30, '\0');
    if (i < 8) {
      uint32_t words = sampleBytes / 2;
      h[22] = char(words >> 8), h[23] = char(words & 255);
      h[25] = 64;  // volume
      h[28] = char(words >> 8), h[29] = char(words & 255);  // looped whole
    }
    m += h;
  }
  m += char(1);
  m += char(127);
  m += std::string(128, '\0');
  m += "8CHN";
  const int periods[8] = {214, 254, 320, 428, 170, 190, 285, 360};
  std::string pattern(64 * 8 * 4, '\0');
  for (int c = 0; c < 8; c++) {
    int sample = c + 1;
    pattern[size_t(c) * 4 + 0] = char((sample & 0xF0) | (periods[c] >> 8));
    pattern[size_t(c) * 4 + 1] = char(periods[c] & 255);
    pattern[size_t(c) * 4 + 2] = char((sample & 0x0F) << 4);
  }
  m += pattern;
  for (int i = 0; i < 8; i++)
    for (uint32_t k = 0; k < sampleBytes; k++) m += char(int8_t((k * (37 + i) + (k >> 7)) & 255));
  return m;
}

// Left and right summed over a rendering: zero for silence.
template <typename T>
double Energy(const std::vector<T> &v) {
  double e = 0;
  for (T x : v) e += double(x) * double(x);
  return e;
}

void MixEightChannels(benchmark::State &state) {
  SetAudioSink(&kNullAudioSink);
  qmSoundChannels set;
  InitSoundChannels(&set);
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
    ClaimSampleChannel(&set, samples.back(), qmObjectId{uint32_t(i + 1), 0}, int32_t(kinds[i].rate), 48, i * 36,
                       -1, 0, &index);
  }
  StartClaimedChannels(&set);
  const uint32_t block = 1024;
  std::vector<float> out(block * 2);
  double ourEnergy = 0;
  auto ours = [&] {
    for (uint32_t done = 0; done < kMixSeconds * kOutputRate; done += block) {
      RenderAudioOutput(out.data(), block);
      ourEnergy += Energy(out);
    }
  };

  std::string module = EightChannelModule();
  double theirEnergy = 0;
  auto theirs = [&] {
    xmp_context c = xmp_create_context();
    xmp_load_module_from_memory(c, module.data(), long(module.size()));
    xmp_start_player(c, 48000, 0);
    xmp_frame_info fi;
    for (uint64_t frames = 0; frames < uint64_t(kMixSeconds) * 48000 && xmp_play_frame(c) == 0;) {
      xmp_get_frame_info(c, &fi);
      frames += uint64_t(fi.buffer_size) / 4;
      auto *pcm = static_cast<const int16_t *>(fi.buffer);
      for (int i = 0; i < fi.buffer_size / 2; i++) theirEnergy += double(pcm[i]) * pcm[i];
    }
    xmp_end_player(c);
    xmp_release_module(c);
    xmp_free_context(c);
  };
  ours();
  theirs();
  if (ourEnergy == 0 || theirEnergy == 0) {
    state.SkipWithError(ourEnergy == 0 ? "our mix is silent" : "libxmp's rendering is silent");
  } else {
    qmSideBySide s;
    for (auto _ : state) s.Round(state, ours, theirs);
    s.Report(state, "libxmp");
    state.counters["ours_cpu_per_audio_s"] = BenchMedian(s.oursCpu) / kMixSeconds;
  }
  FreeSoundChannels(&set);
  for (qmSampleData *d : samples) FreeSampleData(d);
  CloseAudioOutput();
}
BENCHMARK(MixEightChannels)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(7);

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

// libxmp renders until the song loops: every frame it made, and their count.
std::vector<int16_t> RenderWithLibxmp(const std::string &path, int interpolation) {
  std::vector<int16_t> pcm;
  xmp_context c = xmp_create_context();
  xmp_load_module(c, const_cast<char *>(path.c_str()));
  xmp_start_player(c, 48000, 0);
  xmp_set_player(c, XMP_PLAYER_INTERP, interpolation);
  xmp_frame_info fi;
  while (xmp_play_frame(c) == 0) {
    xmp_get_frame_info(c, &fi);
    if (fi.loop_count > 0) break;
    auto *p = static_cast<const int16_t *>(fi.buffer);
    pcm.insert(pcm.end(), p, p + fi.buffer_size / 2);
  }
  xmp_end_player(c);
  xmp_release_module(c);
  xmp_free_context(c);
  return pcm;
}

// Our player over the same number of frames, 4096 at a time.
std::vector<int16_t> RenderWithOurs(const std::string &image, uint64_t frames) {
  std::vector<int16_t> pcm(frames * 2);
  qmModule m;
  InitModule(&m, reinterpret_cast<const uint8_t *>(image.data()), image.size(), 48000);
  for (uint64_t done = 0; done < frames; done += 4096)
    RenderModuleAudio(&m, pcm.data() + done * 2, uint32_t(frames - done < 4096 ? frames - done : 4096));
  return pcm;
}

// How alike the loudness of the two renderings moves: the correlation of their 10 ms loudness
// (left+right) envelopes, near 1 when both play the same notes at the same times. Samples
// themselves differ in phase between two resamplers, so they are not compared one by one.
double EnvelopeCorrelation(const std::vector<int16_t> &a, const std::vector<int16_t> &b) {
  const size_t window = 480 * 2;
  std::vector<double> ea, eb;
  for (size_t at = 0; at + window <= a.size() && at + window <= b.size(); at += window) {
    double sa = 0, sb = 0;
    for (size_t i = at; i < at + window; i += 2) {
      double x = double(a[i]) + a[i + 1], y = double(b[i]) + b[i + 1];
      sa += x * x, sb += y * y;
    }
    ea.push_back(std::sqrt(sa)), eb.push_back(std::sqrt(sb));
  }
  double n = double(ea.size()), ma = 0, mb = 0;
  for (size_t i = 0; i < ea.size(); i++) ma += ea[i] / n, mb += eb[i] / n;
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < ea.size(); i++) {
    ab += (ea[i] - ma) * (eb[i] - mb), aa += (ea[i] - ma) * (ea[i] - ma), bb += (eb[i] - mb) * (eb[i] - mb);
  }
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

// state.range(0): libxmp's interpolation (XMP_INTERP_NEAREST or its default, linear).
void ModuleBesideLibxmp(benchmark::State &state) {
  std::string path = ModulePath();
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string image = ss.str();
  int interpolation = int(state.range(0));
  std::vector<int16_t> theirs = RenderWithLibxmp(path, interpolation);
  uint64_t frames = theirs.size() / 2;
  std::vector<int16_t> ours = RenderWithOurs(image, frames);
  double correlation = EnvelopeCorrelation(ours, theirs);
  state.counters["output_correlation"] = correlation;
  if (frames == 0 || correlation < 0.2) {  // about 0.39 between the two players; silence or another song is near 0
    state.SkipWithError(("the two renderings do not play the same song: correlation " + std::to_string(correlation)).c_str());
    return;
  }
  qmSideBySide s;
  for (auto _ : state)
    s.Round(state, [&] { benchmark::DoNotOptimize(RenderWithOurs(image, frames).data()); },
            [&] { benchmark::DoNotOptimize(RenderWithLibxmp(path, interpolation).data()); });
  s.Report(state, "libxmp");
  state.counters["seconds_of_song"] = double(frames) / 48000;
}
BENCHMARK(ModuleBesideLibxmp)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(21)
    ->ArgName("xmp_interp")
    ->Arg(XMP_INTERP_NEAREST)
    ->Arg(XMP_INTERP_LINEAR);

}  // namespace

// The audio output's own arithmetic: the gain and pan laws and the converter, pulled offline.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <random>
#include <vector>

#include "platform/audio.h"

namespace {

TEST(AudioOutput, VolumeLawIsTheCubeRoot) {
  const struct {
    int32_t volume;
    float gain;
  } rows[] = {{64, 1.0f}, {32, 0.7937005f}, {8, 0.5f}, {1, 0.25f}, {0, 0.0f}, {-3, 0.0f}, {99, 1.0f}};
  for (const auto &r : rows) EXPECT_NEAR(VolumeGain(r.volume), r.gain, 1e-6) << r.volume;
}

TEST(AudioOutput, PanLawPassesTheCentreUnchanged) {
  const struct {
    int32_t pan;
    float left, right;
  } rows[] = {{128, 1, 1}, {0, 1, 0}, {255, 0, 1}, {64, 1, 128.0f / 255}, {192, 2 * (1 - 192.0f / 255), 1}};
  for (const auto &r : rows) {
    float l, rt;
    PanFactors(r.pan, &l, &rt);
    EXPECT_FLOAT_EQ(l, r.left) << r.pan;
    EXPECT_FLOAT_EQ(rt, r.right) << r.pan;
  }
}

struct Source {
  std::vector<uint8_t> bytes;
  uint32_t bytesPerFrame;
  size_t at = 0;
};

uint32_t FromSource(void *arg, void *buffer, uint32_t max) {
  auto *s = static_cast<Source *>(arg);
  size_t frames = (s->bytes.size() - s->at) / s->bytesPerFrame;
  uint32_t n = frames < max ? uint32_t(frames) : max;
  std::memcpy(buffer, s->bytes.data() + s->at, size_t(n) * s->bytesPerFrame);
  s->at += size_t(n) * s->bytesPerFrame;
  return n;
}

TEST(AudioOutput, ConverterFormatsAndRates) {
  // 8-bit unsigned mono at the output rate: exact values, the same on both sides.
  Source u8{{0, 64, 128, 192, 255}, 1};
  qmAudioFormat f;
  FillStreamDescription(&f, 48000, 8, 1, 0);
  qmAudioConverter *c = nullptr;
  ASSERT_EQ(NewAudioConverter(&f, 48000, FromSource, &u8, &c), 0u);
  std::vector<float> out(20, 0.0f);
  EXPECT_EQ(ConvertAudio(c, out.data(), 10, 1, 1), 5u);
  const float want[] = {-1.0f, -0.5f, 0.0f, 0.5f, 127.0f / 128};
  for (int i = 0; i < 5; i++) {
    EXPECT_FLOAT_EQ(out[2 * i], want[i]);
    EXPECT_FLOAT_EQ(out[2 * i + 1], want[i]);
  }
  EXPECT_TRUE(c->ended);
  FreeAudioConverter(c);

  // 16-bit big-endian stereo at half the rate: twice the frames, linear in between.
  Source be{{0x40, 0x00, 0xC0, 0x00, 0x20, 0x00, 0xE0, 0x00}, 4};
  FillStreamDescription(&f, 24000, 16, 2, AUDIOFMT_SIGNED | AUDIOFMT_BIGENDIAN);
  ASSERT_EQ(NewAudioConverter(&f, 48000, FromSource, &be, &c), 0u);
  std::fill(out.begin(), out.end(), 0.0f);
  EXPECT_EQ(ConvertAudio(c, out.data(), 10, 1, 1), 4u);
  EXPECT_FLOAT_EQ(out[0], 0.5f);
  EXPECT_FLOAT_EQ(out[1], -0.5f);
  EXPECT_FLOAT_EQ(out[2], 0.375f);   // half way to 0.25
  EXPECT_FLOAT_EQ(out[3], -0.375f);
  EXPECT_FLOAT_EQ(out[4], 0.25f);
  FreeAudioConverter(c);

  FillStreamDescription(&f, 48000, 24, 2, AUDIOFMT_SIGNED);
  EXPECT_NE(NewAudioConverter(&f, 48000, FromSource, &be, &c), 0u);
}

TEST(AudioOutput, OpenNeedsASinkAndTheNullSinkOpens) {
  ASSERT_EQ(InitAudio(), 0u);
  SetAudioSink(nullptr);
  EXPECT_NE(OpenAudioOutput(), 0u);
  SetAudioSink(&kNullAudioSink);
  EXPECT_EQ(OpenAudioOutput(), 0u);
  EXPECT_TRUE(AudioOutputOpen());
  EXPECT_EQ(AudioOutputRate(), kOutputRate);
  std::vector<float> out(64, 1.0f);
  RenderAudioOutput(out.data(), 32);  // no inputs: silence
  for (float v : out) EXPECT_EQ(v, 0.0f);
  CloseAudioOutput();
  SetAudioSink(nullptr);
}

// A looping source like the sound channels' samples: `passes` passes over the bytes (0 without
// end), handed over in chunks of at most `chunk` frames, so fetches end short and mid-frame-run.
struct LoopSource {
  std::vector<uint8_t> bytes;
  uint32_t bytesPerFrame, chunk, passes;
  size_t at = 0;
  uint32_t pass = 1;
};

uint32_t FromLoop(void *arg, void *buffer, uint32_t max) {
  auto *s = static_cast<LoopSource *>(arg);
  size_t total = s->bytes.size() / s->bytesPerFrame;
  if (s->at == total) {
    if (s->passes != 0 && s->pass >= s->passes) return 0;
    s->pass++;
    s->at = 0;
  }
  size_t n = total - s->at;
  if (n > max) n = max;
  if (n > s->chunk) n = s->chunk;
  std::memcpy(buffer, s->bytes.data() + s->at * s->bytesPerFrame, n * s->bytesPerFrame);
  s->at += n;
  return uint32_t(n);
}

// The converter's render (vector where the processor has AVX2) and its scalar path equal the
// frame-by-frame render bit for bit over random setups: every layout, rates below, at and far
// above the output's, gains, short fetches, loops and ends, and pulls of every size down to one
// frame.
TEST(AudioOutput, FastRenderEqualsStepwiseRender) {
  using Render = uint32_t (*)(qmAudioConverter *, float *, uint32_t, float, float);
  const struct {
    const char *name;
    Render render;
  } paths[] = {{"ConvertAudio", ConvertAudio}, {"ConvertAudioBatched", ConvertAudioBatched}};
  std::mt19937 rng(20261210);
  const uint32_t rates[] = {1, 7, 8000, 11025, 22050, 32000, 44100, 47999, 48000, 48001, 96000, 192000, 1000003};
  const uint32_t flags[] = {0, AUDIOFMT_SIGNED, AUDIOFMT_SIGNED | AUDIOFMT_BIGENDIAN, AUDIOFMT_BIGENDIAN};
  for (int round = 0; round < 400; round++) {
    qmAudioFormat f;
    uint32_t bits = rng() % 2 ? 16 : 8, channels = rng() % 2 + 1;
    FillStreamDescription(&f, rates[rng() % std::size(rates)], bits, channels, flags[rng() % 4]);
    LoopSource plainSource;
    plainSource.bytesPerFrame = f.bytesPerFrame;
    plainSource.bytes.resize(size_t(rng() % 700 + 1) * f.bytesPerFrame);
    for (uint8_t &b : plainSource.bytes) b = uint8_t(rng());
    plainSource.chunk = rng() % 3 == 0 ? rng() % 5 + 1 : 1000;
    plainSource.passes = rng() % 4;
    LoopSource sources[2] = {plainSource, plainSource};
    float gl = float(rng() % 1000) / 999, gr = float(rng() % 1000) / 999;
    qmAudioConverter *plain = nullptr, *converters[2] = {nullptr, nullptr};
    ASSERT_EQ(NewAudioConverter(&f, 48000, FromLoop, &plainSource, &plain), 0u);
    for (int p = 0; p < 2; p++) ASSERT_EQ(NewAudioConverter(&f, 48000, FromLoop, &sources[p], &converters[p]), 0u);
    // All add into the same noise, as the mixer adds the channels into one block.
    std::vector<float> outPlain(2 * 3000), outs[2];
    for (float &v : outPlain) v = float(int32_t(rng() % 2001) - 1000) / 1000;
    outs[0] = outs[1] = outPlain;
    uint32_t at = 0;
    for (int pull = 0; pull < 12 && at < 3000; pull++) {
      uint32_t want = rng() % 3 == 0 ? rng() % 5 + 1 : rng() % 700 + 1;
      if (want > 3000 - at) want = 3000 - at;
      uint32_t made = ConvertAudioStepwise(plain, outPlain.data() + 2 * at, want, gl, gr);
      for (int p = 0; p < 2; p++) {
        ASSERT_EQ(paths[p].render(converters[p], outs[p].data() + 2 * at, want, gl, gr), made)
            << paths[p].name << ", round " << round << " pull " << pull;
        ASSERT_EQ(converters[p]->ended, plain->ended) << paths[p].name << ", round " << round;
      }
      at += want;
    }
    for (int p = 0; p < 2; p++) {
      ASSERT_EQ(std::memcmp(outs[p].data(), outPlain.data(), outPlain.size() * sizeof(float)), 0)
          << paths[p].name << ", round " << round << ": rate " << f.rate << ", " << bits << " bits, " << channels
          << " channels";
      FreeAudioConverter(converters[p]);
    }
    FreeAudioConverter(plain);
  }
}

}  // namespace

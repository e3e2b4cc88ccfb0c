// The Protracker module player beside libxmp playing the same files: the (position, row)
// timeline tick by tick, and the loudness envelope of the audio.
#include <xmp.h>

#include <cstring>
#include <utility>
#include <vector>

#include "media/sound/module.h"
#include "runtime/errcodes.h"
#include "tests/media/sound/sound_vm.h"

namespace {

std::vector<uint8_t> Bytes(const std::string &path) {
  std::string s = ReadFileBytes(path);
  return std::vector<uint8_t>(s.begin(), s.end());
}

struct Tick {
  int pos, row;
  bool operator==(const Tick &o) const { return pos == o.pos && row == o.row; }
};

// libxmp's ticks until the song loops, with the mono RMS of each tick's audio.
void XmpTimeline(const std::string &path, std::vector<Tick> *ticks, std::vector<double> *rms) {
  xmp_context c = xmp_create_context();
  ASSERT_EQ(xmp_load_module(c, const_cast<char *>(path.c_str())), 0);
  ASSERT_EQ(xmp_start_player(c, 48000, 0), 0);
  xmp_set_player(c, XMP_PLAYER_INTERP, XMP_INTERP_NEAREST);
  xmp_set_player(c, XMP_PLAYER_MIX, 100);
  xmp_frame_info fi;
  while (xmp_play_frame(c) == 0) {
    xmp_get_frame_info(c, &fi);
    if (fi.loop_count > 0) break;
    ticks->push_back({fi.pos, fi.row});
    auto *s = static_cast<int16_t *>(fi.buffer);
    size_t n = size_t(fi.buffer_size) / 4;
    double sum = 0;
    for (size_t i = 0; i < n; i++) {
      double m = (double(s[2 * i]) + s[2 * i + 1]) / 2;
      sum += m * m;
    }
    rms->push_back(n ? std::sqrt(sum / double(n)) : 0);
  }
  xmp_end_player(c);
  xmp_release_module(c);
  xmp_free_context(c);
}

void OurTimeline(qmModule *m, size_t count, std::vector<Tick> *ticks, std::vector<double> *rms) {
  std::vector<int16_t> buf(48000 * 2);
  for (size_t t = 0; t < count; t++) {
    RenderModuleAudio(m, buf.data(), 1);  // the tick is processed at its first frame
    ticks->push_back({m->reportedPos.load(), m->reportedRow.load()});
    uint32_t rest = ModuleFramesToNextTick(m);
    RenderModuleAudio(m, buf.data() + 2, rest);
    double sum = 0;
    for (uint32_t i = 0; i <= rest; i++) {
      double v = (double(buf[2 * i]) + buf[2 * i + 1]) / 2;
      sum += v * v;
    }
    rms->push_back(std::sqrt(sum / (rest + 1)));
  }
}

// The RMS of each window of n ticks.
std::vector<double> Windowed(const std::vector<double> &rms, size_t n) {
  std::vector<double> out;
  for (size_t i = 0; i + n <= rms.size(); i += n) {
    double s = 0;
    for (size_t k = i; k < i + n; k++) s += rms[k] * rms[k];
    out.push_back(std::sqrt(s / double(n)));
  }
  return out;
}

double Correlation(const std::vector<double> &a, const std::vector<double> &b) {
  size_t n = std::min(a.size(), b.size());
  double ma = 0, mb = 0;
  for (size_t i = 0; i < n; i++) {
    ma += a[i];
    mb += b[i];
  }
  ma /= double(n);
  mb /= double(n);
  double sab = 0, saa = 0, sbb = 0;
  for (size_t i = 0; i < n; i++) {
    sab += (a[i] - ma) * (b[i] - mb);
    saa += (a[i] - ma) * (a[i] - ma);
    sbb += (b[i] - mb) * (b[i] - mb);
  }
  return sab / std::sqrt(saa * sbb);
}

TEST(SoundModule, TimelineAndEnvelopeMatchLibxmp) {
  std::string path = Fixture("song.mod");
  std::vector<Tick> theirs, ours;
  std::vector<double> theirRms, ourRms;
  XmpTimeline(path, &theirs, &theirRms);
  ASSERT_GT(theirs.size(), 100u);
  std::vector<uint8_t> image = Bytes(path);
  qmModule m;
  ASSERT_EQ(InitModule(&m, image.data(), image.size(), 48000), 0u);
  OurTimeline(&m, theirs.size(), &ours, &ourRms);
  for (size_t i = 0; i < theirs.size(); i++) {
    ASSERT_EQ(ours[i].pos, theirs[i].pos) << "tick " << i;
    ASSERT_EQ(ours[i].row, theirs[i].row) << "tick " << i;
  }
  // The loudness rises and falls with libxmp's, tick by tick.
  // Per tick the two mixers' waveforms beat differently; over windows of twelve ticks (about a
  // quarter second) the loudness rises and falls with libxmp's.
  std::vector<double> a = Windowed(ourRms, 12), b = Windowed(theirRms, 12);
  EXPECT_GT(Correlation(a, b), 0.9);
  double sa = 0, sb = 0;
  for (size_t i = 0; i < a.size(); i++) {
    sa += a[i];
    sb += b[i];
  }
  EXPECT_NEAR(sa / sb, 1.0, 0.15);
}

TEST(SoundModule, Layout) {
  std::vector<uint8_t> image = Bytes(Fixture("pattern5.mod"));
  qmModule m;
  ASSERT_EQ(InitModule(&m, image.data(), image.size(), 48000), 0u);
  EXPECT_EQ(m.patterns, 6u);
  EXPECT_EQ(m.samples[0].data, reinterpret_cast<const int8_t *>(m.image.data() + 1084 + 6 * 1024));
  EXPECT_EQ(m.samples[0].data[2], 3);
  EXPECT_EQ(m.songLength, 2u);
  // Refused: cut inside the patterns, song length 0.
  qmModule bad;
  std::vector<uint8_t> cut = Bytes(Fixture("truncated.mod"));
  EXPECT_EQ(InitModule(&bad, cut.data(), cut.size(), 48000), uint32_t(ERR_UNKNOWNMUSFMT));
  std::vector<uint8_t> none = Bytes(Fixture("nolength.mod"));
  EXPECT_EQ(InitModule(&bad, none.data(), none.size(), 48000), uint32_t(ERR_UNKNOWNMUSFMT));
}

TEST(SoundModule, LoopsAreClampedAndSampleNumbersBeyond31Ignored) {
  std::vector<uint8_t> image = Bytes(Fixture("longloop.mod"));
  qmModule m;
  ASSERT_EQ(InitModule(&m, image.data(), image.size(), 48000), 0u);
  EXPECT_EQ(m.samples[0].repeatStart >> 14, 32u);
  EXPECT_EQ(m.samples[0].repeatLength >> 14, 32u);  // 200 cut to the 64-byte sample
  EXPECT_EQ(m.samples[0].loopEnd >> 14, 64u);
  std::vector<int16_t> buf(48000 * 2);
  RenderModuleAudio(&m, buf.data(), 48000);
  EXPECT_EQ(m.voices[1].sample, 0);  // sample 40 does not exist
  EXPECT_GE(m.voices[0].position, 0);  // the loop keeps the voice sounding
}

TEST(SoundModule, EffectsOfTheFirstTick) {
  // A one-pattern module written here: C40, F00, E00 and a jump request.
  std::vector<uint8_t> image = Bytes(Fixture("pattern5.mod"));
  qmModule m;
  ASSERT_EQ(InitModule(&m, image.data(), image.size(), 48000), 0u);
  auto cell = [&](int pattern, int row, int ch) -> qmModCell & {
    return m.cells[(size_t(pattern) * 64 + row) * 4 + ch];
  };
  cell(5, 0, 0) = {428, 1, 0xC, 4, 0, 0x40};
  cell(5, 0, 1) = {0, 0, 0xF, 0, 0, 0};
  cell(5, 0, 2) = {0, 0, 0xE, 0, 0, 0};
  std::vector<int16_t> buf(200);
  RenderModuleAudio(&m, buf.data(), 1);
  EXPECT_EQ(m.voices[0].volume, 63);  // 64 and above play at 63
  EXPECT_EQ(m.speed, 6);
  EXPECT_EQ(m.tempo, 125);
  EXPECT_TRUE(m.flags & MODFLAG_SONGEND);
  EXPECT_EQ(m.filterOn, 1);  // E00 switches the low-pass on
  EXPECT_EQ(RequestModulePosition(&m, 2), uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(RequestModulePosition(&m, 1), 0u);
  RenderModuleAudio(&m, buf.data(), 1);
  EXPECT_EQ(m.reportedPos.load(), 1);
  EXPECT_EQ(m.reportedRow.load(), 0);
}

}  // namespace

// Music streams and custom streams through the player's VM, pulled offline. The refill thread
// runs for real: between pulls the tests wait until it has filled the half that plays next.
#include <chrono>
#include <cstring>
#include <thread>

#include "media/sound/sound_state.h"
#include "runtime/errcodes.h"
#include "tests/media/sound/sound_vm.h"

namespace {

// The 16-bit PCM of a canonical WAVE file (44-byte header).
std::vector<int16_t> WavePcm(const std::string &path) {
  std::string b = ReadFileBytes(path);
  std::vector<int16_t> v((b.size() - 44) / 2);
  std::memcpy(v.data(), b.data() + 44, v.size() * 2);
  return v;
}

qmMixerChannel *MusicChannel(SoundVm &vm) {
  for (int i = 0; i < kMixerInputs; i++) {
    int32_t s = GetMixerChannel(vm.Channels(), i)->state.load();
    if (s == CHAN_STREAM || s == CHAN_MODULE) return GetMixerChannel(vm.Channels(), i);
  }
  return nullptr;
}

void WaitForRefill(SoundVm &vm) {
  for (int i = 0; i < 5000; i++) {
    qmMixerChannel *ch = MusicChannel(vm);
    if (!ch || StreamRefillCaughtUp(ch)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ADD_FAILURE() << "the refill thread did not catch up";
}

// Pulls frames in blocks the way a device would, letting the refill thread keep up.
std::vector<float> PullMusic(SoundVm &vm, uint32_t frames, uint32_t block = 4800) {
  std::vector<float> all;
  while (frames) {
    uint32_t n = frames < block ? frames : block;
    WaitForRefill(vm);
    std::vector<float> b = SoundVm::Pull(n);
    all.insert(all.end(), b.begin(), b.end());
    frames -= n;
  }
  return all;
}

// Where the output starts to equal pcm (stereo), compared over count values from value index at.
bool SameAs(const std::vector<float> &out, size_t at, const std::vector<int16_t> &pcm, size_t from, size_t count) {
  for (size_t i = 0; i < count; i++)
    if (out[at + i] != float(pcm[(from + i) % pcm.size()]) / 32768.0f) return false;
  return true;
}

TEST(SoundMusic, StreamPlaysItsPcmAndEnds) {
  SoundVm vm;
  vm.SetHandlerFlags(false, false, true);
  std::vector<int16_t> pcm = WavePcm(Fixture("long16.wav"));
  ASSERT_EQ(vm.SndCode("OpenMusic", {1, Fixture("long16.wav")}), 0u);
  ASSERT_EQ(vm.SndCode("PlayMusic", {1}), 0u);
  EXPECT_FALSE(StreamIsSingleBuffer(MusicChannel(vm)));
  size_t frames = pcm.size() / 2;
  std::vector<float> out = PullMusic(vm, uint32_t(frames + 4800));
  EXPECT_TRUE(SameAs(out, 0, pcm, 0, pcm.size()));
  for (size_t i = pcm.size(); i < out.size(); i++) ASSERT_EQ(out[i], 0.0f) << i;
  // The end entry ended the music (its end event went to the dispatcher, which has no
  // OnMusicEnd handler here).
  EXPECT_EQ(vm.SndNum("IsMusicPlaying", {1}), 0);
  vm.SetHandlerFlags(false, false, false);
}

TEST(SoundMusic, TimesTwoPlaysThePcmTwiceAndTimesZeroAlwaysWraps) {
  SoundVm vm;
  std::vector<int16_t> pcm = WavePcm(Fixture("long16.wav"));
  size_t frames = pcm.size() / 2;
  ASSERT_EQ(vm.SndCode("OpenMusic", {1, Fixture("long16.wav")}), 0u);
  ASSERT_EQ(vm.SndCode("PlayMusic", {1, 2}), 0u);
  std::vector<float> out = PullMusic(vm, uint32_t(2 * frames + 2400));
  EXPECT_TRUE(SameAs(out, 0, pcm, 0, 2 * pcm.size()));
  EXPECT_EQ(Rms(out.data() + 2 * pcm.size(), 4800), 0.0);
  ASSERT_EQ(vm.SndCode("PlayMusic", {1, 0}), 0u);
  out = PullMusic(vm, uint32_t(3 * frames + 100));
  EXPECT_TRUE(SameAs(out, 0, pcm, 0, 3 * pcm.size() + 200));
  EXPECT_EQ(vm.SndNum("IsMusicPlaying", {1}), 1);
}

TEST(SoundMusic, ShortStreamPlaysSingleBuffered) {
  SoundVm vm;
  std::vector<int16_t> pcm = WavePcm(Fixture("stereo16.wav"));
  ASSERT_EQ(vm.SndCode("OpenMusic", {1, Fixture("stereo16.wav")}), 0u);
  ASSERT_EQ(vm.SndCode("PlayMusic", {1}), 0u);
  ASSERT_NE(MusicChannel(vm), nullptr);
  EXPECT_TRUE(StreamIsSingleBuffer(MusicChannel(vm)));
  std::vector<float> out = SoundVm::Pull(6000);
  EXPECT_TRUE(SameAs(out, 0, pcm, 0, pcm.size()));
}

TEST(SoundMusic, PauseResumeKeepsThePlaceStopPlayRestarts) {
  SoundVm vm;
  std::vector<int16_t> pcm = WavePcm(Fixture("long16.wav"));
  ASSERT_EQ(vm.SndCode("OpenMusic", {1, Fixture("long16.wav")}), 0u);
  EXPECT_EQ(vm.SndCode("StopMusic", {}), uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.SndCode("ResumeMusic", {1}), uint32_t(ERR_MUSNOTPAUSED));
  ASSERT_EQ(vm.SndCode("PlayMusic", {1}), 0u);
  PullMusic(vm, 60000);
  ASSERT_EQ(vm.SndCode("PauseMusic", {1}), 0u);
  EXPECT_EQ(vm.SndNum("IsMusicPlaying", {1}), 0);
  double at = vm.SndNum("GetAttribute", {33, 1, 18});  // ATTRPOSITION, ms
  EXPECT_NEAR(at, 1250, 10);
  ASSERT_EQ(vm.SndCode("ResumeMusic", {}), 0u);
  std::vector<float> out = PullMusic(vm, 4800);
  // It goes on where the converter had read to: at most one fetch past what was heard.
  size_t found = 0;
  for (size_t f = 60000; f < 60400 && !found; f++)
    if (SameAs(out, 0, pcm, 2 * f, 2000)) found = f;
  EXPECT_NE(found, 0u);
  ASSERT_EQ(vm.SndCode("StopMusic", {1}), 0u);
  EXPECT_EQ(vm.SndCode("StopMusic", {1}), uint32_t(ERR_MUSNOTPLYNG));
  ASSERT_EQ(vm.SndCode("PlayMusic", {1}), 0u);
  out = PullMusic(vm, 4800);
  EXPECT_TRUE(SameAs(out, 0, pcm, 0, 9600));
}

TEST(SoundMusic, SeekAndAttributes) {
  SoundVm vm;
  std::vector<int16_t> pcm = WavePcm(Fixture("long16.wav"));
  ASSERT_EQ(vm.SndCode("OpenMusic", {1, Fixture("long16.wav")}), 0u);
  EXPECT_EQ(vm.SndNum("GetAttribute", {33, 1, 14}), 3025);  // ATTRDURATION
  EXPECT_EQ(vm.SndNum("GetAttribute", {33, 1, 15}), 48000);
  EXPECT_EQ(vm.SndNum("GetAttribute", {33, 1, 72}), 1);     // ATTRCANSEEK
  DosCall f = vm.Snd("GetAttribute", {33, 1, 19});
  EXPECT_EQ(f.results[0].str, "RIFF WAVE");
  EXPECT_EQ(vm.SndCode("SeekMusic", {1, 3025}), uint32_t(ERR_SEEKRANGE));
  EXPECT_EQ(vm.SndCode("SeekMusic", {1, -1}), uint32_t(ERR_SEEKRANGE));
  ASSERT_EQ(vm.SndCode("SeekMusic", {1, 2000}), 0u);
  ASSERT_EQ(vm.SndCode("ResumeMusic", {1}), uint32_t(ERR_MUSNOTPAUSED));
  // PlayMusic starts from the beginning; a seek while playing goes on from there.
  ASSERT_EQ(vm.SndCode("PlayMusic", {1}), 0u);
  ASSERT_EQ(vm.SndCode("SeekMusic", {1, 2000}), 0u);
  std::vector<float> out = PullMusic(vm, 2400);
  EXPECT_TRUE(SameAs(out, 0, pcm, 2 * 96000, 4800));
}

TEST(SoundMusic, OpenMusicAndIsMusic) {
  SoundVm vm;
  EXPECT_EQ(vm.SndCode("OpenMusic", {1, Fixture("junk.mus")}), uint32_t(ERR_UNKNOWNMUSFMT));
  EXPECT_EQ(vm.SndCode("OpenMusic", {1, Fixture("missing.wav")}), uint32_t(ERR_READFILE));
  const struct {
    const char *file;
    double ok;
    const char *name;
  } rows[] = {{"song.mod", 1, "Protracker"},
              {"stereo.8svx", 1, "IFF 8SVX"},
              {"mono.16sv", 1, "IFF 16SV"},
              {"mono8.wav", 1, "RIFF WAVE"},
              {"junk.mus", 0, "Unknown"},
              {"truncated.mod", 0, "Unknown"}};
  for (const auto &r : rows) {
    DosCall c = vm.Snd("IsMusic", {Fixture(r.file)});
    ASSERT_EQ(c.code, 0u) << r.file;
    EXPECT_EQ(c.results[0].num, r.ok) << r.file;
    EXPECT_EQ(c.results[1].str, r.name) << r.file;
  }
}

// A rate read from a file sizes the stream's buffer and its resampling: one beyond every rate
// in use is refused when the file is opened, before anything is allocated for it.
TEST(SoundMusic, ARateNoRecordingUsesIsRefused) {
  SoundVm vm;
  const struct {
    const char *file;
    uint32_t open, play;
  } rows[] = {{"rate_top.wav", 0, 0}, {"rate_huge.wav", ERR_OPENSOUND2, ERR_FINDMUSIC}};
  for (const auto &r : rows) {
    EXPECT_EQ(vm.SndCode("OpenMusic", {1, Fixture(r.file)}), r.open) << r.file;
    EXPECT_EQ(vm.SndCode("PlayMusic", {1}), r.play) << r.file;
    vm.SndCode("StopMusic", {1});
    vm.SndCode("CloseMusic", {1});
  }
}

TEST(SoundMusic, ModuleCommands) {
  SoundVm vm;
  ASSERT_EQ(vm.SndCode("LoadModule", {1, Fixture("song.mod")}), 0u);
  EXPECT_EQ(vm.SndCode("SeekMusic", {1, 10}), uint32_t(ERR_SEEKFORMAT));
  EXPECT_EQ(vm.SndNum("GetSongPosition", {}), -1);
  EXPECT_EQ(vm.SndCode("PlaySubsong", {1}), uint32_t(ERR_WRONGUSAGE));
  ASSERT_EQ(vm.SndCode("PlayModule", {1}), 0u);
  SoundVm::Pull(4800);
  EXPECT_EQ(vm.SndNum("GetSongPosition", {}), 0);
  EXPECT_GT(vm.SndNum("GetPatternPosition", {}), 0);
  EXPECT_EQ(vm.SndCode("PlaySubsong", {4}), uint32_t(ERR_WRONGUSAGE));  // the song has 4 positions
  ASSERT_EQ(vm.SndCode("PlaySubsong", {3}), 0u);
  SoundVm::Pull(100);
  EXPECT_EQ(vm.SndNum("GetSongPosition", {}), 3);
  EXPECT_EQ(vm.SndNum("GetPatternPosition", {}), 0);
  EXPECT_EQ(vm.SndNum("GetAttribute", {33, 1, 15}), 48000);
  EXPECT_EQ(vm.SndNum("GetAttribute", {33, 1, 9}), 3);  // STEREO16
  ASSERT_EQ(vm.SndCode("StopModule", {}), 0u);
  EXPECT_EQ(vm.SndNum("GetSongPosition", {}), -1);
  // WaitSongPosition returns at once when nothing plays.
  EXPECT_EQ(vm.SndCode("WaitSongPosition", {2}), 0u);
  EXPECT_EQ(vm.SndCode("FreeModule", {1}), 0u);
  EXPECT_EQ(vm.SndCode("OpenMusic", {2, Fixture("truncated.mod")}), uint32_t(ERR_UNKNOWNMUSFMT));
  EXPECT_EQ(vm.SndCode("OpenMusic", {2, Fixture("nolength.mod")}), uint32_t(ERR_UNKNOWNMUSFMT));
}

TEST(SoundMusic, CustomStreamNeedsItsHandlerAndItsCallback) {
  SoundVm vm;
  EXPECT_EQ(vm.SndCode("CreateMusic", {1, 8000, 1}), uint32_t(ERR_NOFMBHANDLER));
  EXPECT_EQ(vm.SndCode("FillMusicBuffer", {1, "mute", 100}), uint32_t(ERR_NOMUSICCB));
}

}  // namespace

namespace {

// The FillMusicBuffer handler of the custom-stream test: hands over the frames wanted as a
// rising count (frames delivered + i), or an end entry once 20000 frames are out.
uint32_t FillHandler(VmState *L) {
  vm_pushstring(L, "frames");
  vm_rawget(L, 1);
  int wanted = int(vm_tonumber(L, -1));
  vm_pushstring(L, "delivered");
  vm_rawget(L, 1);
  int delivered = int(vm_tonumber(L, -1));
  vm_pushstring(L, "id");
  vm_rawget(L, 1);
  double id = vm_tonumber(L, -1);
  vm_pushstring(L, "fillmusicbuffer");
  vm_gettable(L, VM_GLOBALSINDEX);
  vm_pushnumber(L, id);
  if (delivered >= 20000) {
    vm_pushstring(L, "end");
    vm_pushnumber(L, 0);
    vm_call(L, 3, 0);
    return 0;
  }
  if (wanted > 20000 - delivered) wanted = 20000 - delivered;
  vm_pushstring(L, "pcm");
  vm_pushnumber(L, wanted);
  vm_newtable(L);
  vm_pushstring(L, "data");
  vm_newtable(L);
  for (int i = 0; i < wanted; i++) {
    vm_pushnumber(L, (delivered + i) % 30000);
    vm_rawseti(L, -2, i);
  }
  vm_rawset(L, -3);
  vm_call(L, 4, 0);
  return 0;
}

TEST(SoundMusic, CustomStreamPlaysWhatTheHandlerHandsOver) {
  SoundVm vm;
  vm_settop(vm.L, 0);
  vm.PushCommand("InstallEventHandler");
  vm_newtable(vm.L);
  vm_pushstring(vm.L, "fillmusicbuffer");
  vm_pushcclosure(vm.L, FillHandler, 0);
  vm_rawset(vm.L, -3);
  ASSERT_EQ(vm_pcall(vm.L, 1, 0, 0), 0u);
  vm.SetHandlerFlags(false, false, true);
  // CreateMusic asks for two seconds at once.
  ASSERT_EQ(vm.SndCode("CreateMusic", {1, 8000, 1}), 0u);
  EXPECT_EQ(vm.SndNum("GetAttribute", {33, 1, 15}), 8000);
  DosCall f = vm.Snd("GetAttribute", {33, 1, 19});
  EXPECT_EQ(f.results[0].str, "Custom stream");
  ASSERT_EQ(vm.SndCode("PlayMusic", {1}), 0u);
  std::vector<float> out;
  for (int step = 0; step < 35; step++) {
    vm.SndCode("CheckEvent", {});  // the dispatcher asks for buffers as they run low
    std::vector<float> b = PullMusic(vm, 4800);
    out.insert(out.end(), b.begin(), b.end());
  }
  // 20000 frames at 8000 Hz are 2.5 s at 48000 Hz: 120000 output frames, a rising count.
  for (int f2 = 0; f2 < 110000; f2 += 6000) {
    double src = f2 / 6.0;
    EXPECT_NEAR(out[2 * size_t(f2)] * 32768.0, int(src) % 30000, 100.0) << f2;
  }
  EXPECT_EQ(Rms(out.data() + 2 * 125000, 2 * 10000), 0.0);
  // The end entry ended the music (its end event went to the dispatcher, which has no
  // OnMusicEnd handler here).
  EXPECT_EQ(vm.SndNum("IsMusicPlaying", {1}), 0);
  // Outside its handler FillMusicBuffer is refused.
  EXPECT_EQ(vm.SndCode("FillMusicBuffer", {1, "mute", 100}), uint32_t(ERR_NOMUSICCB));
  vm.SetHandlerFlags(false, false, false);
}

}  // namespace

namespace {

TEST(SoundMusic, PlayMusicAgainStartsOverAlsoWhenPausedOrPlaying) {
  SoundVm vm;
  std::vector<int16_t> pcm = WavePcm(Fixture("long16.wav"));
  ASSERT_EQ(vm.SndCode("OpenMusic", {1, Fixture("long16.wav")}), 0u);
  for (const char *between : {"PauseMusic", "none"}) {
    SCOPED_TRACE(between);
    ASSERT_EQ(vm.SndCode("PlayMusic", {1}), 0u);
    PullMusic(vm, 24000);
    if (std::string(between) != "none") {
      ASSERT_EQ(vm.SndCode(between, {1}), 0u);
    }
    ASSERT_EQ(vm.SndCode("PlayMusic", {1}), 0u);
    std::vector<float> out = PullMusic(vm, 4800);
    EXPECT_TRUE(SameAs(out, 0, pcm, 0, 9600));
  }
  ASSERT_EQ(vm.SndCode("LoadModule", {2, Fixture("song.mod")}), 0u);
  ASSERT_EQ(vm.SndCode("PlayModule", {2}), 0u);
  SoundVm::Pull(48000);
  ASSERT_EQ(vm.SndCode("PlayModule", {2}), 0u);
  SoundVm::Pull(10);
  EXPECT_EQ(vm.SndNum("GetSongPosition", {}), 0);
  EXPECT_EQ(vm.SndNum("GetPatternPosition", {}), 0);
}

}  // namespace

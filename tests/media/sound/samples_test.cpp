// Sample commands through the player's VM, with the mixer pulled offline on the null sink.
#include <atomic>
#include <cstring>
#include <thread>

#include "platform/mutex.h"
#include "runtime/eventdispatch.h"
#include "runtime/polltimer.h"

#include "media/sound/sound_stream.h"
#include "runtime/errcodes.h"
#include "tests/media/sound/sound_vm.h"

namespace {

enum { MONO8 = 0, MONO16 = 1, STEREO8 = 2, STEREO16 = 3 };

// A mono 16-bit sample of n frames, values 0, 100, 200 ...
SndTable Ramp16(int n) {
  SndTable t;
  for (int i = 0; i < n; i++) t.values.push_back((i * 100) % 30000);
  return t;
}

TEST(SoundSamples, CreateSampleErrors) {
  SoundVm vm;
  SndTable empty;
  SndTable big8;
  big8.values = {1, 2, 128};
  SndTable odd;
  odd.values = {1, 2, 3};
  SndTable wrongSource = Ramp16(4);
  wrongSource.fields = {{"source", "disk"}};
  SndTable fileNoFrames;
  fileNoFrames.fields = {{"source", "file"}, {"id", 1}};
  const struct {
    const char *name;
    std::vector<SndArg> args;
    uint32_t code;
  } rows[] = {
      {"index 0 nil", {1, empty, 8000}, ERR_WRONGUSAGE},
      {"128 in 8-bit", {1, big8, 8000}, ERR_SMPRANGE},
      {"odd stereo count", {1, odd, 8000, STEREO8}, ERR_WRONGUSAGE},
      {"rate 255", {1, Ramp16(4), 255, MONO16}, ERR_LOWFREQ},
      {"unknown type", {1, Ramp16(4), 8000, 7}, ERR_WRONGUSAGE},
      {"negative frames", {1, Ramp16(4), 8000, MONO16, -1}, ERR_WRONGUSAGE},
      {"unknown source", {1, wrongSource, 8000, MONO16}, ERR_WRONGUSAGE},
      {"file without frames", {1, fileNoFrames, 8000, MONO8}, ERR_WRONGUSAGE},
      {"not a table", {1, "pcm", 8000}, ERR_TABEXPECTED},
      // A sample's length in bytes is a 32-bit number: refused before the silence is made.
      {"2^31 - 1 stereo 16-bit frames", {1, Ramp16(4), 8000, STEREO16, 2147483647.0}, ERR_MEM},
      {"2^30 stereo 16-bit frames", {1, Ramp16(4), 8000, STEREO16, 1073741824.0}, ERR_MEM},
  };
  for (const auto &r : rows) EXPECT_EQ(vm.SndCode("CreateSample", r.args), r.code) << r.name;
  EXPECT_EQ(vm.SndNum("GetAttribute", {2, 0, 60}), 0);  // ATTRCOUNT: nothing was made
}

// With a frame count, the table's values land at their indices, the values it lacks are
// silence, and entries past the count or with other keys are not read; a count far beyond the
// table costs no look-up per frame.
TEST(SoundSamples, CreateSampleTakesTheTablesOwnValues) {
  SoundVm vm;
  VmState *L = vm.L;
  const struct {
    const char *name;
    int32_t frames;
  } rows[] = {{"a few frames", 6}, {"64 M frames", 1 << 26}};
  for (const auto &r : rows) {
    vm_settop(L, 0);
    vm.PushCommand("CreateSample");
    vm_pushnumber(L, 1);
    vm_newtable(L);
    for (auto [key, value] : {std::pair{0, 5}, {2, -9}, {5, 127}, {6, -128}}) {
      vm_pushnumber(L, value);
      vm_rawseti(L, -2, key);
    }
    vm_pushstring(L, "name");
    vm_pushnumber(L, 120);
    vm_rawset(L, -3);
    vm_pushnumber(L, 8000);
    vm_pushnumber(L, MONO8);
    vm_pushnumber(L, r.frames);
    ASSERT_EQ(vm_pcall(L, 5, 0, 0), 0u) << r.name;
    EXPECT_EQ(vm.SndNum("GetAttribute", {2, 1, 11}), r.frames) << r.name;  // ATTRNUMFRAMES
    if (r.frames > 100) continue;
    DosCall data = vm.Snd("GetSampleData", {1}, true);
    ASSERT_EQ(data.code, 0u);
    std::vector<double> got;
    for (int i = 0; i < r.frames; i++) {
      vm_rawgeti(L, 1, i);
      got.push_back(vm_tonumber(L, -1));
      vm_pop(L, 1);
    }
    EXPECT_EQ(got, (std::vector<double>{5, 0, -9, 0, 0, 127})) << r.name;
  }
}

TEST(SoundSamples, NoSoundMakesTheCommandsSilentNoOps) {
  SoundVm vm;
  SetAudioSink(nullptr);  // no device can be opened
  EXPECT_EQ(vm.SndNum("IsSound", {}), 0);
  EXPECT_EQ(vm.SndCode("LoadSample", {1, Fixture("mono8.wav")}), 0u);
  EXPECT_EQ(vm.SndCode("CreateSample", {2, Ramp16(10), 8000, MONO16}), 0u);
  EXPECT_EQ(vm.SndCode("PlaySample", {1}), 0u);
  EXPECT_EQ(vm.SndNum("IsSample", {Fixture("mono8.wav")}), 1);  // no device needed
  EXPECT_EQ(vm.SndCode("FreeSample", {1}), 0u);
  EXPECT_EQ(vm.SndNum("GetAttribute", {2, 0, 60}), 0);
}

TEST(SoundSamples, AttributesAndGetSampleData) {
  SoundVm vm;
  ASSERT_EQ(vm.SndCode("LoadSample", {1, Fixture("mono8.wav")}), 0u);
  EXPECT_EQ(vm.SndNum("GetAttribute", {2, 1, 9}), MONO8);     // ATTRTYPE
  EXPECT_EQ(vm.SndNum("GetAttribute", {2, 1, 11}), 1000);     // ATTRNUMFRAMES
  EXPECT_EQ(vm.SndNum("GetAttribute", {2, 1, 14}), 125);      // ATTRDURATION: 1000 / 8000 s
  EXPECT_EQ(vm.SndNum("GetAttribute", {2, 1, 15}), 8000);     // ATTRPITCH
  EXPECT_EQ(vm.SndNum("GetAttribute", {2, 1, 18}), -1);       // ATTRPOSITION: not playing
  EXPECT_EQ(vm.SndCode("GetAttribute", {2, 9, 15}), uint32_t(ERR_FINDSAMPLE));
  // 8-bit WAVE data are unsigned: GetSampleData centres them on 0.
  DosCall r = vm.Snd("GetSampleData", {1}, true);
  ASSERT_EQ(r.code, 0u);
  ASSERT_EQ(r.results.size(), 2u);
  EXPECT_EQ(r.results[1].num, 1000);
  for (int i : {0, 1, 37, 999}) {
    vm_rawgeti(vm.L, 1, i);
    EXPECT_EQ(vm_tonumber(vm.L, -1), ((i * 7) & 255) - 128) << i;
    vm_pop(vm.L, 1);
  }
}

TEST(SoundSamples, PlaySamplePlaysTheDataBitExact) {
  SoundVm vm;
  ASSERT_EQ(vm.SndCode("CreateSample", {1, Ramp16(480), 48000, MONO16}), 0u);
  ASSERT_EQ(vm.SndCode("PlaySample", {1}), 0u);
  EXPECT_EQ(vm.SndNum("IsSamplePlaying", {1}), 1);
  std::vector<float> out = SoundVm::Pull(600);
  for (int i = 0; i < 480; i++) {
    float want = float((i * 100) % 30000) / 32768.0f;
    ASSERT_EQ(out[2 * i], want) << i;
    ASSERT_EQ(out[2 * i + 1], want) << i;
  }
  for (int i = 480; i < 600; i++) ASSERT_EQ(out[2 * i], 0.0f) << i;
  UpdateAudioChannels(vm.Channels());
  EXPECT_EQ(vm.SndNum("IsSamplePlaying", {1}), 0);
}

TEST(SoundSamples, TimesAndTimeGiveTheirPasses) {
  SoundVm vm;
  // 1000 ms at 8000 Hz.
  SndTable t;
  t.values.assign(8000, 50);
  ASSERT_EQ(vm.SndCode("CreateSample", {1, t, 8000, MONO16}), 0u);
  const struct {
    const char *name;
    SndArg how;
    double seconds;  // audible length
  } rows[] = {
      {"once", 1, 1.0},
      {"three times", 3, 3.0},
      {"time 1500: two passes, the second cut after 500 ms", SndTable{{}, {{"time", 1500}}, {}}, 1.5},
      {"time 2000: two whole passes", SndTable{{}, {{"time", 2000}}, {}}, 2.0},
  };
  for (const auto &r : rows) {
    ASSERT_EQ(vm.SndCode("PlaySample", {1, r.how}), 0u) << r.name;
    std::vector<float> out = PullUntilQuiet(vm, 48000 * 5);
    size_t loud = 0;
    for (size_t i = 0; i < out.size(); i += 2)
      if (out[i] != 0) loud++;
    EXPECT_NEAR(double(loud), r.seconds * 48000, 8) << r.name;
  }
}

TEST(SoundSamples, LoopAndEndEventsAreCountedNotOverwritten) {
  SoundVm vm;
  vm.SetHandlerFlags(true, true, false);
  // 30 frames at 48000 Hz: under one millisecond, so the pass length must not divide by zero.
  ASSERT_EQ(vm.SndCode("CreateSample", {7, Ramp16(30), 48000, MONO16}), 0u);
  ASSERT_EQ(vm.SndCode("PlaySample", {7, 5}), 0u);
  SoundVm::Pull(1000);  // all five passes within one pull: four loops between deliveries
  std::vector<SoundVm::Event> ev = vm.Events();
  ASSERT_EQ(ev.size(), 5u);
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(ev[i].kind, SNDEVT_SAMPLELOOP);
    EXPECT_EQ(ev[i].count, uint32_t(i + 2));
    EXPECT_EQ(ev[i].id, 7);
  }
  EXPECT_EQ(ev[4].kind, SNDEVT_SAMPLEEND);
  EXPECT_EQ(ev[4].count, 5u);
  EXPECT_EQ(vm.SndNum("GetAttribute", {2, 7, 14}), 0);  // duration 0 ms, no fault
  vm.SetHandlerFlags(false, false, false);
}

TEST(SoundSamples, PlaySampleValidatesEveryPairFirst) {
  SoundVm vm;
  ASSERT_EQ(vm.SndCode("CreateSample", {1, Ramp16(100), 8000, MONO16}), 0u);
  // Five pairs: nothing plays.
  EXPECT_EQ(vm.SndCode("PlaySample", {1, 1, 1, 1, 1, 1, 1, 1, 1}), uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.SndNum("IsSamplePlaying", {1}), 0);
  // A missing sample in the second pair: the first claims no channel either.
  EXPECT_EQ(vm.SndCode("PlaySample", {1, 1, 99, 1}), uint32_t(ERR_FINDSAMPLE));
  SndTable badTime{{}, {{"time", 0}}, {}};
  EXPECT_EQ(vm.SndCode("PlaySample", {1, 1, 1, badTime}), uint32_t(ERR_WRONGUSAGE));
  SndTable lowPitch{{}, {{"pitch", 200}}, {}};
  EXPECT_EQ(vm.SndCode("PlaySample", {1, 1, 1, lowPitch}), uint32_t(ERR_LOWFREQ));
  for (int i = 0; i < kMixerInputs; i++)
    EXPECT_EQ(GetMixerChannel(vm.Channels(), i)->state.load(), CHAN_FREE) << i;
}

TEST(SoundSamples, TheNinthPlayFindsNoChannelAndTheOthersPlayOn) {
  SoundVm vm;
  ASSERT_EQ(vm.SndCode("CreateSample", {1, Ramp16(100), 8000, MONO16}), 0u);
  for (int i = 0; i < 8; i++) ASSERT_EQ(vm.SndCode("PlaySample", {1, 0}), 0u) << i;
  EXPECT_EQ(vm.SndCode("PlaySample", {1, 0}), uint32_t(ERR_NOCHANNEL));
  for (int i = 0; i < kMixerInputs; i++)
    EXPECT_EQ(GetMixerChannel(vm.Channels(), i)->state.load(), CHAN_SAMPLE) << i;
  SoundVm::Pull(4800);
  EXPECT_EQ(vm.SndNum("IsSamplePlaying", {1}), 1);  // times 0 repeats until stopped
  EXPECT_EQ(vm.SndCode("StopSample", {1}), 0u);
  EXPECT_EQ(vm.SndNum("IsSamplePlaying", {1}), 0);
}

TEST(SoundSamples, VolumeAndPanningReachThePlayingChannel) {
  SoundVm vm;
  SndTable t;
  t.values.assign(48000, 16384);
  ASSERT_EQ(vm.SndCode("CreateSample", {1, t, 48000, MONO16}), 0u);
  ASSERT_EQ(vm.SndCode("PlaySample", {1}), 0u);
  EXPECT_FLOAT_EQ(SoundVm::Pull(10)[0], 0.5f);
  ASSERT_EQ(vm.SndCode("SetVolume", {1, 8}), 0u);  // gain 0.5
  std::vector<float> o = SoundVm::Pull(10);
  EXPECT_FLOAT_EQ(o[0], 0.25f);
  ASSERT_EQ(vm.SndCode("SetPanning", {1, -80000}), 0u);  // RIGHT
  o = SoundVm::Pull(10);
  EXPECT_FLOAT_EQ(o[0], 0.0f);
  EXPECT_FLOAT_EQ(o[1], 0.25f);
  EXPECT_EQ(vm.SndCode("SetPitch", {1, 100}), uint32_t(ERR_LOWFREQ));
  ASSERT_EQ(vm.SndCode("SetPitch", {1, 24000}), 0u);  // only at the next PlaySample
  EXPECT_EQ(GetMixerChannel(vm.Channels(), 0)->pitch, 48000);
}

TEST(SoundSamples, BusyAudioMutexGivesSilence) {
  SoundVm vm;
  SndTable t;
  t.values.assign(4800, 16384);
  ASSERT_EQ(vm.SndCode("CreateSample", {1, t, 48000, MONO16}), 0u);
  ASSERT_EQ(vm.SndCode("PlaySample", {1}), 0u);
  std::atomic<bool> held{false}, done{false};
  std::thread holder([&] {
    MutexLock(AudioMutex());
    held = true;
    while (!done) std::this_thread::yield();
    MutexUnlock(AudioMutex());
  });
  while (!held) std::this_thread::yield();
  std::vector<float> o = SoundVm::Pull(100);
  done = true;
  holder.join();
  EXPECT_EQ(Rms(o.data(), o.size()), 0.0);
  EXPECT_FLOAT_EQ(SoundVm::Pull(10)[0], 0.5f);  // the sample was not advanced meanwhile
  EXPECT_EQ(GetMixerChannel(vm.Channels(), 0)->frame.load(), 256u);  // one converter fetch, nothing more
}

TEST(SoundSamples, MixSampleLoopsOrFallsSilent) {
  SoundVm vm;
  SndTable t;
  t.values = {100, 200, 300};
  ASSERT_EQ(vm.SndCode("CreateSample", {1, t, 8000, MONO16}), 0u);
  SndTable noLoop{{}, {{"loop", 0}}, {}};
  SndTable loop{{}, {{"loop", 1}}, {}};
  SndTable half{{}, {{"scale", 0.5}, {"threshold", 2}}, {}};
  const struct {
    const char *name;
    SndTable opts;
    std::vector<double> want;
  } rows[] = {
      {"loop 0", noLoop, {100, 200, 300, 0, 0, 0, 0}},
      {"loop 1", loop, {100, 200, 300, 100, 200, 300, 100}},
      {"scale and threshold", half, {0, 0, 50, 100, 150, 50, 100}},
  };
  for (const auto &r : rows) {
    ASSERT_EQ(vm.SndCode("MixSample", {2, 7, 8000, MONO16, 1, r.opts}), 0u) << r.name;
    DosCall d = vm.Snd("GetSampleData", {2}, true);
    for (size_t i = 0; i < r.want.size(); i++) {
      vm_rawgeti(vm.L, 1, int(i));
      EXPECT_EQ(vm_tonumber(vm.L, -1), r.want[i]) << r.name << " " << i;
      vm_pop(vm.L, 1);
    }
  }
  // Two sources into stereo 8-bit: (v * 256) >> 16 per side.
  SndTable s8;
  s8.values = {64, -64};
  ASSERT_EQ(vm.SndCode("CreateSample", {3, s8, 8000, MONO8}), 0u);
  ASSERT_EQ(vm.SndCode("MixSample", {4, 2, 8000, STEREO8, 3, loop, 3, loop}), 0u);
  DosCall d = vm.Snd("GetSampleData", {4}, true);
  double want[] = {127, 127, -128, -128};  // 64 + 64 clamps to the 24-bit limit
  for (int i = 0; i < 4; i++) {
    vm_rawgeti(vm.L, 1, i);
    EXPECT_EQ(vm_tonumber(vm.L, -1), want[i]) << i;
    vm_pop(vm.L, 1);
  }
}

// A quit request pending while a long mix or an insertion converts its frames ends it with the
// user abort; the samples stay as they were.
TEST(SoundSamples, AQuitEndsLongFrameWork) {
  SoundVm vm;
  SndTable one{{7}, {}, {}};
  ASSERT_EQ(vm.SndCode("CreateSample", {1, one, 8000, MONO16}), 0u);
  ASSERT_EQ(vm.SndCode("CreateSample", {2, one, 8000, MONO16, 3 << 20}), 0u);  // silence after the 7
  SndTable loop{{}, {{"loop", 1}}, {}};
  const struct {
    const char *name;
    const char *command;
    std::vector<SndArg> args;
  } rows[] = {
      {"mix", "MixSample", {3, 3 << 20, 8000, MONO16, 1, loop}},
      {"insert", "InsertSample", {1, 2, 1}},
  };
  for (const auto &r : rows) {
    vm_setendrequested(vm.L, 1);
    EXPECT_EQ(vm.SndCode(r.command, r.args), uint32_t(ERR_USERABORT)) << r.name;
    vm_setendrequested(vm.L, 0);
  }
  EXPECT_EQ(vm.SndCode("GetSampleData", {3}), uint32_t(ERR_FINDSAMPLE));
  DosCall d = vm.Snd("GetSampleData", {1});
  ASSERT_EQ(d.code, 0u);
  EXPECT_EQ(d.results[1].num, 1) << "the target keeps its one frame";
}

TEST(SoundSamples, InsertCopyAndPlayingGuard) {
  SoundVm vm;
  SndTable a{{1000, 2000, 3000}, {}, {}};
  SndTable b{{5, -5}, {}, {}};
  ASSERT_EQ(vm.SndCode("CreateSample", {1, a, 8000, MONO16}), 0u);
  ASSERT_EQ(vm.SndCode("CreateSample", {2, b, 8000, MONO8}), 0u);
  EXPECT_EQ(vm.SndCode("InsertSample", {1, 1, 0}), uint32_t(ERR_WRONGUSAGE));
  ASSERT_EQ(vm.SndCode("InsertSample", {1, 2, 1}), 0u);
  DosCall d = vm.Snd("GetSampleData", {1}, true);
  double want[] = {1000, 5 * 256, -5 * 256, 2000, 3000};
  EXPECT_EQ(d.results[1].num, 5);
  for (int i = 0; i < 5; i++) {
    vm_rawgeti(vm.L, 1, i);
    EXPECT_EQ(vm_tonumber(vm.L, -1), want[i]) << i;
    vm_pop(vm.L, 1);
  }
  EXPECT_EQ(vm.SndCode("CopySample", {1, 1}), uint32_t(ERR_WRONGUSAGE));
  ASSERT_EQ(vm.SndCode("SetVolume", {1, 20}), 0u);
  ASSERT_EQ(vm.SndCode("CopySample", {1, 3}), 0u);
  EXPECT_EQ(vm.SndNum("GetAttribute", {2, 3, 11}), 5);
  ASSERT_EQ(vm.SndCode("PlaySample", {1, 0}), 0u);
  EXPECT_EQ(vm.SndCode("InsertSample", {1, 2, 0}), uint32_t(ERR_MODIFYPSMP));
  EXPECT_EQ(vm.SndCode("FreeSample", {1}), 0u);
  EXPECT_EQ(vm.SndCode("FreeSample", {1}), uint32_t(ERR_FINDSAMPLE));
}

// SaveSample's files beside python's wave module and sox.
TEST(SoundSamples, SaveSampleWritesWaveThatPeersRead) {
  SoundVm vm;
  SndTable three{{0, 1, -1}, {}, {}};
  ASSERT_EQ(vm.SndCode("CreateSample", {1, three, 8000, MONO8}), 0u);
  std::string path = vm.Path("three.wav");
  ASSERT_EQ(vm.SndCode("SaveSample", {1, path}), 0u);
  std::string bytes = ReadFileBytes(path);
  ASSERT_EQ(bytes.size(), 48u);  // 44 + 3 + one pad byte
  uint32_t riff, data;
  std::memcpy(&riff, bytes.data() + 4, 4);
  std::memcpy(&data, bytes.data() + 40, 4);
  EXPECT_EQ(riff, 40u);
  EXPECT_EQ(data, 3u);
  EXPECT_EQ(uint8_t(bytes[44]), 128);  // signed 0 is written unsigned
  EXPECT_EQ(uint8_t(bytes[45]), 129);
  EXPECT_EQ(uint8_t(bytes[46]), 127);
  EXPECT_EQ(bytes[47], 0);
  EXPECT_EQ(Shell("python3 -c \"import wave,sys; w=wave.open(sys.argv[1]); print(w.getnchannels(), "
                  "w.getsampwidth(), w.getframerate(), w.readframes(9).hex())\" " + path),
            "1 1 8000 80817f\n");
  ASSERT_EQ(vm.SndCode("LoadSample", {2, Fixture("stereo16.wav")}), 0u);
  ASSERT_EQ(vm.SndCode("SaveSample", {2, vm.Path("copy.wav")}), 0u);
  EXPECT_EQ(Shell("sox --i -s " + vm.Path("copy.wav")), "4800\n");
  EXPECT_EQ(ReadFileBytes(vm.Path("copy.wav")).substr(44), ReadFileBytes(Fixture("stereo16.wav")).substr(44));
  EXPECT_EQ(vm.SndCode("SaveSample", {2, vm.Path("x.snd"), 3}), uint32_t(ERR_UNKNOWNSMPOUT));
}

}  // namespace

namespace {

std::vector<std::string> gHeard;

// Records the message of each sound event: action, id, position, count.
uint32_t RecordSoundEvent(VmState *L) {
  std::string line;
  for (const char *key : {"action", "id", "position", "count"}) {
    vm_pushstring(L, key);
    vm_rawget(L, 1);
    if (vm_type(L, -1) == VM_TSTRING) line += vm_tostring(L, -1);
    else if (vm_type(L, -1) == VM_TNUMBER) line += std::to_string(int64_t(vm_tonumber(L, -1)));
    else line += "-";
    line += " ";
    vm_pop(L, 1);
  }
  gHeard.push_back(line);
  return 0;
}

// The events reach the script's handlers through the event dispatcher, as InstallEventHandler
// installs them.
TEST(SoundSamples, HandlersHearLoopsAndTheEnd) {
  SoundVm vm;
  vm_settop(vm.L, 0);
  vm.PushCommand("InstallEventHandler");
  vm_newtable(vm.L);
  for (const char *name : {"onsampleloop", "onsampleend"}) {
    vm_pushstring(vm.L, name);
    vm_pushcclosure(vm.L, RecordSoundEvent, 0);
    vm_rawset(vm.L, -3);
  }
  ASSERT_EQ(vm_pcall(vm.L, 1, 0, 0), 0u);
  SndTable t;
  t.values.assign(800, 1000);  // 100 ms at 8000 Hz
  ASSERT_EQ(vm.SndCode("CreateSample", {3, t, 8000, MONO16}), 0u);
  ASSERT_EQ(vm.SndCode("PlaySample", {3, SndTable{{}, {{"time", 250}}, {}}}), 0u);
  // The shared poll interval keeps the dispatcher running while the sample plays.
  EXPECT_EQ(GetEventState(vm.L)->pollClients[POLL_CLIENT_SOUND], 1u);
  gHeard.clear();
  PullUntilQuiet(vm, 48000);
  for (int i = 0; i < 10; i++) vm.SndCode("CheckEvent", {});
  EXPECT_EQ(GetEventState(vm.L)->pollClients[POLL_CLIENT_SOUND], 0u);
  ASSERT_EQ(gHeard.size(), 3u);
  EXPECT_EQ(gHeard[0], "OnSampleLoop 3 100 2 ");
  EXPECT_EQ(gHeard[1], "OnSampleLoop 3 200 3 ");
  EXPECT_EQ(gHeard[2], "OnSampleEnd 3 250 3 ");
}

}  // namespace

namespace {

// CreateSample from an open file (its position advances) and from a memory block.
TEST(SoundSamples, CreateSampleFromFilesAndMemoryBlocks) {
  SoundVm vm;
  std::string path = vm.Path("raw.bin");
  WriteFileBytes(path, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
  ASSERT_EQ(vm.SndCode("OpenFile", {5, path, 1005}), 0u);
  SndTable fromFile{{}, {{"source", "file"}, {"id", 5}}, {}};
  ASSERT_EQ(vm.SndCode("CreateSample", {1, fromFile, 8000, MONO16, 2}), 0u);
  SndTable swapped{{}, {{"source", "file"}, {"id", 5}, {"swap", 1}}, {}};
  ASSERT_EQ(vm.SndCode("CreateSample", {2, swapped, 8000, MONO16, 1}), 0u);
  // Two frames read; the next read starts behind them.
  DosCall d = vm.Snd("GetSampleData", {1}, true);
  vm_rawgeti(vm.L, 1, 1);
  EXPECT_EQ(vm_tonumber(vm.L, -1), 0x0403);
  d = vm.Snd("GetSampleData", {2}, true);
  vm_rawgeti(vm.L, 1, 0);
  EXPECT_EQ(vm_tonumber(vm.L, -1), 0x0506);
  EXPECT_EQ(vm.SndCode("CreateSample", {3, swapped, 8000, MONO16, 2}), uint32_t(ERR_READ));
  ASSERT_EQ(vm.SndCode("OpenFile", {6, vm.Path("out.bin"), 1006}), 0u);
  SndTable writeOnly{{}, {{"source", "file"}, {"id", 6}}, {}};
  EXPECT_EQ(vm.SndCode("CreateSample", {3, writeOnly, 8000, MONO8, 1}), uint32_t(ERR_WRITEONLY));

  ASSERT_EQ(vm.SndCode("AllocMem", {1, 16}), 0u);
  ASSERT_EQ(vm.SndCode("Poke", {1, 4, 200, 7}), 0u);  // one byte
  SndTable fromMemory{{}, {{"source", "memory"}, {"id", 1}, {"offset", 4}}, {}};
  ASSERT_EQ(vm.SndCode("CreateSample", {4, fromMemory, 8000, MONO8, 12}), 0u);
  d = vm.Snd("GetSampleData", {4}, true);
  vm_rawgeti(vm.L, 1, 0);
  EXPECT_EQ(vm_tonumber(vm.L, -1), int8_t(200));
  EXPECT_EQ(vm.SndCode("CreateSample", {4, fromMemory, 8000, MONO8, 13}), uint32_t(ERR_MEMRANGE));
  SndTable badOffset{{}, {{"source", "memory"}, {"id", 1}, {"offset", -1}}, {}};
  EXPECT_EQ(vm.SndCode("CreateSample", {4, badOffset, 8000, MONO8, 1}), uint32_t(ERR_WRONGUSAGE));
}

// The window options of the conversion, through InsertSample.
TEST(SoundSamples, ConversionWindows) {
  SoundVm vm;
  SndTable src{{10, 20, 30, 40}, {}, {}};
  ASSERT_EQ(vm.SndCode("CreateSample", {2, src, 8000, MONO16}), 0u);
  const struct {
    const char *name;
    SndTable opts;
    uint32_t code;
    std::vector<double> inserted;
  } rows[] = {
      {"start and end", SndTable{{}, {{"start", 1}, {"end", 3}}, {}}, 0, {20, 30, 20, 30}},
      {"offset without loop", SndTable{{}, {{"offset", 3}, {"loop", 0}}, {}}, 0, {40, 0, 0, 0}},
      {"offset with loop", SndTable{{}, {{"offset", 3}}, {}}, 0, {40, 10, 20, 30}},
      {"end beyond", SndTable{{}, {{"end", 5}}, {}}, ERR_SMPRANGE, {}},
      {"start not below end", SndTable{{}, {{"start", 3}, {"end", 3}}, {}}, ERR_SMPRANGE, {}},
      {"negative offset", SndTable{{}, {{"offset", -1}}, {}}, ERR_SMPRANGE, {}},
  };
  for (const auto &r : rows) {
    SndTable one{{0}, {}, {}};
    ASSERT_EQ(vm.SndCode("CreateSample", {1, one, 8000, MONO16}), 0u);
    EXPECT_EQ(vm.SndCode("InsertSample", {1, 2, 1, 4, r.opts}), r.code) << r.name;
    if (r.code) continue;
    DosCall d = vm.Snd("GetSampleData", {1}, true);
    ASSERT_EQ(d.results[1].num, 5) << r.name;
    for (size_t i = 0; i < r.inserted.size(); i++) {
      vm_rawgeti(vm.L, 1, int(i + 1));
      EXPECT_EQ(vm_tonumber(vm.L, -1), r.inserted[i]) << r.name << " " << i;
      vm_pop(vm.L, 1);
    }
  }
}

}  // namespace

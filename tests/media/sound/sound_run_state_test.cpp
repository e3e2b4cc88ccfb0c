// What a run does to its sound (the word kept for the video engine, the sound switch, which
// script handlers want events, events not yet delivered, channels left playing) stays with
// that run: a run made after it in the same process starts from the defaults.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "tests/media/sound/sound_vm.h"

namespace {

constexpr int MONO16 = 1;  // the script's type number of 16-bit mono

uintptr_t TagOf(VmState *L, uint32_t tag) {
  uintptr_t value = 12345;
  qmTagItem get[] = {{tag, reinterpret_cast<uintptr_t>(&value)}, {0, 0}};
  EXPECT_EQ(GetRuntimeTags(L, get), 1u) << tag;
  return value;
}

void SetTagOf(VmState *L, uint32_t tag, uintptr_t value) {
  qmTagItem set[] = {{tag, value}, {0, 0}};
  SetRuntimeTags(L, set);
}

struct Setting {
  const char *name;
  std::function<void(SoundVm &)> change;
  std::function<bool(SoundVm &)> fresh;  // what a run that never changed it shows
};

const std::vector<Setting> &Settings() {
  static const std::vector<Setting> rows = {
      {"sound setting", [](SoundVm &vm) { SetTagOf(vm.L, RTTAG_SOUNDSETTING, 77); },
       [](SoundVm &vm) { return TagOf(vm.L, RTTAG_SOUNDSETTING) == 30; }},
      {"handler flags", [](SoundVm &vm) { vm.SetHandlerFlags(true, true, true); },
       [](SoundVm &vm) {
         const qmSoundHandlers &h = vm.Channels()->handlers;
         return !h.sampleLoop && !h.sampleEnd && !h.musicEnd && !h.videoEnd;
       }},
      {"an event not yet delivered",
       [](SoundVm &vm) { PostSoundEvent(vm.Channels(), SNDEVT_MUSICEND, qmObjectId{4, 0}, 0, 0, 0); },
       [](SoundVm &vm) { return vm.Events().empty(); }},
      {"a sample left playing on every channel",
       [](SoundVm &vm) {
         SndTable t;
         t.values.assign(4800, 1000);
         ASSERT_EQ(vm.SndCode("CreateSample", {1, t, 48000, MONO16}), 0u);
         for (int i = 0; i < kMixerInputs; i++) ASSERT_EQ(vm.SndCode("PlaySample", {1, 0}), 0u) << i;
       },
       [](SoundVm &vm) {
         for (int i = 0; i < kMixerInputs; i++)
           if (GetMixerChannel(vm.Channels(), i)->state.load() != CHAN_FREE) return false;
         return true;
       }},
      // Last: with sound off the run's commands no longer play.
      {"sound switched off", [](SoundVm &vm) { SetTagOf(vm.L, RTTAG_NOSOUND, 1); },
       [](SoundVm &vm) { return TagOf(vm.L, RTTAG_NOSOUND) == 0; }},
  };
  return rows;
}

TEST(RunState, ASecondRunHearsNothingOfTheFirst) {
  {
    SoundVm first;
    for (const Setting &s : Settings()) {
      EXPECT_TRUE(s.fresh(first)) << "the first run sees " << s.name;
      s.change(first);
      EXPECT_FALSE(s.fresh(first)) << s.name << ": not taken";
    }
  }
  SoundVm second;
  for (const Setting &s : Settings()) EXPECT_TRUE(s.fresh(second)) << "the second run sees " << s.name;
  // And it plays: a short sample is heard and ends with no event, since no handler asked for one.
  SndTable t;
  t.values.assign(480, 16384);
  ASSERT_EQ(second.SndCode("CreateSample", {2, t, 48000, MONO16}), 0u);
  ASSERT_EQ(second.SndCode("PlaySample", {2}), 0u);
  EXPECT_FLOAT_EQ(SoundVm::Pull(10)[0], 0.5f);
  PullUntilQuiet(second, 48000);
  EXPECT_TRUE(second.Events().empty());
}

}  // namespace

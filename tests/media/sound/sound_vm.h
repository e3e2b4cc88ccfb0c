// A player VM whose sound output is the null sink: nothing plays by itself, and the tests pull
// the mixer's frames (RenderAudioOutput) as a device would. Input files are made once per run
// by make_sound_fixtures.py; peers (python3, sox, ffprobe) run through the shell.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "media/sound/channels.h"
#include "media/sound/sound_state.h"
#include "platform/audio.h"
#include "runtime/rttags.h"
#include "tests/io/dos/dos_test_vm.h"

// The fixture files, made once into a folder that lives as long as the test program.
inline const std::string &SoundFixtures() {
  static TempDir dir;
  static bool made = false;
  if (!made) {
    made = true;
    std::string cmd = "python3 " QM_SOURCE_DIR "/tests/media/sound/make_sound_fixtures.py " + dir.path();
    EXPECT_EQ(std::system(cmd.c_str()), 0);
  }
  return dir.path();
}
inline std::string Fixture(const std::string &name) { return SoundFixtures() + "/" + name; }

// A table argument: numbered values from index 0 and named fields (numbers, strings, tables).
struct SndTable {
  std::vector<double> values;
  std::vector<std::pair<std::string, DosVal>> fields;
  std::vector<std::pair<std::string, SndTable>> tables;
};

struct SndArg {
  DosVal value;
  bool isTable = false;
  SndTable table;
  SndArg(const DosVal &v) : value(v) {}                  // NOLINT: rows read as plain values
  SndArg(double v) : value(v) {}                         // NOLINT
  SndArg(int v) : value(v) {}                            // NOLINT
  SndArg(const char *s) : value(s) {}                    // NOLINT
  SndArg(const std::string &s) : value(s) {}             // NOLINT
  SndArg(const SndTable &t) : isTable(true), table(t) {}  // NOLINT
};

struct SoundVm : DosVm {
  SoundVm() {
    SetAudioSink(&kNullAudioSink);
    SoundFixtures();
  }
  ~SoundVm() {
    Close();
    SetAudioSink(nullptr);
  }

  void PushTable(const SndTable &t) {
    vm_newtable(L);
    for (size_t i = 0; i < t.values.size(); i++) {
      vm_pushnumber(L, t.values[i]);
      vm_rawseti(L, -2, int(i));
    }
    for (const auto &[k, v] : t.fields) {
      vm_pushstring(L, k.c_str());
      Push(L, v);
      vm_rawset(L, -3);
    }
    for (const auto &[k, v] : t.tables) {
      vm_pushstring(L, k.c_str());
      PushTable(v);
      vm_rawset(L, -3);
    }
  }

  DosCall Snd(const char *name, const std::vector<SndArg> &args, bool keep = false) {
    vm_settop(L, 0);
    PushCommand(name);
    EXPECT_EQ(vm_type(L, -1), VM_TFUNCTION) << name << " is not registered";
    for (const SndArg &a : args) {
      if (a.isTable) PushTable(a.table);
      else Push(L, a.value);
    }
    DosCall r;
    r.code = vm_pcall(L, int(args.size()), VM_MULTRET, 0);
    if (r.code == 0)
      for (int i = 1; i <= vm_gettop(L); i++) r.results.push_back(Read(L, i));
    if (!keep) vm_settop(L, 0);
    return r;
  }
  uint32_t SndCode(const char *name, const std::vector<SndArg> &args) { return Snd(name, args).code; }
  double SndNum(const char *name, const std::vector<SndArg> &args) {
    DosCall r = Snd(name, args);
    EXPECT_EQ(r.code, 0u) << name;
    return r.results.empty() ? -12345 : r.results[0].num;
  }

  // Frames of the mixer as the device would get them: interleaved stereo floats.
  static std::vector<float> Pull(uint32_t frames) {
    std::vector<float> out(size_t(frames) * 2);
    RenderAudioOutput(out.data(), frames);
    return out;
  }
  // The run's mixer channels.
  qmSoundChannels *Channels() { return &GetSoundState(L)->channels; }
  // The script handler flags, as the event library sets them when handlers are installed.
  void SetHandlerFlags(bool loop, bool end, bool music) {
    qmTagItem tags[] = {{RTTAG_ONSAMPLELOOP, loop}, {RTTAG_ONSAMPLEEND, end}, {RTTAG_ONMUSICEND, music}, {0, 0}};
    SetRuntimeTags(L, tags);
  }
  struct Event {
    int32_t kind;
    double id;
    uint64_t position;
    uint32_t count;
  };
  std::vector<Event> Events() {
    UpdateAudioChannels(Channels());
    std::vector<Event> out;
    int32_t kind;
    qmObjectId id;
    uint64_t position;
    uint32_t count;
    while (TakeSoundEvent(Channels(), &kind, &id, &position, &count))
      out.push_back({kind, double(id.id), position, count});
    return out;
  }
};

// Pulls until the mixer has had no channel for a while, at most limit frames: what came out.
inline std::vector<float> PullUntilQuiet(SoundVm &vm, uint32_t limit, uint32_t block = 480) {
  std::vector<float> all;
  for (uint32_t done = 0; done < limit; done += block) {
    std::vector<float> b = SoundVm::Pull(block);
    all.insert(all.end(), b.begin(), b.end());
    UpdateAudioChannels(vm.Channels());
    if (!AnyChannelPlaying(vm.Channels())) break;
  }
  return all;
}

inline double Rms(const float *p, size_t n) {
  double s = 0;
  for (size_t i = 0; i < n; i++) s += double(p[i]) * p[i];
  return n ? std::sqrt(s / double(n)) : 0;
}

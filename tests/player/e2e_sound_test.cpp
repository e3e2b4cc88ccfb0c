// The player program with sound: declared samples and music load at start-up through SDL's
// dummy audio driver, and without an audio device the sound commands are silent and the
// program runs on.
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "tests/player/e2e_util.h"

namespace {

// Prints the declared sample's frame count, the declared music's format name and IsSound().
const char kSoundScript[] =
    ".func source=\"s.qms\" maxstack=8\n"
    "  .k \"debugprint\" \"getattribute\" 2 1 11 33 19 \"issound\"\n"
    "      GETGLOBAL 0 k0 @1\n"
    "      GETGLOBAL 1 k7\n"
    "      CALL 1 1 2\n"
    "      CALL 0 2 1\n"
    "      GETGLOBAL 0 k0 @2\n"
    "      GETGLOBAL 1 k1\n"
    "      LOADK 2 k2\n"
    "      LOADK 3 k3\n"
    "      LOADK 4 k4\n"
    "      CALL 1 4 2\n"
    "      CALL 0 2 1\n"
    "      GETGLOBAL 0 k0 @3\n"
    "      GETGLOBAL 1 k1\n"
    "      LOADK 2 k5\n"
    "      LOADK 3 k2\n"
    "      LOADK 4 k6\n"
    "      CALL 1 4 2\n"
    "      CALL 0 2 1\n"
    "      RETURN 0 1 @4\n"
    ".end\n";

std::vector<uint8_t> SoundApplet(const std::string &sample, const std::string &music) {
  qmtools::AppletBuilder b;
  qmtools::AppletDecl s;
  s.type = 4;  // a sample
  s.id = 1;
  s.name = sample;
  s.line = 1;
  qmtools::AppletDecl m;
  m.type = 3;  // music
  m.id = 2;
  m.name = music;
  m.line = 2;
  b.Version(5, 2).Includes({{1, 100, 0, "s.qms"}}).Declarations({s, m}).Bytecode(ChunkOf(kSoundScript));
  return b.Bytes();
}

}  // namespace

TEST(E2eSound, DeclaredSampleAndMusicLoadOnTheDummyDevice) {
  PlayerDir d;
  ASSERT_EQ(std::system(("python3 " QM_SOURCE_DIR "/tests/media/sound/make_sound_fixtures.py " + (d / "sfx")).c_str()), 0);
  qmtools::WriteBytes(d / "s.qma", SoundApplet(d / "sfx/mono8.wav", d / "sfx/song.mod"));
  PlayerResult r = d.Run({"-QUIET", d / "s.qma"}, {"SDL_AUDIODRIVER=dummy", "SDL_VIDEODRIVER=dummy"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "1\n1000\nProtracker\n");
}

TEST(E2eSound, WithoutAnAudioDeviceTheProgramRunsOn) {
  PlayerDir d;
  ASSERT_EQ(std::system(("python3 " QM_SOURCE_DIR "/tests/media/sound/make_sound_fixtures.py " + (d / "sfx")).c_str()), 0);
  qmtools::WriteBytes(d / "s.qma", SoundApplet(d / "sfx/mono8.wav", d / "sfx/song.mod"));
  PlayerResult r = d.Run({"-QUIET", d / "s.qma"}, {"SDL_AUDIODRIVER=nosuchdriver", "SDL_VIDEODRIVER=dummy"});
  // The declarations load nothing; IsSound() says 0; the missing sample is the script's error,
  // reported on standard error where no desktop shows the requester.
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_EQ(r.out.substr(0, 2), "0\n");
  EXPECT_NE(r.err.find("Could not find sample 1!"), std::string::npos) << r.err;
}

namespace {

// LoadSample(1, <path>); PlaySample(1, {volume = <v>, times = <n>}); WaitSampleEnd(1)
std::string PlayScript(const std::string &path, int volume, int times) {
  return R"(
.func source="p.qms" maxstack=8
  .k "loadsample" 1 ")" + path + R"(" "playsample" "volume" )" + std::to_string(volume) + R"( "times" )" +
         std::to_string(times) + R"( "waitsampleend"
      GETGLOBAL 0 k0        @1
      LOADK     1 k1
      LOADK     2 k2
      CALL      0 3 1
      GETGLOBAL 0 k3        @2
      LOADK     1 k1
      NEWTABLE  2 0 2
      SETTABLE  2 k4 k5
      SETTABLE  2 k6 k7
      CALL      0 3 1
      GETGLOBAL 0 k8        @3
      LOADK     1 k1
      CALL      0 2 1
      RETURN    0 1
.end
)";
}

std::vector<int16_t> WaveFrames(const std::string &path) {
  std::string bytes = ReadWholeFile(path);
  // sox writes a plain 44-byte header for 16-bit PCM
  std::vector<int16_t> frames((bytes.size() - 44) / 2);
  std::memcpy(frames.data(), bytes.data() + 44, frames.size() * 2);
  return frames;
}

}  // namespace

// What the audio device receives (SDL's disk driver writes it out as 32-bit float stereo at
// 48000 Hz): a 16-bit mono sample made by sox comes out on both sides, every sounding frame,
// scaled by the cube root of volume / 64 (64 passes it unchanged, 8 halves it), as often as
// asked, and nothing else sounds.
TEST(E2eSound, PlayedSampleReachesTheDeviceFrameForFrame) {
  if (access("/usr/bin/sox", X_OK) != 0) GTEST_SKIP() << "no sox";
  PlayerDir d;
  std::string wav = d / "tone.wav";
  ASSERT_EQ(std::system(("sox -n -r 48000 -b 16 -c 1 " + wav + " synth 0.25 sine 1000 vol 0.5").c_str()), 0);
  std::vector<int16_t> src = WaveFrames(wav);
  ASSERT_EQ(src.size(), 12000u);
  struct Case {
    int volume, times;
    float gain;
  } cases[] = {{64, 1, 1.0f}, {8, 1, 0.5f}, {64, 2, 1.0f}};
  for (const Case &c : cases) {
    SCOPED_TRACE("volume " + std::to_string(c.volume) + " times " + std::to_string(c.times));
    std::string raw = d / "device.raw";
    unlink(raw.c_str());
    qmtools::WriteBytes(d / "p.qma", AppletOf(PlayScript(wav, c.volume, c.times)));
    PlayerResult r = d.Run({"-QUIET", d / "p.qma"},
                           {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + raw, "SDL_VIDEODRIVER=dummy"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::string bytes = ReadWholeFile(raw);
    std::vector<float> out(bytes.size() / sizeof(float));
    std::memcpy(out.data(), bytes.data(), out.size() * sizeof(float));
    size_t frames = out.size() / 2;
    ASSERT_GE(frames, src.size()) << "the device heard " << frames << " frames\n" << r.out << r.err;
    // The audio thread plays silence for a buffer whenever the main thread holds the mixer's
    // lock, which a busy machine makes likely: the silent frames are set aside on both sides
    // (the tone's own zero crossings too) and everything else must match, in order.
    std::vector<float> heard, expected;
    size_t lopsided = 0;
    for (size_t i = 0; i < frames; i++) {
      lopsided += out[2 * i] != out[2 * i + 1];
      if (out[2 * i] != 0.0f) heard.push_back(out[2 * i]);
    }
    for (int t = 0; t < c.times; t++)
      for (int16_t v : src)
        if (v != 0) expected.push_back(float(v) / 32768.0f * c.gain);
    EXPECT_EQ(lopsided, 0u);
    ASSERT_EQ(heard.size(), expected.size());
    size_t wrong = 0;
    for (size_t i = 0; i < heard.size(); i++) wrong += heard[i] != expected[i];
    EXPECT_EQ(wrong, 0u);
  }
}

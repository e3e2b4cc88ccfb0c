// The player program with sound: declared samples and music load at start-up through SDL's
// dummy audio driver, and without an audio device the sound commands are silent and the
// program runs on.
#include <cstdlib>

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

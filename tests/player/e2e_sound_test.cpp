// The player program with sound: declared samples and music load at start-up through SDL's
// dummy audio driver, and without an audio device the sound commands are silent and the
// program runs on.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

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

// InstallEventHandler({onsampleend = f, onsampleloop = f, onmusicend = g})
// LoadSample(1, mono8); LoadSample(2, mono8); OpenMusic(1, short16)
// PlaySample(1, 3, 2, {time = 300}); PlayMusic(1); repeat WaitEvent() forever
// f(msg): DebugPrint(msg.action, msg.id, msg.position, msg.count); the second end ends the run
// g(msg): DebugPrint(msg.action, msg.id); so does it when it comes last
std::string EventsApplet(const std::string &mono8, const std::string &short16) {
  return R"(.func source="ev.qms" maxstack=10
  .k "n" 0 "installeventhandler" "onsampleend" "onsampleloop" "loadsample" 1 ")" + mono8 + R"("
  .k 2 "playsample" 3 "time" 300 "waitevent" "onmusicend" "openmusic" ")" + short16 + R"("
  .k "playmusic"
      LOADK     0 k1        @1
      SETGLOBAL 0 k0
      GETGLOBAL 0 k2
      NEWTABLE  1 0 3
      CLOSURE   2 p0
      SETTABLE  1 k3 2
      SETTABLE  1 k4 2
      CLOSURE   2 p1
      SETTABLE  1 k14 2
      CALL      0 2 1
      GETGLOBAL 0 k5        @2
      LOADK     1 k6
      LOADK     2 k7
      CALL      0 3 1
      GETGLOBAL 0 k5
      LOADK     1 k8
      LOADK     2 k7
      CALL      0 3 1
      GETGLOBAL 0 k15
      LOADK     1 k6
      LOADK     2 k16
      CALL      0 3 1
      GETGLOBAL 0 k9        @3
      LOADK     1 k6
      LOADK     2 k10
      LOADK     3 k8
      NEWTABLE  4 0 1
      SETTABLE  4 k11 k12
      CALL      0 5 1
      GETGLOBAL 0 k17
      LOADK     1 k6
      CALL      0 2 1
loop: GETGLOBAL 0 k13       @4
      CALL      0 1 1
      JMP       loop
      RETURN    0 1
  .func params=1 maxstack=8 line=5
    .k "n" 1 "debugprint" "action" "id" "position" "count" "OnSampleLoop" 3 "end"
      GETGLOBAL 2 k2        @6
      GETTABLE  3 0 k3
      GETTABLE  4 0 k4
      GETTABLE  5 0 k5
      GETTABLE  6 0 k6
      CALL      2 5 1
      GETTABLE  1 0 k3      @7
      EQ        1 1 k7
      JMP       done
      GETGLOBAL 1 k0
      ADD       1 1 k1
      SETGLOBAL 1 k0
      EQ        0 1 k8
      JMP       done
      GETGLOBAL 2 k9
      CALL      2 1 1
done: RETURN    0 1
  .end
  .func params=1 maxstack=8 line=8
    .k "n" 1 "debugprint" "action" "id" 3 "end"
      GETGLOBAL 2 k2        @9
      GETTABLE  3 0 k3
      GETTABLE  4 0 k4
      CALL      2 3 1
      GETGLOBAL 1 k0
      ADD       1 1 k1
      SETGLOBAL 1 k0
      EQ        0 1 k5
      JMP       fin
      GETGLOBAL 2 k6
      CALL      2 1 1
fin:  RETURN    0 1
  .end
.end
)";
}

std::vector<std::string> SortedLines(const std::string &text) {
  std::vector<std::string> lines;
  size_t at = 0;
  for (size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
    lines.push_back(text.substr(at, nl - at));
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The 16-bit mono PCM of a WAVE file that python's wave module wrote, as the device's floats.
std::vector<float> WaveFloats(const std::string &path) {
  std::string b = ReadWholeFile(path);
  size_t data = b.find("data");
  std::vector<float> out;
  if (data == std::string::npos) return out;
  for (size_t i = data + 8; i + 1 < b.size(); i += 2)
    out.push_back(float(int16_t(uint8_t(b[i]) | uint8_t(b[i + 1]) << 8)) / 32768.0f);
  return out;
}

}  // namespace

// A 125 ms sample three times and one cut after 300 ms, and a music: the handlers hear every
// pass begin and every end, with the positions and counts of their passes.
TEST(E2eSound, HandlersHearSampleLoopsAndEndsAndTheMusicEnd) {
  PlayerDir d;
  ASSERT_EQ(std::system(("python3 " QM_SOURCE_DIR "/tests/media/sound/make_sound_fixtures.py " + (d / "sfx")).c_str()), 0);
  qmtools::WriteBytes(d / "e.qma", AppletOf(EventsApplet(d / "sfx/mono8.wav", d / "sfx/short16.wav")));
  PlayerResult r = d.Run({"-QUIET", d / "e.qma"}, {"SDL_AUDIODRIVER=dummy", "ASAN_OPTIONS=detect_leaks=1"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  const std::vector<std::string> want = {"OnMusicEnd 1",          "OnSampleEnd 1 250 3",  "OnSampleEnd 2 300 3",
                                         "OnSampleLoop 1 125 2",  "OnSampleLoop 1 250 3", "OnSampleLoop 2 125 2",
                                         "OnSampleLoop 2 250 3"};
  EXPECT_EQ(SortedLines(r.out), want) << r.out;
}

// What the device gets, written to a file by SDL's disk driver: a 16-bit sample at the device's
// rate played whole, at volume 8 (half the gain) and panned right comes out value for value.
TEST(E2eSound, TheDeviceGetsTheSampleValueForValue) {
  PlayerDir d;
  ASSERT_EQ(std::system(("python3 " QM_SOURCE_DIR "/tests/media/sound/make_sound_fixtures.py " + (d / "sfx")).c_str()), 0);
  const std::string script = R"(
.func source="d.qms" maxstack=6
  .k "loadsample" 1 ")" + (d / "sfx/short16.wav") + R"(" "playsample" "waitsampleend" "setvolume" 8
  .k "setpanning" -80000 64
      GETGLOBAL 0 k0        @1
      LOADK     1 k1
      LOADK     2 k2
      CALL      0 3 1
      GETGLOBAL 0 k3        @2
      LOADK     1 k1
      CALL      0 2 1
      GETGLOBAL 0 k4
      LOADK     1 k1
      CALL      0 2 1
      GETGLOBAL 0 k5        @3
      LOADK     1 k1
      LOADK     2 k6
      CALL      0 3 1
      GETGLOBAL 0 k3
      LOADK     1 k1
      CALL      0 2 1
      GETGLOBAL 0 k4
      LOADK     1 k1
      CALL      0 2 1
      GETGLOBAL 0 k5        @4
      LOADK     1 k1
      LOADK     2 k9
      CALL      0 3 1
      GETGLOBAL 0 k7
      LOADK     1 k1
      LOADK     2 k8
      CALL      0 3 1
      GETGLOBAL 0 k3
      LOADK     1 k1
      CALL      0 2 1
      GETGLOBAL 0 k4
      LOADK     1 k1
      CALL      0 2 1
      RETURN    0 1
.end
)";
  qmtools::WriteBytes(d / "d.qma", AppletOf(script));
  PlayerResult r = d.Run({"-QUIET", d / "d.qma"}, {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + (d / "out.raw")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::vector<float> ref = WaveFloats(d / "sfx/short16.wav");
  ASSERT_EQ(ref.size(), 12000u);
  const std::string raw = ReadWholeFile(d / "out.raw");
  std::vector<float> out(raw.size() / sizeof(float));
  std::memcpy(out.data(), raw.data(), out.size() * sizeof(float));
  const size_t frames = out.size() / 2;
  // Each play begins where the device first hears the sample's first value other than 0.
  size_t first = 0;
  while (first < ref.size() && ref[first] == 0) first++;
  const struct {
    const char *name;
    float left, right;
  } plays[] = {{"whole", 1.0f, 1.0f}, {"volume 8", 0.5f, 0.5f}, {"panned right", 0.0f, 1.0f}};
  size_t at = 0;
  for (const auto &p : plays) {
    while (at < frames && out[2 * at] == 0 && out[2 * at + 1] == 0) at++;
    ASSERT_GE(at, first) << p.name;
    const size_t start = at - first;
    ASSERT_LE(start + ref.size(), frames) << p.name << ": cut short";
    for (size_t i = 0; i < ref.size(); i++) {
      ASSERT_EQ(out[2 * (start + i)], ref[i] * p.left) << p.name << " frame " << i;
      ASSERT_EQ(out[2 * (start + i) + 1], ref[i] * p.right) << p.name << " frame " << i;
    }
    at = start + ref.size();
  }
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

// Music files that the system's reader opens, made by ffmpeg: the container's name IsMusic
// gives, and the bit rate. Plain PCM has none of its own (the frame size times the rate counts:
// 2 x 44100 / 1024 x 8), a constant-rate MP3 gives its frame header's, a variable-rate one its
// audio bytes (behind the ID3 tag) over its length in seconds, over 128. An MP3 linked into
// the applet is read from its window the same way.
TEST(E2eSound, SystemReaderNamesContainersAndBitRates) {
  PlayerDir d;
  struct File {
    const char *name, *args, *container;
  } files[] = {
      {"t.aiff", "-c:a pcm_s16be", "AIFF"},  {"t.aifc", "-c:a pcm_f32be", "AIFC"},
      {"t.caf", "-c:a pcm_s16le", "Core Audio"}, {"t.ac3", "-c:a ac3", "AC-3"},
      {"t.aac", "-c:a aac -f adts", "AAC ADTS"}, {"t.au", "", "NeXT"},
      {"cbr.mp3", "-c:a libmp3lame -b:a 128k", "MPEG Audio"}, {"vbr.mp3", "-c:a libmp3lame -q:a 2", "MPEG Audio"},
  };
  std::vector<ScriptLine> lines;
  std::string expected;
  for (const File &f : files) {
    ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 " +
                           std::string(f.args) + " " + d / f.name).c_str()),
              0)
        << f.name;
    lines.push_back({true, "IsMusic", {d / f.name}});
    expected += std::string("1 ") + f.container + "\n";
  }
  // Audio bytes behind the ID3 version 2 tag ffmpeg writes, over the length ffprobe reads.
  const std::string vbr = ReadWholeFile(d / "vbr.mp3");
  ASSERT_EQ(vbr.compare(0, 3, "ID3"), 0);
  const size_t offset = 10 + (size_t(uint8_t(vbr[6])) << 21 | size_t(uint8_t(vbr[7])) << 14 |
                              size_t(uint8_t(vbr[8])) << 7 | uint8_t(vbr[9]));
  ASSERT_NE(vbr.find("Xing"), std::string::npos) << "ffmpeg wrote no Xing header";
  FILE *p = popen(("ffprobe -v error -select_streams a:0 -show_entries stream=duration -of csv=p=0 " + d / "vbr.mp3").c_str(), "r");
  ASSERT_NE(p, nullptr);
  double seconds = 0;
  ASSERT_EQ(fscanf(p, "%lf", &seconds), 1);
  pclose(p);
  const double vbrRate = double(vbr.size() - offset) / seconds / 128;
  const struct {
    const char *name;
    double rate;
  } rates[] = {{"t.aiff", 689.0625}, {"t.au", 689.0625}, {"cbr.mp3", 128}, {"vbr.mp3", vbrRate}, {"linked.mp3", 128}};
  for (size_t i = 0; i < std::size(rates); i++) {
    const std::string name = rates[i].name == std::string("linked.mp3") ? "linked.mp3" : d / rates[i].name;
    lines.push_back({false, "OpenMusic", {double(i + 1), name}});
    lines.push_back({true, "GetAttribute", {33, double(i + 1), 20}});
  }
  lines.push_back({true, "IsMusic", {"linked.mp3"}});
  qmtools::AppletBuilder b;
  b.Version(5, 2).Includes({{1, 100, 0, "f.qms"}});
  b.LinkedFiles({{"linked.mp3", ReadWholeFile(d / "cbr.mp3")}});
  b.Bytecode(ChunkOf(ScriptOf(lines)));
  qmtools::WriteBytes(d / "m.qma", b.Bytes());
  const PlayerResult r = d.Run({"-QUIET", d / "m.qma"}, {"SDL_AUDIODRIVER=dummy"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(r.out.substr(0, expected.size()), expected);
  std::istringstream rest(r.out.substr(expected.size()));
  for (const auto &rate : rates) {
    double got = -1;
    rest >> got;
    // The variable rate divides by the reader's length, which may differ from ffprobe's by a frame.
    EXPECT_NEAR(got, rate.rate, std::string(rate.name) == "vbr.mp3" ? 1.0 : 0.0) << rate.name;
  }
  std::string last;
  std::getline(rest >> std::ws, last);
  EXPECT_EQ(last, "1 MPEG Audio");
}

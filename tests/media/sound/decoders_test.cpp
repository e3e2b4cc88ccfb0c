// The sound decoders: RIFF WAVE, IFF 8SVX and 16SV, and the system reader behind them, read
// side by side with python3's wave module, sox and ffprobe.
#include <link.h>

#include <cstring>
#include <filesystem>

#include "media/sound/sound_stream.h"
#include "platform/audiofile.h"
#include "tests/media/sound/sound_vm.h"

namespace {

// The PCM of a file as python's wave module reads it, as hex.
std::string PythonWaveFrames(const std::string &path) {
  return Shell("python3 -c \"import wave,sys; w=wave.open(sys.argv[1]); "
               "sys.stdout.write(w.readframes(w.getnframes()).hex())\" " + path);
}

std::string Hex(const uint8_t *p, size_t n) {
  static const char *d = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; i++) {
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}

// Whether a libavformat shared object is mapped into this process.
bool FfmpegMapped() {
  return dl_iterate_phdr(
             [](dl_phdr_info *info, size_t, void *) {
               return info->dlpi_name && std::strstr(info->dlpi_name, "libavformat.so.") ? 1 : 0;
             },
             nullptr) != 0;
}

struct StreamCase {
  const char *file;
  int32_t kind;  // -1: no decoder takes it
  uint32_t channels, bits, rate;
  uint64_t frames;
  int32_t format;
};

TEST(SoundDecoders, OpenChoosesTheDecoderAndReadsTheLayout) {
  SoundFixtures();
  const StreamCase cases[] = {
      {"mono8.wav", SNDKIND_WAVE, 1, 8, 8000, 1000, SMPFMT_MONO8U},
      {"stereo16.wav", SNDKIND_WAVE, 2, 16, 48000, 4800, SMPFMT_STEREO16},
      {"list_odd.wav", SNDKIND_WAVE, 1, 8, 8000, 500, SMPFMT_MONO8U},
      // The data chunk claims 100000 bytes; 300 are there.
      {"short_data.wav", SNDKIND_WAVE, 1, 8, 8000, 300, SMPFMT_MONO8U},
      // An 18-byte "fmt " goes to the system reader.
      {"fmt18.wav", SNDKIND_SYSTEM, 1, 16, 8000, 2000, SMPFMT_MONO16},
      // Three channels are not misread as mono: the system reader mixes them to two.
      {"three_ch.wav", SNDKIND_SYSTEM, 2, 16, 16000, 1000, SMPFMT_STEREO16},
      {"stereo.8svx", SNDKIND_8SVX, 2, 8, 11025, 1000, SMPFMT_STEREO8},
      {"name_odd.8svx", SNDKIND_8SVX, 1, 8, 8000, 1000, SMPFMT_MONO8},
      {"mono.16sv", SNDKIND_16SV, 1, 16, 16000, 800, SMPFMT_MONO16},
      // Refused by our own decoder (VHDR of 24 bytes, Fibonacci-delta compression): the system
      // reader takes them.
      {"bad_vhdr.8svx", SNDKIND_SYSTEM, 1, 16, 8000, 1000, SMPFMT_MONO16},
      {"fibonacci.8svx", SNDKIND_SYSTEM, 1, 16, 8000, 0, SMPFMT_MONO16},
      {"junk.mus", -1, 0, 0, 0, 0, 0},
  };
  for (const StreamCase &c : cases) {
    SCOPED_TRACE(c.file);
    qmSound *s = nullptr;
    uint32_t code = OpenSoundStream(Fixture(c.file).c_str(), 0, &s);
    if (c.kind < 0) {
      EXPECT_NE(code, 0u);
      EXPECT_EQ(s, nullptr);
      continue;
    }
    ASSERT_EQ(code, 0u);
    EXPECT_EQ(s->kind, c.kind);
    EXPECT_EQ(s->channels, c.channels);
    EXPECT_EQ(s->bits, c.bits);
    EXPECT_EQ(s->rate, c.rate);
    if (c.frames) {
      EXPECT_EQ(s->frames, c.frames);
    }
    EXPECT_EQ(s->format, c.format);
    CloseSoundStream(s);
  }
}

TEST(SoundDecoders, WaveFramesMatchPythonsWaveModule) {
  for (const char *name : {"mono8.wav", "stereo16.wav", "list_odd.wav", "mono16_22k.wav"}) {
    SCOPED_TRACE(name);
    qmSampleData *d = nullptr;
    ASSERT_EQ(LoadSoundWhole(Fixture(name).c_str(), &d), 0u);
    EXPECT_EQ(Hex(d->data, size_t(d->frames) * d->bytesPerFrame), PythonWaveFrames(Fixture(name)));
    FreeSampleData(d);
  }
}

// sox reads 8SVX itself: its signed 16-bit raw output has our 8-bit values in the high byte.
TEST(SoundDecoders, EightSvxStereoIsPlanarAsSoxReadsIt) {
  qmSampleData *d = nullptr;
  ASSERT_EQ(LoadSoundWhole(Fixture("stereo.8svx").c_str(), &d), 0u);
  ASSERT_EQ(d->frames, 1000u);
  // Left from BODY byte p, right from byte 1000 + p.
  EXPECT_EQ(d->data[2 * 7], uint8_t(7 * 3));
  EXPECT_EQ(d->data[2 * 7 + 1], uint8_t(255 - 7));
  std::string raw = Shell("sox -t 8svx " + Fixture("stereo.8svx") + " -t raw -e signed -b 8 - 2>/dev/null");
  ASSERT_EQ(raw.size(), 2000u);
  EXPECT_EQ(0, std::memcmp(raw.data(), d->data, 2000));
  FreeSampleData(d);
}

TEST(SoundDecoders, SixteenSvxStaysBigEndianAndReadsTheSameValues) {
  qmSampleData *d = nullptr;
  ASSERT_EQ(LoadSoundWhole(Fixture("mono.16sv").c_str(), &d), 0u);
  EXPECT_TRUE(d->flags & AUDIOFMT_BIGENDIAN);
  for (int i : {0, 1, 100, 799}) {
    int16_t want = int16_t(20000 * std::sin(i / 10.0));
    int16_t got = int16_t(d->data[2 * i] << 8 | d->data[2 * i + 1]);
    EXPECT_EQ(got, want) << i;
  }
  FreeSampleData(d);
}

TEST(SoundDecoders, ReadingPastTheEndReturnsTheRestAndSetsTheEndFlag) {
  for (const char *name : {"stereo.8svx", "mono8.wav"}) {
    SCOPED_TRACE(name);
    qmSound *s = nullptr;
    ASSERT_EQ(OpenSoundStream(Fixture(name).c_str(), 0, &s), 0u);
    SeekSoundStream(s, 990);
    std::vector<uint8_t> buf(64 * 4);
    int end = 0;
    EXPECT_EQ(ReadSoundFrames(s, buf.data(), 64, &end), 10u);
    EXPECT_EQ(end, 1);
    // A seek at or beyond the end is ignored.
    SeekSoundStream(s, 5000);
    EXPECT_EQ(s->position, 1000u);
    CloseSoundStream(s);
  }
}

// The system reader: files ffmpeg makes in other formats, lengths as ffprobe counts them.
TEST(SoundDecoders, SystemReaderDecodesOtherFormatsToTheirLength) {
  TempDir dir;
  struct Case {
    const char *name, *args, *container;
    int bitRate;  // the reader's own, kbit/s: 0 for plain PCM (the sound library works it out), -1 any
  } cases[] = {
      {"t.aiff", "", "AIFF", 0},
      // 32-bit float samples make ffmpeg write the compressed variant of the form.
      {"t.aifc", "-c:a pcm_f32be", "AIFC", 0},
      {"t.aac", "-c:a aac -b:a 96k -f adts", "AAC ADTS", -1},
      {"t.flac", "", "Mac Audio File", -1},
      {"t.ogg", "-c:a libvorbis", "Mac Audio File", -1},
      {"t.mp3", "-c:a libmp3lame -b:a 128k", "MPEG Audio", 128},
      {"t.au", "", "NeXT", 0},
      {"t.wav", "-c:a pcm_s24le", "RIFF WAVE", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = dir / c.name;
    int status = 0;
    Shell("ffmpeg -loglevel error -f lavfi -i sine=frequency=440:sample_rate=44100:duration=1.5 " +
              std::string(c.args) + " -y " + file + " 2>&1",
          &status);
    if (status != 0) {
      ADD_FAILURE() << "ffmpeg could not make " << c.name;
      continue;
    }
    qmSampleData *d = nullptr;
    ASSERT_EQ(LoadSoundWhole(file.c_str(), &d), 0u);
    EXPECT_EQ(d->rate, 44100u);
    EXPECT_EQ(d->bits, 16u);
    // ffprobe's count of decoded samples (lossy codecs add their priming frames).
    std::string probed = Shell("ffprobe -v error -count_frames -select_streams a:0 -show_entries "
                               "stream=duration_ts,sample_rate -of csv=p=0 " + file);
    double ms = d->frames * 1000.0 / d->rate;
    EXPECT_NEAR(ms, 1500.0, 60.0) << probed;
    qmSound *s = nullptr;
    ASSERT_EQ(OpenSoundStream(file.c_str(), 1, &s), 0u);
    EXPECT_STREQ(SoundStreamName(s), c.container);
    if (c.bitRate >= 0) {
      EXPECT_EQ(s->bitRate, uint32_t(c.bitRate));
    } else {
      EXPECT_GT(s->bitRate, 0u);
    }
    CloseSoundStream(s);
    FreeSampleData(d);
  }
}

// FFmpeg is not linked (the player starts without its hundred shared objects): the system
// reader opens it at its first file, and then decodes what ffmpeg decodes, value for value.
TEST(SoundDecoders, SystemReaderOpensFfmpegAtItsFirstFile) {
  // This program links the libraries the player links.
  EXPECT_EQ(Shell("ldd /proc/self/exe").find("libavformat"), std::string::npos);
  TempDir dir;
  std::string file = dir / "t.flac";
  int status = 0;
  Shell("ffmpeg -loglevel error -f lavfi -i sine=frequency=440:sample_rate=22050:duration=0.5 -ac 2 -y " + file +
            " 2>&1",
        &status);
  ASSERT_EQ(status, 0) << "ffmpeg could not make t.flac";
  std::string expected = Shell("ffmpeg -loglevel error -i " + file + " -f s16le -");
  ASSERT_EQ(expected.size(), 11025u * 4);
  qmSoundFileInfo info{};
  qmSoundFile *f = nullptr;
  ASSERT_EQ(OpenSoundFile(file.c_str(), &info, &f), 0u);
  EXPECT_TRUE(FfmpegMapped());
  EXPECT_EQ(info.channels, 2u);
  EXPECT_EQ(info.rate, 22050u);
  std::vector<uint8_t> got(expected.size() + 64);
  int end = 0;
  uint64_t frames = ReadSoundFile(f, got.data(), got.size() / 4, &end);
  EXPECT_EQ(end, 1);
  ASSERT_EQ(frames, 11025u);
  EXPECT_EQ(std::memcmp(got.data(), expected.data(), expected.size()), 0);
  CloseSoundFile(f);
}

TEST(SoundDecoders, MpegHeadAnalysis) {
  std::vector<uint8_t> head(2048, 0);
  std::memcpy(head.data(), "ID3", 3);
  head[3] = 3;
  // Syncsafe size 990: 7 bits per byte.
  head[8] = 990 >> 7;
  head[9] = 990 & 127;
  // A frame header behind the tag: MPEG 1 layer III, 128 kbit/s.
  head[1000] = 0xFF;
  head[1001] = 0xFB;
  head[1002] = 0x90;
  qmMpegHead h;
  AnalyseMpegHead(head.data(), head.size(), &h);
  EXPECT_EQ(h.audioOffset, 1000u);
  EXPECT_EQ(h.bitRate, 128u);
  EXPECT_EQ(h.variable, 0);
  head[5] = 0x10;  // footer flag
  AnalyseMpegHead(head.data(), head.size(), &h);
  EXPECT_EQ(h.audioOffset, 1010u);
  std::memcpy(head.data() + 1040, "Xing", 4);
  AnalyseMpegHead(head.data(), head.size(), &h);
  EXPECT_EQ(h.variable, 1);
}

}  // namespace

namespace {

// The WAVE files alsa-utils ships, beside python's wave module and sox's count of samples.
TEST(SoundDecoders, RealWaveFilesOfAlsaUtils) {
  std::string dir = "/usr/share/sounds/alsa/";
  if (!std::filesystem::exists(dir + "Front_Center.wav")) GTEST_SKIP() << "alsa-utils is not installed";
  for (const char *name : {"Front_Center.wav", "Noise.wav", "Rear_Left.wav"}) {
    SCOPED_TRACE(name);
    std::string path = dir + name;
    qmSampleData *d = nullptr;
    ASSERT_EQ(LoadSoundWhole(path.c_str(), &d), 0u);
    EXPECT_EQ(std::to_string(d->frames) + "\n", Shell("sox --i -s " + path));
    EXPECT_EQ(Hex(d->data, size_t(d->frames) * d->bytesPerFrame), PythonWaveFrames(path));
    FreeSampleData(d);
  }
}

}  // namespace

// Damaged sound files: every fixture cut at many lengths and with bytes flipped goes through
// our own decoders and the module player (under AddressSanitizer in the test build). Each must
// be refused or read within its bytes. The fuzz targets in tools/fuzz search further.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "media/sound/module.h"
#include "media/sound/sound_stream.h"
#include "platform/vfile.h"
#include "tests/media/sound/sound_vm.h"

namespace {

std::vector<uint8_t> Load(const std::string &name) {
  std::string s = ReadFileBytes(Fixture(name));
  return std::vector<uint8_t>(s.begin(), s.end());
}

// Opens the bytes as a file of one of our decoders and reads it to its end.
void ReadThrough(const std::vector<uint8_t> &bytes, int kind) {
  TempDir dir;
  std::string path = dir / "damaged";
  WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
  auto *s = static_cast<qmSound *>(std::calloc(1, sizeof(qmSound)));
  int ok = kind == SNDKIND_WAVE ? OpenWaveSound(path.c_str(), s) : OpenIffSound(path.c_str(), s, kind == SNDKIND_16SV);
  if (ok) {
    // What a decoder accepts never claims more frames than the bytes behind its data offset.
    EXPECT_LE(s->dataOffset + s->frames * s->bytesPerFrame, bytes.size());
    std::vector<uint8_t> buf(1000 * 4);
    int end = 0;
    while (!end && ReadSoundFrames(s, buf.data(), 1000, &end) > 0) {
    }
  }
  CloseSoundStream(s);
}

TEST(SoundHostile, CutAndFlippedFilesAreRefusedOrReadInBounds) {
  const struct {
    const char *name;
    int kind;
  } files[] = {{"stereo16.wav", SNDKIND_WAVE}, {"list_odd.wav", SNDKIND_WAVE}, {"stereo.8svx", SNDKIND_8SVX},
               {"mono.16sv", SNDKIND_16SV}};
  srand(7);
  for (const auto &f : files) {
    std::vector<uint8_t> good = Load(f.name);
    for (size_t cut = 0; cut < 120 && cut < good.size(); cut += 3)
      ReadThrough(std::vector<uint8_t>(good.begin(), good.begin() + cut), f.kind);
    for (int round = 0; round < 60; round++) {
      std::vector<uint8_t> bad = good;
      for (int k = 0; k < 4; k++) bad[size_t(rand()) % 80 % bad.size()] = uint8_t(rand());
      ReadThrough(bad, f.kind);
    }
  }
}

TEST(SoundHostile, DamagedModulesPlayWithinTheirBytes) {
  std::vector<uint8_t> good = Load("song.mod");
  srand(11);
  std::vector<int16_t> out(4800 * 2);
  for (int round = 0; round < 200; round++) {
    std::vector<uint8_t> bad = good;
    // Sample headers, order table and pattern cells.
    for (int k = 0; k < 8; k++) bad[size_t(rand()) % (bad.size() - 4)] = uint8_t(rand());
    std::memcpy(bad.data() + 1080, "M.K.", 4);
    if (round % 3 == 0) bad.resize(bad.size() - size_t(rand()) % 400);
    qmModule m;
    if (InitModule(&m, bad.data(), bad.size(), 48000) != 0) continue;
    for (int i = 0; i < 10; i++) RenderModuleAudio(&m, out.data(), 4800);
  }
}

}  // namespace

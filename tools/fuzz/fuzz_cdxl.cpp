// libFuzzer target: any bytes as a CDXL video: every packet is read and decoded, with a seek
// part-way (the first byte picks the time), as the video engine drives the reader.
#include <vector>

#include "media/videocore/cdxl.h"
#include "tools/fuzz/fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const uint8_t seekTo = data[0];
  FuzzInputFile input(data + 1, size - 1, "fuzz.cdxl");
  if (!input.name[0]) return 0;
  qmVideoInfo info{};
  qmCdxlReader *r = CdxlOpen(input.name, &info);
  if (!r) return 0;
  std::vector<uint8_t> pixels(size_t(info.width) * size_t(info.height) * 4);
  std::vector<int16_t> samples(65536);
  for (int k = 0; k < 64; k++) {
    if (k == 8) CdxlSeek(r, int64_t(seekTo) * 40);
    qmVideoPacket p{};
    if (CdxlNextPacket(r, &p)) break;
    if (p.stream == 0) {
      qmVideoFrame f{pixels.data(), 0, 0, 0, 0, 0};
      CdxlDecodeVideoFrame(r, &p, &f);
    } else {
      qmVideoSamples s{samples.data(), uint32_t(samples.size() * 2), 0, 0, 0};
      CdxlDecodeAudioFrame(r, &p, &s);
    }
    CdxlFreePacket(&p);
  }
  CdxlClose(r);
  return 0;
}

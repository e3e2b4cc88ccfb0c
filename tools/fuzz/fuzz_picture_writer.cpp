// libFuzzer target: pictures of any size and pixels written by the one picture writer in each
// of its formats (BMP, PNG, JPEG, GIF, ILBM) with any quality, colour count, dither and
// transparent colour, then read back by the loader: the file must read at the size written,
// and BMP and PNG without alpha with the colours written.
#include <cstdlib>

#include "media/image/imageload.h"
#include "media/image/imagewriter.h"
#include "platform/memory.h"
#include "tools/fuzz/fuzz_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzBytes in{data, size};
  const int32_t format = in.Byte() % 5;
  const int32_t w = 1 + in.Byte() % 48, h = 1 + in.Byte() % 48;
  const int32_t quality = int8_t(in.Byte()), colors = int16_t(in.Raw<int16_t>()), dither = in.Byte() % 3;
  const uint8_t flags = in.Byte();
  const int32_t alpha = flags & 1;
  std::vector<uint32_t> pixels = FuzzPixels(in, w, h);
  const uint32_t transparent = flags & 2 ? pixels[in.Byte() % pixels.size()] & 0xFFFFFF : 0xFFFFFFFFu;
  static const char *names[] = {"p.bmp", "p.png", "p.jpg", "p.gif", "p.iff"};
  const std::string name = FuzzOutputName(names[format]);
  if (SaveImageFile(format, pixels.data(), w, h, name.c_str(), nullptr, transparent, alpha, quality, colors, dither) != 0)
    return 0;
  uint32_t *back = nullptr;
  int32_t w2 = 0, h2 = 0, alpha2 = 0;
  if (LoadImageFile(name.c_str(), nullptr, -1, 0, &back, nullptr, nullptr, &w2, &h2, &alpha2) != 0 || w2 != w ||
      h2 != h)
    std::abort();
  if (format == IMGFMT_BMP || (format == IMGFMT_PNG && !alpha))
    for (size_t i = 0; i < pixels.size(); i++)
      if ((back[i] ^ pixels[i]) & 0xFFFFFF) std::abort();
  MemFree(back);
  return 0;
}

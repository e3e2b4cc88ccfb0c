// libFuzzer target: any bytes behind a JPEG's start marker for the platform's JPEG decoder
// alone: probed, decoded in full, and a small decoded picture encoded again at a quality the
// last byte picks and read back at its size.
#include "platform/imagecodec.h"
#include "tools/fuzz/fuzz_image.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<uint8_t> jpeg{0xFF, 0xD8, 0xFF};
  jpeg.insert(jpeg.end(), data, data + size);
  int32_t w = 0, h = 0, alpha = 0;
  DecodeImageMemory(jpeg.data(), jpeg.size(), &w, &h, nullptr, &alpha, nullptr);
  uint32_t *pixels = nullptr;
  if (DecodeImageMemory(jpeg.data(), jpeg.size(), &w, &h, &pixels, &alpha, nullptr) != 0) return 0;
  TouchPixels(pixels, w, h);
  if (int64_t(w) * h <= 256 * 256) {
    qmJpegRequest q{pixels, w, h, w * 4, size ? data[size - 1] % 101 : 90, {}};
    if (EncodeImageJPEG(&q) == 0) {
      uint32_t *again = nullptr;
      int32_t w2 = 0, h2 = 0;
      // What we wrote must read back, at the size it was written.
      if (DecodeImageMemory(q.data.bytes, q.data.length, &w2, &h2, &again, &alpha, nullptr) != 0 || w2 != w || h2 != h)
        std::abort();
      MemFree(again);
      FreeEncodedImage(&q.data);
    }
  }
  MemFree(pixels);
  return 0;
}

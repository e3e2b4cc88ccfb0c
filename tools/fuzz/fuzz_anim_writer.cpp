// libFuzzer target: anim streams of any size written as GIF animations or motion-JPEG AVIs with
// any options (colours, dither, transparent colour, optimising, quality, frame rate), fed
// frames of any size, delay and position, then read back by the anim readers: the file must
// open at the stream's size and hold every frame written.
#include <cstdlib>

#include "graphics/bitmap.h"
#include "media/animcore/animsave.h"
#include "media/animcore/gif.h"
#include "media/videocore/avireader.h"
#include "platform/memory.h"
#include "runtime/objlist.h"
#include "tools/fuzz/fuzz_image.h"
#include "tools/fuzz/fuzz_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzBytes in{data, size};
  static qmObjectRegistry *objects = [] {
    qmObjectRegistry *r = nullptr;
    NewObjectRegistry(nullptr, &r);
    return r;
  }();
  if (!objects) return 0;
  const int32_t format = in.Byte() & 1;
  const int32_t w = 1 + in.Byte() % 40, h = 1 + in.Byte() % 40;
  qmAnimSaveOptions o = kDefaultAnimSave;
  o.dither = in.Byte() % 3;
  o.colors = int16_t(in.Raw<int16_t>());
  o.optimize = in.Byte() & 1;
  o.quality = int8_t(in.Byte());
  o.fps = int8_t(in.Byte());
  const uint8_t transparent = in.Byte();
  const std::string name = FuzzOutputName(format ? "a.avi" : "a.gif");
  qmObjectId id{1, 0};
  qmAnimStream *s = nullptr;
  if (BeginAnimStream(objects, &id, name.c_str(), w, h, format, &o, &s) != 0) return 0;
  const int32_t frames = 1 + in.Byte() % 4;
  int32_t written = 0;
  for (int32_t f = 0; f < frames; f++) {
    qmAnimFrameOptions fo = kDefaultAnimFrame;
    fo.dither = in.Byte() % 3;
    fo.colors = int16_t(in.Raw<int16_t>());
    fo.optimize = in.Byte() & 1;
    fo.delay = in.Raw<int16_t>();
    fo.x = int8_t(in.Byte()), fo.y = int8_t(in.Byte());
    const int32_t fw = 1 + in.Byte() % 48, fh = 1 + in.Byte() % 48;
    std::vector<uint32_t> pixels = FuzzPixels(in, fw, fh);
    if (transparent & 1) fo.transparentColor = pixels[transparent % pixels.size()] & 0xFFFFFF;
    qmBitmap *b = AllocBitmap(fw, fh);
    if (!b) break;
    for (int32_t y = 0; y < fh; y++)
      for (int32_t x = 0; x < fw; x++) b->pixels[int64_t(y) * (b->bytesPerRow / 4) + x] = pixels[size_t(y) * fw + x];
    if (WriteAnimStreamFrame(nullptr, s, b, nullptr, nullptr, fw, fh, &fo) == 0) written++;
    FreeBitmap(b);
  }
  if (CloseAnimStream(objects, &id) != 0 || written == 0) return 0;
  int32_t w2 = 0, h2 = 0, n = 0;
  if (format == 0) {
    qmGifReader *r = GifOpen(name.c_str(), &w2, &h2, &n, 0);
    if (!r || w2 != w || h2 != h || n != written) std::abort();
    for (int32_t i = 0; i < n; i++) {
      uint32_t *p = GifLoadFrame(r, i);
      if (!p) std::abort();
      TouchPixels(p, w2, h2);
      MemFree(p);
    }
    GifCloseReader(r);
  } else {
    qmAviReader *r = AviReaderOpen(name.c_str(), &w2, &h2, &n);
    if (!r || w2 != w || h2 != h || n != written) std::abort();
    for (int32_t i = 0; i < n; i++) {
      uint32_t *p = AviReaderLoadFrame(r, i);
      if (!p) std::abort();
      TouchPixels(p, w2, h2);
      MemFree(p);
    }
    AviReaderClose(r);
  }
  return 0;
}

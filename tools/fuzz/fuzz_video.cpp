// libFuzzer target: any bytes as a video file for the engine's FFmpeg back end, opened, its
// pictures grabbed in sequence and by time (the first byte picks the times), then freed. The
// back end opens files by their path, so the bytes are written to a file of the run's own.
#include <cstdio>

#include "media/videocore/engine.h"
#include "tools/fuzz/fuzz_image.h"
#include "tools/fuzz/fuzz_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const uint8_t order = data[0];
  static const std::string name = FuzzOutputName("fuzz.video");
  FILE *f = std::fopen(name.c_str(), "wb");
  if (!f) return 0;
  const bool whole = std::fwrite(data + 1, 1, size - 1, f) == size - 1;
  if (std::fclose(f) != 0 || !whole) return 0;
  qmVideoEngine *e = nullptr;
  if (OpenVideoEngine(name.c_str(), VIDBACKEND_SYSTEM, &e)) return 0;
  const uint32_t *pixels = nullptr;
  int32_t w = 0, h = 0;
  for (int32_t i = 0; i < 16; i++) {
    if (GrabVideoEngineFrame(e, VIDGRAB_FRAME, i, 15, &pixels, &w, &h)) break;
    TouchPixels(pixels, w, h);
  }
  uint32_t duration = VideoEngineInfo(e)->duration;
  for (int k = 0; k < 2; k++) {
    int64_t at = duration ? int64_t((order >> (4 * k)) & 15) * duration / 16 : 0;
    if (GrabVideoEngineFrame(e, VIDGRAB_TIME, at, 15, &pixels, &w, &h) == 0) TouchPixels(pixels, w, h);
  }
  VideoEngineFrameCount(e);
  FreeVideoEngine(e);
  return 0;
}

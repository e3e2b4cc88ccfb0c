// Decoding every frame of a 640 x 480 animated GIF of 100 frames (PIL's changed rectangles over a
// first full picture), next to giflib doing the same job on the same file in the same run: from
// the file to one composed 0x00RRGGBB picture per frame. Ours: GifOpen (which scans the file),
// then GifLoadFrame for each frame in order. Peer: giflib's DGifSlurp, then each frame composed
// onto a canvas with its control block's transparency and disposal, and copied out. Rounds
// alternate (bench/side_by_side.h); compare the CPU ratio. The peer's frames are checked once
// to be ours. The file is made by the anim tests' peer (PIL) in a temporary folder.
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/side_by_side.h"
#include "media/animcore/gif.h"
#include "platform/memory.h"

namespace {

std::string BigGif() {
  static std::string dir = "/tmp/qm_bench_gif_" + std::to_string(getpid());
  static bool made = false;
  if (!made) {
    made = true;
    const std::string cmd = "/usr/bin/python3 " QM_SOURCE_DIR "/tests/media/animcore/anim_peer.py big-gif " + dir;
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "the GIF could not be made\n");
  }
  return dir + "/big.gif";
}

using Frames = std::vector<std::vector<uint32_t>>;

bool DecodeOurs(const std::string &path, Frames *out) {
  int32_t w = 0, h = 0, n = 0;
  qmGifReader *r = GifOpen(path.c_str(), &w, &h, &n, 0);
  if (!r) return false;
  bool ok = true;
  for (int32_t i = 0; ok && i < n; i++) {
    uint32_t *p = GifLoadFrame(r, i);
    ok = p != nullptr;
    benchmark::DoNotOptimize(p);
    if (ok && out) out->emplace_back(p, p + size_t(w) * h);
    MemFree(p);
  }
  GifCloseReader(r);
  return ok && n == 100;
}

bool DecodeGiflib(const std::string &path, Frames *out) {
  int err = 0;
  GifFileType *gif = DGifOpenFileName(path.c_str(), &err);
  if (!gif) return false;
  if (DGifSlurp(gif) != GIF_OK) {
    DGifCloseFile(gif, &err);
    return false;
  }
  const int w = gif->SWidth, h = gif->SHeight;
  std::vector<uint32_t> canvas(size_t(w) * h), saved;
  auto colour = [](const ColorMapObject *map, int i) {
    if (!map || i >= map->ColorCount) return 0u;
    const GifColorType &c = map->Colors[i];
    return uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | c.Blue;
  };
  std::fill(canvas.begin(), canvas.end(), colour(gif->SColorMap, gif->SBackGroundColor));
  for (int f = 0; f < gif->ImageCount; f++) {
    const SavedImage &im = gif->SavedImages[f];
    GraphicsControlBlock gcb = {DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
    DGifSavedExtensionToGCB(gif, f, &gcb);
    const ColorMapObject *map = im.ImageDesc.ColorMap ? im.ImageDesc.ColorMap : gif->SColorMap;
    const int left = im.ImageDesc.Left, top = im.ImageDesc.Top;
    const int fw = std::min(im.ImageDesc.Width, w - left), fh = std::min(im.ImageDesc.Height, h - top);
    if (gcb.DisposalMode == DISPOSE_PREVIOUS) saved = canvas;
    for (int y = 0; y < fh; y++)
      for (int x = 0; x < fw; x++) {
        const int i = im.RasterBits[size_t(y) * im.ImageDesc.Width + x];
        if (i != gcb.TransparentColor) canvas[size_t(top + y) * w + left + x] = colour(map, i);
      }
    benchmark::DoNotOptimize(canvas.data());
    std::vector<uint32_t> copy(canvas);  // each frame a picture of its own, as ours
    benchmark::DoNotOptimize(copy.data());
    if (out) out->push_back(std::move(copy));
    if (gcb.DisposalMode == DISPOSE_BACKGROUND) {
      const uint32_t c = colour(map, gcb.TransparentColor >= 0 ? gcb.TransparentColor : gif->SBackGroundColor);
      for (int y = 0; y < fh; y++) std::fill_n(canvas.begin() + (size_t(top + y) * w + left), fw, c);
    } else if (gcb.DisposalMode == DISPOSE_PREVIOUS) {
      canvas = saved;
    }
  }
  const int count = gif->ImageCount;
  DGifCloseFile(gif, &err);
  return count == 100;
}

void GifDecode(benchmark::State &state) {
  const std::string path = BigGif();
  Frames ours, theirs;
  if (!DecodeOurs(path, &ours) || !DecodeGiflib(path, &theirs)) {
    state.SkipWithError("a decoder failed");
    return;
  }
  if (ours != theirs) {
    state.SkipWithError("giflib's frames are not ours");
    return;
  }
  qmSideBySide rounds;
  for (auto _ : state)
    rounds.Round(
        state, [&] { DecodeOurs(path, nullptr); }, [&] { DecodeGiflib(path, nullptr); });
  rounds.Report(state, "giflib");
}

}  // namespace

BENCHMARK(GifDecode)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2);

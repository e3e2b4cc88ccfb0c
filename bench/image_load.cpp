// Loading a 1920 x 1080 picture through the image loader, next to a peer doing the same job on
// the same file in the same run: from the file to 32-bit words of 0xAARRGGBB (B, G, R, A bytes
// in memory). PNG: libpng's simplified read to B, G, R, A bytes. JPEG: TurboJPEG's decompression
// of the file read into memory to B, G, R, X. BMP: SDL2's SDL_LoadBMP and its conversion of the
// surface to ARGB8888. The two sides alternate round by round (bench/side_by_side.h), CPU
// and wall time each, after a check, once, that the peer's picture is ours: the colours of
// every pixel equal.
// The pictures are made by the picture tests' peer (PIL) in a temporary folder.
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <png.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/side_by_side.h"
#include "media/image/imageload.h"
#include "platform/memory.h"

namespace {

std::string Picture(const char *name) {
  static std::string dir = "/tmp/qm_bench_image_" + std::to_string(getpid());
  static bool made = false;
  if (!made) {
    made = true;
    std::string cmd = "/usr/bin/python3 " QM_SOURCE_DIR "/tests/media/image/image_peer.py big " + dir;
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "the pictures could not be made\n");
  }
  return dir + "/" + name;
}

std::vector<uint8_t> ReadAll(const std::string &path) {
  std::vector<uint8_t> bytes;
  if (FILE *f = std::fopen(path.c_str(), "rb")) {
    std::fseek(f, 0, SEEK_END);
    bytes.resize(size_t(std::ftell(f)));
    std::fseek(f, 0, SEEK_SET);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
    std::fclose(f);
  }
  return bytes;
}

// A loaded picture: width x height words of 0xAARRGGBB, row after row.
struct Loaded {
  std::vector<uint32_t> pixels;
  int32_t width = 0, height = 0;
};

bool LoadOurs(const std::string &path, Loaded *out) {
  uint32_t *pixels = nullptr;
  int32_t w = 0, h = 0, alpha = 0;
  const uint32_t err = LoadImageFile(path.c_str(), nullptr, -1, 0, &pixels, nullptr, nullptr, &w, &h, &alpha);
  benchmark::DoNotOptimize(pixels);
  if (out && !err) out->pixels.assign(pixels, pixels + size_t(w) * h), out->width = w, out->height = h;
  MemFree(pixels);
  return err == 0 && w == 1920 && h == 1080;
}

bool LoadPngPeer(const std::string &path, Loaded *out) {
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_BGRA;
  std::vector<uint32_t> pixels(PNG_IMAGE_SIZE(image) / 4);
  const bool ok = png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) != 0;
  benchmark::DoNotOptimize(pixels.data());
  if (out && ok) out->pixels = std::move(pixels), out->width = int32_t(image.width), out->height = int32_t(image.height);
  return ok;
}

bool LoadJpegPeer(const std::string &path, Loaded *out) {
  std::vector<uint8_t> bytes = ReadAll(path);
  tjhandle tj = tjInitDecompress();
  int w = 0, h = 0, sub = 0, cs = 0;
  bool ok = tjDecompressHeader3(tj, bytes.data(), bytes.size(), &w, &h, &sub, &cs) == 0;
  std::vector<uint32_t> pixels(size_t(w) * h);
  ok = ok && tjDecompress2(tj, bytes.data(), bytes.size(), reinterpret_cast<uint8_t *>(pixels.data()), w, w * 4, h,
                           TJPF_BGRX, 0) == 0;
  benchmark::DoNotOptimize(pixels.data());
  tjDestroy(tj);
  if (out && ok) out->pixels = std::move(pixels), out->width = w, out->height = h;
  return ok;
}

bool LoadBmpPeer(const std::string &path, Loaded *out) {
  SDL_Surface *file = SDL_LoadBMP(path.c_str());
  if (!file) return false;
  SDL_Surface *argb = SDL_ConvertSurfaceFormat(file, SDL_PIXELFORMAT_ARGB8888, 0);
  SDL_FreeSurface(file);
  if (!argb) return false;
  benchmark::DoNotOptimize(argb->pixels);
  if (out) {
    out->width = argb->w, out->height = argb->h;
    out->pixels.resize(size_t(argb->w) * argb->h);
    for (int y = 0; y < argb->h; y++)
      std::copy_n(static_cast<const uint32_t *>(argb->pixels) + size_t(y) * (argb->pitch / 4), argb->w,
                  out->pixels.begin() + ptrdiff_t(y) * argb->w);
  }
  SDL_FreeSurface(argb);
  return true;
}

using Loader = bool (*)(const std::string &, Loaded *);

// Once per peer bench: both load the file, and the colours must agree.
bool SamePicture(benchmark::State &state, const std::string &path, Loader peer) {
  Loaded ours, theirs;
  if (!LoadOurs(path, &ours) || !peer(path, &theirs) || ours.width != theirs.width || ours.height != theirs.height) {
    state.SkipWithError("a loader failed");
    return false;
  }
  int worst = 0;
  for (size_t i = 0; i < ours.pixels.size(); i++)
    for (int shift = 0; shift < 24; shift += 8)
      worst = std::max(worst, std::abs(int((ours.pixels[i] >> shift) & 255) - int((theirs.pixels[i] >> shift) & 255)));
  state.counters["max_channel_diff"] = worst;
  if (worst == 0) return true;
  state.SkipWithError("the peer's picture is not ours");
  return false;
}

// Ours and the peer in alternating rounds (bench/side_by_side.h), after the check that both
// load the same picture.
void OursVersusPeer(benchmark::State &state, const char *name, Loader peer, const char *peerName) {
  const std::string path = Picture(name);
  if (!SamePicture(state, path, peer)) return;
  bool failed = false;
  qmSideBySide s;
  for (auto _ : state)
    s.Round(
        state, [&] { failed |= !LoadOurs(path, nullptr); }, [&] { failed |= !peer(path, nullptr); });
  if (failed) state.SkipWithError("a loader failed");
  s.Report(state, peerName);
}

BENCHMARK_CAPTURE(OursVersusPeer, png, "big.png", LoadPngPeer, "libpng")
    ->UseManualTime()
    ->Iterations(21)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OursVersusPeer, jpeg, "big.jpg", LoadJpegPeer, "turbojpeg")
    ->UseManualTime()
    ->Iterations(21)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OursVersusPeer, bmp, "big.bmp", LoadBmpPeer, "sdl")
    ->UseManualTime()
    ->Iterations(21)
    ->Unit(benchmark::kMillisecond);

}  // namespace

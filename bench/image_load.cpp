// Loading a 1920 x 1080 picture through the image loader, next to the bare decoder of the same
// file in the same run: PNG against libpng's simplified read (to B, G, R, A bytes, the layout
// of our 0xAARRGGBB words), JPEG against TurboJPEG's decompression of the file read into
// memory, BMP against a plain read of the file. "ratio" is our time / the peer's (goal: at most
// 1.1). The pictures are made by the picture tests' peer (PIL) in a temporary folder.
#include <benchmark/benchmark.h>
#include <png.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "media/image/imageload.h"
#include "platform/memory.h"

namespace {

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

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

bool LoadOurs(const std::string &path) {
  uint32_t *pixels = nullptr;
  int32_t w = 0, h = 0, alpha = 0;
  const uint32_t err = LoadImageFile(path.c_str(), nullptr, -1, 0, &pixels, nullptr, nullptr, &w, &h, &alpha);
  benchmark::DoNotOptimize(pixels);
  MemFree(pixels);
  return err == 0 && w == 1920 && h == 1080;
}

bool LoadPngPeer(const std::string &path) {
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_BGRA;
  std::vector<uint8_t> out(PNG_IMAGE_SIZE(image));
  const bool ok = png_image_finish_read(&image, nullptr, out.data(), 0, nullptr) != 0;
  benchmark::DoNotOptimize(out.data());
  return ok;
}

bool LoadJpegPeer(const std::string &path) {
  std::vector<uint8_t> bytes = ReadAll(path);
  tjhandle tj = tjInitDecompress();
  int w = 0, h = 0, sub = 0, cs = 0;
  bool ok = tjDecompressHeader3(tj, bytes.data(), bytes.size(), &w, &h, &sub, &cs) == 0;
  std::vector<uint8_t> out(size_t(w) * h * 4);
  ok = ok && tjDecompress2(tj, bytes.data(), bytes.size(), out.data(), w, w * 4, h, TJPF_BGRX, 0) == 0;
  benchmark::DoNotOptimize(out.data());
  tjDestroy(tj);
  return ok;
}

bool ReadPeer(const std::string &path) {
  std::vector<uint8_t> bytes = ReadAll(path);
  benchmark::DoNotOptimize(bytes.data());
  return !bytes.empty();
}

// Ours and the peer take turns, so that both see the same machine.
void Compare(benchmark::State &state, const char *name, bool (*peer)(const std::string &)) {
  const std::string path = Picture(name);
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    double t0 = Now();
    if (!LoadOurs(path)) state.SkipWithError("the loader failed");
    double t1 = Now();
    if (!peer(path)) state.SkipWithError("the peer failed");
    double t2 = Now();
    ours += t1 - t0;
    theirs += t2 - t1;
  }
  const double n = double(state.iterations());
  state.counters["ours_ms"] = 1000 * ours / n;
  state.counters["peer_ms"] = 1000 * theirs / n;
  state.counters["ratio"] = ours / theirs;
}

void LoadPng(benchmark::State &state) { Compare(state, "big.png", LoadPngPeer); }
void LoadJpeg(benchmark::State &state) { Compare(state, "big.jpg", LoadJpegPeer); }
void LoadBmp(benchmark::State &state) { Compare(state, "big.bmp", ReadPeer); }

BENCHMARK(LoadPng)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(LoadJpeg)->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK(LoadBmp)->Unit(benchmark::kMillisecond)->Iterations(100);

}  // namespace

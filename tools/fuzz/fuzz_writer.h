// What the writer targets share: a folder of their own for the files they write, and pixels
// of any size made from the input's bytes.
#pragma once
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/fuzz/fuzz_bytes.h"

// A file name in a folder made once per run under TMPDIR (or /tmp).
inline std::string FuzzOutputName(const char *name) {
  static const std::string folder = [] {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qmfuzz_XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string("/tmp");
  }();
  return folder + "/" + name;
}

// width x height 0xAARRGGBB words: the input's next bytes, over and over, with a few runs of
// one colour so that palettes and optimised frames have something to find.
inline std::vector<uint32_t> FuzzPixels(FuzzBytes &in, int32_t width, int32_t height) {
  std::vector<uint32_t> pixels(size_t(width) * size_t(height));
  const std::vector<uint8_t> seed(in.at, in.at + std::min<size_t>(in.left, 256));
  for (size_t i = 0; i < pixels.size(); i++) {
    if (seed.empty()) {
      pixels[i] = uint32_t(i * 2654435761u);
      continue;
    }
    const size_t k = (i / 3) % seed.size();
    pixels[i] = uint32_t(seed[k]) << 16 | uint32_t(seed[(k + 1) % seed.size()]) << 8 | seed[(k + 2) % seed.size()] |
                uint32_t(seed[(k + 3) % seed.size()]) << 24;
  }
  for (size_t i = 0; i < seed.size() / 4; i++) in.Byte();
  return pixels;
}

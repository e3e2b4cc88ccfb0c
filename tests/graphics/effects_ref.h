// Runs the Python reference of the effect kernels (effects_ref.py beside this file) on a small
// picture and reads back its integers.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/pixelformat.h"

namespace fxtest {

// The reference run on an input file of four lines (operation, size, pixels, extra): its
// numbers, or nothing when it failed.
inline std::vector<double> RunReferenceInput(const std::string &input) {
  static int serial = 0;
  const std::string base = "/tmp/qm_fxref_" + std::to_string(getpid()) + "_" + std::to_string(serial++);
  std::ofstream(base + ".in") << input;
  const std::string cmd = "python3 " QM_SOURCE_DIR "/tests/graphics/effects_ref.py " + base + ".in " + base + ".out";
  std::vector<double> out;
  if (std::system(cmd.c_str()) == 0) {
    std::ifstream res(base + ".out");
    double v;
    while (res >> v) out.push_back(v);
  }
  std::remove((base + ".in").c_str());
  std::remove((base + ".out").c_str());
  return out;
}

// op: the operation and its numbers, space separated; pixels as 0xRRGGBB; extra: a second line.
inline std::vector<int64_t> RunReference(const std::string &op, int32_t w, int32_t h, const std::vector<uint32_t> &pixels,
                                         const std::vector<int64_t> &extra = {}) {
  std::ostringstream in;
  in << op << "\n" << w << " " << h << "\n";
  for (uint32_t p : pixels) in << p << " ";
  in << "\n";
  for (int64_t v : extra) in << v << " ";
  in << "\n";
  std::vector<int64_t> out;
  for (double v : RunReferenceInput(in.str())) out.push_back(int64_t(v));
  return out;
}

// The distortion mapping of a method: error code, result size and origin, then the source
// position (u, v) and the validity of every result pixel.
inline std::vector<double> RunDistortReference(int32_t method, const std::vector<double> &params, int32_t w, int32_t h) {
  std::string op = "distort " + std::to_string(method);
  for (double p : params) {
    char buf[40];
    std::snprintf(buf, sizeof buf, " %.17g", p);
    op += buf;
  }
  return RunReferenceInput(op + "\n" + std::to_string(w) + " " + std::to_string(h) + "\n\n\n");
}

// Deterministic fixture colours: a smooth ramp crossed with noise, so both flat areas and sharp
// edges occur.
inline std::vector<uint32_t> Fixture(int32_t w, int32_t h, uint32_t seed) {
  std::vector<uint32_t> px(size_t(w) * h);
  uint32_t s = seed;
  for (int32_t y = 0; y < h; y++)
    for (int32_t x = 0; x < w; x++) {
      s = s * 1664525u + 1013904223u;
      const uint32_t noise = s >> 8;
      const bool flat = ((x / 4) + (y / 3)) % 3 == 0;
      const uint32_t r = flat ? 40 + 10 * (x / 4) : (noise >> 16) & 0xFF;
      const uint32_t g = flat ? 200 - 7 * y : (noise >> 8) & 0xFF;
      const uint32_t b = flat ? 128 : noise & 0xFF;
      px[size_t(y) * w + x] = ((r & 0xFF) << 16) | ((g & 0xFF) << 8) | (b & 0xFF);
    }
  return px;
}

// A canonical picture in a bitmap-like layout: pitch with spare pixels, words in the format.
struct Picture {
  int32_t w, h, pitch, format;
  std::vector<uint32_t> words;
  Picture(const std::vector<uint32_t> &canonical, int32_t width, int32_t height, int32_t fmt)
      : w(width), h(height), pitch((width & ~3) + 4), format(fmt), words(size_t(pitch) * height, 0xA5A5A5A5u) {
    for (int32_t y = 0; y < h; y++)
      for (int32_t x = 0; x < w; x++) words[size_t(y) * pitch + x] = CanonicalToPixel(fmt, canonical[size_t(y) * w + x]);
  }
  std::vector<int64_t> Canonical() const {
    std::vector<int64_t> out;
    for (int32_t y = 0; y < h; y++)
      for (int32_t x = 0; x < w; x++) out.push_back(PixelToCanonical(format, words[size_t(y) * pitch + x]));
    return out;
  }
  // Every word of the picture has a 0 fourth byte, and the spare pixels are untouched.
  bool Clean() const {
    for (int32_t y = 0; y < h; y++) {
      for (int32_t x = 0; x < w; x++)
        if (words[size_t(y) * pitch + x] & FourthByteMask(format)) return false;
      for (int32_t x = w; x < pitch; x++)
        if (words[size_t(y) * pitch + x] != 0xA5A5A5A5u) return false;
    }
    return true;
  }
};

} // namespace fxtest

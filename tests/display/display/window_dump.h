// What an X server's screen shows, read back through xwd (an independent reader of the
// screen): the dump's pixels as 0xRRGGBB.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// An X window dump in Z format: the header's 25 big-endian words, the window name, the colour
// entries, then rows of pixels.
struct WindowDump {
  uint32_t width = 0, height = 0, bytesPerLine = 0, bitsPerPixel = 0, byteOrder = 0;
  uint32_t masks[3] = {};
  std::vector<uint8_t> pixels;

  bool Read(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto word = [&](size_t i) {
      return uint32_t(b[4 * i]) << 24 | uint32_t(b[4 * i + 1]) << 16 | uint32_t(b[4 * i + 2]) << 8 | b[4 * i + 3];
    };
    if (b.size() < 100 || word(1) != 7 || word(2) != 2) return false;
    width = word(4);
    height = word(5);
    byteOrder = word(7);
    bitsPerPixel = word(11);
    bytesPerLine = word(12);
    masks[0] = word(14);
    masks[1] = word(15);
    masks[2] = word(16);
    const size_t start = size_t(word(0)) + size_t(word(19)) * 12;
    if (b.size() < start + size_t(bytesPerLine) * height) return false;
    pixels.assign(b.begin() + long(start), b.end());
    return true;
  }
  // 0xRRGGBB of the pixel at (x, y), for 24 or 32 bits per pixel.
  uint32_t At(uint32_t x, uint32_t y) const {
    const uint32_t n = bitsPerPixel / 8;
    const uint8_t *p = &pixels[size_t(y) * bytesPerLine + size_t(x) * n];
    uint32_t v = 0;
    for (uint32_t i = 0; i < n; i++) v |= uint32_t(p[i]) << (8 * (byteOrder == 0 ? i : n - 1 - i));
    uint32_t rgb = 0;
    for (uint32_t m : masks) {
      const uint32_t shift = uint32_t(__builtin_ctz(m));
      rgb = rgb << 8 | ((v & m) >> shift);
    }
    return rgb;
  }
};

// The whole screen of the X display (":N") dumped into path and read; false when xwd fails.
inline bool DumpScreen(const std::string &display, const std::string &path, WindowDump *dump) {
  const std::string cmd = "xwd -root -silent -display " + display + " -out " + path;
  return std::system(cmd.c_str()) == 0 && dump->Read(path);
}

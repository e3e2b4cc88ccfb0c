// A CDXL file made in the test: headers, 12-bit palettes, bitplanes one after another, 8-bit
// sound and padding, with the colour each pixel of each frame must show.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct CdxlFixture {
  int width = 16, height = 4, planes = 2;
  bool ham = false;
  std::vector<uint16_t> palette = {0x0000, 0x0F80, 0x00F0, 0x0FFF};
  uint32_t soundSize = 0;
  uint32_t frameSize = 0;  // 0 = just the parts
  int frames = 3;
  // The colour index of pixel (x, y) of frame f.
  std::function<int(int f, int x, int y)> index = [](int f, int x, int y) { return (x / 4 + y + f) % 4; };

  int RowBytes() const { return ((width + 15) / 8) & ~1; }
  uint32_t Parts() const {
    return 32 + uint32_t(palette.size()) * 2 + uint32_t(RowBytes() * height * planes) + soundSize;
  }
  uint32_t Size() const { return frameSize ? frameSize : Parts(); }

  static void Be32(std::string &s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) s[at + i] = char(v >> (24 - 8 * i));
  }
  static void Be16(std::string &s, size_t at, uint32_t v) { s[at] = char(v >> 8), s[at + 1] = char(v); }

  std::string Frame(int f) const {
    std::string s(Size() > Parts() ? Size() : Parts(), '\0');
    s[0] = 1;
    s[1] = char(ham ? 1 : 0);
    Be32(s, 2, Size());
    Be32(s, 6, f ? Size() : 0);
    Be32(s, 10, uint32_t(f));
    Be16(s, 14, uint32_t(width)), Be16(s, 16, uint32_t(height));
    s[19] = char(planes);
    Be16(s, 20, uint32_t(palette.size() * 2)), Be16(s, 22, soundSize);
    size_t at = 32;
    for (uint16_t c : palette) Be16(s, at, c), at += 2;
    for (int p = 0; p < planes; p++)
      for (int y = 0; y < height; y++, at += size_t(RowBytes()))
        for (int x = 0; x < width; x++)
          if ((index(f, x, y) >> p) & 1) s[at + size_t(x / 8)] = char(uint8_t(s[at + size_t(x / 8)]) | 0x80 >> (x & 7));
    for (uint32_t i = 0; i < soundSize; i++) s[at + i] = char(int8_t(i * 3 - 40 + f));
    return s;
  }
  std::string File() const {
    std::string s;
    for (int f = 0; f < frames; f++) s += Frame(f);
    return s;
  }
  // The colour the palette gives an index, 0x00RRGGBB.
  uint32_t Colour(int i) const {
    const uint16_t c = palette[size_t(i)];
    return uint32_t((c >> 8) & 15) * 17 << 16 | uint32_t((c >> 4) & 15) * 17 << 8 | uint32_t(c & 15) * 17;
  }
};

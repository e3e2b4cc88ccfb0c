// What the font target and the hostile-file tests share: any bytes as a font file. The first
// byte picks the reader: a bitmap font's size file (then measured and drawn, into planes and
// bitmaps), a ".font" contents file, or an sfnt face's name table (plain, as a resource block
// at 256, and as a collection's face at 12).
#pragma once
#include <vector>

#include "graphics/bitmap.h"
#include "platform/file.h"
#include "platform/vfile.h"
#include "runtime/vnames.h"
#include "text/bitmapfont.h"
#include "text/font.h"
#include "text/fontscan.h"

inline void ReadFuzzFont(const uint8_t *data, size_t size) {
  if (size < 1) return;
  int32_t window = RegisterMemoryWindow(data + 1, size - 1);
  char name[kChunkNameSize];
  if (!window) return;
  if (!MakeMemoryChunkName("fuzz.font", name, sizeof name, window, size - 1, data + 1)) {
    UnregisterMemoryWindow(window);
    return;
  }
  switch (data[0] % 3) {
  case 0: {
    qmFont font{};
    font.xScale = font.yScale = 1.0;
    if (LoadBitmapFontSizeFile(name, &font)) {
      static const char text[] = "Az\x01\xFF ~";
      qmTextExtent e{};
      MeasureFontText(&font, text, 6, 0, 0, &e);
      qmBitmap *b = AllocBitmap(40, 20);
      std::vector<uint8_t> bits(20 * 6), second(20 * 6);
      qmMask plane{bits.data(), 40, 20, 6, 1}, other{second.data(), 40, 20, 6, 1};
      qmTextClip clip{0, 0, 40, 20};
      if (b) RenderFontText(&font, b, nullptr, -3, 2, text, 6, 0, 0, &clip, 0xFF00FF);
      void *target = font.engineType == QM_FONT_COLOR ? static_cast<void *>(b) : &plane;
      if (target) RenderFontText(&font, target, &other, 5, -1, text, 6, 0, 0, &clip, kGlyphPlane);
      if (b) FreeBitmap(b);
      CloseBitmapFont(&font);
    }
    break;
  }
  case 1: {
    qmFont font{};
    if (OpenBitmapFont(name, 8, &font)) CloseBitmapFont(&font);
    break;
  }
  default: {
    if (qmFileHandle *f = FileOpen(name, FILE_MODE_READ)) {
      char family[kFontNameChars + 1], style[kFontNameChars + 1];
      ReadTrueTypeNames(f, family, style, 0, 1);
      ReadTrueTypeNames(f, family, style, 256, 1);
      ReadTrueTypeNames(f, family, style, 12, 0);
      FileClose(f);
    }
    break;
  }
  }
  UnregisterMemoryWindow(window);
}

#include "text/glyph_paint.h"

#include "graphics/cpu.h"

#ifdef QM_HAVE_AVX2
void PaintGlyphSpanAvx2(const qmGlyphSpan *span);
#endif

void PaintGlyphSpanScalar(const qmGlyphSpan *span, int32_t from) {
  const uint32_t color = span->color, keep = ~span->fourth;
  for (int32_t x = from; x < span->count; x++) {
    const int32_t c = span->coverage[x];
    if (!c) continue;
    uint32_t &pixel = span->pixels[x];
    uint8_t &a = span->alpha[x];
    if (a == 0) {
      pixel = color;
    } else {
      // Channels sit at the same places in the word and in the colour: mix byte by byte.
      uint32_t mixed = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        const int32_t from8 = int32_t(pixel >> shift & 0xFF), to8 = int32_t(color >> shift & 0xFF);
        mixed |= uint32_t(from8 + (to8 - from8) * c / 255) << shift;
      }
      pixel = (mixed & keep) | (color & span->fourth);
    }
    const auto level = uint8_t(uint32_t(c) * span->opacity / 255);
    if (level > a) a = level;
  }
}

void PaintGlyphSpan(const qmGlyphSpan *span) {
  QM_AVX2_RETURN(PaintGlyphSpanAvx2(span));
  PaintGlyphSpanScalar(span);
}

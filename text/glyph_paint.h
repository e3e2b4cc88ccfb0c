// Painting a colour through one row of glyph coverage (bytes 0..255) into a picture row of
// stored 32-bit words (formats 10 to 13) and its alpha plane. Where the coverage c is not 0, a
// pixel of alpha 0 takes the colour whole and any other moves toward it by c / 255 in each
// channel (the step truncated toward the old value); the alpha becomes the larger of itself
// and c * opacity / 255.
#pragma once
#include <cstdint>

struct qmGlyphSpan {
  const uint8_t *coverage;
  uint32_t *pixels;
  uint8_t *alpha;
  int32_t count;
  uint32_t color;   // the colour's stored word, with the fourth byte a painted pixel gets
  uint32_t fourth;  // the stored word's byte that is not a channel (FourthByteMask)
  uint32_t opacity; // 0..255
};

void PaintGlyphSpan(const qmGlyphSpan *span);
// The same one pixel at a time, kept to check the vector path.
void PaintGlyphSpanScalar(const qmGlyphSpan *span, int32_t from = 0);

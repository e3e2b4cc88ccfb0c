// The built-in "topaz" 8 font's tables: one plane of 8 rows, one 8-pixel cell per glyph,
// most significant bit leftmost; glyph locations for codes 32..255 and the fall-back glyph.
#pragma once
#include <cstdint>

constexpr int32_t kTopazModulo = 192;
extern const uint8_t kTopazPlane[kTopazModulo * 8];
extern const uint32_t kTopazCharLoc[225];

// The four Huffman tables of the JPEG standard as one DHT segment (marker, length 418 and the
// tables: DC and AC of luminance and chrominance). Motion-JPEG frames often leave them out.
#pragma once
#include <cstdint>

inline constexpr uint32_t kStandardDhtSize = 420;
extern const uint8_t *const kStandardDht;

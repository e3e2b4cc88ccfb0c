// Colour arithmetic of the graphics library: channels, mixing, the colours a display can show
// and the table of random colours.
#pragma once
#include <cstdint>

// Each channel as c1 + ((c2 - c1) x level >> 8), shifted arithmetically, so level 255 stops
// one step short of colour 2; the result carries no alpha.
uint32_t MixColors(uint32_t c1, uint32_t c2, int32_t level);
// The colour as a display of that depth stores it: 15 bits keep 5 per channel, 16 bits 5-6-5.
uint32_t RealColor(uint32_t rgb, int32_t depth);
// Entry index of the 246 random colours, expanded from 4 to 8 bits per channel.
uint32_t RandomColorAt(int32_t index);
inline constexpr int32_t kRandomColorCount = 246;

// A side given as KEEPASPRAT takes the other side in the source's proportions (halves round
// up). 0, ERR_WRONGUSAGE when both are, ERR_BADDIMENSIONS for a side below 1.
inline constexpr int32_t kKeepAspect = 100000;
uint32_t ApplyKeepAspect(int32_t srcWidth, int32_t srcHeight, int32_t *width, int32_t *height);

// A rectangle of a picture scaled into a rectangle of the effect area, the one drawing step the
// stretch, zoom and squash effects share.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"

struct qmFxRequest;

// Draws (sx, sy, sw x sh) of pic, a picture of the area's size, scaled to dw x dh at (dx, dy) of
// the area, through the picture's mask or alpha when given. Pixels alone are scaled into work (a
// bitmap of the area's size, reused frame after frame); a picture with planes gets new scaled
// planes for the one draw. An empty rectangle draws nothing. 0 or the scaler's error.
uint32_t DrawFxScaled(qmFxRequest *fx, const qmBitmap *pic, const qmMask *mask, const qmAlphaChannel *alpha,
                      int32_t sx, int32_t sy, int32_t sw, int32_t sh, int32_t dx, int32_t dy, int32_t dw, int32_t dh,
                      qmBitmap *work);

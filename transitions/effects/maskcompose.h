// The composition step of the mask-revealing effects (dissolve, the shape wipes, the rolls): the
// new picture over the old one through the frame's mask or alpha plane.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"

struct qmFxRequest;

// The area's rectangle (srcX, srcY, width x height): image through mask and alpha over the old
// picture, to the same place on the screen; work is a picture of the area's size. In layer mode
// the image goes into the layer's planes through mask and alpha instead.
void ComposeMaskedFx(qmFxRequest *fx, const qmBitmap *image, int32_t srcX, int32_t srcY, int32_t width, int32_t height,
                     const qmMask *mask, const qmAlphaChannel *alpha, qmBitmap *work);
// The area's rectangle (x, y, width x height) of image into the same place of work (a picture of
// the area's size) through mask and alpha, pixels only.
void OverFxPicture(qmFxRequest *fx, const qmBitmap *image, const qmMask *mask, const qmAlphaChannel *alpha,
                   qmBitmap *work, int32_t x, int32_t y, int32_t width, int32_t height);
// What a frame shows of the new picture in the area's rectangle (x, y, width x height), from the
// pixels revealed so far: those within the new picture's own mask into shown or, for a picture
// with an alpha plane, its alpha bytes there (0 elsewhere) into alpha. A layer taken away through
// its planes shows the pixels not yet revealed instead. The mask to compose with: reveal itself
// when it says all, else shown; null when the alpha plane carries it.
const qmMask *RevealCoverage(const qmFxRequest *fx, const qmMask *reveal, int32_t x, int32_t y, int32_t width,
                             int32_t height, qmMask *shown, qmAlphaChannel *alpha);

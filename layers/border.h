// The outline image of a layer: a picture of the border colour a few pixels larger than what the
// layer shows, shaped after its mask or alpha channel (or a plain frame), which the composer
// draws under the layer.
#pragma once
#include <cstdint>

#include "layers/layer.h"

struct qmDisplay;

// Builds the border image of the layer drawn from the state, at the scale of the display (null:
// unscaled): colour 0xTTRRGGBB (TT the border's transparency), size the outline thickness in
// pixels. The offsets say how far the image reaches left of and above the layer's image. 0 or
// ERR_MEM; nothing is kept on failure.
uint32_t BuildBorderImage(const qmDisplay *display, const qmLayer *layer, const qmLayerState *state, uint32_t color,
                          int32_t size, int32_t *offsetX, int32_t *offsetY, int32_t *width, int32_t *height,
                          qmPlaneSet *out);

// The state's border image (at the display's scale), built when it has none: false when it cannot be made.
bool EnsureBorderImage(const qmDisplay *display, const qmLayer *layer, qmLayerState *state);

// How far the outline of width e of a width x height picture under the matrix reaches past the
// picture's left edge: the x of the turned box of (e, e, width, height) minus that of
// (0, 0, width + 2e, height + 2e), both turned about their centres.
int32_t GetTransformedEdgeOffset(const double m[4], int32_t width, int32_t height, int32_t edge);

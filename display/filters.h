// The twenty picture filters that display tags and layers carry: their names and parameters,
// and the pass that runs the enabled ones in priority order over a picture.
#pragma once
#include <cstdint>

#include "display/displaytags.h"

// Slot numbers; a slot's number is its index in a filter array.
enum : int32_t {
  FILTER_BLUR = 0,
  FILTER_CHARCOAL,
  FILTER_CONTRAST,
  FILTER_EDGE,
  FILTER_EMBOSS,
  FILTER_GAMMA,
  FILTER_GRAYSCALE,
  FILTER_INVERT,
  FILTER_MODULATE,
  FILTER_MONOCHROME,
  FILTER_OILPAINT,
  FILTER_PIXELATE,
  FILTER_SEPIATONE,
  FILTER_SHARPEN,
  FILTER_SOLARIZE,
  FILTER_SWIRL,
  FILTER_TINT,
  FILTER_WATERRIPPLE,
  FILTER_XFLIP,
  FILTER_YFLIP,
};

// Parameter kinds of a filter: an integer, a level 0..255 (also "n%" of 255), a float.
enum : uint8_t { FPARAM_INT = 1, FPARAM_LEVEL = 2, FPARAM_FLOAT = 3 };

struct qmFilterInfo {
  const char *name;
  int32_t paramCount;
  uint8_t kinds[5];
  double defaults[5];
};
// Indexed by slot; kept in the order of the FILTER_* list above.
extern const qmFilterInfo kFilterInfo[kFilterSlotCount];

// 1 when any slot is enabled.
int32_t HasFilters(const qmFilterSlot *filters);
// 1 when a filter that moves pixels (pixelate, swirl, waterripple, xflip, yflip) is enabled.
int32_t HasShapeFilters(const qmFilterSlot *filters);
// The filter's parameters set to their defaults: integers and levels into the integer
// parameters in order, floats into the float parameters.
void SetFilterDefaults(qmFilterSlot *slot, int32_t index);
// Runs the enabled filters in place over the top-left width x height: higher priority first,
// equal priorities in slot order, each once. The kernels' results are not checked.
void ApplyFilters(const qmFilterSlot *filters, qmBitmap *bitmap, qmMask *mask, qmAlphaChannel *alpha, int32_t width,
                  int32_t height);

// Filters and transparency of the tags applied in place to a picture that the caller owns.
void ApplyDisplayTagEffects(const qmDisplayTags *tags, qmBitmap *bitmap, qmMask **mask, qmAlphaChannel **alpha,
                            int32_t width, int32_t height);

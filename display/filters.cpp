#include "display/filters.h"

#include <cstring>
#include <initializer_list>

#include "graphics/alphaops.h"
#include "graphics/bitmap_effects.h"
#include "graphics/bitmapops.h"

namespace {
constexpr uint8_t I = FPARAM_INT, V = FPARAM_LEVEL, F = FPARAM_FLOAT;
}  // namespace

const qmFilterInfo kFilterInfo[kFilterSlotCount] = {
    {"blur", 1, {F}, {5}},
    {"charcoal", 1, {F}, {2}},
    {"contrast", 2, {I, I}, {1, 1}},
    {"edge", 1, {F}, {5}},
    {"emboss", 1, {F}, {5}},
    {"gamma", 3, {F, F, F}, {1, 1, 1}},
    {"grayscale", 0, {}, {}},
    {"invert", 0, {}, {}},
    {"modulate", 3, {F, F, F}, {100, 100, 100}},
    {"monochrome", 1, {I}, {1}},
    {"oilpaint", 1, {F}, {2}},
    {"pixelate", 1, {I}, {10}},
    {"sepiatone", 1, {V}, {204}},
    {"sharpen", 1, {F}, {5}},
    {"solarize", 1, {V}, {128}},
    {"swirl", 1, {I}, {180}},
    {"tint", 2, {I, V}, {0xFFFFFF, 128}},
    {"waterripple", 5, {I, I, I, F, F}, {32, 1, 0, 0.5, 0.5}},
    {"xflip", 0, {}, {}},
    {"yflip", 0, {}, {}},
};

int32_t HasFilters(const qmFilterSlot *filters) {
  for (int32_t i = 0; i < kFilterSlotCount; i++)
    if (filters[i].enabled) return 1;
  return 0;
}

int32_t HasShapeFilters(const qmFilterSlot *filters) {
  for (int32_t slot : {FILTER_PIXELATE, FILTER_SWIRL, FILTER_WATERRIPPLE, FILTER_XFLIP, FILTER_YFLIP})
    if (filters[slot].enabled) return 1;
  return 0;
}

void SetFilterDefaults(qmFilterSlot *slot, int32_t index) {
  const qmFilterInfo &info = kFilterInfo[index];
  std::memset(slot->params, 0, sizeof slot->params);
  std::memset(slot->floatParams, 0, sizeof slot->floatParams);
  int32_t ni = 0, nf = 0;
  for (int32_t k = 0; k < info.paramCount; k++) {
    if (info.kinds[k] == FPARAM_FLOAT) slot->floatParams[nf++] = float(info.defaults[k]);
    else slot->params[ni++] = int32_t(info.defaults[k]);
  }
}

namespace {

void RunFilter(int32_t slot, const qmFilterSlot &f, qmBitmap *b, qmMask *m, qmAlphaChannel *a, int32_t w, int32_t h) {
  const int32_t *i = f.params;
  const float *x = f.floatParams;
  switch (slot) {
  case FILTER_BLUR: ConvolveBitmap(98, b, a, w, h, x[0], x[0] / 3.0, nullptr); break;
  case FILTER_CHARCOAL: CharcoalBitmap(b, a, w, h, x[0], 1.0); break;
  case FILTER_CONTRAST: ContrastBitmap(b, w, h, i[0], i[1], nullptr); break;
  case FILTER_EDGE: ConvolveBitmap(103, b, nullptr, w, h, x[0], 0.0, nullptr); break;
  case FILTER_EMBOSS: ConvolveBitmap(101, b, nullptr, w, h, x[0], 1.0, nullptr); break;
  case FILTER_GAMMA: GammaBitmap(b, w, h, x[0], x[1], x[2]); break;
  case FILTER_GRAYSCALE: BitmapToGray(b, w, h, 0, nullptr); break;
  case FILTER_INVERT: InvertBitmap(b, w, h, nullptr); break;
  // Brightness and saturation are percentages here, factors for the kernel.
  case FILTER_MODULATE: ModulateBitmap(b, w, h, x[0] / 100.0, x[1] / 100.0, x[2]); break;
  case FILTER_MONOCHROME: MonochromeBitmap(b, w, h, i[0]); break;
  case FILTER_OILPAINT: OilPaintBitmap(b, w, h, x[0]); break;
  case FILTER_PIXELATE: PixelateBitmap(b, m, a, w, h, i[0]); break;
  case FILTER_SEPIATONE: SepiaToneBitmap(b, w, h, i[0]); break;
  case FILTER_SHARPEN: ConvolveBitmap(115, b, nullptr, w, h, x[0], 1.0, nullptr); break;
  case FILTER_SOLARIZE: SolarizeBitmap(b, w, h, i[0]); break;
  case FILTER_SWIRL: SwirlBitmap(b, m, a, w, h, i[0]); break;
  case FILTER_TINT: TintBitmap(b, 0, 0, w, h, uint32_t(i[0]) & 0xFFFFFF, i[1]); break;
  case FILTER_WATERRIPPLE: WaterRippleBitmap(b, m, a, w, h, i[0], i[1], i[2], x[0], x[1]); break;
  case FILTER_XFLIP: FlipBitmap(b, m, a, w, h, 1); break;
  case FILTER_YFLIP: FlipBitmap(b, m, a, w, h, 0); break;
  default: break;
  }
}

}  // namespace

void ApplyFilters(const qmFilterSlot *filters, qmBitmap *bitmap, qmMask *mask, qmAlphaChannel *alpha, int32_t width,
                  int32_t height) {
  if (!bitmap || !HasFilters(filters)) return;
  bool done[kFilterSlotCount] = {};
  for (int32_t level = 255; level >= 0; level--)
    for (int32_t slot = 0; slot < kFilterSlotCount; slot++) {
      const qmFilterSlot &f = filters[slot];
      if (!f.enabled || done[slot] || f.priority < level) continue;
      done[slot] = true;
      RunFilter(slot, f, bitmap, mask, alpha, width, height);
    }
}

void ApplyDisplayTagEffects(const qmDisplayTags *tags, qmBitmap *bitmap, qmMask **mask, qmAlphaChannel **alpha,
                            int32_t width, int32_t height) {
  if (!tags) return;
  ApplyFilters(tags->filters, bitmap, *mask, *alpha, width, height);
  const int32_t t = tags->transparency;
  if (!t) return;
  const uint8_t strength = uint8_t(255 - t);
  if (*alpha) {
    ScaleAlphaChannel(*alpha, *alpha, height, strength);
    return;
  }
  qmAlphaChannel *a = AllocAlphaChannel(width, height, 1);
  if (!a) return;  // drawn without the transparency
  if (*mask) {
    MaskToAlphaRect(*mask, 0, 0, a, 0, 0, width, height, strength);
    FreeMask(*mask);
    *mask = nullptr;
  } else {
    FillAlphaRect(a, 0, 0, width, height, strength);
  }
  *alpha = a;
}

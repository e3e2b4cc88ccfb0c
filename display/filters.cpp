#include "display/filters.h"

#include <cstring>
#include <string>

#include "graphics/bitmap_effects.h"
#include "graphics/bitmapops.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/auxlib.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"

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

namespace {

// The filter's parameters from the "args" list on the stack top; unlisted ones keep the defaults.
uint32_t ReadFilterArgs(VmState *L, int32_t index, qmFilterSlot *slot) {
  const qmFilterInfo &info = kFilterInfo[index];
  int32_t ni = 0, nf = 0;
  for (int32_t k = 0; k < info.paramCount; k++) {
    vm_rawgeti(L, -1, k);
    const int type = vm_type(L, -1);
    if (type == VM_TNIL) {
      vm_pop(L, 1);
      break;
    }
    double v = 0;
    int isPercent = 0;
    if (type == VM_TNUMBER) {
      v = vm_tonumber(L, -1);
    } else if (type == VM_TSTRING && info.kinds[k] == FPARAM_LEVEL &&
               ParsePercentText(vm_tostring(L, -1), &v, &isPercent) && isPercent) {
      v = 255 * v / 100;
    } else {
      vm_pop(L, 1);
      SetErrorArgument("args");
      return ERR_NUMTABLEARG;
    }
    vm_pop(L, 1);
    if (info.kinds[k] == FPARAM_FLOAT) slot->floatParams[nf++] = float(v);
    else if (info.kinds[k] == FPARAM_LEVEL) slot->params[ni++] = v < 0 ? 0 : v > 255 ? 255 : int32_t(v);
    else slot->params[ni++] = NumberToInt(v);
  }
  return 0;
}

// One entry {name, disable, priority, args}, on the stack top, at list index i.
uint32_t ReadFilterEntry(VmState *L, int32_t i, qmFilterSlot *filters) {
  const int entry = vm_gettop(L);
  if (vm_type(L, entry) != VM_TTABLE) {
    SetErrorArgument("filters");
    return ERR_TABEXPECTED2;
  }
  vm_pushstring(L, "name");
  vm_gettable(L, entry);
  const int nameType = vm_type(L, -1);
  if (nameType == VM_TNIL) {
    vm_pop(L, 1);
    SetErrorArgument(std::to_string(i).c_str());
    return ERR_NOFILTERNAME;
  }
  if (nameType != VM_TSTRING) {
    vm_pop(L, 1);
    SetErrorArgument("name");
    return ERR_STRTABLEARG;
  }
  int32_t index = -1;
  const char *name = vm_tostring(L, -1);
  for (int32_t k = 0; k < kFilterSlotCount; k++)
    if (Stricmp(name, kFilterInfo[k].name) == 0) index = k;
  if (index < 0) {
    SetErrorArgument(name);
    vm_pop(L, 1);
    return ERR_UNKNOWNFILTER;
  }
  vm_pop(L, 1);
  qmFilterSlot &slot = filters[index];
  double disable = 0;
  if (GetFieldNumber(L, entry, "disable", &disable, nullptr) && disable != 0) {
    slot.enabled = 0;  // priority and parameters stay for a later enable
    return 0;
  }
  slot.enabled = 1;
  double priority = 0;
  GetFieldNumber(L, entry, "priority", &priority, nullptr);
  slot.priority = uint8_t(priority < 0 ? 0 : priority > 255 ? 255 : int32_t(priority));
  SetFilterDefaults(&slot, index);
  vm_pushstring(L, "args");
  vm_gettable(L, entry);
  uint32_t code = 0;
  if (vm_type(L, -1) == VM_TTABLE) code = ReadFilterArgs(L, index, &slot);
  else if (vm_type(L, -1) != VM_TNIL && kFilterInfo[index].paramCount) code = ERR_TABEXPECTED;
  vm_pop(L, 1);
  return code;
}

}  // namespace

uint32_t ReadFilterTable(VmState *L, int32_t table, qmFilterSlot *filters, int32_t *given) {
  table = vm_absindex(L, table);
  vm_pushstring(L, "filters");
  vm_gettable(L, table);
  const int list = vm_gettop(L);
  if (vm_type(L, list) == VM_TNIL) {
    vm_pop(L, 1);
    return 0;
  }
  if (vm_type(L, list) != VM_TTABLE) {
    vm_pop(L, 1);
    SetErrorArgument("filters");
    return ERR_TABEXPECTED2;
  }
  uint32_t code = 0;
  for (int32_t i = 0; !code; i++) {
    vm_rawgeti(L, list, i);
    if (vm_type(L, -1) == VM_TNIL) {
      vm_pop(L, 1);
      break;
    }
    code = ReadFilterEntry(L, i, filters);
    vm_settop(L, list);
  }
  vm_settop(L, list - 1);
  if (!code && given) *given = 1;
  return code;
}

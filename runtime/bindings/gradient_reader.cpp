#include "runtime/bindings/gradient_reader.h"

#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/vm/vm_api.h"

uint32_t ReadGradientSpec(VmState *L, int t, const qmGradientKeys &keys, qmGradientSpec *g) {
  if (g->kind == GRADIENT_RADIAL || g->kind == GRADIENT_CONICAL) {
    double *fields[] = {&g->centerX, &g->centerY, &g->balance, &g->border};
    const char *names[] = {keys.centerX, keys.centerY, keys.balance, keys.border};
    for (int i = 0; i < 4; i++) {
      double v;
      if (!GetFieldNumber(L, t, names[i], &v, nullptr)) continue;
      if (!(v >= 0 && v <= 1)) return ERR_WRONGUSAGE;
      *fields[i] = v;
    }
  }
  vm_pushstring(L, keys.colors);
  vm_gettable(L, t);
  if (vm_type(L, -1) != VM_TTABLE) {
    vm_pop(L, 1);
    return 0;
  }
  const int list = vm_gettop(L);
  uint32_t pairs = 0, code = 0;
  for (int i = 0;; i += 2) {
    vm_rawgeti(L, list, i);
    if (vm_isnoneornil(L, -1)) {
      vm_pop(L, 1);
      break;
    }
    if (i >= 2 * kGradientStopMax) {
      code = ERR_INTERNAL;
      vm_pop(L, 1);
      break;
    }
    const uint32_t color = FieldToUInt32(L, keys.colors, vm_checknumber_field(L, -1, keys.colors));
    vm_rawgeti(L, list, i + 1);
    if (vm_isnoneornil(L, -1)) {
      code = ERR_MISSINGPARAMTR;
      vm_pop(L, 2);
      break;
    }
    const double position = vm_checknumber_field(L, -1, keys.colors);
    vm_pop(L, 2);
    if (!(position >= 0 && position <= 1)) {
      code = ERR_WRONGUSAGE;
      break;
    }
    g->colors[pairs++] = {color, position};
  }
  vm_pop(L, 1);
  if (code) return code;
  if (pairs == 1) return ERR_WRONGUSAGE;
  g->colorCount = pairs;
  return 0;
}

uint32_t ReadGradientArgs(VmState *L, int first, qmGradientSpec *g) {
  const uint32_t type = g->kind;
  InitGradientSpec(g);
  if (type == 0 || type == 1) {
    g->kind = GRADIENT_LINEAR;
    g->angle = type == 0 ? 0 : 90;
  } else {
    g->kind = type;
    if (type == 2 || type == 4) g->angle = vm_optint32(L, first, 0);
  }
  if (vm_gettop(L) <= first) return 0;
  if (vm_type(L, first + 1) != VM_TTABLE) return ERR_TABEXPECTED;
  return ReadGradientSpec(L, first + 1, kGradientTableKeys, g);
}

uint32_t ReadGradientOptions(VmState *L, int t, qmGradientSpec *g) {
  int32_t style = int32_t(g->kind), angle = g->angle;
  GetFieldInt(L, t, "gradientstyle", &style, nullptr);
  GetFieldUInt(L, t, "gradientstartcolor", &g->startColor, nullptr);
  GetFieldUInt(L, t, "gradientendcolor", &g->endColor, nullptr);
  GetFieldInt(L, t, "gradientangle", &angle, nullptr);
  if (style < GRADIENT_LINEAR || style > GRADIENT_CONICAL) return ERR_WRONGUSAGE;
  g->kind = uint32_t(style);
  g->angle = angle;
  return ReadGradientSpec(L, t, kGradientOptionKeys, g);
}

// SetLayerShadow and SetLayerBorder: a layer's drop shadow and outline switched on, changed or
// off, with the area they cover before and after refreshed together.
#include "layers/layers/border_commands.h"

#include <cmath>

#include "display/display.h"
#include "display/scene.h"
#include "graphics/bitmap.h"
#include "layers/layer.h"
#include "layers/layerops.h"
#include "layers/layers/layerargs.h"
#include "layers/redraw.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/vm/vm_api.h"

namespace {

// The caches built from the shadow and the border, thrown away in every distinct state.
void FreeDecorations(qmLayer *layer, bool border) {
  ForEachLayerState(layer, [border](qmLayerState *s) {
    FreeAlphaChannel(s->shadowAlpha);
    s->shadowAlpha = nullptr;
    if (border) FreePlaneSet(&s->border);
  });
}

// The layer's shadow or border (block; border says which) set to value or switched off, the
// caches built from it dropped (a shadow falls from the border, so it goes with either), and the
// area it covered before and covers now refreshed together.
template <typename Block>
void SwitchDecoration(VmState *L, qmLayer *layer, Block *block, const Block &value, bool on, bool border) {
  qmScene *scene = GetScene(L);
  scene->picture->layersChanged = 1;
  int32_t r[4];
  GetLayerBounds(scene->current, layer, layer->current, &r[0], &r[1], &r[2], &r[3]);
  FreeDecorations(layer, border);
  if (on) {
    *block = value;
    int32_t x, y, w, h;
    GetLayerBounds(scene->current, layer, layer->current, &x, &y, &w, &h);
    UnionRect(&r[0], &r[1], &r[2], &r[3], x, y, w, h);
  } else {
    block->on = 0;
  }
  RefreshRect(scene, r[0], r[1], r[2], r[3]);
}

}  // namespace

uint32_t LaySetLayerBorder(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 2, 4);
  int32_t position = 0;
  if (uint32_t code = GetLayerArg(L, 1, &position)) return code;
  const double on = vm_checknumber(L, 2);
  const uint32_t color = vm_optinteger(L, 3, 0);
  const double size = std::trunc(vm_optnumber(L, 4, 2));
  if (!(size >= 1)) return ERR_WRONGUSAGE;
  qmLayer *layer = nullptr;
  if (uint32_t code = FindGuardedLayer(scene, position, &layer)) return code;
  if (on == 0 && !layer->border.on) return 0;
  SwitchDecoration(L, layer, &layer->border, {1, color, NumberToInt(size)}, on != 0, true);
  return 0;
}

uint32_t LaySetLayerShadow(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 2, 7);
  int32_t position = 0;
  if (uint32_t code = GetLayerArg(L, 1, &position)) return code;
  const double on = vm_checknumber(L, 2);
  const uint32_t color = vm_optinteger(L, 3, 0x80000000u);
  const double radius = vm_optnumber(L, 4, 5.0);
  const double size = std::trunc(vm_optnumber(L, 5, 4));
  const double direction = std::trunc(vm_optnumber(L, 6, 3));
  const double sigma = vm_optnumber(L, 7, radius / 3);
  if (!(size >= 0) || !(radius >= 1.0) || !(sigma > 0)) return ERR_WRONGUSAGE;
  qmLayer *layer = nullptr;
  if (uint32_t code = FindGuardedLayer(scene, position, &layer)) return code;
  if (on == 0 && !layer->shadow.on) return 0;
  SwitchDecoration(L, layer, &layer->shadow, {1, color, NumberToInt(size), NumberToInt(direction), radius, sigma},
                   on != 0, false);
  return 0;
}

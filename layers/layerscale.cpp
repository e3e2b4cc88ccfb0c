#include "layers/layerscale.h"

#include "display/bgpic.h"
#include "display/display.h"
#include "display/scene.h"
#include "graphics/bitmap.h"
#include "graphics/transform.h"
#include "layers/layer.h"
#include "layers/layerimage.h"
#include "platform/memory.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"

bool DisplayScalesLayers(const qmDisplay *d) { return d && d->scaleLayer && d->scaleWidth && d->scaleHeight; }

bool DisplayScalesPictureLayers(const qmDisplay *d, const qmBGPic *pic) {
  return DisplayScalesLayers(d) && d->bgpic == pic && (d->scaleX != 1.0 || d->scaleY != 1.0);
}

uint32_t RerenderBGPicLayers(qmScene *scene, qmDisplay *display, qmBGPic *pic) {
  qmDisplay *const oldDisplay = scene->current;
  qmBGPic *const oldPic = scene->picture;
  scene->current = display, scene->picture = pic;
  uint32_t code = 0;
  for (qmLayer *l = FirstLayer(pic); l && !code; l = LayerAbove(l))
    if (l->type != QMTYPE_NOOBJECT) code = RenderLayerImageScaled(scene, l);
  scene->current = oldDisplay, scene->picture = oldPic;
  return code;
}

namespace {

// Planes of the state's size that show nothing: every pixel, mask bit and alpha value 0.
void GiveClearedPlanes(qmLayerState *s, bool withMask) {
  qmPlaneSet p;
  if (s->width >= 1 && s->height >= 1 && AllocClearedPlanes(s->width, s->height, withMask, !withMask, &p))
    s->transformed = p;
}

}  // namespace

void ResetBGPicLayerScale(qmScene *scene, qmBGPic *pic) {
  qmBGPic *const oldPic = scene->picture;
  scene->picture = pic;
  for (qmLayer *l = FirstLayer(pic); l; l = LayerAbove(l)) {
    if (l->type == QMTYPE_NOOBJECT) continue;
    qmLayerState *current = l->current, *unscaled = l->unscaled;
    if (current == unscaled || current == l->base) continue;
    const bool hadAlpha = !current->transformed.mask && current->transformed.alpha;
    FreeLayerState(scene->objects, current);
    l->current = unscaled;
    // The unscaled state of a transformed layer keeps its own rendering; one that holds none is
    // rendered again, and failing that shows nothing instead of whatever memory it would get.
    if (unscaled == l->base || unscaled->transformed.bitmap) continue;
    if (RenderLayerImage(scene, l, 0)) GiveClearedPlanes(l->unscaled, !hadAlpha);
  }
  scene->picture = oldPic;
}

#include "display/displayops.h"

#include <algorithm>

#include "display/display.h"
#include "display/scene.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "platform/memory.h"
#include "platform/mutex.h"
#include "runtime/errcodes.h"

namespace {

void FreeUpdates(qmDisplayUpdate *node) {
  while (node) {
    qmDisplayUpdate *next = node->next;
    FreeBitmap(node->bitmap);
    MemFree(node);
    node = next;
  }
}

const qmDisplayOps *OpsOf(const qmScene *scene) { return scene ? scene->displayOps : nullptr; }
const qmLayerHooks *LayerHooksOf(const qmScene *scene) { return scene ? scene->layerHooks : nullptr; }
const qmButtonHooks *ButtonHooksOf(const qmScene *scene) { return scene ? scene->buttonHooks : nullptr; }

}  // namespace

uint32_t ResizeDisplay(qmScene *scene, qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height,
                       uint32_t flags, uint32_t scaleMode) {
  const qmDisplayOps *ops = OpsOf(scene);
  if (ops && ops->resize) return ops->resize(scene, display, x, y, width, height, flags, scaleMode);
  if (x != kKeepPosition) display->x = x;
  if (y != kKeepPosition) display->y = y;
  display->width = width;
  display->height = height;
  display->textMarginRight = width - 1;
  return 0;
}

uint32_t ApplyScreenMode(qmScene *scene, uint32_t mode, int32_t width, int32_t height) {
  const qmDisplayOps *ops = OpsOf(scene);
  if (ops && ops->applyScreenMode) return ops->applyScreenMode(scene, mode, width, height);
  if (scene) scene->fullScreen = mode ? 1 : 0;
  return 0;
}

void RedrawDisplayRect(qmScene *scene, qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height) {
  const qmDisplayOps *ops = OpsOf(scene);
  if (ops && ops->redrawRect) {
    ops->redrawRect(scene, display, x, y, width, height);
    return;
  }
  if (display->backgroundCopy && display->layerBuffer)
    BltBitmap(display->backgroundCopy, x, y, display->layerBuffer, x, y, width, height);
}

void ComposeDisplayPicture(qmScene *scene, qmDisplay *display, qmBitmap *dst) {
  const qmDisplayOps *ops = OpsOf(scene);
  if (ops && ops->composePicture) {
    ops->composePicture(scene, display, dst);
    return;
  }
  const qmBitmap *background = display->backgroundCopy;
  if (background)
    BltBitmap(background, 0, 0, dst, 0, 0, std::min(background->width, dst->width),
              std::min(background->height, dst->height));
}

bool DisplayRectCovered(const qmScene *scene, qmDisplay *display, int32_t x, int32_t y, int32_t width,
                        int32_t height) {
  const qmDisplayOps *ops = OpsOf(scene);
  return ops && ops->coveredRect && ops->coveredRect(display, x, y, width, height) != 0;
}

void RefreshDisplay(qmScene *scene, qmDisplay *display, uint32_t mode) {
  const qmDisplayOps *ops = OpsOf(scene);
  if (ops && ops->refresh) ops->refresh(scene, display, mode);
}

void ResetDisplayButtonStates(const qmScene *scene, qmDisplay *display) {
  const qmDisplayOps *ops = OpsOf(scene);
  const qmButtonHooks *buttons = ButtonHooksOf(scene);
  if (ops && ops->resetButtonStates) ops->resetButtonStates(display);
  else if (buttons && display && display->bgpic) buttons->resetStates(display->bgpic);
}

void RemovePictureLayerButton(qmScene *scene, qmBGPic *pic, const void *layer) {
  const qmButtonHooks *buttons = ButtonHooksOf(scene);
  if (buttons && buttons->removeLayer && pic) buttons->removeLayer(scene, pic, layer);
}

void FreePictureButtons(qmScene *scene, qmBGPic *pic) {
  const qmButtonHooks *buttons = ButtonHooksOf(scene);
  if (buttons && pic) buttons->freeAll(scene, pic);
}

void FreePictureLayers(qmScene *scene, qmBGPic *pic) {
  const qmLayerHooks *layers = LayerHooksOf(scene);
  if (layers && pic) layers->freeAll(scene, pic);
}

void ShowDeferredLayers(const qmScene *scene, qmBGPic *pic) {
  const qmLayerHooks *layers = LayerHooksOf(scene);
  if (layers && pic) layers->showDeferred(pic);
}

int32_t RebindLayerObjectId(qmScene *scene, int32_t type, const qmObjectId *from, const qmObjectId *to) {
  const qmLayerHooks *layers = LayerHooksOf(scene);
  return layers && layers->rebindObject ? layers->rebindObject(scene, type, from, to) : 0;
}

uint32_t SetPictureLayerFrame(qmScene *scene, void *layer, int32_t frame) {
  const qmLayerHooks *layers = LayerHooksOf(scene);
  return layers && layers->setAnimFrame && layer ? layers->setAnimFrame(scene, layer, frame) : uint32_t(ERR_NOLAYERS);
}

void *PictureLayerAt(const qmScene *scene, const qmBGPic *pic, int32_t position) {
  const qmLayerHooks *layers = LayerHooksOf(scene);
  return layers && layers->layerAt && pic ? layers->layerAt(pic, position) : nullptr;
}

int32_t DescribePictureLayer(const qmScene *scene, const qmBGPic *pic, const void *layer, const char **name,
                             int32_t *hidden) {
  *name = "";
  *hidden = 0;
  const qmLayerHooks *layers = LayerHooksOf(scene);
  if (!layers || !layers->describeLayer) return -1;
  return layers->describeLayer(pic, layer, name, hidden);
}

int32_t HitPictureLayer(const qmScene *scene, const void *layer, int32_t x, int32_t y, int32_t pixelExact) {
  const qmLayerHooks *layers = LayerHooksOf(scene);
  return layers && layers->hitLayer ? layers->hitLayer(layer, x, y, pixelExact) : 0;
}

uint32_t SelectPictureLayer(qmScene *scene, int32_t position, int32_t frame, qmPlaneSet *planes, int32_t *width,
                            int32_t *height, void **layer) {
  const qmLayerHooks *layers = LayerHooksOf(scene);
  if (!layers || !layers->selectLayer) return ERR_LAYERRANGE;
  return layers->selectLayer(scene, position, frame, planes, width, height, layer);
}

void EndSelectPictureLayer(qmScene *scene, void *layer) {
  const qmLayerHooks *layers = LayerHooksOf(scene);
  if (layers && layers->endSelectLayer) layers->endSelectLayer(scene, layer);
}

uint32_t RerenderPictureLayers(qmScene *scene, qmDisplay *display, qmBGPic *pic) {
  const qmLayerHooks *layers = LayerHooksOf(scene);
  if (!layers || !layers->rerender || !pic) return 0;
  return layers->rerender(scene, display, pic);
}

void ResetPictureLayerScale(qmScene *scene, qmBGPic *pic) {
  const qmLayerHooks *layers = LayerHooksOf(scene);
  if (layers && layers->resetScale && pic) layers->resetScale(scene, pic);
}

bool PictureLayerBounds(const qmScene *scene, const void *layer, int32_t *x, int32_t *y, int32_t *width,
                        int32_t *height) {
  const qmLayerHooks *layers = LayerHooksOf(scene);
  if (!layers || !layers->layerBounds || !layer) return false;
  layers->layerBounds(layer, x, y, width, height);
  return true;
}

void QueueDisplayUpdate(qmDisplay *display, qmDisplayUpdate *update) {
  update->next = nullptr;
  MutexLock(display->updateLock);
  qmDisplayUpdate **tail = &display->pendingUpdates;
  while (*tail) tail = &(*tail)->next;
  *tail = update;
  __atomic_store_n(&display->updatesQueued, uint8_t(1), __ATOMIC_RELEASE);
  MutexUnlock(display->updateLock);
}

void FlushDisplayUpdatesOf(const qmScene *scene, qmDisplay *display) {
  const qmUpdatePresenter present = scene ? scene->presentUpdate : nullptr;
  MutexLock(display->updateLock);
  qmDisplayUpdate *list = display->pendingUpdates;
  display->pendingUpdates = nullptr;
  for (qmDisplayUpdate *n = list; n && present; n = n->next) present(n->bitmap, display, n->x, n->y, n->width, n->height);
  FreeUpdates(list);
  MutexUnlock(display->updateLock);
}

void FlushDisplayUpdates(const qmScene *scene) {
  if (!scene) return;
  for (qmDisplay *d = scene->displays; d; d = d->next)
    if (__atomic_exchange_n(&d->updatesQueued, uint8_t(0), __ATOMIC_ACQ_REL)) FlushDisplayUpdatesOf(scene, d);
}

void DiscardDisplayUpdates(qmDisplay *display) {
  MutexLock(display->updateLock);
  FreeUpdates(display->pendingUpdates);
  display->pendingUpdates = nullptr;
  MutexUnlock(display->updateLock);
}

void DiscardDisplayUpdatesOf(qmDisplay *display, const void *owner) {
  MutexLock(display->updateLock);
  for (qmDisplayUpdate **link = &display->pendingUpdates; *link;) {
    qmDisplayUpdate *n = *link;
    if (n->owner != owner) {
      link = &n->next;
      continue;
    }
    *link = n->next;
    n->next = nullptr;
    FreeUpdates(n);
  }
  MutexUnlock(display->updateLock);
}

bool DisplayUpdatesPending(const qmScene *scene) {
  for (const qmDisplay *d = scene ? scene->displays : nullptr; d; d = d->next)
    if (__atomic_load_n(&d->updatesQueued, __ATOMIC_ACQUIRE)) return true;
  return false;
}

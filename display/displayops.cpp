#include "display/displayops.h"

#include <algorithm>
#include <atomic>

#include "display/display.h"
#include "display/scene.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "platform/memory.h"
#include "platform/mutex.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/rtsupport.h"

namespace {
qmUpdatePresenter gPresenter = nullptr;
// Raised by producers and lowered by a flush, so that the per-line event check can skip the
// walk over every display's lock.
std::atomic<bool> gUpdatesQueued{false};

void FreeUpdates(qmDisplayUpdate *node) {
  while (node) {
    qmDisplayUpdate *next = node->next;
    FreeBitmap(node->bitmap);
    MemFree(node);
    node = next;
  }
}

// The scene of the VM's run, or null for a VM without one.
qmScene *SceneOf(VmState *vm) {
  qmPlayerContext *ctx = vm ? GetPlayerContext(vm) : nullptr;
  return ctx ? ctx->scene : nullptr;
}

const qmDisplayOps *OpsOf(const qmScene *scene) { return scene ? scene->displayOps : nullptr; }
const qmLayerHooks *LayerHooksOf(const qmScene *scene) { return scene ? scene->layerHooks : nullptr; }
const qmButtonHooks *ButtonHooksOf(const qmScene *scene) { return scene ? scene->buttonHooks : nullptr; }

}  // namespace

uint32_t ResizeDisplay(VmState *vm, qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height,
                       uint32_t flags, uint32_t scaleMode) {
  const qmDisplayOps *ops = OpsOf(SceneOf(vm));
  if (ops && ops->resize) return ops->resize(vm, display, x, y, width, height, flags, scaleMode);
  if (x != kKeepPosition) display->x = x;
  if (y != kKeepPosition) display->y = y;
  display->width = width;
  display->height = height;
  display->textMarginRight = width - 1;
  return 0;
}

uint32_t ApplyScreenMode(qmScene *scene, VmState *vm, uint32_t mode, int32_t width, int32_t height) {
  const qmDisplayOps *ops = OpsOf(scene);
  if (ops && ops->applyScreenMode) return ops->applyScreenMode(vm, mode, width, height);
  if (scene) scene->fullScreen = mode ? 1 : 0;
  return 0;
}

void RedrawDisplayRect(VmState *vm, qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height) {
  const qmDisplayOps *ops = OpsOf(SceneOf(vm));
  if (ops && ops->redrawRect) {
    ops->redrawRect(vm, display, x, y, width, height);
    return;
  }
  if (display->backgroundCopy && display->layerBuffer)
    BltBitmap(display->backgroundCopy, x, y, display->layerBuffer, x, y, width, height);
}

void ComposeDisplayPicture(VmState *vm, qmDisplay *display, qmBitmap *dst) {
  const qmDisplayOps *ops = OpsOf(SceneOf(vm));
  if (ops && ops->composePicture) {
    ops->composePicture(vm, display, dst);
    return;
  }
  const qmBitmap *background = display->backgroundCopy;
  if (background)
    BltBitmap(background, 0, 0, dst, 0, 0, std::min(background->width, dst->width),
              std::min(background->height, dst->height));
}

// Until the layer composer takes the scene, the blitter's scene reaches the run's operations
// through the run's main state (a null scene has none).
void RedrawDisplayRect(qmScene *scene, qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height) {
  RedrawDisplayRect(scene ? GetMainState() : nullptr, display, x, y, width, height);
}

bool DisplayRectCovered(const qmScene *scene, qmDisplay *display, int32_t x, int32_t y, int32_t width,
                        int32_t height) {
  const qmDisplayOps *ops = OpsOf(scene);
  return ops && ops->coveredRect && ops->coveredRect(display, x, y, width, height) != 0;
}

void RefreshDisplay(VmState *vm, qmDisplay *display, uint32_t mode) {
  const qmDisplayOps *ops = OpsOf(SceneOf(vm));
  if (ops && ops->refresh) ops->refresh(vm, display, mode);
}

void ResetDisplayButtonStates(const qmScene *scene, qmDisplay *display) {
  const qmDisplayOps *ops = OpsOf(scene);
  const qmButtonHooks *buttons = ButtonHooksOf(scene);
  if (ops && ops->resetButtonStates) ops->resetButtonStates(display);
  else if (buttons && display && display->bgpic) buttons->resetStates(display->bgpic);
}

void RemovePictureLayerButton(VmState *vm, qmBGPic *pic, const void *layer) {
  const qmButtonHooks *buttons = ButtonHooksOf(SceneOf(vm));
  if (buttons && buttons->removeLayer && pic) buttons->removeLayer(vm, pic, layer);
}

void FreePictureButtons(VmState *vm, qmBGPic *pic) {
  const qmButtonHooks *buttons = ButtonHooksOf(SceneOf(vm));
  if (buttons && pic) buttons->freeAll(vm, pic);
}

void FreePictureLayers(VmState *vm, qmBGPic *pic) {
  const qmLayerHooks *layers = LayerHooksOf(SceneOf(vm));
  if (layers && pic) layers->freeAll(vm, pic);
}

void ShowDeferredLayers(const qmScene *scene, qmBGPic *pic) {
  const qmLayerHooks *layers = LayerHooksOf(scene);
  if (layers && pic) layers->showDeferred(pic);
}

int32_t RebindLayerObjectId(VmState *vm, int32_t type, const qmObjectId *from, const qmObjectId *to) {
  const qmLayerHooks *layers = LayerHooksOf(SceneOf(vm));
  return layers && layers->rebindObject ? layers->rebindObject(vm, type, from, to) : 0;
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

uint32_t SelectPictureLayer(const qmScene *scene, int32_t position, qmPlaneSet *planes, int32_t *width,
                            int32_t *height, void **layer) {
  const qmLayerHooks *layers = LayerHooksOf(scene);
  if (!layers || !layers->selectLayer) return ERR_LAYERRANGE;
  return layers->selectLayer(scene, position, planes, width, height, layer);
}

void EndSelectPictureLayer(VmState *vm, void *layer) {
  const qmLayerHooks *layers = LayerHooksOf(SceneOf(vm));
  if (layers && layers->endSelectLayer) layers->endSelectLayer(vm, layer);
}

uint32_t RerenderPictureLayers(VmState *vm, qmDisplay *display, qmBGPic *pic) {
  const qmLayerHooks *layers = LayerHooksOf(SceneOf(vm));
  if (!layers || !layers->rerender || !pic) return 0;
  return layers->rerender(vm, display, pic);
}

void ResetPictureLayerScale(VmState *vm, qmBGPic *pic) {
  const qmLayerHooks *layers = LayerHooksOf(SceneOf(vm));
  if (layers && layers->resetScale && pic) layers->resetScale(vm, pic);
}

void SetUpdatePresenter(qmUpdatePresenter present) { gPresenter = present; }

void QueueDisplayUpdate(qmDisplay *display, qmDisplayUpdate *update) {
  update->next = nullptr;
  MutexLock(display->updateLock);
  qmDisplayUpdate **tail = &display->pendingUpdates;
  while (*tail) tail = &(*tail)->next;
  *tail = update;
  gUpdatesQueued.store(true, std::memory_order_release);
  MutexUnlock(display->updateLock);
}

void FlushDisplayUpdatesOf(qmDisplay *display) {
  MutexLock(display->updateLock);
  qmDisplayUpdate *list = display->pendingUpdates;
  display->pendingUpdates = nullptr;
  for (qmDisplayUpdate *n = list; n && gPresenter; n = n->next)
    gPresenter(n->bitmap, display, n->x, n->y, n->width, n->height);
  FreeUpdates(list);
  MutexUnlock(display->updateLock);
}

void FlushDisplayUpdates(const qmScene *scene) {
  if (!scene || !gUpdatesQueued.exchange(false, std::memory_order_acq_rel)) return;
  for (qmDisplay *d = scene->displays; d; d = d->next) FlushDisplayUpdatesOf(d);
}

void DiscardDisplayUpdates(qmDisplay *display) {
  MutexLock(display->updateLock);
  FreeUpdates(display->pendingUpdates);
  display->pendingUpdates = nullptr;
  MutexUnlock(display->updateLock);
}

bool DisplayUpdatesPending() { return gUpdatesQueued.load(std::memory_order_acquire); }

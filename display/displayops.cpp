#include "display/displayops.h"

#include <algorithm>
#include <atomic>

#include "display/display.h"
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
}  // namespace

namespace {
// The display library's operations of this run, or null.
const qmDisplayOps *OpsOf(VmState *vm) {
  qmPlayerContext *ctx = vm ? GetPlayerContext(vm) : nullptr;
  return ctx ? ctx->displayOps : nullptr;
}
}  // namespace

uint32_t ResizeDisplay(VmState *vm, qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height,
                       uint32_t flags, uint32_t scaleMode) {
  const qmDisplayOps *ops = OpsOf(vm);
  if (ops && ops->resize) return ops->resize(vm, display, x, y, width, height, flags, scaleMode);
  if (x != kKeepPosition) display->x = x;
  if (y != kKeepPosition) display->y = y;
  display->width = width;
  display->height = height;
  display->textMarginRight = width - 1;
  return 0;
}

uint32_t ApplyScreenMode(VmState *vm, uint32_t mode, int32_t width, int32_t height) {
  const qmDisplayOps *ops = OpsOf(vm);
  if (ops && ops->applyScreenMode) return ops->applyScreenMode(vm, mode, width, height);
  FullScreenActive = mode ? 1 : 0;
  return 0;
}

void RedrawDisplayRect(VmState *vm, qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height) {
  const qmDisplayOps *ops = OpsOf(vm);
  if (ops && ops->redrawRect) {
    ops->redrawRect(vm, display, x, y, width, height);
    return;
  }
  if (display->backgroundCopy && display->layerBuffer)
    BltBitmap(display->backgroundCopy, x, y, display->layerBuffer, x, y, width, height);
}

void ComposeDisplayPicture(VmState *vm, qmDisplay *display, qmBitmap *dst) {
  const qmDisplayOps *ops = OpsOf(vm);
  if (ops && ops->composePicture) {
    ops->composePicture(vm, display, dst);
    return;
  }
  const qmBitmap *background = display->backgroundCopy;
  if (background)
    BltBitmap(background, 0, 0, dst, 0, 0, std::min(background->width, dst->width),
              std::min(background->height, dst->height));
}

bool DisplayRectCovered(VmState *vm, qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height) {
  const qmDisplayOps *ops = OpsOf(vm);
  return ops && ops->coveredRect && ops->coveredRect(display, x, y, width, height) != 0;
}

// The blitter holds the scene alone: until the layer composer takes the scene, the scene's run is
// reached through the run's main state (a null scene has no operations).
void RedrawDisplayRect(qmScene *scene, qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height) {
  RedrawDisplayRect(scene ? GetMainState() : nullptr, display, x, y, width, height);
}

bool DisplayRectCovered(const qmScene *scene, qmDisplay *display, int32_t x, int32_t y, int32_t width,
                        int32_t height) {
  return DisplayRectCovered(scene ? GetMainState() : nullptr, display, x, y, width, height);
}

void RefreshDisplay(VmState *vm, qmDisplay *display, uint32_t mode) {
  const qmDisplayOps *ops = OpsOf(vm);
  if (ops && ops->refresh) ops->refresh(vm, display, mode);
}

namespace {
const qmButtonHooks *gButtonHooks = nullptr;
}  // namespace

void ResetDisplayButtonStates(VmState *vm, qmDisplay *display) {
  const qmDisplayOps *ops = OpsOf(vm);
  if (ops && ops->resetButtonStates) ops->resetButtonStates(display);
  else if (gButtonHooks && display && display->bgpic) gButtonHooks->resetStates(display->bgpic);
}

void SetButtonHooks(const qmButtonHooks *hooks) { gButtonHooks = hooks; }

void RemovePictureLayerButton(VmState *vm, qmBGPic *pic, const void *layer) {
  if (gButtonHooks && gButtonHooks->removeLayer && pic) gButtonHooks->removeLayer(vm, pic, layer);
}

namespace {
const qmLayerHooks *gLayerHooks = nullptr;
}  // namespace

void SetLayerHooks(const qmLayerHooks *hooks) { gLayerHooks = hooks; }

void FreePictureLayers(VmState *vm, qmBGPic *pic) {
  if (gLayerHooks && pic) gLayerHooks->freeAll(vm, pic);
}

void ShowDeferredLayers(qmBGPic *pic) {
  if (gLayerHooks && pic) gLayerHooks->showDeferred(pic);
}

int32_t RebindLayerObjectId(VmState *vm, int32_t type, const qmObjectId *from, const qmObjectId *to) {
  return gLayerHooks && gLayerHooks->rebindObject ? gLayerHooks->rebindObject(vm, type, from, to) : 0;
}

void *PictureLayerAt(const qmBGPic *pic, int32_t position) {
  return gLayerHooks && gLayerHooks->layerAt && pic ? gLayerHooks->layerAt(pic, position) : nullptr;
}

int32_t DescribePictureLayer(const qmBGPic *pic, const void *layer, const char **name, int32_t *hidden) {
  *name = "";
  *hidden = 0;
  if (!gLayerHooks || !gLayerHooks->describeLayer) return -1;
  return gLayerHooks->describeLayer(pic, layer, name, hidden);
}

int32_t HitPictureLayer(const void *layer, int32_t x, int32_t y, int32_t pixelExact) {
  return gLayerHooks && gLayerHooks->hitLayer ? gLayerHooks->hitLayer(layer, x, y, pixelExact) : 0;
}

uint32_t SelectPictureLayer(VmState *vm, int32_t position, qmPlaneSet *planes, int32_t *width, int32_t *height,
                            void **layer) {
  if (!gLayerHooks || !gLayerHooks->selectLayer) return ERR_LAYERRANGE;
  return gLayerHooks->selectLayer(vm, position, planes, width, height, layer);
}

void EndSelectPictureLayer(VmState *vm, void *layer) {
  if (gLayerHooks && gLayerHooks->endSelectLayer) gLayerHooks->endSelectLayer(vm, layer);
}

uint32_t RerenderPictureLayers(VmState *vm, qmDisplay *display, qmBGPic *pic) {
  if (!gLayerHooks || !gLayerHooks->rerender || !pic) return 0;
  return gLayerHooks->rerender(vm, display, pic);
}

void ResetPictureLayerScale(VmState *vm, qmBGPic *pic) {
  if (gLayerHooks && gLayerHooks->resetScale && pic) gLayerHooks->resetScale(vm, pic);
}

void FreePictureButtons(VmState *vm, qmBGPic *pic) {
  if (gButtonHooks && pic) gButtonHooks->freeAll(vm, pic);
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

void FlushDisplayUpdates() {
  if (!gUpdatesQueued.exchange(false, std::memory_order_acq_rel)) return;
  for (qmDisplay *d = DisplayList; d; d = d->next) FlushDisplayUpdatesOf(d);
}

void DiscardDisplayUpdates(qmDisplay *display) {
  MutexLock(display->updateLock);
  FreeUpdates(display->pendingUpdates);
  display->pendingUpdates = nullptr;
  MutexUnlock(display->updateLock);
}

bool DisplayUpdatesPending() { return gUpdatesQueued.load(std::memory_order_acquire); }

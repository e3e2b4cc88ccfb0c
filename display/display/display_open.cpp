// Creating, opening, closing, freeing and selecting displays.
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "display/asyncdraw.h"
#include "display/bgpic.h"
#include "display/bgpicload.h"
#include "display/dirtyrects.h"
#include "display/display/displaylib.h"
#include "display/scene.h"
#include "display/displayops.h"
#include "display/doublebuffer.h"
#include "display/outputselect.h"
#include "display/position.h"
#include "platform/desktop.h"
#include "platform/memory.h"
#include "platform/mutex.h"
#include "platform/pointer.h"
#include "platform/window.h"
#include "display/displaywindow.h"
#include "runtime/auxlib.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/eventqueue.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"
#include "runtime/vm/vm_api.h"
#include "runtime/rttags.h"


void TellVideosOfDisplay(VmState *L, qmDisplay *d, int32_t op) {
  if (const qmPlayerContext *ctx = GetPlayerContext(L); ctx && ctx->videosOfDisplay) ctx->videosOfDisplay(L, d, op);
}
namespace {

// The display's own background picture of its fill settings: 0 or an error. *black tells
// whether it came out all black, from cleared memory that nothing was written to.
uint32_t MakeOwnBGPic(VmState *L, qmDisplay *d, bool *black) {
  qmObjectId picId{0, 1};
  // Display 1 made by the declarations gets background picture 1, which replaces an older one.
  if (d->id == 1 && !d->handle && DeclarationsRunning()) {
    picId = {1, 0};
    // In desktop mode display 1's picture is the desktop's: a declared picture 1 cannot be it.
    qmBGPic *declared = nullptr;
    if (d->private2 && FindBGPic(ObjectRegistryOf(L), &picId, &declared, 0) == 0) return ERR_DISPLAYDESKTOP;
    if (uint32_t code = FreeBGPicCore(GetScene(L), &picId, 0)) return code;
  }
  qmFillStyle fill{};
  fill.fillStyle = d->fillStyle;
  fill.fillColor = d->fillColor;
  fill.gradient = d->gradient;
  fill.textureBrush = d->textureBrush;
  fill.textureX = d->textureX;
  fill.textureY = d->textureY;
  if (uint32_t code = AttachFillTexture(ObjectRegistryOf(L), &fill)) return code;
  *black = FillIsBlack(&fill);
  qmBitmap *b = *black ? AllocClearedBitmap(d->width, d->height) : AllocBitmap(d->width, d->height);
  uint32_t code = !b ? ERR_MEM : *black ? 0 : FillPictureFromStyle(b, d->width, d->height, &fill);
  qmBGPic *pic = nullptr;
  const uint32_t kind = fill.fillStyle == FILLGRADIENT ? 1 : 0;
  if (!code)
    code = NewBGPicRecord(ObjectRegistryOf(L), &picId, kind, d->width, d->height, {b, nullptr, nullptr},
                          kNoTransparency, &fill, &pic);
  if (code) {
    FreeBitmap(b);
    FreeBitmap(fill.textureBitmap);
    return code;
  }
  d->bgpic = pic;
  d->ownsBGPic = 1;
  return 0;
}

void FreeOwnBGPic(VmState *L, qmDisplay *d) {
  qmBGPic *pic = d->bgpic;
  d->bgpic = nullptr;
  if (!pic) return;
  if (!d->ownsBGPic) {
    if (pic->deleted) FreeMarkedBGPics(GetScene(L));
    return;
  }
  RemoveObject(L, &pic->header);
  FreeBGPicContents(GetScene(L), pic);
  MemFree(pic);
}

bool IsSpecial(int32_t v) { return v <= -15001 && v >= -104999; }

}  // namespace

uint32_t FindDisplay(const qmScene *scene, const qmObjectId *id, qmDisplay **out) {
  *out = FindDisplayOf(scene, id);
  return *out ? 0 : MissingObjectError(id, ERR_FINDDISPLAY);
}

qmDisplay *FindDisplayOf(const qmScene *scene, const qmObjectId *id) {
  for (qmDisplay *d = scene->displays; d; d = d->next)
    if (d->id == id->id && d->handle == id->handle) return d;
  return nullptr;
}

uint32_t CreateDisplayCore(VmState *L, const qmDisplay *parsed, qmObjectId id, qmDisplay **out) {
  qmDisplay *d = NewDisplayRecord(id.id);
  if (!d) return ERR_MEM;
  qmMutex *lock = d->updateLock;
  std::memcpy(static_cast<void *>(d), parsed, sizeof *d);
  d->updateLock = lock;
  d->next = nullptr;
  d->id = id.id;
  d->handle = id.handle ? reinterpret_cast<uintptr_t>(d) : 0;
  d->layersOn = (d->scaleLayer || (d->flags & DISPF_LAYERS)) ? 1 : 0;
  if (!d->scaleAuto && !d->scaleLayer) {
    d->marginLeft = d->marginTop = d->marginRight = d->marginBottom = 0;
    d->scaleWidth = d->scaleHeight = 0;
  }
  bool black = false;
  uint32_t code = d->bgpic ? 0 : MakeOwnBGPic(L, d, &black);
  if (!code) {
    if ((d->scaleAuto || d->scaleLayer) && d->scaleWidth && d->scaleHeight) {
      d->width = d->scaleWidth;
      d->height = d->scaleHeight;
    }
    d->cursorX = d->cursorY = d->textMarginLeft = 0;
    d->textMarginRight = d->bgpic->unscaledWidth - 1;
    code = black ? PrepareBlackDisplayBuffers(d, d->bgpic) : PrepareDisplayBuffers(d, d->bgpic, 1);
  }
  if (!code) code = CreatePlatformWindowRecord(d);
  if (!code && !DeclarationsRunning()) code = FitDisplayToScreen(L, d);
  if (code) {
    FreeDisplayData(L, d, 0);
    FreeDisplayRecord(d);
    return code;
  }
  LinkDisplay(GetScene(L), d);
  *out = d;
  return 0;
}

void ResolveDisplayPosition(VmState *L, qmDisplay *d) {
  int32_t area[4];
  if (d->private1) {
    area[0] = area[1] = 0;
    area[2] = GetPlatformAttr(nullptr, 14);
    area[3] = GetPlatformAttr(nullptr, 15);
  } else {
    GetPlatformAttr(area, 23);
  }
  // A value between the windows of the special positions comes back unchanged and stays.
  if (IsSpecial(d->x)) {
    int32_t x = ResolvePositionX(GetScene(L), d->x, d->width + d->frameWidth, area[2] > 0 ? area[2] : d->width, 0);
    if (x != d->x) d->x = x + area[0];
  }
  if (IsSpecial(d->y)) {
    int32_t y = ResolvePositionY(GetScene(L), d->y, d->height + d->frameHeight, area[3] > 0 ? area[3] : d->height, 0);
    if (y != d->y) d->y = y + area[1];
  }
}

uint32_t OpenDisplayWindow(VmState *L, qmDisplay *d, int32_t activate) {
  if (uint32_t code = InitDesktop()) return code;
  GetWindowFrameWidths(d);
  ResolveDisplayPosition(L, d);
  PrepareDisplayRegions(d);
  if (!IsDisplaySizeSupported()) {
    char size[32];
    std::snprintf(size, sizeof size, "%dx%d", d->width, d->height);
    SetErrorArgument(size);
    return ERR_DISPLAYSIZE;
  }
  qmBGPic *pic = d->bgpic;
  qmMask *shapeMask = d->scaledMask ? d->scaledMask : pic ? pic->shown.mask : nullptr;
  qmMask *shapeAlpha = d->scaledAlpha ? d->scaledAlpha : pic ? pic->shown.alpha : nullptr;
  const qmDesktopFit before = CaptureDesktopFit(d);
  if (uint32_t code = OpenPlatformWindow(d, activate, reinterpret_cast<qmBitmap *>(shapeMask), shapeAlpha,
                                           int32_t(GetScene(L)->fullScreen)))
    return code;
  GetWindowFrameWidths(d);
  int32_t desktopW, desktopH;
  if (GetDesktopFullScreenSize(d, &desktopW, &desktopH)) {
    if (uint32_t code = FitDisplayToDesktop(L, d, before, desktopW, desktopH)) {
      ClosePlatformWindow(d);
      RestoreDisplayFromDesktop(L, d);
      return code;
    }
  }
  d->state = DISPSTATE_OPEN;
  d->activateOnOpen = activate ? 1 : 0;
  if (d->handlers[DISPH_ONDROPFILE].function != kNoHandler)
    if (uint32_t code = SetDropTarget(d)) return code;
  RefreshDisplayCore(L, d, 0);
  TellVideosOfDisplay(L, d, DISPVIDEO_RESUME);
  return 0;
}

void CloseDisplayWindow(VmState *L, qmDisplay *d) {
  TellVideosOfDisplay(L, d, DISPVIDEO_PAUSE);
  ClosePlatformWindow(d);
  RestoreDisplayFromDesktop(L, d);
  ResetDisplayInput(GetScene(L), d);
  d->state = DISPSTATE_CLOSED;
  d->activateOnOpen = 0;
}

void FreeDisplayData(VmState *L, qmDisplay *d, int32_t atExit) {
  // Its asynchronous drawing and its videos end while everything they draw on still exists.
  EndDisplayAsyncDraws(GetScene(L), d);
  TellVideosOfDisplay(L, d, DISPVIDEO_STOP);
  if (d->state != DISPSTATE_CLOSED) CloseDisplayWindow(L, d);
  if (!atExit) FreeOwnBGPic(L, d);
  DropHeldBackBuffer(d, d->backBuffer1);
  for (qmBitmap **b : {&d->backgroundCopy, &d->layerBuffer, &d->backBuffer1, &d->backBuffer2}) {
    FreeBitmap(*b);
    *b = nullptr;
  }
  FreeMask(d->scaledMask);
  FreeAlphaChannel(d->scaledAlpha);
  d->scaledMask = d->scaledAlpha = nullptr;
  FreePlatformWindowRecord(d);
  for (qmHandlerSlot &s : d->handlers) {
    if (s.function != kNoHandler) vm_unref(L, VM_REGISTRYINDEX, s.function);
    if (s.userData != kNoHandler) vm_unref(L, VM_REGISTRYINDEX, s.userData);
    s = {kNoHandler, kNoHandler};
  }
  MemFree(d->selectBGPic);
  MemFree(d->doubleBufferBGPic);
  d->selectBGPic = d->doubleBufferBGPic = nullptr;
  FreeDirtyRects(d);
  DiscardDisplayUpdates(d);
  for (qmDisplayHook *h = d->satellites; h;) {
    qmDisplayHook *next = h->next;
    MemFree(h);
    h = next;
  }
  d->satellites = nullptr;
  FreeObjectDataList(L, static_cast<qmObjectData *>(d->userData));
  d->userData = nullptr;
}

uint32_t RemoveDisplay(VmState *L, qmDisplay *d) {
  qmScene *scene = GetScene(L);
  if (d == scene->current) return ERR_FREEADISPLAY;
  if (IsDisplayInAsyncDraw(scene, d)) return ERR_ADFFREEDISP;
  if (d->satellites) return ERR_SATFREEDISP;
  UnlinkDisplay(scene, d);
  FreeDisplayData(L, d, 0);
  DetachEventOwner(d);
  FreeDisplayRecord(d);
  return 0;
}

void FreeDisplays(VmState *L) {
  // Full screen ends in black; the desktop comes back in its own mode. A VM without the runtime
  // support has no displays.
  qmPlayerContext *ctx = GetPlayerContext(L);
  qmScene *scene = ctx ? ctx->scene : nullptr;
  if (!scene) return;
  const uint32_t fade = scene->fullScreen ? FadeDisplayOut() : 0;
  while (qmDisplay *d = scene->displays) {
    UnlinkDisplay(scene, d);
    FreeDisplayData(L, d, 1);
    DetachEventOwner(d);
    FreeDisplayRecord(d);
  }
  scene->current = nullptr;
  scene->picture = nullptr;
  if (scene->fullScreen) RestoreDisplayMode();
  scene->fullScreen = 0;
  FadeDisplayIn(fade);
  // A pointer the script chose or hid must not outlive its displays.
  RestorePlatformPointer();
}

void MakeDisplayCurrent(VmState *L, qmDisplay *d) {
  qmScene *scene = GetScene(L);
  qmDisplay *prev = scene->current;
  if (prev && prev != d && !prev->doubleBuffer && prev->outputType != DISPOUT_DISPLAY) EndSelectCore(GetScene(L), prev, 0);
  scene->current = d;
  scene->picture = d->doubleBuffer ? d->doubleBufferBGPic : d->bgpic;
}

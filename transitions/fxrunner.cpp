#include "transitions/fxrunner.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "display/asyncdraw.h"
#include "display/bgpic.h"
#include "display/brush.h"
#include "display/display.h"
#include "display/doublebuffer.h"
#include "display/filters.h"
#include "display/outputselect.h"
#include "display/pacing.h"
#include "display/position.h"
#include "display/safeblt.h"
#include "display/scene.h"
#include "display/displayops.h"
#include "graphics/bitmapops.h"
#include "graphics/blit.h"
#include "layers/layer.h"
#include "layers/layerimage.h"
#include "layers/layerops.h"
#include "layers/redraw.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/fxasync.h"
#include "transitions/fxowned.h"
#include "transitions/fxprims.h"
#include "transitions/fxtable.h"

namespace {

bool ScaledDisplay(const qmDisplay *d) { return d->scaleMode == 1 && d->scaleWidth && d->scaleHeight; }

bool Opaque(const qmBGPic *pic) {
  return !pic->shown.mask && !pic->shown.alpha && pic->transparentColor == kNoTransparency;
}

// A script that batches its layer changes by selecting the display's own background picture may
// drive an asynchronous transition meanwhile: the selection stays and the frames join the batch.
bool KeepsSelection(const qmFxRequest *fx, const qmDisplay *d) {
  return fx->async && d->layersOn && d->outputType == DISPOUT_BGPIC && fx->scene->picture == d->bgpic;
}

// The output check: 0 when the transition may draw, else the selection's error.
uint32_t CheckOutput(const qmFxRequest *fx, const qmDisplay *d, const void *target) {
  if (d->outputType == DISPOUT_DISPLAY) return 0;
  const qmBGPic *sel = d->selectBGPic;
  if (d->outputType == DISPOUT_BGPIC) {
    if (fx->objectType == FXTARGET_BGPIC && target == fx->scene->picture) return 0;
    return KeepsSelection(fx, d) ? 0u : uint32_t(ERR_SELECTBG);
  }
  if (sel && sel->selectedRecord == target && target) return 0;
  if (d->outputType == DISPOUT_MASK) return ERR_SELECTMASK;
  if (d->outputType == DISPOUT_ALPHA) return ERR_SELECTALPHACHANNEL;
  if (sel && sel->selectedType == QMTYPE_ANIM) return ERR_SELECTANIM;
  if (sel && sel->selectedType == QMTYPE_BGPIC) return ERR_SELECTBG;
  return ERR_SELECTBRUSH;
}

// The area as the display composes it with the layer shown (hidden 0) or not (1).
qmBitmap *ComposedArea(qmFxRequest *fx, qmDisplay *d, int32_t hidden) {
  qmBitmap *out = AllocClearedBitmap(fx->width, fx->height);
  if (!out || !d->layerBuffer) return out;
  const int32_t was = fx->layer->hidden;
  fx->layer->hidden = hidden;
  RedrawDisplayRect(fx->scene, d, fx->x, fx->y, fx->width, fx->height);
  fx->layer->hidden = was;
  BltBitmapClipped(d->layerBuffer, fx->x, fx->y, out, 0, 0, fx->width, fx->height);
  return out;
}

// A new bitmap of the area's size holding what the screen shows under it (black outside).
qmBitmap *ScreenUnderArea(qmFxRequest *fx, qmDisplay *d) {
  if (fx->layer) return ComposedArea(fx, d, fx->layerTarget ? 0 : 1);
  qmBitmap *out = AllocClearedBitmap(fx->width, fx->height);
  if (!out) return nullptr;
  const qmBitmap *screen = GetBGPicRefreshSource(fx->scene, d, d->bgpic);
  BltBitmapClipped(screen, fx->x, fx->y, out, 0, 0, fx->width, fx->height);
  return out;
}

bool Overlap(const qmLayerState *a, const qmLayerState *b) {
  return a->x < b->x + b->width && b->x < a->x + a->width && a->y < b->y + b->height && b->y < a->y + a->height;
}

// Whether the layer goes in or out through its own planes: when its looks (shadow, border, mask,
// transparency, clip region) or a layer above it would make a screen-only wipe show it wrong, or
// when asked, and always for asynchronous runs (a refresh between frames then shows the frame)
// and filtered layers (the filters apply to what the planes show). Scrolls move the layer itself
// and keep the screen path.
bool WantsRealtime(const qmFxRequest *fx, const qmDisplay *d, const qmLayer *l, const qmLayerImage &img) {
  if (IsScrollFx(fx->effect) || !img.bitmap) return false;
  if (fx->forceRealtime || fx->async || fx->bgpicEmu || HasFilters(l->filters)) return true;
  // Moving pictures taken away have no screen-only picture to move to.
  if (fx->layerTarget && IsMovingFx(fx->effect)) return true;
  const qmLayerState *s = l->current;
  if (l->transparency > 0 || l->shadow.on || l->border.on || img.mask || s->clip) return true;
  if (ScaledDisplay(d)) return true;
  for (const qmLayer *a = LayerAbove(l); a; a = LayerAbove(a))
    if (a->current && a->type != QMTYPE_NOOBJECT && Overlap(a->current, s)) return true;
  return false;
}

void SwapInLayerPlanes(qmFxRequest *fx, const qmPlaneSet &p);

// The layer's current state shows the transition's planes from now on: a copy of its picture
// with a mask (or alpha plane) that shows nothing of a layer brought in and all of one taken away.
uint32_t PrepareRealtimeLayer(qmFxRequest *fx) {
  const bool blends = IsAlphaFx(fx->effect);
  const bool withAlpha = fx->srcAlpha != nullptr || blends;
  qmPlaneSet p{};
  if (!AllocClearedPlanes(fx->width, fx->height, !withAlpha, withAlpha, &p)) return ERR_MEM;
  // Blends show the layer's whole picture at a share that grows or falls: the pixels are there
  // from the start, the alpha plane gives the share.
  if (blends) {
    BltBitmap(fx->srcImage, 0, 0, p.bitmap, 0, 0, fx->width, fx->height);
    if (fx->layerTarget) FillAlphaFromPlanes(p.alpha, fx->srcMask, fx->srcAlpha, fx->width, fx->height);
  }
  SwapInLayerPlanes(fx, p);
  if (fx->layerTarget && !blends) BlitFxPiece(fx, 0, 0, fx->width, fx->height, FXPIECE_NOPRESENT);
  return 0;
}

// The layer's current state shows p (which it owns from now on) in place of its own pictures,
// which wait in the request until put back.
void SwapInLayerPlanes(qmFxRequest *fx, const qmPlaneSet &p) {
  qmLayerState *s = fx->layer->current;
  fx->realtimeState = s;
  fx->realtimeBitmap = p.bitmap;
  fx->savedOwn = s->own;
  fx->savedOwnLent = s->ownLent;
  fx->savedTransformed = s->transformed;
  fx->savedFiltered = s->filtered;
  fx->savedPartX = s->partX;
  fx->savedPartY = s->partY;
  s->own = p;
  s->ownLent = 0;
  s->transformed = {};
  s->filtered = {};
  s->partX = s->partY = 0;
  // The shadow falls from what the planes show; the border keeps its shape and fades.
  FreeAlphaChannel(s->shadowAlpha);
  s->shadowAlpha = nullptr;
  fx->realtimePrepared = 1;
}

// The layer's own pictures back in place, shown as they are.
void PutBackLayerPictures(qmFxRequest *fx) {
  if (!fx->realtimePrepared) return;
  fx->realtimePrepared = 0;
  qmLayer *l = fx->layer;
  if (!l) return;
  qmLayerState *s = fx->realtimeState;
  fx->realtimeState = nullptr;
  const bool held = (s == l->base || s == l->unscaled || s == l->current) && s->own.bitmap == fx->realtimeBitmap;
  fx->realtimeBitmap = nullptr;
  if (!held) {
    // The layer code drew the layer anew meanwhile (the display's scale changed) and let go of
    // the state with the planes in it: its own pictures have no place to go back to.
    if (!fx->savedOwnLent) FreePlaneSet(&fx->savedOwn);
    FreePlaneSet(&fx->savedTransformed);
    FreePlaneSet(&fx->savedFiltered);
    l->borderFade = l->shadowFade = 0;
    return;
  }
  DropOwnPicture(s);
  DropDerivedImages(s);
  s->own = fx->savedOwn;
  s->ownLent = fx->savedOwnLent;
  s->transformed = fx->savedTransformed;
  s->filtered = fx->savedFiltered;
  s->partX = fx->savedPartX;
  s->partY = fx->savedPartY;
  l->borderFade = l->shadowFade = 0;
}

// Real-time layer mode: the area is the layer's rectangle and the new picture a copy of img, the
// layer's picture there.
uint32_t TakeLayerPicture(qmFxRequest *fx, const qmLayerImage &img) {
  const qmLayerState *s = fx->layer->current;
  fx->x = s->x;
  fx->y = s->y;
  fx->width = s->width;
  fx->height = s->height;
  qmBitmap *bm = nullptr;
  qmMask *mask = nullptr;
  qmAlphaChannel *alpha = nullptr;
  if (CopyBitmap(img.bitmap, img.mask, img.alpha, img.originX, img.originY, s->width, s->height, 0, &bm, &mask, &alpha))
    return ERR_MEM;
  fx->srcImage = bm;
  fx->srcMask = mask;
  fx->srcAlpha = alpha;
  fx->ownsImage = fx->ownsMask = fx->ownsAlpha = 1;
  return 0;
}

// bgpicemu: the new picture is the area of the emulated background picture with its layers,
// opaque.
uint32_t TakeEmulatedPicture(qmFxRequest *fx) {
  if (fx->ownsMask) FreeMask(const_cast<qmMask *>(fx->srcMask));
  if (fx->ownsAlpha) FreeAlphaChannel(const_cast<qmAlphaChannel *>(fx->srcAlpha));
  fx->srcMask = fx->srcAlpha = nullptr;
  fx->ownsMask = fx->ownsAlpha = 0;
  return RenderEmulatedFxPicture(fx) ? 0u : uint32_t(ERR_MEM);
}

// A scroll moves the layer itself from (or to) its position: the area is its rectangle on the
// screen at that position. Standing in for a background picture, the layer shows the emulated
// picture's area through stand-in planes while it travels.
uint32_t ScrollLayerTarget(qmFxRequest *fx, qmDisplay *d, const qmLayerImage &img) {
  const qmLayerState *s = fx->layer->current;
  fx->x = fx->layerX = s->x;
  fx->y = fx->layerY = s->y;
  if (!fx->bgpicEmu) return 0;
  if (!img.bitmap) return ERR_WRONGUSAGE;
  if (uint32_t code = TakeLayerPicture(fx, img)) return code;
  if (uint32_t code = TakeEmulatedPicture(fx)) return code;
  d->bgpic->layersChanged = 0;
  fx->emuBGPic->lock++;
  fx->useCount = &fx->emuBGPic->lock;
  qmPlaneSet p{};
  if (!AllocClearedPlanes(fx->width, fx->height, false, false, &p)) return ERR_MEM;
  BltBitmap(fx->srcImage, 0, 0, p.bitmap, 0, 0, fx->width, fx->height);
  SwapInLayerPlanes(fx, p);
  return 0;
}

// A layer target: the area is the layer's rectangle; the new picture is that rectangle as the
// display will show it at the end (with the layer, or without it when it is taken away).
uint32_t FindLayerTarget(qmFxRequest *fx, qmDisplay *d) {
  if (!d->layersOn) return ERR_NOLAYERS;
  qmBGPic *pic = d->bgpic;
  if (fx->objectType == FXTARGET_REMOVELAYER && fx->undoLevel > 0) {
    fx->layer = FindObjectLayer(pic, fx->undoType, &fx->objectId, fx->undoLevel);
    if (!fx->layer) return ERR_FINDARRAY;
  } else {
    fx->layer = GetNthLayer(pic, int32_t(fx->objectId.id));
    if (!fx->layer) return ERR_LAYERRANGE;
  }
  if (IsObjectInAsyncDraw(fx->scene, fx->layer)) return ERR_ALREADYASYNC;
  qmLayerState *s = fx->layer->current;
  // The run keeps the layer's picture as its source: a frame lent by an anim could change under it.
  if (uint32_t code = CopyLentPicture(fx->layer->base)) return code;
  qmLayerImage img{};
  if (GetLayerImage(fx->scene, fx->layer, s, 1, 1, -1, &img)) img = {};
  if (WantsRealtime(fx, d, fx->layer, img)) {
    // The planes hold the layer's picture before its filters, which the layer applies to them.
    if (HasFilters(fx->layer->filters) && GetLayerImage(fx->scene, fx->layer, s, 0, 1, -1, &img)) return ERR_WRONGUSAGE;
    fx->realtime = 1;
    // Filters may carry a change in the planes beyond its rectangle: the whole layer is shown anew.
    fx->layerDecorated = fx->layer->shadow.on || fx->layer->border.on || img.mask || HasFilters(fx->layer->filters);
    if (uint32_t code = TakeLayerPicture(fx, img)) return code;
    if (fx->bgpicEmu) {
      if (uint32_t code = TakeEmulatedPicture(fx)) return code;
      fx->layerDecorated = fx->layer->shadow.on || fx->layer->border.on || HasFilters(fx->layer->filters);
      d->bgpic->layersChanged = 0;
      // The picture shown stays while the transition reads it.
      fx->emuBGPic->lock++;
      fx->useCount = &fx->emuBGPic->lock;
    }
    if (uint32_t code = PrepareRealtimeLayer(fx)) return code;
    if (d->outputType == DISPOUT_DISPLAY && !fx->layer->hidden && !fx->layer->deferred) RefreshLayer(fx->scene, fx->layer);
    return 0;
  }
  int32_t w = 0, h = 0;
  GetLayerBounds(d, fx->layer, s, &fx->x, &fx->y, &w, &h);
  fx->width = w > 0 ? w : 1;
  fx->height = h > 0 ? h : 1;
  if (IsScrollFx(fx->effect)) return ScrollLayerTarget(fx, d, img);
  fx->srcImage = ComposedArea(fx, d, fx->layerTarget ? 1 : 0);
  fx->ownsImage = 1;
  return fx->srcImage ? 0u : uint32_t(ERR_MEM);
}

// The display shows pic from now on while the window keeps what it showed: the old screen is
// kept in prevScreen (at the new picture's size) and stands in the display's buffers.
uint32_t SwitchBGPicForFx(qmFxRequest *fx, qmDisplay *d, qmBGPic *pic) {
  qmScene *scene = fx->scene;
  qmBGPic *old = d->bgpic;
  const qmBitmap *before = GetBGPicRefreshSource(scene, d, old);
  qmBitmap *snapshot = before ? AllocBitmap(before->width, before->height) : nullptr;
  if (!snapshot) return ERR_MEM;
  BltBitmap(before, 0, 0, snapshot, 0, 0, before->width, before->height);
  uint32_t code = 0;
  const bool sameSize = old->unscaledWidth == pic->unscaledWidth && old->unscaledHeight == pic->unscaledHeight;
  if (sameSize) {
    d->bgpic = pic;
    d->ownsBGPic = 0;
    ResetBGPicScale(scene, nullptr, old);
    if (d == scene->current) scene->picture = pic;
    // A display that scales layers shows its pictures rendered at its size; one that scales
    // automatically stretches them in the window.
    if (d->scaleLayer && d->scaleWidth && d->scaleHeight) code = ScaleBGPicForDisplay(scene, d, pic);
    if (!code) code = PrepareDisplayBuffers(d, pic, 1);
    FreeMarkedBGPics(scene);
  } else {
    code = fx->showResized ? fx->showResized(fx->pumpData, pic) : ERR_WRONGUSAGE;
  }
  if (!code && d->bgpic != pic) code = ERR_WRONGUSAGE;
  if (code) {
    FreeBitmap(snapshot);
    return code;
  }
  fx->width = pic->shownWidth;
  fx->height = pic->shownHeight;
  fx->prevScreen = AllocClearedBitmap(fx->width, fx->height);
  fx->srcImage = AllocBitmap(fx->width, fx->height);
  fx->ownsImage = 1;
  if (!fx->prevScreen || !fx->srcImage) {
    FreeBitmap(snapshot);
    return ERR_MEM;
  }
  BltBitmapClipped(snapshot, 0, 0, fx->prevScreen, 0, 0, snapshot->width, snapshot->height);
  FreeBitmap(snapshot);
  BltBitmap(pic->shown.bitmap, 0, 0, fx->srcImage, 0, 0, fx->width, fx->height);
  BltBitmapClipped(fx->prevScreen, 0, 0, d->backgroundCopy, 0, 0, fx->width, fx->height);
  BltBitmapClipped(fx->prevScreen, 0, 0, d->layerBuffer, 0, 0, fx->width, fx->height);
  // A window opened anew for the new size shows the old screen until the frames draw.
  if (!sameSize) BltToDisplay(fx->prevScreen, 0, 0, d, 0, 0, fx->width, fx->height, 1);
  return 0;
}

// A picture with a mask or alpha plane becomes an opaque one: the screen under the area with
// the picture drawn over it through its planes.
uint32_t FlattenSource(qmFxRequest *fx, qmDisplay *d) {
  qmBitmap *flat = ScreenUnderArea(fx, d);
  if (!flat) return ERR_MEM;
  qmSafeBlt b{};
  b.src = fx->srcImage;
  b.dst = flat;
  b.width = b.srcWidth = b.dstWidth = fx->width;
  b.height = b.srcHeight = b.dstHeight = fx->height;
  b.flags = SAFEBLT_PIXELSONLY | SAFEBLT_NOCLIP;
  b.mask = fx->srcMask;
  b.alpha = fx->srcAlpha;
  SafeBlt(fx->scene, &b);
  if (fx->ownsImage) FreeBitmap(fx->srcImage);
  if (fx->ownsMask) FreeMask(const_cast<qmMask *>(fx->srcMask));
  if (fx->ownsAlpha) FreeAlphaChannel(const_cast<qmAlphaChannel *>(fx->srcAlpha));
  fx->srcImage = flat;
  fx->srcMask = nullptr;
  fx->srcAlpha = nullptr;
  fx->ownsImage = 1;
  fx->ownsMask = fx->ownsAlpha = 0;
  return 0;
}

// The target's pictures into the request: 0 or the lookup's error.
uint32_t FindTarget(qmFxRequest *fx, qmDisplay *d) {
  qmScene *scene = fx->scene;
  switch (fx->objectType) {
    case FXTARGET_BGPIC: {
      qmBGPic *pic = nullptr;
      if (uint32_t code = FindBGPic(scene->objects, &fx->objectId, &pic, 0)) return code;
      if (!Opaque(pic) || !d->bgpic || !Opaque(d->bgpic)) return ERR_WRONGUSAGE;
      fx->prevBGPic = d->bgpic;
      fx->newBGPic = pic;
      pic->lock++;
      fx->useCount = &pic->lock;
      return SwitchBGPicForFx(fx, d, pic);
    }
    case FXTARGET_BRUSH: {
      qmBrush *b = nullptr;
      if (uint32_t code = FindBrush(scene->objects, &fx->objectId, &b, 0)) return code;
      b->lock++;
      fx->useCount = &b->lock;
      fx->x = ResolvePositionX(scene, fx->x, b->width, 0, 0.0);
      fx->y = ResolvePositionY(scene, fx->y, b->height, 0, 0.0);
      fx->width = b->width;
      fx->height = b->height;
      fx->srcImage = b->bitmap;
      fx->srcMask = b->mask;
      fx->srcAlpha = b->alpha;
      return 0;
    }
    case FXTARGET_TEXTOBJECT:
      // The command hands the object's planes in; only the place is resolved here.
      if (!fx->srcImage) return ERR_WRONGUSAGE;
      fx->x = ResolvePositionX(scene, fx->x, fx->width, 0, 0.0);
      fx->y = ResolvePositionY(scene, fx->y, fx->height, 0, 0.0);
      // Frames driven later must not read the object's planes, which the script may free.
      return fx->async ? FlattenSource(fx, d) : 0;
    case FXTARGET_BGPICPART: {
      qmBGPic *pic = nullptr;
      if (uint32_t code = FindBGPic(scene->objects, &fx->objectId, &pic, 0)) return code;
      if (fx->width < 1 || fx->height < 1) return ERR_WRONGUSAGE;
      fx->srcImage = AllocClearedBitmap(fx->width, fx->height);
      if (!fx->srcImage) return ERR_MEM;
      fx->ownsImage = 1;
      BltBitmapClipped(pic->unscaled.bitmap, fx->partX, fx->partY, fx->srcImage, 0, 0, fx->width, fx->height);
      fx->x = ResolvePositionX(scene, fx->x, fx->width, 0, 0.0);
      fx->y = ResolvePositionY(scene, fx->y, fx->height, 0, 0.0);
      return 0;
    }
    case FXTARGET_LAYER:
    case FXTARGET_HIDELAYER:
    case FXTARGET_REMOVELAYER:
      return FindLayerTarget(fx, d);
    default:
      return ERR_WRONGUSAGE;
  }
}

// The last frame's picture whole on the screen and in the display's buffers.
void ShowWholeNewPicture(qmFxRequest *fx, qmDisplay *d) {
  if (!fx->newBGPic || d->bgpic != fx->newBGPic) return;
  BltToDisplay(fx->srcImage, 0, 0, d, 0, 0, fx->width, fx->height, 1);
  BltBitmapClipped(fx->newBGPic->shown.bitmap, 0, 0, d->backgroundCopy, 0, 0, fx->width, fx->height);
  BltBitmapClipped(fx->srcImage, 0, 0, d->layerBuffer, 0, 0, fx->width, fx->height);
}

bool BuiltFx(int32_t effect) { return IsFxBuilt(effect); }

}  // namespace

void RestoreRealtimeLayer(qmFxRequest *fx) {
  fx->layerSuspended = 0;
  PutBackLayerPictures(fx);
  if (!fx->replaceLater || !fx->layer) return;
  fx->replaceLater = 0;
  qmLayer *l = fx->layer;
  l->hidden = 1;
  RefreshLayer(fx->scene, l);
  RenderLayerImage(fx->scene, l, LRENDERMODE_SCALED | LRENDERMODE_FOLLOW);
  // A layer brought in goes back to hidden, one taken away stays: the run starts again.
  l->hidden = fx->layerTarget ? 0 : 1;
  RefreshLayer(fx->scene, l);
}

uint32_t FollowFxLayer(qmFxRequest *fx) {
  if (!fx->layerSuspended) return 0;
  fx->layerSuspended = 0;
  qmScene *scene = fx->scene;
  qmDisplay *d = scene->current;
  qmLayer *l = fx->layer;
  if (!l || !l->current || !d) return ERR_WRONGUSAGE;
  const int32_t oldWidth = fx->width, oldHeight = fx->height;
  if (fx->ownsImage) FreeBitmap(fx->srcImage);
  if (fx->ownsMask) FreeMask(const_cast<qmMask *>(fx->srcMask));
  if (fx->ownsAlpha) FreeAlphaChannel(const_cast<qmAlphaChannel *>(fx->srcAlpha));
  fx->srcImage = nullptr;
  fx->srcMask = fx->srcAlpha = nullptr;
  fx->ownsImage = fx->ownsMask = fx->ownsAlpha = 0;
  if (uint32_t code = CopyLentPicture(l->base)) return code;
  qmLayerImage img{};
  if (GetLayerImage(scene, l, l->current, 0, 1, -1, &img) || !img.bitmap) return ERR_WRONGUSAGE;
  if (uint32_t code = TakeLayerPicture(fx, img)) return code;
  if (fx->bgpicEmu)
    if (uint32_t code = TakeEmulatedPicture(fx)) return code;
  fx->layerDecorated = l->shadow.on || l->border.on || fx->srcMask || HasFilters(l->filters);
  if (fx->width != oldWidth || fx->height != oldHeight) {
    // The old picture under the area, at the new size.
    if (fx->oldImage) {
      FreeBitmap(fx->oldImage);
      fx->oldImage = ScreenUnderArea(fx, d);
      if (!fx->oldImage) return ERR_MEM;
    }
    // The effect again from its init call, at the same share of its frames.
    const double share = fx->stepCount > 0 ? double(fx->frameNo) / fx->stepCount : 0.0;
    const int32_t wasDrawing = fx->frameNo;
    FreeFxState(fx, 0);
    fx->phase = FXPHASE_INIT;
    fx->frameNo = fx->stepCount = 0;
    fx->step = fx->speed;
    if (uint32_t code = fx->frameFn(fx, nullptr)) return code;
    fx->phase = FXPHASE_FRAME;
    if (wasDrawing) {
      int32_t n = int32_t(std::lround(share * fx->stepCount));
      fx->frameNo = n < 1 ? 1 : n > fx->stepCount ? fx->stepCount : n;
    }
  }
  if (uint32_t code = PrepareRealtimeLayer(fx)) return code;
  const int32_t n = fx->frameNo;
  fx->restarting = 1;
  const uint32_t code = n > 0 ? RerenderFx(fx, n, 1) : 0u;
  fx->restarting = 0;
  return code;
}

void FinishFx(qmFxRequest *fx, int32_t) {
  if (fx->useCount) {
    if (*fx->useCount) --*fx->useCount;
    fx->useCount = nullptr;
  }
  // A transition ended before its last frame (FinishAsyncDraw) shows its end now; after the
  // last frame the screen shows it already.
  const int32_t early = fx->frameNo < fx->stepCount;
  const int32_t realtime = fx->realtimePrepared || fx->layerSuspended;
  RestoreRealtimeLayer(fx);
  if (fx->layer) {
    fx->layer->hidden = fx->objectType == FXTARGET_HIDELAYER ? 1 : 0;
    fx->layer->deferred = 0;
    if (fx->objectType == FXTARGET_REMOVELAYER) {
      DestroyLayer(fx->scene, fx->layer, early || realtime ? 0 : 1, nullptr, nullptr);
      fx->layer = nullptr;
    } else if (early || realtime) {
      RefreshLayer(fx->scene, fx->layer);
    }
  } else if (early && fx->srcImage && !fx->newBGPic && !fx->layerGone) {
    DrawFxPiece(fx, 0, 0, fx->width, fx->height);
    FxFrameTail(fx);
  }
  fx->finished = 1;
}

void ReleaseFxRequest(qmFxRequest *fx, int32_t complete) {
  if (!fx) return;
  if (fx->useCount && *fx->useCount) --*fx->useCount;
  fx->useCount = nullptr;
  if (fx->realtimePrepared) {
    RestoreRealtimeLayer(fx);
    if (fx->layer && (complete || fx->objectType != FXTARGET_LAYER || fx->finished)) RefreshLayer(fx->scene, fx->layer);
  }
  // A layer brought in that did not arrive goes back to hidden, and the screen shows it so.
  if (fx->layer && !complete && !fx->finished && fx->objectType == FXTARGET_LAYER) {
    fx->layer->hidden = 1;
    RefreshLayer(fx->scene, fx->layer);
  }
  FreeFxState(fx, complete);
  if (fx->ownsImage) FreeBitmap(fx->srcImage);
  if (fx->ownsMask) FreeMask(const_cast<qmMask *>(fx->srcMask));
  if (fx->ownsAlpha) FreeAlphaChannel(const_cast<qmAlphaChannel *>(fx->srcAlpha));
  if (fx->oldImage != fx->prevScreen) FreeBitmap(fx->oldImage);
  FreeBitmap(fx->prevScreen);
  MemFree(fx);
}

uint32_t RunFxFrame(qmFxRequest *fx, int32_t *done) {
  fx->phase = FXPHASE_FRAME;
  // The layer counts as shown from the first frame on.
  if (fx->layer) {
    fx->layer->hidden = 0;
    fx->layer->deferred = 0;
  }
  return fx->frameFn(fx, done);
}

uint32_t RunTransition(qmFxRequest *request, qmAsyncDraw **asyncOut) {
  if (asyncOut) *asyncOut = nullptr;
  qmScene *scene = request->scene;
  qmDisplay *d = scene ? scene->current : nullptr;
  if (!d || !d->bgpic) return ERR_WRONGUSAGE;
  auto *fx = static_cast<qmFxRequest *>(MemAlloc(sizeof(qmFxRequest), 0));
  if (!fx) return ERR_MEM;
  std::memcpy(fx, request, sizeof *fx);
  fx->ownedCount = 0;
  fx->speed = fx->step;
  if (fx->effect == FX_UNUSED) fx->effect = FX_RANDOMEFFECT;

  if (d->doubleBuffer) EndDoubleBufferCore(scene, d);
  const void *outputTarget = nullptr;
  if (fx->objectType == FXTARGET_BGPIC) {
    qmBGPic *pic = nullptr;
    if (FindBGPic(scene->objects, &fx->objectId, &pic, 0) == 0) outputTarget = pic;
  } else if (fx->objectType == FXTARGET_BRUSH) {
    qmBrush *b = nullptr;
    if (FindBrush(scene->objects, &fx->objectId, &b, 0) == 0) outputTarget = b;
  }
  if (uint32_t code = CheckOutput(fx, d, outputTarget)) {
    MemFree(fx);
    return code;
  }
  const bool wholePicture = fx->objectType == FXTARGET_BGPIC;
  // A layer standing in for a background picture takes the whole-display effects too.
  const bool emulated = fx->bgpicEmu && fx->emuBGPic && fx->objectType == FXTARGET_LAYER;
  if (!emulated) fx->bgpicEmu = 0, fx->emuBGPic = nullptr;
  if (fx->effect == FX_RANDOMEFFECT)
    fx->effect = DrawRandomFx(fx->uniform ? fx->uniform : drand48, !wholePicture && !emulated, BuiltFx);
  if (!wholePicture && !emulated && IsWholeDisplayFx(fx->effect)) fx->effect = FX_HSTRIPES;
  if (d->outputType != DISPOUT_DISPLAY && !KeepsSelection(fx, d)) EndSelectCore(scene, d, 0);
  if (fx->layerTarget) fx->effect = ReverseFxForHide(fx->effect);
  // A caller that brings its own routine pair keeps it; else the effect's pair.
  if (!fx->frameFn) {
    const qmFxRoutines *routines = FindFxRoutines(fx->effect);
    if (!routines) {
      MemFree(fx);
      return ERR_WRONGUSAGE;
    }
    fx->frameFn = routines->frame;
    fx->freeFn = routines->free;
  }

  if (uint32_t code = FindTarget(fx, d)) {
    ReleaseFxRequest(fx, 0);
    return code;
  }
  fx->screenWidth = scene->picture->shownWidth;
  fx->screenHeight = scene->picture->shownHeight;
  fx->x = FxPlaceWithinReach(fx->x);
  fx->y = FxPlaceWithinReach(fx->y);
  const bool visible = fx->x + fx->width >= 1 && fx->y + fx->height >= 1 && fx->x < fx->screenWidth &&
                       fx->y < fx->screenHeight;
  if (!wholePicture && !fx->realtime && (fx->srcMask || fx->srcAlpha) && !IsMovingFx(fx->effect) && visible)
    if (uint32_t code = FlattenSource(fx, d)) {
      ReleaseFxRequest(fx, 0);
      return code;
    }
  const int32_t rule = FxOldPictureRule(fx->effect);
  // An asynchronous transition may be asked for an earlier frame: it keeps the old picture.
  if (rule == 1 || (rule == 2 && fx->realtime) || (rule == 3 && !fx->realtime) || fx->async) {
    fx->oldImage = wholePicture ? fx->prevScreen : ScreenUnderArea(fx, d);
    if (!fx->oldImage) {
      ReleaseFxRequest(fx, 0);
      return ERR_MEM;
    }
  }
  fx->scaledDisplay = ScaledDisplay(d) ? 1 : 0;
  fx->bltFlags = uint32_t(SAFEBLT_BACKGROUND) | (fx->scaledDisplay ? uint32_t(SAFEBLT_NOPRESENT) : 0u) |
                 (wholePicture && d->layersOn ? uint32_t(SAFEBLT_TOBACKGROUND) : 0u);

  fx->phase = FXPHASE_INIT;
  if (uint32_t code = fx->frameFn(fx, nullptr)) {
    ReleaseFxRequest(fx, 0);
    return code;
  }
  fx->phase = FXPHASE_FRAME;
  if (fx->async) {
    qmAsyncDraw *ad = nullptr;
    if (!asyncOut || CreateAsyncDraw(scene, ADF_FX, AsyncFxFrame, 0, AsyncFxFinish, AsyncFxFree, AsyncFxControl, fx,
                                     &ad) != 0) {
      ReleaseFxRequest(fx, 0);
      return asyncOut ? uint32_t(ERR_MEM) : uint32_t(ERR_WRONGUSAGE);
    }
    *asyncOut = ad;
    return 0;
  }

  int32_t pictureWidth = d->bgpic->shownWidth, pictureHeight = d->bgpic->shownHeight;
  int32_t done = 0;
  uint32_t failure = 0;
  while (!done) {
    if (fx->pump && fx->pump(fx->pumpData)) break;
    if (scene->current != d) break;
    if (d->bgpic->shownWidth != pictureWidth || d->bgpic->shownHeight != pictureHeight) {
      // A display that stretches its picture in the window goes on at the picture's own size.
      if (d->scaleMode == 1) {
        pictureWidth = d->bgpic->shownWidth;
        pictureHeight = d->bgpic->shownHeight;
      } else {
        fx->resized = 1;
        if (!wholePicture) request->restart = 1;
        // Under layer scaling the layers are drawn anew at the new scale: the layer goes back to
        // where it stood before this run (its planes once put back), for the run again.
        if (d->scaleMode == 2 && fx->layer) {
          if (IsScrollFx(fx->effect)) {
            PlaceLayer(scene, fx->layer, nullptr, fx->layerX, fx->layerY, 0, 0, nullptr);
          } else if (fx->realtimePrepared) {
            fx->replaceLater = 1;
          } else {
            fx->layer->hidden = fx->layerTarget ? 0 : 1;
            RefreshLayer(scene, fx->layer);
          }
        }
        break;
      }
    }
    if ((failure = RunFxFrame(fx, &done)) != 0) break;
    FlushDisplayFrame(scene);
  }
  if (done) FinishFx(fx, 1);
  if (wholePicture && !fx->resized && scene->current == d) ShowWholeNewPicture(fx, d);
  ReleaseFxRequest(fx, failure ? 0 : 1);
  return failure;
}

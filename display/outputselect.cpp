#include "display/outputselect.h"

#include <initializer_list>

#include "display/bgpic.h"
#include "display/brush.h"
#include "display/dirtyrects.h"
#include "display/display.h"
#include "display/displayops.h"
#include "display/scene.h"
#include "graphics/blit.h"
#include "graphics/alphaops.h"
#include "display/safeblt.h"
#include "platform/memory.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"


namespace {

enum : uint32_t { SAVE_FLAG, SAVE_CURSORX, SAVE_CURSORY, SAVE_LEFT, SAVE_RIGHT, SAVE_LAYERS };

bool SameTarget(const qmBGPic *sel, uint32_t type, const qmObjectId *id, int32_t frame) {
  return sel && sel->selectedType == type && sel->selectedFrame == frame && sel->selectedId.id == id->id &&
         sel->selectedId.handle == id->handle;
}

// Whether an open display of the scene shows the picture.
bool ShownByOpenDisplay(const qmScene *scene, const qmBGPic *pic) {
  for (const qmDisplay *d = scene->displays; d; d = d->next)
    if (d->bgpic == pic && d->state != DISPSTATE_CLOSED) return true;
  return false;
}

// After drawing into a selected picture's master: sets that share the master's bitmap share its
// planes; separate sets are rendered anew from it.
uint32_t SyncImageSets(qmBGPic *pic) {
  const qmPlaneSet m = pic->master;
  if (pic->unscaled.bitmap == m.bitmap) {
    pic->unscaled = m;
  } else {
    qmPlaneSet set;
    if (uint32_t code = RenderBGPicAtSize(pic, pic->unscaledWidth, pic->unscaledHeight, 1, &set)) return code;
    const bool shownShared = pic->shown.bitmap == pic->unscaled.bitmap;
    qmPlaneSet old = pic->unscaled;
    FreeBitmap(old.bitmap);
    if (old.mask != m.mask) FreeMask(old.mask);
    if (old.alpha != m.alpha) FreeAlphaChannel(old.alpha);
    pic->unscaled = set;
    if (shownShared) pic->shown = set;
  }
  if (pic->shown.bitmap == m.bitmap) {
    pic->shown = m;
  } else if (pic->shown.bitmap != pic->unscaled.bitmap) {
    qmPlaneSet set;
    if (uint32_t code = RenderBGPicAtSize(pic, pic->shownWidth, pic->shownHeight, 1, &set)) return code;
    FreeBitmap(pic->shown.bitmap);
    FreeMask(pic->shown.mask);
    FreeAlphaChannel(pic->shown.alpha);
    pic->shown = set;
  }
  return 0;
}

// The anim engine's answer for a frame of an anim; without it no anim can exist.
uint32_t AnimFramePlanes(qmScene *scene, const qmObjectId *id, int32_t frame, uint32_t out, int32_t prepare,
                         qmPlaneSet *planes, int32_t *width, int32_t *height, void **record) {
  const qmPlayerContext *ctx = scene->context;
  if (!ctx || !ctx->animFramePlanes) return MissingObjectError(id, ERR_FINDANIM);
  return ctx->animFramePlanes(scene, id, frame, out, prepare, planes, width, height, record);
}

// A selected anim frame gets the plane that drawing into its mask or alpha channel needs.
uint32_t PrepareAnimOutput(qmScene *scene, qmDisplay *d, qmBGPic *sel, uint32_t out) {
  qmPlaneSet planes{};
  int32_t width = 0, height = 0;
  void *record = nullptr;
  if (uint32_t code =
          AnimFramePlanes(scene, &sel->selectedId, sel->selectedFrame, out, 1, &planes, &width, &height, &record))
    return code;
  if (out == DISPOUT_MASK) d->outputMask = planes.mask;
  else d->outputAlpha = planes.alpha;
  sel->shown = sel->unscaled = sel->master = planes;
  sel->prepared = 1;
  return 0;
}

// A selected brush gets the plane that drawing into its mask or alpha channel needs.
uint32_t PrepareBrushOutput(const qmScene *scene, qmDisplay *d, qmBGPic *sel, uint32_t out) {
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrush(scene->objects, &sel->selectedId, &b, FINDBRUSH_MODIFY)) return code;
  if (out == DISPOUT_MASK) {
    if (!b->mask) {
      qmMask *mask = AllocMask(b->width, b->height, 0);
      if (!mask) return ERR_MEM;
      FillMaskRect(mask, 0, 0, b->width, b->height, 0);
      b->mask = mask;
      b->transparentColor = kOwnMaskColor;
    }
    FreeAlphaChannel(b->alpha);
    b->alpha = nullptr;
    d->outputMask = b->mask;
  } else if (out == DISPOUT_ALPHA) {
    if (!b->alpha) {
      qmAlphaChannel *alpha = AllocAlphaChannel(b->width, b->height, 0);
      if (!alpha) return ERR_MEM;
      FillAlphaRect(alpha, 0, 0, b->width, b->height, 255);
      b->alpha = alpha;
    }
    FreeMask(b->mask);
    b->mask = nullptr;
    b->transparentColor = kNoTransparentColor;
    d->outputAlpha = b->alpha;
  }
  sel->shown = sel->unscaled = sel->master = qmPlaneSet{b->bitmap, b->mask, b->alpha};
  sel->prepared = 1;
  sel->modified = 1;
  return 0;
}

// The found object's planes become the display's output; its record is kept as the selected
// object's.
uint32_t InstallSelection(qmScene *scene, qmDisplay *d, uint32_t objectType, const qmObjectId *id,
                          uint32_t outputType, int32_t frame, uint32_t mode, uint32_t comboValue,
                          const qmPlaneSet &planes, int32_t width, int32_t height, void *record) {
  if (!d->selectBGPic) {
    d->selectBGPic = static_cast<qmBGPic *>(MemAlloc(sizeof(qmBGPic), 1));
    if (!d->selectBGPic) return ERR_MEM;
  }
  qmBGPic *sel = d->selectBGPic;
  InitSelectRecord(sel, objectType, record, frame, nullptr, planes, width, height, 1);
  sel->selectedId = *id;
  sel->header.id = id->id;
  sel->header.handle = id->handle;
  scene->picture = sel;
  SaveDisplayForSelect(d, outputType, width);
  d->outputType = outputType;
  if (d->doubleBuffer) {
    d->doubleBuffer = 0;
    d->doubleBufferPaused = 1;
  }
  d->outputBitmap = nullptr;
  d->outputMask = nullptr;
  d->outputAlpha = nullptr;
  if (outputType == DISPOUT_MASK) {
    d->outputMask = planes.mask;
  } else if (outputType == DISPOUT_ALPHA) {
    d->outputAlpha = planes.alpha;
  } else {
    d->outputBitmap = planes.bitmap;
    if (mode == SELMODE_COMBO) {
      d->outputMask = planes.mask;
      d->outputAlpha = planes.alpha;
      scene->outputCombo = comboValue;
    }
  }
  return 0;
}

}  // namespace

void SaveDisplayForSelect(qmDisplay *d, uint32_t outputType, int32_t targetWidth) {
  uint32_t *s = d->selectSave;
  if (s[SAVE_FLAG]) return;
  s[SAVE_FLAG] = 1;
  s[SAVE_LAYERS] = d->layersOn;
  if (outputType != DISPOUT_BGPIC) d->layersOn = 0;
  s[SAVE_CURSORX] = uint32_t(d->cursorX);
  s[SAVE_CURSORY] = uint32_t(d->cursorY);
  s[SAVE_LEFT] = uint32_t(d->textMarginLeft);
  s[SAVE_RIGHT] = uint32_t(d->textMarginRight);
  d->cursorX = d->cursorY = d->textMarginLeft = 0;
  d->textMarginRight = targetWidth - 1;
}

void RestoreDisplayAfterSelect(qmDisplay *d) {
  uint32_t *s = d->selectSave;
  if (!s[SAVE_FLAG]) return;
  s[SAVE_FLAG] = 0;
  d->layersOn = s[SAVE_LAYERS];
  d->cursorX = int32_t(s[SAVE_CURSORX]);
  d->cursorY = int32_t(s[SAVE_CURSORY]);
  d->textMarginLeft = int32_t(s[SAVE_LEFT]);
  d->textMarginRight = int32_t(s[SAVE_RIGHT]);
}

uint32_t SelectOutputCore(qmScene *scene, uint32_t objectType, const qmObjectId *id, uint32_t outputType, int32_t frame,
                          uint32_t mode, uint32_t comboValue) {
  qmDisplay *d = scene->current;
  if (!d) return ERR_WRONGUSAGE;
  if (d->outputType == outputType && SameTarget(d->selectBGPic, objectType, id, frame)) return 0;
  if (d->outputType != DISPOUT_DISPLAY && !d->doubleBuffer)
    if (uint32_t code = EndSelectCore(scene, d, 0)) return code;

  qmPlaneSet planes{};
  int32_t width = 0, height = 0;
  void *record = nullptr;
  switch (objectType) {
  case QMTYPE_BGPIC: {
    qmBGPic *pic = nullptr;
    if (uint32_t code = FindBGPic(scene->objects, id, &pic, 0)) return code;
    if (pic->kind == 1 && pic->pluginImage) return ERR_BGPICTYPE;
    if (ShownByOpenDisplay(scene, pic)) return ERR_SELECTBGPIC2;
    planes = pic->master;
    width = pic->masterWidth;
    height = pic->masterHeight;
    record = pic;
    break;
  }
  case QMTYPE_BRUSH: {
    qmBrush *brush = nullptr;
    if (uint32_t code = FindBrush(scene->objects, id, &brush, FINDBRUSH_NOVECTOR)) return code;
    planes = {brush->bitmap, brush->mask, brush->alpha};
    width = brush->width;
    height = brush->height;
    record = brush;
    break;
  }
  // Anims and layers are found by their own engines.
  case QMTYPE_ANIM:
    if (uint32_t code = AnimFramePlanes(scene, id, frame, outputType, 0, &planes, &width, &height, &record)) return code;
    break;
  case QMTYPE_LAYER:
    if (uint32_t code = SelectPictureLayer(scene, int32_t(id->id), frame, &planes, &width, &height, &record)) return code;
    break;
  default: return ERR_WRONGUSAGE;
  }
  return InstallSelection(scene, d, objectType, id, outputType, frame, mode, comboValue, planes, width, height, record);
}

uint32_t PrepareMaskOrAlphaOutput(qmScene *scene) {
  qmDisplay *d = scene->current;
  if (!d || (d->doubleBuffer && scene->picture == d->doubleBufferBGPic)) return 0;
  const uint32_t out = d->outputType;
  qmBGPic *sel = d->selectBGPic;
  if ((out != DISPOUT_BRUSH && out != DISPOUT_MASK && out != DISPOUT_ALPHA) || !sel || sel->prepared) return 0;
  if (sel->selectedType == QMTYPE_BRUSH) return PrepareBrushOutput(scene, d, sel, out);
  if (sel->selectedType == QMTYPE_ANIM && out != DISPOUT_BRUSH) return PrepareAnimOutput(scene, d, sel, out);
  // A layer's or an anim frame's own pictures are drawn as they are.
  if (sel->selectedType == QMTYPE_LAYER || sel->selectedType == QMTYPE_ANIM) {
    sel->prepared = 1;
    return 0;
  }
  if (sel->selectedType != QMTYPE_BGPIC) return ERR_WRONGUSAGE;
  qmBGPic *pic = nullptr;
  if (uint32_t code = FindBGPic(scene->objects, &sel->selectedId, &pic, FINDBGPIC_MODIFY | FINDBGPIC_NOCOPY))
    return code;
  qmPlaneSet &m = pic->master;
  // Sets that share a plane of the master follow it when it is made or dropped.
  auto follow = [&](qmMask *oldPlane, qmMask *newPlane, bool isMask) {
    for (qmPlaneSet *s : {&pic->unscaled, &pic->shown}) {
      qmMask *&plane = isMask ? s->mask : s->alpha;
      if (s->bitmap == m.bitmap && (plane == oldPlane || !plane)) plane = newPlane;
      else if (plane == oldPlane) plane = nullptr;
    }
  };
  if (out == DISPOUT_MASK) {
    if (!m.mask) {
      qmMask *mask = AllocMask(pic->masterWidth, pic->masterHeight, 0);
      if (!mask) return ERR_MEM;
      FillMaskRect(mask, 0, 0, pic->masterWidth, pic->masterHeight, 0);
      follow(nullptr, mask, true);
      m.mask = mask;
    }
    if (m.alpha) {
      follow(m.alpha, nullptr, false);
      FreeAlphaChannel(m.alpha);
      m.alpha = nullptr;
    }
    d->outputMask = m.mask;
  } else if (out == DISPOUT_ALPHA) {
    if (!m.alpha) {
      qmAlphaChannel *alpha = AllocAlphaChannel(pic->masterWidth, pic->masterHeight, 0);
      if (!alpha) return ERR_MEM;
      FillAlphaRect(alpha, 0, 0, pic->masterWidth, pic->masterHeight, 255);
      follow(nullptr, alpha, false);
      m.alpha = alpha;
    }
    if (m.mask) {
      follow(m.mask, nullptr, true);
      FreeMask(m.mask);
      m.mask = nullptr;
    }
    d->outputAlpha = m.alpha;
  }
  sel->shown = sel->unscaled = sel->master = m;
  sel->prepared = 1;
  sel->modified = 1;
  return 0;
}

uint32_t EndSelectCore(qmScene *scene, qmDisplay *d, int32_t noRefresh) {
  const uint32_t previous = d->outputType;
  qmBGPic *sel = d->selectBGPic;
  uint32_t code = 0;
  if (sel && (previous == DISPOUT_BRUSH || previous == DISPOUT_MASK || previous == DISPOUT_ALPHA) &&
      !(d->doubleBuffer && scene->picture == d->doubleBufferBGPic) && sel->selectedType == QMTYPE_BGPIC) {
    qmBGPic *pic = nullptr;
    if (FindBGPic(scene->objects, &sel->selectedId, &pic, FINDBGPIC_DELETED) == 0 && sel->modified)
      code = SyncImageSets(pic);
    sel->selectedType = 0;
    sel->modified = 0;
  }
  if (d->doubleBufferPaused) {
    scene->picture = d->doubleBufferBGPic;
    d->outputBitmap = d->backBuffer2;
    d->outputMask = nullptr;
    d->outputAlpha = nullptr;
    d->outputType = DISPOUT_BRUSH;
    d->doubleBuffer = 1;
    d->doubleBufferPaused = 0;
    RestoreDisplayAfterSelect(d);
    return code;
  }
  d->outputBitmap = nullptr;
  d->outputMask = nullptr;
  d->outputAlpha = nullptr;
  d->outputType = DISPOUT_DISPLAY;
  if (previous == DISPOUT_BGPIC && scene->picture == d->bgpic) {
    ShowDeferredLayers(scene, d->bgpic);
    if (!noRefresh && d->dirtyRects) {
      MergeDirtyRects(d);
      const int32_t w = d->bgpic ? d->bgpic->unscaledWidth : d->width;
      const int32_t h = d->bgpic ? d->bgpic->unscaledHeight : d->height;
      if (AllDirty(d)) {
        RefreshDisplayRect(scene, 0, 0, d, 0, 0, w, h);
      } else {
        // Boxes that overlap more than they leave out are composed once as the box around them.
        for (const qmDirtyRect &r : PlanRefresh(d->dirtyRects, d->dirtyCount, w, h))
          RefreshDisplayRect(scene, r.x1, r.y1, d, r.x1, r.y1, r.x2 - r.x1 + 1, r.y2 - r.y1 + 1);
      }
      d->dirtyCount = 0;
    }
  }
  scene->picture = d->bgpic;
  RestoreDisplayAfterSelect(d);
  // A selected layer shows what was drawn into it once the display is the output again.
  if (sel && sel->selectedType == QMTYPE_LAYER && previous == DISPOUT_BRUSH) {
    sel->selectedType = 0;
    EndSelectPictureLayer(scene, sel->selectedRecord);
  }
  return code;
}

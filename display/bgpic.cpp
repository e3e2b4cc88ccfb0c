#include "display/bgpic.h"

#include <cstring>

#include "display/bgpicload.h"
#include "display/display.h"
#include "display/displayops.h"
#include "display/scene.h"
#include "graphics/blit.h"
#include "graphics/bitmapops.h"
#include "graphics/fillarea.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"


void FreePlaneSet(qmPlaneSet *set) {
  FreeBitmap(set->bitmap);
  FreeMask(set->mask);
  FreeAlphaChannel(set->alpha);
  *set = {};
}

namespace {

// Frees each plane of set that neither of the other sets holds.
void FreeSetExcept(const qmPlaneSet &set, const qmPlaneSet &a, const qmPlaneSet &b) {
  if (set.bitmap != a.bitmap && set.bitmap != b.bitmap) FreeBitmap(set.bitmap);
  if (set.mask != a.mask && set.mask != b.mask) FreeMask(set.mask);
  if (set.alpha != a.alpha && set.alpha != b.alpha) FreeAlphaChannel(set.alpha);
}

// Lists the record again under id (its own handle when id is null): 0 or ERR_MEM, and then
// the old key is kept.
uint32_t Rekey(qmObjectRegistry *objects, qmBGPic *pic, bool anonymous) {
  qmObjectHeader old = pic->header;
  RemoveObject(objects, &pic->header);
  if (anonymous) {
    pic->header.id = 0;
    pic->header.handle = reinterpret_cast<uintptr_t>(pic);
  }
  if (AddObject(objects, &pic->header) == 0) return 0;
  pic->header.id = old.id;
  pic->header.handle = old.handle;
  AddObject(objects, &pic->header);
  return ERR_MEM;
}

}  // namespace

uint32_t FillPictureFromStyle(qmBitmap *bitmap, int32_t width, int32_t height, const qmFillStyle *fill) {
  if (fill->fillStyle == FILLGRADIENT) {
    qmGradientFill g = GradientFillOf(&fill->gradient);
    return DrawGradient(bitmap, 0, 0, width, height, &g);
  }
  if (fill->fillStyle == FILLTEXTURE && fill->textureBitmap) {
    TileBitmap(bitmap, 0, 0, width, height, fill->textureBitmap, fill->textureX, fill->textureY, fill->textureWidth,
               fill->textureHeight);
    return 0;
  }
  FillBitmapRect(bitmap, 0, 0, width, height, fill->fillStyle == FILLCOLOR ? fill->fillColor & 0xFFFFFF : 0);
  return 0;
}

bool FillIsBlack(const qmFillStyle *fill) {
  if (fill->fillStyle == FILLGRADIENT) return false;
  if (fill->fillStyle == FILLTEXTURE && fill->textureBitmap) return false;
  return fill->fillStyle != FILLCOLOR || (fill->fillColor & 0xFFFFFF) == 0;
}

uint32_t NewBGPicRecord(qmObjectRegistry *objects, qmObjectId *id, uint32_t kind, int32_t width, int32_t height,
                        const qmPlaneSet &planes, uint32_t transparentColor, const qmFillStyle *fill,
                        qmBGPic **out) {
  auto *pic = static_cast<qmBGPic *>(MemAlloc(sizeof(qmBGPic), 1));
  if (!pic) return ERR_MEM;
  SetObjectHeader(&pic->header, QMTYPE_BGPIC, id);
  pic->kind = kind;
  pic->shown = pic->unscaled = pic->master = planes;
  pic->shownWidth = pic->unscaledWidth = pic->masterWidth = width;
  pic->shownHeight = pic->unscaledHeight = pic->masterHeight = height;
  pic->sourceRowLength = uint32_t(width);
  pic->transparentColor = transparentColor;
  pic->layers = {nullptr, nullptr, &pic->layers};
  if (fill) pic->fill = *fill;
  if (uint32_t code = ListNewObject(objects, &pic->header, pic, id)) return code;
  if (out) *out = pic;
  return 0;
}

uint32_t FindBGPic(const qmObjectRegistry *objects, const qmObjectId *id, qmBGPic **out, int32_t flags) {
  auto *pic = reinterpret_cast<qmBGPic *>(FindObject(objects, QMTYPE_BGPIC, id));
  if (!pic || (pic->deleted && !(flags & FINDBGPIC_DELETED))) return MissingObjectError(id, ERR_FINDBGPIC);
  if ((flags & FINDBGPIC_MODIFY) && pic->lock) return ERR_LOCKEDOBJ;
  if (uint32_t code = RealizeBGPic(pic)) return code;
  *out = pic;
  return 0;
}

uint32_t CopyBGPicRecord(qmObjectRegistry *objects, const qmBGPic *src, qmObjectId *newId, qmBGPic **out) {
  qmPlaneSet master{}, unscaled{}, shown{};
  qmBitmap *texture = nullptr;
  uint32_t *palette = nullptr;
  auto copySet = [](const qmPlaneSet &s, int32_t w, int32_t h, qmPlaneSet *o) {
    return CopyBitmap(s.bitmap, s.mask, s.alpha, 0, 0, w, h, 0, &o->bitmap, &o->mask, &o->alpha);
  };
  uint32_t code = copySet(src->master, src->masterWidth, src->masterHeight, &master);
  const bool ownUnscaled = src->unscaled.bitmap != src->master.bitmap;
  const bool ownShown = src->shown.bitmap != src->master.bitmap && src->shown.bitmap != src->unscaled.bitmap;
  if (!code && ownUnscaled) code = copySet(src->unscaled, src->unscaledWidth, src->unscaledHeight, &unscaled);
  if (!code && ownShown) code = copySet(src->shown, src->shownWidth, src->shownHeight, &shown);
  if (!code && src->palette) {
    palette = static_cast<uint32_t *>(MemAlloc(256 * 4, 0));
    if (palette) std::memcpy(palette, src->palette, 256 * 4);
    else code = ERR_MEM;
  }
  if (!code && src->fill.textureBitmap)
    code = CopyBitmap(src->fill.textureBitmap, nullptr, nullptr, 0, 0, src->fill.textureBitmap->width,
                      src->fill.textureBitmap->height, 0, &texture, nullptr, nullptr);
  qmObjectData *data = nullptr;
  if (!code && src->header.userData)
    code = CopyObjectDataList(objects, static_cast<const qmObjectData *>(src->header.userData), &data);
  qmBGPic *pic = nullptr;
  if (!code) code = NewBGPicRecord(objects, newId, src->kind, src->masterWidth, src->masterHeight, master,
                                   src->transparentColor, &src->fill, &pic);
  if (code) {
    FreePlaneSet(&master);
    FreePlaneSet(&unscaled);
    FreePlaneSet(&shown);
    FreeBitmap(texture);
    MemFree(palette);
    FreeObjectDataList(objects, data);
    return code;
  }
  pic->header.userData = data;
  pic->unscaled = ownUnscaled ? unscaled : master;
  pic->shown = ownShown ? shown : (src->shown.bitmap == src->unscaled.bitmap ? pic->unscaled : master);
  pic->unscaledWidth = src->unscaledWidth;
  pic->unscaledHeight = src->unscaledHeight;
  pic->shownWidth = src->shownWidth;
  pic->shownHeight = src->shownHeight;
  pic->sourceRowLength = src->sourceRowLength;
  pic->palette = palette;
  pic->fill.textureBitmap = texture;
  if (out) *out = pic;
  return 0;
}

void FreeDerivedSets(qmBGPic *pic) {
  FreeSetExcept(pic->shown, pic->unscaled, pic->master);
  FreeSetExcept(pic->unscaled, pic->master, pic->master);
  pic->shown = pic->unscaled = pic->master;
}

void FreeBGPicSpriteList(qmBGPic *pic) {
  for (qmShownSprite *n = pic->shownSprites; n;) {
    qmShownSprite *next = n->next;
    MemFree(n);
    n = next;
  }
  pic->shownSprites = nullptr;
  MemFree(pic->spriteSpans);
  pic->spriteSpans = nullptr;
  pic->spriteSpanCount = pic->spriteSpanCapacity = 0;
}

void FreeBGPicContents(qmScene *scene, qmBGPic *pic) {
  FreePictureLayers(scene, pic);
  FreeBGPicSpriteList(pic);
  FreePictureButtons(scene, pic);
  FreeDerivedSets(pic);
  FreePlaneSet(&pic->master);
  pic->shown = pic->unscaled = {};
  MemFree(pic->palette);
  pic->palette = nullptr;
  MemFree(pic->preloadPixels);
  pic->preloadPixels = nullptr;
  FreeBitmap(pic->fill.textureBitmap);
  pic->fill.textureBitmap = nullptr;
  FreeObjectDataList(scene->objects, static_cast<qmObjectData *>(pic->header.userData));
  pic->header.userData = nullptr;
}

qmDisplay *DisplayShowingBGPic(const qmScene *scene, const qmBGPic *pic) {
  for (qmDisplay *d = scene->displays; d; d = d->next)
    if (d->bgpic == pic) return d;
  return nullptr;
}

void ForgetActiveClipRegion(qmScene *scene, const qmClipRegion *region) {
  auto forget = [region](qmBGPic *pic) {
    if (pic && pic->activeClip == region) pic->activeClip = nullptr;
  };
  forget(scene->picture);
  for (qmDisplay *d = scene->displays; d; d = d->next) {
    forget(d->bgpic);
    forget(d->selectBGPic);
    forget(d->doubleBufferBGPic);
  }
  for (qmObjectHeader *h = FirstObject(scene->objects, QMTYPE_BGPIC); h; h = h->next)
    forget(reinterpret_cast<qmBGPic *>(h));
}

uint32_t FreeBGPicCore(qmScene *scene, const qmObjectId *id, int32_t strict) {
  if (qmDisplay *d = scene->current) {
    const qmBGPic *sel = d->selectBGPic;
    const bool selected = (d->outputType == DISPOUT_BRUSH || d->outputType == DISPOUT_MASK ||
                           d->outputType == DISPOUT_ALPHA) && !d->doubleBuffer && sel &&
                          sel->selectedType == QMTYPE_BGPIC && ObjectHasId(static_cast<const qmObjectHeader *>(
                                                                               sel->selectedRecord), id);
    const bool layered = d->outputType == DISPOUT_BGPIC && scene->picture && ObjectHasId(&scene->picture->header, id);
    if (selected || layered) return ERR_MODIFYABGPIC;
  }
  qmBGPic *pic = nullptr;
  uint32_t code = FindBGPic(scene->objects, id, &pic, FINDBGPIC_MODIFY | FINDBGPIC_NOCOPY);
  if (code) return (strict || code == ERR_LOCKEDOBJ) ? code : 0;
  if (DisplayShowingBGPic(scene, pic)) {
    if (uint32_t e = Rekey(scene->objects, pic, true)) return e;
    pic->deleted = 1;
    return 0;
  }
  RemoveObject(scene->objects, &pic->header);
  FreeBGPicContents(scene, pic);
  MemFree(pic);
  return 0;
}

void FreeMarkedBGPics(qmScene *scene) {
  for (qmObjectHeader *h = FirstObject(scene->objects, QMTYPE_BGPIC); h;) {
    auto *pic = reinterpret_cast<qmBGPic *>(h);
    h = h->next;
    if (!pic->deleted || DisplayShowingBGPic(scene, pic)) continue;
    RemoveObject(scene->objects, &pic->header);
    FreeBGPicContents(scene, pic);
    MemFree(pic);
  }
}

uint32_t RenderBGPicAtSize(const qmBGPic *pic, int32_t width, int32_t height, int32_t smooth, qmPlaneSet *out) {
  *out = {};
  if (pic->kind == 1 && !pic->pluginImage) {
    qmBitmap *b = AllocBitmap(width, height);
    if (!b) return ERR_MEM;
    if (uint32_t code = FillPictureFromStyle(b, width, height, &pic->fill)) {
      FreeBitmap(b);
      return code;
    }
    out->bitmap = b;
    return 0;
  }
  qmScaleOutputs o{};
  if (uint32_t code = ScaleBitmap(pic->master.bitmap, pic->master.mask, pic->master.alpha, 0, 0, nullptr,
                                  pic->masterWidth, pic->masterHeight, width, height, smooth, &o))
    return code;
  if (!o.bitmap) return ERR_MEM;
  *out = {o.bitmap, o.mask, o.alpha};
  return 0;
}

uint32_t SetBGPicSize(qmBGPic *pic, int32_t width, int32_t height, int32_t smooth) {
  if (width == pic->unscaledWidth && height == pic->unscaledHeight) return 0;
  qmPlaneSet set;
  if (width == pic->masterWidth && height == pic->masterHeight) {
    FreeDerivedSets(pic);
    set = pic->master;
  } else {
    if (uint32_t code = RenderBGPicAtSize(pic, width, height, smooth, &set)) return code;
    FreeDerivedSets(pic);
  }
  pic->unscaled = pic->shown = set;
  pic->unscaledWidth = pic->shownWidth = width;
  pic->unscaledHeight = pic->shownHeight = height;
  return 0;
}

uint32_t ScaleBGPicForDisplay(qmScene *scene, qmDisplay *d, qmBGPic *pic) {
  const int32_t w = d->scaleWidth, h = d->scaleHeight;
  if (w == pic->unscaledWidth && h == pic->unscaledHeight) {
    ResetBGPicScale(scene, d, pic);
    return 0;
  }
  if (w != pic->shownWidth || h != pic->shownHeight) {
    qmPlaneSet set;
    if (uint32_t code = RenderBGPicAtSize(pic, w, h, int32_t(d->smoothScale), &set)) return code;
    FreeSetExcept(pic->shown, pic->unscaled, pic->master);
    pic->shown = set;
    pic->shownWidth = w;
    pic->shownHeight = h;
  }
  d->scaleX = double(w) / pic->unscaledWidth;
  d->scaleY = double(h) / pic->unscaledHeight;
  // A display that scales layers shows them rendered at its scale.
  return d->scaleLayer ? RerenderPictureLayers(scene, d, pic) : 0;
}

void ResetBGPicScale(qmScene *scene, qmDisplay *d, qmBGPic *pic) {
  FreeSetExcept(pic->shown, pic->unscaled, pic->master);
  pic->shown = pic->unscaled;
  pic->shownWidth = pic->unscaledWidth;
  pic->shownHeight = pic->unscaledHeight;
  if (d) d->scaleX = d->scaleY = 1.0;
  ResetPictureLayerScale(scene, pic);
}

void InitSelectRecord(qmBGPic *pic, uint32_t selectedType, void *selectedRecord, int32_t frame,
                      const qmObjectId *id, const qmPlaneSet &planes, int32_t width, int32_t height, int32_t clear) {
  if (clear) {
    std::memset(pic, 0, sizeof *pic);
    pic->layers = {nullptr, nullptr, &pic->layers};
  }
  pic->header.type = QMTYPE_BGPIC;
  if (id) {
    pic->header.id = id->id;
    pic->header.handle = id->handle;
  }
  pic->selectedType = selectedType;
  pic->selectedRecord = selectedRecord;
  pic->selectedFrame = frame;
  pic->shown = pic->unscaled = pic->master = planes;
  pic->shownWidth = pic->unscaledWidth = pic->masterWidth = width;
  pic->shownHeight = pic->unscaledHeight = pic->masterHeight = height;
  pic->transparentColor = kNoTransparency;
}

namespace {

// Whether every pixel a blit of the picture would carry is 0 (row padding aside). Stops at the
// first other pixel, which for most pictures is among the first.
bool PictureIsClear(const qmBitmap *b, int32_t w, int32_t h) {
  if (!b || !b->pixels || b->bytesPerPixel != 4 || b->width < w || b->height < h) return false;
  const size_t stride = size_t(b->bytesPerRow) / 4;
  for (int32_t y = 0; y < h; y++) {
    const uint32_t *row = b->pixels + size_t(y) * stride;
    uint32_t any = 0;
    for (int32_t x = 0; x < w; x++) any |= row[x];
    if (any) return false;
  }
  return true;
}

// New buffers for a clear picture (black, alpha 0) come cleared and nothing is copied into
// them: the copy would only write zeros over zeros, faulting in every page of both buffers.
// Buffers kept are written whole, whatever they held.
uint32_t MakeDisplayBuffers(qmDisplay *d, qmBGPic *pic, int32_t reallocate, bool black) {
  const int32_t w = pic->shownWidth, h = pic->shownHeight;
  auto fits = [&](const qmBitmap *b) { return b && b->width == w && b->height == h; };
  if (reallocate || !fits(d->backgroundCopy) || !fits(d->layerBuffer)) {
    const bool clear = black || PictureIsClear(pic->shown.bitmap, w, h);
    FreeBitmap(d->backgroundCopy);
    FreeBitmap(d->layerBuffer);
    d->layerBuffer = nullptr;
    qmBitmap *(*alloc)(int32_t, int32_t) = clear ? AllocClearedBitmap : AllocBitmap;
    d->backgroundCopy = alloc(w, h);
    if (d->backgroundCopy) d->layerBuffer = alloc(w, h);
    if (!d->layerBuffer) {
      FreeBitmap(d->backgroundCopy);
      d->backgroundCopy = nullptr;
      return ERR_MEM;
    }
    if (clear) return 0;
  }
  BltBitmap(pic->shown.bitmap, 0, 0, d->backgroundCopy, 0, 0, w, h);
  BltBitmap(pic->shown.bitmap, 0, 0, d->layerBuffer, 0, 0, w, h);
  return 0;
}

}  // namespace

uint32_t PrepareDisplayBuffers(qmDisplay *d, qmBGPic *pic, int32_t reallocate) {
  return MakeDisplayBuffers(d, pic, reallocate, false);
}

uint32_t PrepareBlackDisplayBuffers(qmDisplay *d, qmBGPic *pic) { return MakeDisplayBuffers(d, pic, 1, true); }

qmBitmap *GetBGPicRefreshSource(qmScene *scene, qmDisplay *d, qmBGPic *pic) {
  // With layers the window shows the layer buffer, composed anew over the whole picture.
  if (!d->layersOn || !d->layerBuffer || !pic || pic != d->bgpic) return d->backgroundCopy;
  RedrawDisplayRect(scene, d, 0, 0, pic->shownWidth, pic->shownHeight);
  return d->layerBuffer;
}

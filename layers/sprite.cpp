#include "layers/sprite.h"

#include <algorithm>
#include <cstdlib>

#include "display/brush.h"
#include "display/dirtyrects.h"
#include "display/display.h"
#include "display/displayops.h"
#include "display/position.h"
#include "display/safeblt.h"
#include "display/scene.h"
#include "graphics/alphaops.h"
#include "graphics/bitmapops.h"
#include "graphics/blit.h"
#include "graphics/clipregion.h"
#include "graphics/colors.h"
#include "layers/layer.h"
#include "media/animcore/anim.h"
#include "media/animcore/animload.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"

namespace {

// Every picture a sprite node can hang on: each display's picture, then the listed pictures
// that no display shows now. f(pic, display showing it or null).
template <typename F>
void ForEachSpritePicture(const qmScene *scene, F f) {
  for (qmDisplay *d = scene->displays; d; d = d->next)
    if (d->bgpic) f(d->bgpic, d);
  for (qmObjectHeader *h = FirstObject(scene->objects, QMTYPE_BGPIC); h; h = h->next) {
    auto *pic = reinterpret_cast<qmBGPic *>(h);
    if (!DisplayShowingBGPic(scene, pic)) f(pic, nullptr);
  }
}

void FreeBandRuns(qmSprite *s) {
  for (int32_t i = 0; s->bandRuns && i < s->frameCount; i++) MemFree(s->bandRuns[i]);
  MemFree(s->bandRuns);
  s->bandRuns = nullptr;
}

// The longest run of columns in [0, width) that pass: from, to (to == from when none).
template <typename Pass>
void LongestRun(int32_t width, Pass pass, int32_t *from, int32_t *to) {
  *from = *to = 0;
  for (int32_t x = 0; x < width;) {
    if (!pass(x)) {
      x++;
      continue;
    }
    const int32_t start = x;
    while (x < width && pass(x)) x++;
    if (x - start > *to - *from) *from = start, *to = x;
  }
}

// The band runs of one frame's planes (width x height), each row's runs found first: 0 or ERR_MEM.
uint32_t MakeBandRuns(const qmMask *mask, const qmAlphaChannel *alpha, int32_t width, int32_t height,
                      qmSpriteBandRuns **out) {
  const int64_t bytes = (int64_t(height) + kSpriteBand) * int64_t(sizeof(qmSpriteBandRuns));
  if (bytes > INT32_MAX) return ERR_MEM;
  auto *rows = static_cast<qmSpriteBandRuns *>(MemAlloc(uint32_t(std::max<int64_t>(height, 1) * sizeof(qmSpriteBandRuns)), 0));
  auto *bands = static_cast<qmSpriteBandRuns *>(MemAlloc(uint32_t(bytes), 0));
  if (!rows || !bands) {
    MemFree(rows), MemFree(bands);
    return ERR_MEM;
  }
  for (int32_t y = 0; y < height; y++) {
    qmSpriteBandRuns &r = rows[y];
    r = {0, width, 0, width};
    if (mask) {
      const uint8_t *row = mask->memory + int64_t(y) * mask->bytesPerRow;
      const auto set = [row](int32_t x) { return (row[x >> 3] & (0x80 >> (x & 7))) != 0; };
      LongestRun(width, set, &r.opaqueFrom, &r.opaqueTo);
      while (r.shownFrom < width && !set(r.shownFrom)) r.shownFrom++;
      while (r.shownTo > r.shownFrom && !set(r.shownTo - 1)) r.shownTo--;
    } else if (alpha) {
      const uint8_t *row = alpha->memory + int64_t(y) * alpha->bytesPerRow;
      LongestRun(width, [row](int32_t x) { return row[x] == 255; }, &r.opaqueFrom, &r.opaqueTo);
      while (r.shownFrom < width && !row[r.shownFrom]) r.shownFrom++;
      while (r.shownTo > r.shownFrom && !row[r.shownTo - 1]) r.shownTo--;
    }
  }
  for (int32_t start = 1 - kSpriteBand; start < height; start++) {
    qmSpriteBandRuns band{width, 0, 0, width};
    const bool inside = start >= 0 && start + kSpriteBand <= height;
    for (int32_t y = std::max(start, 0); y < std::min(start + kSpriteBand, height); y++) {
      const qmSpriteBandRuns &r = rows[y];
      if (r.shownFrom < r.shownTo) band.shownFrom = std::min(band.shownFrom, r.shownFrom), band.shownTo = std::max(band.shownTo, r.shownTo);
      band.opaqueFrom = std::max(band.opaqueFrom, r.opaqueFrom), band.opaqueTo = std::min(band.opaqueTo, r.opaqueTo);
    }
    if (band.shownFrom >= band.shownTo) band.shownFrom = band.shownTo = 0;
    if (!inside || band.opaqueFrom >= band.opaqueTo) band.opaqueFrom = band.opaqueTo = 0;
    bands[start + kSpriteBand - 1] = band;
  }
  MemFree(rows);
  *out = bands;
  return 0;
}

void FreeFrameArrays(qmSprite *s) {
  FreeBandRuns(s);
  for (int32_t i = 0; i < s->frameCount; i++) {
    if (s->bitmaps) FreeBitmap(s->bitmaps[i]);
    if (s->masks) FreeMask(s->masks[i]);
    if (s->alphas) FreeAlphaChannel(s->alphas[i]);
  }
  MemFree(s->bitmaps), MemFree(s->masks), MemFree(s->alphas);
  s->bitmaps = nullptr, s->masks = nullptr, s->alphas = nullptr;
}

// The three plane arrays of n frames, zeroed: 0 or ERR_MEM (none kept).
uint32_t AllocFrameArrays(int32_t n, qmBitmap ***bitmaps, qmMask ***masks, qmAlphaChannel ***alphas) {
  const uint32_t bytes = uint32_t(std::max(n, 1)) * sizeof(void *);
  *bitmaps = static_cast<qmBitmap **>(MemAlloc(bytes, 1));
  *masks = static_cast<qmMask **>(MemAlloc(bytes, 1));
  *alphas = static_cast<qmAlphaChannel **>(MemAlloc(bytes, 1));
  if (*bitmaps && *masks && *alphas) return 0;
  MemFree(*bitmaps), MemFree(*masks), MemFree(*alphas);
  *bitmaps = nullptr, *masks = nullptr, *alphas = nullptr;
  return ERR_MEM;
}

void FreeFramePlanes(int32_t n, qmBitmap **bitmaps, qmMask **masks, qmAlphaChannel **alphas) {
  for (int32_t i = 0; i < n; i++) FreeBitmap(bitmaps[i]), FreeMask(masks[i]), FreeAlphaChannel(alphas[i]);
  MemFree(bitmaps), MemFree(masks), MemFree(alphas);
}

qmMask *MaskOf(const qmSprite *s, int32_t i) { return s->masks ? s->masks[i] : nullptr; }
qmAlphaChannel *AlphaOf(const qmSprite *s, int32_t i) { return s->alphas ? s->alphas[i] : nullptr; }

bool HasSource(const qmSprite *linked, const qmSprite *source) {
  if (!linked->sources) return false;
  for (qmSprite *const *s = linked->sources; *s; s++)
    if (*s == source) return true;
  return false;
}

qmShownSpriteSpan SpanOf(qmShownSprite *n) {
  const auto edge = [](int64_t v) { return int32_t(std::min<int64_t>(v, INT32_MAX)); };
  return {n->x, n->y, edge(int64_t(n->x) + n->width), edge(int64_t(n->y) + n->height), n, n->sprite};
}

// The picture's spans made again from its list after a node came or went; without memory for
// them they are dropped and the readers walk the list.
void RebuildSpans(qmBGPic *pic) {
  int64_t count = 0;
  for (const qmShownSprite *n = pic->shownSprites; n; n = n->next) count++;
  if (count > pic->spriteSpanCapacity || !pic->spriteSpans) {
    const int64_t capacity = std::max<int64_t>(count * 2, 64);
    const int64_t bytes = capacity * int64_t(sizeof(qmShownSpriteSpan));
    MemFree(pic->spriteSpans);
    pic->spriteSpans = bytes <= INT32_MAX ? static_cast<qmShownSpriteSpan *>(MemAlloc(uint32_t(bytes), 0)) : nullptr;
    pic->spriteSpanCapacity = pic->spriteSpans ? int32_t(capacity) : 0;
  }
  pic->spriteSpanCount = 0;
  if (!pic->spriteSpans) return;
  for (qmShownSprite *n = pic->shownSprites; n; n = n->next) {
    n->slot = pic->spriteSpanCount;
    pic->spriteSpans[pic->spriteSpanCount++] = SpanOf(n);
  }
}

// Unlinks the sprite's node from the picture; the display showing it is refreshed there.
void DropNode(qmScene *scene, qmBGPic *pic, qmDisplay *display, const qmSprite *sprite) {
  for (qmShownSprite **p = &pic->shownSprites; *p; p = &(*p)->next) {
    if ((*p)->sprite != sprite) continue;
    qmShownSprite *n = *p;
    *p = n->next;
    RebuildSpans(pic);
    if (display) RefreshSpriteRect(scene, display, n->x, n->y, n->width, n->height);
    MemFree(n);
    return;
  }
}

}  // namespace

uint32_t FindSprite(const qmObjectRegistry *objects, const qmObjectId *id, qmSprite **out, int32_t flags) {
  auto *s = reinterpret_cast<qmSprite *>(FindObject(objects, QMTYPE_SPRITE, id));
  if (!s || (s->deleted && !(flags & FINDSPRITE_DELETED))) return MissingObjectError(id, ERR_FINDSPRITE);
  if ((flags & FINDSPRITE_MODIFY) && s->lock) return ERR_LOCKEDOBJ;
  *out = s;
  return 0;
}

uint32_t NewSpriteRecord(qmObjectRegistry *objects, qmObjectId *id, int32_t width, int32_t height, qmBitmap **bitmaps, qmMask **masks, qmAlphaChannel **alphas, int32_t frameCount,
                         uint32_t transparentColor, qmSprite **sources, qmSprite **out) {
  auto *s = static_cast<qmSprite *>(MemAlloc(sizeof(qmSprite), 1));
  if (!s) return ERR_MEM;
  SetObjectHeader(&s->header, QMTYPE_SPRITE, id);
  s->width = width, s->height = height, s->frameCount = frameCount;
  s->transparentColor = transparentColor;
  s->sources = sources;
  s->bitmaps = bitmaps, s->masks = masks, s->alphas = alphas;
  if (uint32_t code = ListNewObject(objects, &s->header, s, id)) return code;
  if (out) *out = s;
  return 0;
}

void GetSpriteFrame(const qmSprite *sprite, int32_t index, const qmBitmap **bitmap, const qmMask **mask,
                    const qmAlphaChannel **alpha) {
  *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
  if (index < 0) return;
  if (sprite->sources) {
    for (qmSprite *const *s = sprite->sources; *s; s++) {
      if (index < (*s)->frameCount) {
        GetSpriteFrame(*s, index, bitmap, mask, alpha);
        return;
      }
      index -= (*s)->frameCount;
    }
    return;
  }
  if (index >= sprite->frameCount || !sprite->bitmaps) return;
  *bitmap = sprite->bitmaps[index];
  *mask = MaskOf(sprite, index);
  *alpha = AlphaOf(sprite, index);
}

const qmSpriteBandRuns *GetSpriteBandRuns(qmSprite *sprite, int32_t index, int32_t *height) {
  if (index < 0) return nullptr;
  if (sprite->sources) {
    for (qmSprite **s = sprite->sources; *s; s++) {
      if (index < (*s)->frameCount) return GetSpriteBandRuns(*s, index, height);
      index -= (*s)->frameCount;
    }
    return nullptr;
  }
  if (index >= sprite->frameCount || !sprite->bitmaps || !sprite->bitmaps[index]) return nullptr;
  // Over every pixel the planes hold together, whatever part of them a node shows.
  const qmBitmap *bitmap = sprite->bitmaps[index];
  const qmMask *mask = MaskOf(sprite, index);
  const qmAlphaChannel *alpha = mask ? nullptr : AlphaOf(sprite, index);
  int32_t width = bitmap->width, rows = bitmap->height;
  if (const qmMask *plane = mask ? mask : alpha) {
    width = std::min(width, mask ? MaskPlaneWidth(plane) : AlphaPlaneWidth(plane));
    rows = std::min(rows, PlaneHeight(plane));
  }
  width = std::max(width, 0), rows = std::max(rows, 0);
  if (!sprite->bandRuns) {
    sprite->bandRuns = static_cast<qmSpriteBandRuns **>(MemAlloc(uint32_t(sprite->frameCount) * sizeof(void *), 1));
    if (!sprite->bandRuns) return nullptr;
  }
  if (!sprite->bandRuns[index] && MakeBandRuns(mask, alpha, width, rows, &sprite->bandRuns[index])) return nullptr;
  *height = rows;
  return sprite->bandRuns[index];
}

bool SpriteIsSource(const qmObjectRegistry *objects, const qmSprite *sprite) {
  for (qmObjectHeader *h = FirstObject(objects, QMTYPE_SPRITE); h; h = h->next)
    if (HasSource(reinterpret_cast<qmSprite *>(h), sprite)) return true;
  return false;
}

uint32_t CheckDisplayOutput(const qmScene *scene) {
  const qmDisplay *d = scene->current;
  if (!d) return 0;
  switch (d->outputType) {
  case DISPOUT_DISPLAY: return 0;
  case DISPOUT_BGPIC: return ERR_SELECTBG;
  case DISPOUT_MASK: return ERR_SELECTMASK;
  case DISPOUT_ALPHA: return ERR_SELECTALPHACHANNEL;
  default:
    if (d->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
    if (d->outputType == DISPOUT_ANIM || (d->selectBGPic && d->selectBGPic->selectedType == QMTYPE_ANIM))
      return ERR_SELECTANIM;
    return ERR_SELECTBRUSH;
  }
}

uint32_t CheckSpriteOutput(const qmScene *scene) {
  if (uint32_t code = CheckDisplayOutput(scene)) return code;
  const qmDisplay *d = scene->current;
  if (d && (d->layersOn || (d->bgpic && !LayerListEmpty(d->bgpic)))) return ERR_LAYERSOFF;
  return 0;
}

void RefreshSpriteRect(qmScene *scene, qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height) {
  const qmBGPic *pic = display ? display->bgpic : nullptr;
  if (!pic || !display->layerBuffer) return;
  qmRect r;
  if (!IntersectRects({x, y, width, height}, {0, 0, pic->shownWidth, pic->shownHeight}, &r)) return;
  RedrawDisplayRect(scene, display, r.x, r.y, r.w, r.h);
  BltToDisplay(display->layerBuffer, r.x, r.y, display, r.x, r.y, r.w, r.h, 1);
}

qmShownSprite *FindShownSprite(const qmScene *scene, const qmSprite *sprite) {
  const qmBGPic *pic = scene->current ? scene->current->bgpic : nullptr;
  if (pic && pic->spriteSpans) {
    for (int32_t i = 0; i < pic->spriteSpanCount; i++)
      if (pic->spriteSpans[i].sprite == sprite) return pic->spriteSpans[i].node;
    return nullptr;
  }
  for (qmShownSprite *n = pic ? pic->shownSprites : nullptr; n; n = n->next)
    if (n->sprite == sprite) return n;
  return nullptr;
}

bool SpriteIsShownAnywhere(const qmScene *scene, const qmSprite *sprite) {
  bool shown = false;
  ForEachSpritePicture(scene, [&](qmBGPic *pic, qmDisplay *) {
    for (const qmShownSprite *n = pic->shownSprites; n && !shown; n = n->next) shown = n->sprite == sprite;
  });
  return shown;
}

uint32_t ShowSprite(qmScene *scene, qmSprite *sprite, int32_t x, int32_t y, int32_t frame) {
  if (frame < 0 || frame > sprite->frameCount) return ERR_ANIMFRAME;
  qmDisplay *d = scene->current;
  qmBGPic *pic = d ? d->bgpic : nullptr;
  if (!pic) return 0;
  x = ResolvePositionX(scene, x, sprite->width, 0, 0.0);
  y = ResolvePositionY(scene, y, sprite->height, 0, 0.0);
  const int32_t w = sprite->width, h = sprite->height;
  if (qmShownSprite *n = FindShownSprite(scene, sprite)) {
    const int32_t next = frame ? frame : n->frame >= sprite->frameCount ? 1 : n->frame + 1;
    if (next == n->frame && x == n->x && y == n->y) return 0;
    const qmRect before{n->x, n->y, n->width, n->height};
    n->x = x, n->y = y, n->frame = next, n->width = w, n->height = h;
    if (pic->spriteSpans) pic->spriteSpans[n->slot] = SpanOf(n);
    qmRect overlap;
    if (!IntersectRects(before, {x, y, w, h}, &overlap)) {
      RefreshSpriteRect(scene, d, before.x, before.y, before.w, before.h);
      RefreshSpriteRect(scene, d, x, y, w, h);
    } else {
      const int64_t left = std::min(before.x, x), top = std::min(before.y, y);
      const int64_t right = std::max(int64_t(before.x) + before.w, int64_t(x) + w);
      const int64_t bottom = std::max(int64_t(before.y) + before.h, int64_t(y) + h);
      RefreshSpriteRect(scene, d, int32_t(left), int32_t(top), int32_t(right - left), int32_t(bottom - top));
    }
    return 0;
  }
  auto *n = static_cast<qmShownSprite *>(MemAlloc(sizeof(qmShownSprite), 1));
  if (!n) return ERR_MEM;
  n->id = {sprite->header.id, sprite->header.handle};
  n->x = x, n->y = y, n->width = w, n->height = h;
  n->frame = frame ? frame : 1;
  n->sprite = sprite;
  if (const qmClipRegion *clip = pic->activeClip) {
    n->clipped = 1;
    n->clipX = clip->x, n->clipY = clip->y, n->clipWidth = clip->width, n->clipHeight = clip->height;
  }
  qmShownSprite **tail = &pic->shownSprites;
  while (*tail) tail = &(*tail)->next;
  *tail = n;
  RebuildSpans(pic);
  RefreshSpriteRect(scene, d, x, y, w, h);
  return 0;
}

namespace {
uint32_t NotShownError(const qmSprite *sprite) {
  if (sprite->header.handle) return ERR_SPRITEONSCREEN2;
  qmObjectId id{sprite->header.id, 0};
  return MissingObjectError(&id, ERR_SPRITEONSCREEN);
}
}  // namespace

uint32_t LookUpShownSprite(const qmScene *scene, const qmObjectId *id, qmShownSprite **out) {
  qmSprite *s = nullptr;
  if (uint32_t code = FindSprite(scene->objects, id, &s, 0)) return code;
  *out = FindShownSprite(scene, s);
  return *out ? 0 : NotShownError(s);
}

uint32_t RemoveShownSprite(qmScene *scene, qmSprite *sprite) {
  if (!FindShownSprite(scene, sprite)) return NotShownError(sprite);
  DropNode(scene, scene->current->bgpic, scene->current, sprite);
  return 0;
}

uint32_t RemoveAllShownSprites(qmScene *scene, int32_t keep) {
  qmDisplay *d = scene->current;
  qmBGPic *pic = d ? d->bgpic : nullptr;
  if (!pic) return 0;
  for (const qmShownSprite *n = pic->shownSprites; n; n = n->next)
    if (n->sprite->lock) return ERR_LOCKEDOBJ;
  if (keep) {
    RefreshSpriteRect(scene, d, 0, 0, pic->shownWidth, pic->shownHeight);
    if (d->layerBuffer && d->backgroundCopy)
      BltBitmap(d->layerBuffer, 0, 0, d->backgroundCopy, 0, 0, std::min(d->layerBuffer->width, d->backgroundCopy->width),
                std::min(d->layerBuffer->height, d->backgroundCopy->height));
    FreeBGPicSpriteList(pic);
    return 0;
  }
  while (pic->shownSprites) DropNode(scene, pic, d, pic->shownSprites->sprite);
  return 0;
}

void FreeSpriteRecord(qmScene *scene, qmSprite *sprite) {
  if (!sprite->sources) {
    // The sprites made of this one go first: they would show freed frames.
    for (qmObjectHeader *h = FirstObject(scene->objects, QMTYPE_SPRITE); h;) {
      auto *linked = reinterpret_cast<qmSprite *>(h);
      h = h->next;
      if (HasSource(linked, sprite)) {
        FreeSpriteRecord(scene, linked);
        h = FirstObject(scene->objects, QMTYPE_SPRITE);  // the walk may have lost its place
      }
    }
  }
  ForEachSpritePicture(scene, [&](qmBGPic *pic, qmDisplay *d) { DropNode(scene, pic, d, sprite); });
  RemoveObject(scene->objects, &sprite->header);
  if (sprite->sources) MemFree(sprite->sources);
  else FreeFrameArrays(sprite);
  FreeObjectDataList(scene->objects, static_cast<qmObjectData *>(sprite->header.userData));
  MemFree(sprite);
}

uint32_t FreeSpriteById(qmScene *scene, const qmObjectId *id, int32_t strict) {
  qmSprite *s = nullptr;
  if (uint32_t code = FindSprite(scene->objects, id, &s, FINDSPRITE_MODIFY)) {
    if (code == ERR_LOCKEDOBJ || strict) return code;
    return 0;
  }
  FreeSpriteRecord(scene, s);
  return 0;
}

void FreeAllSprites(qmScene *scene) {
  ForEachSpritePicture(scene, [](qmBGPic *pic, qmDisplay *) { FreeBGPicSpriteList(pic); });
  while (qmObjectHeader *h = FirstObject(scene->objects, QMTYPE_SPRITE)) {
    auto *s = reinterpret_cast<qmSprite *>(h);
    RemoveObject(scene->objects, h);
    if (s->sources) MemFree(s->sources);
    else FreeFrameArrays(s);
    FreeObjectDataList(scene->objects, static_cast<qmObjectData *>(h->userData));
    MemFree(s);
  }
}

uint32_t ScaleSpriteFrames(qmSprite *sprite, double w, double h, int32_t smooth) {
  if (!(w >= 1 && h >= 1)) return ERR_BADDIMENSIONS;
  if ((w > QM_MAX_PICTURE_SIDE && w != kKeepAspect) || (h > QM_MAX_PICTURE_SIDE && h != kKeepAspect)) return ERR_MEM;
  int32_t width = int32_t(w), height = int32_t(h);
  if (uint32_t code = ApplyKeepAspect(sprite->width, sprite->height, &width, &height)) return code;
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
  if (width > QM_MAX_PICTURE_SIDE || height > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  if (width == sprite->width && height == sprite->height) return 0;
  if (!sprite->bitmaps || sprite->frameCount < 1) {
    sprite->width = width, sprite->height = height;
    return 0;
  }
  qmBitmap **bitmaps;
  qmMask **masks;
  qmAlphaChannel **alphas;
  if (AllocFrameArrays(sprite->frameCount, &bitmaps, &masks, &alphas)) return ERR_MEM;
  for (int32_t i = 0; i < sprite->frameCount; i++) {
    if (!sprite->bitmaps[i]) continue;
    qmScaleOutputs out{};
    const uint32_t code = ScaleBitmap(sprite->bitmaps[i], MaskOf(sprite, i), AlphaOf(sprite, i), 0, 0, nullptr,
                                      sprite->width, sprite->height, width, height, smooth, &out);
    if (code) {
      // The sprite keeps its frames and size: never frames of one size under the other.
      FreeFramePlanes(sprite->frameCount, bitmaps, masks, alphas);
      return code;
    }
    bitmaps[i] = out.bitmap, masks[i] = out.mask, alphas[i] = out.alpha;
  }
  FreeFramePlanes(sprite->frameCount, sprite->bitmaps, sprite->masks, sprite->alphas);
  FreeBandRuns(sprite);
  sprite->bitmaps = bitmaps, sprite->masks = masks, sprite->alphas = alphas;
  sprite->width = width, sprite->height = height;
  return 0;
}

uint32_t FlipSpriteFrames(qmSprite *sprite, int32_t direction) {
  FreeBandRuns(sprite);
  for (int32_t i = 0; sprite->bitmaps && i < sprite->frameCount; i++) {
    if (!sprite->bitmaps[i]) continue;
    if (uint32_t code = FlipBitmap(sprite->bitmaps[i], MaskOf(sprite, i), AlphaOf(sprite, i), sprite->width,
                                   sprite->height, direction))
      return code;
  }
  return 0;
}

uint32_t CopySpriteRecord(qmObjectRegistry *objects, const qmSprite *src, qmObjectId *newId, qmSprite **out) {
  qmSprite **sources = nullptr;
  qmBitmap **bitmaps = nullptr;
  qmMask **masks = nullptr;
  qmAlphaChannel **alphas = nullptr;
  const int32_t n = src->frameCount;
  if (src->sources) {
    int32_t count = 0;
    while (src->sources[count]) count++;
    sources = static_cast<qmSprite **>(MemAlloc(uint32_t(count + 1) * sizeof(qmSprite *), 1));
    if (!sources) return ERR_MEM;
    std::copy(src->sources, src->sources + count, sources);
  } else {
    if (AllocFrameArrays(n, &bitmaps, &masks, &alphas)) return ERR_MEM;
    for (int32_t i = 0; i < n && src->bitmaps; i++) {
      if (!src->bitmaps[i]) continue;
      const qmMask *mask = MaskOf(src, i);
      const qmAlphaChannel *alpha = AlphaOf(src, i);
      if (CopyBitmap(src->bitmaps[i], mask, alpha, 0, 0, src->width, src->height, 0, &bitmaps[i],
                     mask ? &masks[i] : nullptr, alpha ? &alphas[i] : nullptr)) {
        FreeFramePlanes(n, bitmaps, masks, alphas);
        return ERR_MEM;
      }
    }
  }
  qmSprite *s = nullptr;
  uint32_t code = NewSpriteRecord(objects, newId, src->width, src->height, bitmaps, masks, alphas, n,
                                  src->transparentColor, sources, &s);
  if (!code) {
    qmObjectData *data = nullptr;
    code = CopyObjectDataList(objects, static_cast<const qmObjectData *>(src->header.userData), &data);
    if (!code) {
      s->header.userData = data;
      *out = s;
      return 0;
    }
    RemoveObject(objects, &s->header);
    MemFree(s);
  }
  if (sources) MemFree(sources);
  else FreeFramePlanes(n, bitmaps, masks, alphas);
  return code;
}

uint32_t NewSpriteFromPicture(qmObjectRegistry *objects, qmObjectId *id, const qmBitmap *bitmap, const qmMask *mask,
                              const qmAlphaChannel *alpha, int32_t pictureWidth, int32_t pictureHeight, int32_t width,
                              int32_t height, int32_t frames, int32_t perRow, int32_t x, int32_t y,
                              uint32_t transparentColor, qmSprite **out) {
  if (width == 0) width = pictureWidth;
  if (height == 0) height = pictureHeight;
  if (frames == 0) frames = 1;
  if (perRow == 0) perRow = frames;
  if (width < 1 || height < 1 || frames < 1 || perRow < 1) return ERR_BADDIMENSIONS;
  // Every frame must lie inside the picture: the last row and the widest row are checked.
  const int64_t rows = (int64_t(frames) + perRow - 1) / perRow, columns = std::min(frames, perRow);
  if (x < 0 || y < 0 || x + columns * width > pictureWidth || y + rows * height > pictureHeight)
    return ERR_COORDSRANGE;
  qmBitmap **bitmaps;
  qmMask **masks;
  qmAlphaChannel **alphas;
  if (AllocFrameArrays(frames, &bitmaps, &masks, &alphas)) return ERR_MEM;
  for (int32_t i = 0; i < frames; i++) {
    const int32_t fx = x + (i % perRow) * width, fy = y + (i / perRow) * height;
    if (CopyBitmap(bitmap, mask, alpha, fx, fy, width, height, 0, &bitmaps[i], mask ? &masks[i] : nullptr,
                   alpha ? &alphas[i] : nullptr)) {
      FreeFramePlanes(frames, bitmaps, masks, alphas);
      return ERR_MEM;
    }
  }
  const uint32_t code = NewSpriteRecord(objects, id, width, height, bitmaps, masks, alphas, frames,
                                        transparentColor, nullptr, out);
  if (code) FreeFramePlanes(frames, bitmaps, masks, alphas);
  return code;
}

uint32_t NewSpriteFromFrames(qmObjectRegistry *objects, qmObjectId *id, qmAnimFrames *f, uint32_t transparentColor,
                             qmSprite **out) {
  // Frames made outside the declarations are never raw.
  MemFree(f->rawFrames);
  f->rawFrames = nullptr;
  const uint32_t code =
      NewSpriteRecord(objects, id, f->width, f->height, f->bitmaps, f->masks, f->alphas, f->count, transparentColor,
                      nullptr, out);
  if (code) FreeAnimFrames(f, nullptr);
  else *f = {};
  return code;
}

uint32_t NewSpriteFromAnim(qmObjectRegistry *objects, qmObjectId *id, qmAnim *anim, qmSprite **out) {
  const int32_t frames = anim->frameCount;
  if (frames < 1) return ERR_ANIMFRAME;
  qmBitmap **bitmaps;
  qmMask **masks;
  qmAlphaChannel **alphas;
  if (AllocFrameArrays(frames, &bitmaps, &masks, &alphas)) return ERR_MEM;
  for (int32_t i = 0; i < frames; i++) {
    if (uint32_t code = FetchAnimFrame(anim, i, 1, 0, &bitmaps[i], &masks[i], &alphas[i])) {
      FreeFramePlanes(frames, bitmaps, masks, alphas);
      return code;
    }
  }
  const uint32_t code = NewSpriteRecord(objects, id, anim->width, anim->height, bitmaps, masks, alphas, frames,
                                        anim->transparentColor, nullptr, out);
  if (code) FreeFramePlanes(frames, bitmaps, masks, alphas);
  return code;
}

uint32_t NewLinkedSprite(qmObjectRegistry *objects, qmObjectId *id, qmSprite *const *sources, int32_t count,
                         qmSprite **out) {
  if (count < 1) return ERR_WRONGUSAGE;
  int64_t frames = 0;
  for (int32_t i = 0; i < count; i++) {
    if (sources[i]->sources) return ERR_SPRITELINK;  // a link of links would free its frames twice
    if (sources[i]->width != sources[0]->width || sources[i]->height != sources[0]->height)
      return ERR_WRONGSPRITESIZE;
    frames += sources[i]->frameCount;
  }
  if (frames > INT32_MAX) return ERR_MEM;
  auto *list = static_cast<qmSprite **>(MemAlloc(uint32_t(count + 1) * sizeof(qmSprite *), 1));
  if (!list) return ERR_MEM;
  std::copy(sources, sources + count, list);
  const uint32_t code = NewSpriteRecord(objects, id, sources[0]->width, sources[0]->height, nullptr, nullptr,
                                        nullptr, int32_t(frames), kNoTransparentColor, list, out);
  if (code) MemFree(list);
  return code;
}

bool SpritesCoverRect(const qmBGPic *pic, int32_t x, int32_t y, int32_t width, int32_t height) {
  qmRect part;
  if (pic && pic->spriteSpans) {
    for (int32_t i = 0; i < pic->spriteSpanCount; i++) {
      const qmShownSpriteSpan &s = pic->spriteSpans[i];
      if (IntersectRects({x, y, width, height}, {s.x1, s.y1, s.x2 - s.x1, s.y2 - s.y1}, &part)) return true;
    }
    return false;
  }
  for (const qmShownSprite *n = pic ? pic->shownSprites : nullptr; n; n = n->next)
    if (IntersectRects({x, y, width, height}, {n->x, n->y, n->width, n->height}, &part)) return true;
  return false;
}

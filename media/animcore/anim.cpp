#include "media/animcore/anim.h"

#include <algorithm>
#include <cstring>

#include "display/bgpic.h"
#include "display/brush.h"
#include "display/display.h"
#include "display/displayops.h"
#include "display/scene.h"
#include "graphics/alpha_kernels.h"
#include "graphics/alphaops.h"
#include "graphics/bitmapops.h"
#include "graphics/blit.h"
#include "media/animcore/animfile.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"

namespace {

qmObjectId IdOf(const qmAnim *a) { return {a->header.id, a->header.handle}; }

// A zeroed array of n pointers; null for n < 1 or without memory.
template <typename T> T **AllocSlots(int32_t n) {
  if (n < 1 || uint64_t(n) * sizeof(T *) > UINT32_MAX) return nullptr;
  return static_cast<T **>(MemAlloc(uint32_t(n) * sizeof(T *), 1));
}

uint32_t *AllocDelays(int32_t n) {
  if (n < 1 || uint64_t(n) * 4 > UINT32_MAX) return nullptr;
  return static_cast<uint32_t *>(MemAlloc(uint32_t(n) * 4, 0));
}

// How many layers show the object: pointing its layers at the id they already use changes
// nothing and counts them.
int32_t LayersShowing(qmScene *scene, const qmObjectId *id) {
  return RebindLayerObjectId(scene, QMTYPE_ANIM, id, id);
}

void FreeRawFrame(qmAnim *a, uint32_t *raw) {
  if (a->animFile) FreeAnimFileFrame(a->animFile, raw);
  else MemFree(raw);
}

// Frees the frames and the four arrays of an in-memory anim.
void FreeFrameArrays(qmAnim *a) {
  for (int32_t i = 0; i < a->frameCount; i++) {
    if (a->bitmaps) FreeBitmap(a->bitmaps[i]);
    if (a->masks) FreeMask(a->masks[i]);
    if (a->alphas) FreeAlphaChannel(a->alphas[i]);
    if (a->rawFrames && a->rawFrames[i]) FreeRawFrame(a, a->rawFrames[i]);
  }
  MemFree(a->bitmaps);
  MemFree(a->masks);
  MemFree(a->alphas);
  MemFree(a->rawFrames);
  a->bitmaps = nullptr, a->masks = nullptr, a->alphas = nullptr, a->rawFrames = nullptr;
}

// A raw frame still waiting for the first display becomes the frame's bitmap and mask now.
uint32_t RealizeFrame(qmAnim *a, int32_t i) {
  uint32_t *raw = a->rawFrames ? a->rawFrames[i] : nullptr;
  if (a->bitmaps[i] || !raw) return 0;
  qmBitmap *b = nullptr;
  qmMask *m = nullptr;
  if (BitmapFromArgb(raw, a->transparentColor, a->nativeWidth, a->nativeHeight, a->nativeWidth, 0, &b, &m))
    return ERR_MEM;
  a->bitmaps[i] = b;
  a->masks[i] = m;
  FreeRawFrame(a, raw);
  a->rawFrames[i] = nullptr;
  return 0;
}

// Decodes a disk-based frame at its native size.
uint32_t DecodeDiskFrame(qmAnim *a, int32_t index, qmBitmap **bitmap, qmMask **mask, qmAlphaChannel **alpha) {
  uint32_t *pixels = LoadAnimFileFrame(a->animFile, index);
  if (!pixels) return ERR_LOADFRAME;
  const int32_t w = a->nativeWidth, h = a->nativeHeight;
  qmBitmap *b = nullptr;
  qmMask *m = nullptr;
  qmAlphaChannel *al = nullptr;
  uint32_t code = BitmapFromArgb(pixels, a->transparentColor, w, h, w, 0, &b, &m) ? uint32_t(ERR_MEM) : 0u;
  if (!code && a->hasAlpha) {
    al = AllocAlphaChannel(w, h, 0);
    if (al) ArgbToAlphaChannel(pixels, w, h, w, al->memory, al->bytesPerRow);
    else code = ERR_MEM;
  }
  FreeAnimFileFrame(a->animFile, pixels);
  if (code) {
    FreePlanes(b, m, al);
    return code;
  }
  *bitmap = b, *mask = m, *alpha = al;
  return 0;
}

// Frames of w x h are worked out before any is made: 0 when count of them (with their records
// and planes) fit in the memory the process may hold, else ERR_MEM.
uint32_t CheckFramesFit(int64_t count, int32_t w, int32_t h, bool withMask, bool withAlpha) {
  if (count <= 0) return 0;
  const uint64_t pixels = uint64_t(std::max(w, 1)) * uint64_t(std::max(h, 1));
  // Colour words, a mask bit and an alpha byte a pixel, and the records and table slots.
  const double perFrame = double(pixels) * 4 + (withMask ? double(pixels) / 8 + h : 0) +
                          (withAlpha ? double(pixels) : 0) + 256;
  return double(count) * perFrame > double(GetMemoryLimit()) ? uint32_t(ERR_MEM) : 0u;
}

// A frame of one colour, its mask or alpha channel fully visible or, with clear, transparent.
uint32_t MakeBlankFrame(int32_t w, int32_t h, uint32_t colour, bool withMask, bool withAlpha, bool clear,
                        qmBitmap **bitmap, qmMask **mask, qmAlphaChannel **alpha) {
  qmBitmap *b = AllocBitmap(w, h);
  qmMask *m = withMask ? AllocMask(w, h, 1) : nullptr;
  qmAlphaChannel *al = withAlpha ? AllocAlphaChannel(w, h, 1) : nullptr;
  if (!b || (withMask && !m) || (withAlpha && !al)) {
    FreePlanes(b, m, al);
    return ERR_MEM;
  }
  FillBitmapRect(b, 0, 0, w, h, colour & 0xFFFFFF);
  if (m && !clear) FillMaskRect(m, 0, 0, w, h, MASKVISIBLE);
  if (al && !clear) FillAlphaRect(al, 0, 0, w, h, 255);
  *bitmap = b, *mask = m, *alpha = al;
  return 0;
}

void DestroyAnim(qmObjectRegistry *objects, qmAnim *a) {
  RemoveObject(objects, &a->header);
  FreeAnimRecord(objects, a);
  MemFree(a);
}

}  // namespace

uint32_t CheckNotSelectedAnim(const qmScene *scene, const qmObjectId *id) {
  const qmDisplay *d = scene->current;
  if (!d) return 0;
  const uint32_t out = d->outputType;
  if (out != DISPOUT_BRUSH && out != DISPOUT_MASK && out != DISPOUT_ALPHA) return 0;
  if (d->doubleBuffer && scene->picture == d->doubleBufferBGPic) return 0;
  const qmBGPic *sel = d->selectBGPic;
  if (sel && sel->selectedType == QMTYPE_ANIM && sel->selectedId.id == id->id && sel->selectedId.handle == id->handle)
    return ERR_MODIFYAANIM;
  return 0;
}

uint32_t AnimFrameOutputPlanes(qmScene *scene, const qmObjectId *id, int32_t frame, uint32_t outputType,
                               int32_t prepare, qmPlaneSet *planes, int32_t *width, int32_t *height, void **record) {
  qmAnim *a = nullptr;
  if (uint32_t code = FindAnim(scene, id, &a, FINDANIM_MODIFY)) return code;
  if (a->onDisk) return ERR_ANIMDISK;
  if (frame < 1 || frame > a->frameCount) return ERR_ANIMFRAME;
  const int32_t i = frame - 1, w = a->width, h = a->height;
  if (prepare && outputType == DISPOUT_MASK) {
    if (!a->masks[i]) {
      qmMask *mask = AllocMask(w, h, 0);
      if (!mask) return ERR_MEM;
      FillMaskRect(mask, 0, 0, w, h, 0);
      a->masks[i] = mask;
    }
    FreeAlphaChannel(a->alphas[i]);
    a->alphas[i] = nullptr;
  } else if (prepare && outputType == DISPOUT_ALPHA) {
    if (!a->alphas[i]) {
      qmAlphaChannel *alpha = AllocAlphaChannel(w, h, 0);
      if (!alpha) return ERR_MEM;
      FillAlphaRect(alpha, 0, 0, w, h, 255);
      a->alphas[i] = alpha;
    }
    FreeMask(a->masks[i]);
    a->masks[i] = nullptr;
  }
  *planes = {a->bitmaps[i], a->masks[i], a->alphas[i]};
  *width = w, *height = h;
  *record = a;
  return 0;
}

uint32_t FindAnim(qmScene *scene, const qmObjectId *id, qmAnim **out, int32_t flags) {
  auto *a = reinterpret_cast<qmAnim *>(FindObject(scene->objects, QMTYPE_ANIM, id));
  if (!a || (a->freed && !(flags & FINDANIM_FREED))) return MissingObjectError(id, ERR_FINDANIM);
  if (flags & FINDANIM_MODIFY) {
    if (a->lockCount) return ERR_LOCKEDOBJ;
    // Layers that show the anim keep what they show: they get a copy of their own, which
    // lives flagged for them alone.
    if (!(flags & FINDANIM_NOCOPY) && LayersShowing(scene, id) > 0) {
      qmObjectId copyId{0, 1};
      qmAnim *copy = nullptr;
      if (uint32_t code = CopyAnimRecord(scene->objects, a, &copyId, &copy)) return code;
      copy->freed = 1;
      RebindLayerObjectId(scene, QMTYPE_ANIM, id, &copyId);
    }
  }
  *out = a;
  return 0;
}

uint32_t NewAnimRecord(qmObjectRegistry *objects, qmObjectId *id, int32_t width, int32_t height, uint32_t **rawFrames,
                       qmBitmap **bitmaps, qmMask **masks, qmAlphaChannel **alphas, int32_t frameCount,
                       uint32_t transparentColor, uint32_t hasAlpha, uint32_t onDisk, qmAnim **out) {
  auto *a = static_cast<qmAnim *>(MemAlloc(sizeof(qmAnim), 1));
  if (!a) return ERR_MEM;
  SetObjectHeader(&a->header, QMTYPE_ANIM, id);
  a->width = a->nativeWidth = width;
  a->height = a->nativeHeight = height;
  a->rawFrames = rawFrames;
  a->bitmaps = bitmaps;
  a->masks = masks;
  a->alphas = alphas;
  a->frameCount = frameCount;
  a->transparentColor = transparentColor;
  a->hasAlpha = hasAlpha;
  a->onDisk = onDisk;
  if (uint32_t code = ListNewObject(objects, &a->header, a, id)) return code;
  if (out) *out = a;
  return 0;
}

uint32_t NewBlankAnim(qmObjectRegistry *objects, qmObjectId *id, int32_t width, int32_t height, int32_t frames,
                      uint32_t colour, int32_t withMask, int32_t withAlpha, int32_t clear, qmAnim **out) {
  if (uint32_t code = CheckFramesFit(frames, width, height, withMask, withAlpha)) return code;
  qmBitmap **bitmaps = AllocSlots<qmBitmap>(frames);
  qmMask **masks = AllocSlots<qmMask>(frames);
  qmAlphaChannel **alphas = AllocSlots<qmAlphaChannel>(frames);
  uint32_t **raw = AllocSlots<uint32_t>(frames);
  uint32_t *delays = AllocDelays(frames);
  uint32_t code = (!bitmaps || !masks || !alphas || !raw || !delays) ? uint32_t(ERR_MEM) : 0u;
  for (int32_t i = 0; !code && i < frames; i++)
    code = MakeBlankFrame(width, height, colour, withMask, withAlpha, clear, &bitmaps[i], &masks[i], &alphas[i]);
  qmAnim *a = nullptr;
  if (!code)
    code = NewAnimRecord(objects, id, width, height, raw, bitmaps, masks, alphas, frames,
                         withMask ? kOwnMaskColor : kNoTransparentColor, 0, 0, &a);
  if (code) {
    for (int32_t i = 0; bitmaps && i < frames; i++)
      FreePlanes(bitmaps[i], masks ? masks[i] : nullptr, alphas ? alphas[i] : nullptr);
    MemFree(bitmaps), MemFree(masks), MemFree(alphas), MemFree(raw), MemFree(delays);
    return code;
  }
  std::memset(delays, 0xFF, size_t(frames) * 4);
  a->delays = delays;
  if (out) *out = a;
  return 0;
}

void FreeAnimRecord(qmObjectRegistry *objects, qmAnim *a) {
  MemFree(a->delays);
  a->delays = nullptr;
  if (a->onDisk) {
    MemFree(a->fileName);
    a->fileName = nullptr;
  } else {
    FreeFrameArrays(a);
  }
  CloseAnimFile(a->animFile);
  a->animFile = nullptr;
  FreeObjectDataList(objects, static_cast<qmObjectData *>(a->header.userData));
  a->header.userData = nullptr;
}

uint32_t DeleteAnim(qmScene *scene, const qmObjectId *id, int32_t reportMissing) {
  if (uint32_t code = CheckNotSelectedAnim(scene, id)) return code;
  qmAnim *a = nullptr;
  if (uint32_t code = FindAnim(scene, id, &a, 0)) return reportMissing ? code : 0;
  if (a->lockCount) return ERR_LOCKEDOBJ;
  // An anim that layers show lives on for them under its own address, flagged, until the last
  // of them goes; the id is free for a new anim at once.
  const qmObjectId was = IdOf(a), self{0, reinterpret_cast<uintptr_t>(a)};
  const bool shown = LayersShowing(scene, &was) > 0;
  RemoveObject(scene->objects, &a->header);
  if (shown) {
    a->header.id = 0;
    a->header.handle = self.handle;
    a->freed = 1;
    const bool listed = AddObject(scene->objects, &a->header) == 0;
    // Listed again, it goes on lending its frames to the layers; else they cannot reach it, take
    // copies of what they show, and it goes now.
    RebindLayerObjectId(scene, QMTYPE_ANIM, &was, &self);
    if (listed) return 0;
  }
  FreeAnimRecord(scene->objects, a);
  MemFree(a);
  return 0;
}

void PurgeFreedAnims(qmScene *scene) {
  for (qmObjectHeader *h = FirstObject(scene->objects, QMTYPE_ANIM); h;) {
    auto *a = reinterpret_cast<qmAnim *>(h);
    h = h->next;
    const qmObjectId id = IdOf(a);
    if (a->freed && LayersShowing(scene, &id) == 0) DestroyAnim(scene->objects, a);
  }
}

void FreeAllAnims(qmObjectRegistry *objects) {
  while (qmObjectHeader *h = FirstObject(objects, QMTYPE_ANIM)) DestroyAnim(objects, reinterpret_cast<qmAnim *>(h));
}

uint32_t FetchAnimFrame(qmAnim *a, int32_t index, int32_t copy, int32_t nativeSize, qmBitmap **bitmap, qmMask **mask,
                        qmAlphaChannel **alpha) {
  if (index < 0 || index >= a->frameCount) return ERR_ANIMFRAME;
  qmBitmap *b = nullptr;
  qmMask *m = nullptr;
  qmAlphaChannel *al = nullptr;
  if (a->onDisk) {
    if (!a->animFile) return ERR_LOADFRAME;
    if (uint32_t code = DecodeDiskFrame(a, index, &b, &m, &al)) return code;
    if (!nativeSize && (a->width != a->nativeWidth || a->height != a->nativeHeight)) {
      qmScaleOutputs s{};
      const uint32_t code = ScaleBitmap(b, m, al, 0, 0, nullptr, a->nativeWidth, a->nativeHeight, a->width, a->height,
                                        int32_t(a->smoothScale), &s);
      FreePlanes(b, m, al);
      if (code) return code;
      b = s.bitmap, m = s.mask, al = s.alpha;
    }
  } else {
    if (uint32_t code = RealizeFrame(a, index)) return code;
    b = a->bitmaps[index], m = a->masks[index], al = a->alphas[index];
    if (copy) {
      qmBitmap *cb = nullptr;
      qmMask *cm = nullptr;
      qmAlphaChannel *ca = nullptr;
      if (uint32_t code = CopyBitmap(b, m, al, 0, 0, a->width, a->height, 0, &cb, m ? &cm : nullptr,
                                     al ? &ca : nullptr))
        return code;
      b = cb, m = cm, al = ca;
    }
  }
  *bitmap = b;
  if (mask) *mask = m;
  else if (a->onDisk || copy) FreeMask(m);
  if (alpha) *alpha = al;
  else if (a->onDisk || copy) FreeAlphaChannel(al);
  return 0;
}

uint32_t GetAnimFrameDelay(const qmAnim *a, int32_t index) {
  if (index < 0 || index >= a->frameCount || !a->delays) return 0;
  if (a->delays[index] != kAnimDelayUnset) return a->delays[index];
  if (a->onDisk && a->animFile) return GetAnimFileFrameDelay(a->animFile, index);
  return 0;
}

uint32_t CopyAnimRecord(qmObjectRegistry *objects, const qmAnim *src, qmObjectId *newId, qmAnim **out) {
  const int32_t n = src->frameCount;
  qmAnimFile *file = nullptr;
  char *name = nullptr;
  int32_t nativeWidth = src->width, nativeHeight = src->height;
  qmBitmap **bitmaps = nullptr;
  qmMask **masks = nullptr;
  qmAlphaChannel **alphas = nullptr;
  uint32_t **raw = nullptr;
  uint32_t *delays = nullptr;
  qmObjectData *data = nullptr;
  uint32_t code = 0;
  if (src->onDisk) {
    int32_t frames = 0;
    code = ProbeAnimFile(src->fileName, src->animFile ? src->animFile->plugins : nullptr, &file, &nativeWidth,
                         &nativeHeight, &frames, nullptr);
    if (!code) {
      const size_t len = std::strlen(src->fileName) + 1;
      name = static_cast<char *>(MemAlloc(uint32_t(len), 0));
      if (name) std::memcpy(name, src->fileName, len);
      else code = ERR_MEM;
    }
  } else {
    bitmaps = AllocSlots<qmBitmap>(n);
    masks = AllocSlots<qmMask>(n);
    alphas = AllocSlots<qmAlphaChannel>(n);
    raw = AllocSlots<uint32_t>(n);
    if (!bitmaps || !masks || !alphas || !raw) code = ERR_MEM;
    // The source's frames are read through the fetch so that frames still raw are made first.
    auto *from = const_cast<qmAnim *>(src);
    for (int32_t i = 0; !code && i < n; i++)
      code = FetchAnimFrame(from, i, 1, 0, &bitmaps[i], &masks[i], &alphas[i]);
  }
  if (!code) {
    delays = AllocDelays(n);
    if (delays) std::memcpy(delays, src->delays, size_t(n) * 4);
    else code = ERR_MEM;
  }
  if (!code && src->header.userData)
    code = CopyObjectDataList(objects, static_cast<const qmObjectData *>(src->header.userData), &data);
  qmAnim *a = nullptr;
  if (!code)
    code = NewAnimRecord(objects, newId, src->width, src->height, raw, bitmaps, masks, alphas, n,
                         src->transparentColor, src->hasAlpha, src->onDisk, &a);
  if (code) {
    for (int32_t i = 0; bitmaps && i < n; i++) FreePlanes(bitmaps[i], masks ? masks[i] : nullptr, alphas ? alphas[i] : nullptr);
    MemFree(bitmaps), MemFree(masks), MemFree(alphas), MemFree(raw);
    MemFree(delays);
    MemFree(name);
    CloseAnimFile(file);
    FreeObjectDataList(objects, data);
    return code;
  }
  a->nativeWidth = nativeWidth;
  a->nativeHeight = nativeHeight;
  a->animFile = file;
  a->fileName = name;
  a->delays = delays;
  a->header.userData = data;
  if (out) *out = a;
  return 0;
}

uint32_t ChangeAnimFrameCount(qmScene *scene, const qmObjectId *id, int32_t count, int32_t position,
                              int32_t layerCall) {
  qmAnim *a = nullptr;
  if (uint32_t code = FindAnim(scene, id, &a, layerCall ? FINDANIM_FREED : FINDANIM_MODIFY)) return code;
  if (a->onDisk) return ERR_ANIMDISK;
  const int32_t old = a->frameCount;
  if (count == 0 || count <= -old || position < 0) return ERR_WRONGUSAGE;
  // Inserted frames must land inside the new arrays: at most right after the last frame.
  if (count > 0 && position > old + 1) return ERR_WRONGUSAGE;
  if (count < 0 && int64_t(position) + (-int64_t(count)) > int64_t(old) + 1) return ERR_WRONGUSAGE;
  if (int64_t(old) + count > INT32_MAX) return ERR_MEM;
  const int32_t n = old + count;
  const int32_t p = position ? position - 1 : (count > 0 ? old : n);
  if (count > 0) {
    if (uint32_t code = RealizeFrame(a, 0)) return code;
    if (uint32_t code = CheckFramesFit(count, a->width, a->height, a->masks[0], a->alphas[0])) return code;
  }

  qmBitmap **bitmaps = AllocSlots<qmBitmap>(n);
  qmMask **masks = AllocSlots<qmMask>(n);
  qmAlphaChannel **alphas = AllocSlots<qmAlphaChannel>(n);
  uint32_t **raw = AllocSlots<uint32_t>(n);
  uint32_t *delays = AllocDelays(n);
  uint32_t code = (!bitmaps || !masks || !alphas || !raw || !delays) ? uint32_t(ERR_MEM) : 0u;
  if (!code && count > 0) {
    if ((code = RealizeFrame(a, 0)) == 0) {
      const bool withMask = a->masks[0] != nullptr, withAlpha = a->alphas[0] != nullptr;
      for (int32_t i = p; !code && i < p + count; i++)
        code = MakeBlankFrame(a->width, a->height, 0, withMask, withAlpha, false, &bitmaps[i], &masks[i], &alphas[i]);
    }
  }
  if (code) {
    for (int32_t i = p; bitmaps && i < p + count && i < n; i++)
      FreePlanes(bitmaps[i], masks ? masks[i] : nullptr, alphas ? alphas[i] : nullptr);
    MemFree(bitmaps), MemFree(masks), MemFree(alphas), MemFree(raw), MemFree(delays);
    return code;
  }
  if (count > 0) {
    for (int32_t i = 0; i < old; i++) {
      const int32_t to = i < p ? i : i + count;
      bitmaps[to] = a->bitmaps[i], masks[to] = a->masks[i], alphas[to] = a->alphas[i], raw[to] = a->rawFrames[i];
      delays[to] = a->delays[i];
    }
    for (int32_t i = p; i < p + count; i++) delays[i] = kAnimDelayUnset;
  } else {
    const int32_t gone = -count;
    for (int32_t i = 0, to = 0; i < old; i++) {
      if (i >= p && i < p + gone) {
        FreePlanes(a->bitmaps[i], a->masks[i], a->alphas[i]);
        if (a->rawFrames[i]) FreeRawFrame(a, a->rawFrames[i]);
        continue;
      }
      bitmaps[to] = a->bitmaps[i], masks[to] = a->masks[i], alphas[to] = a->alphas[i], raw[to] = a->rawFrames[i];
      delays[to++] = a->delays[i];
    }
  }
  MemFree(a->bitmaps), MemFree(a->masks), MemFree(a->alphas), MemFree(a->rawFrames), MemFree(a->delays);
  a->bitmaps = bitmaps, a->masks = masks, a->alphas = alphas, a->rawFrames = raw, a->delays = delays;
  a->frameCount = n;
  return 0;
}

uint32_t ScaleAnimFrames(qmAnim *a, int32_t width, int32_t height, int32_t smooth) {
  if (width == a->width && height == a->height) return 0;
  if (a->onDisk) {
    a->width = width, a->height = height;
    a->smoothScale = smooth != 0;
    return 0;
  }
  const int32_t n = a->frameCount;
  // The scaled frames are made beside the old ones: all of them must fit before the first is.
  const bool withMask = a->masks && a->masks[0], withAlpha = a->alphas && a->alphas[0];
  if (uint32_t code = CheckFramesFit(n, width, height, withMask || a->hasAlpha, withAlpha || a->hasAlpha)) return code;
  qmBitmap **bitmaps = AllocSlots<qmBitmap>(n);
  qmMask **masks = AllocSlots<qmMask>(n);
  qmAlphaChannel **alphas = AllocSlots<qmAlphaChannel>(n);
  uint32_t code = (!bitmaps || !masks || !alphas) ? uint32_t(ERR_MEM) : 0u;
  for (int32_t i = 0; !code && i < n; i++) {
    if ((code = RealizeFrame(a, i))) break;
    qmScaleOutputs s{};
    code = ScaleBitmap(a->bitmaps[i], a->masks[i], a->alphas[i], 0, 0, nullptr, a->width, a->height, width, height,
                       smooth, &s);
    bitmaps[i] = s.bitmap, masks[i] = s.mask, alphas[i] = s.alpha;
  }
  if (code) {
    for (int32_t i = 0; bitmaps && i < n; i++) FreePlanes(bitmaps[i], masks ? masks[i] : nullptr, alphas ? alphas[i] : nullptr);
    MemFree(bitmaps), MemFree(masks), MemFree(alphas);
    return code;
  }
  for (int32_t i = 0; i < n; i++) FreePlanes(a->bitmaps[i], a->masks[i], a->alphas[i]);
  MemFree(a->bitmaps), MemFree(a->masks), MemFree(a->alphas);
  a->bitmaps = bitmaps, a->masks = masks, a->alphas = alphas;
  a->width = a->nativeWidth = width;
  a->height = a->nativeHeight = height;
  a->smoothScale = smooth != 0;
  return 0;
}

uint32_t ConvertPendingAnimFrames(qmObjectRegistry *objects, int32_t *failedLine) {
  for (qmObjectHeader *h = FirstObject(objects, QMTYPE_ANIM); h; h = h->next) {
    auto *a = reinterpret_cast<qmAnim *>(h);
    if (a->onDisk || !a->rawFrames) continue;
    for (int32_t i = 0; i < a->frameCount; i++)
      if (uint32_t code = RealizeFrame(a, i)) {
        if (failedLine) *failedLine = a->declLine;
        return code;
      }
    CloseAnimFile(a->animFile);
    a->animFile = nullptr;
  }
  return 0;
}

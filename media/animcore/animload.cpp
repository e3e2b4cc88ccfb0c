#include "media/animcore/animload.h"

#include <cstring>

#include "display/brush.h"
#include "display/scene.h"
#include "graphics/alpha_kernels.h"
#include "graphics/alphaops.h"
#include "graphics/bitmapops.h"
#include "graphics/blit.h"
#include "graphics/imagecache.h"
#include "media/animcore/anim.h"
#include "media/animcore/animfile.h"
#include "media/image/imageload.h"
#include "platform/memory.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"
#include "runtime/rttags.h"

namespace {

template <typename T> T **AllocSlots(int32_t n) {
  if (n < 1 || uint64_t(n) * sizeof(T *) > UINT32_MAX) return nullptr;
  return static_cast<T **>(MemAlloc(uint32_t(n) * sizeof(T *), 1));
}

uint32_t *AllocPixels(int32_t w, int32_t h) {
  const uint64_t bytes = uint64_t(w) * uint64_t(h) * 4;
  return bytes && bytes <= UINT32_MAX ? static_cast<uint32_t *>(MemAlloc(uint32_t(bytes), 0)) : nullptr;
}

// A new alpha channel from the top bytes of ARGB words.
qmAlphaChannel *AlphaFromArgb(const uint32_t *pixels, int32_t w, int32_t h, int32_t pitch) {
  qmAlphaChannel *a = AllocAlphaChannel(w, h, 0);
  if (a) ArgbToAlphaChannel(pixels, w, h, pitch, a->memory, a->bytesPerRow);
  return a;
}

// A rectangle of a raw picture as a new raw buffer without row gaps; rows step by the pitch.
uint32_t *CutRaw(const uint32_t *picture, int32_t pitch, int32_t x, int32_t y, int32_t w, int32_t h) {
  uint32_t *out = AllocPixels(w, h);
  if (!out) return nullptr;
  for (int32_t row = 0; row < h; row++)
    std::memcpy(out + size_t(row) * w, picture + (size_t(y) + row) * size_t(pitch) + x, size_t(w) * 4);
  return out;
}

// Where a frame comes from once the source was looked up.
struct qmFrameOrigin {
  const qmBitmap *bitmap = nullptr;
  const qmMask *mask = nullptr;
  const qmAlphaChannel *alpha = nullptr;
  const uint32_t *picture = nullptr;  // raw
  int32_t pitch = 0;
  int32_t width = 0, height = 0;
  qmAnim *anim = nullptr;
  bool fromFile = false, strip = false, takeOver = false;
};

uint32_t FindOrigin(qmScene *scene, const qmAnimSource *s, qmFrameOrigin *o, int32_t *count) {
  *count = 1;
  switch (s->sourceType) {
  case QMTYPE_BRUSH:
    if (s->hasSourceId) {
      qmBrush *b = nullptr;
      if (uint32_t code = FindBrush(scene->objects, &s->sourceId, &b, FINDBRUSH_NOVECTOR)) return code;
      o->bitmap = b->bitmap, o->mask = b->mask, o->alpha = b->alpha;
      o->width = b->width, o->height = b->height;
    } else {
      o->bitmap = s->bitmap, o->mask = s->mask, o->alpha = s->alpha;
      o->picture = s->picture, o->pitch = s->sourcePitch;
      o->width = s->sourceWidth, o->height = s->sourceHeight;
      o->takeOver = s->picture == nullptr;
    }
    o->strip = s->argCount >= 4;
    break;
  case QMTYPE_ANIM:
    if (s->animFile) {
      o->fromFile = true;
      o->width = s->sourceWidth, o->height = s->sourceHeight;
      *count = s->frames;
      return *count < 1 ? uint32_t(ERR_LOADFRAME) : 0u;
    }
    if (s->argCount > 3) return ERR_TOOMANYARGS;
    if (uint32_t code = FindAnim(scene, &s->sourceId, &o->anim, 0)) return code;
    o->width = o->anim->width, o->height = o->anim->height;
    *count = o->anim->frameCount;
    return 0;
  case QMTYPE_TEXTOBJECT: {
    if (s->argCount > 3) return ERR_TOOMANYARGS;
    const qmPlayerContext *ctx = scene->context;
    if (!ctx || !ctx->textObjectPicture) return MissingObjectError(&s->sourceId, ERR_FINDTEXTOBJECT);
    const qmBitmap *b = nullptr;
    const qmMask *m = nullptr, *a = nullptr;
    if (uint32_t code = ctx->textObjectPicture(scene, &s->sourceId, &b, &m, &a, &o->width, &o->height)) return code;
    o->bitmap = b, o->mask = m, o->alpha = a;
    return 0;
  }
  default: return ERR_WRONGUSAGE;
  }
  if (!o->strip) return 0;
  if (s->argCount < 7 || s->frameWidth < 1 || s->frameHeight < 1 || s->frames < 1) return ERR_WRONGUSAGE;
  const int64_t perRow = s->framesPerRow < 1 ? s->frames : s->framesPerRow;
  const int64_t rows = (s->frames + perRow - 1) / perRow;
  if (s->x < 0 || s->y < 0) return ERR_NEGCOORDS;
  if (s->x + s->frameWidth * perRow > o->width || s->y + rows * s->frameHeight > o->height) return ERR_BRUSHSIZE;
  *count = s->frames;
  return 0;
}

// Frame i of the origin into the slots.
uint32_t MakeFrame(const qmAnimSource *s, const qmFrameOrigin &o, int32_t i, bool preload, qmAnimFrames *f) {
  const int32_t w = f->width, h = f->height;
  if (o.fromFile) {
    uint32_t *pixels = LoadAnimFileFrame(s->animFile, i);
    if (!pixels) return ERR_LOADFRAME;
    uint32_t code = 0;
    if (s->loadAlpha && !(f->alphas[i] = AlphaFromArgb(pixels, w, h, w))) code = ERR_MEM;
    if (!code && preload) {
      f->rawFrames[i] = pixels;
      return 0;
    }
    if (!code && BitmapFromArgb(pixels, s->transparentColor, w, h, w, 0, &f->bitmaps[i], &f->masks[i])) code = ERR_MEM;
    FreeAnimFileFrame(s->animFile, pixels);
    return code;
  }
  if (o.anim) return FetchAnimFrame(o.anim, i, 1, 0, &f->bitmaps[i], &f->masks[i], &f->alphas[i]);
  int32_t x = 0, y = 0;
  if (o.strip) {
    const int32_t perRow = s->framesPerRow < 1 ? s->frames : s->framesPerRow;
    x = s->x + (i % perRow) * s->frameWidth;
    y = s->y + (i / perRow) * s->frameHeight;
  }
  if (o.picture) {
    // A raw picture's rows are its pitch apart, whatever its width.
    uint32_t *raw = CutRaw(o.picture, o.pitch, x, y, w, h);
    if (!raw) return ERR_MEM;
    if (o.alpha) {
      if (!o.strip) f->alphas[i] = const_cast<qmAlphaChannel *>(o.alpha);
      else if ((f->alphas[i] = AllocAlphaChannel(w, h, 0)) != nullptr)
        CombineAlphaRect(o.alpha, x, y, f->alphas[i], 0, 0, w, h, 0, 0);
      else return MemFree(raw), ERR_MEM;
    }
    if (preload) {
      f->rawFrames[i] = raw;
      return 0;
    }
    const uint32_t code =
        BitmapFromArgb(raw, s->transparentColor, w, h, w, 0, &f->bitmaps[i], &f->masks[i]) ? uint32_t(ERR_MEM) : 0u;
    MemFree(raw);
    return code;
  }
  if (o.takeOver && !o.strip) {
    f->bitmaps[i] = const_cast<qmBitmap *>(o.bitmap);
    f->masks[i] = const_cast<qmMask *>(o.mask);
    f->alphas[i] = const_cast<qmAlphaChannel *>(o.alpha);
    return 0;
  }
  return CopyBitmap(o.bitmap, o.mask, o.alpha, x, y, w, h, 0, &f->bitmaps[i], o.mask ? &f->masks[i] : nullptr,
                    o.alpha ? &f->alphas[i] : nullptr);
}

char *CopyText(const char *text) {
  const size_t len = std::strlen(text) + 1;
  auto *out = static_cast<char *>(MemAlloc(uint32_t(len), 0));
  if (out) std::memcpy(out, text, len);
  return out;
}

}  // namespace

void FreeAnimFrames(qmAnimFrames *f, qmAnimFile *file) {
  for (int32_t i = 0; i < f->count; i++) {
    if (f->bitmaps) FreeBitmap(f->bitmaps[i]);
    if (f->masks) FreeMask(f->masks[i]);
    if (f->alphas) FreeAlphaChannel(f->alphas[i]);
    if (f->rawFrames && f->rawFrames[i]) {
      if (file) FreeAnimFileFrame(file, f->rawFrames[i]);
      else MemFree(f->rawFrames[i]);
    }
  }
  MemFree(f->bitmaps), MemFree(f->masks), MemFree(f->alphas), MemFree(f->rawFrames);
  *f = {};
}

uint32_t MakeAnimFrames(qmScene *scene, const qmAnimSource *s, qmAnimFrames *out) {
  qmFrameOrigin o;
  int32_t n = 0;
  if (uint32_t code = FindOrigin(scene, s, &o, &n)) return code;
  qmAnimFrames f{};
  f.count = n;
  f.width = o.strip ? s->frameWidth : o.width;
  f.height = o.strip ? s->frameHeight : o.height;
  f.bitmaps = AllocSlots<qmBitmap>(n);
  f.masks = AllocSlots<qmMask>(n);
  f.alphas = AllocSlots<qmAlphaChannel>(n);
  f.rawFrames = AllocSlots<uint32_t>(n);
  uint32_t code = (!f.bitmaps || !f.masks || !f.alphas || !f.rawFrames) ? uint32_t(ERR_MEM) : 0u;
  const bool preload = DeclarationsRunning();
  for (int32_t i = 0; !code && i < n; i++) code = MakeFrame(s, o, i, preload, &f);
  if (code) {
    // Planes taken over from the source stay the source's.
    if (o.takeOver && !o.strip && f.bitmaps) f.bitmaps[0] = nullptr, f.masks[0] = nullptr, f.alphas[0] = nullptr;
    if (o.picture && !o.strip && f.alphas) f.alphas[0] = nullptr;
    FreeAnimFrames(&f, o.fromFile ? s->animFile : nullptr);
    return code;
  }
  *out = f;
  return 0;
}

uint32_t BuildAnimFrames(qmScene *scene, const qmAnimSource *s, qmObjectId *id, qmAnim **out) {
  const bool disk = s->onDisk && s->animFile;
  qmAnimFrames f{};
  int32_t n = s->frames, w = s->sourceWidth, h = s->sourceHeight;
  if (!disk) {
    if (uint32_t code = MakeAnimFrames(scene, s, &f)) return code;
    n = f.count, w = f.width, h = f.height;
  } else if (n < 1 || w < 1 || h < 1) {
    return ERR_LOADFRAME;
  }
  const bool keepFile = !disk && s->animFile && s->sourceType == QMTYPE_ANIM && DeclarationsRunning();
  auto *delays = n > 0 && uint64_t(n) * 4 <= UINT32_MAX ? static_cast<uint32_t *>(MemAlloc(uint32_t(n) * 4, 0)) : nullptr;
  char *name = disk ? CopyText(s->fileName) : nullptr;
  qmAnim *a = nullptr;
  uint32_t code = (!delays || (disk && !name)) ? uint32_t(ERR_MEM) : 0u;
  if (!code)
    code = NewAnimRecord(scene->objects, id, w, h, f.rawFrames, f.bitmaps, f.masks, f.alphas, n, s->transparentColor,
                         s->loadAlpha, disk ? 1 : 0, &a);
  if (code) {
    MemFree(delays);
    MemFree(name);
    // A decoded picture's planes taken over by its single frame go back to the caller.
    if (s->sourceType == QMTYPE_BRUSH && !s->hasSourceId && s->argCount < 4 && f.bitmaps) {
      if (!s->picture) f.bitmaps[0] = nullptr, f.masks[0] = nullptr;
      f.alphas[0] = nullptr;
    }
    FreeAnimFrames(&f, s->animFile);
    return code;
  }
  std::memset(delays, 0xFF, size_t(n) * 4);
  a->delays = delays;
  if (disk) {
    a->fileName = name;
    a->animFile = s->animFile;
  } else if (s->animFile && s->sourceType == QMTYPE_ANIM) {
    for (int32_t i = 0; i < n; i++) delays[i] = GetAnimFileFrameDelay(s->animFile, i);
    if (keepFile) a->animFile = s->animFile;
  }
  if (out) *out = a;
  return 0;
}

uint32_t CheckAnimLoadRequest(const qmAnimLoadRequest *r) {
  if (r->loadAlpha && r->transparentColor != kNoTransparentColor) return ERR_MASKNALPHA;
  if (r->frames && r->fromDisk) return ERR_WRONGUSAGE;
  return 0;
}

uint32_t LoadAnimObject(qmScene *scene, const qmAnimLoadRequest *r, qmObjectId *id, qmAnim **out) {
  if (uint32_t code = CheckAnimLoadRequest(r)) return code;
  const bool preload = DeclarationsRunning();
  qmAnimSource s{};
  s.fileName = r->file;
  s.transparentColor = r->transparentColor;
  s.loadAlpha = r->loadAlpha != 0;
  s.onDisk = r->fromDisk != 0;
  s.x = r->x, s.y = r->y;
  s.frameWidth = r->width, s.frameHeight = r->height;
  s.framesPerRow = r->framesPerRow;
  s.frames = r->frames;
  uint32_t *pixels = nullptr;
  int32_t w = 0, h = 0;
  int32_t pictureAlpha = 0;
  if (preload && r->cachedLoad && *r->cachedLoad) {
    uint32_t key = 0, alphaWord = 0;
    if (uint32_t code = FindCachedImage(scene ? scene->images : nullptr, r->cachedLoad, &w, &h, &key, &alphaWord, &pixels)) return code;
    pictureAlpha = int32_t(alphaWord);
  } else {
    qmAnimFile *file = nullptr;
    int32_t frames = 0;
    uint32_t hasAlpha = 0;
    if (!r->frames && ProbeAnimFile(r->file, r->plugins, &file, &w, &h, &frames, &hasAlpha) == 0) {
      if (r->loadAlpha && !hasAlpha) {
        CloseAnimFile(file);
        return ERR_NOALPHA;  // the file's name is the error argument
      }
      s.animFile = file;
      s.frames = frames;
    } else {
      uint32_t key = kNoTransparentColor;
      if (uint32_t code = LoadImageWithPlugins(r->plugins, r->file, nullptr, -1, 0, &pixels, nullptr, &key, &w, &h,
                                               &pictureAlpha))
        return code;
    }
  }
  if (!s.animFile && r->loadAlpha && !pictureAlpha) {
    FreeImagePixels(pixels);
    return ERR_NOALPHA;
  }
  uint32_t code = 0;
  if (pixels) {
    if (preload && r->cache && *r->cache)
      code = AddCachedImage(scene ? scene->images : nullptr, r->cache, w, h, kNoTransparentColor, uint32_t(pictureAlpha), pixels);
    // The loader's ARGB words keep the alpha the cache wants; a channel is made only for the anim.
    if (!code && r->loadAlpha && !(s.alpha = AlphaFromArgb(pixels, w, h, w))) code = ERR_MEM;
    if (!code && !preload) {
      if (BitmapFromArgb(pixels, r->transparentColor, w, h, w, 0, &s.bitmap, &s.mask)) code = ERR_MEM;
      FreeImagePixels(pixels);
      pixels = nullptr;
    }
    if (code) {
      FreeImagePixels(pixels);
      FreeAlphaChannel(s.alpha);
      return code;
    }
    s.onDisk = 0;  // a picture cannot be disk-based
  }
  s.picture = pixels;
  s.sourcePitch = w;
  s.sourceType = s.animFile ? QMTYPE_ANIM : QMTYPE_BRUSH;
  s.sourceWidth = w, s.sourceHeight = h;
  s.argCount = r->width > 0 && r->height > 0 ? 7 : 3;
  // A file's frames are its own: the strip options apply to pictures only.
  if (s.animFile) s.argCount = 3;
  qmAnim *a = nullptr;
  code = BuildAnimFrames(scene, &s, id, &a);
  const bool strip = s.argCount == 7;
  // A picture's planes belong to the anim only as its single frame.
  if (!s.animFile && (strip || code)) FreePlanes(s.bitmap, s.mask, s.alpha);
  FreeImagePixels(pixels);
  if (code) {
    CloseAnimFile(s.animFile);
    return code;
  }
  if (s.animFile && a->animFile != s.animFile) CloseAnimFile(s.animFile);
  if (out) *out = a;
  return 0;
}

uint32_t LoadAnimFileFramePlanes(const char *file, const qmFormatPlugins *plugins, int32_t frame,
                                 uint32_t transparentColor, int32_t loadAlpha, qmBitmap **bitmap, qmMask **mask,
                                 qmAlphaChannel **alpha, int32_t *width, int32_t *height) {
  qmAnimFile *f = nullptr;
  int32_t w = 0, h = 0, frames = 0;
  uint32_t hasAlpha = 0;
  if (uint32_t code = ProbeAnimFile(file, plugins, &f, &w, &h, &frames, &hasAlpha)) return code;
  uint32_t code = 0;
  if (loadAlpha && !hasAlpha) code = ERR_NOALPHA;
  // Frame numbers count from 1, so 0 names no frame; -1 is the last.
  const int32_t index = frame == -1 ? frames - 1 : frame < 1 ? -1 : frame - 1;  // -2^31 has none before it
  if (!code && (frame == 0 || index < 0 || index >= frames)) code = ERR_ANIMFRAME;
  uint32_t *pixels = code ? nullptr : LoadAnimFileFrame(f, index);
  if (!code && !pixels) code = ERR_LOADFRAME;
  qmBitmap *b = nullptr;
  qmMask *m = nullptr;
  qmAlphaChannel *a = nullptr;
  if (!code && BitmapFromArgb(pixels, transparentColor, w, h, w, 0, &b, &m)) code = ERR_MEM;
  if (!code && loadAlpha && !(a = AlphaFromArgb(pixels, w, h, w))) code = ERR_MEM;
  FreeAnimFileFrame(f, pixels);
  CloseAnimFile(f);
  if (code) {
    FreePlanes(b, m, a);
    return code;
  }
  *bitmap = b, *mask = m, *alpha = a;
  *width = w, *height = h;
  return 0;
}

#include "media/animcore/animsave.h"

#include "display/brush.h"
#include "display/position.h"
#include "graphics/alphaops.h"
#include "graphics/blit.h"
#include "graphics/geometry.h"
#include "graphics/quantize.h"
#include "media/animcore/anim.h"
#include "media/animcore/gif.h"
#include "media/videocore/aviwriter.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"
#include "runtime/vnames.h"

namespace {

uint32_t CheckOptions(const qmAnimSaveOptions *o) {
  if (o->useAlpha && o->transparentColour != kNoTransparentColor) return ERR_MASKNALPHA;
  if (o->colors < 2 || o->colors > 256) return ERR_WRONGUSAGE;
  return 0;
}

// The writer of a format: GIF, or motion-JPEG AVI at the options' frame rate and quality
// (titled with the file's display name); plug-in savers are not in this player.
uint32_t OpenWriter(const char *file, int32_t width, int32_t height, int32_t format, const qmAnimSaveOptions *o,
                    qmGifWriter **gif, qmAviWriter **avi) {
  if (format == ANMFMT_GIF) return GifCreate(file, width, height, gif);
  if (format != ANMFMT_MJPEG) return ERR_UNKNOWNANMOUT;
  char title[1024];
  ChunkDisplayNameInto(file, title, sizeof title);
  return AviCreate(file, o->fps, 1, width, height, o->quality, 0, 0, title, nullptr, avi);
}

uint32_t CloseWriter(qmGifWriter *gif, qmAviWriter *avi) { return avi ? AviClose(avi) : GifClose(gif); }

// The picture reduced to the palette and written as the GIF's next frame. Without a
// transparent colour the quantizer still keeps the last entry free, which the writer flags
// transparent; with one that entry is the colour.
uint32_t WriteGifFrame(qmGifWriter *gif, const qmBitmap *bitmap, int32_t width, int32_t height, int32_t delay,
                       int32_t colors, uint32_t transparent, int32_t dither, int32_t optimize, uint8_t *indices) {
  uint32_t *argb = BitmapToArgb(bitmap, width, height);
  if (!argb) return ERR_LOCKBMAP;
  uint32_t palette[256] = {};
  int32_t count = 0;
  const uint32_t key = transparent == kNoTransparentColor ? transparent : transparent & 0xFFFFFF;
  const int32_t ok = QuantizeImage(argb, width, height, width, colors, key, key == kNoTransparentColor, dither,
                                   indices, palette, &count);
  MemFree(argb);
  if (!ok) return ERR_MEM;
  return GifWriteFrame(gif, indices, width, height, delay, palette, count,
                       key == kNoTransparentColor ? -1 : count - 1, optimize);
}

uint8_t *AllocIndices(int32_t w, int32_t h) {
  const uint64_t n = uint64_t(w) * uint64_t(h);
  return n && n <= UINT32_MAX ? static_cast<uint8_t *>(MemAlloc(uint32_t(n), 0)) : nullptr;
}

}  // namespace

uint32_t SaveAnimCore(qmAnim *anim, const char *file, int32_t format, const qmAnimSaveOptions *o) {
  if (uint32_t code = CheckOptions(o)) return code;
  qmGifWriter *gif = nullptr;
  qmAviWriter *avi = nullptr;
  if (uint32_t code = OpenWriter(file, anim->width, anim->height, format, o, &gif, &avi)) return code;
  // AVI frames are written in full colour; GIF frames go through the palette.
  uint8_t *indices = avi ? nullptr : AllocIndices(anim->width, anim->height);
  uint32_t code = indices || avi ? 0u : uint32_t(ERR_MEM);
  for (int32_t i = 0; !code && i < anim->frameCount; i++) {
    qmBitmap *b = nullptr;
    qmMask *m = nullptr;
    qmAlphaChannel *a = nullptr;
    if ((code = FetchAnimFrame(anim, i, 0, 0, &b, &m, &a))) break;
    if (avi)
      code = AviWriteFrame(avi, b, anim->width, anim->height, 1, 0);
    else
      code = WriteGifFrame(gif, b, anim->width, anim->height, int32_t(GetAnimFrameDelay(anim, i)), o->colors,
                           o->transparentColour, o->dither, o->optimize, indices);
    if (anim->onDisk) FreePlanes(b, m, a);
  }
  const uint32_t closed = CloseWriter(gif, avi);
  MemFree(indices);
  return code ? code : closed;
}

uint32_t FindAnimStream(const qmObjectRegistry *objects, const qmObjectId *id, qmAnimStream **out) {
  auto *s = reinterpret_cast<qmAnimStream *>(FindObject(objects, QMTYPE_ANIMSTREAM, id));
  if (!s) return MissingObjectError(id, ERR_FINDANIMSTREAM);
  *out = s;
  return 0;
}

uint32_t BeginAnimStream(qmObjectRegistry *objects, qmObjectId *id, const char *file, int32_t width, int32_t height,
                         int32_t format, const qmAnimSaveOptions *o, qmAnimStream **out) {
  if (!file || !*file || width < 1 || height < 1) return ERR_WRONGUSAGE;
  qmGifWriter *gif = nullptr;
  qmAviWriter *avi = nullptr;
  if (uint32_t code = OpenWriter(file, width, height, format, o, &gif, &avi)) return code;
  auto *s = static_cast<qmAnimStream *>(MemAlloc(sizeof(qmAnimStream), 1));
  if (!s) {
    CloseWriter(gif, avi);
    return ERR_MEM;
  }
  SetObjectHeader(&s->header, QMTYPE_ANIMSTREAM, id);
  s->width = width, s->height = height;
  s->writerKind = format;
  s->indexed = avi == nullptr;
  s->useAlpha = o->useAlpha;
  s->gif = gif;
  s->avi = avi;
  if (AddObject(objects, &s->header)) {
    CloseWriter(gif, avi);
    MemFree(s);
    return ERR_MEM;
  }
  id->handle = s->header.handle;
  if (out) *out = s;
  return 0;
}

uint32_t WriteAnimStreamFrame(qmScene *scene, qmAnimStream *s, const qmBitmap *bitmap, const qmMask *mask,
                              const qmAlphaChannel *alpha, int32_t width, int32_t height,
                              const qmAnimFrameOptions *o) {
  if (o->transparentColour != kNoTransparentColor && s->useAlpha) return ERR_MASKNALPHA;
  if (o->colors < 2 || o->colors > 256) return ERR_WRONGUSAGE;
  const int32_t x = ResolvePositionX(scene, o->x, width, s->width, 0);
  const int32_t y = ResolvePositionY(scene, o->y, height, s->height, 0);
  const qmBitmap *frame = bitmap;
  qmBitmap *made = nullptr;
  if (x != 0 || y != 0 || width != s->width || height != s->height) {
    // A frame of the stream's size: the transparent colour (black without one) around the
    // picture, which is laid on it with its mask or alpha channel.
    made = AllocBitmap(s->width, s->height);
    if (!made) return ERR_MEM;
    const uint32_t fill = o->transparentColour == kNoTransparentColor ? 0 : o->transparentColour & 0xFFFFFF;
    FillBitmapRect(made, 0, 0, s->width, s->height, fill);
    qmBlitRect r{0, 0, x, y, width, height};
    if (ClipBlitRect(nullptr, &r, width, height, s->width, s->height, 0)) {
      if (alpha) BltAlphaBitmap(bitmap, r.srcX, r.srcY, made, r.dstX, r.dstY, r.width, r.height, alpha);
      else if (mask) BltMask(bitmap, r.srcX, r.srcY, made, r.dstX, r.dstY, r.width, r.height, mask);
      else BltBitmap(bitmap, r.srcX, r.srcY, made, r.dstX, r.dstY, r.width, r.height);
    }
    frame = made;
  }
  uint8_t *indices = s->avi ? nullptr : AllocIndices(s->width, s->height);
  uint32_t code = indices || s->avi ? 0u : uint32_t(ERR_MEM);
  if (s->avi)
    code = AviWriteFrame(s->avi, frame, s->width, s->height, 1, 0);
  else if (!code)
    code = WriteGifFrame(s->gif, frame, s->width, s->height, o->delay, o->colors, o->transparentColour, o->dither,
                         o->optimize, indices);
  MemFree(indices);
  FreeBitmap(made);
  return code;
}

uint32_t CloseAnimStream(qmObjectRegistry *objects, const qmObjectId *id) {
  qmAnimStream *s = nullptr;
  if (uint32_t code = FindAnimStream(objects, id, &s)) return code;
  RemoveObject(objects, &s->header);
  const uint32_t code = CloseWriter(s->gif, s->avi);
  FreeObjectDataList(objects, static_cast<qmObjectData *>(s->header.userData));
  MemFree(s);
  return code;
}

void CloseAllAnimStreams(qmObjectRegistry *objects) {
  while (qmObjectHeader *h = FirstObject(objects, QMTYPE_ANIMSTREAM)) {
    const qmObjectId id{h->id, h->handle};
    if (CloseAnimStream(objects, &id) == ERR_FINDANIMSTREAM) break;
  }
}

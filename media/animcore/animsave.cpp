#include "media/animcore/animsave.h"

#include "display/brush.h"
#include "display/position.h"
#include "graphics/alpha_kernels.h"
#include "graphics/alphaops.h"
#include "graphics/blit.h"
#include "graphics/geometry.h"
#include "graphics/quantize.h"
#include "media/animcore/anim.h"
#include "media/animcore/gif.h"
#include "media/image/imagewriter.h"
#include "media/videocore/aviwriter.h"
#include "platform/file.h"
#include "platform/fileops.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"
#include "runtime/vnames.h"

namespace {

uint32_t CheckOptions(const qmAnimSaveOptions *o) {
  if (o->useAlpha && o->transparentColor != kNoTransparentColor) return ERR_MASKNALPHA;
  if (o->colors < 2 || o->colors > 256) return ERR_WRONGUSAGE;
  return 0;
}

// The writer of a format: GIF, or motion-JPEG AVI at the options' frame rate and quality
// (titled with the file's display name); saver plug-ins write the other numbers.
uint32_t OpenWriter(const char *file, int32_t width, int32_t height, int32_t format, const qmAnimSaveOptions *o,
                    qmGifWriter **gif, qmAviWriter **avi) {
  if (format == ANMFMT_GIF) return GifCreate(file, width, height, gif);
  if (format != ANMFMT_MJPEG) return ERR_UNKNOWNANMOUT;
  char title[1024];
  ChunkDisplayNameInto(file, title, sizeof title);
  return AviCreate(file, o->fps, 1, width, height, o->quality, 0, 0, title, nullptr, avi);
}

uint32_t CloseWriter(qmGifWriter *gif, qmAviWriter *avi) { return avi ? AviClose(avi) : GifClose(gif); }

// The picture reduced to at most colors palette entries. Without a transparent colour the
// quantizer still keeps the last entry free; with one that entry is the colour.
uint32_t ReduceFrame(const qmBitmap *bitmap, int32_t width, int32_t height, int32_t colors, uint32_t transparent,
                     int32_t dither, uint8_t *indices, uint32_t palette[256], int32_t *count) {
  uint32_t *argb = BitmapToArgb(bitmap, width, height);
  if (!argb) return ERR_LOCKBMAP;
  const uint32_t key = transparent == kNoTransparentColor ? transparent : transparent & 0xFFFFFF;
  const int32_t ok = QuantizeImage(argb, width, height, width, colors, key, key == kNoTransparentColor, dither,
                                   indices, palette, count);
  MemFree(argb);
  return ok ? 0 : uint32_t(ERR_MEM);
}

// The picture reduced to the palette and written as the GIF's next frame; the last entry,
// kept free without a transparent colour, is the one the writer flags transparent.
uint32_t WriteGifFrame(qmGifWriter *gif, const qmBitmap *bitmap, int32_t width, int32_t height, int32_t delay,
                       int32_t colors, uint32_t transparent, int32_t dither, int32_t optimize, uint8_t *indices) {
  uint32_t palette[256] = {};
  int32_t count = 0;
  if (uint32_t code = ReduceFrame(bitmap, width, height, colors, transparent, dither, indices, palette, &count))
    return code;
  return GifWriteFrame(gif, indices, width, height, delay, palette, count,
                       transparent == kNoTransparentColor ? -1 : count - 1, optimize);
}

uint8_t *AllocIndices(int32_t w, int32_t h) {
  const uint64_t n = uint64_t(w) * uint64_t(h);
  return n && n <= UINT32_MAX ? static_cast<uint8_t *>(MemAlloc(uint32_t(n), 0)) : nullptr;
}

// Format numbers that the player writes itself; the others belong to saver plug-ins.
bool IsSaverFormat(int32_t format) { return format != ANMFMT_GIF && format != ANMFMT_MJPEG; }

// The stream of the saver of the format: it takes ARGB words (flag bit 0) or palette indices,
// and usealpha needs a saver that keeps alpha (flag bit 2).
uint32_t BeginSaver(const char *file, int32_t width, int32_t height, int32_t format, const qmAnimSaveOptions *o,
                    qmAnimSaver *out) {
  const qmFormatPlugins *plugins = o->plugins;
  const int32_t flags = plugins ? plugins->animSaverFlags(format) : -1;
  if (flags < 0) return ERR_UNKNOWNANMOUT;
  if (o->useAlpha && !(flags & SAVERFLAG_ALPHA)) return ERR_SAVERALPHA;
  qmAnimSaver saver{plugins, {}, !(flags & SAVERFLAG_ARGB), o->useAlpha};
  const uint32_t begin = (o->useAlpha ? ANIMSAVE_ALPHA : 0u) | (saver.indexed ? ANIMSAVE_INDEXED : 0u);
  if (uint32_t code = plugins->beginAnimSave(format, file, width, height, begin, o->quality, o->fps, &saver.stream))
    return code;
  *out = saver;
  return 0;
}

void FinishSaver(qmAnimSaver *saver) {
  if (saver->plugins) saver->plugins->finishAnimSave(&saver->stream);
  saver->plugins = nullptr;
}

// One frame to a saver: palette indices (the transparent colour as the last entry), or ARGB
// words with the mask folded in and the alpha plane's bytes when the stream keeps alpha.
uint32_t WriteSaverFrame(const qmAnimSaver *saver, const qmBitmap *bitmap, const qmMask *mask,
                         const qmAlphaChannel *alpha, int32_t width, int32_t height, int32_t delay, int32_t colors,
                         uint32_t transparent, int32_t dither) {
  qmAnimSaveFrame frame{};
  frame.delay = delay;
  frame.transparentIndex = -1;
  uint32_t palette[256] = {};
  uint8_t *indices = nullptr;
  uint32_t *argb = nullptr;
  if (saver->indexed) {
    indices = AllocIndices(width, height);
    if (!indices) return ERR_MEM;
    if (uint32_t code = ReduceFrame(bitmap, width, height, colors, transparent, dither, indices, palette,
                                    &frame.colors)) {
      MemFree(indices);
      return code;
    }
    frame.pixels = indices;
    frame.palette = palette;
    frame.bytesPerRow = width;
    if (transparent != kNoTransparentColor) {
      frame.transparentIndex = frame.colors - 1;
      frame.flags |= ANIMSAVEFRAME_TRANSPARENT;
    }
  } else {
    const uint32_t fill = transparent == kNoTransparentColor ? 0 : transparent & 0xFFFFFF;
    argb = BitmapToArgbMasked(bitmap, width, height, mask, saver->useAlpha ? alpha : nullptr, fill, saver->useAlpha);
    if (!argb) return ERR_MEM;
    frame.pixels = argb;
    frame.bytesPerRow = width * 4;
    if (alpha && saver->useAlpha) frame.flags |= ANIMSAVEFRAME_ALPHA;
  }
  const uint32_t code = saver->plugins->writeAnimSaveFrame(&saver->stream, &frame);
  MemFree(indices);
  MemFree(argb);
  return code;
}

// Every frame of the anim through a saver; the stream is finished in every case.
uint32_t SaveAnimWithSaver(qmAnim *anim, const char *file, int32_t format, const qmAnimSaveOptions *o) {
  qmAnimSaver saver{};
  if (uint32_t code = BeginSaver(file, anim->width, anim->height, format, o, &saver)) return code;
  uint32_t code = 0;
  for (int32_t i = 0; !code && i < anim->frameCount; i++) {
    qmBitmap *b = nullptr;
    qmMask *m = nullptr;
    qmAlphaChannel *a = nullptr;
    if ((code = FetchAnimFrame(anim, i, 0, 0, &b, &m, &a))) break;
    code = WriteSaverFrame(&saver, b, m, a, anim->width, anim->height, int32_t(GetAnimFrameDelay(anim, i)), o->colors,
                           o->transparentColor, o->dither);
    if (anim->onDisk) FreePlanes(b, m, a);
  }
  FinishSaver(&saver);
  return code;
}

}  // namespace

uint32_t SaveAnimCore(qmAnim *anim, const char *file, int32_t format, const qmAnimSaveOptions *o) {
  if (uint32_t code = CheckOptions(o)) return code;
  if (IsSaverFormat(format)) return SaveAnimWithSaver(anim, file, format, o);
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
                           o->transparentColor, o->dither, o->optimize, indices);
    if (anim->onDisk) FreePlanes(b, m, a);
  }
  const uint32_t closed = CloseWriter(gif, avi);
  MemFree(indices);
  // A file this command made and could not finish does not stay behind.
  if (code || closed) RemoveFailedOutput(file);
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
  qmAnimSaver saver{};
  if (uint32_t code = IsSaverFormat(format) ? BeginSaver(file, width, height, format, o, &saver)
                                            : OpenWriter(file, width, height, format, o, &gif, &avi))
    return code;
  auto *s = static_cast<qmAnimStream *>(MemAlloc(sizeof(qmAnimStream), 1));
  if (!s) {
    FinishSaver(&saver);
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
  s->saver = saver;
  if (saver.plugins) s->indexed = saver.indexed;
  if (uint32_t code = ListNewObject(objects, &s->header, s, id)) {
    // The record is gone; the writers it was handed are still open.
    FinishSaver(&saver);
    CloseWriter(gif, avi);
    return code;
  }
  if (out) *out = s;
  return 0;
}

uint32_t WriteAnimStreamFrame(qmScene *scene, qmAnimStream *s, const qmBitmap *bitmap, const qmMask *mask,
                              const qmAlphaChannel *alpha, int32_t width, int32_t height,
                              const qmAnimFrameOptions *o) {
  if (o->transparentColor != kNoTransparentColor && s->useAlpha) return ERR_MASKNALPHA;
  if (o->colors < 2 || o->colors > 256) return ERR_WRONGUSAGE;
  const int32_t x = ResolvePositionX(scene, o->x, width, s->width, 0);
  const int32_t y = ResolvePositionY(scene, o->y, height, s->height, 0);
  const qmBitmap *frame = bitmap;
  qmBitmap *made = nullptr;
  qmMask *madeMask = nullptr;
  qmAlphaChannel *madeAlpha = nullptr;
  const bool saver = s->saver.plugins != nullptr;
  if (x != 0 || y != 0 || width != s->width || height != s->height) {
    // A frame of the stream's size: the transparent colour (black without one) around the
    // picture, which is laid on it with its mask or alpha channel. A saver also gets the
    // picture's plane, cleared around it; one keeping alpha gets the picture's own colours.
    made = AllocBitmap(s->width, s->height);
    if (saver && alpha) madeAlpha = AllocAlphaChannel(s->width, s->height, 1);
    else if (saver && mask) madeMask = AllocMask(s->width, s->height, 1);
    if (!made || (saver && alpha && !madeAlpha) || (saver && !alpha && mask && !madeMask)) {
      FreePlanes(made, madeMask, madeAlpha);
      return ERR_MEM;
    }
    const uint32_t fill = o->transparentColor == kNoTransparentColor ? 0 : o->transparentColor & 0xFFFFFF;
    FillBitmapRect(made, 0, 0, s->width, s->height, fill);
    qmBlitRect r{0, 0, x, y, width, height};
    if (ClipBlitRect(nullptr, &r, width, height, s->width, s->height, 0)) {
      if (alpha && !(saver && s->saver.useAlpha))
        BltAlphaBitmap(bitmap, r.srcX, r.srcY, made, r.dstX, r.dstY, r.width, r.height, alpha);
      else if (mask && !alpha) BltMask(bitmap, r.srcX, r.srcY, made, r.dstX, r.dstY, r.width, r.height, mask);
      else BltBitmap(bitmap, r.srcX, r.srcY, made, r.dstX, r.dstY, r.width, r.height);
      if (madeAlpha) CombineAlphaRect(alpha, r.srcX, r.srcY, madeAlpha, r.dstX, r.dstY, r.width, r.height, 0, 0);
      if (madeMask) CopyMaskRect(mask, r.srcX, r.srcY, madeMask, r.dstX, r.dstY, r.width, r.height, MASKVANILLACOPY);
    }
    frame = made;
  }
  uint32_t code = 0;
  if (saver) {
    code = made ? WriteSaverFrame(&s->saver, made, madeMask, madeAlpha, s->width, s->height, o->delay, o->colors,
                                  o->transparentColor, o->dither)
                : WriteSaverFrame(&s->saver, bitmap, mask, alpha, s->width, s->height, o->delay, o->colors,
                                  o->transparentColor, o->dither);
  } else if (s->avi) {
    code = AviWriteFrame(s->avi, frame, s->width, s->height, 1, 0);
  } else {
    uint8_t *indices = AllocIndices(s->width, s->height);
    code = indices ? 0u : uint32_t(ERR_MEM);
    if (!code)
      code = WriteGifFrame(s->gif, frame, s->width, s->height, o->delay, o->colors, o->transparentColor, o->dither,
                           o->optimize, indices);
    MemFree(indices);
  }
  FreePlanes(made, madeMask, madeAlpha);
  return code;
}

uint32_t CloseAnimStream(qmObjectRegistry *objects, const qmObjectId *id) {
  qmAnimStream *s = nullptr;
  if (uint32_t code = FindAnimStream(objects, id, &s)) return code;
  RemoveObject(objects, &s->header);
  uint32_t code = 0;
  if (s->saver.plugins) FinishSaver(&s->saver);
  else code = CloseWriter(s->gif, s->avi);
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

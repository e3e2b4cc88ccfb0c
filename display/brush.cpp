#include "display/brush.h"

#include <cstring>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/displayops.h"
#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "media/image/imagewriter.h"
#include "media/image/pluginimage.h"
#include "graphics/alphaops.h"
#include "graphics/bitmapops.h"
#include "display/scene.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"

void FreePlanes(qmBitmap *bitmap, qmMask *mask, qmAlphaChannel *alpha) {
  FreeBitmap(bitmap);
  FreeMask(mask);
  FreeAlphaChannel(alpha);
}

uint32_t CheckNotSelectedBrush(const qmScene *scene, const qmObjectId *id) {
  const qmDisplay *d = scene->current;
  if (!d) return 0;
  const uint32_t out = d->outputType;
  if (out != DISPOUT_BRUSH && out != DISPOUT_MASK && out != DISPOUT_ALPHA) return 0;
  // While double buffering the output is the back buffer, not a brush.
  if (d->doubleBuffer && scene->picture == d->doubleBufferBGPic) return 0;
  const qmBGPic *sel = d->selectBGPic;
  if (sel && sel->selectedType == QMTYPE_BRUSH && sel->selectedId.id == id->id && sel->selectedId.handle == id->handle)
    return ERR_MODIFYABR;
  return 0;
}

namespace {
// The bitmap (and the colour-key mask) of a brush kept as decoded pixels.
uint32_t RealizeBrush(qmBrush *b) {
  qmBitmap *bitmap = nullptr;
  qmMask *mask = nullptr;
  if (BitmapFromArgb(b->preloadPixels, b->transparentColor, b->width, b->height, b->sourcePitch, 0, &bitmap, &mask))
    return ERR_MEM;
  MemFree(b->preloadPixels);
  b->preloadPixels = nullptr;
  b->bitmap = bitmap;
  b->mask = mask;
  b->sourcePitch = b->width;
  return 0;
}
}  // namespace

uint32_t RealizePreloadedBrushes(const qmObjectRegistry *objects, int32_t *failedLine) {
  for (qmObjectHeader *h = FirstObject(objects, QMTYPE_BRUSH); h; h = h->next) {
    auto *b = reinterpret_cast<qmBrush *>(h);
    if (b->preloadPixels)
      if (uint32_t code = RealizeBrush(b)) {
        if (failedLine) *failedLine = b->declLine;
        return code;
      }
  }
  return 0;
}

uint32_t FindBrush(const qmObjectRegistry *objects, const qmObjectId *id, qmBrush **out, int32_t flags) {
  // A flagged record keeps only its own handle, so no number finds it.
  auto *b = reinterpret_cast<qmBrush *>(FindObject(objects, QMTYPE_BRUSH, id));
  if (!b) return MissingObjectError(id, ERR_FINDBRUSH);
  if ((flags & FINDBRUSH_NOVECTOR) && b->kind == BRUSHKIND_VECTOR) return ERR_BRUSHTYPE;
  if (!(flags & FINDBRUSH_HARDWARE) && b->hardware) return ERR_HWBRUSH;
  if (b->deleted && !(flags & FINDBRUSH_DELETED)) return MissingObjectError(id, ERR_FINDBRUSH);
  if ((flags & FINDBRUSH_MODIFY) && b->lock) return ERR_LOCKEDOBJ;
  if (b->preloadPixels)
    if (uint32_t code = RealizeBrush(b)) return code;
  // Layers that show the brush would get their own copy here; a display without layers has
  // none to give.
  *out = b;
  return 0;
}

uint32_t NewBrushRecord(qmObjectRegistry *objects, qmObjectId *id, uint32_t kind, int32_t width, int32_t height,
                        int32_t sourcePitch, uint32_t transformed, void *sourceImage, qmBitmap *bitmap,
                        uint32_t transparentColor, qmMask *mask, qmAlphaChannel *alpha, qmBrush **out) {
  auto *b = static_cast<qmBrush *>(MemAlloc(sizeof(qmBrush), 1));
  if (!b) return ERR_MEM;
  SetObjectHeader(&b->header, QMTYPE_BRUSH, id);
  b->kind = kind;
  b->width = width;
  b->height = height;
  b->sourcePitch = sourcePitch;
  b->transformed = transformed;
  b->sourceImage = sourceImage;
  b->bitmap = bitmap;
  b->mask = mask;
  b->alpha = alpha;
  b->transparentColor = transparentColor;
  if (uint32_t code = ListNewObject(objects, &b->header, b, id)) return code;
  if (out) *out = b;
  return 0;
}

uint32_t CreateBrushNode(qmObjectRegistry *objects, qmObjectId *id, int32_t width, int32_t height, uint32_t color,
                         int32_t withMask, int32_t withAlpha, int32_t clearPlanes, int32_t noFill, qmBrush **out) {
  qmBitmap *bitmap = AllocBitmap(width, height);
  qmMask *mask = nullptr;
  qmAlphaChannel *alpha = nullptr;
  bool ok = bitmap != nullptr;
  if (ok && withMask) ok = (mask = AllocMask(width, height, 1)) != nullptr;
  if (ok && withAlpha) ok = (alpha = AllocAlphaChannel(width, height, 1)) != nullptr;
  if (!ok) {
    FreePlanes(bitmap, mask, alpha);
    return ERR_MEM;
  }
  if (!noFill) FillBitmapRect(bitmap, 0, 0, width, height, color & 0xFFFFFF);
  if (mask && !clearPlanes) FillMaskRect(mask, 0, 0, width, height, 0);
  if (alpha && !clearPlanes) FillAlphaRect(alpha, 0, 0, width, height, 255);
  const uint32_t key = mask ? kOwnMaskColor : kNoTransparentColor;
  if (uint32_t code = NewBrushRecord(objects, id, BRUSHKIND_PIXEL, width, height, width, 0, nullptr, bitmap, key, mask,
                                     alpha, out)) {
    FreePlanes(bitmap, mask, alpha);
    return code;
  }
  return 0;
}

uint32_t NewBrushFromArgb(qmObjectRegistry *objects, qmObjectId *id, const uint32_t *argb, int32_t width,
                          int32_t height, int32_t hasAlpha, qmBrush **out) {
  qmBitmap *bitmap = nullptr;
  qmMask *mask = nullptr;
  qmAlphaChannel *alpha = nullptr;
  if (BitmapFromArgb(argb, kNoTransparentColor, width, height, width, 0, &bitmap, &mask) != 0) return ERR_MEM;
  if (hasAlpha) {
    alpha = AllocAlphaChannel(width, height, 0);
    if (!alpha) {
      FreePlanes(bitmap, mask, nullptr);
      return ERR_MEM;
    }
    ArgbToAlphaChannel(argb, width, height, width, alpha->memory, alpha->bytesPerRow);
  }
  if (uint32_t code = NewBrushRecord(objects, id, BRUSHKIND_PIXEL, width, height, width, 0, nullptr, bitmap,
                                     kNoTransparentColor, mask, alpha, out)) {
    FreePlanes(bitmap, mask, alpha);
    return code;
  }
  return 0;
}

uint32_t *BrushToArgb(const qmBrush *brush, int32_t *hasAlpha) {
  *hasAlpha = brush->mask || brush->alpha;
  return BitmapToArgbMasked(brush->bitmap, brush->width, brush->height, brush->mask, brush->alpha, 0xFFFFFFFFu, 1);
}

uint32_t RenderVectorBrushPlanes(const qmBrush *b, const double values[6], int32_t width, int32_t height, bool turned,
                                 qmBitmap **bitmapOut, qmMask **maskOut, qmAlphaChannel **alphaOut, int32_t *ownMask) {
  *bitmapOut = nullptr, *maskOut = nullptr, *alphaOut = nullptr, *ownMask = 0;
  const auto *source = static_cast<const qmPluginImage *>(b->sourceImage);
  if (b->kind != BRUSHKIND_VECTOR || !source) return ERR_BRUSHTYPE;
  uint32_t *pixels = nullptr;
  if (uint32_t code = TransformPluginImage(source, values, width, height, &pixels)) return code;
  qmBitmap *bitmap = nullptr;
  qmMask *mask = nullptr;
  qmAlphaChannel *alpha = nullptr;
  // A colour key keyed into the old mask keys the new one.
  const uint32_t key = b->mask && b->transparentColor != kOwnMaskColor ? b->transparentColor : kNoTransparentColor;
  uint32_t code = uint32_t(BitmapFromArgb(pixels, key, width, height, width, 0, &bitmap, &mask));
  const bool hideOutside = turned && !b->alpha && !mask;
  if (!code && (b->alpha || hideOutside)) {
    if ((alpha = AllocAlphaChannel(width, height, 0)) != nullptr)
      ArgbToAlphaChannel(pixels, width, height, width, alpha->memory, alpha->bytesPerRow);
    else
      code = ERR_MEM;
  }
  if (!code && hideOutside) {
    mask = AllocMask(width, height, 1);
    if (mask) MaskFromAlphaRect(alpha, 0, 0, mask, 0, 0, width, height, MASKVANILLACOPY);
    else code = ERR_MEM;
    FreeAlphaChannel(alpha);
    alpha = nullptr;
  }
  FreeImagePixels(pixels);
  if (code) {
    FreePlanes(bitmap, mask, alpha);
    return code;
  }
  *bitmapOut = bitmap, *maskOut = mask, *alphaOut = alpha;
  *ownMask = hideOutside ? 1 : 0;
  return 0;
}

uint32_t CopyBrushRecord(qmObjectRegistry *objects, const qmBrush *src, qmObjectId *newId, int32_t, qmBrush **out) {
  // Hardware copies are software copies here: the platform has no video-memory bitmaps.
  qmBitmap *bitmap = nullptr;
  qmMask *mask = nullptr;
  qmAlphaChannel *alpha = nullptr;
  if (uint32_t code = CopyBitmap(src->bitmap, src->mask, src->alpha, 0, 0, src->width, src->height, 0, &bitmap, &mask,
                                 &alpha))
    return code;
  qmObjectData *data = nullptr;
  uint32_t code = 0;
  if (src->header.userData)
    code = CopyObjectDataList(objects, static_cast<const qmObjectData *>(src->header.userData), &data);
  qmBrush *b = nullptr;
  if (!code)
    code = NewBrushRecord(objects, newId, src->kind, src->width, src->height, src->width, src->transformed,
                          src->sourceImage, bitmap, src->transparentColor, mask, alpha, &b);
  if (!code) RetainPluginImage(static_cast<qmPluginImage *>(src->sourceImage));
  if (code) {
    FreePlanes(bitmap, mask, alpha);
    FreeObjectDataList(objects, data);
    return code;
  }
  b->header.userData = data;
  if (out) *out = b;
  return 0;
}

void FreeBrushContents(qmObjectRegistry *objects, qmBrush *b) {
  FreePlanes(b->bitmap, b->mask, b->alpha);
  b->bitmap = nullptr;
  b->mask = nullptr;
  b->alpha = nullptr;
  ReleasePluginImage(static_cast<qmPluginImage *>(b->sourceImage));
  b->sourceImage = nullptr;
  MemFree(b->preloadPixels);
  b->preloadPixels = nullptr;
  FreeObjectDataList(objects, static_cast<qmObjectData *>(b->header.userData));
  b->header.userData = nullptr;
}

uint32_t FreeBrushNode(qmScene *scene, const qmObjectId *id, int32_t reportMissing) {
  qmObjectRegistry *objects = scene->objects;
  if (uint32_t code = CheckNotSelectedBrush(scene, id)) return code;
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrush(objects, id, &b, FINDBRUSH_HARDWARE)) return reportMissing ? code : 0;
  if (b->lock) return ERR_LOCKEDOBJ;
  // A brush that layers show lives on for them under its own address, flagged, until the last
  // of them goes; the id is free for a new brush at once.
  const qmObjectId was{b->header.id, b->header.handle}, self{0, reinterpret_cast<uintptr_t>(b)};
  RemoveObject(objects, &b->header);
  if (RebindLayerObjectId(scene, QMTYPE_BRUSH, &was, &self) > 0) {
    b->header.id = 0;
    b->header.handle = self.handle;
    b->deleted = 1;
    if (AddObject(objects, &b->header) == 0) return 0;
    // Not listed again: the layers keep their own pictures, so the record may go now.
  }
  FreeBrushContents(objects, b);
  MemFree(b);
  return 0;
}

void FreeMarkedBrushes(qmObjectRegistry *objects) {
  for (qmObjectHeader *h = FirstObject(objects, QMTYPE_BRUSH); h;) {
    auto *b = reinterpret_cast<qmBrush *>(h);
    h = h->next;
    if (!b->deleted) continue;
    RemoveObject(objects, &b->header);
    FreeBrushContents(objects, b);
    MemFree(b);
  }
}

void FreeAllBrushes(qmObjectRegistry *objects) {
  while (qmObjectHeader *h = FirstObject(objects, QMTYPE_BRUSH)) {
    auto *b = reinterpret_cast<qmBrush *>(h);
    RemoveObject(objects, h);
    FreeBrushContents(objects, b);
    MemFree(b);
  }
}

int32_t GetBrushInfo(const qmObjectRegistry *objects, const qmObjectId *id, qmBitmap **bitmap, qmMask **mask,
                     qmAlphaChannel **alpha, int32_t *width, int32_t *height) {
  qmBrush *b = nullptr;
  if (FindBrush(objects, id, &b, FINDBRUSH_NOVECTOR) != 0) return 0;
  if (bitmap) *bitmap = b->bitmap;
  if (mask) *mask = b->mask;
  if (alpha) *alpha = b->alpha;
  if (width) *width = b->width;
  if (height) *height = b->height;
  return 1;
}

void ReplaceBrushPlanes(qmBrush *b, qmBitmap *bitmap, qmMask *mask, qmAlphaChannel *alpha, int32_t width,
                        int32_t height) {
  if (b->bitmap != bitmap) FreeBitmap(b->bitmap);
  if (b->mask != mask) FreeMask(b->mask);
  if (b->alpha != alpha) FreeAlphaChannel(b->alpha);
  b->bitmap = bitmap;
  b->mask = mask;
  b->alpha = alpha;
  b->width = width;
  b->height = height;
  b->sourcePitch = width;
}

uint32_t CropArgbPixels(const uint32_t *pixels, const qmAlphaChannel *alpha, int32_t x, int32_t y, int32_t width,
                        int32_t height, int32_t fullWidth, int32_t fullHeight, const uint32_t **pixelsOut,
                        const qmAlphaChannel **alphaOut) {
  *pixelsOut = pixels;
  *alphaOut = alpha;
  if (x == 0 && y == 0 && width == fullWidth && height == fullHeight) return 0;
  const uint64_t bytes = uint64_t(width) * uint64_t(height) * 4;
  auto *copy = static_cast<uint32_t *>(bytes <= SIZE_MAX ? MemAlloc(size_t(bytes), 0) : nullptr);
  if (!copy) return ERR_MEM;
  for (int32_t row = 0; row < height; row++)
    std::memcpy(copy + size_t(row) * width, pixels + (size_t(y) + row) * fullWidth + x, size_t(width) * 4);
  if (alpha) {
    qmAlphaChannel *a = AllocAlphaChannel(width, height, 0);
    if (!a) {
      MemFree(copy);
      return ERR_MEM;
    }
    CombineAlphaRect(alpha, x, y, a, 0, 0, width, height, 0, 0);
    *alphaOut = a;
  }
  *pixelsOut = copy;
  return 0;
}

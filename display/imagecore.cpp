#include "display/imagecore.h"

#include <algorithm>

#include "display/filters.h"

#include "display/bgpic.h"
#include "display/brush.h"
#include "display/dirtyrects.h"
#include "display/display.h"
#include "display/outputselect.h"
#include "display/scene.h"
#include "graphics/blit.h"
#include "graphics/alphaops.h"
#include "graphics/bitmapops.h"
#include "display/position.h"
#include "display/safeblt.h"
#include "graphics/geometry.h"
#include "graphics/transform.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"

namespace {

// The picture being drawn: the object's own planes, or a private copy that this call owns.
struct qmWorkPicture {
  qmBitmap *bitmap = nullptr;
  qmMask *mask = nullptr;
  qmAlphaChannel *alpha = nullptr;
  bool owned = false;
  // Alpha channel made for this drawing alone, beside planes that are the object's.
  qmAlphaChannel *ownAlpha = nullptr;

  ~qmWorkPicture() {
    FreeAlphaChannel(ownAlpha);
    if (!owned) return;
    FreeBitmap(bitmap);
    FreeMask(mask);
    FreeAlphaChannel(alpha);
  }
};

bool SelectedIsBrush(const qmScene *scene, const qmDisplay *d, const qmObjectId *id) {
  const uint32_t out = d->outputType;
  if (out != DISPOUT_BRUSH && out != DISPOUT_MASK && out != DISPOUT_ALPHA) return false;
  if (d->doubleBuffer && scene->picture == d->doubleBufferBGPic) return false;
  const qmBGPic *sel = d->selectBGPic;
  return sel && sel->selectedType == QMTYPE_BRUSH && sel->selectedId.id == id->id &&
         sel->selectedId.handle == id->handle;
}

// Scales or turns an opaque or alpha picture with no mask straight onto the picture the drawing
// lands in, where nothing but that picture and the window change: the same pixels as the changed
// copy blended there, without the copy. False, with nothing done, where the copy must be made.
bool TransformOntoPicture(qmScene *scene, const qmImageRequest *req, const qmDisplayTags *tags,
                          const qmTransform *transform, const qmPlaneSet &source, int32_t x, int32_t y, int32_t srcX,
                          int32_t srcY, int32_t width, int32_t height) {
  qmDisplay *d = scene->current;
  const double *m = transform->matrix;
  // Pure scales take the scaler's sampling and size, turns the turn's.
  const bool scaled = m[1] == 0 && m[2] == 0 && m[0] >= 0 && m[3] >= 0;
  if (req->pictureOut || req->flags & (IMGCORE_REPLACE | IMGCORE_HIDDEN | IMGCORE_INSERT) || tags->hidden) return false;
  if (source.mask || !source.bitmap || source.bitmap->bytesPerPixel != 4 || srcX || srcY) return false;
  if (d->outputType != DISPOUT_DISPLAY || d->layersOn || d->outputMask || d->outputAlpha) return false;
  // A scaled display keeps a scaled copy that the blit would fill from the source.
  if (d->scaleMode || d->scaleLayer) return false;
  if (int64_t(width) > source.bitmap->width || int64_t(height) > source.bitmap->height) return false;
  if (source.alpha && (AlphaPlaneWidth(source.alpha) < width || PlaneHeight(source.alpha) < height)) return false;
  qmTransformedImage placed{};
  const int32_t left0 = x - int32_t(width * transform->anchorX), top0 = y - int32_t(height * transform->anchorY);
  if (TransformImageBitmaps(d, TFKIND_GEOMETRY, nullptr, nullptr, nullptr, 0, 0, left0, top0, width, height,
                            transform->anchorX, transform->anchorY, m, transform->smooth, &placed))
    return false;
  int32_t tw = placed.width, th = placed.height;
  if (!scaled) {
    double ox = 0, oy = 0;
    GetTransformedSize(m, width, height, &tw, &th, &ox, &oy);
    tw = std::max(tw, 1), th = std::max(th, 1);
    if (tw > QM_MAX_PICTURE_SIDE || th > QM_MAX_PICTURE_SIDE) return false;
  }
  const qmBGPic *target = scene->picture;
  const int32_t targetWidth = target ? target->unscaledWidth : d->width;
  const int32_t targetHeight = target ? target->unscaledHeight : d->height;
  // The blit of the whole changed box, for its target and clipped rectangle; its source is only a size.
  qmBitmap box{};
  box.width = tw, box.height = th, box.bytesPerPixel = 4;
  qmSafeBlt blt{&box, 0, 0, d->outputBitmap, placed.x, placed.y, tw, th, tw, th, targetWidth, targetHeight,
                SAFEBLT_BACKGROUND | SAFEBLT_REDRAWLAYERS, nullptr, nullptr, target ? target->activeClip : nullptr};
  qmBlitRect r;
  qmBitmap *into = SafeBltPixelTarget(scene, &blt, &r);
  if (!into) {
    // Wholly outside the picture or its clip, the copy's blit would draw nothing: none is made.
    qmBlitRect seen{0, 0, placed.x, placed.y, tw, th};
    if (ClipBlitRect(blt.clip, &seen, tw, th, targetWidth, targetHeight, blt.clip != nullptr)) return false;
    if (d->doubleBuffer) AddDirtyRect(d, placed.x, placed.y, tw, th, targetWidth, targetHeight);
    return true;
  }
  const uint32_t drawn =
      scaled ? ScaleBitmapOnto(source.bitmap, source.alpha, width, height, tw, th, transform->smooth, into, &r)
             : TransformBitmapOnto(source.bitmap, source.alpha, width, height, m, transform->smooth, into, &r);
  if (drawn) return false;
  if (d->doubleBuffer) AddDirtyRect(d, placed.x, placed.y, tw, th, targetWidth, targetHeight);
  // The pixels are in place; the blit presents them.
  blt.src = into;
  blt.srcX = blt.dstX = r.dstX;
  blt.srcY = blt.dstY = r.dstY;
  blt.width = r.width, blt.height = r.height;
  blt.srcWidth = into->width, blt.srcHeight = into->height;
  blt.flags |= SAFEBLT_INTARGET;
  SafeBlt(scene, &blt);
  return true;
}

}  // namespace

bool InsertsBelowLayers(const qmBGPic *picture, const qmDisplayTags *tags) {
  const int32_t n = CountPictureLayers(picture);
  return tags && tags->insertPosition > 0 && tags->insertPosition <= n;
}

uint32_t DisplayImageCore(qmScene *scene, const qmImageRequest *req) {
  qmDisplay *d = scene->current;
  if (!d) return ERR_WRONGUSAGE;

  // 1. The object. Drawing the brush that is being drawn into ends that selection first.
  qmObjectId id = req->id;
  qmPlaneSet source{};
  int32_t srcWidth = 0, srcHeight = 0;
  uint32_t hardware = 0;
  int32_t width = req->width, height = req->height;
  int32_t reqX = req->x, reqY = req->y;
  if (req->kind == QMTYPE_BGPICPART) {
    qmBGPic *pic = nullptr;
    // -1 is the current display's own picture, even one freed while it is shown.
    if (!id.handle && id.id == 0xFFFFFFFFu) {
      pic = d->bgpic;
      if (!pic) return MissingObjectError(&id, ERR_FINDBGPIC);
    } else if (uint32_t code = FindBGPic(scene->objects, &id, &pic, 0)) {
      return code;
    }
    source = pic->unscaled;
    srcWidth = pic->unscaledWidth;
    srcHeight = pic->unscaledHeight;
    if (reqX == -1) reqX = req->srcX;
    if (reqY == -1) reqY = req->srcY;
  } else if (req->kind == QMTYPE_ANIM) {
    source = {req->frame.bitmap, req->frame.mask, req->frame.alpha};
    srcWidth = width = req->width;
    srcHeight = height = req->height;
  } else {
    if (SelectedIsBrush(scene, d, &id))
      if (uint32_t code = EndSelectCore(scene, d, 0)) return code;
    int32_t findFlags = (req->flags & IMGCORE_REPLACE) ? FINDBRUSH_DELETED : 0;
    if (d->doubleBuffer && d->hardwareDoubleBuffer) findFlags |= FINDBRUSH_HARDWARE;
    qmBrush *brush = nullptr;
    if (uint32_t code = FindBrush(scene->objects, &id, &brush, findFlags)) return code;
    if (req->kind == QMTYPE_BRUSHPART && brush->kind == BRUSHKIND_VECTOR) return ERR_BRUSHTYPE;
    if (d->layersOn && brush->kind == BRUSHKIND_VECTOR && brush->transformed) return ERR_TFVBRUSH;
    source = {brush->bitmap, brush->mask, brush->alpha};
    srcWidth = brush->width;
    srcHeight = brush->height;
    hardware = brush->hardware;
    if (req->kind == QMTYPE_BRUSH) width = srcWidth, height = srcHeight;
  }

  // 2. Size.
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;

  // 3. Tags.
  if (req->tagsError) return req->tagsError;
  qmTransform transform;
  qmDisplayTags tags;
  if (req->transform) transform = *req->transform;
  else InitDefaultDrawTags(scene, &transform, nullptr, 0, 0, 0, 0);
  if (req->tags) tags = *req->tags;
  else CopyDefaultDisplayTags(scene, &tags);
  FinishDisplayTags(scene->picture, width, height, &transform, &tags);

  // 4. Position.
  int32_t x = ResolvePositionX(scene, reqX, width, 0, transform.anchorX);
  int32_t y = ResolvePositionY(scene, reqY, height, 0, transform.anchorY);
  const bool whole = req->kind == QMTYPE_BRUSH || req->kind == QMTYPE_ANIM;
  int32_t srcX = whole ? 0 : ResolvePositionX(scene, req->srcX, width, srcWidth, 0);
  int32_t srcY = whole ? 0 : ResolvePositionY(scene, req->srcY, height, srcHeight, 0);

  // 5. The source rectangle.
  if (srcX < 0 || srcY < 0) return ERR_NEGCOORDS;
  if (srcX >= srcWidth || srcY >= srcHeight) return ERR_COORDSRANGE;
  if (int64_t(srcX) + width > srcWidth) width = srcWidth - srcX;
  if (int64_t(srcY) + height > srcHeight) height = srcHeight - srcY;

  // 6. A selected mask or alpha channel is made ready before the first drawing into it.
  if (d->outputType == DISPOUT_BRUSH || d->outputType == DISPOUT_MASK || d->outputType == DISPOUT_ALPHA)
    if (uint32_t code = PrepareMaskOrAlphaOutput(scene)) return code;

  qmWorkPicture pic;
  pic.bitmap = source.bitmap;
  pic.mask = source.mask;
  pic.alpha = source.alpha;
  const bool identity = IsIdentityMatrix(transform.matrix);

  // With layers on the layer keeps the untouched picture: the layer engine renders its
  // transform and filters, and renders them again when a style changes.
  const qmPlayerContext *ctx = scene->context;
  const bool asLayer = d->layersOn && !req->pictureOut && !(req->flags & IMGCORE_REPLACE) && ctx &&
                       ctx->addImageLayer &&
                       (d->outputType == DISPOUT_DISPLAY || d->outputType == DISPOUT_BGPIC);
  // 8. A scaled or turned picture going straight onto the display's picture is blended there a
  // row at a time; otherwise, without layers, the picture is changed in a private copy.
  if (!identity && !asLayer && !HasFilters(tags.filters) && !tags.transparency && !hardware &&
      TransformOntoPicture(scene, req, &tags, &transform, source, x, y, srcX, srcY, width, height))
    return 0;
  if (!identity && !asLayer) {
    qmTransformedImage t{};
    const int32_t left0 = x - int32_t(width * transform.anchorX), top0 = y - int32_t(height * transform.anchorY);
    if (uint32_t code = TransformImageBitmaps(d, TFKIND_PIXEL, pic.bitmap, pic.mask, pic.alpha, srcX, srcY, left0, top0, width,
                                              height, transform.anchorX, transform.anchorY, transform.matrix,
                                              transform.smooth, &t))
      return code;
    pic.bitmap = t.bitmap, pic.mask = t.mask, pic.alpha = t.alpha, pic.owned = true;
    // The turned picture is anchored at the same point of the object as the untouched one.
    x = t.x + int32_t(t.width * transform.anchorX);
    y = t.y + int32_t(t.height * transform.anchorY);
    width = t.width, height = t.height;
    srcX = srcY = 0;
  }
  if (HasFilters(tags.filters) && !asLayer) {
    if (hardware) return ERR_HWBRUSHFUNC;
    if (!pic.owned) {
      qmBitmap *b = nullptr;
      qmMask *m = nullptr;
      qmAlphaChannel *a = nullptr;
      if (uint32_t code = CopyBitmap(pic.bitmap, pic.mask, pic.alpha, srcX, srcY, width, height, 0, &b, &m, &a))
        return code;
      pic.bitmap = b, pic.mask = m, pic.alpha = a, pic.owned = true;
      srcX = srcY = 0;
    }
    ApplyFilters(tags.filters, pic.bitmap, pic.mask, pic.alpha, width, height);
  }
  // 9. With layers on the picture becomes a layer of the current picture; the layer engine
  // applies the transparency when it composes, and the rectangle is composed below.
  if (asLayer) {
    qmImageLayer layer{};
    if (pic.owned) {
      layer.bitmap = pic.bitmap, layer.mask = pic.mask, layer.alpha = pic.alpha;
      pic.owned = false;
    } else if (uint32_t code = CopyBitmap(pic.bitmap, pic.mask, pic.alpha, srcX, srcY, width, height, 0,
                                          &layer.bitmap, pic.mask ? &layer.mask : nullptr,
                                          pic.alpha ? &layer.alpha : nullptr)) {
      return code;
    }
    layer.kind = req->kind;
    layer.id = id;
    layer.requestedX = x, layer.requestedY = y;
    layer.objectWidth = width, layer.objectHeight = height;
    layer.partX = whole ? 0 : srcX, layer.partY = whole ? 0 : srcY;
    layer.frame = req->frameNumber, layer.frameCount = req->frameCount, layer.frameDelay = req->frameDelay;
    layer.x = x - int32_t(width * transform.anchorX);
    layer.y = y - int32_t(height * transform.anchorY);
    layer.width = width, layer.height = height;
    layer.transform = &transform;
    layer.tags = &tags;
    layer.position = req->layerPosition ? req->layerPosition : -1;
    // A display that scales layers shows the layer rendered again at its scale.
    layer.flags = (req->flags & (IMGCORE_HIDDEN | IMGCORE_INSERT)) | IMGCORE_RENDERSCALED;
    if (uint32_t code = ctx->addImageLayer(scene, &layer)) return code;
    // The layer engine refreshed what it had to; an untouched picture on top is composed below.
    if (req->flags & (IMGCORE_HIDDEN | IMGCORE_INSERT) || tags.hidden || tags.transparency || !identity ||
        HasFilters(tags.filters))
      return 0;
  }
  if (tags.transparency) {
    if (hardware) return ERR_HWBRUSHFUNC;
    const int32_t strength = 255 - tags.transparency;
    if (pic.owned) {
      qmDisplayTags only{};
      only.transparency = tags.transparency;
      ApplyDisplayTagEffects(&only, pic.bitmap, &pic.mask, &pic.alpha, width, height);
    } else {
      // An alpha channel for this drawing alone, lying over the source like its planes.
      const int32_t aw = srcX == 0 && srcY == 0 ? width : srcWidth;
      const int32_t ah = srcX == 0 && srcY == 0 ? height : srcHeight;
      pic.ownAlpha = AllocAlphaChannel(aw, ah, 1);
      if (!pic.ownAlpha) return ERR_MEM;
      if (pic.alpha) {
        CombineAlphaRect(pic.alpha, 0, 0, pic.ownAlpha, 0, 0, aw, ah, 0, 0);
        ScaleAlphaChannel(pic.ownAlpha, pic.ownAlpha, ah, strength);
      } else if (pic.mask) {
        MaskToAlphaRect(pic.mask, 0, 0, pic.ownAlpha, 0, 0, aw, ah, uint8_t(strength));
      } else {
        FillAlphaRect(pic.ownAlpha, 0, 0, aw, ah, uint8_t(strength));
      }
      pic.alpha = pic.ownAlpha;
      pic.mask = nullptr;
    }
  }

  // The caller that asked for the picture owns it from here on; this call never frees it.
  if (req->pictureOut) {
    qmPictureOut &o = *req->pictureOut;
    if (pic.owned) {
      o = qmPictureOut{pic.bitmap, pic.mask, pic.alpha, x, y, width, height, 1};
      pic.owned = false;
    } else if (pic.ownAlpha || srcX || srcY || width != srcWidth || height != srcHeight) {
      // Planes lie over the source, so the rectangle is copied from the same place in each.
      qmBitmap *b = nullptr;
      qmMask *m = nullptr;
      qmAlphaChannel *a = nullptr;
      if (uint32_t code = CopyBitmap(pic.bitmap, pic.mask, pic.alpha, srcX, srcY, width, height, 0, &b, &m, &a))
        return code;
      o = qmPictureOut{b, m, a, x, y, width, height, 1};
    } else {
      o = qmPictureOut{pic.bitmap, pic.mask, pic.alpha, x, y, width, height, 0};
    }
    return 0;
  }

  // 10. Drawing.
  if (req->flags & (IMGCORE_REPLACE | IMGCORE_HIDDEN | IMGCORE_INSERT) || tags.hidden) return 0;
  if (d->layersOn && InsertsBelowLayers(scene->picture, &tags)) return 0;
  const int32_t left = x - int32_t(width * transform.anchorX);
  const int32_t top = y - int32_t(height * transform.anchorY);
  if (d->outputType == DISPOUT_BGPIC) return 0;  // the layer refresh shows it
  if (d->outputType == DISPOUT_DISPLAY && d->scaleLayer && d->scaleWidth && d->scaleHeight &&
      !(d->scaleX == 1.0 && d->scaleY == 1.0))
    return 0;
  const qmBGPic *target = scene->picture;
  const int32_t targetWidth = target ? target->unscaledWidth : d->width;
  const int32_t targetHeight = target ? target->unscaledHeight : d->height;
  if (d->doubleBuffer) AddDirtyRect(d, left, top, width, height, targetWidth, targetHeight);
  const qmSafeBlt blt{pic.bitmap,
                      srcX,
                      srcY,
                      d->outputBitmap,
                      left,
                      top,
                      width,
                      height,
                      pic.bitmap->width,
                      pic.bitmap->height,
                      targetWidth,
                      targetHeight,
                      SAFEBLT_BACKGROUND | SAFEBLT_REDRAWLAYERS,
                      pic.mask,
                      pic.alpha,
                      target ? target->activeClip : nullptr};
  SafeBlt(scene, &blt);
  return 0;
}

uint32_t TransformImageBitmaps(const qmDisplay *display, int32_t kind, const qmBitmap *bitmap, const qmMask *mask, const qmAlphaChannel *alpha,
                               int32_t srcX, int32_t srcY, int32_t x, int32_t y, int32_t width, int32_t height,
                               double anchorX, double anchorY, const double m[4], int32_t smooth,
                               qmTransformedImage *out) {
  int64_t w64 = 0, h64 = 0;
  PredictTransformedSize(display, m, width, height, &w64, &h64);
  // Sizes from script numbers are refused before anything is allocated.
  if (w64 > QM_MAX_PICTURE_SIDE || h64 > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  qmTransformedImage r{};
  int32_t bw = 0, bh = 0;
  GetTransformedRect(x, y, width, height, anchorX, anchorY, m, &r.x, &r.y, &bw, &bh);
  r.width = int32_t(w64);
  r.height = int32_t(h64);
  if (kind == TFKIND_GEOMETRY) {
    *out = r;
    return 0;
  }
  if (kind == TFKIND_VECTOR) return ERR_BRUSHTYPE;
  if (IsIdentityMatrix(m)) {
    if (uint32_t code = CopyBitmap(bitmap, mask, alpha, srcX, srcY, width, height, 0, &r.bitmap, &r.mask, &r.alpha))
      return code;
  } else if (m[1] == 0 && m[2] == 0 && m[0] >= 0 && m[3] >= 0) {
    qmScaleOutputs o{};
    if (uint32_t code = ScaleBitmap(bitmap, mask, alpha, srcX, srcY, nullptr, width, height, r.width, r.height, smooth,
                                    &o))
      return code;
    if (!o.bitmap) return ERR_MEM;
    r.bitmap = o.bitmap, r.mask = o.mask, r.alpha = o.alpha;
  } else {
    qmTransformOutputs o{};
    if (uint32_t code = TransformBitmap(bitmap, mask, alpha, srcX, srcY, width, height, m, smooth, &o)) return code;
    r.bitmap = o.bitmap, r.mask = o.mask, r.alpha = o.alpha;
    r.width = o.bitmap ? o.bitmap->width : r.width;
    r.height = o.bitmap ? o.bitmap->height : r.height;
  }
  *out = r;
  return 0;
}

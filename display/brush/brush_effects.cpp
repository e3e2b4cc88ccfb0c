#include "display/brush/brush_effects.h"

#include "display/bgpic.h"
#include "display/brush.h"
#include "media/animcore/anim.h"
#include "display/brush/brushedit.h"
#include "graphics/blit.h"
#include "graphics/effect_kernels.h"
#include "graphics/bitmap_effects.h"
#include "graphics/bitmapops.h"
#include "display/display.h"
#include "display/scene.h"
#include "layers/layer.h"
#include "layers/layerimage.h"
#include "media/image/pluginimage.h"
#include "runtime/bindings/layerarg_reader.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"
#include "runtime/vm/vm_api.h"
#include "layers/sprite.h"

namespace {

// The transparent colour a brush made from a masked layer's picture carries.
constexpr uint32_t kLayerMaskTransparentColor = 0x123456;

// The brush of the first argument, through every check of a command that changes it in place.
uint32_t BrushToChange(VmState *L, qmBrush **out) {
  qmObjectId id = GetObjectIdArg(L, 1);
  return FindBrushToEdit(L, &id, out, 0);
}

// Blur, emboss, edge and sharpen: a radius (0) and, for the blur alone, a sigma.
uint32_t ConvolveCommand(VmState *L, int32_t operation, double sigma) {
  CheckArgCount(L, 1, operation == CONVOLVE_BLUR ? 3 : 2);
  const double radius = vm_optnumber(L, 2, 0);
  if (operation == CONVOLVE_BLUR) sigma = vm_optnumber(L, 3, radius / 3);
  if (radius < 0) return ERR_WRONGUSAGE;
  qmBrush *b = nullptr;
  if (uint32_t code = BrushToChange(L, &b)) return code;
  return ConvolveBitmap(operation, b->bitmap, operation == CONVOLVE_BLUR ? b->alpha : nullptr, b->width, b->height,
                        radius, sigma, nullptr, CommandCancel(L));
}

// A threshold given as a number or as a percentage of 255.
int32_t ThresholdArg(VmState *L, int i) { return ArgToInt32(L, i, GetNumberOrPercentArg(L, i, 255, 0, nullptr)); }

// One radius argument that may not be negative.
uint32_t RadiusCommand(VmState *L, qmBrush **b, double *radius) {
  CheckArgCount(L, 2, 2);
  *radius = vm_checknumber(L, 2);
  if (*radius < 0) return ERR_WRONGUSAGE;
  return BrushToChange(L, b);
}

// The four distortions: the brush first, then up to maxParams numbers from the second argument
// on, and the smooth flag at the fixed place after them.
uint32_t DistortCommand(VmState *L, int32_t method, int minArgs, int maxParams) {
  const int smoothAt = maxParams + 2;
  CheckArgCount(L, minArgs, smoothAt);
  qmBrush *b = nullptr;
  if (uint32_t code = BrushToChange(L, &b)) return code;
  double params[16];
  const int count = std::min(vm_gettop(L) - 1, maxParams);
  for (int k = 0; k < count; k++) params[k] = vm_checknumber(L, k + 2);
  const int32_t smooth = vm_optint32(L, smoothAt, 0);
  return DistortBrushCore(b, method, count, params, smooth);
}

// The planes (taken over) as a new brush; freed on failure.
uint32_t NewConvertedBrush(VmState *L, qmObjectId id, qmBitmap *nb, qmMask *nm, qmAlphaChannel *na, int32_t w,
                           int32_t h, uint32_t transparent) {
  if (uint32_t code = NewBrushRecord(ObjectRegistryOf(L), &id, BRUSHKIND_PIXEL, w, h, w, 0, nullptr, nb, transparent,
                                     nm, na, nullptr)) {
    FreePlanes(nb, nm, na);
    return code;
  }
  return PushNewId(L, id);
}

// ConvertToBrush and GetBrushLink: a copy of the planes of another object as a new brush.
uint32_t ConvertCore(VmState *L, int32_t type, int sourceArg, int newIdArg) {
  qmObjectId id = GetNewObjectIdArg(L, newIdArg);
  qmObjectId src{};
  int32_t layerPos = 0;
  const int32_t frame = vm_optint32(L, 4, 0);
  if (type == int32_t(QMTYPE_LAYER)) {
    const qmDisplay *d = GetScene(L)->current;
    if (!d || !d->layersOn) return ERR_NOLAYERS;
    if (uint32_t code = GetLayerArg(L, sourceArg, &layerPos)) return code;
  } else {
    src = GetObjectIdArg(L, sourceArg);
  }
  const qmBitmap *bitmap = nullptr;
  const qmMask *mask = nullptr;
  const qmAlphaChannel *alpha = nullptr;
  int32_t x = 0, y = 0, w = 0, h = 0;
  uint32_t transparent = kNoTransparentColor;
  if (type == int32_t(QMTYPE_LAYER)) {
    if (uint32_t code = FreeOldBrushOfId(L, id)) return code;
    qmScene *scene = GetScene(L);
    qmLayer *l = GetNthLayer(scene->picture, layerPos);
    if (!l) return ERR_LAYERRANGE;
    // An anim layer is named with one of its frames.
    if (l->type == QMTYPE_ANIM && (frame < 1 || frame > l->base->frameCount)) return ERR_ANIMFRAME;
    // What the layer shows now; a part of a brush or picture is cut from the whole image.
    qmLayerImage img{};
    if (uint32_t code = GetLayerImage(scene, l, l->current, 1, 1, -1, &img)) return code;
    if (!img.bitmap) return ERR_WRONGUSAGE;
    bitmap = img.bitmap, mask = img.mask, alpha = img.alpha;
    x = img.originX, y = img.originY, w = l->current->width, h = l->current->height;
    if (x < 0 || y < 0 || w < 1 || h < 1 || x + w > img.width || y + h > img.height) return ERR_WRONGUSAGE;
    transparent = mask ? kLayerMaskTransparentColor : kNoTransparentColor;
  } else if (type == int32_t(QMTYPE_BRUSH)) {
    if (!id.handle && !src.handle && id.id == src.id) return ERR_WRONGUSAGE;
    if (uint32_t code = FreeOldBrushOfId(L, id)) return code;
    qmBrush *b = nullptr;
    if (uint32_t code = FindBrush(ObjectRegistryOf(L), &src, &b, 0)) return code;
    bitmap = b->bitmap, mask = b->mask, alpha = b->alpha, w = b->width, h = b->height;
    transparent = b->transparentColor;
  } else if (type == int32_t(QMTYPE_BGPIC)) {
    if (uint32_t code = FreeOldBrushOfId(L, id)) return code;
    qmBGPic *p = nullptr;
    if (uint32_t code = FindBGPic(ObjectRegistryOf(L), &src, &p, 0)) return code;
    const qmPlaneSet &set = p->unscaled.bitmap ? p->unscaled : p->master;
    bitmap = set.bitmap, mask = set.mask, alpha = set.alpha, w = p->unscaledWidth, h = p->unscaledHeight;
    transparent = p->transparentColor;
    if (!bitmap) return ERR_WRONGUSAGE;
  } else if (type == int32_t(QMTYPE_TEXTOBJECT)) {
    qmPlayerContext *ctx = GetPlayerContext(L);
    if (!ctx || !ctx->textObjectPicture) return ERR_WRONGUSAGE;
    if (uint32_t code = FreeOldBrushOfId(L, id)) return code;
    if (uint32_t code = ctx->textObjectPicture(ctx->scene, &src, &bitmap, &mask, &alpha, &w, &h)) return code;
    if (!bitmap) return ERR_WRONGUSAGE;
  } else if (type == int32_t(QMTYPE_SPRITE)) {
    if (uint32_t code = FreeOldBrushOfId(L, id)) return code;
    qmSprite *s = nullptr;
    if (uint32_t code = FindSprite(ObjectRegistryOf(L), &src, &s, 0)) return code;
    if (frame < 1 || frame > s->frameCount) return ERR_ANIMFRAME;
    GetSpriteFrame(s, frame - 1, &bitmap, &mask, &alpha);
    if (!bitmap) return ERR_ANIMFRAME;
    w = s->width, h = s->height;
    transparent = s->transparentColor;
  } else if (type == int32_t(QMTYPE_ANIM)) {
    // The frame as a copy of its own (a disk-based frame is decoded for it).
    qmAnim *a = nullptr;
    if (uint32_t code = FindAnim(GetScene(L), &src, &a, 0)) return code;
    if (frame < 1 || frame > a->frameCount) return ERR_ANIMFRAME;
    if (uint32_t code = FreeOldBrushOfId(L, id)) return code;
    qmBitmap *nb = nullptr;
    qmMask *nm = nullptr;
    qmAlphaChannel *na = nullptr;
    if (uint32_t code = FetchAnimFrame(a, frame - 1, 1, 0, &nb, &nm, &na)) return code;
    return NewConvertedBrush(L, id, nb, nm, na, a->width, a->height, a->transparentColor);
  } else {
    return ERR_WRONGUSAGE;
  }
  qmBitmap *nb = nullptr;
  qmMask *nm = nullptr;
  qmAlphaChannel *na = nullptr;
  if (uint32_t code = CopyBitmap(bitmap, mask, alpha, x, y, w, h, 0, &nb, &nm, &na)) return code;
  return NewConvertedBrush(L, id, nb, nm, na, w, h, transparent);
}

// CreateShadowBrush and CreateBorderBrush: a brush of the colour, larger than the source by the
// size on every side, whose alpha channel is the source's shape blurred (a shadow) or spread
// hard (a border).
uint32_t ShadowCore(VmState *L, bool border) {
  CheckArgCount(L, 3, 5);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  qmObjectId src = GetObjectIdArg(L, 2);
  const uint32_t color = vm_checkinteger(L, 3);
  const int32_t size = vm_optint32(L, 4, 5);
  const double sigma = vm_optnumber(L, 5, size / 3.0);
  if (size < 1) return ERR_WRONGUSAGE;
  if (!id.handle && !src.handle && id.id == src.id) return ERR_WRONGUSAGE;
  if (uint32_t code = FreeOldBrushOfId(L, id)) return code;
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrush(ObjectRegistryOf(L), &src, &b, 0)) return code;
  // The result's size in 64 bits, refused before anything is made.
  const int64_t w = int64_t(b->width) + 2 * int64_t(size), h = int64_t(b->height) + 2 * int64_t(size);
  if (w > QM_MAX_PICTURE_SIDE || h > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  qmAlphaChannel *alpha = nullptr;
  if (!border || b->mask || b->alpha) {
    alpha = CreateShadowAlpha(b->alpha, b->mask, 0, 0, b->width, b->height, size, sigma, 255 - int32_t(color >> 24),
                              border, size >= 4);
    if (!alpha) return ERR_MEM;
  }
  qmBitmap *bitmap = AllocBitmap(int32_t(w), int32_t(h));
  if (!bitmap) {
    FreeAlphaChannel(alpha);
    return ERR_MEM;
  }
  FillBitmapRect(bitmap, 0, 0, int32_t(w), int32_t(h), color & 0xFFFFFF);
  if (uint32_t code = NewBrushRecord(ObjectRegistryOf(L), &id, BRUSHKIND_PIXEL, int32_t(w), int32_t(h), int32_t(w), 0,
                                     nullptr, bitmap, kNoTransparentColor, nullptr, alpha, nullptr)) {
    FreePlanes(bitmap, nullptr, alpha);
    return code;
  }
  return PushNewId(L, id);
}

}  // namespace

uint32_t BrsCreateShadowBrush(VmState *L) { return ShadowCore(L, false); }
uint32_t BrsCreateBorderBrush(VmState *L) { return ShadowCore(L, true); }

uint32_t BrsBlurBrush(VmState *L) { return ConvolveCommand(L, CONVOLVE_BLUR, 0); }
uint32_t BrsEmbossBrush(VmState *L) { return ConvolveCommand(L, CONVOLVE_EMBOSS, 1.0); }
uint32_t BrsEdgeBrush(VmState *L) { return ConvolveCommand(L, CONVOLVE_EDGE, 0); }
uint32_t BrsSharpenBrush(VmState *L) { return ConvolveCommand(L, CONVOLVE_SHARPEN, 1.0); }

uint32_t BrsSolarizeBrush(VmState *L) {
  CheckArgCount(L, 2, 2);
  const int32_t threshold = ThresholdArg(L, 2);
  qmBrush *b = nullptr;
  if (uint32_t code = BrushToChange(L, &b)) return code;
  return SolarizeBitmap(b->bitmap, b->width, b->height, threshold);
}

uint32_t BrsGammaBrush(VmState *L) {
  CheckArgCount(L, 4, 4);
  const double r = vm_checknumber(L, 2), g = vm_checknumber(L, 3), bl = vm_checknumber(L, 4);
  qmBrush *b = nullptr;
  if (uint32_t code = BrushToChange(L, &b)) return code;
  return GammaBitmap(b->bitmap, b->width, b->height, r, g, bl);
}

uint32_t BrsContrastBrush(VmState *L) {
  CheckArgCount(L, 2, 3);
  const int32_t sharpen = vm_checkint32(L, 2), repeat = vm_optint32(L, 3, 1);
  if (repeat < 1) return ERR_WRONGUSAGE;
  qmBrush *b = nullptr;
  if (uint32_t code = BrushToChange(L, &b)) return code;
  return ContrastBitmap(b->bitmap, b->width, b->height, sharpen, repeat, nullptr);
}

uint32_t BrsModulateBrush(VmState *L) {
  CheckArgCount(L, 4, 4);
  const double brightness = vm_checknumber(L, 2), saturation = vm_checknumber(L, 3), hue = vm_checknumber(L, 4);
  if (brightness < 0 || saturation < 0 || hue < 0) return ERR_WRONGUSAGE;
  qmBrush *b = nullptr;
  if (uint32_t code = BrushToChange(L, &b)) return code;
  return ModulateBitmap(b->bitmap, b->width, b->height, brightness, saturation, hue);
}

uint32_t BrsSepiaToneBrush(VmState *L) {
  CheckArgCount(L, 2, 2);
  const int32_t threshold = ThresholdArg(L, 2);
  qmBrush *b = nullptr;
  if (uint32_t code = BrushToChange(L, &b)) return code;
  return SepiaToneBitmap(b->bitmap, b->width, b->height, threshold);
}

uint32_t BrsCharcoalBrush(VmState *L) {
  qmBrush *b = nullptr;
  double radius = 0;
  if (uint32_t code = RadiusCommand(L, &b, &radius)) return code;
  return CharcoalBitmap(b->bitmap, b->alpha, b->width, b->height, radius, 1.0, CommandCancel(L));
}

uint32_t BrsSwirlBrush(VmState *L) {
  CheckArgCount(L, 2, 2);
  const int32_t degrees = vm_checkint32(L, 2);
  qmBrush *b = nullptr;
  if (uint32_t code = BrushToChange(L, &b)) return code;
  return SwirlBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, degrees);
}

uint32_t BrsPixelateBrush(VmState *L) {
  CheckArgCount(L, 2, 2);
  const int32_t size = vm_checkint32(L, 2);
  qmBrush *b = nullptr;
  if (uint32_t code = BrushToChange(L, &b)) return code;
  // Tested only once the brush is found: it needs the brush's size.
  if (size < 1 || size > b->width || size > b->height) return ERR_WRONGUSAGE;
  return PixelateBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, size);
}

uint32_t BrsWaterRippleBrush(VmState *L) {
  CheckArgCount(L, 1, 6);
  const int32_t waves = vm_optint32(L, 2, 32), amplitude = vm_optint32(L, 3, 1), level = vm_optint32(L, 4, 0);
  const double centerX = vm_optnumber(L, 5, 0.5), centerY = vm_optnumber(L, 6, 0.5);
  qmBrush *b = nullptr;
  if (uint32_t code = BrushToChange(L, &b)) return code;
  return WaterRippleBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, waves, amplitude, level, centerX, centerY);
}

uint32_t BrsBrushToMonochrome(VmState *L) {
  CheckArgCount(L, 1, 2);
  const int32_t dither = vm_optint32(L, 2, 1);
  qmBrush *b = nullptr;
  if (uint32_t code = BrushToChange(L, &b)) return code;
  return MonochromeBitmap(b->bitmap, b->width, b->height, dither);
}

uint32_t BrsOilPaintBrush(VmState *L) {
  qmBrush *b = nullptr;
  double radius = 0;
  if (uint32_t code = RadiusCommand(L, &b, &radius)) return code;
  return OilPaintBitmap(b->bitmap, b->width, b->height, radius, CommandCancel(L));
}

uint32_t BrsTrimBrush(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmBrush *b = nullptr;
  if (uint32_t code = BrushToChange(L, &b)) return code;
  int32_t left = 0, top = 0;
  if (uint32_t code = TrimBrushCore(b, &left, &top)) return code;
  vm_pushnumber(L, left);
  vm_pushnumber(L, top);
  return 2;
}

uint32_t BrsRasterizeBrush(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  if (uint32_t code = CheckNotSelectedBrush(GetScene(L), &id)) return code;
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrush(ObjectRegistryOf(L), &id, &b, FINDBRUSH_MODIFY)) return code;
  if (b->kind != BRUSHKIND_VECTOR) return ERR_WRONGUSAGE;
  // The rendered planes stay; the source it was rendered from is no longer the brush's.
  b->kind = BRUSHKIND_PIXEL;
  ReleasePluginImage(static_cast<qmPluginImage *>(b->sourceImage));
  b->sourceImage = nullptr;
  return 0;
}

uint32_t BrsChangeBrushTransparency(VmState *L) {
  CheckArgCount(L, 2, 2);
  const int32_t type = vm_checkint32(L, 2);
  qmBrush *b = nullptr;
  if (uint32_t code = BrushToChange(L, &b)) return code;
  return ChangeBrushTransparencyCore(b, type);
}

uint32_t BrsConvertToBrush(VmState *L) {
  CheckArgCount(L, 3, 4);
  return ConvertCore(L, vm_checkint32(L, 1), 2, 3);
}

uint32_t BrsGetBrushLink(VmState *L) {
  CheckArgCount(L, 3, 4);
  return ConvertCore(L, vm_checkint32(L, 2), 3, 1);
}

uint32_t BrsPerspectiveDistortBrush(VmState *L) {
  CheckArgCount(L, 9, 10);
  qmBrush *b = nullptr;
  if (uint32_t code = BrushToChange(L, &b)) return code;
  // Four quadruples: a corner of the brush and where it goes.
  const double w = b->width, h = b->height;
  const double corners[4][2] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
  double params[16];
  for (int k = 0; k < 4; k++) {
    params[4 * k] = corners[k][0], params[4 * k + 1] = corners[k][1];
    params[4 * k + 2] = vm_checknumber(L, 2 + 2 * k), params[4 * k + 3] = vm_checknumber(L, 3 + 2 * k);
  }
  return DistortBrushCore(b, 4, 16, params, vm_optint32(L, 10, 0));
}

uint32_t BrsArcDistortBrush(VmState *L) { return DistortCommand(L, 9, 2, 4); }
uint32_t BrsPolarDistortBrush(VmState *L) { return DistortCommand(L, 10, 1, 6); }
uint32_t BrsBarrelDistortBrush(VmState *L) { return DistortCommand(L, 12, 4, 10); }

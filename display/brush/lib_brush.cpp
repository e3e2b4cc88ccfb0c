// The brush library's commands: brushes made, copied, freed, shown, edited and read pixel by
// pixel; output selection (SelectBrush and its kin, the mask mode and alpha intensity) and
// double buffering.
#include "display/brush/lib_brush.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "display/brush.h"
#include "display/scene.h"
#include "display/bgpic.h"
#include "runtime/bindings/gradient_reader.h"
#include "display/brush/brush_effects.h"
#include "display/brush/brushedit.h"
#include "display/brush/brushload.h"
#include "display/display.h"
#include "display/displaytags.h"
#include "display/doublebuffer.h"
#include "display/imagecore.h"
#include "display/outputselect.h"
#include "graphics/blit.h"
#include "graphics/bitmap_effects.h"
#include "graphics/bitmapops.h"
#include "graphics/fillarea.h"
#include "media/image/imagewriter.h"
#include "runtime/bindings/saveoptions_reader.h"
#include "platform/desktop.h"
#include "display/displaywindow.h"
#include "display/pacing.h"
#include "display/position.h"
#include "runtime/bindings/displaytags_reader.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/errreport.h"
#include "runtime/objtypes.h"
#include "runtime/rttags.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vnames.h"

namespace {

void SetTag(VmState *L, uint32_t tag, uintptr_t value) {
  qmTagItem tags[] = {{tag, value}, {0, 0}};
  SetRuntimeTags(L, tags);
}

// The argument at i must be a table.
uint32_t NeedTable(VmState *L, int i) {
  if (vm_type(L, i) == VM_TTABLE) return 0;
  SetErrorNumber(uint32_t(i));
  return ERR_TABEXPECTED;
}

// A level: a number or a percentage of 255, clamped to 0..255.
int32_t LevelArg(VmState *L, int i) {
  const double v = GetNumberOrPercentArg(L, i, 255, 0, nullptr);
  return v < 0 ? 0 : v > 255 ? 255 : int32_t(v);
}

// t[0..] of the table on the stack top: every pixel row by row as A << 24 | RGB. 0 or
// ERR_LOCKBMAP.
uint32_t PushBrushArgb(VmState *L, const qmBrush *b, bool inverted) {
  qmBitmapView v;
  if (!LockBitmap(b->bitmap, &v) || v.bytesPerPixel != 4) return ERR_LOCKBMAP;
  int n = 0;
  for (int32_t y = 0; y < b->height; y++)
    for (int32_t x = 0; x < b->width; x++) {
      vm_pushnumber(L, BrushPixelArgb(b, v, x, y, inverted));
      vm_rawseti(L, -2, n++);
    }
  UnlockBitmap();
  return 0;
}

// A new brush of width x height from the table at t (index 0 on, row by row); type MASK or
// ALPHACHANNEL gives it that plane from the top bytes. On any error no brush is left.
uint32_t BrushFromArgbTable(VmState *L, int t, qmObjectId *id, int32_t w, int32_t h, int32_t type, bool inverted) {
  if (w > QM_MAX_PICTURE_SIDE || h > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  // A table too short for the size is refused before the picture is made.
  const int64_t count = int64_t(w) * h;
  if (count > INT32_MAX) return ERR_NOTENOUGHPIXELS;
  vm_rawgeti(L, t, int(count - 1));
  const bool last = vm_type(L, -1) != VM_TNIL;
  vm_pop(L, 1);
  if (!last) return ERR_NOTENOUGHPIXELS;
  qmBrush *b = nullptr;
  if (uint32_t code =
          CreateBrushNode(ObjectRegistryOf(L), id, w, h, 0, type == QMTYPE_MASK, type == QMTYPE_ALPHACHANNEL, 1, 1, &b))
    return code;
  uint32_t code = 0;
  qmBitmapView v;
  if (!LockBitmap(b->bitmap, &v) || v.bytesPerPixel != 4) code = ERR_LOCKBMAP;
  for (int32_t y = 0; y < h && !code; y++)
    for (int32_t x = 0; x < w && !code; x++) {
      vm_rawgeti(L, t, int(int64_t(y) * w + x));
      const int kind = vm_type(L, -1);
      const double n = vm_tonumber(L, -1);
      vm_pop(L, 1);
      if (kind == VM_TNIL) code = ERR_NOTENOUGHPIXELS;
      else if (kind != VM_TNUMBER) code = ERR_NUMEXPECTED, SetErrorNumber(uint32_t(t));
      else SetBrushPixelArgb(b, v, x, y, n <= 0 ? 0 : n >= 4294967295.0 ? 0xFFFFFFFFu : uint32_t(n), inverted);
    }
  UnlockBitmap();
  if (code) {
    qmObjectId own{b->header.id, b->header.handle};
    FreeBrushNode(GetScene(L), &own, 0);
  }
  return code;
}

uint32_t BrsCreateBrush(VmState *L) {
  CheckArgCount(L, 3, 5);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  const int32_t w = vm_checkint32(L, 2), h = vm_checkint32(L, 3);
  const uint32_t color = vm_optinteger(L, 4, 0);
  bool alpha = false, mask = false, clear = false;
  if (vm_gettop(L) == 5) {
    if (uint32_t code = NeedTable(L, 5)) return code;
    GetFieldFlag(L, 5, "alphachannel", &alpha, nullptr);
    GetFieldFlag(L, 5, "mask", &mask, nullptr);
    GetFieldFlag(L, 5, "clear", &clear, nullptr);
  }
  if (w < 1 || h < 1) return ERR_BADDIMENSIONS;
  if (alpha && mask) return ERR_WRONGUSAGE;
  if (w > QM_MAX_PICTURE_SIDE || h > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  if (uint32_t code = FreeOldBrushOfId(L, id)) return code;
  if (uint32_t code = CreateBrushNode(ObjectRegistryOf(L), &id, w, h, color, mask, alpha, clear, 0, nullptr))
    return code;
  return PushNewId(L, id);
}

uint32_t BrsDisplayBrush(VmState *L) {
  CheckArgCount(L, 3, 4);
  qmImageRequest r{};
  r.kind = QMTYPE_BRUSH;
  r.id = GetObjectIdArg(L, 1);
  r.x = vm_checkint32(L, 2);
  r.y = vm_checkint32(L, 3);
  qmTransform transform;
  qmDisplayTags tags;
  ReadImageRequestTags(L, GetScene(L), 4, 1, &transform, &tags, &r);
  return DisplayImageCore(GetScene(L), &r);
}

uint32_t BrsDisplayBrushPart(VmState *L) {
  CheckArgCount(L, 7, 8);
  qmImageRequest r{};
  r.kind = QMTYPE_BRUSHPART;
  r.id = GetObjectIdArg(L, 1);
  r.srcX = vm_checkint32(L, 2);
  r.srcY = vm_checkint32(L, 3);
  r.x = vm_checkint32(L, 4);
  r.y = vm_checkint32(L, 5);
  r.width = vm_checkint32(L, 6);
  r.height = vm_checkint32(L, 7);
  qmTransform transform;
  qmDisplayTags tags;
  ReadImageRequestTags(L, GetScene(L), 8, 1, &transform, &tags, &r);
  return DisplayImageCore(GetScene(L), &r);
}

uint32_t BrsScaleBrush(VmState *L) {
  CheckArgCount(L, 3, 4);
  qmObjectId id = GetObjectIdArg(L, 1);
  const int32_t smooth = vm_optint32(L, 4, 0);
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrushToEdit(L, &id, &b, FINDBRUSH_HARDWARE)) return code;
  const double w = GetNumberOrPercentArg(L, 2, b->width, 1, nullptr);
  const double h = GetNumberOrPercentArg(L, 3, b->height, 1, nullptr);
  return ScaleBrushCore(b, w, h, smooth);
}

uint32_t BrsFreeBrush(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  return FreeBrushNode(GetScene(L), &id, 1);
}

uint32_t BrsTintBrush(VmState *L) {
  CheckArgCount(L, 3, 3);
  qmObjectId id = GetObjectIdArg(L, 1);
  const uint32_t color = vm_checkinteger(L, 2);
  const int32_t level = LevelArg(L, 3);
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrushToEdit(L, &id, &b, 0)) return code;
  return TintBitmap(b->bitmap, 0, 0, b->width, b->height, color & 0xFFFFFF, level);
}

uint32_t BrsReplaceColors(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmObjectId id = GetObjectIdArg(L, 1);
  if (uint32_t code = NeedTable(L, 2)) return code;
  std::vector<uint32_t> pairs;
  for (int i = 0;; i += 2) {
    vm_rawgeti(L, 2, i);
    vm_rawgeti(L, 2, i + 1);
    const int oldType = vm_type(L, -2), newType = vm_type(L, -1);
    if (oldType != VM_TNIL && oldType != VM_TNUMBER) return SetErrorArgument("colortable"), ERR_NUMTABLEARG;
    const double from = vm_tonumber(L, -2);
    vm_pop(L, 2);
    if (oldType == VM_TNIL || from == -1) break;
    if (newType == VM_TNIL) return ERR_WRONGUSAGE;
    if (newType != VM_TNUMBER) return SetErrorArgument("colortable"), ERR_NUMTABLEARG;
    vm_rawgeti(L, 2, i + 1);
    const double to = vm_tonumber(L, -1);
    vm_pop(L, 1);
    pairs.push_back(FieldToUInt32(L, "colortable", from) & 0xFFFFFF);
    pairs.push_back(FieldToUInt32(L, "colortable", to) & 0xFFFFFF);
  }
  if (pairs.empty()) return 0;
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrushToEdit(L, &id, &b, 0)) return code;
  return ReplaceBrushColors(b, pairs.data(), int32_t(pairs.size() / 2));
}

uint32_t BrsInvertBrush(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrushToEdit(L, &id, &b, 0)) return code;
  return InvertBitmap(b->bitmap, b->width, b->height, nullptr);
}

uint32_t BrsFlipBrush(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmObjectId id = GetObjectIdArg(L, 1);
  const int32_t direction = vm_checkint32(L, 2);
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrushToEdit(L, &id, &b, 0)) return code;
  return FlipBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, direction);
}

uint32_t BrsMixBrush(VmState *L) {
  CheckArgCount(L, 3, 3);
  qmObjectId id = GetObjectIdArg(L, 1);
  qmObjectId second = GetObjectIdArg(L, 2);
  const int32_t level = LevelArg(L, 3);
  qmBrush *b = nullptr, *s = nullptr;
  if (uint32_t code = FindBrushToEdit(L, &id, &b, 0)) return code;
  if (uint32_t code = FindBrush(ObjectRegistryOf(L), &second, &s, 0)) return code;
  return MixBitmap(b->bitmap, s->bitmap, nullptr, 0, 0, 0, 0, std::min(b->width, s->width),
                   std::min(b->height, s->height), level, s->alpha);
}

uint32_t BrsBrushToGray(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrushToEdit(L, &id, &b, 0)) return code;
  return BitmapToGray(b->bitmap, b->width, b->height, 0, nullptr);
}

uint32_t BrsRotateBrush(VmState *L) {
  CheckArgCount(L, 2, 5);
  qmObjectId id = GetObjectIdArg(L, 1);
  const double angle = vm_checknumber(L, 2);
  const double sx = vm_optnumber(L, 3, 1.0), sy = vm_optnumber(L, 4, 1.0);
  const int32_t smooth = vm_optint32(L, 5, 0);
  if (uint32_t code = CheckNotSelectedBrush(GetScene(L), &id)) return code;
  if (sx == 0 || sy == 0) return ERR_WRONGUSAGE;
  double m[4];
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrush(ObjectRegistryOf(L), &id, &b, FINDBRUSH_MODIFY | FINDBRUSH_HARDWARE)) return code;
  BuildTransformMatrix(m, 0, 0, b->width, b->height, sx, sy, angle);
  return TransformBrushCore(GetScene(L)->current, b, m, smooth);
}

uint32_t BrsCopyBrush(VmState *L) {
  CheckArgCount(L, 2, 3);
  qmObjectId src = GetObjectIdArg(L, 1);
  qmObjectId id = GetNewObjectIdArg(L, 2);
  bool hardware = false;
  int hardwareGiven = 0;
  if (vm_gettop(L) == 3) {
    if (uint32_t code = NeedTable(L, 3)) return code;
    GetFieldFlag(L, 3, "hardware", &hardware, &hardwareGiven);
  }
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrush(ObjectRegistryOf(L), &src, &b, FINDBRUSH_HARDWARE)) return code;
  if (!id.handle && !src.handle && id.id == src.id) return ERR_WRONGUSAGE;
  if (b->hardware && hardwareGiven && !hardware) return ERR_WRONGUSAGE;
  if (uint32_t code = FreeOldBrushOfId(L, id)) return code;
  if (uint32_t code = CopyBrushRecord(ObjectRegistryOf(L), b, &id, b->hardware || hardware, nullptr)) return code;
  return PushNewId(L, id);
}

uint32_t BrsSetBrushTransparency(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmObjectId id = GetObjectIdArg(L, 1);
  const uint32_t color = vm_checkinteger(L, 2);
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrushToEdit(L, &id, &b, 0)) return code;
  return SetBrushTransparencyCore(b, color);
}

uint32_t BrsSelectBrush(VmState *L) {
  CheckArgCount(L, 1, 3);
  qmObjectId id = GetObjectIdArg(L, 1);
  const uint32_t mode = vm_optinteger(L, 2, SELMODE_NORMAL);
  const uint32_t combo = vm_optinteger(L, 3, 0);
  return SelectOutputCore(GetScene(L), QMTYPE_BRUSH, &id, DISPOUT_BRUSH, 0, mode, combo);
}

// SelectMask and SelectAlphaChannel: an anim needs its frame.
uint32_t SelectPlane(VmState *L, uint32_t outputType) {
  CheckArgCount(L, 1, 3);
  qmObjectId id = GetObjectIdArg(L, 1);
  const uint32_t type = vm_optinteger(L, 2, QMTYPE_BRUSH);
  if (type == QMTYPE_ANIM && vm_gettop(L) < 3) return ERR_MISSINGPARAMTR;
  const int32_t frame = vm_optint32(L, 3, 0);
  return SelectOutputCore(GetScene(L), type, &id, outputType, frame, SELMODE_NORMAL, 0);
}

constexpr int32_t kMessageLoadingBrush = 101;

uint32_t BrsLoadBrush(VmState *L) {
  CheckArgCount(L, 2, 5);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  const char *file = ResolveLinkedFileArg(L, 2, 0, nullptr);
  const char *shown = vm_tostring(L, 2);
  qmBrushLoadOptions o = kDefaultBrushLoad;
  char cache[1024] = "", cachedLoad[1024] = "";
  o.cache = cache, o.cachedLoad = cachedLoad;
  o.plugins = GetPlayerContext(L)->formatPlugins;
  o.images = GetScene(L)->images;
  const int n = vm_gettop(L);
  if (n == 3 && vm_type(L, 3) == VM_TTABLE) {
    bool loadAlpha = false, hardware = false;
    GetFieldUInt(L, 3, "transparency", &o.transparentColor, nullptr);
    GetFieldFlag(L, 3, "loadalpha", &loadAlpha, nullptr);
    GetFieldInt(L, 3, "globalalpha", &o.globalAlpha, nullptr);
    GetFieldInt(L, 3, "x", &o.x, nullptr);
    GetFieldInt(L, 3, "y", &o.y, nullptr);
    GetFieldInt(L, 3, "width", &o.width, nullptr);
    GetFieldInt(L, 3, "height", &o.height, nullptr);
    GetFieldFlag(L, 3, "hardware", &hardware, nullptr);
    GetFieldString(L, 3, "cache", cache, sizeof cache, nullptr);
    GetFieldString(L, 3, "cachedload", cachedLoad, sizeof cachedLoad, nullptr);
    o.loadAlpha = loadAlpha;
    o.hardware = hardware;
  } else if (n == 3) {
    o.transparentColor = vm_checkinteger(L, 3);
  } else if (n == 5) {
    o.transparentColor = vm_checkinteger(L, 3);
    o.pen = vm_checkint32(L, 4);
    o.loaderFlag = vm_checkint32(L, 5);
  }
  if (uint32_t code = FreeOldBrushOfId(L, id)) return code;
  PrintStatusMessage(GetErrorText(kMessageLoadingBrush), shown, 1);
  qmBrush *made = nullptr;
  if (uint32_t code = LoadBrushCore(ObjectRegistryOf(L), &id, file, &o, &made)) return code;
  // A declared brush keeps its pixels until the first display: that failure names this line.
  made->declLine = vm_geterrorline(L);
  PrintDoneMessage();
  return PushNewId(L, id);
}

uint32_t BrsSelectMask(VmState *L) { return SelectPlane(L, DISPOUT_MASK); }
uint32_t BrsSaveBrush(VmState *L) {
  CheckArgCount(L, 2, 5);
  qmObjectId id = GetObjectIdArg(L, 1);
  const char *file = vm_checkstring(L, 2, nullptr);
  const uint32_t transparent = vm_optinteger(L, 3, 0);
  const int32_t format = vm_optint32(L, 4, IMGFMT_BMP);
  int32_t quality = kDefaultSaveQuality, colors = kDefaultSaveColors, dither = kDefaultSaveDither;
  ParseSaveOptions(L, 5, &quality, &colors, &dither);
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrush(ObjectRegistryOf(L), &id, &b, FINDBRUSH_HARDWARE)) return code;
  if (b->hardware) return ERR_HWBRUSH;
  if (b->kind == BRUSHKIND_VECTOR) return ERR_BRUSHTYPE;
  return SaveBitmapFile(format, b->bitmap, b->width, b->height, file, b->mask, transparent, b->alpha, quality, colors,
                        dither, GetPlayerContext(L)->formatPlugins);
}

uint32_t BrsSelectAlphaChannel(VmState *L) { return SelectPlane(L, DISPOUT_ALPHA); }

uint32_t BrsSetMaskMode(VmState *L) {
  CheckArgCount(L, 1, 1);
  SetTag(L, RTTAG_MASKMODE, uintptr_t(vm_checkinteger(L, 1)));
  return 0;
}

uint32_t BrsSetAlphaIntensity(VmState *L) {
  CheckArgCount(L, 1, 1);
  const double v = GetNumberOrPercentArg(L, 1, 255, 0, nullptr);
  const int32_t n = ArgToClampedInt32(L, 1, v, -2, 256);  // beyond -1..255 is refused below
  if (n < -1 || n > 255) return ERR_WRONGUSAGE;
  SetTag(L, RTTAG_ALPHAVALUE, uintptr_t(uint32_t(n)));
  return 0;
}

// The commands that drop, crop or invert one plane of a brush.
uint32_t BrsDeleteAlphaChannel(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrushToEdit(L, &id, &b, 0)) return code;
  FreeAlphaChannel(b->alpha);
  b->alpha = nullptr;
  return 0;
}

uint32_t BrsCropBrush(VmState *L) {
  CheckArgCount(L, 5, 5);
  qmObjectId id = GetObjectIdArg(L, 1);
  const int32_t x = vm_checkint32(L, 2), y = vm_checkint32(L, 3);
  const int32_t w = vm_checkint32(L, 4), h = vm_checkint32(L, 5);
  if (w < 1 || h < 1) return ERR_BADDIMENSIONS;
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrushToEdit(L, &id, &b, 0)) return code;
  return CropBrushCore(b, ResolvePositionX(GetScene(L), x, w, b->width, 0), ResolvePositionY(GetScene(L), y, h, b->height, 0), w, h);
}

uint32_t BrsInvertMask(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrushToEdit(L, &id, &b, 0)) return code;
  return InvertPlane(b->mask, b->height);
}

uint32_t BrsInvertAlphaChannel(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrushToEdit(L, &id, &b, 0)) return code;
  return InvertPlane(b->alpha, b->height);
}

uint32_t BrsFloodFill(VmState *L) {
  CheckArgCount(L, 3, 5);
  qmObjectId id = GetObjectIdArg(L, 1);
  const int32_t x = vm_checkint32(L, 2), y = vm_checkint32(L, 3);
  const uint32_t border = vm_optinteger(L, 4, 0), fill = vm_optinteger(L, 5, 0);
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrushToEdit(L, &id, &b, 0)) return code;
  return FloodFillBrush(b, ResolvePositionX(GetScene(L), x, 1, b->width, 0), ResolvePositionY(GetScene(L), y, 1, b->height, 0), border,
                        fill);
}

uint32_t BrsDeleteMask(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrushToEdit(L, &id, &b, 0)) return code;
  FreeMask(b->mask);
  b->mask = nullptr;
  b->transparentColor = kNoTransparentColor;
  return 0;
}

uint32_t BrsBeginDoubleBuffer(VmState *L) {
  CheckArgCount(L, 0, 1);
  const int32_t hardware = vm_optint32(L, 1, 0);
  qmScene *scene = GetScene(L);
  if (!scene->current) return ERR_WRONGUSAGE;
  // The engine's threads present videos into the window, past any buffer.
  const qmPlayerContext *ctx = GetPlayerContext(L);
  if (ctx && ctx->videoOnDisplay && ctx->videoOnDisplay(L, scene->current)) return ERR_VIDATTACHED;
  return BeginDoubleBufferCore(scene, scene->current, hardware);
}

uint32_t BrsEndDoubleBuffer(VmState *L) {
  CheckArgCount(L, 0, 0);
  qmScene *scene = GetScene(L);
  if (!scene->current) return ERR_NODOUBLEBUFFER;
  return EndDoubleBufferCore(scene, scene->current);
}

uint32_t BrsFlip(VmState *L) {
  CheckArgCount(L, 0, 1);
  const int32_t sync = vm_optint32(L, 1, 1);
  qmDisplay *d = GetScene(L)->current;
  if (!d) return ERR_NODOUBLEBUFFER;
  if (uint32_t code = FlipCore(d)) return code;
  // Shown first, so that the wait paces the frame just shown.
  if (sync) FlushDisplayFrame(GetScene(L));
  return 0;
}

uint32_t BrsTransformBrush(VmState *L) {
  CheckArgCount(L, 5, 6);
  qmObjectId id = GetObjectIdArg(L, 1);
  double m[4];
  for (int i = 0; i < 4; i++) m[i] = vm_checknumber(L, 2 + i);
  const int32_t smooth = vm_optint32(L, 6, 0);
  if (m[0] == 0 || m[3] == 0) return ERR_WRONGUSAGE;
  if (uint32_t code = CheckNotSelectedBrush(GetScene(L), &id)) return code;
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrush(ObjectRegistryOf(L), &id, &b, FINDBRUSH_MODIFY | FINDBRUSH_HARDWARE)) return code;
  return TransformBrushCore(GetScene(L)->current, b, m, smooth);
}

// A new plain brush that takes over the bitmap; the bitmap is freed when that fails.
uint32_t AddFilledBrush(VmState *L, qmObjectId *id, qmBitmap *bitmap, int32_t w, int32_t h) {
  if (uint32_t code = NewBrushRecord(ObjectRegistryOf(L), id, BRUSHKIND_PIXEL, w, h, w, 0, nullptr, bitmap,
                                     kNoTransparentColor, nullptr, nullptr, nullptr)) {
    FreeBitmap(bitmap);
    return code;
  }
  return PushNewId(L, *id);
}

uint32_t BrsCreateGradientBrush(VmState *L) {
  CheckArgCount(L, 6, 8);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  const int32_t w = vm_checkint32(L, 2), h = vm_checkint32(L, 3);
  qmFillStyle fill{};
  fill.fillStyle = FILLGRADIENT;
  fill.gradient.kind = vm_checkinteger(L, 4);
  fill.gradient.startColor = vm_checkinteger(L, 5);
  fill.gradient.endColor = vm_checkinteger(L, 6);
  if (w < 1 || h < 1) return ERR_BADDIMENSIONS;
  if (w > QM_MAX_PICTURE_SIDE || h > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  if (uint32_t code = ReadGradientArgs(L, 7, &fill.gradient)) return code;
  if (uint32_t code = FreeOldBrushOfId(L, id)) return code;
  qmBitmap *b = AllocBitmap(w, h);
  if (!b) return ERR_MEM;
  if (uint32_t code = FillPictureFromStyle(b, w, h, &fill)) {
    FreeBitmap(b);
    return code;
  }
  return AddFilledBrush(L, &id, b, w, h);
}

uint32_t BrsCreateTexturedBrush(VmState *L) {
  CheckArgCount(L, 4, 6);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  qmObjectId texture = GetObjectIdArg(L, 2);
  const int32_t w = vm_checkint32(L, 3), h = vm_checkint32(L, 4);
  const int32_t offsetX = vm_optint32(L, 5, 0), offsetY = vm_optint32(L, 6, 0);
  if (w < 1 || h < 1) return ERR_BADDIMENSIONS;
  if (w > QM_MAX_PICTURE_SIDE || h > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  if (!id.handle && !texture.handle && id.id == texture.id) return ERR_WRONGUSAGE;
  if (uint32_t code = FreeOldBrushOfId(L, id)) return code;
  qmBrush *t = nullptr;
  if (uint32_t code = FindBrush(ObjectRegistryOf(L), &texture, &t, 0)) return code;
  qmBitmap *b = AllocBitmap(w, h);
  if (!b) return ERR_MEM;
  TileBitmap(b, 0, 0, w, h, t->bitmap, offsetX, offsetY, t->width, t->height);
  return AddFilledBrush(L, &id, b, w, h);
}

uint32_t BrsGrabDesktop(VmState *L) {
  CheckArgCount(L, 1, 2);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  const int32_t desktopWidth = GetPlatformAttr(nullptr, 14), desktopHeight = GetPlatformAttr(nullptr, 15);
  int32_t x = 0, y = 0, w = desktopWidth, h = desktopHeight;
  if (vm_gettop(L) == 2) {
    if (uint32_t code = NeedTable(L, 2)) return code;
    GetFieldInt(L, 2, "x", &x, nullptr);
    GetFieldInt(L, 2, "y", &y, nullptr);
    GetFieldInt(L, 2, "width", &w, nullptr);
    GetFieldInt(L, 2, "height", &h, nullptr);
    if (x < 0 || y < 0) return ERR_WRONGUSAGE;
    // Cut to the desktop, in 64 bits so that no sum overflows.
    w = int32_t(std::min<int64_t>(w, int64_t(desktopWidth) - x));
    h = int32_t(std::min<int64_t>(h, int64_t(desktopHeight) - y));
    if (w < 1 || h < 1) return ERR_WRONGUSAGE;
  }
  if (uint32_t code = FreeOldBrushOfId(L, id)) return code;
  qmBitmap *b = w > 0 && h > 0 ? GrabScreenPixels(x, y, w, h) : nullptr;
  if (!b) return ERR_MEM;
  return AddFilledBrush(L, &id, b, w, h);
}

uint32_t BrsBrushToRGBArray(VmState *L) {
  CheckArgCount(L, 1, 2);
  qmObjectId id = GetObjectIdArg(L, 1);
  const bool inverted = vm_optflag(L, 2, false);
  vm_newtable(L);
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrush(ObjectRegistryOf(L), &id, &b, 0)) return code;
  if (uint32_t code = PushBrushArgb(L, b, inverted)) return code;
  return 1;
}

uint32_t BrsRGBArrayToBrush(VmState *L) {
  CheckArgCount(L, 4, 6);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  const int32_t w = vm_checkint32(L, 3), h = vm_checkint32(L, 4);
  const int32_t type = vm_optint32(L, 5, -1);
  const bool inverted = vm_optflag(L, 6, false);
  if (w < 1 || h < 1) return ERR_BADDIMENSIONS;
  if (uint32_t code = NeedTable(L, 2)) return code;
  if (uint32_t code = FreeOldBrushOfId(L, id)) return code;
  if (uint32_t code = BrushFromArgbTable(L, 2, &id, w, h, type, inverted)) return code;
  return PushNewId(L, id);
}

uint32_t BrsReadBrushPixel(VmState *L) {
  CheckArgCount(L, 3, 3);
  qmObjectId id = GetObjectIdArg(L, 1);
  const int32_t x = vm_checkint32(L, 2), y = vm_checkint32(L, 3);
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrush(ObjectRegistryOf(L), &id, &b, 0)) return code;
  uint32_t rgb = 0;
  int32_t plane = 0;
  ReadBrushPixelAt(b, ResolvePositionX(GetScene(L), x, 1, b->width, 0), ResolvePositionY(GetScene(L), y, 1, b->height, 0), &rgb, &plane);
  vm_pushnumber(L, rgb);
  vm_pushnumber(L, plane);
  return 2;
}

uint32_t BrsWriteBrushPixel(VmState *L) {
  CheckArgCount(L, 4, 5);
  qmObjectId id = GetObjectIdArg(L, 1);
  const int32_t x = vm_checkint32(L, 2), y = vm_checkint32(L, 3);
  const uint32_t color = vm_checkinteger(L, 4);
  const int32_t transparency = vm_optint32(L, 5, -1);
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrushToEdit(L, &id, &b, 0)) return code;
  WriteBrushPixelAt(b, ResolvePositionX(GetScene(L), x, 1, b->width, 0), ResolvePositionY(GetScene(L), y, 1, b->height, 0), color,
                    transparency);
  return 0;
}

// In the library's command order.
const qmCommandEntry kBrushCommands[] = {
    {"CreateBrush", BrsCreateBrush},
    {"DisplayBrush", BrsDisplayBrush},
    {"DisplayBrushPart", BrsDisplayBrushPart},
    {"ScaleBrush", BrsScaleBrush},
    {"FreeBrush", BrsFreeBrush},
    {"TintBrush", BrsTintBrush},
    {"ReplaceColors", BrsReplaceColors},
    {"InvertBrush", BrsInvertBrush},
    {"FlipBrush", BrsFlipBrush},
    {"MixBrush", BrsMixBrush},
    {"BrushToGray", BrsBrushToGray},
    {"RotateBrush", BrsRotateBrush},
    {"GetBrushLink", BrsGetBrushLink},
    {"SelectBrush", BrsSelectBrush},
    {"CopyBrush", BrsCopyBrush},
    {"SetBrushTransparency", BrsSetBrushTransparency},
    {"LoadBrush", BrsLoadBrush},
    {"SelectMask", BrsSelectMask},
    {"SetMaskMode", BrsSetMaskMode},
    {"SaveBrush", BrsSaveBrush},
    {"SelectAlphaChannel", BrsSelectAlphaChannel},
    {"SetAlphaIntensity", BrsSetAlphaIntensity},
    {"DeleteAlphaChannel", BrsDeleteAlphaChannel},
    {"CropBrush", BrsCropBrush},
    {"InvertMask", BrsInvertMask},
    {"InvertAlphaChannel", BrsInvertAlphaChannel},
    {"FloodFill", BrsFloodFill},
    {"DeleteMask", BrsDeleteMask},
    {"BeginDoubleBuffer", BrsBeginDoubleBuffer},
    {"EndDoubleBuffer", BrsEndDoubleBuffer},
    {"Flip", BrsFlip},
    {"ConvertToBrush", BrsConvertToBrush},
    {"GrabDesktop", BrsGrabDesktop},
    {"TransformBrush", BrsTransformBrush},
    {"TrimBrush", BrsTrimBrush},
    {"RasterizeBrush", BrsRasterizeBrush},
    {"BlurBrush", BrsBlurBrush},
    {"EmbossBrush", BrsEmbossBrush},
    {"EdgeBrush", BrsEdgeBrush},
    {"SharpenBrush", BrsSharpenBrush},
    {"SolarizeBrush", BrsSolarizeBrush},
    {"GammaBrush", BrsGammaBrush},
    {"ContrastBrush", BrsContrastBrush},
    {"ModulateBrush", BrsModulateBrush},
    {"SepiaToneBrush", BrsSepiaToneBrush},
    {"CharcoalBrush", BrsCharcoalBrush},
    {"SwirlBrush", BrsSwirlBrush},
    {"PixelateBrush", BrsPixelateBrush},
    {"BrushToMonochrome", BrsBrushToMonochrome},
    {"ChangeBrushTransparency", BrsChangeBrushTransparency},
    {"CreateShadowBrush", BrsCreateShadowBrush},
    {"CreateBorderBrush", BrsCreateBorderBrush},
    {"WaterRippleBrush", BrsWaterRippleBrush},
    {"OilPaintBrush", BrsOilPaintBrush},
    {"BrushToRGBArray", BrsBrushToRGBArray},
    {"RGBArrayToBrush", BrsRGBArrayToBrush},
    {"PerspectiveDistortBrush", BrsPerspectiveDistortBrush},
    {"ArcDistortBrush", BrsArcDistortBrush},
    {"PolarDistortBrush", BrsPolarDistortBrush},
    {"BarrelDistortBrush", BrsBarrelDistortBrush},
    {"CreateGradientBrush", BrsCreateGradientBrush},
    {"CreateTexturedBrush", BrsCreateTexturedBrush},
    {"ReadBrushPixel", BrsReadBrushPixel},
    {"WriteBrushPixel", BrsWriteBrushPixel},
    {nullptr, nullptr},
};

const qmConstantEntry kBrushConstants[] = {
    {"MASKVISIBLE", nullptr, 0},    {"MASKINVISIBLE", nullptr, 1}, {"MASKVANILLACOPY", nullptr, 2},
    {"MASKXOR", nullptr, 3},        {"MASKAND", nullptr, 4},       {"MASKOR", nullptr, 5},
    {"VANILLACOPY", nullptr, -1},   {"SELMODE_NORMAL", nullptr, 0}, {"SELMODE_COMBO", nullptr, 1},
    {"SELMODE_LAYERS", nullptr, 2}, {nullptr, nullptr, 0},
};

void FreeBrushLibrary(VmState *L) { FreeAllBrushes(ObjectRegistryOf(L)); }

}  // namespace

const qmLibrary kBrushLibrary = {"brush", kBrushCommands, kBrushConstants, nullptr, FreeBrushLibrary,
                                 FREERANK_BRUSH};

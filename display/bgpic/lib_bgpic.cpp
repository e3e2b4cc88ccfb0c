// The background-picture library's commands: creating, copying, scaling, freeing, showing and
// selecting background pictures.
#include "display/bgpic/lib_bgpic.h"

#include "display/bgpic.h"
#include "display/scene.h"
#include "display/bgpicload.h"
#include "runtime/bindings/gradient_reader.h"
#include "display/brush.h"
#include "display/imagecore.h"
#include "display/dirtyrects.h"
#include "display/display.h"
#include "display/displayops.h"
#include "display/outputselect.h"
#include "graphics/blit.h"
#include "graphics/colors.h"
#include "graphics/fillarea.h"
#include "platform/memory.h"
#include "runtime/bindings/displaytags_reader.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/errreport.h"
#include "runtime/rttags.h"
#include "runtime/vnames.h"
#include "runtime/objlist.h"
#include "runtime/vm/vm_api.h"

namespace {

constexpr int32_t kPositionNotGiven = 99999;

// A number id frees the picture it names first; nothing is an error but a locked one.
uint32_t FreeOldOfId(VmState *L, const qmObjectId &id) { return id.handle ? 0 : FreeBGPicCore(GetScene(L), &id, 0); }

uint32_t BgpCreateBGPic(VmState *L) {
  CheckArgCount(L, 3, 4);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  const int32_t w = vm_checkint32(L, 2), h = vm_checkint32(L, 3);
  const uint32_t color = vm_optinteger(L, 4, 0);
  if (w < 1 || h < 1) return ERR_WRONGUSAGE;
  if (uint32_t code = FreeOldOfId(L, id)) return code;
  qmBitmap *b = AllocBitmap(w, h);
  if (!b) return ERR_MEM;
  FillBitmapRect(b, 0, 0, w, h, color & 0xFFFFFF);
  if (uint32_t code =
          NewBGPicRecord(ObjectRegistryOf(L), &id, 0, w, h, {b, nullptr, nullptr}, kNoTransparency, nullptr, nullptr)) {
    FreeBitmap(b);
    return code;
  }
  return PushNewId(L, id);
}

uint32_t BgpCreateGradientBGPic(VmState *L) {
  CheckArgCount(L, 4, 8);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  qmFillStyle fill{};
  fill.fillStyle = FILLGRADIENT;
  qmGradientSpec &g = fill.gradient;
  g.kind = vm_checkinteger(L, 2);
  g.startColor = vm_checkinteger(L, 3);
  g.endColor = vm_checkinteger(L, 4);
  const qmBGPic *current = GetScene(L)->picture;
  const int32_t w = vm_optint32(L, 5, current ? current->unscaledWidth : 0);
  const int32_t h = vm_optint32(L, 6, current ? current->unscaledHeight : 0);
  if (w < 1 || h < 1) return ERR_BADDIMENSIONS;
  if (uint32_t code = ReadGradientArgs(L, 7, &g)) return code;
  if (uint32_t code = FreeOldOfId(L, id)) return code;
  qmBitmap *b = AllocBitmap(w, h);
  if (!b) return ERR_MEM;
  uint32_t code = FillPictureFromStyle(b, w, h, &fill);
  if (!code)
    code = NewBGPicRecord(ObjectRegistryOf(L), &id, 1, w, h, {b, nullptr, nullptr}, kNoTransparency, &fill, nullptr);
  if (code) {
    FreeBitmap(b);
    return code;
  }
  return PushNewId(L, id);
}

uint32_t BgpCreateTexturedBGPic(VmState *L) {
  CheckArgCount(L, 2, 6);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  qmFillStyle fill{};
  fill.fillStyle = FILLTEXTURE;
  fill.textureBrush = GetObjectIdArg(L, 2);
  const qmBGPic *current = GetScene(L)->picture;
  const int32_t w = vm_optint32(L, 3, current ? current->unscaledWidth : 0);
  const int32_t h = vm_optint32(L, 4, current ? current->unscaledHeight : 0);
  fill.textureX = vm_optint32(L, 5, 0);
  fill.textureY = vm_optint32(L, 6, 0);
  if (w < 1 || h < 1) return ERR_BADDIMENSIONS;
  if (w > QM_MAX_PICTURE_SIDE || h > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  if (uint32_t code = FreeOldOfId(L, id)) return code;
  if (uint32_t code = AttachFillTexture(ObjectRegistryOf(L), &fill)) return code;
  qmBitmap *b = AllocBitmap(w, h);
  uint32_t code = b ? FillPictureFromStyle(b, w, h, &fill) : ERR_MEM;
  if (!code)
    code = NewBGPicRecord(ObjectRegistryOf(L), &id, 1, w, h, {b, nullptr, nullptr}, kNoTransparency, &fill, nullptr);
  if (code) {
    FreeBitmap(b);
    FreeBitmap(fill.textureBitmap);
    return code;
  }
  return PushNewId(L, id);
}

uint32_t BgpBrushToBGPic(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmObjectId brushId = GetObjectIdArg(L, 1);
  qmObjectId id = GetNewObjectIdArg(L, 2);
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrush(ObjectRegistryOf(L), &brushId, &b, 0)) return code;
  if (b->kind == BRUSHKIND_VECTOR && b->transformed) return ERR_TFVBRUSHBGPIC;
  if (uint32_t code = FreeOldOfId(L, id)) return code;
  if (uint32_t code = BrushToBGPicCore(ObjectRegistryOf(L), b, &id, nullptr)) return code;
  return PushNewId(L, id);
}

uint32_t BgpBGPicToBrush(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmObjectId picId = GetObjectIdArg(L, 1);
  qmObjectId id = GetNewObjectIdArg(L, 2);
  qmBGPic *pic = nullptr;
  if (uint32_t code = FindBGPic(ObjectRegistryOf(L), &picId, &pic, 0)) return code;
  if (!id.handle)
    if (uint32_t code = FreeBrushNode(GetScene(L), &id, 0)) return code;
  if (uint32_t code = BGPicToBrushCore(ObjectRegistryOf(L), pic, &id, nullptr)) return code;
  return PushNewId(L, id);
}

constexpr int32_t kMessageLoadingBGPic = 148;

uint32_t BgpLoadBGPic(VmState *L) {
  CheckArgCount(L, 2, 4);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  const char *file = ResolveLinkedFileArg(L, 2, 0, nullptr);
  const char *shown = vm_tostring(L, 2);
  uint32_t key = kNoTransparency;
  bool loadAlpha = false;
  qmFillStyle fill{};
  uint32_t palette[257];
  uint32_t *paletteIn = nullptr;
  const int n = vm_gettop(L);
  char cache[1024] = "", cachedLoad[1024] = "";
  if (n == 3 && vm_type(L, 3) == VM_TTABLE) {
    GetFieldString(L, 3, "cache", cache, sizeof cache, nullptr);
    GetFieldString(L, 3, "cachedload", cachedLoad, sizeof cachedLoad, nullptr);
    GetFieldUInt(L, 3, "transparency", &key, nullptr);
    GetFieldFlag(L, 3, "loadalpha", &loadAlpha, nullptr);
    int32_t style = FILLNONE;
    GetFieldInt(L, 3, "fillstyle", &style, nullptr);
    if (style == FILLCOLOR) {
      GetFieldUInt(L, 3, "fillcolor", &fill.fillColor, nullptr);
    } else if (style == FILLGRADIENT) {
      if (uint32_t code = ReadGradientOptions(L, 3, &fill.gradient)) return code;
    } else if (style == FILLTEXTURE) {
      GetFieldObjectId(L, 3, "texturebrush", &fill.textureBrush, nullptr);
      GetFieldInt(L, 3, "texturex", &fill.textureX, nullptr);
      GetFieldInt(L, 3, "texturey", &fill.textureY, nullptr);
    } else if (style != FILLNONE) {
      return ERR_WRONGUSAGE;
    }
    fill.fillStyle = uint32_t(style);
  } else if (n == 3) {
    key = vm_optinteger(L, 3, kNoTransparency);
  } else if (n == 4) {
    if (vm_type(L, 4) != VM_TTABLE) {
      SetErrorNumber(4);
      return ERR_TABEXPECTED;
    }
    // Entries up to and including a -1, at most 256; the loader reads up to the end mark.
    int count = 0;
    for (bool end = false; count < 256 && !end; count++) {
      vm_rawgeti(L, 4, count);
      const bool number = vm_type(L, -1) == VM_TNUMBER;
      const double v = vm_tonumber(L, -1);
      vm_pop(L, 1);
      if (!number) return SetErrorArgument("palette"), ERR_NUMTABLEARG;
      end = v == -1;
      palette[count] = FieldToUInt32(L, "palette", v);
    }
    for (int i = count; i < 257; i++) palette[i] = 0xFFFFFFFFu;
    paletteIn = palette;
  }
  if (uint32_t code = FreeOldOfId(L, id)) return code;
  PrintStatusMessage(GetErrorText(kMessageLoadingBGPic), shown, 1);
  qmBGPic *made = nullptr;
  if (uint32_t code = LoadBGPicCore(ObjectRegistryOf(L), &id, file, paletteIn, key, loadAlpha, &fill, cache,
                                    cachedLoad, &made, GetPlayerContext(L)->formatPlugins, GetScene(L)->images))
    return code;
  // A declared picture keeps its pixels until the first display: that failure names this line.
  made->declLine = vm_geterrorline(L);
  PrintDoneMessage();
  return PushNewId(L, id);
}

uint32_t BgpDisplayBGPicPart(VmState *L) {
  CheckArgCount(L, 5, 8);
  qmImageRequest r{};
  r.kind = QMTYPE_BGPICPART;
  r.id = GetObjectIdArg(L, 1);
  r.srcX = vm_checkint32(L, 2);
  r.srcY = vm_checkint32(L, 3);
  r.width = vm_checkint32(L, 4);
  r.height = vm_checkint32(L, 5);
  r.x = vm_optint32(L, 6, -1);
  r.y = vm_optint32(L, 7, -1);
  // A flag asks for the layers drawn into the picture; there are none to draw here.
  qmTransform transform;
  qmDisplayTags tags;
  if (vm_gettop(L) == 8 && vm_type(L, 8) == VM_TTABLE)
    ReadImageRequestTags(L, GetScene(L), 8, 0, &transform, &tags, &r);
  return DisplayImageCore(GetScene(L), &r);
}

uint32_t BgpFreeBGPic(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  return FreeBGPicCore(GetScene(L), &id, 1);
}

uint32_t BgpCopyBGPic(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmObjectId src = GetObjectIdArg(L, 1);
  qmObjectId id = GetNewObjectIdArg(L, 2);
  qmBGPic *pic = nullptr;
  if (uint32_t code = FindBGPic(ObjectRegistryOf(L), &src, &pic, 0)) return code;
  if (!id.handle && !src.handle && id.id == src.id) return ERR_WRONGUSAGE;
  if (uint32_t code = FreeOldOfId(L, id)) return code;
  if (uint32_t code = CopyBGPicRecord(ObjectRegistryOf(L), pic, &id, nullptr)) return code;
  return PushNewId(L, id);
}

// Whether the picture is what drawing goes to now.
bool IsCurrentOutput(const qmScene *scene, const qmBGPic *pic) {
  const qmDisplay *d = scene->current;
  if (!d) return false;
  if (d->outputType == DISPOUT_BGPIC) return scene->picture == pic;
  return d->outputType != DISPOUT_DISPLAY && d->selectBGPic && d->selectBGPic->selectedType == QMTYPE_BGPIC &&
         d->selectBGPic->selectedRecord == pic && !(d->doubleBuffer && scene->picture == d->doubleBufferBGPic);
}

uint32_t BgpScaleBGPic(VmState *L) {
  CheckArgCount(L, 3, 4);
  qmObjectId id = GetObjectIdArg(L, 1);
  const qmScene *scene = GetScene(L);
  qmBGPic *pic = nullptr;
  if (uint32_t code = FindBGPic(scene->objects, &id, &pic, FINDBGPIC_MODIFY)) return code;
  for (const qmDisplay *d = scene->displays; d; d = d->next)
    if (d->bgpic == pic && d->state != DISPSTATE_CLOSED) return ERR_SCALEBGPIC;
  if (IsCurrentOutput(scene, pic)) return ERR_MODIFYABGPIC;
  const double w = GetNumberOrPercentArg(L, 2, pic->unscaledWidth, 1, nullptr);
  const double h = GetNumberOrPercentArg(L, 3, pic->unscaledHeight, 1, nullptr);
  const int32_t smooth = vm_optint32(L, 4, 0);
  // Sizes from script numbers are checked wide, before anything is made.
  if (!(w >= 1 && h >= 1)) return ERR_BADDIMENSIONS;
  if ((w > QM_MAX_PICTURE_SIDE && w != kKeepAspect) || (h > QM_MAX_PICTURE_SIDE && h != kKeepAspect)) return ERR_MEM;
  int32_t width = int32_t(w), height = int32_t(h);
  if (uint32_t code = ApplyKeepAspect(pic->unscaledWidth, pic->unscaledHeight, &width, &height)) return code;
  if (width > QM_MAX_PICTURE_SIDE || height > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  return SetBGPicSize(pic, width, height, smooth);
}

uint32_t BgpDisplayBGPic(VmState *L) {
  CheckArgCount(L, 1, 2);
  qmObjectId id = GetObjectIdArg(L, 1);
  qmScene *scene = GetScene(L);
  qmBGPic *pic = nullptr;
  if (uint32_t code = FindBGPic(scene->objects, &id, &pic, 0)) return code;
  if (!scene->current) return ERR_WRONGUSAGE;
  int32_t x = kPositionNotGiven, y = kPositionNotGiven;
  if (vm_type(L, 2) == VM_TTABLE) {
    GetFieldInt(L, 2, "x", &x, nullptr);
    GetFieldInt(L, 2, "y", &y, nullptr);
  }
  vm_newtable(L);
  SetFieldObjectId(L, "bgpic", &id);
  if (x != kKeepPosition) SetFieldInt(L, "x", x);
  if (y != kKeepPosition) SetFieldInt(L, "y", y);
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx->setDisplayAttributes) return ERR_WRONGUSAGE;
  return ctx->setDisplayAttributes(L, vm_gettop(L), ctx->scene->current, 0);
}

uint32_t BgpSelectBGPic(VmState *L) {
  CheckArgCount(L, 1, 3);
  const uint32_t mode = vm_optinteger(L, 2, SELMODE_LAYERS);
  const uint32_t flags = vm_optinteger(L, 3, 0);
  qmScene *scene = GetScene(L);
  qmDisplay *d = scene->current;
  if (!d) return ERR_WRONGUSAGE;
  if (mode != SELMODE_LAYERS) {
    qmObjectId id = GetObjectIdArg(L, 1);
    return SelectOutputCore(GetScene(L), QMTYPE_BGPIC, &id, DISPOUT_BRUSH, 0, mode, flags);
  }
  qmBGPic *pic = d->bgpic;
  if (!vm_isnoneornil(L, 1)) {
    qmObjectId id = GetObjectIdArg(L, 1);
    if (uint32_t code = FindBGPic(scene->objects, &id, &pic, 0)) return code;
  }
  if (d->outputType == DISPOUT_BGPIC && scene->picture == pic) return 0;
  if (d->outputType != DISPOUT_DISPLAY && !d->doubleBuffer)
    if (uint32_t code = EndSelectCore(GetScene(L), d, 0)) return code;
  if (!d->layersOn) return ERR_NOLAYERS;
  if (pic != d->bgpic)
    for (const qmDisplay *o = scene->displays; o; o = o->next)
      if (o != d && o->bgpic == pic && o->state != DISPSTATE_CLOSED) return ERR_SELECTBGPIC;
  if (!d->dirtyRects && ResetDirtyRects(d) != 0) return ERR_MEM;
  d->dirtyCount = 0;
  d->outputBitmap = nullptr;
  d->outputMask = nullptr;
  d->outputAlpha = nullptr;
  SaveDisplayForSelect(d, DISPOUT_BGPIC, pic->unscaledWidth);
  scene->picture = pic;
  d->outputType = DISPOUT_BGPIC;
  return 0;
}

uint32_t BgpEndSelect(VmState *L) {
  CheckArgCount(L, 0, 0);
  qmDisplay *d = GetScene(L)->current;
  if (!d) return 0;
  if (d->doubleBuffer) return ERR_WRONGUSAGE;
  return EndSelectCore(GetScene(L), d, 0);
}

const qmCommandEntry kBGPicCommands[] = {
    {"DisplayBGPic", BgpDisplayBGPic},
    {"DisplayBGPicPart", BgpDisplayBGPicPart},
    {"ScaleBGPic", BgpScaleBGPic},
    {"CreateGradientBGPic", BgpCreateGradientBGPic},
    {"CreateRainbowBGPic", BgpCreateGradientBGPic},
    {"CreateTexturedBGPic", BgpCreateTexturedBGPic},
    {"BrushToBGPic", BgpBrushToBGPic},
    {"BGPicToBrush", BgpBGPicToBrush},
    {"CreateBGPic", BgpCreateBGPic},
    {"FreeBGPic", BgpFreeBGPic},
    {"LoadBGPic", BgpLoadBGPic},
    {"SelectBGPic", BgpSelectBGPic},
    {"EndSelect", BgpEndSelect},
    {"CopyBGPic", BgpCopyBGPic},
    {nullptr, nullptr},
};

void FreeAllBGPics(VmState *L) {
  // The libraries are freed after the run's context when a start fails, and a run that ends
  // before its script state was made has pictures but no scene.
  const qmPlayerContext *ctx = GetPlayerContext(L);
  qmScene *scene = ctx ? ctx->scene : nullptr;
  qmObjectRegistry *objects = ctx ? ctx->objects : nullptr;
  while (qmObjectHeader *h = FirstObject(objects, QMTYPE_BGPIC)) {
    auto *pic = reinterpret_cast<qmBGPic *>(h);
    RemoveObject(objects, h);
    for (qmDisplay *d = scene ? scene->displays : nullptr; d; d = d->next)
      if (d->bgpic == pic) d->bgpic = nullptr;
    if (scene && scene->picture == pic) scene->picture = nullptr;
    FreeBGPicContents(GetScene(L), pic);
    MemFree(pic);
  }
}

void FreeBGPicLibrary(VmState *L) {
  const qmPlayerContext *ctx = GetPlayerContext(L);
  if (ctx && ctx->scene) ctx->scene->picture = nullptr;
  FreeAllBGPics(L);
}

}  // namespace

const qmLibrary kBGPicLibrary = {"bgpic", kBGPicCommands, nullptr, nullptr, FreeBGPicLibrary, FREERANK_BGPIC};

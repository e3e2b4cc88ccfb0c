// The graphics library's commands: colour arithmetic, pointers and clip regions, and the
// program-wide constants of positions, object types and attribute ids. The engine is in the
// files beside it.
#include "graphics/imagecache.h"
#include "display/scene.h"
#include "graphics/graphics/lib_graphics.h"

#include "display/asyncdraw.h"
#include "display/bgpic.h"
#include "display/brush.h"
#include "display/display.h"
#include "display/displayops.h"
#include "display/displaytags.h"
#include "graphics/bitmapops.h"
#include "graphics/clipregion.h"
#include "graphics/colors.h"
#include "graphics/graphics/getattribute.h"
#include "display/output.h"
#include "display/pacing.h"
#include "graphics/graphics/pointerimage.h"
#include "display/position.h"
#include "runtime/bindings/saveoptions_reader.h"
#include "graphics/graphics/snapshot.h"
#include "media/image/imagewriter.h"
#include "media/image/imageload.h"
#include "runtime/context.h"
#include "runtime/random.h"
#include "platform/memory.h"
#include "platform/pointer.h"
#include "runtime/bindings/displaytags_reader.h"
#include "display/displaywindow.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/rttags.h"
#include "runtime/vnames.h"
#include "runtime/vm/vm_api.h"
#include "layers/sprite.h"

namespace {

uint32_t PushColor(VmState *L, uint32_t c) {
  vm_pushnumber(L, c);
  return 1;
}

uint32_t GfxRed(VmState *L) {
  CheckArgCount(L, 1, 1);
  return PushColor(L, (vm_checkinteger(L, 1) >> 16) & 0xFF);
}

uint32_t GfxGreen(VmState *L) {
  CheckArgCount(L, 1, 1);
  return PushColor(L, (vm_checkinteger(L, 1) >> 8) & 0xFF);
}

uint32_t GfxBlue(VmState *L) {
  CheckArgCount(L, 1, 1);
  return PushColor(L, vm_checkinteger(L, 1) & 0xFF);
}

// Neither clamped nor masked: a green of 256 spills into red, as scripts have always seen it.
uint32_t GfxRGB(VmState *L) {
  CheckArgCount(L, 3, 3);
  const uint32_t r = vm_checkinteger(L, 1), g = vm_checkinteger(L, 2), b = vm_checkinteger(L, 3);
  return PushColor(L, (r << 16) | (g << 8) | b);
}

uint32_t GfxARGB(VmState *L) {
  CheckArgCount(L, 2, 2);
  return PushColor(L, (vm_checkinteger(L, 1) << 24) | vm_checkinteger(L, 2));
}

uint32_t GfxGetPen(VmState *L) {
  CheckArgCount(L, 1, 2);
  int32_t pen = vm_checkint32(L, 1);
  pen = pen < 0 ? 0 : pen > 255 ? 255 : pen;
  qmOutputPicture pic;
  if (!GetOutputPicture(GetScene(L), &pic) || !pic.pens) return PushColor(L, 0xFFFFFFFFu);
  return PushColor(L, pic.pens[pen]);
}

uint32_t GfxGetRealColor(VmState *L) {
  CheckArgCount(L, 1, 1);
  // Every display here is 32 bits deep.
  return PushColor(L, RealColor(vm_checkinteger(L, 1), 32));
}

uint32_t GfxMixRGB(VmState *L) {
  CheckArgCount(L, 3, 3);
  const uint32_t c1 = vm_checkinteger(L, 1), c2 = vm_checkinteger(L, 2);
  const double level = GetNumberOrPercentArg(L, 3, 255, 0, nullptr);
  if (!(level >= 0 && level <= 255)) return ERR_WRONGUSAGE;
  return PushColor(L, MixColors(c1, c2, int32_t(level)));  // 0..255, checked above
}

uint32_t GfxGetRandomColor(VmState *L) {
  CheckArgCount(L, 0, 0);
  return PushColor(L, RandomColorAt(int32_t(MathRandomDouble() * kRandomColorCount)));
}

// Takes the region out of every picture that clips with it (the current output, the display's
// own picture under a Select* output, pictures drawn into earlier) and frees it, or keeps it for
// the layers that still clip with it until they let go.
void ReleaseClipRegion(VmState *L, qmClipRegion *r) {
  ForgetActiveClipRegion(GetScene(L), r);
  if (r->layerUses == 0) {
    DestroyClipRegion(ObjectRegistryOf(L), r);
    return;
  }
  // Listed again under its own address, so its number is free for a new region at once.
  RemoveObject(L, &r->header);
  r->header.id = 0;
  r->header.handle = reinterpret_cast<uintptr_t>(r);
  r->deleted = 1;
  if (AddObject(L, &r->header) != 0) {
    r->layerUses = 0;
    DestroyClipRegion(ObjectRegistryOf(L), r);
  }
}

// Probes the file as a picture: True and its size and alpha flag, or False and an empty table.
uint32_t GfxIsPicture(VmState *L) {
  CheckArgCount(L, 1, 1);
  const char *file = ResolveLinkedFileArg(L, 1, 0, nullptr);
  int32_t w = 0, h = 0, alpha = 0;
  const bool ok = LoadImageWithPlugins(GetPlayerContext(L)->formatPlugins, file, nullptr, -1, 0, nullptr, nullptr,
                                       nullptr, &w, &h, &alpha) == 0;
  vm_pushboolean(L, ok);
  vm_newtable(L);
  if (ok) {
    SetFieldInt(L, "width", w);
    SetFieldInt(L, "height", h);
    vm_pushstring(L, "alpha");
    vm_pushboolean(L, alpha);
    vm_settable(L, -3);
    vm_pushstring(L, "vector");
    vm_pushboolean(L, 0);  // no loader here makes vector pictures
    vm_settable(L, -3);
  }
  return 2;
}

uint32_t GfxCreateClipRegion(VmState *L) {
  CheckArgCount(L, 4, 6);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  const int32_t type = vm_checkint32(L, 2);
  int32_t x, y, w, h;
  const qmMask *mask = nullptr;
  if (type == QMTYPE_BOX) {
    CheckArgCount(L, 6, 6);
    x = vm_checkint32(L, 3), y = vm_checkint32(L, 4), w = vm_checkint32(L, 5), h = vm_checkint32(L, 6);
  } else if (type == QMTYPE_MASK) {
    CheckArgCount(L, 5, 5);
    // The brush gives the size and the mask, which the region copies.
    qmObjectId brushId = GetObjectIdArg(L, 3);
    x = vm_checkint32(L, 4), y = vm_checkint32(L, 5);
    qmBrush *brush = nullptr;
    if (uint32_t code = FindBrush(ObjectRegistryOf(L), &brushId, &brush, 0)) return code;
    if (!brush->mask) return ERR_NOMASKBRUSH;
    w = brush->width, h = brush->height;
    mask = brush->mask;
  } else {
    return ERR_WRONGUSAGE;
  }
  qmOutputPicture pic{};
  GetOutputPicture(GetScene(L), &pic);
  // Against the picture itself, not an active region.
  x = ResolvePositionX(GetScene(L), x, w, pic.width, 0);
  y = ResolvePositionY(GetScene(L), y, h, pic.height, 0);
  qmClipRegion *r = nullptr;
  if (uint32_t code = NewClipRegion(x, y, w, h, mask, &r)) return code;
  if (r->mask && !GetScratchPlane(GetScene(L), 240000)) {
    DestroyClipRegion(ObjectRegistryOf(L), r);
    return ERR_MEM;
  }
  // A region of the same number goes only now, so that a refused request leaves it in place.
  if (!id.handle) {
    qmClipRegion *old = nullptr;
    if (FindClipRegion(ObjectRegistryOf(L), &id, &old, 0) == 0) ReleaseClipRegion(L, old);
  }
  SetObjectHeader(&r->header, QMTYPE_CLIPREGION, &id);
  if (uint32_t code = AddObject(L, &r->header)) {
    FreeClipRegionData(ObjectRegistryOf(L), r);
    MemFree(r);
    return code;
  }
  if (id.handle) {
    vm_pushlightuserdata(L, r);
    return 1;
  }
  return 0;
}

uint32_t GfxSetClipRegion(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  qmDisplay *d = GetScene(L)->current;
  if (d && (d->outputType == DISPOUT_MASK || d->outputType == DISPOUT_ALPHA)) return ERR_WRONGUSAGE;
  qmOutputPicture pic{};
  const bool havePicture = GetOutputPicture(GetScene(L), &pic) != 0;
  if (!id.handle && (id.id == 0 || id.id == 0xFFFFFFFFu)) {
    if (havePicture) *pic.activeClip = nullptr;
    if (d) {
      d->cursorX = d->cursorY = 0;
      d->textMarginLeft = 0;
      d->textMarginRight = (havePicture ? pic.width : d->width) - 1;
    }
    return 0;
  }
  qmClipRegion *r = nullptr;
  if (uint32_t code = FindClipRegion(ObjectRegistryOf(L), &id, &r, 0)) return code;
  if (!havePicture || int64_t(r->x) + r->width > pic.width || int64_t(r->y) + r->height > pic.height)
    return ERR_WRONGCLIPREG;
  *pic.activeClip = r;
  if (d) {
    d->cursorX = d->textMarginLeft = r->x;
    d->textMarginRight = r->x + r->width - 1;
    d->cursorY = 0;
  }
  return 0;
}

uint32_t GfxFreeClipRegion(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  qmClipRegion *r = nullptr;
  if (uint32_t code = FindClipRegion(ObjectRegistryOf(L), &id, &r, 0)) return code;
  ReleaseClipRegion(L, r);
  return 0;
}

// Pointers. What a display shows follows it; a window that is not open shows it once it is.

uint32_t GfxCreatePointer(VmState *L) {
  CheckArgCount(L, 3, 6);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  const int32_t type = vm_checkint32(L, 2);
  if (type == QMTYPE_POINTER) return CreateStandardPointer(L, &id, vm_checkint32(L, 3));
  if (type == QMTYPE_BRUSH) {
    qmObjectId brushId = GetObjectIdArg(L, 3);
    const int32_t hotX = vm_optint32(L, 4, -1), hotY = vm_optint32(L, 5, -1);
    qmBrush *brush = nullptr;
    if (uint32_t code = FindBrush(ObjectRegistryOf(L), &brushId, &brush, FINDBRUSH_NOVECTOR)) return code;
    int32_t hasAlpha = 0;
    uint32_t *argb = BrushToArgb(brush, &hasAlpha);
    if (!argb) return ERR_MEM;
    uint32_t result = CreatePointerFromArgb(L, &id, argb, brush->width, brush->height, hotX, hotY);
    MemFree(argb);
    return result;
  }
  if (type == QMTYPE_SPRITE) {
    qmObjectId spriteId = GetObjectIdArg(L, 3);
    const int32_t frame = vm_optint32(L, 4, 1), hotX = vm_optint32(L, 5, -1), hotY = vm_optint32(L, 6, -1);
    qmSprite *s = nullptr;
    if (uint32_t code = FindSprite(ObjectRegistryOf(L), &spriteId, &s, 0)) return code;
    if (frame < 1 || frame > s->frameCount) return ERR_ANIMFRAME;
    const qmBitmap *bitmap;
    const qmMask *mask;
    const qmAlphaChannel *alpha;
    GetSpriteFrame(s, frame - 1, &bitmap, &mask, &alpha);
    if (!bitmap) return ERR_ANIMFRAME;
    uint32_t *argb = BitmapToArgbMasked(bitmap, s->width, s->height, mask, alpha, 0xFFFFFFFFu, 1);
    if (!argb) return ERR_MEM;
    uint32_t result = CreatePointerFromArgb(L, &id, argb, s->width, s->height, hotX, hotY);
    MemFree(argb);
    return result;
  }
  return ERR_WRONGUSAGE;
}

uint32_t GfxFreePointer(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  qmPointerImage *p = nullptr;
  if (uint32_t code = FindPointerImage(L, &id, &p)) return code;
  ReleasePointerImage(L, p);
  return 0;
}

uint32_t GfxSetPointer(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  qmPointerImage *p = nullptr;
  if (uint32_t code = FindPointerImage(L, &id, &p)) return code;
  if (qmDisplay *d = GetScene(L)->current) {
    const int32_t kind = p->kind == STDPTR_SYSTEM ? PLATPTR_SYSTEM : p->kind == STDPTR_BUSY ? PLATPTR_BUILTIN
                                                                                          : PLATPTR_IMAGE;
    SetPlatformPointer(d, p->platformImage, kind, p);
  }
  PurgeReleasedPointers(L);
  return 0;
}

uint32_t GfxShowPointer(VmState *L) {
  CheckArgCount(L, 0, 1);
  if (qmDisplay *d = GetScene(L)->current) ShowPlatformPointer(d);
  return 0;
}

uint32_t GfxHidePointer(VmState *L) {
  CheckArgCount(L, 0, 0);
  if (qmDisplay *d = GetScene(L)->current) HidePlatformPointer(d);
  return 0;
}

uint32_t GfxMovePointer(VmState *L) {
  CheckArgCount(L, 2, 2);
  int32_t x = vm_checkint32(L, 1), y = vm_checkint32(L, 2);
  qmDisplay *d = GetScene(L)->current;
  if (!d) return 0;
  // Special positions place the pointer's picture: its size is the current pointer's.
  int32_t w = kPlatformPointerSize, h = kPlatformPointerSize;
  if (auto *p = static_cast<const qmPointerImage *>(PlatformPointerOwner(d))) w = p->width, h = p->height;
  qmOutputPicture pic{};
  const bool havePicture = GetOutputPicture(GetScene(L), &pic) != 0;
  x = ResolvePositionX(GetScene(L), x, w, havePicture ? pic.width : d->width, 0);
  y = ResolvePositionY(GetScene(L), y, h, havePicture ? pic.height : d->height, 0);
  if (d->state == DISPSTATE_OPEN)
    MovePointerTo(d, static_cast<int32_t>(x * d->scaleX), static_cast<int32_t>(y * d->scaleY));
  return 0;
}

uint32_t GfxVWait(VmState *L) {
  CheckArgCount(L, 0, 0);
  FlushDisplayFrame(GetScene(L));
  return 0;
}

uint32_t GfxSetFPSLimit(VmState *L) {
  CheckArgCount(L, 1, 1);
  SetFrameRateLimit(vm_checkint32(L, 1));
  return 0;
}

// The window as the screen shows it, the display's own picture or the whole desktop, into an
// image file; alpha is not kept.
// Asynchronous draw objects: the producing libraries make them; the script advances, finishes
// or abandons them here.

uint32_t GfxAsyncDrawFrame(VmState *L) {
  CheckArgCount(L, 1, 2);
  qmScene *scene = GetScene(L);
  if (uint32_t code = CheckAsyncDrawOutput(scene)) return code;
  qmObjectId id = GetObjectIdArg(L, 1);
  const bool hasFrame = !vm_isnoneornil(L, 2);
  const double frame = hasFrame ? vm_checknumber(L, 2) : 0;
  qmAsyncDraw *ad = nullptr;
  if (uint32_t code = FindAsyncDraw(scene, &id, &ad)) return code;
  if (ad->display != scene->current) return ERR_ADFWRONGDISP;
  int32_t result = 0;
  if (uint32_t code = AdvanceAsyncDraw(scene, ad, hasFrame, frame, &result)) return code;
  vm_pushboolean(L, result);
  return 1;
}

// CancelAsyncDraw abandons the object; FinishAsyncDraw brings it to its final state first.
uint32_t EndAsyncDrawCommand(VmState *L, bool finish) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  qmAsyncDraw *ad = nullptr;
  if (uint32_t code = FindAsyncDraw(GetScene(L), &id, &ad)) return code;
  if (finish)
    FinishAsyncDrawObject(GetScene(L), ad);
  else
    CancelAsyncDrawObject(GetScene(L), ad);
  return 0;
}

uint32_t GfxCancelAsyncDraw(VmState *L) { return EndAsyncDrawCommand(L, false); }
uint32_t GfxFinishAsyncDraw(VmState *L) { return EndAsyncDrawCommand(L, true); }

uint32_t GfxSaveSnapshot(VmState *L) {
  CheckArgCount(L, 1, 4);
  const char *file = vm_checkstring(L, 1, nullptr);
  const int32_t type = vm_optint32(L, 2, SNAPWINDOW);
  const int32_t format = vm_optint32(L, 3, IMGFMT_BMP);
  int32_t quality = kDefaultSaveQuality, colors = kDefaultSaveColors, dither = kDefaultSaveDither;
  ParseSaveOptions(L, 4, &quality, &colors, &dither);
  qmSnapshot snap{};
  qmDisplay *d = GetScene(L)->current;
  if (type == SNAPDISPLAY && SnapshotComposesLayers(d)) {
    if (uint32_t code = NewLayeredSnapshot(d, &snap)) return code;
    ComposeDisplayPicture(GetScene(L), d, snap.owned);
  } else if (uint32_t code = TakeSnapshot(d, type, &snap)) {
    return code;
  }
  const uint32_t code = SaveBitmapFile(format, snap.bitmap, snap.width, snap.height, file, nullptr, 0xFFFFFFFFu,
                                       nullptr, quality, colors, dither, GetPlayerContext(L)->formatPlugins);
  FreeSnapshot(&snap);
  return code;
}

// Nothing records the display into a video here.
uint32_t GfxDumpVideoTime(VmState *L) {
  CheckArgCount(L, 0, 0);
  vm_pushnumber(L, -1);
  return 1;
}

// The display tags every later command starts from; a name is never a default.
uint32_t GfxSetDrawTagsDefault(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmTransform transform;
  qmDisplayTags tags;
  qmScene *scene = GetScene(L);
  CopyDefaultTransform(scene, &transform);
  CopyDefaultDisplayTags(scene, &tags);
  // Sizes belong to each object, so the defaults take no "width" and "height".
  if (uint32_t code = ParseDisplayTags(L, scene, 1, 1, 1, 0, 0, transform.smooth, &transform, &tags,
                                       DTAG_NEEDTABLE | DTAG_NOSIZE))
    return code;
  tags.name[0] = 0;
  scene->defaultTransform = transform;
  scene->defaultTags = tags;
  return 0;
}

uint32_t GfxGetFPSLimit(VmState *L) {
  CheckArgCount(L, 0, 0);
  vm_pushnumber(L, GetFrameRateLimit());
  return 1;
}

const qmCommandEntry kGraphicsCommands[] = {
    {"Red", GfxRed},
    {"Green", GfxGreen},
    {"Blue", GfxBlue},
    {"RGB", GfxRGB},
    {"ARGB", GfxARGB},
    {"MovePointer", GfxMovePointer},
    {"HidePointer", GfxHidePointer},
    {"SetPointer", GfxSetPointer},
    {"ShowPointer", GfxShowPointer},
    {"GetAttribute", GfxGetAttribute},
    {"GetPen", GfxGetPen},
    {"VWait", GfxVWait},
    {"SetFPSLimit", GfxSetFPSLimit},
    {"GetFPSLimit", GfxGetFPSLimit},
    {"IsPicture", GfxIsPicture},
    {"GetRealColor", GfxGetRealColor},
    {"SaveSnapshot", GfxSaveSnapshot},
    {"MixRGB", GfxMixRGB},
    {"CreateClipRegion", GfxCreateClipRegion},
    {"SetClipRegion", GfxSetClipRegion},
    {"FreeClipRegion", GfxFreeClipRegion},
    {"CreatePointer", GfxCreatePointer},
    {"FreePointer", GfxFreePointer},
    {"AsyncDrawFrame", GfxAsyncDrawFrame},
    {"CancelAsyncDraw", GfxCancelAsyncDraw},
    {"FinishAsyncDraw", GfxFinishAsyncDraw},
    {"DumpVideoTime", GfxDumpVideoTime},
    {"GetRandomColor", GfxGetRandomColor},
    {"SetDrawTagsDefault", GfxSetDrawTagsDefault},
    {nullptr, nullptr},
};

const qmConstantEntry kGraphicsConstants[] = {
    {"CENTER", nullptr, -100000},
    {"LEFT", nullptr, -90000},
    {"RIGHT", nullptr, -80000},
    {"TOP", nullptr, -70000},
    {"BOTTOM", nullptr, -60000},
    {"LEFTOUT", nullptr, -50000},
    {"RIGHTOUT", nullptr, -40000},
    {"TOPOUT", nullptr, -30000},
    {"BOTTOMOUT", nullptr, -20000},
    {"USELAYERPOSITION", nullptr, 100000},
    {"KEEPASPRAT", nullptr, 100000},
    {"BGPIC", nullptr, 1},
    {"BRUSH", nullptr, 3},
    {"ANIM", nullptr, 4},
    {"TEXTOBJECT", nullptr, 8},
    {"TEXTOUT", nullptr, 9},
    {"UNDO", nullptr, 10},
    {"PRINT", nullptr, 11},
    {"BRUSHPART", nullptr, 12},
    {"BGPICPART", nullptr, 13},
    {"DISPLAY", nullptr, 21},
    {"LAYER", nullptr, 22},
    {"HIDEBRUSH", nullptr, 23},
    {"INSERTBRUSH", nullptr, 24},
    {"HIDELAYER", nullptr, 25},
    {"REMOVELAYER", nullptr, 26},
    {"MASK", nullptr, 28},
    {"SHAPE", nullptr, 28},
    {"NEXTFRAME", nullptr, 29},
    {"ALPHACHANNEL", nullptr, 30},
    {"SPRITE", nullptr, 32},
    {"NEXTFRAME2", nullptr, 34},
    {"CLIPREGION", nullptr, 35},
    {"POINTER", nullptr, 36},
    {"ASYNCDRAW", nullptr, 37},
    {"DOUBLEBUFFER", nullptr, 38},
    {"MEMORY", nullptr, 39},
    {"EVENTHANDLER", nullptr, 40},
    {"INTERVAL", nullptr, 41},
    {"TIMEOUT", nullptr, 42},
    {"FONT", nullptr, 43},
    {"FILE", nullptr, 44},
    {"DIRECTORY", nullptr, 45},
    {"BRUSH_VS_BOX", nullptr, 46},
    {"LAYER_VS_BOX", nullptr, 47},
    {"SPRITE_VS_BOX", nullptr, 48},
    {"VECTORPATH", nullptr, 49},
    {"VIDEO", nullptr, 50},
    {"MOVELIST", nullptr, 51},
    {"ANIMSTREAM", nullptr, 52},
    {"TIMER", nullptr, 53},
    {"CLIENT", nullptr, 54},
    {"SERVER", nullptr, 55},
    {"UDPOBJECT", nullptr, 56},
    {"ATTRWIDTH", nullptr, 0},
    {"ATTRHEIGHT", nullptr, 1},
    {"ATTRMAXWIDTH", nullptr, 2},
    {"ATTRMAXHEIGHT", nullptr, 3},
    {"ATTRBGPIC", nullptr, 4},
    {"ATTRTRANSPARENTCOLOR", nullptr, 5},
    {"ATTRLAYERS", nullptr, 6},
    {"ATTRXPOS", nullptr, 7},
    {"ATTRYPOS", nullptr, 8},
    {"ATTRTYPE", nullptr, 9},
    {"ATTRVISIBLE", nullptr, 10},
    {"ATTRNUMFRAMES", nullptr, 11},
    {"ATTRCURFRAME", nullptr, 12},
    {"ATTRLAYERID", nullptr, 13},
    {"ATTRDURATION", nullptr, 14},
    {"ATTRPITCH", nullptr, 15},
    {"ATTRHASMASK", nullptr, 16},
    {"ATTRHASALPHA", nullptr, 17},
    {"ATTRPOSITION", nullptr, 18},
    {"ATTRFORMAT", nullptr, 19},
    {"ATTRBITRATE", nullptr, 20},
    {"ATTRCURSORX", nullptr, 21},
    {"ATTRCURSORY", nullptr, 22},
    {"ATTRONSCREEN", nullptr, 23},
    {"ATTRBORDERLEFT", nullptr, 24},
    {"ATTRBORDERTOP", nullptr, 25},
    {"ATTRBORDERRIGHT", nullptr, 26},
    {"ATTRBORDERBOTTOM", nullptr, 27},
    {"ATTRHOSTWIDTH", nullptr, 28},
    {"ATTRHOSTHEIGHT", nullptr, 29},
    {"ATTRFONTASCENDER", nullptr, 30},
    {"ATTRFONTDESCENDER", nullptr, 31},
    {"ATTRFONTNAME", nullptr, 32},
    {"ATTRFONTSIZE", nullptr, 33},
    {"ATTRFONTSCALABLE", nullptr, 34},
    {"ATTRFONTAA", nullptr, 35},
    {"ATTRTEXT", nullptr, 36},
    {"ATTRFRAMEDELAY", nullptr, 37},
    {"ATTRPOINTER", nullptr, 38},
    {"ATTRCLIPREGION", nullptr, 39},
    {"ATTRSTATE", nullptr, 40},
    {"ATTRACTIVE", nullptr, 41},
    {"ATTRMODE", nullptr, 42},
    {"ATTRSCALEMODE", nullptr, 43},
    {"ATTRSCALEWIDTH", nullptr, 44},
    {"ATTRSCALEHEIGHT", nullptr, 45},
    {"ATTRBORDERLESS", nullptr, 46},
    {"ATTRFIXED", nullptr, 47},
    {"ATTRSIZEABLE", nullptr, 48},
    {"ATTRNOHIDE", nullptr, 49},
    {"ATTRNOMODESWITCH", nullptr, 50},
    {"ATTRTITLE", nullptr, 51},
    {"ATTRMARGINLEFT", nullptr, 52},
    {"ATTRMARGINRIGHT", nullptr, 53},
    {"ATTROUTPUTDEVICE", nullptr, 54},
    {"ATTRDOUBLEBUFFER", nullptr, 55},
    {"ATTRHOSTDEPTH", nullptr, 56},
    {"ATTRSIZE", nullptr, 57},
    {"ATTRFUNCTION", nullptr, 58},
    {"ATTRUSERDATA", nullptr, 59},
    {"ATTRCOUNT", nullptr, 60},
    {"ATTRNOCLOSE", nullptr, 61},
    {"ATTRGROUP", nullptr, 62},
    {"ATTRMASKMODE", nullptr, 63},
    {"ATTRALPHAINTENSITY", nullptr, 64},
    {"ATTRRAWXPOS", nullptr, 65},
    {"ATTRRAWYPOS", nullptr, 66},
    {"ATTRRAWWIDTH", nullptr, 67},
    {"ATTRRAWHEIGHT", nullptr, 68},
    {"ATTRLAYERSON", nullptr, 69},
    {"ATTRORIENTATION", nullptr, 70},
    {"ATTRKEYBOARD", nullptr, 71},
    {"ATTRCANSEEK", nullptr, 72},
    {"ATTRHARDWARE", nullptr, 73},
    {"ATTRZPOS", nullptr, 74},
    {"ATTRDRIVER", nullptr, 75},
    {"ATTRPUBSCREEN", nullptr, 76},
    {"NOTRANSPARENCY", nullptr, 4294967295},
    {"NOCOLOR", nullptr, 4294967295},
    {"NORMALSPEED", nullptr, -1},
    {"FASTSPEED", nullptr, -2},
    {"SLOWSPEED", nullptr, -3},
    {"DEFAULTSPEED", nullptr, -4},
    {"NONE", nullptr, -1},
    {"LINEAR", nullptr, 2},
    {"RADIAL", nullptr, 3},
    {"CONICAL", nullptr, 4},
    {"SNAPWINDOW", nullptr, 0},
    {"SNAPDISPLAY", nullptr, 1},
    {"SNAPDESKTOP", nullptr, 2},
    {"IMGFMT_BMP", nullptr, 0},
    {"IMGFMT_PNG", nullptr, 1},
    {"IMGFMT_JPEG", nullptr, 2},
    {"IMGFMT_GIF", nullptr, 3},
    {"IMGFMT_ILBM", nullptr, 4},
    {"ANMFMT_GIF", nullptr, 0},
    {"ANMFMT_MJPEG", nullptr, 1},
    {"IMAGETYPE_RASTER", nullptr, 0},
    {"IMAGETYPE_VECTOR", nullptr, 1},
    {"STDPTR_SYSTEM", nullptr, 0},
    {"STDPTR_BUSY", nullptr, 1},
    {"STDPTR_CUSTOM", nullptr, 2},
    {"ADF_FX", nullptr, 0},
    {"ADF_MOVEOBJECT", nullptr, 1},
    {"ADF_ANIM", nullptr, 2},
    {"VIDDRV_OS", nullptr, 0},
    {"VIDDRV_QUENMOOR", nullptr, 1},
    {nullptr, nullptr, 0},
};

// The two output settings are runtime tags of the run whose state is the context; other tags
// go on to the next hook.
int SetOutputTag(void *context, uint32_t tag, uintptr_t value) {
  qmScene *scene = GetScene(static_cast<VmState *>(context));
  if (tag == RTTAG_MASKMODE) SetOutputMaskMode(scene, uint32_t(value));
  else if (tag == RTTAG_ALPHAVALUE) SetOutputAlphaValue(scene, uint32_t(value));
  else return 0;
  return 1;
}

int GetOutputTag(void *context, uint32_t tag, uintptr_t *result) {
  const qmScene *scene = GetScene(static_cast<VmState *>(context));
  if (tag == RTTAG_MASKMODE) *result = GetOutputMaskMode(scene);
  else if (tag == RTTAG_ALPHAVALUE) *result = GetOutputAlphaValue(scene);
  else return 0;
  return 1;
}

uint32_t InitGraphicsLibrary(VmState *L) {
  ResetOutputSettings(GetScene(L));
  if (uint32_t code = AddSetTagHook(SetOutputTag)) return code;
  return AddGetTagHook(GetOutputTag);
}

void FreeGraphicsObjects(VmState *L) {
  if (qmScene *scene = GetScene(L)) FreeAllAsyncDraws(scene);
  // A region that layers of a listed picture still clip with is freed by the last of them when
  // the pictures go; every other region goes now.
  for (auto *h = FirstObject(L, QMTYPE_CLIPREGION); h;) {
    auto *r = reinterpret_cast<qmClipRegion *>(h);
    h = h->next;
    if (r->layerUses > 0) r->deleted = 1;
    else DestroyClipRegion(ObjectRegistryOf(L), r);
  }
  if (qmScene *scene = GetScene(L)) ClearImageCache(scene->images);
  FreeAllPointerImages(L);
  FreeScratchPlane(GetScene(L));
  FreeScaleTables();
  ResetOutputSettings(GetScene(L));
}

} // namespace

const qmLibrary kGraphicsLibrary = {"graphics",         kGraphicsCommands, kGraphicsConstants, InitGraphicsLibrary,
                                    FreeGraphicsObjects, FREERANK_GRAPHICS};

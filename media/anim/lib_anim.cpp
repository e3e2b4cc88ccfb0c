// The anim library's commands: anims loaded, made from brushes, copied, scaled, freed, shown,
// played, selected for drawing and saved; anim streams written frame by frame.
#include "media/anim/lib_anim.h"

#include "display/bgpic.h"
#include "display/brush.h"
#include "display/display.h"
#include "display/imagecore.h"
#include "display/outputselect.h"
#include "display/scene.h"
#include "graphics/colors.h"
#include "media/animcore/anim.h"
#include "media/animcore/animfile.h"
#include "media/animcore/animload.h"
#include "media/animcore/animplay.h"
#include "media/animcore/animsave.h"
#include "runtime/bindings/displaytags_reader.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/errreport.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"
#include "runtime/rttags.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vnames.h"

namespace {

constexpr int32_t kMessageLoadingAnim = 149;

const qmFormatPlugins *Plugins(VmState *L) { return GetPlayerContext(L)->formatPlugins; }

bool IsTable(VmState *L, int i) { return vm_gettop(L) >= i && vm_type(L, i) == VM_TTABLE; }

// A frame number from 1 inside the anim.
uint32_t CheckFrame(const qmAnim *a, int32_t frame) {
  return frame < 1 || frame > a->frameCount ? uint32_t(ERR_ANIMFRAME) : 0u;
}

// An anim of the number goes before a new one takes it.
uint32_t FreeOldAnimOfId(VmState *L, const qmObjectId &id) {
  return id.handle ? 0 : DeleteAnim(GetScene(L), &id, 0);
}

uint32_t FreeOldBrushOfNumber(VmState *L, const qmObjectId &id) {
  return id.handle ? 0 : FreeBrushNode(GetScene(L), &id, 0);
}

// The options of LoadAnim at argument 3: a table, or else the transparent colour.
void ReadLoadOptions(VmState *L, qmAnimLoadRequest *r, char *cache, char *cachedLoad, size_t size) {
  if (IsTable(L, 3)) {
    bool loadAlpha = false, fromDisk = false, cacheAlpha = false;
    GetFieldUInt(L, 3, "transparency", &r->transparentColor, nullptr);
    GetFieldFlag(L, 3, "loadalpha", &loadAlpha, nullptr);
    GetFieldInt(L, 3, "x", &r->x, nullptr);
    GetFieldInt(L, 3, "y", &r->y, nullptr);
    GetFieldInt(L, 3, "width", &r->width, nullptr);
    GetFieldInt(L, 3, "height", &r->height, nullptr);
    GetFieldInt(L, 3, "fpr", &r->framesPerRow, nullptr);
    GetFieldInt(L, 3, "frames", &r->frames, nullptr);
    GetFieldFlag(L, 3, "fromdisk", &fromDisk, nullptr);
    GetFieldString(L, 3, "cache", cache, size, nullptr);
    GetFieldString(L, 3, "cachedload", cachedLoad, size, nullptr);
    GetFieldFlag(L, 3, "cachealpha", &cacheAlpha, nullptr);
    r->loadAlpha = loadAlpha;
    r->fromDisk = fromDisk;
    r->cacheAlpha = cacheAlpha && !loadAlpha;
  } else if (vm_gettop(L) >= 3) {
    r->transparentColor = vm_checkinteger(L, 3);
  }
}

uint32_t AnmPlayAnim(VmState *L) {
  CheckArgCount(L, 3, 5);
  qmScene *scene = GetScene(L);
  qmAnimPlayRequest r{};
  r.id = GetObjectIdArg(L, 1);
  r.x = vm_optint32(L, 2, 0);
  r.y = vm_optint32(L, 3, 0);
  r.times = 1;
  if (vm_gettop(L) == 4 && IsTable(L, 4)) {
    bool async = false;
    GetFieldInt(L, 4, "speed", &r.speed, nullptr);
    GetFieldInt(L, 4, "times", &r.times, nullptr);
    GetFieldFlag(L, 4, "async", &async, nullptr);
    r.async = async;
  } else {
    r.speed = vm_optint32(L, 4, 0);
    r.times = vm_optint32(L, 5, 1);
  }
  if (CheckNotSelectedAnim(scene, &r.id))
    if (uint32_t code = EndSelectCore(scene, scene->current, 0)) return code;
  r.pump = CommandCancel(L);
  qmAsyncDraw *ad = nullptr;
  if (uint32_t code = PlayAnimCore(scene, &r, &ad)) return code;
  return ad ? PushNewId(L, qmObjectId{0, reinterpret_cast<uintptr_t>(ad)}) : 0;
}

uint32_t AnmFreeAnim(VmState *L) {
  CheckArgCount(L, 1, 1);
  const qmObjectId id = GetObjectIdArg(L, 1);
  return DeleteAnim(GetScene(L), &id, 1);
}

uint32_t AnmScaleAnim(VmState *L) {
  CheckArgCount(L, 3, 4);
  qmScene *scene = GetScene(L);
  const qmObjectId id = GetObjectIdArg(L, 1);
  if (uint32_t code = CheckNotSelectedAnim(scene, &id)) return code;
  qmAnim *a = nullptr;
  if (uint32_t code = FindAnim(scene, &id, &a, FINDANIM_MODIFY)) return code;
  int32_t w = ArgToInt32(L, 2, GetNumberOrPercentArg(L, 2, a->width, 1, nullptr));
  int32_t h = ArgToInt32(L, 3, GetNumberOrPercentArg(L, 3, a->height, 1, nullptr));
  const int32_t smooth = vm_optint32(L, 4, 0);
  if (uint32_t code = ApplyKeepAspect(a->width, a->height, &w, &h)) return code;
  if (w < 1 || h < 1) return ERR_WRONGUSAGE;
  return ScaleAnimFrames(a, w, h, smooth);
}

uint32_t AnmPlayAnimDisk(VmState *L) {
  CheckArgCount(L, 1, 7);
  qmScene *scene = GetScene(L);
  qmAnimLoadRequest load{};
  load.file = ResolveLinkedFileArg(L, 1, 0, nullptr);
  load.transparentColor = vm_optinteger(L, 6, kNoTransparentColor);
  load.fromDisk = 1;
  load.cache = load.cachedLoad = "";
  load.plugins = Plugins(L);
  qmAnimPlayRequest r{};
  r.x = vm_optint32(L, 2, 0);
  r.y = vm_optint32(L, 3, 0);
  r.speed = vm_optint32(L, 5, 0);
  r.times = vm_optint32(L, 7, 1);
  r.pump = CommandCancel(L);
  qmObjectId id{0, 1};
  qmAnim *a = nullptr;
  if (uint32_t code = LoadAnimObject(scene, &load, &id, &a)) return code;
  r.id = id;
  const uint32_t code = PlayAnimCore(scene, &r, nullptr);
  DeleteAnim(scene, &id, 0);
  return code;
}

uint32_t AnmLoadAnimFrame(VmState *L) {
  CheckArgCount(L, 3, 4);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  const int32_t frame = vm_checkint32(L, 2);
  const char *file = ResolveLinkedFileArg(L, 3, 0, nullptr);
  uint32_t transparent = kNoTransparentColor;
  bool loadAlpha = false;
  if (IsTable(L, 4)) {
    GetFieldUInt(L, 4, "transparency", &transparent, nullptr);
    GetFieldFlag(L, 4, "loadalpha", &loadAlpha, nullptr);
  } else if (vm_gettop(L) >= 4) {
    transparent = vm_checkinteger(L, 4);
  }
  if (loadAlpha && transparent != kNoTransparentColor) return ERR_MASKNALPHA;
  if (uint32_t code = FreeOldBrushOfNumber(L, id)) return code;
  qmBitmap *b = nullptr;
  qmMask *m = nullptr;
  qmAlphaChannel *a = nullptr;
  int32_t w = 0, h = 0;
  if (uint32_t code = LoadAnimFileFramePlanes(file, Plugins(L), frame, transparent, loadAlpha,
                                              &b, &m, &a, &w, &h))
    return code;
  const uint32_t key = transparent == kNoTransparentColor ? transparent : transparent & 0xFFFFFF;
  if (uint32_t code = NewBrushRecord(ObjectRegistryOf(L), &id, BRUSHKIND_PIXEL, w, h, w, 0, nullptr, b, key, m, a,
                                     nullptr)) {
    FreePlanes(b, m, a);
    return code;
  }
  return PushNewId(L, id);
}

uint32_t AnmLoadAnim(VmState *L) {
  CheckArgCount(L, 2, 3);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  qmAnimLoadRequest r{};
  r.file = ResolveLinkedFileArg(L, 2, 0, nullptr);
  const char *shown = vm_tostring(L, 2);
  r.transparentColor = kNoTransparentColor;
  char cache[1024] = "", cachedLoad[1024] = "";
  r.cache = cache, r.cachedLoad = cachedLoad;
  r.plugins = Plugins(L);
  ReadLoadOptions(L, &r, cache, cachedLoad, sizeof cache);
  if (uint32_t code = CheckAnimLoadRequest(&r)) return code;
  if (uint32_t code = FreeOldAnimOfId(L, id)) return code;
  PrintStatusMessage(GetErrorText(kMessageLoadingAnim), shown, 1);
  qmAnim *made = nullptr;
  if (uint32_t code = LoadAnimObject(GetScene(L), &r, &id, &made)) return code;
  // A declared anim keeps its frames raw until the first display: that failure names this line.
  made->declLine = vm_geterrorline(L);
  PrintDoneMessage();
  return PushNewId(L, id);
}

uint32_t AnmIsAnim(VmState *L) {
  CheckArgCount(L, 1, 1);
  const char *file = ResolveLinkedFileArg(L, 1, 0, nullptr);
  vm_pushnumber(L, IsAnimFile(file, Plugins(L)));
  return 1;
}

uint32_t AnmCreateAnim(VmState *L) {
  CheckArgCount(L, 6, 8);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  qmAnimSource s{};
  s.sourceType = QMTYPE_BRUSH;
  s.sourceId = GetObjectIdArg(L, 2);
  s.hasSourceId = 1;
  s.frameWidth = vm_checkint32(L, 3);
  s.frameHeight = vm_checkint32(L, 4);
  s.frames = vm_checkint32(L, 5);
  s.framesPerRow = vm_checkint32(L, 6);
  s.x = vm_optint32(L, 7, 0);
  s.y = vm_optint32(L, 8, 0);
  s.argCount = 7;
  s.transparentColor = kNoTransparentColor;
  if (uint32_t code = FreeOldAnimOfId(L, id)) return code;
  if (uint32_t code = BuildAnimFrames(GetScene(L), &s, &id, nullptr)) return code;
  return PushNewId(L, id);
}

uint32_t AnmCopyAnim(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmScene *scene = GetScene(L);
  const qmObjectId src = GetObjectIdArg(L, 1);
  qmObjectId id = GetNewObjectIdArg(L, 2);
  qmAnim *a = nullptr;
  if (uint32_t code = FindAnim(scene, &src, &a, 0)) return code;
  if (!id.handle && !src.handle && id.id == src.id) return ERR_WRONGUSAGE;
  if (uint32_t code = FreeOldAnimOfId(L, id)) return code;
  if (uint32_t code = CopyAnimRecord(scene->objects, a, &id, nullptr)) return code;
  return PushNewId(L, id);
}

uint32_t AnmGetAnimFrame(VmState *L) {
  CheckArgCount(L, 3, 3);
  qmScene *scene = GetScene(L);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  const int32_t frame = vm_checkint32(L, 2);
  const qmObjectId animId = GetObjectIdArg(L, 3);
  qmAnim *a = nullptr;
  if (uint32_t code = FindAnim(scene, &animId, &a, 0)) return code;
  if (uint32_t code = CheckFrame(a, frame)) return code;
  if (uint32_t code = FreeOldBrushOfNumber(L, id)) return code;
  qmBitmap *b = nullptr;
  qmMask *m = nullptr;
  qmAlphaChannel *al = nullptr;
  if (uint32_t code = FetchAnimFrame(a, frame - 1, 1, 0, &b, &m, &al)) return code;
  if (uint32_t code = NewBrushRecord(scene->objects, &id, BRUSHKIND_PIXEL, a->width, a->height, a->width, 0, nullptr,
                                     b, a->transparentColor, m, al, nullptr)) {
    FreePlanes(b, m, al);
    return code;
  }
  return PushNewId(L, id);
}

uint32_t AnmDisplayAnimFrame(VmState *L) {
  CheckArgCount(L, 4, 5);
  qmScene *scene = GetScene(L);
  qmImageRequest r{};
  r.kind = QMTYPE_ANIM;
  r.id = GetObjectIdArg(L, 1);
  r.x = vm_checkint32(L, 2);
  r.y = vm_checkint32(L, 3);
  const int32_t frame = vm_checkint32(L, 4);
  qmTransform transform;
  qmDisplayTags tags;
  ReadImageRequestTags(L, scene, 5, 1, &transform, &tags, &r);
  qmAnim *a = nullptr;
  if (uint32_t code = FindAnim(scene, &r.id, &a, 0)) return code;
  if (uint32_t code = CheckFrame(a, frame)) return code;
  // Drawing the anim that is being drawn into ends that selection first.
  if (CheckNotSelectedAnim(scene, &r.id))
    if (uint32_t code = EndSelectCore(scene, scene->current, 0)) return code;
  return DrawAnimFrame(scene, a, frame, &r);
}

uint32_t AnmModifyAnimFrames(VmState *L) {
  CheckArgCount(L, 2, 3);
  qmScene *scene = GetScene(L);
  const qmObjectId id = GetObjectIdArg(L, 1);
  const int32_t count = vm_checkint32(L, 2);
  const int32_t position = vm_optint32(L, 3, 0);
  if (uint32_t code = CheckNotSelectedAnim(scene, &id)) return code;
  return ChangeAnimFrameCount(scene, &id, count, position, 0);
}

uint32_t AnmSelectAnim(VmState *L) {
  CheckArgCount(L, 2, 4);
  qmScene *scene = GetScene(L);
  const qmObjectId id = GetObjectIdArg(L, 1);
  const int32_t frame = vm_checkint32(L, 2);
  const uint32_t mode = vm_optinteger(L, 3, SELMODE_NORMAL);
  const uint32_t combo = vm_optinteger(L, 4, 0);
  return SelectOutputCore(scene, QMTYPE_ANIM, &id, DISPOUT_BRUSH, frame, mode, combo);
}

// The options of SaveAnim and BeginAnimStream at argument t.
void ReadSaveOptions(VmState *L, int t, qmAnimSaveOptions *o) {
  if (!IsTable(L, t)) return;
  bool optimize = o->optimize, useAlpha = false;
  GetFieldInt(L, t, "dither", &o->dither, nullptr);
  GetFieldInt(L, t, "colors", &o->colors, nullptr);
  GetFieldUInt(L, t, "transparency", &o->transparentColor, nullptr);
  GetFieldFlag(L, t, "optimize", &optimize, nullptr);
  GetFieldInt(L, t, "quality", &o->quality, nullptr);
  GetFieldInt(L, t, "fps", &o->fps, nullptr);
  GetFieldFlag(L, t, "usealpha", &useAlpha, nullptr);
  o->optimize = optimize;
  o->useAlpha = useAlpha;
}

uint32_t AnmSaveAnim(VmState *L) {
  CheckArgCount(L, 2, 4);
  const qmObjectId id = GetObjectIdArg(L, 1);
  const char *file = vm_checkstring(L, 2, nullptr);
  const int32_t format = vm_optint32(L, 3, ANMFMT_GIF);
  qmAnimSaveOptions o = kDefaultAnimSave;
  ReadSaveOptions(L, 4, &o);
  o.plugins = Plugins(L);
  qmAnim *a = nullptr;
  if (uint32_t code = FindAnim(GetScene(L), &id, &a, 0)) return code;
  return SaveAnimCore(a, file, format, &o);
}

uint32_t AnmBeginAnimStream(VmState *L) {
  CheckArgCount(L, 4, 6);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  const char *file = vm_checkstring(L, 2, nullptr);
  const int32_t w = vm_checkint32(L, 3);
  const int32_t h = vm_checkint32(L, 4);
  const int32_t format = vm_optint32(L, 5, ANMFMT_GIF);
  qmAnimSaveOptions o = kDefaultAnimSave;
  ReadSaveOptions(L, 6, &o);
  o.plugins = Plugins(L);
  if (!*file || w < 1 || h < 1) return ERR_WRONGUSAGE;
  if (!id.handle) CloseAnimStream(ObjectRegistryOf(L), &id);
  if (uint32_t code = BeginAnimStream(ObjectRegistryOf(L), &id, file, w, h, format, &o, nullptr)) return code;
  return PushNewId(L, id);
}

uint32_t AnmWriteAnimFrame(VmState *L) {
  CheckArgCount(L, 2, 3);
  qmScene *scene = GetScene(L);
  const qmObjectId streamId = GetObjectIdArg(L, 1);
  const qmObjectId brushId = GetObjectIdArg(L, 2);
  qmAnimFrameOptions o = kDefaultAnimFrame;
  if (IsTable(L, 3)) {
    bool optimize = true;
    GetFieldInt(L, 3, "dither", &o.dither, nullptr);
    GetFieldInt(L, 3, "colors", &o.colors, nullptr);
    GetFieldUInt(L, 3, "transparency", &o.transparentColor, nullptr);
    GetFieldFlag(L, 3, "optimize", &optimize, nullptr);
    GetFieldInt(L, 3, "delay", &o.delay, nullptr);
    GetFieldInt(L, 3, "x", &o.x, nullptr);
    GetFieldInt(L, 3, "y", &o.y, nullptr);
    o.optimize = optimize;
  }
  qmAnimStream *s = nullptr;
  if (uint32_t code = FindAnimStream(scene->objects, &streamId, &s)) return code;
  if (o.transparentColor != kNoTransparentColor && s->useAlpha) return ERR_MASKNALPHA;
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrush(scene->objects, &brushId, &b, FINDBRUSH_NOVECTOR)) return code;
  return WriteAnimStreamFrame(scene, s, b->bitmap, b->mask, b->alpha, b->width, b->height, &o);
}

uint32_t AnmFinishAnimStream(VmState *L) {
  CheckArgCount(L, 1, 1);
  const qmObjectId id = GetObjectIdArg(L, 1);
  return CloseAnimStream(ObjectRegistryOf(L), &id);
}

uint32_t AnmSetAnimFrameDelay(VmState *L) {
  CheckArgCount(L, 3, 3);
  const qmObjectId id = GetObjectIdArg(L, 1);
  const int32_t frame = vm_checkint32(L, 2);
  const int32_t delay = vm_checkint32(L, 3);
  if (delay < 0) return ERR_WRONGUSAGE;
  qmAnim *a = nullptr;
  if (uint32_t code = FindAnim(GetScene(L), &id, &a, 0)) return code;
  if (uint32_t code = CheckFrame(a, frame)) return code;
  a->delays[frame - 1] = uint32_t(delay);
  return 0;
}

void AnimFree(VmState *L) {
  qmObjectRegistry *objects = ObjectRegistryOf(L);
  if (!objects) return;
  FreeAllAnims(objects);
  CloseAllAnimStreams(objects);
}

const qmCommandEntry kAnimCommands[] = {
    {"PlayAnim", AnmPlayAnim},
    {"FreeAnim", AnmFreeAnim},
    {"ScaleAnim", AnmScaleAnim},
    {"PlayAnimDisk", AnmPlayAnimDisk},
    {"LoadAnimFrame", AnmLoadAnimFrame},
    {"LoadAnim", AnmLoadAnim},
    {"IsAnim", AnmIsAnim},
    {"CreateAnim", AnmCreateAnim},
    {"CopyAnim", AnmCopyAnim},
    {"GetAnimFrame", AnmGetAnimFrame},
    {"DisplayAnimFrame", AnmDisplayAnimFrame},
    {"ModifyAnimFrames", AnmModifyAnimFrames},
    {"SelectAnim", AnmSelectAnim},
    {"SaveAnim", AnmSaveAnim},
    {"BeginAnimStream", AnmBeginAnimStream},
    {"WriteAnimFrame", AnmWriteAnimFrame},
    {"FinishAnimStream", AnmFinishAnimStream},
    {"SetAnimFrameDelay", AnmSetAnimFrameDelay},
    {nullptr, nullptr},
};

}  // namespace

const qmLibrary kAnimLibrary = {"anim", kAnimCommands, nullptr, nullptr, AnimFree, FREERANK_ANIM};

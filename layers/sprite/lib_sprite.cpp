// The sprite library: sprites made from brushes, anims, text objects, other sprites and files,
// shown over the current display's background picture while layers are off.
#include "layers/sprite/lib_sprite.h"

#include <vector>

#include "display/brush.h"
#include "display/scene.h"
#include "media/animcore/anim.h"
#include "media/animcore/animload.h"
#include "platform/memory.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vnames.h"
#include "layers/sprite.h"

namespace {

// The sprite of argument i that ScaleSprite and FlipSprite may change: not shown on any
// picture, not held, not linked and no link's source.
uint32_t SpriteToReshape(VmState *L, qmSprite **out) {
  qmObjectId id = GetObjectIdArg(L, 1);
  qmScene *scene = GetScene(L);
  qmSprite *s = nullptr;
  if (FindSprite(scene->objects, &id, &s, 0) == 0 && SpriteIsShownAnywhere(scene, s)) return ERR_MODIFYSPRITE;
  if (uint32_t code = FindSprite(scene->objects, &id, &s, FINDSPRITE_MODIFY)) return code;
  if (s->sources || SpriteIsSource(scene->objects, s)) return ERR_MODIFYSPRITE2;
  *out = s;
  return 0;
}

// CreateSprite: the frames of a brush (whole, or cut as a strip of frames), of an anim or of a
// text object come from the anim frame builder; sprites named by the arguments from the third
// on make a sprite that shows their frames in order.
uint32_t SprCreateSprite(VmState *L) {
  CheckArgCount(L, 3, VM_ANYARGS);
  const int argc = vm_gettop(L);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  const int32_t type = vm_checkint32(L, 2);
  qmAnimSource source{};
  source.sourceType = type;
  source.argCount = argc;
  source.transparentColor = kNoTransparentColor;
  std::vector<qmObjectId> linked;
  if (type == QMTYPE_SPRITE) {
    for (int k = 3; k <= argc; k++) linked.push_back(GetObjectIdArg(L, k));
  } else if (type == QMTYPE_BRUSH || type == QMTYPE_ANIM || type == QMTYPE_TEXTOBJECT) {
    source.sourceId = GetObjectIdArg(L, 3);
    source.hasSourceId = 1;
    if (type == QMTYPE_BRUSH) {
      source.frameWidth = vm_optint32(L, 4, 0);
      source.frameHeight = vm_optint32(L, 5, 0);
      source.frames = vm_optint32(L, 6, 0);
      source.framesPerRow = vm_optint32(L, 7, 0);
      source.x = vm_optint32(L, 8, 0);
      source.y = vm_optint32(L, 9, 0);
    }
  }
  qmScene *scene = GetScene(L);
  if (!id.handle)
    if (uint32_t code = FreeSpriteById(scene, &id, 0)) return code;
  if (type == QMTYPE_SPRITE) {
    std::vector<qmSprite *> sources;
    for (const qmObjectId &s : linked) {
      qmSprite *found = nullptr;
      if (uint32_t code = FindSprite(scene->objects, &s, &found, 0)) return code;
      sources.push_back(found);
    }
    if (uint32_t code = NewLinkedSprite(scene->objects, &id, sources.data(), int32_t(sources.size()), nullptr))
      return code;
    return PushNewId(L, id);
  }
  qmAnimFrames frames{};
  if (uint32_t code = MakeAnimFrames(scene, &source, &frames)) return code;
  // The frames keep the colour their source's mask was keyed on.
  uint32_t transparent = kNoTransparentColor;
  qmBrush *b = nullptr;
  qmAnim *a = nullptr;
  if (type == QMTYPE_BRUSH && FindBrush(scene->objects, &source.sourceId, &b, FINDBRUSH_NOVECTOR) == 0)
    transparent = b->transparentColor;
  if (type == QMTYPE_ANIM && FindAnim(scene, &source.sourceId, &a, 0) == 0) transparent = a->transparentColor;
  if (uint32_t code = NewSpriteFromFrames(scene->objects, &id, &frames, transparent, nullptr)) return code;
  return PushNewId(L, id);
}

uint32_t SprDisplaySprite(VmState *L) {
  CheckArgCount(L, 3, 4);
  qmObjectId id = GetObjectIdArg(L, 1);
  const int32_t x = vm_checkint32(L, 2), y = vm_checkint32(L, 3), frame = vm_optint32(L, 4, 0);
  qmScene *scene = GetScene(L);
  if (uint32_t code = CheckSpriteOutput(scene)) return code;
  qmSprite *s = nullptr;
  if (uint32_t code = FindSprite(scene->objects, &id, &s, 0)) return code;
  return ShowSprite(scene, s, x, y, frame);
}

uint32_t SprRemoveSprite(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  qmScene *scene = GetScene(L);
  if (uint32_t code = CheckSpriteOutput(scene)) return code;
  qmSprite *s = nullptr;
  if (uint32_t code = FindSprite(scene->objects, &id, &s, FINDSPRITE_MODIFY)) return code;
  return RemoveShownSprite(scene, s);
}

uint32_t SprFreeSprite(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  return FreeSpriteById(GetScene(L), &id, 1);
}

// LoadSprite(id, file[, {transparency, loadalpha, x, y, width, height, frames, fpr}]): the frames
// of an anim file, or of a picture cut as CreateSprite cuts a brush, loaded as the anim library
// loads them.
uint32_t SprLoadSprite(VmState *L) {
  CheckArgCount(L, 2, 3);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  qmAnimLoadRequest r{};
  r.file = ResolveLinkedFileArg(L, 2, 0, nullptr);
  r.transparentColor = kNoTransparentColor;
  char cache[1024] = "", cachedLoad[1024] = "";
  r.cache = cache, r.cachedLoad = cachedLoad;
  r.plugins = GetPlayerContext(L)->formatPlugins;
  if (vm_gettop(L) == 3 && !vm_isnoneornil(L, 3)) {
    vm_checktable(L, 3);
    bool loadAlpha = false;
    GetFieldUInt(L, 3, "transparency", &r.transparentColor, nullptr);
    GetFieldFlag(L, 3, "loadalpha", &loadAlpha, nullptr);
    r.loadAlpha = loadAlpha;
    GetFieldInt(L, 3, "x", &r.x, nullptr);
    GetFieldInt(L, 3, "y", &r.y, nullptr);
    GetFieldInt(L, 3, "width", &r.width, nullptr);
    GetFieldInt(L, 3, "height", &r.height, nullptr);
    GetFieldInt(L, 3, "fpr", &r.framesPerRow, nullptr);
    GetFieldInt(L, 3, "frames", &r.frames, nullptr);
    // Declared sprites may share one decoding through the picture cache, as declared anims do.
    GetFieldString(L, 3, "cache", cache, sizeof cache, nullptr);
    GetFieldString(L, 3, "cachedload", cachedLoad, sizeof cachedLoad, nullptr);
    bool cacheAlpha = false;
    GetFieldFlag(L, 3, "cachealpha", &cacheAlpha, nullptr);
    r.cacheAlpha = cacheAlpha && !loadAlpha;
  }
  qmScene *scene = GetScene(L);
  if (!id.handle)
    if (uint32_t code = FreeSpriteById(scene, &id, 0)) return code;
  // The frames are made as an anim's, whose copies the sprite takes.
  qmObjectId animId{0, 1};
  qmAnim *anim = nullptr;
  if (uint32_t code = LoadAnimObject(scene, &r, &animId, &anim)) return code;
  const uint32_t code = NewSpriteFromAnim(scene->objects, &id, anim, nullptr);
  DeleteAnim(scene, &animId, 0);
  return code ? code : PushNewId(L, id);
}

uint32_t SprScaleSprite(VmState *L) {
  CheckArgCount(L, 3, 4);
  qmSprite *s = nullptr;
  if (uint32_t code = SpriteToReshape(L, &s)) return code;
  const double w = GetNumberOrPercentArg(L, 2, s->width, 1, nullptr);
  const double h = GetNumberOrPercentArg(L, 3, s->height, 1, nullptr);
  return ScaleSpriteFrames(s, w, h, vm_optint32(L, 4, 0));
}

uint32_t SprCopySprite(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmObjectId srcId = GetObjectIdArg(L, 1);
  qmObjectId newId = GetNewObjectIdArg(L, 2);
  qmScene *scene = GetScene(L);
  qmSprite *src = nullptr, *copy = nullptr;
  if (uint32_t code = FindSprite(scene->objects, &srcId, &src, 0)) return code;
  if (!newId.handle) {
    if (!src->header.handle && src->header.id == newId.id) return ERR_WRONGUSAGE;
    if (uint32_t code = FreeSpriteById(scene, &newId, 0)) return code;
  }
  if (uint32_t code = CopySpriteRecord(scene->objects, src, &newId, &copy)) return code;
  return PushNewId(L, newId);
}

uint32_t SprFlipSprite(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmSprite *s = nullptr;
  if (uint32_t code = SpriteToReshape(L, &s)) return code;
  return FlipSpriteFrames(s, vm_checkint32(L, 2));
}

uint32_t SprRemoveSprites(VmState *L) {
  CheckArgCount(L, 0, 1);
  const int32_t keep = vm_optint32(L, 1, 0);
  qmScene *scene = GetScene(L);
  if (uint32_t code = CheckSpriteOutput(scene)) return code;
  return RemoveAllShownSprites(scene, keep);
}

void FreeSpriteLibrary(VmState *L) {
  if (qmScene *scene = GetScene(L)) FreeAllSprites(scene);
}

const qmCommandEntry kSpriteCommands[] = {
    {"CreateSprite", SprCreateSprite},
    {"DisplaySprite", SprDisplaySprite},
    {"RemoveSprite", SprRemoveSprite},
    {"FreeSprite", SprFreeSprite},
    {"LoadSprite", SprLoadSprite},
    {"ScaleSprite", SprScaleSprite},
    {"CopySprite", SprCopySprite},
    {"FlipSprite", SprFlipSprite},
    {"RemoveSprites", SprRemoveSprites},
    {nullptr, nullptr},
};

}  // namespace

const qmLibrary kSpriteLibrary = {"sprite", kSpriteCommands, nullptr, nullptr, FreeSpriteLibrary, FREERANK_SPRITE};

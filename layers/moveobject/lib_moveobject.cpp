// The moveobject library: brushes, anims, text objects, layers and sprites moved across the current
// display along a line or an effect path, to the end or asynchronously.
#include "layers/moveobject/lib_moveobject.h"

#include "display/asyncdraw.h"
#include "platform/memory.h"
#include "runtime/bindings/layerarg_reader.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"
#include "runtime/vm/vm_api.h"
#include "layers/move.h"

namespace {

// Move<Object>(id, x1, y1, x2, y2[, {fx, speed, animspeed, async} | speed[, animspeed][, fx]]);
// withFrames: the object plays frames and takes an animspeed.
uint32_t MoveCommand(VmState *L, int32_t type, bool withFrames) {
  const int n = vm_gettop(L);
  CheckArgCount(L, 5, withFrames ? 8 : 7);
  // Every argument is read before the record is made: a reader that refuses one raises.
  qmMove r{};
  r.objectType = type;
  r.speedOption = r.animSpeedOption = MOVESPEED_NORMAL;
  if (type == QMTYPE_LAYER) {
    int32_t position = 0;
    if (uint32_t code = GetLayerArg(L, 1, &position)) return code;
    r.objectId = {uint32_t(position), 0};
  } else {
    r.objectId = GetObjectIdArg(L, 1);
  }
  r.startX = vm_checkint32(L, 2), r.startY = vm_checkint32(L, 3);
  r.endX = vm_checkint32(L, 4), r.endY = vm_checkint32(L, 5);
  if (n == 6 && vm_type(L, 6) == VM_TTABLE) {
    bool async = false;
    GetFieldUInt(L, 6, "fx", &r.path, nullptr);
    GetFieldInt(L, 6, "speed", &r.speedOption, nullptr);
    GetFieldInt(L, 6, "animspeed", &r.animSpeedOption, nullptr);
    GetFieldFlag(L, 6, "async", &async, nullptr);
    r.async = async;
  } else {
    if (n >= 6) r.speedOption = vm_checkint32(L, 6);
    if (n == 7 && withFrames) r.animSpeedOption = vm_checkint32(L, 7);
    if (n == 7 && !withFrames) r.path = vm_checkinteger(L, 7);
    if (n == 8) r.animSpeedOption = vm_checkint32(L, 7), r.path = vm_checkinteger(L, 8);
  }
  auto *m = static_cast<qmMove *>(MemAlloc(sizeof(qmMove), 1));
  if (!m) return ERR_MEM;
  *m = r;
  m->scene = GetScene(L);
  m->cancel = CommandCancel(L);
  qmAsyncDraw *ad = nullptr;
  if (uint32_t code = RunMove(m, &ad)) return code;
  return ad ? PushNewId(L, qmObjectId{0, reinterpret_cast<uintptr_t>(ad)}) : 0;
}

uint32_t MovMoveBrush(VmState *L) { return MoveCommand(L, QMTYPE_BRUSH, false); }
uint32_t MovMoveAnim(VmState *L) { return MoveCommand(L, QMTYPE_ANIM, true); }
uint32_t MovMoveTextObject(VmState *L) { return MoveCommand(L, QMTYPE_TEXTOBJECT, false); }
uint32_t MovMoveLayer(VmState *L) { return MoveCommand(L, QMTYPE_LAYER, false); }
uint32_t MovMoveSprite(VmState *L) { return MoveCommand(L, QMTYPE_SPRITE, true); }

const qmCommandEntry kMoveObjectCommands[] = {
    {"MoveBrush", MovMoveBrush},
    {"MoveAnim", MovMoveAnim},
    {"MoveTextObject", MovMoveTextObject},
    {"MoveLayer", MovMoveLayer},
    {"MoveSprite", MovMoveSprite},
    {nullptr, nullptr},
};

const qmConstantEntry kMoveObjectConstants[] = {
    {"BOUNCE", nullptr, MOVEPATH_BOUNCE},
    {"SMOOTHOUT", nullptr, MOVEPATH_SMOOTHOUT},
    {"DAMPED", nullptr, MOVEPATH_DAMPED},
    {"SINE", nullptr, MOVEPATH_SINE},
    {"BIGSINE", nullptr, MOVEPATH_BIGSINE},
    {"LOWERCURVE", nullptr, MOVEPATH_LOWERCURVE},
    {"UPPERCURVE", nullptr, MOVEPATH_UPPERCURVE},
    {nullptr, nullptr, 0},
};

}  // namespace

const qmLibrary kMoveObjectLibrary = {"moveobject", kMoveObjectCommands, kMoveObjectConstants, nullptr, nullptr,
                                      FREERANK_LAST};

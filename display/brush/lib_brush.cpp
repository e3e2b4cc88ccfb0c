// The brush library's commands: for now the output selection (SelectBrush and its kin, the mask
// mode and alpha intensity) and double buffering; the brushes themselves come later.
#include "display/brush/lib_brush.h"

#include "display/display.h"
#include "display/doublebuffer.h"
#include "display/outputselect.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/rttags.h"
#include "runtime/vm/vm_api.h"

namespace {

void SetTag(uint32_t tag, uintptr_t value) {
  qmTagItem tags[] = {{tag, value}, {0, 0}};
  SetRuntimeTags(nullptr, tags);
}

uint32_t BrsSelectBrush(VmState *L) {
  CheckArgCount(L, 1, 3);
  qmObjectId id = GetObjectIdArg(L, 1);
  const uint32_t mode = vm_optinteger(L, 2, SELMODE_NORMAL);
  const uint32_t combo = vm_optinteger(L, 3, 0);
  return SelectOutputCore(L, QMTYPE_BRUSH, &id, DISPOUT_BRUSH, 0, mode, combo);
}

// SelectMask and SelectAlphaChannel: an anim needs its frame.
uint32_t SelectPlane(VmState *L, uint32_t outputType) {
  CheckArgCount(L, 1, 3);
  qmObjectId id = GetObjectIdArg(L, 1);
  const uint32_t type = vm_optinteger(L, 2, QMTYPE_BRUSH);
  if (type == QMTYPE_ANIM && vm_gettop(L) < 3) return ERR_MISSINGPARAMTR;
  const int32_t frame = vm_optint32(L, 3, 0);
  return SelectOutputCore(L, type, &id, outputType, frame, SELMODE_NORMAL, 0);
}

uint32_t BrsSelectMask(VmState *L) { return SelectPlane(L, DISPOUT_MASK); }
uint32_t BrsSelectAlphaChannel(VmState *L) { return SelectPlane(L, DISPOUT_ALPHA); }

uint32_t BrsSetMaskMode(VmState *L) {
  CheckArgCount(L, 1, 1);
  SetTag(RTTAG_MASKMODE, uintptr_t(uint32_t(vm_checkint32(L, 1))));
  return 0;
}

uint32_t BrsSetAlphaIntensity(VmState *L) {
  CheckArgCount(L, 1, 1);
  const double v = GetNumberOrPercentArg(L, 1, 255, 0, nullptr);
  const int32_t n = NumberToInt(v);
  if (n < -1 || n > 255) return ERR_WRONGUSAGE;
  SetTag(RTTAG_ALPHAVALUE, uintptr_t(uint32_t(n)));
  return 0;
}

uint32_t BrsBeginDoubleBuffer(VmState *L) {
  CheckArgCount(L, 0, 1);
  const int32_t hardware = vm_optint32(L, 1, 0);
  if (!CurrentDisplay) return ERR_WRONGUSAGE;
  return BeginDoubleBufferCore(L, CurrentDisplay, hardware);
}

uint32_t BrsFlip(VmState *L) {
  CheckArgCount(L, 0, 1);
  const int32_t sync = vm_optint32(L, 1, 1);
  if (!CurrentDisplay) return ERR_NODOUBLEBUFFER;
  return FlipCore(L, CurrentDisplay, sync);
}

uint32_t BrsEndDoubleBuffer(VmState *L) {
  CheckArgCount(L, 0, 0);
  if (!CurrentDisplay) return ERR_NODOUBLEBUFFER;
  return EndDoubleBufferCore(CurrentDisplay);
}

const qmCommandEntry kBrushCommands[] = {
    {"SelectBrush", BrsSelectBrush},
    {"SelectMask", BrsSelectMask},
    {"SetMaskMode", BrsSetMaskMode},
    {"SelectAlphaChannel", BrsSelectAlphaChannel},
    {"SetAlphaIntensity", BrsSetAlphaIntensity},
    {"BeginDoubleBuffer", BrsBeginDoubleBuffer},
    {"EndDoubleBuffer", BrsEndDoubleBuffer},
    {"Flip", BrsFlip},
    {nullptr, nullptr},
};

const qmConstantEntry kBrushConstants[] = {
    {"MASKVISIBLE", nullptr, 0},    {"MASKINVISIBLE", nullptr, 1}, {"MASKVANILLACOPY", nullptr, 2},
    {"MASKXOR", nullptr, 3},        {"MASKAND", nullptr, 4},       {"MASKOR", nullptr, 5},
    {"VANILLACOPY", nullptr, -1},   {"SELMODE_NORMAL", nullptr, 0}, {"SELMODE_COMBO", nullptr, 1},
    {"SELMODE_LAYERS", nullptr, 2}, {nullptr, nullptr, 0},
};

}  // namespace

const qmLibrary kBrushLibrary = {"brush", kBrushCommands, kBrushConstants, nullptr, nullptr, FREERANK_BRUSH};

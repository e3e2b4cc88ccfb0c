#include "runtime/bindings/fxoptions_reader.h"

#include "runtime/cmdargs.h"
#include "transitions/fxtable.h"

void ReadFxOptions(VmState *L, int t, qmFxOptions *out) {
  *out = qmFxOptions{};
  out->effect = FX_RANDOMEFFECT;
  out->speed = FX_NORMALSPEED;
  out->parameter = FX_RANDOMPARAMETER;
  out->undoLevel = 1;
  GetFieldInt(L, t, "type", &out->effect, nullptr);
  GetFieldInt(L, t, "speed", &out->speed, nullptr);
  GetFieldInt(L, t, "parameter", &out->parameter, nullptr);
  GetFieldInt(L, t, "undolevel", &out->undoLevel, nullptr);
  GetFieldInt(L, t, "dx", &out->dx, &out->haveDx);
  GetFieldInt(L, t, "dy", &out->dy, &out->haveDy);
  GetFieldInt(L, t, "layers", &out->layers, nullptr);
  GetFieldInt(L, t, "forcerealtimelayers", &out->forceRealtime, nullptr);
  GetFieldInt(L, t, "async", &out->async, nullptr);
  GetFieldInt(L, t, "noborderfade", &out->noBorderFade, nullptr);
}

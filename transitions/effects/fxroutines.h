// The effect routines by family, and the one table from effect id to its routine pair. A family
// adds its routines here and its rows to the table; the runner only looks them up.
#pragma once
#include <cstdint>

#include "transitions/fxrequest.h"

// What a family promises about its frames, for whoever checks them.
enum : uint32_t {
  // Each pixel of the area shows the old picture or the new one, and keeps the new one once shown.
  FXFAMILY_PIECEREVEAL = 1,
};

struct qmFxRoutines {
  qmFxFrameFn frame;
  qmFxFreeFn free;  // null: nothing of its own to free
  uint32_t family;  // FXFAMILY_* flags
};

// The pair for an effect id, or null when the id names no effect built here.
const qmFxRoutines *FindFxRoutines(int32_t effect);
// Whether the effect id has routines (the random choice draws only these).
bool IsFxBuilt(int32_t effect);

// Block wipes: stripes, blinds, curtains, bars and quarters.
uint32_t HStripesFx(qmFxRequest *fx, int32_t *done);
uint32_t VStripesFx(qmFxRequest *fx, int32_t *done);
uint32_t HBlindsFx(qmFxRequest *fx, int32_t *done);
uint32_t VBlindsFx(qmFxRequest *fx, int32_t *done);
uint32_t OpenCurtainVFx(qmFxRequest *fx, int32_t *done);
uint32_t CloseCurtainVFx(qmFxRequest *fx, int32_t *done);
uint32_t OpenCurtainHFx(qmFxRequest *fx, int32_t *done);
uint32_t CloseCurtainHFx(qmFxRequest *fx, int32_t *done);
uint32_t BarsFx(qmFxRequest *fx, int32_t *done);
uint32_t QuartersFx(qmFxRequest *fx, int32_t *done);
// Pushes.
uint32_t PushFx(qmFxRequest *fx, int32_t *done);
// Mixing.
uint32_t CrossfadeFx(qmFxRequest *fx, int32_t *done);
void CrossfadeFxFree(qmFxRequest *fx, int32_t complete);

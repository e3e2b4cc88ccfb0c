#include "transitions/effects/fxroutines.h"

#include "transitions/fxtable.h"

namespace {

struct Row {
  int32_t first, last;
  qmFxRoutines routines;
};

const Row kRows[] = {
    {0, 6, {HStripesFx, nullptr}},
    {7, 13, {VStripesFx, nullptr}},
    {14, 18, {HBlindsFx, nullptr}},
    {19, 23, {VBlindsFx, nullptr}},
    {24, 24, {OpenCurtainVFx, nullptr}},
    {25, 25, {CloseCurtainVFx, nullptr}},
    {26, 26, {OpenCurtainHFx, nullptr}},
    {27, 27, {CloseCurtainHFx, nullptr}},
    {28, 28, {BarsFx, nullptr}},
    {29, 29, {QuartersFx, nullptr}},
    {78, 81, {PushFx, nullptr}},
    {84, 87, {RollFx, RollFxFree}},
    {97, 97, {ClockWipeFx, ShapeWipeFxFree}},
    {98, 98, {StarFx, ShapeWipeFxFree}},
    {114, 114, {SunFx, ShapeWipeFxFree}},
    {115, 115, {CrossfadeFx, CrossfadeFxFree}},
    {116, 117, {FadeFx, FadeFxFree}},
    {139, 139, {DissolveFx, DissolveFxFree}},
};

}  // namespace

const qmFxRoutines *FindFxRoutines(int32_t effect) {
  for (const Row &r : kRows)
    if (effect >= r.first && effect <= r.last) return &r.routines;
  return nullptr;
}

bool IsFxBuilt(int32_t effect) { return FindFxRoutines(effect) != nullptr; }

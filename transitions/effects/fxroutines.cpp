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
    {115, 115, {CrossfadeFx, CrossfadeFxFree}},
    {55, 69, {StretchZoomFx, StretchZoomFxFree}},
    {118, 119, {ZoomInOutFx, ZoomInOutFxFree}},
    {120, 123, {CrushFx, SquashFxFree}},
    {124, 127, {FlipCoinFx, SquashFxFree}},
    {128, 131, {TurndownFx, SquashFxFree}},
    {132, 133, {PixelZoomFx, PixelZoomFxFree}},
    {134, 137, {WaterFx, WaterFxFree}},
    {138, 138, {StrudelFx, StrudelFxFree}},
};

}  // namespace

const qmFxRoutines *FindFxRoutines(int32_t effect) {
  for (const Row &r : kRows)
    if (effect >= r.first && effect <= r.last) return &r.routines;
  return nullptr;
}

bool IsFxBuilt(int32_t effect) { return FindFxRoutines(effect) != nullptr; }

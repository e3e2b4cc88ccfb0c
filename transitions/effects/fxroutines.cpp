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
    {70, 70, {FlowTopFx, FlowFxFree}},
    {71, 71, {FlowBottomFx, FlowFxFree}},
    {72, 72, {FlowLeftFx, FlowFxFree}},
    {73, 73, {FlowRightFx, FlowFxFree}},
    {74, 74, {OpenGateHFx, nullptr}},
    {75, 75, {CloseGateHFx, nullptr}},
    {76, 76, {OpenGateVFx, nullptr}},
    {77, 77, {CloseGateVFx, nullptr}},
    {78, 81, {PushFx, nullptr}},
    {101, 104, {SlideFx, nullptr}},
    {110, 110, {UpNDownFx, nullptr}},
    {111, 112, {CardFx, nullptr}},
    {115, 115, {CrossfadeFx, CrossfadeFxFree}},
};

}  // namespace

const qmFxRoutines *FindFxRoutines(int32_t effect) {
  for (const Row &r : kRows)
    if (effect >= r.first && effect <= r.last) return &r.routines;
  return nullptr;
}

bool IsFxBuilt(int32_t effect) { return FindFxRoutines(effect) != nullptr; }

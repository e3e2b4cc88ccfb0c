#include "transitions/effects/fxroutines.h"

#include "transitions/fxtable.h"

namespace {

struct Row {
  int32_t first, last;
  qmFxRoutines routines;
};

const Row kRows[] = {
    {0, 6, {HStripesFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {7, 13, {VStripesFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {14, 18, {HBlindsFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {19, 23, {VBlindsFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {24, 24, {OpenCurtainVFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {25, 25, {CloseCurtainVFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {26, 26, {OpenCurtainHFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {27, 27, {CloseCurtainHFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {28, 28, {BarsFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {29, 29, {QuartersFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {70, 70, {FlowTopFx, FlowFxFree, 0}},
    {71, 71, {FlowBottomFx, FlowFxFree, 0}},
    {72, 72, {FlowLeftFx, FlowFxFree, 0}},
    {73, 73, {FlowRightFx, FlowFxFree, 0}},
    {74, 74, {OpenGateHFx, nullptr, 0}},
    {75, 75, {CloseGateHFx, nullptr, 0}},
    {76, 76, {OpenGateVFx, nullptr, 0}},
    {77, 77, {CloseGateVFx, nullptr, 0}},
    {78, 81, {PushFx, nullptr, 0}},
    {101, 104, {SlideFx, nullptr, 0}},
    {110, 110, {UpNDownFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {111, 112, {CardFx, nullptr, 0}},
    {115, 115, {CrossfadeFx, CrossfadeFxFree, 0}},
};

}  // namespace

const qmFxRoutines *FindFxRoutines(int32_t effect) {
  for (const Row &r : kRows)
    if (effect >= r.first && effect <= r.last) return &r.routines;
  return nullptr;
}

bool IsFxBuilt(int32_t effect) { return FindFxRoutines(effect) != nullptr; }

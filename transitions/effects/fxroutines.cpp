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
    {30, 30, {RevealLeftFx, nullptr}},
    {31, 31, {RevealRightFx, nullptr}},
    {32, 32, {RevealTopFx, nullptr}},
    {33, 33, {RevealBottomFx, nullptr}},
    {34, 34, {VLines2Fx, nullptr}},
    {35, 35, {HLines2Fx, nullptr}},
    {36, 36, {HLinesFx, nullptr}},
    {37, 37, {VLinesFx, nullptr}},
    {38, 46, {RectFx, nullptr}},
    {88, 96, {RectBackFx, nullptr}},
    {82, 82, {PuzzleFx, PuzzleFxFree}},
    {83, 83, {DiagonalFx, nullptr}},
    {105, 105, {SpiralFx, nullptr}},
    {106, 106, {SwissFx, nullptr}},
    {107, 107, {QuadRectFx, nullptr}},
    {108, 109, {SplitFx, nullptr}},
};

}  // namespace

const qmFxRoutines *FindFxRoutines(int32_t effect) {
  for (const Row &r : kRows)
    if (effect >= r.first && effect <= r.last) return &r.routines;
  return nullptr;
}

bool IsFxBuilt(int32_t effect) { return FindFxRoutines(effect) != nullptr; }

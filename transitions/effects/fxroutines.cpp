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
    {30, 30, {RevealLeftFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {31, 31, {RevealRightFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {32, 32, {RevealTopFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {33, 33, {RevealBottomFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {34, 34, {VLines2Fx, nullptr, FXFAMILY_PIECEREVEAL}},
    {35, 35, {HLines2Fx, nullptr, FXFAMILY_PIECEREVEAL}},
    {36, 36, {HLinesFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {37, 37, {VLinesFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {38, 46, {RectFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {47, 54, {ScrollFx, ScrollFxFree, FXFAMILY_TRAVELS}},
    {55, 69, {StretchZoomFx, nullptr, 0}},
    {70, 70, {FlowTopFx, nullptr, 0}},
    {71, 71, {FlowBottomFx, nullptr, 0}},
    {72, 72, {FlowLeftFx, nullptr, 0}},
    {73, 73, {FlowRightFx, nullptr, 0}},
    {74, 74, {OpenGateHFx, nullptr, 0}},
    {75, 75, {CloseGateHFx, nullptr, 0}},
    {76, 76, {OpenGateVFx, nullptr, 0}},
    {77, 77, {CloseGateVFx, nullptr, 0}},
    {78, 81, {PushFx, nullptr, 0}},
    {82, 82, {PuzzleFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {83, 83, {DiagonalFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {84, 87, {RollFx, nullptr, 0}},
    {88, 96, {RectBackFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {97, 97, {ClockWipeFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {98, 98, {StarFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {99, 100, {StrangePushFx, nullptr, 0}},
    {101, 104, {SlideFx, nullptr, 0}},
    {105, 105, {SpiralFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {106, 106, {SwissFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {107, 107, {QuadRectFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {108, 109, {SplitFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {110, 110, {UpNDownFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {111, 112, {CardFx, nullptr, 0}},
    {114, 114, {SunFx, nullptr, FXFAMILY_PIECEREVEAL}},
    {115, 115, {CrossfadeFx, nullptr, 0}},
    {116, 117, {FadeFx, nullptr, 0}},
    {118, 119, {ZoomInOutFx, nullptr, 0}},
    {120, 123, {CrushFx, nullptr, 0}},
    {124, 127, {FlipCoinFx, nullptr, 0}},
    {128, 131, {TurndownFx, nullptr, 0}},
    {132, 133, {PixelZoomFx, nullptr, 0}},
    {134, 137, {WaterFx, nullptr, 0}},
    {138, 138, {StrudelFx, nullptr, 0}},
    {139, 139, {DissolveFx, nullptr, FXFAMILY_PIECEREVEAL}},
};

}  // namespace

const qmFxRoutines *FindFxRoutines(int32_t effect) {
  for (const Row &r : kRows)
    if (effect >= r.first && effect <= r.last) return &r.routines;
  return nullptr;
}

bool IsFxBuilt(int32_t effect) { return FindFxRoutines(effect) != nullptr; }

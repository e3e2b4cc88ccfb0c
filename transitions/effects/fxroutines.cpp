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
    {55, 69, {StretchZoomFx, StretchZoomFxFree, 0}},
    {78, 81, {PushFx, nullptr, 0}},
    {84, 87, {RollFx, RollFxFree, 0}},
    {97, 97, {ClockWipeFx, ShapeWipeFxFree, FXFAMILY_PIECEREVEAL}},
    {98, 98, {StarFx, ShapeWipeFxFree, FXFAMILY_PIECEREVEAL}},
    {114, 114, {SunFx, ShapeWipeFxFree, FXFAMILY_PIECEREVEAL}},
    {115, 115, {CrossfadeFx, CrossfadeFxFree, 0}},
    {116, 117, {FadeFx, FadeFxFree, 0}},
    {118, 119, {ZoomInOutFx, ZoomInOutFxFree, 0}},
    {120, 123, {CrushFx, SquashFxFree, 0}},
    {124, 127, {FlipCoinFx, SquashFxFree, 0}},
    {128, 131, {TurndownFx, SquashFxFree, 0}},
    {132, 133, {PixelZoomFx, PixelZoomFxFree, 0}},
    {134, 137, {WaterFx, WaterFxFree, 0}},
    {138, 138, {StrudelFx, StrudelFxFree, 0}},
    {139, 139, {DissolveFx, DissolveFxFree, FXFAMILY_PIECEREVEAL}},
};

}  // namespace

const qmFxRoutines *FindFxRoutines(int32_t effect) {
  for (const Row &r : kRows)
    if (effect >= r.first && effect <= r.last) return &r.routines;
  return nullptr;
}

bool IsFxBuilt(int32_t effect) { return FindFxRoutines(effect) != nullptr; }

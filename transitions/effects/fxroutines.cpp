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
    {78, 81, {PushFx, nullptr, 0}},
    {115, 115, {CrossfadeFx, CrossfadeFxFree, 0}},
};

}  // namespace

const qmFxRoutines *FindFxRoutines(int32_t effect) {
  for (const Row &r : kRows)
    if (effect >= r.first && effect <= r.last) return &r.routines;
  return nullptr;
}

bool IsFxBuilt(int32_t effect) { return FindFxRoutines(effect) != nullptr; }

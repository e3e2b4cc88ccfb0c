// The effect routines by family, and the one table from effect id to its routine pair. A family
// adds its routines here and its rows to the table; the runner only looks them up.
#pragma once
#include <cstdint>

#include "transitions/fxrequest.h"

// What a family promises about its frames, for whoever checks them.
enum : uint32_t {
  // Each pixel of the area shows the old picture or the new one, and keeps the new one once shown.
  FXFAMILY_PIECEREVEAL = 1,
  // The picture travels in from outside the display (or a layer out of it): frames show it beyond
  // the area, and a layer moves rather than being drawn through its planes.
  FXFAMILY_TRAVELS = 2,
};

struct qmFxRoutines {
  qmFxFrameFn frame;
  qmFxFreeFn free;  // null: nothing beyond the buffers named with FxOwn
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
// Direct movers: pushes, slides, gates and cards.
uint32_t PushFx(qmFxRequest *fx, int32_t *done);
uint32_t SlideFx(qmFxRequest *fx, int32_t *done);
uint32_t OpenGateHFx(qmFxRequest *fx, int32_t *done);
uint32_t CloseGateHFx(qmFxRequest *fx, int32_t *done);
uint32_t OpenGateVFx(qmFxRequest *fx, int32_t *done);
uint32_t CloseGateVFx(qmFxRequest *fx, int32_t *done);
uint32_t CardFx(qmFxRequest *fx, int32_t *done);
// Up-and-down.
uint32_t UpNDownFx(qmFxRequest *fx, int32_t *done);
// Flows.
uint32_t FlowTopFx(qmFxRequest *fx, int32_t *done);
uint32_t FlowBottomFx(qmFxRequest *fx, int32_t *done);
uint32_t FlowLeftFx(qmFxRequest *fx, int32_t *done);
uint32_t FlowRightFx(qmFxRequest *fx, int32_t *done);
// Mixing.
uint32_t CrossfadeFx(qmFxRequest *fx, int32_t *done);
// Scalers: stretches and zooms, zoom in and out, crushes, flip coins and turndowns.
uint32_t StretchZoomFx(qmFxRequest *fx, int32_t *done);
uint32_t ZoomInOutFx(qmFxRequest *fx, int32_t *done);
uint32_t CrushFx(qmFxRequest *fx, int32_t *done);
uint32_t FlipCoinFx(qmFxRequest *fx, int32_t *done);
uint32_t TurndownFx(qmFxRequest *fx, int32_t *done);
// Per-pixel: pixel zoom, water and strudel.
uint32_t PixelZoomFx(qmFxRequest *fx, int32_t *done);
uint32_t WaterFx(qmFxRequest *fx, int32_t *done);
uint32_t StrudelFx(qmFxRequest *fx, int32_t *done);
// Fade (the old picture through a colour to the new one) and blend (the new one tinted and back).
uint32_t FadeFx(qmFxRequest *fx, int32_t *done);
// Mask reveals: dissolve, the shape wipes, roll and wallpaper.
uint32_t DissolveFx(qmFxRequest *fx, int32_t *done);
uint32_t SunFx(qmFxRequest *fx, int32_t *done);
uint32_t StarFx(qmFxRequest *fx, int32_t *done);
uint32_t ClockWipeFx(qmFxRequest *fx, int32_t *done);
uint32_t RollFx(qmFxRequest *fx, int32_t *done);
// Line and reveal wipes.
uint32_t RevealLeftFx(qmFxRequest *fx, int32_t *done);
uint32_t RevealRightFx(qmFxRequest *fx, int32_t *done);
uint32_t RevealTopFx(qmFxRequest *fx, int32_t *done);
uint32_t RevealBottomFx(qmFxRequest *fx, int32_t *done);
uint32_t VLines2Fx(qmFxRequest *fx, int32_t *done);
uint32_t HLines2Fx(qmFxRequest *fx, int32_t *done);
uint32_t HLinesFx(qmFxRequest *fx, int32_t *done);
uint32_t VLinesFx(qmFxRequest *fx, int32_t *done);
// Rectangle wipes.
uint32_t RectFx(qmFxRequest *fx, int32_t *done);
uint32_t RectBackFx(qmFxRequest *fx, int32_t *done);
// Tiles.
uint32_t PuzzleFx(qmFxRequest *fx, int32_t *done);
// The puzzle's tile order, a permutation of 0..n-1 drawn with drand48, one draw a tile: the tile
// drawn when it is still free, else the nearest free one below it, else the nearest above. 0 or
// ERR_MEM.
uint32_t DrawPuzzleOrder(int32_t *order, int32_t n);
uint32_t DiagonalFx(qmFxRequest *fx, int32_t *done);
// Spiral.
uint32_t SpiralFx(qmFxRequest *fx, int32_t *done);
// Splits, quadrants and corners.
uint32_t SwissFx(qmFxRequest *fx, int32_t *done);
uint32_t QuadRectFx(qmFxRequest *fx, int32_t *done);
uint32_t SplitFx(qmFxRequest *fx, int32_t *done);
// Scrolls: the picture or the layer moved in from outside by the move engine.
uint32_t ScrollFx(qmFxRequest *fx, int32_t *done);
void ScrollFxFree(qmFxRequest *fx, int32_t complete);
// Strange push: odd and even rows from opposite sides.
uint32_t StrangePushFx(qmFxRequest *fx, int32_t *done);

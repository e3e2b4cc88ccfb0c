// Squashes: whole pictures scaled along one axis and drawn side by side. Crush: the new picture
// enters from an edge squeezed into what it covers while the old one is squeezed into the rest.
// Flip coin: the old picture shrinks to a line over a colour and the new one opens out of it.
// Turndown: half the new picture unfolds from an edge to the middle over the old half, then the
// other half unfolds from the middle on. Any frame follows from its number alone.
#include <algorithm>
#include <cstdlib>

#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/effects/fxscale.h"
#include "transitions/fxowned.h"
#include "transitions/fxprims.h"
#include "transitions/fxtable.h"

namespace {

struct SquashState {
  int32_t counter;  // pixels along the effect's axis
  int32_t prevStart, prevSize;  // flip coin: the band drawn last, along the axis
  qmBitmap *work;
};

// Whether the effect moves along x (crushes and flips from the side, turndowns left and right).
bool AlongX(int32_t effect) {
  switch (effect) {
    case FX_CRUSHLEFT: case FX_CRUSHRIGHT: case FX_HFLIPCOIN: case FX_HLOWFLIPCOIN: case FX_TURNDOWNLEFT:
    case FX_TURNDOWNRIGHT: return true;
    default: return false;
  }
}

// The effect's mirrored direction: from the right or the bottom edge.
bool Mirrored(int32_t effect) {
  return effect == FX_CRUSHRIGHT || effect == FX_CRUSHBOTTOM || effect == FX_TURNDOWNBOTTOM ||
         effect == FX_TURNDOWNRIGHT;
}

// One scaled band: rows (or columns) [from, from + size) of a picture into [at, at + length) of
// the area, the whole other side.
struct Band {
  const qmBitmap *pic;
  int32_t from, size, at, length;
};

uint32_t DrawBand(qmFxRequest *fx, SquashState *s, Band b) {
  const int32_t axis = AlongX(fx->effect) ? fx->width : fx->height;
  if (Mirrored(fx->effect)) {
    b.from = axis - b.from - b.size;
    b.at = axis - b.at - b.length;
  }
  // Nothing reaches past the area's far edge.
  if (b.at < 0) b.length += b.at, b.at = 0;
  if (b.length > axis - b.at) b.length = axis - b.at;
  if (AlongX(fx->effect))
    return DrawFxScaled(fx, b.pic, nullptr, nullptr, b.from, 0, b.size, fx->height, b.at, 0, b.length, fx->height,
                        s->work);
  return DrawFxScaled(fx, b.pic, nullptr, nullptr, 0, b.from, fx->width, b.size, 0, b.at, fx->width, b.length,
                      s->work);
}

void FillBand(qmFxRequest *fx, int32_t at, int32_t length, uint32_t rgb) {
  if (length < 1) return;
  if (AlongX(fx->effect)) ClearFxRect(fx, at, 0, length, fx->height, rgb);
  else ClearFxRect(fx, 0, at, fx->width, length, rgb);
}

// The common opening: the state, the step over the axis, the first counter and the frames that
// take the counter over distance.
uint32_t InitSquash(qmFxRequest *fx, int32_t distance) {
  auto *s = static_cast<SquashState *>(MemAlloc(sizeof(SquashState), 1));
  if (!s) return ERR_MEM;
  fx->fxState = s;
  FxOwn(fx, &s->work);
  const int32_t axis = AlongX(fx->effect) ? fx->width : fx->height;
  fx->step = FxSpeedToStep(fx->step, axis, 60, 30, 120);
  s->counter = fx->step;
  s->prevStart = 0;
  s->prevSize = axis;
  s->work = AllocBitmap(fx->width, fx->height);
  if (!s->work) return ERR_MEM;
  fx->stepCount = FxStepCount(distance - fx->step, fx->step, 0);
  return 0;
}

// The frame's counter: the stored one, or for a frame drawn on its own the one its number gives.
SquashState *FrameState(qmFxRequest *fx) {
  auto *s = static_cast<SquashState *>(fx->fxState);
  if (fx->phase == FXPHASE_DRAW) s->counter = fx->frameNo * fx->step;
  return s;
}

uint32_t EndSquashFrame(qmFxRequest *fx, SquashState *s, uint32_t code, int32_t last, int32_t *done) {
  s->counter += fx->step;
  if (code || fx->phase == FXPHASE_DRAW) return code;
  if (last) *done = 1;
  FxFrameTail(fx);
  return 0;
}

const qmBitmap *OldPicture(const qmFxRequest *fx) { return fx->oldImage ? fx->oldImage : fx->srcImage; }

}  // namespace

uint32_t CrushFx(qmFxRequest *fx, int32_t *done) {
  const int32_t r = AlongX(fx->effect) ? fx->width : fx->height;
  if (fx->phase == FXPHASE_INIT) return InitSquash(fx, r);
  if (fx->phase != FXPHASE_FRAME && fx->phase != FXPHASE_DRAW) return 0;
  SquashState *s = FrameState(fx);
  int32_t n = s->counter, last = 0;
  if (n >= r) n = r, last = 1;
  if (fx->bgpicEmu) UpdateFxSources(fx, FXSOURCE_OLD | FXSOURCE_NEW);
  uint32_t code = DrawBand(fx, s, {fx->srcImage, 0, r, 0, n});
  if (!code && r - n > 0) code = DrawBand(fx, s, {OldPicture(fx), 0, r, n, r - n});
  return EndSquashFrame(fx, s, code, last, done);
}

uint32_t FlipCoinFx(qmFxRequest *fx, int32_t *done) {
  const int32_t r = AlongX(fx->effect) ? fx->width : fx->height;
  if (fx->phase == FXPHASE_INIT) {
    if (fx->parameter == FX_RANDOMPARAMETER) fx->parameter = 0;
    return InitSquash(fx, 2 * r);
  }
  if (fx->phase != FXPHASE_FRAME && fx->phase != FXPHASE_DRAW) return 0;
  SquashState *s = FrameState(fx);
  const uint32_t colour = uint32_t(fx->parameter) & 0xFFFFFF;
  const bool direct = fx->phase == FXPHASE_DRAW;
  if (direct) FillBand(fx, 0, r, colour);
  int32_t last = 0;
  if (s->counter >= 2 * r) s->counter = 2 * r, last = 1;
  const int32_t d = std::max(1, std::abs(r - s->counter));
  const bool low = fx->effect == FX_VLOWFLIPCOIN || fx->effect == FX_HLOWFLIPCOIN;
  const int32_t at = low ? r - d : (r - d) / 2;
  const bool oldShown = s->counter <= r;
  if (fx->bgpicEmu) UpdateFxSources(fx, oldShown ? FXSOURCE_OLD | FXSOURCE_NEW : FXSOURCE_NEW);
  if (!direct) {
    // The space the band gave up: while the old picture shrinks, and where the new one, one
    // pixel thinner, starts beside the old one's last band. A centred band's strips reach one
    // pixel into it.
    if (low) {
      FillBand(fx, s->prevStart, s->prevSize - d, colour);
    } else {
      FillBand(fx, s->prevStart, at - s->prevStart + 1, colour);
      FillBand(fx, at + d - 1, s->prevStart + s->prevSize - at - d + 1, colour);
    }
    s->prevStart = at;
    s->prevSize = d;
  }
  const qmBitmap *pic = oldShown ? OldPicture(fx) : fx->srcImage;
  const uint32_t code = DrawBand(fx, s, {pic, 0, r, at, d});
  return EndSquashFrame(fx, s, code, last, done);
}

uint32_t TurndownFx(qmFxRequest *fx, int32_t *done) {
  const int32_t r = AlongX(fx->effect) ? fx->width : fx->height;
  if (fx->phase == FXPHASE_INIT) {
    if (uint32_t code = InitSquash(fx, r)) return code;
    // A layer's planes start with the old picture, which the unfolding halves cover.
    if (fx->realtime) return DrawBand(fx, static_cast<SquashState *>(fx->fxState), {OldPicture(fx), 0, r, 0, r});
    return 0;
  }
  if (fx->phase != FXPHASE_FRAME && fx->phase != FXPHASE_DRAW) return 0;
  SquashState *s = FrameState(fx);
  const int32_t h = r / 2;
  int32_t c = s->counter, last = 0;
  if (c >= r) c = r, last = 1;
  uint32_t code = 0;
  // A layer standing in for a background picture: where the script changed the layers the
  // pictures come from, the parts drawn in earlier frames and left alone since are drawn again.
  const uint32_t renewed = fx->bgpicEmu ? UpdateFxSources(fx, FXSOURCE_OLD | FXSOURCE_NEW) : 0u;
  if (!last && fx->phase == FXPHASE_FRAME) {
    if (c <= h) {
      if (renewed & FXSOURCE_OLD) code = DrawBand(fx, s, {OldPicture(fx), h, r - h, h, r - h});
    } else {
      if (renewed & FXSOURCE_OLD) code = DrawBand(fx, s, {OldPicture(fx), c, r - c, c, r - c});
      if (!code && (renewed & FXSOURCE_NEW)) code = DrawBand(fx, s, {fx->srcImage, 0, h, 0, h});
    }
  }
  if (last) {
    code = DrawBand(fx, s, {fx->srcImage, 0, r, 0, r});
    return EndSquashFrame(fx, s, code, last, done);
  }
  if (fx->phase == FXPHASE_DRAW) {
    // A frame drawn on its own: the old picture beyond the unfolding band, and past the middle
    // the half that has unfolded already.
    code = DrawBand(fx, s, {OldPicture(fx), 0, r, 0, r});
    if (!code && c > h) code = DrawBand(fx, s, {fx->srcImage, 0, h, 0, h});
  }
  if (!code && c <= h) {
    if (h < c + fx->step) {
      code = DrawBand(fx, s, {fx->srcImage, 0, h, 0, h});
    } else {
      code = DrawBand(fx, s, {fx->srcImage, 0, h, 0, c});
      if (!code) code = DrawBand(fx, s, {OldPicture(fx), 0, h, c, h - c});
    }
  } else if (!code) {
    code = DrawBand(fx, s, {fx->srcImage, h, r - h, h, c - h});
  }
  return EndSquashFrame(fx, s, code, last, done);
}


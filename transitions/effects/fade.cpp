// Fade and blend: a picture tinted toward a colour and back. FADE tints the old picture up to the
// colour and brings the new one out of it; BLEND tints the new picture up and back. Inside the new
// picture's shape only: its mask or alpha plane composes the tinted picture over the old one.
#include <cstdlib>

#include "graphics/alphaops.h"
#include "graphics/blit.h"
#include "graphics/pixelformat.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "transitions/effects/fxblend.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/effects/maskcompose.h"
#include "transitions/fxowned.h"
#include "transitions/fxprims.h"
#include "transitions/fxrequest.h"
#include "transitions/fxtable.h"

namespace {

// Levels run from the step up to 511: the tint rises to 255 over the first half and falls back.
constexpr int32_t kFadeEnd = 511;

struct FadeState {
  int32_t level;
  uint32_t *colourRow;  // width pixels of the colour, the tint's second picture
  qmBitmap *tinted;     // the tinted picture
  qmBitmap *composed;   // the tinted picture over the old one through the new picture's planes
  // In a layer's planes: the colour as a picture, the new picture's coverage, and that coverage
  // scaled by the tint.
  qmBitmap *colour;
  qmAlphaChannel *coverage, *scaled;
};

// Level units a frame: the speed constants below 1, a positive step up to 255.
int32_t FadeStep(int32_t speed) {
  if (speed == FX_FASTSPEED) return 20;
  if (speed == FX_SLOWSPEED) return 5;
  if (speed < 1) return 10;
  return speed > 255 ? 255 : speed;
}

// 0..255: the level while it rises to 255, then 255 - (level mod 256) down to 1; 0 at the end.
int32_t TintOf(int32_t level) {
  if (level >= kFadeEnd) return 0;
  if (level <= 255) return level < 0 ? 0 : level;
  return 255 - level % 256;
}

uint32_t FadeInit(qmFxRequest *fx) {
  auto *s = static_cast<FadeState *>(MemAlloc(sizeof(FadeState), 1));
  if (!s) return ERR_MEM;
  fx->fxState = s;
  FxOwn(fx, &s->colourRow, &s->tinted, &s->composed, &s->colour, &s->coverage, &s->scaled);
  fx->step = FadeStep(fx->step);
  if (fx->parameter == FX_RANDOMPARAMETER) fx->parameter = std::rand() & 0xFFFFFF;
  s->level = fx->step;
  s->colourRow = static_cast<uint32_t *>(MemAlloc(uint32_t(fx->width) * 4, 0));
  s->tinted = AllocBitmap(fx->width, fx->height);
  if (!s->colourRow || !s->tinted) return ERR_MEM;
  const uint32_t colour = ColorToPixel(uint32_t(fx->parameter) & 0xFFFFFF, QM_BITMAP_FORMAT);
  for (int32_t x = 0; x < fx->width; x++) s->colourRow[x] = colour;
  if ((fx->srcMask || fx->srcAlpha) && !(s->composed = AllocBitmap(fx->width, fx->height))) return ERR_MEM;
  if (fx->realtime) {
    s->colour = AllocBitmap(fx->width, fx->height);
    s->coverage = AllocAlphaChannel(fx->width, fx->height, 0);
    s->scaled = AllocAlphaChannel(fx->width, fx->height, 0);
    if (!s->colour || !s->coverage || !s->scaled) return ERR_MEM;
    FillBitmapRect(s->colour, 0, 0, fx->width, fx->height, uint32_t(fx->parameter) & 0xFFFFFF);
    FillAlphaFromPlanes(s->coverage, fx->srcMask, fx->srcAlpha, fx->width, fx->height);
  }
  fx->stepCount = FxStepCount(kFadeEnd - fx->step, fx->step, 0);
  return 0;
}

}  // namespace

uint32_t FadeFx(qmFxRequest *fx, int32_t *done) {
  if (fx->phase == FXPHASE_INIT) return FadeInit(fx);
  auto *s = static_cast<FadeState *>(fx->fxState);
  int32_t level;
  // A run sent back to its start (frame 0) begins again.
  if (fx->phase == FXPHASE_FRAME) level = fx->frameNo ? s->level : fx->step;
  else if (fx->phase == FXPHASE_DRAW) level = fx->frameNo * fx->step;
  else return 0;
  int32_t last = 0;
  if (level >= kFadeEnd) {
    level = kFadeEnd;
    last = 1;
  }
  const int32_t tint = TintOf(level);
  // FADE tints the old picture until the level passes 255, then the new one.
  const qmBitmap *source = fx->effect == FX_FADE && level <= 255 && fx->oldImage ? fx->oldImage : fx->srcImage;
  const qmFxPixels colour{s->colourRow, 0};
  fx->borderLevel = 255;
  if (fx->realtime) {
    // In a layer's planes FADE brings in the plain colour first (taking the layer away, the
    // colour fades out last), its coverage growing with the tint; else the tinted picture shows
    // with its whole coverage.
    const bool colourPhase = fx->layerTarget ? level >= 257 : fx->effect == FX_FADE && level < 256;
    if (colourPhase) {
      ScaleAlphaChannel(s->coverage, s->scaled, fx->height, tint);
      BlitFxToScreen(fx, s->colour, 0, 0, fx->x, fx->y, fx->width, fx->height, nullptr, s->scaled);
      fx->borderLevel = tint;
    } else {
      MixFxPixels(FxPixelsOf(fx->srcImage), colour, nullptr, 255 - tint, 0, 0, fx->width, fx->height,
                  s->tinted->pixels, s->tinted->bytesPerRow / 4);
      BlitFxToScreen(fx, s->tinted, 0, 0, fx->x, fx->y, fx->width, fx->height, nullptr, s->coverage);
    }
  } else if (!fx->srcMask && !fx->srcAlpha) {
    MixFxToScreen(fx, FxPixelsOf(source), colour, nullptr, 255 - tint, 0, 0, fx->x, fx->y, fx->width, fx->height,
                  s->tinted);
  } else {
    // The tinted picture inside the new picture's shape, the old one around it.
    MixFxPixels(FxPixelsOf(source), colour, nullptr, 255 - tint, 0, 0, fx->width, fx->height, s->tinted->pixels,
                s->tinted->bytesPerRow / 4);
    ComposeMaskedFx(fx, s->tinted, 0, 0, fx->width, fx->height, fx->srcMask, fx->srcAlpha, s->composed);
  }
  s->level = level + fx->step;
  if (fx->phase == FXPHASE_DRAW) return 0;
  if (last) *done = 1;
  FxFrameTail(fx);
  return 0;
}


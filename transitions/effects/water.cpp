// Water and strudel: the old picture turns into the new one under a ripple or a swirl that grows
// to the middle of the effect and dies away again, the new picture mixed in by a weight that
// rises from 0 to 255. The sine, distance, swirl and root tables are built once at the init call; the
// last frame is the new picture itself. Any frame follows from its number alone.
#include <algorithm>

#include "display/bgpic.h"
#include "display/safeblt.h"
#include "graphics/warp_kernels.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/fxowned.h"
#include "transitions/fxprims.h"
#include "transitions/fxtable.h"

namespace {

struct WaterState {
  qmRippleRequest ripple;  // tables and geometry; pictures filled in each frame
  int32_t counter;         // frames drawn, 0..2D
  qmBitmap *work;          // the frame's pixels
};

struct StrudelState {
  qmSwirlRequest swirl;
  int32_t angle;  // degrees, 0..720
  qmBitmap *work;
};

// The wave constant of each water effect, in pixels.
double WaveLength(int32_t effect) {
  static const double kWave[] = {32.0, 64.0, 16.0, 8.0};
  return kWave[std::clamp(effect - FX_WATER1, 0, 3)];
}

// Frames to the strongest ripple: the speed constants name three, any other speed counts itself.
int32_t WaterDuration(int32_t speed) {
  if (speed == FX_FASTSPEED) speed = 10;
  else if (speed == FX_NORMALSPEED) speed = 25;
  else if (speed == FX_SLOWSPEED) speed = 50;
  return std::clamp(speed, 5, 100);
}

int32_t StrudelStep(int32_t speed) {
  if (speed == FX_FASTSPEED) speed = 16;
  else if (speed == FX_NORMALSPEED) speed = 8;
  else if (speed == FX_SLOWSPEED) speed = 4;
  return std::clamp(speed, 2, 16);
}

// The kernels' fade through an alpha plane: the plane holds the coverage on entry and receives it
// moved with the pixels, scaled by the level (by 255 - level when reverse). Null: no fade.
void SetCoverageFade(qmRippleRequest &r, qmAlphaChannel *a, int32_t reverse) {
  r.fadeAlpha = a ? a->memory : nullptr;
  r.fadeAlphaBytesPerRow = a ? a->bytesPerRow : 0;
  r.reverse = reverse;
}
void SetCoverageFade(qmSwirlRequest &r, qmAlphaChannel *a, int32_t reverse) {
  r.alphaFade = a ? 1 : 0;
  r.alpha = a ? a->memory : nullptr;
  r.alphaBytesPerRow = a ? a->bytesPerRow : 0;
  r.alphaCopy = nullptr;
  r.reverse = reverse;
}

// Where no old picture is kept the new picture stands in for it: the warp then moves the new
// picture alone.
const qmBitmap *OldPicture(const qmFxRequest *fx) { return fx->oldImage ? fx->oldImage : fx->srcImage; }

uint32_t EndFrame(qmFxRequest *fx, uint32_t code, int32_t last, int32_t *done) {
  if (code || fx->phase == FXPHASE_DRAW) return code;
  if (last) *done = 1;
  FxFrameTail(fx);
  return 0;
}

// Both warps mix their two pictures in a scratch of the area's size ahead of the move, when there
// are two pictures to mix: the scratch, or null with failed set when it cannot be had.
uint32_t *NewMixScratch(const qmFxRequest *fx, bool *failed) {
  if (!fx->oldImage || fx->realtime) return nullptr;
  auto *scratch = static_cast<uint32_t *>(MemAlloc(uint32_t(int64_t(fx->width) * fx->height * 4), 0));
  *failed = !scratch;
  return scratch;
}

// One frame of either warp at level 0..255: the kernel moves the new picture and mixes it over
// the old one, shown whole; the last frame is the new picture itself. The kernel writes straight
// into the screen's picture when that takes the whole area, else into work.
template <typename Request, typename Kernel>
uint32_t WarpFrame(qmFxRequest *fx, Request &r, qmBitmap *work, int32_t level, bool last, int32_t *done,
                   Kernel kernel) {
  fx->borderLevel = fx->layerTarget ? 255 - level : level;
  if (last) {
    BlitFxToScreen(fx, fx->srcImage, 0, 0, fx->x, fx->y, fx->width, fx->height, fx->srcMask, fx->srcAlpha);
    return EndFrame(fx, 0, 1, done);
  }
  r.srcCopy = fx->srcImage->pixels;
  r.srcPitch = fx->srcImage->bytesPerRow / 4;
  if (qmPlaneSet *p = FxPlanes(fx); p && p->alpha) {
    // In the layer's own planes the layer's outline moves with its pixels: its coverage is warped
    // like them and shown at the level's share, over whatever lies under the layer.
    FillAlphaFromPlanes(p->alpha, fx->srcMask, fx->srcAlpha, fx->width, fx->height);
    r.second = nullptr;
    r.dst = p->bitmap->pixels;
    r.dstPitch = p->bitmap->bytesPerRow / 4;
    SetCoverageFade(r, p->alpha, fx->layerTarget);
    const uint32_t code = uint32_t(kernel(&r));
    // A decorated layer is presented whole at the frame's end.
    if (!fx->rerender && !fx->layerDecorated) PresentFxRect(fx, fx->x, fx->y, fx->width, fx->height);
    return EndFrame(fx, code, 0, done);
  }
  const qmBitmap *old = OldPicture(fx);
  r.second = old->pixels;
  r.secondPitch = old->bytesPerRow / 4;
  // One picture mixed with itself is that picture.
  if (old == fx->srcImage) r.second = nullptr;
  r.dst = work->pixels;
  r.dstPitch = work->bytesPerRow / 4;
  SetCoverageFade(r, nullptr, 0);
  qmSafeBlt b;
  qmBlitRect rect;
  qmBitmap *target = nullptr;
  if (!fx->realtime) {
    FxScreenBlit(fx, work, 0, 0, fx->x, fx->y, fx->width, fx->height, nullptr, nullptr, &b);
    target = SafeBltPixelTarget(fx->scene, &b, &rect);
    if (target && (target == fx->srcImage || target == old || rect.width != fx->width || rect.height != fx->height))
      target = nullptr;
  }
  if (target) {
    r.dstPitch = target->bytesPerRow / 4;
    r.dst = target->pixels + int64_t(rect.dstY) * r.dstPitch + rect.dstX;
  }
  const uint32_t code = uint32_t(kernel(&r));
  if (code) return EndFrame(fx, code, 0, done);
  if (target) ShowFxPixelTarget(fx, &b, target, &rect);
  else BlitFxToScreen(fx, work, 0, 0, fx->x, fx->y, fx->width, fx->height, nullptr, nullptr);
  return EndFrame(fx, 0, 0, done);
}

}  // namespace

uint32_t WaterFx(qmFxRequest *fx, int32_t *done) {
  const int32_t w = fx->width, h = fx->height;
  if (fx->phase == FXPHASE_INIT) {
    auto *s = static_cast<WaterState *>(MemAlloc(sizeof(WaterState), 1));
    if (!s) return ERR_MEM;
    fx->fxState = s;
    FxOwn(fx, &s->ripple.sine, &s->ripple.distance, &s->ripple.rings, &s->ripple.mixScratch, &s->work);
    const int32_t duration = WaterDuration(fx->step);
    fx->step = duration;
    qmRippleRequest &r = s->ripple;
    r.waves = duration;
    r.amplitudeStep = 0.05;
    r.wavelength = WaveLength(fx->effect);
    r.width = w;
    r.height = h;
    r.centerX = w / 2;
    r.centerY = h / 2;
    r.maxDistance = std::max(w / 2, h / 2);
    r.sine = static_cast<double *>(MemAlloc(QM_WARP_TABLE_SIZE * sizeof(double), 0));
    // Each point's distance from the centre: one row per distance from the middle row where
    // they fit in 16 bits, else the whole area.
    const int32_t ringRows = RippleRingRows(&r);
    if (ringRows > 0) r.rings = static_cast<uint16_t *>(MemAlloc(uint32_t(int64_t(w) * ringRows * 2), 0));
    else r.distance = static_cast<int32_t *>(MemAlloc(uint32_t(int64_t(w) * h * 4), 0));
    s->work = AllocBitmap(w, h);
    bool failed = false;
    r.mixScratch = NewMixScratch(fx, &failed);
    if (!r.sine || !(r.rings || r.distance) || !s->work || failed) return ERR_MEM;
    PrepareRipple(&r);
    fx->stepCount = FxStepCount(2 * duration, 1, 1);
    return 0;
  }
  if (fx->phase != FXPHASE_FRAME && fx->phase != FXPHASE_DRAW) return 0;
  auto *s = static_cast<WaterState *>(fx->fxState);
  const int32_t end = 2 * fx->step;
  s->counter = fx->phase == FXPHASE_DRAW ? fx->frameNo : s->counter + 1;
  const int32_t t = std::min(s->counter, end);
  return WarpFrame(fx, s->ripple, s->work, int32_t(int64_t(t) * 255 / end), t >= end, done,
                   [t](qmRippleRequest *r) { return RipplePixels(r, t); });
}

uint32_t StrudelFx(qmFxRequest *fx, int32_t *done) {
  const int32_t w = fx->width, h = fx->height;
  if (fx->phase == FXPHASE_INIT) {
    auto *s = static_cast<StrudelState *>(MemAlloc(sizeof(StrudelState), 1));
    if (!s) return ERR_MEM;
    fx->fxState = s;
    FxOwn(fx, &s->swirl.sine, &s->swirl.cosine, &s->swirl.roots, &s->swirl.mixScratch, &s->work);
    fx->step = StrudelStep(fx->step);
    qmSwirlRequest &r = s->swirl;
    r.width = w;
    r.height = h;
    r.sine = static_cast<double *>(MemAlloc(QM_WARP_TABLE_SIZE * sizeof(double), 0));
    r.cosine = static_cast<double *>(MemAlloc(QM_WARP_TABLE_SIZE * sizeof(double), 0));
    // Larger sides take the root of each pixel's distance frame by frame.
    const bool rootTable = w <= kSwirlRootSide && h <= kSwirlRootSide;
    if (rootTable) r.roots = static_cast<int16_t *>(MemAlloc(uint32_t(int64_t(w) * h * 2), 0));
    s->work = AllocBitmap(w, h);
    bool failed = false;
    r.mixScratch = NewMixScratch(fx, &failed);
    if (!r.sine || !r.cosine || (rootTable && !r.roots) || !s->work || failed) return ERR_MEM;
    PrepareSwirl(&r);
    fx->stepCount = FxStepCount(720, fx->step, 1);
    return 0;
  }
  if (fx->phase != FXPHASE_FRAME && fx->phase != FXPHASE_DRAW) return 0;
  auto *s = static_cast<StrudelState *>(fx->fxState);
  s->angle = fx->phase == FXPHASE_DRAW ? fx->frameNo * fx->step : s->angle + fx->step;
  const int32_t angle = std::min(s->angle, 720);
  return WarpFrame(fx, s->swirl, s->work, angle * 255 / 720, angle >= 720, done,
                   [angle](qmSwirlRequest *r) { return SwirlPixels(r, angle); });
}


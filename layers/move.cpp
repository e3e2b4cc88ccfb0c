#include "layers/move.h"

#include <algorithm>
#include <cmath>

#include "display/asyncdraw.h"
#include "display/bgpic.h"
#include "display/brush.h"
#include "display/display.h"
#include "display/displayops.h"
#include "display/imagecore.h"
#include "display/pacing.h"
#include "display/position.h"
#include "display/safeblt.h"
#include "display/scene.h"
#include "graphics/bitmapops.h"
#include "graphics/blit.h"
#include "layers/animlayer.h"
#include "layers/layer.h"
#include "layers/layerops.h"
#include "media/animcore/anim.h"
#include "platform/desktop.h"
#include "platform/memory.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"
#include "layers/sprite.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// x and y signs of the directions 0 (up) to 7 (up-left), clockwise.
constexpr int8_t kSignX[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int8_t kSignY[8] = {-1, -1, 0, 1, 1, 1, 0, -1};

int32_t Clamp32(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// A tenth, rounded half up, at least 1.
int64_t SlowStep(int64_t speed) { return std::max<int64_t>(speed / 10 + (speed % 10 >= 5 ? 1 : 0), 1); }

bool IsHorizontal(const qmMove *m) { return m->direction == 2 || m->direction == 6; }
bool IsSine(const qmMove *m) {
  return IsHorizontal(m) && (m->path == MOVEPATH_SINE || m->path == MOVEPATH_BIGSINE);
}
bool IsCurve(const qmMove *m) {
  return IsHorizontal(m) && (m->path == MOVEPATH_LOWERCURVE || m->path == MOVEPATH_UPPERCURVE);
}

// The straight phase along one axis of sign s: the step (slowed inside the zone for SMOOTHOUT),
// the spare pixel when given, never past the target.
void StraightStep(int64_t *v, int64_t target, int32_t s, int64_t *step, bool smooth, int64_t zone, int64_t slow,
                  bool extraPixel) {
  if (smooth && (s > 0 ? *v > target - zone : *v < target + zone)) *step = std::max<int64_t>(*step - slow, 1);
  const int64_t n = *v + int64_t(s) * (*step + (extraPixel ? 1 : 0));
  *v = s > 0 ? std::min(n, target) : std::max(n, target);
}

// Moves v by step in direction s toward goal: true once there. A goal already reached or passed
// counts as reached; the value never goes past it.
bool Toward(int64_t *v, int64_t goal, int32_t s, int64_t step) {
  if (s > 0 ? *v >= goal : *v <= goal) return true;
  const int64_t n = *v + s * step;
  const bool there = s > 0 ? n >= goal : n <= goal;
  *v = there ? goal : n;
  return there;
}

// Where an overshoot phase heads, as multiples of the base speed past the target, and which way
// it travels relative to the move's own direction.
constexpr int32_t kOvershoot[9] = {0, 16, -8, 4, -2, 1, 0, 8, 0};
constexpr int32_t kPhaseWay[9] = {1, 1, -1, 1, -1, 1, -1, 1, -1};

qmDisplay *CurrentDisplay(const qmMove *m) { return m->scene ? m->scene->current : nullptr; }

// The saved background and the work bitmap at the picture's shown size (layers off).
uint32_t PrepareMoveBackground(qmMove *m) {
  const qmDisplay *d = CurrentDisplay(m);
  const qmBGPic *pic = d ? d->bgpic : nullptr;
  FreeBitmap(m->work), FreeBitmap(m->savedBackground);
  m->work = m->savedBackground = nullptr;
  if (!pic || !d->backgroundCopy) return 0;
  m->work = AllocBitmap(pic->shownWidth, pic->shownHeight);
  m->savedBackground = AllocBitmap(pic->shownWidth, pic->shownHeight);
  if (!m->work || !m->savedBackground) return ERR_MEM;
  BltBitmap(d->backgroundCopy, 0, 0, m->savedBackground, 0, 0, std::min(pic->shownWidth, d->backgroundCopy->width),
            std::min(pic->shownHeight, d->backgroundCopy->height));
  return 0;
}

// Recomposes the union of the previous and the new rectangle from the saved background with
// the object over it, and copies it to the display.
void DrawComposed(qmMove *m) {
  const qmDisplay *d = CurrentDisplay(m);
  const qmBGPic *pic = d ? d->bgpic : nullptr;
  if (!pic || !m->work || !m->savedBackground || !m->image) return;
  const int64_t x0 = std::min(m->x, m->previousX), y0 = std::min(m->y, m->previousY);
  const int64_t x1 = std::max(m->x, m->previousX) + int64_t(m->width);
  const int64_t y1 = std::max(m->y, m->previousY) + int64_t(m->height);
  const int32_t W = std::min(pic->shownWidth, m->work->width), H = std::min(pic->shownHeight, m->work->height);
  const int32_t left = int32_t(std::max<int64_t>(x0, 0)), top = int32_t(std::max<int64_t>(y0, 0));
  const int32_t right = int32_t(std::min<int64_t>(x1, W)), bottom = int32_t(std::min<int64_t>(y1, H));
  if (left >= right || top >= bottom) return;
  const int32_t w = right - left, h = bottom - top;
  // The object's part inside the rectangle.
  const int32_t ox = std::max(left, m->x), oy = std::max(top, m->y);
  const int64_t ox1 = std::min<int64_t>(right, int64_t(m->x) + m->width);
  const int64_t oy1 = std::min<int64_t>(bottom, int64_t(m->y) + m->height);
  const bool opaque = !m->imageMask && !m->imageAlpha && m->image->width >= m->width && m->image->height >= m->height;
  if (ox < ox1 && oy < oy1 && opaque) {
    // An opaque object covers its part: the background goes only around it.
    const int32_t oh = int32_t(oy1 - oy);
    BltBitmap(m->savedBackground, left, top, m->work, left, top, w, oy - top);
    BltBitmap(m->savedBackground, left, int32_t(oy1), m->work, left, int32_t(oy1), w, bottom - int32_t(oy1));
    BltBitmap(m->savedBackground, left, oy, m->work, left, oy, ox - left, oh);
    BltBitmap(m->savedBackground, int32_t(ox1), oy, m->work, int32_t(ox1), oy, right - int32_t(ox1), oh);
  } else {
    BltBitmap(m->savedBackground, left, top, m->work, left, top, w, h);
  }
  if (ox < ox1 && oy < oy1) {
    qmSafeBlt b{};
    b.src = m->image, b.srcX = ox - m->x, b.srcY = oy - m->y;
    b.dst = m->work, b.dstX = ox, b.dstY = oy;
    b.width = int32_t(ox1 - ox), b.height = int32_t(oy1 - oy);
    b.srcWidth = m->width, b.srcHeight = m->height;
    b.dstWidth = W, b.dstHeight = H;
    b.flags = SAFEBLT_PIXELSONLY | SAFEBLT_NOSPRITES;
    b.mask = m->imageMask, b.alpha = m->imageAlpha;
    SafeBlt(m->scene, &b);
  }
  qmSafeBlt out{};
  out.src = m->work, out.srcX = left, out.srcY = top;
  out.dstX = left, out.dstY = top, out.width = w, out.height = h;
  out.srcWidth = W, out.srcHeight = H, out.dstWidth = W, out.dstHeight = H;
  out.flags = SAFEBLT_BACKGROUND | m->extraBlitFlags;
  out.clip = pic->activeClip;
  SafeBlt(m->scene, &out);
}

// The delay after the frame in microseconds.
uint64_t FrameDelayMicros(const qmMove *m, int32_t frame) {
  if (m->anim && m->frameDelay == MOVESPEED_DEFAULT) return uint64_t(GetAnimFrameDelay(m->anim, frame)) * 1000u;
  return uint64_t(std::max(m->frameDelay, 0)) * 1000u;
}

// Drops the current anim frame's planes (freed when the move fetched them for itself).
void DropAnimFrame(qmMove *m) {
  if (m->framesOwned) {
    FreeBitmap(const_cast<qmBitmap *>(m->image));
    FreeMask(const_cast<qmMask *>(m->imageMask));
    FreeAlphaChannel(const_cast<qmAlphaChannel *>(m->imageAlpha));
  }
  m->image = nullptr, m->imageMask = nullptr, m->imageAlpha = nullptr;
}

uint32_t FetchCurrentFrame(qmMove *m) {
  qmBitmap *b = nullptr;
  qmMask *mask = nullptr;
  qmAlphaChannel *alpha = nullptr;
  if (uint32_t code = FetchAnimFrame(m->anim, m->frame, 0, 0, &b, &mask, &alpha)) return code;
  m->image = b, m->imageMask = mask, m->imageAlpha = alpha;
  return 0;
}

// Lowers the counters the move raised.
void ReleaseCounters(qmMove *m) {
  if (m->anim && m->anim->lockCount > 0) --m->anim->lockCount;
  m->anim = nullptr;
  if (m->useCounter && *m->useCounter) --*m->useCounter;
  m->useCounter = nullptr;
  if (m->frameCounters) {
    for (uint32_t **c = m->frameCounters; *c; c++)
      if (**c) --**c;
    MemFree(m->frameCounters);
    m->frameCounters = nullptr;
  }
}

// Holds a sprite: its counter and those of the sprites it shows frames of.
uint32_t HoldSprite(qmMove *m, qmSprite *s) {
  int32_t n = 0;
  while (s->sources && s->sources[n]) n++;
  m->frameCounters = static_cast<uint32_t **>(MemAlloc(uint32_t(n + 1) * sizeof(uint32_t *), 1));
  if (!m->frameCounters) return ERR_MEM;
  for (int32_t i = 0; i < n; i++) {
    m->frameCounters[i] = &s->sources[i]->lock;
    ++s->sources[i]->lock;
  }
  m->useCounter = &s->lock;
  ++s->lock;
  return 0;
}

// Looks the object up and holds it: its size, picture and frames.
uint32_t HoldObject(qmMove *m, void **object) {
  qmScene *scene = m->scene;
  switch (m->objectType) {
  case QMTYPE_BRUSH: {
    qmBrush *b = nullptr;
    if (uint32_t code = FindBrush(scene->objects, &m->objectId, &b, FINDBRUSH_NOVECTOR)) return code;
    m->image = b->bitmap, m->imageMask = b->mask, m->imageAlpha = b->alpha;
    m->width = b->width, m->height = b->height;
    m->useCounter = &b->lock;
    ++b->lock;
    *object = b;
    return 0;
  }
  case QMTYPE_ANIM: {
    qmAnim *a = nullptr;
    if (uint32_t code = FindAnim(scene, &m->objectId, &a, 0)) return code;
    m->anim = a;
    ++a->lockCount;
    m->width = a->width, m->height = a->height;
    m->frame = 0, m->frameCount = a->frameCount;
    m->framesOwned = a->onDisk;
    *object = a;
    return FetchCurrentFrame(m);
  }
  case QMTYPE_TEXTOBJECT: {
    const qmPlayerContext *ctx = scene->context;
    if (!ctx || !ctx->textObjectPicture) return MissingObjectError(&m->objectId, ERR_FINDTEXTOBJECT);
    const qmBitmap *bitmap;
    const qmMask *mask, *alpha;
    int32_t w, h;
    if (uint32_t code = ctx->textObjectPicture(scene, &m->objectId, &bitmap, &mask, &alpha, &w, &h)) return code;
    if (ctx->textObjectOffset) {
      if (uint32_t code = ctx->textObjectOffset(scene, &m->objectId, &m->offsetX, &m->offsetY)) return code;
    }
    // The move keeps its own copy: the text object may change or go while an asynchronous move runs.
    if (CopyBitmap(bitmap, mask, alpha, 0, 0, w, h, 0, &m->ownedImage, mask ? &m->ownedMask : nullptr,
                   alpha ? &m->ownedAlpha : nullptr))
      return ERR_MEM;
    m->image = m->ownedImage, m->imageMask = m->ownedMask, m->imageAlpha = m->ownedAlpha;
    m->width = w, m->height = h;
    // Held like a brush: the object cannot be freed or changed while it moves.
    if (ctx->textObjectLock) {
      uint32_t *lock = nullptr;
      if (uint32_t code = ctx->textObjectLock(scene, &m->objectId, &lock)) return code;
      m->useCounter = lock;
      ++*lock;
    }
    return 0;
  }
  case QMTYPE_SPRITE: {
    qmSprite *s = nullptr;
    if (uint32_t code = FindSprite(scene->objects, &m->objectId, &s, 0)) return code;
    if (uint32_t code = HoldSprite(m, s)) return code;
    m->width = s->width, m->height = s->height;
    m->frame = 0, m->frameCount = s->frameCount;
    *object = s;
    return 0;
  }
  case QMTYPE_LAYER: {
    const qmDisplay *d = scene->current;
    if (!d || !d->layersOn) return ERR_NOLAYERS;
    m->layer = GetNthLayer(d->bgpic, int32_t(m->objectId.id));
    if (!m->layer || !m->layer->current) return ERR_LAYERRANGE;
    m->layerPosition = int32_t(m->objectId.id);
    m->width = m->layer->current->width, m->height = m->layer->current->height;
    return 0;
  }
  case QMTYPE_NOOBJECT:
    if (m->layer) {
      if (!m->layer->current) return ERR_LAYERRANGE;
      if (!scene->current || !scene->current->layersOn) return ERR_NOLAYERS;
    } else if (!m->image) {
      return ERR_WRONGUSAGE;
    }
    return m->width > 0 && m->height > 0 ? 0u : uint32_t(ERR_WRONGUSAGE);
  default: return ERR_WRONGUSAGE;
  }
}

// With layers on, a brush or text object moves as the layer made for it (the newest), or as a
// new layer drawn for it at the start.
uint32_t TakeLayer(qmMove *m) {
  qmScene *scene = m->scene;
  qmBGPic *pic = scene->current->bgpic;
  if (m->objectType == QMTYPE_LAYER || m->objectType == QMTYPE_NOOBJECT) return 0;
  qmLayer *l = FindObjectLayer(pic, m->objectType, &m->objectId, 1);
  if (!l) {
    if (m->objectType == QMTYPE_BRUSH || m->objectType == QMTYPE_ANIM) {
      qmImageRequest r{};
      r.kind = uint32_t(m->objectType), r.id = m->objectId, r.x = m->x, r.y = m->y;
      if (m->anim) {
        r.frame = {const_cast<qmBitmap *>(m->image), const_cast<qmMask *>(m->imageMask),
                   const_cast<qmAlphaChannel *>(m->imageAlpha)};
        r.width = m->width, r.height = m->height;
        r.frameNumber = m->frame + 1, r.frameCount = m->frameCount;
        r.frameDelay = uint32_t(FrameDelayMicros(m, m->frame) / 1000u);
      }
      if (uint32_t code = DisplayImageCore(scene, &r)) return code;
    } else {
      const qmPlayerContext *ctx = scene->context;
      if (!ctx || !ctx->insertTextObjectLayer) return ERR_NOLAYERS;
      if (uint32_t code = ctx->insertTextObjectLayer(scene, &m->objectId, m->x, m->y, CountLayers(pic) + 1, 0))
        return code;
    }
    l = GetNthLayer(pic, CountLayers(pic));
    if (!l) return ERR_LAYERRANGE;
  }
  m->layer = l;
  m->layerPosition = FindLayerIndex(pic, l);
  return 0;
}

uint32_t FinishFrameStep(qmMove *m) {
  const uint64_t now = DesktopClockMicros();
  if (m->frameCount < 1 || m->nextFrameTime >= now) return 0;
  m->frame = (m->frame + 1) % m->frameCount;
  m->nextFrameTime = now;
  m->frameDue = 1;
  if (m->anim) DropAnimFrame(m);  // the next step fetches the new one
  if (m->layer && m->objectType == QMTYPE_ANIM) {
    if (uint32_t code = SetAnimLayerFrame(m->scene, m->layer, m->frame + 1, 0)) return code;
    // Found again by its place: a layer may be replaced by another record.
    const qmDisplay *d = m->scene->current;
    m->layer = d ? GetNthLayer(d->bgpic, m->layerPosition) : nullptr;
    if (!m->layer) return ERR_LAYERRANGE;
  }
  return 0;
}

// The area a step may be seen in, and how far the object's drawing may reach out of its
// rectangle: false when no step may be skipped (an embedding caller counts every step).
bool HiddenStepsView(const qmMove *m, int64_t *width, int64_t *height, int64_t *reach) {
  const qmDisplay *d = CurrentDisplay(m);
  const qmBGPic *pic = d ? d->bgpic : nullptr;
  if (m->embedded || !pic) return false;
  // The picture's size as shown and as the script sees it, whichever is larger.
  *width = std::max({int64_t(pic->shownWidth), int64_t(pic->unscaledWidth), int64_t(d->width)});
  *height = std::max({int64_t(pic->shownHeight), int64_t(pic->unscaledHeight), int64_t(d->height)});
  *reach = 0;
  if (const qmLayerState *s = m->layer ? m->layer->current : nullptr) {
    // A layer is drawn off its place by its anchor and transformation, with a border and a
    // shadow around it: all of it counted on every side.
    auto mag = [](int64_t v) { return v < 0 ? -v : v; };
    *reach = mag(int64_t(s->x) - s->requestedX) + mag(int64_t(s->y) - s->requestedY) + mag(s->borderOffsetX) +
             mag(s->borderOffsetY) + std::max(mag(s->width), mag(s->borderWidth)) +
             std::max(mag(s->height), mag(s->borderHeight)) + mag(m->layer->shadow.size) +
             int64_t(std::ceil(std::min(1e6, std::fabs(m->layer->shadow.radius) + std::fabs(m->layer->shadow.sigma) * 3))) + 16;
  }
  return true;
}

uint32_t AsyncStep(void *data, int32_t *finished) { return MoveStep(static_cast<qmMove *>(data), finished); }
void AsyncFree(void *data, int32_t) { MoveFree(static_cast<qmMove *>(data)); }

intptr_t MoveAsyncControl(int32_t op, intptr_t arg, void *data) {
  auto *m = static_cast<qmMove *>(data);
  if (op == ADOP_DRAWNOBJECT && arg) {
    *reinterpret_cast<void **>(arg) = m->layer;
  } else if (op == ADOP_REPLACELAYER && arg && reinterpret_cast<qmLayer *>(arg) == m->layer) {
    m->layer = m->layer->pred;  // the record that takes its place
  } else if (op == ADOP_LAYERGONE && arg && reinterpret_cast<qmLayer *>(arg) == m->layer) {
    m->layer = nullptr;
    m->layerGone = 1;
  }
  return 0;
}

}  // namespace

uint32_t ResolveMoveSpeed(int32_t speed, int32_t *out) {
  switch (speed) {
  case MOVESPEED_NORMAL: *out = 10; return 0;
  case MOVESPEED_FAST: *out = 15; return 0;
  case MOVESPEED_SLOW: *out = 5; return 0;
  default:
    if (speed < 1) return ERR_WRONGUSAGE;
    *out = speed;
    return 0;
  }
}

int32_t ResolveFrameDelay(int32_t animSpeed) {
  switch (animSpeed) {
  case MOVESPEED_NORMAL: return 60;
  case MOVESPEED_FAST: return 0;
  case MOVESPEED_SLOW: return 160;
  case MOVESPEED_DEFAULT: return 60;  // sprites have no delays of their own
  default: return animSpeed > 0 ? int32_t(std::min<int64_t>(int64_t(animSpeed) * 20, INT32_MAX)) : 0;
  }
}

void SetupMovePath(qmMove *m, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t pictureHeight) {
  m->x = m->previousX = x1, m->y = m->previousY = y1;
  m->pathX = x1, m->pathY = y1;
  m->targetX = x2, m->targetY = y2;
  m->phase = 0, m->remainder = m->remainderUsed = 0;
  const int64_t dx = int64_t(x2) - x1, dy = int64_t(y2) - y1;
  const int sx = dx > 0 ? 1 : dx < 0 ? -1 : 0, sy = dy > 0 ? 1 : dy < 0 ? -1 : 0;
  for (uint32_t k = 0; k < 8; k++)
    if (kSignX[k] == sx && kSignY[k] == sy) m->direction = k;
  const int64_t adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
  const int64_t speed = m->speed;
  m->ySpeed = speed;
  if (sx && sy) {
    if (m->width > m->height) {
      const int64_t steps = (adx + speed - 1) / speed;
      m->ySpeed = ady / steps;
      m->remainder = int32_t(ady % steps);
    } else {
      const int64_t steps = (ady + speed - 1) / speed;
      m->speed = m->baseSpeed = adx / steps;
      m->ySpeed = speed;
      m->remainder = int32_t(adx % steps);
    }
  } else if (IsSine(m)) {
    const double amplitude = m->path == MOVEPATH_SINE ? 50 : pictureHeight / 2;
    for (int32_t k = 0; k < kMoveWaveSize; k++) m->wave[k] = y1 + amplitude * std::sin(0.08 * (k + 1));
    m->waveStep = int32_t(std::max<int64_t>(speed / 4, 1));
    const int64_t steps = (adx + speed - 1) / speed;
    // Kept inside the table: a whole number of turns would name the entry past its end.
    m->waveIndex = (kMoveWaveSize - (steps % kMoveWaveSize) * m->waveStep % kMoveWaveSize) % kMoveWaveSize;
  } else if (IsCurve(m)) {
    m->wave[0] = kPi / double(adx);
    m->waveIndex = 0;
  }
  m->slowZoneX = m->speed * 6, m->slowZoneY = m->ySpeed * 6;
  m->slowStepX = SlowStep(m->speed), m->slowStepY = SlowStep(m->ySpeed);
}

namespace {

// The height of an arc at the distance travelled.
int64_t CurveHeight(const qmMove *m) {
  const int64_t offset = int64_t(std::trunc(std::sin((double(m->waveIndex) + 1.0) * m->wave[0]) * kMoveCurveHeight));
  return m->path == MOVEPATH_LOWERCURVE ? int64_t(m->targetY) + offset : int64_t(m->targetY) - offset;
}

// The path position as drawn: past the 32-bit range the object is out of every view anyway.
void SyncDrawnPosition(qmMove *m) { m->x = Clamp32(m->pathX), m->y = Clamp32(m->pathY); }

void AdvancePath(qmMove *m, int32_t *done) {
  *done = 0;
  const int32_t sx = kSignX[m->direction], sy = kSignY[m->direction];
  if (m->phase == 9) {
    m->pathY = m->targetY;
    *done = 1;
    return;
  }
  if (m->phase == 0) {
    if (IsSine(m)) {
      StraightStep(&m->pathX, m->targetX, sx, &m->speed, false, 0, 0, false);
      m->pathY = int64_t(std::trunc(m->wave[m->waveIndex]));
      // Taken round the table as often as it takes: a wave step may be longer than the table.
      m->waveIndex = (m->waveIndex + m->waveStep) % kMoveWaveSize;
      if (m->pathX == m->targetX) m->phase = 9;
      return;
    }
    if (IsCurve(m)) {
      StraightStep(&m->pathX, m->targetX, sx, &m->speed, false, 0, 0, false);
      m->waveIndex += m->speed;
      m->pathY = CurveHeight(m);
      if (m->pathX == m->targetX) {
        m->pathY = m->targetY;
        *done = 1;
      }
      return;
    }
    const bool smooth = m->path == MOVEPATH_SMOOTHOUT;
    const bool spare = m->remainderUsed < m->remainder;
    const bool spareToY = m->width > m->height;
    if (sx) StraightStep(&m->pathX, m->targetX, sx, &m->speed, smooth, m->slowZoneX, m->slowStepX, spare && !spareToY);
    if (sy) StraightStep(&m->pathY, m->targetY, sy, &m->ySpeed, smooth, m->slowZoneY, m->slowStepY, spare && spareToY);
    if (spare) m->remainderUsed++;
    if (m->pathX != m->targetX || m->pathY != m->targetY) return;
    if (m->path == MOVEPATH_BOUNCE) {
      m->phase = 1;
    } else if (m->path == MOVEPATH_DAMPED) {
      m->phase = 7;
      m->speed = std::max<int64_t>(m->speed - m->speed / 4, 1);
    } else {
      *done = 1;
    }
    return;
  }
  const int64_t step = std::max<int64_t>(m->speed, 1);
  const int64_t past = int64_t(kOvershoot[m->phase]) * m->baseSpeed;
  const int32_t way = kPhaseWay[m->phase];
  bool xThere = true, yThere = true;
  if (sx) xThere = Toward(&m->pathX, m->targetX + sx * past, sx * way, step);
  if (sy) yThere = Toward(&m->pathY, m->targetY + sy * past, sy * way, step);
  if (!xThere || !yThere) return;
  switch (m->phase) {
  case 5:
    m->phase = 6;
    m->speed = 1;
    break;
  case 6:
  case 8:
    m->pathX = m->targetX, m->pathY = m->targetY;
    *done = 1;
    break;
  default:
    m->phase = m->phase == 7 ? 8 : m->phase + 1;
    m->speed = std::max<int64_t>(m->speed - m->speed / 2, 1);
    break;
  }
}

constexpr int64_t kForever = INT64_MAX;

// Along one axis, the object's extent [p - before, p + after) at p + k x stride: how many steps
// k > 0 keep it wholly before 0 or wholly at or past size, as it is now (kForever when it never
// comes back); -1 when the axis does not hide it now.
int64_t HiddenRun(int64_t p, int64_t stride, int64_t before, int64_t after, int64_t size) {
  int64_t run = -1;
  if (p + after <= 0) run = std::max(run, stride <= 0 ? kForever : (-after - p) / stride);
  if (p - before >= size) run = std::max(run, stride >= 0 ? kForever : (p - before - size) / -stride);
  return run;
}

// Steps of stride that leave v strictly short of goal (kForever for a standing axis).
int64_t StepsShort(int64_t v, int64_t goal, int64_t stride) {
  if (stride > 0) return goal > v ? (goal - v - 1) / stride : 0;
  if (stride < 0) return v > goal ? (v - goal - 1) / -stride : 0;
  return kForever;
}

// Steps of a SMOOTHOUT axis of sign s whose start lies outside the slow-down zone (its step
// stays as it is); a step of 1 is never slowed further.
int64_t StepsBeforeZone(int64_t v, int64_t target, int32_t s, int64_t stride, int64_t zone, int64_t step) {
  if (step <= 1) return kForever;
  const int64_t room = s > 0 ? target - zone - v : v - target - zone;
  if (room < 0) return 0;
  const int64_t a = stride < 0 ? -stride : stride;
  return a == 0 ? kForever : room / a + 1;
}

}  // namespace

void AdvanceMovePath(qmMove *m, int32_t *done) {
  AdvancePath(m, done);
  SyncDrawnPosition(m);
}

int64_t SkipHiddenSteps(qmMove *m, int64_t viewWidth, int64_t viewHeight, int64_t reach) {
  int64_t skipped = 0;
  // Each pass covers one stretch of even strides; a path has a handful of them.
  for (int pass = 0; pass < 16 && m->phase != 9; pass++) {
    const int32_t sx = kSignX[m->direction], sy = kSignY[m->direction];
    int64_t strideX = 0, strideY = 0, limit = kForever;
    // A wave or an arc keeps y inside a band: hidden by y when the whole band is.
    bool band = false;
    int64_t bandLow = 0, bandHigh = 0;
    if (m->phase == 0 && (IsSine(m) || IsCurve(m))) {
      strideX = sx * m->speed;
      limit = StepsShort(m->pathX, m->targetX, strideX);
      band = true;
      if (IsSine(m)) {
        bandLow = bandHigh = int64_t(std::trunc(m->wave[0]));
        for (double w : m->wave) bandLow = std::min(bandLow, int64_t(std::trunc(w))), bandHigh = std::max(bandHigh, int64_t(std::trunc(w)));
      } else {
        bandLow = int64_t(m->targetY) - kMoveCurveHeight, bandHigh = int64_t(m->targetY) + kMoveCurveHeight;
      }
    } else if (m->phase == 0) {
      const bool spare = m->remainderUsed < m->remainder, spareToY = m->width > m->height;
      if (m->pathX != m->targetX) strideX = sx * (m->speed + (spare && !spareToY));
      if (m->pathY != m->targetY) strideY = sy * (m->ySpeed + (spare && spareToY));
      limit = std::min(StepsShort(m->pathX, m->targetX, strideX), StepsShort(m->pathY, m->targetY, strideY));
      if (spare) limit = std::min<int64_t>(limit, int64_t(m->remainder) - m->remainderUsed);
      if (m->path == MOVEPATH_SMOOTHOUT) {
        if (sx) limit = std::min(limit, StepsBeforeZone(m->pathX, m->targetX, sx, strideX, m->slowZoneX, m->speed));
        if (sy) limit = std::min(limit, StepsBeforeZone(m->pathY, m->targetY, sy, strideY, m->slowZoneY, m->ySpeed));
      }
    } else {
      const int64_t step = std::max<int64_t>(m->speed, 1);
      const int32_t way = kPhaseWay[m->phase];
      const int64_t past = int64_t(kOvershoot[m->phase]) * m->baseSpeed;
      const int64_t goalX = m->targetX + sx * past, goalY = m->targetY + sy * past;
      const int32_t dirX = sx * way, dirY = sy * way;
      // An axis at its goal stands while the other one travels.
      if (sx && !(dirX > 0 ? m->pathX >= goalX : m->pathX <= goalX)) strideX = int64_t(dirX) * step;
      if (sy && !(dirY > 0 ? m->pathY >= goalY : m->pathY <= goalY)) strideY = int64_t(dirY) * step;
      limit = std::min(StepsShort(m->pathX, goalX, strideX), StepsShort(m->pathY, goalY, strideY));
    }
    // Nothing moves: the next step changes the phase.
    if (!strideX && !strideY) break;
    int64_t run = HiddenRun(m->pathX, strideX, reach, int64_t(m->width) + reach, viewWidth);
    if (band) {
      if (bandHigh + m->height + reach <= 0 || bandLow - reach >= viewHeight) run = kForever;
    } else {
      run = std::max(run, HiddenRun(m->pathY, strideY, reach, int64_t(m->height) + reach, viewHeight));
    }
    const int64_t n = std::min(run, limit);
    if (n <= 0) break;
    // The strides times n stay within the distance left to a goal: no overflow.
    m->pathX += n * strideX;
    m->pathY += n * strideY;
    if (m->phase == 0 && IsSine(m)) {
      m->pathY = int64_t(std::trunc(m->wave[(m->waveIndex + (n - 1) % kMoveWaveSize * m->waveStep) % kMoveWaveSize]));
      m->waveIndex = (m->waveIndex + n % kMoveWaveSize * m->waveStep) % kMoveWaveSize;
    } else if (m->phase == 0 && IsCurve(m)) {
      m->waveIndex += n * m->speed;
      m->pathY = CurveHeight(m);
    } else if (m->phase == 0 && m->remainderUsed < m->remainder) {
      m->remainderUsed = int32_t(m->remainderUsed + n);
    }
    skipped += n;
  }
  SyncDrawnPosition(m);
  return skipped;
}

int32_t CountMoveSteps(const qmMove *m) {
  qmMove dry = *m;
  int32_t steps = 0, done = 0;
  // Every path ends; the bound only keeps a broken record from spinning.
  while (!done && steps < INT32_MAX) {
    AdvanceMovePath(&dry, &done);
    steps++;
  }
  return steps;
}

uint32_t MoveStep(qmMove *m, int32_t *done) {
  if (m->layerGone) {
    *done = 1;
    return 0;
  }
  // Steps nobody could see are taken at once: a path far outside the picture costs no frames.
  int64_t viewWidth = 0, viewHeight = 0, reach = 0;
  if (HiddenStepsView(m, &viewWidth, &viewHeight, &reach) && SkipHiddenSteps(m, viewWidth, viewHeight, reach) > 0)
    m->previousX = m->x, m->previousY = m->y;
  AdvanceMovePath(m, done);
  if (m->objectType == QMTYPE_SPRITE) {
    qmSprite *s = nullptr;
    const uint32_t code = FindSprite(m->scene->objects, &m->objectId, &s, FINDSPRITE_DELETED);
    if (code) return code;
    if (uint32_t shown = ShowSprite(m->scene, s, m->x, m->y, m->frame + 1)) return shown;
    if (m->frameDue) {
      m->nextFrameTime += FrameDelayMicros(m, m->frame);
      m->frameDue = 0;
    }
  } else {
    if (m->anim && !m->image && !m->layer) {
      if (uint32_t code = FetchCurrentFrame(m)) return code;
    }
    // A frame changed: its delay counts from now, whichever way the object is drawn.
    if (m->frameDue) {
      m->nextFrameTime += FrameDelayMicros(m, m->frame);
      m->frameDue = 0;
    }
    if (m->layer) PlaceLayer(m->scene, m->layer, nullptr, m->x, m->y, 0, 0, nullptr);
    else DrawComposed(m);
  }
  m->previousX = m->x, m->previousY = m->y;
  return FinishFrameStep(m);
}

void MoveFree(qmMove *m) {
  if (!m) return;
  FreeBitmap(m->work), FreeBitmap(m->savedBackground);
  m->work = m->savedBackground = nullptr;
  if (m->anim) DropAnimFrame(m);
  FreeBitmap(m->ownedImage), FreeMask(m->ownedMask), FreeAlphaChannel(m->ownedAlpha);
  m->ownedImage = nullptr, m->ownedMask = nullptr, m->ownedAlpha = nullptr;
  m->image = nullptr, m->imageMask = nullptr, m->imageAlpha = nullptr;
  ReleaseCounters(m);
  if (!m->embedded) MemFree(m);
}

uint32_t RunMove(qmMove *m, qmAsyncDraw **asyncOut) {
  if (asyncOut) *asyncOut = nullptr;
  qmScene *scene = m->scene;
  // Sprites need layers off; an embedding caller has checked its own output.
  uint32_t code = m->objectType == QMTYPE_SPRITE ? CheckSpriteOutput(scene) : m->embedded ? 0 : CheckDisplayOutput(scene);
  const qmDisplay *d = scene->current;
  qmBGPic *pic = d ? d->bgpic : nullptr;
  int32_t speed = 0;
  if (!code) code = ResolveMoveSpeed(m->speedOption, &speed);
  if (code) {
    if (!m->embedded) MemFree(m);
    return code;
  }
  m->speed = m->baseSpeed = speed;
  m->frameDelay = m->objectType == QMTYPE_ANIM && m->animSpeedOption == MOVESPEED_DEFAULT
                      ? MOVESPEED_DEFAULT
                      : ResolveFrameDelay(m->animSpeedOption);
  void *object = nullptr;
  if ((code = HoldObject(m, &object))) {
    MoveFree(m);
    return code;
  }
  double anchorX = 0, anchorY = 0;
  int32_t x1 = m->startX, y1 = m->startY, x2 = m->endX, y2 = m->endY;
  if (m->layer) {
    anchorX = m->layer->anchorX, anchorY = m->layer->anchorY;
    const qmLayerState *s = m->layer->current;
    if (x1 == kKeepPosition) x1 = s->x;
    if (x2 == kKeepPosition) x2 = s->x;
    if (y1 == kKeepPosition) y1 = s->y;
    if (y2 == kKeepPosition) y2 = s->y;
  }
  x1 = ResolvePositionX(scene, x1, m->width, 0, anchorX), x2 = ResolvePositionX(scene, x2, m->width, 0, anchorX);
  y1 = ResolvePositionY(scene, y1, m->height, 0, anchorY), y2 = ResolvePositionY(scene, y2, m->height, 0, anchorY);
  // A text object's picture stands at its offset from the points, as DisplayTextObject puts it.
  x1 = Clamp32(int64_t(x1) + m->offsetX), x2 = Clamp32(int64_t(x2) + m->offsetX);
  y1 = Clamp32(int64_t(y1) + m->offsetY), y2 = Clamp32(int64_t(y2) + m->offsetY);
  if (x1 == x2 && y1 == y2) {
    if (!m->embedded) {
      MoveFree(m);
      return 0;
    }
    x1 = x2 - 10, y1 = y2 - 10;
  }
  m->x = x1, m->y = y1;
  SetupMovePath(m, x1, y1, x2, y2, pic ? pic->shownHeight : 0);
  if (m->objectType == QMTYPE_SPRITE) {
    code = ShowSprite(scene, static_cast<qmSprite *>(object), x1, y1, m->frame + 1);
  } else if (m->objectType == QMTYPE_NOOBJECT && m->layer) {
    PlaceLayer(scene, m->layer, nullptr, x1, y1, 0, 0, nullptr);
  } else if (d && d->layersOn && m->objectType != QMTYPE_NOOBJECT) {
    code = TakeLayer(m);
    if (!code) PlaceLayer(scene, m->layer, nullptr, x1, y1, 0, 0, nullptr);
  } else {
    code = PrepareMoveBackground(m);
  }
  if (code) {
    MoveFree(m);
    return code;
  }
  m->nextFrameTime = DesktopClockMicros() + FrameDelayMicros(m, 0);
  if (m->embedded) return 0;
  if (m->async) {
    qmAsyncDraw *ad = nullptr;
    if ((code = CreateAsyncDraw(scene, ADF_MOVEOBJECT, AsyncStep, 0, nullptr, AsyncFree, MoveAsyncControl, m, &ad))) {
      MoveFree(m);
      return code;
    }
    if (asyncOut) *asyncOut = ad;
    return 0;
  }
  int32_t done = 0;
  int32_t shownW = pic ? pic->shownWidth : 0, shownH = pic ? pic->shownHeight : 0;
  while (!done && !code) {
    if ((code = PollCancel(m->cancel))) break;
    const qmDisplay *now = scene->current;
    if (m->work && now && now->bgpic && !now->layersOn && !now->scaleAuto &&
        (now->bgpic->shownWidth != shownW || now->bgpic->shownHeight != shownH)) {
      shownW = now->bgpic->shownWidth, shownH = now->bgpic->shownHeight;
      code = PrepareMoveBackground(m);
    }
    if (!code) code = MoveStep(m, &done);
    if (!code) FlushDisplayFrame(scene);
  }
  MoveFree(m);
  return code;
}

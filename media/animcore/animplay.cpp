#include "media/animcore/animplay.h"

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
#include "graphics/blit.h"
#include "graphics/geometry.h"
#include "graphics/transform.h"
#include "media/animcore/anim.h"
#include "platform/memory.h"
#include "platform/time.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"

namespace {

// Drawing an anim into a Select* target, a mask or an alpha channel is refused.
uint32_t CheckPlayOutput(const qmScene *scene) {
  const qmDisplay *d = scene->current;
  if (!d) return ERR_WRONGUSAGE;
  switch (d->outputType) {
  case DISPOUT_BRUSH:
    if (d->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
    return d->selectBGPic && d->selectBGPic->selectedType == QMTYPE_ANIM ? ERR_SELECTANIM : ERR_SELECTBRUSH;
  case DISPOUT_MASK: return ERR_SELECTMASK;
  case DISPOUT_ALPHA: return ERR_SELECTALPHACHANNEL;
  case DISPOUT_BGPIC: return ERR_SELECTBG;
  default: return 0;
  }
}

void PictureSize(const qmScene *scene, int32_t *w, int32_t *h) {
  const qmBGPic *pic = scene->picture;
  const qmDisplay *d = scene->current;
  *w = pic ? pic->unscaledWidth : d->width;
  *h = pic ? pic->unscaledHeight : d->height;
}

// The rectangle the frames cover, cut to the picture, and the display's background under it.
uint32_t SaveAnimBackground(qmAnimPlay *p, int32_t x, int32_t y, int32_t width, int32_t height) {
  FreeBitmap(p->work), FreeBitmap(p->background);
  p->work = p->background = nullptr;
  p->clipX = p->clipY = 0;
  // Nothing of a frame left of or above the picture by its size or more is shown (and its
  // offset, up to -2^31, is not negated).
  if (int64_t(x) + width < 1 || int64_t(y) + height < 1) return ERR_WRONGUSAGE;
  if (x < 0) width += x, p->clipX = -x, x = 0;
  if (y < 0) height += y, p->clipY = -y, y = 0;
  int32_t pw = 0, ph = 0;
  PictureSize(p->scene, &pw, &ph);
  if (int64_t(x) + width > pw) width = pw - x;
  if (int64_t(y) + height > ph) height = ph - y;
  if (width < 1 || height < 1) return ERR_WRONGUSAGE;
  p->drawX = x, p->drawY = y, p->drawWidth = width, p->drawHeight = height;
  p->work = AllocBitmap(width, height);
  p->background = AllocBitmap(width, height);
  if (!p->work || !p->background) return ERR_MEM;
  if (const qmBitmap *copy = p->display->backgroundCopy) BltBitmap(copy, x, y, p->background, 0, 0, width, height);
  return 0;
}

uint32_t FrameDelay(const qmAnimPlay *p) {
  if (p->delay != kPerFrameDelay) return uint32_t(p->delay);
  return GetAnimFrameDelay(p->anim, p->frame - 1);
}

void DrawFrame(qmAnimPlay *p, const qmBitmap *b, const qmMask *m, const qmAlphaChannel *a, int32_t w, int32_t h) {
  int32_t pw = 0, ph = 0;
  PictureSize(p->scene, &pw, &ph);
  const qmClipRegion *clip = p->scene->picture ? p->scene->picture->activeClip : nullptr;
  if (m || a) {
    // The frame is laid on the saved background first, so that the old frame's pixels go.
    BltBitmap(p->background, 0, 0, p->work, 0, 0, p->drawWidth, p->drawHeight);
    const qmSafeBlt onto{b, p->clipX, p->clipY, p->work, 0, 0, p->drawWidth, p->drawHeight, w, h,
                         p->drawWidth, p->drawHeight, SAFEBLT_PIXELSONLY | SAFEBLT_NOCLIP, m, a, nullptr};
    SafeBlt(p->scene, &onto);
    b = p->work, w = p->drawWidth, h = p->drawHeight;
    const qmSafeBlt out{b, 0, 0, p->display->outputBitmap, p->drawX, p->drawY, p->drawWidth, p->drawHeight, w, h,
                        pw, ph, SAFEBLT_BACKGROUND, nullptr, nullptr, clip};
    SafeBlt(p->scene, &out);
    return;
  }
  const qmSafeBlt out{b, p->clipX, p->clipY, p->display->outputBitmap, p->drawX, p->drawY, p->drawWidth,
                      p->drawHeight, w, h, pw, ph, SAFEBLT_BACKGROUND, nullptr, nullptr, clip};
  SafeBlt(p->scene, &out);
}

// Layers off: the frame drawn at the playback's place, turned when the playback is.
uint32_t DrawCurrentFrame(qmAnimPlay *p) {
  qmBitmap *b = nullptr;
  qmMask *m = nullptr;
  qmAlphaChannel *a = nullptr;
  if (uint32_t code = FetchAnimFrame(p->anim, p->frame - 1, 0, 1, &b, &m, &a)) return code;
  const bool fetchedOwn = p->anim->onDisk;
  if (p->transformed) {
    qmTransformedImage t{};
    const uint32_t code = TransformImageBitmaps(p->display, TFKIND_PIXEL, b, m, a, 0, 0, 0, 0, p->width, p->height,
                                                p->transform.anchorX, p->transform.anchorY, p->transform.matrix,
                                                p->transform.smooth, &t);
    if (fetchedOwn) FreePlanes(b, m, a);
    if (code) return code;
    DrawFrame(p, t.bitmap, t.mask, t.alpha, t.width, t.height);
    FreePlanes(t.bitmap, t.mask, t.alpha);
    return 0;
  }
  DrawFrame(p, b, m, a, p->width, p->height);
  if (fetchedOwn) FreePlanes(b, m, a);
  return 0;
}

uint32_t InsertPlaybackLayer(qmAnimPlay *p, const qmAnimPlayRequest *r) {
  qmImageRequest req{};
  req.id = r->id;
  req.x = r->x, req.y = r->y;
  req.transform = &p->transform;
  qmBGPic *pic = p->scene->picture;
  // The layer goes on top, or where the default tags insert.
  const int32_t n = CountPictureLayers(pic), insert = p->scene->defaultTags.insertPosition;
  const int32_t position = insert > 0 && insert <= n ? insert : n + 1;
  if (uint32_t code = DrawAnimFrame(p->scene, p->anim, 1, &req)) return code;
  p->layered = 1;
  p->picture = pic;
  p->layer = PictureLayerAt(p->scene, pic, position);
  return 0;
}

uint32_t AsyncFrame(void *ud, int32_t *finished) { return PlayAnimFrameStep(static_cast<qmAnimPlay *>(ud), finished); }
void AsyncFree(void *ud, int32_t) { FreeAnimPlayback(static_cast<qmAnimPlay *>(ud)); }

// Frame t (from 1) shown at once; the next step shows the frame after it.
uint32_t ShowFrame(qmAnimPlay *p, int32_t t) {
  p->frame = t;
  const uint32_t code = p->layered ? SetPictureLayerFrame(p->scene, p->layer, t) : DrawCurrentFrame(p);
  if (code) return code;
  p->shown = t;
  p->frame = t >= p->anim->frameCount ? 1 : t + 1;
  return 0;
}

// The draw object's questions: frames of one pass, the frame shown, a jump, the layer it drives.
intptr_t AsyncControl(int32_t op, intptr_t arg, void *ud) {
  auto *p = static_cast<qmAnimPlay *>(ud);
  switch (op) {
  case ADOP_FRAMECOUNT: return p->anim->frameCount;
  case ADOP_CURFRAME: return p->shown;
  case ADOP_SEEK: return intptr_t(ShowFrame(p, *reinterpret_cast<int32_t *>(arg)));
  case ADOP_REDRAW: return p->layered || !p->shown ? 0 : intptr_t(ShowFrame(p, p->shown));
  case ADOP_DRAWNOBJECT: *reinterpret_cast<void **>(arg) = p->layer; return 0;
  case ADOP_REPLACELAYER:
    // The layer goes in favour of the one below it, which the playback drives from now on.
    if (p->layer && reinterpret_cast<void *>(arg) == p->layer) {
      const char *name = nullptr;
      int32_t hidden = 0;
      const int32_t position = DescribePictureLayer(p->scene, p->picture, p->layer, &name, &hidden);
      p->layer = position > 1 ? PictureLayerAt(p->scene, p->picture, position - 1) : nullptr;
      if (!p->layer) p->picture = nullptr;
    }
    return 0;
  case ADOP_LAYERGONE:
    if (p->layer && reinterpret_cast<void *>(arg) == p->layer) p->layer = nullptr, p->picture = nullptr;
    return 0;
  default: return 0;
  }
}

}  // namespace

uint32_t DrawAnimFrame(qmScene *scene, qmAnim *anim, int32_t frame, qmImageRequest *req) {
  if (frame < 1 || frame > anim->frameCount) return ERR_ANIMFRAME;
  req->kind = QMTYPE_ANIM;
  if (uint32_t code = FetchAnimFrame(anim, frame - 1, 0, 1, &req->frame.bitmap, &req->frame.mask, &req->frame.alpha))
    return code;
  req->width = anim->nativeWidth, req->height = anim->nativeHeight;
  req->frameNumber = frame, req->frameCount = anim->frameCount;
  req->frameDelay = GetAnimFrameDelay(anim, frame - 1);
  const uint32_t code = DisplayImageCore(scene, req);
  if (anim->onDisk) FreePlanes(req->frame.bitmap, req->frame.mask, req->frame.alpha);
  return code;
}

int32_t AnimSpeedDelay(int32_t speed) {
  switch (speed) {
  case ANIMSPEED_FAST: return 0;
  case ANIMSPEED_NORMAL: return 60;
  case ANIMSPEED_SLOW: return 160;
  case ANIMSPEED_DEFAULT: return kPerFrameDelay;
  default: return speed < 0 ? 0 : speed > INT32_MAX / 20 ? INT32_MAX / 20 * 20 : speed * 20;
  }
}

uint32_t PlayAnimFrameStep(qmAnimPlay *p, int32_t *finished) {
  *finished = 0;
  if (p->async) {
    const double now = GetTimeSeconds();
    if (now < p->nextTime) return 0;
    p->nextTime = now;
  }
  if (p->layered && !p->layer) {
    // Its layer went: the playback ends here.
    *finished = 1;
    return 0;
  }
  if (p->layered) {
    if (uint32_t code = SetPictureLayerFrame(p->scene, p->layer, p->frame)) return code;
  } else if (uint32_t code = DrawCurrentFrame(p)) {
    return code;
  }
  p->shown = p->frame;
  const uint32_t d = FrameDelay(p);
  if (p->async) {
    // The next frame is due d ms after this one was shown, however late that was.
    p->nextTime += d / 1000.0;
  } else if (d > 0) {
    const double elapsedMs = (GetTimeSeconds() - p->nextTime) * 1000.0;
    if (elapsedMs < d) SleepMilliseconds(int32_t(d - elapsedMs));
    p->nextTime = GetTimeSeconds();
  }
  if (++p->frame > p->anim->frameCount) {
    if (p->times > 0 && p->loop >= p->times) {
      *finished = 1;
      p->frame = p->anim->frameCount;
    } else {
      p->loop++;
      p->frame = 1;
    }
  }
  return 0;
}

void FreeAnimPlayback(qmAnimPlay *p) {
  if (!p) return;
  if (p->anim && p->anim->lockCount > 0) p->anim->lockCount--;
  FreeBitmap(p->work);
  FreeBitmap(p->background);
  MemFree(p);
}

uint32_t PlayAnimCore(qmScene *scene, const qmAnimPlayRequest *r, qmAsyncDraw **out) {
  if (uint32_t code = CheckPlayOutput(scene)) return code;
  qmDisplay *d = scene->current;
  qmAnim *anim = nullptr;
  if (uint32_t code = FindAnim(scene, &r->id, &anim, 0)) return code;
  auto *p = static_cast<qmAnimPlay *>(MemAlloc(sizeof(qmAnimPlay), 1));
  if (!p) return ERR_MEM;
  p->scene = scene;
  p->display = d;
  p->anim = anim;
  p->animId = r->id;
  p->width = anim->nativeWidth, p->height = anim->nativeHeight;
  // The display-tag defaults for an object of the anim's size; a scaled anim is shown at its
  // current size.
  InitDefaultDrawTags(scene, &p->transform, nullptr, 0, 0, 0, 0);
  qmDisplayTags tags;
  CopyDefaultDisplayTags(scene, &tags);
  if (anim->width != p->width || anim->height != p->height) {
    p->transform.targetWidth = anim->width, p->transform.targetHeight = anim->height;
    p->transform.geometryPending = 1;
  }
  FinishDisplayTags(scene->picture, p->width, p->height, &p->transform, &tags);
  anim->lockCount++;
  p->delay = AnimSpeedDelay(r->speed);
  p->times = r->times;
  p->async = r->async;
  p->x = ResolvePositionX(scene, r->x, p->width, 0, p->transform.anchorX);
  p->y = ResolvePositionY(scene, r->y, p->height, 0, p->transform.anchorY);
  p->frame = p->loop = 1;
  int32_t x = p->x, y = p->y, w = p->width, h = p->height;
  if (!IsIdentityMatrix(p->transform.matrix)) {
    int64_t tw = 0, th = 0;
    GetTransformedRect(x, y, w, h, p->transform.anchorX, p->transform.anchorY, p->transform.matrix, &x, &y, &w, &h);
    PredictTransformedSize(d, p->transform.matrix, p->width, p->height, &tw, &th);
    w = int32_t(tw), h = int32_t(th);
    p->transformed = 1;
  }
  x -= int32_t(w * p->transform.anchorX);
  y -= int32_t(h * p->transform.anchorY);
  if (d->layersOn) {
    // The first frame becomes a layer, which the later frames change.
    if (uint32_t code = InsertPlaybackLayer(p, r)) {
      FreeAnimPlayback(p);
      return code;
    }
  } else if (uint32_t code = SaveAnimBackground(p, x, y, w, h)) {
    FreeAnimPlayback(p);
    return code;
  }
  p->nextTime = GetTimeSeconds();
  if (r->async) {
    if (uint32_t code = CreateAsyncDraw(scene, ADF_ANIM, AsyncFrame, 0, nullptr, AsyncFree, AsyncControl, p, out)) {
      FreeAnimPlayback(p);
      return code;
    }
    return 0;
  }
  const qmBGPic *pic = scene->picture;
  int32_t picW = pic ? pic->unscaledWidth : 0, picH = pic ? pic->unscaledHeight : 0;
  uint32_t code = 0;
  for (int32_t finished = 0; !finished;) {
    if (const uint32_t stop = PollCancel(r->pump)) {
      if (stop != ERR_USERABORT) code = stop;
      break;
    }
    if (scene->current != d) break;
    // A background picture of another size: the frames' place is taken anew.
    pic = scene->picture;
    if (pic && (pic->unscaledWidth != picW || pic->unscaledHeight != picH) && !d->layersOn && !d->scaleLayer) {
      picW = pic->unscaledWidth, picH = pic->unscaledHeight;
      if ((code = SaveAnimBackground(p, x, y, w, h))) break;
    }
    if ((code = PlayAnimFrameStep(p, &finished))) break;
    FlushDisplayFrame(scene);
  }
  FreeAnimPlayback(p);
  return code;
}

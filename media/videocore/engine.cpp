// The video engine: opening a file through a decoder source, starting and stopping the four
// threads, pausing, resuming, seeking, the position and the frame grab of a stopped engine.
// The threads themselves are in enginethreads.cpp.
#include "media/videocore/engine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "display/display.h"
#include "display/displayops.h"
#include "display/doublebuffer.h"
#include "graphics/pixelformat.h"
#include "graphics/scale.h"
#include "media/videocore/engine_internal.h"
#include "media/videocore/sourcepicture.h"
#include "media/videocore/pluginsource.h"
#include "platform/file.h"
#include "platform/memory.h"
#include "platform/time.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"

namespace {

// The sources of each back end in the order they are offered a file; null ends a list.
const qmVideoSourceOps *const kOwnSources[] = {&kCdxlVideoSource, nullptr};
const qmVideoSourceOps *const kSystemSources[] = {&kFFmpegVideoSource, nullptr};

void FreeMutexes(qmVideoEngine *e) {
  for (qmMutex **m : {&e->engineLock, &e->pictureLock, &e->pauseLock, &e->wakeLock, &e->sourceLock}) {
    if (*m) MutexFree(*m);
    *m = nullptr;
  }
  for (qmSignal **s : {&e->refreshSignal, &e->pictureSignal}) {
    if (*s) SignalFree(*s);
    *s = nullptr;
  }
}

void FreeSlots(qmVideoEngine *e) {
  for (qmPictureSlot &s : e->slots) {
    std::free(s.pixels);
    s = {};
  }
  std::free(e->decodeBuffer.pixels);
  e->decodeBuffer = {};
}

bool AllocPicture(qmPictureSlot *s, int32_t width, int32_t height) {
  if (width < 1 || height < 1 || int64_t(width) * 4 > INT32_MAX) return false;  // a row's bytes are an int32
  s->width = width;
  s->height = height;
  s->bytesPerRow = width * 4;
  s->pixels = static_cast<uint8_t *>(std::calloc(size_t(width) * size_t(height), 4));
  return s->pixels != nullptr;
}

uint32_t AllocSlots(qmVideoEngine *e) {
  bool ok = AllocPicture(&e->decodeBuffer, e->width, e->height);
  for (qmPictureSlot &s : e->slots) ok = ok && AllocPicture(&s, e->width, e->height);
  if (ok) return 0;
  FreeSlots(e);
  return ERR_MEM;
}

uint32_t ClampMs(double seconds) {
  double ms = seconds * 1000.0;
  if (!(ms > 0.0)) return 0;
  return ms >= 4294967295.0 ? UINT32_MAX : uint32_t(ms);
}

int SourceSeek(qmVideoEngine *e, int64_t ms) {
  MutexLock(e->sourceLock);
  int r = e->ops->seek(e->source, VideoSeekUnits(e, ms), e->info.seekStream);
  MutexUnlock(e->sourceLock);
  return r;
}

void Rewind(qmVideoEngine *e) {
  SourceSeek(e, 0);
  MutexLock(e->sourceLock);
  e->ops->flushVideo(e->source);
  e->ops->flushAudio(e->source);
  MutexUnlock(e->sourceLock);
}

void TakeDisplayClip(qmVideoEngine *e) {
  if (e->display) DisplayPictureArea(e->display, &e->clipWidth, &e->clipHeight);
}

// The picture in view, scaled into a slot of the new size, so that a paused or slow video shows
// at once at its new rectangle. Takes the old pixels; the slots are already at the new size.
void CarryShownPicture(qmVideoEngine *e, uint8_t *old, int32_t width, int32_t height, int32_t bytesPerRow) {
  qmPictureSlot *s = &e->slots[0];
  qmScaleBuffers buffers{};
  if (old && s->pixels &&
      ScaleVideoPicture(old, width, height, bytesPerRow, s->pixels, s->width, s->height, s->bytesPerRow,
                        int32_t(e->smooth), &buffers) == 0)
    e->shownSlot = 0;
  FreeScaleBuffers(&buffers);
  std::free(old);
}

// The first video plug-in that takes the file becomes the engine's source.
void OpenPluginSource(qmVideoEngine *e, const char *path, const qmFormatPlugins *plugins) {
  qmVideoInfo info{};
  if (void *h = OpenPluginVideoSource(plugins, path, &info)) {
    e->ops = &kPluginVideoSource;
    e->source = h;
    e->info = info;
  }
}

// Pictures of a stopped engine in frame order; 1 with one converted into out, 0 at the end.
int DecodeNextPicture(qmVideoEngine *e, qmDecodedFrame *out) {
  for (;;) {
    qmVideoPacket p{};
    int r = e->ops->nextPacket(e->source, &p);
    if (r == -1) return 0;
    if (r < 0) continue;
    int got = p.stream == 0 ? e->ops->decodeVideo(e->source, &p, out) : -1;
    e->ops->freePacket(e->source, &p);
    if (got == 0) return 1;
  }
}

}  // namespace

void RewindVideoSource(qmVideoEngine *e) { Rewind(e); }

int64_t VideoSeekUnits(const qmVideoEngine *e, int64_t ms) {
  if (e->info.seekStream == 0) return ms;
  return ms * int64_t(e->info.seekUnits) / 1000;
}

uint32_t OpenVideoEngine(const char *path, uint32_t backend, qmVideoEngine **out, const qmFormatPlugins *plugins) {
  *out = nullptr;
  qmVideoEngine *e = new (std::nothrow) qmVideoEngine{};
  if (!e) return ERR_MEM;
  // Regular files only: a FIFO without a writer would hold the open up for ever.
  qmFileHandle *f = nullptr;
  if (FileOpenRegular(path, &f)) {
    delete e;
    SetErrorArgument(path);
    return ERR_READFILE;
  }
  FileSeek(f, 0, SEEK_END);
  e->fileSize = FileSeek(f, 0, SEEK_CUR);  // the position before this seek: the end
  FileClose(f);
  if (backend == VIDBACKEND_OWN) OpenPluginSource(e, path, plugins);
  for (const qmVideoSourceOps *const *o = backend == VIDBACKEND_OWN ? kOwnSources : kSystemSources; *o && !e->source;
       o++) {
    const qmVideoSourceOps *ops = *o;
    qmVideoInfo info{};
    if (void *h = ops->open(path, &info)) {
      e->ops = ops;
      e->source = h;
      e->info = info;
      break;
    }
  }
  if (!e->source) {
    delete e;
    SetErrorArgument(path);
    return ERR_LOADVIDEO;
  }
  e->backend = backend;
  e->noSound = e->info.channels == 0;
  e->engineLock = MutexCreate();
  e->pictureLock = MutexCreate();
  e->pauseLock = MutexCreate();
  e->wakeLock = MutexCreate();
  e->sourceLock = MutexCreate();
  uint32_t code = 0;
  if (!e->engineLock || !e->pictureLock || !e->pauseLock || !e->wakeLock || !e->sourceLock) code = ERR_SEMAPHORE;
  if (!code) {
    e->refreshSignal = SignalCreate();
    e->pictureSignal = SignalCreate();
    if (!e->refreshSignal || !e->pictureSignal) code = ERR_SIGNAL;
  }
  if (code) {
    e->ops->close(e->source);
    FreeMutexes(e);
    delete e;
    return code;
  }
  e->width = e->info.width;
  e->height = e->info.height;
  e->startPosition = -1;
  e->grabCounter = -1;
  *out = e;
  return 0;
}

uint32_t OpenVideoBackend(const char *path, int32_t driver, qmVideoEngine **out, uint32_t *backend,
                          const qmFormatPlugins *plugins) {
  uint32_t code = ERR_LOADVIDEO;
  if (driver != VIDDRV_OS) {
    *backend = VIDBACKEND_OWN;
    code = OpenVideoEngine(path, VIDBACKEND_OWN, out, plugins);
    if (code == 0 || driver == VIDDRV_QUENMOOR) return code;
  }
  *backend = VIDBACKEND_SYSTEM;
  return OpenVideoEngine(path, VIDBACKEND_SYSTEM, out);
}

void FreeVideoEngine(qmVideoEngine *e) {
  if (!e) return;
  StopVideoEngine(e);
  e->ops->close(e->source);
  FreeMutexes(e);
  std::free(e->grabPixels);
  std::free(e->grabArgb);
  delete e;
}

const qmVideoInfo *VideoEngineInfo(const qmVideoEngine *e) { return &e->info; }
int32_t VideoEngineFrameCount(const qmVideoEngine *e) { return e->ops->frameCount(e->source); }
// Scripts see the system's movie playback under one name, whatever the decoder found in the file.
const char *VideoEngineFormatName(const qmVideoEngine *e) {
  return e->backend == VIDBACKEND_SYSTEM ? "QuickTime movie" : e->ops->formatName(e->source);
}

int VideoEngineThreadCount(const qmVideoEngine *e) {
  int n = 0;
  for (qmThread *t : {e->decoder, e->server, e->refresh, e->audioServer}) n += t != nullptr;
  return n;
}

uint32_t StartVideoEngine(qmVideoEngine *e, const qmVideoStart *start) {
  if (e->started) return 0;
  e->x = start->x;
  e->y = start->y;
  e->width = start->width > 0 ? start->width : e->info.width;
  e->height = start->height > 0 ? start->height : e->info.height;
  e->smooth = start->smooth;
  e->display = start->display;
  e->clipWidth = e->clipHeight = 0;
  TakeDisplayClip(e);
  e->id = start->id;
  e->ended = start->ended;
  e->endUser = start->endUser;
  e->audio = e->noSound ? nullptr : start->audio;
  e->events = start->audio;
  e->volume = start->volume;
  e->channel = -1;
  if (e->audio) {
    if (uint32_t code = OpenAudioOutput()) return code;
  }
  if (e->startPosition >= 0) {
    Rewind(e);
    if (SourceSeek(e, e->startPosition) != 0) {
      e->startPosition = -1;
      return ERR_SEEKRANGE;
    }
    e->startPosition = -1;
    e->rewindNeeded = false;
  } else if (e->rewindNeeded) {
    Rewind(e);
    e->rewindNeeded = false;
  }
  ResetPacketQueue(&e->audioQueue);
  ResetPacketQueue(&e->videoQueue);
  if (uint32_t code = InitPacketQueue(&e->audioQueue)) return code;
  if (uint32_t code = InitPacketQueue(&e->videoQueue)) return code;
  e->lastPts = e->lastDts = -1.0;
  e->faultyPts = e->faultyDts = 0;
  e->lastFrameTs = -10000.0;
  e->lastDelay = 0.0;
  e->videoClock = 0.0;
  e->audioClock = 0.0;
  e->frameTimer = GetTimeSeconds();
  e->lastShown = 0.0;
  e->drift = -e->frameTimer;
  e->lastPresentation = 0.0;
  e->speed = 1.0f;
  e->skip = 0.0f;
  e->count = e->readIndex = e->writeIndex = 0;
  e->shownSlot = -1;
  e->pauseRequested = e->paused = e->seekRequested = e->seekAck = 0;
  e->eof = e->endReported = e->presenting = e->serverBusy = 0;
  e->firstFrame = 2;
  e->soundLen = e->soundRead = 0;
  e->soundHeld = false;
  e->ringRead = e->ringWrite = 0;
  e->pendingSoundBytes = 0;
  e->soundSeeks = e->soundSeeksTaken = 0;
  if (uint32_t code = AllocSlots(e)) return code;
  e->generation++;
  if (uint32_t code = StartVideoThreads(e)) {
    StopVideoEngine(e);
    e->started = false;
    return code;
  }
  e->started = true;
  e->startedSinceGrab = true;
  return 0;
}

void StopVideoEngine(qmVideoEngine *e) {
  if (e->started) e->lastPosition = VideoEnginePosition(e);
  StopVideoThreads(e);
  if (e->channel >= 0 && e->audio) e->audio->stop(e->audio->owner, e->channel);
  e->channel = -1;
  FreeSlots(e);
  if (e->display) DiscardDisplayUpdatesOf(e->display, e);
  e->display = nullptr;  // a stopped engine knows no display: it may go before the engine
  MutexLock(e->sourceLock);
  FreePacketQueue(e, &e->audioQueue);
  FreePacketQueue(e, &e->videoQueue);
  MutexUnlock(e->sourceLock);
  FreeSoundBuffers(e);
  Rewind(e);
  e->started = false;
  e->paused = e->pauseRequested = 0;
}

void PauseVideoEngine(qmVideoEngine *e) {
  if (!e->started || e->paused) return;
  e->seekAck = 0;
  e->pauseRequested = 1;
  // The server takes the request at its next picture; at the end of the file none comes.
  for (int waited = 0; waited < 5000; waited += 10) {
    MutexLock(e->engineLock);
    bool empty = e->count == 0;
    bool settled = e->paused || e->endReported || (e->eof && PacketQueueEmpty(&e->videoQueue));
    MutexUnlock(e->engineLock);
    if (empty && settled) break;
    SleepMilliseconds(10);
  }
  if (!e->paused) {
    e->paused = 1;  // the end came first: nothing more is shown anyway
    e->pauseRequested = 0;
  }
  if (e->display) DiscardDisplayUpdatesOf(e->display, e);
}

void ResumeVideoEngine(qmVideoEngine *e) {
  if (!e->started || !e->paused) return;
  double now = GetTimeSeconds();
  MutexLock(e->engineLock);
  e->frameTimer += (now + e->drift) - e->lastShown;
  e->drift = e->lastShown - now;
  MutexUnlock(e->engineLock);
  e->seekAck = 0;
  e->paused = 0;
}

uint32_t SeekVideoEngine(qmVideoEngine *e, uint32_t ms) {
  if (!e->started) {
    e->startPosition = ms;
    e->lastPosition = ms;
    e->rewindNeeded = false;
    return 0;
  }
  if (!e->paused) {
    e->seekTarget = ms;
    e->seekRequested = 1;
    // The decoder takes the request on its next pass, or ends without it.
    while (e->seekRequested && e->decoder) SleepMilliseconds(10);
    return e->seekResult.exchange(0);
  }
  // Paused: the decoder leaves seeks alone, so this thread seeks and shows the picture there.
  // Locks in the threads' order: the picture lock before the source lock.
  MutexLock(e->pictureLock);
  MutexLock(e->sourceLock);
  int r = SourceSeek(e, ms);
  if (r == 0) {
    // No marker for the pictures: the decoder keeps the reference of the picture shown below,
    // which the pictures after it need.
    FlushPacketQueuesForSeek(e, false, ms);
    e->eof = 0;
    e->endReported = 0;
  }
  if (r != 0) {
    MutexUnlock(e->sourceLock);
    MutexUnlock(e->pictureLock);
    return ERR_SEEKRANGE;
  }
  // The source stays locked until the picture is read, so the decoder reads on after it.
  ResetPictureTiming(e);  // the queued pictures were from before the seek
  qmPictureSlot *slot = &e->slots[0];
  qmDecodedFrame f{slot->pixels, slot->width, slot->height, slot->bytesPerRow, e->smooth, 0, -1, -1.0, -1.0};
  int got = slot->pixels ? DecodeNextPicture(e, &f) : 0;
  MutexUnlock(e->sourceLock);
  if (got) {
    MutexLock(e->engineLock);
    e->shownSlot = 0;
    e->lastShown = ms / 1000.0;
    // Resuming counts the pause from now: the next picture follows this one.
    e->drift = e->lastShown - GetTimeSeconds();
    MutexUnlock(e->engineLock);
    PresentVideoSlot(e, 0);
  }
  MutexUnlock(e->pictureLock);
  e->seekAck = 1;
  e->seekPosition = ms;
  return 0;
}

uint32_t SetVideoEngineBox(qmVideoEngine *e, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t smooth) {
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
  bool resized = width != e->width || height != e->height;
  MutexLock(e->pictureLock);
  MutexLock(e->engineLock);
  e->x = x;
  e->y = y;
  e->smooth = smooth;
  TakeDisplayClip(e);
  uint32_t code = 0;
  if (resized) {
    e->width = width;
    e->height = height;
    if (e->started) {
      // The queued pictures are of the old size: they go, and the next ones come at the new.
      qmPictureSlot shown = e->shownSlot >= 0 ? e->slots[e->shownSlot] : qmPictureSlot{};
      if (e->shownSlot >= 0) e->slots[e->shownSlot].pixels = nullptr;
      FreeSlots(e);
      code = AllocSlots(e);
      e->count = e->readIndex = e->writeIndex = 0;
      e->shownSlot = -1;
      CarryShownPicture(e, shown.pixels, shown.width, shown.height, shown.bytesPerRow);
      e->generation++;
      SignalPost(e->pictureSignal);
    }
  }
  MutexUnlock(e->engineLock);
  MutexUnlock(e->pictureLock);
  return code;
}

void SetVideoEngineVolume(qmVideoEngine *e, int32_t volume) {
  e->volume = volume;
  if (e->audio && e->channel >= 0) e->audio->setVolume(e->audio->owner, e->channel, volume);
}

void SetVideoEnginePauseByDisplay(qmVideoEngine *e, bool on) {
  MutexLock(e->pauseLock);
  e->pauseByDisplay = on ? 1 : 0;
  MutexUnlock(e->pauseLock);
}

void RedrawVideoEngine(qmVideoEngine *e) {
  MutexLock(e->pictureLock);
  if (e->started && e->shownSlot >= 0) PresentVideoSlot(e, e->shownSlot);
  MutexUnlock(e->pictureLock);
}

uint32_t VideoEnginePosition(qmVideoEngine *e) {
  if (!e->started) return e->lastPosition;
  if (e->paused && e->seekAck) return e->seekPosition;
  if (e->endReported) return e->endPosition;
  return ClampMs(CurrentVideoSeconds(e));
}

uint32_t GrabVideoEngineFrame(qmVideoEngine *e, int32_t mode, int64_t where, int32_t accuracy,
                              const uint32_t **pixels, int32_t *width, int32_t *height) {
  (void)accuracy;  // the source seeks to the picture itself; no counting from a key frame is needed
  if (e->started) return ERR_FGRABVIDSTATE;
  int32_t w = e->info.width, h = e->info.height;
  if (!e->grabPixels) {
    e->grabPixels = static_cast<uint8_t *>(std::calloc(size_t(w) * size_t(h), 4));
    e->grabArgb = static_cast<uint32_t *>(std::calloc(size_t(w) * size_t(h), 4));
    if (!e->grabPixels || !e->grabArgb) {
      std::free(e->grabPixels);
      std::free(e->grabArgb);
      e->grabPixels = nullptr;
      e->grabArgb = nullptr;
      return ERR_MEM;
    }
  }
  qmDecodedFrame f{e->grabPixels, w, h, w * 4, 0, 0, -1, -1.0, -1.0};
  int32_t wanted;
  if (mode == VIDGRAB_TIME) {
    Rewind(e);
    if (SourceSeek(e, where) != 0) {
      e->grabCounter = -1;
      return ERR_SEEKRANGE;
    }
    e->startedSinceGrab = false;
    e->rewindNeeded = true;
    if (!DecodeNextPicture(e, &f)) {
      e->grabCounter = -1;
      return ERR_VIDEOFRAME;
    }
    // Later frame numbers count on from the picture shown, not from the file's start.
    e->grabCounter = f.position >= 0 ? f.position + 1 : -1;
  } else {
    if (where < 0 || where >= INT32_MAX) return ERR_VIDEOFRAME;  // no file holds that many pictures
    wanted = int32_t(where);
    if (e->startedSinceGrab || e->grabCounter < 0 || e->grabCounter > wanted + 1) {
      Rewind(e);
      e->grabCounter = 0;
      e->startedSinceGrab = false;
    }
    e->rewindNeeded = true;
    while (e->grabCounter != wanted + 1) {
      if (!DecodeNextPicture(e, &f)) {
        e->grabCounter = -1;
        return ERR_VIDEOFRAME;
      }
      e->grabCounter++;
    }
  }
  const uint8_t *src = e->grabPixels;
  for (int32_t i = 0; i < w * h; i++, src += 4)
    e->grabArgb[i] = uint32_t(src[0]) << 24 | uint32_t(src[1]) << 16 | uint32_t(src[2]) << 8 | src[3];
  *pixels = e->grabArgb;
  *width = w;
  *height = h;
  return 0;
}

void DisplayPictureArea(const qmDisplay *d, int32_t *width, int32_t *height) {
  const bool scaled = DisplayScales(d);
  *width = scaled ? d->scaleWidth : d->width;
  *height = scaled ? d->scaleHeight : d->height;
}

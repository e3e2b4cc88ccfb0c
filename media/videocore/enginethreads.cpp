// The engine's threads: the decoder sorts packets into the sound and picture queues, the server
// decodes pictures into the two slots and times them, the refresh thread hands each to the
// display at its time and reports the end, the audio server keeps the mixer channel fed.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sched.h>

#include "display/display.h"
#include "display/displayops.h"
#include "graphics/bitmap.h"
#include "media/videocore/engine_internal.h"
#include "platform/eventpump.h"
#include "platform/hooks.h"
#include "platform/memory.h"
#include "platform/time.h"
#include "runtime/errcodes.h"

namespace {

constexpr uint32_t kSoundQueueCap = 81920;      // bytes of sound read ahead
constexpr uint32_t kPictureQueueCap = 1310720;  // bytes of pictures read ahead
constexpr uint32_t kThreadStack = 200000;

void FreePacket(qmVideoEngine *e, qmVideoPacket *p) {
  if (!p->data) return;
  MutexLock(e->sourceLock);
  e->ops->freePacket(e->source, p);
  MutexUnlock(e->sourceLock);
  p->data = nullptr;
}

void PutPacket(qmPacketQueue *q, const qmVideoPacket &p) {
  auto *n = static_cast<qmPacketNode *>(MemAlloc(sizeof(qmPacketNode), 1));
  if (!n) return;  // dropped: the caller frees nothing, the handle is lost with it
  n->packet = p;
  MutexLock(q->mutex);
  if (q->last) q->last->next = n;
  else q->first = n;
  q->last = n;
  q->bytes += p.size;
  q->empties += p.data && !p.size;
  SignalPost(q->signal);
  MutexUnlock(q->mutex);
}

// 1 with a packet (a null handle is a flush marker), 0 empty, -1 asked to quit, -2 the end.
// With busy, that flag is set as the packet leaves the queue (2 for a packet with bytes, 1 for
// one without): whoever sees the queue empty sees the packet in hand.
int PacketQueueGet(qmThread *t, qmPacketQueue *q, qmVideoPacket *out, bool block, bool stopAtEnd,
                   std::atomic<uint32_t> *busy = nullptr) {
  MutexLock(q->mutex);
  int r;
  for (;;) {
    if (ThreadQuitRequested(t)) {
      r = -1;
      break;
    }
    if (qmPacketNode *n = q->first) {
      q->first = n->next;
      if (!q->first) q->last = nullptr;
      q->bytes -= n->packet.size;
      q->empties -= n->packet.data && !n->packet.size;
      *out = n->packet;
      if (busy && n->packet.data) *busy = n->packet.size ? 2 : 1;
      MemFree(n);
      r = 1;
      break;
    }
    if (!block) {
      r = 0;
      break;
    }
    if (stopAtEnd && q->abort) {
      r = -2;
      break;
    }
    SignalWait(q->signal, q->mutex);
  }
  MutexUnlock(q->mutex);
  return r;
}

void DropQueued(qmVideoEngine *e, qmPacketQueue *q) {
  MutexLock(q->mutex);
  qmPacketNode *n = q->first;
  q->first = q->last = nullptr;
  q->bytes = 0;
  q->empties = 0;
  q->abort = 0;
  MutexUnlock(q->mutex);
  while (n) {
    qmPacketNode *next = n->next;
    FreePacket(e, &n->packet);
    MemFree(n);
    n = next;
  }
}

uint32_t QueueBytes(qmPacketQueue *q) {
  MutexLock(q->mutex);
  uint32_t b = q->bytes;
  MutexUnlock(q->mutex);
  return b;
}

// Packets without bytes waiting in the queue. At the end of the file a source hands out such a
// packet on every call until the decoder has given up its last pictures: the byte cap never
// stops that, so one at a time is read ahead.
uint32_t QueueEmpties(qmPacketQueue *q) {
  MutexLock(q->mutex);
  uint32_t n = q->empties;
  MutexUnlock(q->mutex);
  return n;
}

void PostQueue(qmPacketQueue *q, bool abort) {
  MutexLock(q->mutex);
  if (abort) q->abort = 1;
  SignalPost(q->signal);
  MutexUnlock(q->mutex);
}

uint32_t BytesPerSecond(const qmVideoEngine *e) { return e->info.sampleRate * e->info.channels * 2; }

// The sound's position: the end of the decoded sound less what was decoded and not yet handed on.
double AudioSeconds(const qmVideoEngine *e) {
  uint32_t bps = BytesPerSecond(e);
  return e->audioClock.load() - (bps ? double(e->pendingSoundBytes.load()) / bps : 0.0);
}

void *DecoderThread(void *record) {
  qmThread *t = GetThreadRecord(record);
  auto *e = static_cast<qmVideoEngine *>(GetThreadUserData(t));
  ThreadSignalStarted(t);
  const bool keepSound = e->audio != nullptr;
  while (!ThreadQuitRequested(t)) {
    if (e->seekRequested && !e->paused) {
      MutexLock(e->sourceLock);
      int r = e->ops->seek(e->source, VideoSeekUnits(e, e->seekTarget), e->info.seekStream);
      MutexUnlock(e->sourceLock);
      if (r == 0) FlushPacketQueuesForSeek(e, true, e->seekTarget);
      e->seekResult = r == 0 ? 0u : uint32_t(ERR_SEEKRANGE);
      e->eof = 0;
      e->endReported = 0;
      e->seekRequested = 0;
      continue;
    }
    if (QueueBytes(&e->audioQueue) > kSoundQueueCap || QueueBytes(&e->videoQueue) > kPictureQueueCap || e->eof ||
        QueueEmpties(&e->videoQueue) || QueueEmpties(&e->audioQueue)) {
      PostQueue(&e->audioQueue, e->eof);
      PostQueue(&e->videoQueue, e->eof);
      SleepMilliseconds(10);
      continue;
    }
    // The packet is queued, or the end noted, before a seek of the main thread can come
    // between: neither may outlive the seek.
    qmVideoPacket p{};
    MutexLock(e->sourceLock);
    int r = e->ops->nextPacket(e->source, &p);
    if (r == -1) {
      e->eof = 1;
    } else if (r == 0) {
      if (p.stream == 0) PutPacket(&e->videoQueue, p);
      else if (keepSound) PutPacket(&e->audioQueue, p);
      else FreePacket(e, &p);
    }
    MutexUnlock(e->sourceLock);
  }
  ThreadWaitJoin(t);
  ThreadExit(t, 0);
  return nullptr;
}

// The time stamp of a decoded picture: the presentation stamp unless it was found out of order
// more often than the decoding stamp, then the decoding stamp, else 0.
double ChooseTimeStamp(qmVideoEngine *e, const qmDecodedFrame &f) {
  if (f.pts != -1.0) {
    if (f.pts <= e->lastPts) e->faultyPts++;
    e->lastPts = f.pts;
  }
  if (f.dts != -1.0) {
    if (f.dts <= e->lastDts) e->faultyDts++;
    e->lastDts = f.dts;
  }
  if (f.pts != -1.0 && e->faultyPts <= e->faultyDts) return f.pts;
  if (f.dts != -1.0) return f.dts;
  if (f.pts != -1.0) return f.pts;
  return 0.0;
}

void ResetAfterFlush(qmVideoEngine *e) {
  MutexLock(e->sourceLock);
  e->ops->flushVideo(e->source);
  MutexUnlock(e->sourceLock);
  ResetPictureTiming(e);
}

}  // namespace

void ResetPictureTiming(qmVideoEngine *e) {
  MutexLock(e->pictureLock);
  MutexLock(e->engineLock);
  e->count = e->readIndex = e->writeIndex = 0;
  e->shownSlot = -1;
  SignalPost(e->pictureSignal);
  e->lastPts = e->lastDts = -1.0;
  e->faultyPts = e->faultyDts = 0;
  e->lastFrameTs = -10000.0;
  e->lastDelay = 0.0;
  e->frameTimer = GetTimeSeconds();
  e->speed = 1.0f;
  e->skip = 0.0f;
  e->firstFrame = 2;
  MutexUnlock(e->engineLock);
  MutexUnlock(e->pictureLock);
}

namespace {

// With sound, a picture ahead of the sound waits longer and one behind comes at once.
double SyncedDelay(qmVideoEngine *e, double delay, double now) {
  if (e->noSound || !e->audio) return delay;
  double videoPos = e->paused ? e->lastShown : now + e->drift;
  double diff = videoPos - AudioSeconds(e);
  double threshold = std::max(0.01, delay);
  if (std::fabs(diff) < 10.0) {
    if (diff <= -threshold) return 0.0;
    if (diff >= threshold) return 2.0 * delay;
  }
  return delay;
}

void *ServerThread(void *record) {
  qmThread *t = GetThreadRecord(record);
  auto *e = static_cast<qmVideoEngine *>(GetThreadUserData(t));
  ThreadSignalStarted(t);
  while (!ThreadQuitRequested(t)) {
    if (e->paused) {
      SleepMilliseconds(10);
      continue;
    }
    qmVideoPacket p{};
    if (PacketQueueGet(t, &e->videoQueue, &p, true, false, &e->serverBusy) < 0) break;
    if (!p.data) {
      ResetAfterFlush(e);
      continue;
    }
    MutexLock(e->pictureLock);
    uint32_t generation = e->generation;
    qmPictureSlot *buf = &e->decodeBuffer;
    qmDecodedFrame f{buf->pixels, buf->width, buf->height, buf->bytesPerRow, e->smooth, 0, -1, -1.0, -1.0};
    MutexLock(e->sourceLock);
    int got = buf->pixels ? e->ops->decodeVideo(e->source, &p, &f) : -1;
    MutexUnlock(e->sourceLock);
    MutexUnlock(e->pictureLock);
    FreePacket(e, &p);
    if (got != 0) {
      e->serverBusy = 0;
      continue;
    }
    MutexLock(e->engineLock);
    double ts = ChooseTimeStamp(e, f);
    e->skip += 1.0f;
    bool drop = e->skip < e->speed;
    if (!drop) e->skip -= std::max(e->speed, 1.0f);
    MutexUnlock(e->engineLock);
    if (drop) {
      e->serverBusy = 0;
      continue;
    }
    MutexLock(e->pictureLock);
    if (ts == 0.0) ts = e->videoClock;
    else e->videoClock = ts;
    e->videoClock += e->info.frameDuration + f.repeat * e->info.frameDuration * 0.5;
    MutexUnlock(e->pictureLock);
    MutexLock(e->engineLock);
    if (e->count == 2 && !e->presenting) e->speed = std::max(0.95f, e->speed * 0.95f);
    while (e->count == 2 && !ThreadQuitRequested(t)) SignalWait(e->pictureSignal, e->engineLock);
    MutexUnlock(e->engineLock);
    if (ThreadQuitRequested(t)) break;
    MutexLock(e->pictureLock);
    MutexLock(e->engineLock);
    if (generation == e->generation && e->count < 2) {
      qmPictureSlot *slot = &e->slots[e->writeIndex];
      std::swap(slot->pixels, e->decodeBuffer.pixels);
      slot->pts = ts;
      slot->position = f.position;
      int written = e->writeIndex;
      e->writeIndex ^= 1;
      double now = GetTimeSeconds();
      double delay = ts - e->lastFrameTs;
      if (delay <= 0.0 || delay >= 10.0) delay = e->lastDelay;
      else e->lastDelay = delay;
      e->lastFrameTs = ts;
      e->frameTimer += SyncedDelay(e, delay, now);
      e->slots[written].target = e->frameTimer;
      e->count++;
      if (e->firstFrame == 2) e->firstFrame = 3;
      // The picture that answers a pause is queued before the pause shows: it is the one in view.
      if (e->pauseRequested) {
        e->paused = 1;
        e->pauseRequested = 0;
      }
    }
    MutexUnlock(e->engineLock);
    MutexUnlock(e->pictureLock);
    e->serverBusy = 0;
    sched_yield();
  }
  ThreadWaitJoin(t);
  ThreadExit(t, 0);
  return nullptr;
}

void ReportEnd(qmVideoEngine *e) {
  double seconds;
  if (!e->noSound && e->audio) {
    seconds = AudioSeconds(e);
  } else {
    MutexLock(e->engineLock);
    seconds = e->paused ? e->lastShown : GetTimeSeconds() + e->drift;
    MutexUnlock(e->engineLock);
  }
  double ms = seconds * 1000.0;
  e->endPosition = ms <= 0.0 ? 0u : ms >= 4294967295.0 ? UINT32_MAX : uint32_t(ms);
  e->endReported = 1;
  if (e->events && e->events->postVideoEnd) e->events->postVideoEnd(e->events->owner, &e->id);
  if (e->ended) e->ended(e, e->endUser);
  WakeMainLoop();
}

void *RefreshThread(void *record) {
  qmThread *t = GetThreadRecord(record);
  auto *e = static_cast<qmVideoEngine *>(GetThreadUserData(t));
  ThreadSignalStarted(t);
  while (!ThreadQuitRequested(t)) {
    uint32_t wait = 1;
    bool presentNow = false;
    MutexLock(e->pictureLock);
    MutexLock(e->engineLock);
    double now = GetTimeSeconds();
    if (e->count > 0) {
      qmPictureSlot *slot = &e->slots[e->readIndex];
      if (slot->target > now) {
        wait = uint32_t((slot->target - now) * 1000.0);
      } else {
        presentNow = true;
        e->presenting = 1;
        e->lastShown = slot->pts;
        e->drift = slot->pts - now;
        double next = e->count == 2 ? e->slots[e->readIndex ^ 1].target : slot->target + (e->videoClock - slot->pts);
        if (e->firstFrame == 3) e->firstFrame = 0;
        bool drop = false;
        if (now > next) {
          e->speed *= 1.05f;
          if (e->count < 2) next += 0.5;
          // Only a picture that others are known to follow goes (one queued behind it, or picture
          // data in hand or waiting): the last one is always shown, and one that nothing replaces
          // yet would leave an older picture in view.
          const bool followed = e->count == 2 || e->serverBusy == 2 || QueueBytes(&e->videoQueue) > 0;
          drop = (now > next || e->count == 2) && now - e->lastPresentation < 1.0 && followed;
        }
        if (!drop) {
          e->lastPresentation = now;
          PresentVideoSlot(e, e->readIndex);
          e->shownSlot = e->readIndex;
        }
        e->readIndex ^= 1;
        e->count--;
        SignalPost(e->pictureSignal);
        e->presenting = 0;
      }
    }
    bool empty = e->count == 0;
    MutexUnlock(e->engineLock);
    MutexUnlock(e->pictureLock);
    if (presentNow) continue;
    if (empty && e->eof && !e->endReported && !e->serverBusy && PacketQueueEmpty(&e->videoQueue) &&
        (!e->audio || PacketQueueEmpty(&e->audioQueue)))
      ReportEnd(e);
    // Ended, nothing comes until a seek or a stop: look less often.
    if (empty && e->endReported) wait = 10;
    if (wait == 0) continue;
    MutexLock(e->wakeLock);
    SignalWaitFor(e->refreshSignal, e->wakeLock, wait);
    MutexUnlock(e->wakeLock);
  }
  ThreadWaitJoin(t);
  ThreadExit(t, 0);
  return nullptr;
}

// Fills dst with sound from the queue: 0, or -1 when the thread was asked to quit.
int DecodeVideoSound(qmVideoEngine *e, uint8_t *dst, uint32_t bytes, qmThread *t) {
  uint32_t done = 0;
  while (done < bytes) {
    if (e->soundSeeks != e->soundSeeksTaken && (e->soundRead < e->soundLen || e->soundHeld)) {
      // A seek came: what was decoded before it is not heard; the flush marker comes next.
      e->soundRead = e->soundLen;
      e->pendingSoundBytes = 0;
      if (e->soundHeld) FreePacket(e, &e->soundPacket);
      e->soundHeld = false;
    }
    if (e->soundRead < e->soundLen) {
      uint32_t n = std::min(bytes - done, e->soundLen - e->soundRead);
      std::memcpy(dst + done, e->soundBuffer + e->soundRead, n);
      e->soundRead += n;
      done += n;
      e->pendingSoundBytes = e->soundLen - e->soundRead;
      continue;
    }
    if (e->paused) {
      std::memset(dst + done, 0, bytes - done);
      return 0;
    }
    if (!e->soundHeld) {
      qmVideoPacket p{};
      int r = PacketQueueGet(t, &e->audioQueue, &p, true, true);
      if (r == -1) return -1;
      if (r == -2) {
        std::memset(dst + done, 0, bytes - done);
        return 0;
      }
      if (!p.data) {
        const uint32_t seeks = e->soundSeeks;
        MutexLock(e->sourceLock);
        e->ops->flushAudio(e->source);
        MutexUnlock(e->sourceLock);
        e->audioClock = e->soughtSeconds.load();
        e->pendingSoundBytes = 0;
        e->soundSeeksTaken = seeks;
        continue;
      }
      e->soundPacket = p;
      e->soundHeld = true;
      if (p.timeStamp != -1.0) e->audioClock = p.timeStamp;
    }
    int32_t usedUp = 1;
    MutexLock(e->sourceLock);
    int32_t n = e->ops->decodeAudio(e->source, &e->soundPacket, e->soundBuffer, kVideoSoundBuffer, &usedUp);
    MutexUnlock(e->sourceLock);
    if (usedUp) {
      FreePacket(e, &e->soundPacket);
      e->soundHeld = false;
    }
    if (n > 0) {
      uint32_t bps = BytesPerSecond(e);
      e->audioClock = e->audioClock.load() + (bps ? double(n) / bps : 0.0);
      e->soundLen = uint32_t(n);
      e->soundRead = 0;
      e->pendingSoundBytes = uint32_t(n);
    }
  }
  return 0;
}

// The mixer's input, on the audio thread: what the ring holds, silence while it is dry, and the
// end once the video's end was reported and the ring ran out.
uint32_t RingInput(void *arg, void *buffer, uint32_t maxFrames) {
  auto *e = static_cast<qmVideoEngine *>(arg);
  uint32_t frameBytes = e->info.channels * 2;
  uint64_t r = e->ringRead.load(std::memory_order_relaxed);
  uint64_t w = e->ringWrite.load(std::memory_order_acquire);
  uint32_t have = uint32_t((w - r) / frameBytes);
  if (have == 0 && e->endReported) return 0;
  uint32_t frames = std::min(have, maxFrames);
  auto *out = static_cast<uint8_t *>(buffer);
  for (uint32_t i = 0; i < frames * frameBytes; i++) out[i] = e->ring[(r + i) % kVideoSoundRing];
  std::memset(out + frames * frameBytes, 0, size_t(maxFrames - frames) * frameBytes);
  e->ringRead.store(r + uint64_t(frames) * frameBytes, std::memory_order_release);
  return maxFrames;
}

void *AudioServerThread(void *record) {
  qmThread *t = GetThreadRecord(record);
  auto *e = static_cast<qmVideoEngine *>(GetThreadUserData(t));
  PrepareAudioThread();
  ThreadSignalStarted(t);
  const uint32_t block = kVideoSoundBlockFrames * e->info.channels * 2;
  uint8_t *scratch = static_cast<uint8_t *>(std::malloc(block));
  while (scratch && !ThreadQuitRequested(t)) {
    uint64_t fill = e->ringWrite.load(std::memory_order_relaxed) - e->ringRead.load(std::memory_order_acquire);
    // At most two blocks ahead of the channel: the pictures are timed by the sound decoded so
    // far, so sound kept further ahead would run the pictures ahead of what is heard.
    if (fill <= block && !e->endReported) {
      if (DecodeVideoSound(e, scratch, block, t) < 0) break;
      uint64_t w = e->ringWrite.load(std::memory_order_relaxed);
      for (uint32_t i = 0; i < block; i++) e->ring[(w + i) % kVideoSoundRing] = scratch[i];
      e->ringWrite.store(w + block, std::memory_order_release);
    }
    SleepMilliseconds(1);
  }
  std::free(scratch);
  ThreadWaitJoin(t);
  ThreadExit(t, 0);
  return nullptr;
}

void StopThread(qmThread **t, qmMutex *mutex, qmSignal *signal) {
  if (!*t) return;
  ThreadRequestQuit(*t);
  if (mutex && signal) {
    MutexLock(mutex);
    SignalPost(signal);
    MutexUnlock(mutex);
  }
  ThreadJoin(*t);
  *t = nullptr;
}

}  // namespace

uint32_t InitPacketQueue(qmPacketQueue *q) {
  if (!q->mutex) q->mutex = MutexCreate();
  if (!q->signal) q->signal = SignalCreate();
  return q->mutex && q->signal ? 0u : uint32_t(ERR_SEMAPHORE);
}

void ResetPacketQueue(qmPacketQueue *q) {
  q->first = q->last = nullptr;
  q->bytes = 0;
  q->empties = 0;
  q->abort = 0;
}

void FreePacketQueue(qmVideoEngine *e, qmPacketQueue *q) {
  if (q->mutex) DropQueued(e, q);
  if (q->signal) SignalFree(q->signal);
  if (q->mutex) MutexFree(q->mutex);
  *q = {};
}

bool PacketQueueEmpty(qmPacketQueue *q) {
  MutexLock(q->mutex);
  bool empty = q->first == nullptr;
  MutexUnlock(q->mutex);
  return empty;
}

void FlushPacketQueuesForSeek(qmVideoEngine *e, bool markPictures, int64_t ms) {
  // Counted before the marker is queued, so that the audio server that takes it sees the count.
  e->soughtSeconds = double(ms) / 1000.0;
  e->soundSeeks++;
  for (qmPacketQueue *q : {&e->audioQueue, &e->videoQueue}) {
    DropQueued(e, q);
    if (q == &e->audioQueue || markPictures) PutPacket(q, qmVideoPacket{nullptr, 0, 0, -1.0});
  }
}

void FreeSoundBuffers(qmVideoEngine *e) {
  if (e->soundHeld) FreePacket(e, &e->soundPacket);
  e->soundHeld = false;
  std::free(e->soundBuffer);
  std::free(e->ring);
  e->soundBuffer = nullptr;
  e->ring = nullptr;
}

uint32_t StartVideoThreads(qmVideoEngine *e) {
  if (e->audio) {
    e->soundBuffer = static_cast<uint8_t *>(std::malloc(kVideoSoundBuffer));
    e->ring = static_cast<uint8_t *>(std::calloc(kVideoSoundRing, 1));
    if (!e->soundBuffer || !e->ring) return ERR_MEM;
    if (uint32_t code = e->audio->start(e->audio->owner, e->info.sampleRate, e->info.channels, RingInput, e,
                                        e->volume, &e->channel))
      return code;
  }
  e->server = ThreadStart("Quenmoor video server", ServerThread, e, 0, kThreadStack, 0);
  if (!e->server) return ERR_THREAD;
  if (e->audio) {
    e->audioServer = ThreadStart("Quenmoor audio server", AudioServerThread, e, 0, kThreadStack, 100);
    if (!e->audioServer) return ERR_THREAD;
  }
  e->decoder = ThreadStart("Quenmoor video decoder", DecoderThread, e, 0, kThreadStack, 0);
  if (!e->decoder) return ERR_THREAD;
  e->refresh = ThreadStart("Quenmoor video refresh", RefreshThread, e, 0, 16384, 0);
  if (!e->refresh) return ERR_THREAD;
  return 0;
}

void StopVideoThreads(qmVideoEngine *e) {
  StopThread(&e->refresh, e->wakeLock, e->refreshSignal);
  StopThread(&e->decoder, nullptr, nullptr);
  if (e->server) {
    ThreadRequestQuit(e->server);
    MutexLock(e->engineLock);
    SignalPost(e->pictureSignal);
    MutexUnlock(e->engineLock);
    StopThread(&e->server, e->videoQueue.mutex, e->videoQueue.signal);
  }
  StopThread(&e->audioServer, e->audioQueue.mutex, e->audioQueue.signal);
}

void PresentVideoSlot(qmVideoEngine *e, int index) {
  qmDisplay *d = e->display;
  if (!d) return;
  MutexLock(e->pauseLock);
  bool hidden = e->pauseByDisplay;
  MutexUnlock(e->pauseLock);
  if (hidden) return;
  const qmPictureSlot *slot = &e->slots[index];
  if (!slot->pixels) return;
  if (QueueVideoPicture(d, e, slot->pixels, slot->bytesPerRow, e->x, e->y, slot->width, slot->height, e->clipWidth,
                        e->clipHeight))
    WakeMainLoop();
}

bool QueueVideoPicture(qmDisplay *d, const void *owner, const uint8_t *pixels, int32_t bytesPerRow, int32_t x,
                       int32_t y, int32_t width, int32_t height, int32_t clipWidth, int32_t clipHeight) {
  // In 64 bits: a position near either end of the 32-bit range plus the picture's size.
  const int32_t left = std::max(0, x), top = std::max(0, y);
  const int32_t right = int32_t(std::min<int64_t>(int64_t(x) + width, clipWidth));
  const int32_t bottom = int32_t(std::min<int64_t>(int64_t(y) + height, clipHeight));
  if (right <= left || bottom <= top) return false;
  qmBitmap *b = AllocBitmap(right - left, bottom - top);
  auto *u = static_cast<qmDisplayUpdate *>(MemAlloc(sizeof(qmDisplayUpdate), 1));
  if (!b || !u) {
    FreeBitmap(b);
    MemFree(u);
    return false;
  }
  for (int32_t row = top; row < bottom; row++)
    std::memcpy(reinterpret_cast<uint8_t *>(b->pixels) + size_t(row - top) * b->bytesPerRow,
                pixels + size_t(int64_t(row) - y) * bytesPerRow + size_t(int64_t(left) - x) * 4, size_t(right - left) * 4);
  u->owner = owner;
  u->bitmap = b;
  u->x = left;
  u->y = top;
  u->width = right - left;
  u->height = bottom - top;
  DiscardDisplayUpdatesOf(d, owner);
  QueueDisplayUpdate(d, u);
  return true;
}

double CurrentVideoSeconds(qmVideoEngine *e) {
  if (!e->noSound && e->audio) return e->soundSeeks != e->soundSeeksTaken ? e->soughtSeconds.load() : AudioSeconds(e);
  MutexLock(e->engineLock);
  double s = e->paused ? e->lastShown : GetTimeSeconds() + e->drift;
  MutexUnlock(e->engineLock);
  return s;
}

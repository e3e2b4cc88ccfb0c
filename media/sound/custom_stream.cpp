#include "media/sound/custom_stream.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "media/sound/sound_stream.h"
#include "platform/mutex.h"
#include "runtime/errcodes.h"

uint32_t CreateCustomStream(uint32_t rate, int32_t format, qmSound **out) {
  *out = nullptr;
  auto *s = static_cast<qmSound *>(std::calloc(1, sizeof(qmSound)));
  auto *c = new (std::nothrow) qmCustomStream{};
  if (!s || !c) {
    std::free(s);
    delete c;
    return ERR_MEM;
  }
  c->mutex = MutexCreate();
  if (!c->mutex) {
    std::free(s);
    delete c;
    return ERR_SEMAPHORE;
  }
  c->rate = rate;
  c->format = format;
  c->bytesPerFrame = FormatBytesPerFrame(format);
  c->bits = format == SMPFMT_MONO16 || format == SMPFMT_STEREO16 ? 16 : 8;
  c->channels = c->bytesPerFrame * 8 / c->bits;
  c->refillPending = 1;
  s->kind = SNDKIND_CUSTOM;
  s->custom = c;
  s->rate = rate;
  s->bits = c->bits;
  s->channels = c->channels;
  s->bytesPerFrame = c->bytesPerFrame;
  s->flags = AUDIOFMT_SIGNED;
  s->format = format;
  s->framesPerPacket = 1;
  s->bytesPerPacket = c->bytesPerFrame;
  s->frames = s->packets = UINT32_MAX;  // open-ended
  s->mode = 1;
  s->seekable = 0;
  *out = s;
  return 0;
}

void FreeCustomStream(qmCustomStream *c) {
  for (qmCustomBuffer *b = c->head; b;) {
    qmCustomBuffer *n = b->next;
    std::free(b);
    b = n;
  }
  MutexFree(c->mutex);
  delete c;
}

void ClearCustomStream(qmCustomStream *c) {
  MutexLock(c->mutex);
  for (qmCustomBuffer *b = c->head; b;) {
    qmCustomBuffer *n = b->next;
    std::free(b);
    b = n;
  }
  c->head = c->tail = nullptr;
  c->delivered = 0;
  c->refillPending = 1;
  MutexUnlock(c->mutex);
}

uint32_t QueueCustomBuffer(qmCustomStream *c, const uint8_t *pcm, uint32_t frames) {
  size_t bytes = pcm ? size_t(frames) * c->bytesPerFrame : 0;
  auto *b = static_cast<qmCustomBuffer *>(std::calloc(1, sizeof(qmCustomBuffer) + bytes));
  if (!b) return ERR_MEM;
  if (pcm) {
    b->data = reinterpret_cast<uint8_t *>(b + 1);
    std::memcpy(b->data, pcm, bytes);
    b->bytes = uint32_t(bytes);
    b->frames = frames;
  }
  MutexLock(c->mutex);
  while (c->head && c->head->done) {
    qmCustomBuffer *n = c->head->next;
    std::free(c->head);
    c->head = n;
  }
  if (!c->head) c->tail = nullptr;
  if (c->tail) c->tail->next = b;
  else c->head = b;
  c->tail = b;
  if (pcm) c->delivered += frames;
  MutexUnlock(c->mutex);
  return 0;
}

uint64_t CustomStreamQueuedFrames(qmCustomStream *c) {
  uint64_t n = 0;
  MutexLock(c->mutex);
  for (qmCustomBuffer *b = c->head; b; b = b->next)
    if (!b->done && b->data) n += b->frames - b->consumed;
  MutexUnlock(c->mutex);
  return n;
}

uint64_t ReadCustomStream(qmCustomStream *c, void *buffer, uint64_t frames, int *end) {
  auto *out = static_cast<uint8_t *>(buffer);
  uint64_t done = 0;
  *end = 0;
  MutexLock(c->mutex);
  for (qmCustomBuffer *b = c->head; b && done < frames; b = b->next) {
    if (b->done) continue;
    if (!b->data) {  // the end entry
      *end = 1;
      MutexUnlock(c->mutex);
      return done;
    }
    uint64_t n = b->frames - b->consumed;
    if (n > frames - done) n = frames - done;
    std::memcpy(out + done * c->bytesPerFrame, b->data + size_t(b->consumed) * c->bytesPerFrame,
                n * c->bytesPerFrame);
    b->consumed += uint32_t(n);
    done += n;
    if (b->consumed == b->frames) b->done = 1;
  }
  MutexUnlock(c->mutex);
  // A dry queue plays silence until the script hands over more.
  std::memset(out + done * c->bytesPerFrame, c->format == SMPFMT_MONO8U || c->format == SMPFMT_STEREO8U ? 128 : 0,
              (frames - done) * c->bytesPerFrame);
  return frames;
}

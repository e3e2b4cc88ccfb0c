// Custom streams: music whose PCM the script hands over in buffers (FillMusicBuffer); the
// refill side takes frames from the queue, and an empty queue plays silence.
#pragma once
#include <atomic>
#include <cstdint>

struct qmMutex;
struct qmSound;

struct qmCustomBuffer {
  qmCustomBuffer *next;
  uint8_t *data;  // follows the record in the same allocation; null for the end entry
  uint32_t bytes;
  uint32_t consumed;  // frames
  uint32_t frames;
  uint32_t done;
};

struct qmCustomStream {
  qmMutex *mutex;  // guards the queue
  qmCustomBuffer *head, *tail;
  uint32_t rate;
  int32_t format;
  uint32_t bits, channels, bytesPerFrame;
  uint64_t delivered;  // frames the script has handed over
  std::atomic<uint32_t> refillPending;  // the first request (2 x rate frames) is due
};

// A stream of kind 6 for the format code: 0, ERR_MEM or ERR_SEMAPHORE.
uint32_t CreateCustomStream(uint32_t rate, int32_t format, qmSound **out);
void FreeCustomStream(qmCustomStream *c);
// Back to the start: the queue emptied, nothing delivered, the first request due again.
void ClearCustomStream(qmCustomStream *c);
// A buffer of frames (a copy of pcm is queued; null pcm queues the end entry). Done buffers at
// the head are freed first. 0 or ERR_MEM.
uint32_t QueueCustomBuffer(qmCustomStream *c, const uint8_t *pcm, uint32_t frames);
// Frames queued but not yet taken.
uint64_t CustomStreamQueuedFrames(qmCustomStream *c);
uint64_t ReadCustomStream(qmCustomStream *c, void *buffer, uint64_t frames, int *end);

// The engine record and what engine.cpp and enginethreads.cpp share; nobody else includes it.
#pragma once
#include <atomic>
#include <cstdint>

#include "media/videocore/engine.h"
#include "platform/mutex.h"
#include "platform/signal.h"
#include "platform/thread.h"

struct qmPacketNode {
  qmPacketNode *next;
  qmVideoPacket packet;  // a null handle marks a flush
};

struct qmPacketQueue {
  qmPacketNode *first, *last;
  uint32_t bytes;  // sum of the queued packets' sizes
  uint32_t empties;  // queued packets without bytes (a source's drain requests), not markers
  qmMutex *mutex;
  qmSignal *signal;
  uint32_t abort;  // the end of the file: a waiting reader returns
};

// A decoded picture at the on-screen size, bytes A, R, G, B.
struct qmPictureSlot {
  uint8_t *pixels;
  int32_t width, height, bytesPerRow;
  double pts;     // seconds
  double target;  // wall-clock seconds at which it is due
  int32_t position;
};

// Ring of decoded sound between the audio server (writer) and the mixer's input (reader).
inline constexpr uint32_t kVideoSoundRing = 524288;
inline constexpr uint32_t kVideoSoundBuffer = 262144;
inline constexpr uint32_t kVideoSoundBlockFrames = 1024;

struct qmVideoEngine {
  uint32_t backend;  // VIDBACKEND_*
  const qmVideoSourceOps *ops;
  void *source;
  qmVideoInfo info;
  uint64_t fileSize;
  // On-screen rectangle and smoothing; changed under the picture and engine locks.
  int32_t x, y, width, height;
  int32_t clipWidth, clipHeight;  // the display's size, taken on the main thread
  uint32_t smooth;
  int32_t volume;
  qmPacketQueue audioQueue, videoQueue;
  // Clock values in seconds: the wall-clock time the next picture is due, the time stamp shown
  // last and its drift against the wall clock, the last delay between pictures, the time stamp
  // predicted for the next picture, the end of the decoded sound.
  double frameTimer, lastShown, drift, lastDelay, lastFrameTs, videoClock, lastPts, lastDts;  // engine lock
  std::atomic<double> audioClock;
  double lastPresentation;
  uint32_t faultyPts, faultyDts;
  qmThread *decoder, *server, *refresh, *audioServer;
  const qmVideoAudioOps *audio;   // null for a video played silent
  const qmVideoAudioOps *events;  // posts the end event, with sound or without
  int channel;
  uint8_t *ring;
  std::atomic<uint64_t> ringRead, ringWrite;  // bytes ever read and written
  std::atomic<uint64_t> pendingSoundBytes;    // decoded, not yet in the ring
  uint8_t *soundBuffer;
  uint32_t soundLen, soundRead;
  qmVideoPacket soundPacket;
  bool soundHeld;
  std::atomic<uint32_t> audioStarted;
  // Seeks whose flush the audio server has yet to take: till then the sound decoded before the
  // seek is dropped and the position is the sought time.
  std::atomic<uint32_t> soundSeeks, soundSeeksTaken;
  std::atomic<double> soughtSeconds;
  qmPictureSlot slots[2];
  qmPictureSlot decodeBuffer;  // the server decodes here, then trades it with a slot
  int count, readIndex, writeIndex;
  int shownSlot;
  std::atomic<uint32_t> serverBusy;  // a packet in hand whose picture is not queued yet: 2 with bytes, 1 without
  uint32_t generation;  // bumped by a resize: a picture decoded before it is dropped
  qmMutex *engineLock, *pictureLock, *pauseLock, *wakeLock, *sourceLock;
  qmSignal *refreshSignal, *pictureSignal;
  float speed, skip;
  std::atomic<uint32_t> pauseRequested, paused, pauseByDisplay, seekRequested, seekAck, eof, endReported,
      presenting, firstFrame;
  std::atomic<int64_t> seekTarget;
  std::atomic<uint32_t> seekResult;  // ERR_SEEKRANGE when the decoder's seek failed
  int64_t startPosition;  // ms; -1 none
  uint32_t seekPosition, lastPosition;
  std::atomic<uint32_t> endPosition;
  bool noSound, rewindNeeded, started, startedSinceGrab;
  uint8_t *grabPixels;
  uint32_t *grabArgb;
  int32_t grabCounter;  // pictures decoded since the rewind; -1 unknown
  qmDisplay *display;
  qmObjectId id;
  qmVideoEndFn ended;
  void *endUser;
};

int64_t VideoSeekUnits(const qmVideoEngine *e, int64_t ms);

uint32_t InitPacketQueue(qmPacketQueue *q);
void ResetPacketQueue(qmPacketQueue *q);
// Frees the queued packets through the source and the queue's mutex and signal.
void FreePacketQueue(qmVideoEngine *e, qmPacketQueue *q);
bool PacketQueueEmpty(qmPacketQueue *q);
// Drops the queued packets and queues a flush marker in the sound queue, and with markPictures
// in the picture queue too (whose reader then flushes the picture decoder); the sound's clock
// starts again at ms.
void FlushPacketQueuesForSeek(qmVideoEngine *e, bool markPictures, int64_t ms);
// Empties the picture queue and starts the pictures' clock values afresh.
void ResetPictureTiming(qmVideoEngine *e);
void FreeSoundBuffers(qmVideoEngine *e);

// 0 or ERR_THREAD (what started is left for StopVideoThreads).
uint32_t StartVideoThreads(qmVideoEngine *e);
void StopVideoThreads(qmVideoEngine *e);
// The source back at its beginning, its decoders emptied.
void RewindVideoSource(qmVideoEngine *e);
// Where the picture of a display lies in its window (its scaled size when it scales): video
// pictures are clipped to it, never drawn into the bars around it.
void DisplayPictureArea(const qmDisplay *display, int32_t *width, int32_t *height);

// Queues the part of a picture of A, R, G, B bytes at x, y that lies inside clipWidth x
// clipHeight to the display, in place of the owner's update still pending; false when none is.
bool QueueVideoPicture(qmDisplay *display, const void *owner, const uint8_t *pixels, int32_t bytesPerRow, int32_t x,
                       int32_t y, int32_t width, int32_t height, int32_t clipWidth, int32_t clipHeight);
// Queues the slot's visible part to the display; the caller holds the picture lock.
void PresentVideoSlot(qmVideoEngine *e, int slot);
// Seconds into the video: the sound's position with sound, else the pictures'.
double CurrentVideoSeconds(qmVideoEngine *e);

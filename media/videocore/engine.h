// The video playback engine: a decoder source read and timed on the engine's own threads
// (decoder, server, refresh and, for a video with sound, the audio server), pictures handed to
// the display's window through its update queue, sound through one mixer channel.
#pragma once
#include <cstdint>

#include "media/videocore/videosource.h"
#include "platform/audio.h"
#include "runtime/objectid.h"

struct qmDisplay;
struct qmFormatPlugins;
struct qmVideoEngine;

// What the sound library answers for a video: its mixer channel and its end event. Filled by the
// player's wiring for each run; the engine is handed it at start and gives owner (the run's
// channels) back with every call.
struct qmVideoAudioOps {
  void *owner;
  uint32_t (*start)(void *owner, uint32_t rate, uint32_t channels, qmAudioInputProc input, void *arg,
                    int32_t volume, int *index);
  void (*setVolume)(void *owner, int index, int32_t volume);
  void (*stop)(void *owner, int index);
  // Posts the end event of the video when the script handles it (any thread).
  void (*postVideoEnd)(void *owner, const qmObjectId *id);
};

// The refresh thread reached the end of the video: called once per start, on that thread.
using qmVideoEndFn = void (*)(qmVideoEngine *engine, void *user);

struct qmVideoStart {
  qmDisplay *display;
  int32_t x, y, width, height;  // the on-screen rectangle
  int32_t volume;               // 0..64
  uint32_t smooth;
  qmObjectId id;  // of the video, for its end event
  const qmVideoAudioOps *audio;  // null: the video plays silent and posts no end event
  qmVideoEndFn ended;
  void *endUser;
};

// Back ends: the system's movie playback (here the engine over FFmpeg) and the program's own
// readers on the engine.
enum : uint32_t { VIDBACKEND_SYSTEM = 0, VIDBACKEND_OWN = 1 };
// Driver choices: the system's only, the own only, any other value the own first.
enum : int32_t { VIDDRV_OS = 0, VIDDRV_QUENMOOR = 1 };

// The engine over the back end's sources (the own back end offers the file to the video
// plug-ins first): 0, ERR_READFILE, ERR_LOADVIDEO, ERR_MEM, ERR_SEMAPHORE or ERR_SIGNAL.
uint32_t OpenVideoEngine(const char *path, uint32_t backend, qmVideoEngine **out,
                         const qmFormatPlugins *plugins = nullptr);
// In the driver choice's order; *backend tells which opened it. The last back end's error.
uint32_t OpenVideoBackend(const char *path, int32_t driver, qmVideoEngine **out, uint32_t *backend,
                          const qmFormatPlugins *plugins = nullptr);
// Stops the engine when it runs, then frees it.
void FreeVideoEngine(qmVideoEngine *e);
const qmVideoInfo *VideoEngineInfo(const qmVideoEngine *e);

// 0, ERR_OPENAUDIO, ERR_NOCHANNEL, ERR_SEEKRANGE, ERR_MEM, ERR_SEMAPHORE or ERR_THREAD; on an
// error nothing runs.
uint32_t StartVideoEngine(qmVideoEngine *e, const qmVideoStart *start);
// Joins the threads, frees the channel and the queued pictures, rewinds the source.
void StopVideoEngine(qmVideoEngine *e);
// Returns once the picture in view stays: no later picture is shown until resumed.
void PauseVideoEngine(qmVideoEngine *e);
// Continues with the picture after the one in view.
void ResumeVideoEngine(qmVideoEngine *e);
// To ms: 0 or ERR_SEEKRANGE. A stopped engine starts there; a paused one shows the picture there.
uint32_t SeekVideoEngine(qmVideoEngine *e, uint32_t ms);
// The on-screen rectangle and smoothing; a running engine shows its next pictures at that size.
uint32_t SetVideoEngineBox(qmVideoEngine *e, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t smooth);
void SetVideoEngineVolume(qmVideoEngine *e, int32_t volume);
// While set (the display closed or hidden) nothing is presented.
void SetVideoEnginePauseByDisplay(qmVideoEngine *e, bool on);
// The picture in view, queued again to the display.
void RedrawVideoEngine(qmVideoEngine *e);
// Milliseconds into the video.
uint32_t VideoEnginePosition(qmVideoEngine *e);
int32_t VideoEngineFrameCount(const qmVideoEngine *e);
// The system back end's one name, or the own source's (a plug-in's answer, "CDXL").
const char *VideoEngineFormatName(const qmVideoEngine *e);
// How many of the engine's threads run (3 without sound, 4 with).
int VideoEngineThreadCount(const qmVideoEngine *e);

enum : int32_t { VIDGRAB_FRAME = 0, VIDGRAB_TIME = 1 };
// A stopped engine's picture at a frame index from 0, or at a time in ms (accuracy: the
// picture counted from that point, 1 or more): 0 with width x height $AARRGGBB values owned by
// the engine until the next grab or free; ERR_VIDEOFRAME past the end, ERR_SEEKRANGE, ERR_MEM.
uint32_t GrabVideoEngineFrame(qmVideoEngine *e, int32_t mode, int64_t where, int32_t accuracy,
                              const uint32_t **pixels, int32_t *width, int32_t *height);

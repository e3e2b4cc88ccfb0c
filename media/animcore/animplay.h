// Playing an anim at a place of the current display: inside the command (synchronous), or as
// an asynchronous draw object that the script advances. The anim is locked while it plays.
#pragma once
#include <cstdint>

#include "display/displaytags.h"
#include "graphics/bitmap.h"
#include "runtime/cancel.h"
#include "runtime/objectid.h"

struct qmScene;
struct qmDisplay;
struct qmBGPic;
struct qmAnim;
struct qmAsyncDraw;
struct qmImageRequest;

// Speeds: a positive step is 20 ms per unit.
enum : int32_t { ANIMSPEED_NORMAL = -1, ANIMSPEED_FAST = -2, ANIMSPEED_SLOW = -3, ANIMSPEED_DEFAULT = -4 };
// The playback delay that reads each frame's own delay.
inline constexpr int32_t kPerFrameDelay = -4;

// Milliseconds between frames for a speed argument, or kPerFrameDelay.
int32_t AnimSpeedDelay(int32_t speed);

struct qmAnimPlayRequest {
  qmObjectId id;
  int32_t x, y;
  int32_t speed, times;  // times < 1: until stopped
  int32_t async;
  // Synchronous playback: one pass of the event pump before each frame; non-zero ends it (a
  // quit request: its code, or ERR_USERABORT which counts as a normal end).
  qmCancel pump;
};

struct qmAnimPlay {
  qmScene *scene;
  qmDisplay *display;
  qmBitmap *work, *background;  // layers off, with a mask or alpha channel: the frame's place
  qmAnim *anim;
  qmObjectId animId;
  int32_t x, y;                 // resolved position
  int32_t delay;                // ms, or kPerFrameDelay
  int32_t times;
  int32_t drawX, drawY, drawWidth, drawHeight;  // clipped to the picture
  int32_t clipX, clipY;         // how far the rectangle was cut at the left and top
  int32_t frame, loop;          // from 1: the frame to show next and its pass
  int32_t shown;                // the frame shown last, 0 before the first
  double nextTime;              // seconds: when the next frame is due (async), or the last was shown
  int32_t async;
  qmTransform transform;
  int32_t transformed;
  int32_t width, height;        // the anim's native size
  int32_t layered;              // layers on: the frames are shown by a layer of the picture
  // That layer and its picture; both null once the layer went (the playback then ends).
  void *layer;
  qmBGPic *picture;
};

// Draws frame (from 1) of the anim through the image display core at its native size (with
// layers on, as a layer that keeps the anim's id and the frame). The request's id, position and
// tags are the caller's; kind, size and frame fields are filled here. 0, ERR_ANIMFRAME, the
// frame's or the core's error.
uint32_t DrawAnimFrame(qmScene *scene, qmAnim *anim, int32_t frame, qmImageRequest *request);

// Synchronous: plays to the end (0 or the first error); async: *out is the draw object whose
// handle the script receives. ERR_ENDDOUBLEBUFFER, ERR_SELECTANIM, ERR_SELECTBRUSH,
// ERR_SELECTMASK, ERR_SELECTALPHACHANNEL, ERR_SELECTBG by the output, the look-up errors,
// ERR_WRONGUSAGE, ERR_MEM.
uint32_t PlayAnimCore(qmScene *scene, const qmAnimPlayRequest *request, qmAsyncDraw **out);
// One frame (the async object's frame routine): 0 or an error; *finished after the last.
uint32_t PlayAnimFrameStep(qmAnimPlay *play, int32_t *finished);
// Unlocks the anim and frees the playback.
void FreeAnimPlayback(qmAnimPlay *play);

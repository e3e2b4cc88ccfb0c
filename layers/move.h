// Objects moved across the current display frame by frame: a brush, an anim, a text object, a
// layer or a sprite travels from a start point to an end point along a straight line or one of
// the effect paths, while an anim or a sprite plays its frames. A move runs to its end in one call, runs as an
// asynchronous draw object, or is driven step by step by an embedding caller.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"
#include "runtime/cancel.h"
#include "runtime/objectid.h"

struct qmScene;
struct qmLayer;
struct qmAsyncDraw;
struct qmAnim;

// Path kinds; other values move like MOVEPATH_LINE.
enum : uint32_t {
  MOVEPATH_LINE = 0,
  MOVEPATH_BOUNCE = 1,      // overshoots and swings back five times with halving amplitude
  MOVEPATH_SMOOTHOUT = 2,   // slows down in the last stretch
  MOVEPATH_DAMPED = 3,      // one overshoot and return
  MOVEPATH_SINE = 4,        // horizontal moves: a sine wave of amplitude 50 around the start height
  MOVEPATH_BIGSINE = 5,     // horizontal moves: amplitude half the picture's height
  MOVEPATH_LOWERCURVE = 6,  // horizontal moves: a half-sine arc of height 150 below the line
  MOVEPATH_UPPERCURVE = 7,  // horizontal moves: the same above the line
};

// Speed values of the speed and animspeed options.
enum : int32_t { MOVESPEED_NORMAL = -1, MOVESPEED_FAST = -2, MOVESPEED_SLOW = -3, MOVESPEED_DEFAULT = -4 };

inline constexpr int32_t kMoveWaveSize = 79;
inline constexpr int32_t kMoveCurveHeight = 150;

struct qmMove {
  qmScene *scene;
  // What the caller asks.
  // QMTYPE_BRUSH, ANIM, TEXTOBJECT, LAYER or SPRITE; NOOBJECT: the caller hands in the layer, or
  // the picture (image, planes, width and height), drawn over the display without a layer.
  int32_t objectType;
  qmObjectId objectId;  // a layer's position for LAYER
  uint32_t path;        // MOVEPATH_*
  int32_t startX, startY, endX, endY;  // as given: special positions and KEEPPOSITION allowed
  int32_t speedOption, animSpeedOption;
  uint32_t async;
  uint32_t embedded;         // the caller owns the record and drives it
  uint32_t extraBlitFlags;   // added to the flags of the copy to the display
  qmCancel cancel;           // polled once per frame of a move that runs to its end
  // The object's current picture and the composition buffers (layers off).
  const qmBitmap *image;
  const qmMask *imageMask;
  const qmAlphaChannel *imageAlpha;
  qmBitmap *work;
  qmBitmap *savedBackground;
  qmBitmap *ownedImage;  // a text object's picture copied for the move
  qmMask *ownedMask;
  qmAlphaChannel *ownedAlpha;
  int32_t offsetX, offsetY;  // a text object's drawing offset, added to the resolved points
  // The path. x and y are where the object is drawn; pathX and pathY where the path has it, which
  // an overshoot past a target near the coordinate limits may take beyond 32 bits.
  int32_t x, y, targetX, targetY, previousX, previousY;
  int64_t pathX, pathY;
  int32_t width, height;
  // Steps in 64 bits: a diagonal's slower axis may have to cover up to 2^32 - 1 pixels in one.
  int64_t speed;      // the x step, and the step of both axes in the overshoot phases
  int64_t ySpeed;     // the y step of the straight phase
  int64_t baseSpeed;  // the unit of the overshoot distances
  int32_t frameDelay;  // milliseconds between frames; MOVESPEED_DEFAULT: each anim frame's own
  uint32_t phase;      // 0 straight, 1-6 bounce, 7-8 damped, 9 end of a sine
  int64_t slowZoneX, slowZoneY;  // six steps: beyond 32 bits for the fastest speeds
  int64_t slowStepX, slowStepY;
  int32_t frame, frameCount;
  uint32_t direction;  // 0 up, 1 up-right, 2 right ... 7 up-left, clockwise; y grows downward
  int32_t waveStep;
  int64_t waveIndex;  // a sine's table entry; an arc's distance travelled
  int32_t remainder, remainderUsed;
  double wave[kMoveWaveSize];  // SINE / BIGSINE heights; a curve's angle step in the first entry
  // The carrier of the object while layers are on, and its 1-based position.
  qmLayer *layer;
  int32_t layerPosition;
  uint32_t layerGone;  // the carrier was freed under an asynchronous move: it ends at its next step
  uint64_t nextFrameTime;  // microseconds on the desktop clock
  uint32_t frameDue;
  qmAnim *anim;            // the anim moved, held by its lock counter
  uint32_t framesOwned;    // each anim frame's planes are fetched for the move and freed after use
  uint32_t *useCounter;    // the object's lock counter, raised for the move's lifetime
  uint32_t **frameCounters;  // null-terminated: the lock counters of a sprite's sources
};

// The speed in pixels per frame: 0 or ERR_WRONGUSAGE (0, DEFAULTSPEED and other negatives).
uint32_t ResolveMoveSpeed(int32_t speed, int32_t *out);
// The frame delay in milliseconds of an animspeed value; DEFAULTSPEED gives 60 (a sprite's).
int32_t ResolveFrameDelay(int32_t animSpeed);
// The direction, steps and path tables of a move from (x1, y1) to (x2, y2) of the resolved
// speed; pictureHeight is the shown height BIGSINE swings over.
void SetupMovePath(qmMove *m, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t pictureHeight);
// One step along the path: x, y and the phase; *done once the move has ended.
void AdvanceMovePath(qmMove *m, int32_t *done);
// Takes at once every next step in which the object stays wholly outside the view (0, 0,
// viewWidth, viewHeight), extended by reach pixels on each side of the object; as if each had
// been taken, minus the drawing. Returns the steps taken; the next step is then the first one
// that may be seen (or one that changes the speed or the phase).
int64_t SkipHiddenSteps(qmMove *m, int64_t viewWidth, int64_t viewHeight, int64_t reach);
// The steps a move set up by SetupMovePath takes to its end, the last included (a dry run on a
// copy; m is untouched).
int32_t CountMoveSteps(const qmMove *m);

// Checks the output, holds the object, resolves the points and places the object at the start;
// then runs the move to its end (the record is freed), or hands it to a new asynchronous draw
// object (*asyncOut; freed with it), or, embedded, leaves it to the caller. A move whose start is
// its end ends at once (*asyncOut null). The record must come from MemAlloc unless embedded.
uint32_t RunMove(qmMove *m, qmAsyncDraw **asyncOut);
// One step drawn; *done once the move has ended. 0 or an error.
uint32_t MoveStep(qmMove *m, int32_t *done);
// Lowers what the move raised and frees its buffers; the record too unless embedded.
void MoveFree(qmMove *m);

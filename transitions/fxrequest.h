// The transition request: one record per transition, filled by a command from its arguments and
// options, completed by the runner, and handed to every effect routine and asynchronous
// callback. Sizes and positions are in the pixels of the current background picture.
#pragma once
#include <cstdint>

#include "display/bgpic.h"
#include "graphics/bitmap.h"
#include "runtime/objectid.h"

struct qmScene;
struct qmBGPic;
struct qmFxRequest;
struct qmLayer;
struct qmLayerState;

// Target kinds (object-type numbers).
enum : int32_t {
  FXTARGET_BGPIC = 1,
  FXTARGET_BRUSH = 3,
  FXTARGET_TEXTOBJECT = 8,
  FXTARGET_BGPICPART = 13,
  FXTARGET_LAYER = 22,
  FXTARGET_HIDELAYER = 25,
  FXTARGET_REMOVELAYER = 26,
};

// phase values.
enum : int32_t { FXPHASE_INIT = 0, FXPHASE_FRAME = 1, FXPHASE_DRAW = 2 };

// The frame routine: with phase FXPHASE_INIT (done null) sets up fxState, step and stepCount;
// with FXPHASE_FRAME draws, presents and counts one frame, setting *done on the last; with
// FXPHASE_DRAW (self-drawing effects) draws frame frameNo whole without presenting. 0 or an
// error code.
using qmFxFrameFn = uint32_t (*)(qmFxRequest *fx, int32_t *done);
// Frees what the frame routine hung on fxState (not fxState itself).
using qmFxFreeFn = void (*)(qmFxRequest *fx, int32_t complete);

// A pointer of an effect's state that owns what it points to, and how that is freed.
struct qmFxOwned {
  void *slot;
  void (*release)(void *slot);
};
inline constexpr int32_t kFxMaxOwned = 8;

// What the options table of a transition command asks for.
struct qmFxOptions {
  int32_t effect;     // FX_RANDOMEFFECT when not given
  int32_t speed;      // FX_NORMALSPEED when not given
  int32_t parameter;  // FX_RANDOMPARAMETER when not given
  int32_t undoLevel;  // 1 when not given
  int32_t dx, dy;
  int32_t haveDx, haveDy;
  int32_t layers;
  int32_t forceRealtime;
  int32_t async;
  int32_t noBorderFade;
};

struct qmFxRequest {
  qmScene *scene;
  // One pass of the event pump between frames: non-zero when the script is to stop. Null: none.
  int32_t (*pump)(void *data);
  void *pumpData;
  // A uniform double in [0, 1) for the random choice of an effect; null: drand48.
  double (*uniform)();
  // Shows a picture of another size on the current display (the window takes the new size);
  // called with pumpData. 0 or an error. Null: only pictures of the current size can be shown.
  uint32_t (*showResized)(void *data, qmBGPic *pic);

  qmFxFrameFn frameFn;  // the effect's pair unless the caller brings its own
  qmFxFreeFn freeFn;
  int32_t objectType;  // FXTARGET_*
  int32_t effect;
  qmObjectId objectId;
  int32_t x, y;       // the effect area's top left on the display
  int32_t step;       // the speed on entry; the step size after the init call
  int32_t speed;      // the speed asked for, kept to restart the effect
  int32_t parameter;  // -1: the effect chooses
  int32_t width, height;              // the effect area (the new picture)
  int32_t screenWidth, screenHeight;  // the current background picture

  qmBitmap *srcImage;  // the new picture
  qmBitmap *oldImage;  // what the screen showed under the area, for effects that need it
  qmBitmap *prevScreen;  // BGPIC: the whole screen before the change
  const qmMask *srcMask;
  const qmAlphaChannel *srcAlpha;
  int32_t ownsImage, ownsMask, ownsAlpha;
  qmBGPic *prevBGPic;  // BGPIC: the picture shown before
  qmBGPic *newBGPic;   // BGPIC: the picture being shown
  qmLayer *layer;      // layer targets: the layer shown or taken away
  int32_t undoType, undoLevel;  // UndoFX: the object type and which of its layers, 1 the newest

  int32_t layerX, layerY;  // scrolls: the layer's position before the move
  int32_t partX, partY;  // BGPICPART: the part's top left inside its picture
  int32_t layerTarget;  // the transition takes a layer away
  uint32_t bltFlags;    // SafeBlt flags of the routines' display blits
  int32_t scaledDisplay;
  int32_t async;
  int32_t restart;  // set in the caller's request: run the transition again
  int32_t resized;
  int32_t realtime;  // the routines draw into a layer's planes
  // The picture changed size under layer scaling while the layer's planes stood in: once they
  // are put back the layer is rendered anew at the new scale and left as before the run.
  int32_t replaceLater;
  int32_t forceRealtime;
  uint32_t *useCount;  // the target object's use counter, raised while the request lives
  int32_t bgpicX, bgpicY;  // BGPIC: the new picture's position options; 99999 not given
  int32_t noBorderFade;
  int32_t layerDecorated;
  int32_t borderLevel;
  // Real-time layer mode: the layer's own, transformed and filtered pictures and part origin
  // while the transition's planes stand in its current state.
  int32_t realtimePrepared;
  qmLayerState *realtimeState;  // the state the planes stand in
  const qmBitmap *realtimeBitmap;  // and their picture, which shows that the state still holds them
  qmPlaneSet savedOwn, savedTransformed, savedFiltered;
  int32_t savedOwnLent;
  int32_t savedPartX, savedPartY;

  int32_t bgpicEmu;    // a layer shown stands in for a change of background picture
  qmBGPic *emuBGPic;   // bgpicEmu: the picture the layer shows the change to
  int32_t layerSuspended;  // the layer holds its own pictures again while its look changes
  int32_t layerGone;       // the layer was freed under an asynchronous run: it ends at its next frame
  // Real-time layer mode: the part of the area written into the planes since the last present.
  int32_t pendingX, pendingY, pendingWidth, pendingHeight;

  void *fxState;  // the effect routine's own state
  // The pointers of fxState that own what they point to (transitions/fxowned.h).
  qmFxOwned owned[kFxMaxOwned];
  int32_t ownedCount;
  int32_t phase;
  int32_t frameNo;    // frames drawn so far
  int32_t stepCount;  // frames of the effect, set by the init call
  int32_t rerender;   // frames drawn by the asynchronous machinery: no per-frame presenting
  int32_t restarting;
  int32_t finished;
};

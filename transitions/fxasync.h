// A transition driven frame by frame from outside (an asynchronous draw object): the frame
// callback, the control callback and drawing the picture of any frame again.
#pragma once
#include <cstdint>

#include "transitions/fxrequest.h"

// The control operations the asynchronous draw objects ask of their producer.
enum : int32_t {
  FXCTL_LAYER_REPLACED = 0,  // argument: the layer record being replaced
  FXCTL_LAYER_CHANGED = 1,   // argument: the layer whose content changed
  FXCTL_FRAME_COUNT = 2,
  FXCTL_CURRENT_FRAME = 3,
  FXCTL_GOTO_FRAME = 4,  // argument: pointer to the frame number
  FXCTL_REFRESH = 5,
  FXCTL_DRAWN_OBJECT = 6,   // argument: pointer to a word that receives the layer
  FXCTL_PENDING = 7,        // argument: pointer to a word that receives a pending request
  FXCTL_DOUBLE_BUFFER = 8,  // argument: 1 before a frame drawn into the double buffer, 0 after
};

// The next frame: 0 or the routine's error; *done set on the last frame.
uint32_t AsyncFxFrame(qmFxRequest *fx, int32_t *done);
// Answers one control operation (FXCTL_*).
intptr_t AsyncFxControl(int32_t op, intptr_t argument, qmFxRequest *fx);
// Brings the screen to the picture of frame n: effects that draw any frame do so at once; the
// others start from the old picture and replay frames 1..n without presenting each. With force
// 0 and n the current frame nothing is drawn. 0 or an error.
uint32_t RerenderFx(qmFxRequest *fx, int32_t n, int32_t force);

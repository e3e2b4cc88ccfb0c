// A transition driven frame by frame from outside (an asynchronous draw object): its callbacks
// and drawing the picture of any frame again.
#pragma once
#include <cstdint>

#include "transitions/fxrequest.h"

// The callbacks of the request's asynchronous draw object (display/asyncdraw.h); userData is
// the request. The next frame: 0 or the routine's error, *done set on the last frame.
uint32_t AsyncFxFrame(void *userData, int32_t *done);
// Answers one control operation (ADOP_*).
intptr_t AsyncFxControl(int32_t op, intptr_t argument, void *userData);
// The finishing step and the release of the request.
void AsyncFxFinish(void *userData, int32_t complete);
void AsyncFxFree(void *userData, int32_t complete);
// Brings the screen to the picture of frame n: effects that draw any frame do so at once; the
// others start from the old picture and replay frames 1..n without presenting each. With force
// 0 and n the current frame nothing is drawn. 0 or an error.
uint32_t RerenderFx(qmFxRequest *fx, int32_t n, int32_t force);

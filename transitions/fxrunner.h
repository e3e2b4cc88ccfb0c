// The effect runner: checks the output, chooses the effect, prepares the pictures and drives
// the frames of one transition.
#pragma once
#include <cstdint>

#include "transitions/fxrequest.h"

struct qmAsyncDraw;

// Runs the transition the request describes (the request is copied; a restart is asked for in
// it). 0 after a synchronous transition, or an error code. With request->async the copy is
// prepared up to the init call and becomes an asynchronous draw object of the current display
// (*asyncOut), whose frames the script drives.
uint32_t RunTransition(qmFxRequest *request, qmAsyncDraw **asyncOut);
// Completes the transition: the use counter lowered, finished set.
void FinishFx(qmFxRequest *fx, int32_t complete);
// Frees everything the request owns, and the request.
void ReleaseFxRequest(qmFxRequest *fx, int32_t complete);
// One frame of a prepared request: 0 or the routine's error; *done set on the last frame.
uint32_t RunFxFrame(qmFxRequest *fx, int32_t *done);
// Real-time layer mode: the layer's own pictures back in place (the transition's planes freed).
void RestoreRealtimeLayer(qmFxRequest *fx);
// After a change of the layer's look while the transition's planes were out of it: the new
// picture taken from the layer, the planes prepared again at its size and brought to the frame
// drawn last; of another size the effect starts again at the same share of its frames. 0 or an
// error code (the frames then refuse to draw until the layer changes again).
uint32_t FollowFxLayer(qmFxRequest *fx);

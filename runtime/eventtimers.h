// Intervals and timeouts: script functions called periodically or once after a delay, driven
// by the platform's timers and fired by the event dispatcher.
#pragma once
#include <cstdint>

#include "runtime/objlist.h"

struct VmState;

// An interval (QMTYPE_INTERVAL) or a timeout (QMTYPE_TIMEOUT).
struct qmScriptTimer {
  qmObjectHeader header;
  int32_t function;  // registry reference; -1 for the shared poll interval
  int32_t ms;        // the interval's period or the timeout's delay
  int32_t userData;  // registry reference, -1 none
};
using qmInterval = qmScriptTimer;
using qmTimeout = qmScriptTimer;

// Appends an interval and starts its repeating timer (first firing at once). A handle in *id
// asks for an automatic id. With noHandler set the interval calls nothing, only wakes the event
// wait, and keeps *id as given; otherwise the function is the value at funcIndex and the user
// data the value at udIndex (0: none).
uint32_t AddInterval(VmState *L, const qmObjectId *id, int32_t ms, int noHandler, int funcIndex, int udIndex,
                     qmInterval **out);
uint32_t AddTimeout(VmState *L, const qmObjectId *id, int32_t ms, int funcIndex, int udIndex, qmTimeout **out);
// Unlink, release references and object data, stop the timer. ERR_FINDARRAY for an automatic
// id, else ERR_FINDINTERVAL / ERR_FINDTIMEOUT with the number.
uint32_t RemoveInterval(VmState *L, const qmObjectId *id);
uint32_t RemoveTimeout(VmState *L, const qmObjectId *id);
uint32_t FindInterval(VmState *L, const qmObjectId *id, qmInterval **out);
uint32_t FindTimeout(VmState *L, const qmObjectId *id, qmTimeout **out);
// Restarts an interval's timer with a new period, firing at once; the record keeps its period.
uint32_t ChangeIntervalPeriod(VmState *L, const qmObjectId *id, int32_t ms);
void FreeAllIntervalsAndTimeouts(VmState *L);

// Connects the shared 20 ms poll interval of the sound and network libraries to this list.
void InstallPollIntervalHooks();

// WaitEvent and CheckEvent, and the interpreter's periodic event check, on the dispatcher of
// runtime/eventdispatch.h.
#pragma once
#include <cstdint>

#include "runtime/eventdispatch.h"

struct VmState;

// The id of the owner display, when there is one.
void FillDisplayId(VmState *L, qmEventMessage *msg);
// The body of WaitEvent (wait set) and CheckEvent.
uint32_t WaitOrCheckEvent(VmState *L, int wait);
// The interpreter's periodic event check: the throttled platform pump (a clock read and a flag
// test unless a few milliseconds passed or a wake-up is pending). A quit request sets the
// interpreter's end flag.
void ServiceEvents(VmState *L);

// User events: event numbers from 22 that plug-ins register and post.
#pragma once
#include <cstdint>

struct VmState;
struct qmEventState;

using qmUserEventFiller = void (*)(VmState *L, uint32_t number, void *payload);

struct qmUserEvent {
  qmUserEvent *next;
  const char *name;  // stored right after the record
  uint32_t number;   // 22 and up
  int32_t function;  // registry references, -1 until InstallEventHandler names the event
  int32_t userData;
  qmUserEventFiller owner;  // fills the message table
};

inline constexpr uint32_t kFirstUserEvent = 22;

// The new event number, or 0 when the name is taken (a display or object event name, or
// another user event's name, without regard to case) or there is no memory.
// The events live on the run's dispatcher state; without one nothing is registered or found.
uint32_t RegisterUserEvent(qmEventState *st, const char *name, qmUserEventFiller owner);
qmUserEvent *FindUserEvent(const qmEventState *st, uint32_t number);
// Posts an event of that type without owner; 1 when queued (0: the payload stays the caller's).
int PostUserEvent(uint32_t number, void *payload);
void FreeUserEvents(VmState *L);

// User events: event numbers from 22 that plug-ins register and post.
#pragma once
#include <cstdint>

struct VmState;

using qmUserEventFiller = void (*)(VmState *L, uint32_t number, void *payload);

struct qmUserEvent {
  qmUserEvent *next;
  const char *name;  // stored right after the record
  uint32_t number;   // 22 and up
  int32_t function;  // registry references, -1 until InstallEventHandler names the event
  int32_t userData;
  qmUserEventFiller owner;  // fills the message table
};

extern qmUserEvent *UserEventList;
inline constexpr uint32_t kFirstUserEvent = 22;

// The new event number, or 0 when the name is taken (a display or object event name, or
// another user event's name, without regard to case) or there is no memory.
uint32_t RegisterUserEvent(const char *name, qmUserEventFiller owner);
qmUserEvent *FindUserEvent(uint32_t number);
// Posts an event of that type without owner; 1 when queued (0: the payload stays the caller's).
int PostUserEvent(uint32_t number, void *payload);
void FreeUserEvents(VmState *L);

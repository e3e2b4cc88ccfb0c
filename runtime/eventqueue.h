// The event queue: input and window events from any thread to the main thread's dispatcher.
// A fixed array of 256 entries in arrival order under one recursive mutex; entries 0 to
// count - 1 are valid. A queued payload belongs to its entry: for types below 22 the queue frees
// it (MemFree) when it drops the entry, for types from 22 on it never does.
#pragma once
#include <cstdint>

#include "platform/time.h"

struct qmEvent {
  uint32_t type;
  uint32_t arg1, arg2, arg3;
  uint32_t seconds, microseconds;  // when posted, on the monotonic clock
  void *owner;                     // the display the event belongs to, or null
  void *payload;
};

// What the dispatcher reads from an entry.
struct qmQueuedEvent {
  void *owner;
  uint32_t type;
  void *payload;
  uint32_t x, y, buttons;             // types 1, 2, 16 (mouse buttons)
  uint32_t arg1, arg2;                // the first two parameters of every type (x, y of moves and drops)
  uint32_t keyDown, keyArg, keyCode;  // type 3
};

enum qmEventType : uint32_t {
#define QM_EVENTTYPE(number, name) EVENT_##name = number,
#include "runtime/eventtypes.def"
#undef QM_EVENTTYPE
};

inline constexpr uint32_t kEventQueueSize = 256;
inline constexpr uint32_t kRemoveAllEvents = 0xFFFFFFFF;

// A run's queue lives in its record (the player context): made empty, bound while the run is
// played, deleted with the payloads it still holds. Every call below acts on the bound queue;
// with none bound, nothing is posted (the payload stays the caller's) and nothing is found.
struct qmEventQueue;
qmEventQueue *NewEventQueue();
void DeleteEventQueue(qmEventQueue *queue);
void BindEventQueue(qmEventQueue *queue);

// Clears the bound queue (payloads still queued are not freed, see FreeEventQueue); with none
// bound, binds a queue of the module's own, for code that runs without a run.
void InitEventQueue();
// Frees the payloads of queued entries of types below 22 and empties the queue; the module's
// own queue is unbound again.
void FreeEventQueue();

// 1 when queued; 0 when dropped (queue full, or a resize while the owner scales), and then the
// payload still belongs to the caller.
int PostEvent(void *owner, uint32_t type, uint32_t arg1, uint32_t arg2, uint32_t arg3, void *payload);
// The same with a given time stamp.
int PostEventStamped(void *owner, uint32_t type, uint32_t arg1, uint32_t arg2, uint32_t arg3,
                     void *payload, const qmTimeval *stamp);
// The display layer tells whether an owner's scale mode is active; resize events of such an
// owner are dropped. Null (the start) means never.
void SetEventScaleQuery(int (*isScaling)(const void *owner));

// index + 1 with the entry copied into *msg, or 0 when index is not a valid entry. With take
// set the entry's payload now belongs to the reader and the entry no longer holds it.
uint32_t PeekEvent(uint32_t index, qmQueuedEvent *msg, int take);
// Drops entries 0 to n (kRemoveAllEvents: all; an n beyond the valid entries drops all that are
// there; n above 255 otherwise does nothing); later entries move to the front. With lock set
// the call takes the queue's mutex itself.
uint32_t RemoveEvents(uint32_t n, int lock);
// Drops the prefix up to the newest entry older than the event time-out (runtime tag 1).
uint32_t ExpireEvents();
uint32_t ExpireEventsAt(const qmTimeval *now, uint32_t timeoutMs);
// Gives the entries from index first on the time stamp now: time the program itself spent
// before the script could look (a screen-mode switch with its fades) is no age of the input.
void RestampEventsFrom(uint32_t first);
// Clears the owner of every entry that names it.
void DetachEventOwner(const void *owner);

uint32_t GetEventCount();
// The queue's mutex, for the dispatcher's scans (recursive).
void LockEventQueue();
void UnlockEventQueue();

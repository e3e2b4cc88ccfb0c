// The event dispatcher: one step of WaitEvent / CheckEvent looks at every source of script
// events in a fixed order, calls the first installed handler with a message table, and
// remembers where it stopped so that the next step resumes with the next source.
#pragma once
#include <cstdint>

#include "display/handlerslot.h"
#include "runtime/cmdargs.h"

struct VmState;
struct qmDisplay;
struct qmPlatformTimer;
struct qmUserEvent;

inline constexpr int kDisplayEventCount = 26;
inline constexpr int kObjectEventCount = 11;
extern const char *const DisplayEventNames[kDisplayEventCount];
extern const char *const ObjectEventNames[kObjectEventCount];

enum : int {
  OBJH_ONSAMPLELOOP, OBJH_ONSAMPLEEND, OBJH_ONMUSICEND, OBJH_ONAREXX, OBJH_ONCONNECT, OBJH_ONDISCONNECT,
  OBJH_ONRECEIVEDATA, OBJH_ONRECEIVEUDPDATA, OBJH_ONVIDEOEND, OBJH_ONUSERMESSAGE, OBJH_FILLMUSICBUFFER,
};
// The global object-event slots, in the order of ObjectEventNames.
extern qmHandlerSlot ObjectEventSlots[kObjectEventCount];

struct qmEventMessage {
  qmDisplay *owner;
  uint32_t type;  // 0: nothing dispatched
  void *bgpic;
  void *button;
  int32_t function;
  int32_t userData;
  const qmObjectId *objectId;
  uint32_t modifiers;
  int32_t x, y;
  char action[32];
  char key[32];
  double time, starts;
  const char *command;
  char *reply;  // owned
  const char *dropList;
  int savedTop;
  void *server, *client, *udp;
  void *samples;
  uint32_t count;
  uint32_t hasId;
  qmObjectId id;
  qmUserEvent *userEvent;
  void *userPayload;
};

// Resume states of the dispatcher.
enum : uint32_t {
  DSTATE_START = 0,
  DSTATE_TIMER = 1,
  DSTATE_SOUND = 2,
  DSTATE_MOUSEMOVE = 3,
  DSTATE_DISPLAYMOUSE = 5,
  DSTATE_QUEUED = 6,
  DSTATE_HOVER = 7,
  DSTATE_HOVERDISPLAY = 8,
  DSTATE_UDP = 9,
  DSTATE_CONNECT = 10,
  DSTATE_RECEIVE = 11,
  DSTATE_DISCONNECT = 12,
  DSTATE_MUSICBUFFER = 13,
  DSTATE_USERMESSAGE = 14,
};

// The queued event being handled.
struct qmHeldEvent {
  qmDisplay *owner;
  uint32_t type;
  int32_t x, y;
  uint32_t down;
  uint32_t keyCode;
  uint32_t modifiers;
  void *payload;
  uint32_t valid;
};

struct qmEventState {
  uint32_t state;
  qmPlatformTimer *timerCursor;  // the next timer to examine; null with timersDone clear: the head
  uint32_t timersDone;
  qmHeldEvent held;
  void *button, *hoverButton, *heldButton;
  qmDisplay *display;
  void *server, *client, *udp;
};
extern qmEventState *EventState;

// What other libraries hand over; each entry may stay null (the source is then empty).
struct qmEventSources {
  // A music stream wanting sample data: 1 with the object id, samples and count.
  int (*musicBufferRequest)(qmObjectId *id, void **samples, uint32_t *count);
  // The next pending end-of-sound event: 1 with kind (5 sample end, 6 sample loop, 7 music end,
  // 8 video end), object id, time and starts.
  int (*popSoundEvent)(uint32_t *kind, qmObjectId *id, double *time, double *starts);
  // A button hit test and walk of the display's background picture; null: no buttons.
  int (*buttonEvent)(VmState *L, qmHeldEvent *event, qmEventMessage *msg);
  int (*buttonHover)(VmState *L, qmDisplay *display, qmEventMessage *msg);
  // The display the commands act on is open.
  int (*displayOpen)(const qmDisplay *display);
};
void SetEventSources(const qmEventSources *sources);

uint32_t InitEventDispatcher();
void FreeEventDispatcher(VmState *L);
// Back to the start of a cycle (BreakEventHandler); a held payload is freed.
void ResetEventDispatcher();

// One step: 0 with msg->type 0 when nothing was dispatched, 0xFFFFFFFF after a label jump was
// set up (the command then returns the Gosub request), else the handler's result.
uint32_t DispatchEvents(VmState *L, int hoverSuppressed, int wait, qmEventMessage *msg);
// Builds the message table, calls the handler protected; with discard clear a reference to the
// table stays below the results.
uint32_t CallEventHandler(VmState *L, qmEventMessage *msg, int discard);
// The body of WaitEvent (wait set) and CheckEvent.
uint32_t WaitOrCheckEvent(VmState *L, int wait);
// The interpreter's periodic event check: the throttled platform pump (a clock read and a flag
// test unless a few milliseconds passed or a wake-up is pending). A quit request sets the
// interpreter's end flag.
void ServiceEvents(VmState *L);
// How many loop edges and script calls pass between two runs of ServiceEvents.
inline constexpr int32_t kEventCheckEvery = 256;

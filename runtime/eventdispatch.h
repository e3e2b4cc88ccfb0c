// The event dispatcher: one step of WaitEvent / CheckEvent walks the registered event sources
// in rank order, calls the handler of the first one that has something pending with a message
// table, and remembers where it stopped so that the next step resumes there.
#pragma once
#include <cstdint>

#include "runtime/handlerslot.h"
#include "runtime/cmdargs.h"

struct VmState;
struct qmLabelState;
struct qmUserEvent;
struct qmDisplay;
struct qmPlatformTimer;

inline constexpr int kDisplayEventCount = 26;
inline constexpr int kObjectEventCount = 11;
extern const char *const DisplayEventNames[kDisplayEventCount];
extern const char *const ObjectEventNames[kObjectEventCount];

// The object-event slots, in the order of ObjectEventNames.
enum : int {
  OBJH_ONSAMPLELOOP, OBJH_ONSAMPLEEND, OBJH_ONMUSICEND, OBJH_ONAREXX, OBJH_ONCONNECT, OBJH_ONDISCONNECT,
  OBJH_ONRECEIVEDATA, OBJH_ONRECEIVEUDPDATA, OBJH_ONVIDEOEND, OBJH_ONUSERMESSAGE, OBJH_FILLMUSICBUFFER,
};

// The places of the sources in the walk, first polled first. A library registers its source
// at its place in its init; the places of libraries this player does not have stay empty.
enum qmEventSourceRank : int32_t {
  EVRANK_MUSICBUFFER,  // music streams wanting sample data (FillMusicBuffer); once per cycle
  EVRANK_TIMERS,       // intervals and timeouts
  EVRANK_SOUND,        // OnSampleEnd, OnSampleLoop, OnMusicEnd, OnVideoEnd with time and starts
  EVRANK_MOUSEMOVE,    // OnMouseMove of every display
  EVRANK_NETWORK,      // UDP data, connections, received data, disconnections; once per cycle
  EVRANK_MESSAGEPORT,  // OnUserMessage of the script's message port; once per cycle
  EVRANK_QUEUE,        // label jumps of queued events, then queued input, window and user events
  EVRANK_HOVER,        // hover labels, then the button hover pass of every display
  EVRANK_COUNT,
};

// What a dispatched message is; each type belongs to one source, whose fill writes its fields.
enum qmMessageType : uint32_t {
  MSG_NONE,         // nothing dispatched
  MSG_LABELJUMP,    // a jump to a label was set up; no handler runs
  MSG_INTERVAL,     // action, id
  MSG_TIMEOUT,      // action, id
  MSG_MOUSEMOVE,    // action, x, y (picture pixels), id
  MSG_DISPLAY,      // action, id: mouse buttons, the wheel and window events without more
  MSG_KEY,          // action, key, id
  MSG_SIZEWINDOW,   // action, width, height, id
  MSG_MOVEWINDOW,   // action, x, y, id
  MSG_MODESWITCH,   // action, mode, id
  MSG_DROPFILE,     // action, id, x, y, dropfiles, numdropfiles
  MSG_ORIENTATION,  // action, id, orientation
  MSG_USEREVENT,    // the registering plug-in's fields, action
  MSG_SOUND,        // action, id, position, count: a sample's or music's end or loop
  MSG_MUSICBUFFER,  // action, id, frames wanted, frames delivered: FillMusicBuffer
  MSG_CONNECT,      // action, serverid, clientid
  MSG_NETWORK,      // action, id: data or a disconnection on a connection, data on a UDP object
  MSG_BUTTON,       // id, action, x, y, width, height, the three pressed states, display
};

struct qmEventSource;
struct qmBGPic;
struct qmBGPicButton;

struct qmEventMessage {
  const qmEventSource *source;  // the source that dispatched it
  uint32_t type;                // qmMessageType
  qmDisplay *owner;             // the display the event belongs to, or null
  char action[32];
  int32_t function;  // registry references, -1 none
  int32_t userData;
  const qmObjectId *objectId;  // the object the event belongs to, or null
  qmObjectId id;               // the id the table reports (hasId)
  uint32_t hasId;
  int savedTop;
  void *payload;  // the source's own data for its fill
  qmBGPic *bgpic;         // button messages: the picture and the button; read by the fill only,
  qmBGPicButton *button;  // since a handler may delete the button
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

// Cursors of the per-display passes: the next display to look at, and whether the pass began.
struct qmDisplayCursor {
  qmDisplay *next;
  bool started;
};

// What the button and display libraries answer for the queue and hover sources; each entry may
// stay null (no buttons; a display is open when its state says so).
struct qmDisplayHooks {
  // A button hit test and walk of the display's background picture: 1 with the message set.
  int (*buttonEvent)(VmState *L, qmHeldEvent *event, qmEventMessage *msg);
  int (*buttonHover)(VmState *L, qmDisplay *display, qmEventMessage *msg);
  int (*displayOpen)(const qmDisplay *display);
};

struct qmEventState {
  // The dispatcher: the registered sources by rank and where the next step starts.
  const qmEventSource *sources[EVRANK_COUNT];
  int32_t next;  // the rank the next step starts with; kNewCycle: a cycle begins
  int hoverSuppressed;  // of the step under way
  qmEventMessage msg;   // the message of WaitEvent / CheckEvent
  // The event library's sources.
  qmHandlerSlot objectSlots[kObjectEventCount];
  qmPlatformTimer *timerCursor;  // the next timer to examine; null with timersDone clear: the head
  uint32_t timersDone;
  qmDisplayCursor moveCursor, hoverCursor;
  qmDisplay *hoverDisplay;  // the display whose hover pass dispatched last: looked at again first
  qmHeldEvent held;
  uint32_t heldPending;  // the held event goes on to its own handlers in the next step
  qmDisplayHooks hooks;
  uint32_t pollClients[2];  // which clients keep the shared poll interval (polltimer.h)
  // The event library's label registrations (MemAlloc'd by the library) and the user events
  // plug-ins registered, in number order: both go with the run.
  qmLabelState *labels;
  qmUserEvent *userEvents;
};
inline constexpr int32_t kNewCycle = -1;

// What a poll found.
enum : int {
  EVPOLL_NONE,    // nothing (more) this cycle: the walk goes on with the next source
  EVPOLL_CALL,    // msg is set: call its handler; the next step starts with this source again
  EVPOLL_ONCE,    // msg is set: call its handler; the next step starts with the next source
  EVPOLL_JUMP,    // a label jump was set up; the next step begins a new cycle
};

struct qmEventSource {
  const char *name;
  int32_t rank;  // qmEventSourceRank
  // A cycle begins: the source starts its walk afresh. Null: nothing to reset.
  void (*start)(VmState *L, qmEventState *st);
  // Looks for the next pending event: EVPOLL_*. A queue it locked is unlocked again.
  int (*poll)(VmState *L, qmEventState *st, qmEventMessage *msg);
  // Writes the source's fields of msg into the message table on the stack top.
  void (*fill)(VmState *L, qmEventMessage *msg);
  // After the handler returned: what the message held is released. Null: nothing to do.
  void (*done)(VmState *L, qmEventState *st, qmEventMessage *msg);
};

// The dispatcher state of the run, or null before the event library opened.
qmEventState *GetEventState(VmState *L);
// 0, ERR_MEM, or ERR_WRONGUSAGE when the source's place is taken or out of range.
uint32_t RegisterEventSource(VmState *L, const qmEventSource *source);

uint32_t InitEventDispatcher(VmState *L);
void FreeEventDispatcher(VmState *L);
// Back to the start of a cycle (BreakEventHandler); a held payload is freed.
void ResetEventDispatcher(VmState *L);

// Writers of the fields most messages share, for the sources' fills.
void FillAction(VmState *L, const qmEventMessage *msg);
// The id of the table; WaitEvent / CheckEvent report it too.
void FillId(VmState *L, qmEventMessage *msg, const qmObjectId &id);
void SetMessageAction(qmEventMessage *msg, const char *action);
// Empties msg for the next source: no handler, no user data.
void ClearEventMessage(qmEventMessage *msg);

// DispatchEvents' result after a label jump was set up: the command returns the Gosub request.
inline constexpr uint32_t kLabelJump = 0xFFFFFFFFu;
// One step: 0 with msg->type MSG_NONE when nothing was dispatched, kLabelJump, or the handler's
// result.
uint32_t DispatchEvents(VmState *L, int hoverSuppressed, qmEventMessage *msg);
// Builds the message table, calls the handler protected; with discard clear a reference to the
// table stays below the results.
uint32_t CallEventHandler(VmState *L, qmEventMessage *msg, int discard);
// How many loop edges and script calls pass between two runs of the periodic event check.
inline constexpr int32_t kEventCheckEvery = 256;

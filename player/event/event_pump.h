// The player's pass of the event pump: the platform's reports about the windows become events in
// the event queue and the state of their displays; requests that need the display library (a
// user's resize, a screen-mode toggle, a redraw) are carried out; the sound library's work per
// pass runs; a quit sets the VM's end flag.
#pragma once
#include <cstdint>

struct VmState;
struct qmScene;

// One pump for the run of L: 1 when the script is to stop, else 0.
int PumpEvents(VmState *L);
// The per-line check: a full pump only when one is due.
int PumpEventsIfDue(VmState *L);
// Waits ms milliseconds while pumping: 0, or ERR_USERABORT on a quit.
uint32_t WaitEvents(VmState *L, uint32_t ms);

// The same over a scene; L may be null (no end flag to set, the display library's requests
// in their least form).
int PumpSceneEvents(VmState *L, qmScene *scene);
int PumpSceneEventsIfDue(VmState *L, qmScene *scene);
uint32_t WaitSceneEvents(VmState *L, qmScene *scene, uint32_t ms);

// The displays that watch the clipboard hear that it changed.
void TellClipboardWatchers(qmScene *scene);

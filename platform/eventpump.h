// The event pump: system events become portable events in the event queue, quit requests
// end the script, and waits block until the next event, timer or wake-up.
#pragma once
#include <cstdint>

struct VmState;

// One pump: presents updates queued by other threads, handles the queued mouse motion and one
// other system event, then evaluates every display's quit, mode-switch and resize requests.
// Within 10 ms of the previous pump and with no system event queued it only presents the
// updates. 1 when the script is to stop (sticky for the rest of the run; the interpreter's end
// flag is then set), else 0. Callers turn 1 into ERR_USERABORT.
int PumpPlatformEvents(VmState *vm);

// The per-line check of the interpreter's line hook: a clock read and a flag test, and a full
// PumpPlatformEvents only when a wake-up is pending or a few milliseconds have passed.
int PumpPlatformEventsIfDue(VmState *vm);

// Blocks until a system event is queued (it stays queued), a timer fires or WakeMainLoop is
// called; 0.
uint32_t WaitPlatformEvent();
// Any thread: makes a blocking wait on the main thread return.
void WakeMainLoop();
// Waits ms milliseconds while pumping events: 0 when the time is up, ERR_USERABORT on a quit.
uint32_t WaitWithEventTimer(VmState *vm, uint32_t ms);

// The sticky quit flag; cleared only by ShutdownDesktop.
bool PlatformQuitRequested();

// Audio services the pump calls once they exist: pending end-of-sound events at every full
// pump, channel upkeep once a second.
void SetAudioPumpHooks(void (*deliverEvents)(), void (*updateChannels)());

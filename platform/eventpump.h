// The event pump: system events become reports to the pump's caller, quit requests end the
// script, and waits block until the next event, timer or wake-up.
#pragma once
#include <cstdint>

// What the window system told about one of the player's windows, or about the program.
enum : uint32_t {
  REPORT_MOVED = 1,      // x, y: the content's new place on the desktop (not in full screen)
  REPORT_RESIZED,        // x, y: the content's new size, sized by the user (not in full screen)
  REPORT_MINIMIZED,
  REPORT_RESTORED,       // back from any state; the owner knows whether it was minimised
  REPORT_CLOSE,          // the close box
  REPORT_FOCUS,          // the window got the keyboard focus
  REPORT_UNFOCUS,        // it lost it; the platform forgot the keys held down in it
  REPORT_REDRAW,         // the window's surface was made anew: the owner shows its picture again
  REPORT_BUTTON,         // code 1 left, 2 right, 3 middle; down; x, y in the content
  REPORT_WHEEL,          // code 1 up, -1 down
  REPORT_KEY,            // code the portable key code (KEY_NONE for none); down; modifiers
  REPORT_TYPED,          // code a character typed without a key of its own: pressed and released
  REPORT_MOTION,         // x, y: where the pointer went in the content, at micros
  REPORT_QUIT,           // no window: the desktop (or a signal) asks the program to end
  REPORT_CLIPBOARD,      // no window: another program changed the clipboard
  REPORT_ENDRUN,         // no window: the script is to stop; sent by every pump while it stands
  REPORT_DROP,           // files dropped on the window: payload, x, y as below
};

enum : uint32_t {
  REPORTMOD_CONTROL = 0x1,
  REPORTMOD_ALT = 0x2,  // Alt or the logo key
};

struct qmPlatformReport {
  uint32_t kind;  // REPORT_*
  void *owner;    // the window's owner, or null
  int32_t x, y;
  int32_t code;
  uint32_t down;
  uint32_t modifiers;  // REPORTMOD_*
  uint64_t micros;     // the desktop clock when the report was made
  // REPORT_DROP: the dropped paths in ISO Latin-1, each ended by a zero byte, then an empty one
  // (MemFree; it belongs to the client from the report on); x, y the pointer's last place in
  // the content, as the window system tells no drop point.
  void *payload;
};

// The pump's caller: the owners' side of the reports. Every entry may be null.
struct qmPumpClient {
  void *data;  // handed back to each entry
  // Updates other threads queued for the windows: at every pump, the quick ones too.
  void (*flushUpdates)(void *data);
  // One report; 1 when it asks the script to stop (a close box nobody handles), else 0.
  int (*report)(void *data, const qmPlatformReport *report);
  // The end of a full pump, after its event: the owners evaluate what the event left for them.
  // secondDue is 1 once a second. 1 when the script is to stop, else 0.
  int (*endPass)(void *data, int secondDue);
};

// One pump: hands the client's queued updates on, reports the queued mouse motion and one other
// system event, then evaluates the quit requests. Within 10 ms of the previous pump and with no
// system event queued it only flushes the updates. 1 when the script is to stop (sticky for the
// rest of the run; REPORT_ENDRUN tells the client), else 0. Callers turn 1 into ERR_USERABORT.
// A null client hears nothing.
int PumpPlatformEvents(const qmPumpClient *client);

// The per-line check of the interpreter's line hook: a clock read and a flag test, and a full
// PumpPlatformEvents only when a wake-up is pending or a few milliseconds have passed.
int PumpPlatformEventsIfDue(const qmPumpClient *client);

// Blocks until a system event is queued (it stays queued), a timer fires or WakeMainLoop is
// called; 0.
uint32_t WaitPlatformEvent();
// Any thread: makes a blocking wait on the main thread return.
void WakeMainLoop();
// Waits ms milliseconds while pumping events: 0 when the time is up, ERR_USERABORT on a quit.
uint32_t WaitWithEventTimer(const qmPumpClient *client, uint32_t ms);

// The sticky quit flag; cleared only by ShutdownDesktop.
bool PlatformQuitRequested();
// The script's quit switches (PLATATTR_CTRLCQUIT, _LEFTMOUSEQUIT, _ESCAPEQUIT): 1 on, 0 off.
int32_t PlatformQuitSwitch(int32_t selector);

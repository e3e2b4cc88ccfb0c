// Where files are dropped, on X11: the drag source tells the window the pointer's place on the
// screen in every position message of the drag-and-drop protocol, while the pointer itself is
// held by the source and no motion reaches the window. SDL hands those messages over as window-
// system events; they are read here, as they arrive, and never queued.
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include "platform/sdl/sdl_internal.h"

namespace {

Atom gPositionAtom = None, gLeaveAtom = None;
Display *gAtomDisplay = nullptr;

qmPlatformWindow *FindX11Window(Window xwindow) {
  for (qmPlatformWindow *pw = gWindows; pw; pw = pw->next) {
    if (!pw->window) continue;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(pw->window, &info) && info.subsystem == SDL_SYSWM_X11 && info.info.x11.window == xwindow)
      return pw;
  }
  return nullptr;
}

void NoteMessage(const XClientMessageEvent &m) {
  if (m.display != gAtomDisplay) {
    gAtomDisplay = m.display;
    gPositionAtom = XInternAtom(m.display, "XdndPosition", False);
    gLeaveAtom = XInternAtom(m.display, "XdndLeave", False);
  }
  if (m.message_type != gPositionAtom && m.message_type != gLeaveAtom) return;
  qmPlatformWindow *pw = FindX11Window(m.window);
  if (!pw) return;
  if (m.message_type == gLeaveAtom) {
    pw->dropPointKnown = 0;
    return;
  }
  // The pointer's place on the root window: x in the high 16 bits, y in the low ones.
  const unsigned long place = static_cast<unsigned long>(m.data.l[2]);
  pw->dropRootX = int32_t((place >> 16) & 0xFFFF);
  pw->dropRootY = int32_t(place & 0xFFFF);
  pw->dropPointKnown = 1;
}

// Runs on the thread that adds the event; the window-system events come from the main thread's
// pump only, every other event passes untouched.
int FilterSystemEvents(void *, SDL_Event *event) {
  if (event->type != SDL_SYSWMEVENT) return 1;
  const SDL_SysWMmsg *msg = event->syswm.msg;
  if (msg && msg->subsystem == SDL_SYSWM_X11 && msg->msg.x11.event.type == ClientMessage)
    NoteMessage(msg->msg.x11.event.xclient);
  return 0;
}

}  // namespace

void WatchDropPoints(bool on) {
  if (on) {
    SDL_SetEventFilter(FilterSystemEvents, nullptr);
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
  } else {
    SDL_EventState(SDL_SYSWMEVENT, SDL_IGNORE);
    SDL_SetEventFilter(nullptr, nullptr);
    gAtomDisplay = nullptr;
  }
}

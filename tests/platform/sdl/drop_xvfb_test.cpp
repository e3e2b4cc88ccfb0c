// Files dropped on a real window (Xvfb) by a drag source speaking the X drag-and-drop protocol:
// the drop event carries the place the source named, not the pointer's last place in the window.
#include <poll.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "xvfb_fixture.h"
// Xlib's macros (None, Status, ...) would clash with the test framework's names: after it.
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace sdltest {
namespace {

// A drag source on its own connection: enters the target window, moves to (rootX, rootY),
// drops there and hands over the one file's URI when the target asks for it. false when a
// step gets no answer in time.
bool DropFileAt(Window target, int rootX, int rootY, const std::string &uri) {
  Display *dpy = XOpenDisplay(nullptr);
  if (!dpy) return false;
  auto atom = [&](const char *name) { return XInternAtom(dpy, name, False); };
  const Atom enter = atom("XdndEnter"), position = atom("XdndPosition"), status = atom("XdndStatus"),
             drop = atom("XdndDrop"), finished = atom("XdndFinished"), selection = atom("XdndSelection"),
             copy = atom("XdndActionCopy"), uriList = atom("text/uri-list");
  const Window source = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
  XSetSelectionOwner(dpy, selection, source, CurrentTime);
  auto send = [&](Atom type, long l1, long l2, long l3, long l4) {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.display = dpy;
    e.xclient.window = target;
    e.xclient.message_type = type;
    e.xclient.format = 32;
    e.xclient.data.l[0] = long(source);
    e.xclient.data.l[1] = l1;
    e.xclient.data.l[2] = l2;
    e.xclient.data.l[3] = l3;
    e.xclient.data.l[4] = l4;
    XSendEvent(dpy, target, False, NoEventMask, &e);
    XFlush(dpy);
  };
  // Waits for a client message of the type, answering the selection request on the way.
  auto await = [&](Atom type) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      if (!XPending(dpy)) {
        pollfd p{ConnectionNumber(dpy), POLLIN, 0};
        poll(&p, 1, 100);
        continue;
      }
      XEvent e;
      XNextEvent(dpy, &e);
      if (e.type == ClientMessage && e.xclient.message_type == type) return true;
      if (e.type != SelectionRequest) continue;
      const XSelectionRequestEvent &req = e.xselectionrequest;
      XEvent reply{};
      reply.xselection.type = SelectionNotify;
      reply.xselection.requestor = req.requestor;
      reply.xselection.selection = req.selection;
      reply.xselection.target = req.target;
      reply.xselection.time = req.time;
      reply.xselection.property = None;
      if (req.target == uriList) {
        XChangeProperty(dpy, req.requestor, req.property, uriList, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(uri.data()), int(uri.size()));
        reply.xselection.property = req.property;
      }
      XSendEvent(dpy, req.requestor, False, NoEventMask, &reply);
      XFlush(dpy);
    }
    return false;
  };
  send(enter, 5L << 24, long(uriList), None, None);
  send(position, 0, long(rootX) << 16 | rootY, CurrentTime, long(copy));
  bool ok = await(status);
  if (ok) {
    send(drop, 0, CurrentTime, 0, 0);
    ok = await(finished);
  }
  XDestroyWindow(dpy, source);
  XCloseDisplay(dpy);
  return ok;
}

class XvfbDropTest : public XvfbDesktopTest {};

TEST_F(XvfbDropTest, DropEventCarriesTheDropPoint) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  ASSERT_TRUE(SDL_GetWindowWMInfo(pw->window, &info)) << SDL_GetError();
  ASSERT_EQ(info.subsystem, SDL_SYSWM_X11);
  // The drop reaches the queue only for a display that handles it.
  display->handlers[DISPH_ONDROPFILE].function = 1;
  int wx = 0, wy = 0;
  SDL_GetWindowPosition(pw->window, &wx, &wy);
  // The pointer was last seen elsewhere in the window.
  pw->pointerX = 5;
  pw->pointerY = 6;
  struct Case {
    int x, y;
  } cases[] = {{100, 50}, {17, 180}};
  for (const Case &c : cases) {
    bool dropped = false;
    std::thread source([&] { dropped = DropFileAt(info.info.x11.window, wx + c.x, wy + c.y, "file:///tmp/a.txt\r\n"); });
    std::vector<Ev> seen;
    const double end = GetTimeSeconds() + 60;
    while (GetTimeSeconds() < end && seen.empty()) {
      Wait(20);
      for (const Ev &e : TakeEvents())
        if (e.type == 14) seen.push_back(e);
    }
    source.join();
    EXPECT_TRUE(dropped) << c.x << "," << c.y;
    ASSERT_EQ(seen.size(), 1u) << c.x << "," << c.y;
    EXPECT_EQ(seen[0], (Ev{14, uint32_t(c.x), uint32_t(c.y), 0}));
  }
  display->handlers[DISPH_ONDROPFILE].function = kNoHandler;
}

}  // namespace
}  // namespace sdltest

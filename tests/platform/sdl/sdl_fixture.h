// One display with a window on SDL's dummy video driver in a scene of its own, a controllable
// clock, the player's pass of the pump over that scene, and readers for the event queue; each
// test starts the desktop afresh.
#pragma once
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "display/display.h"
#include "display/displaywindow.h"
#include "display/scene.h"
#include "platform/desktop.h"
#include "platform/eventpump.h"
#include "platform/sdl/sdl_internal.h"
#include "platform/timers.h"
#include "platform/window.h"
#include "player/event/event_pump.h"
#include "runtime/eventqueue.h"

namespace sdltest {

struct FakeClock {
  static inline uint64_t now = 1000000000;  // microseconds
  static inline uint64_t slept = 0;
  static void Now(qmTimeval *out) { *out = {uint32_t(now / 1000000), uint32_t(now % 1000000)}; }
  static void Sleep(uint32_t us) {
    slept += us;
    now += us;
  }
  static void Advance(uint64_t us) { now += us; }
};

// A queued event: type and its three arguments.
struct Ev {
  uint32_t type, a1, a2, a3;
  bool operator==(const Ev &o) const = default;
};

inline std::ostream &operator<<(std::ostream &os, const Ev &e) {
  return os << "{" << e.type << "," << e.a1 << "," << e.a2 << "," << e.a3 << "}";
}

inline std::vector<Ev> TakeEvents() {
  std::vector<Ev> out;
  qmQueuedEvent m;
  for (uint32_t i = 0; PeekEvent(i, &m, 0); i++) {
    uint32_t a3 = m.type == 3 ? m.keyCode : (m.type == 1 || m.type == 2 || m.type == 16) ? m.buttons : 0;
    uint32_t a1 = m.type == 3 ? m.keyDown : m.arg1;
    out.push_back({m.type, a1, m.arg2, a3});
  }
  RemoveEvents(kRemoveAllEvents, 1);
  return out;
}

class DesktopTest : public testing::Test {
 public:
  void SetUp() override { StartDesktop("dummy", true); }
  void TearDown() override { StopDesktop(); }

  void StartDesktop(const char *driver, bool fakeClock) {
    setenv("SDL_VIDEODRIVER", driver, 1);
    if (fakeClock) SetDesktopClock(FakeClock::Now, FakeClock::Sleep);
    FakeClock::slept = 0;
    InitEventQueue();
    ASSERT_EQ(NewScene(nullptr, &scene), 0u);  // the run's scene from now on
    ASSERT_EQ(InitDesktop(), 0u) << SDL_GetError();
    display = NewDisplayRecord(1);
    ASSERT_NE(display, nullptr);
    display->width = 320;
    display->height = 200;
    LinkDisplay(scene, display);
    scene->current = display;
    ASSERT_EQ(CreatePlatformWindowRecord(display), 0u);
    ASSERT_EQ(OpenPlatformWindow(display, 1, nullptr, nullptr, int32_t(scene->fullScreen)), 0u);
    display->state = DISPSTATE_OPEN;
    pw = display->platform;
    Settle();
  }

  void StopDesktop() {
    if (display) {
      FreePlatformWindowRecord(display);
      UnlinkDisplay(scene, display);
      FreeDisplayRecord(display);
      display = nullptr;
    }
    FreeScene(scene);
    scene = nullptr;
    FreeEventQueue();
    ShutdownDesktop();
    SDL_Quit();
    SetDesktopClock(nullptr, nullptr);
  }

  // Drops whatever the window system queued while the window opened.
  void Settle() {
    SDL_PumpEvents();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    RemoveEvents(kRemoveAllEvents, 1);
  }

  // The player's pass of the pump over the fixture's scene; vm may be null.
  int Pump(VmState *vm = nullptr) { return PumpSceneEvents(vm, scene); }
  int PumpIfDue() { return PumpSceneEventsIfDue(nullptr, scene); }
  uint32_t Wait(uint32_t ms) { return WaitSceneEvents(nullptr, scene, ms); }

  // Pumps until SDL's queue is empty; the clock moves past the 10 ms rule before each pump.
  int PumpAll() {
    int quit = 0;
    for (int i = 0; i < 1000; i++) {
      FakeClock::Advance(20000);
      quit |= Pump();
      if (SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) <= 0) break;
    }
    return quit;
  }

  void Push(SDL_Event e) { ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError(); }

  SDL_Event Key(bool down, SDL_Keycode sym, uint16_t mod = 0, bool repeat = false) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.windowID = pw->windowId;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.repeat = repeat ? 1 : 0;
    e.key.keysym.sym = sym;
    e.key.keysym.scancode = SDL_GetScancodeFromKey(sym);
    if (e.key.keysym.scancode == SDL_SCANCODE_UNKNOWN) e.key.keysym.scancode = SDL_SCANCODE_NONUSBACKSLASH;
    e.key.keysym.mod = mod;
    return e;
  }
  SDL_Event Text(const char *utf8) {
    SDL_Event e{};
    e.type = SDL_TEXTINPUT;
    e.text.windowID = pw->windowId;
    SDL_strlcpy(e.text.text, utf8, sizeof e.text.text);
    return e;
  }
  SDL_Event Button(bool down, uint8_t button, int x, int y) {
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.windowID = pw->windowId;
    e.button.button = button;
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.button.x = x;
    e.button.y = y;
    return e;
  }
  SDL_Event Wheel(int x, int y, bool flipped = false) {
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.windowID = pw->windowId;
    e.wheel.x = x;
    e.wheel.y = y;
    e.wheel.direction = flipped ? SDL_MOUSEWHEEL_FLIPPED : SDL_MOUSEWHEEL_NORMAL;
    return e;
  }
  SDL_Event Window(uint8_t event, int d1 = 0, int d2 = 0) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = pw->windowId;
    e.window.event = event;
    e.window.data1 = d1;
    e.window.data2 = d2;
    return e;
  }
  SDL_Event Motion(int x, int y) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = pw->windowId;
    e.motion.x = x;
    e.motion.y = y;
    return e;
  }

  qmScene *scene = nullptr;
  qmDisplay *display = nullptr;
  qmPlatformWindow *pw = nullptr;
};

}  // namespace sdltest

// A player VM with one open 320 x 200 display on the desktop layer's dummy driver, SDL input
// pushed into its window, and button handlers that log what they are called with.
#pragma once
#include <SDL.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "display/display.h"
#include "platform/eventpump.h"
#include "player/event/event_pump.h"
#include "platform/sdl/sdl_internal.h"
#include "runtime/auxlib.h"
#include "runtime/eventqueue.h"
#include "tests/display/display_vm.h"

struct InputVm : DisplayVm {
  qmDisplay *d = nullptr;

  InputVm() {
    Log().clear();
    Actions().clear();
    EXPECT_EQ(Create(1, [&] { Set("width", 320), Set("height", 200); }).code, 0u);
    EXPECT_EQ(Call("OpenDisplay", {1}).code, 0u);
    d = Display(1);
    if (!d || !d->platform) {
      ADD_FAILURE() << "no window";
      return;
    }
    SDL_PumpEvents();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    PumpAll();
    RemoveEvents(kRemoveAllEvents, 1);
  }

  static std::vector<std::string> &Log() {
    static std::vector<std::string> log;
    return log;
  }
  // What a named handler does after it logged its call.
  static std::map<std::string, std::function<void(VmState *)>> &Actions() {
    static std::map<std::string, std::function<void(VmState *)>> actions;
    return actions;
  }

  // Logs "name:action:id" ("name:action" without a number id), then runs the name's action.
  static uint32_t Handler(VmState *L) {
    std::string name = vm_tostring(L, vm_upvalueindex(1));
    std::string line = name + ":";
    vm_pushstring(L, "action");
    vm_gettable(L, 1);
    line += vm_tostring(L, -1) ? vm_tostring(L, -1) : "?";
    vm_pushstring(L, "id");
    vm_gettable(L, 1);
    if (vm_type(L, -1) == VM_TNUMBER) line += ":" + std::to_string(static_cast<int>(vm_tonumber(L, -1)));
    vm_pop(L, 2);
    Log().push_back(line);
    auto it = Actions().find(name);
    if (it != Actions().end()) it->second(L);
    return 0;
  }
  void PushHandler(const std::string &name) {
    vm_pushstring(L, name.c_str());
    vm_pushcclosure(L, Handler, 1);
  }

  // MakeButton(id, SIMPLEBUTTON, x, y, w, h, {event = handler "name"...}); nil id: automatic.
  CommandCall MakeButton(double id, int x, int y, int w, int h, const std::vector<std::string> &events,
                         const std::string &name) {
    return CallWith("makebutton", [&] {
      if (id < 0) vm_pushnil(L);
      else vm_pushnumber(L, id);
      for (double v : {0.0, double(x), double(y), double(w), double(h)}) vm_pushnumber(L, v);
      vm_newtable(L);
      for (const std::string &e : events) {
        vm_pushstring(L, e.c_str());
        PushHandler(name);
        vm_settable(L, -3);
      }
      return 7;
    });
  }

  // Every SDL event queued is handled; the pump takes one per call.
  int PumpAll() {
    int quit = 0;
    for (int i = 0; i < 1000; i++) {
      quit |= PumpEvents(L);
      if (SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) <= 0) break;
    }
    return quit;
  }
  // CheckEvent until nothing is dispatched; the actions reported, in order.
  std::vector<std::string> Drain() {
    std::vector<std::string> actions;
    for (int i = 0; i < 100; i++) {
      vm_settop(L, 0);
      vm_pushstring(L, "checkevent");
      vm_gettable(L, VM_GLOBALSINDEX);
      if (vm_pcall(L, 0, 1, 0) != 0) {
        actions.push_back("error");
        break;
      }
      vm_pushstring(L, "action");
      vm_gettable(L, 1);
      std::string a = vm_tostring(L, -1) ? vm_tostring(L, -1) : "";
      if (a.empty()) break;
      actions.push_back(a);
    }
    vm_settop(L, 0);
    return actions;
  }

  void Push(SDL_Event e) { ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError(); }
  SDL_Event Motion(int x, int y) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = d->platform->windowId;
    e.motion.x = x;
    e.motion.y = y;
    return e;
  }
  SDL_Event Button(bool down, uint8_t button, int x, int y) {
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.windowID = d->platform->windowId;
    e.button.button = button;
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.button.x = x;
    e.button.y = y;
    return e;
  }
  SDL_Event Key(bool down, SDL_Keycode sym, bool repeat = false) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.windowID = d->platform->windowId;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.repeat = repeat ? 1 : 0;
    e.key.keysym.sym = sym;
    e.key.keysym.scancode = SDL_GetScancodeFromKey(sym);
    return e;
  }
  SDL_Event Window(uint8_t event) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = d->platform->windowId;
    e.window.event = event;
    return e;
  }
  SDL_Event Quit() {
    SDL_Event e{};
    e.type = SDL_QUIT;
    return e;
  }
  // Moves the pointer there and dispatches what follows: the hover pass reads the pointer when
  // it runs, so each step is dispatched before the next.
  void MoveTo(int x, int y) {
    Push(Motion(x, y));
    PumpAll();
    Drain();
  }
  void Press(bool down, int x, int y, uint8_t button = SDL_BUTTON_LEFT) {
    Push(Button(down, button, x, y));
    PumpAll();
    Drain();
  }
  void Click(int x, int y, uint8_t button = SDL_BUTTON_LEFT) {
    Press(true, x, y, button);
    Press(false, x, y, button);
  }
};

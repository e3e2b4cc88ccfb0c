// A player VM with every library, its display services wired, on the desktop layer's dummy
// driver; readers of what a window shows.
#pragma once
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/scene.h"
#include "platform/desktop.h"
#include "platform/eventpump.h"
#include "platform/sdl/sdl_internal.h"
#include "player/wiring.h"
#include "runtime/context.h"
#include "runtime/eventqueue.h"
#include "tests/player/math/math_test_vm.h"

struct DisplayVm : MathVm {
  explicit DisplayVm(const char *driver = "dummy") {
    setenv("SDL_VIDEODRIVER", driver, 1);
    InitEventQueue();
    WireDisplayServices(L);
    running = GetScene(L);
  }
  ~DisplayVm() {
    Close();
    running = nullptr;
    FreeEventQueue();
    ShutdownDesktop();
    SDL_Quit();
  }

  // Calls the command with the arguments that push pushes (a table builder and the like).
  CommandCall CallWith(const char *name, const std::function<int()> &push) {
    CommandCall r;
    vm_settop(L, 0);
    vm_pushstring(L, name);
    vm_gettable(L, VM_GLOBALSINDEX);
    int n = push();
    r.code = vm_pcall(L, n, VM_MULTRET, 0);
    if (r.code) vm_setendrequested(L, 0);
    else
      for (int i = 1; i <= vm_gettop(L); i++) r.results.push_back(vm_tonumber(L, i));
    vm_settop(L, 0);
    return r;
  }
  // CreateDisplay(id, table) with the table filled by fill (on the stack top).
  CommandCall Create(double id, const std::function<void()> &fill) {
    return CallWith("createdisplay", [&] {
      vm_pushnumber(L, id);
      vm_newtable(L);
      fill();
      return 2;
    });
  }
  void Set(const char *key, double v) {
    vm_pushstring(L, key);
    vm_pushnumber(L, v);
    vm_settable(L, -3);
  }
  void SetText(const char *key, const char *v) {
    vm_pushstring(L, key);
    vm_pushstring(L, v);
    vm_settable(L, -3);
  }

  // The scene of the VM made last, which the static readers look into.
  static inline qmScene *running = nullptr;
  qmScene *Scene() const { return GetScene(L); }

  static qmDisplay *Display(uint32_t id) {
    for (qmDisplay *d = running ? running->displays : nullptr; d; d = d->next)
      if (d->id == id && !d->handle) return d;
    return nullptr;
  }
  // The window's pixel as 0xRRGGBB.
  static uint32_t WindowPixel(qmDisplay *d, int x, int y) {
    SDL_Surface *s = SDL_GetWindowSurface(d->platform->window);
    const auto *row = static_cast<const uint8_t *>(s->pixels) + y * s->pitch;
    return reinterpret_cast<const uint32_t *>(row)[x] & 0xFFFFFF;
  }
  // A bitmap's pixel as 0xRRGGBB.
  static uint32_t BitmapPixel(const qmBitmap *b, int x, int y) {
    return __builtin_bswap32(b->pixels[y * (b->bytesPerRow / 4) + x]) & 0xFFFFFF;
  }
};

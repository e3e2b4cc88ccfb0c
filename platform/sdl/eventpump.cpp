#include "platform/eventpump.h"

#include <ctime>

#include "display/display.h"
#include "display/displayops.h"
#include "platform/desktop.h"
#include "platform/present.h"
#include "platform/process.h"
#include "platform/sdl/sdl_internal.h"
#include "platform/timers.h"
#include "platform/window.h"
#include "runtime/errcodes.h"
#include "runtime/vm/vm_state.h"

namespace {
constexpr uint64_t kQuietPumpMicros = 10000;    // a pump this soon after the last one with nothing queued does little
constexpr uint64_t kLineCheckMicros = 4000;     // the per-line check pumps at most this often
constexpr uint64_t kAudioUpdateMicros = 1000000;
constexpr uint64_t kIdleWaitCapMicros = 1000000;  // a deferred frame or a timer ends the wait sooner

uint64_t gLastPump = 0;
uint64_t gLastAudio = 0;
uint64_t gNextLineCheck = 0;
void (*gDeliverAudio)() = nullptr;
void (*gUpdateAudio)() = nullptr;

// The per-line clock: the coarse monotonic clock costs a few nanoseconds, and a tick of a few
// milliseconds is all the throttle needs.
inline uint64_t LineCheckMicros() {
  if (!DesktopClockIsReal()) return DesktopMicros();
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec) / 1000u;
}

// Takes the first queued event that is not a wake-up.
bool TakeSystemEvent(SDL_Event *e) {
  while (SDL_PeepEvents(e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) == 1) {
    if (e->type != gDesktop.wakeEventType) return true;
    gWakePending.store(0, std::memory_order_relaxed);
  }
  return false;
}

bool EvaluateDisplayRequests(VmState *vm) {
  bool quit = false;
  for (qmDisplay *d = DisplayList, *next; d; d = next) {
    next = d->next;
    qmPlatformWindow *pw = d->platform;
    if (!pw) continue;
    if (d->leftButton && gDesktop.leftMouseQuit) quit = true;
    if (pw->escapeSeen && gDesktop.escapeQuit) quit = true;
    if (pw->ctrlCSeen && gDesktop.ctrlCQuit) quit = true;
    if (pw->pendingScreenMode != -1) {
      int32_t mode = pw->pendingScreenMode;
      pw->pendingScreenMode = -1;
      ApplyScreenMode(ActiveScene, vm, uint32_t(mode), d->width, d->height);
    }
    if (pw->resizePending) ResizeDisplay(vm, d, kKeepPosition, kKeepPosition, d->width, d->height, 0, d->scaleMode);
    if (pw->closeRequested && !d->closeHandled) quit = true;
    pw->closeRequested = 0;
    pw->resizePending = 0;
    pw->ctrlCSeen = 0;
    pw->escapeSeen = 0;
  }
  return quit;
}
}  // namespace

void SetAudioPumpHooks(void (*deliverEvents)(), void (*updateChannels)()) {
  gDeliverAudio = deliverEvents;
  gUpdateAudio = updateChannels;
}

bool PlatformQuitRequested() { return gStickyQuit.load(std::memory_order_relaxed) != 0; }

int PumpPlatformEvents(VmState *vm) {
  uint64_t now = DesktopMicros();
  ServicePlatformTimers();
  bool queued = false;
  if (gDesktop.started) {
    SDL_PumpEvents();
    DrainMouseMotion();
    queued = SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0;
  } else {
    gWakePending.store(0, std::memory_order_relaxed);  // no queue to carry the wake-up
  }
  if (!queued && now - gLastPump < kQuietPumpMicros) {
    FlushDisplayUpdates(ActiveScene);
    PushPendingWindowUpdates();
    return PlatformQuitRequested();
  }

  FlushDisplayUpdates(ActiveScene);
  SDL_Event e;
  if (queued && TakeSystemEvent(&e)) HandleSystemEvent(&e);

  if (EvaluateDisplayRequests(vm)) gStickyQuit.store(1, std::memory_order_relaxed);
  int result = PlatformQuitRequested();
  if (result && vm) vm_setendrequested(vm, 1);

  if (gDeliverAudio) gDeliverAudio();
  if (now - gLastAudio >= kAudioUpdateMicros) {
    if (gUpdateAudio) gUpdateAudio();
    gLastAudio = now;
  }
  PushPendingWindowUpdates();
  gLastPump = now;
  return result;
}

int PumpPlatformEventsIfDue(VmState *vm) {
  uint64_t now = LineCheckMicros();
  if (now < gNextLineCheck && gWakePending.load(std::memory_order_relaxed) == 0)
    return int(gStickyQuit.load(std::memory_order_relaxed));
  gNextLineCheck = now + kLineCheckMicros;
  return PumpPlatformEvents(vm);
}

namespace {
// Waits until a system event is queued or `limit` microseconds have passed, waking for timers
// and deferred frames on the way. True when an event is queued or a timer fired.
bool WaitForEventOrTime(uint64_t limit) {
  uint64_t start = DesktopMicros();
  for (;;) {
    if (ServicePlatformTimers()) return true;
    if (IsQuitRequested()) return true;  // a signal: the caller's pump must get to see it
    uint64_t now = DesktopMicros();
    uint64_t passed = now - start;
    if (passed >= limit) return false;
    uint64_t wait = limit - passed;
    uint64_t timer = MicrosToNextTimer();
    if (timer < wait) wait = timer;
    if (wait > kIdleWaitCapMicros) wait = kIdleWaitCapMicros;
    int ms = int((wait + 999) / 1000);
    if (!gDesktop.started) {
      DesktopSleepMicros(uint32_t(wait));
      continue;
    }
    PushPendingWindowUpdates();
    if (SDL_WaitEventTimeout(nullptr, ms)) return true;
  }
}
}  // namespace

uint32_t WaitPlatformEvent() {
  WaitForEventOrTime(UINT64_MAX);
  return 0;
}

void WakeMainLoop() {
  if (gWakePending.exchange(1, std::memory_order_acq_rel) != 0) return;  // one queued wake-up is enough
  if (!gDesktop.started) return;
  SDL_Event e{};
  e.type = gDesktop.wakeEventType;
  SDL_PushEvent(&e);
}

uint32_t WaitWithEventTimer(VmState *vm, uint32_t ms) {
  uint64_t end = DesktopMicros() + uint64_t(ms) * 1000u;
  for (;;) {
    uint64_t now = DesktopMicros();
    if (now >= end) return 0;
    WaitForEventOrTime(end - now);
    if (DesktopMicros() >= end) return 0;
    if (PumpPlatformEvents(vm)) return ERR_USERABORT;
    if (IsQuitRequested()) {
      if (vm) vm_setendrequested(vm, 1);
      return ERR_USERABORT;
    }
  }
}

#include "platform/eventpump.h"

#include <ctime>

#include "platform/desktop.h"
#include "platform/present.h"
#include "platform/process.h"
#include "platform/sdl/sdl_internal.h"
#include "platform/timers.h"
#include "runtime/errcodes.h"

namespace {
constexpr uint64_t kQuietPumpMicros = 10000;    // a pump this soon after the last one with nothing queued does little
constexpr uint64_t kLineCheckMicros = 4000;     // the per-line check pumps at most this often
constexpr uint64_t kSecondMicros = 1000000;  // the clients' once-a-second upkeep
constexpr uint64_t kIdleWaitCapMicros = 1000000;  // a deferred frame or a timer ends the wait sooner

uint64_t gLastPump = 0;
uint64_t gLastSecond = 0;
uint64_t gNextLineCheck = 0;

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

// The quit keys the window handler saw since the last full pump, against the script's switches.
bool EvaluateQuitKeys() {
  bool quit = false;
  for (qmPlatformWindow *pw = gWindows; pw; pw = pw->next) {
    if (pw->escapeSeen && gDesktop.escapeQuit) quit = true;
    if (pw->ctrlCSeen && gDesktop.ctrlCQuit) quit = true;
    pw->ctrlCSeen = 0;
    pw->escapeSeen = 0;
  }
  return quit;
}

void FlushUpdates(const qmPumpClient *client) {
  if (client && client->flushUpdates) client->flushUpdates(client->data);
}

void ReportEndOfRun(const qmPumpClient *client) {
  if (!client || !client->report) return;
  qmPlatformReport r{};
  r.kind = REPORT_ENDRUN;
  r.micros = DesktopMicros();
  client->report(client->data, &r);
}
}  // namespace

bool PlatformQuitRequested() { return gStickyQuit.load(std::memory_order_relaxed) != 0; }

int32_t PlatformQuitSwitch(int32_t selector) {
  switch (selector) {
  case PLATATTR_CTRLCQUIT: return gDesktop.ctrlCQuit;
  case PLATATTR_LEFTMOUSEQUIT: return gDesktop.leftMouseQuit;
  case PLATATTR_ESCAPEQUIT: return gDesktop.escapeQuit;
  default: return 0;
  }
}

int PumpPlatformEvents(const qmPumpClient *client) {
  uint64_t now = DesktopMicros();
  ServicePlatformTimers();
  bool queued = false;
  if (gDesktop.started) {
    SDL_PumpEvents();
    DrainMouseMotion(client);
    queued = SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0;
  } else {
    gWakePending.store(0, std::memory_order_relaxed);  // no queue to carry the wake-up
  }
  if (!queued && now - gLastPump < kQuietPumpMicros) {
    FlushUpdates(client);
    PushPendingWindowUpdates();
    return PlatformQuitRequested();
  }

  FlushUpdates(client);
  SDL_Event e;
  bool quit = queued && TakeSystemEvent(&e) && HandleSystemEvent(&e, client);
  if (EvaluateQuitKeys()) quit = true;
  const int secondDue = now - gLastSecond >= kSecondMicros ? 1 : 0;
  if (secondDue) gLastSecond = now;
  if (client && client->endPass && client->endPass(client->data, secondDue)) quit = true;
  if (quit) gStickyQuit.store(1, std::memory_order_relaxed);
  int result = PlatformQuitRequested();
  if (result) ReportEndOfRun(client);
  PushPendingWindowUpdates();
  gLastPump = now;
  return result;
}

int PumpPlatformEventsIfDue(const qmPumpClient *client) {
  uint64_t now = LineCheckMicros();
  if (now < gNextLineCheck && gWakePending.load(std::memory_order_relaxed) == 0)
    return int(gStickyQuit.load(std::memory_order_relaxed));
  gNextLineCheck = now + kLineCheckMicros;
  return PumpPlatformEvents(client);
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

uint32_t WaitWithEventTimer(const qmPumpClient *client, uint32_t ms) {
  uint64_t end = DesktopMicros() + uint64_t(ms) * 1000u;
  for (;;) {
    uint64_t now = DesktopMicros();
    if (now >= end) return 0;
    WaitForEventOrTime(end - now);
    if (DesktopMicros() >= end) return 0;
    if (PumpPlatformEvents(client)) return ERR_USERABORT;
    if (IsQuitRequested()) {
      ReportEndOfRun(client);
      return ERR_USERABORT;
    }
  }
}

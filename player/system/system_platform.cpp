#include "player/system/system_platform.h"

#include "platform/launch.h"

namespace {

qmSystemRequesters gRequesters{};
qmSystemClipboard gClipboard{};
qmSystemLayers gLayers{};
uint32_t (*gOpenURL)(const char *url) = OpenURLInBrowser;
void (*gClock)(qmTimeval *out) = GetTimeval;
uint32_t (*gTimedWait)(VmState *L, uint32_t ms) = nullptr;
void (*gPluginLister)(VmState *L) = nullptr;

}  // namespace

qmSystemRequesters *SystemRequesters() { return &gRequesters; }
qmSystemClipboard *SystemClipboard() { return &gClipboard; }
qmSystemLayers *SystemLayers() { return &gLayers; }

void SetOpenURLHandler(uint32_t (*open)(const char *url)) { gOpenURL = open ? open : OpenURLInBrowser; }
uint32_t SystemOpenURL(const char *url) { return gOpenURL(url); }

void SetSystemClock(void (*now)(qmTimeval *out)) { gClock = now ? now : GetTimeval; }
void SystemClockNow(qmTimeval *out) { gClock(out); }

void SetSystemTimedWait(uint32_t (*wait)(VmState *L, uint32_t ms)) { gTimedWait = wait; }

uint32_t SystemTimedWait(VmState *L, uint32_t ms) {
  if (gTimedWait) return gTimedWait(L, ms);
  // Sleep in slices so that a long wait does not overflow the sleep's signed milliseconds.
  while (ms > 0) {
    uint32_t slice = ms > 1000000 ? 1000000 : ms;
    SleepMilliseconds(static_cast<int32_t>(slice));
    ms -= slice;
  }
  return 0;
}

void SetPluginInfoLister(void (*list)(VmState *L)) { gPluginLister = list; }
void ListPluginInfo(VmState *L) {
  if (gPluginLister) gPluginLister(L);
}

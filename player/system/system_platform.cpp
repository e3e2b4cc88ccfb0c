#include "player/system/system_platform.h"

#include "platform/launch.h"

namespace {

uint32_t SleepWithoutEvents(VmState *, uint32_t ms) {
  // Sleep in slices so that a long wait does not overflow the sleep's signed milliseconds.
  while (ms > 0) {
    uint32_t slice = ms > 1000000 ? 1000000 : ms;
    SleepMilliseconds(static_cast<int32_t>(slice));
    ms -= slice;
  }
  return 0;
}

}  // namespace

void SetDefaultSystemServices(qmSystemServices *s) {
  *s = qmSystemServices{};
  s->openURL = OpenURLInBrowser;
  s->clock = GetTimeval;
  s->timedWait = SleepWithoutEvents;
  s->program = qmProgramInfo{0, 0, "", "", "", nullptr, 1};
}

#include "platform/polltimer.h"

#include "runtime/errcodes.h"

namespace {
// Used from the main thread only, like the interval list itself.
uint32_t clientSlots[2];
qmAddIntervalFn addInterval;
qmRemoveIntervalFn removeInterval;
}  // namespace

void InstallPollTimerHooks(qmAddIntervalFn add, qmRemoveIntervalFn remove) {
  addInterval = add;
  removeInterval = remove;
}

uint32_t AcquirePollTimer(VmState *vm, uint32_t client) {
  if (client > 1) return ERR_WRONGUSAGE;
  if (clientSlots[0] || clientSlots[1]) {
    clientSlots[client] = 1;
    return 0;
  }
  if (addInterval) {
    uint32_t rc = addInterval(vm, &kPollIntervalId, kPollIntervalMs, 1);
    if (rc != 0) return rc;
  }
  clientSlots[client] = 1;
  return 0;
}

void ReleasePollTimer(VmState *vm, uint32_t client) {
  // A release without an acquire must not remove an interval that another client still uses
  // or that was never registered.
  if (client > 1 || !clientSlots[client]) return;
  clientSlots[client] = 0;
  if (!clientSlots[0] && !clientSlots[1] && removeInterval) removeInterval(vm, &kPollIntervalId);
}

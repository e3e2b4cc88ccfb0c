#include "player/serviceevents.h"

#include "platform/process.h"
#include "platform/time.h"
#include "runtime/errcodes.h"

namespace {

// The platform's events are pumped at most every 10 ms; between pumps only the clock is read.
constexpr uint32_t kPumpIntervalMicros = 10000;
qmTimeval gLastPump{};

}  // namespace

void ServiceEvents(VmState *, VmDebug *, uint32_t *error) {
  qmTimeval now;
  GetTimeval(&now);
  qmTimeval since = now;
  SubTimeval(&since, &gLastPump);
  if (since.seconds == 0 && since.microseconds < kPumpIntervalMicros && !IsQuitRequested()) return;
  gLastPump = now;
  // The desktop's event pump (the event library's check) joins here; until then only the quit
  // request is seen.
  if (IsQuitRequested()) *error = ERR_USERABORT;
}

// The shared 20 ms polling interval that keeps the event dispatcher running while the sound
// library waits for end-of-sound events or the event library has handlers installed.
#pragma once
#include <cstdint>

struct VmState;

enum : uint32_t {
  POLL_CLIENT_SOUND = 0,
  POLL_CLIENT_EVENTS = 1,
};

// Names the shared interval in the event library's interval list. The event library must keep
// this id apart from the ids it gives its own intervals.
struct qmIntervalId {
  uint32_t id;
  uint32_t handle;
};
inline constexpr qmIntervalId kPollIntervalId{0, 1};
inline constexpr uint32_t kPollIntervalMs = 20;

// The event library installs these when it starts: add registers an interval of the given
// period with no script handler (noHandler = 1) and returns 0 or an error code.
using qmAddIntervalFn = uint32_t (*)(VmState *vm, const qmIntervalId *id, uint32_t ms,
                                     uint32_t noHandler);
using qmRemoveIntervalFn = void (*)(VmState *vm, const qmIntervalId *id);
void InstallPollTimerHooks(qmAddIntervalFn add, qmRemoveIntervalFn remove);

// The first client registers the interval (its error code is returned unchanged and the
// client stays unregistered); later ones only mark themselves. ERR_WRONGUSAGE for an unknown
// client. Without installed hooks there is no interval list to keep running: 0.
uint32_t AcquirePollTimer(VmState *vm, uint32_t client);
// The last client to leave removes the interval.
void ReleasePollTimer(VmState *vm, uint32_t client);

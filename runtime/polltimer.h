// The shared 20 ms polling interval that keeps the event dispatcher running while the sound
// library waits for end-of-sound events or the event library has network handlers installed.
// It is an interval of the event library's own list that calls no script function.
#pragma once
#include <cstdint>

#include "runtime/cmdargs.h"

struct VmState;

enum : uint32_t {
  POLL_CLIENT_SOUND = 0,
  POLL_CLIENT_EVENTS = 1,
  POLL_CLIENT_COUNT = 2,
};

// Its id in the interval list: the handle 1 is never the address of a record, so no interval
// of the script's can have it.
inline constexpr qmObjectId kPollIntervalId{0, 1};
inline constexpr uint32_t kPollIntervalMs = 20;

// The first client adds the interval (its error is returned and the client stays
// unregistered); later ones only mark themselves. ERR_WRONGUSAGE for an unknown client or
// before the event library opened.
uint32_t AcquirePollTimer(VmState *L, uint32_t client);
// The last client to leave removes the interval; a release without an acquire does nothing.
void ReleasePollTimer(VmState *L, uint32_t client);

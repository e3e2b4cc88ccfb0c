// A script handler installed for an event: registry references of the function and of the
// user data that travels with it.
#pragma once
#include <cstdint>

inline constexpr int32_t kNoHandler = -1;

struct qmHandlerSlot {
  int32_t function;  // kNoHandler when none is installed
  int32_t userData;  // kNoHandler when none was given
};

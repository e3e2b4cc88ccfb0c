// The "event" library of script commands: the event loop, handler installation, intervals and
// timeouts, label events.
#pragma once

#include "runtime/library.h"

extern const qmLibrary kEventLibrary;

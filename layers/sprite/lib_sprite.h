// The "sprite" library of script commands.
#pragma once

#include "runtime/library.h"

extern const qmLibrary kSpriteLibrary;

#pragma once
#include "runtime/library.h"

extern const qmLibrary kVideoLibrary;

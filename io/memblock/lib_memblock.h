// The "memblock" library: raw memory blocks, their values, and their way to and from files.
#pragma once
#include "runtime/library.h"

extern const qmLibrary kMemblockLibrary;

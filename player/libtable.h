// The script libraries of the player, in the order start-up opens them.
#pragma once

#include "runtime/library.h"

// The table's order is the order the libraries' commands are registered, their inits run and
// the command list is exported in; shut-down goes by each row's free rank instead, and by the
// table's order only among rows of one rank. Null-ended.
extern const qmLibrary *const kPlayerLibraries[];

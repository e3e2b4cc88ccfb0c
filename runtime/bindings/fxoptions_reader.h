// The options table of the transition commands read into the record the effect runner takes.
#pragma once

#include "transitions/fxrequest.h"

struct VmState;

// Defaults first (a random effect at normal speed with a random parameter, undo level 1), then
// the keys the table at stack index t gives; a key that is not a number raises ERR_NUMTABLEARG.
void ReadFxOptions(VmState *L, int t, qmFxOptions *out);

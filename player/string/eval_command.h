// The script command Eval (expression [, table]): one number. The string library registers it.
#pragma once
#include <cstdint>

struct VmState;

uint32_t StrEval(VmState *L);

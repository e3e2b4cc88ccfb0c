#include "player/lib_math.h"

uint32_t InitMathLibrary(VmState *) { return 0; }
void FreeMathLibrary(VmState *) {}

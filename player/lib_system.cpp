#include "player/lib_system.h"

uint32_t InitSystemLibrary(VmState *) { return 0; }
void FreeSystemLibrary(VmState *) {}

#include "player/lib_string.h"

uint32_t InitStringLibrary(VmState *) { return 0; }
void FreeStringLibrary(VmState *) {}

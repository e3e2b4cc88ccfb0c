#include "platform/hooks.h"

void ApplyPlatformOptions() {}

uint32_t OpenConsoleOutput() { return 0; }

void CloseConsoleOutput() {}

uint32_t CallEmulatedPluginEntry(void *) { return 0; }

void PrepareAudioThread() {}

void FlushPlatformInput(qmDisplay *) {}

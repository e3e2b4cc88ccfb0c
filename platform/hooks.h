// Points where other platforms need to act and this one does not; callers call them anyway so
// that the start-up, plug-in, audio and input code reads the same everywhere.
#pragma once
#include <cstdint>

struct qmDisplay;

// After the start-up options are applied.
void ApplyPlatformOptions();
// Before the banner; a non-zero result is returned as an error code. 0 here.
uint32_t OpenConsoleOutput();
// When the first display opens and after the last console message.
void CloseConsoleOutput();
// Plug-in entries of the other calling kind, which the loader never produces here; 0.
uint32_t CallEmulatedPluginEntry(void *argumentBlock);
// First call of a video's audio thread.
void PrepareAudioThread();
// After a display's key and button states are cleared.
void FlushPlatformInput(qmDisplay *display);

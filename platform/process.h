// Process start and end of the platform layer: the start-up check, the folder that stands for
// the application bundle, the argument string and document a desktop may hand over at launch,
// and the orderly shut-down.
#pragma once
#include <cstddef>
#include <cstdint>

// 0. Marks the layer initialised, takes the start time and turns SIGINT and SIGTERM into quit
// requests; a second such signal ends the process as if nothing had caught it.
uint32_t InitPlatform();
// Undoes InitPlatform; 0.
int ShutdownPlatform();

// A quit request from outside (SIGINT or SIGTERM, the desktop's quit): the event check ends the
// script with a user abort when it sees it. Async-signal-safe to set.
void RequestQuit();
int IsQuitRequested();
void ClearQuitRequest();

// The folder of the running executable: its resources live beside it (kMaxPathLength + 1 bytes).
void GetBundlePath(char *out);
// Desktops here pass no separate argument string: out is emptied.
void GetBundleArguments(uint32_t, uint32_t, char *out, size_t size);
// Documents arrive as ordinary arguments here: null.
const char *GetStartupDocument();

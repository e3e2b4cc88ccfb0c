// Frame pacing: the frame-rate limit and the end of a frame.
#pragma once
#include <cstdint>

struct qmScene;

// Brings the scene's current display's window up to date and waits out the rest of the frame
// time of the frame-rate limit (the screen's refresh rate without one).
void FlushDisplayFrame(const qmScene *scene);
// n frames per second; 0 or less switches the limit off.
void SetFrameRateLimit(int32_t n);
// The limit; 0 when none is set.
int32_t GetFrameRateLimit();

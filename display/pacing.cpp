#include "display/pacing.h"

#include "display/display.h"
#include "display/displaywindow.h"
#include "display/scene.h"
#include "platform/desktop.h"

void FlushDisplayFrame(const qmScene *scene) {
  if (scene && scene->current) FlushDisplayWindow(scene->current);
}

void SetFrameRateLimit(int32_t n) { SetPlatformAttr(PLATATTR_FRAMERATE, n > 0 ? n : 0); }

int32_t GetFrameRateLimit() { return FrameRateLimitOn() ? GetCurrentFrameRate() : 0; }

#include "graphics/transition_kernels.h"

void ThresholdPlane(const qmThresholdRequest *, int32_t) {}

void WavePixels(qmWaveRequest *req) {
  req->linesCopied = 0;
  req->firstLine = kNoWaveLine;
  req->positionReached = req->position;
}

void CopyStripPixels(const qmWaveRequest *, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) {}

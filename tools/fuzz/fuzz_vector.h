// What the vector targets share: the vector plug-in's entries, compiled into the target (so
// that its code is measured too), and the reader of the input's bytes.
#pragma once
#include <cstdint>

#include "graphics/vector_requests.h"
#include "tools/fuzz/fuzz_bytes.h"

extern "C" {
int32_t GetPathExtents(qmPathExtentsRequest *request);
int32_t DrawPath(qmDrawPathRequest *request);
int32_t TranslatePath(qmTranslatePathRequest *request);
int32_t GetCurrentPoint(const uint8_t *commands, const qmVectorStyle *style, double *x, double *y);
}

inline const qmVectorEngine kFuzzVectorEngine{GetPathExtents, DrawPath, TranslatePath, GetCurrentPoint, nullptr, nullptr};

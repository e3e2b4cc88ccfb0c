// The "vectorgraphics" library: path objects, their stroke settings and their drawing.
#pragma once
#include <cstdint>

#include "runtime/library.h"

extern const qmLibrary kVectorGraphicsLibrary;

struct VmState;
struct qmShapeRequest;
struct qmDisplayTags;
// The draw library's shape drawn as a path through the vector plug-in (ForcePathUse): 0 or an
// error. player/wiring.cpp puts it on the player context.
uint32_t VectorDrawShapeAsPath(VmState *L, const qmShapeRequest *req, const qmDisplayTags *tags);

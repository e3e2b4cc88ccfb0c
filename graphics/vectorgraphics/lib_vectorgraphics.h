// The "vectorgraphics" library: path objects, their stroke settings and their drawing.
#pragma once
#include "runtime/library.h"

extern const qmLibrary kVectorGraphicsLibrary;

// Layers of drawn things other than pictures: text blocks (TextOut, Print), shown text objects
// and lines keep what they were drawn from beside their picture; Cls takes every layer away.
#pragma once
#include <cstdint>

#include "layers/layer.h"

struct VmState;
struct qmImageLayer;
struct qmTextRequest;

// A text picture becomes a layer of its kind (TEXTOUT, PRINT or TEXTOBJECT) that keeps its own
// copy of the request. The planes of the record are handed over as with AddLayer. 0 or an
// error of AddLayer (ERR_MEM, ERR_NAMETOOLONG, ERR_NAMEUSED).
uint32_t LayersAddTextLayer(VmState *L, const qmTextRequest *request, qmImageLayer *layer);
// Frees the state's text request, when it has one.
void FreeLayerTextRequest(qmLayerState *state);
// Cls with layers on: every layer of the current picture goes. Drawing into the picture
// selected with SelectBGPic, the shown layers' rectangles go to its dirty list; on the display
// the caller restores the whole background. 0 or ERR_REMADLAYER.
uint32_t LayersRemoveAllLayers(VmState *L);
// The most recent layer of the type drawn for no object (the top-most such) goes, its area
// refreshed. 0, also when there is none.
uint32_t LayersRemoveLastLayer(VmState *L, int32_t type);

// Layers of drawn things other than pictures: text blocks (TextOut, Print), shown text objects
// and lines keep what they were drawn from beside their picture; Cls takes every layer away.
#pragma once
#include <cstdint>

#include "layers/layer.h"

struct qmScene;
struct qmImageLayer;
struct qmTextRequest;
struct qmTransform;

// The picture the image display core made becomes a layer of the current picture: its planes,
// the state record and what a text layer or a line keeps are handed over as with AddLayer; a
// transformed picture, or one a scaling display shows, is rendered into the layer's own state.
// 0 or an error of AddLayer or of the rendering.
uint32_t LayersAddImageLayer(qmScene *scene, qmImageLayer *request);
// A text picture becomes a layer of its kind (TEXTOUT, PRINT or TEXTOBJECT) that keeps its own
// copy of the request. The planes of the record are handed over as with AddLayer. 0 or an
// error of AddLayer (ERR_MEM, ERR_NAMETOOLONG, ERR_NAMEUSED).
uint32_t LayersAddTextLayer(qmScene *scene, const qmTextRequest *request, qmImageLayer *layer);
// Frees the state's text request, when it has one.
void FreeLayerTextRequest(qmLayerState *state);
// Cls with layers on: every layer of the current picture goes. Drawing into the picture
// selected with SelectBGPic, the shown layers' rectangles go to its dirty list; on the display
// the caller restores the whole background. 0 or ERR_REMADLAYER.
uint32_t LayersRemoveAllLayers(qmScene *scene);
// The most recent layer of the type drawn for no object (the top-most such) goes, its area
// refreshed. 0, also when there is none.
uint32_t LayersRemoveLastLayer(qmScene *scene, int32_t type);
// A text layer in a scalable font (TEXTOUT, PRINT, or TEXTOBJECT holding the object's request),
// scaled through a transform without shear, is drawn anew by the text renderer at the scaled
// size into N (turns and mirrors applied to that picture), as DrawLayerObject does it. m is
// the transform's matrix with rounding noise taken out. *drawn 0 when the layer is to be drawn
// from its picture (no scale, a font that cannot scale, shear, or a turn with unequal scales).
// 0 or an error of the renderer.
uint32_t DrawTextLayerObject(qmScene *scene, qmLayer *layer, qmLayerState *N, const qmTransform *transform,
                             const double m[4], uint32_t flags, int32_t *drawn);
// The border of a text layer (TEXTOUT, PRINT, TEXTOBJECT) thinner than 8 pixels, from the
// state's picture: the text's own shape widened by size (MakeTextLayerBorder), reaching size
// pixels left of and above it. false when the layer takes the common border; else *code is 0
// or ERR_MEM.
bool BuildTextLayerBorder(const qmLayer *layer, const qmLayerState *state, uint32_t rgb, int32_t size,
                          qmPlaneSet *out, uint32_t *code);

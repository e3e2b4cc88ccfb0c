// What a layer shows: its image from a state (filtered, transformed, its own or its object's),
// the transform matrix kept in step with scale, size and rotation, and the rendering of a layer
// through its transform into a state of its own.
#pragma once
#include <cstdint>

#include "graphics/vectorrender.h"
#include "layers/layer.h"

struct qmScene;

// The image of a state. Planes are borrowed: they belong to the state or to the object.
struct qmLayerImage {
  qmBitmap *bitmap;
  qmMask *mask;
  qmAlphaChannel *alpha;
  int32_t width, height;  // the image's size
  // Where the state's rectangle starts inside the image: a part's origin when the image is the
  // whole object, else 0.
  int32_t originX, originY;
  void *source;  // a brush's source image, else null
};

// The picture a state holds itself: filtered (with useFilters), else transformed (with
// useTransform), else its own; null when it holds none and shows its object's picture.
const qmPlaneSet *StatePicture(const qmLayerState *S, int32_t useFilters, int32_t useTransform);

// The image the layer shows from state S; frame -1 is the layer's current frame. The filtered
// image is built on first use when filters are asked for and enabled. 0, ERR_WRONGUSAGE for a
// layer being taken out or a kind without an image, or the object lookup's error.
uint32_t GetLayerImage(qmScene *scene, qmLayer *layer, qmLayerState *S, int32_t useFilters, int32_t useTransform,
                       int32_t frame, qmLayerImage *out);

// The kinds drawn by the shape commands: BOX, CIRCLE, ELLIPSE, LINE, POLYGON, ARC.
bool IsShapeType(int32_t type);
// The kinds drawn from text: TEXTOBJECT, TEXTOUT, PRINT.
bool IsTextType(int32_t type);
// 1 for a shape layer that knows its shape (BOX, CIRCLE, ELLIPSE, POLYGON, ARC, a LINE with its
// thickness): it is drawn again, not its picture turned, when transformed.
bool IsShapeLayer(const qmLayer *layer);
// The shape of state S untransformed at S's box corner: the layer's own picture. 0 or an error.
uint32_t RenderShapeLayerImage(qmScene *scene, const qmLayer *layer, const qmLayerState *S, qmShapeImage *out);

// The path of a path layer drawn by the vector plug-in through the matrix about the layer's
// anchor: the picture, and where the path's upright box lies in it. 0 or an error code.
uint32_t RenderPathLayer(qmScene *scene, const qmLayer *layer, const qmPathLayerData *path, const double matrix[4],
                         qmShapeImage *out, qmPathBox *box);

// Readies the layer as a drawing target and hands out the planes to draw into and their size.
// A layer that would draw its picture anew (text, shape, path, vector brush) becomes a layer of
// a pixel brush of it, kept only for the layer, so that what is drawn stays when the layer is
// turned or scaled; brush and anim layers draw into their own untransformed picture. A brush
// part layer draws into its whole brush (whole-brush coordinates), a copy made for the layer
// unless the brush lives only for it; a picture part layer into its own picture, or when it has
// none into the whole background picture taken the same way. An anim layer draws into the frame
// (from 1) of its anim, taken the same way, and stays an anim layer. 0, ERR_RENDERADLAYER for a
// layer an asynchronous draw object draws, ERR_ANIMDISK, ERR_ANIMFRAME, ERR_WRONGUSAGE for other
// kinds, ERR_MEM.
uint32_t RasterizeVectorLayer(qmScene *scene, qmLayer *layer, int32_t frame, qmPlaneSet *planes, int32_t *width,
                              int32_t *height);
// A brush part layer takes its part of its brush as its own picture again, after the brush
// was drawn into; other kinds are left alone. 0 or an error code.
uint32_t RefreshPartPicture(qmScene *scene, qmLayer *layer);

// The transform's matrix from its user matrix, or from target size, object size, scales and
// rotation.
void UpdateTransform(qmTransform *transform, int32_t width, int32_t height);
// 1 when the matrix is a rotation of whole degrees with a scale per axis, with the two scales.
int32_t FindRotationScales(const qmTransform *transform, double *scaleX, double *scaleY);
// The general-transform flag: 0 for a pure rotation with equal scales (estimates kept), else 1.
void DetectPureRotation(qmTransform *transform);

// Render flags handed to the renderers.
enum : uint32_t { LRENDER_REPLACE = 8, LRENDER_INTOSTATE = 16, LRENDER_SCALED = 64 };

// Renders the layer's object through the transform into the state N: its transformed planes
// (none for the identity), on-screen corner and size. With LRENDER_SCALED the untransformed
// picture is taken to lie at N's corner (x, y) rather than the base state's. 0 or an error code.
uint32_t DrawLayerObject(qmScene *scene, qmLayer *layer, qmLayerState *N, const qmTransform *transform, uint32_t flags);

// RenderLayerImage modes.
enum : uint32_t { LRENDERMODE_SCALED = 1, LRENDERMODE_FOLLOW = 2, LRENDERMODE_KEEPCURRENT = 4 };
// Renders the layer anew through its transform into a new state that becomes its unscaled and
// current state; an identity transform returns the layer to its base state. 0 or an error code;
// on failure the layer keeps its states.
// With LRENDERMODE_SCALED the layer is rendered at the current display's scale into a new
// current state (the unscaled state stays); without it a display that scales this picture's
// layers gets that rendering as well. LRENDERMODE_FOLLOW passes itself on to that rendering,
// LRENDERMODE_KEEPCURRENT leaves the old current state to the caller.
uint32_t RenderLayerImage(qmScene *scene, qmLayer *layer, uint32_t mode);
// The rendering at the display's scale that a display change asks for.
uint32_t RenderLayerImageScaled(qmScene *scene, qmLayer *layer);

// Where the mask and the alpha channel of what the layer shows are kept, so that a caller can
// replace them: the brush's fields, the anim frame or picture part the layer holds, else the
// planes its object's image is read from (a background picture's at its present size); both
// null for kinds without such planes. 0 or the object lookup's error.
uint32_t GetLayerMaskRefs(qmScene *scene, qmLayer *layer, int32_t frame, qmMask ***mask, qmAlphaChannel ***alpha);

// Composing a rectangle of a background picture from its background and its layers, and
// bringing changed rectangles to the display.
#pragma once
#include <cstdint>
#include <vector>

#include "display/dirtyrects.h"
#include "layers/layer.h"

struct qmDisplay;
struct qmScene;

// Redraw flags.
enum : uint32_t {
  REDRAW_NOSPRITES = 1,
  REDRAW_SPRITESONLY = 2,
  REDRAW_FROMCOPY = 4,      // background from the display's background copy
  REDRAW_FROMSHOWN = 8,     // background from the picture's shown bitmap
  REDRAW_UNSCALED = 16,
};

// Composes (x, y, width, height) of the picture into dst at the same place, shadows and borders
// at the display's scale (null: unscaled; its background copy is the background when it shows
// the picture). Bad arguments are reported on the debug output and nothing is drawn.
void Redraw(qmScene *scene, qmDisplay *display, qmBGPic *pic, qmBitmap *dst, int32_t x, int32_t y, int32_t width,
            int32_t height, uint32_t flags);
// The picture Redraw copies the background from with these flags (null: none).
const qmBitmap *RedrawBackground(const qmDisplay *display, const qmBGPic *pic, uint32_t flags);
// The layers of a picture that can draw, each with the area it reaches (picture, border and
// shadow, cut by its clip region), sorted once into square cells of the picture, so that
// composing the many rectangles of one batch visits only the layers that reach into each.
// Valid while no layer is changed, added or removed.
inline constexpr int32_t kLayerGridCell = 64;
// A rectangle over more cells than this walks all the grid's layers instead.
inline constexpr int32_t kLayerGridGather = 16;
struct qmLayerGrid {
  struct Entry {
    qmLayer *layer;
    qmLayerState *state;
    int32_t x, y, width, height;  // the area it reaches
  };
  qmBGPic *pic;
  uint32_t flags;
  int32_t width, height, columns, rows;
  std::vector<Entry> layers;         // bottom first
  std::vector<int32_t> cellStart;    // cell k's layers are cellLayers[cellStart[k] .. cellStart[k + 1])
  std::vector<int32_t> cellLayers;   // indices into layers, ascending within each cell
};
void BuildLayerGrid(const qmDisplay *display, qmBGPic *pic, uint32_t flags, qmLayerGrid *grid);
// Whether composing the plan's rectangles through the grid would cost more than composing the
// box around them once (their layers' pixels and parts, and their backgrounds, estimated).
bool PlanCostsMoreThanBox(const qmLayerGrid *grid, const std::vector<qmDirtyRect> &plan);
// The same picture as Redraw of the grid's picture with its flags.
void RedrawFromGrid(qmScene *scene, qmDisplay *display, const qmLayerGrid *grid, qmBitmap *dst, int32_t x, int32_t y,
                    int32_t width, int32_t height);
// The rectangle a layer covers when drawn from the state, border and shadow included (at the
// display's scale; null: unscaled).
void GetDecoratedLayerBounds(const qmDisplay *display, const qmLayer *layer, const qmLayerState *state, int32_t *x,
                             int32_t *y, int32_t *width, int32_t *height);
inline void GetLayerBounds(const qmDisplay *display, const qmLayer *layer, const qmLayerState *state, int32_t *x,
                           int32_t *y, int32_t *width, int32_t *height) {
  if (layer->border.on || layer->shadow.on) return GetDecoratedLayerBounds(display, layer, state, x, y, width, height);
  *x = state->x, *y = state->y, *width = state->width, *height = state->height;
}
// The bounding box of both rectangles into the first (sizes capped at INT32_MAX).
void UnionRect(int32_t *x, int32_t *y, int32_t *width, int32_t *height, int32_t otherX, int32_t otherY,
               int32_t otherWidth, int32_t otherHeight);
// Redraws the rectangle of the scene's picture into the display's layer buffer and shows it.
void RedrawRect(qmScene *scene, int32_t x, int32_t y, int32_t width, int32_t height);
// By the output of the scene's display: redrawn and shown at once (the display), recorded in the
// display's dirty list (a picture selected with SelectBGPic), or nothing.
void RefreshRect(qmScene *scene, int32_t x, int32_t y, int32_t width, int32_t height);
void RefreshLayer(qmScene *scene, const qmLayer *layer);
// Composes the planned rectangles (inclusive corners, on the picture) into dst: a single one as
// Redraw composes it, several through one layer grid built for them all: each of them, or their
// box when that costs less.
void RedrawPlan(qmScene *scene, qmDisplay *display, qmBGPic *pic, qmBitmap *dst, const std::vector<qmDirtyRect> &plan,
                uint32_t flags);
// The rectangles PlanRefresh gives for the list, redrawn and shown.
void RefreshRectList(qmScene *scene, const qmDirtyRect *entries, int32_t count);
// Whether a layer that is drawn lies over any pixel of the rectangle.
bool LayersCoverRect(const qmDisplay *display, const qmBGPic *pic, int32_t x, int32_t y, int32_t width,
                     int32_t height);

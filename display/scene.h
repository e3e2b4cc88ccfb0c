// The scene of one run: the displays, the one commands act on, the picture drawing goes to, the
// rectangles a layer command collects and the drawing defaults. One record per run, on the
// player context; the engines that draw are handed it.
#pragma once
#include <cstdint>

#include "display/backfill.h"
#include "display/dirtyrects.h"
#include "display/displaytags.h"
#include "graphics/draw_style.h"

struct qmDisplay;
struct qmBGPic;
struct qmMutex;
struct qmObjectRegistry;
struct qmDisplayOps;
struct qmLayerHooks;
struct qmButtonHooks;
struct qmPlayerContext;
struct qmBitmap;
struct qmVectorState;
struct qmTextState;
struct qmImageCache;
struct qmLayer;

// Shows one window update that another thread queued (display/displayops.h).
using qmUpdatePresenter = void (*)(qmBitmap *bitmap, qmDisplay *display, int32_t x, int32_t y, int32_t width,
                                   int32_t height);

struct qmScene {
  qmObjectRegistry *objects;  // the run's object lists
  // Every display in creation order, the backdrop display first; the lock is held only while
  // a record is linked in or out.
  qmDisplay *displays;
  qmMutex *displaysLock;
  qmDisplay *current;  // the display commands act on; never null while the player runs
  qmBGPic *picture;    // where drawing goes: the current display's picture or a Select* target
  qmDirtyRectList layerBatch;  // a layer command's rectangles, refreshed together at its end
  uint32_t fullScreen;
  uint32_t videoRecording;
  uint32_t outputCombo;  // the third argument of SelectBrush in combo mode; the blitter reads it
  // How drawing into a selected mask or alpha channel goes (display/output.h), and the
  // blitter's scratch plane for clipped blits (MemAlloc'd, grown only).
  uint32_t outputMaskMode;
  uint32_t outputAlphaValue;
  uint8_t *scratchPlane;
  uint32_t scratchBytes;
  // What full-screen windows show around a smaller picture, and a windowed applet's backdrop
  // display behind its windows: the applet's settings (the player fills them before the first
  // display opens), whether the start-up mode chose black bars instead, and the picture built
  // for the full screen (null: black).
  qmBackfillSettings backfill;
  uint32_t backfillForced;
  qmBitmap *backfillPicture;
  // What every drawing command starts from; SetDrawTagsDefault replaces them.
  qmTransform defaultTransform;
  qmDisplayTags defaultTags;
  // The style every new shape is drawn with (the draw library's SetFillStyle, SetFormStyle,
  // SetLineWidth).
  qmDrawStyle drawStyle;
  // What other libraries answer for the display engine (display/displayops.h), filled by the
  // player's wiring; null: the least behaviour each call describes.
  const qmDisplayOps *displayOps;
  const qmLayerHooks *layerHooks;
  const qmButtonHooks *buttonHooks;
  qmUpdatePresenter presentUpdate;
  // The vectorgraphics library's stroke settings and its switch for the draw library's shapes
  // (graphics/vectorpath.h); null while that library is closed.
  qmVectorState *vector;
  // Pictures decoded while the applet's declarations run, kept for the declarations that name
  // the same file again (graphics/imagecache.h).
  qmImageCache *images;
  // The text library's style, default encoding and fonts (text/textstate.h); null while that
  // library is closed.
  qmTextState *text;
  // The context of the run the scene belongs to, whose library entries taking the scene the
  // engines call (runtime/context.h); null for a scene made outside a run.
  const qmPlayerContext *context;
  // The layers at positions 1..foundCount of the picture a move list last ran on: a hint only,
  // each checked to be still linked at its place before it is used (MemAlloc'd; layers/movelist.h).
  qmLayer **foundLayers;
  int32_t foundCount, foundCapacity;
};

// 0 or ERR_MEM: a new scene over the run's object lists, with the default drawing tags and
// draw style.
uint32_t NewScene(qmObjectRegistry *objects, qmScene **out);
void FreeScene(qmScene *scene);

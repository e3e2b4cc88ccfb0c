// What other libraries answer for the display engine: the display library's window work, the
// layers library's layers of a picture, the event library's buttons of a picture. Each is a
// record of entries on the scene, filled by the player's wiring (player/wiring.cpp); the calls
// below go through them, and a null record or entry falls back to the least behaviour each
// describes.
#pragma once
#include <cstdint>

#include "runtime/objectid.h"

struct qmDisplay;
struct qmBitmap;
struct qmDisplayUpdate;
struct qmScene;
struct qmBGPic;
struct qmPlaneSet;

inline constexpr int32_t kKeepPosition = 100000;
// A resize flag: the display's satellites are not told (the display library's RESIZE_NONOTIFY).
inline constexpr uint32_t kResizeNoNotify = 4;

struct qmDisplayOps {
  // New window size, refresh buffers, layers redrawn; x and y may be kKeepPosition.
  uint32_t (*resize)(qmScene *scene, qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height,
                     uint32_t flags, uint32_t scaleMode);
  // Switches every display between windowed (0) and full screen (1) and re-creates the windows.
  uint32_t (*applyScreenMode)(qmScene *scene, uint32_t mode, int32_t width, int32_t height);
  // Redraws the display's picture into its window (after an expose or a lost window surface).
  void (*refresh)(qmScene *scene, qmDisplay *display, uint32_t mode);
  // Clears the pressed states of the buttons of the display's background picture.
  void (*resetButtonStates)(qmDisplay *display);
  // Composes a rectangle of the display's layer buffer from its background and what lies on it.
  void (*redrawRect)(qmScene *scene, qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height);
  // Whether anything is drawn over the background inside the rectangle (layers, sprites).
  int (*coveredRect)(qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height);
  // Composes the display's whole background picture and its layers into dst, at dst's top left.
  void (*composePicture)(qmScene *scene, qmDisplay *display, qmBitmap *dst);
};

// Without the display library: takes the size (and a position other than kKeepPosition); 0.
uint32_t ResizeDisplay(qmScene *scene, qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height,
                       uint32_t flags, uint32_t scaleMode);
// Without the display library: records the mode in the scene's fullScreen; 0.
uint32_t ApplyScreenMode(qmScene *scene, uint32_t mode, int32_t width, int32_t height);
// Without the display library: the background copy alone, copied into the layer buffer.
void RedrawDisplayRect(qmScene *scene, qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height);
// Without the layer engine: the background copy alone.
void ComposeDisplayPicture(qmScene *scene, qmDisplay *display, qmBitmap *dst);
// Without the display library: nothing is.
bool DisplayRectCovered(const qmScene *scene, qmDisplay *display, int32_t x, int32_t y, int32_t width,
                        int32_t height);
// Without the display library: nothing.
void RefreshDisplay(qmScene *scene, qmDisplay *display, uint32_t mode);

// Window updates queued by other threads, presented by the scene's presentUpdate on the main
// thread; without one, flushing frees the updates unshown.
// Appends an update (any thread); the node and its bitmap now belong to the display.
void QueueDisplayUpdate(qmDisplay *display, qmDisplayUpdate *update);
// Main thread: presents and frees every queued update of every display of the scene, in queue
// order.
void FlushDisplayUpdates(const qmScene *scene);
void FlushDisplayUpdatesOf(const qmScene *scene, qmDisplay *display);
// Frees a display's queued updates unshown.
void DiscardDisplayUpdates(qmDisplay *display);
// Frees, unshown, the display's queued updates of one owner (any thread).
void DiscardDisplayUpdatesOf(qmDisplay *display, const void *owner);
// Whether any thread queued an update for one of the scene's displays since the last flush.
bool DisplayUpdatesPending(const qmScene *scene);
// Without the display library: the button entries' reset of the display's picture, else nothing.
void ResetDisplayButtonStates(const qmScene *scene, qmDisplay *display);

// The buttons a background picture owns are the event library's: how they go with their
// picture (references released) and how their pressed states are cleared. Null: no buttons can
// exist.
struct qmButtonHooks {
  void (*freeAll)(qmScene *scene, qmBGPic *pic);
  void (*resetStates)(qmBGPic *pic);
  void (*removeLayer)(qmScene *scene, qmBGPic *pic, const void *layer);
};
void FreePictureButtons(qmScene *scene, qmBGPic *pic);
// Deletes the picture's button bound to the layer, when there is one.
void RemovePictureLayerButton(qmScene *scene, qmBGPic *pic, const void *layer);

// The layers a background picture owns are the layers library's: how they go with their
// picture, how the layers drawn while the display's own picture was selected with SelectBGPic
// are released for showing when the selection ends, and how they follow a display that scales
// layers (rendered at its scale, or back to their unscaled states). Null: no layers can exist.
struct qmLayerHooks {
  void (*freeAll)(qmScene *scene, qmBGPic *pic);
  void (*showDeferred)(qmBGPic *pic);
  int32_t (*rebindObject)(qmScene *scene, int32_t type, const qmObjectId *from, const qmObjectId *to);
  void *(*layerAt)(const qmBGPic *pic, int32_t position);
  int32_t (*describeLayer)(const qmBGPic *pic, const void *layer, const char **name, int32_t *hidden);
  int32_t (*hitLayer)(const void *layer, int32_t x, int32_t y, int32_t pixelExact);
  uint32_t (*selectLayer)(qmScene *scene, int32_t position, int32_t frame, qmPlaneSet *planes, int32_t *width,
                          int32_t *height, void **layer);
  void (*endSelectLayer)(qmScene *scene, void *layer);
  uint32_t (*rerender)(qmScene *scene, qmDisplay *display, qmBGPic *pic);
  void (*resetScale)(qmScene *scene, qmBGPic *pic);
  void (*layerBounds)(const void *layer, int32_t *x, int32_t *y, int32_t *width, int32_t *height);
  uint32_t (*setAnimFrame)(qmScene *scene, void *layer, int32_t frame);
};
void FreePictureLayers(qmScene *scene, qmBGPic *pic);
void ShowDeferredLayers(const qmScene *scene, qmBGPic *pic);
// Points the layers that show the object at a new id (the object is freed by the script and
// lives on for them): how many layers now use the new id.
int32_t RebindLayerObjectId(qmScene *scene, int32_t type, const qmObjectId *from, const qmObjectId *to);
// For layer buttons: the layer at a 1-based position (null when none); a layer's position
// (-1 when it is not in the picture or the picture is null), name (empty when unnamed) and
// hidden switch; whether the picture point (x, y) lies on the layer's box and, with pixelExact,
// on one of its visible pixels.
void *PictureLayerAt(const qmScene *scene, const qmBGPic *pic, int32_t position);
int32_t DescribePictureLayer(const qmScene *scene, const qmBGPic *pic, const void *layer, const char **name,
                             int32_t *hidden);
int32_t HitPictureLayer(const qmScene *scene, const void *layer, int32_t x, int32_t y, int32_t pixelExact);
// SelectLayer: the pictures the layer at the position of the scene's picture shows, to be drawn
// into (ERR_LAYERRANGE when there is none); an anim layer's are those of the frame (from 1),
// which it needs. After the selection the layer is shown anew.
uint32_t SelectPictureLayer(qmScene *scene, int32_t position, int32_t frame, qmPlaneSet *planes, int32_t *width,
                            int32_t *height, void **layer);
void EndSelectPictureLayer(qmScene *scene, void *layer);
// The picture's layers rendered at the display's scale factors: 0 or the first error.
uint32_t RerenderPictureLayers(qmScene *scene, qmDisplay *display, qmBGPic *pic);
// The picture's layers back to their unscaled states.
void ResetPictureLayerScale(qmScene *scene, qmBGPic *pic);
// An anim layer shows the frame (from 1; 0 the next) from now on, refreshed: 0 or an error;
// ERR_NOLAYERS without the layer engine.
uint32_t SetPictureLayerFrame(qmScene *scene, void *layer, int32_t frame);
// Where a layer lies on its picture now; false (nothing written) without the layer engine.
bool PictureLayerBounds(const qmScene *scene, const void *layer, int32_t *x, int32_t *y, int32_t *width,
                        int32_t *height);

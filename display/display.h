// The display record: one output window (or the full screen) with its background picture, back
// buffers, input state and event handlers; the list of all displays and the current one.
#pragma once
#include <cstdint>

#include "graphics/gradientfill.h"
#include "runtime/handlerslot.h"
#include "platform/time.h"
#include "runtime/objectid.h"
#include "runtime/objtypes.h"

struct qmBitmap;
struct qmMask;
struct qmBGPic;
struct qmDirtyRect;
struct qmMutex;
struct qmPlatformWindow;
struct qmScene;

enum : uint32_t {
  DISPSTATE_CLOSED = 0,
  DISPSTATE_OPEN = 1,
  DISPSTATE_MINIMIZED = 2,
};

// Object-type numbers the output type takes.
enum : uint32_t {
  DISPOUT_BGPIC = 1,
  DISPOUT_BRUSH = 3,
  DISPOUT_ANIM = 4,
  DISPOUT_DISPLAY = 21,
  DISPOUT_LAYER = 22,
  DISPOUT_MASK = 28,
  DISPOUT_ALPHA = 30,
};

// The flag word; each display tag sets or clears its bit.
enum : uint32_t {
  DISPF_BORDERLESS = 0x1,
  DISPF_SIZEABLE = 0x2,
  DISPF_FIXED = 0x4,
  DISPF_NOMODESWITCH = 0x8,
  DISPF_HIDEPOINTER = 0x10,
  DISPF_NOHIDE = 0x20,
  DISPF_SCALEAUTO = 0x40,
  DISPF_SMOOTHSCALE = 0x80,
  DISPF_SCALELAYER = 0x100,
  DISPF_ACTIVE = 0x400,
  DISPF_HIDDEN = 0x800,
  DISPF_LAYERS = 0x1000,
  DISPF_USEQUARTZ = 0x2000,
  DISPF_NOCLOSE = 0x4000,
  DISPF_KEEPPROPORTIONS = 0x8000,
  DISPF_FITSCALE = 0x10000,
  DISPF_FAKEFULLSCREEN = 0x20000,
  DISPF_KEEPSCREENON = 0x40000,
};

// The display's event-handler slots, in this order.
enum : int32_t {
  DISPH_ONKEYDOWN, DISPH_ONKEYUP, DISPH_ONMOUSEMOVE, DISPH_CLOSEWINDOW, DISPH_MOVEWINDOW,
  DISPH_SIZEWINDOW, DISPH_ACTIVEWINDOW, DISPH_INACTIVEWINDOW, DISPH_HIDEWINDOW, DISPH_SHOWWINDOW,
  DISPH_ONMOUSEDOWN, DISPH_ONMOUSEUP, DISPH_ONRIGHTMOUSEDOWN, DISPH_ONRIGHTMOUSEUP,
  DISPH_ONWHEELDOWN, DISPH_ONWHEELUP, DISPH_MODESWITCH, DISPH_ONDROPFILE, DISPH_CLIPBOARDCHANGE,
  DISPH_ONMIDMOUSEDOWN, DISPH_ONMIDMOUSEUP, DISPH_ORIENTATIONCHANGE, DISPH_SHOWKEYBOARD,
  DISPH_HIDEKEYBOARD, DISPH_HOTKEY, DISPH_TRAYICON,
  DISPH_COUNT  // 26
};

inline constexpr int32_t kDisplayRegionMax = 64;
inline constexpr int32_t kKeyStateCount = 300;  // one byte per portable key code
inline constexpr int32_t kTabStopMax = 32;

// A rectangle of a borderless window that drags or resizes it; type 14 (box) when given.
struct qmDisplayRegion {
  int32_t type;
  int32_t x, y, width, height;
};

// A satellite attached by a plug-in; message 4 reports a size change.
struct qmDisplayHook {
  qmDisplayHook *next;
  void (*function)(qmDisplayHook *node, uint32_t message, void *data, void *userData);
  void *userData;
};

// A window update that another thread queued; the main thread presents and frees it.
struct qmDisplayUpdate {
  qmDisplayUpdate *next;
  const void *owner;  // who queued it, so that it can withdraw its updates; may be null
  qmBitmap *bitmap;  // owned by the node
  int32_t x, y, width, height;
};

// What a display had before its window came to cover the whole desktop without a screen-mode
// switch, where it is shown scaled to fit with black bars; given back when the window closes.
struct qmDesktopFit {
  uint32_t active;
  uint32_t flags, scaleAuto, scaleMode;
  int32_t width, height, scaleWidth, scaleHeight;
  int32_t marginLeft, marginTop, marginRight, marginBottom;
  double scaleX, scaleY;
};

struct qmDisplay {
  // Common object header.
  uint32_t type;     // 21 once in the list
  uint32_t id;
  uintptr_t handle;  // the record's own address for an automatic id, else 0
  void *userData;
  qmDisplay *next;

  uint32_t layersOn;
  qmBitmap *outputBitmap;
  qmMask *outputMask;
  qmMask *outputAlpha;
  uint32_t outputType;  // DISPOUT_*
  qmBGPic *bgpic;
  uint32_t ownsBGPic;
  uint32_t doubleBuffer;
  uint32_t hardwareDoubleBuffer;
  uint32_t doubleBufferPaused;
  int32_t private1;  // non-zero: the full-screen backdrop display, which also swallows mouse downs
  int32_t private2;
  int32_t private3;
  int32_t x, y;           // the whole window's left and top, frame included
  int32_t width, height;  // the content
  uint32_t state;         // DISPSTATE_*
  uint32_t fillStyle;
  uint32_t fillColor;
  qmGradientSpec gradient;
  qmObjectId textureBrush;
  int32_t textureX, textureY;
  uint32_t flags;  // DISPF_*
  char title[256];
  int32_t frameLeft, frameTop, frameWidth, frameHeight;
  qmDisplayRegion dragRegions[kDisplayRegionMax];
  qmDisplayRegion dragRegionsUnscaled[kDisplayRegionMax];
  qmDisplayRegion sizeRegions[kDisplayRegionMax];
  qmDisplayRegion sizeRegionsUnscaled[kDisplayRegionMax];
  int32_t dragRegionCount;
  int32_t sizeRegionCount;
  uint32_t dragRegionsGiven;
  uint32_t sizeRegionsGiven;
  qmBitmap *backgroundCopy;
  qmBitmap *layerBuffer;
  qmBitmap *backBuffer1;  // double buffering: what the window shows (the present buffer)
  qmBitmap *backBuffer2;  // double buffering: where drawing goes (the draw buffer)
  uint32_t scaleAuto;
  uint32_t scaleLayer;
  // Letterbox bars; the left and top ones are where the picture begins inside the window.
  int32_t marginLeft, marginTop, marginRight, marginBottom;
  int32_t scaleWidth, scaleHeight;  // 0: no scaling
  uint32_t smoothScale;
  double scaleX, scaleY;  // window pixels per display pixel
  qmDirtyRect *dirtyRects;
  int32_t dirtyCount;
  int32_t dirtyCapacity;
  qmHandlerSlot handlers[DISPH_COUNT];
  uint32_t leftButton, rightButton, middleButton;  // 1 while down
  uint32_t pointerMoved;                           // set by the platform, cleared by the hover pass
  uint32_t moveReporting;
  qmTimeval pointerMoveTime;
  uint8_t keyStates[kKeyStateCount];  // 1 while the key of that portable code is down
  uint32_t active;         // 1 while the window has the focus
  uint32_t closeHandled;   // 1: the close box posts an event instead of ending the script
  uint32_t requesterOpen;  // 1 while a system dialog is open
  uint32_t scaleMode;      // 0 none, 1 auto, 2 layer
  qmBGPic *selectBGPic;
  qmBGPic *doubleBufferBGPic;
  int32_t cursorX, cursorY;
  int32_t textMarginLeft, textMarginRight;
  int32_t tabStops[kTabStopMax];
  int32_t tabCount;
  void *pointer;  // the pointer image over this display; null: the system arrow
  uint32_t pointerHidden;
  uint32_t reopen;
  uint32_t activateOnOpen;
  qmMask *scaledMask;
  qmMask *scaledAlpha;
  uint32_t selectSave[6];  // saved flag, cursor x, y, left margin, right margin, layers on
  qmDisplayHook *satellites;
  qmMutex *updateLock;
  qmDisplayUpdate *pendingUpdates;
  // Raised by a producer with an update and lowered by the flush (atomic builtins), so that the
  // flush skips the lock of a display that has nothing queued.
  uint8_t updatesQueued;
  qmPlatformWindow *platform;
  qmDesktopFit desktopFit;
};


// A zeroed record with the defaults of a new display (640 x 480, centred, "Quenmoor", closed,
// every handler slot empty, scale factors 1.0) and its update lock; null when out of memory.
qmDisplay *NewDisplayRecord(uint32_t id);
// Frees the record's update lock, queued updates and the record; the window record is the
// platform's to free first.
void FreeDisplayRecord(qmDisplay *display);
// Links a record into the scene's list (a backdrop display at the head) or out of it.
void LinkDisplay(qmScene *scene, qmDisplay *display);
void UnlinkDisplay(qmScene *scene, qmDisplay *display);

// Clears key and button states, flushes the platform's pending input and the buttons of the
// display's background picture, so that nothing stays down across a modal pause.
void ResetDisplayInput(const qmScene *scene, qmDisplay *display);
// The scene's only display, or the second while the first is the backdrop display.
bool IsSoleDisplay(const qmScene *scene, const qmDisplay *display);
// Whether what is drawn goes to layers: layers are on and the output is the display itself or
// its background picture selected with SelectBGPic.
inline bool LayersTakeOutput(const qmDisplay *display) {
  return display && display->layersOn &&
         (display->outputType == DISPOUT_DISPLAY || display->outputType == DISPOUT_BGPIC);
}

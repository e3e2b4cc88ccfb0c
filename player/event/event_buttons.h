// Buttons: invisible active areas of a background picture (a rectangle in picture pixels, or
// the shape of a layer) that get mouse-over, mouse-out and press and release events. They live
// in the picture's button list, newest first, and go with the picture.
#pragma once
#include <cstdint>

#include "runtime/cmdargs.h"

struct qmScene;
struct VmState;
struct qmBGPic;
struct qmDisplay;
struct qmEventMessage;
struct qmHeldEvent;

enum : uint32_t { BUTTON_SIMPLE = 0, BUTTON_LAYER = 1 };

// The handler references of a button, in the order of ButtonEventNames.
enum : int {
  BTNH_ONMOUSEOVER, BTNH_ONMOUSEOUT, BTNH_ONMOUSEDOWN, BTNH_ONMOUSEUP, BTNH_ONRIGHTMOUSEDOWN,
  BTNH_ONRIGHTMOUSEUP, BTNH_ONMIDMOUSEDOWN, BTNH_ONMIDMOUSEUP, BTNH_COUNT
};
extern const char *const ButtonEventNames[BTNH_COUNT];

struct qmBGPicButton {
  qmBGPicButton *next;
  qmObjectId id;  // an automatic id's handle is the record itself
  uint32_t kind;  // BUTTON_*
  int32_t x1, y1, x2, y2;  // picture pixels, both corners inclusive; 0 for a layer button
  uint32_t enabled;
  uint32_t leftDown, rightDown, midDown;  // 1 while that mouse button was pressed on it
  uint32_t over;                          // 1 between OnMouseOver and OnMouseOut
  int32_t handlers[BTNH_COUNT];           // registry references, -1 none
  void *layer;                            // the layer a layer button follows
  uint32_t pixelExact, activeWhenHidden;
  int32_t userData;  // registry reference, -1 none
};

// The picture that buttons are made on and looked up in: the current display's, or the one
// selected for layered drawing, of the scene. ERR_BGPICBUTTON while drawing goes anywhere else.
uint32_t GetButtonPicture(const qmScene *scene, qmBGPic **out);
qmBGPicButton *FindButton(const qmBGPic *pic, const qmObjectId *id);
// Puts a new button at the head of the picture's list: 0 or ERR_MEM. The handlers and user data
// are taken over.
uint32_t AddButton(qmBGPic *pic, const qmBGPicButton &fields, qmBGPicButton **out);
// Releases the references and unlinks and frees the button.
void DeleteButtonRecord(VmState *L, qmBGPic *pic, qmBGPicButton *button);
// The button bound to the layer, or null.
qmBGPicButton *FindLayerButton(const qmBGPic *pic, const void *layer);
// Deletes the button bound to the layer, when there is one (the layer is being deleted).
void RemoveLayerButton(VmState *L, qmBGPic *pic, const void *layer);
// Every button of the picture, as the picture goes.
void FreeBGPicButtons(VmState *L, qmBGPic *pic);
// Clears the three pressed states of every button of the picture.
void ResetButtonStates(qmBGPic *pic);
// enabled and, for a layer button on a hidden layer, active when hidden.
bool ButtonActive(const qmScene *scene, const qmBGPicButton *button);
int32_t CountButtons(const qmBGPic *pic);

// A window position of a display in picture pixels: (window - offset) / scale, cut to zero.
void WindowToPicture(const qmDisplay *display, int32_t wx, int32_t wy, int32_t *px, int32_t *py);
// 1 when the window point of the display lies on the button.
int HitTestButton(const qmScene *scene, const qmBGPicButton *button, const qmDisplay *display, int32_t wx, int32_t wy);

// The dispatcher's button work: a queued mouse button event of the held event's display, and
// the hover pass of a display. Each returns 1 with the message set (its function may be -1:
// the flags changed but nothing is called).
int DispatchButtonEvent(VmState *L, qmHeldEvent *event, qmEventMessage *msg);
int DispatchButtonHover(VmState *L, qmDisplay *display, qmEventMessage *msg);
// The fields of a button message.
void FillButtonMessage(VmState *L, qmEventMessage *msg);

// The buttons of a background picture, answered for the display engine (freed with their
// picture, reset with the input).
struct qmButtonHooks;
extern const qmButtonHooks kButtonHooks;

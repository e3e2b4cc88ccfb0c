// The display library's engine: display tags, creating, opening, closing and freeing displays,
// sizes and scaling, the refresh, screen modes and the first display at start-up.
#pragma once
#include <cstdint>

#include "display/display.h"

struct VmState;
struct qmBGPic;
struct qmScene;

// The defaults of a new display (640 x 480 centred, "Quenmoor", closed, empty handler slots,
// scale factors 1.0, output to the display itself).
void SetDisplayDefaults(qmDisplay *display);
// Looks a display of the scene up by its id: ERR_FINDARRAY for a stale handle, ERR_FINDDISPLAY
// for a number.
uint32_t FindDisplay(const qmScene *scene, const qmObjectId *id, qmDisplay **out);
qmDisplay *FindDisplayOf(const qmScene *scene, const qmObjectId *id);

// Reads a display tag table into the record (creating: CreateDisplay, else SetDisplayAttributes
// on a copy); *scaleGiven is set when a scale size was given. 0 or an error code.
uint32_t ParseDisplayTagTable(VmState *L, int t, qmDisplay *display, int32_t creating, int32_t *scaleGiven);
// Fills the regions that the script did not give with the defaults of the current size and
// cuts every region to the display.
void PrepareDisplayRegions(qmDisplay *display);
// Clips one region to a width x height display.
void ClipDisplayRegion(qmDisplayRegion *region, int32_t width, int32_t height);

// The whole creation from a parsed record (copied into a new record): background picture,
// window record, lock, list. *out gets the listed display. 0 or an error (nothing is left).
uint32_t CreateDisplayCore(VmState *L, const qmDisplay *parsed, qmObjectId id, qmDisplay **out);
uint32_t OpenDisplayWindow(VmState *L, qmDisplay *display, int32_t activate);
// The video library's videos on the display, when that library is open (DISPVIDEO_*).
void TellVideosOfDisplay(VmState *L, qmDisplay *display, int32_t op);
void CloseDisplayWindow(VmState *L, qmDisplay *display);
// Unlinks and frees the display: ERR_FREEADISPLAY for the current one, ERR_SATFREEDISP with
// satellites.
uint32_t RemoveDisplay(VmState *L, qmDisplay *display);
void FreeDisplayData(VmState *L, qmDisplay *display, int32_t atExit);
void FreeDisplays(VmState *L);
// Makes the display current; a running Select* of the previous one ends first.
void MakeDisplayCurrent(VmState *L, qmDisplay *display);

// The letterbox split of a picture of w x h into an area of W x H.
struct qmLetterbox {
  int32_t scaleWidth, scaleHeight;
  int32_t left, top, right, bottom;
};
qmLetterbox LetterboxSplit(int32_t areaWidth, int32_t areaHeight, int32_t width, int32_t height, bool keep);

enum : uint32_t {
  RESIZE_SCRIPT = 1,    // the script changed the size (else the window did)
  RESIZE_NOWINDOW = 2,  // the window is not touched
  RESIZE_NONOTIFY = 4,  // satellites are not told
};
uint32_t ResizeDisplayCore(VmState *L, qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height,
                           uint32_t flags, int32_t smooth);
uint32_t FitDisplayToScreen(VmState *L, qmDisplay *display);
void RefreshDisplayCore(VmState *L, qmDisplay *display, uint32_t flags);
void DrawLetterboxBars(const qmScene *scene, qmDisplay *display);
// A window that covers a width x height desktop without a mode switch shows the display scaled
// to fit it, proportions kept, with black bars: the display is scaled as under SCALEMODE_AUTO
// (a SCALEMODE_LAYER display keeps its own mode) until RestoreDisplayFromDesktop gives back
// what it had, given as before. 0 or an error code.
uint32_t FitDisplayToDesktop(VmState *L, qmDisplay *display, const qmDesktopFit &before, int32_t width,
                             int32_t height);
void RestoreDisplayFromDesktop(VmState *L, qmDisplay *display);
// The display's scale state as qmDesktopFit keeps it.
qmDesktopFit CaptureDesktopFit(const qmDisplay *display);
// The window position of a special value, resolved against the work area (the screen for the
// backdrop display).
void ResolveDisplayPosition(VmState *L, qmDisplay *display);

uint32_t ApplyScreenModeCore(VmState *L, uint32_t mode, int32_t width, int32_t height);
uint32_t SetDisplayAttributesCore(VmState *L, int t, qmDisplay *display, int32_t noRefresh);

// The screen of a full-screen start. A setting of 0 asks for the desktop's side, a negative one
// for the display's side with its frame (the wanted size). A wanted size that fits is shown on
// that screen; one that fits only without its frame makes *dropFrame 1; else the wanted size is
// the screen's.
struct qmFullScreenSize {
  int32_t width, height;
  int32_t dropFrame;
};
qmFullScreenSize ChooseFullScreenSize(int32_t settingWidth, int32_t settingHeight, int32_t width, int32_t height,
                                      int32_t frameWidth, int32_t frameHeight, bool framed, int32_t desktopWidth,
                                      int32_t desktopHeight);

// Start-up: display 1 must exist; a full-screen start mode switches the screen; a windowed
// applet with backfill gets its backdrop display; every display not hidden opens; the current
// display is chosen. Start modes: 1 windowed, 2 and 4 full screen, 3 ask the user (full screen
// as 2, windowed as 1), 6 a borderless window on a black backdrop.
uint32_t OpenFirstDisplay(VmState *L, int32_t startMode, int32_t screenWidth, int32_t screenHeight);
// A declared background picture made ready before the declared display showing it is made:
// 0 (also for no such picture) or ERR_MEM with *line its declaration's line.
uint32_t PrepareDeclaredBGPic(VmState *L, uint32_t id, int32_t *line);

// What the display library answers for the desktop's event pump (player/wiring.cpp).
struct qmDisplayOps;
extern const qmDisplayOps kDisplayOps;

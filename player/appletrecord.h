// The player's applet record: the runtime's part (bytecode, include and linked-file lists)
// followed by what start-up and the applet's sections fill. The runtime keeps the address of
// the whole record under registry["applet"]; the runtime's part comes first so that both
// views share it.
#pragma once
#include <cstdint>

#include "runtime/applet.h"

struct qmDeclaration;

// Display mode word.
enum : int32_t { DISPMODE_NONE = 0, DISPMODE_WINDOW = 1, DISPMODE_FULLSCREEN = 2, DISPMODE_OWNSCREEN = 5,
                 DISPMODE_FAKEFULLSCREEN = 6 };

// Window flag word bits (shared with the display declarations' flag word).
enum : uint32_t {
  WINFLAG_BORDERLESS = 0x1,
  WINFLAG_SIZEABLE = 0x2,
  WINFLAG_FIXED = 0x4,
  WINFLAG_NOMODESWITCH = 0x8,
  WINFLAG_HIDEPOINTER = 0x10,
  WINFLAG_NOHIDE = 0x20,
  WINFLAG_AUTOSCALE = 0x40,
  WINFLAG_SMOOTHSCALE = 0x80,
  WINFLAG_LAYERSCALE = 0x100,
  WINFLAG_USEQUARTZ = 0x2000,
  WINFLAG_KEEPPROPORTIONS = 0x8000,
  WINFLAG_FITSCALE = 0x10000,
};

inline constexpr int32_t kPositionCenter = -100000;

struct qmBackfill {
  int32_t mode;  // 0 none, 1 colour, 2 gradient, 3 texture, 4 picture
  uint32_t startColor;
  uint32_t endColor;
  int32_t pictureX;
  int32_t pictureY;
  int32_t brushId;
  uint32_t scalePicture;
  uint32_t transparentColor;
  char imageFile[1024];
};

struct qmDisplaySettings {
  int32_t displayMode;
  int32_t hideTitleBar;
  uint32_t windowFlags;
  int32_t screenWidth;
  int32_t screenHeight;
  int32_t depth;
  int32_t scaleWidth;   // negative: a percentage
  int32_t scaleHeight;
  qmBackfill backfill;
};

struct qmPlayerApplet {
  qmApplet base;               // must stay first
  qmDisplaySettings settings;  // from the options, then the applet's sections
  char appInfo[5][256];        // application strings 1 to 5
  uint8_t versionMajor;        // of the applet's version section; 0.0 before it
  uint8_t versionMinor;
  uint32_t desktopSize;        // display 1 takes the desktop's size
  uint32_t settingsLocked;     // the options do not change the declared displays
  char firstDisplayText[256];  // PRIVATE3, read when the first display opens
};

inline qmDeclaration *Declarations(qmPlayerApplet *applet) {
  return static_cast<qmDeclaration *>(applet->base.declarations);
}

// The start values of the display settings.
void ResetDisplaySettings(qmDisplaySettings *settings);
// Frees the bytecode, the declarations and both lists; the record itself stays.
void FreeAppletContents(qmPlayerApplet *applet);

// What a full-screen window shows around a smaller display picture (its bars): the applet's
// backfill, a colour, a gradient, a tiled texture, or a picture placed on a colour or gradient.
#pragma once
#include <cstdint>

#include "runtime/objectid.h"

struct qmBitmap;
struct qmScene;

inline constexpr uint32_t kNoBackfillColor = 0xFFFFFFFFu;

enum : uint32_t {
  BACKFILL_NONE = 0,  // black bars
  BACKFILL_COLOR = 1,
  BACKFILL_GRADIENT = 2,
  BACKFILL_TEXTURE = 3,
  BACKFILL_PICTURE = 4,
};

struct qmBackfillSettings {
  uint32_t type;                  // BACKFILL_*
  uint32_t startColor, endColor;  // RGB; kNoBackfillColor when not given
  int32_t pictureX, pictureY;     // where the picture goes; special positions allowed
  qmObjectId brush;               // the texture or picture when no file is named
  uint32_t scalePicture;          // the picture is first scaled to the whole size
  uint32_t transparentColor;      // keyed out of the picture file; kNoBackfillColor: none
  char brushFile[1024];           // empty: the brush
  uint32_t coverTitleBar;         // a windowed backdrop also covers the band above the work area
};

// A new picture of width x height painted by the settings (FreeBitmap): 0, ERR_MEM, the picture
// file's loading error or the missing brush's error.
uint32_t BuildBackfillPicture(const qmScene *scene, const qmBackfillSettings *settings, int32_t width, int32_t height,
                              qmBitmap **out);

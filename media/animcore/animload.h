// Making anims: from an anim file, a picture file, a brush (whole or cut as a strip), another
// anim or a text object; and one frame of an anim file read into new planes.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"
#include "runtime/objectid.h"

struct qmScene;
struct qmAnim;
struct qmAnimFile;
struct qmFormatPlugins;

// What a new anim's frames come from (zeroed before use).
struct qmAnimSource {
  qmObjectId sourceId;     // a brush, anim or text object; unused for files and pictures
  int32_t hasSourceId;
  int32_t sourceType;      // BRUSH (a brush or a loaded picture), ANIM (an anim or anim file), TEXTOBJECT
  int32_t frameWidth, frameHeight;  // strip frame size
  int32_t frames;          // strip frame count, or the file's
  int32_t framesPerRow;    // strip; < 1: every frame in one row
  int32_t x, y;            // strip origin in the source
  int32_t sourceWidth, sourceHeight;
  int32_t sourcePitch;     // pixels per row of a raw picture
  int32_t argCount;        // 3 for a single frame, 7 for a strip (the command's arguments)
  uint32_t onDisk;
  uint32_t transparentColor;  // 0xFFFFFFFF none
  const uint32_t *picture;     // a raw picture (0xAARRGGBB), or null
  qmBitmap *bitmap;            // a decoded picture, or null
  qmMask *mask;
  qmAlphaChannel *alpha;
  qmAnimFile *animFile;        // an open anim file, or null
  const char *fileName;
  uint32_t loadAlpha;
};

// The frames of a source: arrays of count entries (raw frames only while the declarations run).
struct qmAnimFrames {
  int32_t count, width, height;
  qmBitmap **bitmaps;
  qmMask **masks;
  qmAlphaChannel **alphas;
  uint32_t **rawFrames;
};

// The frames of the source, newly made (a decoded picture's single frame takes its planes). 0,
// ERR_WRONGUSAGE, ERR_TOOMANYARGS, ERR_NEGCOORDS, ERR_BRUSHSIZE, ERR_LOADFRAME, ERR_MEM or the
// look-up errors; nothing is left on failure.
uint32_t MakeAnimFrames(qmScene *scene, const qmAnimSource *source, qmAnimFrames *out);
// Frees frames made by MakeAnimFrames (raw frames through the file when given).
void FreeAnimFrames(qmAnimFrames *frames, qmAnimFile *file);
// A new listed anim from the source: in memory, or disk-based (onDisk with an anim file, which
// the anim then keeps). In memory from a file the delays come from the file; while the
// declarations run the anim keeps the file, whose raw frames it holds. 0 or the errors above.
uint32_t BuildAnimFrames(qmScene *scene, const qmAnimSource *source, qmObjectId *id, qmAnim **out);

// LoadAnim's and PlayAnimDisk's request.
struct qmAnimLoadRequest {
  const char *file;
  uint32_t transparentColor;  // 0xFFFFFFFF none
  int32_t loadAlpha;
  int32_t x, y, width, height, framesPerRow, frames;  // frames 0: not given
  int32_t fromDisk;
  const char *cache, *cachedLoad;  // while the declarations run; empty: none
  int32_t cacheAlpha;
  const qmFormatPlugins *plugins;
};

// The option rules: ERR_MASKNALPHA for alpha with a transparent colour, ERR_WRONGUSAGE for
// frames from disk; else 0.
uint32_t CheckAnimLoadRequest(const qmAnimLoadRequest *request);
// An anim file (or a picture, when frames is given or the file is no anim) loaded as a new
// anim. 0, ERR_MASKNALPHA, ERR_WRONGUSAGE, ERR_NOALPHA, the loaders' errors or
// BuildAnimFrames's.
uint32_t LoadAnimObject(qmScene *scene, const qmAnimLoadRequest *request, qmObjectId *id, qmAnim **out);

// Frame number (from 1; -1 the last, 0 is none) of an anim file as new planes of the file's size. 0,
// ERR_ANIMFRAME, ERR_NOALPHA, ERR_LOADFRAME, ERR_MEM or the file's open error.
uint32_t LoadAnimFileFramePlanes(const char *file, const qmFormatPlugins *plugins, int32_t frame,
                                 uint32_t transparentColor, int32_t loadAlpha, qmBitmap **bitmap, qmMask **mask,
                                 qmAlphaChannel **alpha, int32_t *width, int32_t *height);

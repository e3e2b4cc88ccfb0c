// Saving anims: every frame of an anim written to a GIF animation, a motion-JPEG AVI or the
// format of a saver plug-in, and anim streams that write frames one by one from brushes.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"
#include "runtime/formatplugins.h"
#include "runtime/objectid.h"

struct qmScene;
struct qmAnim;
struct qmObjectRegistry;
struct qmGifWriter;
struct qmAviWriter;

enum : int32_t { ANMFMT_GIF = 0, ANMFMT_MJPEG = 1 };

struct qmAnimSaveOptions {
  int32_t dither;
  int32_t colors;               // 2..256
  uint32_t transparentColor;   // 0xFFFFFFFF none
  int32_t optimize;
  int32_t quality;
  int32_t fps;
  int32_t useAlpha;
  const qmFormatPlugins *plugins;  // the savers of other format numbers; null: none
};
inline constexpr qmAnimSaveOptions kDefaultAnimSave{0, 256, 0xFFFFFFFFu, 1, 90, 25, 0, nullptr};

// The stream of a saver plug-in that writes a format number other than GIF's and AVI's.
struct qmAnimSaver {
  const qmFormatPlugins *plugins;  // null while no saver stream is open
  qmPluginDecoder stream;
  int32_t indexed;   // the saver takes palette indices, not ARGB words
  int32_t useAlpha;  // frames keep their alpha (the saver said it can)
};

// Options of one stream frame.
struct qmAnimFrameOptions {
  int32_t dither, colors;
  uint32_t transparentColor;
  int32_t optimize;
  int32_t delay;  // ms
  int32_t x, y;   // special coordinates allowed
};
inline constexpr qmAnimFrameOptions kDefaultAnimFrame{0, 256, 0xFFFFFFFFu, 1, 0, 0, 0};

struct qmAnimStream {
  qmObjectHeader header;  // type ANIMSTREAM
  int32_t width, height;
  int32_t writerKind;     // the format number
  int32_t indexed;        // frames are reduced to a palette before writing
  int32_t useAlpha;
  qmGifWriter *gif;   // format 0
  qmAviWriter *avi;   // format 1
  qmAnimSaver saver;  // other format numbers
};

// 0, ERR_MASKNALPHA, ERR_WRONGUSAGE (colours), ERR_UNKNOWNANMOUT, ERR_SAVERALPHA (usealpha for a
// saver without alpha), ERR_SAVEANIM (a saver refused), the writer's errors, ERR_MEM,
// ERR_LOCKBMAP, or the first frame's error; the file begun is closed in every case.
uint32_t SaveAnimCore(qmAnim *anim, const char *file, int32_t format, const qmAnimSaveOptions *options);
// A new listed stream of width x height. 0, ERR_WRONGUSAGE, ERR_UNKNOWNANMOUT, ERR_SAVERALPHA,
// ERR_SAVEANIM, ERR_MEM or the writer's error.
uint32_t BeginAnimStream(qmObjectRegistry *objects, qmObjectId *id, const char *file, int32_t width, int32_t height,
                         int32_t format, const qmAnimSaveOptions *options, qmAnimStream **out);
// The picture (a brush's planes, width x height) written as the stream's next frame.
uint32_t WriteAnimStreamFrame(qmScene *scene, qmAnimStream *stream, const qmBitmap *bitmap, const qmMask *mask,
                              const qmAlphaChannel *alpha, int32_t width, int32_t height,
                              const qmAnimFrameOptions *options);
// 0 or the missing-object error (ERR_FINDANIMSTREAM, ERR_FINDARRAY), else the writer's close.
uint32_t CloseAnimStream(qmObjectRegistry *objects, const qmObjectId *id);
// Closes every stream (shut-down).
void CloseAllAnimStreams(qmObjectRegistry *objects);
uint32_t FindAnimStream(const qmObjectRegistry *objects, const qmObjectId *id, qmAnimStream **out);

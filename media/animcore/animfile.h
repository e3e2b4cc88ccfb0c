// The anim file layer: one interface over the frame decoders (IFF ANIM, GIF, AVI, the platform
// decoder slot and anim-loader plug-ins). Every frame comes as a new buffer of width x height
// 0xAARRGGBB words, rows without gaps.
#pragma once
#include <cstdint>

struct qmFormatPlugins;

enum : uint32_t {
  ANIMFILE_IFFANIM = 1,
  ANIMFILE_GIF = 2,
  ANIMFILE_AVI = 3,
  ANIMFILE_PLATFORM = 4,
  ANIMFILE_PLUGIN = 5,
};

struct qmAnimFile {
  void *decoder;  // the reader of the kind; for plug-ins the plug-in's own handle
  uint32_t kind;  // ANIMFILE_*
  const void *plugin;  // plug-ins: the plug-in that answers the handle
  const qmFormatPlugins *plugins;
};

// Opens an anim file (plug-ins first, then the file's head); the name is the error argument.
// 0, ERR_READFILE, ERR_MEM or ERR_OPENANIM2.
uint32_t ProbeAnimFile(const char *fileName, const qmFormatPlugins *plugins, qmAnimFile **out, int32_t *width,
                       int32_t *height, int32_t *frames, uint32_t *hasAlpha);
// Frame index from 0: new pixels (free with FreeAnimFileFrame), or null.
uint32_t *LoadAnimFileFrame(qmAnimFile *file, int32_t index);
void FreeAnimFileFrame(qmAnimFile *file, uint32_t *pixels);
// Milliseconds.
uint32_t GetAnimFileFrameDelay(qmAnimFile *file, int32_t index);
void CloseAnimFile(qmAnimFile *file);
// 1 when the file opens as an anim of more than one frame, else 0.
int32_t IsAnimFile(const char *fileName, const qmFormatPlugins *plugins);

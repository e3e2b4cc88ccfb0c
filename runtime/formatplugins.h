// The formats that loader and saver plug-ins add, as the plug-in manager offers them to the
// picture, sound, anim and video readers and writers: a record of entries the player's wiring
// puts on the context (formatPlugins), and the plain records handed across to a plug-in.
// Every entry asks the loaded plug-ins in their load order; a null record means no plug-ins.
#pragma once
#include <cstdint>

// What an image-loader plug-in tells of a picture (IsImage, LoadImage, GetImage).
struct qmPluginImageInfo {
  int32_t width;
  int32_t height;
  int32_t pixelsPerRow;
  int32_t alpha;      // the picture has an alpha channel
  int32_t loadAlpha;  // its alpha channel is always loaded
  int32_t kind;       // 1: a vector picture
};

// A still picture handed to an image saver: ARGB words, or one palette index byte per pixel.
enum : uint32_t { SAVEREQ_ALPHA = 1, SAVEREQ_TRANSPARENT = 2 };
struct qmImageSaveRequest {
  const void *pixels;
  const uint32_t *palette;  // 0x00RRGGBB entries of indexed data, else null
  int32_t width, height;
  int32_t bytesPerRow;  // width x 4, or width for indices
  int32_t indexed;
  int32_t quality;
  int32_t colors;            // palette entries; 0 for ARGB data
  int32_t transparentIndex;  // valid with SAVEREQ_TRANSPARENT
  uint32_t flags;            // SAVEREQ_
};
// Bits of a saver record's flags: it takes ARGB data (else indexed), it keeps alpha.
enum : uint32_t { SAVERFLAG_ARGB = 1, SAVERFLAG_ALPHA = 4 };

// PCM handed to a sample saver; flags as a sound's (bit 0 big-endian, bit 1 signed).
struct qmSampleSaveRequest {
  const void *data;
  uint32_t bytes, frames, channels, rate, bits, flags;
};

// What a sound-decoder plug-in tells of a file it opens; flags bit 0 big-endian, bit 1
// signed, bit 2 seekable.
enum : uint32_t { PLUGINSOUND_SEEKABLE = 4 };
struct qmPluginSoundInfo {
  uint32_t frames, channels, bits, rate, flags;
};
// One read of a sound decoder: the frames wanted in, the end flag out.
struct qmPluginSoundRead {
  void *buffer;
  uint32_t frames;
  int32_t end;
};

// The first words of the 16-word block an anim-loader plug-in's OpenAnim fills.
enum : int32_t { ANIMINFO_WIDTH = 0, ANIMINFO_HEIGHT = 1, ANIMINFO_FRAMES = 3, ANIMINFO_ALPHA = 4, ANIMINFO_WORDS = 16 };

// A frame handed to an anim saver: palette indices (one byte a pixel) or 0xAARRGGBB words.
enum : uint32_t { ANIMSAVEFRAME_ALPHA = 1, ANIMSAVEFRAME_TRANSPARENT = 2 };
struct qmAnimSaveFrame {
  const void *pixels;
  const uint32_t *palette;   // 256 entries 0x00RRGGBB for indexed frames, else null
  int32_t bytesPerRow;       // width, or width x 4
  int32_t colors;            // palette entries in use; 0 for ARGB frames
  int32_t transparentIndex;  // valid with ANIMSAVEFRAME_TRANSPARENT
  int32_t delay;             // ms
  uint32_t flags;            // ANIMSAVEFRAME_
};
// What an anim saver's stream is told at its start: frames come indexed, they may carry alpha.
enum : uint32_t { ANIMSAVE_INDEXED = 1, ANIMSAVE_ALPHA = 4 };

// A decoder a plug-in opened (sound stream, anim or video), and the plug-in that answers it.
struct qmPluginDecoder {
  const void *plugin;  // the plug-in's symbol block
  void *handle;        // the plug-in's own
};

struct qmFormatPlugins {
  // Image loaders. Probe (pixels null): 0 and the picture's information when a loader takes the
  // file. Load: 0 with a new MemAlloc'd array of width x height 0xAARRGGBB words (rows without
  // gaps) and its information; ERR_LOADPICTURE2 when no loader takes it; ERR_MEM. With source
  // given, a vector picture (kind 1) keeps the plug-in's image there for renderings at other
  // sizes, until freeImage; otherwise (and for other pictures) the plug-in's image is freed.
  uint32_t (*loadImage)(const char *name, uint32_t **pixels, qmPluginImageInfo *info, qmPluginDecoder *source);
  // The kept image rendered anew under {a, b, c, d, dx, dy} (the 2 x 2 matrix, then an offset)
  // at width x height: 0 with a new MemAlloc'd array as above, ERR_TFIMAGE when the plug-in
  // refuses, ERR_MEM.
  uint32_t (*transformImage)(const qmPluginDecoder *source, const double values[6], int32_t width, int32_t height,
                             uint32_t **pixels);
  void (*freeImage)(const qmPluginDecoder *source);
  // Image and sample savers of a format number: -1 when no plug-in registered it, else the
  // saver's flags (SAVERFLAG_); the save itself: 0, or ERR_SAVEIMAGE / ERR_SAVESAMPLE when the
  // plug-in refuses, ERR_UNKNOWNIMGOUT / ERR_UNKNOWNSMPOUT without a saver.
  int32_t (*imageSaverFlags)(int32_t format);
  uint32_t (*saveImage)(int32_t format, const char *name, const qmImageSaveRequest *request);
  uint32_t (*saveSample)(int32_t format, const char *name, const qmSampleSaveRequest *request);
  // Sound decoders: 1 and the decoder when one takes the file, else 0.
  int (*openSound)(const char *name, qmPluginSoundInfo *info, qmPluginDecoder *decoder);
  uint32_t (*readSound)(const qmPluginDecoder *decoder, qmPluginSoundRead *read);  // frames read
  void (*seekSound)(const qmPluginDecoder *decoder, uint64_t frame);
  const char *(*soundName)(const qmPluginDecoder *decoder);
  void (*closeSound)(const qmPluginDecoder *decoder);
  // Anim loaders: 1 and the decoder with the block's words (ANIMINFO_) when one takes the
  // file, else 0. A frame's pixels (null when the plug-in has none) go back through freeFrame.
  int (*openAnim)(const char *name, uint32_t info[ANIMINFO_WORDS], qmPluginDecoder *decoder);
  const uint32_t *(*loadFrame)(const qmPluginDecoder *decoder, int32_t index);
  void (*freeFrame)(const qmPluginDecoder *decoder, const uint32_t *pixels);
  int32_t (*frameDelay)(const qmPluginDecoder *decoder, int32_t index);  // milliseconds
  void (*closeAnim)(const qmPluginDecoder *decoder);
  // Video decoders: 1 and the decoder when one takes the file (info: the plug-in's record of
  // the video, zeroed, infoSize bytes), else 0.
  int (*openVideo)(const char *name, void *info, uint32_t infoSize, qmPluginDecoder *decoder);
  void (*closeVideo)(const qmPluginDecoder *decoder);
  // Anim savers of a format number: -1 when no plug-in registered it, else the saver's flags
  // (SAVERFLAG_). A stream of width x height (flags ANIMSAVE_): 0 and the stream,
  // ERR_UNKNOWNANMOUT without a saver, ERR_SAVEANIM when it refuses. A frame: 0 or
  // ERR_SAVEANIM. Every stream begun is finished once.
  int32_t (*animSaverFlags)(int32_t format);
  uint32_t (*beginAnimSave)(int32_t format, const char *name, int32_t width, int32_t height, uint32_t flags,
                            int32_t quality, int32_t fps, qmPluginDecoder *stream);
  uint32_t (*writeAnimSaveFrame)(const qmPluginDecoder *stream, const qmAnimSaveFrame *frame);
  void (*finishAnimSave)(const qmPluginDecoder *stream);
  // A video decoder's reading, on the video engine's threads, with the engine's records
  // (media/videocore/videosource.h): the next packet (0, -1 at the end of the file, other
  // negative values skipped), its release, a picture (0 when one is complete), sound, a seek
  // (0 on success), the decoders emptied, the frame count and the format's name.
  int (*videoNextPacket)(const qmPluginDecoder *decoder, void *packet);
  void (*videoFreePacket)(const qmPluginDecoder *decoder, void *packet);
  int (*videoDecodePicture)(const qmPluginDecoder *decoder, const void *packet, void *frame);
  void (*videoDecodeSound)(const qmPluginDecoder *decoder, const void *packet, void *samples);
  int (*videoSeek)(const qmPluginDecoder *decoder, int64_t position, uint32_t seekStream);
  void (*videoFlushSound)(const qmPluginDecoder *decoder);
  void (*videoFlushPictures)(const qmPluginDecoder *decoder);
  int32_t (*videoFrameCount)(const qmPluginDecoder *decoder);
  const char *(*videoFormatName)(const qmPluginDecoder *decoder);
};

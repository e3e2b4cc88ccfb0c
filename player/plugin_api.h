// The contract between the player and its plug-ins (".qmp" shared libraries): the information
// block that InitPlugin fills, the feature flags with the entry points each one requires, and
// the host table of player functions. Records use the machine's own pointer sizes.
#pragma once
#include <cstdint>

#include "runtime/formatplugins.h"

struct VmState;

enum : uint32_t {
  PLUGINFEAT_SCRIPT = 0x01,
  PLUGINFEAT_LIBRARY = 0x02,
  PLUGINFEAT_IMAGE = 0x04,
  PLUGINFEAT_ANIM = 0x08,
  PLUGINFEAT_SOUND = 0x10,
  PLUGINFEAT_VECTOR = 0x20,
  PLUGINFEAT_VIDEO = 0x40,
  PLUGINFEAT_IMGSAVER = 0x80,
  PLUGINFEAT_ANMSAVER = 0x100,
  PLUGINFEAT_SMPSAVER = 0x200,
};

struct qmPluginInfo {
  uint32_t features;
  int32_t version;
  int32_t revision;
  int32_t requiredVersion;   // preset 5 by the player
  int32_t requiredRevision;  // preset 2
  const char *info1;
  const char *name;          // must equal the file name without ".qmp"
  const char *info2to8[7];
};

// Host sub-tables in this order; each an array of function pointers in the documented slot
// order (the last one of data pointers: the three built-in faces, then their byte sizes). No
// slot is null; one whose service needs a run answers 0 (or does nothing) outside one.
enum : int32_t {
  HOSTSUB_STDLIB, HOSTSUB_SYSTEM, HOSTSUB_FILE, HOSTSUB_DISPLAY, HOSTSUB_SOUND, HOSTSUB_REQUESTERS,
  HOSTSUB_FONT, HOSTSUB_FREETYPE, HOSTSUB_VM, HOSTSUB_FONTDATA, HOSTSUB_COUNT
};
inline constexpr int32_t kHostSubTableSlots[HOSTSUB_COUNT] = {32, 17, 23, 12, 2, 3, 1, 26, 68, 6};

// No host function unwinds into a plug-in: one that fails answers 0, an empty text or a null
// pointer, and the player raises the error once the plug-in's command has returned (RaiseError
// too returns).
struct qmHostTable {
  int32_t version;   // 5
  int32_t revision;  // 2
  void *const *sub[HOSTSUB_COUNT];
};

// Slots of the VM sub-table that plug-ins use most.
enum : int32_t {
  HOSTVM_GETTOP = 0,
  HOSTVM_TONUMBER = 14,
  HOSTVM_TOSTRING = 15,
  HOSTVM_PUSHNIL = 20,
  HOSTVM_PUSHNUMBER = 21,
  HOSTVM_PUSHSTRING = 23,
  HOSTVM_GETTABLE = 26,
  HOSTVM_RAISEERROR = 44,
  HOSTVM_CHECKSTRING = 45,
  HOSTVM_CHECKNUMBER = 47,
};
// Slots of the system sub-table.
enum : int32_t {
  HOSTSYS_GETAPPLETTAGS = 0,
  HOSTSYS_ADDUSERERROR = 1,
  HOSTSYS_SETERRORARGUMENT = 2,
  HOSTSYS_FORMATCURRENTDATE = 10,  // (text out, size)
  HOSTSYS_REGISTERUSEREVENT = 14,  // (name): the event number, 0 when refused
  HOSTSYS_POSTUSEREVENT = 15,      // (number, payload): 1 when queued
  HOSTSYS_POSTHOOKEDDISPLAYEVENT = 16,
};
// Slots of the file sub-table that examine.
enum : int32_t { HOSTFILE_EXAMINE = 12, HOSTFILE_EXAMINENEXT = 15, HOSTFILE_GETCURRENTDIRNAME = 18, HOSTFILE_GETFILEPART = 21 };
// Slots of the display sub-table.
enum : int32_t {
  HOSTDISP_GETIMAGESIZE,   // (file, width out, height out, alpha out): 1 for a picture
  HOSTDISP_LOADIMAGE,      // (file, unused, width out, height out, alpha out): an image or null
  HOSTDISP_GETBITMAPPIXELS,
  HOSTDISP_FREEIMAGE,
  HOSTDISP_LOCKBRUSH,      // (brush id, unused, qmHostBrushView out): a lock or null
  HOSTDISP_UNLOCKBRUSH,
  HOSTDISP_GETBRUSHARGB,   // (brush id, tag list): new ARGB words or null
  HOSTDISP_FREEBRUSHARGB,
  HOSTDISP_ATTACHDISPLAYHOOK,
  HOSTDISP_DETACHDISPLAYHOOK,
  HOSTDISP_REFRESHHOOKEDDISPLAY,
  HOSTDISP_RESIZEHOOKEDDISPLAY,
};
enum : int32_t { HOSTSOUND_LOCKSAMPLE, HOSTSOUND_UNLOCKSAMPLE };
// Requesters: the message box (title, text, buttons) answers the button; the file and folder
// requesters (title, path out of kHostPathSize bytes) answer 1 when one was chosen.
enum : int32_t { HOSTREQ_MESSAGE, HOSTREQ_FILE, HOSTREQ_PATH };
inline constexpr int32_t kHostPathSize = 1024;

// An object id as HostGetObjectIdArg gives it: {number, handle}; brushes and samples are named so.
using qmHostObjectId = uintptr_t[2];

// What HostExamine (name null) and HostExamineNext fill.
struct qmHostExamineRecord {
  const char *name;
  uint32_t isDirectory;
  uint32_t size;  // the low 32 bits
  uint32_t protection;
};
// The planes of a locked brush.
struct qmHostBrushView {
  uint32_t *pixels;
  int32_t pixelsPerRow;
  uint8_t *alpha;
  int32_t alphaBytesPerRow;
  uint8_t *mask;
  int32_t maskBytesPerRow;
  int32_t pixelFormat;
  int32_t bytesPerPixel;
  int32_t width, height;
};
// A locked sample: flags bit 1 signed data, bit 0 big-endian data.
struct qmHostSampleLock {
  void *data;  // a copy unless the lock asked for none
  uint32_t bytes, frames, channels, bits, rate, flags;
};

// Rows of a library's command and constant tables (the player's own layout).
struct qmPluginCommand {
  const char *name;
  uint32_t (*handler)(VmState *L);
};
struct qmPluginConstant {
  const char *name;
  const char *text;
  double value;
};

// A saver record that RegisterImageSaver and its kin fill.
struct qmSaverRecord {
  uintptr_t flags;  // SAVERFLAG_ (runtime/formatplugins.h)
  uint32_t formatId;
  const char *formatName;
};

extern "C" {
typedef int (*qmInitPluginFn)(qmPluginInfo *info, const qmHostTable *host, const char *path);
typedef void (*qmClosePluginFn)(void);
typedef const char *(*qmGetBaseTableFn)(void);
typedef const qmPluginCommand *(*qmGetCommandsFn)(void);
typedef const qmPluginConstant *(*qmGetConstantsFn)(void);
typedef uint32_t (*qmInitLibraryFn)(VmState *L);
typedef void (*qmFreeLibraryFn)(VmState *L);
typedef void (*qmRegisterSaverFn)(qmSaverRecord *record);
// Image loader: IsImage and LoadImage answer non-zero (LoadImage its handle) for a file they
// take; GetImage gives the ARGB pixels (pixelsPerRow words a row); TransformImage re-renders
// under {2 x 2 matrix, two values} at a size, non-zero on success.
typedef int (*qmIsImageFn)(const char *file, qmPluginImageInfo *info);
typedef void *(*qmLoadImageFn)(const char *file, qmPluginImageInfo *info);
typedef const uint32_t *(*qmGetImageFn)(void *handle, qmPluginImageInfo *info);
typedef void (*qmFreeImageFn)(void *handle);
typedef int (*qmTransformImageFn)(void *handle, const double matrix[6], int32_t width, int32_t height);
// Savers: non-zero on success.
typedef int (*qmSaveImageFn)(const char *file, const qmImageSaveRequest *request);
typedef int (*qmSaveSampleFn)(const char *file, const qmSampleSaveRequest *request);
// Sound decoder: OpenStream answers a handle, or null for a file it does not take;
// StreamSamples the frames read.
typedef void *(*qmOpenStreamFn)(const char *file, qmPluginSoundInfo *info);
typedef void (*qmCloseStreamFn)(void *handle);
typedef void (*qmSeekStreamFn)(void *handle, uint64_t frame);
typedef uint32_t (*qmStreamSamplesFn)(void *handle, qmPluginSoundRead *read);
typedef const char *(*qmGetFormatNameFn)(void *handle);
// Anim loader: OpenAnim answers a handle (the block of ANIMINFO_WORDS words filled) or null.
typedef void *(*qmOpenAnimFn)(const char *file, uint32_t *info);
typedef const uint32_t *(*qmLoadFrameFn)(void *handle, int32_t index, void *scratch);
typedef void (*qmFreeFrameFn)(void *handle, const uint32_t *pixels);
typedef int32_t (*qmGetFrameDelayFn)(void *handle, int32_t index);
typedef void (*qmCloseAnimFn)(void *handle);
// Anim saver: BeginAnimStream (file, width, height, ANIMSAVE_ flags, quality, fps) answers a
// stream handle or null; WriteAnimFrame non-zero on success.
typedef void *(*qmBeginAnimStreamFn)(const char *file, int32_t width, int32_t height, uint32_t flags, int32_t quality,
                                     int32_t fps);
typedef int (*qmWriteAnimFrameFn)(void *handle, const qmAnimSaveFrame *frame);
typedef void (*qmFinishAnimStreamFn)(void *handle);
// Video decoder, over the video engine's records (media/videocore/videosource.h): OpenVideo
// fills a qmVideoInfo and answers a handle or null; NextPacket fills a qmVideoPacket (0, or -1
// at the end); DecodeVideoFrame writes a picture of the file's size as A, R, G, B bytes into
// the qmVideoFrame's buffer (0 when complete); DecodeAudioFrame fills qmVideoSamples; SeekVideo
// answers 0 on success.
typedef void *(*qmOpenVideoFn)(const char *file, void *info);
typedef void (*qmCloseVideoFn)(void *handle);
typedef int (*qmNextVideoPacketFn)(void *handle, void *packet);
typedef void (*qmFreeVideoPacketFn)(void *handle, void *packet);
typedef int (*qmDecodeVideoFrameFn)(void *handle, const void *packet, void *frame);
typedef void (*qmDecodeAudioFrameFn)(void *handle, const void *packet, void *samples);
typedef int (*qmSeekVideoFn)(void *handle, int64_t position, uint32_t seekStream);
typedef void (*qmFlushVideoFn)(void *handle);
typedef int32_t (*qmGetVideoFramesFn)(void *handle);
}

// The anim record: a script object holding equally sized frames (a bitmap with an optional mask
// or alpha channel each) and a delay per frame, kept in memory or decoded from its file at each
// fetch. Layers, sprites, moves, playback and the anim commands reach frames only through
// FetchAnimFrame and GetAnimFrameDelay.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"
#include "runtime/objectid.h"

struct qmScene;
struct qmObjectRegistry;
struct qmAnimFile;
struct qmPlaneSet;

// A delays entry that was never set: the file's delay (disk-based), else 0.
inline constexpr uint32_t kAnimDelayUnset = 0xFFFFFFFFu;

struct qmAnim {
  qmObjectHeader header;  // type ANIM; a freed record shown by layers has id 0 and itself as handle
  int32_t width, height;  // what the anim shows and fetches by default
  int32_t frameCount;
  uint32_t onDisk;
  int32_t nativeWidth, nativeHeight;  // the size frames are stored or decoded in
  uint32_t smoothScale;   // disk-based frames are scaled from native to current size with it
  int32_t lockCount;      // running playbacks; non-zero: no change, no free
  uint32_t freed;         // freed by the script while layers still show it
  uint32_t transparentColor;  // 0xRRGGBB keyed out when frames become bitmaps; 0xFFFFFFFF none
  uint32_t hasAlpha;
  // The open file of a disk-based anim, or of an in-memory anim whose raw frames still belong
  // to the file's decoder; else null.
  qmAnimFile *animFile;
  // frameCount entries each; null for a disk-based anim. Raw frames (nativeWidth x
  // nativeHeight ARGB words, rows without gaps) wait here until the first display opens.
  qmBitmap **bitmaps;
  qmMask **masks;
  qmAlphaChannel **alphas;
  uint32_t **rawFrames;
  char *fileName;     // disk-based anims: where to reopen the file
  uint32_t *delays;   // milliseconds, frameCount entries; kAnimDelayUnset when not set
  int32_t declLine;   // with raw frames: the declaration's line, for the report if they fail
};

// FindAnim flags.
enum : int32_t {
  FINDANIM_MODIFY = 1,  // locked anims fail; layers showing it get their own copy first
  FINDANIM_FREED = 2,   // anims freed while layers show them count
  FINDANIM_NOCOPY = 4,  // with MODIFY: no copy for the layers
};

// 0 with *out, ERR_LOCKEDOBJ, or the missing-object error (ERR_FINDANIM with the number as
// error argument, ERR_FINDARRAY for an automatic id).
uint32_t FindAnim(qmScene *scene, const qmObjectId *id, qmAnim **out, int32_t flags);
// Appends a zeroed record with the given frames and size (current = native); the arrays are
// taken over on success. An automatic id gets the record as handle (id->handle is updated).
// delays stays null: the caller fills it. 0 or ERR_MEM.
uint32_t NewAnimRecord(qmObjectRegistry *objects, qmObjectId *id, int32_t width, int32_t height, uint32_t **rawFrames,
                       qmBitmap **bitmaps, qmMask **masks, qmAlphaChannel **alphas, int32_t frameCount,
                       uint32_t transparentColor, uint32_t hasAlpha, uint32_t onDisk, qmAnim **out);
// A listed anim of frames blank frames of width x height filled with the colour; with a mask
// every pixel visible (clear: none), with an alpha channel 255 (clear: 0); its transparent
// colour is kOwnMaskColor with a mask. 0 or ERR_MEM (nothing is left).
uint32_t NewBlankAnim(qmObjectRegistry *objects, qmObjectId *id, int32_t width, int32_t height, int32_t frames,
                      uint32_t colour, int32_t withMask, int32_t withAlpha, int32_t clear, qmAnim **out);
// Frees what the record holds (frames, delays, name, file, user data), not the record.
void FreeAnimRecord(qmObjectRegistry *objects, qmAnim *anim);
// FreeAnim: ERR_MODIFYAANIM while it is the selected output, ERR_LOCKEDOBJ while it plays,
// the look-up errors with reportMissing (else a missing anim is no error). An anim that
// layers show lives on for them, flagged freed.
uint32_t DeleteAnim(qmScene *scene, const qmObjectId *id, int32_t reportMissing);
// Frees every freed-flagged anim that no layer shows any more.
void PurgeFreedAnims(qmScene *scene);
// Frees every anim (shut-down).
void FreeAllAnims(qmObjectRegistry *objects);
// ERR_MODIFYAANIM when the anim of that id is what a Select* command draws into now, else 0.
uint32_t CheckNotSelectedAnim(const qmScene *scene, const qmObjectId *id);

// SelectAnim, SelectMask and SelectAlphaChannel: the planes of frame (from 1) of an in-memory
// anim, drawn into in place, and the anim's size. With prepare, output DISPOUT_MASK first gives
// the frame a fully visible mask (its alpha channel goes) unless it has one, DISPOUT_ALPHA an
// opaque alpha channel (its mask goes). 0, the look-up errors of FINDANIM_MODIFY, ERR_ANIMDISK,
// ERR_ANIMFRAME or ERR_MEM (the frame unchanged).
uint32_t AnimFrameOutputPlanes(qmScene *scene, const qmObjectId *id, int32_t frame, uint32_t outputType,
                               int32_t prepare, qmPlaneSet *planes, int32_t *width, int32_t *height, void **record);

// Frame index (from 0): a disk-based frame is decoded, made bitmap (mask, alpha) and scaled
// to the current size unless nativeSize; it is always the caller's. An in-memory frame is the
// anim's own, or with copy new copies. 0, ERR_LOADFRAME or ERR_MEM.
uint32_t FetchAnimFrame(qmAnim *anim, int32_t index, int32_t copy, int32_t nativeSize, qmBitmap **bitmap,
                        qmMask **mask, qmAlphaChannel **alpha);
// Milliseconds: the frame's entry, else the file's delay (disk-based), else 0.
uint32_t GetAnimFrameDelay(const qmAnim *anim, int32_t index);
// A listed copy under the new id (frames at the current size; a disk-based anim reopens its
// file). 0, ERR_MEM or the file's error.
uint32_t CopyAnimRecord(qmObjectRegistry *objects, const qmAnim *src, qmObjectId *newId, qmAnim **out);
// Inserts count blank (opaque black) frames at position (from 1; 0: at the end), or removes
// -count frames from position (0: the last ones). layerCall: freed anims count, no lock check
// and no copies for layers. 0, ERR_ANIMDISK, ERR_WRONGUSAGE, ERR_MEM (anim unchanged), or the
// look-up errors.
uint32_t ChangeAnimFrameCount(qmScene *scene, const qmObjectId *id, int32_t count, int32_t position,
                              int32_t layerCall);
// ScaleAnim's work for a size other than the current one: a disk-based anim records the size
// (frames are scaled when fetched); in memory every frame is scaled into new planes, which
// replace the old ones only when all were made. 0 or ERR_MEM (the anim unchanged).
uint32_t ScaleAnimFrames(qmAnim *anim, int32_t width, int32_t height, int32_t smooth);
// Every in-memory anim's raw frames become bitmaps (and masks); their file is closed. 0 or the
// first error (*failedLine, when given: the failing anim's declaration line).
uint32_t ConvertPendingAnimFrames(qmObjectRegistry *objects, int32_t *failedLine = nullptr);

// Pointer images: the standard pointers (system arrow, busy pointer) and pictures of the
// script's, each one platform pointer. A display shows one at a time; a pointer freed while a
// display still shows it lives on, nameless, until no display does.
#pragma once
#include <cstdint>

#include "runtime/registry.h"

struct VmState;
struct qmObjectId;

enum : int32_t { STDPTR_SYSTEM = 0, STDPTR_BUSY = 1, STDPTR_CUSTOM = 2 };

struct qmPointerImage {
  qmObjectHeader header;  // type QMTYPE_POINTER
  int32_t width, height;
  void *platformImage;  // platform/pointer.h; null for the system arrow
  int32_t kind;         // STDPTR_*
  int32_t freed;        // freed by the script while a display still shows it
};

// The hotspot of a picture's pointer: -1 means the middle; cut to the picture.
void PointerHotspot(int32_t width, int32_t height, int32_t *x, int32_t *y);

// Makes a pointer of a picture (width x height words 0xAARRGGBB, mask and alpha already folded
// into the alpha byte) with the hotspot (-1 for the middle) and lists it under id: a pointer of
// the same number goes first; an automatic id is pushed. The number of results (0 or 1), or
// ERR_POINTERIMG, ERR_MEM. What makes pointers of brushes and sprites calls this.
uint32_t CreatePointerFromArgb(VmState *L, const qmObjectId *id, const uint32_t *argb, int32_t width,
                               int32_t height, int32_t hotX, int32_t hotY);
// A standard pointer (STDPTR_SYSTEM or STDPTR_BUSY) listed under id, as above.
uint32_t CreateStandardPointer(VmState *L, const qmObjectId *id, int32_t kind);

// 0, or ERR_FINDPOINTER / ERR_FINDARRAY; freed pointers are not found.
uint32_t FindPointerImage(VmState *L, const qmObjectId *id, qmPointerImage **out);
// FreePointer: gone at once, or kept nameless while a display shows it.
void ReleasePointerImage(VmState *L, qmPointerImage *p);
// Frees every released pointer that no display shows any more.
void PurgeReleasedPointers(VmState *L);
// Every pointer image, shown or not; the displays go back to the system arrow.
void FreeAllPointerImages(VmState *L);

#include "graphics/graphics/pointerimage.h"

#include "display/display.h"
#include "display/scene.h"
#include "platform/memory.h"
#include "platform/pointer.h"
#include "display/displaywindow.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"
#include "runtime/vm/vm_api.h"

namespace {

bool ShownByAnyDisplay(const qmScene *scene, const qmPointerImage *p) {
  for (qmDisplay *d = scene->displays; d; d = d->next)
    if (PlatformPointerOwner(d) == p) return true;
  return false;
}

void DestroyPointerImage(VmState *L, qmPointerImage *p) {
  for (qmDisplay *d = GetScene(L)->displays; d; d = d->next)
    if (PlatformPointerOwner(d) == p) SetPlatformPointer(d, nullptr, PLATPTR_SYSTEM, nullptr);
  RemoveObject(L, &p->header);
  FreePlatformPointer(p->platformImage);
  FreeObjectDataList(L, static_cast<qmObjectData *>(p->header.userData));
  MemFree(p);
}

// Lists the new record under id; a pointer of the same number goes first.
uint32_t ListPointer(VmState *L, const qmObjectId *id, qmPointerImage *p) {
  if (!id->handle) {
    qmPointerImage *old = nullptr;
    if (FindPointerImage(L, id, &old) == 0) ReleasePointerImage(L, old);
  }
  SetObjectHeader(&p->header, QMTYPE_POINTER, id);
  if (uint32_t code = AddObject(L, &p->header)) {
    FreePlatformPointer(p->platformImage);
    MemFree(p);
    return code;
  }
  if (id->handle) {
    vm_pushlightuserdata(L, p);
    return 1;
  }
  return 0;
}

}  // namespace

void PointerHotspot(int32_t width, int32_t height, int32_t *x, int32_t *y) {
  if (*x < 0) *x = width / 2;
  if (*y < 0) *y = height / 2;
  if (*x > width - 1) *x = width - 1;
  if (*y > height - 1) *y = height - 1;
}

uint32_t CreatePointerFromArgb(VmState *L, const qmObjectId *id, const uint32_t *argb, int32_t width,
                               int32_t height, int32_t hotX, int32_t hotY) {
  PointerHotspot(width, height, &hotX, &hotY);
  void *image = nullptr;
  if (uint32_t code = CreatePlatformPointer(argb, width, height, hotX, hotY, &image)) return code;
  auto *p = static_cast<qmPointerImage *>(MemAlloc(sizeof(qmPointerImage), 1));
  if (!p) {
    FreePlatformPointer(image);
    return ERR_MEM;
  }
  p->width = width;
  p->height = height;
  p->platformImage = image;
  p->kind = STDPTR_CUSTOM;
  return ListPointer(L, id, p);
}

uint32_t CreateStandardPointer(VmState *L, const qmObjectId *id, int32_t kind) {
  if (kind != STDPTR_SYSTEM && kind != STDPTR_BUSY) return ERR_WRONGUSAGE;
  auto *p = static_cast<qmPointerImage *>(MemAlloc(sizeof(qmPointerImage), 1));
  if (!p) return ERR_MEM;
  p->width = p->height = kPlatformPointerSize;
  p->kind = kind;
  return ListPointer(L, id, p);
}

uint32_t FindPointerImage(VmState *L, const qmObjectId *id, qmPointerImage **out) {
  auto *p = reinterpret_cast<qmPointerImage *>(FindObject(L, QMTYPE_POINTER, id));
  if (!p || p->freed) return MissingObjectError(id, ERR_FINDPOINTER);
  *out = p;
  return 0;
}

void ReleasePointerImage(VmState *L, qmPointerImage *p) {
  if (!ShownByAnyDisplay(GetScene(L), p)) {
    DestroyPointerImage(L, p);
    return;
  }
  // Listed again under its own address, so that its number is free for a new pointer at once.
  RemoveObject(L, &p->header);
  p->header.id = 0;
  p->header.handle = reinterpret_cast<uintptr_t>(p);
  p->freed = 1;
  if (AddObject(L, &p->header) != 0) DestroyPointerImage(L, p);
}

void PurgeReleasedPointers(VmState *L) {
  for (qmObjectHeader *h = FirstObject(L, QMTYPE_POINTER); h;) {
    auto *p = reinterpret_cast<qmPointerImage *>(h);
    h = h->next;
    if (p->freed && !ShownByAnyDisplay(GetScene(L), p)) DestroyPointerImage(L, p);
  }
}

void FreeAllPointerImages(VmState *L) {
  for (qmObjectHeader *h = FirstObject(L, QMTYPE_POINTER); h;) {
    auto *p = reinterpret_cast<qmPointerImage *>(h);
    h = h->next;
    DestroyPointerImage(L, p);
  }
}

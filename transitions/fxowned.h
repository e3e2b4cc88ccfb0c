// The buffers an effect hangs on its state are freed in one place: the effect names each
// pointer of its state that owns something (at its init call, before or after it allocates),
// and the runner frees what they point to, clearing them, before it frees the state itself.
#pragma once
#include <cassert>

#include "graphics/bitmap.h"
#include "platform/memory.h"
#include "transitions/fxrequest.h"

inline void FreeFxOwned(qmBitmap *bitmap) { FreeBitmap(bitmap); }
inline void FreeFxOwned(qmMask *plane) { FreeMask(plane); }  // masks and alpha channels alike
// Any other pointer is a block of MemAlloc.
template <class T>
void FreeFxOwned(T *block) {
  MemFree(block);
}

template <class T>
void FxOwn(qmFxRequest *fx, T **slot) {
  assert(fx->ownedCount < kFxMaxOwned);
  fx->owned[fx->ownedCount++] = {slot, [](void *p) {
                                   T **s = static_cast<T **>(p);
                                   FreeFxOwned(*s);
                                   *s = nullptr;
                                 }};
}

template <class T, class... More>
void FxOwn(qmFxRequest *fx, T **slot, More... more) {
  FxOwn(fx, slot);
  FxOwn(fx, more...);
}

// Frees what every named pointer holds, latest first, and forgets them.
inline void ReleaseFxOwned(qmFxRequest *fx) {
  while (fx->ownedCount > 0) {
    const qmFxOwned &o = fx->owned[--fx->ownedCount];
    o.release(o.slot);
  }
}

// The effect's state goes: what its own free routine undoes, then the buffers it named, then
// the state itself.
inline void FreeFxState(qmFxRequest *fx, int32_t complete) {
  if (!fx->fxState) return;
  if (fx->freeFn) fx->freeFn(fx, complete);
  ReleaseFxOwned(fx);
  MemFree(fx->fxState);
  fx->fxState = nullptr;
}

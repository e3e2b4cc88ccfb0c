#include "display/asyncdraw.h"

#include "runtime/errcodes.h"

uint32_t CreateAsyncDraw(qmScene *, int32_t, qmAsyncFrameFn, uintptr_t, qmAsyncFinishFn, qmAsyncFreeFn,
                         qmAsyncControlFn, void *, qmAsyncDraw **) {
  return ERR_MEM;
}
int32_t IsDisplayInAsyncDraw(const qmScene *, const qmDisplay *) { return 0; }
void *QueryPendingAsyncDraw(const qmScene *) { return nullptr; }
uint32_t BroadcastAsyncDraws(const qmScene *, int32_t, intptr_t) { return 0; }
int32_t IsObjectInAsyncDraw(const qmScene *, const void *) { return 0; }
uint32_t FindAsyncDraw(const qmScene *, const qmObjectId *, qmAsyncDraw **) { return ERR_FINDARRAY; }
uint32_t AdvanceAsyncDraw(qmScene *, qmAsyncDraw *, int32_t, double, int32_t *done) {
  *done = 0;
  return 0;
}
void FinishAsyncDrawObject(qmScene *, qmAsyncDraw *) {}
void CancelAsyncDrawObject(qmScene *, qmAsyncDraw *) {}
void EndDisplayAsyncDraws(qmScene *, const qmDisplay *) {}
void FreeAllAsyncDraws(qmScene *) {}

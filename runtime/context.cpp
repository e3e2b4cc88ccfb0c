#include "runtime/context.h"

#include <new>

#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/vm/vm_state.h"

qmPlayerContext *GetPlayerContext(VmState *L) { return static_cast<qmPlayerContext *>(G(L)->context); }

qmScene *GetScene(VmState *L) {
  qmPlayerContext *ctx = L ? GetPlayerContext(L) : nullptr;
  return ctx ? ctx->scene : nullptr;
}

namespace {
uint32_t PollQuit(void *ud) {
  auto *L = static_cast<VmState *>(ud);
  if (qmPlayerContext *ctx = GetPlayerContext(L); ctx && ctx->serviceEvents) ctx->serviceEvents(L);
  return G(L)->endrequested ? uint32_t(ERR_USERABORT) : 0;
}
}  // namespace

qmCancel CommandCancel(VmState *L) { return qmCancel{PollQuit, L}; }

uint32_t OpenPlayerContext(VmState *L) {
  if (G(L)->context) return 0;  // already bound: the runtime support started twice
  auto *ctx = new (std::nothrow) qmPlayerContext{};
  if (ctx == nullptr) return ERR_MEM;
  if (uint32_t code = NewObjectRegistry(L, &ctx->objects)) {
    delete ctx;
    return code;
  }
  G(L)->context = ctx;
  return 0;
}

void ClosePlayerContext(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (ctx == nullptr) return;
  if (ctx->scene && ctx->freeScene) ctx->freeScene(ctx->scene);
  FreeObjectRegistry(ctx->objects);
  delete ctx;
  G(L)->context = nullptr;
}

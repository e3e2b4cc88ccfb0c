#include "runtime/rtsupport.h"

#include "platform/errorarg.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/errreport.h"
#include "runtime/eventqueue.h"
#include "runtime/registry.h"
#include "runtime/rttags.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_state.h"

namespace {

// The state of the run being played: the one way in for callers that are handed no state (the
// platform's error-argument setter, the applet record's readers). A process plays one run at a
// time; the run's own state hangs off this state's context, so nothing of it stays here.
VmState *gMainState = nullptr;

void SetArgumentFromPlatform(const char *text) { SetErrorArgument(text); }

}  // namespace

uint32_t InitRuntimeSupport(VmState *L) {
  if (OpenPlayerContext(L)) return ERR_MEM;
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (ctx->queue == nullptr) ctx->queue = NewEventQueue();
  if (ctx->tags == nullptr) ctx->tags = NewRuntimeTags();
  if (ctx->userErrors == nullptr) ctx->userErrors = NewUserErrors();
  if (ctx->queue == nullptr || ctx->tags == nullptr || ctx->userErrors == nullptr) {
    DeleteEventQueue(ctx->queue);
    DeleteRuntimeTags(ctx->tags);
    DeleteUserErrors(ctx->userErrors);
    ClosePlayerContext(L);
    return ERR_MEM;
  }
  BindEventQueue(ctx->queue);
  BindRuntimeTags(ctx->tags);
  BindUserErrors(ctx->userErrors);
  BindCommandRegistry(&ctx->commands);
  gMainState = L;
  VmGlobalState *g = G(L);
  BindErrorState(&g->err);
  g->rt.fillfuncname = FillErrorFunctionName;
  g->rt.errorhandler = CallErrorHandler;
  g->rt.stricmp = Stricmp;
  InstallErrorArgumentSetter(SetArgumentFromPlatform);
  return 0;
}

void FreeRuntimeSupport() {
  FreeCommandRegistry();
  BindCommandRegistry(nullptr);
  InstallErrorArgumentSetter(nullptr);
  if (gMainState) {
    VmGlobalState *g = G(gMainState);
    if (g->rt.fillfuncname == FillErrorFunctionName) g->rt.fillfuncname = nullptr;
    if (g->rt.errorhandler == CallErrorHandler) g->rt.errorhandler = nullptr;
    if (qmPlayerContext *ctx = GetPlayerContext(gMainState)) {
      DeleteEventQueue(ctx->queue);
      DeleteRuntimeTags(ctx->tags);
      DeleteUserErrors(ctx->userErrors);
      ctx->queue = nullptr;
      ctx->tags = nullptr;
      ctx->userErrors = nullptr;
    }
    ClosePlayerContext(gMainState);
  }
  // What was set with no run bound (start-up before the script state, the end after it) goes too.
  ResetRuntimeTags();
  FreeUserErrors();
  FreeCommandRegistry();
  BindErrorState(nullptr);
  gMainState = nullptr;
}

VmState *GetMainState() { return gMainState; }

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

VmState *gMainState = nullptr;

void SetArgumentFromPlatform(const char *text) { SetErrorArgument(text); }

}  // namespace

uint32_t InitRuntimeSupport(VmState *L) {
  if (OpenPlayerContext(L)) return ERR_MEM;
  gMainState = L;
  VmGlobalState *g = G(L);
  BindErrorState(&g->err);
  g->rt.fillfuncname = FillErrorFunctionName;
  g->rt.errorhandler = CallErrorHandler;
  g->rt.stricmp = Stricmp;
  InstallErrorArgumentSetter(SetArgumentFromPlatform);
  InitEventQueue();
  return 0;
}

void FreeRuntimeSupport() {
  ResetRuntimeTags();
  FreeCommandRegistry();
  FreeUserErrors();
  FreeEventQueue();
  InstallErrorArgumentSetter(nullptr);
  if (gMainState) {
    VmGlobalState *g = G(gMainState);
    if (g->rt.fillfuncname == FillErrorFunctionName) g->rt.fillfuncname = nullptr;
    if (g->rt.errorhandler == CallErrorHandler) g->rt.errorhandler = nullptr;
    ClosePlayerContext(gMainState);
  }
  BindErrorState(nullptr);
  gMainState = nullptr;
}

VmState *GetMainState() { return gMainState; }

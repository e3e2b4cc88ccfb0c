#include "player/shutdown.h"

#include <cstdio>

#include "platform/catalog.h"
#include "platform/desktop.h"
#include "platform/hooks.h"
#include "platform/memory.h"
#include "platform/process.h"
#include "player/appletrecord.h"
#include "player/clargs.h"
#include "player/libtable.h"
#include "player/playerrun.h"
#include "player/wiring.h"
#include "player/playertext.h"
#include "player/pluginmanager.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/errreport.h"
#include "runtime/rtsupport.h"
#include "runtime/rttags.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_func.h"
#include "runtime/vm/vm_gc.h"
#include "runtime/vm/vm_state.h"

namespace {

void Report(uint32_t code, qmPlayerRun *run) {
  qmClArgs *args = run->args;
  char file[1024];
  int32_t line = 0;
  GetErrorReport(run->L, code, args->message, sizeof args->message, file, sizeof file, &line);
  if (run->options.consoleReports) {
    if (file[0]) std::printf("%s:%d: %s\n", file, line, args->message);
    else std::printf("%s: %s\n", PlayerText(MSG_ERROR), args->message);
    std::fflush(stdout);
  } else {
    ShowScriptError(run->L, args->message, 0);
  }
}

void CallAllFinalisers(VmState *, void *ud) { vm_callgctm(static_cast<VmState *>(ud)); }

// Runs every pending finaliser now, as closing the VM would, so that they see the runtime
// support, the applet record and the plug-ins still in place; closing then finds none left.
void RunAllFinalisers(VmState *L) {
  L = G(L)->mainthread;
  vm_closeupvals(L, L->stack);
  vm_separateudata(L);
  L->errfunc = 0;
  do {
    L->ci = L->base_ci;
    L->base = L->top = L->ci->base;
    L->nCcalls = 0;
  } while (vm_rawrunprotected(L, CallAllFinalisers, L) != 0);
}

}  // namespace

int Shutdown(uint32_t code, qmPlayerRun *run) {
  VmState *L = run->L;
  for (char *&icon : run->options.icons) {
    MemFree(icon);
    icon = nullptr;
  }
  qmTagItem tags[] = {{RTTAG_DECLARATIONS, 0}, {RTTAG_QUIET, run->args->quiet}, {0, 0}};
  SetRuntimeTags(nullptr, tags);
  CloseConsoleOutput();

  UnwirePlayerContext(L);
  FreeLibraries(L, run->libraries);

  FreeUserArgs(run->args);
  FreeRunOptions(&run->options);

  bool reported = code != 0 && code != ERR_USERABORT;
  if (reported) Report(code, run);

  // Plug-ins release their state and finalisers run while the VM, the applet record and the
  // runtime support (event queue, hook lists, error buffers) still exist; the plug-ins' code
  // stays loaded until no finaliser can call into it.
  FreePluginLibraries(L);
  RunAllFinalisers(L);
  FreePlugins();
  FreeRuntimeSupport();
  vm_close(L);
  run->L = nullptr;
  FreeAppletContents(run->applet);
  MemFree(run->applet);
  run->applet = nullptr;

  RemoveTempFiles(run);
  MemFree(run->args);
  run->args = nullptr;
  SetMessageCatalog(nullptr);
  CatalogClose(GetPlayerCatalog());
  SetPlayerCatalog(nullptr);
  ShutdownDesktop();  // timers, windows and the desktop connection
  ShutdownPlatform();
  return reported ? 1 : 0;
}

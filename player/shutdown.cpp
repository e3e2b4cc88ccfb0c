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

namespace {

struct ReportJob {
  uint32_t code;
  qmPlayerRun *run;
};

void MakeReport(VmState *, void *ud) {
  auto *job = static_cast<ReportJob *>(ud);
  qmPlayerRun *run = job->run;
  qmClArgs *args = run->args;
  char file[1024];
  int32_t line = 0;
  GetErrorReport(run->L, job->code, args->message, sizeof args->message, file, sizeof file, &line);
  if (run->options.consoleReports) {
    if (file[0]) std::printf("%s:%d: %s\n", file, line, args->message);
    else std::printf("%s: %s\n", PlayerText(MSG_ERROR), args->message);
    std::fflush(stdout);
  } else {
    ShowScriptError(run->L, args->message, 0);
  }
}

// Finding the file and line may still ask the VM for memory; without it the message alone
// goes out, so that a run that ran out of memory still says so.
void Report(uint32_t code, qmPlayerRun *run) {
  VmState *L = run->L;
  ReportJob job{code, run};
  if (vm_runprotected(L, MakeReport, &job) == 0) return;
  FormatErrorMessage(code, run->args->message, sizeof run->args->message);
  FILE *out = run->options.consoleReports ? stdout : stderr;
  std::fprintf(out, "%s\n", run->args->message);
  std::fflush(out);
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
  // Memory that runs out while the libraries free their objects is reported like an error of
  // the run, without a script line; it must not move the place of the run's own error.
  struct FreeJob {
    VmState *L;
    qmPlayerRun *run;
    uint32_t freed;
  } job{L, run, 0};
  vm_keeperrorstate(
      L, [](void *ud) {
        auto *j = static_cast<FreeJob *>(ud);
        j->freed = FreeLibraries(j->L, j->run->libraries);
      },
      &job);
  uint32_t freed = job.freed;
  if (code == 0 && freed) {
    code = freed;
    qmTagItem noLine[] = {{RTTAG_LINEINFO, 0}, {0, 0}};
    SetRuntimeTags(nullptr, noLine);
  }

  FreeUserArgs(run->args);
  FreeRunOptions(&run->options);

  bool reported = code != 0 && code != ERR_USERABORT;
  if (reported) Report(code, run);

  // Plug-ins release their state and finalisers run while the VM, the applet record and the
  // runtime support (event queue, hook lists, error buffers) still exist; the plug-ins' code
  // stays loaded until no finaliser can call into it.
  FreePluginLibraries(L);
  // Finalisers run now, while the runtime support, the applet record and the plug-ins are still
  // in place; closing the VM then finds none left.
  vm_runfinalisers(L);
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

#include "player/wiring.h"

#include "display/bgpic/lib_bgpic.h"
#include "display/display/displaylib.h"
#include "platform/audio.h"
#include "platform/eventpump.h"
#include "player/clargs.h"
#include "player/event/event_dispatch.h"
#include "player/playerrun.h"
#include "player/system/system_platform.h"
#include "runtime/context.h"

void WirePlayerContext(VmState *L, qmPlayerRun *run) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx) return;
  WireDisplayServices(L);
  // Later libraries add their lines here.
  ctx->serviceEvents = ServiceEvents;
  SetAudioSink(&kSystemAudioSink);  // the sound library opens it when a script first needs it
  if (qmSystemServices *sys = ctx->system) {
    // Waits pump events, so that a quit ends them.
    sys->timedWait = WaitWithEventTimer;
    qmClArgs *args = run->args;
    qmProgramInfo &info = sys->program;
    info.linked = static_cast<int32_t>(run->linked);
    info.applet = static_cast<int32_t>(args->isApplet);
    info.programPath = args->programPath;
    info.executablePath = args->executablePath;
    info.fileArgument = args->programPath;
    info.userArguments = args->userArgs;
    info.startedFromShell = static_cast<int32_t>(run->startedFromShell);
  }
}

void WireDisplayServices(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx) return;
  ctx->displayOps = &kDisplayOps;
  ctx->currentPicture = BGPicCurrentPicture;
}

void UnwirePlayerContext(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx) return;
  ctx->displayOps = nullptr;
  ctx->serviceEvents = nullptr;
  SetAudioSink(nullptr);
  ctx->findLayerByName = nullptr;
  ctx->addTextLayer = nullptr;
  ctx->currentPicture = nullptr;
  if (qmSystemServices *sys = ctx->system) SetDefaultSystemServices(sys);
}

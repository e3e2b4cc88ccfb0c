#include "player/mainrun.h"

#include <cstdio>
#include <cstring>

#include "display/scene.h"
#include "platform/memory.h"
#include "player/appletrecord.h"
#include "player/clargs.h"
#include "player/declarations.h"
#include "runtime/context.h"
#include "runtime/eventdispatch.h"
#include "player/libtable.h"
#include "player/linkrecord.h"
#include "player/playerrun.h"
#include "player/playertext.h"
#include "player/pluginmanager.h"
#include "player/programfile.h"
#include "player/shutdown.h"
#include "player/startup.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/errreport.h"
#include "runtime/registry.h"
#include "runtime/rttags.h"
#include "runtime/vm/vm_api.h"

namespace {

void SetTag(uint32_t tag, uintptr_t value) {
  qmTagItem tags[] = {{tag, value}, {0, 0}};
  SetRuntimeTags(nullptr, tags);
}

// Hands the whole bytecode over at the first call and ends the chunk at the second.
struct BytecodeReader {
  const qmApplet *applet;
  bool done;
};
const char *ReadBytecode(VmState *, void *ud, size_t *size) {
  auto *r = static_cast<BytecodeReader *>(ud);
  if (r->done) {
    *size = 0;
    return nullptr;
  }
  r->done = true;
  *size = r->applet->bytecodeLength;
  return reinterpret_cast<const char *>(r->applet->bytecode);
}

uint32_t RunExports(qmPlayerRun *run) {
  VmState *L = run->L;
  const qmRunOptions &o = run->options;
  if (o.exportCommands && !DumpCommandList(o.exportCommands)) {
    SetErrorArgument(o.exportCommands);
    return ERR_WRITEFILE;
  }
  if (o.exportConstants && !DumpConstantList(L, o.exportConstants)) {
    SetErrorArgument(o.exportConstants);
    return ERR_WRITEFILE;
  }
  if (o.exportPlugins == nullptr) return 0;
  ScanPluginDirectory(run->args->executablePath, o.skipList);
  if (uint32_t e = RegisterAllPlugins(L)) return e;
  return WritePluginInfo(o.exportPlugins);
}

// The run from start-up to the end of the main chunk; the code for Shutdown.
uint32_t Run(qmPlayerRun *run, int argc, char **argv) {
  VmState *L = run->L;
  qmPlayerApplet *applet = run->applet;
  uint8_t linkRecord[kLinkRecordSize];
  CopyLinkRecord(linkRecord);
  if (uint32_t e = StartUp(run, linkRecord, argc, argv)) return e;

  const qmRunOptions &o = run->options;
  if (o.exportCommands || o.exportConstants || o.exportPlugins) return RunExports(run);

  ScanPluginDirectory(run->args->executablePath, o.skipList);
  if (uint32_t e = RegisterAllPlugins(L)) return e;

  if (uint32_t e = OpenProgramFile(L, run)) return e;
  PrintStatusMessage(PlayerText(MSG_COMPILING_SCRIPT), nullptr, 1);
  SetTag(RTTAG_LINEINFO, 1);
  BytecodeReader reader{&applet->base, false};
  if (uint32_t e = vm_load(L, ReadBytecode, &reader, nullptr)) return e;
  SetTag(RTTAG_LINEINFO, 0);
  // The event check: every few hundred loop edges and calls, the throttled platform pump.
  vm_setperiodiccheck(L, GetPlayerContext(L)->serviceEvents, kEventCheckEvery);
  PrintDoneMessage();
  // Only now, with the program file read and its bytecode loaded, is compiling refused.
  if (run->args->compileRequested) return ERR_PLAYERCOMP;

  int32_t line = vm_geterrorline(L);
  PrintStatusMessage(PlayerText(MSG_LOADING_APPLET), run->args->programPath, 1);

  bool displayOne = false;
  for (qmDeclaration *d = Declarations(applet); d; d = d->next) {
    if (d->type == DECL_DISPLAY && d->id == 1) displayOne = true;
    if (d->type == DECL_PLUGIN)
      if (uint32_t e = RequirePlugin(L, d->fileName, int32_t(d->param1), int32_t(d->param2))) return e;
  }
  if (!displayOne)
    if (uint32_t e = AddDefaultDisplay(applet, nullptr, nullptr)) return e;
  MergeDisplayOptions(applet);
  MarkSharedLoads(applet);

  SetTag(RTTAG_DECLARATIONS, 1);
  SetTag(RTTAG_LINEINFO, 1);
  uint32_t code = RunDeclarations(L, applet, run->args->programPath, applet->base.appletBase);
  if (code) return code;
  vm_seterrorplace(L, line, nullptr, nullptr);
  SetTag(RTTAG_DECLARATIONS, 0);
  SetTag(RTTAG_QUIET, run->args->quiet);
  SetTag(RTTAG_LINEINFO, 0);
  FreeDeclarations(applet);
  PrintDoneMessage();

  // A player built without the display library has no display to open.
  vm_pushstring(L, "createdisplay");
  vm_gettable(L, VM_GLOBALSINDEX);
  const bool displays = vm_type(L, -1) == VM_TFUNCTION;
  vm_pop(L, 1);
  const qmDisplaySettings &ds = applet->settings;
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (ctx->scene) {
    // What full-screen windows show around a smaller picture.
    qmBackfillSettings &b = ctx->scene->backfill;
    b.type = uint32_t(ds.backfill.mode);
    b.startColor = ds.backfill.startColor;
    b.endColor = ds.backfill.endColor;
    b.pictureX = ds.backfill.pictureX;
    b.pictureY = ds.backfill.pictureY;
    b.brush = {uint32_t(ds.backfill.brushId), 0};
    b.scalePicture = ds.backfill.scalePicture;
    b.transparentColor = ds.backfill.transparentColor;
    std::snprintf(b.brushFile, sizeof b.brushFile, "%s", ds.backfill.imageFile);
    b.coverTitleBar = ds.hideTitleBar > 0 ? 1 : 0;
  }
  if (displays && ctx->openFirstDisplay)
    if (uint32_t e = ctx->openFirstDisplay(L, ds.displayMode, ds.screenWidth, ds.screenHeight)) return e;
  SetTag(RTTAG_LINEINFO, 1);
  return CallScriptMain(L);
}

}  // namespace

uint32_t CallScriptMain(VmState *L) { return vm_pcall(L, 0, 0, 0); }

int PlayerMainWith(int argc, char **argv, const qmLibrary *const *libraries) {
  MemSetUpForLongRun();
  qmPlayerRun record{nullptr, nullptr, nullptr, 0, 0, 1, {}, nullptr, libraries};
  qmPlayerRun *run = &record;
  run->args = static_cast<qmClArgs *>(MemAlloc(sizeof(qmClArgs), 1));
  run->applet = static_cast<qmPlayerApplet *>(MemAlloc(sizeof(qmPlayerApplet), 1));
  run->L = run->args && run->applet ? vm_open() : nullptr;
  if (run->L == nullptr) {
    MemFree(run->args);
    MemFree(run->applet);
    run->args = nullptr;
    run->applet = nullptr;
    std::puts("Not enough memory.");
    return 1;
  }
  return Shutdown(Run(run, argc, argv), run);
}

int PlayerMain(int argc, char **argv) { return PlayerMainWith(argc, argv, kPlayerLibraries); }

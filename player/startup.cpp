#include "player/startup.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "io/crc32.h"
#include "platform/catalog.h"
#include "platform/eventpump.h"
#include "platform/fileops.h"
#include "platform/hooks.h"
#include "platform/memory.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/systemtext.h"
#include "player/appletrecord.h"
#include "player/clargs.h"
#include "player/inifile.h"
#include "player/libtable.h"
#include "player/linkrecord.h"
#include "player/options.h"
#include "player/playerrun.h"
#include "player/playertext.h"
#include "player/wiring.h"
#include "runtime/auxlib.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/rtsupport.h"
#include "runtime/rttags.h"
#include "runtime/strutil.h"
#include "runtime/vnames.h"
#include "runtime/vm/vm_api.h"

namespace {

// Arguments, argument line and .ini values live until the options are applied.
struct StartBuffers {
  char **args = nullptr;
  char *line = nullptr;
  qmIniValues ini{};
  ~StartBuffers() {
    MemFree(args);
    MemFree(line);
    FreeIniValues(&ini);
  }
};

// The arguments read in as Latin-1, in one allocation: the pointers, then the texts.
char **ArgumentsFromSystem(int argc, char **argv) {
  size_t size = (size_t(argc) + 1) * sizeof(char *);
  for (int i = 0; i < argc; i++) size += 2 * std::strlen(argv[i]) + 1;
  if (size > UINT32_MAX) return nullptr;
  auto **args = static_cast<char **>(MemAlloc(uint32_t(size), 0));
  if (args == nullptr) return nullptr;
  auto *text = reinterpret_cast<char *>(args + argc + 1);
  for (int i = 0; i < argc; i++) {
    size_t room = 2 * std::strlen(argv[i]) + 1;
    TextFromSystem(argv[i], text, room);
    args[i] = text;
    text += room;
  }
  args[argc] = nullptr;
  return args;
}

void PrintBanner() {
  std::printf("QuenmoorPlayer %d.%d [Linux] (C) Tarrowby\n", 5, 2);
  std::printf("Multimedia applets: graphics, sound, animation and networking in one script\n");
  std::printf(" \n");
  std::fflush(stdout);
}

// context: the script state of the run the tag is for, or null for the process-wide ones.
void SetTag(VmState *context, uint32_t tag, uintptr_t value) {
  qmTagItem tags[] = {{tag, value}, {0, 0}};
  SetRuntimeTags(context, tags);
}

// The .ini file beside the program, or beside the executable for a linked program.
void IniPath(const qmPlayerRun *run, char *out, size_t size) {
  if (!run->linked) {
    CopyString(out, run->args->programPath, size);
    return;
  }
  char folder[kMaxPathLength + 1];
  GetBundlePath(folder);
  const char *file = std::strrchr(run->args->programPath, '/');
  // A path too long for the buffer names no file, rather than a cut one.
  CopyString(out, folder, size);
  if (!AddPart(out, size, file ? file + 1 : run->args->programPath)) out[0] = 0;
}

}  // namespace

uint32_t OpenScriptState(VmState *L) {
  if (uint32_t e = InitRuntimeSupport(L)) return e;
  if (uint32_t e = OpenScene(L)) return e;
  vm_pushstring(L, "inclevels");
  vm_newtable(L);
  vm_pushstring(L, "count");
  vm_pushnumber(L, 0);
  vm_rawset(L, -3);
  vm_rawset(L, VM_REGISTRYINDEX);
  vm_pushstring(L, "_g");
  vm_pushvalue(L, VM_GLOBALSINDEX);
  vm_settable(L, VM_GLOBALSINDEX);
  return 0;
}

uint32_t StartUp(qmPlayerRun *run, const uint8_t *linkRecord, int argc, char **argv) {
  VmState *L = run->L;
  qmClArgs *args = run->args;
  qmPlayerApplet *applet = run->applet;
  if (uint32_t e = InitPlatform()) return e;

  qmCatalog *catalog = CatalogOpen("Quenmoor.catalog");
  SetPlayerCatalog(catalog);
  SetMessageCatalog(catalog);
  InitCRC32Table();

  ResetDisplaySettings(&applet->settings);
  args->exeTypes = 0x800;
  qmOptionValues values{};

  uint32_t offset = LinkRecordOffset(linkRecord);
  if (offset != kNothingAppended) {
    run->linkOffset = offset;
    run->linked = 1;
  }
  GetExecutablePath(args->executablePath);

  StartBuffers buffers;
  buffers.line = static_cast<char *>(MemAlloc(kArgumentLineSize, 1));
  buffers.args = ArgumentsFromSystem(argc, argv);
  if (buffers.line == nullptr || buffers.args == nullptr) return ERR_MEM;
  if (argc >= 2 && std::strncmp(argv[1], "-psn", 4) == 0) {
    run->startedFromShell = 0;
    GetBundleArguments(0, 0, buffers.line, kArgumentLineSize);
  } else if (uint32_t e = JoinArguments(argc, buffers.args, buffers.line)) {
    return e;
  }
  if (uint32_t e = ParseArgumentLine(buffers.line, &values, args)) return e;

  const char *program = values.Text(OPT_PROGRAM);
  if (program == nullptr) program = GetStartupDocument();
  if (program) {
    CopyString(args->programPath, program, sizeof args->programPath);
    CopyString(args->scriptName, program, sizeof args->scriptName);
  } else if (!run->linked && !values.slot[OPT_EXPORTCOMMANDS] && !values.slot[OPT_EXPORTCONSTANTS] &&
             !values.slot[OPT_EXPORTPLUGINS]) {
    return ERR_USERABORT;  // an export run needs no program; anything else ends silently
  }
  if (run->linked) CopyString(args->programPath, args->executablePath, sizeof args->programPath);

  if (const char *output = values.Text(OPT_COMPILE)) {
    if (output[0] == '/' || !GetFullPath(output, args->compileOutput, sizeof args->compileOutput))
      CopyString(args->compileOutput, output, sizeof args->compileOutput);
  }

  char iniPath[kMaxPathLength + 1];
  IniPath(run, iniPath, sizeof iniPath);
  if (uint32_t e = ReadIniFile(iniPath, &values, args, &buffers.ini)) return e;

  if (uint32_t e = ApplyOptions(args, &values, applet, &run->options)) return e;

  if (run->linked) args->quiet = 1;
  if (!args->quiet) {
    if (uint32_t e = OpenConsoleOutput()) return e;
    PrintBanner();
  }

  if (uint32_t e = OpenScriptState(L)) return e;
  SetTag(L, RTTAG_QUIET, args->quiet);  // the tags are the run's, made with its script state
  SetAppletRecord(L, &applet->base);
  vm_registry_setlightudata(L, "clargs", args);

  if (uint32_t e = OpenLibraries(L, run->libraries)) return e;
  WirePlayerContext(L, run);

  SetTag(L, RTTAG_NOSOUND, args->noSound);
  SetTag(L, RTTAG_SOUNDSETTING, 30);
  return 0;
}

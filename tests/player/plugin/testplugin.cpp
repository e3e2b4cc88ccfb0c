// Test plug-in: one source, built as several ".qmp" files whose switches make each load
// failure of the loader happen. TP_NAME is the plug-in's name (its file name without ".qmp").
// Calls of the entries are appended to the file named by TP_LOG when it is set.
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include "player/plugin_api.h"

#ifndef TP_NAME
#define TP_NAME "tp"
#endif
#ifdef TP_WRONG_NAME  // a renamed file: the name inside no longer matches
#undef TP_NAME
#define TP_NAME "somethingelse"
#endif
#ifndef TP_FEATURES
#define TP_FEATURES PLUGINFEAT_LIBRARY
#endif
#ifndef TP_REQUIRED_REVISION
#define TP_REQUIRED_REVISION 2
#endif

namespace {

const qmHostTable *gHost = nullptr;

template <typename F>
F Vm(int slot) {
  return reinterpret_cast<F>(gHost->sub[HOSTSUB_VM][slot]);
}

void Log(const char *what) {
  const char *path = std::getenv("TP_LOG");
  if (path == nullptr) return;
  if (FILE *f = std::fopen(path, "a")) {
    std::fprintf(f, "%s %s\n", what, TP_NAME);
    std::fclose(f);
  }
}

// The commands are noexcept, as a plug-in written in C would be: nothing may unwind through
// their frames, so a failing host call must come back as a code.

// TpAdd(a, b): a + b.
uint32_t TpAdd(VmState *L) noexcept {
  double a = Vm<double (*)(VmState *, int)>(HOSTVM_CHECKNUMBER)(L, 1);
  double b = Vm<double (*)(VmState *, int)>(HOSTVM_CHECKNUMBER)(L, 2);
  Vm<void (*)(VmState *, double)>(HOSTVM_PUSHNUMBER)(L, a + b);
  return 1;
}

// TpFail(code): the code as the command's error.
uint32_t TpFail(VmState *L) noexcept {
  return uint32_t(Vm<double (*)(VmState *, int)>(HOSTVM_CHECKNUMBER)(L, 1));
}

// TpDate(): the host's current date text.
uint32_t TpDate(VmState *L) noexcept {
  char text[64];
  reinterpret_cast<void (*)(char *, size_t)>(gHost->sub[HOSTSUB_SYSTEM][HOSTSYS_FORMATCURRENTDATE])(text, sizeof text);
  Vm<void (*)(VmState *, const char *)>(HOSTVM_PUSHSTRING)(L, text);
  return 1;
}

// TpEvent(name): the user event registered under the name and whether posting it queued it.
uint32_t TpEvent(VmState *L) noexcept {
  const char *name = Vm<const char *(*)(VmState *, int, size_t *)>(HOSTVM_CHECKSTRING)(L, 1, nullptr);
  const uint32_t number =
      reinterpret_cast<uint32_t (*)(const char *)>(gHost->sub[HOSTSUB_SYSTEM][HOSTSYS_REGISTERUSEREVENT])(name);
  const int queued = number ? reinterpret_cast<int (*)(uint32_t, void *)>(
                                  gHost->sub[HOSTSUB_SYSTEM][HOSTSYS_POSTUSEREVENT])(number, nullptr)
                            : 0;
  Vm<void (*)(VmState *, double)>(HOSTVM_PUSHNUMBER)(L, number);
  Vm<void (*)(VmState *, double)>(HOSTVM_PUSHNUMBER)(L, queued);
  return 2;
}

const qmPluginCommand kCommands[] = {
    {"TpAdd", TpAdd}, {"TpFail", TpFail}, {"TpDate", TpDate}, {"TpEvent", TpEvent}, {nullptr, nullptr}};
const qmPluginConstant kConstants[] = {{"TP_ANSWER", nullptr, 42}, {"TP_TEXT", "text", 0}, {nullptr, nullptr, 0}};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int InitPlugin(qmPluginInfo *info, const qmHostTable *host, const char *) {
  gHost = host;
  if (std::getenv("TP_INIT_FAILS")) return 0;
  info->features = TP_FEATURES;
  info->version = 1;
  info->revision = 7;
  info->requiredVersion = 5;
  info->requiredRevision = TP_REQUIRED_REVISION;
  info->name = TP_NAME;
  info->info1 = "Test author";
  info->info2to8[0] = "A plug-in for the tests";
  return 1;
}

#ifndef TP_NO_CLOSE
__attribute__((visibility("default"))) void ClosePlugin(void) { Log("close"); }
#endif

__attribute__((visibility("default"))) const char *GetBaseTable(void) { return nullptr; }
__attribute__((visibility("default"))) const qmPluginCommand *GetCommands(void) { return kCommands; }
__attribute__((visibility("default"))) const qmPluginConstant *GetConstants(void) { return kConstants; }
__attribute__((visibility("default"))) uint32_t InitLibrary(VmState *) {
  Log("init");
  const char *fail = std::getenv("TP_INITLIB_FAILS");
  return fail ? uint32_t(std::atoi(fail)) : 0;
}
__attribute__((visibility("default"))) void FreeLibrary(VmState *) { Log("free"); }

__attribute__((visibility("default"))) void RegisterSampleSaver(qmSaverRecord *record) {
  record->formatId = 77;
  record->formatName = "TPSND";
}
__attribute__((visibility("default"))) int SaveSample(void) { return 0; }
}

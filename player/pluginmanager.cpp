#include "player/pluginmanager.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/file.h"
#include "platform/dir.h"
#include "platform/memory.h"
#include "platform/path.h"
#include "player/playertext.h"
#include "player/plugins.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/errreport.h"
#include "runtime/registry.h"
#include "runtime/rttags.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vnames.h"

namespace {

qmPlugin *gPlugins = nullptr;
qmPluginSymbols *gVectorEngine = nullptr;
bool gOnDemandLineDone = false;

bool EndsWithQmp(const char *name) {
  size_t n = std::strlen(name);
  return n >= 4 && Stricmp(name + n - 4, ".qmp") == 0;
}

bool Skipped(const char *skipList, const char *fileName) {
  if (skipList == nullptr) return false;
  for (const char *entry = skipList; *entry; entry += std::strlen(entry) + 1) {
    if (entry[0] == '*') return true;
    std::string name = entry;
    if (!EndsWithQmp(entry)) name += ".qmp";
    if (Stricmp(name.c_str(), fileName) == 0) return true;
  }
  return false;
}

bool InList(const char *fileName) {
  for (qmPlugin *p = gPlugins; p; p = p->next)
    if (Stricmp(p->fileName, fileName) == 0) return true;
  return false;
}

qmPlugin *AppendNode(const char *fileName, const char *path) {
  auto *node = static_cast<qmPlugin *>(MemAlloc(sizeof(qmPlugin), 1));
  if (node == nullptr) return nullptr;
  CopyString(node->fileName, fileName, sizeof node->fileName);
  CopyString(node->path, path, sizeof node->path);
  qmPlugin **tail = &gPlugins;
  while (*tail) tail = &(*tail)->next;
  *tail = node;
  return node;
}

void PrintReason(uint32_t code) {
  if (IsQuiet()) return;
  char message[kErrorMessageSize], line[kErrorMessageSize + 64];
  FormatErrorMessage(code, message, sizeof message);
  FormatMessageText(PlayerText(MSG_PLUGIN_REASON), message, 0, line, sizeof line);
  std::fputs(line, stdout);
  std::fflush(stdout);
}

// Every plug-in command runs through here, its handler the closure's upvalue: a host call that
// failed inside the handler reaches the VM only now, with no plug-in frame left to unwind. A
// command may run inside another plug-in's host call, whose own record is kept aside meanwhile.
uint32_t CallPluginCommand(VmState *L) {
  auto handler = reinterpret_cast<VmCFunction>(vm_touserdata(L, vm_upvalueindex(1)));
  qmHostCallError outer = SwapHostCallError({});
  uint32_t result = handler(L);
  qmHostCallError failure = SwapHostCallError(outer);
  if (failure.code == 0) return result;
  if (failure.raised) vm_throw(L, failure.code);
  return failure.code;
}

// As vm_openlib, with each command wrapped by CallPluginCommand.
void OpenPluginCommands(VmState *L, const char *base, const qmCommandEntry *commands) {
  for (const qmCommandEntry *c = commands; c->name; c++) {
    const qmCommandEntry row[] = {{c->name, CallPluginCommand}, {nullptr, nullptr}};
    if (base == nullptr) vm_pushvalue(L, VM_GLOBALSINDEX);
    vm_pushlightuserdata(L, reinterpret_cast<void *>(c->handler));
    vm_openlib(L, base, row, 1);
    if (base == nullptr) vm_pop(L, 1);
  }
}

uint32_t RegisterSaverConstant(VmState *L, qmPluginSymbols *sym, uint32_t feature, int index, const char *prefix) {
  qmRegisterSaverFn reg = GetSaverRegistration(sym, feature);
  qmSaverRecord *record = &sym->savers[index];
  reg(record);
  char name[256];
  std::snprintf(name, sizeof name, "%s%.248s", prefix, record->formatName ? record->formatName : "");
  const qmConstantEntry table[] = {{name, nullptr, double(record->formatId)}, {nullptr, nullptr, 0}};
  vm_registerconstants(L, table, 0);
  return 0;
}

}  // namespace

uint32_t ScanPluginDirectory(const char *executablePath, const char *skipList) {
  char folder[kMaxPathLength + 1];
  CopyString(folder, executablePath ? executablePath : "", sizeof folder);
  char *cut = std::strrchr(folder, '/');
  if (cut == nullptr) return 0;
  *cut = 0;
  if (folder[0] == 0) return 0;
  qmLock *lock = LockPath(folder, QMOS_LOCK_READ);
  if (lock == nullptr) return 0;
  uint32_t isDirectory = 0;
  if (lock->dir == nullptr) {
    UnlockPath(lock);
    return 0;
  }
  const char *name;
  while (ExamineNextEntry(lock, nullptr, &name, &isDirectory, nullptr)) {
    if (isDirectory || !EndsWithQmp(name)) continue;
    char fileName[256];
    if (CopyString(fileName, name, sizeof fileName) >= sizeof fileName) continue;
    char path[kMaxPathLength + 1];
    CopyString(path, folder, sizeof path);
    if (!AddPart(path, sizeof path, fileName)) continue;
    if (Skipped(skipList, fileName)) {
      if (!InList(fileName)) AppendNode(fileName, path);
      continue;
    }
    if (InList(fileName)) continue;
    PrintStatusMessage(PlayerText(MSG_LOADING_PLUGIN), fileName, 1);
    uint32_t features = 0;
    qmPluginHandle *handle = nullptr;
    uint32_t code = LoadPluginLibrary(path, &features, &handle);
    if (code) {
      PrintFailedMessage();
      PrintReason(code);
      continue;
    }
    qmPlugin *node = AppendNode(fileName, path);
    if (node == nullptr) {
      UnloadPlugin(handle);
      PrintFailedMessage();
      continue;
    }
    node->features = features;
    node->handle = handle;
    PrintDoneMessage();
  }
  EndDirectoryScan(nullptr);
  UnlockPath(lock);
  return 0;
}

uint32_t RegisterPluginFeatures(VmState *L, qmPlugin *node) {
  if (node->handle == nullptr) return 0;
  qmPluginSymbols *sym = GetPluginSymbols(node->handle);
  uint32_t f = node->features;
  if ((f & PLUGINFEAT_VECTOR) && gVectorEngine == nullptr) gVectorEngine = sym;
  if (f & PLUGINFEAT_LIBRARY) {
    qmPluginLibraryEntries lib = GetLibraryEntries(sym);
    const char *base = lib.getBaseTable();
    auto *commands = reinterpret_cast<const qmCommandEntry *>(lib.getCommands());
    auto *constants = reinterpret_cast<const qmConstantEntry *>(lib.getConstants());
    if (commands) {
      OpenPluginCommands(L, base, commands);
      if (uint32_t e = RegisterCommandTable(commands, base ? base : "plugin")) return e;
    }
    if (constants) vm_registerconstants(L, constants, 0);
    SwapHostCallError({});
    uint32_t e = lib.initLibrary(L);
    if (qmHostCallError failure = SwapHostCallError({}); failure.code) return failure.code;
    if (e) return e;
  }
  if (f & PLUGINFEAT_IMGSAVER) RegisterSaverConstant(L, sym, PLUGINFEAT_IMGSAVER, 0, "imgfmt_");
  if (f & PLUGINFEAT_ANMSAVER) RegisterSaverConstant(L, sym, PLUGINFEAT_ANMSAVER, 1, "anmfmt_");
  if (f & PLUGINFEAT_SMPSAVER) RegisterSaverConstant(L, sym, PLUGINFEAT_SMPSAVER, 2, "smpfmt_");
  return 0;
}

uint32_t RegisterAllPlugins(VmState *L) {
  for (qmPlugin *p = gPlugins; p; p = p->next)
    if (uint32_t e = RegisterPluginFeatures(L, p)) return e;
  return 0;
}

uint32_t RequirePlugin(VmState *L, const char *name, int32_t version, int32_t revision) {
  std::string wanted = name ? name : "";
  if (EndsWithQmp(wanted.c_str())) wanted.resize(wanted.size() - 4);
  qmPlugin *found = nullptr;
  for (qmPlugin *p = gPlugins; p && !found; p = p->next) {
    if (p->handle == nullptr) {
      std::string base = p->fileName;
      base.resize(base.size() - 4);
      if (Stricmp(base.c_str(), wanted.c_str()) != 0) continue;
      if (!gOnDemandLineDone && !IsQuiet()) {
        std::fputs("\n", stdout);
        gOnDemandLineDone = true;
      }
      PrintStatusMessage(PlayerText(MSG_LOADING_PLUGIN), p->fileName, 1);
      uint32_t code = LoadPluginLibrary(p->path, &p->features, &p->handle);
      if (code == 0) code = RegisterPluginFeatures(L, p);
      if (code) {
        PrintFailedMessage();
        return code;
      }
      PrintDoneMessage();
    }
    const char *pluginName = GetPluginSymbols(p->handle)->info.name;
    if (pluginName && Stricmp(pluginName, wanted.c_str()) == 0) found = p;
  }
  if (found) {
    const qmPluginInfo &info = GetPluginSymbols(found->handle)->info;
    if (info.version > version || (info.version == version && info.revision >= revision)) return 0;
  }
  char text[300];
  if (version == 0 && revision == 0)
    std::snprintf(text, sizeof text, "%s.qmp", wanted.c_str());
  else
    std::snprintf(text, sizeof text, "%s.qmp %d.%d", wanted.c_str(), version, revision);
  SetErrorArgument(text);
  return ERR_REQUIREPLUGIN;
}

uint32_t WritePluginInfo(const char *fileName) {
  FILE *f = OpenStdioFile(fileName, "w");
  if (f == nullptr) {
    SetErrorArgument(fileName);
    return ERR_WRITEFILE;
  }
  for (qmPlugin *p = gPlugins; p; p = p->next) {
    if (p->handle == nullptr) continue;
    const qmPluginSymbols *sym = GetPluginSymbols(p->handle);
    const qmPluginInfo &info = sym->info;
    std::fprintf(f, "::plugin\n%d.%d\n0x%.8x\n", info.version, info.revision, info.features);
    // Information strings 1 to 8 (the plug-in's name is not among them).
    const char *strings[8] = {info.info1};
    for (int i = 0; i < 7; i++) strings[1 + i] = info.info2to8[i];
    for (const char *s : strings) std::fprintf(f, "%s\n", s ? s : "");
    if (p->features & PLUGINFEAT_LIBRARY) {
      qmPluginLibraryEntries lib = GetLibraryEntries(sym);
      const char *base = lib.getBaseTable();
      const qmPluginCommand *commands = lib.getCommands();
      const qmPluginConstant *constants = lib.getConstants();
      if (commands) {
        std::fputs("::commands\n", f);
        for (const qmPluginCommand *c = commands; c->name; c++) {
          if (base) std::fprintf(f, "%s.", base);
          std::fprintf(f, "%s\n", c->name);
        }
      }
      if (constants) {
        std::fputs("::constants\n", f);
        for (const qmPluginConstant *c = constants; c->name; c++) std::fprintf(f, "%s\n", c->name);
      }
    }
  }
  std::fputs("::end\n", f);
  bool failed = std::ferror(f) != 0;
  if (std::fclose(f) != 0 || failed) {
    SetErrorArgument(fileName);
    return ERR_WRITEFILE;
  }
  return 0;
}

void FreePluginLibraries(VmState *L) {
  for (qmPlugin *p = gPlugins; p; p = p->next)
    if (p->handle && (p->features & PLUGINFEAT_LIBRARY)) {
      GetLibraryEntries(GetPluginSymbols(p->handle)).freeLibrary(L);
      SwapHostCallError({});  // nothing is left to report a failure to
    }
}

void FreePlugins() {
  for (qmPlugin *p = gPlugins; p;) {
    qmPlugin *next = p->next;
    UnloadPlugin(p->handle);
    MemFree(p);
    p = next;
  }
  gPlugins = nullptr;
  gVectorEngine = nullptr;
  gOnDemandLineDone = false;
}

qmPlugin *GetPluginList() { return gPlugins; }
qmPluginSymbols *GetVectorEngine() { return gVectorEngine; }

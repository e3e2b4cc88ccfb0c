// The plug-ins found beside the player: the list, the scan of the executable's folder, the
// registration of what each offers, the applet's requirements, the information file of
// EXPORTPLUGINS and the unloading at the end.
#pragma once
#include <cstdint>

struct VmState;
struct qmPluginHandle;
struct qmPluginSymbols;
struct qmFormatPlugins;

struct qmPlugin {
  qmPlugin *next;
  uint32_t features;
  qmPluginHandle *handle;  // null while the plug-in is skipped and not loaded
  char fileName[256];      // with ".qmp"
  char path[1024];
};

// Always 0: a plug-in that fails to load is reported and left out. skipList is the
// SKIPPLUGINS list (strings ended by an empty one) or null.
uint32_t ScanPluginDirectory(const char *executablePath, const char *skipList);
uint32_t RegisterPluginFeatures(VmState *L, qmPlugin *node);
// The first error of registering every loaded plug-in in list order.
uint32_t RegisterAllPlugins(VmState *L);
uint32_t RequirePlugin(VmState *L, const char *name, int32_t version, int32_t revision);
// 0, or ERR_WRITEFILE with the file name when the file cannot be written.
uint32_t WritePluginInfo(const char *fileName);
// Each library plug-in's FreeLibrary, in list order, while the VM still exists.
void FreePluginLibraries(VmState *L);
void FreePlugins();

qmPlugin *GetPluginList();
// The symbol block of the vector-graphics engine, or null.
qmPluginSymbols *GetVectorEngine();
// The loader and saver formats of the loaded plug-ins, for the context's formatPlugins.
const qmFormatPlugins *GetFormatPlugins();

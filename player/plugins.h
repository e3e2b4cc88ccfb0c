// Loading one plug-in: the dynamic library, its required entries, the checks of its
// information block, and the host table handed to every plug-in.
#pragma once
#include <cstddef>
#include <cstdint>

#include "player/plugin_api.h"

// Feature rows in the order the loader resolves them.
inline constexpr int kPluginFeatureCount = 10;
inline constexpr int kMaxFeatureEntries = 11;

struct qmPluginSymbols {
  qmPluginInfo info;
  qmInitPluginFn initPlugin;
  qmClosePluginFn closePlugin;
  void *entries[kPluginFeatureCount][kMaxFeatureEntries];  // by feature row, in entry order
  qmSaverRecord savers[3];  // image, anim, sample
};

struct qmPluginHandle {
  uint32_t features;
  qmPluginSymbols *symbols;
  void *library;  // the dynamic library
};

// 0 with *handle and *features, or ERR_MEM, ERR_LOADPLUGIN (file part of the path as error
// argument), ERR_NEWQMPLUGIN or ERR_PLUGINTYPE. A failure leaves nothing loaded.
uint32_t LoadPluginLibrary(const char *path, uint32_t *features, qmPluginHandle **handle);
// ClosePlugin, then the library is closed and the handle freed.
void UnloadPlugin(qmPluginHandle *handle);
qmPluginSymbols *GetPluginSymbols(qmPluginHandle *handle);

// The library entries of a plug-in with PLUGINFEAT_LIBRARY.
struct qmPluginLibraryEntries {
  qmGetBaseTableFn getBaseTable;
  qmGetCommandsFn getCommands;
  qmGetConstantsFn getConstants;
  qmInitLibraryFn initLibrary;
  qmFreeLibraryFn freeLibrary;
};
qmPluginLibraryEntries GetLibraryEntries(const qmPluginSymbols *symbols);
// The vector entries of a plug-in with PLUGINFEAT_VECTOR, in the engine's record.
struct qmVectorEngine;
void GetVectorEntries(const qmPluginSymbols *symbols, qmVectorEngine *out);
qmRegisterSaverFn GetSaverRegistration(const qmPluginSymbols *symbols, uint32_t feature);
// Entry index (in the feature's entry order) of a feature the plug-in offers, as resolved.
void *FeatureEntry(const qmPluginSymbols *symbols, uint32_t feature, int index);
template <typename F>
F GetFeatureEntry(const qmPluginSymbols *symbols, uint32_t feature, int index) {
  return reinterpret_cast<F>(FeatureEntry(symbols, feature, index));
}

// The player's host table.
const qmHostTable *GetHostTable();

struct qmObjectId;
// What the host table's slots reach of the run plug-ins serve: its script state (and through it
// the scene and the formats of plug-ins) and what libraries answer. Bound by the wiring, unbound
// (null) before the libraries are freed; a slot then answers 0 or does nothing. The record is
// copied: the caller's may go.
struct qmHostRun {
  VmState *L;
  void (*formatCurrentDate)(char *out, size_t size);  // GetDate's long text
  uint32_t (*registerUserEvent)(VmState *L, const char *name);  // 0: refused
  int (*postUserEvent)(uint32_t number, void *payload);
  // 1 with the sample of that id described (its own data, not a copy), 0 when there is none.
  int (*describeSample)(VmState *L, const qmObjectId *id, qmHostSampleLock *out);
};
void BindHostRun(const qmHostRun *run);

// Nothing thrown by the player unwinds through a plug-in's frames: a host function that fails
// (the VM's error, RaiseError included, or no memory) records it here and answers a neutral
// value (0, an empty text, a null pointer). Whoever calls into a plug-in sets the record aside,
// and takes it once the plug-in has returned; only the first failure is kept.
struct qmHostCallError {
  uint32_t code;  // 0: none
  bool raised;    // the VM's error: its report is recorded already, it goes on unwinding
};
// Installs next as the record and returns the one it replaces.
qmHostCallError SwapHostCallError(qmHostCallError next);

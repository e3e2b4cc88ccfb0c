#include "player/plugins.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

#include "graphics/vector_requests.h"
#include "platform/fileops.h"
#include "platform/memory.h"
#include "platform/path.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/strutil.h"
#include "runtime/vnames.h"

namespace {

struct FeatureRow {
  uint32_t flag;
  const char *entries[kMaxFeatureEntries + 1];  // null-terminated
};

// Resolution order; PLUGINFEAT_LIBRARY is row 2.
const FeatureRow kFeatures[kPluginFeatureCount] = {
    {PLUGINFEAT_VECTOR,
     {"GetPathExtents", "DrawPath", "TranslatePath", "GetCurrentPoint", "CreateVectorFont", "FreeVectorFont",
      "OpenFont", "CloseFont", nullptr}},
    {PLUGINFEAT_VIDEO,
     {"OpenVideo", "CloseVideo", "NextPacket", "FreePacket", "DecodeVideoFrame", "DecodeAudioFrame", "SeekVideo",
      "FlushAudio", "FlushVideo", "GetVideoFrames", "GetVideoFormat", nullptr}},
    {PLUGINFEAT_LIBRARY, {"GetBaseTable", "GetCommands", "GetConstants", "InitLibrary", "FreeLibrary", nullptr}},
    {PLUGINFEAT_SCRIPT, {"GetScript", "FreeScript", nullptr}},
    {PLUGINFEAT_IMAGE, {"IsImage", "LoadImage", "GetImage", "FreeImage", "TransformImage", nullptr}},
    {PLUGINFEAT_ANIM, {"OpenAnim", "LoadFrame", "FreeFrame", "GetFrameDelay", "CloseAnim", nullptr}},
    {PLUGINFEAT_SOUND, {"OpenStream", "CloseStream", "SeekStream", "StreamSamples", "GetFormatName", nullptr}},
    {PLUGINFEAT_IMGSAVER, {"RegisterImageSaver", "SaveImage", nullptr}},
    {PLUGINFEAT_ANMSAVER, {"RegisterAnimSaver", "BeginAnimStream", "WriteAnimFrame", "FinishAnimStream", nullptr}},
    {PLUGINFEAT_SMPSAVER, {"RegisterSampleSaver", "SaveSample", nullptr}},
};

int FeatureRowOf(uint32_t flag) {
  for (int i = 0; i < kPluginFeatureCount; i++)
    if (kFeatures[i].flag == flag) return i;
  return -1;
}

uint32_t LoadFailure(const char *path) {
  char shown[kChunkNameSize];
  SetErrorArgument(ChunkDisplayName(path, shown, sizeof shown));
  return ERR_LOADPLUGIN;
}

}  // namespace

uint32_t LoadPluginLibrary(const char *path, uint32_t *features, qmPluginHandle **handleOut) {
  qmPluginInfo info{};
  auto *handle = static_cast<qmPluginHandle *>(MemAlloc(sizeof(qmPluginHandle), 1));
  if (handle == nullptr) return ERR_MEM;
  char *fsPath = ToFileSystemPath(path);
  handle->library = dlopen(fsPath ? fsPath : path, RTLD_LAZY);
  MemFree(fsPath);
  if (handle->library == nullptr) {
    MemFree(handle);
    return LoadFailure(path);
  }
  uint32_t code = 0;
  bool initialised = false;
  auto *sym = static_cast<qmPluginSymbols *>(MemAlloc(sizeof(qmPluginSymbols), 1));
  if (sym == nullptr) {
    code = ERR_MEM;
  } else {
    sym->initPlugin = reinterpret_cast<qmInitPluginFn>(dlsym(handle->library, "InitPlugin"));
    sym->closePlugin = reinterpret_cast<qmClosePluginFn>(dlsym(handle->library, "ClosePlugin"));
    if (sym->initPlugin == nullptr || sym->closePlugin == nullptr) code = LoadFailure(path);
  }
  if (code == 0) {
    char full[kMaxPathLength + 1];
    if (!GetFullPath(path, full, sizeof full)) std::snprintf(full, sizeof full, "%s", path);
    info.requiredVersion = 5;
    info.requiredRevision = 2;
    if (!sym->initPlugin(&info, GetHostTable(), full)) {
      code = LoadFailure(path);
    } else {
      initialised = true;
      // The plug-in's name must be its file's name without the extension.
      char base[kMaxPathLength + 1];
      ChunkDisplayNameInto(full, base, sizeof base);
      size_t n = std::strlen(base);
      if (n >= 4) base[n - 4] = 0;
      if (info.name == nullptr || Stricmp(info.name, base) != 0) code = LoadFailure(path);
    }
  }
  if (code == 0 && (info.requiredVersion > 5 || (info.requiredVersion == 5 && info.requiredRevision >= 3))) {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d", info.requiredVersion, info.requiredRevision);
    SetErrorArgument(text);
    code = ERR_NEWQMPLUGIN;
  }
  if (code == 0) {
    sym->info = info;
    bool any = false;
    for (int row = 0; row < kPluginFeatureCount && code == 0; row++) {
      if (!(info.features & kFeatures[row].flag)) continue;
      any = true;
      for (int e = 0; kFeatures[row].entries[e] && code == 0; e++) {
        sym->entries[row][e] = dlsym(handle->library, kFeatures[row].entries[e]);
        if (sym->entries[row][e] == nullptr) code = LoadFailure(path);
      }
    }
    if (code == 0 && !any) {
      char text[32];
      std::snprintf(text, sizeof text, "%lx", static_cast<unsigned long>(info.features));
      SetErrorArgument(text);
      code = ERR_PLUGINTYPE;
    }
  }
  if (code) {
    if (initialised) sym->closePlugin();
    MemFree(sym);
    dlclose(handle->library);
    MemFree(handle);
    return code;
  }
  handle->features = info.features;
  handle->symbols = sym;
  *features = info.features;
  *handleOut = handle;
  return 0;
}

void UnloadPlugin(qmPluginHandle *handle) {
  if (handle == nullptr) return;
  if (handle->symbols && handle->symbols->closePlugin) handle->symbols->closePlugin();
  if (handle->library) dlclose(handle->library);
  MemFree(handle->symbols);
  MemFree(handle);
}

qmPluginSymbols *GetPluginSymbols(qmPluginHandle *handle) { return handle ? handle->symbols : nullptr; }

qmPluginLibraryEntries GetLibraryEntries(const qmPluginSymbols *s) {
  void *const *e = s->entries[FeatureRowOf(PLUGINFEAT_LIBRARY)];
  return {reinterpret_cast<qmGetBaseTableFn>(e[0]), reinterpret_cast<qmGetCommandsFn>(e[1]),
          reinterpret_cast<qmGetConstantsFn>(e[2]), reinterpret_cast<qmInitLibraryFn>(e[3]),
          reinterpret_cast<qmFreeLibraryFn>(e[4])};
}

void GetVectorEntries(const qmPluginSymbols *s, qmVectorEngine *out) {
  void *const *e = s->entries[FeatureRowOf(PLUGINFEAT_VECTOR)];
  *out = {reinterpret_cast<qmGetPathExtentsFn>(e[0]), reinterpret_cast<qmDrawPathFn>(e[1]),
          reinterpret_cast<qmTranslatePathFn>(e[2]), reinterpret_cast<qmGetCurrentPointFn>(e[3]),
          reinterpret_cast<qmCreateVectorFontFn>(e[4]), reinterpret_cast<qmFreeVectorFontFn>(e[5])};
}

qmRegisterSaverFn GetSaverRegistration(const qmPluginSymbols *s, uint32_t feature) {
  int row = FeatureRowOf(feature);
  return row < 0 ? nullptr : reinterpret_cast<qmRegisterSaverFn>(s->entries[row][0]);
}

void *FeatureEntry(const qmPluginSymbols *s, uint32_t feature, int index) {
  int row = FeatureRowOf(feature);
  return row < 0 || index < 0 || index >= kMaxFeatureEntries ? nullptr : s->entries[row][index];
}

#include "platform/avlibrary.h"

#include <dlfcn.h>

extern "C" {
#include <libavcodec/version.h>
#include <libavformat/version.h>
#include <libavutil/macros.h>
#include <libavutil/version.h>
#include <libswresample/version.h>
#include <libswscale/version.h>
}

namespace {

constexpr const char *kAvLibraryNames[kAvLibraryCount] = {
    "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR),
    "libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR),
    "libswresample.so." AV_STRINGIFY(LIBSWRESAMPLE_VERSION_MAJOR),
    "libswscale.so." AV_STRINGIFY(LIBSWSCALE_VERSION_MAJOR),
    "libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR),
};

const qmAvFunctions *LoadInstalled() {
  static qmAvFunctions table;
  return LoadAvLibrary(kAvLibraryNames, &table) == 0 ? &table : nullptr;
}

}  // namespace

int LoadAvLibrary(const char *const names[kAvLibraryCount], qmAvFunctions *table) {
  void *handles[kAvLibraryCount] = {};
  bool ok = true;
  for (int i = 0; i < kAvLibraryCount && ok; i++)
    ok = (handles[i] = dlopen(names[i], RTLD_NOW | RTLD_LOCAL)) != nullptr;
#define QM_AV_RESOLVE(library, name) \
  if (ok) ok = (table->name = reinterpret_cast<decltype(table->name)>(dlsym(handles[library], #name))) != nullptr;
  QM_AV_FUNCTIONS(QM_AV_RESOLVE)
#undef QM_AV_RESOLVE
  if (!ok) {
    for (void *h : handles)
      if (h) dlclose(h);
    *table = {};
    return -1;
  }
  table->av_log_set_level(AV_LOG_QUIET);  // failures come back as error codes
  table->av_max_alloc(kAvMaxAllocation);   // a larger request fails as out of memory
  return 0;
}

const qmAvFunctions *AvLibrary() {
  static const qmAvFunctions *const av = LoadInstalled();
  return av;
}

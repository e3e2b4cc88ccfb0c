#include "player/vectorcairo/cairo_library.h"

#include <dlfcn.h>

namespace {

// The SONAME of the cairo version the headers describe.
constexpr const char *kCairoLibrary = "libcairo.so.2";

const qmCairoFunctions *Load() {
  static qmCairoFunctions table;
  void *lib = dlopen(kCairoLibrary, RTLD_NOW | RTLD_LOCAL);
  bool ok = lib != nullptr;
#define QM_CAIRO_RESOLVE(name) \
  if (ok) ok = (table.name = reinterpret_cast<decltype(table.name)>(dlsym(lib, #name))) != nullptr;
  QM_CAIRO_FUNCTIONS(QM_CAIRO_RESOLVE)
#undef QM_CAIRO_RESOLVE
  if (!ok && lib) dlclose(lib);
  return ok ? &table : nullptr;
}

}  // namespace

const qmCairoFunctions *CairoLibrary() {
  static const qmCairoFunctions *const cairo = Load();
  return cairo;
}

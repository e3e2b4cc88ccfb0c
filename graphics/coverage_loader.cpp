// The rasterisers of coverage.h, reached through the coverage module's table. The module is
// opened on the first call, beside the running program or else where the build made it, and
// stays loaded for the life of the process. Without it every call fails with ERR_OPENLIB, naming
// the module, so that a user who copied the player without it learns what is missing.
#include "graphics/coverage.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "graphics/coverage_module.h"
#include "platform/path.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"

const qmCoverageTable *OpenCoverageModule(const char *path) {
  void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!handle) return nullptr;
  using Entry = const qmCoverageTable *(*)();
  auto entry = reinterpret_cast<Entry>(dlsym(handle, QM_COVERAGE_ENTRY));
  const qmCoverageTable *table = entry ? entry() : nullptr;
  if (!table || table->version != kCoverageTableVersion) {
    dlclose(handle);
    return nullptr;
  }
  return table;
}

namespace {

// The module beside the program: the program's own path with its file name replaced. The path
// stays in the system's spelling from end to end (and takes no allocation).
const qmCoverageTable *OpenBesideProgram() {
  char path[kMaxPathLength + 1];
  const ssize_t n = readlink("/proc/self/exe", path, kMaxPathLength);
  if (n <= 0) return nullptr;
  path[n] = 0;
  char *slash = std::strrchr(path, '/');
  if (!slash || size_t(slash + 1 - path) + sizeof(QM_COVERAGE_MODULE) > sizeof(path)) return nullptr;
  std::memcpy(slash + 1, QM_COVERAGE_MODULE, sizeof(QM_COVERAGE_MODULE));
  return OpenCoverageModule(path);
}

const qmCoverageTable *LoadTable() {
  if (const qmCoverageTable *table = OpenBesideProgram()) return table;
#ifdef QM_COVERAGE_BUILD_PATH
  // Tests and benchmarks run from their own folders of the build tree.
  return OpenCoverageModule(QM_COVERAGE_BUILD_PATH);
#else
  return nullptr;
#endif
}

// The module is mapped once for the process, as plug-ins are, and its table is read-only.
std::once_flag gCoverageLoaded;
std::atomic<const qmCoverageTable *> gCoverageTable{nullptr};

uint32_t ModuleMissing() {
  SetErrorArgument(QM_COVERAGE_MODULE);
  return ERR_OPENLIB;
}

}  // namespace

// Loaded once, whichever thread asks first.
const qmCoverageTable *CoverageTable() {
  std::call_once(gCoverageLoaded, [] { gCoverageTable = LoadTable(); });
  return gCoverageTable;
}

void SetCoverageTable(const qmCoverageTable *table) {
  CoverageTable();
  gCoverageTable = table;
}

uint32_t FillCoveragePolygon(qmAlphaChannel *plane, const int32_t *points, int32_t count, int32_t antialias) {
  const qmCoverageTable *t = CoverageTable();
  return t ? t->fillPolygon(plane, points, count, antialias) : ModuleMissing();
}

uint32_t DrawCoverageOutline(qmAlphaChannel *plane, const int32_t *points, int32_t count, int32_t width,
                             int32_t antialias) {
  const qmCoverageTable *t = CoverageTable();
  return t ? t->drawOutline(plane, points, count, width, antialias) : ModuleMissing();
}

uint32_t FillBitmapPolygon(qmBitmap *bitmap, const int32_t *points, int32_t count, uint32_t pixel) {
  const qmCoverageTable *t = CoverageTable();
  return t ? t->fillBitmapPolygon(bitmap, points, count, pixel) : ModuleMissing();
}

uint32_t DrawBitmapOutline(qmBitmap *bitmap, const int32_t *points, int32_t count, int32_t width, uint32_t pixel) {
  const qmCoverageTable *t = CoverageTable();
  return t ? t->drawBitmapOutline(bitmap, points, count, width, pixel) : ModuleMissing();
}

uint32_t DrawCoverageLine(qmAlphaChannel *plane, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t thickness,
                          int32_t antialias) {
  const qmCoverageTable *t = CoverageTable();
  return t ? t->drawLine(plane, x1, y1, x2, y2, thickness, antialias) : ModuleMissing();
}

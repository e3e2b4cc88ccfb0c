// The coverage module's one entry: the table of its rasterisers. The module (coverage.cpp, the
// file that draws through OpenCV) is a shared object of its own, opened on the first shape
// that needs it, so that OpenCV and what it drags in are not mapped at every start-up.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"

// Raised whenever an entry is added, removed or changes its arguments.
constexpr uint32_t kCoverageTableVersion = 1;

// The functions of coverage.h, with the same arguments and results.
struct qmCoverageTable {
  uint32_t version;
  uint32_t (*fillPolygon)(qmAlphaChannel *plane, const int32_t *points, int32_t count, int32_t antialias);
  uint32_t (*drawOutline)(qmAlphaChannel *plane, const int32_t *points, int32_t count, int32_t width,
                          int32_t antialias);
  uint32_t (*fillBitmapPolygon)(qmBitmap *bitmap, const int32_t *points, int32_t count, uint32_t pixel);
  uint32_t (*drawBitmapOutline)(qmBitmap *bitmap, const int32_t *points, int32_t count, int32_t width,
                                uint32_t pixel);
  uint32_t (*drawLine)(qmAlphaChannel *plane, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t thickness,
                       int32_t antialias);
};

// The module's exported symbol: a C function that returns its table.
#define QM_COVERAGE_ENTRY "QmCoverageTable"
extern "C" const qmCoverageTable *QmCoverageTable();

// The module's file name; it is looked for beside the running program.
#define QM_COVERAGE_MODULE "quenmoorplayer-coverage.so"

// The table of the module at path (a file system path), or null when the file cannot be opened,
// lacks the entry or has another version. An opened module stays loaded.
const qmCoverageTable *OpenCoverageModule(const char *path);
// The table coverage.h calls through, opened on first use; null when no module was found.
const qmCoverageTable *CoverageTable();
// Tests put another table (or none) in its place.
void SetCoverageTable(const qmCoverageTable *table);

// Pixel-moving effects: swirl (a rotation that grows toward the centre), pixelate (blocks of one
// colour) and water ripple (concentric waves). Applied once to a picture, or frame after frame
// by the transitions with a growing level and a fade through the alpha plane.
#pragma once
#include <cstdint>

// Entries of the sine and cosine tables: sin and cos of i * 0.001, enough for 0 to 6.3 radians.
constexpr int32_t QM_WARP_TABLE_SIZE = 6300;
// The longest side a swirl's root table serves: its roots stay below the radius, at most 32767.
constexpr int32_t kSwirlRootSide = 65536;

struct qmSwirlRequest {
  const uint32_t *srcCopy; // or null: the kernel copies the destination first
  const uint32_t *second;  // picture mixed in by the level, or null
  uint32_t *dst;
  int32_t srcPitch, secondPitch, dstPitch; // in pixels
  double *sine, *cosine;                   // QM_WARP_TABLE_SIZE each
  int32_t width, height;
  int32_t alphaFade; // 1: fade through the alpha plane (transitions)
  uint8_t *alpha;    // or null
  int32_t alphaBytesPerRow;
  const uint8_t *maskCopy; // or null: copied from mask
  uint8_t *mask;           // or null
  int32_t maskBytesPerRow;
  int32_t reverse;          // 1: 255 - level scales the faded alpha
  const uint8_t *alphaCopy; // or null: copied from alpha; rows of alphaBytesPerRow
  // Or null: width x height words where, with a second picture and no planes, the two pictures
  // are mixed (MixPixels, the unused byte 0) ahead of the move, instead of each moved pixel.
  uint32_t *mixScratch;
  // Or null: width x height entries in raster order, each point's whole root of its squared
  // distance from the centre, -1 outside the radius; filled by PrepareSwirl, so that a swirl run
  // frame after frame takes no square root per pixel. Only for sides of at most kSwirlRootSide.
  int16_t *roots;
};

struct qmPixelateRequest {
  const uint32_t *src;
  uint32_t *dst; // may be src
  const uint8_t *srcMask;
  uint8_t *dstMask;
  const uint8_t *srcAlpha;
  uint8_t *dstAlpha;
  int32_t srcPitch, dstPitch; // in pixels
  int32_t srcMaskBytesPerRow, dstMaskBytesPerRow;
  int32_t srcAlphaBytesPerRow, dstAlphaBytesPerRow;
  int32_t width, height;
  int32_t blockSize;
};

struct qmRippleRequest {
  const uint32_t *srcCopy; // or null: copied from the destination
  const uint32_t *second;  // or null
  uint32_t *dst;
  int32_t srcPitch, secondPitch, dstPitch; // in pixels
  int32_t waves;                           // n: the waves rise until level n and settle by 2n
  double amplitude;                        // of the current call
  double amplitudeStep;
  double wavelength;
  double *sine;        // QM_WARP_TABLE_SIZE
  int32_t *distance;   // one per pixel in raster order
  int32_t centerX, centerY;
  int32_t maxDistance;
  int32_t width, height;
  uint8_t *fadeAlpha; // alpha plane to fade (transitions), or null
  int32_t fadeAlphaBytesPerRow;
  int32_t reverse;
  int32_t storedLevel; // the level of the last call, used for level -1
  uint8_t *mask;
  const uint8_t *maskCopy;
  int32_t maskBytesPerRow;
  uint8_t *alpha;
  const uint8_t *alphaCopy;
  int32_t alphaBytesPerRow;
  int32_t outX, outY; // RippleDisplace's result
  uint32_t *mixScratch; // or null: as the swirl's
  // Or null: each point's whole distance from the centre, for the rows |y - centerY| = 0, 1, ...
  // (RippleRingRows of them, width entries each); filled by PrepareRipple and read instead of
  // distance, a quarter of its bytes. Only where every distance is below 65536 (RippleRingRows).
  uint16_t *rings;
};

// The rows of a ripple's ring table for its size and centre, or 0 where a distance could reach
// 65536.
int32_t RippleRingRows(const qmRippleRequest *req);

// One call's factors in fixed point, for the whole-number part of (x - centerX) * factor[d]
// without doubles: scaled[d] is factor[d] * 2^shift rounded, and a product whose fraction lies
// within band of a whole number (in units of 2^-shift) is worked out in doubles instead. shift -1:
// the factors are too large, every place is worked out in doubles.
struct qmRippleFixed {
  const double *factor;
  int32_t count; // factor and scaled entries: every distance of the picture
  int32_t level;
  const int32_t *scaled;
  int32_t shift, band;
  int32_t reach; // rows and columns a place lies at most from its pixel, or -1 with shift -1
};
// Entries of zeros on either side of the scaled factors, which the vector path reads in windows.
constexpr int32_t QM_RIPPLE_SCALED_PAD = 8;
// Fills table (count + 2 * QM_RIPPLE_SCALED_PAD entries) and the rest of f from factor.
void RippleFixedOf(const double *factor, int32_t count, int32_t level, int32_t *table, qmRippleFixed *f);
// Row y of the source places read through the request's rings: the same places as
// RippleSourceRow with the same factors.
void RippleRingRow(const qmRippleRequest *req, const qmRippleFixed *f, int32_t y, int32_t *sx, int32_t *sy);
// The same in doubles one pixel at a time for columns from..to - 1, kept to check the vector path.
void RippleRingRowScalar(const qmRippleRequest *req, const qmRippleFixed *f, int32_t y, int32_t *sx, int32_t *sy,
                         int32_t from, int32_t to);

// One call's turn per root in floats, for the places inside the radius without doubles: a point
// at (x - w2, y - h2) = (a, b) takes its column from w2 + a * cosine - b * across and its row
// from h2 + a * down + b * cosine (across = sin * ys / xs, down = sin * xs / ys); a place whose
// fraction lies within band of a whole number is worked out in doubles instead.
struct qmSwirlFloat {
  const float *cosine, *across, *down; // count entries each, QM_SWIRL_FLOAT_PAD more on either side
  int32_t count;
  float band;
  // Roots from here on have no turn at all (sine 0, cosine 1): with a column scale of 1 their
  // places are (x, the row's own place in doubles), whole numbers the band would send back.
  int32_t stillRoot;
};
constexpr int32_t QM_SWIRL_FLOAT_PAD = 8;

// Where a swirl takes its pixels from: the geometry of one call, and per row the source column
// and row of every pixel.
struct qmSwirlGeometry {
  int32_t width, height;
  double angle; // radians
  double w2, h2, r, xs, ys;
  const double *sine, *cosine;
  int32_t useTables;        // 0: sine and cosine computed (negative degrees)
  const int32_t *rootIndex; // or null: SwirlRootIndex's table, which the vector path needs
  // Or null: the request's roots, read with the sine and cosine of this call's turn per root.
  const int16_t *roots;
  // Or null: sine and cosine of this call's turn per root (the tables at rootIndex), which the
  // roots need and the vector path reads where it has them.
  const double *rootSine, *rootCosine;
  // Or null: the turn in floats (SwirlFloatOf), which the vector path reads through the roots.
  const qmSwirlFloat *turn;
};
qmSwirlGeometry SwirlGeometryOf(const qmSwirlRequest *req, int32_t degrees);
// A point inside the radius takes its table entry from the whole root of its squared distance
// alone: index[root] for root 0..SwirlRootCount(g) - 1, worked out once per call.
int32_t SwirlRootCount(const qmSwirlGeometry *g);
void SwirlRootIndex(const qmSwirlGeometry *g, int32_t *index);
// Fills table (3 * (SwirlRootCount + 2 * QM_SWIRL_FLOAT_PAD) floats) and f from the geometry's
// sine and cosine per root; false (f unset) without roots or where the radius is too large for
// floats to place a pixel.
bool SwirlFloatOf(const qmSwirlGeometry *g, float *table, qmSwirlFloat *f);
void SwirlSourceRow(const qmSwirlGeometry *g, int32_t y, int32_t *sx, int32_t *sy);
// The same one pixel at a time in doubles (columns from..to - 1, to -1 for the row's end), kept to
// check the vector paths.
void SwirlSourceRowScalar(const qmSwirlGeometry *g, int32_t y, int32_t *sx, int32_t *sy, int32_t from = 0,
                          int32_t to = -1);

// Floor of the square root for n >= 0; -1 for a negative n.
int32_t IntegerSqrt(int64_t n);

// Row y of a ripple's source places: factor[d] (count entries) is the displacement factor of
// distance d at this call's level; distances beyond the table are worked out one by one.
void RippleSourceRow(const qmRippleRequest *req, int32_t level, const double *factor, int32_t count, int32_t y,
                     int32_t *sx, int32_t *sy);
// The same one pixel at a time for columns from..to - 1, kept to check the vector path.
void RippleSourceRowScalar(const qmRippleRequest *req, int32_t level, const double *factor, int32_t count, int32_t y,
                           int32_t *sx, int32_t *sy, int32_t from, int32_t to);
// One row of a warp: each pixel taken from its source place (sx[x], sy[x]) in both pictures and
// the second mixed toward the first by m (0..255) byte by byte: second + ((first - second) * m >> 8).
void WarpMixRow(uint32_t *dst, const int32_t *sx, const int32_t *sy, int32_t width, const uint32_t *pixels,
                int32_t pitch, const uint32_t *second, int32_t secondPitch, int32_t m);
// The largest of n source rows (0 for none): the last row a band of places reads.
int32_t WarpLastRow(const int32_t *sy, int64_t n);
// The same one entry at a time, kept to check the vector path.
int32_t WarpLastRowScalar(const int32_t *sy, int64_t n);
// One row of a warp of one picture: each pixel taken from its source place (sx[x], sy[x]). Plain
// loads: this processor family's gathers cost more than they save.
// rowMask: the source row read for sy is sy & rowMask (rows of a scratch used in turn).
void WarpCopyRow(uint32_t *dst, const int32_t *sx, const int32_t *sy, int32_t width, const uint32_t *pixels,
                 int32_t pitch, int32_t rowMask = -1);
// WarpCopyRow with the row written past the cache where the processor can, for frames of at
// least kWarpStreamBytes; WarpStreamDone after the last row makes the writes visible in order.
constexpr int64_t kWarpStreamBytes = 4 << 20;
void WarpStreamRow(uint32_t *dst, const int32_t *sx, const int32_t *sy, int32_t width, const uint32_t *pixels,
                   int32_t pitch, int32_t rowMask = -1);
void WarpStreamDone();
// The same one pixel at a time (from column `from` on), kept to check the vector path.
void WarpMixRowScalar(uint32_t *dst, const int32_t *sx, const int32_t *sy, int32_t width, const uint32_t *pixels,
                      int32_t pitch, const uint32_t *second, int32_t secondPitch, int32_t m, int32_t from = 0);

// Fills the sine and cosine tables, and the roots when the request has them (width and height set).
void PrepareSwirl(qmSwirlRequest *req);
// Fills the sine table, the distance table (width x height entries, from the centre) when given
// and the rings when given.
void PrepareRipple(qmRippleRequest *req);

// degrees 0..720 for transitions (above 359 the swirl winds back), -359..359 for a picture.
// 0, or ERR_MEM when a copy could not be made (nothing changed).
int32_t SwirlPixels(const qmSwirlRequest *req, int32_t degrees);
void PixelatePixels(const qmPixelateRequest *req);
// level 0..2n, or -1 for the stored level with the amplitude of the last call. 0 or ERR_MEM.
int32_t RipplePixels(qmRippleRequest *req, int32_t level);
void RippleDisplace(int32_t level, int32_t x, int32_t y, qmRippleRequest *req);

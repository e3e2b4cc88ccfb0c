// Palette quantizer: median cut over a 5-6-5 histogram, then a lazily built inverse colour map
// (nearest palette colour per 4 x 8 x 4 block of cells) for the remap, with optional
// Floyd-Steinberg error diffusion. Distances weigh red 2, green 3 and blue 1.
#include "graphics/quantize.h"

#include <algorithm>
#include <cstring>

#include "platform/memory.h"

namespace {

constexpr int kRedCells = 32, kGreenCells = 64, kBlueCells = 32;
constexpr int kRedShift = 3, kGreenShift = 2, kBlueShift = 3;
constexpr int kRedScale = 2, kGreenScale = 3, kBlueScale = 1;
// The inverse map is filled one block of 4 x 8 x 4 cells at a time.
constexpr int kBlockRed = 4, kBlockGreen = 8, kBlockBlue = 4;
constexpr int kBlockCells = kBlockRed * kBlockGreen * kBlockBlue;

struct qmColorBox {
  int32_t redMin, redMax, greenMin, greenMax, blueMin, blueMax;
  int32_t volume;
  int32_t populated;
};

struct WorkPalette {
  int32_t count;
  int32_t red[256], green[256], blue[256];
};

struct QuantizeState {
  uint16_t *histogram;  // [red][green][blue]
  uint16_t &Cell(int r, int g, int b) { return histogram[(r * kGreenCells + g) * kBlueCells + b]; }
};

void FetchPixelRGB(const uint8_t *p, int32_t format, int *rgb) {
  uint32_t w16 = 0;
  switch (format) {
    case 0: case 1: case 4: case 5: w16 = uint32_t(p[0]) | uint32_t(p[1]) << 8; break;
    case 2: case 3: case 6: case 7: w16 = uint32_t(p[0]) << 8 | p[1]; break;
    default: break;
  }
  switch (format) {
    case 0: case 2:
      rgb[0] = int(w16 >> 10 & 31) << 3; rgb[1] = int(w16 >> 5 & 31) << 3; rgb[2] = int(w16 & 31) << 3; break;
    case 1: case 3:
      rgb[0] = int(w16 & 31) << 3; rgb[1] = int(w16 >> 5 & 31) << 3; rgb[2] = int(w16 >> 10 & 31) << 3; break;
    case 4: case 6:
      rgb[0] = int(w16 >> 11 & 31) << 3; rgb[1] = int(w16 >> 5 & 63) << 2; rgb[2] = int(w16 & 31) << 3; break;
    case 5: case 7:
      rgb[0] = int(w16 & 31) << 3; rgb[1] = int(w16 >> 5 & 63) << 2; rgb[2] = int(w16 >> 11 & 31) << 3; break;
    case 8: rgb[0] = p[0]; rgb[1] = p[1]; rgb[2] = p[2]; break;
    case 9: rgb[0] = p[2]; rgb[1] = p[1]; rgb[2] = p[0]; break;
    case 10: rgb[0] = p[2]; rgb[1] = p[1]; rgb[2] = p[0]; break;   // little-endian 0x??RRGGBB
    case 11: rgb[0] = p[1]; rgb[1] = p[2]; rgb[2] = p[3]; break;
    case 12: rgb[0] = p[3]; rgb[1] = p[2]; rgb[2] = p[1]; break;   // 0xRRGGBB??
    case 13: rgb[0] = p[0]; rgb[1] = p[1]; rgb[2] = p[2]; break;   // 0x??BBGGRR
    default: break;  // unknown layouts repeat the previous colour
  }
}

bool NonZeroIn(QuantizeState *s, int r0, int r1, int g0, int g1, int b0, int b1) {
  for (int r = r0; r <= r1; r++)
    for (int g = g0; g <= g1; g++)
      for (int b = b0; b <= b1; b++)
        if (s->Cell(r, g, b)) return true;
  return false;
}

void UpdateColorBox(QuantizeState *s, qmColorBox *box) {
  if (box->redMax > box->redMin)
    for (int r = box->redMin; r <= box->redMax; r++)
      if (NonZeroIn(s, r, r, box->greenMin, box->greenMax, box->blueMin, box->blueMax)) { box->redMin = r; break; }
  if (box->redMax > box->redMin)
    for (int r = box->redMax; r >= box->redMin; r--)
      if (NonZeroIn(s, r, r, box->greenMin, box->greenMax, box->blueMin, box->blueMax)) { box->redMax = r; break; }
  if (box->greenMax > box->greenMin)
    for (int g = box->greenMin; g <= box->greenMax; g++)
      if (NonZeroIn(s, box->redMin, box->redMax, g, g, box->blueMin, box->blueMax)) { box->greenMin = g; break; }
  if (box->greenMax > box->greenMin)
    for (int g = box->greenMax; g >= box->greenMin; g--)
      if (NonZeroIn(s, box->redMin, box->redMax, g, g, box->blueMin, box->blueMax)) { box->greenMax = g; break; }
  if (box->blueMax > box->blueMin)
    for (int b = box->blueMin; b <= box->blueMax; b++)
      if (NonZeroIn(s, box->redMin, box->redMax, box->greenMin, box->greenMax, b, b)) { box->blueMin = b; break; }
  if (box->blueMax > box->blueMin)
    for (int b = box->blueMax; b >= box->blueMin; b--)
      if (NonZeroIn(s, box->redMin, box->redMax, box->greenMin, box->greenMax, b, b)) { box->blueMax = b; break; }
  const int32_t dr = (box->redMax - box->redMin) * 16, dg = (box->greenMax - box->greenMin) * 12,
                db = (box->blueMax - box->blueMin) * 8;
  box->volume = dr * dr + dg * dg + db * db;
  int32_t populated = 0;
  for (int r = box->redMin; r <= box->redMax; r++)
    for (int g = box->greenMin; g <= box->greenMax; g++)
      for (int b = box->blueMin; b <= box->blueMax; b++)
        if (s->Cell(r, g, b)) populated++;
  box->populated = populated;
}

int32_t MedianCut(QuantizeState *s, qmColorBox *boxes, int32_t wanted) {
  boxes[0] = {0, kRedCells - 1, 0, kGreenCells - 1, 0, kBlueCells - 1, 0, 0};
  UpdateColorBox(s, &boxes[0]);
  int32_t n = 1;
  while (n < wanted) {
    qmColorBox *chosen = nullptr;
    if (2 * n <= wanted) {
      int32_t best = 0;
      for (int32_t i = 0; i < n; i++)
        if (boxes[i].populated > best && boxes[i].volume > 0) best = boxes[i].populated, chosen = &boxes[i];
    } else {
      int32_t best = 0;
      for (int32_t i = 0; i < n; i++)
        if (boxes[i].volume > best) best = boxes[i].volume, chosen = &boxes[i];
    }
    if (!chosen) break;
    qmColorBox *added = &boxes[n];
    *added = *chosen;
    const int32_t mr = (chosen->redMax - chosen->redMin) * 16, mg = (chosen->greenMax - chosen->greenMin) * 12,
                  mb = (chosen->blueMax - chosen->blueMin) * 8;
    // Ties go to green, then red, then blue.
    int axis = 1, best = mg;
    if (mr > best) axis = 0, best = mr;
    if (mb > best) axis = 2;
    int32_t *lo = axis == 0 ? &chosen->redMin : axis == 1 ? &chosen->greenMin : &chosen->blueMin;
    int32_t *hi = axis == 0 ? &chosen->redMax : axis == 1 ? &chosen->greenMax : &chosen->blueMax;
    int32_t *newLo = axis == 0 ? &added->redMin : axis == 1 ? &added->greenMin : &added->blueMin;
    const int32_t mid = (*lo + *hi) / 2;
    *hi = mid;
    *newLo = mid + 1;
    UpdateColorBox(s, chosen);
    UpdateColorBox(s, added);
    n++;
  }
  return n;
}

void BoxColor(QuantizeState *s, const qmColorBox &box, WorkPalette *pal, int32_t index) {
  int64_t total = 0, rs = 0, gs = 0, bs = 0;
  for (int r = box.redMin; r <= box.redMax; r++)
    for (int g = box.greenMin; g <= box.greenMax; g++)
      for (int b = box.blueMin; b <= box.blueMax; b++) {
        const int64_t count = s->Cell(r, g, b);
        if (!count) continue;
        total += count;
        rs += count * (8 * r + 4);
        gs += count * (4 * g + 2);
        bs += count * (8 * b + 4);
      }
  if (total == 0) {
    pal->red[index] = pal->green[index] = pal->blue[index] = 255;
    return;
  }
  pal->red[index] = int32_t((rs + total / 2) / total);
  pal->green[index] = int32_t((gs + total / 2) / total);
  pal->blue[index] = int32_t((bs + total / 2) / total);
}

// The nearest palette colour of every cell in the 4 x 8 x 4 block around a cell, stored in the
// cleared histogram as index + 1.
void FillInverseColorMap(const WorkPalette *pal, QuantizeState *s, int c0, int c1, int c2) {
  c0 >>= 2;
  c1 >>= 3;
  c2 >>= 2;
  const int32_t minR = (c0 << 5) + 4, maxR = minR + 24, centerR = (minR + maxR) >> 1;
  const int32_t minG = (c1 << 5) + 2, maxG = minG + 28, centerG = (minG + maxG) >> 1;
  const int32_t minB = (c2 << 5) + 4, maxB = minB + 24, centerB = (minB + maxB) >> 1;
  int32_t minDist[256];
  int32_t minmax = 0x7FFFFFFF;
  auto axis = [](int32_t x, int32_t lo, int32_t hi, int32_t center, int32_t scale, int32_t *near, int32_t *far) {
    int32_t t;
    if (x < lo) {
      t = (x - lo) * scale; *near = t * t;
      t = (x - hi) * scale; *far = t * t;
    } else if (x > hi) {
      t = (x - hi) * scale; *near = t * t;
      t = (x - lo) * scale; *far = t * t;
    } else {
      *near = 0;
      t = (x <= center ? x - hi : x - lo) * scale;
      *far = t * t;
    }
  };
  for (int32_t i = 0; i < pal->count; i++) {
    int32_t n0, f0, n1, f1, n2, f2;
    axis(pal->red[i], minR, maxR, centerR, kRedScale, &n0, &f0);
    axis(pal->green[i], minG, maxG, centerG, kGreenScale, &n1, &f1);
    axis(pal->blue[i], minB, maxB, centerB, kBlueScale, &n2, &f2);
    minDist[i] = n0 + n1 + n2;
    minmax = std::min(minmax, f0 + f1 + f2);
  }
  int32_t bestDist[kBlockCells];
  uint8_t bestColor[kBlockCells] = {};
  std::fill(bestDist, bestDist + kBlockCells, 0x7FFFFFFF);
  constexpr int32_t stepR = (1 << kRedShift) * kRedScale, stepG = (1 << kGreenShift) * kGreenScale,
                    stepB = (1 << kBlueShift) * kBlueScale;
  for (int32_t i = 0; i < pal->count; i++) {
    if (minDist[i] > minmax) continue;
    int32_t incR = (minR - pal->red[i]) * kRedScale, incG = (minG - pal->green[i]) * kGreenScale,
            incB = (minB - pal->blue[i]) * kBlueScale;
    int32_t dist0 = incR * incR + incG * incG + incB * incB;
    incR = incR * (2 * stepR) + stepR * stepR;
    incG = incG * (2 * stepG) + stepG * stepG;
    incB = incB * (2 * stepB) + stepB * stepB;
    int cell = 0;
    int32_t xr = incR;
    for (int r = 0; r < kBlockRed; r++) {
      int32_t dist1 = dist0, xg = incG;
      for (int g = 0; g < kBlockGreen; g++) {
        int32_t dist2 = dist1, xb = incB;
        for (int b = 0; b < kBlockBlue; b++, cell++) {
          if (dist2 < bestDist[cell]) {
            bestDist[cell] = dist2;
            bestColor[cell] = uint8_t(i);
          }
          dist2 += xb;
          xb += 2 * stepB * stepB;
        }
        dist1 += xg;
        xg += 2 * stepG * stepG;
      }
      dist0 += xr;
      xr += 2 * stepR * stepR;
    }
  }
  int cell = 0;
  for (int r = 0; r < kBlockRed; r++)
    for (int g = 0; g < kBlockGreen; g++)
      for (int b = 0; b < kBlockBlue; b++, cell++)
        s->Cell((c0 << 2) + r, (c1 << 3) + g, (c2 << 2) + b) = uint16_t(bestColor[cell] + 1);
}

// Small errors pass whole, medium ones at half rate, large ones stop at 32.
int32_t ErrorLimit(int32_t e) {
  const int32_t a = e < 0 ? -e : e;
  const int32_t l = a < 16 ? a : a < 48 ? 16 + (a - 16) / 2 : 32;
  return e < 0 ? -l : l;
}

}  // namespace

void QuantizePalette(qmQuantizeRequest *q) {
  q->result = 0;
  const bool hasKey = q->transparent != 0xFFFFFFFFu;
  const int32_t largest = (!hasKey && !q->reserve) ? 256 : 255;
  int32_t wanted = std::clamp(*q->count, 1, largest);
  *q->count = wanted;
  const int32_t keyR = int32_t(q->transparent >> 16 & 255), keyG = int32_t(q->transparent >> 8 & 255),
                keyB = int32_t(q->transparent & 255);

  QuantizeState s;
  s.histogram = static_cast<uint16_t *>(MemAlloc(kRedCells * kGreenCells * kBlueCells * 2, 1));
  auto *boxes = static_cast<qmColorBox *>(MemAlloc(uint32_t(wanted) * sizeof(qmColorBox), 1));
  auto *pal = static_cast<WorkPalette *>(MemAlloc(sizeof(WorkPalette), 1));
  auto *errors = q->dither ? static_cast<int16_t *>(MemAlloc(uint32_t(q->width + 2) * 3 * 2, 1)) : nullptr;
  if (!s.histogram || !boxes || !pal || (q->dither && !errors)) {
    MemFree(s.histogram);
    MemFree(boxes);
    MemFree(pal);
    MemFree(errors);
    return;
  }
  const auto *src = static_cast<const uint8_t *>(q->pixels);
  const int64_t rowSkip = int64_t(q->pitch - q->width) * q->bytesPerPixel;
  int rgb[3] = {0, 0, 0};

  // Pass 1: the histogram.
  const uint8_t *p = src;
  for (int32_t y = 0; y < q->height; y++, p += rowSkip)
    for (int32_t x = 0; x < q->width; x++, p += q->bytesPerPixel) {
      FetchPixelRGB(p, q->pixelFormat, rgb);
      if (hasKey && rgb[0] == keyR && rgb[1] == keyG && rgb[2] == keyB) continue;
      uint16_t &cell = s.Cell(rgb[0] >> 3, rgb[1] >> 2, rgb[2] >> 3);
      if (cell != 0xFFFF) cell++;
    }

  const int32_t boxCount = MedianCut(&s, boxes, wanted);
  for (int32_t i = 0; i < boxCount; i++) BoxColor(&s, boxes[i], pal, i);
  pal->count = boxCount;

  // Pass 2: every pixel to its palette index, the histogram now caching index + 1.
  std::memset(s.histogram, 0, kRedCells * kGreenCells * kBlueCells * 2);
  const uint8_t keyIndex = uint8_t(boxCount);
  uint8_t *out = q->indices;
  p = src;
  for (int32_t y = 0; y < q->height; y++, p += rowSkip) {
    int32_t cur[3] = {0, 0, 0}, below[3] = {0, 0, 0}, belowPrev[3] = {0, 0, 0};
    int16_t *entry = errors;
    for (int32_t x = 0; x < q->width; x++, p += q->bytesPerPixel, out++) {
      FetchPixelRGB(p, q->pixelFormat, rgb);
      if (hasKey && rgb[0] == keyR && rgb[1] == keyG && rgb[2] == keyB) {
        *out = keyIndex;
        if (entry) {
          entry[0] = entry[1] = entry[2] = 0;
          entry += 3;
        }
        continue;
      }
      if (!q->dither) {
        uint16_t &cell = s.Cell(rgb[0] >> 3, rgb[1] >> 2, rgb[2] >> 3);
        if (!cell) FillInverseColorMap(pal, &s, rgb[0] >> 3, rgb[1] >> 2, rgb[2] >> 3);
        *out = uint8_t(cell - 1);
        continue;
      }
      for (int c = 0; c < 3; c++)
        cur[c] = std::clamp(ErrorLimit((cur[c] + entry[3 + c] + 8) >> 4) + rgb[c], 0, 255);
      uint16_t &cell = s.Cell(cur[0] >> 3, cur[1] >> 2, cur[2] >> 3);
      if (!cell) FillInverseColorMap(pal, &s, cur[0] >> 3, cur[1] >> 2, cur[2] >> 3);
      const int32_t index = cell - 1;
      *out = uint8_t(index);
      const int32_t chosen[3] = {pal->red[index], pal->green[index], pal->blue[index]};
      for (int c = 0; c < 3; c++) {
        const int32_t e = cur[c] - chosen[c];
        entry[c] = int16_t(belowPrev[c] + 3 * e);
        belowPrev[c] = below[c] + 5 * e;
        below[c] = e;
        cur[c] = 7 * e;
      }
      entry += 3;
    }
    if (entry)
      for (int c = 0; c < 3; c++) entry[c] = int16_t(belowPrev[c]);
  }

  int32_t count = boxCount;
  for (int32_t i = 0; i < boxCount; i++)
    q->palette[i] = uint32_t(pal->red[i]) << 16 | uint32_t(pal->green[i]) << 8 | uint32_t(pal->blue[i]);
  if (hasKey) q->palette[count++] = q->transparent & 0xFFFFFFu;
  else if (q->reserve) q->palette[count++] = 0;
  *q->count = count;
  q->result = 1;
  MemFree(s.histogram);
  MemFree(boxes);
  MemFree(pal);
  MemFree(errors);
}

int32_t QuantizeImage(const uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, int32_t colors,
                      uint32_t transparent, int32_t reserve, int32_t dither, uint8_t *indices, uint32_t *palette,
                      int32_t *countOut) {
  int32_t count = std::clamp(colors, 1, 256);
  qmQuantizeRequest q = {pixels, PIXFMT_XRGB, 4, width, height, pitch, indices, palette, &count,
                         transparent, reserve, dither, 0};
  QuantizePalette(&q);
  *countOut = count;
  return q.result;
}

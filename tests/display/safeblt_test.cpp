// Position resolution and SafeBlt: clipping, clip-region masks, source planes and the selected
// output planes, each against a per-pixel model.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/scene.h"
#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "graphics/clipregion.h"
#include "display/output.h"
#include "display/position.h"
#include "display/safeblt.h"
#include "graphics/pixelformat.h"
#include "runtime/context.h"
#include "tests/player/player_vm.h"

namespace {

// A VM whose current picture is a plain record the test controls.
struct PictureVm : PlayerVm {
  static inline qmBGPic picture{};
  static inline qmClipRegion *&active = picture.activeClip;
  qmScene *scene;
  PictureVm(int32_t w, int32_t h) {
    picture = qmBGPic{};
    picture.unscaledWidth = w;
    picture.unscaledHeight = h;
    scene = GetScene(L);
    scene->picture = &picture;
  }
  ~PictureVm() { scene->picture = nullptr; }
};

TEST(ResolvePosition, TableOfSpecialValues) {
  PictureVm vm(640, 480);
  struct Case {
    const char *name;
    bool vertical;
    int32_t v, size, ref;
    double anchor;
    int32_t want;
  } cases[] = {
      {"CENTER+10, ref 100, w 31", false, POS_CENTER + 10, 31, 100, 0, 44},
      {"CENTER truncates toward zero", false, POS_CENTER, 13, 10, 0, -1},
      {"-95000 lies between windows", false, -95000, 10, 100, 0, -95000},
      {"-85000 lies between windows", false, -85000, 10, 100, 0.5, -85000},
      {"-95001 is CENTER+4999", false, -95001, 0, 100, 0, 50 + 4999},
      {"-104999 is CENTER-4999", false, -104999, 0, 100, 0, 50 - 4999},
      {"LEFT", false, POS_LEFT, 10, 100, 0, 0},
      {"LEFT with anchor", false, POS_LEFT, 10, 100, 0.5, 5},
      {"RIGHT", false, POS_RIGHT, 10, 100, 0, 90},
      {"RIGHT-3", false, POS_RIGHT - 3, 10, 100, 0, 87},
      {"LEFTOUT", false, POS_LEFTOUT, 10, 100, 0, -10},
      {"RIGHTOUT", false, POS_RIGHTOUT, 10, 100, 0, 100},
      {"TOP is not an x keyword", false, POS_TOP, 10, 100, 0, POS_TOP},
      {"TOP", true, POS_TOP, 10, 100, 0, 0},
      {"BOTTOM", true, POS_BOTTOM, 10, 100, 0, 90},
      {"TOPOUT", true, POS_TOPOUT, 10, 100, 0, -10},
      {"BOTTOMOUT+1", true, POS_BOTTOMOUT + 1, 10, 100, 0, 101},
      {"LEFT is not a y keyword", true, POS_LEFT, 10, 100, 0, POS_LEFT},
      {"plain value unchanged", false, 12, 10, 100, 0.5, 12},
      {"negative plain value unchanged", false, -7, 10, 100, 0.5, -7},
      {"off-screen plain value unchanged", false, 5000, 10, 100, 0, 5000},
      {"reference 0: the picture", false, POS_CENTER, 40, 0, 0, 300},
      {"reference 0: the picture's height", true, POS_BOTTOM, 30, 0, 0, 450},
      {"anchor moves special values", true, POS_CENTER, 30, 0, 1.0, 225 + 30},
  };
  for (const Case &c : cases) {
    int32_t got = c.vertical ? ResolvePositionY(vm.scene, c.v, c.size, c.ref, c.anchor)
                             : ResolvePositionX(vm.scene, c.v, c.size, c.ref, c.anchor);
    EXPECT_EQ(got, c.want) << c.name;
  }
}

TEST(ResolvePosition, ActiveClipRegionIsTheReference) {
  PictureVm vm(640, 480);
  qmClipRegion region{};
  region.x = 100, region.y = 40, region.width = 200, region.height = 100;
  PictureVm::active = &region;
  EXPECT_EQ(ResolvePositionX(vm.scene, POS_CENTER, 50, 0, 0), 100 + 75);
  EXPECT_EQ(ResolvePositionY(vm.scene, POS_TOP, 50, 0, 0), 40);
  EXPECT_EQ(ResolvePositionY(vm.scene, POS_BOTTOMOUT, 50, 0, 0), 140);
  // A plain position is not moved by the region's origin.
  EXPECT_EQ(ResolvePositionX(vm.scene, 12, 50, 0, 0), 12);
  // A reference given by the caller ignores the region.
  EXPECT_EQ(ResolvePositionX(vm.scene, POS_CENTER, 50, 150, 0), 50);
  PictureVm::active = nullptr;
}

qmBitmap *Numbered(int w, int h) {
  qmBitmap *b = AllocBitmap(w, h);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) b->pixels[y * b->bytesPerRow / 4 + x] = CanonicalToPixel(11, uint32_t(1 + y * 256 + x));
  return b;
}
uint32_t Get(const qmBitmap *b, int x, int y) { return PixelToCanonical(11, b->pixels[y * b->bytesPerRow / 4 + x]); }
bool Bit(const qmMask *m, int x, int y) { return GetMaskBit(m->memory + y * m->bytesPerRow, x); }

qmSafeBlt Blt(const qmBitmap *src, int sx, int sy, qmBitmap *dst, int dx, int dy, int w, int h, uint32_t flags) {
  return qmSafeBlt{src, sx, sy, dst, dx, dy, w, h, src->width, src->height, dst ? dst->width : 10000,
                   dst ? dst->height : 10000, flags, nullptr, nullptr, nullptr};
}

// Runs with no current display, or with the one given, in the scene the blits are handed, and
// puts the old one back.
struct WithDisplay {
  static inline qmScene scene = [] {
    qmScene s{};
    ResetOutputSettings(&s);
    return s;
  }();
  qmDisplay *saved = scene.current;
  explicit WithDisplay(qmDisplay *d) { scene.current = d; }
  ~WithDisplay() { scene.current = saved; }
};

TEST(SafeBlt, WithoutDisplayOnlyPixelsIntoAGivenBitmap) {
  WithDisplay none(nullptr);
  qmBitmap *src = Numbered(20, 10), *dst = AllocBitmap(30, 10);
  FillBitmapRect(dst, 0, 0, 30, 10, 0);
  qmSafeBlt b = Blt(src, 0, 0, dst, -5, 0, 20, 10, 0);
  SafeBlt(&WithDisplay::scene, &b);  // refused: no display and not pixels only
  EXPECT_EQ(Get(dst, 0, 0), 0u);
  b.flags = SAFEBLT_PIXELSONLY;
  SafeBlt(&WithDisplay::scene, &b);
  // 15 columns from source x 5 to destination x 0.
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 30; x++) EXPECT_EQ(Get(dst, x, y), x < 15 ? Get(src, x + 5, y) : 0u) << x << "," << y;
  // Negative source positions draw nothing.
  FillBitmapRect(dst, 0, 0, 30, 10, 0);
  b = Blt(src, -1, 0, dst, 0, 0, 5, 5, SAFEBLT_PIXELSONLY);
  SafeBlt(&WithDisplay::scene, &b);
  EXPECT_EQ(Get(dst, 0, 0), 0u);
  FreeBitmap(src), FreeBitmap(dst);
}

TEST(SafeBlt, SizesClaimedLargerThanTheBitmapsAreCut) {
  WithDisplay none(nullptr);
  qmBitmap *src = Numbered(8, 8), *dst = AllocBitmap(8, 8);
  FillBitmapRect(dst, 0, 0, 8, 8, 0);
  qmSafeBlt b{src, 4, 4, dst, 4, 4, 1000, 1000, 5000, 5000, 5000, 5000, SAFEBLT_PIXELSONLY | SAFEBLT_NOCLIP,
              nullptr, nullptr, nullptr};
  SafeBlt(&WithDisplay::scene, &b);  // under AddressSanitizer: no access outside either bitmap
  EXPECT_EQ(Get(dst, 7, 7), Get(src, 7, 7));
  EXPECT_EQ(Get(dst, 3, 3), 0u);
  FreeBitmap(src), FreeBitmap(dst);
}

TEST(SafeBlt, ClipRegionMaskAgainstPixelModel) {
  WithDisplay none(nullptr);
  std::mt19937 rng(3);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  qmBitmap *src = Numbered(40, 30), *dst = AllocBitmap(50, 40);
  qmMask *srcMask = AllocMask(40, 30, 1);
  for (int y = 0; y < 30; y++)
    for (int x = 0; x < 40; x++) SetMaskBit(srcMask->memory + y * srcMask->bytesPerRow, x, (x * 7 + y * 3) % 5 != 0);
  for (int iter = 0; iter < 150; iter++) {
    qmMask *shape = AllocMask(pick(1, 45), pick(1, 35), 1);
    for (int y = 0; y < shape->height; y++)
      for (int x = 0; x < shape->width; x++) SetMaskBit(shape->memory + y * shape->bytesPerRow, x, pick(0, 2) != 0);
    qmClipRegion *region = nullptr;
    ASSERT_EQ(NewClipRegion(pick(0, 30), pick(0, 25), shape->width, shape->height, shape, &region), 0u);
    const bool withMask = pick(0, 1);
    qmSafeBlt b = Blt(src, pick(0, 10), pick(0, 10), dst, pick(-10, 40), pick(-10, 30), pick(1, 40), pick(1, 30),
                      SAFEBLT_PIXELSONLY);
    b.clip = region;
    b.mask = withMask ? srcMask : nullptr;
    FillBitmapRect(dst, 0, 0, 50, 40, 0);
    SafeBlt(&WithDisplay::scene, &b);
    for (int y = 0; y < 40; y++)
      for (int x = 0; x < 50; x++) {
        const int sx = b.srcX + x - b.dstX, sy = b.srcY + y - b.dstY;
        const int rx = x - region->x, ry = y - region->y;
        bool drawn = x >= b.dstX && y >= b.dstY && x < b.dstX + b.width && y < b.dstY + b.height && sx < 40 &&
                     sy < 30 && rx >= 0 && ry >= 0 && rx < region->width && ry < region->height &&
                     Bit(region->mask, rx, ry) && (!withMask || Bit(srcMask, sx, sy));
        ASSERT_EQ(Get(dst, x, y), drawn ? Get(src, sx, sy) : 0u) << "iteration " << iter << " at " << x << "," << y;
      }
    FreeMask(shape);
    FreeClipRegionData(nullptr, region);
    free(region);  // NOLINT
  }
  FreeBitmap(src), FreeBitmap(dst), FreeMask(srcMask);
}

TEST(SafeBlt, SelectedMaskChangesOnlyTheMask) {
  qmDisplay *d = NewDisplayRecord(1);
  d->outputType = DISPOUT_MASK;
  d->outputMask = AllocMask(16, 16, 1);
  WithDisplay with(d);
  qmBitmap *src = Numbered(8, 8);
  for (uint32_t mode : {uint32_t(MASKVANILLACOPY), uint32_t(MASKXOR)}) {
    FillMaskRect(d->outputMask, 0, 0, 16, 16, MASKINVISIBLE);
    FillMaskRect(d->outputMask, 0, 0, 4, 16, MASKVISIBLE);
    SetOutputMaskMode(&WithDisplay::scene, mode);
    qmSafeBlt b = Blt(src, 0, 0, nullptr, 2, 2, 8, 8, SAFEBLT_NOSPRITES);
    SafeBlt(&WithDisplay::scene, &b);
    for (int y = 0; y < 16; y++)
      for (int x = 0; x < 16; x++) {
        bool before = x < 4, inside = x >= 2 && x < 10 && y >= 2 && y < 10;
        bool want = inside ? (mode == MASKXOR ? !before : true) : before;
        EXPECT_EQ(Bit(d->outputMask, x, y), want) << mode << " " << x << "," << y;
      }
  }
  ResetOutputSettings(&WithDisplay::scene);
  FreeBitmap(src);
  FreeMask(d->outputMask);
  FreeDisplayRecord(d);
}

TEST(SafeBlt, SelectedAlphaTakesTheAlphaValue) {
  qmDisplay *d = NewDisplayRecord(1);
  d->outputType = DISPOUT_ALPHA;
  d->outputAlpha = AllocAlphaChannel(12, 12, 1);
  WithDisplay with(d);
  qmBitmap *src = Numbered(6, 6);
  qmSafeBlt b = Blt(src, 0, 0, nullptr, 3, 3, 6, 6, SAFEBLT_NOSPRITES);
  SafeBlt(&WithDisplay::scene, &b);
  EXPECT_EQ(d->outputAlpha->memory[4 * d->outputAlpha->bytesPerRow + 4], 255);
  SetOutputAlphaValue(&WithDisplay::scene, 90);
  SafeBlt(&WithDisplay::scene, &b);
  EXPECT_EQ(d->outputAlpha->memory[4 * d->outputAlpha->bytesPerRow + 4], 90);
  EXPECT_EQ(d->outputAlpha->memory[2 * d->outputAlpha->bytesPerRow + 2], 0);
  // A source alpha channel is taken into the selected one with the value as its ceiling.
  qmAlphaChannel *a = AllocAlphaChannel(6, 6, 1);
  for (int i = 0; i < 6 * a->bytesPerRow; i++) a->memory[i] = 200;
  b.alpha = a;
  SafeBlt(&WithDisplay::scene, &b);
  EXPECT_LE(d->outputAlpha->memory[4 * d->outputAlpha->bytesPerRow + 4], 200);
  ResetOutputSettings(&WithDisplay::scene);
  FreeAlphaChannel(a);
  FreeBitmap(src);
  FreeAlphaChannel(d->outputAlpha);
  FreeDisplayRecord(d);
}

TEST(SafeBlt, SourceAlphaBlendsIntoAGivenBitmap) {
  WithDisplay none(nullptr);
  qmBitmap *src = AllocBitmap(4, 1), *dst = AllocBitmap(4, 1);
  FillBitmapRect(src, 0, 0, 4, 1, 0xFFFFFF);
  FillBitmapRect(dst, 0, 0, 4, 1, 0x000000);
  qmAlphaChannel *a = AllocAlphaChannel(4, 1, 1);
  const uint8_t levels[4] = {0, 128, 255, 64};
  for (int i = 0; i < 4; i++) a->memory[i] = levels[i];
  qmSafeBlt b = Blt(src, 0, 0, dst, 0, 0, 4, 1, SAFEBLT_PIXELSONLY);
  b.alpha = a;
  SafeBlt(&WithDisplay::scene, &b);
  for (int i = 0; i < 4; i++) {
    const uint32_t c = levels[i] == 255 ? 255 : uint32_t((255 * levels[i]) >> 8);
    EXPECT_EQ(Get(dst, i, 0), c << 16 | c << 8 | c) << i;
  }
  FreeBitmap(src), FreeBitmap(dst), FreeAlphaChannel(a);
}

}  // namespace

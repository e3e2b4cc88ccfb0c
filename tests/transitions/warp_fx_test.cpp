// Water and strudel frames on a display without a window, against the warp kernels run on the two
// pictures directly: the new picture moved and mixed over the old one at the frame's weight, in
// every colour channel.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "graphics/warp_kernels.h"
#include "tests/transitions/fx_stage.h"

namespace {

// The colour channels of a picture word; the fourth byte is unused.
constexpr uint32_t kColour = 0xFFFFFF00u;

struct Expected {
  std::vector<double> sine = std::vector<double>(QM_WARP_TABLE_SIZE), cosine = std::vector<double>(QM_WARP_TABLE_SIZE);
  std::vector<int32_t> distance;
  std::vector<uint32_t> out;
};

// Frame `frame` of the effect at normal speed as the kernel draws it from both pictures.
std::vector<uint32_t> KernelFrame(const FxStage &s, int32_t effect, int frame) {
  const int32_t w = s.fx.width, h = s.fx.height;
  Expected e;
  e.out.assign(size_t(w) * h, 0);
  const qmBitmap *n = s.newPicture, *o = s.oldPicture;
  if (effect == FX_STRUDEL) {
    qmSwirlRequest r{};
    r.srcCopy = n->pixels, r.srcPitch = n->bytesPerRow / 4;
    r.second = o->pixels, r.secondPitch = o->bytesPerRow / 4;
    r.dst = e.out.data(), r.dstPitch = w;
    r.sine = e.sine.data(), r.cosine = e.cosine.data();
    r.width = w, r.height = h;
    PrepareSwirl(&r);
    EXPECT_EQ(SwirlPixels(&r, frame * 8), 0);  // 8 degrees a frame
  } else {
    const double wavelength[] = {32.0, 64.0, 16.0, 8.0};
    e.distance.assign(size_t(w) * h, 0);
    qmRippleRequest r{};
    r.srcCopy = n->pixels, r.srcPitch = n->bytesPerRow / 4;
    r.second = o->pixels, r.secondPitch = o->bytesPerRow / 4;
    r.dst = e.out.data(), r.dstPitch = w;
    r.waves = 25, r.amplitudeStep = 0.05, r.wavelength = wavelength[effect - FX_WATER1];
    r.sine = e.sine.data(), r.distance = e.distance.data();
    r.width = w, r.height = h, r.centerX = w / 2, r.centerY = h / 2, r.maxDistance = std::max(w / 2, h / 2);
    PrepareRipple(&r);
    EXPECT_EQ(RipplePixels(&r, frame), 0);
  }
  return e.out;
}

TEST(WarpFx, FramesAreTheTwoPicturesWarpedAndMixed) {
  // Sizes taller than the kernels' bands of rows, mixed ahead band by band; frames from the start,
  // the middle and near the end. The tall short-wave ripples move rows less than their height
  // apart, so their mixed rows are kept in a scratch whose rows are used in turn.
  struct Row {
    int32_t effect;
    int w, h;
    std::vector<int> frames;
  } rows[] = {{FX_WATER1, 150, 70, {1, 25, 49}}, {FX_WATER4, 67, 41, {12, 30}}, {FX_STRUDEL, 150, 70, {1, 45, 89}},
              {FX_STRUDEL, 41, 67, {20, 60}}, {FX_WATER4, 37, 301, {1, 24, 25, 38}}, {FX_WATER3, 64, 400, {3, 25, 47}}};
  for (const Row &r : rows) {
    FxStage s(r.w, r.h, r.effect, FX_NORMALSPEED);
    ASSERT_EQ(s.initCode, 0u);
    int frame = 0;
    for (int want : r.frames) {
      SCOPED_TRACE("effect " + std::to_string(r.effect) + " " + std::to_string(r.w) + "x" + std::to_string(r.h) +
                   " frame " + std::to_string(want));
      while (frame < want) {
        ASSERT_EQ(s.Step(), 0);
        frame++;
      }
      const std::vector<uint32_t> expected = KernelFrame(s, r.effect, frame);
      const qmBitmap *shown = s.display->backgroundCopy;
      for (int y = 0; y < r.h; y++)
        for (int x = 0; x < r.w; x++)
          ASSERT_EQ(shown->pixels[y * (shown->bytesPerRow / 4) + x] & kColour, expected[size_t(y) * r.w + x] & kColour)
              << x << "," << y;
    }
  }
}

}  // namespace

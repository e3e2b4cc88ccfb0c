// Every effect id that has routines, run through the runner on small areas: on the display and
// in layers (shown and hidden, on the screen and through the layer's planes, standing in for a
// background picture), opaque and masked
// pictures, odd and even sizes, three speeds. The counts, the last picture and the untouched
// surroundings (for a picture travelling in from outside: nothing there but its own pixels) are
// checked against the effect's own step count and pictures made by formula; driven
// asynchronously frame by frame, the same pictures as the run at once.
#include <cstdlib>
#include <string>
#include <unordered_set>
#include <vector>

#include "display/asyncdraw.h"
#include "display/bgpic.h"
#include "display/brush.h"
#include "layers/layer.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"
#include "tests/transitions/fx_vm.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/fxrunner.h"
#include "transitions/fxtable.h"

namespace {

// Where the transition goes and how it reaches the screen.
enum Mode {
  kOnDisplay,      // a brush on a display without layers (a background picture for whole-display effects)
  kShowOnScreen,   // a hidden layer shown, drawn on the screen
  kShowInPlanes,   // a hidden layer shown through its own planes
  kHideOnScreen,   // a shown layer hidden, drawn on the screen
  kHideInPlanes,   // a shown layer hidden through its own planes
  kShowEmulated,   // a hidden layer shown standing in for a change to a background picture
};
const char *const kModeNames[] = {"display",        "show on screen", "show in planes",
                                  "hide on screen", "hide in planes", "show as a background picture"};

struct Size {
  int w, h;
};
const Size kSizes[] = {{37, 23}, {40, 24}};
const int32_t kSpeeds[] = {FX_NORMALSPEED, FX_FASTSPEED, FX_SLOWSPEED, 7};

constexpr int kMarginX = 5, kMarginY = 4;  // the area's place on a display larger by twice these
constexpr int kBackSeed = 3, kNewSeed = 8;

// The new picture's mask: holes on a diagonal lattice and one block, so every wipe meets both.
bool MaskShows(int w, int h, int x, int y) {
  return (x * 7 + y * 3) % 5 != 0 && !(x > w / 3 && x < w / 2 && y > h / 3 && y < h - 2);
}

// What the routines were asked and did, seen through a frame routine standing in for the
// effect's own.
struct Seen {
  int32_t effect = -1, stepCount = -1, frames = 0, realtime = -1;
};
Seen seen;

uint32_t SeenFrame(qmFxRequest *fx, int32_t *done) {
  const qmFxRoutines *r = FindFxRoutines(fx->effect);
  if (!r) return 1;
  const int32_t phase = fx->phase;
  const uint32_t code = r->frame(fx, done);
  if (phase == FXPHASE_INIT) {
    seen.effect = fx->effect;
    seen.stepCount = fx->stepCount;
    seen.realtime = fx->realtime;
  } else if (phase == FXPHASE_FRAME && !fx->rerender) {
    seen.frames++;
  }
  return code;
}

void SeenFree(qmFxRequest *fx, int32_t complete) {
  if (const qmFxRoutines *r = FindFxRoutines(fx->effect); r && r->free) r->free(fx, complete);
}

struct Case {
  int32_t effect;
  Mode mode;
  bool masked;
  Size size;
  int32_t speed;
  std::string Name() const {
    return "effect " + std::to_string(effect) + ", " + kModeNames[mode] + (masked ? ", masked, " : ", opaque, ") +
           std::to_string(size.w) + "x" + std::to_string(size.h) + ", speed " + std::to_string(speed);
  }
  // Whole-display effects on a display replace its background picture.
  bool OnBGPic() const { return IsWholeDisplayFx(effect) && mode == kOnDisplay; }
  bool Hides() const { return mode == kHideOnScreen || mode == kHideInPlanes; }
  bool Layers() const { return mode != kOnDisplay; }
};

// One display set up for a case: a patterned background picture, the new picture as brush 1
// (or background picture 2), with layers the brush as layer 1.
struct Stage : FxVm {
  Case c;
  int ax, ay, aw, ah;  // the effect area on the display
  std::vector<uint32_t> before, after;

  static int Width(const Case &c) { return c.OnBGPic() ? c.size.w : c.size.w + 2 * kMarginX; }
  static int Height(const Case &c) { return c.OnBGPic() ? c.size.h : c.size.h + 2 * kMarginY; }

  explicit Stage(const Case &k) : FxVm(Width(k), Height(k), k.Layers()), c(k) {
    ax = c.OnBGPic() ? 0 : kMarginX;
    ay = c.OnBGPic() ? 0 : kMarginY;
    aw = c.size.w;
    ah = c.size.h;
    MakeBGPic(3, width, height, kBackSeed);
    EXPECT_EQ(Call("DisplayBGPic", {3}).code, 0u);
    if (c.OnBGPic()) {
      MakeBGPic(2, aw, ah, kNewSeed);
    } else {
      if (c.mode == kShowEmulated) {
        // The picture the layer stands in for holds the layer's pixels where the layer lies.
        qmBGPic *emu = MakeBGPic(2, width, height, 0);
        for (int y = 0; emu && y < height; y++)
          for (int x = 0; x < width; x++)
            emu->master.bitmap->pixels[y * (emu->master.bitmap->bytesPerRow / 4) + x] =
                __builtin_bswap32(Pattern(kNewSeed, x - ax, y - ay));
      }
      qmBrush *b = MakeBrush(1, aw, ah, kNewSeed);
      if (b && c.masked) {
        b->mask = AllocMask(aw, ah, 1);
        b->transparentColor = kOwnMaskColor;
        for (int y = 0; y < ah; y++)
          for (int x = 0; x < aw; x++)
            if (MaskShows(aw, ah, x, y)) b->mask->memory[y * b->mask->bytesPerRow + x / 8] |= uint8_t(0x80 >> (x % 8));
      }
      if (c.Layers()) {
        EXPECT_EQ(Call("DisplayBrush", {1, ax, ay}).code, 0u);
        if (!c.Hides()) {
          EXPECT_EQ(Call("HideLayer", {1}).code, 0u);
        }
      }
    }
    d = DisplayVm::Display(1);
    StartCapture();
    before = Window();
    // The window at the end: the background, with the new picture through its mask unless hidden.
    after.assign(size_t(width) * height, 0);
    for (int y = 0; y < height; y++)
      for (int x = 0; x < width; x++) {
        const int px = x - ax, py = y - ay;
        const bool inArea = px >= 0 && py >= 0 && px < aw && py < ah;
        const bool shows = inArea && !c.Hides() && (!c.masked || MaskShows(aw, ah, px, py));
        after[size_t(y) * width + x] = shows ? Pattern(kNewSeed, px, py) : Pattern(kBackSeed, x, y);
      }
  }

  bool InArea(int x, int y) const { return x >= ax && y >= ay && x < ax + aw && y < ay + ah; }

  // The transition as the commands would ask for it, through the standing-in frame routine.
  uint32_t Run(int32_t async, qmAsyncDraw **ad) {
    qmFxRequest r{};
    r.scene = Scene();
    r.frameFn = SeenFrame;
    r.freeFn = SeenFree;
    r.effect = c.effect;
    r.step = c.speed;
    r.parameter = FX_RANDOMPARAMETER;
    r.bgpicX = r.bgpicY = 99999;
    r.async = async;
    if (c.OnBGPic()) {
      r.objectType = FXTARGET_BGPIC;
      r.objectId = {2, 0};
    } else if (!c.Layers()) {
      r.objectType = FXTARGET_BRUSH;
      r.objectId = {1, 0};
      r.x = ax;
      r.y = ay;
    } else {
      r.objectType = c.Hides() ? FXTARGET_HIDELAYER : FXTARGET_LAYER;
      r.layerTarget = c.Hides();
      r.objectId = {1, 0};
      r.forceRealtime = c.mode == kShowInPlanes || c.mode == kHideInPlanes;
      if (c.mode == kShowEmulated) {
        qmObjectId emu{2, 0};
        r.bgpicEmu = 1;
        EXPECT_EQ(FindBGPic(Scene()->objects, &emu, &r.emuBGPic, 0), 0u);
      }
    }
    seen = {};
    // A random stripe size draws from rand: every run of a case draws the same.
    std::srand(11);
    srand48(11);
    return RunTransition(&r, ad);
  }
};

std::vector<int32_t> BuiltEffects() {
  std::vector<int32_t> ids;
  for (int32_t id = 0; id < FX_EFFECT_SLOTS; id++)
    if (IsFxBuilt(id)) ids.push_back(id);
  return ids;
}

bool Applies(const Case &c) {
  // Background pictures, and the layers standing in for them, are opaque; whole-display effects
  // reach layers only so.
  if (c.mode == kShowEmulated) return !c.masked;
  if (IsWholeDisplayFx(c.effect)) return c.mode == kOnDisplay && !c.masked;
  return true;
}

std::vector<Case> CasesOf(int32_t effect, const std::vector<int32_t> &speeds) {
  std::vector<Case> out;
  for (int m = kOnDisplay; m <= kShowEmulated; m++)
    for (bool masked : {false, true})
      for (const Size &s : kSizes)
        for (int32_t speed : speeds) {
          Case c{effect, Mode(m), masked, s, speed};
          if (Applies(c)) out.push_back(c);
        }
  return out;
}

class EffectTable : public ::testing::TestWithParam<int32_t> {};

TEST_P(EffectTable, FramesLastPictureAndSurroundings) {
  const int32_t effect = GetParam();
  const qmFxRoutines *routines = FindFxRoutines(effect);
  ASSERT_NE(routines, nullptr);
  const bool pieces = routines->family & FXFAMILY_PIECEREVEAL;
  // A travelling picture may show beyond the area, but only its own pixels.
  const bool travels = routines->family & FXFAMILY_TRAVELS;
  for (const Case &c : CasesOf(effect, {std::begin(kSpeeds), std::end(kSpeeds)})) {
    SCOPED_TRACE(c.Name());
    Stage s(c);
    ASSERT_EQ(s.Run(0, nullptr), 0u);
    const auto &frames = FxVm::Frames();
    ASSERT_GT(seen.stepCount, 0);
    EXPECT_EQ(seen.frames, seen.stepCount) << "frames run";
    ASSERT_EQ(frames.size(), size_t(seen.stepCount)) << "one frame end a frame";
    ASSERT_EQ(frames.back(), s.after) << "the last frame is the new picture";
    EXPECT_EQ(s.Window(), s.after);
    if (c.Layers()) {
      EXPECT_EQ(GetNthLayer(s.d->bgpic, 1)->hidden, c.Hides() ? 1 : 0);
    }
    if ((c.mode == kShowInPlanes || c.mode == kHideInPlanes || c.mode == kShowEmulated) && !travels) {
      EXPECT_EQ(seen.realtime, 1) << "drawn through the layer's planes";
    }
    std::unordered_set<uint32_t> newPixels;
    for (int y = 0; travels && y < s.ah; y++)
      for (int x = 0; x < s.aw; x++)
        if (!c.masked || MaskShows(s.aw, s.ah, x, y)) newPixels.insert(FxVm::Pattern(kNewSeed, x, y));
    EXPECT_EQ(seen.effect, c.Hides() ? ReverseFxForHide(c.effect) : c.effect) << "the effect asked for ran";
    // Every frame: nothing outside the area moves; a piece reveal shows the old or the new
    // picture at each pixel and never takes the new one back.
    std::vector<bool> reached(s.before.size(), false);
    for (size_t f = 0; f < frames.size(); f++)
      for (int y = 0; y < s.height; y++)
        for (int x = 0; x < s.width; x++) {
          const size_t i = size_t(y) * s.width + x;
          const uint32_t p = frames[f][i];
          if (!s.InArea(x, y)) {
            if (travels && p != s.before[i]) {
              ASSERT_EQ(newPixels.count(p), 1u) << "frame " << f + 1 << " outside the area at " << x << "," << y;
              continue;
            }
            ASSERT_EQ(p, s.before[i]) << "frame " << f + 1 << " outside the area at " << x << "," << y;
            continue;
          }
          if (!pieces || s.before[i] == s.after[i]) continue;
          ASSERT_TRUE(p == s.before[i] || p == s.after[i]) << "frame " << f + 1 << " at " << x << "," << y;
          if (reached[i]) {
            ASSERT_EQ(p, s.after[i]) << "frame " << f + 1 << " took back " << x << "," << y;
          }
          reached[i] = p == s.after[i];
        }
  }
}

TEST_P(EffectTable, DrivenFrameByFrameShowsTheSamePictures) {
  const int32_t effect = GetParam();
  for (const Case &c : CasesOf(effect, {FX_NORMALSPEED})) {
    // A background picture is never asynchronous; a layer driven so always draws through its
    // planes, so its run at once is the one through the planes.
    if (c.OnBGPic() || c.mode == kShowOnScreen || c.mode == kHideOnScreen) continue;
    SCOPED_TRACE(c.Name());
    std::vector<std::vector<uint32_t>> sync;
    int32_t stepCount = 0;
    {
      Stage once(c);
      ASSERT_EQ(once.Run(0, nullptr), 0u);
      sync = FxVm::Frames();
      stepCount = seen.stepCount;
    }
    ASSERT_EQ(sync.size(), size_t(stepCount));
    Stage s(c);
    qmAsyncDraw *ad = nullptr;
    ASSERT_EQ(s.Run(1, &ad), 0u);
    ASSERT_NE(ad, nullptr);
    EXPECT_EQ(s.Window(), s.before) << "nothing is drawn before the first frame";
    EXPECT_EQ(ad->control(ADOP_FRAMECOUNT, 0, ad->userData), stepCount);
    const int32_t half = stepCount / 2;
    for (int32_t k = 1; k <= stepCount; k++) {
      int32_t result = -1;
      ASSERT_EQ(AdvanceAsyncDraw(s.Scene(), ad, 0, 0, &result), 0u) << "frame " << k;
      ASSERT_EQ(result, 0) << "frame " << k;
      ASSERT_EQ(s.Window(), sync[size_t(k) - 1]) << "frame " << k;
      if (k != half || half < 2 || !c.Layers()) continue;
      // Half way: back to the first frame and forward again, drawn anew from the frame number.
      for (int32_t jump : {1, half}) {
        ASSERT_EQ(AdvanceAsyncDraw(s.Scene(), ad, 1, jump, &result), 0u) << "jump to " << jump;
        ASSERT_EQ(s.Window(), sync[size_t(jump) - 1]) << "jump to " << jump;
      }
    }
    int32_t result = -1;
    ASSERT_EQ(AdvanceAsyncDraw(s.Scene(), ad, 0, 0, &result), 0u);
    EXPECT_EQ(result, 1) << "the call after the last frame ends it";
    EXPECT_EQ(FirstObject(s.Scene()->objects, QMTYPE_ASYNCDRAW), nullptr);
    EXPECT_EQ(s.Window(), s.after);
    if (c.Layers()) {
      EXPECT_EQ(GetNthLayer(s.d->bgpic, 1)->hidden, c.Hides() ? 1 : 0);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Built, EffectTable, ::testing::ValuesIn(BuiltEffects()),
                         [](const ::testing::TestParamInfo<int32_t> &info) { return "id" + std::to_string(info.param); });

}  // namespace

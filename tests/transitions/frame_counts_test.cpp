// How many frames an effect takes, and the step it takes them at, for the speeds whose figures
// the effects' own rules give: the frames run until the routine says done, against the count it
// announced and the count worked out by hand.
#include <gtest/gtest.h>

#include "tests/transitions/fx_stage.h"

namespace {

TEST(FrameCounts, TheEffectsOwnFigures) {
  struct Row {
    const char *name;
    int32_t effect;
    int w, h;
    int32_t speed;
    int frames;
    int32_t step;  // 0: not checked
  };
  const Row rows[] = {
      {"FADE at the default speed: 501 at 10", FX_FADE, 40, 30, FX_NORMALSPEED, 52, 10},
      {"BLEND likewise", FX_BLEND, 40, 30, FX_NORMALSPEED, 52, 10},
      {"FADE above 255 is cut to 255: the colour, one tinted frame, the new picture", FX_FADE, 40, 30, 1000, 3, 255},
      {"CROSSFADE at the default speed: 255 at 10 without the extra frame", FX_CROSSFADE, 40, 30, FX_NORMALSPEED, 26,
       10},
      {"CROSSFADE above 120 is cut to 120", FX_CROSSFADE, 40, 30, 500, 3, 120},
      {"DISSOLVE at the default speed", FX_DISSOLVE, 40, 30, FX_NORMALSPEED, 64, 4},
      {"DISSOLVE fast", FX_DISSOLVE, 40, 30, FX_FASTSPEED, 32, 8},
      {"DISSOLVE slow", FX_DISSOLVE, 40, 30, FX_SLOWSPEED, 128, 2},
      {"DISSOLVE at 100 is limited to 8", FX_DISSOLVE, 40, 30, 100, 32, 8},
      {"DISSOLVE at 0 becomes 1", FX_DISSOLVE, 40, 30, 0, 256, 1},
      {"WATER at the default speed: 50 frames", FX_WATER1, 40, 30, FX_NORMALSPEED, 50, 0},
      {"WATER at 200 is limited to 100: 200 frames", FX_WATER3, 40, 30, 200, 200, 0},
      {"WATER at 1 is raised to 5: 10 frames", FX_WATER2, 40, 30, 1, 10, 0},
      {"STRUDEL at the default speed: 90 frames", FX_STRUDEL, 40, 30, FX_NORMALSPEED, 90, 8},
      {"ROLLTOP on 480 rows at the default speed: 2 a frame", FX_ROLLTOP, 20, 480, FX_NORMALSPEED, 240, 2},
      {"ROLL at 30: a step of 6", FX_ROLLLEFT, 60, 20, 30, 10, 6},
      {"ROLL at 100 is limited to 8", FX_ROLLLEFT, 64, 20, 100, 8, 8},
      {"SLIDE of 100 at 30: positions 30 to 180, then 200", FX_SLIDELEFT, 100, 20, 30, 7, 30},
      {"SLIDE above 30 becomes 30", FX_SLIDELEFT, 100, 20, 90, 7, 30},
      {"PUSH takes any step unchanged", FX_PUSHLEFT, 100, 20, 90, 2, 90},
      {"HFLOWTOP of 100 rows at 20: five bands", FX_HFLOWTOP, 30, 100, 20, 5, 20},
      {"CRUSHLEFT on 640 columns at the default speed: 10 a frame", FX_CRUSHLEFT, 640, 4, FX_NORMALSPEED, 64, 10},
      {"TURNDOWNTOP on 480 rows at the default speed: 8 a frame", FX_TURNDOWNTOP, 4, 480, FX_NORMALSPEED, 60, 8},
      {"PIXELZOOM1 whatever the speed", FX_PIXELZOOM1, 40, 30, 7, 25, 0},
      {"PIXELZOOM2 on a picture", FX_PIXELZOOM2, 40, 30, FX_FASTSPEED, 49, 0},
      {"SPIRAL at DEFAULTSPEED: a step of 1", FX_SPIRAL, 70, 60, FX_DEFAULTSPEED, 0, 1},
      {"SPIRAL above 30 gives 30", FX_SPIRAL, 70, 60, 50, 0, 30},
      {"PUZZLE tiles are never below 5", FX_PUZZLE, 40, 30, 1, 0, 5},
      {"PUZZLE at the default speed on 640 columns: 32", FX_PUZZLE, 640, 64, FX_NORMALSPEED, 0, 32},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    FxStage stage(r.w, r.h, r.effect, r.speed, FX_RANDOMPARAMETER);
    ASSERT_EQ(stage.initCode, 0u);
    if (r.step) {
      EXPECT_EQ(stage.fx.step, r.step);
    }
    int frames = 0;
    while (frames < 100000 && !stage.Step()) frames++;
    frames++;
    EXPECT_EQ(frames, stage.fx.stepCount) << "the frames run are the frames announced";
    if (r.frames) {
      EXPECT_EQ(frames, r.frames);
    }
  }
}

}  // namespace

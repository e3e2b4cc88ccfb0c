// The effect vocabulary: speed to step, frame counts, the random choice and the reversal.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "runtime/registry.h"
#include "transitions/fxtable.h"

namespace {

TEST(FxTable, SpeedBecomesAStep) {
  struct Row {
    const char *name;
    int32_t speed, size, normal, fast, slow, step;
  };
  const Row rows[] = {
      {"normal divides by the normal divisor", FX_NORMALSPEED, 640, 70, 30, 200, 9},
      {"fast divides by the fast divisor", FX_FASTSPEED, 640, 70, 30, 200, 21},
      {"slow divides by the slow divisor", FX_SLOWSPEED, 640, 70, 30, 200, 3},
      {"fast on 20 pixels with divisor 30 is still 1", FX_FASTSPEED, 20, 70, 30, 200, 1},
      {"default speed is 1", FX_DEFAULTSPEED, 640, 70, 30, 200, 1},
      {"speed 0 is 1", 0, 640, 70, 30, 200, 1},
      {"any other negative is 1", -7, 640, 70, 30, 200, 1},
      {"a positive speed is the step whatever the size", 25, 3, 70, 30, 200, 25},
  };
  for (const Row &r : rows)
    EXPECT_EQ(FxSpeedToStep(r.speed, r.size, r.normal, r.fast, r.slow), r.step) << r.name;
}

TEST(FxTable, StepCounts) {
  struct Row {
    int32_t distance, step, noExtra, count;
  };
  const Row rows[] = {
      {100, 30, 0, 5}, {90, 30, 0, 4}, {0, 5, 0, 1}, {-3, 5, 1, 1}, {10, 5, 1, 2}, {11, 5, 1, 3}, {255, 10, 1, 26},
  };
  for (const Row &r : rows)
    EXPECT_EQ(FxStepCount(r.distance, r.step, r.noExtra), r.count) << r.distance << "/" << r.step << "/" << r.noExtra;
}

// The whole-display set as listed for the script: gates, pushes, slides, cards, zoom in and
// out, crushes, flip-coins, turn-downs and the second pixel zoom.
std::set<int32_t> WholeDisplaySet() {
  std::set<int32_t> w;
  for (int32_t e : {74, 75, 76, 77, 78, 79, 80, 81, 101, 102, 103, 104, 111, 112, 133}) w.insert(e);
  for (int32_t e = 118; e <= 131; e++) w.insert(e);
  return w;
}

TEST(FxTable, RandomChoiceCoversEveryEffectButTheGaps) {
  const std::set<int32_t> whole = WholeDisplaySet();
  ASSERT_EQ(whole.size(), 29u);
  // A fixed sweep of the unit interval stands in for the generator: every id is reachable.
  static int32_t tick;
  tick = 0;
  auto sweep = [] { return double(tick++ % 1410) / 1410.0; };
  std::set<int32_t> seen;
  for (int i = 0; i < 1410; i++) {
    int32_t e = DrawRandomFx(sweep, 0, nullptr);
    ASSERT_NE(e, FX_UNUSED);
    ASSERT_GE(e, 0);
    ASSERT_LT(e, FX_RANDOMEFFECT);
    seen.insert(e);
  }
  EXPECT_EQ(seen.size(), 139u);
  tick = 0;
  for (int i = 0; i < 1410; i++) {
    int32_t e = DrawRandomFx(sweep, 1, nullptr);
    ASSERT_EQ(whole.count(e), 0u) << e;
    ASSERT_NE(e, FX_UNUSED);
  }
  // The draw goes on past ids the caller refuses.
  tick = 0;
  EXPECT_EQ(DrawRandomFx(sweep, 0, [](int32_t e) { return e == 139; }), 139);
}

TEST(FxTable, HidingSwapsOpeningAndClosingMembers) {
  const std::map<int32_t, int32_t> pairs = {{24, 25}, {26, 27}, {30, 31}, {32, 33}, {38, 88}, {42, 92}, {46, 96}};
  for (auto [a, b] : pairs) {
    EXPECT_EQ(ReverseFxForHide(a), b) << a;
    EXPECT_EQ(ReverseFxForHide(b), a) << b;
  }
  for (int32_t e : {0, 7, 28, 34, 47, 78, 115, 139}) EXPECT_EQ(ReverseFxForHide(e), e) << e;
}

TEST(FxTable, ConstantsNameEveryEffectOnce) {
  std::map<std::string, double> byName;
  std::set<int32_t> ids;
  int rows = 0;
  for (const qmConstantEntry *c = kFxConstants; c->name; c++, rows++) {
    EXPECT_EQ(c->text, nullptr) << c->name;
    EXPECT_TRUE(byName.emplace(c->name, c->value).second) << "twice: " << c->name;
    ids.insert(int32_t(c->value));
  }
  EXPECT_EQ(rows, 145);
  for (int32_t e = 0; e <= 140; e++) EXPECT_EQ(ids.count(e), e == FX_UNUSED ? 0u : 1u) << e;
  const std::pair<const char *, double> spot[] = {
      {"HSTRIPES", 0},      {"VBLINDS128", 23}, {"RECTBACKNORTHWEST", 96}, {"SCROLLWEST", 47},
      {"SCROLLSOUTH", 50},  {"PUSHLEFT", 78},   {"CROSSFADE", 115},        {"SUN", 114},
      {"DISSOLVE", 139},    {"RANDOMEFFECT", 140}, {"RANDOMPARAMETER", -1},
  };
  for (auto [name, value] : spot) EXPECT_EQ(byName[name], value) << name;
}

}  // namespace

// The paths of moved objects, step by step: every position a move passes is recorded and checked
// against the path's rule written out here (straight steps, overshoot turning points, the wave
// and arc formulas).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "runtime/errcodes.h"
#include "layers/move.h"

namespace {

struct Point {
  int32_t x, y;
  bool operator==(const Point &o) const { return x == o.x && y == o.y; }
};

// Every position of a move of a width x height object, the last one where it ended.
std::vector<Point> Walk(uint32_t path, int32_t speed, int32_t width, int32_t height, int32_t x1, int32_t y1,
                        int32_t x2, int32_t y2, int32_t pictureHeight = 480) {
  qmMove m{};
  m.path = path;
  m.speed = m.baseSpeed = speed;
  m.width = width, m.height = height;
  SetupMovePath(&m, x1, y1, x2, y2, pictureHeight);
  std::vector<Point> steps;
  for (int32_t done = 0; !done && steps.size() < 100000;) {
    AdvanceMovePath(&m, &done);
    steps.push_back({m.x, m.y});
  }
  return steps;
}

// The positions where the x motion turns back, and the end.
std::vector<int32_t> TurningPoints(const std::vector<Point> &steps) {
  std::vector<int32_t> turns;
  for (size_t i = 1; i + 1 < steps.size(); i++) {
    const int64_t before = steps[i].x - steps[i - 1].x, after = steps[i + 1].x - steps[i].x;
    if ((before > 0 && after < 0) || (before < 0 && after > 0)) turns.push_back(steps[i].x);
  }
  turns.push_back(steps.back().x);
  return turns;
}

TEST(MovePath, StraightSteps) {
  struct Case {
    const char *name;
    int32_t width, height, x1, y1, x2, y2, speed;
    std::vector<Point> steps;
  } cases[] = {
      {"right at 10", 8, 8, 0, 0, 100, 0, 10,
       {{10, 0}, {20, 0}, {30, 0}, {40, 0}, {50, 0}, {60, 0}, {70, 0}, {80, 0}, {90, 0}, {100, 0}}},
      {"left, the last step cut", 8, 8, 25, 3, 0, 3, 10, {{15, 3}, {5, 3}, {0, 3}}},
      {"up", 8, 8, 4, 30, 4, 0, 15, {{4, 15}, {4, 0}}},
      // Wider than tall: x takes the speed, y the share of the steps and the spare pixels first.
      {"wide diagonal", 100, 20, 0, 0, 95, 32, 10,
       {{10, 4}, {20, 8}, {30, 11}, {40, 14}, {50, 17}, {60, 20}, {70, 23}, {80, 26}, {90, 29}, {95, 32}}},
      // Taller than wide: y takes the speed, x the share (here 0) and one spare pixel a step.
      {"tall diagonal", 4, 20, 10, 0, 7, 40, 10, {{9, 10}, {8, 20}, {7, 30}, {7, 40}}},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Walk(MOVEPATH_LINE, c.speed, c.width, c.height, c.x1, c.y1, c.x2, c.y2), c.steps) << c.name;
}

TEST(MovePath, OvershootsTurnAtTheirMultiplesAndEndExactly) {
  // BOUNCE to 200 at 10: past by 16, back to 8 short, then 4, 2, 1 base steps, and home.
  EXPECT_EQ(TurningPoints(Walk(MOVEPATH_BOUNCE, 10, 8, 8, 0, 50, 200, 50)),
            (std::vector<int32_t>{360, 120, 240, 180, 210, 200}));
  // Leftward it mirrors.
  EXPECT_EQ(TurningPoints(Walk(MOVEPATH_BOUNCE, 10, 8, 8, 400, 50, 200, 50)),
            (std::vector<int32_t>{40, 280, 160, 220, 190, 200}));
  // DAMPED: one swing of 8 base steps past the target, then home.
  EXPECT_EQ(TurningPoints(Walk(MOVEPATH_DAMPED, 10, 8, 8, 0, 0, 200, 0)), (std::vector<int32_t>{280, 200}));
  // Speeds that do not divide the distances still end on the target.
  for (uint32_t path : {MOVEPATH_BOUNCE, MOVEPATH_DAMPED, MOVEPATH_SMOOTHOUT})
    for (int32_t speed : {1, 3, 7, 13, 64}) {
      const std::vector<Point> steps = Walk(path, speed, 10, 6, 3, 91, 287, 17);
      ASSERT_LT(steps.size(), 100000u) << "path " << path << " speed " << speed;
      EXPECT_EQ(steps.back(), (Point{287, 17})) << "path " << path << " speed " << speed;
    }
  // Vertical bounces swing on y.
  const std::vector<Point> down = Walk(MOVEPATH_BOUNCE, 10, 8, 8, 5, 0, 5, 100);
  int32_t deepest = 0;
  for (const Point &p : down) {
    deepest = std::max(deepest, p.y);
    EXPECT_EQ(p.x, 5);
  }
  EXPECT_EQ(deepest, 260);
}

TEST(MovePath, SmoothOutSlowsInTheLastSixSteps) {
  // Zone 60 before the target; inside it the step falls by 1 (a tenth of 10) down to 1.
  const std::vector<Point> steps = Walk(MOVEPATH_SMOOTHOUT, 10, 8, 8, 0, 0, 100, 0);
  std::vector<int32_t> xs;
  for (const Point &p : steps) xs.push_back(p.x);
  EXPECT_EQ(xs, (std::vector<int32_t>{10, 20, 30, 40, 50, 59, 67, 74, 80, 85, 89, 92, 94, 95, 96, 97, 98, 99, 100}));
}

TEST(MovePath, WavesAndArcsFollowTheirFormulas) {
  struct Case {
    const char *name;
    uint32_t path;
    int32_t speed, x1, y1, x2;
    double amplitude;
  } sines[] = {
      {"sine right", MOVEPATH_SINE, 10, 0, 200, 300, 50},
      {"sine left, wave step 3", MOVEPATH_SINE, 12, 500, 100, 20, 50},
      {"big sine over 300 rows", MOVEPATH_BIGSINE, 8, 0, 150, 100, 150},
      // 79 steps of wave step 1: a whole number of turns, so the wave starts at its first entry.
      {"whole turns", MOVEPATH_SINE, 4, 0, 60, 316, 50},
  };
  for (const Case &c : sines) {
    const std::vector<Point> steps = Walk(c.path, c.speed, 8, 8, c.x1, c.y1, c.x2, c.y1, 300);
    const int64_t n = (std::abs(c.x2 - c.x1) + c.speed - 1) / c.speed, wave = std::max(c.speed / 4, 1);
    int64_t k = (79 - (n * wave) % 79) % 79;
    ASSERT_EQ(int64_t(steps.size()), n + 1) << c.name << ": one step per speed, then the end";
    for (int64_t i = 0; i < n; i++) {
      const int32_t y = int32_t(std::trunc(c.y1 + c.amplitude * std::sin(0.08 * double(k + 1))));
      EXPECT_EQ(steps[size_t(i)].y, y) << c.name << " step " << i;
      k = (k + wave) % 79;
    }
    EXPECT_EQ(steps.back(), (Point{c.x2, c.y1})) << c.name;
  }
  for (uint32_t path : {MOVEPATH_LOWERCURVE, MOVEPATH_UPPERCURVE}) {
    const std::vector<Point> steps = Walk(path, 10, 8, 8, 0, 200, 95, 200);
    ASSERT_EQ(steps.size(), 10u);
    for (size_t i = 0; i + 1 < steps.size(); i++) {
      const double travelled = 10.0 * double(i + 1);
      const int32_t offset = int32_t(std::trunc(std::sin((travelled + 1) * M_PI / 95) * 150));
      EXPECT_EQ(steps[i].y, path == MOVEPATH_LOWERCURVE ? 200 + offset : 200 - offset) << path << " step " << i;
    }
    EXPECT_EQ(steps.back(), (Point{95, 200}));
  }
  // Effect paths of horizontal moves only: a diagonal sine is a straight line.
  EXPECT_EQ(Walk(MOVEPATH_SINE, 10, 8, 8, 0, 0, 20, 20), (std::vector<Point>{{10, 10}, {20, 20}}));
}

TEST(MovePath, SpeedsAndFrameDelays) {
  struct Case {
    int32_t option;
    uint32_t code;
    int32_t speed, delay;
  } cases[] = {
      {-1, 0, 10, 60}, {-2, 0, 15, 0}, {-3, 0, 5, 160}, {-4, ERR_WRONGUSAGE, 0, 60},
      {-9, ERR_WRONGUSAGE, 0, 0}, {0, ERR_WRONGUSAGE, 0, 0}, {5, 0, 5, 100}, {1, 0, 1, 20},
  };
  for (const Case &c : cases) {
    int32_t speed = 0;
    EXPECT_EQ(ResolveMoveSpeed(c.option, &speed), c.code) << c.option;
    if (!c.code) {
      EXPECT_EQ(speed, c.speed) << c.option;
    }
    EXPECT_EQ(ResolveFrameDelay(c.option), c.delay) << c.option;
  }
}

}  // namespace

namespace {

// What a viewer sees of a move of a w x h object in a view of viewW x viewH: the positions of
// the steps that show the object or take it away (the others draw nothing), and where it ended.
struct Seen {
  std::vector<Point> shown;
  Point end;
  int64_t frames;
};

bool Visible(const Point &p, int32_t w, int32_t h, int64_t viewW, int64_t viewH) {
  return int64_t(p.x) + w > 0 && p.x < viewW && int64_t(p.y) + h > 0 && p.y < viewH;
}

// skip: the hidden steps are taken at once before each drawn step, as a running move does.
Seen Watch(uint32_t path, int32_t speed, int32_t w, int32_t h, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
           int64_t viewW, int64_t viewH, bool skip) {
  qmMove m{};
  m.path = path;
  m.speed = m.baseSpeed = speed;
  m.width = w, m.height = h;
  SetupMovePath(&m, x1, y1, x2, y2, int32_t(viewH));
  Seen seen{{}, {}, 0};
  Point last{x1, y1};
  for (int32_t done = 0; !done && seen.frames < 50000000;) {
    if (skip && SkipHiddenSteps(&m, viewW, viewH, 0) > 0) last = {m.x, m.y};
    AdvanceMovePath(&m, &done);
    seen.frames++;
    const Point now{m.x, m.y};
    if (Visible(now, w, h, viewW, viewH) || Visible(last, w, h, viewW, viewH)) seen.shown.push_back(now);
    last = now;
  }
  seen.end = {m.x, m.y};
  return seen;
}

// Paths that spend most of their steps outside a 64 x 48 view: skipping the hidden steps shows
// exactly what stepping through all of them shows, and ends where it does, in a number of
// frames bounded by the view (checked against every step taken one by one).
TEST(MovePath, HiddenStepsAreSkippedWithoutChangingWhatIsSeen) {
  struct Case {
    const char *name;
    uint32_t path;
    int32_t speed, w, h, x1, y1, x2, y2;
  } cases[] = {
      {"line across from far left", MOVEPATH_LINE, 1, 8, 6, -400000, 10, 400000, 10},
      {"line leaving to the left", MOVEPATH_LINE, 3, 8, 6, 30, 20, -900000, 20},
      {"line up from far below", MOVEPATH_LINE, 2, 8, 6, 5, 700000, 5, -700000},
      {"line never seen", MOVEPATH_LINE, 1, 8, 6, -500000, -100, 500000, -100},
      {"wide diagonal through a corner", MOVEPATH_LINE, 7, 20, 6, -300000, -100000, 300000, 100000},
      {"tall diagonal, spare pixels on x", MOVEPATH_LINE, 5, 6, 20, -123457, -300000, 123457, 300000},
      {"wide diagonal, spare pixels on y", MOVEPATH_LINE, 9, 30, 4, 500000, 17, -500000, 39},
      {"bounce at the view", MOVEPATH_BOUNCE, 1000, 8, 6, -3000000, 10, 20, 10},
      {"bounce far off, swings through", MOVEPATH_BOUNCE, 3000, 8, 6, 900000, 10, -20000, 10},
      {"bounce upward", MOVEPATH_BOUNCE, 500, 8, 6, 10, 300000, 10, 30},
      {"damped into view", MOVEPATH_DAMPED, 7, 8, 6, -700000, 20, 40, 20},
      {"damped diagonal", MOVEPATH_DAMPED, 11, 8, 6, -70000, -50000, 30, 20},
      {"smoothout into view", MOVEPATH_SMOOTHOUT, 9, 8, 6, -800000, 5, 30, 5},
      {"smoothout zone off the view", MOVEPATH_SMOOTHOUT, 5000, 8, 6, 0, 5, 900000, 5},
      {"smoothout diagonal", MOVEPATH_SMOOTHOUT, 13, 8, 6, -100000, -80000, 20, 30},
      {"sine through the view", MOVEPATH_SINE, 3, 8, 6, -300000, 20, 300000, 20},
      {"sine, long wave step", MOVEPATH_SINE, 401, 8, 6, 2000000, 20, -2000000, 20},
      {"sine band never seen", MOVEPATH_SINE, 2, 8, 6, -200000, 500, 200000, 500},
      {"big sine", MOVEPATH_BIGSINE, 4, 8, 6, -300000, 30, 300000, 30},
      {"lower curve", MOVEPATH_LOWERCURVE, 3, 8, 6, -300000, -100, 300000, -100},
      {"upper curve leftward", MOVEPATH_UPPERCURVE, 2, 8, 6, 300000, 180, -300000, 180},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const Seen all = Watch(c.path, c.speed, c.w, c.h, c.x1, c.y1, c.x2, c.y2, 64, 48, false);
    const Seen fast = Watch(c.path, c.speed, c.w, c.h, c.x1, c.y1, c.x2, c.y2, 64, 48, true);
    EXPECT_EQ(fast.shown, all.shown);
    EXPECT_EQ(fast.end, all.end);
    EXPECT_EQ(fast.end, (Point{c.x2, c.y2}));
    EXPECT_LT(fast.frames, int64_t(all.shown.size()) + 40) << "of " << all.frames << " steps";
  }
}

// Coordinates at the limits and the fastest speed: every path ends on its target, in few frames,
// with no arithmetic leaving 64 bits (the sanitizers watch it).
TEST(MovePath, PathsAtTheCoordinateLimitsEnd) {
  constexpr int32_t kMax = INT32_MAX, kMin = INT32_MIN;
  struct Ends {
    int32_t x1, y1, x2, y2;
  } ends[] = {
      {0, 0, kMax, 0}, {kMax, 10, kMin, 10}, {kMin, kMin, kMax, kMax}, {kMax, kMax, kMin, kMin},
      {10, kMin, 10, kMax}, {kMin, 20, 30, 20}, {kMax, kMin, 0, 0}, {kMin + 1, 5, kMax - 1, 5},
  };
  for (uint32_t path = 0; path <= 8; path++)
    for (const Ends &e : ends)
      for (int32_t speed : {1, 10, 317, kMax})
        for (bool wide : {false, true}) {
          SCOPED_TRACE(testing::Message() << "path " << path << " speed " << speed << " from " << e.x1 << ","
                                          << e.y1 << " to " << e.x2 << "," << e.y2 << (wide ? " wide" : " tall"));
          qmMove m{};
          m.path = path;
          m.speed = m.baseSpeed = speed;
          m.width = wide ? 30 : 6, m.height = wide ? 6 : 30;
          SetupMovePath(&m, e.x1, e.y1, e.x2, e.y2, 480);
          int64_t frames = 0;
          for (int32_t done = 0; !done && frames < 200000; frames++) {
            SkipHiddenSteps(&m, 640, 480, 0);
            AdvanceMovePath(&m, &done);
          }
          ASSERT_LT(frames, 200000);
          EXPECT_EQ(m.x, e.x2);
          EXPECT_EQ(m.y, e.y2);
        }
}

}  // namespace

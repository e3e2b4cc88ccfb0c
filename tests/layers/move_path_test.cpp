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

// The piece reveals' geometry frame by frame, on a display without a window: what one frame draws
// (the display's picture set back to the old one before it) and what is shown so far, against the
// effects' rules worked out by hand; the puzzle's order against the rule it is drawn by.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "graphics/blit.h"
#include "runtime/errcodes.h"
#include "tests/transitions/fx_stage.h"

namespace {

using Where = std::function<bool(int x, int y)>;

struct Reveal : FxStage {
  using FxStage::FxStage;

  uint32_t Pixel(const qmBitmap *b, int x, int y) const { return b->pixels[y * (b->bytesPerRow / 4) + x]; }
  bool IsNew(int x, int y) const { return Pixel(display->backgroundCopy, x, y) == Pixel(newPicture, x, y); }
  // Where the new picture shows, row by row.
  std::vector<bool> Shown() const {
    std::vector<bool> shown;
    for (int y = 0; y < fx.height; y++)
      for (int x = 0; x < fx.width; x++) shown.push_back(IsNew(x, y));
    return shown;
  }
  void ShowOld() { BltBitmap(oldPicture, 0, 0, display->backgroundCopy, 0, 0, fx.width, fx.height); }
  // Empty when the new picture shows exactly where want says; else the first pixel that differs.
  std::string Differs(const Where &want) const {
    for (int y = 0; y < fx.height; y++)
      for (int x = 0; x < fx.width; x++) {
        if (IsNew(x, y) == want(x, y)) continue;
        return std::to_string(x) + "," + std::to_string(y) + (IsNew(x, y) ? " is new" : " is old");
      }
    return {};
  }
  // Runs the frames until done (at most limit), each from the old picture when fresh; look sees
  // every frame (1 first). The frames run.
  int Play(bool fresh, const std::function<void(int frame, bool done)> &look, int limit = 100000) {
    ShowOld();
    for (int frame = 1; frame <= limit; frame++) {
      if (fresh) ShowOld();
      const bool done = Step() != 0;
      look(frame, done);
      if (done) return frame;
    }
    return limit + 1;
  }
};

TEST(PieceReveals, FramesDrawTheirPieces) {
  // What frame k draws over the old picture, with the effect's frame count; sizes and positions
  // worked out from each effect's rules.
  struct Row {
    const char *name;
    int32_t effect;
    int w, h;
    int32_t speed;
    int frames;  // 0: not checked here
    int frame;
    Where drawn;
  };
  auto band = [](int v, int from, int to) { return v >= from && v < to; };
  const Row rows[] = {
      {"REVEALLEFT on 100 columns at 9: the first strip", 30, 100, 8, 9, 10, 1, [&](int x, int) { return x < 10; }},
      {"REVEALLEFT: the ninth strip at 80", 30, 100, 8, 9, 10, 9, [&](int x, int) { return band(x, 80, 90); }},
      {"REVEALLEFT: the last strip pulled back to 90", 30, 100, 8, 9, 10, 10, [&](int x, int) { return x >= 90; }},
      {"REVEALRIGHT on 100 columns at 9: the first strip", 31, 100, 8, 9, 10, 1, [&](int x, int) { return x >= 90; }},
      {"REVEALRIGHT: the last strip ends at column 0", 31, 100, 8, 9, 10, 10, [&](int x, int) { return x < 10; }},
      {"REVEALLEFT above half the width: strips of 2", 30, 20, 8, 15, 10, 1, [&](int x, int) { return x < 2; }},
      {"REVEALTOP above half the height: strips of half + 1", 32, 8, 20, 15, 2, 1, [&](int, int y) { return y < 11; }},
      {"REVEALBOTTOM at 4 on 20 rows: the first strip", 33, 8, 20, 4, 4, 1, [&](int, int y) { return y >= 15; }},
      {"VLINES on 4 columns: column 0", 37, 4, 3, -1, 5, 1, [&](int x, int) { return x == 0; }},
      {"VLINES: column 2", 37, 4, 3, -1, 5, 2, [&](int x, int) { return x == 2; }},
      {"VLINES: column 3", 37, 4, 3, -1, 5, 3, [&](int x, int) { return x == 3; }},
      {"VLINES: column 3 again", 37, 4, 3, -1, 5, 4, [&](int x, int) { return x == 3; }},
      {"VLINES: column 1 last", 37, 4, 3, -1, 5, 5, [&](int x, int) { return x == 1; }},
      {"HLINES on 5 rows: the odd pass starts at row 4 again", 36, 3, 5, -1, 6, 4, [&](int, int y) { return y == 4; }},
      {"HLINES: row 1 last", 36, 3, 5, -1, 6, 6, [&](int, int y) { return y == 1; }},
      {"VLINES2 on 5 columns: 0 and 3", 34, 5, 3, -1, 4, 1, [&](int x, int) { return x == 0 || x == 3; }},
      {"VLINES2: 2 and 1", 34, 5, 3, -1, 4, 2, [&](int x, int) { return x == 2 || x == 1; }},
      {"VLINES2: 4 and 0", 34, 5, 3, -1, 4, 3, [&](int x, int) { return x == 4 || x == 0; }},
      {"VLINES2: 4 and 0 again", 34, 5, 3, -1, 4, 4, [&](int x, int) { return x == 4 || x == 0; }},
      {"HLINES2 on 4 rows: 0 and 3", 35, 3, 4, -1, 3, 1, [&](int, int y) { return y == 0 || y == 3; }},
      {"VSPLIT on 640x480 at 30: rows 120-149 and 360-389", 109, 640, 480, 30, 5, 1,
       [&](int, int y) { return band(y, 120, 150) || band(y, 360, 390); }},
      {"VSPLIT: the last frame shows the whole", 109, 640, 480, 30, 5, 5, [&](int, int) { return true; }},
      {"HSPLIT on 640x480 at 30: columns 160-189 and 480-509", 108, 640, 480, 30, 7, 1,
       [&](int x, int) { return band(x, 160, 190) || band(x, 480, 510); }},
      {"HSPLIT on 41 columns at 3: the second half starts at 21", 108, 41, 6, 3, 5, 2,
       [&](int x, int) { return band(x, 7, 10) || band(x, 13, 16) || band(x, 28, 31) || band(x, 34, 37); }},
      {"RECTCENTER on 640x480 at 100: 100x76 in the middle", 38, 640, 480, 100, 7, 1,
       [&](int x, int y) { return band(x, 270, 370) && band(y, 202, 278); }},
      {"RECTCENTER at 99: odd margins grow the rectangle by one", 38, 640, 480, 99, 7, 1,
       [&](int x, int y) { return band(x, 270, 370) && band(y, 202, 278); }},
      {"RECTCENTER at 100: the second ring", 38, 640, 480, 100, 7, 2,
       [&](int x, int y) { return band(x, 220, 420) && band(y, 164, 316) && !(band(x, 270, 370) && band(y, 202, 278)); }},
      {"RECTCENTER: the last frame draws all outside the rectangle two steps back", 38, 640, 480, 100, 7, 7,
       [&](int x, int y) { return !(band(x, 70, 570) && band(y, 52, 428)); }},
      {"RECTNORTHWEST keeps the top-left corner", 46, 640, 480, 100, 7, 1, [&](int x, int y) { return x < 100 && y < 76; }},
      {"RECTSOUTHEAST keeps the bottom-right corner", 42, 640, 480, 100, 7, 1,
       [&](int x, int y) { return x >= 540 && y >= 404; }},
      {"RECTEAST keeps the right edge's middle", 41, 640, 480, 100, 7, 1,
       [&](int x, int y) { return x >= 540 && band(y, 202, 278); }},
      {"RECTCENTER above a quarter of the longer side: step 1", 38, 40, 20, 11, 40, 1,
       [&](int x, int y) { return band(x, 19, 21) && band(y, 9, 11); }},
      {"RECTBACKSOUTHEAST: the covered part stays at the top left", 92, 640, 480, 100, 7, 1,
       [&](int x, int y) { return x >= 540 || y >= 406; }},
      {"RECTBACKCENTER: the covered part shrinks to the middle", 88, 640, 480, 100, 7, 1,
       [&](int x, int y) { return !(band(x, 50, 590) && band(y, 37, 443)); }},
      {"RECTBACKNORTH: the covered part keeps the bottom edge's middle", 89, 640, 480, 100, 7, 2,
       [&](int x, int y) { return band(x, 50, 590) && y >= 74 && !(band(x, 100, 540) && y >= 149); }},
      {"DIAGONAL at 10 on 40x30: the third frame's staircase", 83, 40, 30, 10, 7, 3,
       [&](int x, int y) { return x / 10 + y / 10 == 2; }},
      {"DIAGONAL above a quarter of the width: 1-pixel tiles", 83, 40, 30, 11, 70, 2,
       [&](int x, int y) { return x + y == 1; }},
      {"SPIRAL on 640x480: a 92-column block first", 105, 640, 480, FX_NORMALSPEED, 368, 1,
       [&](int x, int y) { return x >= 548 && y < 10; }},
      {"SPIRAL: the first side's last block is one row", 105, 640, 480, FX_NORMALSPEED, 368, 49,
       [&](int x, int y) { return x >= 548 && y == 479; }},
      {"SPIRAL: then left along an 81-row band", 105, 640, 480, FX_NORMALSPEED, 368, 50,
       [&](int x, int y) { return band(x, 538, 548) && y >= 399; }},
      {"SPIRAL: the last side ends at x 364", 105, 640, 480, FX_NORMALSPEED, 368, 368,
       [&](int x, int y) { return band(x, 364, 374) && band(y, 162, 243); }},
      {"SPIRAL at DEFAULTSPEED: one row a frame", 105, 70, 60, FX_DEFAULTSPEED, 0, 1,
       [&](int x, int y) { return x >= 59 && y < 1; }},
      {"SPIRAL at 0: one row a frame", 105, 70, 60, 0, 0, 1, [&](int x, int y) { return x >= 59 && y < 1; }},
      {"SPIRAL above 30: 30 rows a frame", 105, 70, 60, 50, 0, 1, [&](int x, int y) { return x >= 59 && y < 30; }},
      {"SWISS on 64x40 at 4: four 4x3 corners", 106, 64, 40, 4, 8, 1,
       [&](int x, int y) { return (x < 4 || x >= 60) && (y < 3 || y >= 37); }},
      {"SWISS: half the longer side shows the whole", 106, 64, 40, 4, 8, 8, [&](int, int) { return true; }},
      {"HSTRIPES8 on 100x40 at 10: bands 0, 2, 4 from the left, 1 and 3 from the right", 3, 100, 40, 10, 10, 1,
       [&](int x, int y) { return (y / 8) % 2 == 0 ? x < 10 : x >= 90; }},
      {"VBLINDS16 on 100 columns at 4: six whole slats and the seventh's 4 columns at 96", 20, 100, 8, 4, 4, 1,
       [&](int x, int) { return x % 16 < 4; }},
      {"HCLOSECURTAIN at 1000 on 200 rows: a step above half is 1, two rows a frame", 27, 8, 200, 1000, 51, 1,
       [&](int, int y) { return y < 2 || y >= 198; }},
      {"BARS at 3 on 40x20: the first column of each cell and the leftover 8 whole", 28, 40, 20, 3, 7, 1,
       [&](int x, int) { return x == 0 || x == 16 || x >= 32; }},
      {"BARS at 3 on 200x100: as many frames whatever the size", 28, 200, 100, 3, 7, 1,
       [&](int x, int) { return x % 16 == 0 || x >= 192; }},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    Reveal run(r.w, r.h, r.effect, r.speed);
    ASSERT_EQ(run.initCode, 0u);
    std::string differs = "frame not reached";
    const int frames = run.Play(true, [&](int frame, bool) {
      if (frame == r.frame) differs = run.Differs(r.drawn);
    });
    EXPECT_EQ(differs, "");
    EXPECT_EQ(frames, run.fx.stepCount) << "the frame count is the frames run";
    if (r.frames) {
      EXPECT_EQ(frames, r.frames);
    }
  }
}

TEST(PieceReveals, StripeBandsFollowTheParameter) {
  // HSTRIPES on 30x24 at 10, frame 1: the even bands' first 10 columns, the odd bands' last 10.
  struct Row {
    int32_t parameter;
    int band;  // the thickness the bands take
  };
  for (const Row &r : {Row{5, 5}, Row{0, 1}, Row{-5, 1}, Row{24, 24}, Row{2147483647, 24}}) {
    SCOPED_TRACE(r.parameter);
    Reveal run(30, 24, FX_HSTRIPES, 10, r.parameter);
    ASSERT_EQ(run.initCode, 0u);
    std::string differs = "frame not reached";
    run.Play(true, [&](int frame, bool) {
      if (frame == 1) differs = run.Differs([&](int x, int y) { return (y / r.band) % 2 == 0 ? x < 10 : x >= 20; });
    });
    EXPECT_EQ(differs, "");
  }
}

// The rectangle of position p that keeps the area's proportions, as the wipes define it.
void RectOf(int w, int h, int p, int *rw, int *rh) {
  const int across = std::max(1, int(p * (double(std::min(w, h)) / std::max(w, h)) + 1.0));
  *rw = w >= h ? p : across;
  *rh = w >= h ? across : p;
}

TEST(PieceReveals, RectanglesGrowAndShrinkWhole) {
  // After each frame but the last the new picture shows exactly a rectangle: the growing one at
  // its anchor (centred ones made one larger where their margins differ), or everything but the
  // covered one at the opposite anchor. The last frame shows all.
  const int anchorX[9] = {1, 1, 2, 2, 2, 1, 0, 0, 0}, anchorY[9] = {1, 0, 0, 1, 2, 2, 2, 1, 0};
  auto place = [](int anchor, int outer, int size) { return anchor == 0 ? 0 : anchor == 2 ? outer - size : (outer - size) / 2; };
  for (int32_t effect : {38, 39, 40, 41, 42, 43, 44, 45, 46, 88, 89, 90, 91, 92, 93, 94, 95, 96})
    for (auto [w, h] : {std::pair{37, 23}, std::pair{40, 24}, std::pair{23, 37}, std::pair{24, 40}})
      for (int32_t speed : {int32_t(FX_NORMALSPEED), 3}) {
        SCOPED_TRACE(testing::Message() << "effect " << effect << " on " << w << "x" << h << " at " << speed);
        Reveal run(w, h, effect, speed);
        const bool back = effect >= FX_RECTBACKCENTER;
        const int dir = effect - (back ? FX_RECTBACKCENTER : FX_RECTCENTER), step = run.fx.step, l = std::max(w, h);
        run.Play(false, [&](int k, bool done) {
          if (done) {
            EXPECT_EQ(run.Differs([](int, int) { return true; }), "") << "the last frame";
            return;
          }
          int rw = 0, rh = 0, rx = 0, ry = 0;
          if (!back) {
            RectOf(w, h, k * step, &rw, &rh);
            rx = place(anchorX[dir], w, rw);
            ry = place(anchorY[dir], h, rh);
            if (anchorX[dir] == 1 && (w - rw) % 2) rw++;
            if (anchorY[dir] == 1 && (h - rh) % 2) rh++;
          } else {
            RectOf(w, h, l - k * step, &rw, &rh);
            rx = place(2 - anchorX[dir], w, rw);
            ry = place(2 - anchorY[dir], h, rh);
          }
          const bool inside = !back;
          EXPECT_EQ(run.Differs([&](int x, int y) { return (x >= rx && x < rx + rw && y >= ry && y < ry + rh) == inside; }), "")
              << "frame " << k;
        });
      }
}

// The puzzle's order by its rule, probing one slot at a time: the slot drawn, else down to the
// nearest free one, else up from the slot drawn.
std::vector<int32_t> PuzzleOrderByProbing(int32_t n) {
  std::vector<int32_t> order;
  std::vector<bool> taken(size_t(n), false);
  for (int32_t i = 0; i < n; i++) {
    const int32_t drawn = int32_t(n * drand48());
    int32_t c = drawn;
    while (taken[size_t(c)] && c > 0) c--;
    if (taken[size_t(c)])
      for (c = drawn; taken[size_t(c)];) c++;
    taken[size_t(c)] = true;
    order.push_back(c);
  }
  return order;
}

TEST(PieceReveals, PuzzleOrderFollowsItsRule) {
  // 12513 is the count of 5-pixel tiles on 640x480.
  for (int32_t n : {1, 2, 3, 40, 1271, 12513})
    for (long seed : {1L, 77L}) {
      SCOPED_TRACE(testing::Message() << n << " tiles, seed " << seed);
      srand48(seed);
      std::vector<int32_t> order(size_t(n), 0);
      ASSERT_EQ(DrawPuzzleOrder(order.data(), n), 0u);
      srand48(seed);
      EXPECT_EQ(order, PuzzleOrderByProbing(n));
      std::vector<int32_t> sorted = order;
      std::sort(sorted.begin(), sorted.end());
      for (int32_t i = 0; i < n; i++) ASSERT_EQ(sorted[size_t(i)], i);
    }
}

TEST(PieceReveals, PuzzleShowsATileAFrameInItsOrder) {
  // 37x23 at 5: 8 columns and 5 rows of tiles, the last ones cut; each frame draws tile
  // order[frame - 1] and nothing else, and the 40 frames show everything.
  srand48(5);
  const std::vector<int32_t> order = PuzzleOrderByProbing(40);
  srand48(5);
  Reveal run(37, 23, 82, 5);
  ASSERT_EQ(run.fx.step, 5);
  std::vector<bool> shown(size_t(37) * 23, false);
  const int frames = run.Play(true, [&](int frame, bool) {
    const int t = order[size_t(frame) - 1], tx = 5 * (t % 8), ty = 5 * (t / 8);
    EXPECT_EQ(run.Differs([&](int x, int y) { return x >= tx && x < tx + 5 && y >= ty && y < ty + 5; }), "")
        << "frame " << frame;
    for (int y = 0; y < 23; y++)
      for (int x = 0; x < 37; x++)
        if (run.IsNew(x, y)) shown[size_t(y) * 37 + x] = true;
  });
  EXPECT_EQ(frames, 40);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), false), 0);

  struct Row {
    int w;
    int32_t speed, tile;
  };
  for (const Row &r : {Row{640, FX_NORMALSPEED, 32}, Row{640, FX_SLOWSPEED, 21}, Row{640, 3, 5}, Row{60, FX_FASTSPEED, 6}}) {
    Reveal sized(r.w, 30, 82, r.speed);
    EXPECT_EQ(sized.fx.step, r.tile) << r.w << " at " << r.speed;
    EXPECT_EQ(sized.fx.stepCount, (r.w / r.tile + 1) * (30 / r.tile + 1));
  }
}

TEST(PieceReveals, QuadrantsComeInPairsAndMeetAtTheMiddle) {
  // At 3 a frame the first pair (top left, bottom right) fills its quadrants on the frame whose
  // position reaches half the longer side; later frames draw only in the other pair. Quadrants of
  // an odd size leave the middle line to the last frame.
  struct Row {
    int w, h;
    int switchFrame;
  };
  for (const Row &r : {Row{41, 25, 7}, Row{40, 24, 7}, Row{25, 41, 7}}) {
    SCOPED_TRACE(testing::Message() << r.w << "x" << r.h);
    const int hw = r.w / 2, hh = r.h / 2, right = hw + r.w % 2, lower = hh + r.h % 2;
    auto in = [](int v, int from, int size) { return v >= from && v < from + size; };
    auto firstPair = [&](int x, int y) { return (in(x, 0, hw) && in(y, 0, hh)) || (in(x, right, hw) && in(y, lower, hh)); };
    auto secondPair = [&](int x, int y) { return (in(x, right, hw) && in(y, 0, hh)) || (in(x, 0, hw) && in(y, lower, hh)); };
    Reveal run(r.w, r.h, 107, 3);
    Reveal fresh(r.w, r.h, 107, 3);
    fresh.Play(true, [&](int frame, bool done) {
      if (done) return;
      const Where allowed = frame <= r.switchFrame ? Where(firstPair) : Where(secondPair);
      EXPECT_EQ(fresh.Differs([&](int x, int y) { return fresh.IsNew(x, y) && allowed(x, y); }), "") << "frame " << frame;
    });
    run.Play(false, [&](int frame, bool done) {
      if (frame == r.switchFrame) {
        EXPECT_EQ(run.Differs(firstPair), "") << "the first pair whole";
      }
      if (done) {
        EXPECT_EQ(run.Differs([](int, int) { return true; }), "");
      }
    });
  }
}

TEST(PieceReveals, TinyAreasStillEndWhole) {
  // Areas of one row or column (and barely more): every frame moves on, and the last one leaves
  // the whole new picture.
  const int32_t effects[] = {30, 31, 32, 33, 34, 35, 36, 37, 38, 42, 46, 88, 92, 96, 82, 83, 105, 106, 107, 108, 109};
  for (int32_t effect : effects)
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 6}, std::pair{6, 1}, std::pair{2, 3}})
      for (int32_t speed : {int32_t(FX_NORMALSPEED), 1, 1000}) {
        SCOPED_TRACE(testing::Message() << "effect " << effect << " on " << w << "x" << h << " at " << speed);
        Reveal run(w, h, effect, speed);
        ASSERT_EQ(run.initCode, 0u);
        if (effect < FX_VLINES2 || effect > FX_VLINES) {
          EXPECT_GE(run.fx.step, 1) << "the line wipes take no step";
        }
        const int frames = run.Play(false, [](int, bool) {}, 1000);
        EXPECT_EQ(frames, run.fx.stepCount);
        EXPECT_EQ(run.Differs([](int, int) { return true; }), "");
      }
}

TEST(PieceReveals, FramesStartOverAtFrameZero) {
  // A re-render plays the frames again from frame 0: the second run draws what the first drew.
  for (int32_t effect : {30, 33, 34, 37, 40, 94, 82, 83, 105, 106, 107, 109}) {
    SCOPED_TRACE(effect);
    Reveal run(37, 23, effect, 3);
    std::vector<std::vector<bool>> first;
    const int frames = run.Play(true, [&](int, bool) { first.push_back(run.Shown()); });
    run.fx.frameNo = 0;
    size_t i = 0;
    EXPECT_EQ(run.Play(true, [&](int frame, bool) {
      EXPECT_TRUE(i < first.size() && run.Shown() == first[i]) << "frame " << frame;
      i++;
    }), frames);
  }
}

TEST(PieceReveals, APuzzleTooLargeForItsOrderFailsAtInit) {
  // Tiles of 5 pixels over 200000x200000 pixels: more than 2^31 bytes of order.
  Reveal run(1, 1, 82, 5);
  qmFxRequest fx = run.fx;
  fx.fxState = nullptr;
  fx.ownedCount = 0;
  fx.width = fx.height = 200000;
  fx.step = 5;
  fx.phase = FXPHASE_INIT;
  EXPECT_EQ(PuzzleFx(&fx, nullptr), uint32_t(ERR_MEM));
  FreeFxState(&fx, 0);
}

}  // namespace

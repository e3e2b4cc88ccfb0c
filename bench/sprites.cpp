// 1000 sprites of 64x64 with an alpha channel (linked to one sprite that holds the frame, as
// pixman's share one image) shown over a display of 640x480 and of 1920x1080,
// each moved 2 pixels a frame (turning back at the edges): our DisplaySprite's work (the union of
// the old and new place composed anew from the background and every sprite that reaches it, and
// presented), next to pixman doing the same job in the same run with its native formats: the
// background copied (SRC, x8r8g8b8) into the rectangle, every sprite that reaches it composited
// (OVER of its premultiplied a8r8g8b8 copy), and the rectangle's rows copied as a present copies
// them. Before timing, one frame of both is compared: every pixel within 4 per channel (ours
// blends by /256 per layer, pixman by /255, over up to a dozen layers).
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/player_setup.h"
#include "bench/side_by_side.h"
#include "display/display.h"
#include "display/display/displaylib.h"
#include "display/scene.h"
#include "graphics/blit.h"
#include "platform/present.h"
#include "player/libtable.h"
#include "player/startup.h"
#include "player/wiring.h"
#include "runtime/context.h"
#include "runtime/objlist.h"
#include "runtime/rtsupport.h"
#include "runtime/vm/vm_api.h"
#include "layers/sprite.h"

namespace {

constexpr int kCount = 1000, kSide = 64, kStep = 2;
constexpr uint32_t kBackground = 0x203040;

uint32_t SpritePixel(int x, int y) { return (uint32_t(x * 97 + y * 13) << 16 & 0xFF0000) | uint32_t(x ^ y) << 8 | 0x40; }
uint8_t SpriteAlpha(int x, int y) {
  const int dx = x - kSide / 2, dy = y - kSide / 2, r2 = dx * dx + dy * dy;
  return uint8_t(r2 >= 32 * 32 ? 0 : r2 <= 24 * 24 ? 255 : 255 - (r2 - 576) * 255 / 448);
}

struct Place {
  int x, y, dx, dy;
};

// The same walk for both sides: every sprite steps 2 pixels, turning back at the picture's edges.
void StepPlaces(std::vector<Place> &places, int w, int h) {
  for (Place &p : places) {
    if (p.x + p.dx < 0 || p.x + p.dx > w - kSide) p.dx = -p.dx;
    if (p.y + p.dy < 0 || p.y + p.dy > h - kSide) p.dy = -p.dy;
    p.x += p.dx, p.y += p.dy;
  }
}

std::vector<Place> StartPlaces(int w, int h) {
  std::vector<Place> places;
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
  for (int i = 0; i < kCount; i++) {
    const int x = int(next() % uint32_t(w - kSide)), y = int(next() % uint32_t(h - kSide));
    places.push_back({x, y, next() & 1 ? kStep : -kStep, next() & 1 ? kStep : -kStep});
  }
  return places;
}

// Ours: a display of w x h with layers off and the sprites shown at their start.
struct Ours {
  VmState *L = nullptr;
  qmScene *scene = nullptr;
  qmDisplay *display = nullptr;
  std::vector<qmSprite *> sprites;
  std::vector<Place> places;
  int w, h;
  Ours(int w_, int h_) : w(w_), h(h_) {
    if (OpenBenchPlayer(&L)) return;
    static qmDisplay parsed;
    SetDisplayDefaults(&parsed);
    parsed.width = w, parsed.height = h, parsed.fillColor = kBackground;
    qmDisplay *d = nullptr;
    if (CreateDisplayCore(L, &parsed, {1, 0}, &d)) return;
    MakeDisplayCurrent(L, d);
    if (OpenDisplayWindow(L, d, 0)) return;
    scene = GetScene(L);
    FillBitmapRect(d->backgroundCopy, 0, 0, w, h, kBackground);
    qmBitmap *bitmap = AllocBitmap(kSide, kSide);
    qmAlphaChannel *alpha = AllocAlphaChannel(kSide, kSide, 1);
    for (int y = 0; y < kSide; y++)
      for (int x = 0; x < kSide; x++) {
        SetBitmapPixel(bitmap, x, y, SpritePixel(x, y), 0);
        alpha->memory[y * alpha->bytesPerRow + x] = SpriteAlpha(x, y);
      }
    places = StartPlaces(w, h);
    // One sprite holds the frame; the 1000 shown are linked to it, as pixman's share one image.
    qmObjectId sourceId{uint32_t(kCount + 1), 0};
    qmSprite *source = nullptr;
    const uint32_t made = NewSpriteFromPicture(scene->objects, &sourceId, bitmap, nullptr, alpha, kSide, kSide, 0, 0, 1,
                                               1, 0, 0, 0xFFFFFFFFu, &source);
    FreeBitmap(bitmap), FreeAlphaChannel(alpha);
    if (made) return;
    for (int i = 0; i < kCount; i++) {
      qmObjectId id{uint32_t(i + 1), 0};
      qmSprite *s = nullptr;
      if (NewLinkedSprite(scene->objects, &id, &source, 1, &s) ||
          ShowSprite(scene, s, places[size_t(i)].x, places[size_t(i)].y, 1))
        return;
      sprites.push_back(s);
    }
    PushPendingWindowUpdates();
    display = d;
  }
  void Frame() {
    StepPlaces(places, w, h);
    for (size_t i = 0; i < sprites.size(); i++) ShowSprite(scene, sprites[i], places[i].x, places[i].y, 1);
    PushPendingWindowUpdates();
  }
};

// pixman: the same sprites and places, the background kept apart, the picture and what is shown.
struct Peer {
  int w, h;
  std::vector<uint32_t> sprite, background, picture, shown;
  pixman_image_t *src = nullptr, *back = nullptr, *dst = nullptr;
  std::vector<Place> places;
  Peer(int w_, int h_) : w(w_), h(h_) {
    sprite.resize(size_t(kSide) * kSide);
    for (int y = 0; y < kSide; y++)
      for (int x = 0; x < kSide; x++) {
        const uint32_t c = SpritePixel(x, y), a = SpriteAlpha(x, y);
        auto pre = [&](int shift) { return ((c >> shift & 255) * a + 127) / 255 << shift; };
        sprite[size_t(y) * kSide + x] = a << 24 | pre(16) | pre(8) | pre(0);
      }
    background.assign(size_t(w) * h, kBackground);
    picture = background;
    shown = background;
    src = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSide, kSide, sprite.data(), kSide * 4);
    back = pixman_image_create_bits(PIXMAN_x8r8g8b8, w, h, background.data(), w * 4);
    dst = pixman_image_create_bits(PIXMAN_x8r8g8b8, w, h, picture.data(), w * 4);
    places = StartPlaces(w, h);
    pixman_image_composite32(PIXMAN_OP_SRC, back, nullptr, dst, 0, 0, 0, 0, 0, 0, w, h);
    for (const Place &p : places)
      pixman_image_composite32(PIXMAN_OP_OVER, src, nullptr, dst, 0, 0, 0, 0, p.x, p.y, kSide, kSide);
  }
  ~Peer() {
    pixman_image_unref(src), pixman_image_unref(back), pixman_image_unref(dst);
  }
  // The rectangle composed anew from the background and every sprite reaching it, then shown.
  void Refresh(int x0, int y0, int x1, int y1) {
    x0 = std::max(x0, 0), y0 = std::max(y0, 0), x1 = std::min(x1, w), y1 = std::min(y1, h);
    if (x0 >= x1 || y0 >= y1) return;
    pixman_image_composite32(PIXMAN_OP_SRC, back, nullptr, dst, x0, y0, 0, 0, x0, y0, x1 - x0, y1 - y0);
    for (const Place &p : places) {
      const int sx0 = std::max(x0, p.x), sy0 = std::max(y0, p.y);
      const int sx1 = std::min(x1, p.x + kSide), sy1 = std::min(y1, p.y + kSide);
      if (sx0 < sx1 && sy0 < sy1)
        pixman_image_composite32(PIXMAN_OP_OVER, src, nullptr, dst, sx0 - p.x, sy0 - p.y, 0, 0, sx0, sy0, sx1 - sx0,
                                 sy1 - sy0);
    }
    for (int y = y0; y < y1; y++)
      std::memcpy(&shown[size_t(y) * w + x0], &picture[size_t(y) * w + x0], size_t(x1 - x0) * 4);
  }
  void Frame() {
    std::vector<Place> next = places;
    StepPlaces(next, w, h);
    // Moved one at a time, as the script moves them: the later ones still stand where they were.
    for (size_t i = 0; i < places.size(); i++) {
      const Place a = places[i], &b = next[i];
      places[i] = b;
      Refresh(std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x) + kSide, std::max(a.y, b.y) + kSide);
    }
    benchmark::ClobberMemory();
  }
};

void SpritesMoving(benchmark::State &state, int w, int h) {
  Ours ours(w, h);
  if (!ours.display) {
    state.SkipWithError("no display");
    return;
  }
  Peer peer(w, h);
  // Once: a frame of both, compared pixel by pixel.
  ours.Frame();
  peer.Frame();
  int worst = 0;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const uint32_t a = GetBitmapPixel(ours.display->layerBuffer, x, y, 0), b = peer.picture[size_t(y) * w + x];
      for (int shift = 0; shift < 24; shift += 8)
        worst = std::max(worst, std::abs(int(a >> shift & 255) - int(b >> shift & 255)));
    }
  state.counters["max_channel_diff"] = worst;
  if (worst > 4) {
    state.SkipWithError("pixman's picture is not ours");
    return;
  }
  qmSideBySide rounds;
  for (auto _ : state) rounds.Round(state, [&] { ours.Frame(); }, [&] { peer.Frame(); });
  rounds.Report(state, "pixman");
}

}  // namespace

BENCHMARK_CAPTURE(SpritesMoving, 1000x64_640x480, 640, 480)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SpritesMoving, 1000x64_1920x1080, 1920, 1080)->UseManualTime()->Unit(benchmark::kMillisecond);

// Composing a full-HD background picture from its layers (Redraw) next to pixman compositing the
// same pictures at the same places: 10, 100 and 1000 layers of 128 x 128, a quarter each opaque,
// masked, alpha-blended and at transparency 128. Also a frame of 1000 layers moved by the style
// engine next to pixman compositing just the areas that changed.
// Both sides do the same job: ours reads our own planes; pixman reads its own copies of them in
// its native layouts (x8r8g8b8 words, a1 rows of whole words with the first pixel in the lowest
// bit, a8), made once outside the timing, and composites with SRC for the background and opaque
// layers and OVER through the mask, alpha plane or a solid mask of the layer's level. Each peer
// bench first checks once that the two pictures agree: copies and masks exactly, blends within
// 2 per channel (ours divides by 256, pixman by 255).
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "bench/side_by_side.h"
#include "display/bgpic.h"
#include "graphics/bitmap.h"
#include "display/dirtyrects.h"
#include "display/display.h"
#include "display/scene.h"
#include "layers/collision.h"
#include "layers/layer.h"
#include "layers/movelist.h"
#include "layers/redraw.h"
#include "layers/style.h"
#include "platform/memory.h"
#include "runtime/objtypes.h"

namespace {

// The pictures here belong to no run: a scene without object lists or displays.
qmScene gOutside{};

constexpr int kW = 1920, kH = 1080, kSide = 128;

enum Kind { OPAQUE, MASKED, ALPHA, HALF };

struct Scene {
  qmBGPic pic{};
  qmBitmap *dst = nullptr;
  struct Entry {
    Kind kind;
    int x, y;
    qmLayer *layer;
  };
  std::vector<Entry> entries;

  // alphaOnly: every layer alpha-blended, else a quarter of each kind.
  explicit Scene(int count, int side = kSide, bool alphaOnly = false) {
    pic.shown.bitmap = AllocBitmap(kW, kH);
    pic.unscaled = pic.shown;
    pic.shownWidth = pic.unscaledWidth = kW;
    pic.shownHeight = pic.unscaledHeight = kH;
    dst = AllocBitmap(kW, kH);
    for (int y = 0; y < kH; y++)
      for (int x = 0; x < kW; x++) pic.shown.bitmap->pixels[y * pic.shown.bitmap->bytesPerRow / 4 + x] = uint32_t(x * 31 + y);
    std::mt19937 rng(5);
    for (int i = 0; i < count; i++) {
      const Kind kind = alphaOnly ? ALPHA : Kind(i % 4);
      const int x = int(rng() % (kW - side)), y = int(rng() % (kH - side));
      auto *state = static_cast<qmLayerState *>(MemAlloc(sizeof(qmLayerState), 1));
      auto *layer = static_cast<qmLayer *>(MemAlloc(sizeof(qmLayer), 1));
      qmBitmap *b = AllocBitmap(side, side);
      for (int p = 0; p < b->bytesPerRow / 4 * side; p++) b->pixels[p] = uint32_t(p * 2654435761u + i);
      state->own.bitmap = b;
      if (kind == MASKED) {
        state->own.mask = AllocMask(side, side, 0);
        for (int p = 0; p < state->own.mask->bytesPerRow * side; p++) state->own.mask->memory[p] = uint8_t(0xF0 ^ p);
      }
      if (kind == ALPHA) {
        state->own.alpha = AllocAlphaChannel(side, side, 0);
        for (int p = 0; p < state->own.alpha->bytesPerRow * side; p++) state->own.alpha->memory[p] = uint8_t(p * 7);
      }
      state->x = x, state->y = y, state->width = state->height = side;
      state->objectWidth = state->objectHeight = side;
      state->requestedX = state->anchoredX = x, state->requestedY = state->anchoredY = y;
      layer->type = QMTYPE_BRUSH;
      layer->transparency = kind == HALF ? 128 : 0;
      layer->base = layer->unscaled = layer->current = state;
      LinkLayerAtTail(&pic, layer);
      entries.push_back({kind, x, y, layer});
    }
  }
  ~Scene() {
    FreeBGPicLayers(&gOutside, &pic);
    FreeBitmap(pic.shown.bitmap);
    FreeBitmap(dst);
  }
};

void Layers(benchmark::State &state) {
  Scene s(int(state.range(0)));
  for (auto _ : state) {
    Redraw(&gOutside, nullptr, &s.pic, s.dst, 0, 0, kW, kH, REDRAW_NOSPRITES | REDRAW_FROMSHOWN);
    benchmark::ClobberMemory();
  }
}

// One frame of 1000 layers each moved 2 pixels: the old and the new rectangle of every layer
// composed again (the refresh path of a move), against pixman compositing the same rectangles
// from the background and every layer that reaches into them.
std::vector<qmDirtyRect> MoveAll(Scene &s, int step) {
  std::vector<qmDirtyRect> rects;
  for (Scene::Entry &e : s.entries) {
    qmLayerState *st = e.layer->current;
    rects.push_back({st->x, st->y, st->x + kSide - 1, st->y + kSide - 1});
    const int dx = (step & 1) ? -2 : 2;
    st->x += dx;
    e.x = st->x;
    rects.push_back({st->x, st->y, st->x + kSide - 1, st->y + kSide - 1});
  }
  return rects;
}

void LayersMove(benchmark::State &state) {
  Scene s(1000);
  int step = 0;
  for (auto _ : state) {
    const std::vector<qmDirtyRect> rects = MoveAll(s, step++);
    qmLayerGrid grid;
    BuildLayerGrid(nullptr, &s.pic, REDRAW_NOSPRITES | REDRAW_FROMSHOWN, &grid);
    for (const qmDirtyRect &r : rects) {
      int32_t x = r.x1, y = r.y1, w = r.x2 - r.x1 + 1, h = r.y2 - r.y1 + 1;
      if (ClipRectToPicture(kW, kH, &x, &y, &w, &h)) RedrawFromGrid(&gOutside, nullptr, &grid, s.dst, x, y, w, h);
    }
    benchmark::ClobberMemory();
  }
}

// pixman's own copies of the scene's pictures (see the top of the file), and one area composed
// again the way pixman does it: the background, then every layer reaching into the area, in order.
struct PixmanScene {
  pixman_image_t *bg = nullptr, *dst = nullptr, *half = nullptr;
  std::vector<pixman_image_t *> src, mask;
  std::vector<std::vector<uint32_t>> store;  // the pixels and planes the images above read
  int side;

  pixman_image_t *Copy(const qmBitmap *b) {
    store.emplace_back(size_t(b->width) * b->height);
    uint32_t *p = store.back().data();
    for (int y = 0; y < b->height; y++)
      for (int x = 0; x < b->width; x++)
        p[size_t(y) * b->width + x] = __builtin_bswap32(b->pixels[size_t(y) * (b->bytesPerRow / 4) + x]);
    return pixman_image_create_bits(PIXMAN_x8r8g8b8, b->width, b->height, p, b->width * 4);
  }
  pixman_image_t *CopyMask(const qmMask *m) {
    const int stride = (side + 31) / 32 * 4;
    store.emplace_back(size_t(stride / 4) * side);
    auto *bytes = reinterpret_cast<uint8_t *>(store.back().data());
    for (int y = 0; y < side; y++)
      for (int x = 0; x < side; x++)
        if (m->memory[y * m->bytesPerRow + x / 8] & (0x80 >> (x % 8))) bytes[y * stride + x / 8] |= uint8_t(1 << (x % 8));
    return pixman_image_create_bits(PIXMAN_a1, side, side, store.back().data(), stride);
  }
  pixman_image_t *CopyAlpha(const qmAlphaChannel *a) {
    const int stride = (side + 3) & ~3;
    store.emplace_back(size_t(stride / 4) * side);
    auto *bytes = reinterpret_cast<uint8_t *>(store.back().data());
    for (int y = 0; y < side; y++) std::memcpy(bytes + y * stride, a->memory + y * a->bytesPerRow, size_t(side));
    return pixman_image_create_bits(PIXMAN_a8, side, side, store.back().data(), stride);
  }
  PixmanScene(Scene &s, int side_) : side(side_) {
    bg = Copy(s.pic.shown.bitmap), dst = Copy(s.dst);
    // Ours mixes a layer of transparency 128 in at level 255 - 128.
    pixman_color_t halfColor{0, 0, 0, 127 * 257};
    half = pixman_image_create_solid_fill(&halfColor);
    for (const Scene::Entry &e : s.entries) {
      const qmLayerState *st = e.layer->current;
      src.push_back(Copy(st->own.bitmap));
      mask.push_back(st->own.mask ? CopyMask(st->own.mask) : st->own.alpha ? CopyAlpha(st->own.alpha) : nullptr);
    }
  }
  ~PixmanScene() {
    for (size_t i = 0; i < src.size(); i++) {
      pixman_image_unref(src[i]);
      if (mask[i]) pixman_image_unref(mask[i]);
    }
    pixman_image_unref(half);
    pixman_image_unref(bg);
    pixman_image_unref(dst);
  }
  void ComposeArea(const Scene &s, int x, int y, int w, int h) {
    pixman_image_composite32(PIXMAN_OP_SRC, bg, nullptr, dst, x, y, 0, 0, x, y, w, h);
    for (size_t i = 0; i < s.entries.size(); i++) {
      const Scene::Entry &e = s.entries[i];
      const int x0 = std::max(x, e.x), y0 = std::max(y, e.y);
      const int x1 = std::min(x + w, e.x + side), y1 = std::min(y + h, e.y + side);
      if (x0 >= x1 || y0 >= y1) continue;
      if (e.kind == OPAQUE)
        pixman_image_composite32(PIXMAN_OP_SRC, src[i], nullptr, dst, x0 - e.x, y0 - e.y, 0, 0, x0, y0, x1 - x0,
                                 y1 - y0);
      else
        pixman_image_composite32(PIXMAN_OP_OVER, src[i], e.kind == HALF ? half : mask[i], dst, x0 - e.x, y0 - e.y,
                                 e.kind == HALF ? 0 : x0 - e.x, e.kind == HALF ? 0 : y0 - e.y, x0, y0, x1 - x0,
                                 y1 - y0);
    }
  }
  // The largest difference of a colour channel between pixman's picture and ours.
  int Difference(const qmBitmap *ours) const {
    const auto *theirs = static_cast<const uint32_t *>(static_cast<const void *>(pixman_image_get_data(dst)));
    int worst = 0;
    for (int y = 0; y < ours->height; y++)
      for (int x = 0; x < ours->width; x++) {
        const uint32_t a = __builtin_bswap32(ours->pixels[size_t(y) * (ours->bytesPerRow / 4) + x]);
        const uint32_t b = theirs[size_t(y) * ours->width + x];
        for (int shift = 0; shift < 24; shift += 8)
          worst = std::max(worst, std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)));
      }
    return worst;
  }
};

// Both sides compose the whole scene once; false (the bench skipped) when the pictures differ.
bool SamePicture(benchmark::State &state, Scene &s, PixmanScene &p) {
  Redraw(&gOutside, nullptr, &s.pic, s.dst, 0, 0, kW, kH, REDRAW_NOSPRITES | REDRAW_FROMSHOWN);
  p.ComposeArea(s, 0, 0, kW, kH);
  const int worst = p.Difference(s.dst);
  state.counters["max_channel_diff"] = worst;
  // Rounding drifts by up to 2 a blend; a pixel under several blended layers gathers a little
  // more. A wrong plane or bit order would differ by far more.
  if (worst <= 6) return true;
  state.SkipWithError("pixman's picture is not ours");
  return false;
}

void Pixman(benchmark::State &state) {
  Scene s(int(state.range(0)));
  PixmanScene p(s, kSide);
  if (!SamePicture(state, s, p)) return;
  for (auto _ : state) {
    p.ComposeArea(s, 0, 0, kW, kH);
    benchmark::ClobberMemory();
  }
}

void PixmanMove(benchmark::State &state) {
  Scene s(1000);
  PixmanScene p(s, kSide);
  if (!SamePicture(state, s, p)) return;
  int step = 0;
  for (auto _ : state) {
    for (const qmDirtyRect &r : MoveAll(s, step++)) {
      int32_t x = r.x1, y = r.y1, w = r.x2 - r.x1 + 1, h = r.y2 - r.y1 + 1;
      if (ClipRectToPicture(kW, kH, &x, &y, &w, &h)) p.ComposeArea(s, x, y, w, h);
    }
    benchmark::ClobberMemory();
  }
}

// A 256 x 256 masked layer with a shadow and a border: composing its bounds the first time,
// when the border image and the shadow plane are built, against a later redraw that finds both
// in the state's caches.
struct Decorated {
  qmBGPic pic{};
  qmBitmap *dst = nullptr;
  qmLayer *layer = nullptr;
  int32_t x = 0, y = 0, w = 0, h = 0;

  Decorated() {
    pic.shown.bitmap = AllocBitmap(kW, kH);
    pic.unscaled = pic.shown;
    pic.shownWidth = pic.unscaledWidth = kW;
    pic.shownHeight = pic.unscaledHeight = kH;
    dst = AllocBitmap(kW, kH);
    auto *state = static_cast<qmLayerState *>(MemAlloc(sizeof(qmLayerState), 1));
    layer = static_cast<qmLayer *>(MemAlloc(sizeof(qmLayer), 1));
    constexpr int kSize = 256;
    qmBitmap *b = AllocBitmap(kSize, kSize);
    for (int p = 0; p < b->bytesPerRow / 4 * kSize; p++) b->pixels[p] = uint32_t(p * 2654435761u);
    qmMask *m = AllocMask(kSize, kSize, 1);
    for (int yy = 0; yy < kSize; yy++)
      for (int xx = 0; xx < kSize; xx++)
        if ((xx - 128) * (xx - 128) + (yy - 128) * (yy - 128) < 120 * 120)
          m->memory[yy * m->bytesPerRow + xx / 8] |= uint8_t(0x80 >> (xx % 8));
    state->own = {b, m, nullptr};
    state->x = 600, state->y = 300, state->width = state->height = kSize;
    layer->type = QMTYPE_BRUSH;
    layer->transform.matrix[0] = layer->transform.matrix[3] = 1.0;
    layer->shadow = {1, 0x40000000, 6, 3, 5.0, 5.0 / 3};
    layer->border = {1, 0xFF0000, 3};
    layer->base = layer->unscaled = layer->current = state;
    LinkLayerAtTail(&pic, layer);
    GetLayerBounds(nullptr, layer, state, &x, &y, &w, &h);
  }
  void DropCaches() { DropDerivedImages(layer->current); }
  ~Decorated() {
    FreeBGPicLayers(&gOutside, &pic);
    FreeBitmap(pic.shown.bitmap);
    FreeBitmap(dst);
  }
};

void DecoratedFirstBuild(benchmark::State &state) {
  Decorated s;
  for (auto _ : state) {
    s.DropCaches();
    Redraw(&gOutside, nullptr, &s.pic, s.dst, s.x, s.y, s.w, s.h, REDRAW_NOSPRITES | REDRAW_FROMSHOWN);
    benchmark::ClobberMemory();
  }
}

void DecoratedCached(benchmark::State &state) {
  Decorated s;
  for (auto _ : state) {
    Redraw(&gOutside, nullptr, &s.pic, s.dst, s.x, s.y, s.w, s.h, REDRAW_NOSPRITES | REDRAW_FROMSHOWN);
    benchmark::ClobberMemory();
  }
}

// 1024 rectangles of 8 to 71 pixels scattered over the picture, merged where they touch, next to
// pixman uniting the same rectangles into one region.
std::vector<qmDirtyRect> ScatteredRects() {
  std::mt19937 rng(9);
  std::vector<qmDirtyRect> rects;
  for (int i = 0; i < 1024; i++) {
    const int x = int(rng() % (kW - 72)), y = int(rng() % (kH - 72));
    rects.push_back({x, y, x + 8 + int(rng() % 64) - 1, y + 8 + int(rng() % 64) - 1});
  }
  return rects;
}

void MergeRects(benchmark::State &state) {
  const std::vector<qmDirtyRect> rects = ScatteredRects();
  std::vector<qmDirtyRect> work(rects.size() + 1);
  qmDisplay *d = static_cast<qmDisplay *>(MemAlloc(sizeof(qmDisplay), 1));
  for (auto _ : state) {
    std::copy(rects.begin(), rects.end(), work.begin());
    d->dirtyRects = work.data();
    d->dirtyCount = int32_t(rects.size());
    d->dirtyCapacity = int32_t(work.size());
    MergeDirtyRects(d);
    benchmark::DoNotOptimize(work.data());
  }
  d->dirtyRects = nullptr;
  MemFree(d);
}

void PixmanUnion(benchmark::State &state) {
  const std::vector<qmDirtyRect> rects = ScatteredRects();
  for (auto _ : state) {
    pixman_region32_t region;
    pixman_region32_init(&region);
    for (const qmDirtyRect &r : rects)
      pixman_region32_union_rect(&region, &region, r.x1, r.y1, unsigned(r.x2 - r.x1 + 1), unsigned(r.y2 - r.y1 + 1));
    benchmark::DoNotOptimize(pixman_region32_n_rects(&region));
    pixman_region32_fini(&region);
  }
}

// The same frame through the style engine, as one SetLayerStyle call of 1000 pairs: every layer
// gets {x = x +- 2}, and the rectangles the engine collects are merged and composed again.
void StyleMove(benchmark::State &state) {
  Scene s(1000);
  qmScene outside{};  // no display: nothing is refreshed while the change is applied
  outside.picture = &s.pic;
  qmDirtyRectList batch{};
  auto *change = static_cast<qmStyleChange *>(MemAlloc(sizeof(qmStyleChange), 1));
  int step = 0;
  for (auto _ : state) {
    batch.count = 0;
    const int dx = (step++ & 1) ? -2 : 2;
    for (Scene::Entry &e : s.entries) {
      InitStyleChange(e.layer, change);
      change->x = e.layer->base->requestedX + dx;
      change->positionGiven = 1;
      ApplyStyleChange(&outside, e.layer, *change, &batch);
    }
    MergeRectArray(batch.entries, batch.count);
    qmLayerGrid grid;
    BuildLayerGrid(nullptr, &s.pic, REDRAW_NOSPRITES | REDRAW_FROMSHOWN, &grid);
    for (int32_t i = 0; i < batch.count; i++) {
      const qmDirtyRect &r = batch.entries[i];
      if (r.x1 == kMergedRect) continue;
      int32_t x = r.x1, y = r.y1, w = r.x2 - r.x1 + 1, h = r.y2 - r.y1 + 1;
      if (ClipRectToPicture(kW, kH, &x, &y, &w, &h)) RedrawFromGrid(&gOutside, nullptr, &grid, s.dst, x, y, w, h);
    }
    benchmark::ClobberMemory();
  }
  state.counters["rects"] = double(batch.count);
  MemFree(change);
  FreeRectList(&batch);
}

// One frame of 1000 layers of 32 x 32, each moved 2 pixels through two move lists of 500 LAYER
// entries (DoMove's engine: placing, refresh rectangles, merging), then the rectangles the
// refresh plans composed again; next to pixman compositing the background and every layer that
// reaches into each layer's old-and-new area. Goal: under 16.7 ms per frame.
// The same with 1000 alpha-blended layers of 64 x 64, next to our own full redraw of the scene
// and pixman compositing the whole frame: a frame of move lists should cost no more than either.
constexpr int kMoveSide = 32, kBigMoveSide = 64;

struct MoveFrame {
  Scene scene;
  qmMoveList *lists[2];
  qmScene stage{};  // no display: nothing is refreshed while the lists are carried out
  // Each list moves the first perList of its 500 layers.
  MoveFrame(int side, bool alphaOnly, int perList = 500) : scene(1000, side, alphaOnly) {
    stage.picture = &scene.pic;
    for (int l = 0; l < 2; l++) {
      lists[l] = static_cast<qmMoveList *>(MemAlloc(sizeof(qmMoveList), 1));
      for (int i = 0; i < perList; i++) {
        qmMoveEntry &e = lists[l]->entries[lists[l]->count++];
        e.kind = QMTYPE_LAYER;
        e.object = {uint32_t(l * 500 + i + 1), 0};
        e.extra = 2;  // keep shown
      }
    }
  }
  ~MoveFrame() {
    MemFree(lists[0]), MemFree(lists[1]);
    MemFree(stage.foundLayers);
  }
  // The entries' targets for the step, as a script knows them without asking the layers: every
  // layer 2 pixels right of where it was made on even steps, back there on odd ones.
  void Aim(int step) {
    for (int l = 0; l < 2; l++)
      for (int i = 0; i < lists[l]->count; i++) {
        const Scene::Entry &src = scene.entries[size_t(l * 500 + i)];
        qmMoveEntry &e = lists[l]->entries[i];
        e.x = src.x + ((step & 1) ? 0 : 2);
        e.y = src.y;
      }
  }
};

// The rectangles planned as a refresh plans them, composed as a refresh composes them.
int64_t ComposePlanned(MoveFrame &f, const std::vector<qmDirtyRect> &rects) {
  int64_t pixels = 0;
  const std::vector<qmDirtyRect> plan = PlanRefresh(rects.data(), int32_t(rects.size()), kW, kH);
  for (const qmDirtyRect &r : plan) pixels += int64_t(r.x2 - r.x1 + 1) * (r.y2 - r.y1 + 1);
  RedrawPlan(&gOutside, nullptr, &f.scene.pic, f.scene.dst, plan, REDRAW_NOSPRITES | REDRAW_FROMSHOWN);
  return pixels;
}

// Each list refreshed when it is carried out (DoMove on the display); or, oneRefresh, both lists'
// rectangles gathered as the display's dirty list gathers them while the picture is selected
// (SelectBGPic ... EndSelect), merged as EndSelect merges them and refreshed once. lists: how many
// of the two lists the frame carries out (one list moves 500 of the 1000 layers; a list holds at
// most kMoveListSize entries).
void DoMoveFrame(benchmark::State &state, int side, bool alphaOnly, bool oneRefresh, int lists = 2) {
  MoveFrame f(side, alphaOnly);
  int step = 0;
  int64_t pixels = 0;
  for (auto _ : state) {
    f.Aim(step++);
    std::vector<qmDirtyRect> gathered;
    for (int l = 0; l < lists; l++) {
      qmMoveList *list = f.lists[l];
      ExecuteMoveList(&f.stage, list);  // the refresh itself is composed below, as a batch
      std::vector<qmDirtyRect> rects;
      for (int32_t i = 0; i < list->count; i++)
        if (list->entries[i].hasRect) rects.push_back(list->entries[i].rect);
      if (oneRefresh) gathered.insert(gathered.end(), rects.begin(), rects.end());
      else pixels += ComposePlanned(f, rects);
    }
    if (oneRefresh) {
      MergeRectArray(gathered.data(), int32_t(gathered.size()));
      pixels += ComposePlanned(f, gathered);
    }
    benchmark::ClobberMemory();
  }
  state.counters["screens/frame"] = double(pixels) / (double(kW) * kH * double(std::max(1, step)));
}

// A frame of `lists` move lists, each refreshed when carried out (DoMove on a display: its 500
// layers, or perList of them, found and placed, the rectangles merged, the refresh plan
// composed), against the same frames done the cheapest direct way: each list's layers get their
// position written
// straight into their records (the shown corner, as RedrawAlphaFrame moves them, and the
// requested and anchored corners that placing keeps equal to it here), then the whole picture
// is composed by Redraw. Both sides move the same layers of one scene the same 2 pixels, taking
// turns, in alternating rounds of one run; once, from twin scenes composed alike, one frame of
// each is checked to end with the same pixels.
void MoveFrameLists(MoveFrame &f, int step, int lists) {
  f.Aim(step);
  for (int l = 0; l < lists; l++) {
    qmMoveList *list = f.lists[l];
    ExecuteMoveList(&f.stage, list);
    std::vector<qmDirtyRect> rects;
    for (int32_t i = 0; i < list->count; i++)
      if (list->entries[i].hasRect) rects.push_back(list->entries[i].rect);
    ComposePlanned(f, rects);
  }
}

void MoveFrameRedraw(Scene &s, int step, int lists, int perList) {
  const int dx = (step & 1) ? -2 : 2;
  for (int l = 0; l < lists; l++) {
    for (int i = l * 500; i < l * 500 + perList; i++) {
      qmLayerState *st = s.entries[size_t(i)].layer->current;
      st->x += dx, st->requestedX += dx, st->anchoredX += dx;
    }
    Redraw(&gOutside, nullptr, &s.pic, s.dst, 0, 0, kW, kH, REDRAW_NOSPRITES | REDRAW_FROMSHOWN);
  }
}

// Whether one frame of move lists and one frame moved by hand and redrawn, each from the scene
// composed whole, end with the same picture.
bool MovedAsRedrawn(int lists, int perList) {
  MoveFrame moved(kBigMoveSide, true, perList), redrawn(kBigMoveSide, true, perList);
  for (MoveFrame *f : {&moved, &redrawn})
    Redraw(&gOutside, nullptr, &f->scene.pic, f->scene.dst, 0, 0, kW, kH, REDRAW_NOSPRITES | REDRAW_FROMSHOWN);
  MoveFrameLists(moved, 0, lists);
  MoveFrameRedraw(redrawn.scene, 0, lists, perList);
  const qmBitmap *a = moved.scene.dst, *b = redrawn.scene.dst;
  for (int y = 0; y < kH; y++)
    if (std::memcmp(a->pixels + size_t(y) * (a->bytesPerRow / 4), b->pixels + size_t(y) * (b->bytesPerRow / 4),
                    size_t(kW) * 4) != 0)
      return false;
  return true;
}

void DoMoveVsRedraw(benchmark::State &state, int lists, int perList = 500) {
  if (!MovedAsRedrawn(lists, perList)) {
    state.SkipWithError("the move lists' picture is not the redrawn one");
    return;
  }
  MoveFrame f(kBigMoveSide, true, perList);
  int step = 0;
  qmSideBySide rounds;
  auto frame = [&] {
    MoveFrameLists(f, step++, lists);
    benchmark::ClobberMemory();
  };
  auto redraw = [&] {
    MoveFrameRedraw(f.scene, step++, lists, perList);
    benchmark::ClobberMemory();
  };
  for (auto _ : state) rounds.Round(state, frame, redraw);
  rounds.Report(state, "redraw");
}

void PixmanMoveFrame(benchmark::State &state) {
  Scene s(1000, kMoveSide);
  PixmanScene p(s, kMoveSide);
  if (!SamePicture(state, s, p)) return;
  int step = 0;
  for (auto _ : state) {
    const int dx = (step++ & 1) ? -2 : 2;
    for (Scene::Entry &moved : s.entries) {
      // The old and the new place of the layer as one area, as a move list gives it.
      const int x = std::min(moved.x, moved.x + dx), y = moved.y, w = kMoveSide + 2, h = kMoveSide;
      moved.x += dx;
      p.ComposeArea(s, x, y, w, h);
    }
    benchmark::ClobberMemory();
  }
}

// Our full redraw of the 64 x 64 scene, each layer moved first as the frame moves it.
void RedrawAlphaFrame(benchmark::State &state) {
  Scene s(1000, kBigMoveSide, true);
  int step = 0;
  for (auto _ : state) {
    const int dx = (step++ & 1) ? -2 : 2;
    for (Scene::Entry &moved : s.entries) moved.layer->current->x = moved.x += dx;
    Redraw(&gOutside, nullptr, &s.pic, s.dst, 0, 0, kW, kH, REDRAW_NOSPRITES | REDRAW_FROMSHOWN);
    benchmark::ClobberMemory();
  }
}

void PixmanAlphaFrame(benchmark::State &state) {
  Scene s(1000, kBigMoveSide, true);
  PixmanScene p(s, kBigMoveSide);
  if (!SamePicture(state, s, p)) return;
  int step = 0;
  for (auto _ : state) {
    const int dx = (step++ & 1) ? -2 : 2;
    for (Scene::Entry &moved : s.entries) moved.x += dx;
    p.ComposeArea(s, 0, 0, kW, kH);
    benchmark::ClobberMemory();
  }
}

// Two 256 x 256 masked objects laid over each other whose masks never agree but at the last
// pixel (the test's worst case: every pixel is looked at). The peer: pixman composites mask 1
// IN mask 2 (a1 into an a8 picture) and the bytes are scanned for the first non-zero one.
constexpr int kCollideSide = 256;

struct CollidePair {
  qmMask *a = AllocMask(kCollideSide, kCollideSide, 1), *b = AllocMask(kCollideSide, kCollideSide, 1);
  CollidePair() {
    for (int y = 0; y < kCollideSide; y++)
      for (int x = 0; x < kCollideSide; x++) {
        uint8_t *ra = a->memory + y * a->bytesPerRow, *rb = b->memory + y * b->bytesPerRow;
        const bool last = x == kCollideSide - 1 && y == kCollideSide - 1;
        if ((x + y) % 2 == 0 || last) ra[x / 8] |= uint8_t(0x80 >> (x % 8));
        if ((x + y) % 2 == 1 || last) rb[x / 8] |= uint8_t(0x80 >> (x % 8));
      }
  }
  ~CollidePair() { FreeMask(a), FreeMask(b); }
};

void PixelCollide(benchmark::State &state) {
  CollidePair p;
  const qmCollisionObject a{0, 0, kCollideSide, kCollideSide, p.a, nullptr, 0, 0, nullptr, 0, 0};
  const qmCollisionObject b{0, 0, kCollideSide, kCollideSide, p.b, nullptr, 0, 0, nullptr, 0, 0};
  for (auto _ : state) benchmark::DoNotOptimize(PixelCollision(a, b));
}

void PixmanCollide(benchmark::State &state) {
  CollidePair p;
  auto a1 = [](qmMask *m) {
    return pixman_image_create_bits(PIXMAN_a1, kCollideSide, kCollideSide, reinterpret_cast<uint32_t *>(m->memory),
                                    (m->bytesPerRow + 3) & ~3);
  };
  pixman_image_t *ia = a1(p.a), *ib = a1(p.b);
  std::vector<uint32_t> out(kCollideSide * kCollideSide / 4);
  pixman_image_t *dst = pixman_image_create_bits(PIXMAN_a8, kCollideSide, kCollideSide, out.data(), kCollideSide);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, ia, ib, dst, 0, 0, 0, 0, 0, 0, kCollideSide, kCollideSide);
    const auto *bytes = reinterpret_cast<const uint8_t *>(out.data());
    int hit = 0;
    for (size_t i = 0; i < out.size() * 4 && !hit; i++) hit = bytes[i] != 0;
    benchmark::DoNotOptimize(hit);
  }
  pixman_image_unref(ia), pixman_image_unref(ib), pixman_image_unref(dst);
}

}  // namespace

BENCHMARK(DecoratedFirstBuild)->Name("RedrawDecorated256FirstBuild")->Unit(benchmark::kMicrosecond);
BENCHMARK(DecoratedCached)->Name("RedrawDecorated256Cached")->Unit(benchmark::kMicrosecond);
BENCHMARK(MergeRects)->Name("MergeDirtyRects1024")->Unit(benchmark::kMicrosecond);
BENCHMARK(PixmanUnion)->Name("PixmanRegionUnion1024")->Unit(benchmark::kMicrosecond);
BENCHMARK(StyleMove)->Name("SetLayerStyle1080pMove1000")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DoMoveFrame, 32, kMoveSide, false, false)->Name("DoMove1080p1000x32")->Unit(benchmark::kMillisecond);
BENCHMARK(PixmanMoveFrame)->Name("Pixman1080p1000x32Moved")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DoMoveFrame, 64, kBigMoveSide, true, false)->Name("DoMove1080p1000x64Alpha")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DoMoveFrame, 64, kBigMoveSide, true, true)
    ->Name("DoMove1080p1000x64AlphaOneRefresh")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DoMoveFrame, 64, kBigMoveSide, true, false, 1)
    ->Name("DoMove1080p500of1000x64Alpha")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DoMoveVsRedraw, 1, 1)
    ->Name("DoMove1080p500of1000x64AlphaVsRedraw")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DoMoveVsRedraw, 2, 2)
    ->Name("DoMove1080p1000x64AlphaVsRedraw")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
// Fewer layers moved: the refresh plan is then smaller than the picture.
BENCHMARK_CAPTURE(DoMoveVsRedraw, 50, 1, 50)
    ->Name("DoMove1080p50of1000x64AlphaVsRedraw")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DoMoveVsRedraw, 200, 1, 200)
    ->Name("DoMove1080p200of1000x64AlphaVsRedraw")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(RedrawAlphaFrame)->Name("Redraw1080p1000x64AlphaFrame")->Unit(benchmark::kMillisecond);
BENCHMARK(PixmanAlphaFrame)->Name("Pixman1080p1000x64AlphaFrame")->Unit(benchmark::kMillisecond);
BENCHMARK(PixelCollide)->Name("PixelCollision256")->Unit(benchmark::kMicrosecond);
BENCHMARK(PixmanCollide)->Name("PixmanMaskIn256")->Unit(benchmark::kMicrosecond);
BENCHMARK(LayersMove)->Name("Redraw1080pMove1000")->Unit(benchmark::kMillisecond);
BENCHMARK(PixmanMove)->Name("Pixman1080pMove1000")->Unit(benchmark::kMillisecond);
BENCHMARK(Layers)->Name("Redraw1080p")->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(Pixman)->Name("Pixman1080p")->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

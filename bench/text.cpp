// Text against two peers in the same run: SDL2_ttf (200 short lines one by one, a
// 2,000-character paragraph and an 8,000-character page in Vera, anti-aliased, rendered and
// blitted into a 1920x1080 picture; the width of 10,000 short strings) and FreeType's own FT_Load_Char + FT_Render_Glyph loop over the same paragraph.
// Both sides draw the same glyphs: our font of 24-pixel lines renders Vera at 19 pixels to the
// em, so SDL2_ttf opens Vera at 19 points (72 dpi: 19 pixels to the em). Each SDL2_ttf bench
// first checks once that a line of ours and of the peer's has the same ink: the same height of
// inked pixels within a pixel, the same width within two (the two round advances apart), and
// the same sum of coverage within 1 %. Ours and SDL2_ttf alternate round by round
// (bench/side_by_side.h); the ratio that matters is ours / peer per case (goal: at or below 1.0).
#include <SDL.h>
#include <SDL_ttf.h>
#include <benchmark/benchmark.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/side_by_side.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/alphaops.h"
#include "text/font.h"
#include "text/textlayout.h"

namespace {

const char *kVera = "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf";
constexpr int kPeerPoints = 19;

std::string Paragraph() {
  static const char *kWords[] = {"quenmoor", "player", "draws", "text", "with", "kerning", "and", "glyphs",
                                 "cached", "per", "face", "size", "Amazing", "Vivid", "typography"};
  std::string p;
  for (unsigned i = 0; p.size() < 2000; i = i * 7 + 3) p += std::string(kWords[i % 15]) + " ";
  p.resize(2000);
  return p;
}

std::vector<std::string> ShortStrings() {
  std::vector<std::string> v;
  for (int i = 0; i < 10000; i++) v.push_back("Item " + std::to_string(i * 37 % 9973) + " AV");
  return v;
}

qmFont *OurFont() {
  static qmFont *font = [] {
    qmFontState *fonts = nullptr;
    qmFont *f = nullptr;
    if (NewFontState(&fonts) == 0) GetCachedFont(fonts, ":::default_sans", 24, FONTENGINE_INBUILT, 1, 0, &f);
    return f;
  }();
  return font;
}

TTF_Font *PeerFont() {
  static TTF_Font *font = [] {
    TTF_Init();
    return TTF_OpenFont(kVera, kPeerPoints);
  }();
  return font;
}

// Where a picture's coverage is inked: its box and the sum of its coverage.
struct Ink {
  int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
  int64_t sum = 0;
  void Add(int x, int y, int coverage) {
    if (!coverage) return;
    x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
    sum += coverage;
  }
};

Ink OurInk(std::string line) {
  qmTextRequest r{};
  r.style = {QM_STYLE_ANTIALIAS, 0xFFFFFF, 0, 0, 4, 3, 2, OurFont()};
  r.align = POS_LEFT;
  r.wrap = 1900;
  r.text = line.data();
  qmTextLayout layout;
  LayoutTextBlock(&r, QM_TEXT_TEXTOUT, 0, nullptr, nullptr, 0, &layout);
  qmTextBox box;
  RenderTextRuns(&r, &layout, 1900, &box);
  Ink ink;
  for (int y = 0; box.alpha && y < box.height; y++)
    for (int x = 0; x < box.width; x++) ink.Add(x, y, box.alpha->memory[size_t(y) * box.alpha->bytesPerRow + x]);
  FreeTextBox(&box);
  return ink;
}

Ink PeerInk(const char *line) {
  SDL_Surface *s = TTF_RenderUTF8_Blended(PeerFont(), line, SDL_Color{255, 255, 255, 255});
  Ink ink;
  if (!s) return ink;
  SDL_Surface *argb = SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_ARGB8888, 0);
  SDL_FreeSurface(s);
  if (!argb) return ink;
  for (int y = 0; y < argb->h; y++)
    for (int x = 0; x < argb->w; x++)
      ink.Add(x, y, int(static_cast<const uint32_t *>(argb->pixels)[size_t(y) * (argb->pitch / 4) + x] >> 24));
  SDL_FreeSurface(argb);
  return ink;
}

// Once per bench of the peer: false (the bench skipped) when the two draw different glyphs.
bool SameInk(benchmark::State &state) {
  const char *line = "Amazing Vivid typography, kerning AV 0123";
  const Ink ours = OurInk(line), peer = PeerInk(line);
  const bool same = ours.sum > 0 && peer.sum > 0 && std::abs((ours.y1 - ours.y0) - (peer.y1 - peer.y0)) <= 1 &&
                    std::abs((ours.x1 - ours.x0) - (peer.x1 - peer.x0)) <= 2 &&
                    std::abs(double(ours.sum) / double(peer.sum) - 1.0) <= 0.01;
  state.counters["ink_ours/peer"] = double(ours.sum) / double(std::max<int64_t>(peer.sum, 1));
  if (!same) state.SkipWithError("the peer's glyphs are not ours");
  return same;
}

// One block of text as a script draws it: laid out (wrapped at 1900 pixels), rendered and
// blitted into the screen.
void OurDraw(std::string &text, qmBitmap *screen) {
  qmTextRequest r{};
  r.style = {QM_STYLE_ANTIALIAS, 0xFFFFFF, 0, 0, 4, 3, 2, OurFont()};
  r.align = POS_LEFT;
  r.wrap = 1900;
  r.text = text.data();
  qmTextLayout layout;
  LayoutTextBlock(&r, QM_TEXT_TEXTOUT, 0, nullptr, nullptr, 0, &layout);
  qmTextBox box;
  RenderTextRuns(&r, &layout, 1900, &box);
  BltAlphaBitmap(box.bitmap, 0, 0, screen, 10, 10, std::min(box.width, 1900), std::min(box.height, 1060), box.alpha);
  FreeTextBox(&box);
}

// The same with the peer: a line alone is rendered unwrapped, a block wrapped at 1900 pixels.
void PeerDraw(const std::string &text, bool wrapped, SDL_Surface *screen) {
  const SDL_Color white{255, 255, 255, 255};
  SDL_Surface *s = wrapped ? TTF_RenderUTF8_Blended_Wrapped(PeerFont(), text.c_str(), white, 1900)
                           : TTF_RenderUTF8_Blended(PeerFont(), text.c_str(), white);
  SDL_Rect at{10, 10, 0, 0};
  SDL_BlitSurface(s, nullptr, screen, &at);
  SDL_FreeSurface(s);
}

// The texts drawn per iteration: 200 short lines one by one, the 2,000-character paragraph, and
// a page of 8,000 characters (about 43 lines of 24 pixels: the height of the screen).
enum TextCase { kShortLines, kParagraph, kPage };

std::vector<std::string> Texts(TextCase c) {
  if (c == kShortLines) {
    auto v = ShortStrings();
    v.resize(200);
    return v;
  }
  std::string p = Paragraph();
  if (c == kPage) p = p + p + p + p;
  return {p};
}

// Rounds alternate ours and SDL2_ttf (bench/side_by_side.h), each side drawing its texts batch
// times a round.
void TextVersusSdlTtf(benchmark::State &state, TextCase c) {
  if (!SameInk(state)) return;
  auto texts = Texts(c);
  const int batch = c == kPage ? 2 : 10;
  qmBitmap *ours = AllocBitmap(1920, 1080);
  SDL_Surface *peer = SDL_CreateRGBSurfaceWithFormat(0, 1920, 1080, 32, SDL_PIXELFORMAT_ARGB8888);
  qmSideBySide s;
  for (auto _ : state)
    s.Round(
        state,
        [&] {
          for (int i = 0; i < batch; i++)
            for (std::string &t : texts) OurDraw(t, ours);
        },
        [&] {
          for (int i = 0; i < batch; i++)
            for (const std::string &t : texts) PeerDraw(t, c != kShortLines, peer);
        });
  s.Report(state, "sdl_ttf");
  SDL_FreeSurface(peer);
  FreeBitmap(ours);
}

// The floor: FreeType loading and rendering every glyph, nothing cached, nothing placed.
void Paragraph_FreeTypeLoop(benchmark::State &state) {
  std::string text = Paragraph();
  FT_Library lib;
  FT_Init_FreeType(&lib);
  FT_Face face;
  FT_New_Face(lib, kVera, 0, &face);
  FT_Set_Pixel_Sizes(face, 0, kPeerPoints);
  for (auto _ : state) {
    long pen = 0;
    for (unsigned char c : text) {
      if (FT_Load_Char(face, c, FT_LOAD_NO_AUTOHINT)) continue;
      FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL);
      pen += face->glyph->advance.x;
    }
    benchmark::DoNotOptimize(pen);
  }
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
}

// The widths of the short strings; both totals are compared once (within the two fonts'
// rounding of advances: 2 pixels a string).
void WidthsVersusSdlTtf(benchmark::State &state) {
  if (!SameInk(state)) return;
  auto strings = ShortStrings();
  qmTextStyle style{QM_STYLE_ANTIALIAS, 0xFFFFFF, 0, 0, 4, 3, 2, OurFont()};
  long oursTotal = 0, peerTotal = 0;
  auto ours = [&] {
    long total = 0;
    for (const std::string &t : strings) {
      qmTextExtent e;
      ComputeTextExtent(t.data(), int32_t(t.size()), 0, &e, &style);
      total += e.width;
    }
    oursTotal = total;
  };
  auto peer = [&] {
    long total = 0;
    for (const std::string &t : strings) {
      int w = 0, h = 0;
      TTF_SizeUTF8(PeerFont(), t.c_str(), &w, &h);
      total += w;
    }
    peerTotal = total;
  };
  ours();
  peer();
  state.counters["width_ours/peer"] = double(oursTotal) / double(std::max(peerTotal, 1L));
  if (std::abs(oursTotal - peerTotal) > 2 * long(strings.size())) return state.SkipWithError("the widths differ");
  qmSideBySide s;
  for (auto _ : state) s.Round(state, ours, peer);
  s.Report(state, "sdl_ttf");
}

BENCHMARK_CAPTURE(TextVersusSdlTtf, ShortLine, kShortLines)->UseManualTime()->Iterations(11)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(TextVersusSdlTtf, Paragraph, kParagraph)->UseManualTime()->Iterations(11)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(TextVersusSdlTtf, Page, kPage)->UseManualTime()->Iterations(11)->Unit(benchmark::kMillisecond);
BENCHMARK(Paragraph_FreeTypeLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(WidthsVersusSdlTtf)->UseManualTime()->Iterations(11)->Unit(benchmark::kMillisecond);

}  // namespace

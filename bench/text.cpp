// Text against two peers in the same run: SDL2_ttf (a 2,000-character paragraph in Vera 24 px
// anti-aliased, rendered wrapped and blitted into a 1920x1080 picture; the width of 10,000 short
// strings) and FreeType's own FT_Load_Char + FT_Render_Glyph loop over the same paragraph.
// The ratio that matters is ours / peer per case (goal: at or below 1.0).
#include <SDL.h>
#include <SDL_ttf.h>
#include <benchmark/benchmark.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <string>
#include <vector>

#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/alphaops.h"
#include "text/font.h"
#include "text/textlayout.h"

namespace {

const char *kVera = "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf";

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
    qmFont *topaz, *f = nullptr;
    InitFontEngines(&topaz);
    GetCachedFont(":::default_sans", 24, FONTENGINE_INBUILT, 1, 0, &f);
    return f;
  }();
  return font;
}

TTF_Font *PeerFont() {
  static TTF_Font *font = [] {
    TTF_Init();
    return TTF_OpenFont(kVera, 24);
  }();
  return font;
}

void Paragraph_Ours(benchmark::State &state) {
  std::string text = Paragraph();
  qmBitmap *screen = AllocBitmap(1920, 1080);
  qmTextRequest r{};
  r.style = {QM_STYLE_ANTIALIAS, 0xFFFFFF, 0, 0, 4, 3, 2, OurFont()};
  r.align = POS_LEFT;
  r.wrap = 1900;
  r.text = text.data();
  for (auto _ : state) {
    qmTextLayout layout;
    LayoutTextBlock(&r, QM_TEXT_TEXTOUT, 0, nullptr, nullptr, 0, &layout);
    qmTextBox box;
    RenderTextRuns(&r, &layout, 1900, &box);
    BltAlphaBitmap(box.bitmap, 0, 0, screen, 10, 10, std::min(box.width, 1900), std::min(box.height, 1060), box.alpha);
    FreeTextBox(&box);
  }
  FreeBitmap(screen);
}

void Paragraph_SdlTtf(benchmark::State &state) {
  std::string text = Paragraph();
  SDL_Surface *screen = SDL_CreateRGBSurfaceWithFormat(0, 1920, 1080, 32, SDL_PIXELFORMAT_ARGB8888);
  SDL_Color white{255, 255, 255, 255};
  for (auto _ : state) {
    SDL_Surface *s = TTF_RenderUTF8_Blended_Wrapped(PeerFont(), text.c_str(), white, 1900);
    SDL_Rect at{10, 10, 0, 0};
    SDL_BlitSurface(s, nullptr, screen, &at);
    SDL_FreeSurface(s);
  }
  SDL_FreeSurface(screen);
}

// The floor: FreeType loading and rendering every glyph, nothing cached, nothing placed.
void Paragraph_FreeTypeLoop(benchmark::State &state) {
  std::string text = Paragraph();
  FT_Library lib;
  FT_Init_FreeType(&lib);
  FT_Face face;
  FT_New_Face(lib, kVera, 0, &face);
  FT_Set_Pixel_Sizes(face, 0, 24);
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

void Widths_Ours(benchmark::State &state) {
  auto strings = ShortStrings();
  qmTextStyle style{QM_STYLE_ANTIALIAS, 0xFFFFFF, 0, 0, 4, 3, 2, OurFont()};
  for (auto _ : state) {
    long total = 0;
    for (const std::string &s : strings) {
      qmTextExtent e;
      ComputeTextExtent(s.data(), int32_t(s.size()), 0, &e, &style);
      total += e.width;
    }
    benchmark::DoNotOptimize(total);
  }
}

void Widths_SdlTtf(benchmark::State &state) {
  auto strings = ShortStrings();
  for (auto _ : state) {
    long total = 0;
    for (const std::string &s : strings) {
      int w = 0, h = 0;
      TTF_SizeUTF8(PeerFont(), s.c_str(), &w, &h);
      total += w;
    }
    benchmark::DoNotOptimize(total);
  }
}

BENCHMARK(Paragraph_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(Paragraph_SdlTtf)->Unit(benchmark::kMillisecond);
BENCHMARK(Paragraph_FreeTypeLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(Widths_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(Widths_SdlTtf)->Unit(benchmark::kMillisecond);

}  // namespace

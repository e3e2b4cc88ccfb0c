// Fades of the player's windows to black and back, step by step on the desktop clock.
#include <SDL.h>

#include <vector>

#include "display/display.h"
#include "platform/sdl/sdl_internal.h"
#include "platform/window.h"

namespace {

constexpr uint64_t kFadeOutMicros = 500000;
constexpr uint64_t kFadeInMicros = 1000000;
constexpr uint64_t kReservationMicros = 10000000;
constexpr uint32_t kStepMicros = 16667;  // about one frame at 60 Hz

uint64_t gReservedUntil = 0;

// A window and what it showed when the fade began.
struct FadeWindow {
  SDL_Window *window;
  std::vector<uint32_t> pixels;  // w x h, rows without gaps
  int w, h;
  uint32_t colourBits;  // the bits of the surface format that carry colour
};

std::vector<FadeWindow> OpenWindows() {
  std::vector<FadeWindow> out;
  for (qmDisplay *d = DisplayList; d; d = d->next) {
    qmPlatformWindow *pw = d->platform;
    if (!pw || !pw->window) continue;
    SDL_Surface *s = SDL_GetWindowSurface(pw->window);
    if (!s || s->format->BytesPerPixel != 4 || s->w < 1 || s->h < 1) continue;
    FadeWindow f{pw->window, std::vector<uint32_t>(size_t(s->w) * s->h), s->w, s->h,
                 s->format->Rmask | s->format->Gmask | s->format->Bmask};
    if (SDL_LockSurface(s) != 0) continue;
    for (int y = 0; y < s->h; y++)
      SDL_memcpy(&f.pixels[size_t(y) * s->w], static_cast<const uint8_t *>(s->pixels) + size_t(y) * s->pitch,
                 size_t(s->w) * 4);
    SDL_UnlockSurface(s);
    out.push_back(std::move(f));
  }
  return out;
}

// Every window at level 0 (black) to 256 (as it was), pushed to the screen.
void ShowLevel(const std::vector<FadeWindow> &windows, uint32_t level) {
  for (const FadeWindow &f : windows) {
    SDL_Surface *s = SDL_GetWindowSurface(f.window);
    // A surface re-made meanwhile (the window was resized) is left alone.
    if (!s || s->w != f.w || s->h != f.h || s->format->BytesPerPixel != 4 || SDL_LockSurface(s) != 0) continue;
    for (int y = 0; y < f.h; y++) {
      const uint32_t *src = &f.pixels[size_t(y) * f.w];
      auto *dst = reinterpret_cast<uint32_t *>(static_cast<uint8_t *>(s->pixels) + size_t(y) * s->pitch);
      for (int x = 0; x < f.w; x++) {
        const uint32_t p = src[x];
        const uint32_t scaled = (((p & 0x00FF00FFu) * level >> 8) & 0x00FF00FFu) |
                                ((((p >> 8) & 0x00FF00FFu) * level) & 0xFF00FF00u);
        dst[x] = (scaled & f.colourBits) | (p & ~f.colourBits);
      }
    }
    SDL_UnlockSurface(s);
    SDL_UpdateWindowSurface(f.window);
  }
}

void RunFade(uint32_t from, uint32_t to, uint64_t micros) {
  std::vector<FadeWindow> windows = OpenWindows();
  if (windows.empty()) return;
  const uint64_t start = DesktopMicros();
  for (;;) {
    const uint64_t elapsed = DesktopMicros() - start;
    if (elapsed >= micros) break;
    ShowLevel(windows, uint32_t(int64_t(from) + (int64_t(to) - int64_t(from)) * int64_t(elapsed) / int64_t(micros)));
    SDL_PumpEvents();  // the window system keeps hearing from us; the events stay queued
    DesktopSleepMicros(kStepMicros);
  }
  ShowLevel(windows, to);
}

}  // namespace

uint32_t FadeDisplayOut() {
  const uint64_t now = DesktopMicros();
  if (now < gReservedUntil) return 0;
  gReservedUntil = now + kReservationMicros;
  RunFade(256, 0, kFadeOutMicros);
  return 1;
}

void FadeDisplayIn(uint32_t token) {
  if (!token) return;
  gReservedUntil = 0;
  RunFade(0, 256, kFadeInMicros);
}

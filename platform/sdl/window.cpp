#include "platform/window.h"

#include <cstring>
#include <vector>

#include "platform/desktop.h"
#include "platform/memory.h"
#include "platform/present.h"
#include "platform/sdl/sdl_internal.h"
#include "runtime/errcodes.h"

namespace {
constexpr size_t kTitleBytes = 512;  // a title of 255 Latin-1 characters as UTF-8, and its end

// Special positions (CENTER and its kin) that reach the window unresolved centre it.
bool IsSpecialPosition(int32_t v) { return v <= -15001 || v >= 95001; }

SDL_HitTestResult RegionHitTest(SDL_Window *, const SDL_Point *p, void *data) {
  auto *pw = static_cast<qmPlatformWindow *>(data);
  switch (pw->regionHit ? pw->regionHit(pw->owner, p->x, p->y) : 0) {
  case 1: return SDL_HITTEST_DRAGGABLE;
  case 2: return SDL_HITTEST_RESIZE_BOTTOMRIGHT;
  default: return SDL_HITTEST_NORMAL;
  }
}

// The title as the window system wants it: ISO Latin-1 to UTF-8.
void TitleToUtf8(const char *latin1, char *out, size_t size) {
  size_t n = 0;
  for (auto *s = reinterpret_cast<const unsigned char *>(latin1); *s && n + 3 < size; s++) {
    if (*s < 0x80) {
      out[n++] = char(*s);
    } else {
      out[n++] = char(0xC0 | (*s >> 6));
      out[n++] = char(0x80 | (*s & 0x3F));
    }
  }
  out[n] = 0;
}

void PlaceWindow(qmPlatformWindow *pw, const qmWindowPlace *place) {
  int x = IsSpecialPosition(place->x) ? int(SDL_WINDOWPOS_CENTERED) : place->x + place->frameLeft;
  int y = IsSpecialPosition(place->y) ? int(SDL_WINDOWPOS_CENTERED) : place->y + place->frameTop;
  SDL_SetWindowPosition(pw->window, x, y);
}
}  // namespace

qmPlatformWindow *gWindows = nullptr;

uint32_t NewSystemWindow(void *owner, qmWindowRegionHit regionHit, qmPlatformWindow **out) {
  auto *pw = static_cast<qmPlatformWindow *>(MemAlloc(sizeof(qmPlatformWindow), 1));
  if (!pw) return ERR_MEM;
  pw->owner = owner;
  pw->regionHit = regionHit;
  qmPlatformWindow **tail = &gWindows;
  while (*tail) tail = &(*tail)->next;
  *tail = pw;
  *out = pw;
  return 0;
}

void FreeSystemWindow(qmPlatformWindow *window) {
  if (!window) return;
  if (window->window) CloseSystemWindow(window);
  DiscardDrop(window);
  for (qmPlatformWindow **p = &gWindows; *p; p = &(*p)->next) {
    if (*p != window) continue;
    *p = window->next;
    break;
  }
  MemFree(window);
}

bool SystemWindowOpen(const qmPlatformWindow *window) { return window && window->window; }

void GetSystemWindowPointer(const qmPlatformWindow *window, int32_t *x, int32_t *y) {
  *x = window->pointerX;
  *y = window->pointerY;
}

void GetSystemWindowFrame(const qmPlatformWindow *pw, uint32_t flags, int32_t frame[4]) {
  frame[0] = frame[1] = frame[2] = frame[3] = 0;
  if ((flags & WINDOW_BORDERLESS) || !pw || !pw->window) return;
  int top = 0, left = 0, bottom = 0, right = 0;
  // Some window systems tell nothing (or only once the window is mapped): no frame then.
  if (SDL_GetWindowBordersSize(pw->window, &top, &left, &bottom, &right) != 0) return;
  frame[0] = left;
  frame[1] = top;
  frame[2] = left + right;
  frame[3] = top + bottom;
}

uint32_t OpenSystemWindow(qmPlatformWindow *pw, const qmWindowOpening *opening, int32_t *offsetX,
                          int32_t *offsetY) {
  if (uint32_t err = InitDesktop()) return err;
  if (pw->window) return 0;
  const qmWindowPlace &place = opening->place;

  SDL_DisplayMode desktop{};
  if (SDL_GetDesktopDisplayMode(0, &desktop) == 0) SetRefreshRate(desktop.refresh_rate);
  else SetRefreshRate(0);

  uint32_t flags = SDL_WINDOW_HIDDEN;
  if (opening->flags & WINDOW_BORDERLESS) flags |= SDL_WINDOW_BORDERLESS;
  if (opening->flags & WINDOW_SIZEABLE) flags |= SDL_WINDOW_RESIZABLE;
  char title[kTitleBytes];
  TitleToUtf8(opening->title ? opening->title : "", title, sizeof title);
  SDL_Window *w =
      SDL_CreateWindow(title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, place.width, place.height, flags);
  if (!w) return ERR_WINDOW;
  pw->window = w;
  pw->windowId = SDL_GetWindowID(w);
  SDL_SetWindowMinimumSize(w, 16, 16);
  if (opening->flags & WINDOW_BORDERLESS) SDL_SetWindowHitTest(w, RegionHitTest, pw);

  pw->fullscreen = 0;
  if (opening->fullScreen) {
    // The chosen screen mode when the system can switch to it, else the desktop's own mode
    // with the picture centred in it.
    bool switched = false;
    if (gDesktop.haveFullscreenMode && SDL_SetWindowDisplayMode(w, &gDesktop.fullscreenMode) == 0 &&
        SDL_SetWindowFullscreen(w, SDL_WINDOW_FULLSCREEN) == 0)
      switched = true;
    if (!switched) SDL_SetWindowFullscreen(w, SDL_WINDOW_FULLSCREEN_DESKTOP);
    pw->fullscreen = switched ? 1 : 2;
  }

  SDL_ShowWindow(w);
  if (pw->fullscreen && opening->mayCentre) {
    // The screen is larger than the picture: centre it (the size is known once shown).
    int sw = 0, sh = 0;
    SDL_GetWindowSize(w, &sw, &sh);
    *offsetX = sw > place.width ? (sw - place.width) / 2 : 0;
    *offsetY = sh > place.height ? (sh - place.height) / 2 : 0;
    pw->centred = 1;
  }
  if (opening->show) SDL_RaiseWindow(w);
  if (!pw->fullscreen) {
    int32_t frame[4];
    GetSystemWindowFrame(pw, opening->flags, frame);
    qmWindowPlace framed = place;
    framed.frameLeft = frame[0];
    framed.frameTop = frame[1];
    PlaceWindow(pw, &framed);
  }
  // The window system's window may be made anew when its surface is first taken: the shape
  // goes on the one that stays.
  if (opening->shape && !pw->fullscreen && SDL_GetWindowSurface(w))
    ShapeSystemWindow(w, opening->shape, place.width, place.height);
  pw->pendingCount = 0;
  pw->surfaceLost = 1;
  uint64_t now = DesktopMicros();
  pw->lastPresent = {uint32_t(now / 1000000u), uint32_t(now % 1000000u)};
  pw->lastShown = 0;
  return 0;
}

int32_t GetSystemWindowPosition(const qmPlatformWindow *pw, int32_t *x, int32_t *y) {
  if (!pw || !pw->window) return 0;
  int wx = 0, wy = 0;
  SDL_GetWindowPosition(pw->window, &wx, &wy);
  *x = wx, *y = wy;
  return 1;
}

int32_t CloseSystemWindow(qmPlatformWindow *pw) {
  if (!pw || !pw->window) return 0;
  RestoreHeldPixels(pw);
  SDL_DestroyWindow(pw->window);
  DiscardDrop(pw);
  const int32_t centred = int32_t(pw->centred);
  pw->centred = 0;
  pw->window = nullptr;
  pw->windowId = 0;
  pw->pendingCount = 0;
  pw->fullscreen = 0;
  return centred;
}

void SetSystemWindowBounds(qmPlatformWindow *pw, const qmWindowPlace *place) {
  if (!pw || !pw->window || pw->fullscreen) return;
  RestoreHeldPixels(pw);  // the surface is made anew at the new size
  SDL_SetWindowSize(pw->window, place->width & 0xFFFF, place->height & 0xFFFF);
  PlaceWindow(pw, place);
}

void MoveSystemWindow(qmPlatformWindow *pw, const qmWindowPlace *place) {
  if (!pw || !pw->window || pw->fullscreen) return;
  PlaceWindow(pw, place);
}

void SetSystemWindowTitle(qmPlatformWindow *pw, const char *latin1) {
  if (!pw || !pw->window) return;
  char title[kTitleBytes];
  TitleToUtf8(latin1, title, sizeof title);
  SDL_SetWindowTitle(pw->window, title);
}

uint32_t MinimizeSystemWindow(qmPlatformWindow *pw, int32_t minimize) {
  if (!pw || !pw->window || pw->fullscreen) return 0;
  if (minimize) SDL_MinimizeWindow(pw->window);
  else SDL_RestoreWindow(pw->window);
  return 0;
}

void ActivateSystemWindow(qmPlatformWindow *pw) {
  if (pw && pw->window) SDL_RaiseWindow(pw->window);
}

// Dropped files are accepted for every window; owners without a drop handler ignore them.
uint32_t SetSystemWindowDropTarget(qmPlatformWindow *) { return 0; }
int32_t IsDisplaySizeSupported() { return 1; }
void UpdateSystemWindow(qmPlatformWindow *) {}

int32_t ListDisplayModes(int32_t *pairs) {
  if (InitDesktop() != 0) return 0;
  int n = SDL_GetNumDisplayModes(0);
  if (n <= 0) return 0;
  if (!pairs) return n;
  int32_t count = 0;
  for (int i = 0; i < n; i++) {
    SDL_DisplayMode m;
    if (SDL_GetDisplayMode(0, i, &m) != 0) continue;
    bool seen = false;
    for (int32_t j = 0; j < count && !seen; j++) seen = pairs[2 * j] == m.w && pairs[2 * j + 1] == m.h;
    if (seen) continue;
    pairs[2 * count] = m.w;
    pairs[2 * count + 1] = m.h;
    count++;
  }
  return count;
}

uint32_t SwitchDisplayMode(int32_t width, int32_t height, int32_t depth) {
  if (InitDesktop() != 0) return ERR_SCREEN;
  SDL_DisplayMode want{};
  want.w = width;
  want.h = height;
  want.format = depth <= 16 ? SDL_PIXELFORMAT_RGB565 : SDL_PIXELFORMAT_RGB888;
  SDL_DisplayMode got{};
  gDesktop.haveFullscreenMode = false;
  if (!SDL_GetClosestDisplayMode(0, &want, &got)) return ERR_SCREEN;
  // A larger mode would show the picture small in a corner of a changed screen: the desktop's
  // own mode with the picture scaled to fit serves better.
  if (got.w != width || got.h != height) return 0;
  gDesktop.fullscreenMode = got;
  gDesktop.haveFullscreenMode = true;
  return 0;
}

uint32_t RestoreDisplayMode() {
  gDesktop.haveFullscreenMode = false;
  return 0;
}

int32_t GetSystemWindowDesktopSize(const qmPlatformWindow *pw, int32_t *width, int32_t *height) {
  if (!pw || !pw->window || pw->fullscreen != 2) return 0;
  int w = 0, h = 0;
  SDL_GetWindowSize(pw->window, &w, &h);
  if (w < 1 || h < 1) return 0;
  *width = w;
  *height = h;
  return 1;
}

void SetFullscreenUIMode(int32_t mode) {
  static int32_t current = 0;
  if (mode == 0 && current == 0) return;
  current = mode;
  for (qmPlatformWindow *pw = gWindows; pw; pw = pw->next)
    if (pw->window) SDL_RaiseWindow(pw->window);
}

void GetWorkArea(int32_t *rect) {
  SDL_Rect r{0, 0, 0, 0};
  if (InitDesktop() == 0 && SDL_GetDisplayUsableBounds(0, &r) != 0) SDL_GetDisplayBounds(0, &r);
  rect[0] = r.x;
  rect[1] = r.y;
  rect[2] = r.w;
  rect[3] = r.h;
}

// Fades of the player's windows to black and back, step by step on the desktop clock.

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
  for (qmPlatformWindow *pw = gWindows; pw; pw = pw->next) {
    if (!pw->window) continue;
    RestoreHeldPixels(pw);
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

// Mouse pointers on SDL cursors. SDL has one cursor for the whole program: the window's
// choice is put in place when its window has the pointer or the focus, and again whenever the
// pointer enters it.
#include <cmath>
#include <cstring>
#include <new>

#include "platform/desktop.h"
#include "platform/pointer.h"
#include "platform/sdl/sdl_internal.h"
#include "runtime/errcodes.h"

namespace {

// A script's pointer. cursor is null for the stand-in of a driver without cursors, and when
// the video it was made on has closed since (generation differs).
struct qmPlatformPointer {
  SDL_Cursor *cursor;
  uint32_t generation;
};

constexpr int32_t kMaxPointerSide = 1024;

uint32_t gGeneration = 1;
SDL_Cursor *gBuiltin = nullptr;
SDL_Cursor *gEmpty = nullptr;

SDL_Cursor *CursorFromArgb(const uint32_t *argb, int32_t width, int32_t height, int32_t hotX, int32_t hotY) {
  SDL_Surface *surface = SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_ARGB8888);
  if (!surface) return nullptr;
  for (int32_t y = 0; y < height; y++)
    std::memcpy(static_cast<uint8_t *>(surface->pixels) + size_t(y) * size_t(surface->pitch),
                argb + size_t(y) * size_t(width), size_t(width) * 4);
  SDL_Cursor *cursor = SDL_CreateColorCursor(surface, hotX, hotY);
  SDL_FreeSurface(surface);
  return cursor;
}

SDL_Cursor *BuiltinCursor() {
  if (!gBuiltin) {
    static uint32_t pixels[kBuiltinPointerSize * kBuiltinPointerSize];
    DrawBuiltinPointer(pixels);
    gBuiltin = CursorFromArgb(pixels, kBuiltinPointerSize, kBuiltinPointerSize, kBuiltinPointerSize / 2,
                              kBuiltinPointerSize / 2);
  }
  return gBuiltin;
}

SDL_Cursor *EmptyCursor() {
  if (!gEmpty) {
    const uint32_t clear = 0;
    gEmpty = CursorFromArgb(&clear, 1, 1, 0, 0);
  }
  return gEmpty;
}

bool HasPointerOrFocus(const qmPlatformWindow *pw) {
  return pw && pw->window && (SDL_GetMouseFocus() == pw->window || SDL_GetKeyboardFocus() == pw->window);
}

SDL_Cursor *ChosenCursor(const qmPlatformWindow *pw) {
  if (pw->pointerHidden) return EmptyCursor();
  switch (pw->pointerKind) {
  case PLATPTR_SYSTEM: return SDL_GetDefaultCursor();
  case PLATPTR_BUILTIN: return BuiltinCursor();
  default: {
    auto *p = static_cast<qmPlatformPointer *>(pw->pointerImage);
    return p && p->generation == gGeneration ? p->cursor : nullptr;
  }
  }
}

}  // namespace

void DrawBuiltinPointer(uint32_t *argb) {
  std::memset(argb, 0, sizeof(uint32_t) * kBuiltinPointerSize * kBuiltinPointerSize);
  // A grey ball of radius 11 around (11, 11), lit from the upper left, over a soft shadow
  // that falls along its lower edge; edges are covered partly for smoothness.
  const double cx = 11.0, cy = 11.0, radius = 11.0;
  for (int y = 0; y <= 23; y++) {
    for (int x = 0; x <= 22; x++) {
      double px = x + 0.5, py = y + 0.5;
      double d = std::hypot(px - cx, py - cy);
      double ds = std::hypot(px - cx, py - (cy + 1.5));
      double cover = std::fmin(1.0, std::fmax(0.0, radius - d + 0.5));
      double shadow = std::fmin(1.0, std::fmax(0.0, radius + 0.5 - ds)) * 0.45;
      double light = std::fmax(0.0, 1.0 - std::hypot(px - (cx - 4), py - (cy - 4)) / (radius * 1.6));
      double grey = 90.0 + 150.0 * light;
      double a = cover + shadow * (1.0 - cover);
      if (a <= 0) continue;
      double value = grey * cover / a;  // the shadow is black
      uint32_t g = static_cast<uint32_t>(std::fmin(255.0, value));
      uint32_t alpha = static_cast<uint32_t>(std::fmin(255.0, a * 255.0 + 0.5));
      argb[y * kBuiltinPointerSize + x] = alpha << 24 | g << 16 | g << 8 | g;
    }
  }
}

uint32_t CreatePlatformPointer(const uint32_t *argb, int32_t width, int32_t height, int32_t hotX, int32_t hotY,
                               void **image) {
  *image = nullptr;
  if (!argb || width < 1 || height < 1 || width > kMaxPointerSide || height > kMaxPointerSide || hotX < 0 ||
      hotY < 0 || hotX >= width || hotY >= height)
    return ERR_POINTERIMG;
  auto *p = new (std::nothrow) qmPlatformPointer{nullptr, gGeneration};
  if (!p) return ERR_MEM;
  // A desktop that shows no pointers (no display, a headless driver) gets the stand-in.
  if (InitDesktop() == 0) p->cursor = CursorFromArgb(argb, width, height, hotX, hotY);
  *image = p;
  return 0;
}

void FreePlatformPointer(void *image) {
  auto *p = static_cast<qmPlatformPointer *>(image);
  if (!p) return;
  if (p->cursor && p->generation == gGeneration) {
    if (SDL_GetCursor() == p->cursor) SDL_SetCursor(SDL_GetDefaultCursor());
    SDL_FreeCursor(p->cursor);
  }
  delete p;
}

void ApplyWindowPointer(qmPlatformWindow *pw) {
  if (!HasPointerOrFocus(pw)) return;
  if (SDL_Cursor *cursor = ChosenCursor(pw)) SDL_SetCursor(cursor);
}

void SetPlatformPointer(qmPlatformWindow *pw, void *image, int32_t kind, void *owner) {
  if (!pw) return;
  pw->pointerOwner = owner;
  pw->pointerKind = kind == PLATPTR_SYSTEM || kind == PLATPTR_BUILTIN ? kind : PLATPTR_IMAGE;
  pw->pointerImage = pw->pointerKind == PLATPTR_IMAGE ? image : nullptr;
  pw->pointerHidden = 0;
  ApplyWindowPointer(pw);
}

void ShowPlatformPointer(qmPlatformWindow *pw) {
  if (!pw) return;
  pw->pointerHidden = 0;
  ApplyWindowPointer(pw);
}

void HidePlatformPointer(qmPlatformWindow *pw) {
  if (!pw) return;
  pw->pointerHidden = 1;
  ApplyWindowPointer(pw);
}

void MovePointerTo(qmPlatformWindow *pw, int32_t x, int32_t y) {
  if (pw && pw->window) SDL_WarpMouseInWindow(pw->window, x, y);
}

void RestorePlatformPointer() {
  if (DesktopStarted()) SDL_SetCursor(SDL_GetDefaultCursor());
}

int32_t PlatformPointerHidden(const qmPlatformWindow *pw) {
  return pw ? static_cast<int32_t>(pw->pointerHidden) : 0;
}

void *PlatformPointerImage(const qmPlatformWindow *pw) { return pw ? pw->pointerImage : nullptr; }

void *PlatformPointerOwner(const qmPlatformWindow *pw) { return pw ? pw->pointerOwner : nullptr; }

void FreeStandardPointers() {
  if (gBuiltin) SDL_FreeCursor(gBuiltin);
  if (gEmpty) SDL_FreeCursor(gEmpty);
  gBuiltin = gEmpty = nullptr;
  gGeneration++;
}

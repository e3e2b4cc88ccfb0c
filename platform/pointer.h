// The mouse pointer of each window: the system arrow, the built-in pointer, the empty pointer
// while hidden, or a picture of the script's. The window record keeps its current pointer and
// its hidden flag; the choice shows whenever the window has the pointer or the
// focus.
#pragma once
#include <cstdint>

struct qmPlatformWindow;

enum : int32_t {
  PLATPTR_SYSTEM = 0,   // the system arrow
  PLATPTR_BUILTIN = 1,  // the player's own busy pointer
  PLATPTR_IMAGE = 2,    // the image handed over
};

inline constexpr int32_t kBuiltinPointerSize = 46;
// The size of the standard pointers (system arrow and built-in pointer) as the script sees it.
inline constexpr int32_t kPlatformPointerSize = kBuiltinPointerSize;

// A pointer object from width x height ARGB words (0xAARRGGBB, alpha 255 opaque) with its
// hotspot: 0, ERR_POINTERIMG or ERR_MEM. Where the desktop shows no pointer pictures (a
// headless video driver) a stand-in object is made all the same.
uint32_t CreatePlatformPointer(const uint32_t *argb, int32_t width, int32_t height, int32_t hotX, int32_t hotY,
                               void **image);
void FreePlatformPointer(void *image);
// The built-in pointer's picture: kBuiltinPointerSize squared ARGB words; hotspot the centre.
void DrawBuiltinPointer(uint32_t *argb);

// kind PLATPTR_SYSTEM or PLATPTR_BUILTIN, or any other kind with image: becomes the window's
// pointer and is shown; its hidden flag is cleared. owner is the script's record that chose it
// (null for none), kept beside it for PlatformPointerOwner.
void SetPlatformPointer(qmPlatformWindow *window, void *image, int32_t kind, void *owner);
void ShowPlatformPointer(qmPlatformWindow *window);
void HidePlatformPointer(qmPlatformWindow *window);
// Puts the pointer at (x, y) of the window's content.
void MovePointerTo(qmPlatformWindow *window, int32_t x, int32_t y);
// The system arrow for every window; at the end of the run.
void RestorePlatformPointer();
// Whether the window's pointer is hidden, and the image it shows (null: the system arrow or
// the built-in pointer by kind).
int32_t PlatformPointerHidden(const qmPlatformWindow *window);
void *PlatformPointerImage(const qmPlatformWindow *window);
void *PlatformPointerOwner(const qmPlatformWindow *window);

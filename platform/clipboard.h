// The system clipboard. Text inside the player is ISO Latin-1 with line feeds; outside it is
// UTF-8, and a character beyond Latin-1 reads as "?". Pictures go through a clipboard tool
// (xclip, or wl-clipboard under Wayland) as PNG.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Clipboard kinds: 0 empty, 1 text, 2 image, 4 something else.
enum : int32_t {
  CLIP_EMPTY = 0,
  CLIP_TEXT = 1,
  CLIP_IMAGE = 2,
  CLIP_OTHER = 4,
};

// 0 and the kind; with text wanted and kind 1, *text is a new allocation (MemFree) of the
// text. ERR_CLIPOPEN when the clipboard cannot be reached, ERR_MEM.
uint32_t ReadClipboard(int32_t *kind, char **text);
uint32_t PeekClipboardKind(int32_t *kind);
// 0 or ERR_CLIPWRITE. The caller tells whoever watches the clipboard.
uint32_t WriteClipboardText(const char *text);
uint32_t ClearPlatformClipboard();

// Pictures travel as PNG through the clipboard tool; the coder between PNG and ARGB words
// (0xAARRGGBB) is the image codec's, set by the layer that has one. Without a coder or a tool
// pictures cannot be moved: ERR_CLIPWRITE, ERR_CLIPREAD.
struct qmClipboardImageCoder {
  // png: the encoded picture.
  uint32_t (*encodePng)(const uint32_t *argb, int32_t width, int32_t height, int32_t hasAlpha, std::string *png);
  // *argb: a new allocation (MemAlloc) of width x height words.
  uint32_t (*decode)(const uint8_t *data, size_t size, uint32_t **argb, int32_t *width, int32_t *height,
                     int32_t *hasAlpha);
};
void SetClipboardImageCoder(const qmClipboardImageCoder *coder);
const qmClipboardImageCoder *GetClipboardImageCoder();

// A picture read from the clipboard: argb is a MemAlloc allocation of width x height words.
struct qmClipboardPicture {
  uint32_t *argb;
  int32_t width, height;
  int32_t hasAlpha;
};

// 0 or ERR_CLIPWRITE (or the coder's error); the caller tells whoever watches the clipboard.
uint32_t WriteClipboardImage(const uint32_t *argb, int32_t width, int32_t height, int32_t hasAlpha);
// 0 with the picture, ERR_CLIPREAD when the clipboard holds none that can be read, ERR_MEM.
uint32_t ReadClipboardImage(uint32_t **argb, int32_t *width, int32_t *height, int32_t *hasAlpha);

// The clipboard's kinds from a clipboard tool's list of offered types, one a line.
int32_t ClipboardKindOfTargets(const char *targets);
// Text conversions of the clipboard: in, UTF-8 to Latin-1 with "?" beyond it and carriage
// returns (alone or before a line feed) as line feeds; out, Latin-1 to UTF-8.
std::string ClipboardTextIn(const char *utf8);
std::string ClipboardTextOut(const char *latin1);

// The system clipboard. Text inside the player is ISO Latin-1 with line feeds; outside it is
// UTF-8, and a character beyond Latin-1 reads as "?". Pictures go through a clipboard tool
// (xclip, or wl-clipboard under Wayland) as PNG.
#pragma once
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
// 0 or ERR_CLIPWRITE. Both tell every display that watches the clipboard.
uint32_t WriteClipboardText(const char *text);
uint32_t ClearPlatformClipboard();

// The clipboard's kinds from a clipboard tool's list of offered types, one a line.
int32_t ClipboardKindOfTargets(const char *targets);
// Text conversions of the clipboard: in, UTF-8 to Latin-1 with "?" beyond it and carriage
// returns (alone or before a line feed) as line feeds; out, Latin-1 to UTF-8.
std::string ClipboardTextIn(const char *utf8);
std::string ClipboardTextOut(const char *latin1);

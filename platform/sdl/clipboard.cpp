// Clipboard text through SDL; the kind of anything else from the clipboard tool's type list.
#include <cstdlib>
#include <cstring>

#include "display/display.h"
#include "platform/clipboard.h"
#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "platform/helperprogram.h"
#include "platform/memory.h"
#include "platform/sdl/sdl_internal.h"
#include "runtime/errcodes.h"
#include "runtime/eventqueue.h"

namespace {

void PumpForPeers() {
  if (DesktopStarted()) SDL_PumpEvents();
}

// What is on the clipboard when it holds no text: the clipboard tool's type list, asked while
// our own windows keep answering (we may be the owner). Without a tool: empty.
int32_t KindWithoutText() {
  const char *wayland = std::getenv("WAYLAND_DISPLAY");
  qmHelperRun run{0, -1, {}};
  if (wayland && wayland[0] && HelperProgramAvailable("wl-paste"))
    run = RunHelperProgram({"wl-paste", "--list-types"}, nullptr, PumpForPeers);
  else if (HelperProgramAvailable("xclip"))
    run = RunHelperProgram({"xclip", "-selection", "clipboard", "-t", "TARGETS", "-o"}, nullptr, PumpForPeers);
  if (!run.started || run.exitStatus != 0) return CLIP_EMPTY;
  // A text offered that SDL found empty is an empty clipboard (ours after clearing).
  int32_t kind = ClipboardKindOfTargets(run.output.c_str());
  return kind == CLIP_TEXT ? CLIP_EMPTY : kind;
}

// The window system learns of our ownership only when the request leaves our buffer; a
// program that asks at once must find it.
void Announce() { SDL_PumpEvents(); }

void TellWatchers() {
  for (qmDisplay *d = DisplayList; d; d = d->next)
    if (d->handlers[DISPH_CLIPBOARDCHANGE].function != kNoHandler)
      PostEvent(d, EVENT_CLIPBOARD, 0, 0, 0, nullptr);
}

}  // namespace

uint32_t PeekClipboardKind(int32_t *kind) {
  *kind = CLIP_EMPTY;
  if (InitDesktop() != 0) return ERR_CLIPOPEN;
  *kind = SDL_HasClipboardText() ? CLIP_TEXT : KindWithoutText();
  return 0;
}

uint32_t ReadClipboard(int32_t *kind, char **text) {
  *text = nullptr;
  if (uint32_t code = PeekClipboardKind(kind)) return code;
  if (*kind != CLIP_TEXT) return 0;
  char *utf8 = SDL_GetClipboardText();
  if (!utf8) return ERR_CLIPREAD;
  std::string latin1 = ClipboardTextIn(utf8);
  SDL_free(utf8);
  if (latin1.empty()) {
    *kind = CLIP_EMPTY;
    return 0;
  }
  *text = static_cast<char *>(MemAlloc(static_cast<uint32_t>(latin1.size() + 1), 0));
  if (!*text) return ERR_MEM;
  std::memcpy(*text, latin1.c_str(), latin1.size() + 1);
  return 0;
}

uint32_t WriteClipboardText(const char *text) {
  if (InitDesktop() != 0) return ERR_CLIPWRITE;
  std::string utf8 = ClipboardTextOut(text);
  if (SDL_SetClipboardText(utf8.c_str()) != 0) return ERR_CLIPWRITE;
  Announce();
  TellWatchers();
  return 0;
}

uint32_t ClearPlatformClipboard() {
  if (InitDesktop() != 0) return ERR_CLIPWRITE;
  if (SDL_SetClipboardText("") != 0) return ERR_CLIPWRITE;
  Announce();
  TellWatchers();
  return 0;
}

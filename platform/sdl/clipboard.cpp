// Clipboard text through SDL; the kind of anything else from the clipboard tool's type list.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/clipboard.h"
#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "platform/helperprogram.h"
#include "platform/memory.h"
#include "platform/sdl/sdl_internal.h"
#include "platform/time.h"
#include "runtime/errcodes.h"

namespace {

void PumpForPeers() {
  if (DesktopStarted()) SDL_PumpEvents();
}

bool OnWayland() {
  const char *wayland = std::getenv("WAYLAND_DISPLAY");
  return wayland && wayland[0] && HelperProgramAvailable("wl-paste");
}

// Runs the clipboard tool: list the offered types, read one type, or offer input as one type.
// Asked while our own windows keep answering (we may be the owner).
qmHelperRun RunClipboardTool(const char *type, const std::string *input) {
  std::vector<std::string> argv;
  if (OnWayland()) {
    if (input) argv = {"wl-copy", "--type", type};
    else if (!type) argv = {"wl-paste", "--list-types"};
    else argv = {"wl-paste", "--no-newline", "--type", type};
  } else if (HelperProgramAvailable("xclip")) {
    argv = {"xclip", "-selection", "clipboard", "-t", type ? type : "TARGETS", input ? "-i" : "-o"};
  } else {
    return qmHelperRun{0, -1, {}};
  }
  return RunHelperProgram(argv, input, PumpForPeers);
}

// What is on the clipboard when it holds no text: the tool's type list. Without a tool: empty.
int32_t KindWithoutText() {
  qmHelperRun run = RunClipboardTool(nullptr, nullptr);
  if (!run.started || run.exitStatus != 0) return CLIP_EMPTY;
  // A text offered that SDL found empty is an empty clipboard (ours after clearing).
  int32_t kind = ClipboardKindOfTargets(run.output.c_str());
  return kind == CLIP_TEXT ? CLIP_EMPTY : kind;
}

// The window system learns of our ownership only when the request leaves our buffer; a
// program that asks at once must find it.
void Announce() { SDL_PumpEvents(); }

// Seconds a clipboard tool's background owner has to make its offer known.
constexpr double kOfferDeadline = 10.0;

// The clipboard tools take the selection in a child they leave running, whose request to the
// window system may leave after the tool itself has ended (and an earlier owner may still
// answer until then): the data is there once the clipboard gives back these very bytes.
bool WaitForOffer(const char *type, const std::string &bytes) {
  for (double end = GetTimeSeconds() + kOfferDeadline; GetTimeSeconds() < end;) {
    qmHelperRun run = RunClipboardTool(type, nullptr);
    if (run.started && run.exitStatus == 0 && run.output == bytes) return true;
  }
  return false;
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
  return 0;
}

uint32_t ClearPlatformClipboard() {
  if (InitDesktop() != 0) return ERR_CLIPWRITE;
  if (SDL_SetClipboardText("") != 0) return ERR_CLIPWRITE;
  Announce();
  return 0;
}

uint32_t WriteClipboardImage(const uint32_t *argb, int32_t width, int32_t height, int32_t hasAlpha) {
  const qmClipboardImageCoder *coder = GetClipboardImageCoder();
  if (!coder || !coder->encodePng || !argb || width < 1 || height < 1) return ERR_CLIPWRITE;
  if (InitDesktop() != 0) return ERR_CLIPWRITE;
  std::string png;
  if (uint32_t code = coder->encodePng(argb, width, height, hasAlpha, &png)) return code;
  qmHelperRun run = RunClipboardTool("image/png", &png);
  if (!run.started || run.exitStatus != 0) return ERR_CLIPWRITE;
  return WaitForOffer("image/png", png) ? 0 : uint32_t(ERR_CLIPWRITE);
}

uint32_t ReadClipboardImage(uint32_t **argb, int32_t *width, int32_t *height, int32_t *hasAlpha) {
  *argb = nullptr;
  const qmClipboardImageCoder *coder = GetClipboardImageCoder();
  if (!coder || !coder->decode || InitDesktop() != 0) return ERR_CLIPREAD;
  qmHelperRun run = RunClipboardTool("image/png", nullptr);
  if (!run.started || run.exitStatus != 0 || run.output.empty()) return ERR_CLIPREAD;
  return coder->decode(reinterpret_cast<const uint8_t *>(run.output.data()), run.output.size(), argb, width, height,
                       hasAlpha);
}

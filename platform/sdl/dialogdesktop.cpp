// What the desktop layer gives the dialogs: SDL's message box, and the pass of the event pump
// that keeps the player's windows answering while a dialog program runs.
#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "platform/sdl/sdl_internal.h"

namespace {

int SdlMessageBox(const char *title, const char *body, const std::vector<std::string> &labels) {
  std::vector<SDL_MessageBoxButtonData> buttons(labels.size());
  int count = static_cast<int>(labels.size());
  for (int i = 0; i < count; i++) {
    buttons[size_t(i)].buttonid = i;
    buttons[size_t(i)].text = labels[size_t(i)].c_str();
    buttons[size_t(i)].flags = 0;
  }
  // Return presses the first of one or two buttons; Escape the second of two.
  if (count < 3) buttons[0].flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
  if (count == 2) buttons[1].flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
  SDL_MessageBoxData data{};
  data.flags = SDL_MESSAGEBOX_INFORMATION | SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT;
  data.title = title;
  data.message = body;
  data.numbuttons = count;
  data.buttons = buttons.data();
  int pressed = -1;
  if (SDL_ShowMessageBox(&data, &pressed) != 0) return -1;
  // Closed without a button: as the last button.
  return pressed < 0 || pressed >= count ? count - 1 : pressed;
}

// Answers the window system (pings, exposure) and drops the input meant for the player's
// windows while a dialog has the user's attention. Uncovered windows show their picture again
// at once; the window events stay queued for the next pump.
void KeepWindowsAlive() {
  if (!DesktopStarted()) return;
  SDL_PumpEvents();
  SDL_FlushEvents(SDL_KEYDOWN, SDL_MOUSEWHEEL);
  SDL_Event events[32];
  int n = SDL_PeepEvents(events, 32, SDL_PEEKEVENT, SDL_WINDOWEVENT, SDL_WINDOWEVENT);
  for (int i = 0; i < n; i++) {
    if (events[i].window.event != SDL_WINDOWEVENT_EXPOSED) continue;
    qmPlatformWindow *pw = FindWindowById(events[i].window.windowID);
    if (pw && pw->window && !pw->surfaceLost) SDL_UpdateWindowSurface(pw->window);
  }
}

}  // namespace

const qmDialogDesktop kDesktopDialogs = {SdlMessageBox, KeepWindowsAlive};

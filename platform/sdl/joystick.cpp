// Joysticks through SDL's joystick interface: the first two axes and up to 32 buttons of every
// device SDL lists; hats are not read. Devices keep their place in the list while attached; one
// that is unplugged leaves it and one that is plugged in joins at the end.
#include "platform/joystick.h"

#include <SDL.h>

#include "platform/memory.h"
#include "platform/sdl/sdl_internal.h"
#include "runtime/errcodes.h"

namespace {

struct qmJoystick {
  qmJoystick *next;
  SDL_Joystick *device;
  SDL_JoystickID instance;
  qmJoyAxis x, y;
};

qmJoystick *gJoysticks = nullptr;
bool gStarted = false;

uint32_t StartJoysticks() {
  if (gStarted) return 0;
  // Sticks are read whether or not a window of ours has the keyboard focus.
  SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
  if (InitSdlSubSystem(SDL_INIT_JOYSTICK) != 0) return ERR_JOYSTICK;
  // Read by polling: no joystick events crowd the window events in the queue.
  SDL_JoystickEventState(SDL_IGNORE);
  gStarted = true;
  return 0;
}

// Brings the list in step with the devices attached now.
uint32_t UpdateJoysticks() {
  if (uint32_t err = StartJoysticks()) return err;
  SDL_JoystickUpdate();
  for (qmJoystick **p = &gJoysticks; *p;) {
    qmJoystick *j = *p;
    if (SDL_JoystickGetAttached(j->device)) {
      p = &j->next;
      continue;
    }
    *p = j->next;
    SDL_JoystickClose(j->device);
    MemFree(j);
  }
  int n = SDL_NumJoysticks();
  for (int i = 0; i < n; i++) {
    SDL_JoystickID instance = SDL_JoystickGetDeviceInstanceID(i);
    bool known = false;
    qmJoystick **tail = &gJoysticks;
    for (; *tail; tail = &(*tail)->next) known |= (*tail)->instance == instance;
    if (known) continue;
    SDL_Joystick *device = SDL_JoystickOpen(i);
    if (!device) continue;  // devices that cannot be opened are passed over
    auto *j = static_cast<qmJoystick *>(MemAlloc(sizeof(qmJoystick), 1));
    if (!j) {
      SDL_JoystickClose(device);
      return ERR_MEM;
    }
    j->device = device;
    j->instance = instance;
    // SDL reports every axis over the whole 16-bit range.
    j->x = j->y = {-32768, 32767, 1};
    *tail = j;
  }
  return 0;
}

}  // namespace

uint32_t CountPlatformJoysticks(int32_t *count) {
  *count = 0;
  if (uint32_t err = UpdateJoysticks()) return err;
  for (qmJoystick *j = gJoysticks; j; j = j->next) ++*count;
  return 0;
}

uint32_t ReadJoystick(int32_t index, int32_t *direction, uint32_t *buttons) {
  if (uint32_t err = UpdateJoysticks()) return err;
  qmJoystick *j = gJoysticks;
  for (int32_t i = 0; j && i < index; i++) j = j->next;
  if (!j || index < 0) return ERR_NOJOYATPORT;
  if (buttons) {
    uint32_t mask = 0;
    int n = SDL_JoystickNumButtons(j->device);
    for (int b = 0; b < n && b < 32; b++)
      if (SDL_JoystickGetButton(j->device, b)) mask |= 1u << b;
    *buttons = mask;
  }
  if (direction) {
    int axes = SDL_JoystickNumAxes(j->device);
    int32_t x = axes > 0 ? JoyAxisPosition(&j->x, SDL_JoystickGetAxis(j->device, 0)) : 0;
    int32_t y = axes > 1 ? JoyAxisPosition(&j->y, SDL_JoystickGetAxis(j->device, 1)) : 0;
    *direction = JoyDirection(x, y);
  }
  return 0;
}

void ReleaseJoysticks() {
  while (qmJoystick *j = gJoysticks) {
    gJoysticks = j->next;
    SDL_JoystickClose(j->device);
    MemFree(j);
  }
  if (gStarted) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
  gStarted = false;
}

#include "platform/sdl/keytable.h"

#include <SDL.h>

namespace {
struct KeyRow {
  SDL_Keycode symbol;
  int32_t code;
};

// Enter on the keypad is character 3, as the keyboards the portable codes come from send it.
const KeyRow kSpecialKeys[] = {
    {SDLK_BACKSPACE, KEY_BACKSPACE}, {SDLK_TAB, KEY_TAB},       {SDLK_RETURN, KEY_RETURN},
    {SDLK_ESCAPE, KEY_ESCAPE},       {SDLK_SPACE, KEY_SPACE},   {SDLK_DELETE, KEY_DELETE},
    {SDLK_UP, KEY_UP},               {SDLK_DOWN, KEY_DOWN},     {SDLK_RIGHT, KEY_RIGHT},
    {SDLK_LEFT, KEY_LEFT},           {SDLK_HELP, KEY_HELP},     {SDLK_INSERT, KEY_HELP},
    {SDLK_HOME, KEY_HOME},           {SDLK_END, KEY_END},       {SDLK_PAGEUP, KEY_PAGEUP},
    {SDLK_PAGEDOWN, KEY_PAGEDOWN},   {SDLK_KP_ENTER, 3},        {SDLK_F1, 261},
    {SDLK_F2, 262},                  {SDLK_F3, 263},            {SDLK_F4, 264},
    {SDLK_F5, 265},                  {SDLK_F6, 266},            {SDLK_F7, 267},
    {SDLK_F8, 268},                  {SDLK_F9, 269},            {SDLK_F10, 270},
    {SDLK_F11, KEY_F11},             {SDLK_F12, KEY_F12},       {SDLK_F13, 287},
    {SDLK_F14, 288},                 {SDLK_F15, 289},           {SDLK_F16, 290},
};
}  // namespace

int32_t SpecialKeyCode(int32_t keySymbol) {
  for (const KeyRow &row : kSpecialKeys)
    if (row.symbol == keySymbol) return row.code;
  return KEY_NONE;
}

int32_t Latin1KeyCode(const char *utf8) {
  auto *s = reinterpret_cast<const unsigned char *>(utf8);
  int32_t c;
  if (s[0] < 0x80) {
    c = s[0];
  } else if ((s[0] & 0xE0) == 0xC0 && (s[1] & 0xC0) == 0x80) {
    c = ((s[0] & 0x1F) << 6) | (s[1] & 0x3F);
  } else if (s[0] >= 0xA0 && (s[1] & 0xC0) != 0x80) {
    c = s[0];  // a lone Latin-1 byte, as some X servers' key lookups hand it over
  } else {
    return KEY_NONE;  // three bytes and more lie beyond Latin-1
  }
  if (c < 32 || c == 127 || (c >= 128 && c < 160)) return KEY_NONE;
  return c;
}

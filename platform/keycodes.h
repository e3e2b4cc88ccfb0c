// Portable key codes: printable characters as ISO Latin-1, special keys from 256 on.
#pragma once
#include <cstdint>

enum : int32_t {
  KEY_UP = 256, KEY_DOWN = 257, KEY_RIGHT = 258, KEY_LEFT = 259, KEY_HELP = 260,
  KEY_F1 = 261, KEY_F10 = 270,
  KEY_BACKSPACE = 271, KEY_TAB = 272, KEY_ENTER = 273, KEY_RETURN = 274, KEY_ESCAPE = 275, KEY_SPACE = 276,
  KEY_DELETE = 277, KEY_F11 = 278, KEY_F12 = 279,
  KEY_HOME = 281, KEY_END = 282, KEY_PAGEUP = 283, KEY_PAGEDOWN = 284,
  KEY_F13 = 287, KEY_F16 = 290,
  KEY_NONE = -1,
};

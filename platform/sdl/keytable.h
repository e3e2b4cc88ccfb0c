// The desktop layer's keys as portable key codes (platform/keycodes.h).
#pragma once
#include <cstdint>

#include "platform/keycodes.h"

// The portable code of a key that is not a character (an SDL key symbol), or KEY_NONE.
int32_t SpecialKeyCode(int32_t keySymbol);
// The first character of UTF-8 text as a portable code: its ISO Latin-1 value, or KEY_NONE
// when it has none (or is a control character).
int32_t Latin1KeyCode(const char *utf8);

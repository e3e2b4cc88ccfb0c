// GetAttribute's answers that every font gives: text objects and fonts through theirs, Text and
// Print layers through the font they were drawn with, displays through the current font.
#pragma once
#include <cstdint>

struct VmState;
struct qmFont;

// The attribute's result pushed (1), or ERR_UNKNOWNATTR. A null font answers 0 and "".
uint32_t PushFontAttribute(VmState *L, const qmFont *f, int32_t attribute);

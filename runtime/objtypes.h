// Object types of every library, one numbering for the whole player (see objtypes.def).
#pragma once
#include <cstdint>

enum qmObjectType : uint32_t {
#define QM_OBJTYPE(number, name) QMTYPE_##name = number,
#include "runtime/objtypes.def"
#undef QM_OBJTYPE
};

inline constexpr uint32_t kObjectTypeCount = 56;

// The type's name ("BRUSH"), "X" for the placeholders 46 to 48, nullptr for other numbers.
const char *GetObjectTypeName(uint32_t type);

#include "runtime/objtypes.h"

#include <string_view>

namespace {

struct TypeNames {
  const char *name[kObjectTypeCount + 1];
};

constexpr TypeNames MakeNames() {
  TypeNames t{};
#define QM_OBJTYPE(number, typeName) \
  t.name[number] = std::string_view(#typeName).starts_with("X") && std::string_view(#typeName).size() == 2 ? "X" : #typeName;
#include "runtime/objtypes.def"
#undef QM_OBJTYPE
  return t;
}

constexpr TypeNames kNames = MakeNames();

}  // namespace

const char *GetObjectTypeName(uint32_t type) { return type <= kObjectTypeCount ? kNames.name[type] : nullptr; }

#include "runtime/errcodes.h"

const char *qm_error_name(uint32_t code) {
  switch (code) {
    case ERR_NONE: return "ERR_NONE";
#define QM_ERROR(c, name, index, text) case c: return #name;
#include "runtime/errcodes.def"
#undef QM_ERROR
    default: return nullptr;
  }
}

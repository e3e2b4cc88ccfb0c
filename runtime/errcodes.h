// Error codes: 0 is success, 1000..1508 are the player's own, 1509 on are user errors.
#pragma once
#include <cstdint>

enum QmErrorCode : uint32_t {
  ERR_NONE = 0,
#define QM_ERROR(code, name, index, text) name = code,
#include "runtime/errcodes.def"
#undef QM_ERROR
};

inline constexpr uint32_t kFirstErrorCode = 1000;
inline constexpr uint32_t kLastErrorCode = 1508;
inline constexpr uint32_t kFirstUserError = 1509;

// The constant name of a code ("ERR_MEM"), or nullptr for a code that is not one of the player's.
const char *qm_error_name(uint32_t code);

// The TrueType faces stored in the program: opened from memory, never from the file system.
#pragma once
#include <cstdint>

struct qmBuiltinFace {
  const char *name;  // the name scripts open it by (any case)
  const uint8_t *data;
  uint32_t size;
};

constexpr int kBuiltinFaceCount = 3;
extern const qmBuiltinFace kBuiltinFaces[kBuiltinFaceCount];

// The stored face of that name (compared without regard to case), or null.
const qmBuiltinFace *FindBuiltinFace(const char *name);

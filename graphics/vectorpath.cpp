#include "graphics/vectorpath.h"

#include <algorithm>
#include <cstring>

#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"

namespace {

constexpr size_t kCommandRoom = 128;  // an opcode with its largest numeric operands, and the end word
constexpr size_t kMinGrowth = 1024;

size_t PaddedStringBytes(const char *text) { return ((std::strlen(text) + 1) & ~size_t(3)) + 4; }

// Room for at least need more bytes behind the commands in use. The buffer at least doubles
// when it grows, so that a path of n commands costs O(n) copying, not O(n^2).
uint32_t Reserve(qmPath *path, size_t need) {
  const size_t used = path->commands ? size_t(path->end - path->commands) : 0;
  if (path->commands && path->capacity - used >= need) return 0;
  const size_t least = used + need;
  if (least > UINT32_MAX) return ERR_MEM;
  size_t capacity = size_t(path->capacity) + std::max({need, size_t(path->capacity), kMinGrowth});
  capacity = std::min(capacity, size_t(UINT32_MAX));
  auto *buffer = static_cast<uint8_t *>(MemAlloc(uint32_t(capacity), 0));
  if (!buffer) return ERR_MEM;
  if (path->commands) std::memcpy(buffer, path->commands, used);
  MemFree(path->commands);
  path->commands = buffer;
  path->end = buffer + used;
  path->capacity = uint32_t(capacity);
  return 0;
}

uint8_t *Put(uint8_t *at, const void *bytes, size_t n) {
  std::memcpy(at, bytes, n);
  return at + n;
}

}  // namespace

uint32_t NewPath(qmPath **out) {
  *out = static_cast<qmPath *>(MemAlloc(sizeof(qmPath), 1));
  if (!*out) return ERR_MEM;
  (*out)->header.type = QMTYPE_VECTORPATH;
  return 0;
}

void FreePathRecord(qmPath *path) {
  if (!path) return;
  MemFree(path->commands);
  MemFree(path);
}

void ClearPathCommands(qmPath *path) {
  MemFree(path->commands);
  path->commands = path->end = nullptr;
  path->capacity = 0;
}

size_t PathCommandBytes(const qmPath *path) {
  return path->commands ? size_t(path->end - path->commands) : 0;
}

uint32_t AppendPathCommand(qmPath *path, uint32_t opcode, int32_t count, const qmPathOperand *operands) {
  size_t need = kCommandRoom;
  for (int32_t i = 0; i < count; i++)
    if (operands[i].kind == PATHARG_STRING) need += PaddedStringBytes(operands[i].text);
  if (uint32_t code = Reserve(path, need)) return code;
  uint8_t *at = Put(path->end, &opcode, 4);
  for (int32_t i = 0; i < count; i++) {
    const qmPathOperand &op = operands[i];
    if (op.kind == PATHARG_DOUBLE) {
      at = Put(at, &op.number, 8);
    } else if (op.kind == PATHARG_STRING) {
      const size_t n = std::strlen(op.text) + 1, padded = PaddedStringBytes(op.text);
      std::memset(at, 0, padded);
      std::memcpy(at, op.text, n);
      at += padded;
    } else {
      at = Put(at, &op.word, 4);
    }
  }
  const uint32_t zero = PATHOP_END;
  std::memcpy(at, &zero, 4);
  path->end = at;
  return 0;
}

uint32_t CopyPathCommands(const qmPath *src, qmPath *dst) {
  uint8_t *buffer = nullptr;
  if (src->commands) {
    buffer = static_cast<uint8_t *>(MemAlloc(src->capacity, 0));
    if (!buffer) return ERR_MEM;
    std::memcpy(buffer, src->commands, PathCommandBytes(src) + 4);
  }
  MemFree(dst->commands);
  dst->commands = buffer;
  dst->end = buffer ? buffer + PathCommandBytes(src) : nullptr;
  dst->capacity = buffer ? src->capacity : 0;
  return 0;
}

uint32_t AppendPathCommands(qmPath *dst, const qmPath *src) {
  const size_t bytes = PathCommandBytes(src);
  if (bytes == 0) return 0;
  if (uint32_t code = Reserve(dst, bytes + 4)) return code;
  std::memcpy(dst->end, src->commands, bytes + 4);  // with its end word
  dst->end += bytes;
  return 0;
}

void ClampBoxCorners(int32_t corners[4]) {
  for (int i = 0; i < 4; i++) corners[i] = std::clamp(corners[i], 0, 100);
}

uint32_t CheckDashes(const double *lengths, uint32_t count) {
  bool any = false;
  for (uint32_t i = 0; i < count; i++) {
    if (!(lengths[i] >= 0)) return ERR_WRONGUSAGE;  // NaN too
    any = any || lengths[i] > 0;
  }
  return any ? 0u : uint32_t(ERR_WRONGUSAGE);
}

qmVectorStyle VectorStyleOf(const qmVectorState *state, int32_t antialias) {
  qmVectorStyle s{};
  s.join = state->join, s.cap = state->cap, s.fillRule = state->fillRule;
  s.antialias = antialias ? 1 : 0;
  s.dashOffset = state->dashOffset;
  s.dashes = state->dashes;
  s.dashCount = int32_t(state->dashCount);
  return s;
}

void ResetVectorState(qmVectorState *state) {
  MemFree(state->dashes);
  *state = {};
}

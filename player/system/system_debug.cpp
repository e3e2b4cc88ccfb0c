#include "player/system/system_debug.h"

#include <cstring>

#include "player/system/system_state.h"
#include "runtime/context.h"

namespace {

// The run's system state; null before the library started or after it ended.
qmSystemState *StateOf(VmState *L) {
  const qmPlayerContext *ctx = L ? GetPlayerContext(L) : nullptr;
  return ctx ? ctx->systemState : nullptr;
}

}  // namespace

void DebugWrite(VmState *L, const char *text) {
  const qmSystemState *st = StateOf(L);
  if (st && st->debugSink) {
    st->debugSink(text);
    return;
  }
  std::fputs(text, stdout);
  std::fflush(stdout);
}

void SetDebugSink(VmState *L, void (*sink)(const char *text)) {
  if (qmSystemState *st = StateOf(L)) st->debugSink = sink;
}

void SetDebugInput(VmState *L, std::FILE *input) {
  if (qmSystemState *st = StateOf(L)) st->debugInput = input;
}

char *ReadDebugLine(VmState *L, char *out, size_t size) {
  out[0] = 0;
  const qmSystemState *st = StateOf(L);
  if (!std::fgets(out, static_cast<int>(size), st && st->debugInput ? st->debugInput : stdin)) {
    out[0] = 0;
    return out;
  }
  size_t n = std::strlen(out);
  while (n > 0 && (out[n - 1] == '\n' || out[n - 1] == '\r')) out[--n] = 0;
  return out;
}

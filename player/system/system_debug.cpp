#include "player/system/system_debug.h"

#include <cstring>

namespace {

void (*gSink)(const char *text) = nullptr;
std::FILE *gInput = nullptr;

}  // namespace

void DebugWrite(const char *text) {
  if (gSink) {
    gSink(text);
    return;
  }
  std::fputs(text, stdout);
  std::fflush(stdout);
}

void SetDebugSink(void (*sink)(const char *text)) { gSink = sink; }
void SetDebugInput(std::FILE *input) { gInput = input; }

char *ReadDebugLine(char *out, size_t size) {
  out[0] = 0;
  if (!std::fgets(out, static_cast<int>(size), gInput ? gInput : stdin)) {
    out[0] = 0;
    return out;
  }
  size_t n = std::strlen(out);
  while (n > 0 && (out[n - 1] == '\n' || out[n - 1] == '\r')) out[--n] = 0;
  return out;
}

#include "platform/process.h"

#include <csignal>
#include <cstring>

#include "platform/path.h"
#include "platform/time.h"

namespace {

struct PlatformState {
  int initialised;
  qmTimeval started;
};

PlatformState gPlatform{};
volatile std::sig_atomic_t gQuitRequested = 0;
volatile std::sig_atomic_t gQuitSignalled = 0;

// The first signal asks the script to end; a second one ends a process that did not listen.
void OnQuitSignal(int signal) {
  if (gQuitSignalled) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  gQuitSignalled = 1;
  gQuitRequested = 1;
}

}  // namespace

void RequestQuit() { gQuitRequested = 1; }
int IsQuitRequested() { return gQuitRequested != 0; }
void ClearQuitRequest() { gQuitRequested = 0; }

uint32_t InitPlatform() {
  GetTimeval(&gPlatform.started);
  gPlatform.initialised = 1;
  std::signal(SIGINT, OnQuitSignal);
  std::signal(SIGTERM, OnQuitSignal);
  return 0;
}

int ShutdownPlatform() {
  if (gPlatform.initialised) {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
  }
  gPlatform = PlatformState{};
  gQuitRequested = 0;
  gQuitSignalled = 0;
  return 0;
}

void GetBundlePath(char *out) {
  GetExecutablePath(out);
  char *slash = std::strrchr(out, '/');
  if (slash) *slash = 0;
  else out[0] = 0;
}

void GetBundleArguments(uint32_t, uint32_t, char *out, size_t size) {
  if (size) out[0] = 0;
}

const char *GetStartupDocument() { return nullptr; }

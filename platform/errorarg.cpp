#include "platform/errorarg.h"

#include <atomic>

namespace {
// Installed once at start-up: the way platform code, which reaches nothing above it, names a file
// in an error.
std::atomic<qmErrorArgumentSetter> gErrorArgumentSetter{nullptr};
}

void InstallErrorArgumentSetter(qmErrorArgumentSetter setter) { gErrorArgumentSetter.store(setter); }

void SetPlatformErrorArgument(const char *text) {
  if (qmErrorArgumentSetter setter = gErrorArgumentSetter.load()) setter(text);
}

#include "platform/errorarg.h"

#include <atomic>

namespace {
std::atomic<qmErrorArgumentSetter> installedSetter{nullptr};
}

void InstallErrorArgumentSetter(qmErrorArgumentSetter setter) { installedSetter.store(setter); }

void SetPlatformErrorArgument(const char *text) {
  if (qmErrorArgumentSetter setter = installedSetter.load()) setter(text);
}

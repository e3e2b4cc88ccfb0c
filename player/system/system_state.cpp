#include "player/system/system_state.h"

#include <cstring>

#include "platform/catalog.h"

namespace {

qmSystemState gState{};

}  // namespace

qmSystemState *SystemState() { return &gState; }

void ResetSystemState() {
  if (gState.catalog) CatalogClose(gState.catalog);
  std::memset(&gState, 0, sizeof gState);
}

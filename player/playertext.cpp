#include "player/playertext.h"

#include "platform/catalog.h"

namespace {

qmCatalog *gCatalog = nullptr;

const char *BuiltinText(int32_t index) {
  switch (index) {
    case MSG_OPENING_SCRIPT: return "Opening script %s";
    case MSG_COMPILING_SCRIPT: return "Compiling script";
    case MSG_LOADING_PLUGIN: return "Loading plugin %s";
    case MSG_LOADING_APPLET: return "Loading applet %s";
    case MSG_ERROR: return "Error";
    case MSG_PLUGIN_REASON: return "(Reason: %s)\n";
    default: return "";
  }
}

}  // namespace

void SetPlayerCatalog(qmCatalog *catalog) { gCatalog = catalog; }
qmCatalog *GetPlayerCatalog() { return gCatalog; }
const char *PlayerText(int32_t index) { return CatalogGetString(gCatalog, index, BuiltinText(index)); }

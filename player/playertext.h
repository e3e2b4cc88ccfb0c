// The player's own status words (beside the runtime's message table), translated by the
// player's catalog when it has them.
#pragma once
#include <cstdint>

struct qmCatalog;

enum : int32_t {
  MSG_OPENING_SCRIPT = 97,
  MSG_COMPILING_SCRIPT = 106,
  MSG_LOADING_PLUGIN = 107,
  MSG_LOADING_APPLET = 287,
  MSG_ERROR = 402,
  MSG_PLUGIN_REASON = 616,
};

// The player's catalog ("Quenmoor.catalog"), or null; also handed to the runtime's messages.
void SetPlayerCatalog(qmCatalog *catalog);
qmCatalog *GetPlayerCatalog();
const char *PlayerText(int32_t index);

// The system library's own state besides its timers, one record per run on the player
// context: the user catalog, the debug-output switch and the folders the file and path
// requesters remember.
#pragma once
#include <cstdint>
#include <cstdio>

struct qmCatalog;

inline constexpr uint32_t kRequestPathSize = 1024;

struct qmSystemState {
  qmCatalog *catalog;  // the one open user catalog, or null
  int32_t debugOutput;
  int32_t haveLastFile;
  char lastFileFolder[kRequestPathSize];
  char lastFileName[kRequestPathSize];
  char lastPathFolder[kRequestPathSize];
  // Where the debug output goes and DebugPrompt reads instead of standard output and input
  // (tests catch them there); null for the standard streams.
  void (*debugSink)(const char *text);
  std::FILE *debugInput;
};

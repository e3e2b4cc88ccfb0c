// The video library's records: one per open video, and the library's state of the run.
#pragma once
#include <atomic>
#include <cstdint>

#include "runtime/objectid.h"

struct qmDisplay;
struct qmMutex;
struct qmVideoEngine;

enum : uint32_t { VIDSTATE_STOPPED, VIDSTATE_PLAYING, VIDSTATE_PAUSED, VIDSTATE_DISPLAYPAUSE, VIDSTATE_ENDED };

struct qmVideo {
  qmObjectHeader header;  // type VIDEO
  qmVideoEngine *engine;  // owned
  int32_t x, y;               // as the script asked, in display coordinates
  int32_t screenX, screenY;   // after the display's scaling
  int32_t nativeWidth, nativeHeight;
  int32_t width, height;              // as the script asked
  int32_t screenWidth, screenHeight;  // after the display's scaling
  uint32_t smooth;
  uint32_t duration;  // milliseconds
  std::atomic<uint32_t> state;  // VIDSTATE_*; the engine's refresh thread sets VIDSTATE_ENDED
  uint32_t savedState;          // to return to after VIDSTATE_DISPLAYPAUSE
  qmDisplay *display;           // while shown
  int32_t volume;               // 0..64
  uint32_t seekable;
  uint32_t backend;  // VIDBACKEND_*
  char tempFile[1024];  // the copy a linked file plays from, removed with the record; or empty
};

struct qmVideoState {
  qmMutex *listLock;  // held while a record is linked in or out, and by the engine's end report
  int32_t driver;     // ForceVideoDriver's choice; -1 at start
};

// Shown: playing, paused or ended with the last picture in view.
inline bool VideoShown(const qmVideo *v) {
  uint32_t s = v->state.load();
  return s == VIDSTATE_PLAYING || s == VIDSTATE_PAUSED || s == VIDSTATE_ENDED;
}

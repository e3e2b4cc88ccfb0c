// DumpVideo's work: a stopped engine's video decoded from its beginning to its end on the
// caller's thread, shown picture by picture, optionally saved to numbered picture files and one
// WAVE file of its sound.
#pragma once
#include <cstdint>

struct qmDisplay;
struct qmFormatPlugins;
struct qmScene;
struct qmVideoEngine;

struct qmVideoDumpRequest {
  const qmScene *scene;
  qmDisplay *display;  // shows each picture with its top-left corner at x, y; null: none shown
  int32_t x, y;
  const char *baseName;  // null: nothing is written; else base%d.ext and base.wav
  int32_t format;        // IMGFMT_BMP to IMGFMT_ILBM
  const qmFormatPlugins *plugins;
  // Called after each packet: 1 when the run is to stop.
  int (*pump)(void *user);
  void *pumpUser;
};

// 0; ERR_WRONGUSAGE for a started engine or another format; ERR_MEM; ERR_WRITEFILE (the file's
// name is the error argument), ERR_WRITE; the picture saver's error; ERR_USERABORT when the pump
// asked to stop. The WAVE file is complete on every path once created.
uint32_t DumpVideoEngine(qmVideoEngine *e, const qmVideoDumpRequest *req);

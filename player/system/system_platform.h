// What the system library asks of the desktop layer and of libraries that come later: the
// requesters and dialogs, the clipboard, the browser, the timed wait that keeps events flowing,
// the clock of the stopwatch timers, the layer lookups, the plug-in list and the description of
// the running program. They are entries of one record per run on the player context; the
// player's wiring (player/wiring.cpp) fills them after the libraries open, tests fill them
// directly. A requester, clipboard or layer entry left null makes the command fail with the
// error a failed platform call gives.
#pragma once
#include <cstdint>

#include "platform/requesters.h"
#include "platform/time.h"
#include "player/system/system_program.h"

struct VmState;
struct qmObjectId;
struct qmObjectData;

// Requesters: each returns 0 with its outputs set, or an error code. Cancelling is no error:
// *confirmed = 0 (or the stated "cancelled" value).
struct qmSystemRequesters {
  // *button: 1.. from the left, the last button 0.
  uint32_t (*message)(const char *title, const char *body, const char *buttons, int32_t icon, int32_t *button);
  // mode 0 open, 1 open several, 2 save; folder and file may be null.
  uint32_t (*file)(const char *title, const char *pattern, int32_t mode, const char *folder, const char *file,
                   int32_t *confirmed, qmFileRequestResult *out);
  // *path: a MemAlloc allocation, null when cancelled.
  uint32_t (*path)(const char *title, const char *folder, char **path);
  uint32_t (*text)(const char *title, const char *body, const char *defaultText, int32_t number, int32_t maxLength,
                   int32_t password, char *out, int32_t *confirmed);
  // entries: count consecutive zero-ended texts; *index -1 when cancelled or nothing chosen.
  uint32_t (*list)(const char *title, const char *body, const char *entries, uint32_t count, int32_t active,
                   int32_t *index);
  // colour -1 starts on black; *out -1 when cancelled.
  uint32_t (*color)(const char *title, int32_t colour, int32_t *out);
  uint32_t (*font)(const char *title, const char *font, int32_t size, int32_t *confirmed, qmFontRequestResult *out);
  // Around every dialog: flag the run's current display as showing a requester; afterwards
  // clear its input states.
  void (*begin)(VmState *L);
  void (*end)(VmState *L);
};

// Clipboard kinds as the script sees them.
enum : int32_t {
  CLIPKIND_EMPTY = 0,
  CLIPKIND_TEXT = 1,
  CLIPKIND_IMAGE = 2,
  CLIPKIND_SOUND = 3,
  CLIPKIND_UNKNOWN = 4,
};

struct qmSystemClipboard {
  // *text (MemAlloc) for text, *image (the platform's decoded picture) for an image.
  uint32_t (*read)(int32_t *kind, char **text, void **image);
  uint32_t (*peek)(int32_t *kind);
  uint32_t (*writeText)(VmState *L, const char *text);
  // The bitmap of the brush with that id.
  uint32_t (*writeBrush)(VmState *L, const qmObjectId *brush);
  // Makes a brush with an automatic id from a picture that read returned, pushes its id and
  // takes the picture; on failure the picture is freed by freeImage.
  uint32_t (*pushImageAsBrush)(VmState *L, void *image);
  void (*freeImage)(void *image);
  uint32_t (*clear)(VmState *L);
};

// What the layers library answers for the system library.
struct qmSystemLayers {
  // The data list of the layer named by the argument at index (a number or a name) of the
  // current background picture: 0, ERR_NOLAYERS or ERR_LAYERRANGE.
  uint32_t (*layerDataList)(VmState *L, int index, qmObjectData ***list);
  // Frees cached objects no longer used (after a collection).
  void (*freeUnusedCache)(VmState *L);
};

struct qmSystemServices {
  qmSystemRequesters requesters;
  qmSystemClipboard clipboard;
  qmSystemLayers layers;
  uint32_t (*openURL)(const char *url);  // the browser
  // The stopwatch clock, and the timed wait of Wait and WaitTimer, which pumps events and
  // gives ERR_USERABORT on a quit.
  void (*clock)(qmTimeval *out);
  uint32_t (*timedWait)(VmState *L, uint32_t ms);
  // Fills the table on the stack top with one table per loaded plug-in (GetVersion's
  // "plugins"); null leaves it empty.
  void (*listPlugins)(VmState *L);
  qmProgramInfo program;
};

// What a run has before its wiring: no dialogs, clipboard, layers or plug-in list; the
// platform's browser and clock, a plain sleep that pumps no events, and an empty program
// record.
void SetDefaultSystemServices(qmSystemServices *s);

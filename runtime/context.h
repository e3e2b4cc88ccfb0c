// The player context: what one run keeps beside the VM, reached from the VM's global state.
// The runtime support creates it with the run and frees it at the end; each library hangs its
// own state off it in its init and takes it down in its free, and the services one layer
// answers for another are entries here, filled by the player's wiring at start-up.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cancel.h"

struct VmState;
struct qmObjectRegistry;
struct qmEventState;
struct qmSystemServices;
struct qmSystemState;
struct qmDosState;
struct qmSoundState;
struct qmNetworkState;
struct qmImageLayer;
struct qmTextRequest;
struct qmObjectId;
struct qmBitmap;
struct qmMask;  // an alpha channel is a qmMask too
struct qmPlaneSet;
struct qmScene;
struct qmDisplay;
struct qmVectorEngine;
struct qmFormatPlugins;
struct qmVideoState;
struct qmVideoAudioOps;
struct qmEventQueue;
struct qmRuntimeTags;
struct qmUserErrors;
struct qmCommandTableRef;

enum : int32_t { DISPVIDEO_STOP, DISPVIDEO_PAUSE, DISPVIDEO_RESUME, DISPVIDEO_RESCALE, DISPVIDEO_REDRAW };

struct qmPlayerContext {
  qmObjectRegistry *objects;  // every library's objects (objlist.h)
  // The runtime's own records of the run, made and bound by the runtime support at its start,
  // deleted at its end: the event queue, the runtime tags with their hook lists, the user errors,
  // the command tables the libraries and plug-ins registered.
  qmEventQueue *queue;
  qmRuntimeTags *tags;
  qmUserErrors *userErrors;
  qmCommandTableRef *commands;
  qmEventState *event;        // the event dispatcher and the event library's sources
  // The displays, the current display and picture, the output selection, the layer batch
  // (display/scene.h); made with the script state, freed with the context by freeScene.
  qmScene *scene;
  void (*freeScene)(qmScene *scene);
  // The system library's (player/system): what other layers answer for it, and its own state.
  qmSystemServices *system;
  qmSystemState *systemState;
  // What a library answers for the layers below it; null until that library fills it in.
  // The display library: at start-up, display 1 and the others opened for the start mode (its
  // numbers as OpenFirstDisplay in display/display/displaylib.h takes them); a display-tags
  // table at the stack index applied to a display (DisplayBGPic). 0 or an error.
  uint32_t (*openFirstDisplay)(VmState *L, int32_t startMode, int32_t screenWidth, int32_t screenHeight);
  uint32_t (*setDisplayAttributes)(VmState *L, int table, qmDisplay *display, int32_t noRefresh);
  // The display library: the declared background picture of that number made ready to be shown
  // (0, nothing to do when there is none), before a declared display showing it is made; on
  // failure *line is the picture's own declaration's line.
  uint32_t (*prepareDeclaredBGPic)(VmState *L, uint32_t id, int32_t *line);
  // The dos library's open files' companions: its I/O mode, temporary files and string files.
  qmDosState *dos;
  // The network library's time-out and its socket layer's state.
  qmNetworkState *network;
  // The event library: one pass of the event pump for commands that run long (copies,
  // patches); a quit request sets the VM's end flag. Null: nothing to pump.
  void (*serviceEvents)(VmState *L);
  // The event library: one full pump (1 when the script is to stop), and a wait of ms
  // milliseconds while pumping (0, or ERR_USERABORT on a quit). Null: nothing to pump.
  int (*pumpEvents)(VmState *L);
  uint32_t (*waitEvents)(VmState *L, uint32_t ms);
  // The sound library's work in the pump: its pending events at every full pump, its channel
  // upkeep once a second. Called only while the sound library's state stands.
  void (*deliverAudioEvents)(qmPlayerContext *ctx);
  void (*updateAudioChannels)(qmPlayerContext *ctx);
  // The layers library: the position (from 1) of the current picture's layer of that name, 0 none.
  int32_t (*findLayerByName)(const qmScene *scene, const char *name);
  // The layers library: with layers on, the picture of a text block (PRINT, TEXTOUT) or of a shown
  // text object (TEXTOBJECT) becomes a layer of that kind that keeps a copy of the request (its
  // planes are handed over). 0 or an error.
  uint32_t (*addTextLayer)(qmScene *scene, const qmTextRequest *request, qmImageLayer *layer);
  // The layers library: with layers on, the picture the image display core made becomes a
  // layer of the current picture (its planes are handed over). 0 or an error.
  uint32_t (*addImageLayer)(qmScene *scene, qmImageLayer *request);
  // The layers library: Cls with layers on takes every layer of the current picture away. 0 or
  // an error.
  uint32_t (*removeAllLayers)(qmScene *scene);
  // The layers library: the most recent layer of that type drawn for no object goes (InKeyStr's
  // echoed characters). 0 or an error.
  uint32_t (*removeLastLayer)(qmScene *scene, int32_t type);
  // The layers library's answers to GetAttribute for a layer (the layer is argument 2): the
  // results pushed or an error.
  uint32_t (*readLayerAttribute)(VmState *L, int32_t attribute);
  // The sound library's state, and its answers to GetAttribute for samples and music (the
  // object type, the attribute; the object id is argument 2): the results pushed or an error.
  qmSoundState *sound;
  uint32_t (*readSoundAttribute)(VmState *L, uint32_t type, int32_t attribute);
  // The text library: the current picture of a text object (borrowed: its planes, mask and
  // alpha may be null, and its size). 0 or the missing-object error.
  uint32_t (*textObjectPicture)(const qmScene *scene, const qmObjectId *id, const qmBitmap **bitmap, const qmMask **mask,
                                const qmMask **alpha, int32_t *width, int32_t *height);
  // The text library: where a text object's picture stands from the object's own position (its
  // drawing offset, in pixels). 0 or the missing-object error.
  uint32_t (*textObjectOffset)(const qmScene *scene, const qmObjectId *id, int32_t *x, int32_t *y);
  // The text library: a text object's lock counter, which a holder (a move) raises while it
  // holds the object; freeing or changing a held object is refused. 0 or the missing-object error.
  uint32_t (*textObjectLock)(const qmScene *scene, const qmObjectId *id, uint32_t **lock);
  // The text library: InsertLayer of a text object, a TEXTOBJECT layer at the 1-based position
  // with the object's picture at (x, y), hidden on request, not yet shown. 0 or an error.
  uint32_t (*insertTextObjectLayer)(qmScene *scene, const qmObjectId *id, int32_t x, int32_t y, int32_t position,
                                    int32_t hidden);
  // The text library: the number of the script's constant named at the start of text (after a
  // formatting tag's '#'), for the text layers drawn anew; a qmConstantLookup whose context is
  // the scene.
  uint32_t (*tagConstant)(void *scene, const char *text, size_t *consumed, double *number);
  // The anim engine: for a Select* command (output type 3, 28 or 30), the planes of an anim's
  // frame (from 1) to draw into, the anim's size and record; with prepare, the frame first gets
  // the mask or alpha channel that output needs. 0 or an error.
  uint32_t (*animFramePlanes)(qmScene *scene, const qmObjectId *id, int32_t frame, uint32_t outputType,
                              int32_t prepare, qmPlaneSet *planes, int32_t *width, int32_t *height, void **record);
  // The text library's answers to GetAttribute for fonts, text objects and the current font of
  // a display (the object type, the attribute; argument 2 names the object): the results pushed
  // or an error.
  uint32_t (*readTextAttribute)(VmState *L, uint32_t type, int32_t attribute);
  // The dos, memblock and event libraries' answers to GetAttribute for files, memory blocks,
  // event handlers, intervals and timeouts (the object type, the attribute; argument 2 names
  // the object): the results pushed or an error.
  uint32_t (*readDosAttribute)(VmState *L, uint32_t type, int32_t attribute);
  uint32_t (*readMemoryAttribute)(VmState *L, uint32_t type, int32_t attribute);
  uint32_t (*readEventAttribute)(VmState *L, uint32_t type, int32_t attribute);
  // The plug-in manager: 1 with the entries of the loaded vector plug-in (graphics/
  // vector_requests.h), 0 when none is loaded.
  int (*findVectorEngine)(qmVectorEngine *out);
  // The vectorgraphics library: a shape of the draw library (its position not yet resolved, its
  // tags read) drawn as a path while ForcePathUse is on. 0 or an error.
  uint32_t (*drawShapeAsPath)(VmState *L, const struct qmShapeRequest *req, const struct qmDisplayTags *tags);
  // The text library: the current font and the default text encoding, for vector text.
  struct qmFont *(*currentFont)(VmState *L);
  int32_t (*defaultEncoding)(VmState *L);
  // The desktop's error requester for the final report; null: standard output.
  void (*showErrorRequester)(const char *title, const char *text);
  // The plug-in manager: the formats loader and saver plug-ins add (runtime/formatplugins.h);
  // null: the player's own formats alone.
  const qmFormatPlugins *formatPlugins;
  // The video library's state of the run; the sound library's channel and end event for videos;
  // the video library's answer to a display whose window closes (DISPVIDEO_PAUSE), opens again
  // (DISPVIDEO_RESUME) or goes (DISPVIDEO_STOP), that changed its size or scale (DISPVIDEO_RESCALE)
  // or was drawn again (DISPVIDEO_REDRAW).
  qmVideoState *video;
  const qmVideoAudioOps *videoAudio;
  void (*videosOfDisplay)(VmState *L, qmDisplay *display, int32_t op);
  // GetAttribute of a video (argument 2 names it): the results pushed or an error.
  uint32_t (*readVideoAttribute)(VmState *L, int32_t attribute);
  // 1 when a video is shown on the display (playing, paused or ended in view).
  int (*videoOnDisplay)(VmState *L, const qmDisplay *display);
  // 1 when a video shown on the display covers the pixel of its window.
  int (*videoAtPoint)(VmState *L, const qmDisplay *display, int32_t x, int32_t y);
};

// The context of the state's run, or null for a VM that runs without the runtime support.
qmPlayerContext *GetPlayerContext(VmState *L);
// The run's scene, or null for a null state or a VM opened without the player's start-up.
qmScene *GetScene(VmState *L);
// What a command that runs long hands its engine: each poll runs the event pump when due and
// answers ERR_USERABORT once the script is asked to quit.
qmCancel CommandCancel(VmState *L);
// 0 or ERR_MEM: a new context, bound to L's global state.
uint32_t OpenPlayerContext(VmState *L);
// Frees what the runtime itself keeps in the context and unbinds it.
void ClosePlayerContext(VmState *L);

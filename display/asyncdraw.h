// Asynchronous draw objects: a long drawing operation (a transition, an object move, an anim
// playback) that the script advances one frame at a time from its own loop. The producing
// library hands over callbacks and its state; the objects are ASYNCDRAW objects of the run's
// object lists (scene->objects), in creation order, each bound to the display that was current
// when it was made.
#pragma once
#include <cstdint>

#include "runtime/objectid.h"

struct qmScene;
struct qmDisplay;

// Kinds of producer.
enum : int32_t { ADF_FX = 0, ADF_MOVEOBJECT = 1, ADF_ANIM = 2 };

// Operations of the control callback; the argument and the answer of each are noted.
enum : int32_t {
  ADOP_REPLACELAYER = 0,  // arg: a layer about to be replaced by the record before it; 0 or an error code
  ADOP_LAYERCHANGED = 1,  // arg: a layer whose image or filters changed; 0 or an error code
  ADOP_FRAMECOUNT = 2,    // arg 0: the number of frames
  ADOP_CURFRAME = 3,      // arg 0: the frame drawn last (0 before the first)
  ADOP_SEEK = 4,          // arg: int32_t * frame number; draws that frame: 0 or an error code
  ADOP_REDRAW = 5,        // arg 0: draws the current frame again onto the display; 0
  ADOP_DRAWNOBJECT = 6,   // arg: void ** receiving the object drawn (its layer record on a double buffer)
  ADOP_PENDINGPICTURE = 7,  // arg: void ** receiving the picture a pending operation will show
  ADOP_DOUBLEBUFFER = 8,  // arg 1 before, 0 after a frame drawn into the double buffer
  ADOP_LAYERCHANGING = 9,  // arg: a layer whose image or filters are about to change (op 1 follows); 0
  ADOP_LAYERGONE = 10,     // arg: a layer about to be freed; a producer holding it lets it go; 0
};

// Draws one frame and sets *finished when it was the last: 0 or an error code.
using qmAsyncFrameFn = uint32_t (*)(void *userData, int32_t *finished);
// Brings the operation to its final state; flag 1 after the last frame, else the finished word.
using qmAsyncFinishFn = void (*)(void *userData, int32_t flag);
// Releases the producer's state, exactly once: flag 1 after a normal end, 0 when cancelled,
// freed with its display or at exit, the finished word when FinishAsyncDraw ends it.
using qmAsyncFreeFn = void (*)(void *userData, int32_t flag);
// One of the ADOP_* operations.
using qmAsyncControlFn = intptr_t (*)(int32_t op, intptr_t arg, void *userData);

struct qmAsyncDraw {
  qmObjectHeader head;  // type ASYNCDRAW, always an automatic id
  qmDisplay *display;   // current at creation
  int32_t kind;         // ADF_*
  int32_t finished;     // set by the frame callback after the last frame
  qmAsyncFrameFn frame;
  uintptr_t producerWord;  // kept for the producer, not read here
  qmAsyncFinishFn finish;  // or null
  qmAsyncFreeFn free;
  qmAsyncControlFn control;  // or null
  void *userData;            // the producer's state, handed to every callback
  int32_t ending;            // its finish or free callback runs: nothing else may end it
};

// Appends an object for the scene's current display: 0 or ERR_MEM (nothing added). *out (when
// given) is the record, whose address is the handle the producer hands to the script.
uint32_t CreateAsyncDraw(qmScene *scene, int32_t kind, qmAsyncFrameFn frame, uintptr_t producerWord,
                         qmAsyncFinishFn finish, qmAsyncFreeFn free, qmAsyncControlFn control, void *userData,
                         qmAsyncDraw **out);
// 1 when any object belongs to the display.
int32_t IsDisplayInAsyncDraw(const qmScene *scene, const qmDisplay *display);
// The first non-null picture an ADF_FX object names through ADOP_PENDINGPICTURE, else null.
void *QueryPendingAsyncDraw(const qmScene *scene);
// Calls the control callback of every object that has one with (op, arg); the first non-zero
// answer (an error code for the ops that answer one), else 0.
uint32_t BroadcastAsyncDraws(const qmScene *scene, int32_t op, intptr_t arg);
// 1 when an object names that object through ADOP_DRAWNOBJECT.
int32_t IsObjectInAsyncDraw(const qmScene *scene, const void *object);

// The object an id names: 0, ERR_FINDARRAY for an automatic id, else ERR_FINDASYNCDRAW with the
// number as error argument.
uint32_t FindAsyncDraw(const qmScene *scene, const qmObjectId *id, qmAsyncDraw **out);
// AsyncDrawFrame once the output and the id are checked: without hasFrame the next frame, or
// the end after the last one; with it a jump to that frame (0: the next one). *result is the
// command's answer: 1 when the object ended here (it is freed then) or a jump reached the last
// frame. 0 or an error code (ERR_NOLAYERS, ERR_ANIMFRAME, the callbacks' own); on an error the
// object stays.
uint32_t AdvanceAsyncDraw(qmScene *scene, qmAsyncDraw *ad, int32_t hasFrame, double frame, int32_t *result);
// 0 when the scene's output takes asynchronous frames (the display or its double buffer), else
// the Select* target's code.
uint32_t CheckAsyncDrawOutput(const qmScene *scene);
// FinishAsyncDraw: finish and free with the finished word, then the record goes.
void FinishAsyncDrawObject(qmScene *scene, qmAsyncDraw *ad);
// CancelAsyncDraw: free callback with 0, then the record goes.
void CancelAsyncDrawObject(qmScene *scene, qmAsyncDraw *ad);
// Ends every object of the display as CancelAsyncDraw does, before the display closes or goes.
void EndDisplayAsyncDraws(qmScene *scene, const qmDisplay *display);
// Ends every object as CancelAsyncDraw does (the graphics library's clean-up).
void FreeAllAsyncDraws(qmScene *scene);

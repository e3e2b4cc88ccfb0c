// Move lists: layer operations a script collects with AddMove and carries out together with
// DoMove, so that one frame of animation reaches the display at once with one merged set of
// refresh rectangles.
#pragma once
#include <cstdint>

#include "display/dirtyrects.h"
#include "layers/layer.h"
#include "runtime/objectid.h"

struct qmScene;

inline constexpr int32_t kMoveListSize = 512;

struct qmMoveEntry {
  int32_t kind;       // QMTYPE_BRUSH, UNDO, LAYER, HIDEBRUSH, INSERTBRUSH, ...
  qmObjectId object;  // a layer position in id for the kinds that address a layer
  int32_t x, y;
  int32_t extra;      // frame, insert position, show/hide switch or undo level
  int32_t done;
  int32_t hasRect;    // whether rect is to be refreshed
  qmDirtyRect rect;   // inclusive corners
};

struct qmMoveList {
  qmObjectHeader header;  // type MOVELIST
  int32_t count;
  qmMoveEntry entries[kMoveListSize];
};

// The list of that id in the scene's object lists, or null.
qmMoveList *FindMoveList(const qmScene *scene, const qmObjectId *id);
// Appends the entry to the list of that id, made (and listed) when there is none (an automatic
// id asked for with GetNewObjectIdArg gets a new list and its handle in *id): 0, ERR_INTERNAL
// when it holds kMoveListSize entries, ERR_MEM (nothing made).
uint32_t AddMoveEntry(qmScene *scene, qmObjectId *id, const qmMoveEntry &entry, qmMoveList **out);
// Unlists and frees the list: 0, or the missing-object error.
uint32_t ClearMoveList(qmScene *scene, const qmObjectId *id);
// Frees every list and the layers the lists last found.
void FreeAllMoveLists(qmScene *scene);

// Moves the layer to the entry's position (resolved against the layer's size and anchor)
// without refreshing, shows or hides it, and gives the entry the rectangle to refresh.
void MoveLayerStep(qmScene *scene, qmLayer *layer, qmMoveEntry *entry, int32_t layerKind);
// Merges the refresh rectangles that overlap (touching ones stay apart): the first of two
// becomes the box of both, the second loses its rectangle. Returns how many are left.
int32_t MergeMoveRects(qmMoveEntry *entries, int32_t count);
// Carries the list out on the scene's background picture (layers on, output checked by the
// caller) and refreshes the merged rectangles. On an error the entries carried out before stay
// carried out and their rectangles are refreshed all the same.
uint32_t ExecuteMoveList(qmScene *scene, qmMoveList *list);

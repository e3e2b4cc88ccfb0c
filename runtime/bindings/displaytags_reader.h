// Readers of the display-tags table, the optional last argument of every drawing command, into
// the geometry and tags records the display engine takes (display/displaytags.h).
#pragma once
#include <cstdint>

#include "display/displaytags.h"

struct VmState;
struct qmScene;
struct qmImageRequest;

// Reads the table at argument index (when it is the last argument) over the records, starting
// from the scene's defaults with DTAG_INIT: 0 or the code of the first bad key
// (ERR_WRONGUSAGE, ERR_TABEXPECTED, ERR_INVINSERT, ERR_NAMETOOLONG, or an error of the
// "filters" list, ReadFilterTable). The source size builds the matrix and the scene's picture
// bounds the insert position, unless DTAG_OBJECTLATER leaves both to FinishDisplayTags.
uint32_t ParseDisplayTags(VmState *L, const qmScene *scene, int32_t index, int32_t sourceWidth, int32_t sourceHeight,
                          int32_t width, int32_t height, int32_t smoothDefault, qmTransform *transform,
                          qmDisplayTags *tags, int32_t flags);
uint32_t ReadShadowOptions(VmState *L, int32_t table, qmShadowBlock *shadow, int32_t *found);
uint32_t ReadBorderOptions(VmState *L, int32_t table, int32_t text, qmBorderBlock *border, int32_t *found);

// The tags of a picture object the image display core draws (its argument at index, a table
// required when needTable), read into the records and pointed to by the request. The code of a
// bad table travels in the request: the core reports it after the object's own checks.
void ReadImageRequestTags(VmState *L, const qmScene *scene, int32_t index, int32_t needTable, qmTransform *transform,
                          qmDisplayTags *tags, qmImageRequest *request);

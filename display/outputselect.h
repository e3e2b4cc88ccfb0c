// Output selection: Select* commands send every drawing into an off-screen object until
// EndSelect. The display keeps one target record (a qmBGPic) for it and saves its text cursor,
// margins and layer switch while the selection lasts.
#pragma once
#include <cstdint>

#include "runtime/objectid.h"

struct qmDisplay;
struct qmScene;
struct qmPlaneSet;

enum : uint32_t { SELMODE_NORMAL = 0, SELMODE_COMBO = 1, SELMODE_LAYERS = 2 };


// Makes the object (type BGPIC, BRUSH, ANIM or LAYER; frame from 1 for anims and anim layers,
// else 0) the current output of type outputType (BRUSH for pixels, MASK, ALPHACHANNEL).
uint32_t SelectOutputCore(qmScene *scene, uint32_t objectType, const qmObjectId *id, uint32_t outputType, int32_t frame,
                          uint32_t mode, uint32_t comboValue);
// Before the first drawing into a selected mask or alpha channel of the scene's current display:
// the target gets a fully visible mask (and loses its alpha channel) or an opaque alpha channel
// (and loses its mask).
uint32_t PrepareMaskOrAlphaOutput(qmScene *scene);
// Ends the display's selection: back to the display, or back to double buffering when the
// selection suspended it. The selected picture's image sets are brought in step.
uint32_t EndSelectCore(qmScene *scene, qmDisplay *display, int32_t noRefresh);

// The drawing state a selection saves on its display (only when nothing is saved yet) and
// EndSelect gives back.
void SaveDisplayForSelect(qmDisplay *display, uint32_t outputType, int32_t targetWidth);
void RestoreDisplayAfterSelect(qmDisplay *display);

// The "text" library of script commands.
#pragma once

#include <cstddef>

#include "runtime/library.h"

extern const qmLibrary kTextLibrary;

struct VmState;
struct qmObjectId;
struct qmBitmap;
struct qmMask;
struct qmScene;

// The services the text library answers for other layers (player/wiring.cpp puts them on the
// player context; runtime/context.h describes each).
uint32_t TextObjectPicture(const qmScene *scene, const qmObjectId *id, const qmBitmap **bitmap,
                           const qmMask **mask, const qmMask **alpha, int32_t *width, int32_t *height);
uint32_t TextObjectOffset(const qmScene *scene, const qmObjectId *id, int32_t *x, int32_t *y);
uint32_t TextObjectLock(const qmScene *scene, const qmObjectId *id, uint32_t **lock);
uint32_t TextInsertObjectLayer(qmScene *scene, const qmObjectId *id, int32_t x, int32_t y, int32_t position,
                               int32_t hidden);
uint32_t TextTagConstant(void *scene, const char *text, size_t *consumed, double *number);
uint32_t TextReadAttribute(VmState *L, uint32_t type, int32_t attribute);

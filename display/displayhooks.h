// Satellites: what a plug-in attaches to a display to follow it (a size change reaches it as
// message 4), and the display operations a satellite asks for, on the display holding it.
#pragma once
#include <cstdint>

#include "runtime/objectid.h"

struct qmScene;
struct qmDisplay;
struct qmDisplayHook;
struct qmTagItem;

using qmDisplayHookFunction = void (*)(qmDisplayHook *node, uint32_t message, void *data, void *userData);
inline constexpr uint32_t kSatelliteResized = 4;  // data: {width, height}

// A new satellite appended to the display of that id; tags 1 and 2 (a pointer to an int32_t)
// receive the background picture's width and height. Null while video recording, for a missing
// display, one whose shown picture has a mask, alpha plane or transparent colour, or without
// memory.
qmDisplayHook *AttachDisplayHook(qmScene *scene, const qmObjectId *display, qmDisplayHookFunction function,
                                 void *userData, qmTagItem *tags);
// The display holding the node, or null.
qmDisplay *DisplayOfHook(const qmScene *scene, const qmDisplayHook *node);
void DetachDisplayHook(qmScene *scene, qmDisplayHook *node);
void RefreshHookedDisplay(qmScene *scene, qmDisplayHook *node);
// 0 or ERR_FINDDISPLAY when no display holds the node, or the resize's error; posts a size
// event for the display on success; the satellites are not told.
uint32_t ResizeHookedDisplay(qmScene *scene, qmDisplayHook *node, int32_t width, int32_t height);
// Input a satellite reports for the display holding it (a null node: the first display): kind
// 0 pointer moved; 1, 2, 3 the left, right, middle button in state data3 at (data1, data2); 4
// the wheel (data3 0: up) at (data1, data2); 5 the key of code data1 in state data2 (data3 its
// character). Other kinds, and a node no display holds, do nothing.
void PostHookedDisplayEvent(qmScene *scene, qmDisplayHook *node, uint32_t kind, uint32_t data1, uint32_t data2,
                            uint32_t data3);

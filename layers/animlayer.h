// Layers that show an anim: the frame shown is the layer's own picture, replaced when the
// layer moves to another frame.
#pragma once
#include <cstdint>

struct qmScene;
struct qmLayer;

// Frame from 1; 0 the next (the first after the last), -1 the last. The layer shows it from
// now on, refreshed on the display unless noRefresh. 0, ERR_NOANMLAYER, ERR_ANIMFRAME, the
// anim's look-up error, ERR_LOADFRAME or ERR_MEM (the layer keeps its frame).
uint32_t SetAnimLayerFrame(qmScene *scene, qmLayer *layer, int32_t frame, int32_t noRefresh);

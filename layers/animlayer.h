// Layers that show an anim: the frame shown is the layer's own picture, replaced when the
// layer moves to another frame. An in-memory frame is lent by the anim (the state's ownLent),
// a disk-based one decoded into planes of the layer's own.
#pragma once
#include <cstdint>

struct qmScene;
struct qmLayer;
struct qmObjectRegistry;
struct qmAnim;

// Frame from 1; 0 the next (the first after the last), -1 the last. The layer shows it from
// now on, refreshed on the display unless noRefresh; a transition drawing the layer is told
// before and after. 0, ERR_NOANMLAYER, ERR_ANIMFRAME, the anim's look-up error, ERR_LOADFRAME,
// ERR_WRONGUSAGE (a frame of another size) or ERR_MEM (the layer keeps its frame).
uint32_t SetAnimLayerFrame(qmScene *scene, qmLayer *layer, int32_t frame, int32_t noRefresh);
// SetAnimLayerFrame for a caller that tells the transitions itself (a style change).
uint32_t ShowAnimLayerFrame(qmScene *scene, qmLayer *layer, int32_t frame, int32_t noRefresh);
// The layer's object became another anim record: a lent frame is lent by that record (the
// same frame), else kept as a copy of the layer's own, else dropped.
void FollowLentFrame(const qmObjectRegistry *objects, qmLayer *layer);
// The anim the layer shows, made the layer's own to be changed: the anim itself when it lives
// only for this layer, else a copy kept for it (the layer then shows the copy's frame). 0, the
// look-up or the copy's error.
uint32_t OwnLayerAnim(qmScene *scene, qmLayer *layer, qmAnim **out);
// ModifyLayerFrames: the anim of the layer's object gets frames inserted (count > 0) or
// removed at position as ChangeAnimFrameCount does; unless the anim lives only for this layer,
// the layer is first given a copy of its own. The layer keeps the frame it shows where that
// frame still exists (else it is at frame 0 and refreshed). 0, the look-up, copy or change
// error.
uint32_t ChangeAnimLayerFrames(qmScene *scene, qmLayer *layer, int32_t count, int32_t position);

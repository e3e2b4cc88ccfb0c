// What the graphics services need to know of the picture that drawing goes to, and the two
// settings for drawing into a selected mask or alpha channel.
#pragma once
#include <cstdint>

struct qmClipRegion;
struct qmScene;

struct qmOutputPicture {
  int32_t width, height;
  qmClipRegion **activeClip;  // where the picture keeps its active clip region; never null
  const uint32_t *pens;       // its 256 pen colours 0xRRGGBB, or null
};

// 1 with *out filled when the scene has a picture to draw to, else 0 (also for a null scene).
int32_t GetOutputPicture(const qmScene *scene, qmOutputPicture *out);

// The scene's mask mode used when drawing into a selected mask (runtime tag 5) and alpha value
// used when drawing into a selected alpha channel (tag 7; kNoAlphaValue: none). A null scene
// reads the start values and takes no setting.
inline constexpr uint32_t kNoAlphaValue = 0xFFFFFFFFu;
uint32_t GetOutputMaskMode(const qmScene *scene);
uint32_t GetOutputAlphaValue(const qmScene *scene);
void SetOutputMaskMode(qmScene *scene, uint32_t mode);
void SetOutputAlphaValue(qmScene *scene, uint32_t value);
// Back to the start values (MASKVANILLACOPY, no alpha value).
void ResetOutputSettings(qmScene *scene);

// The scene's scratch plane of clipped blits: at least bytes long, kept between calls and grown
// only; null without memory (or without a scene). FreeScene frees it too.
uint8_t *GetScratchPlane(qmScene *scene, uint32_t bytes);
void FreeScratchPlane(qmScene *scene);

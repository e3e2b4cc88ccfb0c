// Special coordinates: CENTER, LEFT, RIGHT, TOP, BOTTOM and the OUT forms, each with a window
// of 4999 on either side, so that CENTER + 10 lies 10 pixels right of the centre.
#pragma once
#include <cstdint>

struct qmScene;

enum : int32_t {
  POS_CENTER = -100000,
  POS_LEFT = -90000,
  POS_RIGHT = -80000,
  POS_TOP = -70000,
  POS_BOTTOM = -60000,
  POS_LEFTOUT = -50000,
  POS_RIGHTOUT = -40000,
  POS_TOPOUT = -30000,
  POS_BOTTOMOUT = -20000,
};

// A reference size of 0 means the scene's current picture (its active clip region when it has one,
// whose left or top edge is then the origin). The anchor fraction of the object's size is
// added to special positions only; any other value comes back unchanged.
// Every window lies within POS_CENTER - 4999 .. POS_BOTTOMOUT + 4999: a coordinate outside them
// comes back without a call.
constexpr bool MaybeSpecialPosition(int32_t v) { return v >= POS_CENTER - 4999 && v <= POS_BOTTOMOUT + 4999; }
int32_t ResolveSpecialX(const qmScene *scene, int32_t x, int32_t width, int32_t reference, double anchor);
int32_t ResolveSpecialY(const qmScene *scene, int32_t y, int32_t height, int32_t reference, double anchor);
inline int32_t ResolvePositionX(const qmScene *scene, int32_t x, int32_t width, int32_t reference, double anchor) {
  return MaybeSpecialPosition(x) ? ResolveSpecialX(scene, x, width, reference, anchor) : x;
}
inline int32_t ResolvePositionY(const qmScene *scene, int32_t y, int32_t height, int32_t reference, double anchor) {
  return MaybeSpecialPosition(y) ? ResolveSpecialY(scene, y, height, reference, anchor) : y;
}

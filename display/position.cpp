#include "display/position.h"

#include <algorithm>
#include <climits>

#include "graphics/clipregion.h"
#include "display/output.h"

namespace {

// Windows of the special values: {centre of the window, kind}. Kind 0 centres, 1 puts the
// object at the near edge, 2 at the far edge, 3 just outside the near edge, 4 outside the far one.
struct Special {
  int32_t value, kind;
};
constexpr Special kXSpecials[] = {{POS_CENTER, 0}, {POS_LEFT, 1}, {POS_RIGHT, 2}, {POS_LEFTOUT, 3}, {POS_RIGHTOUT, 4}};
constexpr Special kYSpecials[] = {{POS_CENTER, 0}, {POS_TOP, 1}, {POS_BOTTOM, 2}, {POS_TOPOUT, 3}, {POS_BOTTOMOUT, 4}};

constexpr bool WindowsInQuickRange(const Special (&specials)[5]) {
  for (const Special &s : specials)
    if (!MaybeSpecialPosition(s.value - 4999) || !MaybeSpecialPosition(s.value + 4999)) return false;
  return true;
}
static_assert(WindowsInQuickRange(kXSpecials) && WindowsInQuickRange(kYSpecials));

int32_t Resolve(const qmScene *scene, int32_t v, int32_t size, int32_t reference, double anchor, const Special *specials,
                bool vertical) {
  const Special *hit = nullptr;
  for (int i = 0; i < 5; i++)
    if (v >= specials[i].value - 4999 && v <= specials[i].value + 4999) hit = &specials[i];
  if (!hit) return v;
  int64_t origin = 0, ref = reference;
  qmOutputPicture pic;
  if (reference == 0 && GetOutputPicture(scene, &pic)) {
    const qmClipRegion *clip = *pic.activeClip;
    if (clip) {
      ref = vertical ? clip->height : clip->width;
      origin = vertical ? clip->y : clip->x;
    } else {
      ref = vertical ? pic.height : pic.width;
    }
  }
  const int64_t base = origin + int64_t(size * anchor), d = v - hit->value;
  int64_t r;
  switch (hit->kind) {
  case 0: r = d + (ref - size) / 2 + base; break;
  case 1: r = d + base; break;
  case 2: r = d + ref - size + base; break;
  case 3: r = d - size + base; break;
  default: r = d + ref + base; break;
  }
  return int32_t(std::clamp<int64_t>(r, INT32_MIN, INT32_MAX));
}

} // namespace

int32_t ResolveSpecialX(const qmScene *scene, int32_t x, int32_t width, int32_t reference, double anchor) {
  return Resolve(scene, x, width, reference, anchor, kXSpecials, false);
}

int32_t ResolveSpecialY(const qmScene *scene, int32_t y, int32_t height, int32_t reference, double anchor) {
  return Resolve(scene, y, height, reference, anchor, kYSpecials, true);
}

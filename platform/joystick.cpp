#include "platform/joystick.h"

int32_t JoyAxisPosition(qmJoyAxis *axis, int32_t value) {
  if (!axis->seen) {
    axis->minimum = axis->maximum = value;
    axis->seen = 1;
  }
  if (value < axis->minimum) axis->minimum = value;
  if (value > axis->maximum) axis->maximum = value;
  int64_t range = int64_t{axis->maximum} - axis->minimum;
  if (range == 0) return 0;
  return static_cast<int32_t>((int64_t{value} - axis->minimum) * 2000 / range - 1000);
}

int32_t JoyDirection(int32_t x, int32_t y) {
  bool right = x > 500, left = x < -500, down = y > 500, up = y < -500;
  if (right) return down ? JOYDIR_DOWNRIGHT : up ? JOYDIR_UPRIGHT : JOYDIR_RIGHT;
  if (left) return down ? JOYDIR_DOWNLEFT : up ? JOYDIR_UPLEFT : JOYDIR_LEFT;
  if (down) return JOYDIR_DOWN;
  if (up) return JOYDIR_UP;
  return JOYDIR_CENTRE;
}

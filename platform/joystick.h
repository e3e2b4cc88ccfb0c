// Joysticks, game pads and multi-axis controllers: listed in a stable order on first use (and as
// they come and go), then read by polling: a direction out of nine and up to 32 buttons. Each
// axis calibrates itself: its range grows to the smallest and largest values ever read.
#pragma once
#include <cstdint>

enum : int32_t {
  JOYDIR_UP, JOYDIR_UPRIGHT, JOYDIR_RIGHT, JOYDIR_DOWNRIGHT, JOYDIR_DOWN,
  JOYDIR_DOWNLEFT, JOYDIR_LEFT, JOYDIR_UPLEFT, JOYDIR_CENTRE,
};

// 0, ERR_JOYSTICK when the system's devices cannot be searched, or ERR_MEM.
uint32_t CountPlatformJoysticks(int32_t *count);
// Index from 0; either output may be null. 0, the search's error, or ERR_NOJOYATPORT when no
// joystick has that index.
uint32_t ReadJoystick(int32_t index, int32_t *direction, uint32_t *buttons);
// Closes every device and forgets the list.
void ReleaseJoysticks();

// The calibration of one axis: the range the device reports, grown by the values read. A
// device that reports none starts from its first value.
struct qmJoyAxis {
  int32_t minimum, maximum;
  uint32_t seen;  // 0 until a range is known
};
// The axis position of a new value, -1000 to 1000 across the range seen so far; 0 while the
// range is empty.
int32_t JoyAxisPosition(qmJoyAxis *axis, int32_t value);
// The direction of two axis positions: beyond 500 either way counts, within it is the centre.
int32_t JoyDirection(int32_t x, int32_t y);

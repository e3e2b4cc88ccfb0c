// Axis calibration and the nine directions of a joystick reading.
#include <gtest/gtest.h>

#include "platform/joystick.h"

TEST(Joystick, DirectionsAtTheEdgesOfTheDeadZone) {
  struct Row {
    int32_t x, y, dir;
  } rows[] = {
      {0, 0, JOYDIR_CENTRE},        {500, 500, JOYDIR_CENTRE},     {-500, -500, JOYDIR_CENTRE},
      {501, 0, JOYDIR_RIGHT},       {-501, 0, JOYDIR_LEFT},        {0, 501, JOYDIR_DOWN},
      {0, -501, JOYDIR_UP},         {501, 501, JOYDIR_DOWNRIGHT},  {501, -501, JOYDIR_UPRIGHT},
      {-501, 501, JOYDIR_DOWNLEFT}, {-501, -501, JOYDIR_UPLEFT},   {1000, 500, JOYDIR_RIGHT},
      {-500, 1000, JOYDIR_DOWN},
  };
  for (const Row &r : rows) EXPECT_EQ(JoyDirection(r.x, r.y), r.dir) << r.x << "," << r.y;
  EXPECT_EQ(JOYDIR_UP, 0);
  EXPECT_EQ(JOYDIR_CENTRE, 8);
}

TEST(Joystick, AxisRangeGrowsWithWhatWasRead) {
  qmJoyAxis fresh{};
  EXPECT_EQ(JoyAxisPosition(&fresh, 77), 0) << "a first value alone is an empty range";
  qmJoyAxis byte{};
  JoyAxisPosition(&byte, 0);
  JoyAxisPosition(&byte, 128);
  EXPECT_EQ(JoyAxisPosition(&byte, 255), 1000);
  EXPECT_EQ(JoyDirection(JoyAxisPosition(&byte, 255), 0), JOYDIR_RIGHT);
  EXPECT_EQ(JoyAxisPosition(&byte, 0), -1000);
  qmJoyAxis full{-32768, 32767, 1};
  EXPECT_EQ(JoyAxisPosition(&full, 0), 0);
  EXPECT_EQ(JoyAxisPosition(&full, 32767), 1000);
  EXPECT_EQ(JoyAxisPosition(&full, -32768), -1000);
}

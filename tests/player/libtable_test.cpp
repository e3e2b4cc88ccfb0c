#include <gtest/gtest.h>

#include "player/lib_math.h"
#include "player/lib_string.h"
#include "player/lib_system.h"
#include "runtime/vm/vm_api.h"

// Every library initialises in a fresh state and frees again.
TEST(Libraries, InitAndFree) {
  VmState *L = vm_open();
  ASSERT_NE(L, nullptr);
  EXPECT_EQ(InitStringLibrary(L), 0u);
  EXPECT_EQ(InitMathLibrary(L), 0u);
  EXPECT_EQ(InitSystemLibrary(L), 0u);
  FreeSystemLibrary(L);
  FreeMathLibrary(L);
  FreeStringLibrary(L);
  vm_close(L);
}

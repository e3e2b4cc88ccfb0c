#include <gtest/gtest.h>

#include "runtime/errcodes.h"
#include "tests/runtime/vm/exec_test_util.h"

TEST(Exec, SmokeFactorialAndGosub) {
  ExecVm vm;
  ASSERT_EQ(vm.Run(R"(
.func maxstack=4
  .k "fact" 10 1 "record"
      CLOSURE   0 p0
      SETGLOBAL 0 k0
      GETGLOBAL 0 k3
      GETGLOBAL 1 k0
      LOADK     2 k1
      LOADK     3 k2
      CALL      1 3 2
      CALL      0 2 1
      RETURN    0 1
  .func line=1 params=2 maxstack=5
    .k 1 "fact"
      LE        0 0 k0
      JMP       more
      RETURN    1 2
more: GETGLOBAL 2 k1
      SUB       3 0 k0
      MUL       4 1 0
      TAILCALL  2 3 0
      RETURN    2 0
      RETURN    0 1
  .end
.end
)"), 0u);
  ASSERT_EQ(vm.rec.size(), 1u);
  EXPECT_EQ(vm.rec[0], "3628800");
}

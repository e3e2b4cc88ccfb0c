; Counting loops: upward with a constant step, downward by a negative step.
.func source="@forloop.qms" maxstack=5
  .k 0 1 10 -2
  .local sum 1 13
      LOADK    0 k0        @1    ; sum = 0
      LOADK    1 k1        @2    ; for i = 1, 10 do sum = sum + i end
      LOADK    2 k2
      LOADK    3 k1
      SUB      1 1 3
      JMP      test
body: ADD      0 0 1       @3
test: FORLOOP  1 body      @2
      LOADK    1 k2        @4    ; for i = 10, 1, -2 do sum = sum - i end
      LOADK    2 k1
      LOADK    3 k3
      SUB      1 1 3
      JMP      1
      SUB      0 0 1       @5
      FORLOOP  1 -2        @4
      RETURN   0 2         @6
.end

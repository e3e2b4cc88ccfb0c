; Arithmetic and bitwise operators on registers and constants.
.func source="@arith.qms" maxstack=4
  .k 7 2 -7 0.5
  .local a 2 18
  .local b 2 18
      LOADK    0 k0        @1    ; a = 7
      LOADK    1 k1        @1    ; b = 2
      ADD      2 0 1       @2
      SUB      2 2 k1
      MUL      2 k0 k1
      DIV      3 0 1       @3
      DIVINT   3 k2 1
      MOD      3 k2 k1
      POW      3 1 k3
      LSH      2 k1 k0     @4
      RSH      2 k2 k1
      OR       2 0 1
      AND      2 0 k0
      XOR      2 2 1
      UNM      3 2         @5
      NOT      3 3
      BNOT     3 3
      LOADNIL  0 3         @6
      RETURN   0 1
.end

; Closures capturing a local (MOVE) and an enclosing upvalue (GETUPVAL), SETUPVAL, CLOSE.
.func source="@closures.qms" maxstack=3
  .k 0 "counter"
  .local n 1 6
      LOADK     0 k0       @1    ; local n = 0
      CLOSURE   1 p0       @2    ; counter = function() return function() n = n + 1 return n end end
      MOVE      0 0
      SETGLOBAL 1 k1
      CLOSE     0          @6
      RETURN    0 1
  .func line=2 maxstack=2
    .upval n
      CLOSURE   0 p0       @3
      GETUPVAL  0 0
      RETURN    0 2
    .func line=3 maxstack=2
      .upval n
      .k 1
        GETUPVAL  0 0      @4
        ADD       0 0 k0
        SETUPVAL  0 0
        RETURN    0 2      @5
    .end
  .end
.end

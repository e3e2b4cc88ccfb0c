; Four levels of functions, two siblings, sources inherited and given.
.func source="@nesting.qms" maxstack=2
  .k "outer" "other"
      CLOSURE   0 p0       @1
      SETGLOBAL 0 k0
      CLOSURE   1 p1       @9
      MOVE      0 0
      SETGLOBAL 1 k1
      RETURN    0 1        @10
  .func line=1 maxstack=2
      CLOSURE   0 p0       @2
      RETURN    0 2
    .func source="@included.qms" line=2 maxstack=3
      .k 5
      .local five 1 4
        LOADK     1 k0     @3
        CLOSURE   0 p0     @4
        MOVE      0 1
        RETURN    0 2
      .func line=4 maxstack=2
        .upval five
          GETUPVAL  0 0    @5
          RETURN    0 2
      .end
    .end
  .end
  .func line=9 maxstack=2
    .upval outer
      GETUPVAL  0 0        @9
      CALL      0 1 0
      RETURN    0 0
      RETURN    0 1
  .end
.end

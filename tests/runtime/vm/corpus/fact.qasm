; Tail-recursive factorial: fact(n, acc) returns acc when n <= 1.
.func source="@fact.qms" maxstack=4
  .k "fact" 10 1
      CLOSURE   0 p0       @1
      SETGLOBAL 0 k0
      GETGLOBAL 0 k0       @6
      LOADK     1 k1
      LOADK     2 k2
      CALL      0 3 2
      RETURN    0 2
  .func line=1 params=2 maxstack=5
    .k 1 "fact"
    .local n 0 9
    .local acc 0 9
      LE        0 0 k0     @2
      JMP       more
      RETURN    1 2        @3
more: GETGLOBAL 2 k1       @4
      SUB       3 0 k0
      MUL       4 1 0
      TAILCALL  2 3 0
      RETURN    2 0
      RETURN    0 1        @5
  .end
.end

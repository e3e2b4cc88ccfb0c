; A vararg main function with one fixed parameter; the extra arguments are in "arg".
.func source="@vararg.qms" params=1 vararg=1 maxstack=5
  .k "n" 1 "sum"
  .local first 0 8
  .local arg 0 8
      GETTABLE  2 1 k0     @1    ; arg.n
      ADD       2 2 0
      CLOSURE   3 p0       @2
      MOVE      4 1
      CALL      3 2 0            ; sum(arg) with all results returned
      RETURN    3 0
      SETGLOBAL 2 k2       @3
      RETURN    2 2
  .func line=2 vararg=1 maxstack=3
    .local arg 0 3
      LOADNIL   1 2
      MOVE      1 0
      RETURN    0 3
  .end
.end

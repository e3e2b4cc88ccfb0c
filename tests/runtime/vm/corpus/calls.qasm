; Calls with fixed and open argument and result counts, a vararg tail call, SETLISTO.
.func source="@calls.qms" maxstack=8
  .k "f" "g" 1 2
      CLOSURE   0 p0       @1    ; function f(a, b) return b, a end
      SETGLOBAL 0 k0
      CLOSURE   0 p1       @2    ; function g(...) return f(arg[1], arg[2]) end
      SETGLOBAL 0 k1
      GETGLOBAL 0 k0       @3    ; local x, y = f(1, 2)
      LOADK     1 k2
      LOADK     2 k3
      CALL      0 3 3
      GETGLOBAL 2 k1       @4    ; local z = g(f(1, 2))
      GETGLOBAL 3 k0
      LOADK     4 k2
      LOADK     5 k3
      CALL      3 3 0
      CALL      2 0 2
      NEWTABLE  3 0 0      @5    ; local t = {f(1, 2)}
      GETGLOBAL 4 k0
      LOADK     5 k2
      LOADK     6 k3
      CALL      4 3 0
      SETLISTO  3 0
      RETURN    2 3        @6
  .func line=1 params=2 maxstack=3
    .local a 0 2
    .local b 0 2
      MOVE      2 0
      RETURN    1 3
  .end
  .func line=2 vararg=1 maxstack=4
    .k "f" 1 2
    .local arg 0 6
      GETGLOBAL 1 k0
      GETTABLE  2 0 k1
      GETTABLE  3 0 k2
      TAILCALL  1 3 0
      RETURN    1 0
      RETURN    0 1
  .end
.end

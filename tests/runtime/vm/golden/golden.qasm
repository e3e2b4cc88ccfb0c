; The program of golden.qmb (written by make_golden.py), in assembler text.
.func source="@golden.qms" line=0 params=0 vararg=1 maxstack=3
  .k "bump" 2.5 nil "a\0b"
  .local counter 1 7
      LOADK     0 k1      @1    ; counter = 2.5
      CLOSURE   1 p0      @3
      MOVE      0 0             ; captures counter
      SETGLOBAL 1 k0      @7    ; bump = the closure
      LOADNIL   2 2       @8
      CLOSE     0         @9
      RETURN    0 1 0
  .func source=none line=3 params=1 maxstack=2
    .upval counter
    .k 1
    .local x 0 4
      GETUPVAL  1 0       @4
      ADD       1 1 k0
      SETUPVAL  1 0       @5
      RETURN    1 2 0     @6
  .end
.end

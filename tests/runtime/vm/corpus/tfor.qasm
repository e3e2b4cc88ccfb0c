; Generic loop over a table: for k, v in t do count = count + v end
.func source="@tfor.qms" maxstack=9
  .k "a" "b" 1 2 "count" 0
  .local t 3 12
  .local count 4 12
      NEWTABLE 0 0 1       @1
      SETTABLE 0 k0 k2
      SETTABLE 0 k1 k3
      LOADK    1 k5        @2
      MOVE     2 0         @3    ; the table stands where the generator goes
      LOADNIL  3 4
      TFORPREP 2 loop
body: ADD      1 1 5       @4
loop: TFORLOOP 2 1         @3
      JMP      body
      SETGLOBAL 1 k4       @5
      RETURN   0 1
.end

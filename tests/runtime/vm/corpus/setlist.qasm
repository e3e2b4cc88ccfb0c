; A constructor of 40 items: one full SETLIST block of 32 and a second of 8.
.func source="@setlist.qms" maxstack=34
  .k 1 2 3 "last"
      NEWTABLE  0 29 0     @1    ; array part of 40 slots
      LOADK     1 k0
      LOADK     2 k1
      LOADK     3 k2
      LOADNIL   4 31
      LOADK     32 k3
      SETLIST   0 31             ; t[1..32] = r1..r32
      LOADK     1 k0       @2
      LOADNIL   2 7
      LOADK     8 k3
      SETLIST   0 39             ; t[33..40] = r1..r8
      RETURN    0 2        @3
.end

; A subroutine entered twice by Gosub jumps and left by RETURN with C = 1.
.func source="@gosub.qms" maxstack=2
  .k 1 "done"
      LOADK     0 k0       @1
      JMP       sub gosub  @2
      JMP       sub gosub  @3
      SETGLOBAL 0 k1       @4
      RETURN    0 1        @5
sub:  ADD       0 0 k0     @7
      RETURN    0 1 1      @8
.end

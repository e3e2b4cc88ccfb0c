; Comparisons, TEST and LOADBOOL with and without the skip.
.func source="@compare.qms" maxstack=3
  .k 1 "one" 0
      LOADK    0 k0        @1
      LOADK    1 k1
      EQ       1 0 k0      @2    ; if a == 1 then c = 1 else c = 0
      JMP      no
      LOADBOOL 2 1 1
no:   LOADBOOL 2 0 0
      LT       0 0 k2      @3    ; if not (a < 0) and 0 <= a then c = b or c
      JMP      done
      LE       1 k2 0
      JMP      done
      TEST     2 1 0       @4
      JMP      done
      MOVE     2 0
done: RETURN   2 2         @5
.end

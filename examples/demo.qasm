; The demo applet: what the player can do so far, computing and printing.
; Assembled into demo/demo.qma by the build (tools/qmapplet). The script it stands for:
;
;   1  DebugPrint("QuenmoorPlayer demo: factorials, strings and math")
;   2  local f = 1
;   3  for i = 1, 10 do
;   4    f = f * i
;   5    DebugPrint(FormatStr("%2d! = %7d", i, f))
;   6  end
;   7  DebugPrint(UpperStr("square root of two:"), Sqrt(2))
;   8  DebugPrint("Bye.")
.func source="demo.qms" maxstack=9
  .k "debugprint" "QuenmoorPlayer demo: factorials, strings and math" 1 10
  .k "formatstr" "%2d! = %7d" "upperstr" "square root of two:" "sqrt" 2 "Bye."
  .local f 2 13
      GETGLOBAL 0 k0        @1    ; DebugPrint("QuenmoorPlayer demo ...")
      LOADK     1 k1
      CALL      0 2 1
      LOADK     0 k2        @2    ; local f = 1
      LOADK     1 k2        @3    ; for i = 1, 10
      LOADK     2 k3
      LOADK     3 k2
      SUB       1 1 3
      JMP       test
body: MUL       0 0 1       @4    ; f = f * i
      GETGLOBAL 4 k0        @5    ; DebugPrint(FormatStr("%2d! = %7d", i, f))
      GETGLOBAL 5 k4
      LOADK     6 k5
      MOVE      7 1
      MOVE      8 0
      CALL      5 4 2
      CALL      4 2 1
test: FORLOOP   1 body      @3
      GETGLOBAL 1 k0        @7    ; DebugPrint(UpperStr("square root of two:"), Sqrt(2))
      GETGLOBAL 2 k6
      LOADK     3 k7
      CALL      2 2 2
      GETGLOBAL 3 k8
      LOADK     4 k9
      CALL      3 2 2
      CALL      1 3 1
      GETGLOBAL 1 k0        @8    ; DebugPrint("Bye.")
      LOADK     2 k10
      CALL      1 2 1
      RETURN    0 1
.end

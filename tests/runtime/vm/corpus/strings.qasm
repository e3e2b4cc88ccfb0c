; String and odd number constants through CONCAT.
.func source="@strings.qms" maxstack=5
  .k "name" "hello, " "\0world\x21" "" nan -0 inf -inf "tab\there \"quoted\"\n"
      LOADK     0 k1       @1
      GETGLOBAL 1 k0
      LOADK     2 k2
      LOADK     3 k3
      CONCAT    0 0 3      @2
      SETGLOBAL 0 k0
      LOADK     1 k4       @3
      LOADK     2 k5
      LOADK     3 k6
      LOADK     4 k7
      CONCAT    1 1 4
      LOADK     2 k8
      CONCAT    1 1 2
      RETURN    1 2        @4
.end

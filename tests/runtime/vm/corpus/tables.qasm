; Table constructor, field reads and writes, and a method call through SELF.
.func source="@tables.qms" maxstack=6
  .k "size" "get" 10 20 30 1
  .local t 1 13
      NEWTABLE 0 3 0       @1    ; t = {10, 20, 30}
      LOADK    1 k2
      LOADK    2 k3
      LOADK    3 k4
      SETLIST  0 2
      SETTABLE 0 k0 k4     @2    ; t.size = 30
      GETTABLE 1 0 k0      @3
      GETTABLE 2 0 k5
      CLOSURE  4 p0        @4    ; function t:get() return self.size end
      SETTABLE 0 k1 4
      SELF     1 0 k1      @7    ; t:get()
      CALL     1 2 2
      RETURN   1 2
  .func line=4 params=1 maxstack=2
    .k "size"
    .local self 0 2
      GETTABLE 1 0 k0      @5
      RETURN   1 2
  .end
.end

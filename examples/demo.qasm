; The demo applet: a window whose background picture opens through a transition, with layers on
; it. A brush with an alpha channel, a round box, an ellipse, a line, a line of text and a heart
; drawn as a vector path lie on a gradient picture; an anim of a growing disc, made from a brush
; strip the script draws, plays over and over while a small brush moves to and fro, until Escape
; or the window's close box ends the player. Where no display can show the window (no X or
; Wayland display, or the headless video drivers), the scene is drawn off screen and the demo
; says so on standard output. Everything it shows it makes itself. The heart needs the vector
; plug-in (vectorcairo.qmp) beside the player. Assembled into demo/demo.qma by the build
; (tools/qmapplet). The script it stands for:
;
;   1  Local driver = GetEnv("SDL_VIDEODRIVER")
;   2  Local desktop = GetEnv("DISPLAY") .. GetEnv("WAYLAND_DISPLAY")
;   3  Local headless = driver = "dummy" Or driver = "offscreen" Or desktop = ""
;   4  DebugPrint("QuenmoorPlayer demo: a transition, layers, a vector path and an anim")
;   5  CreateGradientBGPic(2, #LINEAR, $102048, $6090D0, 640, 480)
;   6  DisplayTransitionFX(2, #STAR)          ; the picture appears through a growing star
;   7  EnableLayers()
;   8  CreateBrush(1, 120, 120, $FFB020, {AlphaChannel = True, Clear = True})
;   9  SelectAlphaChannel(1)
;  10  SetFillStyle(#FILLCOLOR)
;  11  Circle(0, 0, 59, $80000000)            ; a half transparent disc
;  12  Circle(30, 30, 29, #BLACK)             ; with an opaque middle
;  13  EndSelect()
;  14  DisplayBrush(1, 40, 80)
;  15  Box(220, 90, 180, 110, $C03040, 40)
;  16  Ellipse(420, 110, 90, 60, $30C070)
;  17  Line(20, 440, 620, 330, #WHITE, 3)
;  18  SetFont(":::default_sans", 32)
;  19  SetFontStyle(#ANTIALIAS)
;  20  TextOut(#CENTER, 24, "QuenmoorPlayer layers")
;  21  CreateBrush(3, 64, 64, #WHITE)
;  22  SelectBrush(3)
;  23  Box(8, 8, 48, 48, $2050FF)
;  24  EndSelect()
;  25  DisplayBrush(3, 0, 360, {Name = "mover"})
;      ; A heart of two curves, filled (the fill style above) by the vector plug-in.
;  26  StartPath(1)
;  27  MoveTo(1, 50, 90)
;  28  CurveTo(1, -15, 50, 15, -20, 50, 28)
;  29  CurveTo(1, 85, -20, 115, 50, 50, 90)
;  30  ClosePath(1)
;  31  DrawPath(1, 272, 236, $FF70B0)
;      ; Six frames of 48 x 48 side by side, frame i a disc of radius 4 * i - 1 in its middle,
;      ; made into an anim that plays asynchronously: the loops below show its frames as due.
;  32  CreateBrush(4, 288, 48, $FFF060, {AlphaChannel = True, Clear = True})
;  33  SelectAlphaChannel(4)
;  34  For i = 1, 6 Do Circle(44 * i - 23, 25 - 4 * i, 4 * i - 1, #BLACK)
;  35  EndSelect()
;  36  CreateAnim(1, 4, 48, 48, 6, 6)
;  37  Local anim = PlayAnim(1, 486, 262, {Speed = 4, Times = 0, Async = True})
;  38  Local x, dx = 0, 8
;  39  If headless
;  40    For i = 1, 20 Do TranslateLayer("mover", dx, 0) AsyncDrawFrame(anim)
;  41    DebugPrint("No display to show the window on: drawn off screen,",
;            GetAttribute(#LAYER, 1, #ATTRLAYERS), "layers.")
;  42    Return
;  43  EndIf
;  44  EscapeQuit(True)
;  45  DebugPrint("Escape or the close box ends the demo.")
;  46  Repeat
;  47    TranslateLayer("mover", dx, 0)
;  48    x = x + dx
;  49    If x = 576 Or x = 0 Then dx = -dx
;  50    AsyncDrawFrame(anim)
;  51    Wait(20, #MILLISECONDS)
;  52  Forever
.func source="demo.qms" maxstack=16
  .k "getenv" "SDL_VIDEODRIVER" "DISPLAY" "WAYLAND_DISPLAY" "dummy" "offscreen" "" "debugprint"
  .k "QuenmoorPlayer demo: a transition, layers, a vector path and an anim" "creategradientbgpic" 2 1056840
  .k 6328528 640 480 "displaytransitionfx" "enablelayers" "createbrush" 1 120 16756768 "alphachannel"
  .k "clear" "selectalphachannel" "setfillstyle" "circle" 0 59 2147483648 30 29 "endselect"
  .k "displaybrush" 40 80 "box" 220 90 180 110 12595264 "ellipse" 420 60 3194992 "line" 20 440 620
  .k 330 16777215 3 "setfont" ":::default_sans" 32 "setfontstyle" 16 "textout" -100000 24
  .k "QuenmoorPlayer layers" 64 "selectbrush" 8 48 2117887 360 "name" "mover" "translatelayer"
  .k "No display to show the window on: drawn off screen," "getattribute" 22 6 "layers."
  .k "escapequit" "Escape or the close box ends the demo." 576 "wait" 98 "startpath" "moveto"
  .k "curveto" "closepath" "drawpath" 50 -15 15 -20 28 85 115 272 236 16740528 4 288 16773216 44
  .k 23 25 "createanim" "playanim" 486 262 "speed" "times" "async" "asyncdrawframe"
        GETGLOBAL 0 k0              @1    ; Local driver = GetEnv("SDL_VIDEODRIVER")
        LOADK     1 k1
        CALL      0 2 2
        GETGLOBAL 1 k0              @2    ; Local desktop = GetEnv("DISPLAY") .. GetEnv("WAYLAND_DISPLAY")
        LOADK     2 k2
        CALL      1 2 2
        GETGLOBAL 2 k0
        LOADK     3 k3
        CALL      2 2 2
        CONCAT    1 1 2
        LOADBOOL  2 1 0             @3    ; Local headless = driver = "dummy" Or driver = "offscreen" Or desktop = ""
        EQ        1 0 k4
        JMP       known
        EQ        1 0 k5
        JMP       known
        EQ        1 1 k6
        JMP       known
        LOADBOOL  2 0 0
known:  GETGLOBAL 5 k7              @4    ; DebugPrint(...)
        LOADK     6 k8
        CALL      5 2 1
        GETGLOBAL 5 k9              @5    ; CreateGradientBGPic(2, #LINEAR, $102048, $6090D0, 640, 480)
        LOADK     6 k10
        LOADK     7 k10
        LOADK     8 k11
        LOADK     9 k12
        LOADK     10 k13
        LOADK     11 k14
        CALL      5 7 1
        GETGLOBAL 5 k15             @6    ; DisplayTransitionFX(2, #STAR)
        LOADK     6 k10
        LOADK     7 k79
        CALL      5 3 1
        GETGLOBAL 5 k16             @7    ; EnableLayers()
        CALL      5 1 1
        GETGLOBAL 5 k17             @8    ; CreateBrush(1, 120, 120, $FFB020, {AlphaChannel = True, Clear = True})
        LOADK     6 k18
        LOADK     7 k19
        LOADK     8 k19
        LOADK     9 k20
        NEWTABLE  10 0 2
        SETTABLE  10 k21 k18
        SETTABLE  10 k22 k18
        CALL      5 6 1
        GETGLOBAL 5 k23             @9    ; SelectAlphaChannel(1)
        LOADK     6 k18
        CALL      5 2 1
        GETGLOBAL 5 k24             @10   ; SetFillStyle(#FILLCOLOR)
        LOADK     6 k18
        CALL      5 2 1
        GETGLOBAL 5 k25             @11   ; Circle(0, 0, 59, $80000000)
        LOADK     6 k26
        LOADK     7 k26
        LOADK     8 k27
        LOADK     9 k28
        CALL      5 5 1
        GETGLOBAL 5 k25             @12   ; Circle(30, 30, 29, #BLACK)
        LOADK     6 k29
        LOADK     7 k29
        LOADK     8 k30
        LOADK     9 k26
        CALL      5 5 1
        GETGLOBAL 5 k31             @13   ; EndSelect()
        CALL      5 1 1
        GETGLOBAL 5 k32             @14   ; DisplayBrush(1, 40, 80)
        LOADK     6 k18
        LOADK     7 k33
        LOADK     8 k34
        CALL      5 4 1
        GETGLOBAL 5 k35             @15   ; Box(220, 90, 180, 110, $C03040, 40)
        LOADK     6 k36
        LOADK     7 k37
        LOADK     8 k38
        LOADK     9 k39
        LOADK     10 k40
        LOADK     11 k33
        CALL      5 7 1
        GETGLOBAL 5 k41             @16   ; Ellipse(420, 110, 90, 60, $30C070)
        LOADK     6 k42
        LOADK     7 k39
        LOADK     8 k37
        LOADK     9 k43
        LOADK     10 k44
        CALL      5 6 1
        GETGLOBAL 5 k45             @17   ; Line(20, 440, 620, 330, #WHITE, 3)
        LOADK     6 k46
        LOADK     7 k47
        LOADK     8 k48
        LOADK     9 k49
        LOADK     10 k50
        LOADK     11 k51
        CALL      5 7 1
        GETGLOBAL 5 k52             @18   ; SetFont(":::default_sans", 32)
        LOADK     6 k53
        LOADK     7 k54
        CALL      5 3 1
        GETGLOBAL 5 k55             @19   ; SetFontStyle(#ANTIALIAS)
        LOADK     6 k56
        CALL      5 2 1
        GETGLOBAL 5 k57             @20   ; TextOut(#CENTER, 24, "QuenmoorPlayer layers")
        LOADK     6 k58
        LOADK     7 k59
        LOADK     8 k60
        CALL      5 4 1
        GETGLOBAL 5 k17             @21   ; CreateBrush(3, 64, 64, #WHITE)
        LOADK     6 k51
        LOADK     7 k61
        LOADK     8 k61
        LOADK     9 k50
        CALL      5 5 1
        GETGLOBAL 5 k62             @22   ; SelectBrush(3)
        LOADK     6 k51
        CALL      5 2 1
        GETGLOBAL 5 k35             @23   ; Box(8, 8, 48, 48, $2050FF)
        LOADK     6 k63
        LOADK     7 k63
        LOADK     8 k64
        LOADK     9 k64
        LOADK     10 k65
        CALL      5 6 1
        GETGLOBAL 5 k31             @24   ; EndSelect()
        CALL      5 1 1
        GETGLOBAL 5 k32             @25   ; DisplayBrush(3, 0, 360, {Name = "mover"})
        LOADK     6 k51
        LOADK     7 k26
        LOADK     8 k66
        NEWTABLE  9 0 1
        SETTABLE  9 k67 k68
        CALL      5 5 1
        GETGLOBAL 5 k80             @26   ; StartPath(1)
        LOADK     6 k18
        CALL      5 2 1
        GETGLOBAL 5 k81             @27   ; MoveTo(1, 50, 90)
        LOADK     6 k18
        LOADK     7 k85
        LOADK     8 k37
        CALL      5 4 1
        GETGLOBAL 5 k82             @28   ; CurveTo(1, -15, 50, 15, -20, 50, 28)
        LOADK     6 k18
        LOADK     7 k86
        LOADK     8 k85
        LOADK     9 k87
        LOADK     10 k88
        LOADK     11 k85
        LOADK     12 k89
        CALL      5 8 1
        GETGLOBAL 5 k82             @29   ; CurveTo(1, 85, -20, 115, 50, 50, 90)
        LOADK     6 k18
        LOADK     7 k90
        LOADK     8 k88
        LOADK     9 k91
        LOADK     10 k85
        LOADK     11 k85
        LOADK     12 k37
        CALL      5 8 1
        GETGLOBAL 5 k83             @30   ; ClosePath(1)
        LOADK     6 k18
        CALL      5 2 1
        GETGLOBAL 5 k84             @31   ; DrawPath(1, 272, 236, $FF70B0)
        LOADK     6 k18
        LOADK     7 k92
        LOADK     8 k93
        LOADK     9 k94
        CALL      5 5 1
        GETGLOBAL 5 k17             @32   ; CreateBrush(4, 288, 48, $FFF060, {AlphaChannel = True, Clear = True})
        LOADK     6 k95
        LOADK     7 k96
        LOADK     8 k64
        LOADK     9 k97
        NEWTABLE  10 0 2
        SETTABLE  10 k21 k18
        SETTABLE  10 k22 k18
        CALL      5 6 1
        GETGLOBAL 5 k23             @33   ; SelectAlphaChannel(4)
        LOADK     6 k95
        CALL      5 2 1
        LOADK     5 k18             @34   ; For i = 1, 6 Do Circle(44 * i - 23, 25 - 4 * i, 4 * i - 1, #BLACK)
        LOADK     6 k73
        LOADK     7 k18
        SUB       5 5 7
        JMP       cstep
circle: GETGLOBAL 9 k25
        MUL       10 5 k98
        SUB       10 10 k99
        MUL       12 5 k95
        LOADK     11 k100
        SUB       11 11 12
        SUB       12 12 k18
        LOADK     13 k26
        CALL      9 5 1
cstep:  FORLOOP   5 circle
        GETGLOBAL 5 k31             @35   ; EndSelect()
        CALL      5 1 1
        GETGLOBAL 5 k101            @36   ; CreateAnim(1, 4, 48, 48, 6, 6)
        LOADK     6 k18
        LOADK     7 k95
        LOADK     8 k64
        LOADK     9 k64
        LOADK     10 k73
        LOADK     11 k73
        CALL      5 7 1
        GETGLOBAL 5 k102            @37   ; Local anim = PlayAnim(1, 486, 262, {Speed = 4, Times = 0, Async = True})
        LOADK     6 k18
        LOADK     7 k103
        LOADK     8 k104
        NEWTABLE  9 0 3
        SETTABLE  9 k105 k95
        SETTABLE  9 k106 k26
        SETTABLE  9 k107 k18
        CALL      5 5 2
        LOADK     3 k26             @38   ; Local x, dx = 0, 8
        LOADK     4 k63
        TEST      2 2 0             @39   ; If headless
        JMP       shown
        LOADK     6 k18             @40   ; For i = 1, 20 Do TranslateLayer("mover", dx, 0) AsyncDrawFrame(anim)
        LOADK     7 k46
        LOADK     8 k18
        SUB       6 6 8
        JMP       step
moved:  GETGLOBAL 10 k69
        LOADK     11 k68
        MOVE      12 4
        LOADK     13 k26
        CALL      10 4 1
        GETGLOBAL 10 k108
        MOVE      11 5
        CALL      10 2 1
step:   FORLOOP   6 moved
        GETGLOBAL 6 k7              @41   ; DebugPrint("No display ...", GetAttribute(#LAYER, 1, #ATTRLAYERS), "layers.")
        LOADK     7 k70
        GETGLOBAL 8 k71
        LOADK     9 k72
        LOADK     10 k18
        LOADK     11 k73
        CALL      8 4 2
        LOADK     9 k74
        CALL      6 4 1
        RETURN    0 1               @42   ; Return
shown:  GETGLOBAL 6 k75             @44   ; EscapeQuit(True)
        LOADK     7 k18
        CALL      6 2 1
        GETGLOBAL 6 k7              @45   ; DebugPrint(...)
        LOADK     7 k76
        CALL      6 2 1
loop:   GETGLOBAL 6 k69             @47   ; TranslateLayer("mover", dx, 0)
        LOADK     7 k68
        MOVE      8 4
        LOADK     9 k26
        CALL      6 4 1
        ADD       3 3 4             @48   ; x = x + dx
        EQ        1 3 k77           @49   ; If x = 576 Or x = 0 Then dx = -dx
        JMP       turn
        EQ        0 3 k26
        JMP       draw
turn:   UNM       4 4
draw:   GETGLOBAL 6 k108            @50   ; AsyncDrawFrame(anim)
        MOVE      7 5
        CALL      6 2 1
        GETGLOBAL 6 k78             @51   ; Wait(20, #MILLISECONDS)
        LOADK     7 k46
        LOADK     8 k18
        CALL      6 3 1
        JMP       loop              @52   ; Forever
        RETURN    0 1
.end

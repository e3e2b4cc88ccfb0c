// Input queries and busy waits of the current display: keys, mouse buttons and the mouse
// position, and the waits that pump events until an input state changes.
#pragma once
#include <cstdint>

struct VmState;
struct qmDisplay;

// The key code of a key argument: a key-table name among rows TAB to lastRow (without regard to
// case), or one printable character from "!" to "~". 0 with *code set, or ERR_WRONGUSAGE.
uint32_t ParseKeyArgument(const char *text, int lastRow, uint32_t *code);
// 1 while the key is down: a modifier (bit 31) when the platform's qualifier mask has its bits,
// with either side's key for the left and right names; any other code from the display's
// key-state table.
int KeyIsDown(const qmDisplay *display, uint32_t code, uint32_t qualifiers);
// The mouse position in picture pixels of the display; 0, 0 unless it is open.
void MousePosition(const qmDisplay *display, int32_t *x, int32_t *y);

// Which input a wait watches.
enum : uint32_t { WAITON_LEFT, WAITON_RIGHT, WAITON_MIDDLE, WAITON_KEY };

// Why a wait ended early.
enum : int {
  WAITEND_QUIT = 1,   // a quit request, or no open display to take input from
  WAITEND_CLOSE = 2,  // a close box whose event the script handles: it stays queued for it
};
// Steps (block for an event, pump once) while the input's down state equals down. 0 when the
// state changed, else WAITEND_*.
int WaitWhileInput(VmState *L, uint32_t input, uint32_t keyCode, int down);
// WaitLeftMouse and its kin: a press and a release, then the queue is emptied (but for a close
// event the script is to see).
void WaitForClick(VmState *L, uint32_t input);
// WaitKeyDown: a held key is released first, then pressed and released; the queue is emptied as
// by WaitForClick.
void WaitForKeyPress(VmState *L, uint32_t keyCode);
// WhileMouseOn: dispatches events without hover labels while the mouse stays inside the hover
// registration of the last ONBUTTONOVER jump. 0, a handler's error, or the Gosub request.
uint32_t WhileMouseOn(VmState *L);

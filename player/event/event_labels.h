// Label events: key-down handlers, rectangle buttons and window events that make the script
// jump to a label of a fixed name; and the key table that names portable key codes.
#pragma once
#include <cstdint>

struct VmState;
struct qmDisplay;

enum : uint32_t {
  LABEL_HOVER = 1,
  LABEL_CLICK = 2,
  LABEL_KEYDOWN = 3,
  LABEL_RIGHTCLICK = 5,
  LABEL_MOVEWINDOW = 6,
  LABEL_SIZEWINDOW = 7,
  LABEL_INACTIVEWINDOW = 8,
  LABEL_ACTIVEWINDOW = 9,
  LABEL_CLOSEWINDOW = 10,
  LABEL_CLICKALL = 11,
  LABEL_RIGHTCLICKALL = 12,
  LABEL_OVERALL = 13,
  LABEL_KEYDOWNALL = 14,
};

struct qmLabelEvent {
  qmLabelEvent *next;
  uint32_t kind;
  int32_t id;
  int32_t x1, y1, x2, y2;  // picture pixels, inclusive
  char *key;               // kind 3: a key-table name or one character (owned)
  uint32_t enabled;
};

struct qmLabelState {
  qmLabelEvent *list;  // creation order
  uint32_t clickAll, rightClickAll, overAll, keyDownAll;
  int32_t lastAllId;               // GetEventCode
  uint32_t lastKeyCode;            // WhileKeyDown
  qmLabelEvent *lastHover;         // WhileMouseOn
};
// The label registrations of the run of L (the event library's, on its dispatcher state).
qmLabelState *LabelsOf(VmState *L);

struct qmKeyTableRow {
  const char *name;
  uint32_t value;
};
// 52 rows: the nine label-event names, the keys TAB .. PAUSE, the modifier keys.
extern const qmKeyTableRow KeyTable[];
extern const int KeyTableSize;
enum { KEYROW_FIRSTKEY = 9, KEYROW_ESC = 13, KEYROW_PAUSE = 43, KEYROW_RCONTROL = 51 };

// The row index of a name among rows [first, last] (without regard to case), or -1.
int FindKeyRow(const char *name, int first, int last);
// The name of a portable code among rows [first, last], or nullptr.
const char *KeyRowName(uint32_t code, int first, int last);
// The key name label matching uses: a table name (TAB .. PAUSE) or the character itself.
void KeyNameForLabel(uint32_t code, char out[32]);
// The key text of an OnKeyDown / OnKeyUp message.
void KeyTextForMessage(uint32_t code, char out[32]);

uint32_t CreateKeyDown(qmLabelState *labels, int32_t id, const char *key);
// Without memory for the new key the old one stays: ERR_MEM.
uint32_t ModifyKeyDown(qmLabelState *labels, int32_t id, const char *key);
void RemoveKeyDown(qmLabelState *labels, int32_t id);
// Three registrations (hover, click, right click) or none: 0 or ERR_MEM.
uint32_t CreateLabelButton(qmLabelState *labels, int32_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
void ModifyLabelButton(qmLabelState *labels, int32_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
void RemoveLabelButton(qmLabelState *labels, int32_t id);
// kind 10 also sets/clears the close-handled flag of current (the scene's current display, or
// null); 11 to 14 the switches.
void SetLabelEventEnabled(qmLabelState *labels, uint32_t kind, int32_t id, uint32_t enabled, qmDisplay *current);
// A close-window registration that goes clears current's close-handled flag.
void ClearLabelEvents(qmLabelState *labels, qmDisplay *current);
// Appends a window or "all" registration by its label-event name; 0, or ERR_MEM. The
// close-window one sets current's close-handled flag.
uint32_t RegisterLabelEvent(qmLabelState *labels, const char *name, qmDisplay *current);

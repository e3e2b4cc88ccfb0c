#include "player/event/event_labels.h"

#include <cstdio>
#include <initializer_list>
#include <cstring>

#include "display/display.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/eventdispatch.h"
#include "runtime/strutil.h"

qmLabelState *LabelsOf(VmState *L) {
  qmEventState *st = GetEventState(L);
  return st ? st->labels : nullptr;
}

const qmKeyTableRow KeyTable[] = {
    {"MOVEWINDOW", 6},        {"SIZEWINDOW", 7},          {"INACTIVEWINDOW", 8},    {"ACTIVEWINDOW", 9},
    {"CLOSEWINDOW", 10},      {"ONBUTTONCLICKALL", 11},   {"ONBUTTONRIGHTCLICKALL", 12},
    {"ONBUTTONOVERALL", 13},  {"ONKEYDOWNALL", 14},
    {"TAB", 272},             {"RETURN", 274},            {"ENTER", 273},           {"SPACE", 276},
    {"ESC", 275},             {"UP", 256},                {"DOWN", 257},            {"RIGHT", 258},
    {"LEFT", 259},            {"HELP", 260},              {"BACKSPACE", 271},       {"DEL", 277},
    {"F1", 261},              {"F2", 262},                {"F3", 263},              {"F4", 264},
    {"F5", 265},              {"F6", 266},                {"F7", 267},              {"F8", 268},
    {"F9", 269},              {"F10", 270},               {"F11", 278},             {"F12", 279},
    {"F13", 287},             {"F14", 288},               {"F15", 289},             {"F16", 290},
    {"INSERT", 280},          {"HOME", 281},              {"END", 282},             {"PAGEUP", 283},
    {"PAGEDOWN", 284},        {"PRINT", 285},             {"PAUSE", 286},
    {"LSHIFT", 0x80010000u},  {"RSHIFT", 0x80020000u},    {"LALT", 0x80040000u},    {"RALT", 0x80080000u},
    {"LCOMMAND", 0x80100000u}, {"RCOMMAND", 0x80200000u}, {"LCONTROL", 0x80400000u}, {"RCONTROL", 0x80800000u},
};
const int KeyTableSize = sizeof(KeyTable) / sizeof(KeyTable[0]);
static_assert(sizeof(KeyTable) / sizeof(KeyTable[0]) == 52);

namespace {

char *dupkey(const char *key) {
  size_t n = std::strlen(key);
  auto *p = static_cast<char *>(MemAlloc(static_cast<uint32_t>(n + 1), 0));
  if (p) std::memcpy(p, key, n + 1);
  return p;
}

qmLabelEvent *newlabel(qmLabelState *labels, uint32_t kind, int32_t id) {
  auto *e = static_cast<qmLabelEvent *>(MemAlloc(sizeof(qmLabelEvent), 1));
  if (!e) return nullptr;
  e->kind = kind;
  e->id = id;
  e->enabled = 1;
  qmLabelEvent **p = &labels->list;
  while (*p) p = &(*p)->next;
  *p = e;
  return e;
}

qmLabelEvent *findlabel(qmLabelState *labels, uint32_t kind, int32_t id) {
  for (qmLabelEvent *e = labels->list; e; e = e->next)
    if (e->kind == kind && e->id == id) return e;
  return nullptr;
}

void freelabel(qmLabelState *labels, qmLabelEvent *e) {
  if (labels->lastHover == e) labels->lastHover = nullptr;
  MemFree(e->key);
  MemFree(e);
}

void unlink(qmLabelState *labels, qmLabelEvent *target) {
  for (qmLabelEvent **p = &labels->list; *p; p = &(*p)->next)
    if (*p == target) {
      *p = target->next;
      freelabel(labels, target);
      return;
    }
}

void setswitch(qmLabelState *labels, uint32_t kind, uint32_t on, qmDisplay *current) {
  switch (kind) {
    case LABEL_CLOSEWINDOW:
      if (current) current->closeHandled = on;
      break;
    case LABEL_CLICKALL: labels->clickAll = on; break;
    case LABEL_RIGHTCLICKALL: labels->rightClickAll = on; break;
    case LABEL_OVERALL: labels->overAll = on; break;
    case LABEL_KEYDOWNALL: labels->keyDownAll = on; break;
    default: break;
  }
}

}  // namespace

int FindKeyRow(const char *name, int first, int last) {
  for (int i = first; i <= last && i < KeyTableSize; i++)
    if (Stricmp(name, KeyTable[i].name) == 0) return i;
  return -1;
}

const char *KeyRowName(uint32_t code, int first, int last) {
  for (int i = first; i <= last && i < KeyTableSize; i++)
    if (KeyTable[i].value == code) return KeyTable[i].name;
  return nullptr;
}

void KeyNameForLabel(uint32_t code, char out[32]) {
  const char *name = KeyRowName(code, KEYROW_FIRSTKEY, KEYROW_PAUSE);
  if (name) {
    std::snprintf(out, 32, "%s", name);
  } else {
    out[0] = static_cast<char>(code & 0xFF);
    out[1] = '\0';
  }
}

void KeyTextForMessage(uint32_t code, char out[32]) {
  switch (code) {
    case 273:
    case 274: std::snprintf(out, 32, "\n"); return;
    case 272: std::snprintf(out, 32, "        "); return;
    case 276: std::snprintf(out, 32, " "); return;
    default: break;
  }
  const char *name = KeyRowName(code, KEYROW_ESC, KEYROW_PAUSE);
  if (name) {
    std::snprintf(out, 32, "%s", name);
  } else {
    out[0] = static_cast<char>(code & 0xFF);
    out[1] = '\0';
  }
}

uint32_t CreateKeyDown(qmLabelState *labels, int32_t id, const char *key) {
  qmLabelEvent *e = newlabel(labels, LABEL_KEYDOWN, id);
  if (!e) return ERR_MEM;
  e->key = dupkey(key);
  if (!e->key) {
    unlink(labels, e);
    return ERR_MEM;
  }
  return 0;
}

uint32_t ModifyKeyDown(qmLabelState *labels, int32_t id, const char *key) {
  qmLabelEvent *e = findlabel(labels, LABEL_KEYDOWN, id);
  if (!e) return 0;
  char *copy = dupkey(key);
  if (!copy) return ERR_MEM;  // the old key stays
  e->x1 = e->y1 = e->x2 = e->y2 = 0;
  MemFree(e->key);
  e->key = copy;
  return 0;
}

void RemoveKeyDown(qmLabelState *labels, int32_t id) {
  if (qmLabelEvent *e = findlabel(labels, LABEL_KEYDOWN, id)) unlink(labels, e);
}

uint32_t CreateLabelButton(qmLabelState *labels, int32_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  qmLabelEvent *made[3] = {};
  int n = 0;
  for (uint32_t kind : {LABEL_HOVER, LABEL_CLICK, LABEL_RIGHTCLICK}) {
    qmLabelEvent *e = newlabel(labels, kind, id);
    if (!e) {
      for (int i = 0; i < n; i++) unlink(labels, made[i]);  // all three or none
      return ERR_MEM;
    }
    made[n++] = e;
    e->x1 = x1;
    e->y1 = y1;
    e->x2 = x2;
    e->y2 = y2;
  }
  return 0;
}

void ModifyLabelButton(qmLabelState *labels, int32_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  for (uint32_t kind : {LABEL_HOVER, LABEL_CLICK, LABEL_RIGHTCLICK}) {
    if (qmLabelEvent *e = findlabel(labels, kind, id)) {
      e->x1 = x1;
      e->y1 = y1;
      e->x2 = x2;
      e->y2 = y2;
    }
  }
}

void RemoveLabelButton(qmLabelState *labels, int32_t id) {
  for (uint32_t kind : {LABEL_HOVER, LABEL_CLICK, LABEL_RIGHTCLICK})
    if (qmLabelEvent *e = findlabel(labels, kind, id)) unlink(labels, e);
}

void SetLabelEventEnabled(qmLabelState *labels, uint32_t kind, int32_t id, uint32_t enabled, qmDisplay *current) {
  setswitch(labels, kind, enabled, current);
  if (qmLabelEvent *e = findlabel(labels, kind, id)) e->enabled = enabled;
}

void ClearLabelEvents(qmLabelState *labels, qmDisplay *current) {
  if (!labels) return;
  while (labels->list) {
    qmLabelEvent *e = labels->list;
    labels->list = e->next;
    if (e->kind == LABEL_CLOSEWINDOW && current) current->closeHandled = 0;
    freelabel(labels, e);
  }
  labels->lastHover = nullptr;
}

uint32_t RegisterLabelEvent(qmLabelState *labels, const char *name, qmDisplay *current) {
  int row = FindKeyRow(name, 0, KEYROW_FIRSTKEY - 1);
  if (row < 0) return 0;
  uint32_t kind = KeyTable[row].value;
  setswitch(labels, kind, 1, current);
  return newlabel(labels, kind, 0) ? 0u : static_cast<uint32_t>(ERR_MEM);
}

#include "player/event/event_user.h"

#include <cstring>

#include "runtime/eventdispatch.h"
#include "platform/memory.h"
#include "runtime/auxlib.h"
#include "runtime/eventqueue.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"

uint32_t RegisterUserEvent(qmEventState *st, const char *name, qmUserEventFiller owner) {
  if (!st) return 0;
  for (int i = 0; i < kDisplayEventCount; i++)
    if (Stricmp(name, DisplayEventNames[i]) == 0) return 0;
  for (int i = 0; i < kObjectEventCount; i++)
    if (Stricmp(name, ObjectEventNames[i]) == 0) return 0;
  uint32_t number = kFirstUserEvent;
  qmUserEvent **p = &st->userEvents;
  for (; *p; p = &(*p)->next) {
    if (Stricmp(name, (*p)->name) == 0) return 0;
    number = (*p)->number + 1;
  }
  size_t len = std::strlen(name);
  auto *e = static_cast<qmUserEvent *>(MemAlloc(static_cast<uint32_t>(sizeof(qmUserEvent) + len + 1), 1));
  if (!e) return 0;
  char *text = reinterpret_cast<char *>(e + 1);
  std::memcpy(text, name, len + 1);
  e->name = text;
  e->number = number;
  e->function = -1;
  e->userData = -1;
  e->owner = owner;
  *p = e;
  return number;
}

qmUserEvent *FindUserEvent(const qmEventState *st, uint32_t number) {
  for (qmUserEvent *e = st ? st->userEvents : nullptr; e; e = e->next)
    if (e->number == number) return e;
  return nullptr;
}

int PostUserEvent(uint32_t number, void *payload) { return PostEvent(nullptr, number, 0, 0, 0, payload); }

void FreeUserEvents(VmState *L) {
  qmEventState *st = L ? GetEventState(L) : nullptr;
  while (st && st->userEvents) {
    qmUserEvent *e = st->userEvents;
    st->userEvents = e->next;
    if (L) {
      if (e->function != -1) vm_unref(L, VM_REGISTRYINDEX, e->function);
      if (e->userData != -1) vm_unref(L, VM_REGISTRYINDEX, e->userData);
    }
    MemFree(e);
  }
}

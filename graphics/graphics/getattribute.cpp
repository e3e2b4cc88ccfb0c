#include "graphics/graphics/getattribute.h"

#include "display/display.h"
#include "graphics/graphics/clipregion.h"
#include "player/event/event_dispatch.h"
#include "player/event/event_timers.h"
#include "runtime/auxlib.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/objlist.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"

namespace {

// A row: the type, whether ATTRCOUNT is answered from the object list without a lookup, and
// the reader that looks the object up (argument 2) and pushes the attribute's results.
struct qmAttributeRow {
  uint32_t type;
  bool counted;
  uint32_t (*read)(VmState *L, int32_t attribute);
};

uint32_t PushNumber(VmState *L, double v) {
  vm_pushnumber(L, v);
  return 1;
}

// A registry reference as the value it holds; 0 when none.
uint32_t PushRef(VmState *L, int32_t ref) {
  if (ref < 0) return PushNumber(L, 0);
  vm_getref(L, ref);
  return 1;
}

uint32_t ReadClipRegion(VmState *L, int32_t attribute) {
  qmObjectId id = GetObjectIdArg(L, 2);
  qmClipRegion *r = nullptr;
  if (uint32_t code = FindClipRegion(L, &id, &r, 0)) return code;
  switch (attribute) {
  case ATTRWIDTH: return PushNumber(L, r->width);
  case ATTRHEIGHT: return PushNumber(L, r->height);
  case ATTRXPOS: return PushNumber(L, r->x);
  case ATTRYPOS: return PushNumber(L, r->y);
  default: return ERR_UNKNOWNATTR;
  }
}

uint32_t ReadScriptTimer(VmState *L, int32_t attribute, bool interval) {
  qmObjectId id = GetObjectIdArg(L, 2);
  qmScriptTimer *t = nullptr;
  if (uint32_t code = interval ? FindInterval(L, &id, &t) : FindTimeout(L, &id, &t)) return code;
  switch (attribute) {
  case ATTRFUNCTION: return PushRef(L, t->function);
  case ATTRUSERDATA: return PushRef(L, t->userData);
  case ATTRDURATION: return PushNumber(L, t->ms);
  default: return ERR_UNKNOWNATTR;
  }
}

uint32_t ReadInterval(VmState *L, int32_t attribute) { return ReadScriptTimer(L, attribute, true); }
uint32_t ReadTimeout(VmState *L, int32_t attribute) { return ReadScriptTimer(L, attribute, false); }

// The id is an event name: first the current display's window events, then the object events.
uint32_t ReadEventHandler(VmState *L, int32_t attribute) {
  const char *name = vm_checkstring(L, 2, nullptr);
  const qmHandlerSlot *slot = nullptr;
  for (int i = 0; i < kDisplayEventCount && !slot; i++)
    if (Stricmp(name, DisplayEventNames[i]) == 0) {
      // Without a display no window handler is set.
      static const qmHandlerSlot kNone{kNoHandler, kNoHandler};
      slot = CurrentDisplay ? &CurrentDisplay->handlers[i] : &kNone;
    }
  for (int i = 0; i < kObjectEventCount && !slot; i++)
    if (Stricmp(name, ObjectEventNames[i]) == 0) slot = &GetEventState(L)->objectSlots[i];
  if (!slot) {
    SetErrorArgument(name);
    return ERR_UNKNOWNTAG;
  }
  switch (attribute) {
  case ATTRFUNCTION: return PushRef(L, slot->function);
  case ATTRUSERDATA: return PushRef(L, slot->userData);
  default: return ERR_UNKNOWNATTR;
  }
}

// Types whose only attribute is their count.
uint32_t ReadNothing(VmState *, int32_t) { return ERR_UNKNOWNATTR; }

// Each library adds the rows of its object types here.
const qmAttributeRow kAttributeRows[] = {
    {QMTYPE_CLIPREGION, true, ReadClipRegion},
    {QMTYPE_EVENTHANDLER, false, ReadEventHandler},
    {QMTYPE_INTERVAL, false, ReadInterval},
    {QMTYPE_TIMEOUT, false, ReadTimeout},
    {QMTYPE_TIMER, true, ReadNothing},
    {QMTYPE_CLIENT, true, ReadNothing},
    {QMTYPE_SERVER, true, ReadNothing},
    {QMTYPE_UDPOBJECT, true, ReadNothing},
};

} // namespace

uint32_t GfxGetAttribute(VmState *L) {
  CheckArgCount(L, 3, 4);
  const int32_t type = vm_checkint32(L, 1);
  const int32_t attribute = vm_checkint32(L, 3);
  for (const qmAttributeRow &row : kAttributeRows) {
    if (int32_t(row.type) != type) continue;
    if (attribute == ATTRCOUNT && row.counted) {
      GetObjectIdArg(L, 2);  // the id need not name an object, but it must be an id
      return PushNumber(L, CountObjectsOfType(L, row.type));
    }
    return row.read(L, attribute);
  }
  return ERR_WRONGUSAGE;
}

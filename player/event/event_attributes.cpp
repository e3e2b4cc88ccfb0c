// GetAttribute of the event library's objects: event handlers (named by their event), intervals
// and timeouts.
#include "display/display.h"
#include "display/scene.h"
#include "runtime/eventdispatch.h"
#include "runtime/eventtimers.h"
#include "player/event/lib_event.h"
#include "runtime/attributes.h"
#include "runtime/auxlib.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/objtypes.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"

namespace {

// A registry reference as the value it holds; 0 when none.
uint32_t PushRef(VmState *L, int32_t ref) {
  if (ref < 0) vm_pushnumber(L, 0);
  else vm_getref(L, ref);
  return 1;
}

uint32_t ReadScriptTimer(VmState *L, int32_t attribute, bool interval) {
  qmObjectId id = GetObjectIdArg(L, 2);
  qmScriptTimer *t = nullptr;
  if (uint32_t code = interval ? FindInterval(L, &id, &t) : FindTimeout(L, &id, &t)) return code;
  switch (attribute) {
  case ATTRFUNCTION: return PushRef(L, t->function);
  case ATTRUSERDATA: return PushRef(L, t->userData);
  case ATTRDURATION: vm_pushnumber(L, t->ms); return 1;
  default: return ERR_UNKNOWNATTR;
  }
}

// The id is an event name: first the current display's window events, then the object events.
uint32_t ReadEventHandler(VmState *L, int32_t attribute) {
  const char *name = vm_checkstring(L, 2, nullptr);
  const qmHandlerSlot *slot = nullptr;
  const qmScene *scene = GetScene(L);
  for (int i = 0; i < kDisplayEventCount && !slot; i++)
    if (Stricmp(name, DisplayEventNames[i]) == 0) {
      // Without a display no window handler is set.
      static const qmHandlerSlot kNone{kNoHandler, kNoHandler};
      slot = scene && scene->current ? &scene->current->handlers[i] : &kNone;
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

}  // namespace

uint32_t EventReadAttribute(VmState *L, uint32_t type, int32_t attribute) {
  switch (type) {
  case QMTYPE_EVENTHANDLER: return ReadEventHandler(L, attribute);
  case QMTYPE_INTERVAL: return ReadScriptTimer(L, attribute, true);
  case QMTYPE_TIMEOUT: return ReadScriptTimer(L, attribute, false);
  default: return ERR_UNKNOWNATTR;
  }
}

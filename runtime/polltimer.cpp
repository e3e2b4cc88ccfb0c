#include "runtime/polltimer.h"

#include "runtime/eventdispatch.h"
#include "runtime/eventtimers.h"
#include "runtime/errcodes.h"

uint32_t AcquirePollTimer(VmState *L, uint32_t client) {
  qmEventState *st = GetEventState(L);
  if (st == nullptr || client >= POLL_CLIENT_COUNT) return ERR_WRONGUSAGE;
  uint32_t *clients = st->pollClients;
  if (!clients[POLL_CLIENT_SOUND] && !clients[POLL_CLIENT_EVENTS])
    if (uint32_t rc = AddInterval(L, &kPollIntervalId, int32_t(kPollIntervalMs), 1, 0, 0, nullptr)) return rc;
  clients[client] = 1;
  return 0;
}

void ReleasePollTimer(VmState *L, uint32_t client) {
  qmEventState *st = GetEventState(L);
  // A release without an acquire must not remove an interval that another client still uses
  // or that was never added.
  if (st == nullptr || client >= POLL_CLIENT_COUNT || !st->pollClients[client]) return;
  st->pollClients[client] = 0;
  if (!st->pollClients[POLL_CLIENT_SOUND] && !st->pollClients[POLL_CLIENT_EVENTS]) RemoveInterval(L, &kPollIntervalId);
}

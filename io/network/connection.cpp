#include "io/network/connection.h"

#include <arpa/inet.h>
#include <sys/mman.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/errorarg.h"
#include "platform/memory.h"
#include "platform/time.h"
#include "runtime/errcodes.h"

namespace {

// How long one idle pass of a waiting loop sleeps in poll before the event pump runs again:
// a frame of a 50 Hz display.
constexpr double kWaitSlice = 0.02;

uint32_t SocketFailure(int status) {
  SetPlatformErrorArgument(SocketError(status));
  return ERR_SOCKET;
}

uint32_t HostFailure(int status) {
  SetPlatformErrorArgument(SocketHostError(status));
  return ERR_SOCKET;
}

// Sleeps until the socket is ready in the mode or a slice passes.
void WaitSlice(int handle, int mode) {
  qmTimeout slice{kWaitSlice, -1, GetTimeSeconds()};
  SocketWaitFd(handle, mode, &slice);
}

bool SilenceTooLong(const qmNetWait *w, double lastData) {
  return w->timeoutMs != 0 && (GetTimeSeconds() - lastData) * 1000.0 > double(w->timeoutMs);
}

const qmTimeout kNoWait{0.0, 0.0, 0.0};

bool PastDeadline(const qmNetWait *w) {
  double now = GetTimeSeconds();
  return (w->deadline != 0 && now > w->deadline) || (w->pace && w->pace->deadline != 0 && now > w->pace->deadline);
}

// n more bytes moved: each full kPaceBytes grants another network time-out from now.
void Paced(const qmNetWait *w, uint64_t n) {
  qmNetPace *p = w->pace;
  if (!p || p->deadline == 0) return;
  if (n < p->owed) {
    p->owed -= n;
    return;
  }
  p->owed = kPaceBytes - (n - p->owed) % kPaceBytes;
  p->deadline = GetTimeSeconds() + w->timeoutMs / 1000.0;
}

// The script's progress callback: the time it takes is the script's, not the peer's, so the
// pace's deadline moves on by it.
uint32_t CallProgress(const qmNetWait *w, qmConnection *c) {
  double before = GetTimeSeconds();
  uint32_t code = w->progress(w->ud, c);
  if (w->pace && w->pace->deadline != 0) w->pace->deadline += GetTimeSeconds() - before;
  return code;
}

}  // namespace

void StartPace(qmNetPace *pace, uint32_t timeoutMs) {
  pace->owed = kPaceBytes;
  pace->deadline = timeoutMs ? GetTimeSeconds() + timeoutMs / 1000.0 : 0;
}

uint32_t WrapTcpSocket(int handle, qmTcpSocket **out) {
  auto *s = static_cast<qmTcpSocket *>(MemAlloc(sizeof(qmTcpSocket), 1));
  if (!s) return ERR_MEM;
  s->handle = handle;
  SocketSetNonBlocking(handle);
  s->timeout = {-1.0, -1.0, 0.0};
  s->created = GetTimeSeconds();
  *out = s;
  return 0;
}

uint32_t CreateTcpSocket(qmTcpSocket **out) {
  int handle;
  if (int st = SocketCreate(&handle, AF_INET, SOCK_STREAM, 0)) return SocketFailure(st);
  if (uint32_t code = WrapTcpSocket(handle, out)) {
    SocketDestroy(&handle);
    return code;
  }
  return 0;
}

void FreeTcpSocket(qmTcpSocket *s) {
  if (!s) return;
  SocketDestroy(&s->handle);
  MemFree(s);
}

uint32_t CreateUdpSocket(qmUdpSocket **out) {
  auto *s = static_cast<qmUdpSocket *>(MemAlloc(sizeof(qmUdpSocket), 1));
  if (!s) return ERR_MEM;
  if (int st = SocketCreate(&s->handle, AF_INET, SOCK_DGRAM, 0)) {
    MemFree(s);
    return SocketFailure(st);
  }
  SocketSetNonBlocking(s->handle);
  s->timeout = {0.0, 0.0, 0.0};
  *out = s;
  return 0;
}

void FreeUdpSocket(qmUdpSocket *s) {
  if (!s) return;
  SocketDestroy(&s->handle);
  MemFree(s);
}

uint32_t ResolveAddress(const char *host, uint16_t port, sockaddr_in *out) {
  *out = sockaddr_in{};
  out->sin_family = AF_INET;
  out->sin_port = htons(port);
  if (std::strcmp(host, "*") == 0) {
    out->sin_addr.s_addr = htonl(INADDR_ANY);
    return 0;
  }
  if (ParseDottedAddress(host, &out->sin_addr)) return 0;
  qmHostEntry entry;
  if (int st = SocketGetHostByName(host, &entry)) return HostFailure(st);
  out->sin_addr = entry.addresses[0];
  return 0;
}

uint32_t BindAddress(int handle, const char *host, uint16_t port) {
  sockaddr_in sa;
  if (uint32_t code = ResolveAddress(host, port, &sa)) return code;
  if (int st = SocketBind(handle, reinterpret_cast<sockaddr *>(&sa), sizeof sa)) return SocketFailure(st);
  return 0;
}

uint32_t ConnectTcpSocket(const char *host, uint16_t port, uint32_t timeoutMs, const qmNetWait *w,
                          qmTcpSocket **out) {
  qmTcpSocket *s;
  if (uint32_t code = CreateTcpSocket(&s)) return code;
  s->timeout.start = GetTimeSeconds();
  sockaddr_in sa;
  // "*" names no host to connect to: the connect fails for want of an address family. (A
  // connect without one would be taken by the system as a disconnect, and succeed.)
  uint32_t code = std::strcmp(host, "*") == 0 ? SocketFailure(EAFNOSUPPORT) : ResolveAddress(host, port, &sa);
  if (!code) {
    uint32_t stopped = 0;
    int st = SocketConnectPolled(s->handle, reinterpret_cast<sockaddr *>(&sa), sizeof sa, timeoutMs, w->service,
                                 w->ud, &stopped);
    if (stopped) code = stopped;
    else if (st) code = SocketFailure(st);
  }
  if (code) {
    FreeTcpSocket(s);
    return code;
  }
  s->timeout.block = 0.0;
  s->timeout.total = 0.0;
  *out = s;
  return 0;
}

namespace {

// A large body is written once, front to back, into pages nobody touched yet. Had in one call
// when the room is made, they cost the kernel far less than a fault each as the bytes arrive.
constexpr size_t kPopulateAtOnce = 1 << 20;

void PopulatePages(uint8_t *from, size_t n) {
#ifdef MADV_POPULATE_WRITE
  const uintptr_t page = 4096;
  uintptr_t start = (reinterpret_cast<uintptr_t>(from) + page - 1) & ~(page - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(from) + n) & ~(page - 1);
  // Refused on older kernels: the pages then come one fault at a time, as without it.
  if (end > start) madvise(reinterpret_cast<void *>(start), end - start, MADV_POPULATE_WRITE);
#else
  (void)from;
  (void)n;
#endif
}

}  // namespace

qmByteBuffer::~qmByteBuffer() {
  if (storage && data) storage->release(storage->ud, data);
  else std::free(data);
}

bool qmByteBuffer::Reserve(size_t more) {
  if (more <= capacity - length) return true;
  if (more > SIZE_MAX / 2 - length) return false;
  size_t need = length + more;
  size_t want = std::max(need, capacity < 4096 ? size_t(4096) : capacity * 2);
  if (need <= expected) want = std::min(want, expected);
  auto *grown = storage ? storage->resize(storage->ud, data, length, want)
                        : static_cast<uint8_t *>(std::realloc(data, want));
  if (!grown) return false;
  if (want - length >= kPopulateAtOnce) PopulatePages(grown + length, want - length);
  data = grown;
  capacity = want;
  return true;
}

uint8_t *qmByteBuffer::Release() {
  uint8_t *block = data;
  data = nullptr;
  length = capacity = 0;
  return block;
}

bool qmByteBuffer::Append(const void *bytes, size_t n) {
  if (!Reserve(n)) return false;
  if (n) std::memcpy(data + length, bytes, n);
  length += n;
  return true;
}

namespace {

// Large reads bypass the socket's own buffer: straight into memory, or through one scratch
// piece to a file.
constexpr size_t kBulkPiece = 256 << 10;

uint32_t Deliver(const qmNetSink *sink, const uint8_t *data, size_t n) {
  if (sink->memory) return sink->memory->Append(data, n) ? 0 : uint32_t(ERR_MEM);
  return sink->write(sink->ud, data, n);
}

}  // namespace

uint32_t ReceiveWithProgress(const qmNetWait *w, qmConnection *c, int32_t mode, uint64_t count, int waitFlag,
                             const qmNetSink *sink, uint64_t lineLimit, uint64_t *received, int *status) {
  qmTcpSocket *s = c->socket;
  s->timeout.start = GetTimeSeconds();
  double lastData = s->timeout.start;
  uint64_t got = 0, stored = 0;
  uint32_t code = 0;
  int st = 0;
  uint8_t line[kNetBufferSize];
  uint8_t *scratch = nullptr;
  bool reporting = c->progress && w->progress;
  size_t piece = reporting && c->progressPiece ? c->progressPiece : SIZE_MAX;
  size_t unreported = 0;  // bytes taken since the last report
  for (;;) {
    if (w->service && (code = w->service(w->ud))) break;
    if (PastDeadline(w)) {
      st = SOCK_TIMEOUT;
      break;
    }
    size_t take = 0;
    bool done = false;
    if (s->first == s->last) {
      size_t want = mode == RECEIVEBYTES ? size_t(std::min<uint64_t>(count - got, kBulkPiece))
                                         : mode == RECEIVEALL ? kBulkPiece : 0;
      want = std::min(want, piece - unreported);
      if (want > kNetBufferSize) {
        uint8_t *into;
        if (sink->memory) {
          if (!sink->memory->Reserve(want)) {
            code = ERR_MEM;
            break;
          }
          into = sink->memory->data + sink->memory->length;
        } else {
          if (!scratch && !(scratch = static_cast<uint8_t *>(std::malloc(kBulkPiece)))) {
            code = ERR_MEM;
            break;
          }
          into = scratch;
        }
        st = SocketRecv(s->handle, into, want, &take, &s->timeout);
        if (take) {
          if (sink->memory) sink->memory->length += take;
          else code = sink->write(sink->ud, into, take);
          done = mode == RECEIVEBYTES && got + take == count;
        }
      } else {
        size_t n = 0;
        st = SocketRecv(s->handle, s->data, kNetBufferSize, &n, &s->timeout);
        s->first = 0;
        s->last = uint32_t(n);
      }
    }
    if (!take && s->first != s->last) {
      const uint8_t *p = s->data + s->first;
      size_t avail = s->last - s->first, keep = avail;
      const uint8_t *out = p;
      take = keep = mode == RECEIVELINE ? avail : std::min(avail, piece - unreported);
      if (mode == RECEIVEBYTES) {
        take = keep = size_t(std::min<uint64_t>(take, count - got));
        done = got + take == count;
      } else if (mode == RECEIVELINE) {
        const void *lf = std::memchr(p, '\n', avail);
        take = lf ? size_t(static_cast<const uint8_t *>(lf) - p) + 1 : avail;
        done = lf != nullptr;
        keep = 0;
        for (size_t i = 0; i < take; i++)
          if (p[i] != '\r' && p[i] != '\n') line[keep++] = p[i];
        out = line;
        if (stored + keep > lineLimit) code = ERR_MEM;
      }
      if (!code && keep) code = Deliver(sink, out, keep);
      stored += keep;
      s->first += uint32_t(take);
      if (s->first == s->last) s->first = s->last = 0;
    }
    if (!take) {
      if (st == SOCK_TIMEOUT && waitFlag && !SilenceTooLong(w, lastData)) {
        WaitSlice(s->handle, SOCKWAIT_READ);
        continue;
      }
      if (st == 0) continue;
      // The peer's close ends the bytes: the last piece is reported like the others.
      if (st == SOCK_CLOSED && mode == RECEIVEALL && reporting && unreported) code = CallProgress(w, c);
      break;
    }
    lastData = GetTimeSeconds();
    Paced(w, take);
    s->received += take;
    got += take;
    if (code) break;
    if (reporting) {
      c->progressCount += take;
      unreported += take;
      if (unreported >= piece || piece == SIZE_MAX || done) {
        unreported = 0;
        if ((code = CallProgress(w, c))) break;
      }
    }
    if (done) {
      st = 0;
      break;
    }
  }
  std::free(scratch);
  if (mode == RECEIVEALL && st == SOCK_CLOSED && got > 0) st = 0;
  *received = got;
  *status = st;
  return code;
}

uint32_t ReceiveStatusError(int status) {
  if (status == 0) return 0;
  if (status == SOCK_TIMEOUT) return ERR_RECVTIMEOUT;
  if (status == SOCK_CLOSED) return ERR_RECVCLOSED;
  return ERR_RECVUNKNOWN;
}

uint32_t SendWithProgress(const qmNetWait *w, qmConnection *c, const void *data, size_t length, size_t *sent,
                          int *status) {
  *sent = 0;
  *status = 0;
  if (length < 1) return 0;
  qmTcpSocket *s = c->socket;
  const auto *p = static_cast<const uint8_t *>(data);
  s->timeout.start = GetTimeSeconds();
  double lastProgress = s->timeout.start;
  size_t total = 0;
  uint32_t code = 0;
  int st = 0;
  while (total < length) {
    if (w->service && (code = w->service(w->ud))) break;
    if (PastDeadline(w)) {
      st = SOCK_TIMEOUT;
      break;
    }
    size_t n = 0;
    st = SocketSend(s->handle, p + total, std::min(length - total, kNetBufferSize), &n, &s->timeout);
    total += n;
    if (n) {
      lastProgress = GetTimeSeconds();
      Paced(w, n);
      if (c->progress && w->progress) {
        c->progressCount += n;
        if ((code = CallProgress(w, c))) break;
      }
    }
    if (st == 0) continue;
    if (st != SOCK_TIMEOUT || SilenceTooLong(w, lastProgress)) break;
    WaitSlice(s->handle, SOCKWAIT_WRITE);
  }
  if (total == length) st = 0;
  s->sent += total;
  *sent = total;
  *status = st;
  return code;
}

int CheckConnectionData(qmConnection *c) {
  if (c->dataEvent || c->closedEvent) return 0;
  if (c->socket->first == c->socket->last && SocketPeek(c->socket->handle, &kNoWait, 0) != 0) return 0;
  c->dataEvent = 1;
  return 1;
}

int CheckConnectionClosed(qmConnection *c) {
  if (c->closedEvent) return 0;
  int st = SocketPeek(c->socket->handle, &kNoWait, 0);
  // A reset peer is as gone as one that closed.
  if (st != SOCK_CLOSED && st != ECONNRESET) return 0;
  c->closedEvent = 1;
  return 1;
}

int CheckServerAccept(qmServer *s, qmTcpSocket **accepted) {
  int handle;
  if (SocketAccept(s->socket->handle, &handle, nullptr, nullptr, &kNoWait) != 0) return 0;
  qmTcpSocket *t;
  if (WrapTcpSocket(handle, &t) != 0) {
    SocketDestroy(&handle);
    return 0;
  }
  t->timeout = kNoWait;
  *accepted = t;
  return 1;
}

int CheckUdpData(qmUdpObject *u) {
  if (u->dataEvent || SocketPeek(u->socket->handle, &kNoWait, 1) != 0) return 0;
  u->dataEvent = 1;
  return 1;
}

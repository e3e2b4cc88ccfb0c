#include "io/network/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/time.h"

namespace {

// Milliseconds for poll from a retry time in seconds; rounded up, so that a wait never ends
// before its time.
int PollMs(double retry) {
  if (retry < 0) return -1;
  double ms = std::ceil(retry * 1000.0);
  return ms > 2147483647.0 ? 2147483647 : int(ms);
}

int WithBlocking(int handle, int result) {
  SocketSetNonBlocking(handle);
  return result;
}

// A connect in progress has ended: 0 when it succeeded, else its error number.
int ConnectOutcome(int handle) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(handle, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

bool IsDatagramSocket(int handle) {
  int type = 0;
  socklen_t len = sizeof type;
  return getsockopt(handle, SOL_SOCKET, SO_TYPE, &type, &len) == 0 && type == SOCK_DGRAM;
}

}  // namespace

int SocketOpen() { return 1; }
int SocketClose() { return 1; }

int SocketCreate(int *handle, int domain, int type, int protocol) {
  *handle = socket(domain, type | SOCK_CLOEXEC, protocol);
  return *handle < 0 ? (*handle = -1, errno) : 0;
}

void SocketDestroy(int *handle) {
  if (*handle < 0) return;
  SocketSetBlocking(*handle);
  close(*handle);
  *handle = -1;
}

void SocketSetNonBlocking(int handle) {
  int flags = fcntl(handle, F_GETFL, 0);
  if (flags >= 0) fcntl(handle, F_SETFL, flags | O_NONBLOCK);
}

void SocketSetBlocking(int handle) {
  int flags = fcntl(handle, F_GETFL, 0);
  if (flags >= 0) fcntl(handle, F_SETFL, flags & ~O_NONBLOCK);
}

int SocketBind(int handle, const sockaddr *address, socklen_t length) {
  SocketSetBlocking(handle);
  return WithBlocking(handle, bind(handle, address, length) != 0 ? errno : 0);
}

int SocketListen(int handle, int backlog) {
  SocketSetBlocking(handle);
  return WithBlocking(handle, listen(handle, backlog) != 0 ? errno : 0);
}

double TimeoutGetRetry(const qmTimeout *tm) {
  if (tm->block < 0 && tm->total < 0) return -1;
  double left = tm->total - (GetTimeSeconds() - tm->start);
  if (left < 0) left = 0;
  if (tm->block < 0) return left;
  if (tm->total < 0) {
    double b = tm->block - (GetTimeSeconds() - tm->start);
    return b < 0 ? 0 : b;
  }
  return tm->block < left ? tm->block : left;
}

int SocketWaitFd(int handle, int mode, const qmTimeout *tm) {
  if (tm->block == 0.0) return SOCK_TIMEOUT;
  pollfd p{handle, 0, 0};
  if (mode & SOCKWAIT_READ) p.events |= POLLIN;
  if (mode & SOCKWAIT_WRITE) p.events |= POLLOUT;
  int n;
  do n = poll(&p, 1, PollMs(TimeoutGetRetry(tm)));
  while (n < 0 && errno == EINTR);
  if (n < 0) return errno;
  if (n == 0) return SOCK_TIMEOUT;
  if (mode == SOCKWAIT_CONNECT && (p.revents & (POLLERR | POLLHUP))) return SOCK_CLOSED;
  return 0;
}

int SocketConnectPolled(int handle, const sockaddr *address, socklen_t length, uint32_t timeoutMs,
                        qmServiceFn service, void *ud, uint32_t *stopped) {
  *stopped = 0;
  if (handle < 0) return SOCK_CLOSED;
  for (;;) {
    if (connect(handle, address, length) == 0) return 0;
    if (errno != EINTR) break;
  }
  if (errno != EAGAIN && errno != EINPROGRESS) return errno;
  double start = GetTimeSeconds();
  for (;;) {
    if (service) {
      if (uint32_t code = service(ud)) {
        *stopped = code;
        return SOCK_TIMEOUT;
      }
    }
    pollfd p{handle, POLLIN | POLLOUT, 0};
    int n;
    do n = poll(&p, 1, 10);
    while (n < 0 && errno == EINTR);
    if (n < 0) return errno;
    if (n > 0) return ConnectOutcome(handle);
    if ((GetTimeSeconds() - start) * 1000.0 > double(timeoutMs)) return SOCK_TIMEOUT;
  }
}

int SocketAccept(int handle, int *accepted, sockaddr *address, socklen_t *length, const qmTimeout *tm) {
  if (handle < 0) return SOCK_CLOSED;
  sockaddr_in own;
  socklen_t ownLength = sizeof own;
  if (!address) {
    address = reinterpret_cast<sockaddr *>(&own);
    length = &ownLength;
  }
  for (;;) {
    int h = accept4(handle, address, length, SOCK_CLOEXEC);
    if (h >= 0) {
      *accepted = h;
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno != ECONNABORTED && errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    if (int w = SocketWaitFd(handle, SOCKWAIT_READ, tm)) return w;
  }
}

int SocketSend(int handle, const void *data, size_t length, size_t *sent, const qmTimeout *tm) {
  return SocketSendTo(handle, data, length, sent, nullptr, 0, tm);
}

int SocketSendTo(int handle, const void *data, size_t length, size_t *sent, const sockaddr *address,
                 socklen_t addressLength, const qmTimeout *tm) {
  *sent = 0;
  if (handle < 0) return SOCK_CLOSED;
  for (;;) {
    ssize_t n = sendto(handle, data, length, MSG_NOSIGNAL, address, addressLength);
    if (n > 0) {
      *sent = size_t(n);
      return 0;
    }
    if (n == 0 || errno == EPIPE) return SOCK_CLOSED;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    if (int w = SocketWaitFd(handle, SOCKWAIT_WRITE, tm)) return w;
  }
}

int SocketRecv(int handle, void *buffer, size_t length, size_t *received, const qmTimeout *tm) {
  return SocketRecvFrom(handle, buffer, length, received, nullptr, nullptr, tm);
}

int SocketRecvFrom(int handle, void *buffer, size_t length, size_t *received, sockaddr *address,
                   socklen_t *addressLength, const qmTimeout *tm) {
  *received = 0;
  if (handle < 0) return SOCK_CLOSED;
  for (;;) {
    ssize_t n = recvfrom(handle, buffer, length, 0, address, addressLength);
    if (n > 0) {
      *received = size_t(n);
      return 0;
    }
    // No bytes from a stream is the peer's close; a datagram of no bytes is a datagram, which
    // has been taken and must be reported as one.
    if (n == 0) return IsDatagramSocket(handle) ? 0 : SOCK_CLOSED;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    if (int w = SocketWaitFd(handle, SOCKWAIT_READ, tm)) return w;
  }
}

int SocketPeek(int handle, const qmTimeout *tm, int datagram) {
  if (handle < 0) return SOCK_CLOSED;
  for (;;) {
    char byte;
    sockaddr_in from;
    socklen_t fromLength = sizeof from;
    ssize_t n = datagram ? recvfrom(handle, &byte, 1, MSG_PEEK, reinterpret_cast<sockaddr *>(&from), &fromLength)
                         : recv(handle, &byte, 1, MSG_PEEK);
    // A datagram of no bytes is still a datagram.
    if (n > 0 || (n == 0 && datagram)) return 0;
    if (n == 0) return SOCK_CLOSED;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    if (int w = SocketWaitFd(handle, SOCKWAIT_READ, tm)) return w;
  }
}

namespace {
// The resolver's failures in the numbering of h_errno (1 host not found, 2 try again,
// 3 no recovery, 4 no address).
int ResolverStatus(int eai) {
  switch (eai) {
    case EAI_NONAME: return 1;
    case EAI_AGAIN: return 2;
    case EAI_FAIL: return 3;
#ifdef EAI_NODATA
    case EAI_NODATA: return 4;
#endif
    case EAI_SYSTEM: return errno ? errno : SOCK_UNKNOWN;
    default: return SOCK_UNKNOWN;
  }
}
}  // namespace

int SocketGetHostByName(const char *name, qmHostEntry *out) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo *list = nullptr;
  if (int rc = getaddrinfo(name, nullptr, &hints, &list)) return ResolverStatus(rc);
  *out = qmHostEntry{};
  out->name = list->ai_canonname ? list->ai_canonname : name;
  for (addrinfo *a = list; a; a = a->ai_next) {
    in_addr ip = reinterpret_cast<sockaddr_in *>(a->ai_addr)->sin_addr;
    bool seen = false;
    for (const in_addr &o : out->addresses) seen = seen || o.s_addr == ip.s_addr;
    if (!seen) out->addresses.push_back(ip);
  }
  freeaddrinfo(list);
  return out->addresses.empty() ? 1 : 0;
}

int SocketGetHostByAddr(const in_addr *address, qmHostEntry *out) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr = *address;
  char host[NI_MAXHOST];
  int rc = getnameinfo(reinterpret_cast<sockaddr *>(&sa), sizeof sa, host, sizeof host, nullptr, 0, NI_NAMEREQD);
  if (rc) return ResolverStatus(rc);
  *out = qmHostEntry{};
  out->name = host;
  out->addresses.push_back(*address);
  return 0;
}

const char *IoErrorText(int status) {
  switch (status) {
    case SOCK_TIMEOUT: return "timeout";
    case SOCK_CLOSED: return "closed";
    case SOCK_DONE: return nullptr;
    default: return "unknown error";
  }
}

const char *SocketHostError(int status) {
  if (status < 1) return IoErrorText(status);
  if (status == 1) return "host not found";
  return hstrerror(status);
}

const char *SocketError(int status) {
  if (status <= 0) return IoErrorText(status);
  switch (status) {
    case EACCES: return "permission denied";
    case EADDRINUSE: return "address already in use";
    case ECONNABORTED:
    case ECONNRESET: return "closed";
    case EISCONN: return "already connected";
    case ETIMEDOUT: return "timeout";
    case ECONNREFUSED: return "connection refused";
    default: return std::strerror(status);
  }
}

bool ParseDottedAddress(const char *text, in_addr *out) {
  unsigned a, b, c, d;
  char tail;
  if (std::sscanf(text, "%3u.%3u.%3u.%3u%c", &a, &b, &c, &d, &tail) != 4) return false;
  if (a > 255 || b > 255 || c > 255 || d > 255) return false;
  for (const char *p = text; *p; p++)
    if (!(*p == '.' || (*p >= '0' && *p <= '9'))) return false;
  out->s_addr = htonl(a << 24 | b << 16 | c << 8 | d);
  return true;
}

std::string FormatDottedAddress(const in_addr &address) {
  char text[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

// The socket layer: non-blocking POSIX sockets waited on with poll. Every operation answers
// with one status code and never blocks longer than its time-out record allows, so that the
// network library above can keep the event pump running while it waits.
#pragma once
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Status codes; a positive status is the system's error number (or the resolver's code for
// host look-ups).
enum : int {
  SOCK_DONE = 0,
  SOCK_TIMEOUT = -1,
  SOCK_CLOSED = -2,   // the peer closed, the handle is invalid, or a write found the pipe broken
  SOCK_UNKNOWN = -3,  // a look-up failed without an error number
};

// Seconds. A negative block or total is no limit; block 0.0 never waits at all.
struct qmTimeout {
  double block;  // longest wait of one operation
  double total;  // longest wait of the whole operation, counted from start
  double start;  // the clock (GetTimeSeconds) when the operation began; set by the caller
};

// The wait modes of SocketWaitFd.
enum : int { SOCKWAIT_READ = 1, SOCKWAIT_WRITE = 2, SOCKWAIT_CONNECT = 3 };

// Nothing to set up: sends use MSG_NOSIGNAL, so SIGPIPE stays as programs started from the
// player expect it. Returns 1.
int SocketOpen();
int SocketClose();

int SocketCreate(int *handle, int domain, int type, int protocol);
// Closes a valid handle and sets it to -1.
void SocketDestroy(int *handle);
void SocketSetNonBlocking(int handle);
void SocketSetBlocking(int handle);
int SocketBind(int handle, const sockaddr *address, socklen_t length);
int SocketListen(int handle, int backlog);

// The seconds the next wait may last, or -1 for no limit.
double TimeoutGetRetry(const qmTimeout *tm);
// 0 ready, -1 nothing ready in time, -2 (connect mode) the socket reported an error or hang-up,
// or errno.
int SocketWaitFd(int handle, int mode, const qmTimeout *tm);

// One pass of the caller's event pump: non-zero stops the wait and is handed back.
using qmServiceFn = uint32_t (*)(void *ud);
// The connect of every TCP connection: polls every 10 ms and runs service between polls. -1 on
// a time-out (timeoutMs milliseconds) or when service stopped it (its result in *stopped).
int SocketConnectPolled(int handle, const sockaddr *address, socklen_t length, uint32_t timeoutMs,
                        qmServiceFn service, void *ud, uint32_t *stopped);
int SocketAccept(int handle, int *accepted, sockaddr *address, socklen_t *length, const qmTimeout *tm);
// One piece: *sent (or *received) is what one system call moved; the caller loops for the rest.
// Receiving no bytes is SOCK_CLOSED on a stream and an empty datagram (0, count 0) otherwise.
int SocketSend(int handle, const void *data, size_t length, size_t *sent, const qmTimeout *tm);
int SocketSendTo(int handle, const void *data, size_t length, size_t *sent, const sockaddr *address,
                 socklen_t addressLength, const qmTimeout *tm);
int SocketRecv(int handle, void *buffer, size_t length, size_t *received, const qmTimeout *tm);
int SocketRecvFrom(int handle, void *buffer, size_t length, size_t *received, sockaddr *address,
                   socklen_t *addressLength, const qmTimeout *tm);
// Waits until a byte can be read, without taking it.
int SocketPeek(int handle, const qmTimeout *tm, int datagram);

// A host found by a look-up: its official name, aliases and IPv4 addresses.
struct qmHostEntry {
  std::string name;
  std::vector<std::string> aliases;
  std::vector<in_addr> addresses;
};
int SocketGetHostByName(const char *name, qmHostEntry *out);
int SocketGetHostByAddr(const in_addr *address, qmHostEntry *out);

// Texts of the status codes: time-out and closed; host look-ups; socket failures.
const char *IoErrorText(int status);
const char *SocketHostError(int status);
const char *SocketError(int status);
// "%d.%d.%d.%d"; false unless the text is exactly a dotted IPv4 address.
bool ParseDottedAddress(const char *text, in_addr *out);
std::string FormatDottedAddress(const in_addr &address);

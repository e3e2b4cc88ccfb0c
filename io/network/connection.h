// The network library's objects and their input and output: TCP connections with their
// receive buffers, servers, UDP objects, and the waiting loops that move data while the
// caller's event pump keeps running. Nothing here knows the VM: waits call back through
// qmNetWait.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "io/network/socket.h"
#include "runtime/registry.h"

inline constexpr size_t kNetBufferSize = 8192;

struct qmTcpSocket {
  int handle;
  qmTimeout timeout;
  double created;    // seconds
  uint64_t sent;     // bytes sent and received over the socket's life
  uint64_t received;
  uint32_t first, last;  // the unread bytes of data
  uint8_t data[kNetBufferSize];
};

struct qmConnection {
  qmObjectHeader header;  // QMTYPE_CLIENT
  qmTcpSocket *socket;
  uint32_t dataEvent;    // onreceivedata raised and not yet answered by a receive
  uint32_t closedEvent;  // ondisconnect raised (or the connection raises no events)
  uint32_t progress;     // a transfer wants its callback called
  uint64_t progressCount, progressTotal;
  uint32_t progressUserData;  // the callback gets a user-data value
  // A receive reports every this many bytes and once more at its end, so that a script sees
  // the same pieces however the bytes arrive; 0: after every read.
  uint32_t progressPiece;
};

struct qmServer {
  qmObjectHeader header;  // QMTYPE_SERVER
  qmTcpSocket *socket;
};

struct qmUdpSocket {
  int handle;
  qmTimeout timeout;
  uint8_t data[kNetBufferSize];
};

struct qmUdpObject {
  qmObjectHeader header;  // QMTYPE_UDPOBJECT
  qmUdpSocket *socket;
  uint32_t dataEvent;
};

// A transfer's pace: within every network time-out it moves at least kPaceBytes more or ends,
// so that a body that keeps trickling ends while a slow honest one goes on.
inline constexpr uint64_t kPaceBytes = 16384;
struct qmNetPace {
  uint64_t owed;    // bytes still to move before the deadline
  double deadline;  // seconds of GetTimeSeconds
};

// How a waiting loop keeps the program alive and reports progress.
struct qmNetWait {
  void *ud;
  qmServiceFn service;                                 // one event-pump pass; non-zero stops
  uint32_t (*progress)(void *ud, qmConnection *conn);  // the transfer's callback; non-zero stops
  uint32_t timeoutMs;                                  // longest silence; 0: no limit
  double deadline = 0;  // seconds of GetTimeSeconds when the wait gives up whatever arrives; 0: none
  qmNetPace *pace = nullptr;  // counts the bytes moved and ends a wait that fell behind; null: none
};

// Starts a pace from now; a time-out of 0 (no limit) leaves it without a deadline.
void StartPace(qmNetPace *pace, uint32_t timeoutMs);

// Memory a byte buffer may borrow instead of its own: a string being built in place, so that
// received bytes need no copy afterwards. resize makes the block (nullptr: none yet) capacity
// bytes long keeping its first length bytes, or answers nullptr without memory, the block then
// unchanged; release gives back a block nobody took.
struct qmByteStorage {
  void *ud;
  uint8_t *(*resize)(void *ud, uint8_t *data, size_t length, size_t capacity);
  void (*release)(void *ud, uint8_t *data);
};

// Received bytes in memory. It grows geometrically through realloc (or its storage), which moves
// large blocks by remapping their pages instead of copying them; its size never comes from what
// a peer claims: a length announced by the peer only stops the doubling short of it.
struct qmByteBuffer {
  uint8_t *data = nullptr;
  size_t length = 0, capacity = 0;
  size_t expected = SIZE_MAX;  // growth ends here when the bytes still wanted fit
  const qmByteStorage *storage = nullptr;
  qmByteBuffer() = default;
  explicit qmByteBuffer(const qmByteStorage *s) : storage(s) {}
  qmByteBuffer(const qmByteBuffer &) = delete;
  qmByteBuffer &operator=(const qmByteBuffer &) = delete;
  ~qmByteBuffer();
  // Room for more bytes after length; false without memory.
  bool Reserve(size_t more);
  // Hands the block to the caller, who now owns it; the buffer is empty afterwards.
  uint8_t *Release();
  bool Append(const void *bytes, size_t n);
  std::string Text() const { return data ? std::string(reinterpret_cast<const char *>(data), length) : std::string(); }
};

// Where received bytes go: memory or a writer (a file).
struct qmNetSink {
  qmByteBuffer *memory;
  void *ud;
  uint32_t (*write)(void *ud, const uint8_t *data, size_t length);  // 0 or an error code
};

enum : int32_t { RECEIVEALL = 0, RECEIVEBYTES = 1, RECEIVELINE = 2 };

// A stream socket record: non-blocking, waits without limit until the caller sets its time-out.
// 0, ERR_MEM, or ERR_SOCKET with the error argument set.
uint32_t CreateTcpSocket(qmTcpSocket **out);
uint32_t WrapTcpSocket(int handle, qmTcpSocket **out);
void FreeTcpSocket(qmTcpSocket *s);
uint32_t CreateUdpSocket(qmUdpSocket **out);
void FreeUdpSocket(qmUdpSocket *s);

// The IPv4 address of host ("*": any address; dotted; or the first of a look-up) and port.
// 0 or ERR_SOCKET with the host text as error argument.
uint32_t ResolveAddress(const char *host, uint16_t port, sockaddr_in *out);
// Binds to the address ("*", dotted or a name) and port. 0 or ERR_SOCKET.
uint32_t BindAddress(int handle, const char *host, uint16_t port);
// Creates and connects a TCP socket within timeoutMs; afterwards reads and writes never wait.
// 0, the code that stopped the wait, or ERR_SOCKET with the error argument set.
uint32_t ConnectTcpSocket(const char *host, uint16_t port, uint32_t timeoutMs, const qmNetWait *w,
                          qmTcpSocket **out);

// Receives by mode into the sink: all (until nothing more comes; with wait until the network
// time-out passes without data or the peer closes), count bytes, or one line (CR dropped, LF
// consumed and not stored; a line over lineLimit bytes gives ERR_MEM). Past the wait's deadline,
// or behind its pace, it ends with the time-out status even while data flows. *status is the socket
// status that ended it (0 when the mode was satisfied); the result is 0 or the code that
// stopped it (the event pump, the progress callback, the sink).
uint32_t ReceiveWithProgress(const qmNetWait *w, qmConnection *c, int32_t mode, uint64_t count, int waitFlag,
                             const qmNetSink *sink, uint64_t lineLimit, uint64_t *received, int *status);
// The transfer commands' reading of a receive status: ERR_RECVTIMEOUT, ERR_RECVCLOSED,
// ERR_RECVUNKNOWN, or 0.
uint32_t ReceiveStatusError(int status);
// Sends everything (in pieces of at most 8192 bytes); *sent is what went out and *status the
// socket status that ended it. The result is 0 or the code that stopped it.
uint32_t SendWithProgress(const qmNetWait *w, qmConnection *c, const void *data, size_t length, size_t *sent,
                          int *status);

// The event checks: 1 when the event is due (and its flag is now set).
int CheckConnectionData(qmConnection *c);
int CheckConnectionClosed(qmConnection *c);
// A new connection's socket, or 0 when none waits.
int CheckServerAccept(qmServer *s, qmTcpSocket **accepted);
int CheckUdpData(qmUdpObject *u);

// The "network" library: its command handlers, command table and event source. The sockets
// live in socket.cpp, the objects' input and output in connection.cpp, the HTTP and FTP client
// in transfer.cpp.
#include "io/network/lib_network.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdlib>
#include <new>
#include <type_traits>
#include <cstring>
#include <string>

#include "io/network/connection.h"
#include "io/network/transfer.h"
#include "platform/file.h"
#include "platform/memory.h"
#include "platform/time.h"
#include "runtime/eventdispatch.h"
#include "runtime/auxlib.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"
#include "runtime/rttags.h"
#include "runtime/vm/vm_api.h"

struct qmNetworkState {
  uint32_t timeoutMs = 10000;  // SetNetworkTimeout; 0: waits without limit
  bool opened = false;         // the socket layer is open
  qmObjectId acceptedBy{};     // the server of the OnConnect being dispatched
};

namespace {

enum : int32_t { NETWORKCONNECTION = 99, NETWORKSERVER = 115, NETWORKUDP = 117 };

qmNetworkState *State(VmState *L) { return GetPlayerContext(L)->network; }

uint32_t OpenSockets(VmState *L) {
  qmNetworkState *st = State(L);
  if (!st->opened) {
    if (!SocketOpen()) return ERR_OPENSOCKET;
    st->opened = true;
  }
  return 0;
}

// What a waiting loop of a command needs: the VM for the event pump, and where the running
// command keeps its progress callback and user data.
struct CommandWait {
  VmState *L;
  int callback;  // stack position; 0: none
  int userData;  // stack position; 0: none
};

uint32_t ServiceCommand(void *ud) { return PollCancel(CommandCancel(static_cast<CommandWait *>(ud)->L)); }

// The transfer's callback: { action, count, total [, userdata] }; True stops the transfer.
uint32_t CallProgressCallback(void *ud, qmConnection *c) {
  auto *w = static_cast<CommandWait *>(ud);
  VmState *L = w->L;
  if (!w->callback) return 0;
  vm_pushvalue(L, w->callback);
  vm_newtable(L);
  SetFieldNumber(L, "action", 0);
  SetFieldNumber(L, "count", double(c->progressCount));
  SetFieldNumber(L, "total", double(c->progressTotal));
  if (c->progressUserData && w->userData) {
    vm_pushstring(L, "userdata");
    vm_pushvalue(L, w->userData);
    vm_rawset(L, -3);
  }
  qmTagItem up[] = {{RTTAG_CALLBACKDEPTH, 1}, {0, 0}};
  qmTagItem down[] = {{RTTAG_CALLBACKDEPTH, 0}, {0, 0}};
  SetRuntimeTags(L, up);
  uint32_t code = vm_pcall(L, 1, 1, 0);
  SetRuntimeTags(L, down);
  if (code) return code;
  int t = vm_type(L, -1);
  double answer = t == VM_TBOOLEAN ? vm_toboolean(L, -1) : t == VM_TNUMBER ? vm_tonumber(L, -1) : -1;
  vm_pop(L, 1);
  if (t != VM_TBOOLEAN && t != VM_TNUMBER) return ERR_NUMCALLBACK;
  if (vm_endrequested(L)) return ERR_USERABORT;
  return answer == 1 ? kTransferStopped : 0;
}

qmNetWait MakeWait(VmState *L, CommandWait *cw) {
  return qmNetWait{cw, ServiceCommand, CallProgressCallback, State(L)->timeoutMs};
}

// ---- objects ----

template <typename T>
T *Lookup(VmState *L, uint32_t type, const qmObjectId &id) {
  return reinterpret_cast<T *>(FindObject(L, type, &id));
}


template <typename T>
void FreeNetObject(VmState *L, T *o) {
  RemoveObject(L, &o->header);
  FreeObjectDataList(L, static_cast<qmObjectData *>(o->header.userData));
  if constexpr (std::is_same_v<T, qmUdpObject>) FreeUdpSocket(o->socket);
  else FreeTcpSocket(o->socket);
  MemFree(o);
}

// A numbered object that is about to be replaced goes first.
template <typename T>
void FreeSameNumber(VmState *L, uint32_t type, const qmObjectId &id) {
  if (id.handle) return;
  if (T *old = Lookup<T>(L, type, id)) FreeNetObject(L, old);
}

template <typename T>
uint32_t AddNetObject(VmState *L, uint32_t type, qmObjectId *id, T **out) {
  auto *o = static_cast<T *>(MemAlloc(sizeof(T), 1));
  if (!o) return ERR_MEM;
  SetObjectHeader(&o->header, type, id);
  if (uint32_t code = AddObject(L, &o->header)) {
    MemFree(o);
    return code;
  }
  *out = o;
  return 0;
}

uint32_t AddConnection(VmState *L, qmObjectId *id, qmTcpSocket *s, qmConnection **out) {
  if (uint32_t code = AddNetObject(L, QMTYPE_CLIENT, id, out)) {
    FreeTcpSocket(s);
    return code;
  }
  (*out)->socket = s;
  return 0;
}

// A port argument within 1..65535 (or from 0 with zeroOk); ERR_WRONGUSAGE outside.
uint32_t PortArg(VmState *L, int i, double def, bool zeroOk, uint16_t *out) {
  double d = vm_gettop(L) < i || vm_isnoneornil(L, i) ? def : vm_checknumber(L, i);
  if (!(d >= (zeroOk ? 0 : 1) && d <= 65535)) return ERR_WRONGUSAGE;
  *out = uint16_t(d);
  return 0;
}

uint32_t PushHandle(VmState *L, const qmObjectId &id, void *record) {
  if (!id.handle) return 0;
  vm_pushlightuserdata(L, record);
  return 1;
}

uint32_t SocketTextError(int status) {
  SetErrorArgument(SocketError(status));
  return ERR_SOCKET;
}

// ---- commands ----

uint32_t NetOpenConnection(VmState *L) {
  CheckArgCount(L, 3, 3);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  const char *host = vm_checkstring(L, 2, nullptr);
  uint16_t port;
  if (uint32_t code = PortArg(L, 3, 0, false, &port)) return code;
  if (uint32_t code = OpenSockets(L)) return code;
  FreeSameNumber<qmConnection>(L, QMTYPE_CLIENT, id);
  CommandWait cw{L, 0, 0};
  qmNetWait w = MakeWait(L, &cw);
  qmTcpSocket *s;
  if (uint32_t code = ConnectTcpSocket(host, port, State(L)->timeoutMs, &w, &s)) return code;
  qmConnection *c;
  if (uint32_t code = AddConnection(L, &id, s, &c)) return code;
  return PushHandle(L, id, c);
}

uint32_t NetCloseConnection(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmConnection *c;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_CLIENT, ERR_FINDCLIENT, &c)) return code;
  FreeNetObject(L, c);
  return 0;
}

uint32_t NetCreateServer(VmState *L) {
  CheckArgCount(L, 1, 4);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  uint16_t port;
  if (uint32_t code = PortArg(L, 2, 0, true, &port)) return code;
  const char *address = vm_optlstring(L, 3, "*", nullptr);
  int32_t backlog = vm_optint32(L, 4, 32);
  if (uint32_t code = OpenSockets(L)) return code;
  FreeSameNumber<qmServer>(L, QMTYPE_SERVER, id);
  qmTcpSocket *s;
  if (uint32_t code = CreateTcpSocket(&s)) return code;
  int on = 1;
  uint32_t code = setsockopt(s->handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ? uint32_t(ERR_SOCKOPT) : 0;
  if (!code) code = BindAddress(s->handle, address, port);
  if (!code)
    if (int st = SocketListen(s->handle, backlog)) code = SocketTextError(st);
  if (code) {
    FreeTcpSocket(s);
    return code;
  }
  s->timeout = {0.0, 0.0, 0.0};
  qmServer *server;
  if ((code = AddNetObject(L, QMTYPE_SERVER, &id, &server))) {
    FreeTcpSocket(s);
    return code;
  }
  server->socket = s;
  return PushHandle(L, id, server);
}

uint32_t NetCloseServer(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmServer *server;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_SERVER, ERR_FINDSERVER, &server)) return code;
  FreeNetObject(L, server);
  return 0;
}

uint32_t NetSendData(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmConnection *c;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_CLIENT, ERR_FINDCLIENT, &c)) return code;
  size_t len;
  const char *data = vm_checkstring(L, 2, &len);
  CommandWait cw{L, 0, 0};
  qmNetWait w = MakeWait(L, &cw);
  size_t sent;
  int st;
  if (uint32_t code = SendWithProgress(&w, c, data, len, &sent, &st)) return code;
  vm_pushnumber(L, double(sent));
  return 1;
}

uint32_t NetReceiveData(VmState *L) {
  CheckArgCount(L, 2, 3);
  qmConnection *c;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_CLIENT, ERR_FINDCLIENT, &c)) return code;
  int32_t mode = vm_checkint32(L, 2);
  uint64_t count = 0;
  int waitFlag = 1;
  if (mode == RECEIVEALL) {
    waitFlag = vm_optflag(L, 3, true);
  } else if (mode == RECEIVEBYTES) {
    double d = vm_checknumber(L, 3);
    if (!(d >= 1 && d <= double(VM_MAXSTRLEN))) return ERR_WRONGUSAGE;
    count = uint64_t(d);
  } else if (mode != RECEIVELINE) {
    return ERR_WRONGUSAGE;
  }
  qmByteBuffer data;
  qmNetSink sink{&data, nullptr, nullptr};
  CommandWait cw{L, 0, 0};
  qmNetWait w = MakeWait(L, &cw);
  uint64_t got;
  int st;
  uint32_t code = ReceiveWithProgress(&w, c, mode, count, waitFlag, &sink, VM_MAXSTRLEN, &got, &st);
  c->dataEvent = 0;
  if (code) return code;
  // A line of which nothing came is no line: an empty one is an answer the peer never gave.
  if (mode == RECEIVELINE && got == 0 && st == SOCK_TIMEOUT) return ERR_RECVTIMEOUT;
  vm_pushlstring(L, data.data ? reinterpret_cast<const char *>(data.data) : "", data.length);
  vm_pushnumber(L, double(data.length));
  vm_pushnumber(L, mode != RECEIVEALL || st == 0 ? 1 : 0);
  return 3;
}

uint32_t PushAddressAndPort(VmState *L, int handle, bool peer, bool wantPort, uint32_t failure) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  int rc = peer ? getpeername(handle, reinterpret_cast<sockaddr *>(&sa), &len)
                : getsockname(handle, reinterpret_cast<sockaddr *>(&sa), &len);
  if (rc != 0) return failure;
  if (wantPort) vm_pushnumber(L, ntohs(sa.sin_port));
  else vm_pushstring(L, FormatDottedAddress(sa.sin_addr).c_str());
  return 1;
}

uint32_t NetGetConnectionIP(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmConnection *c;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_CLIENT, ERR_FINDCLIENT, &c)) return code;
  return PushAddressAndPort(L, c->socket->handle, true, false, ERR_PEERNAME);
}

uint32_t NetGetConnectionPort(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmConnection *c;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_CLIENT, ERR_FINDCLIENT, &c)) return code;
  return PushAddressAndPort(L, c->socket->handle, true, true, ERR_PEERNAME);
}

uint32_t NetGetHostName(VmState *L) {
  CheckArgCount(L, 0, 0);
  char name[256];
  if (gethostname(name, sizeof name) != 0) return ERR_HOSTNAME;
  name[sizeof name - 1] = 0;
  vm_pushstring(L, name);
  return 1;
}

// { name, alias = {...}, ip = {...} }, lists from 1.
void PushHostTable(VmState *L, const qmHostEntry &e) {
  vm_newtable(L);
  SetFieldString(L, "name", e.name.c_str());
  vm_pushstring(L, "alias");
  vm_newtable(L);
  for (size_t i = 0; i < e.aliases.size(); i++) {
    vm_pushstring(L, e.aliases[i].c_str());
    vm_rawseti(L, -2, int(i + 1));
  }
  vm_rawset(L, -3);
  vm_pushstring(L, "ip");
  vm_newtable(L);
  for (size_t i = 0; i < e.addresses.size(); i++) {
    vm_pushstring(L, FormatDottedAddress(e.addresses[i]).c_str());
    vm_rawseti(L, -2, int(i + 1));
  }
  vm_rawset(L, -3);
}

uint32_t HostLookup(VmState *L, bool byAddress) {
  CheckArgCount(L, 1, 1);
  const char *name = vm_checkstring(L, 1, nullptr);
  if (uint32_t code = OpenSockets(L)) return code;
  qmHostEntry e;
  in_addr a;
  int st = byAddress && ParseDottedAddress(name, &a) ? SocketGetHostByAddr(&a, &e) : SocketGetHostByName(name, &e);
  if (st) {
    SetErrorArgument(SocketHostError(st));
    return ERR_SOCKET;
  }
  if (byAddress) vm_pushstring(L, e.name.c_str());
  else vm_pushstring(L, FormatDottedAddress(e.addresses[0]).c_str());
  PushHostTable(L, e);
  return 2;
}

uint32_t NetToIP(VmState *L) { return HostLookup(L, false); }
uint32_t NetToHostName(VmState *L) { return HostLookup(L, true); }

// The options of DownloadFile and UploadFile (table at position 2).
uint32_t ReadTransferOptions(VmState *L, bool upload, qmTransferRequest *req, bool *silent) {
  *silent = false;
  if (vm_isnoneornil(L, 2)) return upload ? uint32_t(ERR_WRONGUSAGE) : 0;
  vm_checktable(L, 2);
  int32_t mode;
  if (GetFieldInt(L, 2, "transfermode", &mode, nullptr)) {
    if (mode != FTPASCII && mode != FTPBINARY) return ERR_WRONGUSAGE;
    req->transferMode = mode;
  }
  const char *text;
  size_t len;
  if (GetFieldBytes(L, 2, "file", &text, &len, nullptr)) req->outFile.assign(text, len);
  if (GetFieldBytes(L, 2, "proxy", &text, &len, nullptr)) req->proxy.assign(text, len);
  GetFieldFlag(L, 2, "silentfail", silent, nullptr);
  if (upload) {
    bool hasData = GetFieldBytes(L, 2, "data", &text, &len, nullptr);
    if (hasData) req->inData.assign(text, len);
    bool hasFile = !req->outFile.empty();
    return hasData == hasFile || (hasData && len == 0) ? uint32_t(ERR_WRONGUSAGE) : 0;
  }
  GetFieldFlag(L, 2, "fail404", &req->fail404, nullptr);
  GetFieldFlag(L, 2, "redirect", &req->redirect, nullptr);
  if (GetFieldBytes(L, 2, "post", &text, &len, nullptr)) {
    if (len == 0) return ERR_WRONGUSAGE;
    req->post = true;
    req->postData.assign(text, len);
  }
  if (GetFieldBytes(L, 2, "posttype", &text, &len, nullptr)) req->postType.assign(text, len);
  if (GetFieldBytes(L, 2, "useragent", &text, &len, nullptr)) req->userAgent.assign(text, len);
  return 0;
}

// A download to memory is received straight into the script string it becomes.
uint8_t *ResizeOpenString(void *ud, uint8_t *data, size_t, size_t capacity) {
  auto *L = static_cast<VmState *>(ud);
  char *bytes = data ? vm_resizeopenstring(L, reinterpret_cast<char *>(data), capacity) : vm_openstring(L, capacity);
  return reinterpret_cast<uint8_t *>(bytes);
}

void ReleaseOpenString(void *ud, uint8_t *data) { vm_freeopenstring(static_cast<VmState *>(ud), reinterpret_cast<char *>(data)); }

uint32_t Transfer(VmState *L, bool upload) {
  CheckArgCount(L, upload ? 2 : 1, 4);
  qmTransferRequest req;
  req.upload = upload;
  size_t urlLength;
  const char *url = vm_checkstring(L, 1, &urlLength);
  req.url.assign(url, urlLength);
  bool silent;
  if (uint32_t code = ReadTransferOptions(L, upload, &req, &silent)) return code;
  CommandWait cw{L, 0, 0};
  if (vm_gettop(L) >= 3 && vm_type(L, 3) != VM_TNIL) {
    vm_checkfunction(L, 3);
    cw.callback = 3;
    req.progress = true;
  }
  if (vm_gettop(L) >= 4) {
    cw.userData = 4;
    req.progressUserData = true;
  }
  if (uint32_t code = OpenSockets(L)) return code;
  if (upload && !req.outFile.empty()) {
    req.inFile = FileOpen(req.outFile.c_str(), FILE_MODE_READ);
    if (!req.inFile) {
      SetErrorArgument(req.outFile.c_str());
      return ERR_READFILE;
    }
    FileSeek(req.inFile, 0, FILE_SEEK_END);
    req.inSize = FileSeek(req.inFile, 0, FILE_SEEK_START);
    req.outFile.clear();
  }
  qmNetWait w = MakeWait(L, &cw);
  const qmByteStorage inString{L, ResizeOpenString, ReleaseOpenString};
  qmTransferResult result;
  result.data.storage = &inString;
  uint32_t code = TransferFile(&w, req, &result);
  if (req.inFile) FileClose(req.inFile);
  if (code) {
    if (!silent || code == ERR_USERABORT) return code;
    char message[1024];
    vm_pushstring(L, FormatErrorMessage(code, message, sizeof message));
    vm_pushnumber(L, -1);
    return 2;
  }
  if (upload) return 0;
  size_t length = result.data.length;
  if (result.data.data) vm_pushopenstring(L, reinterpret_cast<char *>(result.data.Release()), length);
  else vm_pushlstring(L, "", 0);
  vm_pushnumber(L, double(result.count));
  return 2;
}

uint32_t NetDownloadFile(VmState *L) { return Transfer(L, false); }
uint32_t NetUploadFile(VmState *L) { return Transfer(L, true); }

uint32_t NetSetNetworkTimeout(VmState *L) {
  CheckArgCount(L, 1, 1);
  double ms = vm_checknumber(L, 1);
  if (!(ms >= 0 && ms <= 4294967295.0)) return ERR_WRONGUSAGE;
  State(L)->timeoutMs = uint32_t(ms);
  return 0;
}

uint32_t LocalName(VmState *L, bool wantPort) {
  CheckArgCount(L, 1, 2);
  int32_t type = vm_optint32(L, 2, NETWORKCONNECTION);
  int handle;
  if (type == NETWORKUDP) {
    qmUdpObject *u;
    if (uint32_t code = GetObjectArg(L, 1, QMTYPE_UDPOBJECT, ERR_FINDUDPOBJECT, &u)) return code;
    handle = u->socket->handle;
  } else if (type == NETWORKCONNECTION) {
    qmConnection *c;
    if (uint32_t code = GetObjectArg(L, 1, QMTYPE_CLIENT, ERR_FINDCLIENT, &c)) return code;
    handle = c->socket->handle;
  } else {
    qmServer *server;
    if (uint32_t code = GetObjectArg(L, 1, QMTYPE_SERVER, ERR_FINDSERVER, &server)) return code;
    handle = server->socket->handle;
  }
  return PushAddressAndPort(L, handle, false, wantPort, ERR_SOCKNAME);
}

uint32_t NetGetLocalIP(VmState *L) { return LocalName(L, false); }
uint32_t NetGetLocalPort(VmState *L) { return LocalName(L, true); }

uint32_t NetCreateUDPObject(VmState *L) {
  CheckArgCount(L, 1, 3);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  uint16_t port;
  if (uint32_t code = PortArg(L, 2, 0, true, &port)) return code;
  const char *address = vm_optlstring(L, 3, "*", nullptr);
  if (uint32_t code = OpenSockets(L)) return code;
  FreeSameNumber<qmUdpObject>(L, QMTYPE_UDPOBJECT, id);
  qmUdpSocket *s;
  if (uint32_t code = CreateUdpSocket(&s)) return code;
  qmUdpObject *u = nullptr;
  uint32_t code = BindAddress(s->handle, address, port);
  if (!code) code = AddNetObject(L, QMTYPE_UDPOBJECT, &id, &u);
  if (code) {
    FreeUdpSocket(s);
    return code;
  }
  u->socket = s;
  return PushHandle(L, id, u);
}

uint32_t NetCloseUDPObject(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmUdpObject *u;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_UDPOBJECT, ERR_FINDUDPOBJECT, &u)) return code;
  FreeNetObject(L, u);
  return 0;
}

uint32_t UdpFailure(int st) {
  SetErrorArgument(st == SOCK_CLOSED ? "connection refused" : SocketError(st));
  return ERR_SOCKET;
}

uint32_t NetSendUDPData(VmState *L) {
  CheckArgCount(L, 4, 4);
  qmUdpObject *u;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_UDPOBJECT, ERR_FINDUDPOBJECT, &u)) return code;
  size_t len;
  const char *data = vm_checkstring(L, 2, &len);
  const char *address = vm_checkstring(L, 3, nullptr);
  uint16_t port;
  if (uint32_t code = PortArg(L, 4, 0, false, &port)) return code;
  if (len == 0) return ERR_WRONGUSAGE;
  sockaddr_in sa{};
  if (!ParseDottedAddress(address, &sa.sin_addr)) return ERR_BADIP;
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  u->socket->timeout.start = GetTimeSeconds();
  size_t sent;
  if (int st = SocketSendTo(u->socket->handle, data, len, &sent, reinterpret_cast<sockaddr *>(&sa), sizeof sa,
                            &u->socket->timeout))
    return UdpFailure(st);
  vm_pushnumber(L, double(sent));
  return 1;
}

uint32_t NetReceiveUDPData(VmState *L) {
  CheckArgCount(L, 1, 2);
  qmUdpObject *u;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_UDPOBJECT, ERR_FINDUDPOBJECT, &u)) return code;
  double max = vm_optnumber(L, 2, double(kNetBufferSize));
  size_t want = max >= 1 && max < double(kNetBufferSize) ? size_t(max) : kNetBufferSize;
  if (!(max >= 1)) return ERR_WRONGUSAGE;
  u->socket->timeout.start = GetTimeSeconds();
  sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  size_t got;
  int st = SocketRecvFrom(u->socket->handle, u->socket->data, want, &got, reinterpret_cast<sockaddr *>(&from),
                          &fromLength, &u->socket->timeout);
  u->dataEvent = 0;
  if (st == SOCK_TIMEOUT) {
    vm_pushstring(L, "");
    vm_pushstring(L, "");
    vm_pushnumber(L, 0);
    return 3;
  }
  if (st) return UdpFailure(st);
  vm_pushlstring(L, reinterpret_cast<const char *>(u->socket->data), got);
  vm_pushstring(L, FormatDottedAddress(from.sin_addr).c_str());
  vm_pushnumber(L, ntohs(from.sin_port));
  return 3;
}

// The host that IsOnline tries: QM_ONLINE_HOST ("host" or "host:port") when set, so that tests
// can point it at a loopback listener.
uint32_t NetIsOnline(VmState *L) {
  CheckArgCount(L, 0, 0);
  std::string host = "www.example.com";
  uint16_t port = 80;
  if (const char *env = std::getenv("QM_ONLINE_HOST"); env && *env) {
    host = env;
    if (size_t colon = host.rfind(':'); colon != std::string::npos) {
      port = uint16_t(std::atoi(host.c_str() + colon + 1));
      host.resize(colon);
    }
  }
  bool online = false;
  if (OpenSockets(L) == 0) {
    CommandWait cw{L, 0, 0};
    qmNetWait w = MakeWait(L, &cw);
    qmTcpSocket *s;
    if (ConnectTcpSocket(host.c_str(), port, State(L)->timeoutMs, &w, &s) == 0) {
      FreeTcpSocket(s);
      online = true;
    } else if (vm_endrequested(L)) {
      return ERR_USERABORT;
    }
  }
  vm_pushnumber(L, online ? 1 : 0);
  return 1;
}

// ---- the event source: UDP data, new connections, received data, disconnections ----

int SetNetworkMessage(qmEventMessage *msg, const qmHandlerSlot &slot, uint32_t type, const char *action,
                      const qmObjectHeader *h) {
  msg->type = type;
  SetMessageAction(msg, action);
  msg->function = slot.function;
  msg->userData = slot.userData;
  msg->id = qmObjectId{h->id, h->handle};
  msg->objectId = &msg->id;
  return EVPOLL_ONCE;
}

int NetworkPoll(VmState *L, qmEventState *st, qmEventMessage *msg) {
  const qmHandlerSlot *slots = st->objectSlots;
  if (slots[OBJH_ONRECEIVEUDPDATA].function != kNoHandler)
    for (qmObjectHeader *h = FirstObject(L, QMTYPE_UDPOBJECT); h; h = h->next)
      if (CheckUdpData(reinterpret_cast<qmUdpObject *>(h)))
        return SetNetworkMessage(msg, slots[OBJH_ONRECEIVEUDPDATA], MSG_NETWORK, "OnReceiveUDPData", h);
  if (slots[OBJH_ONCONNECT].function != kNoHandler)
    for (qmObjectHeader *h = FirstObject(L, QMTYPE_SERVER); h; h = h->next) {
      qmTcpSocket *s;
      if (!CheckServerAccept(reinterpret_cast<qmServer *>(h), &s)) continue;
      qmObjectId id{0, 1};
      qmConnection *c;
      if (AddConnection(L, &id, s, &c) != 0) continue;
      State(L)->acceptedBy = qmObjectId{h->id, h->handle};
      return SetNetworkMessage(msg, slots[OBJH_ONCONNECT], MSG_CONNECT, "OnConnect", &c->header);
    }
  if (slots[OBJH_ONRECEIVEDATA].function != kNoHandler)
    for (qmObjectHeader *h = FirstObject(L, QMTYPE_CLIENT); h; h = h->next)
      if (CheckConnectionData(reinterpret_cast<qmConnection *>(h)))
        return SetNetworkMessage(msg, slots[OBJH_ONRECEIVEDATA], MSG_NETWORK, "OnReceiveData", h);
  if (slots[OBJH_ONDISCONNECT].function != kNoHandler)
    for (qmObjectHeader *h = FirstObject(L, QMTYPE_CLIENT); h; h = h->next)
      if (CheckConnectionClosed(reinterpret_cast<qmConnection *>(h)))
        return SetNetworkMessage(msg, slots[OBJH_ONDISCONNECT], MSG_NETWORK, "OnDisconnect", h);
  return EVPOLL_NONE;
}

void NetworkFill(VmState *L, qmEventMessage *msg) {
  FillAction(L, msg);
  if (msg->type == MSG_CONNECT) {
    SetFieldObjectId(L, "serverid", &State(L)->acceptedBy);
    SetFieldObjectId(L, "clientid", &msg->id);
  } else {
    FillId(L, msg, msg->id);
  }
}

const qmEventSource kNetworkSource = {"network", EVRANK_NETWORK, nullptr, NetworkPoll, NetworkFill, nullptr};

const qmCommandEntry kNetworkCommands[] = {
    {"OpenConnection", NetOpenConnection},
    {"CloseConnection", NetCloseConnection},
    {"CreateServer", NetCreateServer},
    {"CloseServer", NetCloseServer},
    {"SendData", NetSendData},
    {"ReceiveData", NetReceiveData},
    {"GetConnectionIP", NetGetConnectionIP},
    {"GetConnectionPort", NetGetConnectionPort},
    {"GetHostName", NetGetHostName},
    {"ToIP", NetToIP},
    {"ToHostName", NetToHostName},
    {"DownloadFile", NetDownloadFile},
    {"UploadFile", NetUploadFile},
    {"SetNetworkTimeout", NetSetNetworkTimeout},
    {"GetLocalIP", NetGetLocalIP},
    {"GetLocalPort", NetGetLocalPort},
    {"CreateUDPObject", NetCreateUDPObject},
    {"CloseUDPObject", NetCloseUDPObject},
    {"SendUDPData", NetSendUDPData},
    {"ReceiveUDPData", NetReceiveUDPData},
    {"IsOnline", NetIsOnline},
    {nullptr, nullptr},
};

const qmConstantEntry kNetworkConstants[] = {
    {"RECEIVEALL", nullptr, RECEIVEALL},
    {"RECEIVEBYTES", nullptr, RECEIVEBYTES},
    {"RECEIVELINE", nullptr, RECEIVELINE},
    {"FTPASCII", nullptr, FTPASCII},
    {"FTPBINARY", nullptr, FTPBINARY},
    {"DOWNLOADFILE_STATUS", nullptr, 0},
    {"UPLOADFILE_STATUS", nullptr, 0},
    {"NETWORKCONNECTION", nullptr, NETWORKCONNECTION},
    {"NETWORKSERVER", nullptr, NETWORKSERVER},
    {"NETWORKUDP", nullptr, NETWORKUDP},
    {nullptr, nullptr, 0},
};

uint32_t InitNetworkLibrary(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx) return 0;
  ctx->network = new (std::nothrow) qmNetworkState;
  if (!ctx->network) return ERR_MEM;
  return GetEventState(L) ? RegisterEventSource(L, &kNetworkSource) : 0;
}

void FreeNetworkLibrary(VmState *L) {
  if (!L) return;
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx || !ctx->network) return;
  while (qmObjectHeader *h = FirstObject(L, QMTYPE_CLIENT)) FreeNetObject(L, reinterpret_cast<qmConnection *>(h));
  while (qmObjectHeader *h = FirstObject(L, QMTYPE_SERVER)) FreeNetObject(L, reinterpret_cast<qmServer *>(h));
  while (qmObjectHeader *h = FirstObject(L, QMTYPE_UDPOBJECT)) FreeNetObject(L, reinterpret_cast<qmUdpObject *>(h));
  if (ctx->network->opened) SocketClose();
  delete ctx->network;
  ctx->network = nullptr;
}

}  // namespace

const qmLibrary kNetworkLibrary = {"network", kNetworkCommands, kNetworkConstants, InitNetworkLibrary,
                                   FreeNetworkLibrary, FREERANK_NETWORK};

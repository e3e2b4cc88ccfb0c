// The network library's connections, servers and UDP objects through its commands, with
// their events dispatched by CheckEvent, against each other and a python echo peer.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "runtime/eventdispatch.h"
#include "runtime/errcodes.h"
#include "runtime/vm/vm_state.h"
#include "tests/io/network/net_test_vm.h"

namespace {

std::vector<std::string> &EventLog() {
  static std::vector<std::string> log;
  return log;
}

// Records "action" and, for OnConnect, keeps the new client's handle in the global "client".
uint32_t RecordEvent(VmState *L) {
  vm_pushstring(L, "action");
  vm_gettable(L, 1);
  std::string action = vm_tostring(L, -1);
  vm_pop(L, 1);
  EventLog().push_back(action);
  if (action == "OnConnect") {
    vm_pushstring(L, "client");
    vm_pushstring(L, "clientid");
    vm_gettable(L, 1);
    vm_settable(L, VM_GLOBALSINDEX);
  }
  return 0;
}

struct EventNetVm : NetVm {
  void InstallNetworkHandlers() {
    vm_settop(L, 0);
    PushCommand("InstallEventHandler");
    vm_newtable(L);
    for (const char *name : {"onconnect", "ondisconnect", "onreceivedata", "onreceiveudpdata"}) {
      vm_pushstring(L, name);
      vm_pushcclosure(L, RecordEvent, 0);
      vm_settable(L, -3);
    }
    ASSERT_EQ(vm_pcall(L, 1, 0, 0), 0u);
  }
  // CheckEvent until an event came or the time ran out: its action, or "".
  std::string NextEvent(double seconds = 2) {
    size_t before = EventLog().size();
    for (double t0 = GetTimeSeconds(); GetTimeSeconds() - t0 < seconds;) {
      Call("CheckEvent", {});
      if (EventLog().size() > before) return EventLog().back();
      usleep(2000);
    }
    return "";
  }
  DosVal Global(const char *name) {
    vm_pushstring(L, name);
    vm_gettable(L, VM_GLOBALSINDEX);
    DosVal v = Read(L, -1);
    vm_pop(L, 1);
    return v;
  }
};

}  // namespace

// A server and a client in one process: accept through OnConnect, data both ways through
// OnReceiveData and ReceiveData, then OnDisconnect once when the client goes.
TEST(NetworkLibrary, ServerAndClientTalkThroughEvents) {
  EventNetVm vm;
  EventLog().clear();
  vm.InstallNetworkHandlers();
  ASSERT_EQ(vm.Code("CreateServer", {1, 0, "127.0.0.1"}), 0u);
  int port = int(vm.One("GetLocalPort", {1, 115}).num);
  ASSERT_GT(port, 0);
  ASSERT_EQ(vm.Code("OpenConnection", {2, "localhost", port}), 0u);
  EXPECT_EQ(vm.One("GetConnectionIP", {2}).str, "127.0.0.1");
  EXPECT_EQ(int(vm.One("GetConnectionPort", {2}).num), port);
  EXPECT_EQ(vm.NextEvent(), "OnConnect");
  DosVal client = vm.Global("client");
  ASSERT_EQ(client.kind, DosVal::HANDLE);
  EXPECT_EQ(vm.One("SendData", {2, "line one\r\nrest"}).num, 14);
  EXPECT_EQ(vm.NextEvent(), "OnReceiveData");
  // One event per batch: nothing more until the data was taken.
  EXPECT_EQ(vm.NextEvent(0.1), "");
  DosCall line = vm.Call("ReceiveData", {client, 2});
  ASSERT_EQ(line.code, 0u);
  EXPECT_EQ(line.results[0].str, "line one");
  EXPECT_EQ(line.results[2].num, 1);
  DosCall bytes = vm.Call("ReceiveData", {client, 1, 4});
  EXPECT_EQ(bytes.results[0].str, "rest");
  DosCall none = vm.Call("ReceiveData", {client, 0, 0});
  EXPECT_EQ(none.results[0].str, "");
  EXPECT_EQ(none.results[1].num, 0);
  EXPECT_EQ(none.results[2].num, 0);
  EXPECT_EQ(vm.Code("CloseConnection", {2}), 0u);
  EXPECT_EQ(vm.NextEvent(), "OnDisconnect");
  EXPECT_EQ(vm.NextEvent(0.1), "");
  EXPECT_EQ(vm.Code("CloseConnection", {client}), 0u);
  EXPECT_EQ(vm.Code("CloseServer", {1}), 0u);
}

TEST(NetworkLibrary, EchoPeerRoundTripAndReceiveModes) {
  Peer echo({SystemPython(), PeersScript(), "echo"});
  if (!echo.ok()) GTEST_SKIP() << "no echo peer";
  NetVm vm;
  ASSERT_EQ(vm.Code("OpenConnection", {1, "127.0.0.1", echo.port()}), 0u);
  std::string big(100000, 'x');
  for (size_t i = 0; i < big.size(); i++) big[i] = char('a' + i % 26);
  EXPECT_EQ(vm.One("SendData", {1, big}).num, double(big.size()));
  DosCall r = vm.Call("ReceiveData", {1, 1, double(big.size())});
  ASSERT_EQ(r.code, 0u);
  EXPECT_EQ(r.results[0].str, big);
  // A line that never ends comes back as far as it came when the time-out passes.
  vm.One("SetNetworkTimeout", {200});
  vm.One("SendData", {1, "no end"});
  double t0 = GetTimeSeconds();
  r = vm.Call("ReceiveData", {1, 2});
  EXPECT_EQ(r.results[0].str, "no end");
  EXPECT_EQ(r.results[2].num, 1);
  EXPECT_GE(GetTimeSeconds() - t0, 0.19);
  // Mode all with wait: everything until the silence; done is False after a time-out.
  vm.One("SendData", {1, "all of it"});
  r = vm.Call("ReceiveData", {1, 0});
  EXPECT_EQ(r.results[0].str, "all of it");
  EXPECT_EQ(r.results[2].num, 0);
  struct Bad {
    std::vector<DosVal> args;
    uint32_t code;
  } bad[] = {
      {{1, 1, 0}, ERR_WRONGUSAGE},
      {{1, 7}, ERR_WRONGUSAGE},
      {{9, 0}, ERR_FINDCLIENT},
  };
  for (const Bad &b : bad) EXPECT_EQ(vm.Code("ReceiveData", b.args), b.code);
}

// A line of which nothing came before the time-out is the time-out error, not an empty line;
// the line that comes later is still read whole.
TEST(NetworkLibrary, ALineThatNeverCameIsATimeOut) {
  Peer echo({SystemPython(), PeersScript(), "echo"});
  if (!echo.ok()) GTEST_SKIP() << "no echo peer";
  NetVm vm;
  ASSERT_EQ(vm.Code("OpenConnection", {1, "127.0.0.1", echo.port()}), 0u);
  vm.One("SetNetworkTimeout", {100});
  EXPECT_EQ(vm.Call("ReceiveData", {1, 2}).code, uint32_t(ERR_RECVTIMEOUT));
  vm.One("SetNetworkTimeout", {5000});
  vm.One("SendData", {1, "late\n"});
  DosCall r = vm.Call("ReceiveData", {1, 2});
  ASSERT_EQ(r.code, 0u);
  EXPECT_EQ(r.results[0].str, "late");
  EXPECT_EQ(r.results[2].num, 1);
}

TEST(NetworkLibrary, ArgumentAndConnectFailures) {
  NetVm vm;
  struct Row {
    const char *cmd;
    std::vector<DosVal> args;
    uint32_t code;
  } rows[] = {
      {"OpenConnection", {1, "127.0.0.1", 0}, ERR_WRONGUSAGE},
      {"OpenConnection", {1, "127.0.0.1", 65536}, ERR_WRONGUSAGE},
      {"OpenConnection", {1, "no-such-host.invalid", 80}, ERR_SOCKET},
      {"OpenConnection", {1, "*", 80}, ERR_SOCKET},  // names no host: not a connection that succeeds
      {"CreateServer", {1, 70000}, ERR_WRONGUSAGE},
      {"SetNetworkTimeout", {-1}, ERR_WRONGUSAGE},
      {"CloseServer", {4}, ERR_FINDSERVER},
      {"CloseUDPObject", {4}, ERR_FINDUDPOBJECT},
      {"SendData", {4, "x"}, ERR_FINDCLIENT},
  };
  for (const Row &r : rows) EXPECT_EQ(vm.Code(r.cmd, r.args), r.code) << r.cmd;
  // A refused connect names its reason.
  ASSERT_EQ(vm.Code("CreateServer", {1, 0, "127.0.0.1"}), 0u);
  int port = int(vm.One("GetLocalPort", {1, 115}).num);
  ASSERT_EQ(vm.Code("CloseServer", {1}), 0u);
  EXPECT_EQ(vm.Code("OpenConnection", {1, "127.0.0.1", port}), uint32_t(ERR_SOCKET));
  EXPECT_STREQ(G(vm.L)->err.argtext, "connection refused");
}

TEST(NetworkLibrary, UdpToItselfWithEvents) {
  EventNetVm vm;
  EventLog().clear();
  vm.InstallNetworkHandlers();
  ASSERT_EQ(vm.Code("CreateUDPObject", {1, 0, "127.0.0.1"}), 0u);
  int port = int(vm.One("GetLocalPort", {1, 117}).num);
  ASSERT_GT(port, 0);
  EXPECT_EQ(vm.One("GetLocalIP", {1, 117}).str, "127.0.0.1");
  DosCall empty = vm.Call("ReceiveUDPData", {1});
  ASSERT_EQ(empty.code, 0u);
  EXPECT_EQ(empty.results[0].str, "");
  EXPECT_EQ(empty.results[1].str, "");
  EXPECT_EQ(empty.results[2].num, 0);
  EXPECT_EQ(vm.One("SendUDPData", {1, "ping", "127.0.0.1", port}).num, 4);
  EXPECT_EQ(vm.NextEvent(), "OnReceiveUDPData");
  DosCall got = vm.Call("ReceiveUDPData", {1, 2});
  ASSERT_EQ(got.code, 0u);
  EXPECT_EQ(got.results[0].str, "pi");  // a datagram read short loses its rest
  EXPECT_EQ(got.results[1].str, "127.0.0.1");
  EXPECT_EQ(int(got.results[2].num), port);
  EXPECT_EQ(vm.Code("SendUDPData", {1, "x", "localhost", port}), uint32_t(ERR_BADIP));
  EXPECT_EQ(vm.Code("SendUDPData", {1, "", "127.0.0.1", port}), uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Code("SendUDPData", {1, "x", "127.0.0.1", 0}), uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Code("SendUDPData", {1, "x", "127.0.0.1"}), uint32_t(ERR_MISSINGPARAMTR));
}

// A datagram of no bytes raises the event and reads as empty data from its sender; it is no
// error, and the datagram behind it is the next one read.
TEST(NetworkLibrary, EmptyDatagramIsReceivedAsEmptyData) {
  EventNetVm vm;
  EventLog().clear();
  vm.InstallNetworkHandlers();
  ASSERT_EQ(vm.Code("CreateUDPObject", {1, 0, "127.0.0.1"}), 0u);
  int port = int(vm.One("GetLocalPort", {1, 117}).num);
  int peer = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(peer, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(uint16_t(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(sendto(peer, "", 0, 0, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
  ASSERT_EQ(sendto(peer, "two", 3, 0, reinterpret_cast<sockaddr *>(&to), sizeof to), 3);
  sockaddr_in own{};
  socklen_t ownLength = sizeof own;
  getsockname(peer, reinterpret_cast<sockaddr *>(&own), &ownLength);
  EXPECT_EQ(vm.NextEvent(), "OnReceiveUDPData");
  DosCall empty = vm.Call("ReceiveUDPData", {1});
  ASSERT_EQ(empty.code, 0u);
  EXPECT_EQ(empty.results[0].str, "");
  EXPECT_EQ(empty.results[1].str, "127.0.0.1");
  EXPECT_EQ(int(empty.results[2].num), ntohs(own.sin_port));
  DosCall next = vm.Call("ReceiveUDPData", {1});
  ASSERT_EQ(next.code, 0u);
  EXPECT_EQ(next.results[0].str, "two");
  close(peer);
}

TEST(NetworkLibrary, LookupsAndIsOnline) {
  NetVm vm;
  DosCall ip = vm.Call("ToIP", {"localhost"});
  ASSERT_EQ(ip.code, 0u);
  EXPECT_EQ(ip.results[0].str, "127.0.0.1");
  EXPECT_EQ(ip.results[1].kind, DosVal::TABLE);
  DosCall name = vm.Call("ToHostName", {"127.0.0.1"});
  ASSERT_EQ(name.code, 0u);
  EXPECT_FALSE(name.results[0].str.empty());
  EXPECT_EQ(vm.Code("ToIP", {"no-such-host.invalid"}), uint32_t(ERR_SOCKET));
  EXPECT_FALSE(vm.One("GetHostName", {}).str.empty());

  ASSERT_EQ(vm.Code("CreateServer", {1, 0, "127.0.0.1"}), 0u);
  int port = int(vm.One("GetLocalPort", {1, 115}).num);
  setenv("QM_ONLINE_HOST", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
  EXPECT_EQ(vm.One("IsOnline", {}).num, 1);
  ASSERT_EQ(vm.Code("CloseServer", {1}), 0u);
  EXPECT_EQ(vm.One("IsOnline", {}).num, 0);
  unsetenv("QM_ONLINE_HOST");
}

// A silent peer: the wait sleeps in poll, so two seconds cost almost no CPU.
TEST(NetworkLibrary, SilentReceiveSleeps) {
  Peer echo({SystemPython(), PeersScript(), "echo"});
  if (!echo.ok()) GTEST_SKIP() << "no echo peer";
  NetVm vm;
  vm.One("SetNetworkTimeout", {500});
  ASSERT_EQ(vm.Code("OpenConnection", {1, "127.0.0.1", echo.port()}), 0u);
  clock_t c0 = clock();
  double t0 = GetTimeSeconds();
  DosCall r = vm.Call("ReceiveData", {1, 0});
  EXPECT_GE(GetTimeSeconds() - t0, 0.49);
  EXPECT_LT(double(clock() - c0) / CLOCKS_PER_SEC, 0.1);
  EXPECT_EQ(r.results[2].num, 0);
}

namespace {
// Closes the connection whose data arrived, from inside its own handler.
uint32_t CloseOwnConnection(VmState *L) {
  EventLog().push_back("closing");
  vm_pushstring(L, "closeconnection");
  vm_gettable(L, VM_GLOBALSINDEX);
  vm_pushstring(L, "id");
  vm_gettable(L, 1);
  return vm_pcall(L, 1, 0, 0);
}
}  // namespace

// A handler may close the object that raised its event; the walk goes on with the others.
TEST(NetworkLibrary, HandlerClosesItsOwnConnection) {
  EventNetVm vm;
  EventLog().clear();
  vm_settop(vm.L, 0);
  vm.PushCommand("InstallEventHandler");
  vm_newtable(vm.L);
  vm_pushstring(vm.L, "onreceivedata");
  vm_pushcclosure(vm.L, CloseOwnConnection, 0);
  vm_settable(vm.L, -3);
  ASSERT_EQ(vm_pcall(vm.L, 1, 0, 0), 0u);
  Peer echo({SystemPython(), PeersScript(), "echo"});
  if (!echo.ok()) GTEST_SKIP() << "no echo peer";
  for (int id : {4, 5}) {
    ASSERT_EQ(vm.Code("OpenConnection", {id, "127.0.0.1", echo.port()}), 0u);
    vm.One("SendData", {id, "x"});
  }
  EXPECT_EQ(vm.NextEvent(), "closing");
  EXPECT_EQ(vm.NextEvent(), "closing");
  EXPECT_EQ(vm.Code("CloseConnection", {4}), uint32_t(ERR_FINDCLIENT));
  EXPECT_EQ(vm.Code("CloseConnection", {5}), uint32_t(ERR_FINDCLIENT));
}

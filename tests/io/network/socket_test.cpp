// The socket layer on real loopback sockets: time-out arithmetic, statuses and texts.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "io/network/socket.h"
#include "platform/time.h"

namespace {

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sa;
}

// A listening socket on an ephemeral loopback port.
struct Listener {
  int handle = -1;
  uint16_t port = 0;
  explicit Listener(int backlog = 8) {
    SocketCreate(&handle, AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa = Loopback(0);
    SocketBind(handle, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    SocketListen(handle, backlog);
    socklen_t len = sizeof sa;
    getsockname(handle, reinterpret_cast<sockaddr *>(&sa), &len);
    port = ntohs(sa.sin_port);
  }
  ~Listener() { SocketDestroy(&handle); }
};

// A connected pair: a (our non-blocking client) and b (the accepted peer).
struct Pair {
  Listener l;
  int a = -1, b = -1;
  Pair() {
    SocketCreate(&a, AF_INET, SOCK_STREAM, 0);
    SocketSetNonBlocking(a);
    sockaddr_in sa = Loopback(l.port);
    uint32_t stopped;
    EXPECT_EQ(SocketConnectPolled(a, reinterpret_cast<sockaddr *>(&sa), sizeof sa, 1000, nullptr, nullptr, &stopped), 0);
    qmTimeout tm{1, 1, GetTimeSeconds()};
    EXPECT_EQ(SocketAccept(l.handle, &b, nullptr, nullptr, &tm), 0);
  }
  ~Pair() {
    SocketDestroy(&a);
    SocketDestroy(&b);
  }
};

}  // namespace

TEST(SocketLayer, RetryTimeFollowsBlockAndTotal) {
  struct Row {
    const char *name;
    double block, total, elapsed, want;
  } rows[] = {
      {"no limit", -1, -1, 5, -1},
      {"total only, time left", -1, 10, 4, 6},
      {"total only, spent", -1, 3, 4, 0},
      {"block only", 2, -1, 0, 2},
      {"block smaller than what is left", 2, 10, 4, 2},
      {"left smaller than block", 5, 10, 8, 2},
      {"both spent", 5, 1, 8, 0},
  };
  for (const Row &r : rows) {
    qmTimeout tm{r.block, r.total, GetTimeSeconds() - r.elapsed};
    double got = TimeoutGetRetry(&tm);
    EXPECT_NEAR(got, r.want, 0.05) << r.name;
  }
}

TEST(SocketLayer, InvalidHandleIsClosedWithoutSystemCall) {
  qmTimeout tm{0, 0, 0};
  char buf[4];
  size_t n = 99;
  int h;
  EXPECT_EQ(SocketSend(-1, "x", 1, &n, &tm), SOCK_CLOSED);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(SocketRecv(-1, buf, 4, &n, &tm), SOCK_CLOSED);
  EXPECT_EQ(SocketPeek(-1, &tm, 0), SOCK_CLOSED);
  EXPECT_EQ(SocketAccept(-1, &h, nullptr, nullptr, &tm), SOCK_CLOSED);
  uint32_t stopped;
  sockaddr_in sa = Loopback(1);
  EXPECT_EQ(SocketConnectPolled(-1, reinterpret_cast<sockaddr *>(&sa), sizeof sa, 0, nullptr, nullptr, &stopped),
            SOCK_CLOSED);
}

// Block 0.0 never waits: reads, accepts and peeks on idle sockets come back at once.
TEST(SocketLayer, ZeroBlockReturnsTimeoutAtOnce) {
  Pair p;
  qmTimeout tm{0.0, 0.0, GetTimeSeconds()};
  char buf[8];
  size_t n;
  int h;
  double t0 = GetTimeSeconds();
  EXPECT_EQ(SocketRecv(p.a, buf, sizeof buf, &n, &tm), SOCK_TIMEOUT);
  EXPECT_EQ(SocketPeek(p.a, &tm, 0), SOCK_TIMEOUT);
  EXPECT_EQ(SocketAccept(p.l.handle, &h, nullptr, nullptr, &tm), SOCK_TIMEOUT);
  double zero = GetTimeSeconds() - t0;
  // All three together take less than one read that blocks for a quarter of a second.
  qmTimeout quarter{0.25, -1, GetTimeSeconds()};
  t0 = GetTimeSeconds();
  EXPECT_EQ(SocketRecv(p.a, buf, sizeof buf, &n, &quarter), SOCK_TIMEOUT);
  EXPECT_LT(zero, GetTimeSeconds() - t0);
}

// A wait with a block sleeps in poll for about that long (no spinning), then gives up.
TEST(SocketLayer, BlockedReadWaitsItsTimeThenTimesOut) {
  Pair p;
  qmTimeout tm{0.1, -1, GetTimeSeconds()};
  char buf[8];
  size_t n;
  double t0 = GetTimeSeconds();
  clock_t c0 = clock();
  EXPECT_EQ(SocketRecv(p.a, buf, sizeof buf, &n, &tm), SOCK_TIMEOUT);
  EXPECT_GE(GetTimeSeconds() - t0, 0.09);
  EXPECT_LT(double(clock() - c0) / CLOCKS_PER_SEC, 0.05);
}

TEST(SocketLayer, DataPeekAndCloseStatuses) {
  Pair p;
  qmTimeout tm{1, 1, GetTimeSeconds()};
  size_t n;
  ASSERT_EQ(SocketSend(p.b, "hello", 5, &n, &tm), 0);
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(SocketPeek(p.a, &tm, 0), 0);
  char buf[16];
  ASSERT_EQ(SocketRecv(p.a, buf, sizeof buf, &n, &tm), 0);
  EXPECT_EQ(std::string(buf, n), "hello");
  SocketDestroy(&p.b);
  // A recv of 0 bytes is the peer's close, never a zero count.
  EXPECT_EQ(SocketRecv(p.a, buf, sizeof buf, &n, &tm), SOCK_CLOSED);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(SocketPeek(p.a, &tm, 0), SOCK_CLOSED);
  // Writing into a closed pipe is closed too, and raises no SIGPIPE.
  int st = 0;
  for (int i = 0; i < 50 && st == 0; i++) st = SocketSend(p.a, "x", 1, &n, &tm);
  EXPECT_TRUE(st == SOCK_CLOSED || st == ECONNRESET) << st;
}

// A datagram of no bytes is data, not a close: it is reported with a count of 0 and the one
// after it still arrives, while a stream that delivers no bytes stays closed.
TEST(SocketLayer, EmptyDatagramIsNotAClose) {
  int a = -1, b = -1;
  ASSERT_EQ(SocketCreate(&a, AF_INET, SOCK_DGRAM, 0), 0);
  ASSERT_EQ(SocketCreate(&b, AF_INET, SOCK_DGRAM, 0), 0);
  SocketSetNonBlocking(a);
  SocketSetNonBlocking(b);
  sockaddr_in sa = Loopback(0);
  ASSERT_EQ(SocketBind(a, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
  socklen_t len = sizeof sa;
  getsockname(a, reinterpret_cast<sockaddr *>(&sa), &len);
  ASSERT_EQ(sendto(b, "", 0, 0, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
  ASSERT_EQ(sendto(b, "next", 4, 0, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 4);
  qmTimeout tm{5, 5, GetTimeSeconds()};
  EXPECT_EQ(SocketPeek(a, &tm, 1), 0);
  char buf[16];
  size_t n = 99;
  sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  EXPECT_EQ(SocketRecvFrom(a, buf, sizeof buf, &n, reinterpret_cast<sockaddr *>(&from), &fromLength, &tm), 0);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(from.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
  ASSERT_EQ(SocketRecvFrom(a, buf, sizeof buf, &n, nullptr, nullptr, &tm), 0);
  EXPECT_EQ(std::string(buf, n), "next");
  qmTimeout none{0, 0, GetTimeSeconds()};
  EXPECT_EQ(SocketRecvFrom(a, buf, sizeof buf, &n, nullptr, nullptr, &none), SOCK_TIMEOUT);
  SocketDestroy(&a);
  SocketDestroy(&b);
}

TEST(SocketLayer, ConnectRefusedAndTimedOut) {
  uint16_t port;
  {
    Listener gone;
    port = gone.port;
  }
  int h;
  SocketCreate(&h, AF_INET, SOCK_STREAM, 0);
  SocketSetNonBlocking(h);
  sockaddr_in sa = Loopback(port);
  uint32_t stopped;
  int st = SocketConnectPolled(h, reinterpret_cast<sockaddr *>(&sa), sizeof sa, 1000, nullptr, nullptr, &stopped);
  EXPECT_STREQ(SocketError(st), "connection refused");
  SocketDestroy(&h);

  // A listener with a full backlog drops further SYNs: the connect times out after its first
  // 10 ms poll with a time-out of 0.
  Listener full(0);
  std::vector<int> fillers;
  int outcome = 0;
  for (int i = 0; i < 8 && outcome != SOCK_TIMEOUT; i++) {
    SocketCreate(&h, AF_INET, SOCK_STREAM, 0);
    SocketSetNonBlocking(h);
    sa = Loopback(full.port);
    outcome = SocketConnectPolled(h, reinterpret_cast<sockaddr *>(&sa), sizeof sa, 0, nullptr, nullptr, &stopped);
    fillers.push_back(h);
  }
  EXPECT_EQ(outcome, SOCK_TIMEOUT);
  for (int &f : fillers) SocketDestroy(&f);
}

// The event pump stops a connect: its code comes back and the status is a time-out.
TEST(SocketLayer, ConnectStopsWhenTheServiceSaysSo) {
  Listener full(0);
  int pass = 0;
  auto service = [](void *ud) -> uint32_t { return ++*static_cast<int *>(ud) >= 3 ? 1003u : 0u; };
  std::vector<int> fillers;
  uint32_t stopped = 0;
  for (int i = 0; i < 8 && !stopped; i++) {
    int h;
    SocketCreate(&h, AF_INET, SOCK_STREAM, 0);
    SocketSetNonBlocking(h);
    sockaddr_in sa = Loopback(full.port);
    pass = 0;
    int st = SocketConnectPolled(h, reinterpret_cast<sockaddr *>(&sa), sizeof sa, 5000, service, &pass, &stopped);
    if (stopped) {
      EXPECT_EQ(st, SOCK_TIMEOUT);
    }
    fillers.push_back(h);
  }
  EXPECT_EQ(stopped, 1003u);
  for (int &f : fillers) SocketDestroy(&f);
}

// poll has no FD_SETSIZE: a socket numbered above 1023 waits like any other.
TEST(SocketLayer, HighDescriptorsWork) {
  Pair p;
  int high = fcntl(p.a, F_DUPFD_CLOEXEC, 1500);
  if (high < 0) GTEST_SKIP() << "no descriptor above 1500 allowed";
  qmTimeout tm{1, 1, GetTimeSeconds()};
  size_t n;
  ASSERT_EQ(SocketSend(p.b, "z", 1, &n, &tm), 0);
  char c;
  EXPECT_EQ(SocketRecv(high, &c, 1, &n, &tm), 0);
  EXPECT_EQ(c, 'z');
  close(high);
}

TEST(SocketLayer, ErrorTexts) {
  struct Row {
    int status;
    const char *text;
  } rows[] = {{SOCK_TIMEOUT, "timeout"},          {SOCK_CLOSED, "closed"},
              {SOCK_UNKNOWN, "unknown error"},    {EACCES, "permission denied"},
              {EADDRINUSE, "address already in use"}, {ECONNABORTED, "closed"},
              {ECONNRESET, "closed"},             {EISCONN, "already connected"},
              {ETIMEDOUT, "timeout"},             {ECONNREFUSED, "connection refused"}};
  for (const Row &r : rows) EXPECT_STREQ(SocketError(r.status), r.text) << r.status;
  EXPECT_EQ(SocketError(0), nullptr);
  EXPECT_STREQ(SocketError(ENOENT), strerror(ENOENT));
  EXPECT_STREQ(SocketHostError(1), "host not found");
  EXPECT_STREQ(SocketHostError(SOCK_TIMEOUT), "timeout");
}

TEST(SocketLayer, HostLookups) {
  qmHostEntry e;
  ASSERT_EQ(SocketGetHostByName("localhost", &e), 0);
  ASSERT_FALSE(e.addresses.empty());
  EXPECT_EQ(FormatDottedAddress(e.addresses[0]), "127.0.0.1");
  EXPECT_EQ(SocketGetHostByName("no-such-host.invalid", &e), 1);
  in_addr a;
  EXPECT_TRUE(ParseDottedAddress("127.0.0.1", &a));
  for (const char *bad : {"localhost", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4x", ""})
    EXPECT_FALSE(ParseDottedAddress(bad, &a)) << bad;
}

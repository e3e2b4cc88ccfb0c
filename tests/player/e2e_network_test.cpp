// The network library inside the real player: a download printed by the script, and a quit
// request that ends a receive which would otherwise wait for ever.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/player/e2e_util.h"

namespace {

// A loopback listener that never accepts: the kernel completes connects to it, and nothing
// is ever sent.
struct SilentListener {
  int handle = socket(AF_INET, SOCK_STREAM, 0);
  int port = 0;
  SilentListener() {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(handle, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    listen(handle, 4);
    socklen_t len = sizeof sa;
    getsockname(handle, reinterpret_cast<sockaddr *>(&sa), &len);
    port = ntohs(sa.sin_port);
  }
  ~SilentListener() { close(handle); }
  // A connection waits in the backlog: the script has connected.
  bool Connected() const {
    pollfd p{handle, POLLIN, 0};
    return poll(&p, 1, 0) == 1;
  }
};

// OpenConnection(1, "127.0.0.1", port); SetNetworkTimeout(0); ReceiveData(1, RECEIVEALL);
// DebugPrint("not reached").
std::string SilentReceiveScript(int port) {
  return ".func source=\"net.qms\" maxstack=5\n"
         "  .k \"openconnection\" 1 \"127.0.0.1\" " + std::to_string(port) +
         " \"setnetworktimeout\" 0 \"receivedata\" \"debugprint\" \"not reached\"\n"
         "      GETGLOBAL 0 k0 @1\n"
         "      LOADK 1 k1\n"
         "      LOADK 2 k2\n"
         "      LOADK 3 k3\n"
         "      CALL 0 4 1\n"
         "      GETGLOBAL 0 k4 @2\n"
         "      LOADK 1 k5\n"
         "      CALL 0 2 1\n"
         "      GETGLOBAL 0 k6 @3\n"
         "      LOADK 1 k1\n"
         "      LOADK 2 k5\n"
         "      CALL 0 3 1\n"
         "      GETGLOBAL 0 k7 @4\n"
         "      LOADK 1 k8\n"
         "      CALL 0 2 1\n"
         "      RETURN 0 1 @5\n"
         ".end\n";
}

}  // namespace

TEST(E2eNetwork, QuitEndsAnEndlessReceive) {
  SilentListener peer;
  PlayerDir d;
  qmtools::WriteBytes(d / "net.qma", AppletOf(SilentReceiveScript(peer.port)));
  PlayerResult r =
      d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "net.qma"}, {}, "", [&peer] { return peer.Connected(); });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
}

// DebugPrint(DownloadFile(url)) against python's http.server over a private folder.
TEST(E2eNetwork, DownloadIsPrinted) {
  PlayerDir d;
  std::filesystem::create_directory(d / "www");
  qmtools::WriteBytes(d / "www/hello.txt", {'h', 'i', '!'});
  int port;
  {
    SilentListener probe;  // a free port for the server, given back at once
    port = probe.port;
  }
  std::string server = "exec /usr/bin/python3 -m http.server --bind 127.0.0.1 --directory " + (d / "www") + " " +
                       std::to_string(port) + " >/dev/null 2>&1";
  pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", server.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/hello.txt";
  std::string script = ".func source=\"get.qms\" maxstack=5\n"
                       "  .k \"debugprint\" \"downloadfile\" \"" + url + "\"\n"
                       "      GETGLOBAL 0 k0 @1\n"
                       "      GETGLOBAL 1 k1\n"
                       "      LOADK 2 k2\n"
                       "      CALL 1 2 0\n"
                       "      CALL 0 0 1\n"
                       "      RETURN 0 1 @2\n"
                       ".end\n";
  qmtools::WriteBytes(d / "get.qma", AppletOf(script));
  PlayerResult r;
  for (int i = 0; i < 50; i++) {
    r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "get.qma"});
    if (r.status == 0) break;
    usleep(50000);  // the server is still starting
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "hi! 3\n");
}

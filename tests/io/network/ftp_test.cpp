// DownloadFile and UploadFile over FTP against pyftpdlib on loopback.
#include <gtest/gtest.h>

#include <filesystem>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_state.h"
#include "tests/io/network/net_test_vm.h"

namespace {

struct FtpPeer : NetVm {
  TempDir root;
  std::unique_ptr<Peer> server;
  explicit FtpPeer(const char *masquerade = nullptr) {
    std::filesystem::create_directories(root / "pub");
    std::filesystem::create_directories(root / "home/ro");
    WriteFileBytes(root / "pub/hello.txt", "line 1\nline 2\n");
    WriteFileBytes(root / "home/own.bin", std::string("\0\1\2binary", 9));
    std::vector<std::string> argv{SystemPython(), PeersScript(), "ftp", root.path()};
    if (masquerade) argv.push_back(masquerade);
    server = std::make_unique<Peer>(argv);
  }
  std::string U(const std::string &userPath) { return "ftp://" + At(userPath); }
  std::string At(const std::string &userPath) {
    size_t slash = userPath.find('/');
    std::string user = userPath.substr(0, slash);
    return user + (user.empty() ? "" : "@") + "127.0.0.1:" + std::to_string(server->port()) + userPath.substr(slash);
  }
  // A command with a URL and an options table of pairs.
  DosCall WithOptions(const char *cmd, const std::string &url, const std::vector<std::pair<std::string, DosVal>> &o) {
    vm_settop(L, 0);
    PushCommand(cmd);
    vm_pushstring(L, url.c_str());
    vm_newtable(L);
    for (const auto &[k, v] : o) {
      vm_pushstring(L, k.c_str());
      Push(L, v);
      vm_settable(L, -3);
    }
    DosCall r;
    r.code = vm_pcall(L, 2, VM_MULTRET, 0);
    if (r.code == 0)
      for (int i = 1; i <= vm_gettop(L); i++) r.results.push_back(Read(L, i));
    vm_settop(L, 0);
    return r;
  }
};

}  // namespace

// The banner is a multi-line reply whose inner lines begin with other text and codes.
TEST(FtpClient, DownloadsAndFailures) {
  FtpPeer vm;
  if (!vm.server->ok()) GTEST_SKIP() << "no pyftpdlib";
  struct Row {
    const char *url;
    uint32_t code;
    std::string body;
  } rows[] = {
      {"/hello.txt", 0, "line 1\nline 2\n"},
      {"/hello.txt;type=a", 0, "line 1\r\nline 2\r\n"},
      {"user:secret/own.bin", 0, std::string("\0\1\2binary", 9)},
      {"user:wrong/own.bin", ERR_FTPAUTH, ""},
      {"/missing.txt", ERR_FILENOTFOUND, ""},
  };
  for (const Row &r : rows) {
    DosCall c = vm.Call("DownloadFile", {vm.U(r.url)});
    EXPECT_EQ(c.code, r.code) << r.url;
    if (c.code == 0) {
      EXPECT_EQ(c.results[0].str, r.body) << r.url;
      EXPECT_EQ(c.results[1].num, double(r.body.size())) << r.url;
    }
  }
  DosCall ascii = vm.WithOptions("DownloadFile", vm.U("/hello.txt"), {{"transfermode", 97}});
  EXPECT_EQ(ascii.results[0].str, "line 1\r\nline 2\r\n");
  EXPECT_EQ(vm.Call("DownloadFile", {"ftp://u@127.0.0.1/x"}).code, uint32_t(ERR_BADURL));
  EXPECT_EQ(vm.WithOptions("DownloadFile", vm.U("/hello.txt"), {{"proxy", "http://127.0.0.1:1"}}).code,
            uint32_t(ERR_WRONGUSAGE));
}

TEST(FtpClient, Uploads) {
  FtpPeer vm;
  if (!vm.server->ok()) GTEST_SKIP() << "no pyftpdlib";
  ASSERT_EQ(vm.WithOptions("UploadFile", vm.U("user:secret/up.txt"), {{"data", "uploaded"}}).code, 0u);
  EXPECT_EQ(ReadFileBytes(vm.root / "home/up.txt"), "uploaded");
  std::string big(200000, 'q');
  WriteFileBytes(vm.Path("local.bin"), big);
  ASSERT_EQ(vm.WithOptions("UploadFile", vm.U("user:secret/big.bin"), {{"file", vm.Path("local.bin")}}).code, 0u);
  EXPECT_EQ(ReadFileBytes(vm.root / "home/big.bin"), big);
  EXPECT_EQ(vm.WithOptions("UploadFile", vm.U("user:secret/ro/x.txt"), {{"data", "no"}}).code,
            uint32_t(ERR_UPLOADFORBIDDEN));
  EXPECT_STREQ(G(vm.L)->err.argtext, "/ro/x.txt");
  EXPECT_EQ(vm.WithOptions("UploadFile", vm.U("/anon.txt"), {{"data", "no"}}).code, uint32_t(ERR_UPLOADFORBIDDEN));
  struct Bad {
    std::vector<std::pair<std::string, DosVal>> options;
    uint32_t code;
  } bad[] = {
      {{}, ERR_WRONGUSAGE},
      {{{"data", ""}}, ERR_WRONGUSAGE},
      {{{"data", "x"}, {"file", vm.Path("local.bin")}}, ERR_WRONGUSAGE},
      {{{"file", vm.Path("nope.bin")}}, ERR_READFILE},
  };
  for (const Bad &b : bad) EXPECT_EQ(vm.WithOptions("UploadFile", vm.U("user:secret/f"), b.options).code, b.code);
  EXPECT_EQ(vm.WithOptions("UploadFile", "http://127.0.0.1/x", {{"data", "x"}}).code, uint32_t(ERR_WRONGUSAGE));
}

// A PASV reply that names another address: the data connection still goes to the control
// connection's peer.
TEST(FtpClient, PassiveReplyNamingAnotherHostIsIgnored) {
  FtpPeer vm("127.0.0.2");
  if (!vm.server->ok()) GTEST_SKIP() << "no pyftpdlib";
  DosCall c = vm.Call("DownloadFile", {vm.U("/hello.txt")});
  ASSERT_EQ(c.code, 0u);
  EXPECT_EQ(c.results[0].str, "line 1\nline 2\n");
}

namespace {
std::vector<double> &Counts() {
  static std::vector<double> counts;
  return counts;
}
uint32_t CountProgress(VmState *L) {
  vm_pushstring(L, "count");
  vm_gettable(L, 1);
  Counts().push_back(vm_tonumber(L, -1));
  vm_pushnumber(L, 0);
  return 1;
}
uint32_t AnswerText(VmState *L) {
  vm_pushstring(L, "go on");
  return 1;
}
}  // namespace

// A download to a file and an upload of a file, each with a progress callback; a callback that
// answers with text is an error.
TEST(FtpClient, FilesAndProgress) {
  FtpPeer vm;
  if (!vm.server->ok()) GTEST_SKIP() << "no pyftpdlib";
  std::string big(300000, 'u');
  WriteFileBytes(vm.root / "pub/big.bin", big);
  auto call = [&](const char *cmd, const std::string &url, const std::string &file, VmCFunction fn) {
    vm_settop(vm.L, 0);
    vm.PushCommand(cmd);
    vm_pushstring(vm.L, url.c_str());
    vm_newtable(vm.L);
    vm_pushstring(vm.L, "file");
    vm_pushstring(vm.L, file.c_str());
    vm_settable(vm.L, -3);
    vm_pushcclosure(vm.L, fn, 0);
    uint32_t code = vm_pcall(vm.L, 3, VM_MULTRET, 0);
    vm_settop(vm.L, 0);
    return code;
  };
  Counts().clear();
  ASSERT_EQ(call("DownloadFile", vm.U("/big.bin"), vm.Path("got.bin"), CountProgress), 0u);
  EXPECT_EQ(ReadFileBytes(vm.Path("got.bin")), big);
  ASSERT_FALSE(Counts().empty());
  EXPECT_EQ(Counts().back(), double(big.size()));
  Counts().clear();
  ASSERT_EQ(call("UploadFile", vm.U("user:secret/sent.bin"), vm.Path("got.bin"), CountProgress), 0u);
  EXPECT_EQ(ReadFileBytes(vm.root / "home/sent.bin"), big);
  EXPECT_EQ(Counts().size(), (big.size() + 8191) / 8192);
  EXPECT_EQ(call("DownloadFile", vm.U("/big.bin"), vm.Path("again.bin"), AnswerText), uint32_t(ERR_NUMCALLBACK));
}

// A server whose greeting never ends: a refused reply when its lines never stop, the receive
// time-out when one line trickles in for longer than the network time-out.
TEST(FtpClient, RepliesThatNeverEnd) {
  struct Row {
    const char *kind;
    uint32_t code, argument;
  } rows[] = {
      {"ftp-lines", ERR_FTPERROR, 4},
      {"ftp-trickle", ERR_RECVTIMEOUT, 0},
  };
  for (const Row &r : rows) {
    Peer server({SystemPython(), PeersScript(), "endless", r.kind});
    if (!server.ok()) GTEST_SKIP() << "no python peer";
    NetVm vm;
    vm.One("SetNetworkTimeout", {300});
    EXPECT_EQ(vm.Call("DownloadFile", {"ftp://127.0.0.1:" + std::to_string(server.port()) + "/x"}).code, r.code)
        << r.kind;
    if (r.argument) {
      EXPECT_EQ(G(vm.L)->err.argnum, r.argument) << r.kind;
    }
  }
}

// Data connections that crawl without ever falling silent: a download of one byte each 20 ms
// ends with the receive time-out, an upload read 256 bytes each 20 ms with the send error,
// each once a network time-out passed without another 16 KiB.
TEST(FtpClient, DataThatCrawlsEnds) {
  Peer server({SystemPython(), PeersScript(), "slowftp"});
  if (!server.ok()) GTEST_SKIP() << "no python peer";
  NetVm vm;
  vm.One("SetNetworkTimeout", {1000});
  std::string url = "ftp://127.0.0.1:" + std::to_string(server.port()) + "/crawl";
  EXPECT_EQ(vm.Call("DownloadFile", {url}).code, uint32_t(ERR_RECVTIMEOUT));
  std::string file = vm.Path("crawl.bin");
  vm_settop(vm.L, 0);
  vm.PushCommand("DownloadFile");
  vm_pushstring(vm.L, url.c_str());
  vm_newtable(vm.L);
  vm_pushstring(vm.L, "file");
  vm_pushstring(vm.L, file.c_str());
  vm_settable(vm.L, -3);
  EXPECT_EQ(vm_pcall(vm.L, 2, VM_MULTRET, 0), uint32_t(ERR_RECVTIMEOUT)) << "to a file";
  vm_settop(vm.L, 0);
  // More than the socket buffers of both ends hold, so that the peer's reading sets the pace.
  std::string big(8 << 20, 'p');
  vm_settop(vm.L, 0);
  vm.PushCommand("UploadFile");
  vm_pushstring(vm.L, url.c_str());
  vm_newtable(vm.L);
  vm_pushstring(vm.L, "data");
  vm_pushlstring(vm.L, big.data(), big.size());
  vm_settable(vm.L, -3);
  EXPECT_EQ(vm_pcall(vm.L, 2, VM_MULTRET, 0), uint32_t(ERR_SENDDATA)) << "upload";
  vm_settop(vm.L, 0);
}

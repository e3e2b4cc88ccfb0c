// DownloadFile over HTTP against real loopback servers: the case server of peers.py,
// python's http.server, and nginx beside curl.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_state.h"
#include "tests/io/network/net_test_vm.h"

namespace {

struct HttpPeer : NetVm {
  Peer server{{SystemPython(), PeersScript(), "http"}};
  std::string U(const std::string &path) { return Url(server.port(), path); }
  DosCall Get(const std::string &path, bool withOptions = false) {
    if (!withOptions) return Call("DownloadFile", {U(path)});
    return Call("DownloadFile", {U(path)}, true);
  }
};

// DownloadFile with an options table built from pairs.
DosCall Download(NetVm &vm, const std::string &url, const std::vector<std::pair<std::string, DosVal>> &options) {
  VmState *L = vm.L;
  vm_settop(L, 0);
  vm.PushCommand("DownloadFile");
  vm_pushstring(L, url.c_str());
  vm_newtable(L);
  for (const auto &[k, v] : options) {
    vm_pushstring(L, k.c_str());
    NetVm::Push(L, v);
    vm_settable(L, -3);
  }
  DosCall r;
  r.code = vm_pcall(L, 2, VM_MULTRET, 0);
  if (r.code == 0)
    for (int i = 1; i <= vm_gettop(L); i++) r.results.push_back(NetVm::Read(L, i));
  vm_settop(L, 0);
  return r;
}

}  // namespace

TEST(HttpClient, CaseServerAnswers) {
  HttpPeer vm;
  if (!vm.server.ok()) GTEST_SKIP() << "no python peer";
  struct Row {
    const char *path;
    uint32_t code;
    const char *body;
  } rows[] = {
      {"/chunked", 0, "abcdefghijklmnopqrstuvwxyzhello"},  // 1a with an extension is 26 bytes
      {"/continue", 0, "after continue"},
      {"/204", ERR_HTTPERROR, ""},
      {"/304", ERR_HTTPERROR, ""},
      {"/short", ERR_RECVCLOSED, ""},  // a close before Content-Length is not success
      {"/keepalive", 0, "alive"},      // stops at Content-Length though the server stays
      {"/bare", 0, "read to close"},
      {"/hop/5", 0, "landed"},         // relative and absolute Locations alternate
      {"/loop/0", 0, "loop 5"},        // the sixth 301 is the answer
      {"/nothing", 0, "missing page"}, // 404 without fail404 is the page
  };
  // The network time-out (2 s) is shorter than the keep-alive server's wait after its body, so a
  // client that read on to the close would fail that row.
  for (const Row &r : rows) {
    DosCall c = vm.Get(r.path);
    EXPECT_EQ(c.code, r.code) << r.path;
    if (c.code == 0) {
      EXPECT_EQ(c.results[0].str, r.body) << r.path;
      EXPECT_EQ(c.results[1].num, double(std::string(r.body).size())) << r.path;
    }
  }
  vm.Get("/204");
  EXPECT_EQ(G(vm.L)->err.argnum, 204u);
}

// The exact request bytes the server received.
TEST(HttpClient, RequestBytes) {
  HttpPeer vm;
  if (!vm.server.ok()) GTEST_SKIP() << "no python peer";
  std::string port = std::to_string(vm.server.port());
  std::string host = "Host: 127.0.0.1:" + port + "\r\n";
  std::string tail = "User-Agent: Quenmoor 5.2\r\n\r\n";
  EXPECT_EQ(vm.Get("/echo/a b/100%/x%20y").results[0].str,
            "GET /echo/a%20b/100%25/x%2520y HTTP/1.1\r\nTE: trailers\r\nConnection: close, TE\r\n" + host + tail);
  DosCall post = Download(vm, vm.U("/echo"), {{"post", "a=1&b=2"}, {"useragent", "Agent/1"}});
  EXPECT_EQ(post.results[0].str, "POST /echo HTTP/1.1\r\nTE: trailers\r\nConnection: close, TE\r\n" + host +
                                     "User-Agent: Agent/1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                                     "Content-Length: 7\r\n\r\na=1&b=2");
  // Through a proxy: the whole URL is the target and Host names the URL's host as written.
  DosCall proxied = Download(vm, "http://example.invalid:8080/echo?q", {{"proxy", "http://127.0.0.1:" + port}});
  ASSERT_EQ(proxied.code, 0u);
  EXPECT_EQ(proxied.results[0].str, "GET http://example.invalid:8080/echo?q HTTP/1.1\r\nTE: trailers\r\n"
                                    "Connection: close, TE\r\nHost: example.invalid:8080\r\n" + tail);
  // Header injection through script text is refused.
  EXPECT_EQ(Download(vm, vm.U("/echo"), {{"useragent", "a\r\nX-Evil: 1"}}).code, uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(Download(vm, vm.U("/echo"), {{"posttype", "a\nb"}, {"post", "x"}}).code, uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Call("DownloadFile", {vm.U("/echo\r\nX: 1")}).code, uint32_t(ERR_BADURL));
}

TEST(HttpClient, OptionsAndFailures) {
  HttpPeer vm;
  if (!vm.server.ok()) GTEST_SKIP() << "no python peer";
  EXPECT_EQ(Download(vm, vm.U("/nothing"), {{"fail404", 1}}).code, uint32_t(ERR_FILENOTFOUND));
  EXPECT_STREQ(G(vm.L)->err.argtext, "/nothing");
  DosCall hop = Download(vm, vm.U("/hop/1"), {{"redirect", 0}});
  EXPECT_EQ(hop.results[0].str, "hop 1");
  DosCall silent = Download(vm, "gopher://h/", {{"silentfail", 1}});
  ASSERT_EQ(silent.code, 0u);
  EXPECT_EQ(silent.results[0].str, "Unknown protocol in URL!");
  EXPECT_EQ(silent.results[1].num, -1);
  EXPECT_EQ(Download(vm, vm.U("/x"), {{"post", ""}}).code, uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(Download(vm, vm.U("/x"), {{"transfermode", 3}}).code, uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(Download(vm, vm.U("/x"), {{"proxy", "socks://h:1"}}).code, uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Call("UploadFile", {vm.U("/x")}).code, uint32_t(ERR_MISSINGPARAMTR));
  // A slow drip ends with the receive time-out after the network time-out of silence, before
  // the peer's close (3 s later) would have ended it as a success.
  vm.One("SetNetworkTimeout", {300});
  EXPECT_EQ(vm.Get("/drip").code, uint32_t(ERR_RECVTIMEOUT));
  // To a file.
  std::string path = vm.Path("out.txt");
  DosCall file = Download(vm, vm.U("/chunked"), {{"file", path}});
  ASSERT_EQ(file.code, 0u);
  EXPECT_EQ(file.results[0].str, "");
  EXPECT_EQ(file.results[1].num, 31);
  EXPECT_EQ(ReadFileBytes(path), "abcdefghijklmnopqrstuvwxyzhello");
  EXPECT_EQ(Download(vm, vm.U("/chunked"), {{"file", vm.Path("no/such/dir/f")}}).code, uint32_t(ERR_WRITEFILE));
}

namespace {
std::vector<std::string> &ProgressLog() {
  static std::vector<std::string> log;
  return log;
}
// Records count/total; answers True (stop) when its upvalue says so.
uint32_t Progress(VmState *L) {
  auto field = [&](const char *k) {
    vm_pushstring(L, k);
    vm_gettable(L, 1);
    std::string v = vm_type(L, -1) == VM_TNIL ? "nil" : vm_tostring(L, -1);
    vm_pop(L, 1);
    return v;
  };
  ProgressLog().push_back(field("action") + " " + field("count") + " " + field("total") + " " + field("userdata"));
  vm_pushnumber(L, vm_tonumber(L, vm_upvalueindex(1)));
  return 1;
}
}  // namespace

// Each chunk of a chunked body is reported at its end, counting body bytes only (not the
// line ends between chunks); a stop keeps the chunks reported so far.
TEST(HttpClient, ProgressCallback) {
  HttpPeer vm;
  if (!vm.server.ok()) GTEST_SKIP() << "no python peer";
  struct Case {
    const char *path;
    int stop;
    const char *data;
    std::vector<std::string> log;
  } cases[] = {
      {"/keepalive", 0, "alive", {"0 5 5 ud"}},
      {"/keepalive", 1, "alive", {"0 5 5 ud"}},
      {"/chunked", 0, "abcdefghijklmnopqrstuvwxyzhello", {"0 26 16384 ud", "0 31 16384 ud"}},
      {"/chunked", 1, "abcdefghijklmnopqrstuvwxyz", {"0 26 16384 ud"}},
  };
  for (const Case &c : cases) {
    ProgressLog().clear();
    vm_settop(vm.L, 0);
    vm.PushCommand("DownloadFile");
    vm_pushstring(vm.L, vm.U(c.path).c_str());
    vm_pushnil(vm.L);
    vm_pushnumber(vm.L, c.stop);
    vm_pushcclosure(vm.L, Progress, 1);
    vm_pushstring(vm.L, "ud");
    ASSERT_EQ(vm_pcall(vm.L, 4, VM_MULTRET, 0), 0u) << c.path;
    EXPECT_EQ(std::string(vm_tostring(vm.L, 1)), c.data) << c.path << " " << c.stop;
    EXPECT_EQ(vm_tonumber(vm.L, 2), double(std::strlen(c.data))) << c.path << " " << c.stop;
    EXPECT_EQ(ProgressLog(), c.log) << c.path << " " << c.stop;
  }
}

// python's own http.server: HTTP/1.0, read to close, and a relative 301 for a folder.
TEST(HttpClient, PythonStaticServer) {
  TempDir dir;
  std::filesystem::create_directories(dir / "sub");
  std::string bytes;
  for (int i = 0; i < 300000; i++) bytes += char(i * 7 % 251);
  WriteFileBytes(dir / "sub/index.html", "index page");
  WriteFileBytes(dir / "blob.bin", bytes);
  Peer server({SystemPython(), PeersScript(), "static", dir.path()});
  if (!server.ok()) GTEST_SKIP() << "no python peer";
  NetVm vm;
  EXPECT_EQ(vm.Call("DownloadFile", {vm.Url(server.port(), "/blob.bin")}).results[0].str, bytes);
  EXPECT_EQ(vm.Call("DownloadFile", {vm.Url(server.port(), "/sub")}).results[0].str, "index page");
}

// nginx and curl side by side: the same bytes for a static file, its redirect and its 404.
TEST(HttpClient, NginxBesideCurl) {
  TempDir dir;
  std::filesystem::create_directories(dir / "www/folder");
  std::string bytes;
  // Over the first reservation of a download to memory, and no round size: it grows to it.
  for (int i = 0; i < (3 << 20) + 77; i++) bytes += char(i * 13 % 256);
  WriteFileBytes(dir / "www/big.bin", bytes);
  WriteFileBytes(dir / "www/folder/index.html", "folder index");
  std::filesystem::permissions(dir / "www/folder", std::filesystem::perms(0755));
  NginxPeer nginx(dir.path());
  if (!nginx.port()) GTEST_SKIP() << "nginx missing or not started";
  int port = nginx.port();
  NetVm vm;
  for (const char *path : {"/big.bin", "/folder", "/moved", "/missing"}) {
    std::string curl = Shell("curl -s -L " + vm.Url(port, path));
    DosCall r = vm.Call("DownloadFile", {vm.Url(port, path)});
    ASSERT_EQ(r.code, 0u) << path;
    EXPECT_EQ(r.results[0].str, curl) << path;
  }
  EXPECT_EQ(vm.Call("DownloadFile", {vm.Url(port, "/big.bin")}).results[0].str, bytes);
}

// Peers that never finish their reply: each transfer ends with an error of its own, and
// within the network time-out when bytes keep trickling in.
TEST(HttpClient, RepliesThatNeverEnd) {
  HttpPeer vm;
  if (!vm.server.ok()) GTEST_SKIP() << "no python peer";
  vm.One("SetNetworkTimeout", {300});
  struct Row {
    const char *path;
    uint32_t code, argument;
  } rows[] = {
      {"/trickle", ERR_RECVTIMEOUT, 0},           // a header line one byte at a time
      {"/endless-headers", ERR_HTTPERROR, 3003},
      {"/endless-continue", ERR_HTTPERROR, 3004},
      {"/long-line", ERR_HTTPERROR, 3002},        // a reply error, not a want of memory
      {"/two-lengths", ERR_HTTPERROR, 3005},
  };
  for (const Row &r : rows) {
    EXPECT_EQ(vm.Get(r.path).code, r.code) << r.path;
    if (r.argument) {
      EXPECT_EQ(G(vm.L)->err.argnum, r.argument) << r.path;
    }
  }
}

// Bodies that keep coming a byte at a time end once a network time-out passed without another
// 16 KiB, to memory and to a file, whether their length is known, chunked or up to the close;
// one that comes in steady pieces completes though it takes longer than the time-out.
TEST(HttpClient, BodiesThatCrawlEnd) {
  HttpPeer vm;
  if (!vm.server.ok()) GTEST_SKIP() << "no python peer";
  vm.One("SetNetworkTimeout", {300});
  for (const char *path : {"/trickle-body", "/trickle-chunked", "/trickle-to-close"}) {
    EXPECT_EQ(vm.Get(path).code, uint32_t(ERR_RECVTIMEOUT)) << path;
    EXPECT_EQ(Download(vm, vm.U(path), {{"file", vm.Path("crawl.bin")}}).code, uint32_t(ERR_RECVTIMEOUT)) << path;
  }
  // 20 pieces of 32 KiB 100 ms apart: two seconds in all against a time-out of 1.5.
  vm.One("SetNetworkTimeout", {1500});
  std::string steady;
  for (int i = 0; i < 20; i++) steady += std::string(32768, char('A' + i));
  DosCall c = vm.Get("/slow-but-steady");
  ASSERT_EQ(c.code, 0u);
  EXPECT_TRUE(c.results[0].str == steady);
}

namespace {
// Asks the player to quit once a megabyte came, as the user closing the window would.
uint32_t QuitAfterAMegabyte(VmState *L) {
  vm_pushstring(L, "count");
  vm_gettable(L, 1);
  if (vm_tonumber(L, -1) > (1 << 20)) vm_setendrequested(L, 1);
  vm_pushnumber(L, 0);
  return 1;
}
}  // namespace

// A chunked body without end, to memory and to a file, stops at the quit request.
TEST(HttpClient, QuitEndsAnEndlessBody) {
  HttpPeer vm;
  if (!vm.server.ok()) GTEST_SKIP() << "no python peer";
  for (const std::string &file : {std::string(), vm.Path("endless.bin")}) {
    vm_settop(vm.L, 0);
    vm.PushCommand("DownloadFile");
    vm_pushstring(vm.L, vm.U("/endless-chunked").c_str());
    vm_newtable(vm.L);
    if (!file.empty()) {
      vm_pushstring(vm.L, "file");
      vm_pushstring(vm.L, file.c_str());
      vm_settable(vm.L, -3);
    }
    vm_pushcclosure(vm.L, QuitAfterAMegabyte, 0);
    EXPECT_EQ(vm_pcall(vm.L, 3, VM_MULTRET, 0), uint32_t(ERR_USERABORT)) << file;
    vm_setendrequested(vm.L, 0);
    vm_settop(vm.L, 0);
  }
}

// A file system that refuses the bytes: the download is a write error, never a count.
TEST(HttpClient, DownloadIntoAFullDeviceFails) {
  HttpPeer vm;
  if (!vm.server.ok()) GTEST_SKIP() << "no python peer";
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  // Small enough to sit in the file's buffer until the close, and large enough to fail a write.
  for (const char *path : {"/chunked", "/endless-chunked"}) {
    vm.One("SetNetworkTimeout", {2000});
    EXPECT_EQ(Download(vm, vm.U(path), {{"file", "/dev/full"}}).code, uint32_t(ERR_WRITEFILE)) << path;
    EXPECT_STREQ(G(vm.L)->err.argtext, "/dev/full") << path;
  }
}

// What a download's progress callback sees inside the real player: the body in pieces of
// 8192 bytes over HTTP (nginx) and 4096 over FTP (pyftpdlib), whatever the reads underneath,
// and a callback that answers True keeps exactly the pieces it was shown, in memory and in a
// file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/io/network/net_test_vm.h"
#include "tests/player/e2e_util.h"

namespace {

// stopat = stop; DebugPrint(StrLen(data), count) of DownloadFile(url, options, callback), the
// callback printing count and total of each call and answering count >= stopat. options: a
// table { file = path } when path is not empty, else Nil.
std::string ProgressScript(const std::string &url, const std::string &path, int stop) {
  std::string options = path.empty() ? "      LOADNIL   4 4\n"
                                     : "      NEWTABLE  4 0 1\n"
                                       "      SETTABLE  4 k6 k7\n";
  return ".func source=\"progress.qms\" maxstack=8\n"
         "  .k \"stopat\" " + std::to_string(stop) + " \"debugprint\" \"downloadfile\" \"" + url +
         "\" \"strlen\" \"file\" \"" + path + "\"\n"
         "      LOADK     0 k1       @1\n"
         "      SETGLOBAL 0 k0\n"
         "      CLOSURE   0 p0       @2\n"
         "      GETGLOBAL 1 k2       @3\n"
         "      GETGLOBAL 2 k3\n"
         "      LOADK     3 k4\n" +
         options +
         "      MOVE      5 0\n"
         "      CALL      2 4 3\n"
         "      GETGLOBAL 4 k5\n"
         "      MOVE      5 2\n"
         "      CALL      4 2 2\n"
         "      MOVE      2 4\n"
         "      CALL      1 3 1\n"
         "      RETURN    0 1\n"
         "  .func line=2 params=1 maxstack=5\n"
         "    .k \"debugprint\" \"count\" \"total\" \"stopat\"\n"
         "      GETGLOBAL 1 k0       @2\n"
         "      GETTABLE  2 0 k1\n"
         "      GETTABLE  3 0 k2\n"
         "      CALL      1 3 1\n"
         "      GETTABLE  1 0 k1\n"
         "      GETGLOBAL 2 k3\n"
         "      LT        1 1 2\n"
         "      JMP       no\n"
         "      LOADBOOL  3 1 1\n"
         "no:   LOADBOOL  3 0 0\n"
         "      RETURN    3 2\n"
         "  .end\n"
         ".end\n";
}

std::string Body(size_t n) {
  std::string bytes;
  for (size_t i = 0; i < n; i++) bytes += char(i * 7 % 251);
  return bytes;
}

struct Case {
  bool toFile;
  int stop;  // the callback answers True from this count on
  std::string out;
};

// Runs every case against the URL and checks what the script printed and, for a file, the
// bytes it kept.
void RunCases(const std::string &url, const std::string &body, const std::vector<Case> &cases) {
  for (const Case &c : cases) {
    PlayerDir d;
    std::string path = c.toFile ? d / "got.bin" : "";
    qmtools::WriteBytes(d / "progress.qma", AppletOf(ProgressScript(url, path, c.stop)));
    PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "progress.qma"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.out) << url << " file " << c.toFile << " stop " << c.stop;
    if (c.toFile) {
      // The file holds the count of the last line: the pieces the callback was shown.
      size_t kept = std::stoul(c.out.substr(c.out.rfind(' ', c.out.size() - 2) + 1));
      std::string got = ReadFileBytes(path);
      EXPECT_EQ(got.size(), kept) << url << " stop " << c.stop;
      EXPECT_TRUE(got == body.substr(0, kept)) << url << " stop " << c.stop;
    }
  }
}

}  // namespace

TEST(DownloadProgress, HttpPiecesOf8192) {
  TempDir dir;
  std::filesystem::create_directories(dir / "www");
  std::string body = Body(51200);
  WriteFileBytes(dir / "www/body.bin", body);
  NginxPeer nginx(dir.path());
  if (!nginx.port()) GTEST_SKIP() << "nginx missing or not started";
  std::string url = "http://127.0.0.1:" + std::to_string(nginx.port()) + "/body.bin";
  std::string all;
  for (int count : {8192, 16384, 24576, 32768, 40960, 49152, 51200}) all += std::to_string(count) + " 51200\n";
  RunCases(url, body,
           {
               {false, 1 << 30, all + "51200 51200\n"},
               {false, 1, "8192 51200\n8192 8192\n"},
               {true, 24576, "8192 51200\n16384 51200\n24576 51200\n0 24576\n"},
               {true, 51200, all + "0 51200\n"},
           });
}

TEST(DownloadProgress, FtpPiecesOf4096) {
  TempDir root;
  std::filesystem::create_directories(root / "pub");
  std::filesystem::create_directories(root / "home/ro");
  std::string body = Body(10000);
  WriteFileBytes(root / "pub/body.bin", body);
  Peer ftp({SystemPython(), PeersScript(), "ftp", root.path()});
  if (!ftp.ok()) GTEST_SKIP() << "no pyftpdlib";
  std::string url = "ftp://127.0.0.1:" + std::to_string(ftp.port()) + "/body.bin";
  RunCases(url, body,
           {
               {false, 1 << 30, "4096 0\n8192 0\n10000 0\n10000 10000\n"},
               {false, 1, "4096 0\n4096 4096\n"},
               {true, 1, "4096 0\n0 4096\n"},
           });
}

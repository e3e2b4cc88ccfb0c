// A player VM for the network library's tests, and the loopback peers they talk to: the
// python servers of peers.py, nginx and curl, each started in a private folder and stopped
// with the test.
#pragma once
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include <cstdio>
#include <string>

#include "platform/time.h"
#include "tests/io/dos/dos_test_vm.h"

// The system's python, which has the Debian packages (pyftpdlib) the peers need.
inline const char *SystemPython() { return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3"; }

// A child process whose first line of output is the port it listens on.
class Peer {
 public:
  explicit Peer(const std::vector<std::string> &argv) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      std::vector<char *> args;
      for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
    close(out[1]);
    FILE *f = fdopen(out[0], "r");
    char line[64] = {0};
    if (f && fgets(line, sizeof line, f)) port_ = std::atoi(line);
    if (f) fclose(f);
  }
  ~Peer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  int port() const { return port_; }
  bool ok() const { return port_ > 0; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

inline std::string PeersScript() { return std::string(QM_SOURCE_DIR) + "/tests/io/network/peers.py"; }

struct NetVm : DosVm {
  NetVm() { One("SetNetworkTimeout", {2000}); }
  std::string Url(int port, const std::string &path) const {
    return "http://127.0.0.1:" + std::to_string(port) + path;
  }
};

// nginx serving root/www on a free loopback port (root/www/moved answers 302 to /big.bin),
// stopped with the peer; port() is 0 when nginx is missing or did not start.
class NginxPeer {
 public:
  explicit NginxPeer(const std::string &root) : pidFile_(root + "/nginx.pid") {
    if (access("/usr/sbin/nginx", X_OK) != 0) return;
    std::string www = root + "/www", logs = root + "/logs";
    std::filesystem::create_directories(www);
    std::filesystem::create_directories(logs);
    // nginx's workers may run as another user: they must be able to read the files.
    for (const std::string &p : {root, www}) std::filesystem::permissions(p, std::filesystem::perms(0755));
    int port;
    {
      NetVm probe;  // a port from the kernel, freed again for nginx
      probe.One("CreateServer", {1, 0, "127.0.0.1"});
      port = int(probe.One("GetLocalPort", {1, 115}).num);
    }
    WriteFileBytes(root + "/nginx.conf",
                   "worker_processes 1; pid " + pidFile_ + "; error_log " + logs +
                       "/error.log;\nevents {}\nhttp { access_log off; client_body_temp_path " + logs +
                       "; server { listen 127.0.0.1:" + std::to_string(port) + "; root " + www +
                       "; location = /moved { return 302 /big.bin; } } }\n");
    server_ = std::make_unique<Peer>(std::vector<std::string>{
        "/bin/sh", "-c",
        "/usr/sbin/nginx -p " + root + " -c " + root + "/nginx.conf -g 'daemon off;' 2>/dev/null & echo " +
            std::to_string(port) + "; wait"});
    // Up once it answers; files put into www later are served as they are.
    for (int i = 0; i < 250 && !port_; i++, usleep(20000)) {
      std::string code = Shell("curl -s -o /dev/null -w '%{http_code}' http://127.0.0.1:" + std::to_string(port) + "/");
      if (!code.empty() && code != "000") port_ = port;
    }
  }
  ~NginxPeer() {
    if (server_) std::system(("kill $(cat " + pidFile_ + ") 2>/dev/null").c_str());
  }
  int port() const { return port_; }

 private:
  std::string pidFile_;
  std::unique_ptr<Peer> server_;
  int port_ = 0;
};

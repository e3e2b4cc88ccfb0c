// A player VM for the network library's tests, and the loopback peers they talk to: the
// python servers of peers.py, nginx and curl, each started in a private folder and stopped
// with the test.
#pragma once
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
